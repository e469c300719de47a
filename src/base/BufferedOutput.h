#pragma once
// BufferedOutput: text composed in memory (TextBuffer) and text on its way to
// an open file in large writes (BufferedOutput), for the files an instance
// writes (its DOT file, its QDIMACS and QCIR files). Writing reports nothing:
// a failed write leaves its error on the stream, and the file's commit
// (OutputFile in IOutils.h) reports it, as for any other failure of the file.

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>

#include "storage/CheckedArray.h"

// Growable text; its storage comes from the checked allocator, a failure
// named by the site and module given. The writers call it for every piece of
// every line: its calls are inline.
class TextBuffer {
public:
  TextBuffer(int site, const char *module) : bytes_(site, module) {}
  const char *data() const { return bytes_.data(); }
  std::size_t size() const { return used_; }
  void clear() { used_ = 0; }
  // Room for n more bytes; returns where they go (commit with advance).
  char *room(std::size_t n) {
    if (bytes_.size() - used_ < n) bytes_.growUninitialized(std::max(2 * bytes_.size(), used_ + n));
    return bytes_.data() + used_;
  }
  void advance(std::size_t n) { used_ += n; }
  void text(const char *s, std::size_t n) {
    if (n == 0) return;
    std::memcpy(room(n), s, n);
    used_ += n;
  }
  void text(const char *s) { text(s, std::strlen(s)); }
  void character(char ch) { *room(1) = ch, used_++; }
  // An integer in decimal, in the type it has (an int's digits are the
  // quicker to find); the room asked for holds its digits and sign, and one
  // byte to spare.
  template <typename Integer> void number(Integer value) {
    constexpr std::size_t bytes = std::numeric_limits<Integer>::digits10 + 3;
    char *out = room(bytes);
    used_ += static_cast<std::size_t>(std::to_chars(out, out + bytes, value).ptr - out);
  }

private:
  CheckedArray<char> bytes_;
  std::size_t used_ = 0;
};

// Writes n bytes to the file; a failure stays on the stream (see above).
void BufferedOutput_write(FILE *file, const char *s, std::size_t n);

// When a BufferedOutput writes out the text it holds.
enum class Pieces {
  // Before an append that would take it past FULL bytes; a text longer than
  // FULL goes out alone. No write is larger than FULL.
  AtMostFull,
  // At statementDone() once it holds FULL bytes: every write ends at the end
  // of a statement, however long the statement.
  WholeStatements,
};

// Text for an open file, written out in pieces of about FULL bytes, and
// whatever is left when the object goes. The rule for the pieces is a
// parameter of the type, so that each writer's calls inline to its own few
// instructions.
template <Pieces P> class BufferedOutput {
public:
  static constexpr std::size_t FULL = std::size_t{64} << 10;

  BufferedOutput(FILE *file, int site, const char *module) : file_(file), held_(site, module) {}
  ~BufferedOutput() { flush(); }
  BufferedOutput(const BufferedOutput &) = delete;
  BufferedOutput &operator=(const BufferedOutput &) = delete;

  void text(const char *s, std::size_t n) {
    if constexpr (P == Pieces::AtMostFull) {
      makeRoom(n);
      if (n > FULL) return BufferedOutput_write(file_, s, n);
    }
    held_.text(s, n);
  }
  void text(const char *s) { text(s, std::strlen(s)); }
  void character(char ch) {
    makeRoom(1);
    held_.character(ch);
  }
  template <typename Integer> void number(Integer value) {
    makeRoom(NUMBER_ROOM);
    held_.number(value);
  }
  // The end of a statement: writes out what is held once it reaches FULL
  // bytes.
  void statementDone() requires(P == Pieces::WholeStatements) {
    if (held_.size() >= FULL) flush();
  }
  void flush() {
    if (held_.size()) BufferedOutput_write(file_, held_.data(), held_.size());
    held_.clear();
  }

private:
  // The room an AtMostFull output makes for a number (more than the longest).
  static constexpr std::size_t NUMBER_ROOM = 24;

  // With AtMostFull, writes out what is held unless n more bytes fit.
  void makeRoom(std::size_t n) {
    if constexpr (P == Pieces::AtMostFull)
      if (held_.size() + n > FULL) flush();
  }

  FILE *file_;
  TextBuffer held_;
};

#pragma once
// BufferedOutput: text composed in memory (TextBuffer) and text on its way to
// an open file in large writes (BufferedOutput), for the files an instance
// writes (its DOT file, its QDIMACS and QCIR files). Writing reports nothing:
// a failed write leaves its error on the stream, and the file's commit
// (OutputFile in IOutils.h) reports it, as for any other failure of the file.

#include <cstddef>
#include <cstdio>

#include "storage/CheckedArray.h"

// Growable text; its storage comes from the checked allocator, a failure
// named by the site and module given.
class TextBuffer {
public:
  TextBuffer(int site, const char *module) : bytes_(site, module) {}
  const char *data() const { return bytes_.data(); }
  std::size_t size() const { return used_; }
  void clear() { used_ = 0; }
  // Room for n more bytes; returns where they go (commit with advance).
  char *room(std::size_t n);
  void advance(std::size_t n) { used_ += n; }
  void text(const char *s, std::size_t n);
  void text(const char *s);
  void character(char ch) { *room(1) = ch, used_++; }
  void number(long long value);

private:
  CheckedArray<char> bytes_;
  std::size_t used_ = 0;
};

// Text for an open file, written out in pieces of about FULL bytes, and
// whatever is left when the object goes.
class BufferedOutput {
public:
  static constexpr std::size_t FULL = std::size_t{64} << 10;
  // When the held text is written out.
  enum class Pieces {
    // Before an append that would take it past FULL bytes; a text longer
    // than FULL goes out alone. No write is larger than FULL.
    AtMostFull,
    // At statementDone() once it holds FULL bytes: every write ends at the
    // end of a statement, however long the statement.
    WholeStatements,
  };

  BufferedOutput(FILE *file, Pieces pieces, int site, const char *module)
      : file_(file), pieces_(pieces), held_(site, module) {}
  ~BufferedOutput() { flush(); }
  BufferedOutput(const BufferedOutput &) = delete;
  BufferedOutput &operator=(const BufferedOutput &) = delete;

  void text(const char *s, std::size_t n);
  void text(const char *s);
  void character(char ch);
  void number(long long value);
  // The end of a statement (WholeStatements): writes out what is held once
  // it reaches FULL bytes.
  void statementDone() {
    if (held_.size() >= FULL) flush();
  }
  void flush();

private:
  // With AtMostFull, writes out what is held unless n more bytes fit.
  void makeRoom(std::size_t n) {
    if (pieces_ == Pieces::AtMostFull && held_.size() + n > FULL) flush();
  }

  FILE *file_;
  Pieces pieces_;
  TextBuffer held_;
};

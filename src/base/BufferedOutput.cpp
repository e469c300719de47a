// BufferedOutput: the growable text and the writes to the file.

#include "base/BufferedOutput.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {
// The longest number written: a long long in decimal with its sign.
constexpr std::size_t NUMBER_BYTES = 20;
// The room an AtMostFull output makes for a number.
constexpr std::size_t NUMBER_ROOM = 24;
} // namespace

char *TextBuffer::room(std::size_t n) {
  if (bytes_.size() - used_ < n) bytes_.growUninitialized(std::max(2 * bytes_.size(), used_ + n));
  return bytes_.data() + used_;
}

void TextBuffer::text(const char *s, std::size_t n) {
  if (n == 0) return;
  std::memcpy(room(n), s, n);
  used_ += n;
}

void TextBuffer::text(const char *s) { text(s, std::strlen(s)); }

void TextBuffer::number(long long value) {
  char *out = room(NUMBER_BYTES);
  used_ += static_cast<std::size_t>(std::to_chars(out, out + NUMBER_BYTES, value).ptr - out);
}

void BufferedOutput::text(const char *s, std::size_t n) {
  makeRoom(n);
  if (pieces_ == Pieces::AtMostFull && n > FULL) {
    std::fwrite(s, 1, n, file_);
    return;
  }
  held_.text(s, n);
}

void BufferedOutput::text(const char *s) { text(s, std::strlen(s)); }

void BufferedOutput::character(char ch) {
  makeRoom(1);
  held_.character(ch);
}

void BufferedOutput::number(long long value) {
  makeRoom(NUMBER_ROOM);
  held_.number(value);
}

void BufferedOutput::flush() {
  if (held_.size()) std::fwrite(held_.data(), 1, held_.size(), file_);
  held_.clear();
}

// Progress: the rewritten line on a terminal's standard error.

#include "batch/Progress.h"

#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr double REDRAW_SECONDS = 0.1;

bool sameTerminal(int a, int b) {
  struct stat sa, sb;
  return isatty(a) && isatty(b) && fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_rdev == sb.st_rdev;
}
} // namespace

double monotonicSeconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

Progress::Progress(bool directoryMode)
    : active_(directoryMode && isatty(STDERR_FILENO)), sharesTerminal_(sameTerminal(STDOUT_FILENO, STDERR_FILENO)),
      atLineStart_(!sharesTerminal_), // the banner has no line break
      started_(monotonicSeconds()) {}

void Progress::show(long done, long found, long ok, long timeouts, bool force) {
  if (!active_ || !atLineStart_) return;
  double now = monotonicSeconds();
  if (!force && shown_ && now - drawn_ < REDRAW_SECONDS) return;
  long seconds = static_cast<long>(now - started_);
  // Carriage return, the line, and "erase to the end of the line".
  std::fprintf(stderr, "\rtarnu: %ld of %ld instances done, %ld ok, %ld timeouts, %ld:%02ld:%02ld\033[K", done, found,
               ok, timeouts, seconds / 3600, seconds / 60 % 60, seconds % 60);
  shown_ = true;
  drawn_ = now;
}

void Progress::clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  shown_ = false;
}

void Progress::beforeOutput() {
  if (sharesTerminal_) clear();
}

void Progress::afterOutput(char last) {
  if (sharesTerminal_) atLineStart_ = last == '\n';
}

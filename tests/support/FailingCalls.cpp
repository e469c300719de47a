// A library preloaded into the program under test (LD_PRELOAD) that makes
// chosen calls of fork and pipe fail, as a process limit or a table of
// descriptors that is full would: FAIL_FORK=3,5 fails the third and the
// fifth fork of the process with EAGAIN, FAIL_PIPE=2 its second pipe with
// EMFILE. The counts are the process's own (a child starts from its parent's).

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {
bool chosen(const char *variable, int call) {
  const char *list = std::getenv(variable);
  for (const char *p = list; p && *p;) {
    char *end;
    long n = std::strtol(p, &end, 10);
    if (end == p) break;
    if (n == call) return true;
    p = *end == ',' ? end + 1 : end;
  }
  return false;
}

int forks = 0, pipes = 0;
} // namespace

extern "C" pid_t fork() {
  if (chosen("FAIL_FORK", ++forks)) {
    errno = EAGAIN;
    return -1;
  }
  static auto real = reinterpret_cast<pid_t (*)()>(dlsym(RTLD_NEXT, "fork"));
  return real();
}

extern "C" int pipe(int ends[2]) {
  if (chosen("FAIL_PIPE", ++pipes)) {
    errno = EMFILE;
    return -1;
  }
  static auto real = reinterpret_cast<int (*)(int *)>(dlsym(RTLD_NEXT, "pipe"));
  return real(ends);
}

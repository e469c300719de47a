// StandardOutput: checked writes, and the end of a run whose output failed.

#include "base/StandardOutput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "base/IOutils.h"
#include "base/OutputTexts.h"

namespace {
// Whether SIGPIPE had its default action at start: a process-wide fact that
// the instance children restore, recorded once.
bool pipeEndsProcess = false;
} // namespace

void StandardOutput_init() {
  for (int fd = 0; fd <= 2; fd++)
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      int taken = open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
      if (taken >= 0 && taken != fd) {
        dup2(taken, fd);
        close(taken);
      }
    }
  struct sigaction old = {};
  if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
    pipeEndsProcess = true;
    std::signal(SIGPIPE, SIG_IGN);
  }
}

void StandardOutput_restoreInChild() {
  if (pipeEndsProcess) std::signal(SIGPIPE, SIG_DFL);
}

int StandardOutput_flush() { return IOutils_flushStream(stdout); }

void StandardOutput_check() {
  if (int error = StandardOutput_flush()) StandardOutput_fail(error);
}

void StandardOutput_finish() {
  if (int error = IOutils_closeStream(stdout)) StandardOutput_fail(error);
}

void StandardOutput_fail(int error) {
  if (error == EPIPE && pipeEndsProcess) {
    std::signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
  }
  std::fprintf(stderr, DIAGNOSTIC_STANDARD_OUTPUT, std::strerror(error));
  std::_Exit(255);
}

// InstanceChild: the instance's side of the fork.

#include "batch/InstanceChild.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

#include "base/OutputTexts.h"
#include "base/RunStatus.h"
#include "base/StandardOutput.h"
#include "qdimacs/Qdimacs.h"

namespace {
// The child's last step, its output flushed. The exit handlers and library
// destructors would only tidy a process about to vanish, at a cost above
// that of a small instance; the sanitizer builds run them (the leak check
// is one).
[[noreturn]] void leaveChild(int code) {
  std::fflush(stdout);
#if defined(__SANITIZE_ADDRESS__)
  std::exit(code);
#else
  std::_Exit(code);
#endif
}

// Dies with the parent: a parent killed however it is (SIGKILL included)
// leaves no instance running.
void tieToParent(pid_t parent) {
#if defined(__linux__)
  prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
  // The parent may have died before the request took effect.
  if (getppid() != parent) _exit(EXIT_ERROR & 0xff);
}

// The signal actions of a plain process: the parent's handlers go (a handler
// stays only where the parent inherited "ignore"), and no signal is blocked.
void plainSignals(const sigset_t *mask) {
  for (int signal : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action = {};
    if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) std::signal(signal, SIG_DFL);
  }
  StandardOutput_restoreInChild();
  sigprocmask(SIG_SETMASK, mask, nullptr);
}

// Standard output becomes the pipe, and the folder of the file (when it is
// a descriptor) descriptor 3; every other descriptor above standard error
// (the parent's pipes, its signal pipe, whatever it inherited) is closed.
// Returns the folder's descriptor.
int keepOnlyOwnDescriptors(int output, int folder) {
  if (output != STDOUT_FILENO) {
    dup2(output, STDOUT_FILENO);
    close(output);
  }
  constexpr int FOLDER = STDERR_FILENO + 1;
  if (folder >= 0 && folder != FOLDER) dup2(folder, FOLDER);
  const int own = folder >= 0 ? FOLDER : folder, firstClosed = folder >= 0 ? FOLDER + 1 : FOLDER;
#if defined(__linux__) && defined(SYS_close_range)
  if (syscall(SYS_close_range, static_cast<unsigned>(firstClosed), ~0U, 0U) == 0) return own;
#endif
  // Without close_range: the open descriptors as the system lists them.
  if (DIR *fds = opendir("/dev/fd")) {
    int listing = dirfd(fds);
    while (const dirent *entry = readdir(fds)) {
      int fd = std::atoi(entry->d_name);
      if (fd >= firstClosed && fd != listing) close(fd);
    }
    closedir(fds);
  }
  return own;
}

void limitMemory(long megabytes) {
  if (megabytes <= 0) return;
  rlimit limit;
  getrlimit(RLIMIT_AS, &limit);
  rlim_t bytes = static_cast<rlim_t>(megabytes) << 20;
  if (limit.rlim_max == RLIM_INFINITY || bytes < limit.rlim_max) limit.rlim_max = bytes;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_AS, &limit);
}
} // namespace

void InstanceChild_run(const ChildSetup &setup) {
  tieToParent(setup.parent);
  plainSignals(setup.signalMask);
  const int folder = keepOnlyOwnDescriptors(setup.output, setup.folder);
  limitMemory(setup.memoutMegabytes);
  VEXT_setStatus(STATUS_INITIAL);
  std::fputs(OutputTexts_head(setup.number, setup.path).c_str(), stdout);
  std::fflush(stdout);
  std::clock_t start = std::clock();
  QdimacsReading reading = Qdimacs_parseFile(setup.path, setup.procedures->features, folder, setup.name);
  if (!reading.formula) {
    if (!reading.error.empty()) std::printf("%s%s%s", PARSE_ERROR_START.data(), reading.error.c_str(), MARK_END.data());
    leaveChild(reading.error.empty() ? CHILD_NO_PROBLEM_LINE : EXIT_PARSE_ERROR);
  }
  int result = setup.procedures->process(reading.formula, reading.features ? &*reading.features : nullptr);
  unsigned long ticks = static_cast<unsigned long>(std::clock()) - static_cast<unsigned long>(start);
  std::printf("%s%.1f%s", OK_MARK_START.data(), static_cast<double>(ticks) / CLOCKS_PER_SEC, OK_MARK_END.data());
  std::fflush(stdout);
  std::printf("\n");
  leaveChild(result);
}

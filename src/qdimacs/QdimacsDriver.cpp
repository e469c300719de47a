// Instance driver: one child process per instance, and the depth-first
// directory walk. With one job the child writes straight to standard output,
// one after the other; with several, each child writes into a pipe that the
// parent drains, and the parent prints the outputs whole in the walk's
// order. A directory's entries are read in one go and the directory closed
// before anything below it is visited, so the depth of a tree never costs
// open descriptors. The parent tallies how
// the instances ended and what the walk skipped, for the line on standard
// error at the end of the run.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "qdimacs/Qdimacs.h"
#include "run/IOutils.h"
#include "run/RunStatus.h"
#include "storage/AbnormalExit.h"
#include "storage/CheckedArray.h"

int instanceNumber = 0;

namespace {
constexpr const char *MODULE = "Qdimacs";
constexpr int SITE_TABLE = 448;
constexpr int SITE_PATH = 456;
constexpr int SITE_WAKEUP = 470;
// The exit code of a child whose file has no problem line. The parent turns
// it into the parse error's code (what it returns is as ever) and counts it
// apart from the parse errors.
constexpr int CHILD_NO_PROBLEM_LINE = 3;

struct Tally {
  long instances = 0, ok = 0, parseErrors = 0, noProblemLine = 0, abnormalExits = 0, timeouts = 0, crashes = 0;
  long links = 0, specialFiles = 0, unreadableDirectories = 0;
} tally;

struct Instance {
  char *path;
  int size;
};

enum class EntryKind : unsigned char { Directory, File, Link, Special };

struct Entry {
  char *name;
  EntryKind kind;
};

char *copyText(const char *a, const char *b = "", const char *c = "") {
  std::size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
  auto *text = static_cast<char *>(checkedMalloc(la + lb + lc + 1, SITE_PATH, MODULE));
  std::memcpy(text, a, la);
  std::memcpy(text + la, b, lb);
  std::memcpy(text + la + lb, c, lc + 1);
  return text;
}

EntryKind kindOf(unsigned char type, const char *fullPath) {
  if (type == DT_DIR) return EntryKind::Directory;
  if (type == DT_REG) return EntryKind::File;
  if (type == DT_LNK) return EntryKind::Link;
  if (type != DT_UNKNOWN) return EntryKind::Special;
  // File systems that report no type: ask, without following a link.
  struct stat st;
  if (lstat(fullPath, &st) != 0) return EntryKind::Special;
  if (S_ISDIR(st.st_mode)) return EntryKind::Directory;
  if (S_ISREG(st.st_mode)) return EntryKind::File;
  return S_ISLNK(st.st_mode) ? EntryKind::Link : EntryKind::Special;
}

int instanceSizeComparison(const Instance &a, const Instance &b) {
  return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
}

// Settings of this run's instance children, and the pipe by which the
// SIGCHLD handler wakes the parent (only when a limit or several jobs need
// the parent to wait for more than one thing).
BatchSettings batch;
int wakeup[2] = {-1, -1};

void noteChildEnded(int) {
  int saved = errno;
  [[maybe_unused]] ssize_t n = write(wakeup[1], "", 1);
  errno = saved;
}

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// An instance in the walk's order: running, or ended and waiting for the
// instances before it to be printed.
struct Job {
  pid_t pid = -1;  // -1: no child could be started
  int output = -1; // read end of the child's output pipe while it is open
  bool reaped = false;
  int status = 0;
  double deadline = 0; // when SIGUSR1 is due, then SIGKILL; 0: none
  bool signalled = false;
  std::string text; // output not yet printed
};

std::deque<Job> jobs; // in the walk's order
int running = 0;      // children not yet reaped
int lastOutcome = EXIT_ERROR;

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

[[noreturn]] void runInstanceChild(const char *path, InstanceCallback callback, int output) {
  if (wakeup[0] >= 0) {
    std::signal(SIGCHLD, SIG_DFL);
    close(wakeup[0]);
    close(wakeup[1]);
  }
  for (const Job &job : jobs)
    if (job.output >= 0) close(job.output);
  if (output >= 0) {
    dup2(output, STDOUT_FILENO);
    close(output);
  }
  if (batch.memoutMegabytes > 0) {
    rlimit limit;
    getrlimit(RLIMIT_AS, &limit);
    rlim_t bytes = static_cast<rlim_t>(batch.memoutMegabytes) << 20;
    if (limit.rlim_max == RLIM_INFINITY || bytes < limit.rlim_max) limit.rlim_max = bytes;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_AS, &limit);
  }
  VEXT_setStatus(STATUS_INITIAL);
  std::printf("\n%i.Processing \"%s\"...  ", instanceNumber, path);
  std::fflush(stdout);
  std::clock_t start = std::clock();
  QbFormula *formula = Qdimacs_parseFile(path);
  if (!formula) {
    const char *reason = Qdimacs_getParseError();
    if (reason) std::printf("[PARSE ERROR: %s]", reason);
    leaveChild(reason ? EXIT_PARSE_ERROR : CHILD_NO_PROBLEM_LINE);
  }
  int result = callback(formula);
  unsigned long ticks = static_cast<unsigned long>(std::clock()) - static_cast<unsigned long>(start);
  std::printf("[OK, %.1fs]", static_cast<double>(ticks) / CLOCKS_PER_SEC);
  std::fflush(stdout);
  std::printf("\n");
  leaveChild(result);
}

// The outcome of a child from its wait status, as the driver returns it;
// the mark of a killed child is printed, and the ending tallied. A child
// that outlived its time is a timeout, also when SIGKILL had to end it.
int decode(int status, bool signalled) {
  if (WIFSIGNALED(status)) {
    bool timeout = WTERMSIG(status) == SIGUSR1 || (signalled && WTERMSIG(status) == SIGKILL);
    std::printf(timeout ? "[TIMEOUT]" : "[CRASH]");
    std::fflush(stdout);
    (timeout ? tally.timeouts : tally.crashes)++;
    return timeout ? EXIT_TIMEOUT : EXIT_CRASH;
  }
  int code = WEXITSTATUS(status);
  if (code == EXIT_INSTANCE_DONE)
    tally.ok++;
  else if (code == (EXIT_PARSE_ERROR & 0xff))
    tally.parseErrors++;
  else if (code == CHILD_NO_PROBLEM_LINE)
    tally.noProblemLine++, code = EXIT_PARSE_ERROR & 0xff;
  else
    tally.abnormalExits++;
  return code;
}

// Prints the ended instances at the head of the walk's order, and what the
// first running one wrote so far.
void printReady() {
  while (!jobs.empty()) {
    Job &job = jobs.front();
    if (!job.text.empty()) {
      std::fwrite(job.text.data(), 1, job.text.size(), stdout);
      job.text.clear();
      std::fflush(stdout);
    }
    if (job.pid >= 0 && !(job.reaped && job.output < 0)) return;
    if (job.pid >= 0) lastOutcome = decode(job.status, job.signalled);
    jobs.pop_front();
  }
}

// Waits until something happens: a child writes or ends, or a time limit is
// due; then takes it in. One job without a limit: a plain wait.
void awaitEvents() {
  if (wakeup[0] < 0) {
    Job &job = jobs.front();
    pid_t waited;
    do {
      waited = waitpid(job.pid, &job.status, 0);
    } while (waited < 0 && errno == EINTR);
    job.reaped = true;
    running--;
    if (waited != job.pid) job.status = W_EXITCODE(EXIT_ERROR & 0xff, 0);
    return;
  }
  CheckedArray<pollfd> watched(SITE_TABLE, MODULE);
  watched.push(pollfd{wakeup[0], POLLIN, 0});
  double due = 0;
  for (const Job &job : jobs) {
    if (job.output >= 0) watched.push(pollfd{job.output, POLLIN, 0});
    if (!job.reaped && job.deadline > 0 && (due == 0 || job.deadline < due)) due = job.deadline;
  }
  int wait = -1;
  if (due > 0) wait = static_cast<int>(std::clamp((due - now()) * 1000 + 1, 0.0, 1e6));
  if (poll(watched.data(), watched.size(), wait) > 0) {
    char drained[64];
    if (watched[0].revents)
      while (read(wakeup[0], drained, sizeof drained) > 0) {
      }
    for (std::size_t i = 1; i < watched.size(); i++) {
      if (!watched[i].revents) continue;
      for (Job &job : jobs)
        if (job.output == watched[i].fd) {
          char block[1 << 16];
          ssize_t got = read(job.output, block, sizeof block);
          if (got > 0) {
            job.text.append(block, static_cast<std::size_t>(got));
          } else if (got == 0 || errno != EINTR) {
            close(job.output);
            job.output = -1;
          }
          break;
        }
    }
  }
  int status;
  pid_t ended;
  while ((ended = waitpid(-1, &status, WNOHANG)) > 0)
    for (Job &job : jobs)
      if (job.pid == ended) {
        job.reaped = true;
        job.status = status;
        running--;
      }
  double time = now();
  for (Job &job : jobs) {
    if (job.reaped || job.deadline == 0 || time < job.deadline) continue;
    kill(job.pid, job.signalled ? SIGKILL : SIGUSR1);
    // SIGKILL follows a second later if SIGUSR1 did not end it.
    job.deadline = job.signalled ? 0 : time + 1;
    job.signalled = true;
  }
}

// Starts the instance's child once fewer than the allowed number run; a
// fork that fails for lack of processes waits for a running child first.
void startInstance(const char *path, InstanceCallback callback) {
  while (running >= batch.jobs) {
    awaitEvents();
    printReady();
  }
  instanceNumber++;
  tally.instances++;
  Job &job = jobs.emplace_back();
  std::fflush(stdout);
  for (;;) {
    int pipeEnds[2] = {-1, -1};
    bool piped = batch.jobs == 1 || pipe(pipeEnds) == 0;
    pid_t child = piped ? fork() : -1;
    if (child == 0) runInstanceChild(path, callback, pipeEnds[1]);
    int error = errno;
    if (pipeEnds[1] >= 0) close(pipeEnds[1]);
    if (child > 0) {
      job.pid = child;
      job.output = pipeEnds[0];
      if (batch.timeoutSeconds > 0) job.deadline = now() + batch.timeoutSeconds;
      running++;
      return;
    }
    if (pipeEnds[0] >= 0) close(pipeEnds[0]);
    if ((error == EAGAIN || error == EMFILE || error == ENFILE) && running > 0) {
      awaitEvents();
      continue;
    }
    // Counted as run (in a directory) and printed as nothing, as ever; but
    // not in silence.
    std::fprintf(stderr, "tarnu: %s: cannot start a process: %s\n", path, std::strerror(error));
    tally.abnormalExits++;
    return;
  }
}

// Waits for every instance started and prints them all.
void finishInstances() {
  printReady();
  while (!jobs.empty()) {
    awaitEvents();
    printReady();
  }
}

int processQbfInstance(const char *path, InstanceCallback callback) {
  lastOutcome = EXIT_ERROR;
  startInstance(path, callback);
  finishInstances();
  return lastOutcome;
}

// The directory's entries in listing order, or false if it cannot be opened.
bool listDirectory(const char *dirPath, CheckedArray<Entry> &entries) {
  DIR *dir = opendir(dirPath);
  if (!dir) {
    tally.unreadableDirectories++;
    return false;
  }
  const char *separator = dirPath[0] && dirPath[std::strlen(dirPath) - 1] == '/' ? "" : "/";
  while (const dirent *entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    char *full = copyText(dirPath, separator, entry->d_name);
    EntryKind kind = kindOf(entry->d_type, full);
    std::free(full);
    if (kind == EntryKind::Link || kind == EntryKind::Special) {
      (kind == EntryKind::Link ? tally.links : tally.specialFiles)++;
      continue;
    }
    entries.push(Entry{copyText(entry->d_name), kind});
  }
  closedir(dir);
  return true;
}

int processAllQbfInstancesInDir(const char *dirPath, InstanceCallback callback) {
  CheckedArray<Entry> entries(SITE_TABLE, MODULE);
  if (!listDirectory(dirPath, entries)) return 0;
  const char *separator = dirPath[0] && dirPath[std::strlen(dirPath) - 1] == '/' ? "" : "/";
  CheckedArray<Instance> table(SITE_TABLE, MODULE);
  int count = 0;
  for (std::size_t i = 0; i < entries.size(); i++) {
    const Entry &entry = entries[i];
    char *full = copyText(dirPath, separator, entry.name);
    if (entry.kind == EntryKind::Directory) {
      count += processAllQbfInstancesInDir(full, callback);
      std::free(full);
    } else if (IOutils_hasDimacsExtension(entry.name)) {
      table.push(Instance{full, Qdimacs_probeInstanceSize(full)});
    } else {
      std::free(full);
    }
    std::free(entry.name);
  }
  std::stable_sort(table.data(), table.data() + table.size(),
                   [](const Instance &a, const Instance &b) { return instanceSizeComparison(a, b) < 0; });
  for (std::size_t i = 0; i < table.size(); i++) {
    startInstance(table[i].path, callback);
    count++;
  }
  for (std::size_t i = 0; i < table.size(); i++) std::free(table[i].path);
  return count;
}
} // namespace

int Qdimacs_processInstancesInPath(const char *path, InstanceCallback callback, const BatchSettings &settings) {
  batch = settings;
  if (VEXT_getMode() != MODE_DIRECTORY) batch.jobs = 1;
  if (batch.jobs > 1 || batch.timeoutSeconds > 0) {
    // Several children, or a clock: the parent waits in poll, which the
    // SIGCHLD handler wakes through this pipe.
    if (pipe(wakeup) != 0) abnormalExit(std::strerror(errno), SITE_WAKEUP, MODULE);
    for (int end : wakeup) fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = noteChildEnded;
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &action, nullptr);
  }
  if (batch.jobs > 1) {
    // A pipe per running child: room for as many descriptors as allowed.
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
      files.rlim_cur = files.rlim_max;
      setrlimit(RLIMIT_NOFILE, &files);
    }
  }
  switch (VEXT_getMode()) {
  case MODE_FILE: return processQbfInstance(path, callback);
  case MODE_DIRECTORY: {
    int count = processAllQbfInstancesInDir(path, callback);
    finishInstances();
    return count;
  }
  default: return EXIT_IO_ERROR;
  }
}

void Qdimacs_reportToStandardError() {
  if (VEXT_getMode() == MODE_FILE && tally.ok == tally.instances) return;
  if (VEXT_getMode() != MODE_FILE && VEXT_getMode() != MODE_DIRECTORY) return;
  std::fprintf(stderr,
               "tarnu: %ld instances: %ld ok, %ld parse errors, %ld without a problem line, %ld abnormal exits, %ld "
               "timeouts, %ld crashes; skipped: %ld symbolic links, %ld special files, %ld unreadable directories\n",
               tally.instances, tally.ok, tally.parseErrors, tally.noProblemLine, tally.abnormalExits, tally.timeouts,
               tally.crashes, tally.links, tally.specialFiles, tally.unreadableDirectories);
}

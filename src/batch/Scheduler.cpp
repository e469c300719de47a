// Scheduler: starting children, the event loop, printing in order, the
// tally, and the end of a run that cannot go on.

#include "batch/Scheduler.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/OutputTexts.h"
#include "base/RunStatus.h"
#include "base/StandardOutput.h"
#include "batch/InstanceChild.h"

namespace {
constexpr const char *MODULE = "Qdimacs";
constexpr int SITE_TABLE = 448;
constexpr std::size_t READ_BYTES = std::size_t{1} << 16;
// How soon the loop looks again for a child whose output has ended but whose
// end the system has not yet reported (only without a signal pipe).
constexpr int REAP_RETRY_MS = 10;
constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// The write end of the signal pipe, for the handler: a signal handler can
// reach no object, so this one descriptor is the process's.
int signalPipe = -1;

void noteSignal(int signal) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] ssize_t n = write(signalPipe, &byte, 1);
  errno = saved;
}

// A signal that ends the run is taken over only where its action is the
// default one (an inherited "ignore" stays).
void catchSignal(int signal, bool onlyIfDefault) {
  struct sigaction old = {};
  if (onlyIfDefault && (sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL)) return;
  struct sigaction action = {};
  action.sa_handler = noteSignal;
  action.sa_flags = SA_RESTART | (signal == SIGCHLD ? SA_NOCLDSTOP : 0);
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

// A child that outlived its time is a timeout, also when SIGKILL had to end it.
bool timedOut(int status, bool signalled) {
  return WIFSIGNALED(status) && (WTERMSIG(status) == SIGUSR1 || (signalled && WTERMSIG(status) == SIGKILL));
}
} // namespace

Scheduler::Scheduler(const BatchSettings &settings, const InstanceProcedures &procedures, bool directoryMode)
    : settings_(settings), procedures_(procedures), directoryMode_(directoryMode), lastOutcome_(EXIT_ERROR),
      progress_(directoryMode), watched_(SITE_TABLE, MODULE), watchedJobs_(SITE_TABLE, MODULE) {
  if (!directoryMode_) settings_.jobs = 1;
  // A pipe, a socket or a terminal that says it is writable takes PIPE_BUF
  // bytes without blocking; a file takes what it is given.
  struct stat out;
  writeBytes_ = fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode) ? SIZE_MAX : PIPE_BUF;
  if (pipe(signals_) == 0) {
    for (int end : signals_) fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
    signalPipe = signals_[1];
    catchSignal(SIGCHLD, false);
    for (int signal : ENDING_SIGNALS) catchSignal(signal, true);
  }
  if (settings_.jobs > 1) {
    // A pipe per running child: room for as many descriptors as allowed.
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
      files.rlim_cur = files.rlim_max;
      setrlimit(RLIMIT_NOFILE, &files);
    }
  }
}

Scheduler::~Scheduler() {
  killChildren();
  for (Job &job : jobs_)
    if (job.output >= 0) close(job.output);
  if (signals_[0] >= 0) {
    std::signal(SIGCHLD, SIG_DFL);
    for (int signal : ENDING_SIGNALS) {
      struct sigaction action = {};
      if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == noteSignal) std::signal(signal, SIG_DFL);
    }
    signalPipe = -1;
    close(signals_[0]);
    close(signals_[1]);
  }
  progress_.clear();
}

Scheduler::Job &Scheduler::enqueue(const char *path) {
  Job &job = jobs_.emplace_back();
  job.number = nextNumber_++;
  job.path = path;
  tally_.instances++;
  return job;
}

bool Scheduler::takeNext() {
  if (settings_.takes(nextNumber_)) {
    if (settings_.shards > 1) found_++;
    return true;
  }
  nextNumber_++;
  return false;
}

void Scheduler::submit(const char *path, double spentSeconds, int folder, std::size_t nameAt) {
  // A place is free once a child has ended and its pipe is closed: no more
  // than jobs children ever hold descriptors.
  while (holders() >= settings_.jobs) step(true);
  Job &job = enqueue(path);
  if (settings_.timeoutSeconds > 0) job.budget = std::max(settings_.timeoutSeconds - spentSeconds, 0.001);
  job.folder = folder;
  job.nameAt = nameAt;
  start(job);
}

void Scheduler::submitTimedOut(const char *path) {
  Job &job = enqueue(path);
  job.text = OutputTexts_head(job.number, path).append(TIMEOUT_MARK);
  job.timedOutUnrun = true;
  printReady();
}

void Scheduler::takeInEvents() { step(false); }

void Scheduler::finish() {
  printReady();
  while (!jobs_.empty() || written_ < unwritten_.size()) step(true);
  progress_.show(done_, found_, tally_.ok, tally_.timeouts, true);
}

// Starts the job's child. A failure while other children hold descriptors
// or processes is waited out (one of them giving its own back frees what was
// missing); with none held, it is the instance's alone.
void Scheduler::start(Job &job) {
  job.starting = true;
  for (;;) {
    int error = 0;
    launch(job, error);
    if (job.pid > 0) break;
    if (awaitRelease()) continue;
    job.starting = false;
    sayOnStandardError(DIAGNOSTIC_NOT_STARTED, job.path.c_str(), error);
    tally_.abnormalExits++;
    printReady();
    return;
  }
  job.starting = false;
  job.folder = -1;
}

void Scheduler::launch(Job &job, int &error) {
  assert(job.starting && job.pid < 0 && job.output < 0 && "a job is started once");
  int ends[2];
  if (pipe(ends) != 0) {
    error = errno;
    return;
  }
  // Nothing unprinted may be inherited, and no signal handled between the
  // fork and the child's own actions.
  if (int failed = StandardOutput_flush()) abandon(0, failed);
  sigset_t all, before;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &before);
  pid_t parent = getpid();
  pid_t child = fork();
  if (child == 0)
    InstanceChild_run(ChildSetup{job.path.c_str(), job.folder, job.path.c_str() + job.nameAt, job.number, ends[1],
                                 parent, settings_.memoutMegabytes, &procedures_, &before});
  error = errno;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  close(ends[1]);
  if (child < 0) {
    close(ends[0]);
    return;
  }
  job.pid = child;
  job.output = ends[0];
  if (job.budget > 0) job.deadline = monotonicSeconds() + job.budget;
  running_++;
}

// The children that still hold a process or the read end of a pipe.
int Scheduler::holders() const {
  int n = 0;
  for (const Job &job : jobs_) n += (job.pid > 0 && !job.reaped) || job.output >= 0;
  return n;
}

bool Scheduler::awaitRelease() {
  int before = holders();
  assert(before >= running_ && "a running child holds its process");
  if (before == 0) return false;
  while (holders() >= before) step(true);
  return true;
}

// The one turn of the loop: waits (or only looks) for output, a child's end,
// a signal or a time limit, and takes in all that happened.
void Scheduler::step(bool wait) {
  watched_.clear();
  watchedJobs_.clear();
  if (signals_[0] >= 0) watch(signals_[0], nullptr);
  for (Job &job : jobs_)
    if (job.output >= 0) watch(job.output, &job);
  const bool writing = written_ < unwritten_.size();
  if (writing) {
    watched_.push(pollfd{STDOUT_FILENO, POLLOUT, 0});
    watchedJobs_.push(nullptr);
  }
  if (poll(watched_.data(), watched_.size(), waitMilliseconds(wait)) > 0)
    for (std::size_t i = 0; i < watched_.size(); i++) {
      if (!watched_[i].revents) continue;
      if (Job *job = watchedJobs_[i])
        drain(*job);
      else if (watched_[i].fd == STDOUT_FILENO)
        writeOut();
      else
        takeSignals();
    }
  reap();
  enforceDeadlines();
  printReady();
  progress_.show(done_, found_, tally_.ok, tally_.timeouts);
}

void Scheduler::watch(int fd, Job *job) {
  watched_.push(pollfd{fd, POLLIN, 0});
  watchedJobs_.push(job);
}

// SIGCHLD only says that the loop is to reap; any other signal ends the run.
void Scheduler::takeSignals() {
  unsigned char caught[64];
  for (ssize_t got; (got = read(signals_[0], caught, sizeof caught)) > 0;)
    for (ssize_t i = 0; i < got; i++)
      if (caught[i] != SIGCHLD) abandon(caught[i], 0);
}

int Scheduler::waitMilliseconds(bool wait) const {
  if (!wait) return 0;
  double due = 0;
  bool unreaped = false;
  for (const Job &job : jobs_) {
    if (job.pid > 0 && !job.reaped && job.deadline > 0 && (due == 0 || job.deadline < due)) due = job.deadline;
    unreaped = unreaped || (job.pid > 0 && !job.reaped && job.output < 0);
  }
  int ms = -1;
  if (due > 0) ms = static_cast<int>(std::clamp((due - monotonicSeconds()) * 1000 + 1, 0.0, 1e6));
  if (progress_.active() && (ms < 0 || ms > 1000)) ms = 1000;
  if (unreaped && signals_[0] < 0 && (ms < 0 || ms > REAP_RETRY_MS)) ms = REAP_RETRY_MS;
  return ms;
}

void Scheduler::drain(Job &job) {
  char block[READ_BYTES];
  ssize_t got = read(job.output, block, sizeof block);
  if (got > 0) {
    job.text.append(block, static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    close(job.output);
    job.output = -1;
  }
}

void Scheduler::reap() {
  for (Job &job : jobs_) {
    if (job.pid <= 0 || job.reaped) continue;
    int status;
    pid_t ended = waitpid(job.pid, &status, WNOHANG);
    if (ended == 0 || (ended < 0 && errno == EINTR)) continue;
    // A wait that fails for good leaves nothing to wait for: an error.
    job.status = ended == job.pid ? status : W_EXITCODE(EXIT_ERROR & 0xff, 0);
    job.reaped = true;
    assert(running_ > 0 && "every reaped child was counted running");
    running_--;
    if (!WIFEXITED(job.status) || WEXITSTATUS(job.status) != EXIT_INSTANCE_DONE)
      procedures_.cleanUp(job.path.c_str(), job.pid);
  }
}

void Scheduler::enforceDeadlines() {
  double now = monotonicSeconds();
  for (Job &job : jobs_) {
    if (job.pid <= 0 || job.reaped || job.deadline == 0 || now < job.deadline) continue;
    kill(job.pid, job.signalled ? SIGKILL : SIGUSR1);
    // SIGKILL follows a second later if SIGUSR1 did not end it.
    job.deadline = job.signalled ? 0 : now + 1;
    job.signalled = true;
  }
}

// Prints the ended instances at the head of the walk's order, and what the
// first one still running wrote so far.
void Scheduler::printReady() {
  while (!jobs_.empty()) {
    Job &job = jobs_.front();
    if (!job.text.empty()) {
      emit(job.text);
      job.text.clear();
    }
    if (!job.ended()) return;
    conclude(job);
    jobs_.pop_front();
  }
}

// The mark of a killed child, the instance's count, and its outcome as the
// driver returns it.
void Scheduler::conclude(Job &job) {
  assert(job.ended() && job.text.empty() && "a job is concluded once it ended and all it wrote is printed");
  done_++;
  if (job.timedOutUnrun) {
    tally_.timeouts++;
    lastOutcome_ = EXIT_TIMEOUT;
  } else if (job.pid < 0) {
    lastOutcome_ = EXIT_ERROR; // counted when it could not be started
  } else if (WIFSIGNALED(job.status)) {
    bool timeout = timedOut(job.status, job.signalled);
    emit(std::string(timeout ? TIMEOUT_MARK : CRASH_MARK));
    (timeout ? tally_.timeouts : tally_.crashes)++;
    lastOutcome_ = timeout ? EXIT_TIMEOUT : EXIT_CRASH;
  } else {
    int code = WEXITSTATUS(job.status);
    if (code == EXIT_INSTANCE_DONE)
      tally_.ok++;
    else if (code == (EXIT_PARSE_ERROR & 0xff))
      tally_.parseErrors++;
    else if (code == CHILD_NO_PROBLEM_LINE)
      tally_.noProblemLine++, code = EXIT_PARSE_ERROR & 0xff;
    else
      tally_.abnormalExits++;
    lastOutcome_ = code;
  }
  progress_.show(done_, found_, tally_.ok, tally_.timeouts, true);
}

void Scheduler::emit(const std::string &text) {
  if (written_ == unwritten_.size()) {
    unwritten_.clear();
    written_ = 0;
  }
  unwritten_ += text;
  writeOut();
}

// Hands standard output what it takes now without blocking; a failed write
// ends the run.
void Scheduler::writeOut() {
  while (written_ < unwritten_.size()) {
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    if (poll(&out, 1, 0) <= 0) return;
    std::size_t n = std::min(unwritten_.size() - written_, writeBytes_);
    progress_.beforeOutput();
    ssize_t got = write(STDOUT_FILENO, unwritten_.data() + written_, n);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) abandon(0, got < 0 ? errno : EIO);
    written_ += static_cast<std::size_t>(got);
    progress_.afterOutput(unwritten_[written_ - 1]);
  }
}

void Scheduler::emit(const char *text) { emit(std::string(text)); }

void Scheduler::sayOnStandardError(const char *format, const char *path, int error) {
  progress_.clear();
  std::fprintf(stderr, format, path, std::strerror(error));
}

// Every child still running killed and reaped, and what it left half
// written removed.
void Scheduler::killChildren() {
  for (Job &job : jobs_)
    if (job.pid > 0 && !job.reaped) kill(job.pid, SIGKILL);
  for (Job &job : jobs_)
    if (job.pid > 0 && !job.reaped) {
      while (waitpid(job.pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      job.reaped = true;
      procedures_.cleanUp(job.path.c_str(), job.pid);
    }
}

// Ends the run: every child killed and reaped, what they left half written
// removed; then the process ends as the signal would end it, or as a failed
// write to standard output does.
void Scheduler::abandon(int signal, int outputError) {
  killChildren();
  progress_.clear();
  if (outputError) StandardOutput_fail(outputError);
  std::signal(signal, SIG_DFL);
  raise(signal);
  std::_Exit(128 + signal);
}

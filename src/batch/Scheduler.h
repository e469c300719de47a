#pragma once
// Scheduler: the instance children of a run and the one loop that watches
// them, for one job or many alike.
//
// Instances come in the walk's order and each gets the next number. A child
// starts as soon as fewer than the allowed number run or hold their pipes
// open; it writes into a pipe
// of its own, and the parent prints the outputs in the walk's order: the
// first instance's as it comes, the others' once all before them are
// printed. A child killed by a signal gets its mark ([TIMEOUT] or [CRASH])
// after its output, and every instance is counted in the tally once.
//
// The loop waits in poll for the children's pipes, the next time limit, and a
// pipe of its own that the signal handlers write into: SIGCHLD (a child to
// reap) and SIGINT, SIGTERM, SIGHUP, which end the run.
//
// Faults, and what becomes of them:
// - a pipe or fork that fails (descriptors or processes run out) is tried
//   again once a child has ended and its pipe is drained and closed; only
//   when no child holds a descriptor or a process any more is the instance
//   said on standard error ("tarnu: PATH: cannot start a process: REASON")
//   and counted among the abnormal exits;
// - a child past its time limit gets SIGUSR1, then SIGKILL a second later;
// - standard output is written only as far as it takes text without
//   blocking (the loop waits for it with the rest), so that a reader that
//   stops reading delays the output but neither the limits nor the signals;
// - a write to standard output that fails ends the run at once: the children
//   are killed and reaped, what they left half written is removed, and the
//   process ends as StandardOutput_fail says (a closed pipe quietly);
// - a signal that ends the run is handled the same way, and then ends the
//   process as its default action would.
// Children die with the parent whatever kills it (they ask the system for
// SIGKILL when their parent ends).

#include <deque>
#include <poll.h>
#include <string>
#include <sys/types.h>

#include "batch/Batch.h"
#include "batch/Progress.h"
#include "storage/CheckedArray.h"

class Scheduler {
public:
  Scheduler(const BatchSettings &settings, const InstanceProcedures &procedures, bool directoryMode);
  // Ends every child still running (only reached on an early return).
  ~Scheduler();
  Scheduler(const Scheduler &) = delete;
  Scheduler &operator=(const Scheduler &) = delete;

  // Whether the instance at the next walk position is this run's (see
  // BatchSettings' shards); when it is not, its number passes unused.
  bool takeNext();
  // The next instance in the walk's order; returns once its child runs (or
  // could not be started). spentSeconds: what its probe took, charged to its
  // time limit. The child opens the file as the part of path from nameAt on,
  // in the folder of the descriptor folder (AT_FDCWD: the whole path).
  void submit(const char *path, double spentSeconds, int folder, std::size_t nameAt);
  // Waits until a child has ended and given back its descriptors; false
  // at once when no child holds any.
  bool awaitRelease();
  // A diagnostic about a path (the format takes the path and the reason).
  void sayOnStandardError(const char *format, const char *path, int error);
  // The next instance, whose probe ran out of time: its item is its head and
  // [TIMEOUT], and no child runs it.
  void submitTimedOut(const char *path);
  // Takes in whatever happened, without waiting (the walk calls it while it
  // probes a file).
  void takeInEvents();
  // Waits for every instance and prints them all.
  void finish();

  // Instances the walk has found (for the progress line), and entries it
  // skipped. A run that takes a share of the walk counts its own instances
  // as their walk positions become known.
  void noteFound(long files) {
    if (settings_.shards == 1) found_ += files;
  }
  Tally &tally() { return tally_; }
  // The outcome of the last instance printed, as the driver returns it.
  int lastOutcome() const { return lastOutcome_; }

private:
  struct Job {
    int number = 0;
    std::string path;
    pid_t pid = -1;      // -1: no child (not started, or none needed)
    int output = -1;     // read end of the child's pipe while it is open
    bool reaped = false; // the child's wait status is in
    int status = 0;
    double budget = 0;   // seconds its child may run; 0: no limit
    double deadline = 0; // when SIGUSR1 is due, then SIGKILL; 0: none
    bool signalled = false;
    bool timedOutUnrun = false; // its probe ran out of time
    bool starting = false;      // its child is yet to be started
    int folder = -1;            // while starting: where the child opens the file
    std::size_t nameAt = 0;     // the file's name in path
    std::string text;           // output not yet printed
    bool ended() const { return !starting && (pid < 0 || (reaped && output < 0)); }
  };

  Job &enqueue(const char *path);
  void start(Job &job);
  void launch(Job &job, int &error);
  int holders() const;
  void step(bool wait);
  void watch(int fd, Job *job);
  void takeSignals();
  int waitMilliseconds(bool wait) const;
  void drain(Job &job);
  void reap();
  void enforceDeadlines();
  void printReady();
  void conclude(Job &job);
  void emit(const std::string &text);
  void emit(const char *text);
  void writeOut();
  void killChildren();
  [[noreturn]] void abandon(int signal, int outputError);

  BatchSettings settings_;
  InstanceProcedures procedures_;
  bool directoryMode_;
  std::deque<Job> jobs_; // not yet printed, in the walk's order
  int running_ = 0;      // children not yet reaped
  int nextNumber_ = 1;
  long found_ = 0;
  long done_ = 0;
  int lastOutcome_;
  Tally tally_;
  Progress progress_;
  std::string unwritten_;           // printed, not yet taken by standard output
  std::size_t written_ = 0;         // of unwritten_
  std::size_t writeBytes_;          // the most one write may hand out without blocking
  int signals_[2] = {-1, -1};       // the pipe the signal handlers write into
  CheckedArray<pollfd> watched_;    // what the loop polls: the signal pipe, the open outputs
  CheckedArray<Job *> watchedJobs_; // the job of each, null for the signal pipe
};

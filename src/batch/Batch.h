#pragma once
// Batch: a run over one QDIMACS file or every QDIMACS file of a directory
// tree. Each instance runs in a child process of its own, under the run's
// limits; its output is printed whole, in the walk's order (depth first: a
// directory's subdirectories as its listing meets them, then its own files by
// ascending declared variable count), and how it ended is one count of the
// run's tally. Whatever happens to one instance (a crash, a limit, a process
// that cannot be started, a file that cannot be probed) stays with its item;
// only a failure of standard output ends the run, and then no child outlives
// it.
//
// The layer's parts: Walk (the directory tree, the size probe, the order),
// Scheduler (the children, their pipes and limits, the one event loop, the
// tally), InstanceChild (what a child does), Progress (the line on a
// terminal).

#include <sys/types.h>

struct QbFormula;
struct InstanceFeatures;

// The limits of a run; 0 where none is set.
struct BatchSettings {
  double timeoutSeconds = 0; // wall-clock time spent on an instance, its probe included
  long memoutMegabytes = 0;  // address space of an instance child; also bounds the probe's decoders
  int jobs = 1;              // instance children at once (directory mode only)
  // This run takes the instances at walk positions p (from 1) with
  // p mod shards = shard mod shards; the others keep their numbers unrun.
  int shard = 1, shards = 1;
  bool takes(long position) const { return position % shards == shard % shards; }
};

// What an instance child does with its parsed formula and, when they are
// counted, its features (returns the child's exit code), and what the parent
// does after a child that did not complete (removes what the child may have
// left half written).
struct InstanceProcedures {
  int (*process)(QbFormula *formula, const InstanceFeatures *features);
  void (*cleanUp)(const char *path, pid_t child);
  bool features = false; // the reader counts the features of every instance
};

// How the instances of a run ended, and what the walk skipped.
struct Tally {
  long instances = 0, ok = 0, parseErrors = 0, noProblemLine = 0, abnormalExits = 0, timeouts = 0, crashes = 0;
  long links = 0, specialFiles = 0, unreadableDirectories = 0;
};

// Runs the instances of the path as the run mode says and returns main's exit
// value: mode 1 the one instance's outcome (1, 252 for a parse error or no
// problem line, 30, -5, or -1 when no child could be run or it ended
// abnormally), mode 2 the number of instances, any other mode -2. The tally
// is filled in.
int Qdimacs_processInstancesInPath(const char *path, const InstanceProcedures &procedures,
                                   const BatchSettings &settings, Tally &tally);

// After the run's last line on standard output: one line on standard error
// counting how the instances ended and what the walk skipped. Directory mode
// always; file mode only when the instance did not end well.
void Qdimacs_reportToStandardError(const Tally &tally);

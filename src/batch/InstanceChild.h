#pragma once
// InstanceChild: what a freshly forked instance child does. It ties its life
// to its parent's, keeps only the descriptors it uses (its pipe as standard
// output, standard input and error, the folder of its file), takes back the signal actions of a
// plain process and the run's memory limit, then prints its item head,
// parses its file, runs the per-instance procedure and ends with the mark and
// the exit code.

#include <csignal>
#include <string>
#include <sys/types.h>

#include "batch/Batch.h"

// The exit code of a child whose file has no problem line. The parent turns
// it into the parse error's code (what it returns is as ever) and counts it
// apart from the parse errors.
constexpr int CHILD_NO_PROBLEM_LINE = 3;

struct ChildSetup {
  const char *path;
  int folder; // the file is name in this folder (AT_FDCWD: the working directory)
  const char *name;
  int number;   // the item's number
  int output;   // write end of the pipe to the parent
  pid_t parent; // the process that forked it
  long memoutMegabytes;
  const InstanceProcedures *procedures;
  const sigset_t *signalMask; // the mask to run with (the parent's blocks every signal around the fork)
};

[[noreturn]] void InstanceChild_run(const ChildSetup &setup);

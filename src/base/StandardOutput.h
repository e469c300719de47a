#pragma once
// StandardOutput: every write of the parent process to standard output is
// checked, and a failed one ends the run: "tarnu: standard output: REASON" on
// standard error and exit value 255. A write to a closed pipe ends the run
// as SIGPIPE's default action would, quietly, once the caller has tidied up:
// the parent ignores SIGPIPE while it runs (so that the write returns EPIPE)
// only if its action was the default one at start.

// At start, before anything is written: makes sure descriptors 0, 1 and 2
// are open (a closed one is taken by /dev/null, read only for 0 and 1, so
// that writes to a closed standard output fail instead of landing in a file
// the program opens later), and takes over SIGPIPE as above.
void StandardOutput_init();
// In an instance child: SIGPIPE's action as it was at start.
void StandardOutput_restoreInChild();

// Flushes standard output: 0, or the errno of the failed write.
int StandardOutput_flush();
// Flushes, and ends the run if that failed.
void StandardOutput_check();
// The last write of the run: flushes and closes standard output, and ends the
// run if either failed.
void StandardOutput_finish();
// Ends the process for a failed write (error: its errno), as said above.
[[noreturn]] void StandardOutput_fail(int error);

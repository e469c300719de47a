// Entry point: the command line, the banner, and the run.

#include <climits>
#include <csignal>
#include <cstdio>
#include <malloc.h>

#include "base/StandardOutput.h"
#include "batch/Batch.h"
#include "run/Options.h"
#include "run/Pipeline.h"
#include "storage/AbnormalExit.h"
#include "storage/Memory.h"

int main(int argc, char **argv) {
  AbnormalExit_installNewHandler();
  // Every block comes from the one heap, and what is freed stays there: a
  // pass takes the pages an earlier pass gave back instead of freshly mapped
  // ones, which the kernel must zero first (on large files that zeroing was
  // the largest single cost). A growing table at the heap's end grows in
  // place; elsewhere it is copied once per doubling, which is cheaper than
  // zeroing the pages it moves to.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  // One heap for every thread: the thread that decodes a compressed file
  // ahead reserves no heap of its own, so an instance's address space (which
  // -memout limits) does not depend on which thread allocates first.
  mallopt(M_ARENA_MAX, 1);
  // An inherited "ignore" would let the system reap the instance children
  // before the driver could wait for them.
  std::signal(SIGCHLD, SIG_DFL);
  // A file-size limit makes a write fail with EFBIG, which is said like any
  // failed write, instead of killing the process (and every child) mid-item.
  std::signal(SIGXFSZ, SIG_IGN);
  StandardOutput_init();
  int stop = Options_parseCommandLine(argc, argv);
  if (stop != 0) {
    StandardOutput_finish();
    return stop;
  }
  printBanner();
  StandardOutput_check();
  Memory_init();
  Tally tally;
  const InstanceProcedures procedures{mainProcessingProcedure, removeLeftoversOfInstance, Options_getFeaturesEnabled()};
  int result = Qdimacs_processInstancesInPath(Options_getDirName(), procedures, Options_getBatchSettings(), tally);
  std::printf("\n");
  StandardOutput_finish();
  Qdimacs_reportToStandardError(tally);
  Memory_quit();
  return result;
}

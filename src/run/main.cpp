// Entry point: the command line, the banner, and the run.

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
  // Blocks from 1 MiB on are mapped on their own, always (by default the
  // threshold drifts up to 32 MiB as blocks are freed): a growing table is
  // then moved by remapping its pages, not copied, and it can take huge pages.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  // One heap for every thread: the thread that decodes a compressed file
  // ahead reserves no heap of its own, so an instance's address space (which
  // -memout limits) does not depend on which thread allocates first.
  mallopt(M_ARENA_MAX, 1);
  // An inherited "ignore" would let the system reap the instance children
  // before the driver could wait for them.
  std::signal(SIGCHLD, SIG_DFL);
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
  int result = Qdimacs_processInstancesInPath(
      Options_getDirName(), {mainProcessingProcedure, removeLeftoversOfInstance}, Options_getBatchSettings(), tally);
  std::printf("\n");
  StandardOutput_finish();
  Qdimacs_reportToStandardError(tally);
  Memory_quit();
  return result;
}

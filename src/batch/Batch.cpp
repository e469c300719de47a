// Batch: the run as the mode says, and its summary line.

#include "batch/Batch.h"

#include <cstdio>
#include <fcntl.h>

#include "base/OutputTexts.h"
#include "base/RunStatus.h"
#include "batch/Scheduler.h"
#include "batch/Walk.h"

int Qdimacs_processInstancesInPath(const char *path, const InstanceProcedures &procedures,
                                   const BatchSettings &settings, Tally &tally) {
  int mode = VEXT_getMode();
  if (mode != MODE_FILE && mode != MODE_DIRECTORY) return EXIT_IO_ERROR;
  Scheduler scheduler(settings, procedures, mode == MODE_DIRECTORY);
  int result;
  if (mode == MODE_FILE) {
    // A file is a walk of one: a share that does not take it runs nothing
    // and ends as a run over an empty directory does.
    scheduler.noteFound(1);
    bool taken = scheduler.takeNext();
    if (taken) scheduler.submit(path, 0, AT_FDCWD, 0);
    scheduler.finish();
    result = taken ? scheduler.lastOutcome() : 0;
  } else {
    result = DirectoryWalk(scheduler, settings).walk(path);
    scheduler.finish();
  }
  tally = scheduler.tally();
  return result;
}

void Qdimacs_reportToStandardError(const Tally &tally) {
  int mode = VEXT_getMode();
  if (mode == MODE_FILE && tally.instances == 1 && tally.ok == 1) return;
  if (mode != MODE_FILE && mode != MODE_DIRECTORY) return;
  std::fprintf(stderr, DIAGNOSTIC_SUMMARY, tally.instances, tally.ok, tally.parseErrors, tally.noProblemLine,
               tally.abnormalExits, tally.timeouts, tally.crashes, tally.links, tally.specialFiles,
               tally.unreadableDirectories);
}

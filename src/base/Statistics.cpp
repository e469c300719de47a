// Statistics: step counters, times and memory peaks of one instance.

#include "base/Statistics.h"

#include <ctime>

#include "base/MemoryProbes.h"
#include "base/RunStatus.h"

namespace {
// The figures of the instance the process runs, one record for the process:
// the run status that indexes them is process-wide, and a fresh instance
// child starts them anew.
struct StepFigures {
  int timesStepIsExecuted[STATUS_STEPS] = {};
  double timeSpentInStep[STATUS_STEPS] = {};
  double peakMemoryUsageForStep[STATUS_STEPS] = {};
  unsigned long stepEnteringTime = 0;
  unsigned long initStartTime = 0;
  double initMemoryAvailable = 0.0;
};
StepFigures figures;

bool validStep(int step) { return step >= 0 && step < STATUS_STEPS; }

unsigned long processorClock() { return static_cast<unsigned long>(std::clock()); }
} // namespace

void Statistics_init() {
  figures = StepFigures{};
  figures.initStartTime = processorClock();
  double freeMemory = Memory_getFreeMemory();
  figures.initMemoryAvailable = freeMemory + Memory_getUsedMemory();
}

void Statistics_enteringStep() {
  int step = VEXT_getStatus();
  if (validStep(step)) figures.timesStepIsExecuted[step]++;
  figures.stepEnteringTime = processorClock();
}

void Statistics_exitingStep() {
  int step = VEXT_getStatus();
  double used = Memory_getUsedMemory();
  double seconds = static_cast<double>(processorClock() - figures.stepEnteringTime) / CLOCKS_PER_SEC;
  if (!validStep(step)) return;
  if (!(figures.peakMemoryUsageForStep[step] > used)) figures.peakMemoryUsageForStep[step] = used;
  figures.timeSpentInStep[step] += seconds;
}

// Statistics: step counters, times and memory peaks of one instance.

#include "base/Statistics.h"

#include <ctime>

#include "base/MemoryProbes.h"
#include "base/RunStatus.h"

namespace {
int timesStepIsExecuted[STATUS_STEPS];
double timeSpentInStep[STATUS_STEPS];
double peakMemoryUsageForStep[STATUS_STEPS];
unsigned long stepEnteringTime = 0;
unsigned long initStartTime = 0;
double initMemoryAvailable = 0.0;

bool validStep(int step) { return step >= 0 && step < STATUS_STEPS; }

unsigned long processorClock() { return static_cast<unsigned long>(std::clock()); }
} // namespace

void Statistics_init() {
  for (int i = 0; i < STATUS_STEPS; i++) {
    timesStepIsExecuted[i] = 0;
    timeSpentInStep[i] = 0.0;
    peakMemoryUsageForStep[i] = 0.0;
  }
  initStartTime = processorClock();
  double freeMemory = Memory_getFreeMemory();
  initMemoryAvailable = freeMemory + Memory_getUsedMemory();
}

void Statistics_enteringStep() {
  int step = VEXT_getStatus();
  if (validStep(step)) timesStepIsExecuted[step]++;
  stepEnteringTime = processorClock();
}

void Statistics_exitingStep() {
  int step = VEXT_getStatus();
  double used = Memory_getUsedMemory();
  double seconds = static_cast<double>(processorClock() - stepEnteringTime) / CLOCKS_PER_SEC;
  if (!validStep(step)) return;
  if (!(peakMemoryUsageForStep[step] > used)) peakMemoryUsageForStep[step] = used;
  timeSpentInStep[step] += seconds;
}

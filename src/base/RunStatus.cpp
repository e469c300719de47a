// Run status: three process-wide integers and the step change that is measured.

#include "base/RunStatus.h"

#include "base/Statistics.h"

namespace {
// Process-wide by their nature: the mode is fixed before any child exists,
// and each instance child has its own copy of the step and the outcome.
int VEXT_mode = MODE_NONE;
int VEXT_status = 0;
int VEXT_outcome = OUTCOME_UNDECIDED;
} // namespace

void VEXT_setMode(int mode) { VEXT_mode = mode; }
int VEXT_getMode() { return VEXT_mode; }

void VEXT_setStatus(int step) {
  if (step == VEXT_status) return;
  Statistics_exitingStep();
  VEXT_status = step;
  Statistics_enteringStep();
}
int VEXT_getStatus() { return VEXT_status; }

void VEXT_setOutcome(int code) { VEXT_outcome = code; }
int VEXT_isDecided() { return Outcome_isDecided(VEXT_outcome) ? 1 : 0; }
int VEXT_getOutcome() { return VEXT_outcome; }

void VEXT_reset() {
  VEXT_mode = MODE_NONE;
  VEXT_status = 0;
  VEXT_outcome = OUTCOME_UNDECIDED;
}

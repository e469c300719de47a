#pragma once
// Statistics: per processing step (the run status), how often it was entered,
// the processor time spent in it and the largest memory use seen on leaving
// it, plus the start time and the memory available at initialisation. Nothing
// prints these figures; they live in the instance child.

// Resets every figure and probes free and used memory (called by the reader
// when it starts an attempt).
void Statistics_init();
// Called by VEXT_setStatus for the step being entered and the step being left;
// both read the current step from the run status.
void Statistics_enteringStep();
void Statistics_exitingStep();

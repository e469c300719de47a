#pragma once
// Run status (VEXT_): the run mode chosen by the command line, the current
// processing step of an instance and the outcome reached about it, plus the
// vocabulary of exit codes. One copy per process: a child inherits the
// parent's values at the fork and changes only its own.

// Exit codes of main, the command line, the driver and the instance child.
constexpr int EXIT_TIMEOUT = 30;       // "TIMEOUT": child killed by SIGUSR1
constexpr int EXIT_EARLY_STOP = 40;    // "EARLY STOP": no argument, or -version
constexpr int EXIT_ERROR = -1;         // "ERROR": no child, or abnormal exit
constexpr int EXIT_IO_ERROR = -2;      // "IO ERROR": bad path, or no run mode
constexpr int EXIT_CMDLINE_ERROR = -3; // "CMDLINE ERROR"
constexpr int EXIT_PARSE_ERROR = -4;   // "PARSE ERROR": the file did not parse
constexpr int EXIT_CRASH = -5;         // "CRASH": child killed by another signal
constexpr int EXIT_INSTANCE_DONE = 1;  // an instance child that completed

// Run modes.
constexpr int MODE_NONE = 0;
constexpr int MODE_FILE = 1;
constexpr int MODE_DIRECTORY = 2;

// Processing steps (indexes of the step statistics).
constexpr int STATUS_PARSING = 0;
constexpr int STATUS_INITIAL = 12;
constexpr int STATUS_STEPS = 15;

// Outcomes.
constexpr int OUTCOME_UNDECIDED = 0;
constexpr int OUTCOME_TRUE_BY_UCP = 2;
constexpr int OUTCOME_TRUE_BY_PLE = 3;
constexpr int OUTCOME_LAST_TRUE = 5; // 2 to 5: decided true; 6 to 12: false
constexpr int OUTCOME_FALSE_EMPTY_INPUT_CLAUSE = 6;
constexpr int OUTCOME_FALSE_UNIVERSAL_UNIT = 7;
constexpr int OUTCOME_FALSE_BY_UCP = 8;
constexpr int OUTCOME_FALSE_BY_PLE = 9;
constexpr int OUTCOME_FALSE_BY_FAR = 10;
// Decided: true (2 to 5) or false (6 and above).
constexpr bool Outcome_isDecided(int outcome) { return outcome >= 2; }
constexpr bool Outcome_isFalse(int outcome) { return outcome > OUTCOME_LAST_TRUE; }

void VEXT_setMode(int mode);
int VEXT_getMode();

// Changing the step closes the statistics of the step left and opens those of
// the new one; setting the current step again does nothing at all.
void VEXT_setStatus(int step);
int VEXT_getStatus();

void VEXT_setOutcome(int code);
int VEXT_isDecided(); // 1 when the outcome is 2 or more
int VEXT_getOutcome();

// Back to the values at program start (for the in-process fuzzing harness).
void VEXT_reset();

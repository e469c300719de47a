#pragma once
// Options: the command line and the process-wide settings it fixes. The
// settings are written only while the command line is parsed, before any
// instance child exists, and read through the getters afterwards.

#include "batch/Batch.h"
#include "tree/QbfTreeFormula.h"

// A prenexing strategy of -qdimacs=: its word on the command line, its word
// in the names of the files it writes, and the strategy.
struct QdimacsStrategy {
  const char *option;
  const char *fileWord;
  Prenexing prenexing;
};

// Returns 0 when processing is to go on, otherwise the value with which main
// ends the process at once (40, -2 or -3). Prints the help or version text
// where the command line asks for it.
int Options_parseCommandLine(int argc, char **argv);

void printHelp();
// "Tarnu v0.1 (revision 80, compiled Mmm dd yyyy)", no line break.
void printBanner();

int Options_getDumpTreeEnabled();
int Options_getDumpDetailedTreeEnabled();
int Options_getCompressedTarnuEnabled();
int Options_getQbfReasoningEnabled();
const char *Options_getDirName(); // null when no path was accepted
const BatchSettings &Options_getBatchSettings();
const char *Options_getDotDir(); // null: the DOT files go beside the input
// The strategy of -qdimacs=STRATEGY, else null.
const QdimacsStrategy *Options_getQdimacsStrategy();
int Options_getQcirEnabled();
bool Options_getFeaturesEnabled();

// Sets the flags directly, without a command line (the fuzzing harness draws
// them from its input), and back to the values at program start.
void Options_set(int dumpTree, int dumpDetailedTree, int compressed, int qbfReasoning);
void Options_reset();
// Sets the formula files to write (the strategy's word as -qdimacs= takes it,
// or null).
void Options_setFormulaFiles(const char *qdimacsStrategy, int qcir);

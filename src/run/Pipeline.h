#pragma once
// Pipeline: what the instance child does with its parsed formula: the formula
// summary, forall reduction (or, with -pre, the whole normalisation), the
// quantifier tree, its DOT file and its formula files on request, the tree
// summary, and the release of everything the instance built.

#include <sys/types.h>

struct QbFormula;

// Takes ownership of a finalized formula; returns the child's exit code, 1.
int mainProcessingProcedure(QbFormula *formula);
// In the parent, after an instance child that did not complete: removes the
// temporary file it may have left where its DOT and formula files go.
void removeLeftoversOfInstance(const char *path, pid_t child);

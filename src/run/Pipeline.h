#pragma once
// Pipeline: what the instance child does with its parsed formula: the formula
// summary, its features (with -features), forall reduction (or, with -pre, the whole normalisation), the
// quantifier tree, its DOT file and its formula files on request, the tree
// summary, and the release of everything the instance built.

#include <sys/types.h>

struct QbFormula;
struct InstanceFeatures;

// Takes ownership of a finalized formula; prints its features block after
// the formula summary when features are given. Returns the child's exit code,
// 1.
int mainProcessingProcedure(QbFormula *formula, const InstanceFeatures *features);
// In the parent, after an instance child that did not complete: removes the
// temporary file it may have left where its DOT and formula files go.
void removeLeftoversOfInstance(const char *path, pid_t child);

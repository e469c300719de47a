#pragma once
// Pipeline: what the instance child does with its parsed formula: the formula
// summary, forall reduction (or, with -pre, the whole normalisation), the
// quantifier tree, its DOT file on request, the tree summary, and the release
// of everything the instance built.

struct QbFormula;

// Takes ownership of a finalized formula; returns the child's exit code, 1.
int mainProcessingProcedure(QbFormula *formula);

#pragma once
// QbfTreeFormula: the quantifier tree written back as a formula with the
// truth value of the formula it was built from: prenex QDIMACS along one of
// three prenexing strategies, or non-prenex QCIR. The tree is a miniscoped
// form of the formula (every clause at the node of its deepest variable, the
// copies of a universal separate scopes), so both are equivalent to it.
//
// Numbers: an existential variable keeps its input number; the first copy of
// a universal (in node-code order) keeps the universal's number, and each
// further copy takes the next number above the largest input variable, in
// node-code order. Both files open with one comment line per such number,
// "c copy N of V" (QDIMACS) or "# copy N of V" (QCIR).
//
// Prenexing puts every node after all its ancestors, the nodes of one block
// in node-code order, the free variables of the input in the outermost
// existential block:
// - keep: the input's prefix order, every copy at its universal's place;
// - up: the fewest blocks any prenex form of the tree can have, from the
//   quantifier that gives fewer (existential on a tie), each node in the
//   outermost block its father allows;
// - down: the same blocks, each node in the innermost one that still comes
//   before its children's blocks.
//
// The writers take an open file and report nothing: the caller checks the
// stream. Every walk is the tree's QbfTreeNode_walk, its path on an explicit
// stack.

#include <cstdio>

struct QbfTree;

enum class Prenexing { Keep, Up, Down };

// The numbers and blocks of a tree's nodes; built once, read by the writers.
struct QbfTreeFormula;

// Numbers the nodes and computes the blocks of up (the tree must outlive it).
QbfTreeFormula *QbfTreeFormula_new(QbfTree *tree);
void QbfTreeFormula_delete(QbfTreeFormula *layout);

// The quantifier blocks that up writes, minus 1: the fewest alternations of
// any prenex form of the tree (-1 for a tree without nodes).
int QbfTreeFormula_getAlternations(const QbfTreeFormula *layout);
// The largest variable number the formula files declare (copies included).
long long QbfTreeFormula_getLargestNumber(const QbfTreeFormula *layout);

// Writes "p cnf", the prefix of the strategy and every clause of the tree.
void QbfTreeFormula_writeQdimacs(QbfTreeFormula *layout, FILE *file, Prenexing strategy);
// Writes the tree as one QCIR-G14 circuit: an "or" gate per clause, an "and"
// gate over a chain's clauses and its children, and a quantifier gate per
// chain of same-quantifier nodes (each the only child of the one before,
// whatever their clauses).
void QbfTreeFormula_writeQcir(QbfTreeFormula *layout, FILE *file);

// The constants, for an instance decided before its tree: "p cnf 0 0" (true)
// or "p cnf 0 1" and the empty clause (false); in QCIR an empty "and" or "or".
void QbfTreeFormula_writeConstantQdimacs(FILE *file, bool value);
void QbfTreeFormula_writeConstantQcir(FILE *file, bool value);

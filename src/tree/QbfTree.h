#pragma once
// QbfTree: the quantifier tree of a formula. Every clause sits at the node of
// its deepest variable; every node hangs below the node of the deepest outer
// variable its subtree depends on; universal variables are duplicated, one
// copy per node whose deepest dependency they are. Built once per instance,
// then measured, printed and optionally written as a Graphviz DOT file.
//
// Every walk over the tree is QbfTreeNode_walk (QbfTreeNode.h), with its path
// on an explicit stack: trees as deep as the formula has variables are walked
// without deep recursion.

#include <cstdint>
#include <cstdio>
#include <string>

#include "storage/CheckedArray.h"
#include "storage/List.h"
#include "tree/QbfTreeNode.h"

struct QbFormula;

struct QbfTree {
  QbfTree();
  ~QbfTree();

  QbFormula *formula = nullptr; // not owned; outlives the tree
  QbfTreeNode *root = nullptr;
  CheckedArray<QbfTreeNode *> nodeForVar;   // existential variable -> its node
  CheckedArray<ListElem *> universalCopies; // universal variable -> copies waiting
  int nodeCount = 0;                        // nodes made for variables
  int depth = 0;
  int maxUniversalDepth = 0;
  double averageUniversalDepth = 0.0;
  int existentialNodes = 0;
  int universalNodes = 0;
  int numBranches = 0;
  int numberOfDisconnectableComponents = 0;
  // Sum of 2^k over the outermost existential nodes, k the universal nodes
  // above each: an unbounded integer, 32-bit words, least significant first.
  CheckedArray<std::uint32_t> numberOfDisjointSubformulas;
  unsigned long startTime = 0;
  unsigned long endTime = 0;

  // Node storage: the existential nodes in one array, the rest in chunks.
  QbfTreeNode *existentialStore = nullptr;
  struct Chunk;
  Chunk *chunks = nullptr;
};

// Builds the tree of the formula, with duplicated universals, and takes all
// its measures.
QbfTree *QbfTree_new(QbFormula *formula);
// Releases the tree and its nodes; the formula is untouched.
void QbfTree_delete(QbfTree *tree);

inline QbFormula *QbfTree_getQbFormula(const QbfTree *t) { return t->formula; }
inline QbfTreeNode *QbfTree_getRoot(const QbfTree *t) { return t->root; }
inline int QbfTree_getDepth(const QbfTree *t) { return t->depth; }
inline int QbfTree_getNumBranches(const QbfTree *t) { return t->numBranches; }
inline int QbfTree_getMaxUniversalDepth(const QbfTree *t) { return t->maxUniversalDepth; }
inline double QbfTree_getAverageUniversalDepth(const QbfTree *t) { return t->averageUniversalDepth; }
inline int QbfTree_getExistentialNodes(const QbfTree *t) { return t->existentialNodes; }
inline int QbfTree_getUniversalNodes(const QbfTree *t) { return t->universalNodes; }
inline int QbfTree_getNumberOfDisconnectableComponents(const QbfTree *t) { return t->numberOfDisconnectableComponents; }
// The D-Components count in decimal.
std::string QbfTree_getNumberOfDisjointSubformulas(QbfTree *tree);

// A node record from the tree's node store (used by QbfTreeNode_new).
QbfTreeNode *QbfTree_allocNode(QbfTree *tree);

// Prints the tree summary; with alternations given, one more line after
// Delta AVG for them.
void QbfTree_printTarnuData(QbfTree *tree, const int *alternations = nullptr);

// Writes the tree in DOT to the open file: with the clauses of each node
// listed (detailed) or counted, and with chains of same-quantifier nodes
// drawn as one octagon (compressed) or node by node.
void QbfTree_printVizFormat(QbfTree *tree, FILE *file, bool detailed, bool compressed);

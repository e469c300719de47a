#pragma once
// QbfTreeNode: one node of the quantifier tree: the root ('r', variable -1),
// an existential node (one per existential variable taking part), or a
// universal node (one copy of a universal variable per node depending on it).
// A node carries the clauses attached at its variable. Children are linked
// through firstChild/nextBrother. While the tree is built, a node also knows
// the father it will hang below (see QbfTree.cpp for how that is found).

struct QbfClause;
struct QbfTree;

// 48 bytes: trees have millions of nodes and every walk reads them all. While
// the tree is being built (QbfTree.cpp), three links serve other purposes
// until each node is attached: father is the node's union-find link,
// nextBrother the father it will be attached to, and a copy's firstChild
// links the copies of its universal made so far.
struct QbfTreeNode {
  int code;     // unique in the process, from nodeCode; names the node in DOT
  int variable; // internal code; -1 for the root
  int clauseListSize;
  char quantifier; // 'e', 'a' or 'r'
  QbfTreeNode *father;
  QbfTreeNode *firstChild;
  QbfTreeNode *nextBrother;
  QbfClause *clauses; // the formula's list of clauses attached at variable
};

// Process-wide counter of nodes created; never reset within an instance.
extern int nodeCode;

// A new node of the tree, with its variable's clauses, taking the next code.
// The record lives in the tree's node store.
QbfTreeNode *QbfTreeNode_new(QbfTree *tree, char quantifier, int variable);
// Same, in storage the caller provides (the tree's array of existential
// nodes); with takeCode false the node gets its code later (a copy of a
// universal is made before its code is due).
void QbfTreeNode_init(QbfTreeNode *node, QbfTree *tree, char quantifier, int variable, bool takeCode = true);
// Puts the child in front of the father's children.
void QbfTreeNode_setFather(QbfTreeNode *child, QbfTreeNode *father);

inline int QbfTreeNode_getCode(const QbfTreeNode *n) { return n->code; }
inline int QbfTreeNode_getVariable(const QbfTreeNode *n) { return n->variable; }
inline int QbfTreeNode_getQuantifier(const QbfTreeNode *n) { return n->quantifier; }
inline QbfTreeNode *QbfTreeNode_getFirstChild(const QbfTreeNode *n) { return n->firstChild; }
inline QbfTreeNode *QbfTreeNode_getNextBrother(const QbfTreeNode *n) { return n->nextBrother; }
inline QbfTreeNode *QbfTreeNode_getFather(const QbfTreeNode *n) { return n->father; }
inline int QbfTreeNode_getClauseListSize(const QbfTreeNode *n) { return n->clauseListSize; }
inline QbfClause *QbfTreeNode_getListOfClausesAtThisNode(const QbfTreeNode *n) { return n->clauses; }

#pragma once
// QbfTreeNode: one node of the quantifier tree: the root ('r', variable -1),
// an existential node (one per existential variable taking part), or a
// universal node (one copy of a universal variable per node depending on it).
// A node carries the clauses attached at its variable. Children are linked
// through firstChild/nextBrother. While the tree is built, a node also knows
// the father it will hang below (see QbfTree.cpp for how that is found).
// QbfTreeNode_walk is the one depth-first walk that every pass over a tree
// takes.

#include <cassert>
#include <type_traits>

#include "storage/CheckedArray.h"

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

// The root is the one node without a variable: its quantifier is 'r' and its
// variable -1 (the two tests agree for every node asked about).
inline bool QbfTreeNode_isRoot(const QbfTreeNode *n) {
  assert((n->quantifier == 'r') == (n->variable <= 0) && "the root alone has no variable");
  return n->quantifier == 'r';
}
inline int QbfTreeNode_getCode(const QbfTreeNode *n) { return n->code; }
inline int QbfTreeNode_getVariable(const QbfTreeNode *n) { return n->variable; }
inline int QbfTreeNode_getQuantifier(const QbfTreeNode *n) { return n->quantifier; }
inline QbfTreeNode *QbfTreeNode_getFirstChild(const QbfTreeNode *n) { return n->firstChild; }
inline QbfTreeNode *QbfTreeNode_getNextBrother(const QbfTreeNode *n) { return n->nextBrother; }
inline QbfTreeNode *QbfTreeNode_getFather(const QbfTreeNode *n) { return n->father; }
inline int QbfTreeNode_getClauseListSize(const QbfTreeNode *n) { return n->clauseListSize; }
inline QbfClause *QbfTreeNode_getListOfClausesAtThisNode(const QbfTreeNode *n) { return n->clauses; }

// Walks the subtree of root depth first, the children of a node in
// firstChild/nextBrother order: enter(n) before the subtrees of n's children,
// leave(n) after them. The path from root is kept on `path` (empty; it names
// the site of a failure to grow it), not on the call stack: a tree is as deep
// as its formula has variables, millions of nodes.
//
// enter returns void, and n's children follow, or the node whose children
// follow: n itself, null to skip n's subtree (n is still left), or the last
// node of a chain below n that n stands for (the nodes between are neither
// entered nor left).
template <typename Enter, typename Leave>
void QbfTreeNode_walk(QbfTreeNode *root, CheckedArray<QbfTreeNode *> &path, Enter enter, Leave leave) {
  // Enters n; returns the first node to enter below it.
  auto open = [&](QbfTreeNode *n) -> QbfTreeNode * {
    const QbfTreeNode *below = n;
    if constexpr (std::is_void_v<decltype(enter(n))>)
      enter(n);
    else
      below = enter(n);
    path.push(n);
    return below ? below->firstChild : nullptr;
  };
  QbfTreeNode *next = open(root);
  for (;;) {
    if (next) {
      next = open(next);
      continue;
    }
    // The top's children are done: leave it, then on to its next brother.
    QbfTreeNode *done = path.back();
    path.pop();
    leave(done);
    if (path.empty()) return;
    next = done->nextBrother;
  }
}

// The same walk with nothing to do on leaving.
template <typename Enter> void QbfTreeNode_walk(QbfTreeNode *root, CheckedArray<QbfTreeNode *> &path, Enter enter) {
  QbfTreeNode_walk(root, path, enter, [](QbfTreeNode *) {});
}

#pragma once
// QbfTreeNode: one node of the quantifier tree: the root ('r', variable -1),
// an existential node (one per existential variable taking part), or a
// universal node (one copy of a universal variable per node depending on it).
// A node carries the clauses attached at its variable and, while the tree is
// built, its dependency set: the ascending outer variables that the clauses
// of its subtree mention. Children are linked through firstChild/nextBrother.

struct QbfClause;
struct QbfTree;

struct QbfTreeNode {
  int code;            // unique in the process, from nodeCode; names the node in DOT
  char quantifier;     // 'e', 'a' or 'r'
  int variable;        // internal code; -1 for the root
  QbfTreeNode *father;
  QbfTreeNode *firstChild;
  QbfTreeNode *nextBrother;
  int clauseListSize;
  QbfClause *clauses;  // the formula's list of clauses attached at variable
  int *dependencies;   // strictly ascending; owned by the node until merged away
  int dependenciesSize;
};

// Process-wide counter of nodes created; never reset within an instance.
extern int nodeCode;

// A new node of the tree, with its variable's clauses and their dependencies
// (the variable itself left out). The record lives in the tree's node store.
QbfTreeNode *QbfTreeNode_new(QbfTree *tree, char quantifier, int variable);
// Same, in storage the caller provides (the tree's array of existential nodes).
void QbfTreeNode_init(QbfTreeNode *node, QbfTree *tree, char quantifier, int variable);
// Puts the child in front of the father's children.
void QbfTreeNode_setFather(QbfTreeNode *child, QbfTreeNode *father);
// Folds the child's set, less its last entry (the node's own variable), into
// the node's set. The child's set is consumed: afterwards it has no array.
void QbfTreeNode_addDependenciesFromNode(QbfTreeNode *node, QbfTreeNode *child);
// Sorted union of two ascending, duplicate-free arrays. When the shorter one
// (a at equal lengths) is contained in the longer, the result is the longer
// array itself and nothing is allocated; otherwise the result is a new array
// of exactly the union's length and both inputs are freed.
void mergeDependencyLists(int *a, int na, int *b, int nb, int **result, int *resultSize);
// Releases what the node owns (its dependency array, if any); the record
// itself belongs to the tree's node store.
void QbfTreeNode_delete(QbfTreeNode *node);

inline int QbfTreeNode_getCode(const QbfTreeNode *n) { return n->code; }
inline int QbfTreeNode_getVariable(const QbfTreeNode *n) { return n->variable; }
inline int QbfTreeNode_getQuantifier(const QbfTreeNode *n) { return n->quantifier; }
inline QbfTreeNode *QbfTreeNode_getFirstChild(const QbfTreeNode *n) { return n->firstChild; }
inline QbfTreeNode *QbfTreeNode_getNextBrother(const QbfTreeNode *n) { return n->nextBrother; }
inline QbfTreeNode *QbfTreeNode_getFather(const QbfTreeNode *n) { return n->father; }
inline int QbfTreeNode_getClauseListSize(const QbfTreeNode *n) { return n->clauseListSize; }
inline QbfClause *QbfTreeNode_getListOfClausesAtThisNode(const QbfTreeNode *n) { return n->clauses; }
inline int QbfTreeNode_getDependenciesSize(const QbfTreeNode *n) { return n->dependenciesSize; }
// Asked only when dependenciesSize >= 1.
inline int QbfTreeNode_getDeepestDependency(const QbfTreeNode *n) { return n->dependencies[n->dependenciesSize - 1]; }

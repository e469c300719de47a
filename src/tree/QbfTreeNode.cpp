// QbfTreeNode: node creation and attachment.

#include "tree/QbfTreeNode.h"

#include "formula/QbFormula.h"
#include "tree/QbfTree.h"

// Process-wide: node codes are unique within the process, which runs one instance.
int nodeCode = 0;

void QbfTreeNode_init(QbfTreeNode *node, QbfTree *tree, char quantifier, int variable, bool takeCode) {
  node->code = takeCode ? nodeCode++ : -1;
  node->quantifier = quantifier;
  node->variable = variable;
  node->father = node->firstChild = node->nextBrother = nullptr;
  node->clauseListSize = 0;
  node->clauses = nullptr;
  if (QbfTreeNode_isRoot(node)) return; // no variable, no clauses
  node->clauses = QbFormula_getListOfClausesAtQuantifier(QbfTree_getQbFormula(tree), variable);
  for (QbfClause *c = node->clauses; c; c = QbfClause_getNextAtQuantifier(c)) node->clauseListSize++;
}

QbfTreeNode *QbfTreeNode_new(QbfTree *tree, char quantifier, int variable) {
  QbfTreeNode *node = QbfTree_allocNode(tree);
  QbfTreeNode_init(node, tree, quantifier, variable);
  return node;
}

void QbfTreeNode_setFather(QbfTreeNode *child, QbfTreeNode *father) {
  child->father = father;
  child->nextBrother = father->firstChild;
  father->firstChild = child;
}

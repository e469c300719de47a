// QbfTreeNode: node creation, attachment and dependency merging.

#include "tree/QbfTreeNode.h"

#include <cstdlib>

#include "formula/QbFormula.h"
#include "run/AbnormalExit.h"
#include "tree/QbfTree.h"

int nodeCode = 0;

namespace {
constexpr int SITE_MERGE = 142;
} // namespace

void QbfTreeNode_init(QbfTreeNode *node, QbfTree *tree, char quantifier, int variable) {
  node->code = nodeCode++;
  node->quantifier = quantifier;
  node->variable = variable;
  node->father = node->firstChild = node->nextBrother = nullptr;
  node->clauseListSize = 0;
  node->clauses = nullptr;
  node->dependencies = nullptr;
  node->dependenciesSize = 0;
  if (variable < 1) return;
  QbFormula *formula = QbfTree_getQbFormula(tree);
  node->clauses = QbFormula_getListOfClausesAtQuantifier(formula, variable);
  for (QbfClause *c = node->clauses; c; c = QbfClause_getNextAtQuantifier(c)) node->clauseListSize++;
  if (node->clauses) {
    int n = 0;
    node->dependencies = QbFormula_getDependenciesOfClausesAttachedAtQuantifier(formula, variable, &n);
    node->dependenciesSize = n - 1;
  }
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

void mergeDependencyLists(int *a, int na, int *b, int nb, int **result, int *resultSize) {
  int *s = a, *l = b;
  int ns = na, nl = nb;
  if (na > nb) {
    s = b, ns = nb;
    l = a, nl = na;
  }
  int common = 0;
  for (int i = 0, j = 0; i < ns && j < nl;) {
    if (s[i] == l[j]) {
      common++;
      i++;
      j++;
    } else if (s[i] < l[j]) {
      i++;
    } else {
      j++;
    }
  }
  if (common == ns) {
    *result = l;
    *resultSize = nl;
    return;
  }
  int n = ns + nl - common;
  auto *merged = static_cast<int *>(checkedMalloc(sizeof(int) * static_cast<std::size_t>(n), SITE_MERGE, "QbfTreeNode"));
  int i = 0, j = 0, k = 0;
  while (i < ns && j < nl) {
    if (s[i] == l[j]) {
      merged[k++] = s[i++];
      j++;
    } else if (s[i] < l[j]) {
      merged[k++] = s[i++];
    } else {
      merged[k++] = l[j++];
    }
  }
  while (i < ns) merged[k++] = s[i++];
  while (j < nl) merged[k++] = l[j++];
  std::free(a);
  std::free(b);
  *result = merged;
  *resultSize = n;
}

void QbfTreeNode_addDependenciesFromNode(QbfTreeNode *node, QbfTreeNode *child) {
  int *childSet = child->dependencies;
  int *nodeSet = node->dependencies;
  int *merged = nullptr;
  int size = 0;
  mergeDependencyLists(childSet, child->dependenciesSize - 1, nodeSet, node->dependenciesSize, &merged, &size);
  // When one set contained the other, the merge kept the larger array and
  // left the smaller one alone: that one has no owner any more.
  if (merged == childSet && nodeSet != childSet) std::free(nodeSet);
  if (merged == nodeSet && childSet != nodeSet) std::free(childSet);
  node->dependencies = merged;
  node->dependenciesSize = size;
  child->dependencies = nullptr;
}

void QbfTreeNode_delete(QbfTreeNode *node) {
  std::free(node->dependencies);
  node->dependencies = nullptr;
}

// The quantifier tree's defining properties, checked on thousands of
// generated formulas: each clause sits at the node of its deepest variable,
// each node hangs below the node (or a copy) of the deepest outer variable its
// subtree depends on, every copy of a universal has one child, the codes
// follow the rules of their making, and every measure equals a plain recount.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "Support.h"
#include "base/RunStatus.h"
#include "formula/QbFormula.h"
#include "normalize/QbFormulaNormalize.h"
#include "qdimacs/Qdimacs.h"
#include "storage/Memory.h"
#include "tree/QbfTree.h"

namespace {

// A random formula: a few variables left free, short universal blocks,
// clauses over nearby variables.
std::string randomFormula(std::mt19937 &rng) {
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  int vars = 1 + below(30);
  int clauses = below(3 * vars + 1);
  std::ostringstream text;
  text << "p cnf " << std::max(1, vars - below(4)) << ' ' << clauses << '\n';
  std::vector<int> order(static_cast<std::size_t>(vars));
  for (int v = 0; v < vars; v++) order[static_cast<std::size_t>(v)] = v + 1;
  std::shuffle(order.begin(), order.end(), rng);
  int quantified = vars - below(vars / 3 + 1);
  for (int at = 0, universal = below(2); at < quantified; universal = !universal) {
    text << (universal ? 'a' : 'e');
    for (int i = 0, block = universal ? 1 + below(2) : 1 + below(5); i < block && at < quantified; i++)
      text << ' ' << order[static_cast<std::size_t>(at++)];
    text << " 0\n";
  }
  for (int c = 0; c < clauses; c++) {
    for (int i = 0, centre = 1 + below(vars), length = 1 + below(5); i < length; i++)
      text << (below(2) ? "-" : "") << std::clamp(centre + below(7) - 3, 1, vars) << ' ';
    text << "0\n";
  }
  return text.str();
}

QbFormula *parse(const test::ScratchDir &dir, const std::string &text) {
  test::writeFile(dir.file("f.qdimacs"), text);
  LINE_BUFSIZE = INITIAL_LINE_BUFSIZE;
  nodeCode = 0;
  VEXT_reset();
  Memory_flush();
  return Qdimacs_parseFile(dir.file("f.qdimacs").c_str()).formula;
}

struct Recount {
  int existential = 0, universal = 0, leaves = 0, depth = 0, maxDelta = 0, components = 0;
  double deltaSum = 0;
  long double disjoint = 0;
};

// Recounts the measures, and checks the father rule of every node below n;
// vars gets the variables of the clauses of n's subtree.
void walk(QbfTreeNode *n, int depth, int universalsAbove, bool existentialAbove, Recount &r, std::set<int> &vars,
          const std::string &text) {
  r.depth = std::max(r.depth, depth);
  bool isE = n->quantifier == 'e', isA = n->quantifier == 'a';
  if (isE) {
    r.existential++;
    r.deltaSum += universalsAbove;
    r.maxDelta = std::max(r.maxDelta, universalsAbove);
    if (!existentialAbove) r.components++, r.disjoint += std::ldexp(1.0L, universalsAbove);
  }
  r.universal += isA;
  r.leaves += n->firstChild == nullptr;
  for (QbfClause *c = n->clauses; c; c = QbfClause_getNextAtQuantifier(c))
    for (int i = 0; i < c->size; i++) vars.insert(std::abs(QbfClause_getLiteral(c, i)));
  int children = 0;
  for (QbfTreeNode *child = n->firstChild; child; child = child->nextBrother, children++) {
    EXPECT_EQ(child->father, n) << text;
    std::set<int> below;
    walk(child, depth + 1, universalsAbove + isA, existentialAbove || isE, r, below, text);
    int deepestOuter = 0;
    for (int w : below)
      if (w < child->variable) deepestOuter = std::max(deepestOuter, w);
    EXPECT_EQ(n->variable, deepestOuter ? deepestOuter : -1) << "father of node " << child->code << "\n" << text;
    vars.insert(below.begin(), below.end());
  }
  if (isA) {
    EXPECT_EQ(children, 1) << "a copy of a universal has one child\n" << text;
  }
}

void checkTree(QbfTree *t, QbFormula *f, const std::string &text) {
  Recount r;
  std::set<int> vars;
  QbfTreeNode *root = QbfTree_getRoot(t);
  walk(root, 1, 0, false, r, vars, text);
  // Existential nodes take codes 0.. in code order, the root the next one,
  // copies the codes after it; each clause sits at its deepest variable's node.
  int existential = 0;
  for (int v = 1; v < QbFormula_getVarNumber(f); v++) {
    if (QbFormula_getQuantifierType(f, v) != 'e') {
      EXPECT_EQ(QbFormula_getListOfClausesAtQuantifier(f, v), nullptr) << "forall reduction left a clause\n" << text;
      continue;
    }
    QbfTreeNode *node = t->nodeForVar[static_cast<std::size_t>(v)];
    EXPECT_EQ(node->code, existential++) << text;
    EXPECT_EQ(node->clauses, QbFormula_getListOfClausesAtQuantifier(f, v)) << text;
    for (QbfClause *c = node->clauses; c; c = QbfClause_getNextAtQuantifier(c))
      EXPECT_EQ(QbfClause_getDeepestVarCode(c), v) << text;
    bool inTree = node->father || node->firstChild;
    EXPECT_EQ(inTree, node->father != nullptr) << text;
  }
  EXPECT_EQ(root->code, existential) << text;
  EXPECT_EQ(QbfTree_getDepth(t), r.depth) << text;
  EXPECT_EQ(QbfTree_getNumBranches(t), r.leaves) << text;
  EXPECT_EQ(QbfTree_getExistentialNodes(t), r.existential) << text;
  EXPECT_EQ(QbfTree_getUniversalNodes(t), r.universal) << text;
  EXPECT_EQ(QbfTree_getMaxUniversalDepth(t), r.maxDelta) << text;
  EXPECT_EQ(QbfTree_getNumberOfDisconnectableComponents(t), r.components) << text;
  char disjoint[64];
  std::snprintf(disjoint, sizeof disjoint, "%.0Lf", r.disjoint);
  EXPECT_EQ(QbfTree_getNumberOfDisjointSubformulas(t), disjoint) << text;
  if (r.existential)
    EXPECT_DOUBLE_EQ(QbfTree_getAverageUniversalDepth(t), r.deltaSum / r.existential) << text;
  else
    EXPECT_TRUE(std::isnan(QbfTree_getAverageUniversalDepth(t))) << text;
}

TEST(Invariants, HoldOnGeneratedFormulas) {
  test::ScratchDir dir;
  std::mt19937 rng(20261207);
  int built = 0;
  for (int round = 0; round < 3000 && !HasFailure(); round++) {
    std::string text = randomFormula(rng);
    QbFormula *f = parse(dir, text);
    ASSERT_NE(f, nullptr) << text;
    // A clause of universals only would end the process in forall reduction.
    bool universalOnly = false;
    for (int v = 1; v < QbFormula_getVarNumber(f); v++)
      for (QbfClause *c = QbFormula_getListOfClausesAtQuantifier(f, v); c; c = QbfClause_getNextAtQuantifier(c))
        universalOnly = universalOnly || std::none_of(c->literals(), c->literals() + c->size, [&](int lit) {
                          return QbFormula_getQuantifierType(f, std::abs(lit)) == 'e';
                        });
    if (!universalOnly) {
      QbFormulaNormalize_forAllReduction(f);
      QbfTree *t = QbfTree_new(f);
      checkTree(t, f, text);
      QbfTree_delete(t);
      built++;
    }
    QbFormula_delete(f);
  }
  EXPECT_GT(built, 800);
}

} // namespace

// The quantifier tree: construction, dependency merging, measures, and its
// invariants on many generated formulas.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "FormulaSupport.h"
#include "TestSupport.h"
#include "formula/QbFormula.h"
#include "normalize/QbFormulaNormalize.h"
#include "tree/QbfTree.h"

using test::describeTree;
using test::parseText;

namespace {

struct Built {
  QbFormula *formula = nullptr;
  QbfTree *tree = nullptr;
  ~Built() {
    QbfTree_delete(tree);
    QbFormula_delete(formula);
  }
};

void build(Built &b, const std::string &text) {
  b.formula = parseText(text);
  ASSERT_NE(b.formula, nullptr);
  QbFormulaNormalize_forAllReduction(b.formula);
  b.tree = QbfTree_new(b.formula, 1);
}

std::string summary(QbfTree *t) {
  testing::internal::CaptureStdout();
  QbfTree_printTarnuData(t);
  std::fflush(stdout);
  std::string text = testing::internal::GetCapturedStdout();
  std::size_t at = text.find("  Components");
  return text.substr(at);
}

std::string measures(int components, const char *d, int depth, int e, int a, int branches, int max, const char *avg) {
  char text[512];
  std::snprintf(text, sizeof text,
                "  Components: %i\nD-Components: %s\n       Depth: %i\nEXISTS nodes: %i\nFORALL nodes: %i\n"
                "    Branches: %i\n   Delta MAX: %i\n   Delta AVG: %s\n--------------------\n",
                components, d, depth, e, a, branches, max, avg);
  return text;
}

TEST(Construction, WorkedExample) {
  Built b;
  build(b, "p cnf 4 2\ne 1 0\na 2 0\ne 3 4 0\n1 2 3 0\n1 2 4 0\n");
  EXPECT_EQ(describeTree(b.tree), "r3(e0[1](a4[2](e2[4]+1) a5[2](e1[3]+1)))");
  EXPECT_EQ(summary(b.tree), measures(1, "1", 4, 3, 2, 2, 1, "0.67"));
}

TEST(Construction, TwoExistentialsOnOneUniversalGetACopyEach) {
  Built b;
  build(b, "p cnf 3 2\na 1 0\ne 2 3 0\n1 2 0\n1 3 0\n");
  EXPECT_EQ(describeTree(b.tree), "r2(a3[1](e1[3]+1) a4[1](e0[2]+1))") << "the copy made last is placed first";
  EXPECT_EQ(summary(b.tree), measures(2, "4", 3, 2, 2, 2, 1, "1.00"));
}

TEST(Construction, ChainOfCopies) {
  Built b;
  build(b, "p cnf 3 1\na 1 2 0\ne 3 0\n1 2 3 0\n");
  EXPECT_EQ(describeTree(b.tree), "r1(a3[1](a2[2](e0[3]+1)))");
  EXPECT_EQ(summary(b.tree), measures(1, "4", 4, 1, 2, 1, 2, "2.00"));
}

TEST(Construction, RootAloneAndNodesLeftOut) {
  Built b;
  build(b, "p cnf 0 0\n");
  EXPECT_EQ(describeTree(b.tree), "r0");
  EXPECT_EQ(summary(b.tree), measures(0, "0", 1, 0, 0, 1, 0, "nan"));
  Built c;
  // 2 has no clause and no child: it stays out but consumed code 1.
  build(c, "p cnf 3 1\ne 1 2 3 0\n1 3 0\n");
  EXPECT_EQ(describeTree(c.tree), "r3(e0[1](e2[3]+1))");
}

TEST(Construction, IndependentPartsAreSeparateBranches) {
  Built b;
  build(b, "p cnf 4 4\ne 1 2 3 4 0\n1 2 0\n3 4 0\n-3 -4 0\n2 0\n");
  EXPECT_EQ(describeTree(b.tree), "r4(e0[1](e1[2]+2) e2[3](e3[4]+2))") << "children in reverse order of attachment";
  EXPECT_EQ(summary(b.tree), measures(2, "2", 3, 4, 0, 2, 0, "0.00"));
}

TEST(Measures, DComponentsAreExactBeyond32Bits) {
  for (int universals : {30, 31, 32, 63, 64, 100, 2000}) {
    Built b;
    build(b, test::universalsAboveOneExistential(universals));
    // 2^universals in decimal, computed with doubles where they are exact.
    std::string d = QbfTree_getNumberOfDisjointSubformulas(b.tree);
    if (universals <= 64) {
      char expected[32];
      std::snprintf(expected, sizeof expected, "%.0f", std::ldexp(1.0, universals));
      EXPECT_EQ(d, expected);
    } else if (universals == 100) {
      EXPECT_EQ(d, "1267650600228229401496703205376");
    } else {
      EXPECT_EQ(d.size(), 603u) << "2^2000 has 603 digits";
      EXPECT_EQ(d.substr(0, 6), "114813");
    }
    EXPECT_EQ(QbfTree_getDepth(b.tree), universals + 2);
  }
}

// Random formulas of many shapes, for the invariants below.
std::string randomFormula(std::mt19937 &rng) {
  std::uniform_int_distribution<int> pick(0, 1 << 30);
  auto below = [&](int n) { return pick(rng) % n; };
  int vars = 1 + below(30);
  int declared = std::max(1, vars - below(4));
  std::ostringstream text;
  int clauses = below(3 * vars + 1);
  text << "p cnf " << declared << ' ' << clauses << '\n';
  // Some variables stay out of the prefix (free).
  std::vector<int> order(static_cast<std::size_t>(vars));
  for (int v = 0; v < vars; v++) order[static_cast<std::size_t>(v)] = v + 1;
  std::shuffle(order.begin(), order.end(), rng);
  int quantified = vars - below(vars / 3 + 1);
  int at = 0;
  bool universal = below(2) == 0;
  while (at < quantified) {
    // Short universal blocks: fewer clauses of universals only.
    int block = universal ? 1 + below(2) : 1 + below(5);
    text << (universal ? 'a' : 'e');
    for (int i = 0; i < block && at < quantified; i++) text << ' ' << order[static_cast<std::size_t>(at++)];
    text << " 0\n";
    universal = !universal;
  }
  for (int c = 0; c < clauses; c++) {
    int length = 1 + below(5);
    int centre = 1 + below(vars);
    for (int i = 0; i < length; i++) {
      int v = std::clamp(centre + below(7) - 3, 1, vars);
      text << (below(2) ? "-" : "") << v << ' ';
    }
    text << "0\n";
  }
  return text.str();
}

struct Recount {
  int existential = 0, universal = 0, leaves = 0, depth = 0, maxDelta = 0, components = 0;
  double deltaSum = 0;
  long double disjoint = 0;
};

void recount(QbfTreeNode *n, int depth, int universalsAbove, bool existentialAbove, Recount &r) {
  r.depth = std::max(r.depth, depth);
  bool isE = QbfTreeNode_getQuantifier(n) == 'e';
  bool isA = QbfTreeNode_getQuantifier(n) == 'a';
  if (isE) {
    r.existential++;
    r.deltaSum += universalsAbove;
    r.maxDelta = std::max(r.maxDelta, universalsAbove);
    if (!existentialAbove) {
      r.components++;
      r.disjoint += std::ldexp(1.0L, universalsAbove);
    }
  }
  if (isA) r.universal++;
  if (!QbfTreeNode_getFirstChild(n)) r.leaves++;
  for (QbfTreeNode *c = QbfTreeNode_getFirstChild(n); c; c = QbfTreeNode_getNextBrother(c))
    recount(c, depth + 1, universalsAbove + (isA ? 1 : 0), existentialAbove || isE, r);
}

// The variables of the clauses in n's subtree.
void subtreeVariables(QbfTreeNode *n, std::set<int> &vars, int &copies, int &badCopies) {
  for (QbfClause *c = QbfTreeNode_getListOfClausesAtThisNode(n); c; c = QbfClause_getNextAtQuantifier(c))
    for (int i = 0; i < QbfClause_getSize(c); i++) vars.insert(std::abs(QbfClause_getLiteral(c, i)));
  int children = 0;
  for (QbfTreeNode *c = QbfTreeNode_getFirstChild(n); c; c = QbfTreeNode_getNextBrother(c)) {
    children++;
    subtreeVariables(c, vars, copies, badCopies);
  }
  if (QbfTreeNode_getQuantifier(n) == 'a') {
    copies++;
    if (children != 1) badCopies++;
  }
}

void checkInvariants(QbfTree *t, QbFormula *f, const std::string &text) {
  QbfTreeNode *root = QbfTree_getRoot(t);
  std::map<int, QbfTreeNode *> existentialNode;
  std::vector<QbfTreeNode *> all;
  std::vector<QbfTreeNode *> stack{root};
  while (!stack.empty()) {
    QbfTreeNode *n = stack.back();
    stack.pop_back();
    all.push_back(n);
    for (QbfTreeNode *c = QbfTreeNode_getFirstChild(n); c; c = QbfTreeNode_getNextBrother(c)) {
      EXPECT_EQ(QbfTreeNode_getFather(c), n) << text;
      stack.push_back(c);
    }
  }
  int existentialCount = 0;
  for (int v = 1; v < QbFormula_getVarNumber(f); v++)
    if (QbFormula_getQuantifierType(f, v) == 'e') existentialCount++;
  for (QbfTreeNode *n : all) {
    int v = QbfTreeNode_getVariable(n);
    if (n == root) {
      EXPECT_EQ(QbfTreeNode_getCode(n), existentialCount) << "the root follows the existential nodes";
      continue;
    }
    EXPECT_EQ(QbfTreeNode_getQuantifier(n), QbFormula_getQuantifierType(f, v)) << text;
    if (QbfTreeNode_getQuantifier(n) == 'e') {
      EXPECT_EQ(existentialNode.count(v), 0u) << "one node per existential variable\n" << text;
      existentialNode[v] = n;
      EXPECT_LT(QbfTreeNode_getCode(n), existentialCount) << text;
    } else {
      EXPECT_GT(QbfTreeNode_getCode(n), existentialCount) << "copies are made after the root\n" << text;
    }
    // Its father is the node (or a copy) of its deepest outer dependency.
    std::set<int> vars;
    int copies = 0, badCopies = 0;
    subtreeVariables(n, vars, copies, badCopies);
    int deepestOuter = 0;
    for (int w : vars)
      if (w < v) deepestOuter = std::max(deepestOuter, w);
    QbfTreeNode *father = QbfTreeNode_getFather(n);
    if (deepestOuter == 0)
      EXPECT_EQ(father, root) << text;
    else
      EXPECT_EQ(QbfTreeNode_getVariable(father), deepestOuter) << text;
    EXPECT_EQ(badCopies, 0) << "every copy has exactly one child\n" << text;
  }
  // Every clause hangs at the node of its deepest variable.
  for (int v = 1; v < QbFormula_getVarNumber(f); v++) {
    QbfClause *clauses = QbFormula_getListOfClausesAtQuantifier(f, v);
    if (!clauses) continue;
    ASSERT_EQ(QbFormula_getQuantifierType(f, v), 'e') << "forall reduction leaves no clause at a universal\n" << text;
    ASSERT_EQ(existentialNode.count(v), 1u) << text;
    EXPECT_EQ(QbfTreeNode_getListOfClausesAtThisNode(existentialNode[v]), clauses) << text;
  }
  Recount r;
  recount(root, 1, 0, false, r);
  EXPECT_EQ(QbfTree_getDepth(t), r.depth) << text;
  EXPECT_EQ(QbfTree_getNumBranches(t), r.leaves) << text;
  EXPECT_EQ(QbfTree_getExistentialNodes(t), r.existential) << text;
  EXPECT_EQ(QbfTree_getUniversalNodes(t), r.universal) << text;
  EXPECT_EQ(QbfTree_getMaxUniversalDepth(t), r.maxDelta) << text;
  EXPECT_EQ(QbfTree_getNumberOfDisconnectableComponents(t), r.components) << text;
  char disjoint[64];
  std::snprintf(disjoint, sizeof disjoint, "%.0Lf", r.disjoint);
  EXPECT_EQ(QbfTree_getNumberOfDisjointSubformulas(t), std::string(disjoint)) << text;
  if (r.existential)
    EXPECT_DOUBLE_EQ(QbfTree_getAverageUniversalDepth(t), r.deltaSum / r.existential) << text;
  else
    EXPECT_TRUE(std::isnan(QbfTree_getAverageUniversalDepth(t)));
}

TEST(Invariants, HoldOnGeneratedFormulas) {
  std::mt19937 rng(20261206);
  int built = 0;
  for (int round = 0; round < 3000; round++) {
    std::string text = randomFormula(rng);
    QbFormula *f = parseText(text);
    ASSERT_NE(f, nullptr) << text;
    // Skip formulas with a clause of universals only: forall reduction ends
    // the process on them.
    bool universalOnly = false;
    for (int v = 1; v < QbFormula_getVarNumber(f) && !universalOnly; v++)
      for (QbfClause *c = QbFormula_getListOfClausesAtQuantifier(f, v); c; c = QbfClause_getNextAtQuantifier(c)) {
        bool any = false;
        for (int i = 0; i < QbfClause_getSize(c); i++)
          any = any || QbFormula_getQuantifierType(f, std::abs(QbfClause_getLiteral(c, i))) == 'e';
        universalOnly = universalOnly || !any;
      }
    if (universalOnly) {
      QbFormula_delete(f);
      continue;
    }
    QbFormulaNormalize_forAllReduction(f);
    QbfTree *t = QbfTree_new(f, 1);
    checkInvariants(t, f, text);
    QbfTree_delete(t);
    QbFormula_delete(f);
    built++;
    if (HasFailure()) break;
  }
  EXPECT_GT(built, 800);
}

} // namespace

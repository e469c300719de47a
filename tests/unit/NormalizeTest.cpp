// Unit propagation, pure literals, forall reduction and their fixpoint.

#include <gtest/gtest.h>

#include <unistd.h>

#include "FormulaSupport.h"
#include "formula/QbFormula.h"
#include "normalize/QbFormulaNormalize.h"
#include "run/RunStatus.h"

using test::describeClauses;
using test::parseText;

namespace {

struct Normalized {
  int result = -1;
  int outcome = -1;
  int clauses = -1;
  std::string left;
};

Normalized normalize(const std::string &text) {
  Normalized n;
  QbFormula *f = parseText(text);
  EXPECT_NE(f, nullptr) << text;
  if (!f) return n;
  n.result = QbFormula_normalize(f);
  n.outcome = VEXT_getOutcome();
  n.clauses = QbFormula_getClauseNumber(f);
  n.left = describeClauses(f);
  QbFormula_delete(f);
  return n;
}

TEST(Fixpoint, PureLiteralsComeBeforeUnitClauses) {
  Normalized n = normalize("p cnf 1 1\ne 1 0\n1 0\n");
  EXPECT_EQ(n.result, 1);
  EXPECT_EQ(n.outcome, 3) << "the unit clause's literal is pure: PLE decides, not UCP";
  EXPECT_EQ(n.clauses, 0);
}

TEST(Fixpoint, UnitPropagationEmptiesTheMatrix) {
  Normalized n = normalize("p cnf 2 3\ne 1 2 0\n1 0\n-1 2 0\n-2 1 0\n");
  EXPECT_EQ(n.result, 1);
  EXPECT_EQ(n.outcome, 2);
  EXPECT_EQ(n.clauses, 0);
}

TEST(Fixpoint, UniversalUnitClause) {
  Normalized n = normalize("p cnf 2 3\na 1 0\ne 2 0\n1 0\n-1 2 0\n-1 -2 0\n");
  EXPECT_EQ(n.result, 1);
  EXPECT_EQ(n.outcome, 7);
}

TEST(Fixpoint, ForallReductionThenUnitPropagationReachesTheEmptyClause) {
  Normalized n = normalize("p cnf 2 2\ne 1 0\na 2 0\n1 2 0\n-1 -2 0\n");
  EXPECT_EQ(n.result, 1);
  EXPECT_EQ(n.outcome, 8);
}

TEST(Fixpoint, NothingApplies) {
  Normalized n = normalize("p cnf 2 2\ne 1 2 0\n1 2 0\n-1 -2 0\n");
  EXPECT_EQ(n.result, 0);
  EXPECT_EQ(n.outcome, 0);
  EXPECT_EQ(n.left, "{-1,-2} {1,2}") << "a list holds the clause created last first";
}

TEST(Fixpoint, ADecidedOutcomeStopsAfterTheFirstRuleThatApplies) {
  // The empty clause of the input sets outcome 6; 3 is pure, and once it is
  // gone nothing else would apply anyway.
  Normalized n = normalize("p cnf 3 4\ne 1 2 3 0\n1 2 0\n-1 -2 0\n1 3 0\n0\n");
  EXPECT_EQ(n.result, 1);
  EXPECT_EQ(n.outcome, 6);
  EXPECT_EQ(n.left, "{-1,-2} {1,2}");
  n = normalize("p cnf 2 3\ne 1 2 0\n1 2 0\n-1 -2 0\n0\n");
  EXPECT_EQ(n.result, 0);
  EXPECT_EQ(n.outcome, 6);
}

TEST(Fixpoint, PureLiteralsAreTakenHighestCodeFirst) {
  // 3 and 1 are pure; 3 goes first and leaves {1,2},{-2}: 1 is still pure,
  // and then -2 becomes so, which empties the matrix.
  Normalized n = normalize("p cnf 3 3\ne 1 2 3 0\n1 2 3 0\n-2 0\n1 -3 3 0\n");
  EXPECT_EQ(n.result, 1);
  EXPECT_EQ(n.outcome, 3);
}

TEST(Fixpoint, UniversalPureLiteralEmptyingAClauseIsAnAbnormalExit) {
  EXPECT_EXIT(
      {
        dup2(2, 1);
        normalize("p cnf 1 1\na 1 0\n1 0\n");
      },
      testing::ExitedWithCode(255),
      "\\[Abnormal exit due to error \"UNSAT_FOR_QBF_UNIVERSAL_PURE_LITERAL_ELIMINATION\" at line 236, file "
      "\"QbFormulaNormalize\"\\]");
}

TEST(ForallReduction, StripsTrailingUniversalsAndReattaches) {
  QbFormula *f = parseText("p cnf 5 3\ne 1 0\na 2 3 0\ne 4 0\na 5 0\n1 2 3 0\n2 4 5 0\n-1 4 0\n");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(QbFormulaNormalize_forAllReduction(f), 1);
  // {2,4} comes to the head of the list of 4, before {-1,4}.
  EXPECT_EQ(describeClauses(f), "{1} {2,4} {-1,4}");
  EXPECT_EQ(QbFormulaNormalize_forAllReduction(f), 0);
  QbFormula_delete(f);
}

TEST(ForallReduction, AClauseOfUniversalsOnlyIsAnAbnormalExit) {
  EXPECT_EXIT(
      {
        dup2(2, 1);
        QbFormula *f = parseText("p cnf 3 2\ne 3 0\na 1 2 0\n3 1 0\n1 2 0\n");
        QbFormulaNormalize_forAllReduction(f);
      },
      testing::ExitedWithCode(255),
      "\\[Abnormal exit due to error \"UNSAT_FOR_QBF_FORALL_REDUCTION\" at line 298, file \"QbFormulaNormalize\"\\]");
}

} // namespace

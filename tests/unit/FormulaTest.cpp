// Variable coding, clause storage and attachment, the dependency computation,
// literal removal and the formula summary.

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>
#include <vector>

#include "FormulaSupport.h"
#include "formula/QbFormula.h"
#include "normalize/QbFormulaNormalize.h"
#include "storage/Memory.h"

using test::describeClauses;
using test::describePrefix;
using test::parseText;

namespace {

std::vector<int> dependencies(QbFormula *f, int code) {
  int count = -1;
  int *deps = QbFormula_getDependenciesOfClausesAttachedAtQuantifier(f, code, &count);
  std::vector<int> out(deps, deps + count);
  if (!deps) {
    EXPECT_EQ(count, 0);
  }
  std::free(deps);
  return out;
}

std::string summary(QbFormula *f) {
  testing::internal::CaptureStdout();
  QbFormula_printData(f);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(Coding, FollowsThePrefixInFileOrder) {
  QbFormula *f = parseText("p cnf 3 1\ne 3 1 0\na 2 0\n2 -3 0\n");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(describePrefix(f), "e3 e1 a2");
  QbfClause *c = QbFormula_getListOfClausesAtQuantifier(f, 3);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(QbfClause_getSize(c), 2);
  EXPECT_EQ(QbfClause_getLiteral(c, 0), -1);
  EXPECT_EQ(QbfClause_getLiteral(c, 1), 3);
  EXPECT_EQ(QbfClause_getDeepestVarCode(c), 3);
  EXPECT_STREQ(QbfClause_getPrintedVersion(f, c, 1), "{-3,2}");
  EXPECT_EQ(QbFormula_litCodeToOriginalLitCode(f, -2), -1);
  QbFormula_delete(f);
}

TEST(Coding, FreeVariablesAreOutermostTheLastMetFirst) {
  // 7 is met first, then 9: 9 gets code 1, 7 code 2, the prefix 3 to 5.
  QbFormula *f = parseText("p cnf 9 3\ne 1 2 3 0\n1 7 0\n-9 2 0\n7 9 -3 0\n");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(describePrefix(f), "e9 e7 e1 e2 e3");
  EXPECT_EQ(QbFormula_getVarNumber(f), 6);
  // {1,7} hangs at 1 (code 3), {-9,2} at 2, {9,7,-3} at 3: codes sort 9 < 7 < 3.
  EXPECT_EQ(describeClauses(f), "{7,1} {-9,2} {9,7,-3}");
  QbFormula_delete(f);
}

TEST(Coding, AVariableQuantifiedTwiceTakesAFurtherCode) {
  QbFormula *f = parseText("p cnf 2 1\ne 1 2 0\na 1 0\n1 2 0\n");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(describePrefix(f), "e1 e2 a1");
  // The clause uses the later code of 1 (3), so it hangs there.
  EXPECT_EQ(QbFormula_getListOfClausesAtQuantifier(f, 3) != nullptr, true);
  EXPECT_EQ(describeClauses(f), "{2,1}");
  QbFormula_delete(f);
}

TEST(Attachment, ListsHoldClausesInReverseCreationOrder) {
  QbFormula *f = parseText("p cnf 3 4\ne 1 2 3 0\n1 3 0\n2 0\n-1 -3 0\n2 -3 0\n");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(describeClauses(f), "{2} {2,-3} {-1,-3} {1,3}");
  EXPECT_EQ(QbFormula_getClauseNumber(f), 4);
  QbFormula_delete(f);
}

TEST(Summary, CountsBlocksOverCodes) {
  QbFormula *f = parseText("p cnf 4 5\na 1 2 0\ne 3 0\n4 3 0\n");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(summary(f), "\n---------QBF--------\n   variables: 4\n      FORALL: 2\n      EXISTS: 2\n"
                        "alternations: 2\n     clauses: 5");
  QbFormula_delete(f);
  f = parseText("p cnf 0 0\n");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(summary(f), "\n---------QBF--------\n   variables: 0\n      FORALL: 0\n      EXISTS: 0\n"
                        "alternations: -1\n     clauses: 0");
  QbFormula_delete(f);
}

TEST(Dependencies, ChainAndScanGiveTheSameSortedSet) {
  // 1000 declared variables in the default block (codes = numbers): the
  // codes at 700 and 900 lie too far apart to scan their span, so they are
  // chained and sorted; those at 50 span 11 entries, which are scanned.
  std::string text = "p cnf 1000 4\n700 -5 300 0\n900 -899 12 0\n-12 3 900 0\n-45 40 50 0\n";
  QbFormula *f = parseText(text);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(dependencies(f, 700), (std::vector<int>{5, 300, 700}));
  EXPECT_EQ(dependencies(f, 900), (std::vector<int>{3, 12, 899, 900}));
  EXPECT_EQ(dependencies(f, 50), (std::vector<int>{40, 45, 50}));
  // Both ways restore the borrowed block: the next borrower sees only -1s.
  EXPECT_EQ(dependencies(f, 700), (std::vector<int>{5, 300, 700}));
  EXPECT_EQ(dependencies(f, 900), (std::vector<int>{3, 12, 899, 900}));
  EXPECT_EQ(memory[0].inUse, 0);
  EXPECT_EQ(dependencies(f, 1), std::vector<int>{});
  QbFormula_delete(f);
  Memory_flush();
}

TEST(Resolution, KeepsAttachmentAndIndexesUpToDate) {
  QbFormula *f = parseText("p cnf 4 2\ne 1 2 3 4 0\n1 2 3 0\n2 4 0\n");
  ASSERT_NE(f, nullptr);
  QbFormulaNormalize_buildIndexes(f);
  QbfClause *c = QbFormula_getListOfClausesAtQuantifier(f, 3);
  QbfClause_resolveLiteral(f, c, 2); // middle: stays at 3
  EXPECT_EQ(describeClauses(f), "{1,3} {2,4}");
  QbfClause_resolveLastLiteral(f, c); // moves to 1 and becomes a unit clause
  EXPECT_EQ(QbFormula_getListOfClausesAtQuantifier(f, 3), nullptr);
  EXPECT_EQ(describeClauses(f), "{1} {2,4}");
  ASSERT_NE(f->unitClauses, nullptr);
  EXPECT_EQ(f->unitClauses->data.clause, c);
  EXPECT_EQ(f->unitClauses->next, nullptr);
  QbfClause_resolveLiteral(f, c, 1); // the only literal: empty, attached nowhere
  EXPECT_EQ(QbfClause_getSize(c), 0);
  EXPECT_EQ(describeClauses(f), "{2,4}");
  EXPECT_EQ(f->emptyClauseFound, 1);
  QbFormula_delete(f);
}

TEST(Resolution, MissingLiteralIsAnAbnormalExit) {
  QbFormula *f = parseText("p cnf 3 1\ne 1 2 3 0\n1 3 0\n");
  ASSERT_NE(f, nullptr);
  QbfClause *c = QbFormula_getListOfClausesAtQuantifier(f, 3);
  EXPECT_EXIT(
      {
        dup2(2, 1);
        QbfClause_resolveLiteral(f, c, 2);
      },
      testing::ExitedWithCode(255),
      "\\[Abnormal exit due to error \"The requested literal doesn't occur\" at line [0-9]+, file \"QbfClause\"\\]");
  QbFormula_delete(f);
}

TEST(PureLiterals, ListedHighestCodeFirstAndKeptCurrent) {
  // 1 only positive, 2 only negative, 3 in both signs.
  QbFormula *f = parseText("p cnf 3 3\ne 1 2 3 0\n1 3 0\n-2 -3 0\n1 -2 0\n");
  ASSERT_NE(f, nullptr);
  QbFormulaNormalize_buildIndexes(f);
  std::vector<int> pure;
  for (ListElem *e = f->pureLiterals; e; e = e->next) pure.push_back(e->data.lit);
  EXPECT_EQ(pure, (std::vector<int>{-2, 1}));
  // Deleting the last clause with +3 makes -3 pure, at the head.
  QbfClause *withPlus3 = QbfClause_getNextAtQuantifier(QbFormula_getListOfClausesAtQuantifier(f, 3));
  ASSERT_EQ(QbfClause_getLiteral(withPlus3, 1), 3);
  QbfClause_delete(f, withPlus3);
  EXPECT_EQ(f->pureLiterals->data.lit, -3);
  // Deleting the last clause with the other variables unlists them.
  QbfClause_delete(f, QbFormula_getListOfClausesAtQuantifier(f, 3));
  QbfClause_delete(f, QbFormula_getListOfClausesAtQuantifier(f, 2));
  EXPECT_EQ(f->pureLiterals, nullptr);
  QbFormula_delete(f);
}

TEST(UnitClauses, DeletedUnitClauseLeavesTheList) {
  QbFormula *f = parseText("p cnf 2 3\ne 1 2 0\n1 0\n2 0\n1 2 0\n");
  ASSERT_NE(f, nullptr);
  QbFormulaNormalize_buildIndexes(f);
  ASSERT_NE(f->unitClauses, nullptr);
  QbfClause *second = f->unitClauses->data.clause; // created last: at the head
  EXPECT_STREQ(QbfClause_getPrintedVersion(f, second, 1), "{2}");
  QbfClause_delete(f, second);
  ASSERT_NE(f->unitClauses, nullptr);
  EXPECT_STREQ(QbfClause_getPrintedVersion(f, f->unitClauses->data.clause, 1), "{1}");
  EXPECT_EQ(f->unitClauses->next, nullptr);
  QbFormula_delete(f);
}

} // namespace

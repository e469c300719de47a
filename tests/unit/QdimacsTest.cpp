// The reader: header, prefix and clause phases, number forms, the line-length
// restart, and the inputs it refuses with a reason.

#include <gtest/gtest.h>

#include <string>

#include "FormulaSupport.h"
#include "TestSupport.h"
#include "formula/QbFormula.h"
#include "qdimacs/Qdimacs.h"
#include "run/MemoryProbes.h"
#include "run/RunStatus.h"

using test::describeClauses;
using test::describePrefix;
using test::parseText;

namespace {

struct Parsed {
  bool ok = false;
  std::string prefix, clauses, error;
  int outcome = 0;
};

Parsed parse(const std::string &text) {
  Parsed p;
  QbFormula *f = parseText(text);
  p.outcome = VEXT_getOutcome();
  if (f) {
    p.ok = true;
    p.prefix = describePrefix(f);
    p.clauses = describeClauses(f);
    QbFormula_delete(f);
  } else if (const char *reason = Qdimacs_getParseError()) {
    p.error = reason;
  }
  return p;
}

void expectFormula(const std::string &text, const std::string &prefix, const std::string &clauses) {
  Parsed p = parse(text);
  ASSERT_TRUE(p.ok) << text << "\nerror: " << p.error;
  EXPECT_EQ(p.prefix, prefix) << text;
  EXPECT_EQ(p.clauses, clauses) << text;
}

void expectError(const std::string &text, const std::string &reason) {
  Parsed p = parse(text);
  EXPECT_FALSE(p.ok) << text;
  EXPECT_EQ(p.error, reason) << text;
}

TEST(Header, FilesWithoutProblemLineGiveNoFormulaAndNoReason) {
  for (const char *text : {"", "c only\nc comments\n", "\np cnf 1 1\n1 0\n", " p cnf 1 1\n1 0\n", "1 2 0\n",
                           "e 1 0\np cnf 1 1\n", "c\n\n"}) {
    Parsed p = parse(text);
    EXPECT_FALSE(p.ok) << text;
    EXPECT_EQ(p.error, "") << text;
  }
}

TEST(Header, CountsReadAsPercentI) {
  expectFormula("c x\npcnf2 1\n1 -2 0\n", "e1 e2", "{1,-2}");
  expectFormula("p  cnf\t0x2 01\n1 0\n", "e1 e2", "{1}");
}

TEST(Header, BadProblemLinesAreParseErrors) {
  expectError("p cnf 5\n", "line 1: the problem line needs two counts (p cnf VARIABLES CLAUSES)");
  expectError("c\np dnf 5 3\n", "line 2: the problem line needs two counts (p cnf VARIABLES CLAUSES)");
  expectError("p cnf x 3\n", "line 1: the problem line needs two counts (p cnf VARIABLES CLAUSES)");
  expectError("p cnf -1 3\n", "line 1: negative count in the problem line");
  expectError("p cnf 3 -3\n", "line 1: negative count in the problem line");
  expectError("p cnf 268435456 1\n", "line 1: 268435456 variables declared, at most 268435455 are allowed");
  expectError("p cnf 99999999999 1\n", "line 1: number 99999999999 does not fit in an int");
  expectFormula("p cnf 268435455 0\ne 1 0\n", "e1", "");
}

TEST(Prefix, NoQuantifierLineMakesOneExistentialBlockOfTheDeclaredVariables) {
  expectFormula("p cnf 3 1\n1 -3 0\n", "e1 e2 e3", "{1,-3}");
  // The end of the file right after the header: no block at all.
  expectFormula("p cnf 3 0\n", "", "");
}

TEST(Prefix, ZerosAreDroppedWhereverTheyStand) {
  expectFormula("p cnf 2 0\ne 1 0 2 0\n", "e1 e2", "");
  expectFormula("p cnf 2 0\ne 1 2\n", "e1 e2", "");
  expectFormula("p cnf 2 0\ne 0\na 2 1 0\n", "a2 a1", "");
  expectFormula("p cnf 2 0\nexists 1 x 2 0\n", "e1 e2", "");
}

TEST(Prefix, AnyWhiteSpaceSeparatesTokens) {
  expectFormula("p cnf 3 1\na\t1\t2\t0\ne 3 0\n1 2\t3 0\n", "a1 a2 e3", "{1,2,3}");
  expectFormula("p cnf 3 1\r\na 1 2 0\r\ne 3 0\r\n1 2 3 0\r\n", "a1 a2 e3", "{1,2,3}");
}

TEST(Prefix, CommentsAndBlankLinesDoNotEndIt) {
  expectFormula("p cnf 3 1\nc first\na 1 0\n\nc second\n   \ne 2 3 0\n1 2 3 0\n", "a1 e2 e3", "{1,2,3}");
}

TEST(Prefix, NegativeNumbersAreParseErrors) {
  expectError("p cnf 3 0\na 1 -2 0\n", "line 2: negative number -2 in a quantifier line");
}

TEST(Clauses, RepeatsDroppedTautologiesLeftOut) {
  expectFormula("p cnf 2 3\ne 1 2 0\n1 2 1 0\n1 -1 0\n2 1 -2 0\n", "e1 e2", "{1,2}");
  expectFormula("p cnf 2 1\ne 1 2 0\n1 2 0 3 0\n", "e1 e2", "{1,2}");
}

TEST(Clauses, LongClausesUseTheSeenTable) {
  std::string line, expected;
  for (int v = 1; v <= 40; v++) line += std::to_string(v) + " ";
  std::string repeated = line + "17 40 1 0\n";
  std::string tautology = line + "-30 0\n";
  Parsed p = parse("p cnf 40 2\n" + repeated + tautology);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(std::count(p.clauses.begin(), p.clauses.end(), '{'), 1);
  EXPECT_EQ(std::count(p.clauses.begin(), p.clauses.end(), ','), 39);
}

TEST(Clauses, ATokenThatIsNotANumberRepeatsThePreviousValue) {
  // Right after the first literal the value is still 0: the clause ends.
  expectFormula("p cnf 3 1\ne 1 2 3 0\n1 x 2 0\n", "e1 e2 e3", "{1}");
  expectFormula("p cnf 3 1\ne 1 2 3 0\n1 2 x 3 0\n", "e1 e2 e3", "{1,2,3}");
  expectFormula("p cnf 3 1\ne 1 2 3 0\n1 2abc 3 0\n", "e1 e2 e3", "{1,2,3}");
}

TEST(Clauses, NumberFormsOfPercentI) {
  expectFormula("p cnf 16 1\n010 0x10 -0X3 +1 0\n", "e1 e2 e3 e4 e5 e6 e7 e8 e9 e10 e11 e12 e13 e14 e15 e16",
                "{1,-3,8,16}");
  // "08" and "0x" read as 0: the clause ends there.
  expectFormula("p cnf 3 1\n1 08 2 0\n", "e1 e2 e3", "{1}");
  expectFormula("p cnf 3 1\n1 0x 2 0\n", "e1 e2 e3", "{1}");
  expectFormula("p cnf 3 1\n1 -0 2 0\n", "e1 e2 e3", "{1}");
}

TEST(Clauses, BlankAndCommentLinesAreSkipped) {
  expectFormula("p cnf 3 3\ne 1 2 3 0\n1 0\n\nc note\np cnf 3 3\na 2 0\n   \n2 0\n3 0\n", "e1 e2 e3", "{1} {2} {3}");
}

TEST(Clauses, AClauseEndsWithItsLine) {
  expectFormula("p cnf 3 2\ne 1 2 3 0\n1 2\n3 0\n", "e1 e2 e3", "{1,2} {3}");
}

TEST(Clauses, VariablesAboveTheDeclaredCountAreRead) {
  // 5 is free (existential, outermost); 7 is quantified beyond the count.
  expectFormula("p cnf 2 2\ne 1 0\na 7 0\n1 7 0\n5 1 0\n", "e5 e1 a7", "{5,1} {1,7}");
}

TEST(Clauses, EmptyClauseSetsOutcomeSixAndStopsLaterClauses) {
  Parsed p = parse("p cnf 2 3\ne 1 2 0\n1 0\n0\n2 0\n");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.clauses, "{1}");
  EXPECT_EQ(p.outcome, 6);
  // Numbers after the empty clause are still checked.
  expectError("p cnf 2 3\ne 1 2 0\n0\n2 99999999999 0\n", "line 4: number 99999999999 does not fit in an int");
}

TEST(Clauses, NumbersThatDoNotFitOrVariablesTooLargeAreParseErrors) {
  expectError("p cnf 1 1\n2147483648 0\n", "line 2: number 2147483648 does not fit in an int");
  expectError("p cnf 1 1\n1 4294967297 0\n", "line 2: number 4294967297 does not fit in an int");
  expectError("p cnf 1 1\n1 -2147483649 0\n", "line 2: number -2147483649 does not fit in an int");
  expectError("p cnf 1 1\n1 123456789012345678901234567890 0\n",
              "line 2: number 123456789012345678901234... does not fit in an int");
  expectError("p cnf 1 1\n-2147483648 0\n", "line 2: variable 2147483648 is too large");
  expectError("p cnf 1 1\n1 2147483647 0\n", "line 2: variable 2147483647 is too large");
  expectError("p cnf 1 1\n268435456 0\n", "line 2: variable 268435456 is too large");
  expectError("p cnf 1 0\na 1 300000000 0\n", "line 2: variable 300000000 is too large");
  expectError("p cnf 1 0\ne 0x100000000\n", "line 2: number 0x100000000 does not fit in an int");
  expectFormula("p cnf 1 1\n268435455 0\n", "e268435455 e1", "{268435455}");
}

TEST(Lines, NulEndsTheTextOfALine) {
  const char text[] = "p cnf 3 2\ne 1 2 3 0\n1 2\0 3 0\n3 0\n";
  expectFormula(std::string(text, sizeof text - 1), "e1 e2 e3", "{1,2} {3}");
}

TEST(Lines, MissingFileIsAParseErrorWithTheReason) {
  EXPECT_EQ(Qdimacs_parseFile("/nonexistent/x.qdimacs"), nullptr);
  EXPECT_STREQ(Qdimacs_getParseError(), "cannot open the file: No such file or directory");
}

std::string lineOf(std::size_t length) {
  // A comment line of exactly `length` characters, newline included.
  return "c" + std::string(length - 2, 'x') + "\n";
}

// Parses as an instance child does: status 12 first, then the reader.
void parseAsChild(const std::string &text, long &usedProbes, long &freeProbes) {
  test::ScratchDir dir;
  test::writeFile(dir.file("f.qdimacs"), text);
  LINE_BUFSIZE = INITIAL_LINE_BUFSIZE;
  VEXT_reset();
  long used = Memory_getUsedMemoryProbes(), freed = Memory_getFreeMemoryProbes();
  VEXT_setStatus(STATUS_INITIAL);
  QbFormula *f = Qdimacs_parseFile(dir.file("f.qdimacs").c_str());
  EXPECT_NE(f, nullptr);
  QbFormula_delete(f);
  usedProbes = Memory_getUsedMemoryProbes() - used;
  freeProbes = Memory_getFreeMemoryProbes() - freed;
}

TEST(Restart, ALineThatFillsTheLimitRestartsWithTheLimitDoubled) {
  long used = 0, freed = 0;
  // The change to status 12, the statistics' initialisation (free and used),
  // the change to status 0.
  parseAsChild("p cnf 1 1\n" + lineOf(999998) + "1 0\n", used, freed);
  EXPECT_EQ(LINE_BUFSIZE, 1000000);
  EXPECT_EQ(used, 3);
  EXPECT_EQ(freed, 1);
  // A restart initialises the statistics again; status 0 is no change.
  parseAsChild("p cnf 1 1\n" + lineOf(999999) + "1 0\n", used, freed);
  EXPECT_EQ(LINE_BUFSIZE, 2000000);
  EXPECT_EQ(used, 4);
  EXPECT_EQ(freed, 2);
  // Setting the same status again probes nothing.
  long before = Memory_getUsedMemoryProbes();
  VEXT_setStatus(VEXT_getStatus());
  EXPECT_EQ(Memory_getUsedMemoryProbes(), before);
}

TEST(Restart, LongLinesReadTheSameAsShortOnes) {
  std::string quantified, clause;
  for (int v = 1; v <= 400000; v++) quantified += " " + std::to_string(v);
  for (int v = 1; v <= 700000; v += 2) clause += std::to_string(v) + " ";
  Parsed p = parse("p cnf 400000 1\na" + quantified + " 0\n" + clause + "0\n");
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(LINE_BUFSIZE, 4000000) << "lines of about 2.7 and 2.3 million characters";
  // The clause's variables above 400000 are free: outermost, the last met first.
  EXPECT_EQ(p.prefix.substr(0, 16), "e699999 e699997 ");
  EXPECT_NE(p.prefix.find(" e400001 a1 a2 a3 "), std::string::npos);
  EXPECT_EQ(p.prefix.substr(p.prefix.size() - 8), " a400000");
}

TEST(Restart, ALineTooLongForAnyIntCapacityIsAParseError) {
  int next = 0;
  EXPECT_TRUE(Qdimacs_doubledLineBufsize(1024000000, &next));
  EXPECT_EQ(next, 2048000000);
  EXPECT_FALSE(Qdimacs_doubledLineBufsize(2048000000, &next));
  EXPECT_FALSE(Qdimacs_doubledLineBufsize(1073741824, &next));
  EXPECT_TRUE(Qdimacs_doubledLineBufsize(1073741823, &next));
}

TEST(SizeProbe, ReadsTheFirstCountOfTheProblemLine) {
  test::ScratchDir dir;
  auto size = [&](const std::string &text) {
    test::writeFile(dir.file("f.qdimacs"), text);
    return Qdimacs_probeInstanceSize(dir.file("f.qdimacs").c_str());
  };
  EXPECT_EQ(size("c a\nc b\np cnf 300 2\n"), 300);
  EXPECT_EQ(size("p cnf 0x10 5\n"), 16);
  EXPECT_EQ(size("c only comments\n"), 0);
  EXPECT_EQ(size("\np cnf 30 1\n"), 0);
  EXPECT_EQ(size("1 2 0\n"), 0);
  EXPECT_EQ(size("p cnf 30\n"), 0);
  EXPECT_EQ(size("p cnf 99999999999 1\n"), 0);
  EXPECT_EQ(size("p cnf -7 1\n"), -7);
  EXPECT_EQ(Qdimacs_probeInstanceSize(dir.file("missing.qdimacs").c_str()), 0);
}

} // namespace

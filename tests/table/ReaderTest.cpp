// The reader of Tarnu's console output, on texts built item by item: every
// ending an item can have, marks in the middle of summaries, numbering that
// skips, text that is not Tarnu's, and captures cut anywhere.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "TableTestSupport.h"
#include "table/Csv.h"
#include "table/TarnuOutput.h"

namespace {
const std::string BANNER = "Tarnu v0.1 (revision 80, compiled Dec  6 2026)";

std::string head(int number, const std::string &path) {
  return "\n" + std::to_string(number) + ".Processing \"" + path + "\"...  ";
}

const std::string FORMULA = "\n---------QBF--------\n   variables: 376\n      FORALL: 100\n      EXISTS: 276\n"
                            "alternations: 2\n     clauses: 665";
const std::string TREE = "\n--------TARNU-------\nGrowing time: 3ms\n  Components: 1\nD-Components: "
                         "77371252455336267181195264\n       Depth: 277\nEXISTS nodes: 276\nFORALL nodes: 100\n"
                         "    Branches: 3\n   Delta MAX: 100\n   Delta AVG: 60.87\n--------------------\n";
const std::string OK = "[OK, 1.5s]\n";

std::string success(int number, const std::string &path) { return head(number, path) + FORMULA + TREE + OK; }
std::string run(const std::string &items) { return BANNER + items + "\n"; }

const std::string &field(const TarnuTable &t, std::size_t row, TableColumn column) {
  return t.rows.at(row)[static_cast<std::size_t>(column)];
}

bool mentions(const TarnuTable &t, const std::string &text) {
  for (const std::string &line : t.problems)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

void expectNumbered(const TarnuTable &t) {
  for (std::size_t i = 0; i < t.rows.size(); i++) {
    EXPECT_EQ(field(t, i, COL_RUN), "1");
    EXPECT_EQ(field(t, i, COL_NUMBER), std::to_string(i + 1));
  }
}
} // namespace

TEST(TableReader, HeaderNamesAreStable) {
  std::string header;
  Csv_appendRecord(header, TABLE_COLUMN_NAMES);
  EXPECT_EQ(header, "run,number,path,variables,forall,exists,alternations,clauses,growing_time_ms,components,"
                    "d_components,depth,exists_nodes,forall_nodes,branches,delta_max,delta_avg,outcome,detail,"
                    "error_line,error_module,dot_not_written,seconds\r\n");
}

TEST(TableReader, TextWithoutBannerIsNoRun) {
  EXPECT_FALSE(TarnuOutput_read("").runFound);
  EXPECT_FALSE(TarnuOutput_read("hello\n").runFound);
  EXPECT_FALSE(TarnuOutput_read("-----\nThis is " + BANNER + "\nCopyright\n-----\n").runFound);
}

TEST(TableReader, EmptyRunHasNoRows) {
  TarnuTable t = TarnuOutput_read(run(""));
  EXPECT_TRUE(t.runFound);
  EXPECT_TRUE(t.rows.empty());
  EXPECT_TRUE(t.problems.empty());
  EXPECT_FALSE(t.cutShort);
}

TEST(TableReader, HelpBeforeTheBannerIsSkipped) {
  TarnuTable t = TarnuOutput_read("This is " + BANNER + "\n\nWhat is it:\n  text\n\n" + run(""));
  EXPECT_TRUE(t.runFound);
  EXPECT_TRUE(t.rows.empty());
  EXPECT_FALSE(t.cutShort);
}

TEST(TableReader, BannerAloneIsCutShort) {
  TarnuTable t = TarnuOutput_read(BANNER);
  EXPECT_TRUE(t.runFound);
  EXPECT_TRUE(t.cutShort);
  EXPECT_TRUE(t.rows.empty());
}

TEST(TableReader, SuccessfulItemGivesEveryFigure) {
  TarnuTable t = TarnuOutput_read(run(success(1, "d/x.qdimacs")));
  ASSERT_EQ(t.rows.size(), 1u);
  TableRow expected{
      "1",   "1",   "d/x.qdimacs", "376", "100", "276",   "2",  "665", "3", "1", "77371252455336267181195264",
      "277", "276", "100",         "3",   "100", "60.87", "ok", "",    "",  "",  "",
      "1.5"};
  EXPECT_EQ(t.rows[0], expected);
  EXPECT_TRUE(t.problems.empty());
}

TEST(TableReader, EveryEndingOfAnItem) {
  std::string text = success(1, "a.qdimacs") + head(2, "b.qdimacs") + "[PARSE ERROR: line 1: negative count]" +
                     head(3, "c.qcnf") + head(4, "d.qdimacs") + FORMULA +
                     "[Abnormal exit due to error \"UNSAT_FOR_QBF_FORALL_REDUCTION\" at line 298, file "
                     "\"QbFormulaNormalize\"]\n" +
                     head(5, "e.qdimacs") + "[TIMEOUT]" + head(6, "f.qdimacs") + FORMULA + "[CRASH]" +
                     head(7, "g.qdimacs") + FORMULA + "[DOT FILE NOT WRITTEN: not a regular file]" + TREE + OK;
  TarnuTable t = TarnuOutput_read(run(text));
  ASSERT_EQ(t.rows.size(), 7u);
  EXPECT_TRUE(t.problems.empty());
  expectNumbered(t);
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "ok");
  EXPECT_EQ(field(t, 1, COL_OUTCOME), "parse-error");
  EXPECT_EQ(field(t, 1, COL_DETAIL), "line 1: negative count");
  EXPECT_EQ(field(t, 2, COL_OUTCOME), "incomplete");
  EXPECT_EQ(field(t, 2, COL_PATH), "c.qcnf");
  EXPECT_EQ(field(t, 3, COL_OUTCOME), "abnormal-exit");
  EXPECT_EQ(field(t, 3, COL_DETAIL), "UNSAT_FOR_QBF_FORALL_REDUCTION");
  EXPECT_EQ(field(t, 3, COL_ERROR_LINE), "298");
  EXPECT_EQ(field(t, 3, COL_ERROR_MODULE), "QbFormulaNormalize");
  EXPECT_EQ(field(t, 3, COL_CLAUSES), "665");
  EXPECT_EQ(field(t, 3, COL_DEPTH), "");
  EXPECT_EQ(field(t, 4, COL_OUTCOME), "timeout");
  EXPECT_EQ(field(t, 4, COL_VARIABLES), "");
  EXPECT_EQ(field(t, 5, COL_OUTCOME), "crash");
  EXPECT_EQ(field(t, 5, COL_CLAUSES), "665");
  EXPECT_EQ(field(t, 6, COL_OUTCOME), "ok");
  EXPECT_EQ(field(t, 6, COL_DOT_NOT_WRITTEN), "not a regular file");
  EXPECT_EQ(field(t, 6, COL_BRANCHES), "3");
}

TEST(TableReader, AbnormalExitInsideTheTreeSummary) {
  std::string cut = "\n--------TARNU-------\nGrowing time: 0ms\n  Components: 4\n";
  TarnuTable t = TarnuOutput_read(run(head(1, "x.qdimacs") + FORMULA + cut +
                                      "[Abnormal exit due to error \"Cannot allocate memory\" at line 52, file "
                                      "\"QbfTree\"]\n"));
  ASSERT_EQ(t.rows.size(), 1u);
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "abnormal-exit");
  EXPECT_EQ(field(t, 0, COL_DETAIL), "Cannot allocate memory");
  EXPECT_EQ(field(t, 0, COL_COMPONENTS), "4");
  EXPECT_EQ(field(t, 0, COL_D_COMPONENTS), "");
}

TEST(TableReader, AbnormalExitRightAfterTheHead) {
  TarnuTable t = TarnuOutput_read(run(head(1, "x.qdimacs") +
                                      "[Abnormal exit due to error \"Cannot allocate memory\" at line 394, file "
                                      "\"Qdimacs\"]\n" +
                                      success(2, "y.qdimacs")));
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "abnormal-exit");
  EXPECT_EQ(field(t, 0, COL_ERROR_LINE), "394");
  EXPECT_EQ(field(t, 1, COL_OUTCOME), "ok");
}

TEST(TableReader, MarkInTheMiddleOfALineLeavesThatFigureEmpty) {
  // The figure may have been cut by the kill: it is not taken.
  TarnuTable t = TarnuOutput_read(
      run(head(1, "x.qdimacs") + "\n---------QBF--------\n   variables: 37[CRASH]" + head(2, "y.qdimacs") + FORMULA +
          "\n--------TARNU-------\nGrowing time: 0ms\n  Components: 1\nD-Components: 123456[TIMEOUT]" +
          head(3, "z.qdimacs") + FORMULA + "[DOT FILE NOT WRI[CRASH]" + head(4, "w.qdimacs") + FORMULA + TREE +
          "[OK, 0.[CRASH]"));
  ASSERT_EQ(t.rows.size(), 4u);
  EXPECT_TRUE(t.problems.empty());
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "crash");
  EXPECT_EQ(field(t, 0, COL_VARIABLES), "");
  EXPECT_EQ(field(t, 1, COL_OUTCOME), "timeout");
  EXPECT_EQ(field(t, 1, COL_COMPONENTS), "1");
  EXPECT_EQ(field(t, 1, COL_D_COMPONENTS), "");
  EXPECT_EQ(field(t, 2, COL_OUTCOME), "crash");
  EXPECT_EQ(field(t, 2, COL_CLAUSES), "665");
  EXPECT_EQ(field(t, 2, COL_DOT_NOT_WRITTEN), "");
  EXPECT_EQ(field(t, 3, COL_OUTCOME), "crash");
  EXPECT_EQ(field(t, 3, COL_DELTA_AVG), "60.87");
  EXPECT_EQ(field(t, 3, COL_SECONDS), "");
}

TEST(TableReader, MarkAfterACompleteItemDecidesTheOutcome) {
  TarnuTable t = TarnuOutput_read(run(success(1, "x.qdimacs") + "[CRASH]" + head(2, "y.qdimacs") +
                                      "[PARSE ERROR: cannot open the file: Permission denied][TIMEOUT]"));
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_TRUE(t.problems.empty());
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "crash");
  EXPECT_EQ(field(t, 0, COL_SECONDS), "1.5");
  EXPECT_EQ(field(t, 1, COL_OUTCOME), "timeout");
  EXPECT_EQ(field(t, 1, COL_DETAIL), "cannot open the file: Permission denied");
}

TEST(TableReader, NanAndNegativeFigures) {
  std::string formula = "\n---------QBF--------\n   variables: 0\n      FORALL: 0\n      EXISTS: 0\n"
                        "alternations: -1\n     clauses: 0";
  std::string tree = "\n--------TARNU-------\nGrowing time: 0ms\n  Components: 0\nD-Components: 0\n"
                     "       Depth: 1\nEXISTS nodes: 0\nFORALL nodes: 0\n    Branches: 1\n   Delta MAX: 0\n"
                     "   Delta AVG: nan\n--------------------\n";
  TarnuTable t = TarnuOutput_read(run(head(1, "e.qdimacs") + formula + tree + "[OK, 0.0s]\n"));
  ASSERT_EQ(t.rows.size(), 1u);
  EXPECT_EQ(field(t, 0, COL_ALTERNATIONS), "-1");
  EXPECT_EQ(field(t, 0, COL_DELTA_AVG), "nan");
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "ok");
}

TEST(TableReader, SkippedNumberGivesAnUnreadableRow) {
  TarnuTable t = TarnuOutput_read(run(success(1, "a.qdimacs") + success(3, "c.qdimacs")));
  ASSERT_EQ(t.rows.size(), 3u);
  expectNumbered(t);
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "ok");
  EXPECT_EQ(field(t, 1, COL_OUTCOME), "unreadable");
  EXPECT_EQ(field(t, 1, COL_PATH), "");
  EXPECT_EQ(field(t, 2, COL_OUTCOME), "ok");
  EXPECT_EQ(t.unreadable, 1u);
  EXPECT_TRUE(mentions(t, "item 2: unreadable"));
}

TEST(TableReader, MarkBeforeASkippedNumberMayBeALaterInstances) {
  // Instance 2 may have been killed before it printed its head.
  TarnuTable t = TarnuOutput_read(run(success(1, "a.qdimacs") + "[CRASH]" + success(3, "c.qdimacs")));
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "unreadable");
  EXPECT_EQ(field(t, 1, COL_OUTCOME), "unreadable");
  EXPECT_EQ(field(t, 2, COL_OUTCOME), "ok");
  EXPECT_TRUE(mentions(t, "item 1: unreadable"));
  EXPECT_TRUE(mentions(t, "item 2: unreadable"));
}

TEST(TableReader, ForeignTextMakesOnlyItsItemUnreadable) {
  TarnuTable t = TarnuOutput_read(run(success(1, "a.qdimacs") + head(2, "b.qdimacs") + "\nSegmentation fault\n" +
                                      "[CRASH][CRASH]" + success(3, "c.qdimacs") + success(4, "d.qdimacs")));
  ASSERT_EQ(t.rows.size(), 4u);
  expectNumbered(t);
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "ok");
  EXPECT_EQ(field(t, 1, COL_OUTCOME), "unreadable");
  EXPECT_EQ(field(t, 2, COL_OUTCOME), "ok");
  EXPECT_EQ(field(t, 2, COL_PATH), "c.qdimacs");
  EXPECT_EQ(field(t, 3, COL_PATH), "d.qdimacs");
  EXPECT_TRUE(mentions(t, "item 2: unreadable"));
}

TEST(TableReader, PathsMayHoldAnything) {
  std::vector<std::string> paths = {"d/a,b.qdimacs",
                                    "d/say \"hi\".qdimacs",
                                    "d/new\nline.qdimacs",
                                    "d/100%s%n.qdimacs",
                                    "d/wait\"...  here.qdimacs",
                                    "d/x\n3.Processing \"y.qdimacs",
                                    "d/[CRASH]\n\n.qdimacs",
                                    "d/\"...  \n---------QBF--------\n.qcnf",
                                    "",
                                    "d/\xff\xfe\r\n.qdimacs"};
  std::string text;
  for (std::size_t i = 0; i < paths.size(); i++) text += success(static_cast<int>(i) + 1, paths[i]);
  TarnuTable t = TarnuOutput_read(run(text));
  ASSERT_EQ(t.rows.size(), paths.size());
  EXPECT_TRUE(t.problems.empty());
  for (std::size_t i = 0; i < paths.size(); i++) {
    EXPECT_EQ(field(t, i, COL_PATH), paths[i]);
    EXPECT_EQ(field(t, i, COL_OUTCOME), "ok");
  }
}

TEST(TableReader, PathHoldingAnItemEndAndAHeadIsUnreadableWhenNumbersCannotTell) {
  // Item 1's path holds the end of an item and the head of item 2, and a real
  // item 2 follows: read either way, two items are read.
  std::string path = "x\"...  [CRASH]\n2.Processing \"y.qdimacs";
  TarnuTable t = TarnuOutput_read(run(success(1, path) + success(2, "z.qdimacs")));
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(field(t, 0, COL_OUTCOME), "unreadable");
  EXPECT_EQ(field(t, 1, COL_OUTCOME), "unreadable");
  EXPECT_TRUE(mentions(t, "items 1 to 2: unreadable: the output reads in more than one way"));
}

TEST(TableReader, PathHoldingAHeadOfAnotherNumberIsSettledByTheNumbers) {
  std::string path = "x\"...  [CRASH]\n7.Processing \"y.qdimacs";
  TarnuTable t = TarnuOutput_read(run(success(1, path) + success(2, "z.qdimacs")));
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_TRUE(t.problems.empty());
  EXPECT_EQ(field(t, 0, COL_PATH), path);
  EXPECT_EQ(field(t, 1, COL_PATH), "z.qdimacs");
}

TEST(TableReader, OutputCutInsideAHeadKeepsTheItemBefore) {
  std::string whole = run(success(1, "a.qdimacs") + success(2, "b.qdimacs"));
  std::size_t second = whole.find("\n2.Processing");
  for (std::size_t end = second + 2; end < second + 16; end++) {
    TarnuTable t = TarnuOutput_read(whole.substr(0, end));
    ASSERT_FALSE(t.rows.empty()) << end;
    EXPECT_EQ(field(t, 0, COL_OUTCOME), "ok") << end;
    EXPECT_TRUE(t.cutShort) << end;
  }
  TarnuTable inPath = TarnuOutput_read(whole.substr(0, second + 20));
  ASSERT_EQ(inPath.rows.size(), 2u);
  EXPECT_EQ(field(inPath, 1, COL_OUTCOME), "unreadable");
  EXPECT_TRUE(mentions(inPath, "item 2: unreadable: the output stops inside its head"));
}

TEST(TableReader, SeveralRunsOneAfterTheOther) {
  std::string text = run(success(1, "a.qdimacs")) + run("") + run(success(1, "b.qdimacs") + success(2, "c.qdimacs"));
  TarnuTable t = TarnuOutput_read(text);
  EXPECT_EQ(t.runs, 3u);
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_TRUE(t.problems.empty());
  EXPECT_EQ(field(t, 0, COL_RUN), "1");
  EXPECT_EQ(field(t, 0, COL_PATH), "a.qdimacs");
  EXPECT_EQ(field(t, 1, COL_RUN), "3");
  EXPECT_EQ(field(t, 1, COL_NUMBER), "1");
  EXPECT_EQ(field(t, 2, COL_RUN), "3");
  EXPECT_EQ(field(t, 2, COL_NUMBER), "2");
  EXPECT_EQ(field(t, 2, COL_PATH), "c.qdimacs");
}

TEST(TableReader, RunCutShortThenAnotherRun) {
  std::string first = run(success(1, "a.qdimacs") + success(2, "b.qdimacs"));
  first.resize(first.find("EXISTS nodes", first.find("b.qdimacs")));
  TarnuTable t = TarnuOutput_read(first + run(success(1, "c.qdimacs")));
  EXPECT_EQ(t.runs, 2u);
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_TRUE(t.cutShort);
  EXPECT_EQ(field(t, 1, COL_OUTCOME), "incomplete");
  EXPECT_EQ(field(t, 1, COL_PATH), "b.qdimacs");
  EXPECT_EQ(field(t, 1, COL_DEPTH), "277");
  EXPECT_EQ(field(t, 2, COL_RUN), "2");
  EXPECT_EQ(field(t, 2, COL_PATH), "c.qdimacs");
  EXPECT_EQ(field(t, 2, COL_OUTCOME), "ok");
  EXPECT_TRUE(mentions(t, "run 1: the output stops before the end of the run"));
}

// Every prefix of a real capture: no failure, rows numbered from 1, and every
// row that is read agrees with the whole capture's row or is "incomplete".
TEST(TableReader, EveryPrefixOfARealCapture) {
  std::string whole = tabletest::readFile(tabletest::dataDir() / "kinds-tree.out");
  ASSERT_FALSE(whole.empty());
  TarnuTable full = TarnuOutput_read(whole);
  ASSERT_EQ(full.rows.size(), 10u);
  ASSERT_TRUE(full.problems.empty());
  for (std::size_t end = 0; end < whole.size(); end++) {
    TarnuTable t = TarnuOutput_read(whole.substr(0, end));
    if (!t.runFound) {
      EXPECT_LT(end, std::string("Tarnu v").size());
      continue;
    }
    ASSERT_LE(t.rows.size(), full.rows.size()) << end;
    expectNumbered(t);
    for (std::size_t i = 0; i < t.rows.size(); i++) {
      const std::string &outcome = field(t, i, COL_OUTCOME);
      if (outcome == "incomplete" || outcome == "unreadable") continue;
      EXPECT_EQ(t.rows[i], full.rows[i]) << "prefix of " << end << " bytes, row " << i + 1;
    }
    // At most the last row is unreadable: the capture stopped inside its head.
    for (std::size_t i = 0; i + 1 < t.rows.size(); i++) EXPECT_NE(field(t, i, COL_OUTCOME), "unreadable") << end;
  }
}

// Random damage to real captures never breaks the reader's promises.
TEST(TableReader, DamagedCapturesKeepTheRowsInOrder) {
  const std::set<std::string> outcomes = {"ok",         "timeout",   "crash", "parse-error", "abnormal-exit",
                                          "incomplete", "unreadable"};
  std::mt19937 random(20261206);
  for (const char *name : {"kinds-tree.out", "odd-paths.out", "crash-tree.out"}) {
    std::string whole = tabletest::readFile(tabletest::dataDir() / name);
    ASSERT_FALSE(whole.empty());
    for (int round = 0; round < 400; round++) {
      std::string text = whole;
      int edits = 1 + static_cast<int>(random() % 4);
      for (int e = 0; e < edits; e++) {
        std::size_t at = BANNER.size() + random() % (text.size() - BANNER.size());
        switch (random() % 4) {
        case 0: text[at] = static_cast<char>(random() % 256); break;
        case 1: text.erase(at, 1 + random() % 40); break;
        case 2: text.insert(at, text.substr(random() % text.size(), 1 + random() % 120)); break;
        case 3: text.insert(at, "\n" + std::to_string(random() % 12) + ".Processing \"" + "q\"...  "); break;
        }
        if (text.size() <= BANNER.size() + 1) text = whole;
      }
      TarnuTable t = TarnuOutput_read(text);
      ASSERT_TRUE(t.runFound);
      std::size_t unreadable = 0;
      for (std::size_t i = 0, number = 1; i < t.rows.size(); i++, number++) {
        if (i > 0 && field(t, i, COL_RUN) != field(t, i - 1, COL_RUN)) number = 1; // a copied banner
        ASSERT_EQ(field(t, i, COL_NUMBER), std::to_string(number)) << name << " round " << round;
        ASSERT_TRUE(outcomes.count(field(t, i, COL_OUTCOME))) << field(t, i, COL_OUTCOME);
        if (field(t, i, COL_OUTCOME) == "unreadable") unreadable++;
      }
      EXPECT_EQ(unreadable, t.unreadable);
      if (unreadable > 0) {
        EXPECT_FALSE(t.problems.empty());
      }
    }
  }
}

// tarnu-table on captured console output of real runs (tests/table/data,
// made by capture.sh): each capture against its expected table.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "TableTestSupport.h"

namespace {
using tabletest::dataDir;
using tabletest::readFile;

const std::string TABLE = TARNU_TABLE_BINARY;

std::vector<tabletest::CsvRecord> rowsOf(const std::string &csv) {
  std::vector<tabletest::CsvRecord> records;
  EXPECT_TRUE(tabletest::parseCsv(csv, records));
  if (!records.empty()) records.erase(records.begin());
  return records;
}

// Column of a row by its name in the header.
std::string cell(const std::string &csv, std::size_t row, const std::string &column) {
  std::vector<tabletest::CsvRecord> records;
  tabletest::parseCsv(csv, records);
  for (std::size_t c = 0; c < records.at(0).size(); c++)
    if (records[0][c] == column) return records.at(row + 1).at(c);
  ADD_FAILURE() << "no column " << column;
  return "";
}

class CapturedRun : public ::testing::TestWithParam<const char *> {};
} // namespace

TEST_P(CapturedRun, GivesTheExpectedTable) {
  std::string name = GetParam();
  std::string expected = readFile(dataDir() / (name + ".csv"));
  ASSERT_FALSE(expected.empty()) << name;
  tabletest::RunResult fromFile = tabletest::run({TABLE, (dataDir() / (name + ".out")).string()});
  EXPECT_EQ(fromFile.out, expected);
  tabletest::RunResult fromStdin = tabletest::run({TABLE}, readFile(dataDir() / (name + ".out")));
  EXPECT_EQ(fromStdin.out, expected);
  EXPECT_EQ(fromStdin.status, fromFile.status);
  EXPECT_EQ(fromStdin.err, fromFile.err);
  if (name == "fake-head-mid") {
    EXPECT_EQ(fromFile.status, 1);
    EXPECT_NE(fromFile.err.find("items 1 to 2: unreadable"), std::string::npos) << fromFile.err;
  } else {
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(fromFile.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Captures, CapturedRun,
                         ::testing::Values("examples", "kinds-tree", "kinds-pre", "file-mode", "odd-paths",
                                           "crash-parsing", "crash-tree", "timeout-parsing", "timeout-tree",
                                           "fake-head-mid", "fake-head-last"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                           std::string n = info.param;
                           for (char &c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

// What the expected tables say, spelled out.
TEST(CapturedRuns, EveryEndingAndMarkOfADirectoryRun) {
  std::string csv = readFile(dataDir() / "kinds-tree.csv");
  std::map<std::string, std::string> outcome;
  for (const auto &row : rowsOf(csv)) outcome[row.at(2)] = row.at(17);
  EXPECT_EQ(outcome["kinds/sub/and.qdimacs"], "ok");
  EXPECT_EQ(outcome["kinds/bad-header.qdimacs"], "parse-error");
  EXPECT_EQ(outcome["kinds/no-problem-line.qcnf"], "incomplete");
  EXPECT_EQ(outcome["kinds/universal-clause.qdimacs"], "abnormal-exit");
  EXPECT_EQ(cell(csv, 0, "path"), "kinds/sub/and.qdimacs"); // the subdirectory comes first
  EXPECT_EQ(cell(csv, 1, "delta_avg"), "nan");
  EXPECT_EQ(cell(csv, 1, "alternations"), "-1");
  EXPECT_EQ(cell(csv, 2, "detail"), "line 1: the problem line needs two counts (p cnf VARIABLES CLAUSES)");
  EXPECT_EQ(cell(csv, 4, "detail"), "UNSAT_FOR_QBF_FORALL_REDUCTION");
  EXPECT_EQ(cell(csv, 4, "error_module"), "QbFormulaNormalize");
  EXPECT_EQ(cell(csv, 5, "dot_not_written"), "not a regular file"); // dangling symbolic link
  EXPECT_EQ(cell(csv, 6, "dot_not_written"), "File name too long");
  EXPECT_EQ(cell(csv, 7, "dot_not_written"), "not a regular file");      // FIFO
  EXPECT_EQ(cell(csv, 9, "d_components"), "77371252455336267181195264"); // beyond 64 bits
  EXPECT_EQ(cell(csv, 9, "seconds"), "0.0");
}

TEST(CapturedRuns, KilledChildren) {
  std::string crash = readFile(dataDir() / "crash-tree.csv");
  EXPECT_EQ(cell(crash, 1, "outcome"), "crash");
  EXPECT_EQ(cell(crash, 1, "clauses"), "9000000");
  EXPECT_EQ(cell(crash, 1, "depth"), "");
  std::string timeout = readFile(dataDir() / "timeout-parsing.csv");
  EXPECT_EQ(cell(timeout, 1, "outcome"), "timeout");
  EXPECT_EQ(cell(timeout, 1, "variables"), "");
  EXPECT_EQ(cell(timeout, 0, "outcome"), "ok");
}

TEST(CapturedRuns, AwkwardPaths) {
  std::set<std::string> paths;
  for (const auto &row : rowsOf(readFile(dataDir() / "odd-paths.csv"))) {
    paths.insert(row.at(2));
    EXPECT_EQ(row.at(17), "ok") << row.at(2);
  }
  EXPECT_EQ(paths, (std::set<std::string>{"odd/a,b.qdimacs", "odd/say \"hi\".qdimacs", "odd/100%s%d.qdimacs",
                                          "odd/new\nline.qdimacs", "odd/not a head\n7.Processing \"x.qdimacs",
                                          "odd/wait\"...  here.qdimacs"}));
}

TEST(CapturedRuns, UsageAndErrors) {
  tabletest::RunResult help = tabletest::run({TABLE, "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: tarnu-table [FILE]"), std::string::npos);
  EXPECT_EQ(tabletest::run({TABLE, "-x"}).status, 2);
  EXPECT_EQ(tabletest::run({TABLE, "a", "b"}).status, 2);
  tabletest::RunResult missing = tabletest::run({TABLE, "/nonexistent/run.txt"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
  tabletest::RunResult notARun = tabletest::run({TABLE}, "hello\n");
  EXPECT_EQ(notARun.status, 2);
  EXPECT_NE(notARun.err.find("no Tarnu run"), std::string::npos);
  tabletest::RunResult cut = tabletest::run({TABLE}, readFile(dataDir() / "kinds-tree.out").substr(0, 700));
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("stops before the end of the run"), std::string::npos);
}

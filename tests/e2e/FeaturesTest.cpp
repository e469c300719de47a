// The features of -features on real instances: ASlib's published values of
// the instances that are the same files as ASlib's, and the scenario files
// of tarnu-table --aslib read back by an ARFF and a YAML reader. The rules
// on hand-made formulas are cases (cases/features.txt); whole blocks are
// golden runs.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Support.h"

namespace {
namespace fs = std::filesystem;

std::vector<std::string> fields(const std::string &line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, ',');) out.push_back(field);
  return out;
}

// Every row whose file is here: in the shared set, else (by its name) in the
// corpus, which holds 8 of them.
TEST(Features, EqualAslibsPublishedValues) {
  std::ifstream csv(test::sourceDir() + "/tests/data/aslib-public.csv");
  std::string line;
  std::getline(csv, line);
  const std::vector<std::string> names = fields(line);
  const test::InstanceSet shared = test::sharedSet(), corpus = test::corpus();
  int checked = 0, rows = 0;
  while (std::getline(csv, line)) {
    rows++;
    std::vector<std::string> row = fields(line);
    std::string file = shared.dir.empty() ? corpus.dir + "/" + fs::path(row[2]).filename().string()
                                          : shared.dir + "/" + row[2].substr(row[2].find('/') + 1);
    // The corpus compresses what the shared set may keep plain, and the other way round.
    if (!fs::exists(file)) file = file.ends_with(".xz") ? file.substr(0, file.size() - 3) : file + ".xz";
    if (!fs::exists(file)) continue;
    checked++;
    const std::string out = test::runTarnu({"-features", file}).out;
    for (std::size_t i = 3; i < names.size(); i++) {
      std::size_t at = out.find("\n" + names[i] + ": ");
      ASSERT_NE(at, std::string::npos) << file << " " << names[i];
      const double expected = std::stod(row[i]), actual = std::stod(out.substr(at + names[i].size() + 3));
      if (i < 3 + 13)
        EXPECT_EQ(actual, expected) << file << " " << names[i];
      else
        EXPECT_LE(std::fabs(actual - expected), 1e-12 * std::fabs(expected)) << file << " " << names[i];
    }
  }
  EXPECT_EQ(checked, shared.dir.empty() ? 8 : rows);
}

// The corpus with the formula files (so that tree_alternations is there too).
TEST(Features, ScenarioFilesReadBackAsTheTable) {
  test::ScratchDir dir;
  fs::create_directory_symlink(fs::absolute(test::corpus().dir), dir.file("instances"));
  fs::create_directory(dir.file("out"));
  test::runTarnu({"-features", "-qdimacs=up", "-outdir=out", "-jobs=2", "instances"},
                 {.cwd = dir.path(), .outputFile = dir.file("run.out")});
  test::RunResult table = test::run(test::tableBinary(), {dir.file("run.out")}, {.outputFile = dir.file("t.csv")});
  ASSERT_EQ(table.status, 0) << table.err;
  test::RunResult aslib = test::run(test::tableBinary(), {"--aslib=" + dir.file("sc"), dir.file("run.out")});
  ASSERT_EQ(aslib.status, 0) << aslib.err;
  test::RunResult read = test::run(
      "/usr/bin/python3", {test::sourceDir() + "/tests/table/aslib_readback.py", dir.file("sc"), dir.file("t.csv")});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, std::to_string(test::corpus().count) + " instances read back\n");
}

} // namespace

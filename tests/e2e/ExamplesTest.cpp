// Whole runs over the bundled examples against their expected outputs, and
// every DOT file read back by Graphviz, its real consumer.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "TestSupport.h"

using test::readFile;
using test::runTarnu;
using test::ScratchDir;

namespace {

std::string golden(const std::string &name) { return readFile(test::sourceDir() + "/tests/golden/examples/" + name); }

std::vector<std::string> exampleNames() {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(test::sourceDir() + "/examples")) {
    std::string name = entry.path().filename();
    if (name.ends_with(".qdimacs") || name.ends_with(".qcnf")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void copyExamples(const ScratchDir &dir) {
  std::filesystem::create_directory(dir.file("examples"));
  for (const std::string &name : exampleNames())
    std::filesystem::copy(test::sourceDir() + "/examples/" + name, dir.file("examples/" + name));
}

TEST(Examples, ConsoleOutputOfWholeRuns) {
  ScratchDir dir;
  copyExamples(dir);
  test::RunResult r = runTarnu({"examples"}, dir.path());
  EXPECT_EQ(r.status, static_cast<int>(exampleNames().size()));
  EXPECT_EQ(test::maskVarying(r.out), golden("run.out"));
  r = runTarnu({"-pre", "examples"}, dir.path());
  EXPECT_EQ(test::maskVarying(r.out), golden("run-pre.out"));
}

TEST(Examples, DotFilesInEveryMode) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> modes = {
      {"tree", {"-tree"}},
      {"clauses", {"-clauses"}},
      {"tree-linear", {"-tree", "-linear"}},
      {"clauses-linear", {"-linear", "-clauses"}},
  };
  for (const auto &[mode, options] : modes) {
    ScratchDir dir;
    copyExamples(dir);
    std::vector<std::string> args = options;
    args.push_back("examples");
    test::RunResult r = runTarnu(args, dir.path());
    EXPECT_EQ(test::maskVarying(r.out), golden("run.out")) << "the console does not change with " << mode;
    for (const std::string &name : exampleNames()) {
      std::string dot = dir.file("examples/" + name + ".treeDup.dot");
      EXPECT_EQ(readFile(dot), golden(name + "." + mode + ".dot")) << name << " " << mode;
      test::expectGraphvizReads(dot);
    }
  }
}

} // namespace

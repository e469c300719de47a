// Whole outputs against the golden files of tests/golden: the bundled
// examples (console output in both modes, DOT files in all four forms) and
// the real benchmark instances in both modes: the corpus in the repository,
// and the whole shared set when it is there. tests/golden/regenerate writes
// them anew; read its diff before committing it.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "Support.h"

namespace {
namespace fs = std::filesystem;

const std::string GOLDEN = test::sourceDir() + "/tests/golden/";

TEST(Golden, ExamplesConsoleOutput) {
  test::ScratchDir dir;
  fs::copy(test::sourceDir() + "/examples", dir.file("examples"));
  for (const char *mode : {"run", "run-pre"}) {
    std::vector<std::string> args{"examples"};
    if (std::string(mode) == "run-pre") args.insert(args.begin(), "-pre");
    test::RunResult r = test::runTarnu(args, {.cwd = dir.path()});
    EXPECT_EQ(test::mask(r.out), test::readFile(GOLDEN + "examples/" + mode + ".out")) << mode;
    EXPECT_EQ(r.err, "tarnu: 8 instances: 8 ok, 0 parse errors, 0 without a problem line, 0 abnormal exits, 0 "
                     "timeouts, 0 crashes; skipped: 0 symbolic links, 0 special files, 0 unreadable directories\n");
  }
}

TEST(Golden, ExamplesDotFilesInEveryForm) {
  test::ScratchDir dir;
  fs::copy(test::sourceDir() + "/examples", dir.file("examples"));
  for (std::string form : {"tree", "clauses", "tree-linear", "clauses-linear"}) {
    std::vector<std::string> args{"-" + form.substr(0, form.find('-')), "examples"};
    if (form.ends_with("-linear")) args.insert(args.begin(), "-linear");
    test::runTarnu(args, {.cwd = dir.path()});
    int files = 0;
    for (const auto &entry : fs::directory_iterator(dir.file("examples"))) {
      std::string name = entry.path().filename();
      if (!name.ends_with(".treeDup.dot")) continue;
      files++;
      std::string golden = GOLDEN + "examples/" + name.substr(0, name.size() - 12) + "." + form + ".dot";
      EXPECT_EQ(test::readFile(entry.path()), test::readFile(golden)) << golden;
      test::expectGraphvizReads(entry.path());
      fs::remove(entry.path());
    }
    EXPECT_EQ(files, 8) << form;
  }
}

// An item without its features block, and the block.
std::pair<std::string, std::string> withoutFeatures(const std::string &item) {
  std::size_t start = item.find("\n------FEATURES------\n");
  if (start == std::string::npos) return {item, ""};
  const std::string last = "\nFeature time: Xms";
  std::size_t end = item.find(last, start) + last.size();
  return {item.substr(0, start) + item.substr(end), item.substr(start, end - start)};
}

// The instances as they are kept, the large ones compressed with xz (a
// file's item is the same whether it is compressed or not). With -features
// (and -pre, which leaves the features those of the input) each item is the
// item of -pre with the block inserted.
void everyInstanceInBothModes(const test::InstanceSet &set) {
  test::ScratchDir dir;
  fs::create_directory_symlink(fs::absolute(set.dir), dir.file("instances"));
  const std::map<std::string, std::vector<std::string>> options{
      {"run-pre", {"-pre"}}, {"run-features", {"-features", "-pre", "-jobs=2"}}, {"run", {}}};
  // Under the sanitizers, where a run costs ten times as much, -pre alone.
  for (const char *mode : {"run-pre", "run-features", "run"}) {
    if (test::sanitized() && std::string(mode) != "run-pre") break;
    std::vector<std::string> args = options.at(mode);
    args.push_back("instances");
    test::RunResult r = test::runTarnu(args, {.cwd = dir.path()});
    EXPECT_EQ(r.status, set.count % 256);
    EXPECT_TRUE(r.err.starts_with("tarnu: " + std::to_string(set.count) + " instances: ")) << r.err;
    std::map<std::string, std::string> actual = test::itemsByPath(test::mask(r.out), ".xz");
    std::map<std::string, std::string> expected =
        test::itemsByPath(test::readFile(GOLDEN + set.golden + "/" + mode + ".out"), ".xz");
    EXPECT_EQ(actual.size(), static_cast<std::size_t>(set.count));
    for (const auto &[path, item] : expected) EXPECT_EQ(actual[path], item) << mode << " " << path;
    if (std::string(mode) != "run-features") continue;
    auto plain = test::itemsByPath(test::readFile(GOLDEN + set.golden + "/run-pre.out"), ".xz");
    for (const auto &[path, item] : actual) {
      auto [rest, block] = withoutFeatures(item);
      EXPECT_EQ(rest, plain[path]) << path;
      for (const char *bad : {"nan", "inf", ": -"}) EXPECT_EQ(block.find(bad), std::string::npos) << path;
    }
  }
}

TEST(Golden, CorpusInBothModes) { everyInstanceInBothModes(test::corpus()); }

TEST(Golden, EveryRealInstanceInBothModes) {
  test::InstanceSet shared = test::sharedSet();
  if (shared.dir.empty()) GTEST_SKIP() << "the shared set is not there (../shared/instances, or TARNU_INSTANCES)";
  everyInstanceInBothModes(shared);
}

} // namespace

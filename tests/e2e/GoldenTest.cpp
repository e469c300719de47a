// Whole outputs against the golden files of tests/golden: the bundled
// examples (console output in both modes, DOT files in all four forms) and
// every real benchmark instance in both modes. tests/golden/regenerate writes
// them anew; read its diff before committing it.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "Support.h"

namespace {
namespace fs = std::filesystem;

const std::string GOLDEN = test::sourceDir() + "/tests/golden/";

// The items of a run by path (a compression suffix dropped), each from its
// title to the next item (numbers left out: instances of equal declared size
// run in listing order, which differs between file systems).
std::map<std::string, std::string> itemsByPath(const std::string &output) {
  std::map<std::string, std::string> items;
  const std::string head = ".Processing \"";
  for (std::size_t at = output.find(head); at != std::string::npos;) {
    std::size_t pathEnd = output.find("\"...  ", at);
    std::size_t next = output.find(head, pathEnd);
    std::size_t end = next == std::string::npos ? output.size() : output.rfind('\n', next);
    std::string item = output.substr(pathEnd, end - pathEnd);
    while (!item.empty() && item.back() == '\n') item.pop_back();
    std::string path = output.substr(at + head.size(), pathEnd - at - head.size());
    if (path.ends_with(".xz")) path.resize(path.size() - 3);
    items[path] = item;
    at = next;
  }
  return items;
}

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

// The instances as they are shipped, the large ones compressed with xz: the
// golden files were made from them unpacked.
TEST(Golden, EveryRealInstanceInBothModes) {
  test::ScratchDir dir;
  fs::create_directory_symlink(fs::absolute(test::instancesDir()), dir.file("instances"));
  for (const char *mode : {"run", "run-pre"}) {
    std::vector<std::string> args{"instances"};
    if (std::string(mode) == "run-pre") args.insert(args.begin(), "-pre");
    test::RunResult r = test::runTarnu(args, {.cwd = dir.path()});
    EXPECT_EQ(r.status, 335 % 256);
    EXPECT_TRUE(r.err.starts_with("tarnu: 335 instances: ")) << r.err;
    std::map<std::string, std::string> actual = itemsByPath(test::mask(r.out));
    std::map<std::string, std::string> expected = itemsByPath(test::readFile(GOLDEN + "instances/" + mode + ".out"));
    EXPECT_EQ(actual.size(), 335u);
    for (const auto &[path, item] : expected) EXPECT_EQ(actual[path], item) << mode << " " << path;
  }
}

} // namespace

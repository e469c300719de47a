// The real benchmark instances: every file gives its complete item (or the
// abnormal exit of forall reduction), its formula summary agrees with counts
// taken independently from the file, and the whole items agree with the
// expected outputs in both modes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <unistd.h>

#include "TestSupport.h"

using test::ScratchDir;

namespace {

namespace fs = std::filesystem;

std::string instancesDir() {
  for (const std::string &candidate : {std::string(std::getenv("TARNU_INSTANCES") ? std::getenv("TARNU_INSTANCES") : ""),
                                       test::sourceDir() + "/../shared/instances", std::string("/work/shared/instances")})
    if (!candidate.empty() && fs::is_directory(candidate)) return candidate;
  return "";
}

// A copy of the instances with the .xz files unpacked, made once per process.
const ScratchDir &unpacked() {
  static ScratchDir dir;
  static bool done = false;
  if (!done) {
    done = true;
    fs::copy(instancesDir(), dir.file("instances"), fs::copy_options::recursive);
    test::RunResult r = test::run("/bin/sh", {"-c", "find instances -name '*.xz' -exec xz -d -f {} +"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
  }
  return dir;
}

// The items of a run by path: what follows each head, up to the next.
std::map<std::string, std::string> itemsByPath(const std::string &output) {
  std::map<std::string, std::string> items;
  std::string masked = test::maskVarying(output);
  std::size_t at = masked.find(".Processing \"");
  while (at != std::string::npos) {
    std::size_t pathEnd = masked.find("\"...  ", at);
    std::string path = masked.substr(at + 13, pathEnd - at - 13);
    std::size_t next = masked.find(".Processing \"", pathEnd);
    std::size_t end = next == std::string::npos ? masked.size() : masked.rfind('\n', next);
    std::string item = masked.substr(pathEnd, end - pathEnd);
    while (!item.empty() && item.back() == '\n') item.pop_back(); // the last one has the run's line break
    items[path] = item;
    at = next;
  }
  return items;
}

// The formula summary, counted from the file in the simplest way: the prefix
// lines in order, free variables first (existential), the declared clause
// count. Assumes the plain layout of the benchmark files.
std::string expectedSummary(const std::string &text) {
  std::istringstream in(text);
  std::string line;
  long declaredVars = 0, declaredClauses = 0;
  std::vector<char> types; // prefix entries in order
  std::set<long> quantified;
  std::set<long> freeVars;
  bool header = false, prefixDone = false, emptyClause = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream tokens(line);
    std::string first;
    if (!(tokens >> first)) continue;
    if (!header) {
      if (first[0] == 'c') continue;
      std::string cnf;
      tokens >> cnf >> declaredVars >> declaredClauses;
      header = true;
      continue;
    }
    if (first[0] == 'c') continue;
    if (!prefixDone && (first[0] == 'a' || first[0] == 'e')) {
      long v;
      while (tokens >> v)
        if (v != 0) types.push_back(first[0]), quantified.insert(v);
      continue;
    }
    if (!prefixDone) {
      prefixDone = true;
      if (types.empty())
        for (long v = 1; v <= declaredVars; v++) types.push_back('e'), quantified.insert(v);
    }
    if (first[0] != '-' && (first[0] < '0' || first[0] > '9')) continue;
    std::vector<long> lits{std::stol(first)};
    if (lits[0] == 0) {
      emptyClause = true;
      continue;
    }
    long lit;
    while (tokens >> lit && lit != 0) lits.push_back(lit);
    bool tautology = false;
    for (long a : lits)
      for (long b : lits) tautology = tautology || a == -b;
    if (tautology || emptyClause) continue;
    for (long l : lits)
      if (!quantified.count(std::labs(l))) freeVars.insert(std::labs(l));
  }
  std::vector<char> codes(freeVars.size(), 'e');
  codes.insert(codes.end(), types.begin(), types.end());
  long forall = 0, blocks = 0;
  for (std::size_t i = 0; i < codes.size(); i++) {
    forall += codes[i] == 'a';
    if (i == 0 || codes[i] != codes[i - 1]) blocks++;
  }
  std::ostringstream out;
  out << "\n---------QBF--------\n   variables: " << codes.size() << "\n      FORALL: " << forall
      << "\n      EXISTS: " << static_cast<long>(codes.size()) - forall << "\nalternations: " << blocks - 1
      << "\n     clauses: " << declaredClauses;
  return out.str();
}

class RealInstances : public ::testing::Test {
protected:
  void SetUp() override {
    if (instancesDir().empty()) GTEST_SKIP() << "the benchmark instances are not here (set TARNU_INSTANCES)";
  }
};

TEST_F(RealInstances, SummariesMatchIndependentCounts) {
  const ScratchDir &dir = unpacked();
  test::RunResult r = test::runTarnu({"instances"}, dir.path());
  std::map<std::string, std::string> items = itemsByPath(r.out);
  int files = 0;
  for (const auto &entry : fs::recursive_directory_iterator(dir.file("instances"))) {
    std::string name = entry.path().filename();
    if (!entry.is_regular_file() || !(name.ends_with(".qdimacs") || name.ends_with(".qcnf"))) continue;
    files++;
    std::string path = fs::relative(entry.path(), dir.path());
    ASSERT_EQ(items.count(path), 1u) << path;
    const std::string &item = items[path];
    std::string summary = expectedSummary(test::readFile(entry.path()));
    EXPECT_EQ(item.substr(6, summary.size()), summary) << path;
    bool ok = item.find("--------------------\n[OK, Xs]") != std::string::npos;
    bool unsat = item.find("[Abnormal exit due to error \"UNSAT_FOR_QBF_FORALL_REDUCTION\"") != std::string::npos;
    EXPECT_TRUE(ok || unsat) << path << item;
  }
  EXPECT_EQ(files, 335);
  EXPECT_EQ(r.status, files % 256);
}

TEST_F(RealInstances, ItemsMatchTheExpectedOutputInBothModes) {
  const ScratchDir &dir = unpacked();
  for (const char *mode : {"run", "run-pre"}) {
    std::vector<std::string> args;
    if (std::string(mode) == "run-pre") args.push_back("-pre");
    args.push_back("instances");
    test::RunResult r = test::runTarnu(args, dir.path());
    std::map<std::string, std::string> actual = itemsByPath(r.out);
    std::map<std::string, std::string> expected =
        itemsByPath(test::readFile(test::sourceDir() + "/tests/golden/instances/" + mode + ".out"));
    EXPECT_EQ(actual.size(), expected.size());
    for (const auto &[path, item] : expected) EXPECT_EQ(actual[path], item) << mode << " " << path;
  }
}

} // namespace

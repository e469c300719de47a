// End to end, what the case files cannot say: children killed while they
// run (their marks the same with one job or several), too little memory,
// formulas and directory trees of extreme sizes, DOT labels longer than
// Graphviz reads in one piece.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include "Support.h"

namespace {

// Runs under a 4 GB address space (none when sanitized) and expects success
// or the clean abnormal exit for lack of memory.
test::RunResult runLimited(const std::vector<std::string> &args) {
  test::RunResult r = test::runTarnu(args, {.memory = test::sanitized() ? 0 : 4ULL << 30});
  bool ok = r.status == 1 && r.out.find("[OK, ") != std::string::npos;
  bool noMemory = r.status == 255 && r.out.find("\"Cannot allocate memory\"") != std::string::npos;
  EXPECT_TRUE(ok || noMemory) << r.status << "\n" << r.out.substr(0, 2000);
  return r;
}

// Sends each instance child the signal for its file, once the child has the
// file open (it is then reading it, past its item head).
std::function<void(int)> killReaders(std::map<std::string, int> signals, int &sent) {
  return [signals, &sent](int pid) {
    namespace fs = std::filesystem;
    std::string children = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
    std::set<int> done;
    for (int attempt = 0; attempt < 200000 && done.size() < signals.size() && kill(pid, 0) == 0; attempt++) {
      std::ifstream list(children);
      for (int child; list >> child;) {
        std::error_code error;
        for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(child) + "/fd", error)) {
          std::string target = fs::read_symlink(fd.path(), error).filename();
          auto found = signals.find(target);
          if (found != signals.end() && !done.count(child) && kill(child, found->second) == 0) done.insert(child);
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    sent = static_cast<int>(done.size());
  };
}

TEST(System, SeveralJobsPrintWhatOneJobPrints) {
  test::ScratchDir dir;
  for (int i = 0; i < 12; i++)
    test::writeFile(dir.file("d/s" + std::to_string(i % 3) + "/ok" + std::to_string(i) + ".qdimacs"),
                    "p cnf " + std::to_string(i % 3 + 3) + " 2\na 1 0\ne 2 " + std::to_string(i % 3 + 3) +
                        " 0\n1 2 0\n-1 2 0\n");
  test::writeFile(dir.file("d/crash.qdimacs"), test::chain(1500000));
  test::writeFile(dir.file("d/s1/slow.qdimacs"), test::chain(1500000));
  test::writeFile(dir.file("d/s1/stop.qdimacs"), test::chain(1400000));
  test::writeFile(dir.file("d/s2/parse.qdimacs"), "p cnf 2\n1 0\n");
  test::writeFile(dir.file("d/s2/none.qdimacs"), "c no problem line\n");
  test::writeFile(dir.file("d/abnormal.qdimacs"), "p cnf 2 1\na 1 0\ne 2 0\n1 0\n");
  std::string expected;
  for (const char *jobs : {"-jobs=1", "-jobs=2", "-jobs=7"}) {
    int sent = 0;
    test::RunResult r =
        test::runTarnu({jobs, "-timeout=60", "d"},
                       {.cwd = dir.path(),
                        .whileRunning = killReaders({{"crash.qdimacs", SIGSEGV}, {"stop.qdimacs", SIGUSR1}}, sent)});
    ASSERT_EQ(sent, 2) << jobs;
    EXPECT_EQ(r.status, 18) << jobs;
    // Standard error's last line, the summary (a sanitizer's report of the
    // SIGSEGV before it differs from run to run).
    std::size_t summary = r.err.rfind("tarnu: ");
    std::string all = test::mask(r.out) + (summary == std::string::npos ? "" : r.err.substr(summary));
    for (const char *mark : {"[CRASH]", "[TIMEOUT]", "[PARSE ERROR", "Abnormal exit"})
      EXPECT_NE(all.find(mark), std::string::npos) << jobs << " " << mark;
    if (expected.empty())
      expected = all;
    else
      EXPECT_EQ(all, expected) << jobs;
  }
  // The instances of a folder, all of one size, run in the order it lists them.
  std::vector<std::string> listed, ran;
  for (const auto &entry : std::filesystem::directory_iterator(dir.file("d/s0")))
    listed.push_back("d/s0/" + entry.path().filename().string());
  for (const auto &[path, text] : test::items(expected))
    if (path.starts_with("d/s0/")) ran.push_back(path);
  EXPECT_EQ(ran, listed);
  // In file mode the mark is the one instance's outcome.
  const struct {
    const char *path, *name;
    int signal, status;
    const char *mark;
  } killed[] = {{"d/crash.qdimacs", "crash.qdimacs", SIGSEGV, 251, "[CRASH]\n"},
                {"d/s1/stop.qdimacs", "stop.qdimacs", SIGUSR1, 30, "[TIMEOUT]\n"}};
  for (const auto &k : killed) {
    int sent = 0;
    test::RunResult r =
        test::runTarnu({k.path}, {.cwd = dir.path(), .whileRunning = killReaders({{k.name, k.signal}}, sent)});
    EXPECT_EQ(r.status, k.status) << k.path;
    EXPECT_TRUE(r.out.ends_with(k.mark)) << r.out;
  }
}

// The shares of a walk (-shard=K/N) hold its items, each once, under the
// numbers of the whole run; each share counts its own instances.
TEST(System, ShardsTogetherAreTheWholeRun) {
  test::ScratchDir dir;
  for (int i = 0; i < 17; i++)
    test::writeFile(dir.file("d/s" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".qdimacs"),
                    "p cnf " + std::to_string(i % 5 + 2) + " 1\ne 1 2 0\n1 -2 0\n");
  test::writeFile(dir.file("d/parse.qdimacs"), "p cnf 2\n1 0\n");
  test::writeFile(dir.file("d/s1/none.qdimacs"), "c no problem line\n");
  test::RunResult whole = test::runTarnu({"d"}, {.cwd = dir.path()});
  ASSERT_EQ(whole.status, 19);
  std::map<int, std::string> expected;
  for (const auto &[path, text] : test::items(test::mask(whole.out))) expected[std::stoi(text)] = text;
  ASSERT_EQ(expected.size(), 19u);
  // tarnu-table joins the shares, given in reverse, into the whole run's
  // table (the times aside).
  auto table = [&](std::vector<std::string> args) {
    test::RunResult r = test::run(test::tableBinary(), args, {.cwd = dir.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string masked;
    std::istringstream rows(r.out);
    for (std::string row; std::getline(rows, row);) { // growing_time_ms and seconds go
      std::vector<std::string> fields;
      for (std::size_t at = 0;; at = row.find(',', at) + 1) {
        fields.push_back(row.substr(at, row.find(',', at) - at));
        if (row.find(',', at) == std::string::npos) break;
      }
      fields[8] = fields.back() = "";
      for (const std::string &field : fields) masked += field + ",";
      masked += "\n";
    }
    return masked;
  };
  test::writeFile(dir.file("whole.out"), whole.out);
  const std::string wholeTable = table({"whole.out"});
  for (int n : {1, 2, 3, 7}) {
    std::map<int, std::string> joined;
    std::vector<std::string> shares{"--shards=" + std::to_string(n)};
    for (int k = n; k >= 1; k--) {
      std::string shard = "-shard=" + std::to_string(k) + "/" + std::to_string(n);
      test::RunResult r = test::runTarnu({"-jobs=2", shard, "d"}, {.cwd = dir.path()});
      test::writeFile(dir.file("share" + std::to_string(k)), r.out);
      shares.push_back("share" + std::to_string(k));
      int count = 0;
      for (const auto &[path, text] : test::items(test::mask(r.out))) {
        int number = std::stoi(text);
        EXPECT_EQ(number % n, k % n) << shard << " ran " << path;
        EXPECT_TRUE(joined.emplace(number, text).second) << shard << ": " << number << " twice";
        count++;
      }
      EXPECT_EQ(r.status, count) << shard;
      EXPECT_TRUE(r.err.starts_with("tarnu: " + std::to_string(count) + " instances: ")) << shard << r.err;
    }
    EXPECT_EQ(joined, expected) << n << " shards";
    EXPECT_EQ(table(shares), wholeTable) << n << " shards";
  }
}

TEST(System, TimeAndMemoryLimitsEndAnInstanceAndTheRunGoesOn) {
  test::ScratchDir dir;
  // Gigabytes of comment lines after the problem line: slow to read in any build.
  test::writeFile(dir.file("d/a/slow.qdimacs.gz"),
                  test::gzipped("p cnf 1 1\n") + test::gzippedComments(3000) + test::gzipped("1 0\n"));
  test::writeFile(dir.file("d/zz.qdimacs"), "p cnf 1 1\n1 0\n"); // after the subfolder
  for (const char *jobs : {"-jobs=1", "-jobs=2"}) {
    test::RunResult r = test::runTarnu({jobs, "-timeout=1", "d"}, {.cwd = dir.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("\"d/a/slow.qdimacs.gz\"...  [TIMEOUT]\n2.Processing \"d/zz.qdimacs\""), std::string::npos)
        << r.out;
    EXPECT_TRUE(test::mask(r.out).ends_with("[OK, Xs]\n\n")) << r.out;
  }
  EXPECT_EQ(test::runTarnu({"-timeout=0.2", "d/a/slow.qdimacs.gz"}, {.cwd = dir.path()}).status, 30);
  if (test::sanitized()) return; // the sanitizers' shadow memory needs the address space
  std::filesystem::remove(dir.file("d/a/slow.qdimacs.gz"));
  test::writeFile(dir.file("d/a/big.qdimacs"), test::chain(2000000));
  test::RunResult r = test::runTarnu({"-memout=64", "d"}, {.cwd = dir.path()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("...  [Abnormal exit due to error \"Cannot allocate memory\""), std::string::npos) << r.out;
  EXPECT_TRUE(test::mask(r.out).ends_with("[OK, Xs]\n\n")) << r.out;
}

TEST(System, ExtremeShapes) {
  test::ScratchDir dir;
  const int n = test::sanitized() ? 200000 : 1000000;
  test::writeFile(dir.file("chain.qdimacs"), test::chain(n));
  for (const char *form : {"-tree", "-linear"}) {
    test::RunResult r = runLimited({"-tree", form, dir.file("chain.qdimacs")});
    EXPECT_NE(r.out.find("       Depth: " + std::to_string(n + 1) + "\n"), std::string::npos);
    std::string dot = test::readFile(dir.file("chain.qdimacs.treeDup.dot"));
    EXPECT_EQ(std::count(dot.begin(), dot.end(), '\n'), std::string(form) == "-tree" ? 3L * n + 1 : 3L * n + 3);
  }
  std::string vars;
  for (int v = 1; v <= 100000; v++) vars += std::to_string(v) + " ";
  test::writeFile(dir.file("universals.qdimacs"),
                  "p cnf 100001 1\na " + vars + "0\ne 100001 0\n" + vars + "100001 0\n");
  test::RunResult r = runLimited({dir.file("universals.qdimacs")});
  std::size_t at = r.out.find("D-Components: ") + 14;
  std::string d = r.out.substr(at, r.out.find('\n', at) - at);
  EXPECT_EQ(d.size(), 30103u) << "2^100000 has 30103 digits";
  EXPECT_TRUE(d.starts_with("99900209301438450794") && d.ends_with("55304734389883109376"));
  if (test::sanitized()) return; // gigabytes of tables
  // The largest counts with variables far apart, and every declared variable
  // existential: tables indexed by variable number cost what is used.
  test::writeFile(dir.file("sparse.qdimacs"), "p cnf 268435455 2147483647\na 268435455 0\ne 1 0\n1 -268435455 0\n");
  EXPECT_NE(runLimited({dir.file("sparse.qdimacs")}).out.find("     clauses: 2147483647\n"), std::string::npos);
  test::writeFile(dir.file("dense.qdimacs"), "p cnf 2000000 1\n1 -2000000 0\n");
  EXPECT_NE(runLimited({dir.file("dense.qdimacs")}).out.find("   variables: 2000000\n"), std::string::npos);
}

TEST(System, DirectoryTreesTwoThousandDeep) {
  test::ScratchDir dir;
  std::string path = dir.path();
  for (int level = 0; level < 2000; level++) path += "/d";
  ASSERT_EQ(test::run("/bin/mkdir", {"-p", path}).status, 0);
  test::writeFile(path + "/deep.qdimacs", "p cnf 1 1\n1 0\n");
  test::writeFile(dir.file("top.qdimacs"), "p cnf 1 1\n1 0\n");
  test::RunResult r = test::runTarnu({dir.path()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("1.Processing \"" + path + "/deep.qdimacs\"...  \n"), std::string::npos);
}

// The label of the first statement starting with the text, its quoted
// pieces joined.
std::string label(const std::string &dot, const std::string &start, bool &pieces) {
  std::size_t at = dot.find("\n" + start);
  std::string line = dot.substr(at + 1, dot.find('\n', at + 1) - at - 1), text;
  pieces = line.find("\" + \"") != std::string::npos;
  for (at = line.find("label = \"") + 9;; at += 5) {
    std::size_t end = line.find('"', at);
    text += line.substr(at, end - at);
    if (line.compare(end, 5, "\" + \"") != 0) return text;
    at = end;
  }
}

TEST(System, LongLabelsAreWrittenWholeInPiecesGraphvizReads) {
  test::ScratchDir dir;
  std::string clauses = "p cnf 3001 2\ne", positive, negative, expected;
  for (int v = 1; v <= 3001; v++) {
    clauses += " " + std::to_string(v);
    positive += std::to_string(v) + " ";
    negative += std::to_string(-v) + " ";
    expected += std::string(v > 1 ? "," : "") + std::to_string(v);
  }
  test::writeFile(dir.file("wide.qdimacs"), clauses + " 0\n" + positive + "0\n" + negative + "0\n");
  test::runTarnu({"-clauses", dir.file("wide.qdimacs")});
  std::string negatives = std::regex_replace(expected, std::regex("([0-9]+)"), "-$1");
  bool pieces = false;
  EXPECT_EQ(label(test::readFile(dir.file("wide.qdimacs.treeDup.dot")), "c", pieces),
            "{{" + negatives + "}|{" + expected + "}}");
  EXPECT_TRUE(pieces);
  test::expectGraphvizReads(dir.file("wide.qdimacs.treeDup.dot"));
  std::string vars;
  for (int v = 1; v <= 4000; v++) vars += std::to_string(v) + " ";
  test::writeFile(dir.file("chain.qdimacs"), "p cnf 4000 1\ne " + vars + "0\n" + vars + "0\n");
  test::runTarnu({"-tree", dir.file("chain.qdimacs")});
  std::string octagon = label(test::readFile(dir.file("chain.qdimacs.treeDup.dot")), "n0 ", pieces);
  EXPECT_TRUE(pieces);
  EXPECT_TRUE(octagon.starts_with("e1 2\\n 3 4 5 6") && octagon.ends_with(" 4000\\n")) << octagon;
  EXPECT_EQ(std::count(octagon.begin(), octagon.end(), ' '), 3999) << "every variable of the chain";
  test::expectGraphvizReads(dir.file("chain.qdimacs.treeDup.dot"));
}

} // namespace

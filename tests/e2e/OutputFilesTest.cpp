// The files Tarnu writes: the probe results in the working directory and the
// DOT file beside the input, and what it does when they cannot be written
// safely.

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"

using test::fileExists;
using test::readFile;
using test::runTarnu;
using test::ScratchDir;
using test::writeFile;

namespace {

const std::string TINY = "p cnf 2 1\ne 1 2 0\n1 2 0\n";

TEST(ProbeFiles, WrittenInTheWorkingDirectoryWithTheirShapes) {
  ScratchDir dir;
  writeFile(dir.file("t.qdimacs"), TINY);
  test::RunResult r = runTarnu({"t.qdimacs"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(std::regex_match(readFile(dir.file("memUsage")), std::regex("   VSZ   RSS\n *[0-9]+ +[0-9]+\n")))
      << readFile(dir.file("memUsage"));
  EXPECT_TRUE(std::regex_search(readFile(dir.file("freeMem")), std::regex("\nPages free: [0-9]+\\.\n")))
      << readFile(dir.file("freeMem"));
}

TEST(ProbeFiles, PlantedLinksAndFifosAreNeverWrittenThrough) {
  ScratchDir dir, elsewhere;
  writeFile(dir.file("t.qdimacs"), TINY);
  writeFile(elsewhere.file("victim"), "precious\n");
  ASSERT_EQ(symlink(elsewhere.file("victim").c_str(), dir.file("memUsage").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.file("freeMem").c_str(), 0644), 0);
  auto start = std::chrono::steady_clock::now();
  test::RunResult r = runTarnu({"t.qdimacs"}, dir.path());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "a FIFO never blocks";
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("[OK, "), std::string::npos);
  EXPECT_EQ(readFile(elsewhere.file("victim")), "precious\n");
  struct stat st;
  ASSERT_EQ(lstat(dir.file("memUsage").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // A dangling link and a directory under those names: the same.
  ScratchDir other;
  writeFile(other.file("t.qdimacs"), TINY);
  ASSERT_EQ(symlink(other.file("nowhere").c_str(), other.file("memUsage").c_str()), 0);
  ASSERT_EQ(mkdir(other.file("freeMem").c_str(), 0755), 0);
  r = runTarnu({"t.qdimacs"}, other.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fileExists(other.file("nowhere")));
}

TEST(ProbeFiles, ReadOnlyWorkingDirectoryChangesNothingVisible) {
  if (test::unprivilegedUid() < 0 && geteuid() == 0) GTEST_SKIP() << "needs an unprivileged user";
  ScratchDir dir, work;
  writeFile(dir.file("t.qdimacs"), TINY);
  test::openUp(dir.path());
  chmod(work.path().c_str(), 0555);
  test::RunOptions options;
  options.cwd = work.path();
  options.unprivileged = true;
  test::RunResult r = runTarnu({dir.file("t.qdimacs")}, options);
  test::RunResult reference = runTarnu({dir.file("t.qdimacs")}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::maskVarying(r.out), test::maskVarying(reference.out));
  EXPECT_FALSE(fileExists(work.file("memUsage")));
}

TEST(DotFile, PlantedLinkOrFifoGetsTheMarkAndTheRunGoesOn) {
  ScratchDir dir, elsewhere;
  writeFile(dir.file("l.qdimacs"), TINY);
  writeFile(dir.file("f.qdimacs"), TINY);
  writeFile(elsewhere.file("victim"), "precious\n");
  ASSERT_EQ(symlink(elsewhere.file("victim").c_str(), dir.file("l.qdimacs.treeDup.dot").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.file("f.qdimacs.treeDup.dot").c_str(), 0644), 0);
  test::RunResult r = runTarnu({"-tree", dir.path()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(elsewhere.file("victim")), "precious\n");
  std::string masked = test::maskVarying(r.out);
  for (const char *name : {"f.qdimacs", "l.qdimacs"})
    EXPECT_NE(masked.find(std::string(name) + "\"...  \n---------QBF--------\n   variables: 2\n      FORALL: 0\n"
                                              "      EXISTS: 2\nalternations: 0\n     clauses: 1"
                                              "[DOT FILE NOT WRITTEN: not a regular file]\n--------TARNU-------\n"),
              std::string::npos)
        << masked;
  EXPECT_EQ(std::count(masked.begin(), masked.end(), '['), 2 + 2) << "two marks, two [OK";
}

TEST(DotFile, ReadOnlyInputDirectoryGetsTheMarkWithTheReason) {
  if (test::unprivilegedUid() < 0 && geteuid() == 0) GTEST_SKIP() << "needs an unprivileged user";
  ScratchDir dir;
  writeFile(dir.file("t.qdimacs"), TINY);
  test::openUp(dir.path());
  chmod(dir.path().c_str(), 0555);
  test::RunOptions options;
  options.unprivileged = true;
  options.cwd = "/";
  test::RunResult r = runTarnu({"-tree", dir.file("t.qdimacs")}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("     clauses: 1[DOT FILE NOT WRITTEN: Permission denied]\n--------TARNU-------"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("[OK, "), std::string::npos);
  EXPECT_FALSE(fileExists(dir.file("t.qdimacs.treeDup.dot")));
}

TEST(DotFile, AnExistingFileIsReplacedWhole) {
  ScratchDir dir;
  writeFile(dir.file("t.qdimacs"), TINY);
  writeFile(dir.file("t.qdimacs.treeDup.dot"), std::string(100000, 'x'));
  test::RunResult r = runTarnu({"-tree", dir.file("t.qdimacs")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(readFile(dir.file("t.qdimacs.treeDup.dot")),
            "digraph G0 {\nroot [label = \"and\"];\n"
            "n0 [label = \"e1 2\\n\" shape=\"octagon\" style=\"filled\" color=\"#DDFFBB\"];\n"
            "c0 [label = \"1\" shape =\"house\" style=\"filled\" bgcolor=\"red\"];\nn0 -> { c0 }\nroot -> { n0 }\n}\n");
}

} // namespace

namespace {

// The label of the statement on the line, its quoted pieces joined.
std::string labelOf(const std::string &line) {
  std::size_t at = line.find("label = \"");
  std::string label;
  at += 9;
  for (;;) {
    std::size_t end = line.find('"', at);
    label += line.substr(at, end - at);
    if (line.compare(end, 5, "\" + \"") != 0) break;
    at = end + 5;
  }
  return label;
}

std::string lineWith(const std::string &text, const std::string &start) {
  std::size_t at = text.find("\n" + start);
  return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
}

TEST(DotFile, LongLabelsAreWrittenWholeInPiecesGraphvizReads) {
  ScratchDir dir;
  // A node with clauses of 3000 literals each, and a chain of 4000 nodes.
  std::string clauses = "p cnf 3001 2\ne";
  for (int v = 1; v <= 3001; v++) clauses += " " + std::to_string(v);
  clauses += " 0\n";
  std::string expected = "{{";
  for (int round = 0; round < 2; round++) {
    for (int v = 1; v <= 3001; v++) clauses += std::to_string(round ? -v : v) + " ";
    clauses += "0\n";
  }
  for (int round = 1; round >= 0; round--) {
    for (int v = 1; v <= 3001; v++) expected += (round ? "-" : "") + std::to_string(v) + (v < 3001 ? "," : "");
    expected += round ? "}|{" : "}}";
  }
  writeFile(dir.file("wide.qdimacs"), clauses);
  test::RunResult r = runTarnu({"-clauses", dir.file("wide.qdimacs")});
  EXPECT_EQ(r.status, 1);
  std::string dot = readFile(dir.file("wide.qdimacs.treeDup.dot"));
  std::string record = lineWith(dot, "c");
  EXPECT_NE(record.find("\" + \""), std::string::npos) << "a label longer than Graphviz reads in one piece";
  EXPECT_EQ(labelOf(record), expected);
  test::expectGraphvizReads(dir.file("wide.qdimacs.treeDup.dot"));

  std::string chain = "p cnf 4000 1\ne";
  for (int v = 1; v <= 4000; v++) chain += " " + std::to_string(v);
  chain += " 0\n";
  for (int v = 1; v <= 4000; v++) chain += std::to_string(v) + " ";
  chain += "0\n";
  writeFile(dir.file("chain.qdimacs"), chain);
  r = runTarnu({"-tree", dir.file("chain.qdimacs")});
  EXPECT_EQ(r.status, 1);
  dot = readFile(dir.file("chain.qdimacs.treeDup.dot"));
  std::string octagon = labelOf(lineWith(dot, "n0 "));
  EXPECT_NE(lineWith(dot, "n0 ").find("\" + \""), std::string::npos);
  EXPECT_EQ(octagon.substr(0, 14), "e1 2\\n 3 4 5 6");
  EXPECT_EQ(std::count(octagon.begin(), octagon.end(), ' '), 3999) << "every variable of the chain";
  EXPECT_EQ(octagon.substr(octagon.size() - 7), " 4000\\n");
  test::expectGraphvizReads(dir.file("chain.qdimacs.treeDup.dot"));
}

} // namespace

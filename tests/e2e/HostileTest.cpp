// Hostile input, end to end: line ends and bytes of every kind, lines around
// the reader's capacity, formulas of extreme shapes, unreadable paths, and
// too little memory. Whatever the input: no crash, no hang, and a clear
// outcome (the output, a parse error, or the abnormal exit).

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"

using test::runTarnu;
using test::ScratchDir;
using test::writeFile;

namespace {

constexpr unsigned long long GIGABYTE = 1ULL << 30;

// The item of the run, with its head (and so the path) left out.
std::string itemBody(const test::RunResult &r) {
  std::string masked = test::maskVarying(r.out);
  std::size_t head = masked.find("\"...  ");
  return head == std::string::npos ? masked : masked.substr(head);
}

// Runs both files and expects the same item.
void expectSameItem(const std::string &a, const std::string &b, const std::vector<std::string> &options = {}) {
  std::vector<std::string> argsA = options, argsB = options;
  argsA.push_back(a);
  argsB.push_back(b);
  test::RunResult ra = runTarnu(argsA), rb = runTarnu(argsB);
  EXPECT_EQ(ra.status, rb.status);
  EXPECT_EQ(itemBody(ra), itemBody(rb));
  EXPECT_NE(ra.out.find("[OK, "), std::string::npos) << ra.out;
}

// Runs with a 4 GB address space (unless sanitized) and expects success or
// the clean abnormal exit for lack of memory.
test::RunResult runLimited(const std::vector<std::string> &args) {
  test::RunOptions options;
  if (!test::sanitized()) options.addressSpaceLimit = 4 * GIGABYTE;
  test::RunResult r = runTarnu(args, options);
  bool ok = r.status == 1 && r.out.find("[OK, ") != std::string::npos;
  bool noMemory = r.status == 255 && r.out.find("[Abnormal exit due to error \"Cannot allocate memory\"") != std::string::npos;
  EXPECT_TRUE(ok || noMemory) << r.status << "\n" << r.out.substr(0, 2000);
  return r;
}

const std::string FORMULA = "c a formula\np cnf 5 4\na 1 2 0\ne 3 4 5 0\n1 3 -4 0\n-2 4 5 0\n3 -5 0\n-1 2 5 0\n";

TEST(LineEnds, CrlfReadsAsLf) {
  ScratchDir dir;
  std::string crlf;
  for (char c : FORMULA) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  writeFile(dir.file("lf.qdimacs"), FORMULA);
  writeFile(dir.file("crlf.qdimacs"), crlf);
  expectSameItem(dir.file("lf.qdimacs"), dir.file("crlf.qdimacs"), {"-clauses"});
}

TEST(LineEnds, CarriageReturnsOnlyAndStrayBytesEndCleanly) {
  // Lines end at line feeds only: a file of carriage returns is one comment
  // line, without a problem line (the item ends after its head, status 252).
  ScratchDir dir;
  std::string cr = FORMULA;
  for (char &c : cr)
    if (c == '\n') c = '\r';
  writeFile(dir.file("cr.qdimacs"), cr);
  writeFile(dir.file("bytes.qdimacs"), "c caf\xc3\xa9 \xff\xfe\np cnf 3 2\ne 1 2 3 0\n1 \xe2\x82\xac 2 0\n\x80\x81 3 0\n-1 3 0\n");
  writeFile(dir.file("nul.qdimacs"), std::string("p cnf 2 1\ne 1 2\0 0\n1 2 0\n\0\0\0", 27));
  test::RunResult r = runTarnu({"-tree", dir.file("cr.qdimacs")});
  EXPECT_EQ(r.status, 252);
  EXPECT_EQ(itemBody(r), "\"...  \n");
  for (const char *name : {"bytes.qdimacs", "nul.qdimacs"}) {
    r = runTarnu({"-tree", dir.file(name)});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.out.find("[OK, "), std::string::npos) << name << "\n" << r.out;
  }
}

TEST(LongLines, SameItemAsWithShortLines) {
  ScratchDir dir;
  writeFile(dir.file("short.qdimacs"), FORMULA);
  for (std::size_t length : {999998u, 999999u, 1000000u, 3000000u}) {
    // The first clause padded to the length, and a comment of the length.
    std::string padded = "1 3" + std::string(length - 8, ' ') + "-4 0\n";
    std::string comment = "c" + std::string(length - 2, 'x') + "\n";
    std::string text = FORMULA;
    text.replace(text.find("1 3 -4 0\n"), 9, padded);
    text.insert(text.find("-2 4 5 0\n"), comment);
    ASSERT_EQ(padded.size(), length);
    std::string name = dir.file("long" + std::to_string(length) + ".qdimacs");
    writeFile(name, text);
    expectSameItem(dir.file("short.qdimacs"), name, {"-clauses"});
  }
}

TEST(LongLines, NumbersAcrossTheReadingBlocks) {
  // Clauses of large numbers, so that numbers lie across every boundary of
  // the reader's blocks; the same clauses after a comment that shifts them.
  ScratchDir dir;
  std::ostringstream clauses;
  for (int i = 0; i < 200000; i++) clauses << 1000000 + i % 7919 << ' ' << -(1000000 + (i * 31) % 7919) << " 0\n";
  writeFile(dir.file("a.qdimacs"), "p cnf 1007919 200000\n" + clauses.str());
  writeFile(dir.file("b.qdimacs"), "p cnf 1007919 200000\nc shift\n" + clauses.str());
  expectSameItem(dir.file("a.qdimacs"), dir.file("b.qdimacs"));
}

std::string chain(int n) {
  std::ostringstream text;
  text << "p cnf " << n << ' ' << n - 1 << "\ne";
  for (int v = 1; v <= n; v++) text << ' ' << v;
  text << " 0\n";
  for (int v = 1; v < n; v++) text << v << ' ' << -(v + 1) << " 0\n";
  return text.str();
}

TEST(Scale, DeepChainWithTheDotFileInBothForms) {
  ScratchDir dir;
  const int n = test::sanitized() ? 200000 : 1000000;
  writeFile(dir.file("chain.qdimacs"), chain(n));
  for (bool linear : {false, true}) {
    std::vector<std::string> args{"-tree"};
    if (linear) args.push_back("-linear");
    args.push_back(dir.file("chain.qdimacs"));
    test::RunResult r = runLimited(args);
    ASSERT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("       Depth: " + std::to_string(n + 1) + "\n"), std::string::npos);
    std::ifstream dot(dir.file("chain.qdimacs.treeDup.dot"));
    std::string line, second, last;
    long lines = 0;
    while (std::getline(dot, line)) {
      if (++lines == 3) second = line;
      last = line;
    }
    EXPECT_EQ(last, "}");
    // Per node a circle, a house (all but the first) and an edge statement,
    // plus the graph's and the root's lines; collapsed, the first two nodes
    // share one octagon and one edge statement.
    EXPECT_EQ(lines, linear ? 3L * n + 3 : 3L * n + 1) << (linear ? "linear" : "collapsed");
    EXPECT_EQ(second, linear ? "n0 [label = \"e1\" shape=\"circle\" style=\"filled\" color=\"#DDFFBB\"];"
                             : "n0 [label = \"e1 2\\n\" shape=\"octagon\" style=\"filled\" color=\"#DDFFBB\"];");
  }
}

TEST(Scale, ManyUniversalsAboveOneExistential) {
  ScratchDir dir;
  writeFile(dir.file("u.qdimacs"), test::universalsAboveOneExistential(100000));
  test::RunResult r = runLimited({dir.file("u.qdimacs")});
  ASSERT_EQ(r.status, 1);
  std::size_t at = r.out.find("D-Components: ");
  ASSERT_NE(at, std::string::npos);
  std::string d = r.out.substr(at + 14, r.out.find('\n', at) - at - 14);
  EXPECT_EQ(d.size(), 30103u) << "2^100000 has 30103 digits";
  EXPECT_EQ(d.substr(0, 20), "99900209301438450794");
  EXPECT_EQ(d.substr(d.size() - 20), "55304734389883109376");
  EXPECT_NE(r.out.find("FORALL nodes: 100000\n"), std::string::npos);
}

TEST(Scale, ManyClausesFreeVariablesAndFanOut) {
  ScratchDir dir;
  const int scale = test::sanitized() ? 5 : 1;
  std::ostringstream units, frees, fan;
  const int clauses = 1000000 / scale;
  units << "p cnf " << clauses << ' ' << clauses << '\n';
  for (int v = 1; v <= clauses; v++) units << v << " 0\n";
  const int freeVars = 300000 / scale;
  frees << "p cnf 10 " << freeVars << "\ne 1 2 3 4 5 6 7 8 9 10 0\n";
  for (int v = 1; v <= freeVars; v++) frees << 10 + v << ' ' << 1 + v % 10 << ' ' << 11 + (v * 7) % freeVars << " 0\n";
  const int width = 2000 / scale;
  fan << "p cnf " << 2 * width << ' ' << width << "\na";
  for (int v = 1; v <= width; v++) fan << ' ' << v;
  fan << " 0\ne";
  for (int v = 1; v <= width; v++) fan << ' ' << width + v;
  fan << " 0\n";
  for (int e = 1; e <= width; e++) {
    for (int v = 1; v <= width; v++) fan << v << ' ';
    fan << width + e << " 0\n";
  }
  writeFile(dir.file("units.qdimacs"), units.str());
  writeFile(dir.file("frees.qdimacs"), frees.str());
  writeFile(dir.file("fan.qdimacs"), fan.str());
  for (const char *name : {"units.qdimacs", "frees.qdimacs"})
    for (const char *option : {"-tree", "-pre"}) runLimited({option, dir.file(name)});
  runLimited({"-pre", dir.file("fan.qdimacs")});
  test::RunResult r = runLimited({dir.file("fan.qdimacs")});
  EXPECT_NE(r.out.find("FORALL nodes: " + std::to_string(width * width) + "\n"), std::string::npos);
}

TEST(Scale, HugeDeclaredCounts) {
  if (test::sanitized()) GTEST_SKIP() << "gigabytes of tables under the sanitizers";
  ScratchDir dir;
  // The largest counts, with variables far apart: the tables indexed by
  // variable number cost only what is used.
  writeFile(dir.file("sparse.qdimacs"), "p cnf 268435455 2147483647\na 268435455 0\ne 1 0\n1 -268435455 0\n");
  test::RunResult sparse = runLimited({dir.file("sparse.qdimacs")});
  EXPECT_NE(sparse.out.find("     clauses: 2147483647\n"), std::string::npos);
  // No quantifier line: every declared variable is an existential variable.
  writeFile(dir.file("dense.qdimacs"), "p cnf 2000000 1\n1 -2000000 0\n");
  test::RunResult dense = runLimited({dir.file("dense.qdimacs")});
  EXPECT_NE(dense.out.find("   variables: 2000000\n"), std::string::npos);
  writeFile(dir.file("dup.qdimacs"), "p cnf 2 1\n" + [] {
    std::string line = "e";
    for (int i = 0; i < 10000; i++) line += i % 2 ? " 2" : " 1";
    return line + " 0\n1 2 0\n";
  }());
  test::RunResult r = runLimited({dir.file("dup.qdimacs")});
  EXPECT_NE(r.out.find("   variables: 10000\n"), std::string::npos) << "a variable quantified again takes a further code";
}

TEST(Memory, TooLittleMemoryEndsThroughTheAbnormalExit) {
  if (test::sanitized()) GTEST_SKIP() << "the sanitizers need more address space than the limit";
  ScratchDir dir;
  writeFile(dir.file("chain.qdimacs"), chain(1000000));
  test::RunOptions options;
  options.addressSpaceLimit = 96ULL << 20;
  test::RunResult r = runTarnu({dir.file("chain.qdimacs")}, options);
  EXPECT_EQ(r.status, 255) << r.out;
  EXPECT_NE(r.out.find("[Abnormal exit due to error \"Cannot allocate memory\" at line "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("[CRASH]"), std::string::npos);
}

TEST(Paths, UnreadableFilesAndDirectories) {
  if (test::unprivilegedUid() < 0 && geteuid() == 0) GTEST_SKIP() << "needs an unprivileged user";
  ScratchDir dir;
  writeFile(dir.file("ok.qdimacs"), FORMULA);
  writeFile(dir.file("secret.qdimacs"), FORMULA);
  mkdir(dir.file("closed").c_str(), 0755);
  writeFile(dir.file("closed/inner.qdimacs"), FORMULA);
  test::openUp(dir.path());
  chmod(dir.file("secret.qdimacs").c_str(), 0);
  chmod(dir.file("closed").c_str(), 0);
  test::RunOptions options;
  options.unprivileged = true;
  options.cwd = "/";
  test::RunResult r = runTarnu({dir.path()}, options);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("secret.qdimacs\"...  [PARSE ERROR: cannot open the file: Permission denied]"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("inner.qdimacs"), std::string::npos) << "a directory that cannot be opened adds nothing";
  r = runTarnu({dir.file("secret.qdimacs")}, options);
  EXPECT_EQ(r.status, 254);
  EXPECT_EQ(r.out, "");
}

} // namespace

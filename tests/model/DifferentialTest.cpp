// Differential test: the real program (TARNU_BINARY) against the reference model of
// Model.cpp, on hand-written instances with their expected texts written out here, and on
// thousands of generated instances. For each instance and option set the whole standard
// output (times and build date masked), the exit status and the DOT file are compared.
//
// Environment:
//   TARNU_MODEL_SEEDS        seeds per option set (default 1000, 200 in a sanitised build);
//                            the sets without a DOT file take every fourth seed, "-tree
//                            -linear" every second
//   TARNU_MODEL_EVERY_SEED   if not 0, every option set takes every seed
//   TARNU_MODEL_FIRST_SEED   first seed (default 1)
//   TARNU_MODEL_LARGE_SEEDS  instances of a few hundred variables (default 60, 20 sanitised)
//   TARNU_MODEL_REPORT       mismatches per option set shown in full (default 5)

#include "Generator.h"
#include "Model.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#ifndef TARNU_BINARY
#error "TARNU_BINARY must name the program under test"
#endif

// A sanitised build of the program takes several times longer per run; its build sets
// smaller defaults.
#ifndef TARNU_MODEL_DEFAULT_SEEDS
#define TARNU_MODEL_DEFAULT_SEEDS 1000
#endif
#ifndef TARNU_MODEL_DEFAULT_LARGE_SEEDS
#define TARNU_MODEL_DEFAULT_LARGE_SEEDS 60
#endif

namespace {

using tarnu_model::RunOptions;
using tarnu_model::RunResult;

long environmentNumber(const char *name, long fallback) {
  const char *text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char *end = nullptr;
  long value = std::strtol(text, &end, 10);
  return (end != nullptr && *end == '\0' && value >= 0) ? value : fallback;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A fresh directory that is removed with everything in it.
class TempDir {
public:
  TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarnu-model-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
  }
  ~TempDir() {
    if (!path_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(path_, ignored);
    }
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }

private:
  std::string path_;
};

struct ProgramRun {
  std::string console; // masked
  int exitStatus = -1; // 0..255, or 1000 + signal
  bool dotWritten = false;
  std::string dot;
  std::string errors; // standard error, shown with a mismatch
};

// Runs "TARNU_BINARY options path" with the instance's directory as working directory
// (the memory probes write their result files there).
ProgramRun runProgram(const std::string &dir, const std::string &path, const RunOptions &options) {
  // The DOT file lies beside the input; a relative path is taken from the working directory.
  const std::string dotPath = (path.front() == '/' ? path : dir + "/" + path) + ".treeDup.dot";
  const std::string outPath = dir + "/stdout.txt";
  const std::string errPath = dir + "/stderr.txt";
  std::remove(dotPath.c_str());

  std::vector<std::string> args{TARNU_BINARY};
  for (const std::string &arg : options.arguments()) args.push_back(arg);
  args.push_back(path);
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::cout.flush();
  std::cerr.flush();
  ProgramRun run;
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(127);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) return run;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return run;
  if (WIFEXITED(status))
    run.exitStatus = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    run.exitStatus = 1000 + WTERMSIG(status);
  run.console = tarnu_model::maskConsole(readFile(outPath));
  run.errors = readFile(errPath);
  run.dotWritten = std::filesystem::exists(dotPath);
  if (run.dotWritten) run.dot = readFile(dotPath);
  return run;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::string line;
  for (char ch : text) {
    if (ch == '\n') {
      out.push_back(line);
      line.clear();
    } else {
      line += ch;
    }
  }
  if (!line.empty()) out.push_back(line + "\\ (no newline at end)");
  return out;
}

// A line diff ("-" expected only, "+" actual only, " " both) from a longest common subsequence.
std::string diffView(const std::string &expected, const std::string &actual) {
  const std::vector<std::string> a = lines(expected), b = lines(actual);
  std::vector<std::vector<int>> common(a.size() + 1, std::vector<int>(b.size() + 1, 0));
  for (size_t i = a.size(); i-- > 0;)
    for (size_t j = b.size(); j-- > 0;)
      common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
  std::string out;
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    if (i < a.size() && j < b.size() && a[i] == b[j]) {
      out += "   " + a[i] + "\n";
      ++i;
      ++j;
    } else if (j < b.size() && (i == a.size() || common[i][j + 1] >= common[i + 1][j])) {
      out += " + " + b[j++] + "\n";
    } else {
      out += " - " + a[i++] + "\n";
    }
  }
  return out;
}

// Compares one run with the model; returns an empty text when they agree.
std::string compare(const RunResult &expected, const ProgramRun &actual) {
  std::string report;
  if (expected.exitStatus != actual.exitStatus)
    report += "exit status: expected " + std::to_string(expected.exitStatus) + ", actual " +
              std::to_string(actual.exitStatus) + "\n";
  if (expected.console != actual.console)
    report += "standard output (- expected, + actual):\n" + diffView(expected.console, actual.console);
  if (expected.dotWritten != actual.dotWritten)
    report += std::string("DOT file: expected ") + (expected.dotWritten ? "written" : "absent") + ", actual " +
              (actual.dotWritten ? "written" : "absent") + "\n";
  else if (expected.dot != actual.dot)
    report += "DOT file (- expected, + actual):\n" + diffView(expected.dot, actual.dot);
  if (!report.empty() && !actual.errors.empty()) report += "standard error:\n" + actual.errors;
  return report;
}

RunOptions makeOptions(bool tree, bool clauses, bool linear, bool pre) {
  RunOptions options;
  options.tree = tree;
  options.clauses = clauses;
  options.linear = linear;
  options.pre = pre;
  return options;
}

// ---------------------------------------------------------------------------------------
// Hand-written instances with the texts the documented behaviour gives for them.

const char *const kBanner = "Tarnu v0.1 (revision 80, compiled <date>)";

std::string formulaPart(int variables, int forall, int exists, int alternations, int clauses) {
  return "\n---------QBF--------\n   variables: " + std::to_string(variables) +
         "\n      FORALL: " + std::to_string(forall) + "\n      EXISTS: " + std::to_string(exists) +
         "\nalternations: " + std::to_string(alternations) + "\n     clauses: " + std::to_string(clauses);
}

std::string treePart(const std::string &components, const std::string &dComponents, int depth, int exists, int forall,
                     int branches, int deltaMax, const std::string &deltaAvg) {
  return "\n--------TARNU-------\nGrowing time: <t>ms\n  Components: " + components + "\nD-Components: " + dComponents +
         "\n       Depth: " + std::to_string(depth) + "\nEXISTS nodes: " + std::to_string(exists) +
         "\nFORALL nodes: " + std::to_string(forall) + "\n    Branches: " + std::to_string(branches) +
         "\n   Delta MAX: " + std::to_string(deltaMax) + "\n   Delta AVG: " + deltaAvg + "\n--------------------\n";
}

std::string itemHead(const std::string &path) { return std::string(kBanner) + "\n1.Processing \"" + path + "\"...  "; }

std::string completeItem(const std::string &path, const std::string &formula, const std::string &tree) {
  return itemHead(path) + formula + tree + "[OK, <t>s]\n\n";
}

struct Case {
  const char *name;
  const char *input;
  RunOptions options;
  std::string formula;      // formula summary; empty for a file that does not parse
  std::string tree;         // tree summary; empty after an abnormal exit
  std::string abnormalExit; // the abnormal-exit line, if any
  std::string dot;          // expected DOT file, when one is written
};

std::string circle(int code, char q, int input) {
  return "n" + std::to_string(code) + " [label = \"" + q + std::to_string(input) +
         "\" shape=\"circle\" style=\"filled\" color=\"" + (q == 'a' ? "#FF8877" : "#DDFFBB") + "\"];\n";
}
std::string house(int code, int count) {
  return "c" + std::to_string(code) + " [label = \"" + std::to_string(count) +
         "\" shape =\"house\" style=\"filled\" bgcolor=\"red\"];\n";
}

const std::string kForallExit =
    "[Abnormal exit due to error \"UNSAT_FOR_QBF_FORALL_REDUCTION\" at line 298, file \"QbFormulaNormalize\"]\n";
const std::string kPureExit =
    "[Abnormal exit due to error \"UNSAT_FOR_QBF_UNIVERSAL_PURE_LITERAL_ELIMINATION\" at line "
    "236, file \"QbFormulaNormalize\"]\n";

std::vector<Case> handWrittenCases() {
  const RunOptions none = makeOptions(false, false, false, false);
  const RunOptions tree = makeOptions(true, false, false, false);
  const RunOptions linear = makeOptions(true, false, true, false);
  const RunOptions clauses = makeOptions(false, true, false, false);
  const RunOptions pre = makeOptions(false, false, false, true);
  const RunOptions treePre = makeOptions(true, false, false, true);

  // Prefix e1 a2 e3 e4 with (1 2 3) and (1 2 4): two copies of 2 below e1.
  const char *worked = "p cnf 4 2\ne 1 0\na 2 0\ne 3 4 0\n1 2 3 0\n1 2 4 0\n";
  const std::string workedDot = std::string("digraph G0 {\nroot [label = \"and\"];\n") + circle(0, 'e', 1) +
                                circle(4, 'a', 2) + circle(2, 'e', 4) + house(2, 1) + "n2 -> { c2 }\nn4 -> { n2 }\n" +
                                circle(5, 'a', 2) + circle(1, 'e', 3) + house(1, 1) +
                                "n1 -> { c1 }\nn5 -> { n1 }\nn0 -> { n4 n5 }\nroot -> { n0 }\n}\n";
  const std::string workedTree = treePart("1", "1", 4, 3, 2, 2, 1, "0.67");

  const std::string rootOnly = treePart("0", "0", 1, 0, 0, 1, 0, "nan");
  const std::string rootDot = "digraph G0 {\nroot [label = \"and\"];\n}\n";

  // Free variables 7 and 9 before the prefix 1 2 3: 9 gets code 1, 7 code 2.
  const char *freeVars = "p cnf 9 2\ne 1 2 3 0\n7 1 0\n9 2 0\n";
  const std::string freeVarsPlain = std::string("digraph G0 {\nroot [label = \"and\"];\n") + circle(0, 'e', 9) +
                                    circle(3, 'e', 2) + house(3, 1) + "n3 -> { c3 }\nn0 -> { n3 }\n" +
                                    circle(1, 'e', 7) + circle(2, 'e', 1) + house(2, 1) +
                                    "n2 -> { c2 }\nn1 -> { n2 }\nroot -> { n0 n1 }\n}\n";
  const std::string freeVarsCollapsed =
      "digraph G0 {\nroot [label = \"and\"];\n"
      "n0 [label = \"e9 2\\n\" shape=\"octagon\" style=\"filled\" color=\"#DDFFBB\"];\n" +
      house(0, 1) + "n0 -> { c0 }\n" +
      "n1 [label = \"e7 1\\n\" shape=\"octagon\" style=\"filled\" color=\"#DDFFBB\"];\n" + house(1, 1) +
      "n1 -> { c1 }\nroot -> { n0 n1 }\n}\n";
  const std::string freeVarsTree = treePart("2", "2", 3, 4, 0, 2, 0, "0.00");

  // The summary example: free variable 4, a 1 2 0, e 3 0, five clauses claimed.
  const char *summary = "p cnf 4 5\na 1 2 0\ne 3 0\n1 3 4 0\n-2 3 0\n";
  const std::string summaryDot = std::string("digraph G0 {\nroot [label = \"and\"];\n") + circle(0, 'e', 4) +
                                 "n4 [label = \"a1 2\\n\" shape=\"octagon\" style=\"filled\" color=\"#FF8877\"];\n" +
                                 circle(1, 'e', 3) + "c1 [shape=\"record\" label = \"{{-2,3}|{4,1,3}}\" ];\n" +
                                 "n1 -> { c1 }\nn4 -> { n1 }\nn0 -> { n4 }\nroot -> { n0 }\n}\n";

  const char *threeExists = "p cnf 3 1\ne 1 2 3 0\n1 2 3 0\n";
  const std::string threeExistsCollapsed =
      "digraph G0 {\nroot [label = \"and\"];\n"
      "n0 [label = \"e1 2\\n 3\\n\" shape=\"octagon\" style=\"filled\" color=\"#DDFFBB\"];\n" +
      house(0, 1) + "n0 -> { c0 }\nroot -> { n0 }\n}\n";
  const std::string threeExistsPlain = std::string("digraph G0 {\nroot [label = \"and\"];\n") + circle(0, 'e', 1) +
                                       circle(1, 'e', 2) + circle(2, 'e', 3) + house(2, 1) +
                                       "n2 -> { c2 }\nn1 -> { n2 }\nn0 -> { n1 }\nroot -> { n0 }\n}\n";

  const char *twoForalls = "p cnf 3 1\na 1 2 0\ne 3 0\n1 2 3 0\n";
  const std::string twoForallsDot = "digraph G0 {\nroot [label = \"and\"];\n"
                                    "n3 [label = \"a1 2\\n\" shape=\"octagon\" style=\"filled\" color=\"#FF8877\"];\n" +
                                    circle(0, 'e', 3) + house(0, 1) + "n0 -> { c0 }\nn3 -> { n0 }\nroot -> { n3 }\n}\n";

  // Input 2 -3 4 with prefix e 3 1, a 2, e 4: stored in code order as -3, 2, 4.
  const char *codeOrder = "p cnf 4 1\ne 3 1 0\na 2 0\ne 4 0\n2 -3 4 0\n";
  const std::string codeOrderDot = std::string("digraph G0 {\nroot [label = \"and\"];\n") + circle(0, 'e', 3) +
                                   circle(4, 'a', 2) + circle(2, 'e', 4) +
                                   "c2 [shape=\"record\" label = \"{{-3,2,4}}\" ];\n" +
                                   "n2 -> { c2 }\nn4 -> { n2 }\nn0 -> { n4 }\nroot -> { n0 }\n}\n";

  // Repeated literals, tautologies and tokens after the terminating 0.
  const char *reader = "p cnf 3 4\ne 1 2 3 0\n1 2 1 0\n1 -1 0\n2 1 -2 0\n3 1 0 2 0\n";
  const std::string readerDot = std::string("digraph G0 {\nroot [label = \"and\"];\n") + circle(0, 'e', 1) +
                                circle(1, 'e', 2) + "c1 [shape=\"record\" label = \"{{1,2}}\" ];\n" + "n1 -> { c1 }\n" +
                                circle(2, 'e', 3) + "c2 [shape=\"record\" label = \"{{1,3}}\" ];\n" +
                                "n2 -> { c2 }\nn0 -> { n1 n2 }\nroot -> { n0 }\n}\n";

  // An empty clause line: the clauses after it do not reach the formula.
  const char *emptyClause = "p cnf 2 3\ne 1 2 0\n1 2 0\n0\n-1 -2 0\n";
  const std::string emptyClauseDot =
      "digraph G0 {\nroot [label = \"and\"];\n"
      "n0 [label = \"e1 2\\n\" shape=\"octagon\" style=\"filled\" color=\"#DDFFBB\"];\n" +
      house(0, 1) + "n0 -> { c0 }\nroot -> { n0 }\n}\n";

  // e 1, a 2 with (1 2) and (-1 -2): forall reduction leaves (1) and (-1).
  const char *reduced = "p cnf 2 2\ne 1 0\na 2 0\n1 2 0\n-1 -2 0\n";
  const std::string reducedDot = std::string("digraph G0 {\nroot [label = \"and\"];\n") + circle(0, 'e', 1) +
                                 "c0 [shape=\"record\" label = \"{{1}|{-1}}\" ];\n" +
                                 "n0 -> { c0 }\nroot -> { n0 }\n}\n";

  return {
      {"WorkedExampleCollapsed", worked, tree, formulaPart(4, 1, 3, 2, 2), workedTree, "", workedDot},
      {"WorkedExamplePlain", worked, linear, formulaPart(4, 1, 3, 2, 2), workedTree, "", workedDot},
      {"TwoCopiesBelowRoot", "p cnf 3 2\na 1 0\ne 2 3 0\n1 2 0\n1 3 0\n", none, formulaPart(3, 1, 2, 1, 2),
       treePart("2", "4", 3, 2, 2, 2, 1, "1.00"), "", ""},
      {"ChainOfTwoForalls", twoForalls, tree, formulaPart(3, 2, 1, 1, 1), treePart("1", "4", 4, 1, 2, 1, 2, "2.00"), "",
       twoForallsDot},
      {"RootAlone", "p cnf 0 0\n", tree, formulaPart(0, 0, 0, -1, 0), rootOnly, "", rootDot},
      {"ThreeExistsCollapsed", threeExists, tree, formulaPart(3, 0, 3, 0, 1), treePart("1", "1", 4, 3, 0, 1, 0, "0.00"),
       "", threeExistsCollapsed},
      {"ThreeExistsPlain", threeExists, linear, formulaPart(3, 0, 3, 0, 1), treePart("1", "1", 4, 3, 0, 1, 0, "0.00"),
       "", threeExistsPlain},
      {"FreeVariablesPlain", freeVars, linear, formulaPart(5, 0, 5, 0, 2), freeVarsTree, "", freeVarsPlain},
      {"FreeVariablesCollapsed", freeVars, tree, formulaPart(5, 0, 5, 0, 2), freeVarsTree, "", freeVarsCollapsed},
      {"SummaryExample", summary, clauses, formulaPart(4, 2, 2, 2, 5), treePart("1", "1", 5, 2, 2, 1, 2, "1.00"), "",
       summaryDot},
      {"ClauseInCodeOrder", codeOrder, clauses, formulaPart(4, 1, 3, 2, 1), treePart("1", "1", 4, 2, 1, 1, 1, "0.50"),
       "", codeOrderDot},
      {"RepeatsAndTautologies", reader, clauses, formulaPart(3, 0, 3, 0, 4), treePart("1", "1", 3, 3, 0, 2, 0, "0.00"),
       "", readerDot},
      {"EmptyClauseLine", emptyClause, tree, formulaPart(2, 0, 2, 0, 3), treePart("1", "1", 3, 2, 0, 1, 0, "0.00"), "",
       emptyClauseDot},
      {"ForallReductionOnly", reduced, clauses, formulaPart(2, 1, 1, 1, 2), treePart("1", "1", 2, 1, 0, 1, 0, "0.00"),
       "", reducedDot},
      {"EmptyClauseByPropagation", reduced, treePre, formulaPart(2, 1, 1, 1, 2), rootOnly, "", rootDot},
      {"PureExistentialUnit", "p cnf 1 1\ne 1 0\n1 0\n", pre, formulaPart(1, 0, 1, 0, 1), rootOnly, "", ""},
      {"ExistentialUnitKept", "p cnf 1 1\ne 1 0\n1 0\n", none, formulaPart(1, 0, 1, 0, 1),
       treePart("1", "1", 2, 1, 0, 1, 0, "0.00"), "", ""},
      {"UniversalUnitPure", "p cnf 1 1\na 1 0\n1 0\n", treePre, formulaPart(1, 1, 0, 0, 1), "", kPureExit, ""},
      {"UniversalUnitReduced", "p cnf 1 1\na 1 0\n1 0\n", tree, formulaPart(1, 1, 0, 0, 1), "", kForallExit, ""},
      {"NoHeader", "e 1 0\n1 0\n", tree, "", "", "", ""},
      {"BlankLineBeforeHeader", "\np cnf 1 1\n1 0\n", none, "", "", "", ""},
  };
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

RunResult expectedRun(const Case &c, const std::string &path) {
  RunResult run;
  if (c.formula.empty()) {
    run.console = itemHead(path) + "\n";
    run.exitStatus = 252;
  } else if (!c.abnormalExit.empty()) {
    run.console = itemHead(path) + c.formula + c.abnormalExit + "\n";
    run.exitStatus = 255;
  } else {
    run.console = completeItem(path, c.formula, c.tree);
    run.exitStatus = 1;
    run.dotWritten = c.options.tree || c.options.clauses;
    run.dot = c.dot;
  }
  return run;
}

std::string compareModel(const RunResult &expected, const RunResult &model) {
  ProgramRun asRun;
  asRun.console = model.console;
  asRun.exitStatus = model.exitStatus;
  asRun.dotWritten = model.dotWritten;
  asRun.dot = model.dot;
  return compare(expected, asRun);
}

class HandWritten : public ::testing::TestWithParam<Case> {};

TEST_P(HandWritten, ModelGivesDocumentedText) {
  const Case &c = GetParam();
  const std::string path = "/instances/" + std::string(c.name) + ".qdimacs";
  const RunResult model = tarnu_model::runModel(path, c.input, c.options);
  const std::string report = compareModel(expectedRun(c, path), model);
  EXPECT_TRUE(report.empty()) << "options " << c.options.describe() << "\ninput:\n" << c.input << report;
}

TEST_P(HandWritten, ProgramGivesDocumentedText) {
  const Case &c = GetParam();
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.path() + "/" + c.name + ".qdimacs";
  writeFile(path, c.input);
  const ProgramRun actual = runProgram(dir.path(), path, c.options);
  const std::string report = compare(expectedRun(c, path), actual);
  EXPECT_TRUE(report.empty()) << "options " << c.options.describe() << "\ninput:\n" << c.input << report;
}

INSTANTIATE_TEST_SUITE_P(Description, HandWritten, ::testing::ValuesIn(handWrittenCases()),
                         [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

TEST(ModelSelfCheck, NormalisationOutcomes) {
  const RunOptions pre = makeOptions(false, false, false, true);
  // A lone existential unit clause is pure first: outcome 3, not 2.
  EXPECT_EQ(tarnu_model::runModel("x.qdimacs", "p cnf 1 1\ne 1 0\n1 0\n", pre).outcome, 3);
  // Forall reduction makes (1) and (-1); propagation then reaches the empty clause.
  EXPECT_EQ(tarnu_model::runModel("x.qdimacs", "p cnf 2 2\ne 1 0\na 2 0\n1 2 0\n-1 -2 0\n", pre).outcome, 8);
  // The lone universal unit clause: outcome 9 and the abnormal exit.
  EXPECT_EQ(tarnu_model::runModel("x.qdimacs", "p cnf 1 1\na 1 0\n1 0\n", pre).outcome, 9);
  // Nothing applies: not decided.
  EXPECT_EQ(tarnu_model::runModel("x.qdimacs", "p cnf 2 2\ne 1 2 0\n1 2 0\n-1 -2 0\n", pre).outcome, 0);
  // An empty clause in the input is outcome 6 until a rule decides otherwise.
  EXPECT_EQ(tarnu_model::runModel("x.qdimacs", "p cnf 2 2\ne 1 2 0\n1 2 0\n-1 -2 0\n0\n", pre).outcome, 6);
  // A universal unit clause that is not pure: outcome 7.
  EXPECT_EQ(tarnu_model::runModel("x.qdimacs", "p cnf 2 3\na 1 0\ne 2 0\n1 0\n-1 2 0\n1 -2 0\n", pre).outcome, 7);
}

TEST(ModelSelfCheck, CollapsedLabelRows) {
  // Chains of 5, 10 and 20 existential variables give the documented label rows.
  auto chainLabel = [](int length) {
    std::string text = "p cnf " + std::to_string(length) + " 1\ne";
    std::string clause;
    for (int v = 1; v <= length; ++v) {
      text += ' ';
      text += std::to_string(v);
      clause += std::to_string(v) + " ";
    }
    text += " 0\n" + clause + "0\n";
    const RunResult run = tarnu_model::runModel("x.qdimacs", text, makeOptions(true, false, false, false));
    size_t from = run.dot.find("n0 [label = \"") + 13;
    return run.dot.substr(from, run.dot.find("\" shape", from) - from);
  };
  EXPECT_EQ(chainLabel(2), "e1 2\\n");
  EXPECT_EQ(chainLabel(3), "e1 2\\n 3\\n");
  EXPECT_EQ(chainLabel(5), "e1 2\\n 3\\n 4 5\\n");
  EXPECT_EQ(chainLabel(10), "e1 2\\n 3 4\\n 5 6 7\\n 8 9 10\\n");
  EXPECT_EQ(chainLabel(20), "e1 2\\n 3 4 5\\n 6 7 8 9\\n 10 11 12 13 14\\n 15 16 17 18 19\\n 20\\n");
}

TEST(ModelSelfCheck, DisjointComponentsAreExact) {
  // e0 below 40 universal copies contributes 2^40, printed in full.
  std::string text = "p cnf 41 1\na";
  std::string clause;
  for (int v = 1; v <= 40; ++v) {
    text += ' ';
    text += std::to_string(v);
    clause += std::to_string(v) + " ";
  }
  text += " 0\ne 41 0\n" + clause + "41 0\n";
  const RunResult run = tarnu_model::runModel("x.qdimacs", text, makeOptions(false, false, false, false));
  EXPECT_NE(run.console.find("D-Components: 1099511627776\n"), std::string::npos) << run.console;
}

// ---------------------------------------------------------------------------------------
// Instances at the limits, built here and checked against the model only.

struct EdgeCase {
  std::string name;
  std::string input;
};

void PrintTo(const EdgeCase &c, std::ostream *os) { *os << c.name; }

std::string range(int from, int to, int sign = 1) {
  std::string text;
  for (int v = from; v <= to; ++v) {
    text += std::to_string(sign * v);
    text += ' ';
  }
  return text;
}

std::vector<EdgeCase> edgeCases() {
  std::vector<EdgeCase> cases;
  auto header = [](int vars, int clauses) {
    std::string text = "p cnf ";
    text += std::to_string(vars);
    text += ' ';
    text += std::to_string(clauses);
    text += '\n';
    return text;
  };
  // 70 universal copies above one existential node: 2^70 disjoint subformulas.
  cases.push_back(
      {"SeventyUniversalsAbove", header(71, 1) + "a " + range(1, 70) + "0\ne 71 0\n" + range(1, 71) + "0\n"});
  // Two existential nodes with 31 copies above each: 2^32 in all.
  cases.push_back({"TwoTimesTwoToThe31", header(33, 2) + "a " + range(1, 31) + "0\ne 32 33 0\n" + range(1, 32) + "0\n" +
                                             range(1, 31) + "33 0\n"});
  // 32 and 64 copies: the sum needs more than 64 bits of nothing but the two powers.
  cases.push_back({"TwoToThe32And64", header(66, 2) + "a " + range(1, 64) + "0\ne 65 66 0\n" + range(1, 32) + "65 0\n" +
                                          range(1, 64) + "66 0\n"});
  // One clause of 3000 literals: its text in a DOT record runs far beyond 999 characters.
  cases.push_back(
      {"ClauseOf3000Literals", header(3000, 1) + "e " + range(1, 3000) + "0\n" + range(1, 3000, -1) + "0\n"});
  // 400 clauses at one node: a long record.
  {
    std::string text = header(20, 400) + "e " + range(1, 20) + "0\n";
    for (int c = 0; c < 400; ++c) {
      text += std::to_string((c % 19) + 1) + " " + std::to_string(c % 2 ? -20 : 20) + " 0\n";
    }
    cases.push_back({"FourHundredClausesAtOneNode", text});
  }
  // Alternating prefix with a clause between neighbours: a tree 2000 nodes deep.
  {
    std::string text = header(2000, 1999);
    for (int v = 1; v <= 2000; ++v) text += (v % 2 ? "e " : "a ") + std::to_string(v) + " 0\n";
    for (int v = 1; v < 2000; ++v) text += std::to_string(v) + " " + std::to_string(v % 3 ? -(v + 1) : v + 1) + " 0\n";
    cases.push_back({"AlternatingDepth2000", text});
  }
  // Existential chains of many lengths side by side, each with its clause at the bottom.
  {
    std::string prefix = "e ", clauses;
    int next = 1, count = 0;
    for (int length = 1; length <= 40; ++length, ++count) {
      prefix += range(next, next + length - 1);
      clauses += range(next, next + length - 1) + "0\n";
      next += length;
    }
    cases.push_back({"ChainsOfLength1To40", header(next - 1, count) + prefix + "0\n" + clauses});
  }
  // Header right before the end of the file: no line ends the prefix, so no block is made.
  cases.push_back({"HeaderOnly", header(3, 0)});
  cases.push_back({"HeaderAndCommentsOnly", header(3, 0) + "c nothing\n\nc more\n"});
  // Variables beyond the declared count, in the prefix and as free variables.
  cases.push_back({"BeyondDeclaredCount", header(2, 3) + "e 1 0\na 5 0\ne 2 7 0\n1 5 7 0\n-7 9 0\n2 -9 12 0\n"});
  cases.push_back({"DeclaredCountZero", header(0, 2) + "1 2 0\n-1 3 0\n"});
  // A variable in both an existential and a universal line: its later code takes the literals.
  cases.push_back({"QuantifiedTwice", header(3, 2) + "a 1 2 0\ne 3 1 0\n1 2 3 0\n-1 2 0\n"});
  cases.push_back({"QuantifiedTwiceInOneLine", header(3, 2) + "a 1 2 1 0\ne 3 0\n1 2 3 0\n-1 3 0\n"});
  // Header forms that "p cnf %i %i" accepts.
  cases.push_back({"HeaderWithTabs", "p\tcnf\t3\t2\ne 1 0\na 2 0\ne 3 0\n1 2 3 0\n-1 3 0\n"});
  cases.push_back({"HeaderWithoutBlanks", "pcnf3 2\ne 1 0\na 2 0\ne 3 0\n1 2 3 0\n-1 3 0\n"});
  cases.push_back({"HeaderInHex", "p cnf 0x3 02\ne 1 0\na 2 0\ne 3 0\n1 2 3 0\n-1 3 0\n"});
  // Lines out of place: a quantifier line or a second header among the clauses is skipped.
  cases.push_back({"QuantifierLineAmongClauses", header(3, 2) + "e 1 0\n1 0\na 2 0\n2 -1 0\n"});
  cases.push_back({"HeaderAmongClauses", header(3, 2) + "e 1 2 3 0\n1 2 0\np cnf 3 2\n-2 3 0\n"});
  cases.push_back({"HeaderInPrefix", header(3, 2) + "p cnf 3 2\n1 2 0\n-2 3 0\n"});
  cases.push_back({"WordAfterLetter", header(3, 2) + "exists 1 0\nall 2 0\ne 3 0\n1 2 3 0\n-1 3 0\n"});
  cases.push_back({"OnlyEmptyQuantifierLine", header(3, 2) + "e 0\n1 2 0\n-2 3 0\n"});
  cases.push_back({"QuantifierLineWithoutZero", header(3, 2) + "e 1 0 2\na 3\n1 2 3 0\n-1 3 0\n"});
  // Tokens that are no numbers, numbers with leading zeros, signs and "-0".
  cases.push_back({"WordAfterFirstLiteral", header(3, 2) + "e 1 2 3 0\n1 x 2 0\n2 3 y 0\n"});
  cases.push_back({"LeadingZeros", header(9, 3) + "e 1 2 3 4 5 6 7 8 9 0\n07 010 0\n011 08 3 0\n+2 -0 5 0\n"});
  cases.push_back({"EmptyClauseWithBlanks", header(3, 3) + "e 1 2 3 0\n1 2 0\n  0  \n2 3 0\n"});
  cases.push_back({"EmptyClauseFirst", header(3, 2) + "a 1 0\ne 2 3 0\n0\n1 2 0\n"});
  cases.push_back({"ClauseOverTwoLines", header(3, 1) + "e 1 2 3 0\n1 2\n3 0\n"});
  cases.push_back({"CarriageReturns", "c dos\r\np cnf 3 2\r\ne 1 0\r\n\r\na 2 0\r\ne 3 0\r\n1 2 3 0\r\n-1 3 0\r\n"});
  // Lines longer than the first line buffer: the reading starts again with a larger one.
  {
    std::string text = "c " + std::string(1500000, 'x') + "\n" + header(3, 2) + "e 1 0\nc " +
                       std::string(2100000, 'y') + "\na 2 0\ne 3 0\n";
    for (int k = 0; k < 600000; ++k) text += "1 ";
    text += "2 3 0\n-1 -3 0\n";
    cases.push_back({"LongLines", text});
  }
  cases.push_back({"NoFinalLineBreak", header(3, 2) + "e 1 0\na 2 0\ne 3 0\n1 2 3 0\n-1 3 0"});
  return cases;
}

class Edge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(Edge, ProgramMatchesModel) {
  const EdgeCase &c = GetParam();
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.path() + "/" + c.name + ".qdimacs";
  writeFile(path, c.input);
  for (const RunOptions &options : {makeOptions(true, false, false, false), makeOptions(false, true, false, false),
                                    makeOptions(true, false, true, false), makeOptions(false, true, false, true)}) {
    const std::string report =
        compare(tarnu_model::runModel(path, c.input, options), runProgram(dir.path(), path, options));
    EXPECT_TRUE(report.empty()) << "options " << options.describe() << "\n" << report.substr(0, 20000);
  }
  // The same file named relative to the working directory: console and DOT name follow the path as given.
  const std::string relative = c.name + ".qdimacs";
  const RunOptions options = makeOptions(false, true, false, false);
  const std::string report =
      compare(tarnu_model::runModel(relative, c.input, options), runProgram(dir.path(), relative, options));
  EXPECT_TRUE(report.empty()) << "relative path, options " << options.describe() << "\n" << report.substr(0, 20000);
}

INSTANTIATE_TEST_SUITE_P(Limits, Edge, ::testing::ValuesIn(edgeCases()),
                         [](const ::testing::TestParamInfo<EdgeCase> &info) { return info.param.name; });

// ---------------------------------------------------------------------------------------
// Generated instances.

struct OptionSet {
  const char *name;
  RunOptions options;
  int stride; // every stride-th seed is run with this set
};

const std::vector<OptionSet> &optionSets() {
  static const std::vector<OptionSet> sets{
      // The console of a run without a DOT file is the same as with one, so the sets that
      // write no DOT file see only every fourth seed.
      {"Plain", makeOptions(false, false, false, false), 4},
      {"Pre", makeOptions(false, false, false, true), 4},
      {"Tree", makeOptions(true, false, false, false), 1},
      {"Clauses", makeOptions(false, true, false, false), 1},
      {"TreeLinear", makeOptions(true, false, true, false), 2},
      {"ClausesPre", makeOptions(false, true, false, true), 1},
  };
  return sets;
}

void PrintTo(const OptionSet &set, std::ostream *os) { *os << set.name; }

class Generated : public ::testing::TestWithParam<OptionSet> {};

TEST_P(Generated, ProgramMatchesModel) {
  const OptionSet &set = GetParam();
  const long seeds = environmentNumber("TARNU_MODEL_SEEDS", TARNU_MODEL_DEFAULT_SEEDS);
  const long firstSeed = environmentNumber("TARNU_MODEL_FIRST_SEED", 1);
  const long reportLimit = environmentNumber("TARNU_MODEL_REPORT", 5);
  const long stride = environmentNumber("TARNU_MODEL_EVERY_SEED", 0) != 0 ? 1 : set.stride;

  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const auto started = std::chrono::steady_clock::now();
  long checked = 0, mismatches = 0, abnormal = 0, written = 0;
  std::vector<long> mismatchSeeds;
  for (long seed = firstSeed; seed < firstSeed + seeds; seed += stride) {
    const std::string text = tarnu_model::generateQdimacs(static_cast<std::uint64_t>(seed));
    // Both extensions, and now and then a blank in the name, which the console shows as it is.
    const std::string path =
        dir.path() + (seed % 7 == 3 ? "/seed " : "/seed") + std::to_string(seed) + (seed % 2 ? ".qcnf" : ".qdimacs");
    writeFile(path, text);
    const RunResult expected = tarnu_model::runModel(path, text, set.options);
    const ProgramRun actual = runProgram(dir.path(), path, set.options);
    std::remove(path.c_str());
    ++checked;
    abnormal += expected.exitStatus == 255;
    written += expected.dotWritten;
    const std::string report = compare(expected, actual);
    if (report.empty()) continue;
    ++mismatches;
    mismatchSeeds.push_back(seed);
    if (mismatches <= reportLimit)
      ADD_FAILURE() << "seed " << seed << ", options " << set.options.describe() << "\n--- input file ---\n"
                    << text << "--- differences ---\n"
                    << report;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::string seedList;
  for (size_t i = 0; i < mismatchSeeds.size() && i < 50; ++i) seedList += " " + std::to_string(mismatchSeeds[i]);
  std::cout << "[ model    ] options " << set.options.describe() << ": " << checked << " instances, " << abnormal
            << " abnormal exits, " << written << " DOT files, " << mismatches << " mismatches, " << seconds << " s"
            << (seedList.empty() ? "" : "; seeds:" + seedList) << "\n";
  EXPECT_EQ(mismatches, 0) << "mismatching seeds:" << seedList;
}

// A few hundred variables: longer lists, so that their orders matter more often.
TEST(GeneratedLarge, ProgramMatchesModel) {
  const long seeds = environmentNumber("TARNU_MODEL_LARGE_SEEDS", TARNU_MODEL_DEFAULT_LARGE_SEEDS);
  const long firstSeed = environmentNumber("TARNU_MODEL_FIRST_SEED", 1);
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  long mismatches = 0;
  for (long seed = firstSeed; seed < firstSeed + seeds; ++seed) {
    const std::string text = tarnu_model::generateLargeQdimacs(static_cast<std::uint64_t>(seed));
    const std::string path = dir.path() + "/large" + std::to_string(seed) + ".qdimacs";
    writeFile(path, text);
    const RunOptions options =
        seed % 2 ? makeOptions(false, true, false, true) : makeOptions(false, true, seed % 4 == 0, false);
    const std::string report =
        compare(tarnu_model::runModel(path, text, options), runProgram(dir.path(), path, options));
    std::remove(path.c_str());
    if (report.empty()) continue;
    if (++mismatches <= 3)
      ADD_FAILURE() << "large seed " << seed << ", options " << options.describe() << "\n--- differences ---\n"
                    << report.substr(0, 20000);
  }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Generated, ::testing::ValuesIn(optionSets()),
                         [](const ::testing::TestParamInfo<OptionSet> &info) { return std::string(info.param.name); });

} // namespace

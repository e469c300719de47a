// The command line, end to end: every row of the results table, the help and
// version texts, and the banner.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TestSupport.h"

using test::maskVarying;
using test::runTarnu;
using test::ScratchDir;
using test::writeFile;

namespace {

const std::string BANNER = "Tarnu v0.1 (revision 80, compiled DATE)";

const std::string HELP = "This is " + BANNER +
                         "\n\n"
                         "What is it:\n"
                         "  This program takes a QDIMACS 1.1 file as input (representing a prenex CNF\n"
                         "  Quantified Boolean Formula), and constructs a quantifier tree for it.\n"
                         "  By default, a few measurements over such tree are printed on screen.\n\n"
                         "Usage:\n  \"Tarnu [OPTS] (FILE|DIR)\", where you have to provide:\n\n"
                         " [1] An optional list of space-separated options OPTS, among the followings:\n\n"
                         "  -tree,    to dump to file a DOT representation of the quantifier tree.\n"
                         "            House-shaped leaves report the number of attached clauses.\n"
                         "  -clauses, to attach a detailed clause list to the leaves.\n"
                         "  -linear,  to avoid collapsing linear branches into single multi-labeled nodes.\n"
                         "  -pre,     to apply unit clause propagation and pure literal elimination\n"
                         "            up to the fixpoint before reconstructing the tree.\n"
                         "  -version, to print version and copyrights.\n"
                         "\n [2] A mandatory DIR or FILE path:\n\n"
                         "  FILE,   the full name (possibly with a path) of a QDIMACS file.\n"
                         "  DIR,    the root of a directory subtree which is to be recursively visited.\n"
                         "          Each QDIMACS file encountered during the visit is processed.\n\n"
                         "Contact:\n"
                         "  Bug reports and questions: the Tarnu developers, through the project's\n"
                         "  issue tracker. Please attach the QDIMACS file and the command line.\n"
                         "\n";

const std::string RULE(56, '-');

const std::string VERSION = RULE + "\nThis is " + BANNER +
                            "\n"
                            "Copyright (c) 2026 the Tarnu developers.\n"
                            "Tarnu is free software: you may use, copy, modify and redistribute it.\n"
                            "It comes with ABSOLUTELY NO WARRANTY, to the extent permitted by law.\n" +
                            RULE + "\n";

const std::string TINY = "p cnf 2 1\ne 1 2 0\n1 2 0\n";

// The item of TINY: a chain e1 - e2; with -pre both literals are pure and the
// tree is the root alone.
std::string item(int number, const std::string &path, bool pre = false) {
  return "\n" + std::to_string(number) + ".Processing \"" + path +
         "\"...  \n---------QBF--------\n   variables: 2\n      FORALL: 0\n      EXISTS: 2\n"
         "alternations: 0\n     clauses: 1\n--------TARNU-------\nGrowing time: Xms\n" +
         (pre ? "  Components: 0\nD-Components: 0\n       Depth: 1\nEXISTS nodes: 0\nFORALL nodes: 0\n"
                "    Branches: 1\n   Delta MAX: 0\n   Delta AVG: nan\n"
              : "  Components: 1\nD-Components: 1\n       Depth: 3\nEXISTS nodes: 2\nFORALL nodes: 0\n"
                "    Branches: 1\n   Delta MAX: 0\n   Delta AVG: 0.00\n") +
         "--------------------\n[OK, Xs]\n";
}

class CommandLine : public ::testing::Test {
protected:
  void SetUp() override {
    file = dir.file("tiny.qdimacs");
    other = dir.file("other.qcnf");
    writeFile(file, TINY);
    writeFile(other, TINY);
    writeFile(dir.file("notes.txt"), TINY);
  }
  void expectRun(const std::vector<std::string> &args, int status, const std::string &out) {
    test::RunResult r = runTarnu(args, dir.path());
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(maskVarying(r.out), out);
    EXPECT_EQ(r.err, "") << "nothing goes to standard error";
  }
  ScratchDir dir;
  std::string file, other;
};

TEST_F(CommandLine, NoArgumentPrintsHelpAndStopsEarly) { expectRun({}, 40, HELP); }

TEST_F(CommandLine, VersionStopsTheScanBeforeAnyPath) {
  expectRun({"-version"}, 40, VERSION);
  expectRun({"-pre", "-version", file}, 40, VERSION);
  expectRun({"-version", "no-such.qdimacs"}, 40, VERSION);
}

TEST_F(CommandLine, OptionsMatchOnlyWholeWords) {
  for (const char *bad : {"-tre", "-treex", "--tree", "-Tree", "-", "-pre2", "-clause"})
    expectRun({bad, file}, 253, HELP);
}

TEST_F(CommandLine, MisplacedPaths) {
  expectRun({file, other}, 253, HELP);         // a second path
  expectRun({file, "-tree", "-pre"}, 253, HELP); // two arguments after the path
  expectRun({file, "notes.txt"}, 253, HELP);   // a last argument that is not an option
}

TEST_F(CommandLine, PathsThatAreNeitherQdimacsFilesNorDirectoriesPrintNothing) {
  expectRun({"missing.qdimacs"}, 254, "");
  expectRun({"-tree", "missing.qdimacs"}, 254, "");
  expectRun({"notes.txt"}, 254, "");
  expectRun({dir.file("tiny.qdimacs.bak")}, 254, "");
}

TEST_F(CommandLine, OptionsWithoutPathPrintHelpThenTheBannerAndEndWithIoError) {
  expectRun({"-tree"}, 254, HELP + BANNER + "\n");
}

TEST_F(CommandLine, ValidPathRunsTheInstance) {
  expectRun({file}, 1, BANNER + item(1, file) + "\n");
  expectRun({"-pre", "-linear", file, "-version"}, 1, BANNER + item(1, file, true) + "\n");
}

TEST_F(CommandLine, OptionAfterThePathHasNoEffect) {
  expectRun({file, "-tree"}, 1, BANNER + item(1, file) + "\n");
  EXPECT_FALSE(test::fileExists(file + ".treeDup.dot"));
  expectRun({"-tree", file}, 1, BANNER + item(1, file) + "\n");
  EXPECT_TRUE(test::fileExists(file + ".treeDup.dot"));
}

TEST_F(CommandLine, ClausesAloneWritesTheDetailedDotFile) {
  expectRun({"-clauses", file}, 1, BANNER + item(1, file) + "\n");
  EXPECT_EQ(test::readFile(file + ".treeDup.dot"),
            "digraph G0 {\nroot [label = \"and\"];\n"
            "n0 [label = \"e1 2\\n\" shape=\"octagon\" style=\"filled\" color=\"#DDFFBB\"];\n"
            "c0 [shape=\"record\" label = \"{{1,2}}\" ];\nn0 -> { c0 }\nroot -> { n0 }\n}\n");
  expectRun({"-clauses", "-linear", file}, 1, BANNER + item(1, file) + "\n");
  EXPECT_EQ(test::readFile(file + ".treeDup.dot"),
            "digraph G0 {\nroot [label = \"and\"];\n"
            "n0 [label = \"e1\" shape=\"circle\" style=\"filled\" color=\"#DDFFBB\"];\n"
            "n1 [label = \"e2\" shape=\"circle\" style=\"filled\" color=\"#DDFFBB\"];\n"
            "c1 [shape=\"record\" label = \"{{1,2}}\" ];\nn1 -> { c1 }\nn0 -> { n1 }\nroot -> { n0 }\n}\n");
}

TEST_F(CommandLine, RepeatedOptionsAreHarmless) {
  expectRun({"-pre", "-pre", "-tree", "-tree", file}, 1, BANNER + item(1, file, true) + "\n");
}

} // namespace

// The instance driver end to end: directory walks and their order, the item
// format, the marks of children that end badly, hostile paths.

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "TestSupport.h"

using test::maskVarying;
using test::runTarnu;
using test::ScratchDir;
using test::writeFile;

namespace {

std::string header(int vars) { return "p cnf " + std::to_string(vars) + " 1\n"; }

// A valid instance declaring `vars` variables (one clause over variable 1).
std::string instance(int vars) { return header(vars) + "1 0\n"; }

// The instance paths in item order.
std::vector<std::string> itemPaths(const std::string &out) {
  std::vector<std::string> paths;
  std::size_t at = 0;
  while ((at = out.find(".Processing \"", at)) != std::string::npos) {
    at += 13;
    std::size_t end = out.find("\"...  ", at);
    paths.push_back(out.substr(at, end - at));
  }
  return paths;
}

TEST(Directory, SubdirectoriesFirstThenFilesBySize) {
  ScratchDir dir;
  writeFile(dir.file("b.qdimacs"), instance(300));
  writeFile(dir.file("a.qcnf"), instance(20));
  mkdir(dir.file("s").c_str(), 0755);
  writeFile(dir.file("s/c.qdimacs"), instance(5));
  writeFile(dir.file("notes.txt"), instance(1));
  writeFile(dir.file("x.qdimacs.bak"), instance(1));
  writeFile(dir.file("x.QDIMACS"), instance(1));
  writeFile(dir.file("x.qdimacs.qdimacs"), instance(1));
  test::RunResult r = runTarnu({dir.path()});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(itemPaths(r.out),
            (std::vector<std::string>{dir.file("s/c.qdimacs"), dir.file("a.qcnf"), dir.file("b.qdimacs")}));
  // Items are numbered across the whole run and separated by one empty line.
  EXPECT_NE(maskVarying(r.out).find("[OK, Xs]\n\n2.Processing"), std::string::npos);
  r = runTarnu({dir.path() + "/"});
  EXPECT_EQ(itemPaths(r.out)[1], dir.file("a.qcnf")) << "exactly one / between directory and name";
}

TEST(Directory, FilesWithoutProblemLineSortFirst) {
  ScratchDir dir;
  writeFile(dir.file("big.qdimacs"), instance(10));
  writeFile(dir.file("none.qdimacs"), "c nothing\n");
  writeFile(dir.file("blank.qdimacs"), "\n" + instance(3));
  writeFile(dir.file("hex.qdimacs"), "p cnf 0x10 1\n1 0\n");
  test::RunResult r = runTarnu({dir.path()});
  EXPECT_EQ(r.status, 4);
  std::vector<std::string> paths = itemPaths(r.out);
  ASSERT_EQ(paths.size(), 4u);
  EXPECT_EQ(paths[2], dir.file("big.qdimacs"));
  EXPECT_EQ(paths[3], dir.file("hex.qdimacs"));
  // A file without a problem line: the item ends right after its head.
  EXPECT_NE(r.out.find(dir.file("none.qdimacs") + "\"...  \n"), std::string::npos);
}

TEST(Directory, EmptyDirectoryPrintsOnlyTheBannerAndLineBreak) {
  ScratchDir dir;
  test::RunResult r = runTarnu({dir.path()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(maskVarying(r.out), "Tarnu v0.1 (revision 80, compiled DATE)\n");
}

TEST(Directory, ADirectoryNamedLikeAFileIsWalked) {
  ScratchDir dir;
  mkdir(dir.file("d.qdimacs").c_str(), 0755);
  writeFile(dir.file("d.qdimacs/inner.qcnf"), instance(2));
  test::RunResult r = runTarnu({dir.file("d.qdimacs")});
  EXPECT_EQ(r.status, 1) << "one instance run";
  EXPECT_EQ(itemPaths(r.out), std::vector<std::string>{dir.file("d.qdimacs/inner.qcnf")});
}

TEST(Directory, DeepTreesAreWalkedToTheBottom) {
  ScratchDir dir;
  // Made level by level relative to the level above (quicker than by path).
  std::string path = dir.path();
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < 2000; level++) {
    path += "/d";
    ASSERT_EQ(mkdirat(fd, "d", 0755), 0);
    int below = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = below;
  }
  close(fd);
  writeFile(path + "/deep.qdimacs", instance(1));
  writeFile(dir.file("top.qdimacs"), instance(1));
  test::RunResult r = runTarnu({dir.path()});
  EXPECT_EQ(r.status, 2);
  std::vector<std::string> paths = itemPaths(r.out);
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0], path + "/deep.qdimacs");
  EXPECT_NE(r.out.find("[OK, "), std::string::npos);
}

TEST(Directory, LinksFifosAndUnreadableEntriesAreSkippedOrReported) {
  ScratchDir dir;
  writeFile(dir.file("real.qdimacs"), instance(1));
  ASSERT_EQ(symlink("real.qdimacs", dir.file("link.qdimacs").c_str()), 0);
  ASSERT_EQ(symlink("loop.qdimacs", dir.file("loop.qdimacs").c_str()), 0);
  ASSERT_EQ(symlink(".", dir.file("self").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.file("pipe.qdimacs").c_str(), 0644), 0);
  test::RunResult r = runTarnu({dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(itemPaths(r.out), std::vector<std::string>{dir.file("real.qdimacs")});
}

TEST(Item, PathsArePrintedVerbatim) {
  ScratchDir dir;
  std::string name = "we\"ird %s %i\n\xe2\x82\xac.qdimacs";
  writeFile(dir.file(name), instance(1));
  test::RunResult r = runTarnu({dir.file(name)});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\n1.Processing \"" + dir.file(name) + "\"...  \n---------QBF--------"), std::string::npos);
}

TEST(Item, ParseErrorsAreMarkedOnTheItemLine) {
  ScratchDir dir;
  writeFile(dir.file("a.qdimacs"), "p cnf 1 1\n1 300000000 0\n");
  writeFile(dir.file("b.qdimacs"), "p cnf 2 1\n1 0\n");
  test::RunResult r = runTarnu({dir.path()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("1.Processing \"" + dir.file("a.qdimacs") +
                       "\"...  [PARSE ERROR: line 2: variable 300000000 is too large]\n2.Processing"),
            std::string::npos);
  r = runTarnu({dir.file("a.qdimacs")});
  EXPECT_EQ(r.status, 252);
  EXPECT_EQ(maskVarying(r.out), "Tarnu v0.1 (revision 80, compiled DATE)\n1.Processing \"" + dir.file("a.qdimacs") +
                                    "\"...  [PARSE ERROR: line 2: variable 300000000 is too large]\n");
}

TEST(Item, UnsatisfiableByForallReductionIsAnAbnormalExit) {
  ScratchDir dir;
  writeFile(dir.file("u.qdimacs"), "p cnf 2 1\na 1 2 0\n1 2 0\n");
  test::RunResult r = runTarnu({dir.file("u.qdimacs")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(maskVarying(r.out),
            "Tarnu v0.1 (revision 80, compiled DATE)\n1.Processing \"" + dir.file("u.qdimacs") +
                "\"...  \n---------QBF--------\n   variables: 2\n      FORALL: 2\n      EXISTS: 0\n"
                "alternations: 0\n     clauses: 1[Abnormal exit due to error \"UNSAT_FOR_QBF_FORALL_REDUCTION\" at "
                "line 298, file \"QbFormulaNormalize\"]\n\n");
}

TEST(Item, FifoAndDevicePathsAreRefusedWithoutBlocking) {
  ScratchDir dir;
  ASSERT_EQ(mkfifo(dir.file("x.qdimacs").c_str(), 0644), 0);
  auto start = std::chrono::steady_clock::now();
  test::RunResult r = runTarnu({dir.file("x.qdimacs")});
  EXPECT_EQ(r.status, 254);
  EXPECT_EQ(r.out, "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_EQ(symlink("/dev/zero", dir.file("zero.qdimacs").c_str()), 0);
  r = runTarnu({dir.file("zero.qdimacs")});
  EXPECT_EQ(r.status, 254);
}

// An instance whose tree takes a while: every child of one node brings a
// dependency of its own, so the father's set grows one merge at a time.
std::string slowInstance(int width) {
  std::ostringstream text;
  text << "p cnf " << 2 * width + 1 << ' ' << width << "\ne";
  for (int v = 1; v <= 2 * width + 1; v++) text << ' ' << v;
  text << " 0\n";
  for (int i = 1; i <= width; i++) text << i << ' ' << width + 1 << ' ' << width + 1 + i << " 0\n";
  return text.str();
}

struct Killer {
  int signal;
  bool sent = false;
};

// Waits for the instance child of the program and sends it the signal.
void killInstanceChild(int pid, void *context) {
  auto *killer = static_cast<Killer *>(context);
  std::string children = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
  for (int attempt = 0; attempt < 20000 && !killer->sent; attempt++) {
    std::ifstream in(children);
    int child = 0;
    if (in >> child && child > 0) {
      // Let it get past the item head before it dies.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      killer->sent = kill(child, killer->signal) == 0;
      return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

TEST(Marks, CrashAndTimeoutOfAChild) {
  ScratchDir dir;
  writeFile(dir.file("slow.qdimacs"), slowInstance(100000));
  for (int signal : {SIGSEGV, SIGUSR1}) {
    Killer killer{signal};
    test::RunOptions options;
    options.whileRunning = killInstanceChild;
    options.context = &killer;
    test::RunResult r = runTarnu({dir.file("slow.qdimacs")}, options);
    ASSERT_TRUE(killer.sent);
    const char *mark = signal == SIGSEGV ? "[CRASH]" : "[TIMEOUT]";
    EXPECT_EQ(r.status, signal == SIGSEGV ? 251 : 30);
    EXPECT_NE(r.out.find("1.Processing \"" + dir.file("slow.qdimacs") + "\"...  "), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - std::string(mark).size() - 1), std::string(mark) + "\n");
    EXPECT_EQ(r.out.find("[OK"), std::string::npos);
  }
  // In directory mode the walk goes on after a crash.
  Killer killer{SIGSEGV};
  test::RunOptions options;
  options.whileRunning = killInstanceChild;
  options.context = &killer;
  writeFile(dir.file("zz.qdimacs"), instance(300000)); // larger: after slow.qdimacs
  test::RunResult r = runTarnu({dir.path()}, options);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("[CRASH]\n2.Processing \"" + dir.file("zz.qdimacs") + "\""), std::string::npos);
}

} // namespace

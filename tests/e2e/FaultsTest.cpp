// A run over many instances loses nothing, whatever fails: a fork or a pipe
// (made to fail through a preloaded library), standard output (a full disk, a
// pipe closed early), a hostile compressed file in the size probe, a child
// killed while it writes its DOT file, the parent killed half-way. Each test
// compares with a run without the fault, or checks what must stay behind:
// no child, no half-written file.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "Support.h"

namespace {
namespace fs = std::filesystem;

// A directory whose first instance runs for a while (it declares one
// variable and uses a million), then five quick ones.
void slowThenQuick(const test::ScratchDir &dir) {
  test::writeFile(dir.file("d/slow.qdimacs"), test::chain(1000000, 1));
  for (int i = 2; i <= 6; i++)
    test::writeFile(dir.file("d/q" + std::to_string(i) + ".qdimacs"),
                    "p cnf " + std::to_string(i) + " 1\na 1 0\ne 2 0\n1 2 0\n");
}

std::vector<std::string> withFaults(std::vector<std::string> env) {
  env.push_back("LD_PRELOAD=" + test::failingCallsLibrary());
  env.push_back(std::string("ASAN_OPTIONS=verify_asan_link_order=0:abort_on_error=1"));
  return env;
}

TEST(Faults, AForkOrPipeThatFailsCostsOnlyItsInstanceAndOnlyWhenNoChildRuns) {
  test::ScratchDir dir;
  slowThenQuick(dir);
  test::RunResult reference = test::runTarnu({"d"}, {.cwd = dir.path()});
  auto all = test::items(test::mask(reference.out));
  ASSERT_EQ(all.size(), 6u);
  struct Fault {
    const char *jobs, *env, *said; // said: the line on standard error, if an instance is lost
    int lost;                      // the item that is not run, 0: none
  } faults[] = {
      // (The first pipe is the scheduler's own, for signals: without it the
      // loop looks for ended children every few milliseconds.)
      {"-jobs=1", "FAIL_FORK=3", "tarnu: d/q3.qdimacs: cannot start a process: Resource temporarily unavailable\n", 3},
      {"-jobs=1", "FAIL_PIPE=2", "tarnu: d/slow.qdimacs: cannot start a process: Too many open files\n", 1},
      {"-jobs=3", "FAIL_FORK=2", "", 0}, // the slow child runs: tried again once it ends
      {"-jobs=2", "FAIL_PIPE=1,3", "", 0},
  };
  for (const Fault &fault : faults) {
    test::RunResult r =
        test::run(test::preloadableBinary(), {fault.jobs, "d"}, {.cwd = dir.path(), .env = withFaults({fault.env})});
    // Every other item whole, in its place, its number as ever.
    auto expected = all;
    if (fault.lost) expected.erase(expected.begin() + fault.lost - 1);
    EXPECT_EQ(test::items(test::mask(r.out)), expected) << fault.env;
    EXPECT_EQ(r.status, 6) << fault.env;
    EXPECT_EQ(r.err, std::string(fault.said) + "tarnu: 6 instances: " + (fault.lost ? "5" : "6") +
                         " ok, 0 parse errors, 0 without a problem line, " + (fault.lost ? "1" : "0") +
                         " abnormal exits, 0 timeouts, 0 crashes; skipped: 0 symbolic links, 0 special files, 0 "
                         "unreadable directories\n")
        << fault.env;
  }
  test::RunResult one =
      test::run(test::preloadableBinary(), {"d/q2.qdimacs"}, {.cwd = dir.path(), .env = withFaults({"FAIL_FORK=1"})});
  EXPECT_EQ(one.status, 255);
  EXPECT_TRUE(one.err.starts_with("tarnu: d/q2.qdimacs: cannot start a process: ")) << one.err;
}

TEST(Faults, AFailedWriteOnStandardOutputEndsTheRunAndLeavesNoChild) {
  test::ScratchDir dir;
  slowThenQuick(dir);
  for (const char *path : {"d", "d/q2.qdimacs"}) {
    test::RunResult r = test::runTarnu({path}, {.cwd = dir.path(), .outputFile = "/dev/full"});
    EXPECT_EQ(r.status, 255) << path;
    EXPECT_EQ(r.err, "tarnu: standard output: No space left on device\n") << path;
  }
  test::adoptOrphans();
  // The reader goes away after the banner, while the slow child runs.
  for (bool ignored : {true, false}) {
    test::RunResult r =
        test::runTarnu({"-jobs=3", "d"}, {.cwd = dir.path(), .closeOutputAfter = 1, .ignorePipeSignal = ignored});
    EXPECT_EQ(r.status, ignored ? 255 : 128 + SIGPIPE);
    EXPECT_EQ(r.err, ignored ? "tarnu: standard output: Broken pipe\n" : "");
    EXPECT_EQ(test::orphansStillRunning(), 0);
  }
}

TEST(Faults, ChildrenHoldNoOtherPipeAndDieWithTheirParent) {
  test::ScratchDir dir;
  slowThenQuick(dir);
  test::writeFile(dir.file("d/slow2.qdimacs"), test::chain(1000000, 1));
  test::adoptOrphans();
  // SIGKILL leaves the parent no time; SIGTERM it takes to end its children.
  for (int signal : {SIGKILL, SIGTERM}) {
    int pipes = -1;
    test::RunResult r = test::runTarnu(
        {"-jobs=2", "d"},
        {.cwd = dir.path(), .whileRunning = [&](int pid) {
           std::string list = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
           for (int attempt = 0; attempt < 2000 && pipes < 0; attempt++) {
             std::ifstream children(list);
             std::vector<int> running;
             for (int child; children >> child;) running.push_back(child);
             if (running.size() == 2) {
               std::this_thread::sleep_for(std::chrono::milliseconds(50));
               pipes = 0;
               for (int child : running) {
                 std::error_code error;
                 for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(child) + "/fd", error))
                   pipes += fs::read_symlink(fd.path(), error).string().starts_with("pipe:") &&
                            std::stoi(fd.path().filename()) > 2;
               }
               kill(pid, signal);
             }
             std::this_thread::sleep_for(std::chrono::milliseconds(5));
           }
         }});
    EXPECT_EQ(r.status, 128 + signal);
    EXPECT_EQ(pipes, 0);
    EXPECT_EQ(test::orphansStillRunning(), 0);
  }
}

TEST(Faults, TheProbeOfAFileNeverEndsNorStallsTheRun) {
  test::ScratchDir dir;
  // 3 GB of comment lines before its problem line; and an instance that
  // reads 1 GB of them after its problem line, which runs while d's files are
  // probed (and would end before the first probe does).
  test::writeFile(dir.file("d/bomb.qdimacs.gz"), test::gzippedComments(3000) + test::gzipped("p cnf 9 1\n1 0\n"));
  test::writeFile(dir.file("d/a/slow.qdimacs.gz"),
                  test::gzipped("p cnf 1 1\n") + test::gzippedComments(1000) + test::gzipped("1 0\n"));
  test::writeFile(dir.file("d/z.qdimacs"), "p cnf 1 1\n1 0\n");
  test::RunResult r = test::runTarnu({"-jobs=2", "-timeout=0.3", "d"}, {.cwd = dir.path()});
  EXPECT_EQ(r.status, 3);
  // The slow instance ends at its limit although the probe goes on at the time,
  // and the file whose probe ran out of time stands where a file without a
  // problem line would, with no child run.
  EXPECT_NE(r.out.find("1.Processing \"d/a/slow.qdimacs.gz\"...  [TIMEOUT]\n2.Processing \"d/bomb.qdimacs.gz\"...  "
                       "[TIMEOUT]\n3.Processing \"d/z.qdimacs\""),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("3 instances: 1 ok, 0 parse errors, 0 without a problem line, 0 abnormal exits, 2 timeouts"),
            std::string::npos)
      << r.err;

  if (test::sanitized()) return; // the sanitizers need the address space the limits take
  // An lzma header that asks for a dictionary of 3 GiB: too much for the
  // probe, and for the instance's own child, under a limit of 1 GB.
  fs::remove_all(dir.file("d"));
  test::writeFile(dir.file("d/z.qdimacs"), "p cnf 1 1\n1 0\n");
  std::string lzma = test::run("/bin/sh", {"-c", "printf 'p cnf 1 1\\n1 0\\n' | xz --format=lzma -c"}).out;
  lzma.replace(1, 4, std::string("\x00\x00\x00\xc0", 4));
  test::writeFile(dir.file("d/big.qdimacs.lzma"), lzma);
  r = test::runTarnu({"d"}, {.cwd = dir.path(), .memory = 1000000000});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("1.Processing \"d/big.qdimacs.lzma\"...  [Abnormal exit due to error \"Cannot allocate "
                       "memory\" at line 602, file \"Qdimacs\"]\n\n2.Processing \"d/z.qdimacs\""),
            std::string::npos)
      << r.out;
}

TEST(Faults, AFileSizeLimitIsSaidAndTheOldDotFileStays) {
  test::ScratchDir dir;
  test::writeFile(dir.file("d/s/chain.qdimacs"), test::chain(20000, 20000));
  for (const char *where : {"d/s/chain.qdimacs.treeDup.dot", "out/s/chain.qdimacs.treeDup.dot"})
    test::writeFile(dir.file(where), "old\n");
  fs::create_directories(dir.file("out"));
  // Stopped by the limit of file sizes half-way through its DOT file.
  for (const char *dotDir : {"-tree", "-dotdir=out"}) {
    test::RunResult r = test::runTarnu({"-tree", dotDir, "-jobs=2", "d"}, {.cwd = dir.path(), .fileSize = 100000});
    EXPECT_NE(r.out.find("     clauses: 19999[DOT FILE NOT WRITTEN: File too large]\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 1);
  }
  // Standard output past the limit: said as any failed write.
  test::RunResult r =
      test::runTarnu({"-jobs=2", "d"}, {.cwd = dir.path(), .fileSize = 200, .outputFile = dir.file("out.txt")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "tarnu: standard output: File too large\n");
  for (const char *folder : {"d/s", "out/s"}) {
    EXPECT_EQ(test::readFile(dir.file(std::string(folder) + "/chain.qdimacs.treeDup.dot")), "old\n");
    for (const auto &entry : fs::directory_iterator(dir.file(folder)))
      EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp")) << entry.path();
  }
  EXPECT_EQ(test::runTarnu({"-tree", "d"}, {.cwd = dir.path()}).status, 1);
  EXPECT_TRUE(test::readFile(dir.file("d/s/chain.qdimacs.treeDup.dot")).ends_with("}\n"));
}

TEST(Faults, TheProgressLineOnATerminalIsClearedBeforeTheSummary) {
  test::ScratchDir dir;
  slowThenQuick(dir);
  test::RunResult r = test::runTarnu({"d"}, {.cwd = dir.path(), .errorOnTerminal = true});
  EXPECT_NE(r.err.find("\rtarnu: 6 of 6 instances done, 6 ok, 0 timeouts, "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\033[K\r\033[Ktarnu: 6 instances: 6 ok,"), std::string::npos) << r.err;
  EXPECT_EQ(test::runTarnu({"d/q2.qdimacs"}, {.cwd = dir.path(), .errorOnTerminal = true}).err, "");
  // Standard output on the same terminal: without the line, the terminal
  // holds what a plain run writes on both.
  test::RunResult plain = test::runTarnu({"d"}, {.cwd = dir.path()});
  r = test::runTarnu({"d"}, {.cwd = dir.path(), .errorOnTerminal = true, .outputOnTerminal = true});
  EXPECT_NE(r.err.find("\rtarnu: "), std::string::npos);
  std::string seen = r.err;
  for (std::size_t at; (at = seen.find('\r')) != std::string::npos;) seen.erase(at, seen.find("\033[K", at) + 3 - at);
  EXPECT_EQ(test::mask(seen), test::mask(plain.out + plain.err));
}

// Many small instances at far more jobs than descriptors: every start that
// finds none waits for a child to give its own back.
TEST(Faults, RunningOutOfDescriptorsLosesNoInstance) {
  test::ScratchDir dir;
  const int n = test::sanitized() ? 300 : 5000;
  for (int i = 0; i < n; i++) test::writeFile(dir.file("d/q" + std::to_string(i) + ".qdimacs"), "p cnf 1 1\n1 0\n");
  const std::string all = test::mask(test::runTarnu({"d"}, {.cwd = dir.path()}).out);
  for (auto [jobs, limit] : {std::pair{"-jobs=1024", 1024}, {"-jobs=16", 20}, {"-jobs=64", 10}}) {
    test::RunResult r = test::runTarnu({jobs, "d"}, {.cwd = dir.path(), .descriptors = static_cast<unsigned>(limit)});
    EXPECT_EQ(test::mask(r.out), all) << jobs;
    EXPECT_TRUE(r.err.starts_with("tarnu: " + std::to_string(n) + " instances: " + std::to_string(n) + " ok, 0 "))
        << r.err;
  }
}

// Removes a tree too deep for paths, folder by folder.
void removeDeep(int parent, const char *name) {
  int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (DIR *dir = fd < 0 ? nullptr : fdopendir(fd)) {
    while (const dirent *entry = readdir(dir)) {
      if (entry->d_name[0] == '.' && (!entry->d_name[1] || (entry->d_name[1] == '.' && !entry->d_name[2]))) continue;
      if (entry->d_type == DT_DIR)
        removeDeep(dirfd(dir), entry->d_name);
      else
        unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
  }
  unlinkat(parent, name, AT_REMOVEDIR);
}

// 2,500 nested folders, paths far beyond PATH_MAX, an instance every 500.
TEST(Faults, AnInstanceDeeperThanAnyPathIsRun) {
  test::ScratchDir dir;
  int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  std::string path = "d";
  ASSERT_EQ(mkdirat(fd, "d", 0755), 0);
  int level = openat(fd, "d", O_RDONLY | O_DIRECTORY);
  for (int depth = 1; depth <= 2500; depth++) {
    if (depth % 500 == 0) {
      int file = openat(level, "q.qdimacs", O_WRONLY | O_CREAT, 0644);
      ASSERT_EQ(write(file, "p cnf 1 1\n1 0\n", 14), 14);
      close(file);
    }
    ASSERT_EQ(mkdirat(level, "folder", 0755), 0);
    int next = openat(level, "folder", O_RDONLY | O_DIRECTORY);
    close(level);
    level = next;
    path += "/folder";
  }
  close(level);
  test::RunResult r = test::runTarnu({"-jobs=2", "d"}, {.cwd = dir.path()});
  removeDeep(fd, "d");
  close(fd);
  EXPECT_EQ(r.status, 5);
  // Subfolders first: the deepest instance is the first.
  EXPECT_NE(r.out.find("\n1.Processing \"" + path.substr(0, 1 + 7 * 2499) + "/q.qdimacs\"...  \n"), std::string::npos);
  EXPECT_TRUE(r.err.starts_with("tarnu: 5 instances: 5 ok, ") && r.err.ends_with(" 0 unreadable directories\n"))
      << r.err;
}

// Run as root over a file of another user with every special bit set.
TEST(Faults, AReplacedFileKeepsNoSetuidSetgidOrStickyBit) {
  if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root";
  test::ScratchDir dir;
  test::writeFile(dir.file("d/a.qdimacs"), "p cnf 1 1\n1 0\n");
  test::writeFile(dir.file("d/a.qdimacs.treeDup.dot"), "old\n");
  ASSERT_EQ(chown(dir.file("d/a.qdimacs.treeDup.dot").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(dir.file("d/a.qdimacs.treeDup.dot").c_str(), 07755), 0);
  EXPECT_EQ(test::runTarnu({"-tree", "d"}, {.cwd = dir.path()}).status, 1);
  struct stat st;
  ASSERT_EQ(stat(dir.file("d/a.qdimacs.treeDup.dot").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_EQ(st.st_uid, 0u);
}

// A bzip2 bomb of a few hundred KB: 200 streams of 10 MB of comment lines
// each, with the problem line before them (a slow read) or after them (a
// slow probe).
void writeBomb(const test::ScratchDir &dir, const std::string &name, bool problemLineFirst) {
  const std::string problem = "printf 'p cnf 1 1\\n1 0\\n' | bzip2 ";
  test::run("/bin/sh",
            {"-c", "yes 'c a line of the header' | head -c 10000000 | bzip2 > m && mkdir -p d && (" +
                       (problemLineFirst ? problem + "; " : "") + "for i in $(seq 200); do cat m; done" +
                       (problemLineFirst ? "" : "; " + problem) + ") > d/" + name},
            {.cwd = dir.path()});
}

// Its probe stops at the time limit, and a signal ends the run while it
// decodes, each within a second.
TEST(Faults, ADecompressionBombInTheProbeKeepsLimitsAndSignals) {
  test::ScratchDir dir;
  writeBomb(dir, "b.qdimacs.bz2", false);
  auto started = std::chrono::steady_clock::now();
  auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
  test::RunResult r = test::runTarnu({"-timeout=1", "d"}, {.cwd = dir.path()});
  EXPECT_LT(seconds(), 3.5);
  EXPECT_NE(r.out.find("1.Processing \"d/b.qdimacs.bz2\"...  [TIMEOUT]"), std::string::npos) << r.out;
  started = std::chrono::steady_clock::now();
  r = test::runTarnu({"d"}, {.cwd = dir.path(), .whileRunning = [](int pid) {
                               std::this_thread::sleep_for(std::chrono::milliseconds(300));
                               kill(pid, SIGTERM);
                             }});
  EXPECT_LT(seconds(), 2);
  EXPECT_EQ(r.status, 128 + SIGTERM);
}

// More output than a pipe holds, then an instance over its time limit,
// written to a reader that stops reading for a while.
TEST(Faults, AReaderThatStopsReadingDelaysTheOutputButNotLimitsOrSignals) {
  test::ScratchDir dir;
  for (int i = 0; i < 300; i++) test::writeFile(dir.file("d/q" + std::to_string(i) + ".qdimacs"), "p cnf 1 1\n1 0\n");
  writeBomb(dir, "slow.qdimacs.bz2", true);
  test::RunResult plain = test::runTarnu({"-timeout=0.3", "d"}, {.cwd = dir.path()});
  ASSERT_NE(plain.out.find("[TIMEOUT]"), std::string::npos);
  const std::string tarnu = test::tarnuBinary() + " -timeout=0.3 d";
  test::RunResult r = test::run("/bin/sh", {"-c", tarnu + " | (sleep 2; cat)"}, {.cwd = dir.path()});
  EXPECT_EQ(test::mask(r.out), test::mask(plain.out));
  EXPECT_EQ(r.err, plain.err);
  // A reader that never reads, and SIGTERM half a second in: over within
  // the second after it.
  r = test::run("/bin/sh",
                {"-c", "mkfifo f; exec 3<>f; " + tarnu +
                           " > f & sleep 0.5; kill $!; sleep 1; kill -9 $! && echo hung; wait $!; echo $?"},
                {.cwd = dir.path()});
  EXPECT_EQ(r.out, std::to_string(128 + SIGTERM) + "\n");
}

} // namespace

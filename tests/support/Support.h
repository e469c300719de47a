#pragma once
// What every test suite shares: scratch directories, files, runs of the real
// programs with their output captured, and the masking of what varies from
// run to run (build date, times).

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace test {

// A fresh directory (on /dev/shm when there is one), removed with everything
// in it when the object goes, by the process that made it only.
class ScratchDir {
public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
  int owner_;
};

void writeFile(const std::string &path, const std::string &contents);
std::string readFile(const std::string &path);

struct RunResult {
  std::string out, err;
  int status = -1; // exit status 0..255, or 128 + the signal number
};

struct RunOptions {
  std::string cwd;                    // empty: the current directory
  std::string input;                  // standard input
  bool unprivileged = false;          // as "nobody" when the tests run as root
  unsigned long long memory = 0;      // address space limit in bytes, 0: none
  unsigned long long fileSize = 0;    // largest file the program may write, in bytes, 0: no limit
  unsigned long long descriptors = 0; // open descriptors the program may have, 0: no limit
  std::vector<std::string> env;       // NAME=VALUE added to the environment
  std::string outputFile;             // standard output goes there instead (then out stays empty)
  std::size_t closeOutputAfter = 0;   // stop reading standard output after that many bytes, 0: never
  bool ignorePipeSignal = false;      // start with SIGPIPE ignored (otherwise its default action)
  bool errorOnTerminal = false;       // standard error is a terminal (a pseudo-terminal read into err)
  bool outputOnTerminal = false;      // with errorOnTerminal: standard output is that same terminal
  std::function<void(int pid)> whileRunning;
};

// Runs the program (a path) with the arguments; both outputs are drained
// together, so neither pipe can fill up.
RunResult run(const std::string &program, const std::vector<std::string> &args, const RunOptions &options = {});
RunResult runTarnu(const std::vector<std::string> &args, const RunOptions &options = {});

// An existential chain of n variables (each clause ties one to the next),
// its problem line declaring `declared` variables (0: n).
std::string chain(int n, int declared = 0);

// The items of a run in their order: each instance's path and its text, from
// its number to the next item's.
std::vector<std::pair<std::string, std::string>> items(const std::string &output);
// The items by path, the suffix dropped from paths that have it, each from
// the path's closing quote on (so that numbers, which depend on the listing
// order of the file system, do not count), without its closing empty line.
std::map<std::string, std::string> itemsByPath(const std::string &output, const std::string &suffix = "");

// Text as a gzip member; and megabytes of comment lines in members of one
// megabyte each, a few kilobytes apiece (slow to read, quick to make).
std::string gzipped(const std::string &text);
std::string gzippedComments(int megabytes);

// Makes this process the reaper of orphans below it, so that a test sees the
// children the program under test leaves behind.
void adoptOrphans();
// Reaps the adopted orphans that have ended; returns how many still run
// after a grace time of a second.
int orphansStillRunning();
// The preloaded library that makes chosen calls fail (FailingCalls.cpp), and
// the program under test linked so that it takes the library in.
std::string failingCallsLibrary();
std::string preloadableBinary();

// The program under test, its companion, and the source tree.
std::string tarnuBinary();
std::string tableBinary();
std::string sourceDir();
// A set of real benchmark instances: its folder, how many it holds, and the
// folder of tests/golden with the expected items.
struct InstanceSet {
  std::string dir;
  int count;
  std::string golden;
};
// The corpus in the repository: one instance of every family of the shared
// set (tests/instances, INDEX says which), always there.
InstanceSet corpus();
// The whole shared set, the extended run: $TARNU_INSTANCES, else
// ../shared/instances beside the source tree; an empty folder when neither is
// there (the test is then skipped). A TARNU_INSTANCES that names no folder
// fails the test.
InstanceSet sharedSet();
// The QDIMACS files of a set, in the order its folders list them.
std::vector<std::string> instanceFiles(const InstanceSet &set);

// "compiled DATE)", "Growing time: Xms", "[OK, Xs]".
std::string mask(const std::string &output);

// True in the sanitizer build (the test script sets TARNU_SANITIZED).
bool sanitized();
// The user "nobody" exists and the tests run as root.
bool canDropPrivileges();
// Makes the path and everything below it readable and writable for all.
void openUp(const std::string &path);

// Graphviz must read the DOT file without a word: dot lays out files up to a
// few hundred kilobytes, larger ones are only parsed (gc).
void expectGraphvizReads(const std::string &dotFile);

} // namespace test

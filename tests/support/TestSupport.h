#pragma once
// Helpers shared by the test suites: scratch directories, files, running the
// real binary, and masking the parts of its output that vary between runs.

#include <string>
#include <vector>

namespace test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes (only by the process that made it:
// a forked child, such as a death test's, leaves it alone).
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
bool fileExists(const std::string &path);
void removeTree(const std::string &path);

struct RunResult {
  std::string out; // standard output
  std::string err; // standard error
  int status = -1; // exit status (0..255), or 128 + signal number
};

struct RunOptions {
  std::string cwd;          // working directory; empty: the current one
  bool unprivileged = false; // run as "nobody" when the tests run as root,
                            // so that file permissions apply
  // Limit of the address space of the program, in bytes (0: none).
  unsigned long long addressSpaceLimit = 0;
  // Called with the program's process id while it runs (for signals).
  void (*whileRunning)(int pid, void *context) = nullptr;
  void *context = nullptr;
};

// Runs the program with the arguments in the working directory cwd (empty:
// the current one).
RunResult run(const std::string &program, const std::vector<std::string> &args, const std::string &cwd = "");
RunResult run(const std::string &program, const std::vector<std::string> &args, const RunOptions &options);
RunResult runTarnu(const std::vector<std::string> &args, const std::string &cwd = "");
RunResult runTarnu(const std::vector<std::string> &args, const RunOptions &options);

// The user id "nobody" runs as (see RunOptions), or -1 when the tests do not
// run as root.
int unprivilegedUid();
// Makes the path and everything below it readable and writable for all.
void openUp(const std::string &path);

// Expects Graphviz to read the DOT file without a word: dot lays out files up
// to a few hundred kilobytes, larger ones are parsed (gc). Where Graphviz is
// missing the check is skipped, unless TARNU_REQUIRE_GRAPHVIZ is set (the
// test script sets it).
void expectGraphvizReads(const std::string &dotFile);

// True in a build with AddressSanitizer (set by the test script): such a
// program needs far more address space and time.
bool sanitized();

// A formula of n universal variables in one block above one existential
// variable, with the single clause of all of them.
std::string universalsAboveOneExistential(int n);

// Replaces the build date of the banner by "DATE", the milliseconds of
// "Growing time" and the seconds of "[OK, ...s]" by "X".
std::string maskVarying(const std::string &output);

// The directory of the repository's sources and the program under test.
std::string sourceDir();
std::string tarnuBinary();

} // namespace test

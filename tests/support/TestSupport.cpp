// Test helpers: scratch directories, files, and runs of the real binary.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test {

namespace {
// Scratch space: $TMPDIR if set, else memory-backed /dev/shm where there is
// one (directory-heavy tests are much quicker there than on a journalled
// disk), else /tmp.
std::string scratchBase() {
  const char *base = std::getenv("TMPDIR");
  if (base && *base) return base;
  if (access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  return "/tmp";
}
} // namespace

ScratchDir::ScratchDir() {
  std::string pattern = scratchBase() + "/tarnu-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
  owner_ = static_cast<int>(getpid());
}

ScratchDir::~ScratchDir() {
  if (static_cast<int>(getpid()) == owner_) removeTree(path_);
}

void removeTree(const std::string &path) {
  // rm walks deep trees relative to open directories (std::filesystem goes
  // by whole paths, which is quadratic in the depth); chmod first gives back
  // what tests took away.
  run("/bin/chmod", {"-R", "u+rwx", path});
  run("/bin/rm", {"-rf", path});
}

void writeFile(const std::string &path, const std::string &contents) {
  std::ofstream out(path, std::ios::binary);
  out << contents;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool fileExists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

namespace {
std::string drain(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return text;
}
} // namespace

constexpr int NOBODY = 65534;

int unprivilegedUid() { return geteuid() == 0 ? NOBODY : -1; }

void openUp(const std::string &path) {
  std::error_code ec;
  chmod(path.c_str(), 0777);
  for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (!it->is_symlink(ec)) chmod(it->path().c_str(), it->is_directory(ec) ? 0777 : 0666);
  // The scratch directory's parent must be passable too.
}

RunResult run(const std::string &program, const std::vector<std::string> &args, const std::string &cwd) {
  RunOptions options;
  options.cwd = cwd;
  return run(program, args, options);
}

RunResult run(const std::string &program, const std::vector<std::string> &args, const RunOptions &options) {
  const std::string &cwd = options.cwd;
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(outPipe[1]);
    close(errPipe[0]);
    close(errPipe[1]);
    if (options.addressSpaceLimit) {
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = options.addressSpaceLimit;
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.unprivileged && geteuid() == 0 && (setgid(NOBODY) != 0 || setuid(NOBODY) != 0)) _exit(124);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(125);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(126);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (options.whileRunning) options.whileRunning(static_cast<int>(child), options.context);
  RunResult result;
  // Standard error stays small; read standard output first, then it.
  result.out = drain(outPipe[0]);
  result.err = drain(errPipe[0]);
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

RunResult runTarnu(const std::vector<std::string> &args, const std::string &cwd) {
  return run(tarnuBinary(), args, cwd);
}

RunResult runTarnu(const std::vector<std::string> &args, const RunOptions &options) {
  return run(tarnuBinary(), args, options);
}

std::string universalsAboveOneExistential(int n) {
  std::ostringstream text;
  text << "p cnf " << n + 1 << " 1\na";
  for (int v = 1; v <= n; v++) text << ' ' << v;
  text << " 0\ne " << n + 1 << " 0\n";
  for (int v = 1; v <= n + 1; v++) text << v << ' ';
  text << "0\n";
  return text.str();
}

std::string maskVarying(const std::string &output) {
  static const std::regex date(R"(compiled [A-Z][a-z][a-z] [ 0-9][0-9] [0-9]{4}\))");
  static const std::regex growing(R"(Growing time: [0-9]+ms)");
  static const std::regex ok(R"(\[OK, [0-9]+\.[0-9]s\])");
  std::string masked = std::regex_replace(output, date, "compiled DATE)");
  masked = std::regex_replace(masked, growing, "Growing time: Xms");
  return std::regex_replace(masked, ok, "[OK, Xs]");
}

void expectGraphvizReads(const std::string &dotFile) {
  static const bool haveGraphviz = access("/usr/bin/dot", X_OK) == 0 && access("/usr/bin/gc", X_OK) == 0;
  if (!haveGraphviz) {
    ASSERT_EQ(std::getenv("TARNU_REQUIRE_GRAPHVIZ"), nullptr) << "Graphviz (dot, gc) is not installed";
    return;
  }
  struct stat st;
  ASSERT_EQ(stat(dotFile.c_str(), &st), 0) << dotFile;
  RunResult r = st.st_size < 300000 ? run("/usr/bin/dot", {"-Tsvg", "-o", "/dev/null", dotFile})
                                    : run("/usr/bin/gc", {"-n", dotFile});
  EXPECT_EQ(r.status, 0) << dotFile << "\n" << r.err;
  EXPECT_EQ(r.err, "") << dotFile;
}

bool sanitized() { return std::getenv("TARNU_SANITIZED") != nullptr; }

std::string sourceDir() { return TARNU_SOURCE_DIR; }
std::string tarnuBinary() { return TARNU_BINARY; }

} // namespace test

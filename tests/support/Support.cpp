// Test helpers: scratch directories, files, and runs of the real programs.

#include "Support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace test {
namespace fs = std::filesystem;

namespace {
constexpr int NOBODY = 65534;
}

ScratchDir::ScratchDir() {
  const char *tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = base + "/tarnu-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  owner_ = static_cast<int>(getpid());
}

ScratchDir::~ScratchDir() {
  // rm walks deep trees relative to open directories; chmod gives back what
  // a test took away.
  if (static_cast<int>(getpid()) == owner_) run("/bin/sh", {"-c", "chmod -R u+rwx \"$0\"; rm -rf \"$0\"", path_});
}

void writeFile(const std::string &path, const std::string &contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out << contents;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult run(const std::string &program, const std::vector<std::string> &args, const RunOptions &options) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
  if (options.errorOnTerminal) {
    // The terminal's side stands in for the pipe's: err[0] the master, err[1] the slave.
    close(err[0]), close(err[1]);
    err[0] = posix_openpt(O_RDWR | O_NOCTTY);
    if (err[0] < 0 || grantpt(err[0]) != 0 || unlockpt(err[0]) != 0) throw std::runtime_error("no terminal");
    err[1] = open(ptsname(err[0]), O_RDWR | O_NOCTTY);
    termios mode;
    tcgetattr(err[1], &mode);
    cfmakeraw(&mode);
    tcsetattr(err[1], TCSANOW, &mode);
  }
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    int output =
        options.outputFile.empty() ? out[1] : open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in[0], 0);
    dup2(options.outputOnTerminal ? err[1] : output, 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    std::signal(SIGPIPE, options.ignorePipeSignal ? SIG_IGN : SIG_DFL);
    for (const std::string &entry : options.env) putenv(const_cast<char *>(entry.c_str()));
    if (options.fileSize) {
      rlimit limit{options.fileSize, options.fileSize};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.descriptors) {
      rlimit limit{options.descriptors, options.descriptors};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (options.memory) {
      rlimit limit{options.memory, options.memory};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.unprivileged && geteuid() == 0 && (setgid(NOBODY) != 0 || setuid(NOBODY) != 0)) _exit(124);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(125);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(126);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  std::thread watcher;
  if (options.whileRunning) watcher = std::thread(options.whileRunning, static_cast<int>(child));
  std::signal(SIGPIPE, SIG_IGN);
  RunResult result;
  std::size_t fed = 0;
  int inFd = in[1];
  if (options.input.empty()) close(inFd), inFd = -1;
  int outFd = out[0], errFd = err[0];
  while (outFd >= 0 || errFd >= 0) {
    pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      int &fd = i == 0 ? outFd : errFd;
      if (fd < 0 || !fds[i].revents) continue;
      char chunk[65536];
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n > 0)
        (i == 0 ? result.out : result.err).append(chunk, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR) // a terminal's master reads EIO once the last slave is closed
        close(fd), fd = -1;
      if (i == 0 && fd >= 0 && options.closeOutputAfter && result.out.size() >= options.closeOutputAfter)
        close(fd), fd = -1;
    }
    if (inFd >= 0 && fds[2].revents) {
      ssize_t n = write(inFd, options.input.data() + fed, options.input.size() - fed);
      if (n > 0) fed += static_cast<std::size_t>(n);
      if (n < 0 || fed == options.input.size()) close(inFd), inFd = -1;
    }
  }
  if (inFd >= 0) close(inFd);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (watcher.joinable()) watcher.join();
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

RunResult runTarnu(const std::vector<std::string> &args, const RunOptions &options) {
  return run(tarnuBinary(), args, options);
}

std::string chain(int n, int declared) {
  std::string text = "p cnf " + std::to_string(declared ? declared : n) + " " + std::to_string(n - 1) + "\ne";
  for (int v = 1; v <= n; v++) text += " " + std::to_string(v);
  text += " 0\n";
  for (int v = 1; v < n; v++) text += std::to_string(v) + " " + std::to_string(-(v + 1)) + " 0\n";
  return text;
}

std::vector<std::pair<std::string, std::string>> items(const std::string &output) {
  std::vector<std::pair<std::string, std::string>> found;
  const std::string head = ".Processing \"";
  for (std::size_t at = output.find(head); at != std::string::npos;) {
    std::size_t start = output.rfind('\n', at) + 1, pathEnd = output.find('"', at + head.size());
    std::size_t next = output.find(head, pathEnd);
    std::size_t end = next == std::string::npos ? output.size() : output.rfind('\n', next) + 1;
    found.push_back({output.substr(at + head.size(), pathEnd - at - head.size()), output.substr(start, end - start)});
    at = next;
  }
  return found;
}

std::map<std::string, std::string> itemsByPath(const std::string &output, const std::string &suffix) {
  std::map<std::string, std::string> byPath;
  for (auto [path, text] : items(output)) {
    if (path.ends_with(suffix)) path.resize(path.size() - suffix.size());
    text.erase(0, text.find("\"...  "));
    while (text.ends_with('\n')) text.pop_back();
    byPath[path] = text;
  }
  return byPath;
}

std::string gzipped(const std::string &text) { return run("/bin/gzip", {"-c"}, {.input = text}).out; }

std::string gzippedComments(int megabytes) {
  std::string comments;
  while (comments.size() < (1u << 20)) comments += "c a comment line\n";
  std::string member = gzipped(comments), all;
  for (int i = 0; i < megabytes; i++) all += member;
  return all;
}

void adoptOrphans() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

int orphansStillRunning() {
  for (int attempt = 0;; attempt++) {
    pid_t pid = waitpid(-1, nullptr, WNOHANG);
    if (pid > 0) continue;
    if (pid < 0) return 0; // none left
    if (attempt >= 100) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int running = 0;
  std::ifstream list("/proc/self/task/" + std::to_string(getpid()) + "/children");
  for (int pid; list >> pid;) running++;
  return running;
}

std::string failingCallsLibrary() { return TARNU_FAILING_CALLS; }
std::string preloadableBinary() { return TARNU_PRELOADABLE_BINARY; }

std::string tarnuBinary() { return TARNU_BINARY; }
std::string tableBinary() { return TARNU_TABLE_BINARY; }
std::string sourceDir() { return TARNU_SOURCE_DIR; }

InstanceSet corpus() { return {sourceDir() + "/tests/instances", 81, "corpus"}; }

InstanceSet sharedSet() {
  const char *given = std::getenv("TARNU_INSTANCES");
  std::string dir = given && *given ? given : sourceDir() + "/../shared/instances";
  if (given && *given) {
    EXPECT_TRUE(fs::is_directory(dir)) << "TARNU_INSTANCES names no folder: " << dir;
  }
  return {fs::is_directory(dir) ? dir : "", 335, "instances"};
}

std::vector<std::string> instanceFiles(const InstanceSet &set) {
  std::vector<std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(set.dir)) {
    std::string name = entry.path().filename();
    bool dimacs = name.find(".qdimacs") != std::string::npos || name.find(".qcnf") != std::string::npos;
    if (entry.is_regular_file() && dimacs) files.push_back(entry.path());
  }
  return files;
}

std::string mask(const std::string &output) {
  static const std::regex date(R"(compiled [A-Z][a-z][a-z] [ 0-9][0-9] [0-9]{4}\))");
  static const std::regex growing(R"(Growing time: [0-9]+ms)");
  static const std::regex ok(R"(\[OK, [0-9]+\.[0-9]s\])");
  static const std::regex features(R"(Feature time: [0-9]+ms)");
  std::string masked = std::regex_replace(output, date, "compiled DATE)");
  masked = std::regex_replace(masked, growing, "Growing time: Xms");
  masked = std::regex_replace(masked, features, "Feature time: Xms");
  return std::regex_replace(masked, ok, "[OK, Xs]");
}

bool sanitized() { return std::getenv("TARNU_SANITIZED") != nullptr; }

bool canDropPrivileges() { return geteuid() == 0; }

void openUp(const std::string &path) {
  std::error_code ec;
  chmod(path.c_str(), 0777);
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (!it->is_symlink(ec)) chmod(it->path().c_str(), it->is_directory(ec) ? 0777 : 0666);
}

void expectGraphvizReads(const std::string &dotFile) {
  static const bool present = access("/usr/bin/dot", X_OK) == 0 && access("/usr/bin/gc", X_OK) == 0;
  if (!present) {
    EXPECT_EQ(std::getenv("TARNU_REQUIRE_GRAPHVIZ"), nullptr) << "Graphviz (dot, gc) is not installed";
    return;
  }
  bool small = fs::file_size(dotFile) < 300000;
  RunResult r =
      small ? run("/usr/bin/dot", {"-Tsvg", "-o", "/dev/null", dotFile}) : run("/usr/bin/gc", {"-n", dotFile});
  EXPECT_EQ(r.status, 0) << dotFile << "\n" << r.err;
  EXPECT_EQ(r.err, "") << dotFile;
}

} // namespace test

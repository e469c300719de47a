#pragma once
// Helpers of the table tests: running a program with its output captured,
// scratch directories, files, and a reader of RFC 4180 tables.

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tabletest {

struct RunResult {
  int status = -1; // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs argv[0] (searched in PATH when it has no slash) with the given
// standard input, in the given working directory (empty: the current one).
inline RunResult run(const std::vector<std::string> &argv, const std::string &input = "", const std::string &cwd = "") {
  int in[2], out[2], err[2];
  RunResult result;
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return result;
  pid_t child = fork();
  if (child == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Feed the input and drain both outputs together, so no pipe fills up.
  std::size_t written = 0;
  int inFd = in[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  signal(SIGPIPE, SIG_IGN);
  bool outOpen = true, errOpen = true;
  char chunk[65536];
  while (outOpen || errOpen) {
    pollfd fds[3];
    int n = 0;
    int outAt = -1, errAt = -1, inAt = -1;
    if (outOpen) fds[outAt = n++] = {out[0], POLLIN, 0};
    if (errOpen) fds[errAt = n++] = {err[0], POLLIN, 0};
    if (inFd >= 0) fds[inAt = n++] = {inFd, POLLOUT, 0};
    if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (inAt >= 0 && fds[inAt].revents) {
      ssize_t k = write(inFd, input.data() + written, input.size() - written);
      if (k > 0) written += static_cast<std::size_t>(k);
      if (k <= 0 || written == input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
    for (auto [at, fd, text, open] :
         {std::tuple{outAt, out[0], &result.out, &outOpen}, std::tuple{errAt, err[0], &result.err, &errOpen}}) {
      if (at < 0 || !fds[at].revents) continue;
      ssize_t k = read(fd, chunk, sizeof chunk);
      if (k > 0)
        text->append(chunk, static_cast<std::size_t>(k));
      else
        *open = false;
    }
  }
  if (inFd >= 0) close(inFd);
  close(out[0]);
  close(err[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline bool onPath(const std::string &program) {
  const char *path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

inline std::string readFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFile(const std::filesystem::path &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A scratch directory, removed with everything in it.
class ScratchDir {
public:
  ScratchDir() {
    char name[] = "/tmp/tarnu-table-test.XXXXXX";
    if (mkdtemp(name)) path_ = name;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::filesystem::path &path() const { return path_; }

private:
  std::filesystem::path path_;
};

using CsvRecord = std::vector<std::string>;

// Reads an RFC 4180 table; records end with CR LF (a bare LF is taken too).
// Returns false when the text is not well formed.
inline bool parseCsv(const std::string &text, std::vector<CsvRecord> &records) {
  records.clear();
  std::size_t p = 0;
  while (p < text.size()) {
    CsvRecord record;
    for (;;) {
      std::string field;
      if (p < text.size() && text[p] == '"') {
        p++;
        for (;;) {
          if (p >= text.size()) return false;
          if (text[p] == '"') {
            if (p + 1 < text.size() && text[p + 1] == '"') {
              field += '"';
              p += 2;
              continue;
            }
            p++;
            break;
          }
          field += text[p++];
        }
      } else {
        while (p < text.size() && text[p] != ',' && text[p] != '\r' && text[p] != '\n') {
          if (text[p] == '"') return false;
          field += text[p++];
        }
      }
      record.push_back(field);
      if (p < text.size() && text[p] == ',') {
        p++;
        continue;
      }
      if (p < text.size() && text[p] == '\r') p++;
      if (p < text.size() && text[p] == '\n')
        p++;
      else if (p < text.size())
        return false;
      break;
    }
    records.push_back(record);
  }
  return true;
}

inline std::filesystem::path sourceDir() { return TARNU_SOURCE_DIR; }
inline std::filesystem::path dataDir() { return sourceDir() / "tests" / "table" / "data"; }

} // namespace tabletest

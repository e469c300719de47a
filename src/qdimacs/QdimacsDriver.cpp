// Instance driver: one child process per instance, strictly one after the
// other, and the depth-first directory walk. A directory's entries are read
// in one go and the directory closed before anything below it is visited, so
// the depth of a tree never costs open descriptors. The parent tallies how
// the instances ended and what the walk skipped, for the line on standard
// error at the end of the run.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "qdimacs/Qdimacs.h"
#include "run/IOutils.h"
#include "run/RunStatus.h"
#include "storage/AbnormalExit.h"
#include "storage/CheckedArray.h"

int instanceNumber = 0;

namespace {
constexpr const char *MODULE = "Qdimacs";
constexpr int SITE_TABLE = 448;
constexpr int SITE_PATH = 456;
// The exit code of a child whose file has no problem line. The parent turns
// it into the parse error's code (what it returns is as ever) and counts it
// apart from the parse errors.
constexpr int CHILD_NO_PROBLEM_LINE = 3;

struct Tally {
  long instances = 0, ok = 0, parseErrors = 0, noProblemLine = 0, abnormalExits = 0, timeouts = 0, crashes = 0;
  long links = 0, specialFiles = 0, unreadableDirectories = 0;
} tally;

struct Instance {
  char *path;
  int size;
};

enum class EntryKind : unsigned char { Directory, File, Link, Special };

struct Entry {
  char *name;
  EntryKind kind;
};

char *copyText(const char *a, const char *b = "", const char *c = "") {
  std::size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
  auto *text = static_cast<char *>(checkedMalloc(la + lb + lc + 1, SITE_PATH, MODULE));
  std::memcpy(text, a, la);
  std::memcpy(text + la, b, lb);
  std::memcpy(text + la + lb, c, lc + 1);
  return text;
}

EntryKind kindOf(unsigned char type, const char *fullPath) {
  if (type == DT_DIR) return EntryKind::Directory;
  if (type == DT_REG) return EntryKind::File;
  if (type == DT_LNK) return EntryKind::Link;
  if (type != DT_UNKNOWN) return EntryKind::Special;
  // File systems that report no type: ask, without following a link.
  struct stat st;
  if (lstat(fullPath, &st) != 0) return EntryKind::Special;
  if (S_ISDIR(st.st_mode)) return EntryKind::Directory;
  if (S_ISREG(st.st_mode)) return EntryKind::File;
  return S_ISLNK(st.st_mode) ? EntryKind::Link : EntryKind::Special;
}

int instanceSizeComparison(const Instance &a, const Instance &b) {
  return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
}

[[noreturn]] void runInstanceChild(const char *path, InstanceCallback callback) {
  VEXT_setStatus(STATUS_INITIAL);
  std::printf("\n%i.Processing \"%s\"...  ", instanceNumber, path);
  std::fflush(stdout);
  std::clock_t start = std::clock();
  QbFormula *formula = Qdimacs_parseFile(path);
  if (!formula) {
    const char *reason = Qdimacs_getParseError();
    if (reason) std::printf("[PARSE ERROR: %s]", reason);
    std::fflush(stdout);
    std::exit(reason ? EXIT_PARSE_ERROR : CHILD_NO_PROBLEM_LINE);
  }
  int result = callback(formula);
  unsigned long ticks = static_cast<unsigned long>(std::clock()) - static_cast<unsigned long>(start);
  std::printf("[OK, %.1fs]", static_cast<double>(ticks) / CLOCKS_PER_SEC);
  std::fflush(stdout);
  std::printf("\n");
  std::exit(result);
}

// The outcome of a child from its wait status, as the driver returns it;
// the mark of a killed child is printed, and the ending tallied.
int decode(int status) {
  if (WIFSIGNALED(status)) {
    bool timeout = WTERMSIG(status) == SIGUSR1;
    std::printf(timeout ? "[TIMEOUT]" : "[CRASH]");
    std::fflush(stdout);
    (timeout ? tally.timeouts : tally.crashes)++;
    return timeout ? EXIT_TIMEOUT : EXIT_CRASH;
  }
  int code = WEXITSTATUS(status);
  if (code == EXIT_INSTANCE_DONE)
    tally.ok++;
  else if (code == (EXIT_PARSE_ERROR & 0xff))
    tally.parseErrors++;
  else if (code == CHILD_NO_PROBLEM_LINE)
    tally.noProblemLine++, code = EXIT_PARSE_ERROR & 0xff;
  else
    tally.abnormalExits++;
  return code;
}

int processQbfInstance(const char *path, InstanceCallback callback) {
  instanceNumber++;
  tally.instances++;
  std::fflush(stdout);
  pid_t child = fork();
  if (child < 0) {
    // Counted as run (in a directory) and printed as nothing, as ever; but
    // not in silence.
    std::fprintf(stderr, "tarnu: %s: cannot start a process: %s\n", path, std::strerror(errno));
    tally.abnormalExits++;
    return EXIT_ERROR;
  }
  if (child == 0) runInstanceChild(path, callback);
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != child) {
    tally.abnormalExits++;
    return EXIT_ERROR;
  }
  return decode(status);
}

// The directory's entries in listing order, or false if it cannot be opened.
bool listDirectory(const char *dirPath, CheckedArray<Entry> &entries) {
  DIR *dir = opendir(dirPath);
  if (!dir) {
    tally.unreadableDirectories++;
    return false;
  }
  const char *separator = dirPath[0] && dirPath[std::strlen(dirPath) - 1] == '/' ? "" : "/";
  while (const dirent *entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    char *full = copyText(dirPath, separator, entry->d_name);
    EntryKind kind = kindOf(entry->d_type, full);
    std::free(full);
    if (kind == EntryKind::Link || kind == EntryKind::Special) {
      (kind == EntryKind::Link ? tally.links : tally.specialFiles)++;
      continue;
    }
    entries.push(Entry{copyText(entry->d_name), kind});
  }
  closedir(dir);
  return true;
}

int processAllQbfInstancesInDir(const char *dirPath, InstanceCallback callback) {
  CheckedArray<Entry> entries(SITE_TABLE, MODULE);
  if (!listDirectory(dirPath, entries)) return 0;
  const char *separator = dirPath[0] && dirPath[std::strlen(dirPath) - 1] == '/' ? "" : "/";
  CheckedArray<Instance> table(SITE_TABLE, MODULE);
  int count = 0;
  for (std::size_t i = 0; i < entries.size(); i++) {
    const Entry &entry = entries[i];
    char *full = copyText(dirPath, separator, entry.name);
    if (entry.kind == EntryKind::Directory) {
      count += processAllQbfInstancesInDir(full, callback);
      std::free(full);
    } else if (IOutils_hasDimacsExtension(entry.name)) {
      table.push(Instance{full, Qdimacs_probeInstanceSize(full)});
    } else {
      std::free(full);
    }
    std::free(entry.name);
  }
  std::stable_sort(table.data(), table.data() + table.size(),
                   [](const Instance &a, const Instance &b) { return instanceSizeComparison(a, b) < 0; });
  for (std::size_t i = 0; i < table.size(); i++) {
    processQbfInstance(table[i].path, callback);
    count++;
  }
  for (std::size_t i = 0; i < table.size(); i++) std::free(table[i].path);
  return count;
}
} // namespace

int Qdimacs_processInstancesInPath(const char *path, InstanceCallback callback) {
  switch (VEXT_getMode()) {
  case MODE_FILE: return processQbfInstance(path, callback);
  case MODE_DIRECTORY: return processAllQbfInstancesInDir(path, callback);
  default: return EXIT_IO_ERROR;
  }
}

void Qdimacs_reportToStandardError() {
  if (VEXT_getMode() == MODE_FILE && tally.ok == tally.instances) return;
  if (VEXT_getMode() != MODE_FILE && VEXT_getMode() != MODE_DIRECTORY) return;
  std::fprintf(stderr,
               "tarnu: %ld instances: %ld ok, %ld parse errors, %ld without a problem line, %ld abnormal exits, %ld "
               "timeouts, %ld crashes; skipped: %ld symbolic links, %ld special files, %ld unreadable directories\n",
               tally.instances, tally.ok, tally.parseErrors, tally.noProblemLine, tally.abnormalExits, tally.timeouts,
               tally.crashes, tally.links, tally.specialFiles, tally.unreadableDirectories);
}

// IOutils: file-name tests, safe opens and the DOT file name.

#include "run/IOutils.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "formula/QbFormula.h"
#include "storage/CheckedArray.h"
#include "tree/QbfTree.h"

namespace {
constexpr int SITE_VIZ_NAME = 52;
FILE *vizFile = nullptr;
int treeNum = 0;

bool endsWithFirst(const char *name, const char *suffix) {
  const char *at = std::strstr(name, suffix);
  return at && std::strlen(at) == std::strlen(suffix);
}
} // namespace

int IOutils_hasDimacsExtension(const char *name) {
  if (endsWithFirst(name, ".qdimacs")) return 1;
  return endsWithFirst(name, ".qcnf") ? 1 : 0;
}

int IOutils_isDimacsFile(const char *path) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  int fd = IOutils_openInputFile(path);
  if (fd < 0) return 0;
  close(fd);
  return IOutils_hasDimacsExtension(path);
}

int IOutils_isDirectory(const char *path) {
  DIR *dir = opendir(path);
  if (!dir) return 0;
  closedir(dir);
  return 1;
}

int IOutils_openInputFile(const char *path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

int IOutils_openOutputFile(const char *path, const char **reason) {
  int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    // A FIFO without a reader (ENXIO) and a symbolic link (ELOOP) are both
    // things that are not a regular file.
    *reason = (errno == ELOOP || errno == ENXIO || errno == EISDIR) ? "not a regular file" : std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *reason = "not a regular file";
    return -1;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

FILE *IOutils_vizFileForQbfTree(QbfTree *tree, int resetCounter, const char **reason) {
  if (resetCounter) treeNum = 0;
  const char *base = QbFormula_getName(QbfTree_getQbFormula(tree));
  const char *suffix = QbfTree_getDuplicatedUniversalsAllowed(tree) ? ".treeDup.dot" : ".tree.dot";
  CheckedArray<char> name(SITE_VIZ_NAME, "IOutils");
  name.growTo(std::strlen(base) + 32, '\0');
  if (treeNum > 0)
    std::snprintf(name.data(), name.size(), "%s.%i%s", base, treeNum, suffix);
  else
    std::snprintf(name.data(), name.size(), "%s%s", base, suffix);
  treeNum++;
  int fd = IOutils_openOutputFile(name.data(), reason);
  if (fd < 0) return nullptr;
  vizFile = fdopen(fd, "w");
  if (!vizFile) {
    *reason = std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return vizFile;
}

int IOutils_closeVizFileForQbfTree(const char **reason) {
  if (!vizFile) return 0;
  errno = 0;
  bool failed = std::fflush(vizFile) != 0 || std::ferror(vizFile) != 0;
  // Whatever an earlier, longer file had beyond what was written goes now.
  if (!failed) {
    off_t length = ftello(vizFile);
    failed = length < 0 || ftruncate(fileno(vizFile), length) != 0;
  }
  int saved = errno;
  if (std::fclose(vizFile) != 0 && !failed) {
    failed = true;
    saved = errno;
  }
  vizFile = nullptr;
  if (failed) *reason = saved ? std::strerror(saved) : "write error";
  return failed ? -1 : 0;
}

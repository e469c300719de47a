// IOutils: file-name tests, safe opens, and the DOT file.

#include "run/IOutils.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/CheckedArray.h"

namespace {
constexpr int SITE_DOT_NAME = 52;
constexpr const char *NOT_REGULAR = "not a regular file";

// Only the first occurrence of the suffix is looked at.
bool endsWithFirst(std::string_view name, std::string_view suffix) {
  std::size_t at = name.find(suffix);
  return at != std::string_view::npos && at + suffix.size() == name.size();
}
} // namespace

int IOutils_hasDimacsExtension(const char *name) {
  // A compression suffix is looked past: the rule applies to what is before.
  std::string_view text(name);
  for (std::string_view suffix : {".gz", ".xz", ".lzma", ".bz2", ".zst"})
    if (text.ends_with(suffix)) {
      text.remove_suffix(suffix.size());
      break;
    }
  return endsWithFirst(text, ".qdimacs") || endsWithFirst(text, ".qcnf") ? 1 : 0;
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

const char *IOutils_whyNotProcessed(const char *path) {
  struct stat st;
  if (stat(path, &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) {
    DIR *dir = opendir(path);
    if (!dir) return std::strerror(errno);
    closedir(dir);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) return NOT_REGULAR;
  if (!IOutils_hasDimacsExtension(path))
    return "not a QDIMACS file name (.qdimacs or .qcnf, optionally .gz .xz .lzma .bz2 .zst)";
  int fd = IOutils_openInputFile(path);
  if (fd < 0) return std::strerror(errno);
  close(fd);
  return nullptr;
}

int IOutils_openRegularFile(const char *path, int flags, const char **reason) {
  int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    // A symbolic link refused (ELOOP) and a FIFO without a reader (ENXIO)
    // are things that are not a regular file.
    if (reason) *reason = errno == ELOOP || errno == ENXIO || errno == EISDIR ? NOT_REGULAR : std::strerror(errno);
    return -1;
  }
  struct stat st;
  bool known = fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    int error = !known ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    close(fd);
    if (reason) *reason = NOT_REGULAR;
    errno = error;
    return -1;
  }
  int fileFlags = fcntl(fd, F_GETFL);
  if (fileFlags != -1) fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK);
  return fd;
}

int IOutils_openInputFile(const char *path) { return IOutils_openRegularFile(path, O_RDONLY); }

FILE *IOutils_openDotFile(const char *inputPath, const char **reason) {
  static constexpr char SUFFIX[] = ".treeDup.dot";
  const std::size_t length = std::strlen(inputPath);
  CheckedArray<char> name(SITE_DOT_NAME, "IOutils");
  name.growUninitialized(length + sizeof SUFFIX);
  std::memcpy(name.data(), inputPath, length);
  std::memcpy(name.data() + length, SUFFIX, sizeof SUFFIX);
  int fd = IOutils_openRegularFile(name.data(), O_WRONLY | O_CREAT | O_NOFOLLOW, reason);
  if (fd < 0) return nullptr;
  FILE *file = fdopen(fd, "w");
  if (!file) {
    *reason = std::strerror(errno);
    close(fd);
  }
  return file;
}

int IOutils_closeDotFile(FILE *file, const char **reason) {
  errno = 0;
  bool failed = std::fflush(file) != 0 || std::ferror(file) != 0;
  // Whatever an earlier, longer file had beyond what was written goes now.
  if (!failed) {
    off_t length = ftello(file);
    failed = length < 0 || ftruncate(fileno(file), length) != 0;
  }
  int saved = errno;
  if (std::fclose(file) != 0 && !failed) {
    failed = true;
    saved = errno;
  }
  if (failed) *reason = saved ? std::strerror(saved) : "write error";
  return failed ? -1 : 0;
}

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
constexpr const char *NOT_REGULAR = IOUTILS_NOT_REGULAR;

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
  if (!IOutils_hasDimacsExtension(path)) return IOUTILS_NOT_DIMACS_NAME;
  int fd = IOutils_openInputFile(path);
  if (fd < 0) return std::strerror(errno);
  close(fd);
  return nullptr;
}

namespace {
// IOutils_openRegularFile for a path relative to an open folder.
int openRegularFileAt(int folder, const char *path, int flags, const char **reason) {
  int fd = openat(folder, path, flags | O_NONBLOCK | O_CLOEXEC, 0644);
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

// Opens name + suffix in the folder for writing.
FILE *openDotFileAt(int folder, std::string_view name, const char *suffix, const char **reason) {
  const std::size_t suffixBytes = std::strlen(suffix) + 1;
  CheckedArray<char> dotName(SITE_DOT_NAME, "IOutils");
  dotName.growUninitialized(name.size() + suffixBytes);
  std::memcpy(dotName.data(), name.data(), name.size());
  std::memcpy(dotName.data() + name.size(), suffix, suffixBytes);
  int fd = openRegularFileAt(folder, dotName.data(), O_WRONLY | O_CREAT | O_NOFOLLOW, reason);
  if (fd < 0) return nullptr;
  FILE *file = fdopen(fd, "w");
  if (!file) {
    *reason = std::strerror(errno);
    close(fd);
  }
  return file;
}

// The folder for the DOT file of the relative path's last part: each folder
// before it entered below dotDir, made when missing, never through a link.
// -1 with a reason when one cannot be.
int enterDotFolders(const char *dotDir, std::string_view &relative, const char **reason) {
  int folder = open(dotDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (std::size_t slash; folder >= 0 && (slash = relative.find('/')) != std::string_view::npos;) {
    std::string_view part = relative.substr(0, slash);
    relative.remove_prefix(slash + 1);
    if (part.empty() || part == ".") continue;
    CheckedArray<char> name(SITE_DOT_NAME, "IOutils");
    name.growUninitialized(part.size() + 1);
    std::memcpy(name.data(), part.data(), part.size());
    name[part.size()] = '\0';
    int inner = mkdirat(folder, name.data(), 0777) == 0 || errno == EEXIST
                    ? openat(folder, name.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                    : -1;
    // A link where a folder should be is no folder to write into.
    int error = inner < 0 && errno == ELOOP ? ENOTDIR : errno;
    close(folder);
    folder = inner;
    errno = error;
  }
  if (folder < 0) *reason = std::strerror(errno);
  return folder;
}
} // namespace

int IOutils_openRegularFile(const char *path, int flags, const char **reason) {
  return openRegularFileAt(AT_FDCWD, path, flags, reason);
}

int IOutils_openInputFile(const char *path) { return IOutils_openRegularFile(path, O_RDONLY); }

FILE *IOutils_openDotFile(const char *inputPath, const char *dotDir, const char *root, const char **reason,
                          const char *suffix) {
  if (!dotDir) return openDotFileAt(AT_FDCWD, inputPath, suffix, reason);
  std::string_view relative(inputPath);
  if (root) {
    relative.remove_prefix(std::strlen(root));
    while (relative.starts_with('/')) relative.remove_prefix(1);
  } else if (std::size_t slash = relative.rfind('/'); slash != std::string_view::npos) {
    relative.remove_prefix(slash + 1);
  }
  int folder = enterDotFolders(dotDir, relative, reason);
  if (folder < 0) return nullptr;
  FILE *file = openDotFileAt(folder, relative, suffix, reason);
  close(folder);
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

// IOutils: file-name tests, safe opens, and the files an instance writes.

#include "base/IOutils.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/AbnormalExit.h"

namespace {
constexpr int SITE_DOT_NAME = 52;
constexpr const char *NOT_REGULAR = REASON_NOT_REGULAR;

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
  if (!IOutils_hasDimacsExtension(path)) return REASON_NOT_DIMACS_NAME;
  int fd = IOutils_openInputFile(path);
  if (fd < 0) return std::strerror(errno);
  close(fd);
  return nullptr;
}

namespace {
const char *reasonFor(int error) {
  // A symbolic link refused (ELOOP), a FIFO without a reader (ENXIO) and a
  // directory are things that are not a regular file.
  return error == ELOOP || error == ENXIO || error == EISDIR ? NOT_REGULAR : std::strerror(error);
}

// IOutils_openRegularFile for a path relative to an open folder.
int openRegularFileAt(int folder, const char *path, int flags, const char **reason) {
  int fd = openat(folder, path, flags | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (reason) *reason = reasonFor(errno);
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

// A copy of the text with a terminating NUL, for the calls that want one.
char *terminated(std::string_view text, std::string_view suffix = {}) {
  auto *copy = static_cast<char *>(checkedMalloc(text.size() + suffix.size() + 1, SITE_DOT_NAME, "IOutils"));
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  if (!suffix.empty()) std::memcpy(copy + text.size(), suffix.data(), suffix.size());
  copy[text.size() + suffix.size()] = '\0';
  return copy;
}

// The folder for the relative path's last part: each folder before it entered
// below outDir (made when missing if create), never through a link. -1 with
// errno when one cannot be.
int enterFolders(const char *outDir, std::string_view &relative, bool create) {
  int folder = open(outDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (std::size_t slash; folder >= 0 && (slash = relative.find('/')) != std::string_view::npos;) {
    std::string_view part = relative.substr(0, slash);
    relative.remove_prefix(slash + 1);
    if (part.empty() || part == ".") continue;
    char *name = terminated(part);
    int inner = !create || mkdirat(folder, name, 0777) == 0 || errno == EEXIST
                    ? openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                    : -1;
    // A link where a folder should be is no folder to write into.
    int error = inner < 0 && errno == ELOOP ? ENOTDIR : errno;
    std::free(name);
    close(folder);
    folder = inner;
    errno = error;
  }
  return folder;
}

// The folder the files of an input go into (see OutputFile), opened, and in
// base the name they start with. -1 with errno when it cannot be opened.
int openTargetFolder(const char *inputPath, const char *outDir, const char *root, bool create, std::string_view &base) {
  std::string_view path(inputPath);
  std::size_t slash = path.rfind('/');
  if (!outDir) {
    base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (slash == std::string_view::npos) return open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    char *folderPath = terminated(slash == 0 ? std::string_view("/") : path.substr(0, slash));
    int folder = open(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::free(folderPath);
    return folder;
  }
  if (root) {
    path.remove_prefix(std::strlen(root));
    while (path.starts_with('/')) path.remove_prefix(1);
  } else if (slash != std::string_view::npos) {
    path.remove_prefix(slash + 1);
  }
  int folder = enterFolders(outDir, path, create);
  base = path;
  return folder;
}

// The temporary file of the process in a folder.
void temporaryName(char (&name)[40], long pid) { std::snprintf(name, sizeof name, ".tarnu-%ld.tmp", pid); }

} // namespace

int IOutils_openRegularFile(const char *path, int flags, const char **reason) {
  return openRegularFileAt(AT_FDCWD, path, flags, reason);
}

int IOutils_openInputFile(const char *path) { return IOutils_openRegularFile(path, O_RDONLY); }

int IOutils_openInputFileAt(int folder, const char *name) { return openRegularFileAt(folder, name, O_RDONLY, nullptr); }

int IOutils_flushStream(FILE *stream) {
  errno = 0;
  if (std::fflush(stream) == 0 && !std::ferror(stream)) return 0;
  return errno ? errno : EIO;
}

int IOutils_closeStream(FILE *stream) {
  int error = IOutils_flushStream(stream);
  errno = 0;
  if (std::fclose(stream) != 0 && !error) error = errno ? errno : EIO;
  return error;
}

OutputFile::OutputFile(const char *inputPath, const char *suffix, const char *outDir, const char *root) {
  std::string_view base;
  folder_ = openTargetFolder(inputPath, outDir, root, true, base);
  if (folder_ < 0) {
    reason_ = std::strerror(errno);
    return;
  }
  finalName_ = terminated(base, suffix);
  // What is under the final name now is replaced only if it is a regular
  // file this process may write (as if it were opened for writing).
  struct stat st;
  bool exists = fstatat(folder_, finalName_, &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    reason_ = NOT_REGULAR;
    return;
  }
  if (exists && faccessat(folder_, finalName_, W_OK, AT_EACCESS) != 0) {
    reason_ = std::strerror(errno);
    return;
  }
  temporaryName(temporaryName_, static_cast<long>(getpid()));
  unlinkat(folder_, temporaryName_, 0); // left by an earlier process of the same id
  int fd = openRegularFileAt(folder_, temporaryName_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, &reason_);
  if (fd < 0) {
    temporaryName_[0] = '\0';
    return;
  }
  // The old file's permissions, but never its setuid, setgid or sticky bit:
  // the new file belongs to this process's user, who may be another.
  if (exists) fchmod(fd, st.st_mode & 0777);
  sink_.fd = fd;
  file_ = fopencookie(&sink_, "w", cookie_io_functions_t{nullptr, writeToSink, nullptr, closeSink});
  if (!file_) {
    reason_ = std::strerror(errno);
    close(fd);
    discard();
  }
}

ssize_t OutputFile::writeToSink(void *sink, const char *data, std::size_t size) {
  auto *to = static_cast<Sink *>(sink);
  for (std::size_t done = 0; done < size;) {
    ssize_t n = write(to->fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (!to->error) to->error = n < 0 ? errno : EIO;
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(size);
}

int OutputFile::closeSink(void *sink) {
  auto *to = static_cast<Sink *>(sink);
  if (close(to->fd) != 0 && !to->error) to->error = errno;
  to->fd = -1;
  return to->error ? -1 : 0;
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  discard();
  if (folder_ >= 0) close(folder_);
  std::free(finalName_);
}

void OutputFile::discard() {
  if (temporaryName_[0]) unlinkat(folder_, temporaryName_, 0);
  temporaryName_[0] = '\0';
}

bool OutputFile::commit() {
  if (!file_) return false;
  int error = IOutils_closeStream(file_);
  file_ = nullptr;
  if (sink_.error) error = sink_.error; // the first failure says what went wrong
  if (!error && renameat(folder_, temporaryName_, folder_, finalName_) != 0) error = errno;
  if (error) {
    reason_ = reasonFor(error);
    discard();
    return false;
  }
  temporaryName_[0] = '\0';
  return true;
}

void IOutils_removeTemporaryFile(const char *inputPath, const char *outDir, const char *root, int child) {
  std::string_view base;
  int folder = openTargetFolder(inputPath, outDir, root, false, base);
  if (folder < 0) return;
  char name[40];
  temporaryName(name, child);
  unlinkat(folder, name, 0);
  close(folder);
}

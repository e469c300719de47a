// Walk: listing, probing and ordering a directory's instances.

#include "batch/Walk.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "base/IOutils.h"
#include "base/OutputTexts.h"
#include "batch/Progress.h"
#include "batch/Scheduler.h"
#include "qdimacs/Qdimacs.h"
#include "storage/AbnormalExit.h"
#include "storage/CheckedArray.h"

namespace {
constexpr const char *MODULE = "Qdimacs";
constexpr int SITE_TABLE = 448;
constexpr int SITE_PATH = 456;

struct FreeText {
  void operator()(char *text) const { std::free(text); }
};
using Text = std::unique_ptr<char, FreeText>;

Text joined(const char *a, const char *b = "", const char *c = "") {
  std::size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
  auto *text = static_cast<char *>(checkedMalloc(la + lb + lc + 1, SITE_PATH, MODULE));
  std::memcpy(text, a, la);
  std::memcpy(text + la, b, lb);
  std::memcpy(text + la + lb, c, lc + 1);
  return Text(text);
}

enum class EntryKind : unsigned char { Directory, File, Link, Special };

EntryKind kindOf(unsigned char type, int folder, const char *name) {
  if (type == DT_DIR) return EntryKind::Directory;
  if (type == DT_REG) return EntryKind::File;
  if (type == DT_LNK) return EntryKind::Link;
  if (type != DT_UNKNOWN) return EntryKind::Special;
  // File systems that report no type: ask, without following a link.
  struct stat st;
  if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Special;
  if (S_ISDIR(st.st_mode)) return EntryKind::Directory;
  if (S_ISREG(st.st_mode)) return EntryKind::File;
  return S_ISLNK(st.st_mode) ? EntryKind::Link : EntryKind::Special;
}

// An entry worth a look, in listing order: a directory or a regular file.
struct Entry {
  char *name;
  EntryKind kind;
};

// One file of the directory with what its probe found.
struct Instance {
  char *path;
  int size;
  double probeSeconds;
  bool probeTimedOut;
};

int instanceSizeComparison(const Instance &a, const Instance &b) {
  return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
}

const char *separatorAfter(const char *dirPath) {
  return dirPath[0] && dirPath[std::strlen(dirPath) - 1] == '/' ? "" : "/";
}

bool outOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

// Whether fd is the folder of st (the way back through ".." may lead
// elsewhere when the tree is moved meanwhile).
bool sameFolder(int fd, const struct stat &st) {
  struct stat now;
  return fd >= 0 && fstat(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}
// The folder's entries worth a look, in listing order, and the count of its
// QDIMACS files; links and special files with QDIMACS names are counted as
// skipped. False when the folder cannot be listed.
bool listFolder(int fd, CheckedArray<Entry> &entries, Tally &tally, long &files) {
  int listing = dup(fd); // the listing closes its own descriptor
  DIR *dir = listing < 0 ? nullptr : fdopendir(listing);
  if (!dir) {
    if (listing >= 0) close(listing);
    return false;
  }
  while (const dirent *entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    EntryKind kind = kindOf(entry->d_type, dirfd(dir), entry->d_name);
    bool dimacs = IOutils_hasDimacsExtension(entry->d_name);
    if (kind == EntryKind::Link || kind == EntryKind::Special) {
      // Only what would have been an instance is said to be skipped.
      if (dimacs) (kind == EntryKind::Link ? tally.links : tally.specialFiles)++;
      continue;
    }
    if (kind == EntryKind::File && dimacs) files++;
    entries.push(Entry{joined(entry->d_name).release(), kind});
  }
  closedir(dir);
  return true;
}

// The folder's instances to the scheduler, by ascending declared count
// (equal counts in listing order); returns how many this run takes.
int submitInOrder(Scheduler &scheduler, CheckedArray<Instance> &table, int folder, std::size_t nameAt) {
  std::stable_sort(table.data(), table.data() + table.size(),
                   [](const Instance &a, const Instance &b) { return instanceSizeComparison(a, b) < 0; });
  int count = 0;
  for (std::size_t i = 0; i < table.size(); i++) {
    Text path(table[i].path);
    if (!scheduler.takeNext()) continue;
    if (table[i].probeTimedOut)
      scheduler.submitTimedOut(path.get());
    else
      scheduler.submit(path.get(), table[i].probeSeconds, folder, nameAt);
    count++;
  }
  return count;
}
} // namespace

DirectoryWalk::DirectoryWalk(Scheduler &scheduler, const BatchSettings &settings)
    : scheduler_(scheduler), settings_(settings) {}

int DirectoryWalk::walk(const char *dirPath) {
  int fd = openFolder(AT_FDCWD, dirPath, dirPath, true);
  if (fd < 0) return 0;
  return walkFolder(fd, dirPath, nullptr);
}

// Opens a folder (a subfolder without following a link). Descriptors that
// run out are waited for while the scheduler holds some it will give back;
// a folder that cannot be opened is counted, and said when descriptors ran
// out for good.
int DirectoryWalk::openFolder(int parent, const char *name, const char *path, bool follow) {
  for (;;) {
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd >= 0) return fd;
    int error = errno;
    if (outOfDescriptors(error) && scheduler_.awaitRelease()) continue;
    if (outOfDescriptors(error)) scheduler_.sayOnStandardError(DIAGNOSTIC_PATH, path, error);
    scheduler_.tally().unreadableDirectories++;
    return -1;
  }
}

int DirectoryWalk::openInstance(int folder, const char *name) {
  for (;;) {
    int fd = IOutils_openInputFileAt(folder, name);
    if (fd >= 0 || !outOfDescriptors(errno) || !scheduler_.awaitRelease()) return fd;
  }
}

// The folder open as fd, which it closes; with back set, gives there its
// parent folder again, opened through "..": a walk holds one folder
// descriptor at a time however deep the tree, and no path is ever opened
// whole, so no path length limits it.
int DirectoryWalk::walkFolder(int fd, const std::string &dirPath, int *back) {
  CheckedArray<Entry> entries(SITE_TABLE, MODULE);
  Tally &tally = scheduler_.tally();
  long files = 0;
  struct stat here;
  if (fstat(fd, &here) != 0 || !listFolder(fd, entries, tally, files)) {
    tally.unreadableDirectories++;
    return leave(fd, back), 0;
  }
  scheduler_.noteFound(files);

  InputLimits limits;
  limits.memoryFailsTheFile = true;
  limits.decoderBytes =
      settings_.memoutMegabytes > 0 ? static_cast<std::uint64_t>(settings_.memoutMegabytes) << 20 : PROBE_DECODER_BYTES;
  double probeStarted = 0;
  limits.keepGoing = [&] {
    scheduler_.takeInEvents();
    return settings_.timeoutSeconds <= 0 || monotonicSeconds() - probeStarted < settings_.timeoutSeconds;
  };

  const std::string prefix = dirPath + separatorAfter(dirPath.c_str());
  CheckedArray<Instance> table(SITE_TABLE, MODULE);
  int count = 0;
  for (std::size_t i = 0; i < entries.size(); i++) {
    Text name(entries[i].name);
    Text full = joined(prefix.c_str(), name.get());
    if (entries[i].kind == EntryKind::Directory) {
      if (fd < 0) continue; // lost the way back: counted below
      int sub = openFolder(fd, name.get(), full.get(), false);
      if (sub < 0) continue;
      close(fd);
      int parent = -1;
      count += walkFolder(sub, full.get(), &parent);
      fd = sameFolder(parent, here) ? parent : -1;
      if (fd < 0) {
        if (parent >= 0) close(parent);
        tally.unreadableDirectories++;
      }
    } else if (fd >= 0 && IOutils_hasDimacsExtension(name.get())) {
      probeStarted = monotonicSeconds();
      bool abandoned = false;
      int file = openInstance(fd, name.get());
      int size = file < 0 ? 0 : Qdimacs_probeOpenFile(file, full.get(), limits, &abandoned);
      table.push(Instance{full.release(), abandoned ? 0 : size, monotonicSeconds() - probeStarted, abandoned});
    }
  }
  // Without the way back, the files probed before are opened by their paths.
  count += submitInOrder(scheduler_, table, fd >= 0 ? fd : AT_FDCWD, fd >= 0 ? prefix.size() : 0);
  leave(fd, back);
  return count;
}

// Closes the folder, after opening its parent into *back when asked.
void DirectoryWalk::leave(int fd, int *back) {
  if (back) *back = fd < 0 ? -1 : openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) close(fd);
}

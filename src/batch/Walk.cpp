// Walk: listing, probing and ordering a directory's instances.

#include "batch/Walk.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

#include "base/IOutils.h"
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
} // namespace

DirectoryWalk::DirectoryWalk(Scheduler &scheduler, const BatchSettings &settings)
    : scheduler_(scheduler), settings_(settings) {}

int DirectoryWalk::walk(const char *dirPath) {
  CheckedArray<Entry> entries(SITE_TABLE, MODULE);
  Tally &tally = scheduler_.tally();
  DIR *dir = opendir(dirPath);
  if (!dir) {
    tally.unreadableDirectories++;
    return 0;
  }
  const char *separator = separatorAfter(dirPath);
  long files = 0;
  while (const dirent *entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    EntryKind kind = kindOf(entry->d_type, dirfd(dir), entry->d_name);
    if (kind == EntryKind::Link || kind == EntryKind::Special) {
      (kind == EntryKind::Link ? tally.links : tally.specialFiles)++;
      continue;
    }
    if (kind == EntryKind::File && IOutils_hasDimacsExtension(entry->d_name)) files++;
    entries.push(Entry{joined(entry->d_name).release(), kind});
  }
  closedir(dir);
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

  CheckedArray<Instance> table(SITE_TABLE, MODULE);
  int count = 0;
  for (std::size_t i = 0; i < entries.size(); i++) {
    Text name(entries[i].name);
    Text full = joined(dirPath, separator, name.get());
    if (entries[i].kind == EntryKind::Directory) {
      count += walk(full.get());
    } else if (IOutils_hasDimacsExtension(name.get())) {
      probeStarted = monotonicSeconds();
      bool abandoned = false;
      int size = Qdimacs_probeInstanceSize(full.get(), limits, &abandoned);
      table.push(Instance{full.release(), abandoned ? 0 : size, monotonicSeconds() - probeStarted, abandoned});
    }
  }
  std::stable_sort(table.data(), table.data() + table.size(),
                   [](const Instance &a, const Instance &b) { return instanceSizeComparison(a, b) < 0; });
  for (std::size_t i = 0; i < table.size(); i++) {
    Text path(table[i].path);
    if (!scheduler_.takeNext()) continue;
    if (table[i].probeTimedOut)
      scheduler_.submitTimedOut(path.get());
    else
      scheduler_.submit(path.get(), table[i].probeSeconds);
    count++;
  }
  return count;
}

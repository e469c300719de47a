// Memory probes. The figures come from /proc on Linux (no shell, no child
// process: a probe costs microseconds); other platforms write no figures and
// the scans then find nothing, as for a probe command that failed.

#include "base/MemoryProbes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/IOutils.h"
#include "storage/AbnormalExit.h"

namespace {
constexpr const char *USED_MEMORY_FILE = "memUsage";
constexpr const char *FREE_MEMORY_FILE = "freeMem";
constexpr int PROBE_LINE = 1025;      // line buffer size of the scans
constexpr int PROBE_LINE_READ = 1024; // 1023 characters and the terminator
constexpr int SITE_USED_LINE_BUFFER = 72;
constexpr int SITE_FREE_LINE_BUFFER = 131;
constexpr double PAGE_BYTES = 4096.0;

FILE *openResultForReading(const char *name) {
  int fd = IOutils_openRegularFile(name, O_RDONLY | O_NOFOLLOW);
  if (fd < 0) return nullptr;
  FILE *f = fdopen(fd, "r");
  if (!f) close(fd);
  return f;
}

// Overwrites the file with the text. The file is cut to the text's length
// after writing, not emptied before: on ext4, emptying a file and writing it
// again makes its close wait for the data to reach the disk (milliseconds per
// probe, several probes per instance).
bool writeAll(int fd, const char *text) {
  const size_t length = std::strlen(text);
  size_t done = 0;
  while (done < length) {
    ssize_t n = pwrite(fd, text + done, length - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return ftruncate(fd, static_cast<off_t>(length)) == 0;
}

// Writes the figures of a probe; false when the result file could not be
// written safely.
bool writeResult(const char *name, const char *text) {
  int fd = IOutils_openRegularFile(name, O_WRONLY | O_CREAT | O_NOFOLLOW);
  if (fd < 0) return false;
  bool ok = writeAll(fd, text);
  close(fd);
  return ok;
}

#if defined(__linux__)
// Virtual and resident size of this process in kilobytes, as ps shows them.
bool readOwnSizes(unsigned long &vszKb, unsigned long &rssKb) {
  FILE *f = std::fopen("/proc/self/statm", "re");
  if (!f) return false;
  unsigned long sizePages = 0, residentPages = 0;
  int got = std::fscanf(f, "%lu %lu", &sizePages, &residentPages);
  std::fclose(f);
  if (got != 2) return false;
  unsigned long pageKb = static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) / 1024;
  vszKb = sizePages * pageKb;
  rssKb = residentPages * pageKb;
  return true;
}

// Free memory of the machine in pages of 4096 bytes.
bool readFreePages(unsigned long &pages) {
  FILE *f = std::fopen("/proc/meminfo", "re");
  if (!f) return false;
  char line[256];
  bool found = false;
  while (!found && std::fgets(line, sizeof line, f)) {
    unsigned long kb = 0;
    if (std::sscanf(line, "MemFree: %lu kB", &kb) == 1) {
      pages = kb / 4;
      found = true;
    }
  }
  std::fclose(f);
  return found;
}
#else
bool readOwnSizes(unsigned long &, unsigned long &) { return false; }
bool readFreePages(unsigned long &) { return false; }
#endif

// Rewrites "memUsage" as the ps command would; false if the file is unsafe.
bool probeUsedMemory() {
  unsigned long vszKb = 0, rssKb = 0;
  char text[128] = "   VSZ   RSS\n";
  if (readOwnSizes(vszKb, rssKb)) std::snprintf(text, sizeof text, "   VSZ   RSS\n%6lu %5lu\n", vszKb, rssKb);
  return writeResult(USED_MEMORY_FILE, text);
}

// Rewrites "freeMem" in the vm_stat form; false if the file is unsafe.
bool probeFreeMemory() {
  unsigned long pages = 0;
  char text[160] = "";
  if (readFreePages(pages))
    std::snprintf(text, sizeof text, "Memory Statistics: (page size of 4096 bytes)\nPages free: %lu.\n", pages);
  return writeResult(FREE_MEMORY_FILE, text);
}

bool fillsLine(const char *line) { return std::strlen(line) == PROBE_LINE_READ - 1; }

// The read-back scans of the result files. The sizes are scanned as long:
// a virtual size in kilobytes can exceed an int (the sanitizers reserve
// terabytes of address space).
double scanUsedMemoryFile(const char *path) {
  long vszKb = 0, rssKb = 0;
  FILE *f = openResultForReading(path);
  if (f) {
    char *line = static_cast<char *>(checkedMalloc(PROBE_LINE, SITE_USED_LINE_BUFFER, "Memory"));
    if (std::fgets(line, PROBE_LINE_READ, f) && !fillsLine(line) && std::fgets(line, PROBE_LINE_READ, f) &&
        !fillsLine(line))
      std::sscanf(line, "%li %li", &vszKb, &rssKb);
    std::free(line);
    std::fclose(f);
  }
  return rssKb / 1024.0;
}

double scanFreeMemoryFile(const char *path) {
  long pages = -1;
  FILE *f = openResultForReading(path);
  if (f) {
    char *line = static_cast<char *>(checkedMalloc(PROBE_LINE, SITE_FREE_LINE_BUFFER, "Memory"));
    while (std::fgets(line, PROBE_LINE_READ, f) && !fillsLine(line)) {
      if (pages == -1) std::sscanf(line, "Pages free: %ld", &pages);
    }
    std::free(line);
    std::fclose(f);
  }
  return static_cast<double>(pages - 1) * PAGE_BYTES / 1048576.0;
}
} // namespace

double Memory_getUsedMemory() {
  if (!probeUsedMemory()) return 0.0;
  return scanUsedMemoryFile(USED_MEMORY_FILE);
}

double Memory_getFreeMemory() {
  if (!probeFreeMemory()) return (-1 - 1) * PAGE_BYTES / 1048576.0;
  return scanFreeMemoryFile(FREE_MEMORY_FILE);
}

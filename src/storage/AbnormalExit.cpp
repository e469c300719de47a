// AbnormalExit: the fixed failure message, the exit, and checked allocation.

#include "storage/AbnormalExit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace {
// The process's exit path has no object to belong to.
AbnormalExitHook hook = nullptr;

// operator new has no site of its own: its failures are reported as the
// memory module's, at a site number kept for it.
constexpr int SITE_OPERATOR_NEW = 160;

void newHandler() { abnormalExit(ERR_NO_MEMORY, SITE_OPERATOR_NEW, "Memory"); }

// Large blocks are mostly touched first by the program: in huge pages, a
// first touch costs one fault per 2 MiB instead of one per 4 KiB (a fifth of
// the run time on large files went into those faults). The advice covers
// the block's whole pages.
constexpr std::size_t LARGE_BLOCK = std::size_t{2} << 20;
constexpr std::uintptr_t PAGE = 4096;

void *adviseHugePages(void *block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (block && bytes >= LARGE_BLOCK) {
    auto begin = reinterpret_cast<std::uintptr_t>(block) & ~(PAGE - 1);
    auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes + PAGE - 1) & ~(PAGE - 1);
    madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
  }
#else
  (void)bytes;
#endif
  return block;
}
} // namespace

void AbnormalExit_setHook(AbnormalExitHook h) { hook = h; }

void abnormalExit(const char *text, int site, const char *module) {
  auto piece = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); };
  piece(ABNORMAL_EXIT_START);
  std::fputs(text, stdout);
  piece(ABNORMAL_EXIT_LINE);
  std::printf("%i", site);
  piece(ABNORMAL_EXIT_FILE);
  std::fputs(module, stdout);
  piece(ABNORMAL_EXIT_END);
  std::fflush(stdout);
  if (hook) hook(text, site, module);
  std::exit(-1);
}

void *checkedMalloc(std::size_t bytes, int site, const char *module) {
  void *p = std::malloc(bytes ? bytes : 1);
  if (!p) abnormalExit(ERR_NO_MEMORY, site, module);
  return adviseHugePages(p, bytes);
}

void *fallibleRealloc(void *block, std::size_t bytes) {
  return adviseHugePages(std::realloc(block, bytes ? bytes : 1), bytes);
}

void AbnormalExit_installNewHandler() { std::set_new_handler(newHandler); }

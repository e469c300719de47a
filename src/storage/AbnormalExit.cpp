// AbnormalExit: the fixed failure message, the exit, and checked allocation.

#include "storage/AbnormalExit.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {
AbnormalExitHook hook = nullptr;

// operator new has no site of its own: its failures are reported as the
// memory module's, at a site number kept for it.
constexpr int SITE_OPERATOR_NEW = 160;

void newHandler() { abnormalExit(ERR_NO_MEMORY, SITE_OPERATOR_NEW, "Memory"); }
} // namespace

void AbnormalExit_setHook(AbnormalExitHook h) { hook = h; }

void abnormalExit(const char *text, int site, const char *module) {
  std::printf("[Abnormal exit due to error \"%s\" at line %i, file \"%s\"]\n", text, site, module);
  std::fflush(stdout);
  if (hook) hook(text, site, module);
  std::exit(-1);
}

void *checkedMalloc(std::size_t bytes, int site, const char *module) {
  void *p = std::malloc(bytes ? bytes : 1);
  if (!p) abnormalExit(ERR_NO_MEMORY, site, module);
  return p;
}

void *checkedRealloc(void *block, std::size_t bytes, int site, const char *module) {
  void *p = std::realloc(block, bytes ? bytes : 1);
  if (!p) abnormalExit(ERR_NO_MEMORY, site, module);
  return p;
}

void AbnormalExit_installNewHandler() { std::set_new_handler(newHandler); }

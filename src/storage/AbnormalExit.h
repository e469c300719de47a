#pragma once
// AbnormalExit: the one way a run ends on a failure that no caller can handle.
// It prints "[Abnormal exit due to error "<text>" at line <site>, file "<module>"]"
// on standard output and ends the process with exit status -1. Site numbers are
// fixed per failing site (named constants next to each caller), never __LINE__,
// because they are part of the output. Every allocation of the program goes
// through the checked functions below, so lack of memory always ends here.

#include <cstddef>
#include <string_view>

constexpr const char *ERR_NO_MEMORY = "Cannot allocate memory";

[[noreturn]] void abnormalExit(const char *text, int site, const char *module);
// The message around the text, the site and the module (tarnu-table reads it
// back; base/OutputTexts.h names every other text of the output).
inline constexpr std::string_view ABNORMAL_EXIT_START = "[Abnormal exit due to error \"";
inline constexpr std::string_view ABNORMAL_EXIT_LINE = "\" at line ";
inline constexpr std::string_view ABNORMAL_EXIT_FILE = ", file \"";
inline constexpr std::string_view ABNORMAL_EXIT_END = "\"]\n";

// A hook replaces the process exit (the fuzzing harness throws from it to get
// back to its loop). It must not return; if it does, the process exits anyway.
using AbnormalExitHook = void (*)(const char *text, int site, const char *module);
void AbnormalExit_setHook(AbnormalExitHook hook);

// malloc that never returns null: a failure is an abnormal exit with
// ERR_NO_MEMORY at the given site of the given module.
void *checkedMalloc(std::size_t bytes, int site, const char *module);
// realloc with the same advice for large blocks as checkedMalloc; null, and
// the block as it was, on failure (CheckedArray turns that into the abnormal
// exit for callers that cannot do without the memory).
void *fallibleRealloc(void *block, std::size_t bytes);

// Sends a failing operator new (std containers included) to the abnormal exit
// instead of an uncaught std::bad_alloc, which would abort the process.
void AbnormalExit_installNewHandler();

// Options: command-line parsing, help and version texts, and the settings.

#include "run/Options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "base/IOutils.h"
#include "base/RunStatus.h"

namespace {
int Options_dumpTree = 0;
int Options_dumpDetailedTree = 0;
int Options_compressedTarnuEnabled = 1;
int Options_qbfReasoningEnabled = 0;
std::string Options_dirName;
bool Options_hasDirName = false;
BatchSettings Options_batch;
std::string Options_dotDir;
const char *Options_qdimacsStrategy = nullptr;
int Options_qcir = 0;

enum class Effect { Tree, Clauses, Linear, Pre, Qcir, Version };

struct Option {
  const char *text;
  Effect effect;
};

// Scanned in this order; an argument matches only the whole option text.
constexpr std::array<Option, 6> OPTIONS{{
    {"-tree", Effect::Tree},
    {"-clauses", Effect::Clauses},
    {"-linear", Effect::Linear},
    {"-pre", Effect::Pre},
    {"-qcir", Effect::Qcir},
    {"-version", Effect::Version},
}};

// The options with a value, "-NAME=VALUE": a value outside its form makes
// the whole argument an unknown option.
constexpr const char *TIMEOUT = "-timeout=", *MEMOUT = "-memout=", *JOBS = "-jobs=", *DOTDIR = "-dotdir=",
                     *OUTDIR = "-outdir=", *QDIMACS = "-qdimacs=", *SHARD = "-shard=";
constexpr std::array<const char *, 3> STRATEGIES{"keep", "up", "down"};
constexpr double MAX_TIMEOUT = 604800; // a week
constexpr long MAX_MEMOUT = 1048576;   // a terabyte, in megabytes
constexpr long MAX_JOBS = 1024;
constexpr long MAX_SHARDS = 100000;

// A whole number from 1 to max written in decimal digits only, or 0.
long wholeNumber(const char *text, long max) {
  long value = 0;
  for (const char *p = text; *p; p++) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + (*p - '0');
    if (value > max) return 0;
  }
  return value;
}

// Seconds: digits with an optional fraction, above 0 and at most a week; or 0.
double seconds(const char *text) {
  const char *p = text;
  while (*p >= '0' && *p <= '9') p++;
  if (p == text) return 0;
  if (*p == '.') {
    const char *fraction = ++p;
    while (*p >= '0' && *p <= '9') p++;
    if (p == fraction) return 0;
  }
  if (*p) return 0;
  double value = std::strtod(text, nullptr);
  return value > 0 && value <= MAX_TIMEOUT ? value : 0;
}

// "K/N" with 1 <= K <= N <= MAX_SHARDS, each whole and decimal; false for
// anything else.
bool shardOf(const char *text, int &shard, int &shards) {
  const char *slash = std::strchr(text, '/');
  if (!slash || slash - text > 6) return false;
  char first[8] = "";
  std::memcpy(first, text, static_cast<std::size_t>(slash - text));
  long k = wholeNumber(first, MAX_SHARDS), n = wholeNumber(slash + 1, MAX_SHARDS);
  if (k == 0 || n == 0 || k > n) return false;
  shard = static_cast<int>(k);
  shards = static_cast<int>(n);
  return true;
}

const char *valueOf(const char *arg, const char *option) {
  return std::strncmp(arg, option, std::strlen(option)) == 0 ? arg + std::strlen(option) : nullptr;
}

enum class Scan { Taken, Unknown, BadDotDir };

// Takes a "-NAME=VALUE" option into the batch settings.
Scan takeValueOption(const char *arg) {
  if (const char *value = valueOf(arg, TIMEOUT)) {
    double limit = seconds(value);
    if (limit == 0) return Scan::Unknown;
    Options_batch.timeoutSeconds = limit;
  } else if (const char *value = valueOf(arg, MEMOUT)) {
    long limit = wholeNumber(value, MAX_MEMOUT);
    if (limit == 0) return Scan::Unknown;
    Options_batch.memoutMegabytes = limit;
  } else if (const char *value = valueOf(arg, JOBS)) {
    long jobs = wholeNumber(value, MAX_JOBS);
    if (jobs == 0) return Scan::Unknown;
    Options_batch.jobs = static_cast<int>(jobs);
  } else if (const char *value = valueOf(arg, SHARD)) {
    if (!shardOf(value, Options_batch.shard, Options_batch.shards)) return Scan::Unknown;
  } else if (const char *value = valueOf(arg, QDIMACS)) {
    const char *const *strategy = std::find_if(STRATEGIES.begin(), STRATEGIES.end(),
                                               [&](const char *name) { return std::strcmp(name, value) == 0; });
    if (strategy == STRATEGIES.end()) return Scan::Unknown;
    Options_qdimacsStrategy = *strategy;
  } else if (const char *value = valueOf(arg, DOTDIR) ? valueOf(arg, DOTDIR) : valueOf(arg, OUTDIR)) {
    if (!*value) return Scan::Unknown;
    struct stat st;
    const char *why = stat(value, &st) != 0 ? std::strerror(errno)
                      : S_ISDIR(st.st_mode) ? nullptr
                                            : IOUTILS_NOT_DIRECTORY;
    if (why) {
      std::fprintf(stderr, "tarnu: %s: %s\n", value, why);
      return Scan::BadDotDir;
    }
    Options_dotDir = value;
  } else {
    return Scan::Unknown;
  }
  return Scan::Taken;
}

constexpr const char *RULE = "--------------------------------------------------------";

// Applies a recognised option; returns false for "-version", which ends the scan.
bool apply(Effect effect) {
  switch (effect) {
  case Effect::Tree: Options_dumpTree = 1; break;
  case Effect::Clauses:
    Options_dumpDetailedTree = 1;
    Options_dumpTree = 1;
    break;
  case Effect::Linear: Options_compressedTarnuEnabled = 0; break;
  case Effect::Pre: Options_qbfReasoningEnabled = 1; break;
  case Effect::Qcir: Options_qcir = 1; break;
  case Effect::Version: return false;
  }
  return true;
}
} // namespace

void printBanner() { std::printf("Tarnu v0.1 (revision 80, compiled %s)", __DATE__); }

namespace {
void printVersion() {
  std::printf("%s\n", RULE);
  std::printf("This is ");
  printBanner();
  std::printf("\n");
  std::printf("Copyright (c) 2026 the Tarnu developers.\n");
  std::printf("Tarnu is free software: you may use, copy, modify and redistribute it.\n");
  std::printf("It comes with ABSOLUTELY NO WARRANTY, to the extent permitted by law.\n");
  std::printf("%s\n", RULE);
}
} // namespace

void printHelp() {
  std::printf("This is ");
  printBanner();
  std::printf("\n\n");
  static const char *const lines[] = {
      "What is it:",
      "  This program takes a QDIMACS 1.1 file as input (representing a prenex CNF",
      "  Quantified Boolean Formula), and constructs a quantifier tree for it.",
      "  By default, a few measurements over such tree are printed on screen.\n",
      "Usage:\n  \"Tarnu [OPTS] (FILE|DIR)\", where you have to provide:\n",
      " [1] An optional list of space-separated options OPTS, among the followings:\n",
      "  -tree,    to dump to file a DOT representation of the quantifier tree.",
      "            House-shaped leaves report the number of attached clauses.",
      "  -clauses, to attach a detailed clause list to the leaves.",
      "  -linear,  to avoid collapsing linear branches into single multi-labeled nodes.",
      "  -pre,     to apply unit clause propagation and pure literal elimination",
      "            up to the fixpoint before reconstructing the tree.",
      "  -version, to print version and copyrights.",
      "  -timeout=SECONDS,   to stop an instance after that wall-clock time.",
      "  -memout=MEGABYTES,  to limit the memory (address space) of an instance.",
      "  -jobs=N,            to run up to N instances of a directory at once;",
      "                      the output is the same as with one at a time.",
      "  -shard=K/N,         to run only the K-th of N shares of a directory: the",
      "                      instances at walk positions K, K+N, K+2N, ..., numbered",
      "                      as in the whole run.",
      "  -qdimacs=STRATEGY,  to write the tree as prenex QDIMACS, by keep, up or down.",
      "  -qcir,              to write the tree as non-prenex QCIR.",
      "  -outdir=DIR,        to write those files under DIR, not beside the input.",
      "  -dotdir=DIR,        the same.",
      "\n [2] A mandatory DIR or FILE path:\n",
      "  FILE,   the full name (possibly with a path) of a QDIMACS file.",
      "          It may be compressed: .gz, .xz, .lzma, .bz2 or .zst after the name.",
      "  DIR,    the root of a directory subtree which is to be recursively visited.",
      "          Each QDIMACS file encountered during the visit is processed.\n",
      "Contact:",
      "  Bug reports and questions: the Tarnu developers, through the project's",
      "  issue tracker. Please attach the QDIMACS file and the command line.",
  };
  for (const char *line : lines) std::printf("%s\n", line);
  std::printf("\n");
}

int Options_parseCommandLine(int argc, char **argv) {
  if (argc <= 1) {
    printHelp();
    return EXIT_EARLY_STOP;
  }
  int result = 0;
  bool error = false;
  bool pathSeen = false;
  for (int i = 1; i < argc && !error; i++) {
    const char *arg = argv[i];
    if (arg[0] != '-') {
      if (pathSeen) {
        error = true;
        std::fprintf(stderr, "tarnu: second path '%s'\n", arg);
      } else {
        bool isFile = IOutils_isDimacsFile(arg) != 0;
        if (!isFile && !IOutils_isDirectory(arg)) {
          const char *reason = IOutils_whyNotProcessed(arg);
          std::fprintf(stderr, "tarnu: %s: %s\n", arg, reason ? reason : "cannot be read");
          return EXIT_IO_ERROR;
        }
        if (i < argc - 2) {
          error = true;
          std::fprintf(stderr, "tarnu: unexpected argument '%s'\n", argv[i + 1]);
        } else {
          Options_dirName = arg;
          Options_hasDirName = true;
          VEXT_setMode(isFile ? MODE_FILE : MODE_DIRECTORY);
          pathSeen = true;
        }
      }
    } else if (pathSeen) {
      std::fprintf(stderr, "tarnu: '%s' after the path is ignored\n", arg);
    } else {
      const Option *match = nullptr;
      for (const Option &option : OPTIONS)
        if (std::strcmp(arg, option.text) == 0) {
          match = &option;
          break;
        }
      Scan scan = match ? Scan::Taken : takeValueOption(arg);
      if (scan == Scan::BadDotDir) return EXIT_IO_ERROR;
      if (scan == Scan::Unknown) {
        error = true;
        std::fprintf(stderr, "tarnu: unknown option '%s'\n", arg);
      } else if (match && !apply(match->effect)) {
        printVersion();
        return EXIT_EARLY_STOP;
      }
    }
  }
  if (error) result = EXIT_CMDLINE_ERROR;
  if (error || !pathSeen) printHelp();
  std::fflush(stdout);
  return result;
}

int Options_getDumpTreeEnabled() { return Options_dumpTree; }
int Options_getDumpDetailedTreeEnabled() { return Options_dumpDetailedTree; }
int Options_getCompressedTarnuEnabled() { return Options_compressedTarnuEnabled; }
int Options_getQbfReasoningEnabled() { return Options_qbfReasoningEnabled; }
const char *Options_getDirName() { return Options_hasDirName ? Options_dirName.c_str() : nullptr; }
const BatchSettings &Options_getBatchSettings() { return Options_batch; }
const char *Options_getDotDir() { return Options_dotDir.empty() ? nullptr : Options_dotDir.c_str(); }
const char *Options_getQdimacsStrategy() { return Options_qdimacsStrategy; }
int Options_getQcirEnabled() { return Options_qcir; }

void Options_setFormulaFiles(const char *qdimacsStrategy, int qcir) {
  Options_qdimacsStrategy = qdimacsStrategy;
  Options_qcir = qcir;
}

void Options_set(int dumpTree, int dumpDetailedTree, int compressed, int qbfReasoning) {
  Options_dumpTree = dumpTree;
  Options_dumpDetailedTree = dumpDetailedTree;
  Options_compressedTarnuEnabled = compressed;
  Options_qbfReasoningEnabled = qbfReasoning;
}

void Options_reset() {
  Options_set(0, 0, 1, 0);
  Options_dirName.clear();
  Options_hasDirName = false;
  Options_batch = BatchSettings{};
  Options_dotDir.clear();
  Options_setFormulaFiles(nullptr, 0);
}

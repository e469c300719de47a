// Options: command-line parsing, help and version texts, and the settings.

#include "run/Options.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "base/IOutils.h"
#include "base/RunStatus.h"

namespace {
// The settings, written by the command line only, before any instance child
// exists, and read through the getters: one record for the process.
struct Settings {
  int dumpTree = 0;
  int dumpDetailedTree = 0;
  int compressedTarnuEnabled = 1;
  int qbfReasoningEnabled = 0;
  int qcir = 0;
  bool features = false;
  const QdimacsStrategy *qdimacs = nullptr;
  std::optional<std::string> dirName;
  std::string dotDir;
  BatchSettings batch;
};
Settings Options_settings;

constexpr std::array<QdimacsStrategy, 3> STRATEGIES{{
    {"keep", "Keep", Prenexing::Keep},
    {"up", "Up", Prenexing::Up},
    {"down", "Down", Prenexing::Down},
}};
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

// What taking an option's value gave: taken, a value outside its form (the
// argument is then an unknown option), or a folder that is not one, which
// ends the run at once (it was said on standard error).
enum class Take { Taken, BadValue, BadFolder };

Take taken(bool ok) { return ok ? Take::Taken : Take::BadValue; }

Take takeTimeout(const char *value) {
  double limit = seconds(value);
  if (limit) Options_settings.batch.timeoutSeconds = limit;
  return taken(limit != 0);
}

Take takeMemout(const char *value) {
  long limit = wholeNumber(value, MAX_MEMOUT);
  if (limit) Options_settings.batch.memoutMegabytes = limit;
  return taken(limit != 0);
}

Take takeJobs(const char *value) {
  long jobs = wholeNumber(value, MAX_JOBS);
  if (jobs) Options_settings.batch.jobs = static_cast<int>(jobs);
  return taken(jobs != 0);
}

// "K/N" with 1 <= K <= N <= MAX_SHARDS, each whole and decimal.
Take takeShard(const char *value) {
  const char *slash = std::strchr(value, '/');
  if (!slash || slash - value > 6) return Take::BadValue;
  char first[8] = "";
  std::memcpy(first, value, static_cast<std::size_t>(slash - value));
  long k = wholeNumber(first, MAX_SHARDS), n = wholeNumber(slash + 1, MAX_SHARDS);
  if (k == 0 || n == 0 || k > n) return Take::BadValue;
  Options_settings.batch.shard = static_cast<int>(k);
  Options_settings.batch.shards = static_cast<int>(n);
  return Take::Taken;
}

Take takeStrategy(const char *value) {
  for (const QdimacsStrategy &strategy : STRATEGIES)
    if (std::strcmp(strategy.option, value) == 0) {
      Options_settings.qdimacs = &strategy;
      return Take::Taken;
    }
  return Take::BadValue;
}

Take takeFolder(const char *value) {
  if (!*value) return Take::BadValue;
  struct stat st;
  const char *why = stat(value, &st) != 0 ? std::strerror(errno) : S_ISDIR(st.st_mode) ? nullptr : REASON_NOT_DIRECTORY;
  if (why) {
    std::fprintf(stderr, DIAGNOSTIC_PATH, value, why);
    return Take::BadFolder;
  }
  Options_settings.dotDir = value;
  return Take::Taken;
}

// What a flag does; "-version" ends the scan (it stops the run).
enum class Flag { Tree, Clauses, Linear, Pre, Qcir, Features, Version };

void apply(Flag flag) {
  Settings &s = Options_settings;
  switch (flag) {
  case Flag::Tree: s.dumpTree = 1; break;
  case Flag::Clauses: s.dumpTree = s.dumpDetailedTree = 1; break;
  case Flag::Linear: s.compressedTarnuEnabled = 0; break;
  case Flag::Pre: s.qbfReasoningEnabled = 1; break;
  case Flag::Qcir: s.qcir = 1; break;
  case Flag::Features: s.features = true; break;
  case Flag::Version: break;
  }
}

// Every option once: a flag is its whole text; an option with a value is
// "TEXT=VALUE", one argument, and a value outside its form makes the whole
// argument an unknown option. Given twice, the last value holds. The help
// lists them in this order: the name, then the lines of its help (each
// line break starts a line at the same column).
enum class Kind { Flag, Number, Word };
struct Option {
  const char *text;
  Kind kind;
  Flag flag;                       // a flag's effect
  Take (*take)(const char *value); // a value's parser and effect
  const char *name;                // as the help shows it
  int column;                      // where its help text begins
  const char *help;
};
constexpr int CLASSIC = 12, BATCH = 22;
constexpr Option OPTIONS[] = {
    {"-tree", Kind::Flag, Flag::Tree, nullptr, "-tree", CLASSIC,
     "to dump to file a DOT representation of the quantifier tree.\n"
     "House-shaped leaves report the number of attached clauses."},
    {"-clauses", Kind::Flag, Flag::Clauses, nullptr, "-clauses", CLASSIC,
     "to attach a detailed clause list to the leaves."},
    {"-linear", Kind::Flag, Flag::Linear, nullptr, "-linear", CLASSIC,
     "to avoid collapsing linear branches into single multi-labeled nodes."},
    {"-pre", Kind::Flag, Flag::Pre, nullptr, "-pre", CLASSIC,
     "to apply unit clause propagation and pure literal elimination\n"
     "up to the fixpoint before reconstructing the tree."},
    {"-version", Kind::Flag, Flag::Version, nullptr, "-version", CLASSIC, "to print version and copyrights."},
    {"-timeout",
     Kind::Number,
     {},
     takeTimeout,
     "-timeout=SECONDS",
     BATCH,
     "to stop an instance after that wall-clock time."},
    {"-memout",
     Kind::Number,
     {},
     takeMemout,
     "-memout=MEGABYTES",
     BATCH,
     "to limit the memory (address space) of an instance."},
    {"-jobs",
     Kind::Number,
     {},
     takeJobs,
     "-jobs=N",
     BATCH,
     "to run up to N instances of a directory at once;\n"
     "the output is the same as with one at a time."},
    {"-shard",
     Kind::Number,
     {},
     takeShard,
     "-shard=K/N",
     BATCH,
     "to run only the K-th of N shares of a directory: the\n"
     "instances at walk positions K, K+N, K+2N, ..., numbered\n"
     "as in the whole run."},
    {"-qdimacs",
     Kind::Word,
     {},
     takeStrategy,
     "-qdimacs=STRATEGY",
     BATCH,
     "to write the tree as prenex QDIMACS, by keep, up or down."},
    {"-qcir", Kind::Flag, Flag::Qcir, nullptr, "-qcir", BATCH, "to write the tree as non-prenex QCIR."},
    {"-outdir",
     Kind::Word,
     {},
     takeFolder,
     "-outdir=DIR",
     BATCH,
     "to write those files under DIR, not beside the input."},
    {"-dotdir", Kind::Word, {}, takeFolder, "-dotdir=DIR", BATCH, "the same."},
    {"-features", Kind::Flag, Flag::Features, nullptr, "-features", BATCH,
     "to print the 46 standard instance features of algorithm\n"
     "selection after the formula summary."},
};

// The option the argument names, and in value its value (null for a flag);
// null when it names none.
const Option *optionOf(const char *arg, const char *&value) {
  for (const Option &option : OPTIONS) {
    std::size_t length = std::strlen(option.text);
    if (std::strncmp(arg, option.text, length) != 0) continue;
    if (option.kind == Kind::Flag && arg[length] == '\0') {
      value = nullptr;
      return &option;
    }
    if (option.kind != Kind::Flag && arg[length] == '=') {
      value = arg + length + 1;
      return &option;
    }
  }
  return nullptr;
}

void printOptionHelp(const Option &option) {
  // "  NAME," then the text from the column on.
  int width = std::printf("  %s,", option.name);
  for (const char *line = option.help;;) {
    const char *end = std::strchr(line, '\n');
    std::printf("%*s%.*s\n", option.column > width ? option.column - width : 1, "",
                static_cast<int>(end ? end - line : std::strlen(line)), line);
    if (!end) break;
    line = end + 1;
    width = 0;
  }
}

constexpr const char *RULE = "--------------------------------------------------------";
} // namespace

void printBanner() { std::printf(BANNER_FORMAT, __DATE__); }

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
  static const char *const before[] = {
      "What is it:",
      "  This program takes a QDIMACS 1.1 file as input (representing a prenex CNF",
      "  Quantified Boolean Formula), and constructs a quantifier tree for it.",
      "  By default, a few measurements over such tree are printed on screen.\n",
      "Usage:\n  \"Tarnu [OPTS] (FILE|DIR)\", where you have to provide:\n",
      " [1] An optional list of space-separated options OPTS, among the followings:\n",
  };
  static const char *const after[] = {
      "\n [2] A mandatory DIR or FILE path:\n",
      "  FILE,   the full name (possibly with a path) of a QDIMACS file.",
      "          It may be compressed: .gz, .xz, .lzma, .bz2 or .zst after the name.",
      "  DIR,    the root of a directory subtree which is to be recursively visited.",
      "          Each QDIMACS file encountered during the visit is processed.\n",
      "Contact:",
      "  Bug reports and questions: the Tarnu developers, through the project's",
      "  issue tracker. Please attach the QDIMACS file and the command line.",
  };
  for (const char *line : before) std::printf("%s\n", line);
  for (const Option &option : OPTIONS) printOptionHelp(option);
  for (const char *line : after) std::printf("%s\n", line);
  std::printf("\n");
}

namespace {
// What one argument does to the scan: it goes on, it was an error (the help
// follows), or the run ends at once with the exit value.
enum class Scan { Next, Error, End };

// The path argument at argv[i]; exitValue for a path that is not processed.
Scan takePath(int argc, char **argv, int i, int &exitValue) {
  const char *arg = argv[i];
  bool isFile = IOutils_isDimacsFile(arg) != 0;
  if (!isFile && !IOutils_isDirectory(arg)) {
    const char *reason = IOutils_whyNotProcessed(arg);
    std::fprintf(stderr, DIAGNOSTIC_PATH, arg, reason ? reason : REASON_UNREADABLE);
    exitValue = EXIT_IO_ERROR;
    return Scan::End;
  }
  if (i < argc - 2) {
    std::fprintf(stderr, DIAGNOSTIC_UNEXPECTED_ARGUMENT, argv[i + 1]);
    return Scan::Error;
  }
  Options_settings.dirName = arg;
  VEXT_setMode(isFile ? MODE_FILE : MODE_DIRECTORY);
  return Scan::Next;
}

Scan takeOption(const char *arg, int &exitValue) {
  const char *value = nullptr;
  const Option *option = optionOf(arg, value);
  Take take = !option ? Take::BadValue : option->take ? option->take(value) : Take::Taken;
  if (take == Take::BadFolder) {
    exitValue = EXIT_IO_ERROR;
    return Scan::End;
  }
  if (take == Take::BadValue) {
    std::fprintf(stderr, DIAGNOSTIC_UNKNOWN_OPTION, arg);
    return Scan::Error;
  }
  if (option->kind == Kind::Flag && option->flag == Flag::Version) {
    printVersion();
    exitValue = EXIT_EARLY_STOP;
    return Scan::End;
  }
  if (option->kind == Kind::Flag) apply(option->flag);
  return Scan::Next;
}
} // namespace

int Options_parseCommandLine(int argc, char **argv) {
  if (argc <= 1) {
    printHelp();
    return EXIT_EARLY_STOP;
  }
  Scan scan = Scan::Next;
  int exitValue = 0;
  bool pathSeen = false;
  for (int i = 1; i < argc && scan == Scan::Next; i++) {
    const char *arg = argv[i];
    if (arg[0] != '-' && pathSeen) {
      std::fprintf(stderr, DIAGNOSTIC_SECOND_PATH, arg);
      scan = Scan::Error;
    } else if (arg[0] != '-') {
      scan = takePath(argc, argv, i, exitValue);
      pathSeen = scan == Scan::Next;
    } else if (pathSeen) {
      std::fprintf(stderr, DIAGNOSTIC_AFTER_PATH, arg);
    } else {
      scan = takeOption(arg, exitValue);
    }
  }
  if (scan == Scan::End) return exitValue;
  if (scan == Scan::Error || !pathSeen) printHelp();
  std::fflush(stdout);
  return scan == Scan::Error ? EXIT_CMDLINE_ERROR : 0;
}

int Options_getDumpTreeEnabled() { return Options_settings.dumpTree; }
int Options_getDumpDetailedTreeEnabled() { return Options_settings.dumpDetailedTree; }
int Options_getCompressedTarnuEnabled() { return Options_settings.compressedTarnuEnabled; }
int Options_getQbfReasoningEnabled() { return Options_settings.qbfReasoningEnabled; }
const char *Options_getDirName() { return Options_settings.dirName ? Options_settings.dirName->c_str() : nullptr; }
const BatchSettings &Options_getBatchSettings() { return Options_settings.batch; }
const char *Options_getDotDir() { return Options_settings.dotDir.empty() ? nullptr : Options_settings.dotDir.c_str(); }
const QdimacsStrategy *Options_getQdimacsStrategy() { return Options_settings.qdimacs; }
int Options_getQcirEnabled() { return Options_settings.qcir; }
bool Options_getFeaturesEnabled() { return Options_settings.features; }

void Options_setFormulaFiles(const char *qdimacsStrategy, int qcir) {
  Options_settings.qdimacs = nullptr;
  if (qdimacsStrategy) takeStrategy(qdimacsStrategy);
  Options_settings.qcir = qcir;
}

void Options_set(int dumpTree, int dumpDetailedTree, int compressed, int qbfReasoning) {
  Settings &s = Options_settings;
  s.dumpTree = dumpTree;
  s.dumpDetailedTree = dumpDetailedTree;
  s.compressedTarnuEnabled = compressed;
  s.qbfReasoningEnabled = qbfReasoning;
}

void Options_reset() { Options_settings = Settings{}; }

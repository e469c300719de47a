// tarnu-table: turns the console output of a Tarnu run into a CSV table, one
// row per instance. Reads the file named on the command line, or standard
// input; writes the table on standard output and the items it could not read
// on standard error. With --shards=N the runs read are the N shares of one
// walk (-shard=K/N), joined into the table of one run; with --aslib=DIR the
// rows of runs made with -features become the feature files of an ASlib
// scenario in DIR instead of the table.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "table/Aslib.h"
#include "table/Csv.h"
#include "table/TarnuOutput.h"

namespace {
constexpr int EXIT_ALL_READ = 0;
constexpr int EXIT_SOME_UNREADABLE = 1;
constexpr int EXIT_FAILURE_TO_RUN = 2;
constexpr long MAX_SHARDS = 100000; // as tarnu's -shard takes them

void printUsage(std::FILE *to) {
  std::fputs("Usage: tarnu-table [--shards=N] [--aslib=DIR [--ids=path]] [FILE...]\n"
             "Reads the console output of Tarnu runs from the FILEs, one after the other\n"
             "(each holding one run or several), or from standard input when there is no\n"
             "FILE or FILE is \"-\", and writes one CSV row per instance on standard output.\n"
             "Lines of Tarnu's standard error in the input are left out.\n"
             "Items that cannot be read are reported on standard error; their rows say\n"
             "\"unreadable\".\n"
             "--shards=N: the runs are the N shares of one walk (tarnu -shard=K/N), in any\n"
             "order; they are joined into the rows of one run, ordered by number. A number\n"
             "that no share holds, or that two hold, is reported.\n"
             "--aslib=DIR: from runs made with tarnu -features, write the feature part of an\n"
             "ASlib scenario into DIR (feature_values.arff, feature_runstatus.arff,\n"
             "feature_costs.arff, description.txt) instead of the table. Instances are\n"
             "named by their file name without .qdimacs/.qcnf and compression suffixes;\n"
             "two of one name are an error, unless --ids=path names them by their paths.\n"
             "Exit status: 0 every item read, 1 some item unreadable or a run cut short,\n"
             "2 no Tarnu run in an input or an error.\n",
             to);
}

// N of "--shards=N", or 0 when the argument is not that option or N is
// outside 1 .. MAX_SHARDS.
long shardsOption(std::string_view arg) {
  constexpr std::string_view OPTION = "--shards=";
  if (!arg.starts_with(OPTION) || arg.size() == OPTION.size()) return 0;
  long n = 0;
  for (char c : arg.substr(OPTION.size())) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
    if (n > MAX_SHARDS) return 0;
  }
  return n;
}

// The rows of the shares of one walk as the rows of one run: ordered by
// number, every number from 1 to the largest held once. A number that no
// share holds gets an unreadable row, one that several hold keeps all its
// rows; both are problems.
void joinShares(std::vector<TableRow> &rows, std::vector<std::string> &problems) {
  auto number = [](const TableRow &row) { return std::stoll(row[COL_NUMBER]); };
  std::stable_sort(rows.begin(), rows.end(),
                   [&](const TableRow &a, const TableRow &b) { return number(a) < number(b); });
  std::vector<TableRow> joined;
  long long expected = 1;
  for (TableRow &row : rows) {
    long long n = number(row);
    for (; expected < n; expected++) {
      problems.push_back("item " + std::to_string(expected) + ": unreadable: no share holds an item with this number");
      TableRow missing;
      missing[COL_NUMBER] = std::to_string(expected);
      missing[COL_OUTCOME] = "unreadable";
      joined.push_back(std::move(missing));
    }
    if (n < expected) problems.push_back("item " + std::to_string(n) + ": more than one share holds it");
    expected = std::max(expected, n + 1);
    joined.push_back(std::move(row));
    joined.back()[COL_RUN].assign(1, '1');
  }
  rows = std::move(joined);
}

bool readAll(std::FILE *in, std::string &text) {
  char chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, n);
  return !std::ferror(in);
}

// The command line: the inputs, and how their runs are taken.
struct Arguments {
  std::vector<const char *> names;
  long shards = 0;   // 0: the runs are runs of their own
  std::string aslib; // the scenario's folder, or empty for the table
  AslibIds ids = AslibIds::FileName;
};

// The arguments, or the exit status of a command line that ends at once.
int parseArguments(int argc, char **argv, Arguments &args) {
  for (int i = 1; i < argc; i++) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      printUsage(stdout);
      return EXIT_ALL_READ;
    }
    if (long n = shardsOption(arg)) {
      args.shards = n;
      continue;
    }
    if (arg.starts_with("--aslib=") && arg.size() > 8) {
      args.aslib = arg.substr(8);
      continue;
    }
    if (arg == "--ids=path") {
      args.ids = AslibIds::Path;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      printUsage(stderr);
      return EXIT_FAILURE_TO_RUN;
    }
    args.names.push_back(argv[i]);
  }
  if (args.names.empty()) args.names.push_back("-");
  return -1;
}

// The rows of every input, the runs numbered across them, and what could
// not be read.
struct Rows {
  std::vector<TableRow> rows;
  std::size_t runs = 0;
  bool unreadable = false, noRun = false;
  bool features = false; // some run has the features block: their columns too
};

// Reads one input into the rows; false when it cannot be opened or read
// (said on standard error).
bool readInput(const char *name, const Arguments &args, Rows &all) {
  bool fromStdin = std::string_view(name) == "-";
  const char *what = fromStdin ? "standard input" : name;
  std::FILE *in = fromStdin ? stdin : std::fopen(name, "rb");
  if (!in) {
    std::fprintf(stderr, "tarnu-table: cannot open %s: %s\n", name, std::strerror(errno));
    return false;
  }
  std::string text;
  bool ok = readAll(in, text);
  int saved = errno;
  if (!fromStdin) std::fclose(in);
  if (!ok) {
    std::fprintf(stderr, "tarnu-table: cannot read %s: %s\n", what, std::strerror(saved));
    return false;
  }
  TarnuTable table = TarnuOutput_read(text, args.shards ? static_cast<int>(args.shards) : 1);
  for (TableRow &row : table.rows) {
    if (!args.shards) row[COL_RUN] = std::to_string(all.runs + std::stoul(row[COL_RUN]));
    all.rows.push_back(std::move(row));
  }
  if (!table.runFound) {
    std::fprintf(stderr, "tarnu-table: no Tarnu run in %s (it does not begin with the version banner)\n",
                 args.names.size() > 1 ? what : "the input");
    all.noRun = true;
  }
  for (const std::string &line : table.problems)
    if (args.names.size() > 1)
      std::fprintf(stderr, "tarnu-table: %s: %s\n", what, line.c_str());
    else
      std::fprintf(stderr, "tarnu-table: %s\n", line.c_str());
  all.unreadable = all.unreadable || table.unreadable > 0 || table.cutShort;
  all.features = all.features || table.features;
  all.runs += table.runs;
  return true;
}

// The shares of one walk as one run (--shards).
void joinShareRows(const Arguments &args, Rows &all) {
  std::vector<std::string> problems;
  if (all.runs != static_cast<std::size_t>(args.shards) && !all.noRun)
    problems.push_back(std::to_string(all.runs) + (all.runs == 1 ? " run" : " runs") + " given for " +
                       std::to_string(args.shards) + " shares of a walk");
  joinShares(all.rows, problems);
  for (const std::string &line : problems) std::fprintf(stderr, "tarnu-table: %s\n", line.c_str());
  all.unreadable = all.unreadable || !problems.empty();
}

bool writeTable(const Rows &all) {
  const std::size_t columns = all.features ? TABLE_COLUMNS : BASE_COLUMNS;
  std::string out;
  Csv_appendRecord(out, std::span(TABLE_COLUMN_NAMES.data(), columns));
  for (const TableRow &row : all.rows) Csv_appendRecord(out, std::span(row.data(), columns));
  if (std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0) return true;
  std::fprintf(stderr, "tarnu-table: cannot write the table: %s\n", std::strerror(errno));
  return false;
}
} // namespace

int main(int argc, char **argv) {
  Arguments args;
  if (int stop = parseArguments(argc, argv, args); stop >= 0) return stop;
  Rows all;
  for (const char *name : args.names)
    if (!readInput(name, args, all)) return EXIT_FAILURE_TO_RUN;
  if (args.shards) joinShareRows(args, all);
  if (!args.aslib.empty()) {
    if (Aslib_write(args.aslib, all.rows, args.ids) != 0) return EXIT_FAILURE_TO_RUN;
  } else if (!writeTable(all)) {
    return EXIT_FAILURE_TO_RUN;
  }
  if (all.noRun) return EXIT_FAILURE_TO_RUN;
  return all.unreadable ? EXIT_SOME_UNREADABLE : EXIT_ALL_READ;
}

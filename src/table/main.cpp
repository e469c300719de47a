// tarnu-table: turns the console output of a Tarnu run into a CSV table, one
// row per instance. Reads the file named on the command line, or standard
// input; writes the table on standard output and the items it could not read
// on standard error. With --shards=N the runs read are the N shares of one
// walk (-shard=K/N), joined into the table of one run.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "table/Csv.h"
#include "table/TarnuOutput.h"

namespace {
constexpr int EXIT_ALL_READ = 0;
constexpr int EXIT_SOME_UNREADABLE = 1;
constexpr int EXIT_FAILURE_TO_RUN = 2;
constexpr long MAX_SHARDS = 100000; // as tarnu's -shard takes them

void printUsage(std::FILE *to) {
  std::fputs("Usage: tarnu-table [--shards=N] [FILE...]\n"
             "Reads the console output of Tarnu runs from the FILEs, one after the other\n"
             "(each holding one run or several), or from standard input when there is no\n"
             "FILE or FILE is \"-\", and writes one CSV row per instance on standard output.\n"
             "Lines of Tarnu's standard error in the input are left out.\n"
             "Items that cannot be read are reported on standard error; their rows say\n"
             "\"unreadable\".\n"
             "--shards=N: the runs are the N shares of one walk (tarnu -shard=K/N), in any\n"
             "order; they are joined into the rows of one run, ordered by number. A number\n"
             "that no share holds, or that two hold, is reported.\n"
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
} // namespace

int main(int argc, char **argv) {
  std::vector<const char *> names;
  long shards = 0; // 0: the runs are runs of their own
  for (int i = 1; i < argc; i++) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      printUsage(stdout);
      return EXIT_ALL_READ;
    }
    if (long n = shardsOption(arg)) {
      shards = n;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      printUsage(stderr);
      return EXIT_FAILURE_TO_RUN;
    }
    names.push_back(argv[i]);
  }
  if (names.empty()) names.push_back("-");

  // Each input is read as it is; the runs are numbered across all of them.
  std::string out;
  Csv_appendRecord(out, TABLE_COLUMN_NAMES);
  bool unreadable = false, noRun = false;
  std::size_t runs = 0;
  std::vector<TableRow> shareRows; // with --shards: every share's rows, joined at the end
  for (const char *name : names) {
    bool fromStdin = std::string_view(name) == "-";
    std::string text;
    std::FILE *in = fromStdin ? stdin : std::fopen(name, "rb");
    if (!in) {
      std::fprintf(stderr, "tarnu-table: cannot open %s: %s\n", name, std::strerror(errno));
      return EXIT_FAILURE_TO_RUN;
    }
    bool ok = readAll(in, text);
    int saved = errno;
    if (!fromStdin) std::fclose(in);
    if (!ok) {
      std::fprintf(stderr, "tarnu-table: cannot read %s: %s\n", fromStdin ? "standard input" : name,
                   std::strerror(saved));
      return EXIT_FAILURE_TO_RUN;
    }
    TarnuTable table = TarnuOutput_read(text, shards ? static_cast<int>(shards) : 1);
    for (TableRow &row : table.rows) {
      if (shards) {
        shareRows.push_back(std::move(row));
        continue;
      }
      row[COL_RUN] = std::to_string(runs + std::stoul(row[COL_RUN]));
      Csv_appendRecord(out, row);
    }
    const char *what = fromStdin ? "standard input" : name;
    if (!table.runFound) {
      std::fprintf(stderr, "tarnu-table: no Tarnu run in %s (it does not begin with the version banner)\n",
                   names.size() > 1 ? what : "the input");
      noRun = true;
    }
    for (const std::string &line : table.problems)
      if (names.size() > 1)
        std::fprintf(stderr, "tarnu-table: %s: %s\n", what, line.c_str());
      else
        std::fprintf(stderr, "tarnu-table: %s\n", line.c_str());
    unreadable = unreadable || table.unreadable > 0 || table.cutShort;
    runs += table.runs;
  }
  if (shards) {
    std::vector<std::string> problems;
    if (runs != static_cast<std::size_t>(shards) && !noRun)
      problems.push_back(std::to_string(runs) + (runs == 1 ? " run" : " runs") + " given for " +
                         std::to_string(shards) + " shares of a walk");
    joinShares(shareRows, problems);
    for (const TableRow &row : shareRows) Csv_appendRecord(out, row);
    for (const std::string &line : problems) std::fprintf(stderr, "tarnu-table: %s\n", line.c_str());
    unreadable = unreadable || !problems.empty();
  }
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "tarnu-table: cannot write the table: %s\n", std::strerror(errno));
    return EXIT_FAILURE_TO_RUN;
  }
  if (noRun) return EXIT_FAILURE_TO_RUN;
  return unreadable ? EXIT_SOME_UNREADABLE : EXIT_ALL_READ;
}

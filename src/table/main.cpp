// tarnu-table: turns the console output of a Tarnu run into a CSV table, one
// row per instance. Reads the file named on the command line, or standard
// input; writes the table on standard output and the items it could not read
// on standard error.

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

void printUsage(std::FILE *to) {
  std::fputs("Usage: tarnu-table [FILE...]\n"
             "Reads the console output of Tarnu runs from the FILEs, one after the other\n"
             "(each holding one run or several), or from standard input when there is no\n"
             "FILE or FILE is \"-\", and writes one CSV row per instance on standard output.\n"
             "Lines of Tarnu's standard error in the input are left out.\n"
             "Items that cannot be read are reported on standard error; their rows say\n"
             "\"unreadable\".\n"
             "Exit status: 0 every item read, 1 some item unreadable or a run cut short,\n"
             "2 no Tarnu run in an input or an error.\n",
             to);
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
  for (int i = 1; i < argc; i++) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      printUsage(stdout);
      return EXIT_ALL_READ;
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
    TarnuTable table = TarnuOutput_read(text);
    for (TableRow &row : table.rows) {
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
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "tarnu-table: cannot write the table: %s\n", std::strerror(errno));
    return EXIT_FAILURE_TO_RUN;
  }
  if (noRun) return EXIT_FAILURE_TO_RUN;
  return unreadable ? EXIT_SOME_UNREADABLE : EXIT_ALL_READ;
}

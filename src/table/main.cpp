// tarnu-table: turns the console output of a Tarnu run into a CSV table, one
// row per instance. Reads the file named on the command line, or standard
// input; writes the table on standard output and the items it could not read
// on standard error.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "table/Csv.h"
#include "table/TarnuOutput.h"

namespace {
constexpr int EXIT_ALL_READ = 0;
constexpr int EXIT_SOME_UNREADABLE = 1;
constexpr int EXIT_FAILURE_TO_RUN = 2;

void printUsage(std::FILE *to) {
  std::fputs("Usage: tarnu-table [FILE]\n"
             "Reads the console output of a Tarnu run (or of several runs, one after the\n"
             "other) from FILE, or from standard input when FILE is \"-\" or absent, and\n"
             "writes one CSV row per instance on standard output.\n"
             "Items that cannot be read are reported on standard error; their rows say\n"
             "\"unreadable\".\n"
             "Exit status: 0 every item read, 1 some item unreadable or a run cut short,\n"
             "2 no Tarnu run in the input or an error.\n",
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
  const char *name = nullptr;
  for (int i = 1; i < argc; i++) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      printUsage(stdout);
      return EXIT_ALL_READ;
    }
    if ((arg.size() > 1 && arg[0] == '-') || name) {
      printUsage(stderr);
      return EXIT_FAILURE_TO_RUN;
    }
    name = argv[i];
  }

  std::string text;
  bool fromStdin = !name || std::string_view(name) == "-";
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
  std::string out;
  Csv_appendRecord(out, TABLE_COLUMN_NAMES);
  for (const TableRow &row : table.rows) Csv_appendRecord(out, row);
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "tarnu-table: cannot write the table: %s\n", std::strerror(errno));
    return EXIT_FAILURE_TO_RUN;
  }

  if (!table.runFound) {
    std::fputs("tarnu-table: no Tarnu run in the input (it does not begin with the version banner)\n", stderr);
    return EXIT_FAILURE_TO_RUN;
  }
  for (const std::string &line : table.problems) std::fprintf(stderr, "tarnu-table: %s\n", line.c_str());
  return table.unreadable > 0 || table.cutShort ? EXIT_SOME_UNREADABLE : EXIT_ALL_READ;
}

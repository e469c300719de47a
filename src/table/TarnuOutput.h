#pragma once
// TarnuOutput: reads the console output of one Tarnu run (a single file or a
// whole directory) into one table row per instance, and says which instances
// could not be read. The reader never guesses: an item it cannot read, or
// that the text allows to read in more than one way, gets the outcome
// "unreadable" and a line in the problems.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum TableColumn {
  COL_RUN,
  COL_NUMBER,
  COL_PATH,
  COL_VARIABLES,
  COL_FORALL,
  COL_EXISTS,
  COL_ALTERNATIONS,
  COL_CLAUSES,
  COL_GROWING_TIME_MS,
  COL_COMPONENTS,
  COL_D_COMPONENTS,
  COL_DEPTH,
  COL_EXISTS_NODES,
  COL_FORALL_NODES,
  COL_BRANCHES,
  COL_DELTA_MAX,
  COL_DELTA_AVG,
  COL_TREE_ALTERNATIONS,
  COL_OUTCOME,
  COL_DETAIL,
  COL_ERROR_LINE,
  COL_ERROR_MODULE,
  COL_DOT_NOT_WRITTEN,
  COL_QDIMACS_NOT_WRITTEN,
  COL_QCIR_NOT_WRITTEN,
  COL_SECONDS,
  // With -features: the 46 features, in ASlib's order, and their time.
  COL_FEATURES,
  COL_FEATURE_TIME_MS = COL_FEATURES + 46,
  TABLE_COLUMNS
};
// The columns of a table whose runs have no features.
constexpr int BASE_COLUMNS = COL_SECONDS + 1;

// The header row: stable column names, in the order of TableColumn (the
// features named as in ASlib).
extern const std::array<const char *, TABLE_COLUMNS> TABLE_COLUMN_NAMES;

// One instance. Every field holds text exactly as Tarnu printed it; a field
// is empty when the item does not show it in full.
using TableRow = std::array<std::string, TABLE_COLUMNS>;

struct TarnuTable {
  bool runFound = false;             // a version banner was found
  bool cutShort = false;             // the text stops before a run's closing line break
  bool features = false;             // an item shows the features block (-features)
  std::size_t runs = 0;              // runs read
  std::size_t unreadable = 0;        // rows whose outcome is "unreadable"
  std::vector<TableRow> rows;        // run by run, one per instance number from 1
  std::vector<std::string> problems; // one line each, without line break
};

// Reads a whole capture of Tarnu's standard output: one run, or several runs
// one after the other (each begins with its banner at the start of a line,
// right after the closing line break of the run before). Lines of Tarnu's
// standard error in the capture (2>&1) are left out. With shards above 1,
// each run is one share of a walk run with -shard=K/shards: its items are
// numbered K, K + shards, ..., and only those numbers are looked for.
TarnuTable TarnuOutput_read(std::string_view text, int shards = 1);

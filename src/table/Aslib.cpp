// Aslib: the scenario's files from the table's rows. Every instance (a row
// with a path) is one row of each ARFF file, repetition 1; a value a step did
// not produce is "?".

#include "table/Aslib.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "base/OutputTexts.h"

namespace {
constexpr std::string_view COMPRESSION_SUFFIXES[] = {".gz", ".xz", ".lzma", ".bz2", ".zst"};
constexpr std::string_view DIMACS_SUFFIXES[] = {".qdimacs", ".qcnf"};

// The tree step's features: the tree summary's measures, by their columns.
struct TreeFeature {
  const char *name;
  int column;
};
constexpr TreeFeature TREE_FEATURES[] = {{"components", COL_COMPONENTS},
                                         {"d_components", COL_D_COMPONENTS},
                                         {"depth", COL_DEPTH},
                                         {"exists_nodes", COL_EXISTS_NODES},
                                         {"forall_nodes", COL_FORALL_NODES},
                                         {"branches", COL_BRANCHES},
                                         {"delta_max", COL_DELTA_MAX},
                                         {"delta_avg", COL_DELTA_AVG},
                                         {"tree_alternations", COL_TREE_ALTERNATIONS}};
// tree_alternations, the last, only when a run wrote formula files.
constexpr std::size_t TREE_FEATURES_WITHOUT_FILES = 8;
constexpr const char *STATUSES = "{ok, timeout, memout, presolved, crash, other}";

bool hasFeatures(const TableRow &row) { return !row[COL_FEATURE_TIME_MS].empty(); }
bool hasTree(const TableRow &row) { return !row[COL_DELTA_AVG].empty(); }

// A number as ARFF takes it: "?" for none (an average of no node is "nan").
std::string number(const std::string &text) { return text.empty() || text == "nan" ? "?" : text; }

// Milliseconds as seconds, exactly.
std::string seconds(const std::string &ms) {
  if (ms.empty()) return "?";
  long long value = std::stoll(ms);
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", value / 1000, value % 1000);
  return text;
}

// A string as ARFF takes it: bare when it is made of safe characters, else
// between single quotes with backslash escapes.
std::string arffString(std::string_view text) {
  auto safe = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::strchr("._+-/", c);
  };
  bool bare = !text.empty();
  for (char c : text) bare = bare && safe(c);
  if (bare) return std::string(text);
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\\' || c == '\'') quoted += '\\';
    if (c == '\n' || c == '\r' || c == '\t')
      quoted += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    else
      quoted += c;
  }
  return quoted + "'";
}

// How a step that produced nothing ended, from how the instance ended.
const char *failure(const TableRow &row) {
  const std::string &outcome = row[COL_OUTCOME];
  if (outcome == "timeout" || outcome == "memout" || outcome == "crash") return outcome.c_str();
  return "other"; // a parse error, no problem line, another abnormal exit
}

const char *baseStatus(const TableRow &row) { return hasFeatures(row) ? "ok" : failure(row); }

// The tree step of an instance decided before its tree is presolved: forall
// reduction or a universal pure literal ended it, or the formula files it
// wrote are a constant.
const char *treeStatus(const TableRow &row) {
  if (row[COL_DETAIL] == ERR_UNSAT_FAR || row[COL_DETAIL] == ERR_UNSAT_PLE) return "presolved";
  if (hasTree(row)) return row[COL_TREE_ALTERNATIONS] == "-1" ? "presolved" : "ok";
  return failure(row);
}

struct Instance {
  std::string id;
  const TableRow *row;
};

std::string header(const char *relation, const std::vector<std::string> &attributes) {
  std::string text = std::string("@RELATION ") + relation + "\n\n";
  for (const std::string &attribute : attributes) text += "@ATTRIBUTE " + attribute + "\n";
  return text + "\n@DATA\n";
}

std::string featureValues(const std::vector<Instance> &instances, std::size_t treeFeatures) {
  std::vector<std::string> attributes = {"instance_id STRING", "repetition NUMERIC"};
  for (std::string_view name : FEATURE_NAMES) attributes.push_back(std::string(name) + " NUMERIC");
  for (std::size_t i = 0; i < treeFeatures; i++) attributes.push_back(std::string(TREE_FEATURES[i].name) + " NUMERIC");
  std::string text = header("FEATURE_VALUES", attributes);
  for (const Instance &instance : instances) {
    text += arffString(instance.id) + ",1";
    for (std::size_t i = 0; i < FEATURE_NAMES.size(); i++)
      text.append(",").append(number((*instance.row)[COL_FEATURES + i]));
    for (std::size_t i = 0; i < treeFeatures; i++)
      text.append(",").append(number((*instance.row)[TREE_FEATURES[i].column]));
    text += "\n";
  }
  return text;
}

std::string runStatus(const std::vector<Instance> &instances) {
  std::string text = header("FEATURE_RUNSTATUS", {"instance_id STRING", "repetition NUMERIC",
                                                  std::string("base ") + STATUSES, std::string("tree ") + STATUSES});
  for (const Instance &instance : instances)
    text += arffString(instance.id) + ",1," + baseStatus(*instance.row) + "," + treeStatus(*instance.row) + "\n";
  return text;
}

std::string costs(const std::vector<Instance> &instances) {
  std::string text =
      header("FEATURE_COSTS", {"instance_id STRING", "repetition NUMERIC", "base NUMERIC", "tree NUMERIC"});
  for (const Instance &instance : instances)
    text += arffString(instance.id) + ",1," + seconds((*instance.row)[COL_FEATURE_TIME_MS]) + "," +
            seconds((*instance.row)[COL_GROWING_TIME_MS]) + "\n";
  return text;
}

std::string description(std::size_t treeFeatures) {
  auto list = [](std::string &text, const char *indent, auto names) {
    for (const auto &name : names) text += std::string(indent) + "- " + std::string(name) + "\n";
  };
  std::vector<std::string> tree;
  for (std::size_t i = 0; i < treeFeatures; i++) tree.push_back(TREE_FEATURES[i].name);
  std::string text = "# The feature part of an ASlib scenario, written by tarnu-table. With the\n"
                     "# algorithms' runs (algorithm_runs.arff) and the other keys of this file\n"
                     "# (scenario_id, performance_measures, ...) it is a whole scenario.\n"
                     "number_of_feature_steps: 2\n"
                     "feature_steps:\n"
                     "  base:\n"
                     "    provides:\n";
  list(text, "      ", FEATURE_NAMES);
  text += "  tree:\n    provides:\n";
  list(text, "      ", tree);
  text += "features_deterministic:\n";
  list(text, "  ", FEATURE_NAMES);
  list(text, "  ", tree);
  text += "features_stochastic: []\n"
          "default_steps:\n"
          "  - base\n"
          "  - tree\n";
  return text;
}

// Writes every file under a temporary name first, then gives each its name,
// so that a failure leaves none of them half written.
bool writeAll(const std::string &folder, const std::vector<std::pair<const char *, std::string>> &files) {
  if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "tarnu-table: %s: %s\n", folder.c_str(), std::strerror(errno));
    return false;
  }
  std::vector<std::string> temporary;
  bool ok = true;
  for (const auto &[name, text] : files) {
    std::string path = folder + "/." + name + ".tarnu-table-" + std::to_string(getpid()) + ".tmp";
    std::FILE *file = std::fopen(path.c_str(), "wbx");
    if (file) temporary.push_back(path);
    bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file && std::fclose(file) != 0) written = false;
    if (!written) {
      std::fprintf(stderr, "tarnu-table: %s/%s: %s\n", folder.c_str(), name, std::strerror(errno ? errno : EIO));
      ok = false;
      break;
    }
  }
  for (std::size_t i = 0; ok && i < files.size(); i++)
    if (std::rename(temporary[i].c_str(), (folder + "/" + files[i].first).c_str()) != 0) {
      std::fprintf(stderr, "tarnu-table: %s/%s: %s\n", folder.c_str(), files[i].first, std::strerror(errno));
      ok = false;
    }
  for (const std::string &path : temporary) std::remove(path.c_str());
  return ok;
}
} // namespace

std::string Aslib_instanceId(const std::string &path, AslibIds ids) {
  if (ids == AslibIds::Path) return path;
  std::string_view id = path;
  if (std::size_t slash = id.rfind('/'); slash != std::string_view::npos) id.remove_prefix(slash + 1);
  for (std::string_view suffix : COMPRESSION_SUFFIXES)
    if (id.ends_with(suffix)) {
      id.remove_suffix(suffix.size());
      break;
    }
  for (std::string_view suffix : DIMACS_SUFFIXES)
    if (id.ends_with(suffix)) {
      id.remove_suffix(suffix.size());
      break;
    }
  return std::string(id);
}

int Aslib_write(const std::string &folder, const std::vector<TableRow> &rows, AslibIds ids) {
  std::vector<Instance> instances;
  std::map<std::string, const std::string *> pathOf;
  bool features = false, formulaFiles = false;
  for (const TableRow &row : rows) {
    if (row[COL_PATH].empty()) continue; // unreadable: said already
    std::string id = Aslib_instanceId(row[COL_PATH], ids);
    auto [earlier, fresh] = pathOf.emplace(id, &row[COL_PATH]);
    if (!fresh) {
      std::fprintf(stderr, "tarnu-table: %s and %s have the same instance id '%s'%s\n", earlier->second->c_str(),
                   row[COL_PATH].c_str(), id.c_str(), ids == AslibIds::Path ? "" : " (--ids=path names them by path)");
      return 2;
    }
    features = features || hasFeatures(row);
    formulaFiles = formulaFiles || !row[COL_TREE_ALTERNATIONS].empty();
    instances.push_back({std::move(id), &row});
  }
  if (!features) {
    std::fprintf(stderr, "tarnu-table: no item in the input has the features block (tarnu -features prints it)\n");
    return 2;
  }
  const std::size_t treeFeatures = formulaFiles ? std::size(TREE_FEATURES) : TREE_FEATURES_WITHOUT_FILES;
  bool ok = writeAll(folder, {{"feature_values.arff", featureValues(instances, treeFeatures)},
                              {"feature_runstatus.arff", runStatus(instances)},
                              {"feature_costs.arff", costs(instances)},
                              {"description.txt", description(treeFeatures)}});
  return ok ? 0 : 2;
}

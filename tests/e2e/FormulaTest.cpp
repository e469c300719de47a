// The tree written as a formula, judged from outside: DepQBF's answer on
// every written QDIMACS form equals its answer on the input; a strict reader
// and a brute-force evaluator of QCIR agree with it; the prefix of up has the
// fewest blocks any prenex form of the tree can have (found by search over
// the quantifier tree read back from the QCIR file), down as many, keep no
// more than the input. Generated formulas and the real instances.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <unordered_map>

#include "Support.h"

namespace {
namespace fs = std::filesystem;

// DepQBF's exit value: 10 true, 20 false (anything else: no answer).
int solve(const std::string &path) {
  if (!path.ends_with(".xz")) return test::run("/usr/bin/depqbf", {path}).status;
  return test::run("/bin/sh", {"-c", "xz -dc '" + path + "' | depqbf"}).status;
}

int quantifierBlocks(const std::string &qdimacs) {
  std::istringstream in(test::readFile(qdimacs));
  int blocks = 0;
  char previous = 0;
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("e ") || line.starts_with("a ")) {
      EXPECT_NE(line[0], previous) << qdimacs << ": two blocks of one quantifier in a row";
      blocks++, previous = line[0];
    }
  return blocks;
}

// A QCIR file read strictly: one header, one output, every gate defined once
// and before use and used once at least, every variable quantified once and
// used only below its quantifier. The gates are kept for small files only.
struct Gate {
  std::string kind; // and, or, exists, forall
  std::vector<long> vars;
  std::vector<long> inputs; // gates by number, or the literals of an "or"
};
struct Qcir {
  std::vector<Gate> gates; // by number
  long output = -1;
  std::size_t variables = 0;

  explicit Qcir(const std::string &path) { read(path); }
  void read(const std::string &path) {
    std::istringstream in(test::readFile(path));
    const bool keep = fs::file_size(path) < 100000;
    std::string line;
    EXPECT_TRUE(std::getline(in, line) && line == "#QCIR-G14") << path;
    std::unordered_map<long, int> bound;
    std::vector<int> uses; // by gate number; -1: not defined
    auto gate = [&](const std::string &name) {
      EXPECT_TRUE(name.size() > 1 && name[0] == 'g') << path << ": " << name;
      return std::stol(name.substr(1));
    };
    auto numbers = [](const std::string &list, bool gates) {
      std::vector<long> out;
      for (std::size_t at = 0; at < list.size(); at = list.find(", ", at) + 2) {
        out.push_back(std::stol(list.substr(at + (gates ? 1 : 0))));
        if (list.find(", ", at) == std::string::npos) break;
      }
      return out;
    };
    while (std::getline(in, line)) {
      if (line.starts_with("#")) continue;
      if (line.starts_with("output(")) {
        EXPECT_EQ(output, -1) << path << ": second output";
        output = gate(line.substr(7, line.size() - 8));
        continue;
      }
      std::size_t eq = line.find(" = "), open = line.find('('), semi = line.find("; ");
      ASSERT_TRUE(eq != std::string::npos && open != std::string::npos && line.back() == ')') << line;
      std::size_t name = static_cast<std::size_t>(gate(line.substr(0, eq)));
      if (uses.size() <= name) uses.resize(name + 1, -1);
      ASSERT_EQ(uses[name], -1) << path << ": defined twice: " << line;
      Gate g{line.substr(eq + 3, open - eq - 3), {}, {}};
      if (semi != std::string::npos) {
        g.vars = numbers(line.substr(open + 1, semi - open - 1), false);
        for (long v : g.vars) EXPECT_EQ(++bound[v], 1) << path << ": " << v << " quantified twice";
        g.inputs = {gate(line.substr(semi + 2, line.size() - semi - 3))};
      } else {
        g.inputs = numbers(line.substr(open + 1, line.size() - open - 2), g.kind != "or");
      }
      for (long input : g.kind == "or" ? std::vector<long>{} : g.inputs) {
        bool defined = static_cast<std::size_t>(input) < uses.size() && uses[static_cast<std::size_t>(input)] >= 0;
        EXPECT_TRUE(defined) << path << ": g" << input << " used before its definition";
        if (defined) uses[static_cast<std::size_t>(input)]++;
      }
      uses[name] = 0;
      if (keep) {
        if (gates.size() <= name) gates.resize(name + 1);
        gates[name] = g;
      }
    }
    ASSERT_TRUE(output >= 0 && static_cast<std::size_t>(output) < uses.size()) << path << ": no output gate";
    uses[static_cast<std::size_t>(output)]++;
    for (std::size_t g = 0; g < uses.size(); g++) EXPECT_NE(uses[g], 0) << path << ": g" << g << " unused";
    variables = bound.size();
  }

  // The truth value, by trying every assignment below each quantifier.
  bool evaluate() {
    std::map<long, bool> value;
    std::function<bool(long)> eval = [&](long name) -> bool {
      const Gate &g = gates.at(static_cast<std::size_t>(name));
      if (g.kind == "or") {
        for (long lit : g.inputs) {
          EXPECT_TRUE(value.count(std::labs(lit))) << lit << " used outside its quantifier";
          if (value[std::labs(lit)] != (lit < 0)) return true;
        }
        return false;
      }
      if (g.kind == "and") {
        for (long input : g.inputs)
          if (!eval(input)) return false;
        return true;
      }
      bool exists = g.kind == "exists";
      for (unsigned long bits = 0; bits < (1ul << g.vars.size()); bits++) {
        for (std::size_t i = 0; i < g.vars.size(); i++) value[g.vars[i]] = (bits >> i) & 1;
        if (eval(g.inputs[0]) == exists) {
          for (long v : g.vars) value.erase(v);
          return exists;
        }
      }
      for (long v : g.vars) value.erase(v);
      return !exists;
    };
    return eval(output);
  }

  // The fewest blocks of any prenex form of the quantifier tree: for each
  // count and start, a search over every placement of its nodes in blocks,
  // each at or after its father's, of its own quantifier.
  int fewestBlocks() {
    std::vector<std::pair<bool, int>> nodes; // universal?, father (-1: none)
    std::function<void(long, int)> collect = [&](long name, int father) {
      const Gate &g = gates.at(static_cast<std::size_t>(name));
      if (g.kind == "exists" || g.kind == "forall") {
        nodes.push_back({g.kind == "forall", father});
        father = static_cast<int>(nodes.size()) - 1;
      }
      if (g.kind != "or")
        for (long input : g.inputs) collect(input, father);
    };
    collect(output, -1);
    std::vector<int> block(nodes.size());
    std::function<bool(std::size_t, int, int)> place = [&](std::size_t i, int blocks, int start) {
      if (i == nodes.size()) return true;
      int from = nodes[i].second < 0 ? 0 : block[static_cast<std::size_t>(nodes[i].second)];
      for (block[i] = from; block[i] < blocks; block[i]++)
        if (((block[i] + start) % 2 == 1) == nodes[i].first && place(i + 1, blocks, start)) return true;
      return false;
    };
    for (int blocks = 0;; blocks++)
      for (int start : {0, 1})
        if (place(0, blocks, start)) return blocks;
  }
};

std::map<std::string, std::map<std::string, long>> figuresByPath(const std::string &output) {
  std::map<std::string, std::map<std::string, long>> byPath;
  for (const auto &[path, text] : test::items(output)) {
    auto &item = byPath[fs::path(path).filename()];
    for (std::string name : {"alternations: ", "Alternations: "})
      if (std::size_t f = text.find(name); f != std::string::npos) item[name] = std::stol(text.substr(f + name.size()));
  }
  return byPath;
}

// Runs the three strategies (and QCIR with up) on the input, into
// OUT/keep, OUT/up, OUT/down; the figures of the run of up by file name.
auto writeAllForms(const std::string &input, const std::string &out, bool pre) {
  std::map<std::string, std::map<std::string, long>> figures;
  for (std::string s : {"keep", "up", "down"}) {
    fs::create_directories(out + "/" + s);
    std::vector<std::string> args{"-qdimacs=" + s, "-outdir=" + out + "/" + s, input};
    if (s == "up") args.insert(args.begin(), "-qcir");
    if (pre) args.insert(args.begin(), "-pre");
    test::RunResult r = test::runTarnu(args);
    if (s == "up") figures = figuresByPath(r.out);
  }
  return figures;
}

// Checks one input: the blocks always, the truth values when given DepQBF's
// answer on the input (0: none).
// The written files are OUT/STRATEGY/WRITTEN followed by their suffixes.
void check(const std::string &input, const std::string &out, const std::string &written,
           std::map<std::string, long> &figures, int truth, int &evaluated) {
  std::string name = fs::path(input).filename();
  auto form = [&](std::string s, std::string word) {
    return out + "/" + s + "/" + written + ".tree" + word +
           (name.find(".qdimacs") != std::string::npos ? ".qdimacs" : ".qcnf");
  };
  Qcir qcir(out + "/up/" + written + ".tree.qcir");
  int up = quantifierBlocks(form("up", "Up"));
  // A decided instance is written as a constant, without a block.
  EXPECT_EQ(up, figures.count("Alternations: ") ? figures["Alternations: "] + 1 : 0) << input;
  EXPECT_EQ(quantifierBlocks(form("down", "Down")), up) << input;
  EXPECT_LE(quantifierBlocks(form("keep", "Keep")), figures["alternations: "] + 1) << input;
  if (up > 0 && !qcir.gates.empty() && qcir.gates.size() < 40) {
    EXPECT_EQ(qcir.fewestBlocks(), up) << input;
  }
  if (!truth) return;
  ASSERT_TRUE(truth == 10 || truth == 20) << input;
  for (auto [s, word] : {std::pair{"keep", "Keep"}, {"up", "Up"}, {"down", "Down"}})
    EXPECT_EQ(solve(form(s, word)), truth) << form(s, word) << '\n' << test::readFile(input);
  if (!qcir.gates.empty() && qcir.variables <= 16) {
    EXPECT_EQ(qcir.evaluate(), truth == 10) << input;
    evaluated++;
  }
}

// Small formulas: free variables, blocks of every length, unit clauses and
// pure literals, now and then an empty clause; some named .qcnf.
std::string randomFormula(std::mt19937 &rng) {
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  int vars = 1 + below(9), clauses = below(4 * vars + 1);
  std::ostringstream text;
  text << "p cnf " << vars << ' ' << clauses << '\n';
  std::vector<int> order(static_cast<std::size_t>(vars));
  for (int v = 0; v < vars; v++) order[static_cast<std::size_t>(v)] = v + 1;
  std::shuffle(order.begin(), order.end(), rng);
  for (int at = below(3), universal = below(2); at < vars; universal = !universal) {
    text << (universal ? 'a' : 'e');
    for (int i = 0, block = 1 + below(3); i < block && at < vars; i++)
      text << ' ' << order[static_cast<std::size_t>(at++)];
    text << " 0\n";
  }
  for (int c = 0; c < clauses; c++) {
    for (int i = 0, length = below(60) ? 1 + below(4) : 0; i < length; i++)
      text << (below(2) ? "-" : "") << 1 + below(vars) << ' ';
    text << "0\n";
  }
  return text.str();
}

TEST(Formula, GeneratedFormulasKeepTheirTruthValueInEveryForm) {
  test::ScratchDir dir;
  std::mt19937 rng(21);
  const int formulas = test::sanitized() ? 40 : 200;
  fs::create_directory(dir.file("in"));
  for (int i = 0; i < formulas; i++)
    test::writeFile(dir.file("in/f" + std::to_string(i) + (i % 5 ? ".qdimacs" : ".qcnf")), randomFormula(rng));
  int evaluated = 0;
  std::map<std::string, int> truth;
  for (bool pre : {false, true}) {
    std::string out = dir.file(pre ? "pre" : "plain");
    auto figures = writeAllForms(dir.file("in"), out, pre);
    for (const auto &entry : fs::directory_iterator(dir.file("in"))) {
      std::string name = entry.path().filename();
      if (!truth.count(name)) truth[name] = solve(entry.path());
      check(entry.path(), out, name, figures[name], truth[name], evaluated);
    }
  }
  EXPECT_GT(evaluated, formulas);
}

// Every instance: the blocks. The instances whose input and written forms
// DepQBF decides within a second (tests/data/depqbf-quick.txt, by name, a
// compression suffix aside): the truth values. The sanitizer build, where
// every instance costs far more, takes every tenth instance of less than
// 100 kB, one file at a time.
// The list is made for the shared set: the corpus holds some of its names.
void realInstancesKeepTheirTruthValueAndFewestBlocks(const test::InstanceSet &set, bool holdsTheList) {
  test::ScratchDir dir;
  const bool all = !test::sanitized();
  std::map<std::string, std::map<std::string, long>> figures;
  if (all) figures = writeAllForms(set.dir, dir.file("all"), false);
  auto plainName = [](std::string name) { return name.ends_with(".xz") ? name.substr(0, name.size() - 3) : name; };
  std::ifstream list(test::sourceDir() + "/tests/data/depqbf-quick.txt");
  std::map<std::string, bool> quick;
  for (std::string name; std::getline(list, name);) quick[plainName(name)] = true;
  int evaluated = 0, judged = 0, instances = 0, quickOnes = 0;
  for (const fs::path path : test::instanceFiles(set)) {
    quickOnes += quick.count(plainName(path.filename()));
    if ((++instances % 10 && !all) || (!all && fs::file_size(path) > 100000)) continue;
    std::string name = path.filename(), out = dir.file(all ? "all" : "each");
    if (!all) figures = writeAllForms(path, out, false);
    int truth = quick.count(plainName(name)) ? solve(path) : 0;
    check(path, out, all ? fs::relative(path, set.dir).string() : name, figures[name], truth, evaluated);
    judged += truth != 0;
  }
  if (all) {
    EXPECT_EQ(judged, quickOnes);
    if (holdsTheList) {
      EXPECT_EQ(quickOnes, static_cast<int>(quick.size()));
    }
  }
  EXPECT_EQ(instances, set.count);
}

TEST(Formula, CorpusKeepsItsTruthValueAndFewestBlocks) {
  realInstancesKeepTheirTruthValueAndFewestBlocks(test::corpus(), false);
}

TEST(Formula, RealInstancesKeepTheirTruthValueAndFewestBlocks) {
  test::InstanceSet shared = test::sharedSet();
  if (shared.dir.empty()) GTEST_SKIP() << "the shared set is not there (../shared/instances, or TARNU_INSTANCES)";
  realInstancesKeepTheirTruthValueAndFewestBlocks(shared, true);
}

} // namespace

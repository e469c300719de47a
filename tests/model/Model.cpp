// Model of one Tarnu run. The program keeps doubly linked lists with head insertion and a
// pool of elements; here every list is a std::vector whose element 0 is the head, so that
// "insert at the head" is an insert at begin() and "the first element from the head" is
// index 0. Which unit clause or pure literal is taken next, the order of clauses in a DOT
// record and the order of children in the tree all follow from those list orders, so the
// model keeps every list the program keeps, in the same order, and nothing else.
//
// Variable numbering is done in one step after reading: free variables take the lowest
// codes (the one met last gets code 1) and prefix variables follow in prefix order. The
// program renumbers on the fly; since renumbering only shifts codes by one and moves every
// list along with its variable, creating all clauses afterwards with their final codes
// gives the same lists.

#include "Model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>

namespace tarnu_model {

std::vector<std::string> RunOptions::arguments() const {
  std::vector<std::string> args;
  if (tree) args.push_back("-tree");
  if (clauses) args.push_back("-clauses");
  if (linear) args.push_back("-linear");
  if (pre) args.push_back("-pre");
  return args;
}

std::string RunOptions::describe() const {
  std::string text;
  for (const std::string &arg : arguments()) text += (text.empty() ? "" : " ") + arg;
  return text.empty() ? "(none)" : text;
}

namespace {

__attribute__((format(printf, 1, 2))) std::string format(const char *fmt, ...) {
  char small[512];
  va_list args;
  va_start(args, fmt);
  int n = std::vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(args, fmt);
  std::vsnprintf(big.data(), big.size(), fmt, args);
  va_end(args);
  big.resize(static_cast<size_t>(n));
  return big;
}

template <class T> void pushFront(std::vector<T> &list, T value) { list.insert(list.begin(), value); }

template <class T> void removeFirst(std::vector<T> &list, T value) {
  auto it = std::find(list.begin(), list.end(), value);
  if (it != list.end()) list.erase(it);
}

// ---------------------------------------------------------------------------------------
// Reading

// Lines as a line reader returns them, without their newline.
std::vector<std::string> splitLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> splitTokens(const std::string &line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

// A token reads as an integer exactly when "%i" converts it.
bool readInt(const std::string &token, int &value) { return std::sscanf(token.c_str(), "%i", &value) == 1; }

struct Parsed {
  bool ok = false;
  int claimedVars = 0;
  int claimedClauses = 0;
  std::vector<std::pair<char, std::vector<int>>> blocks;
  std::vector<std::vector<int>> clauses; // DIMACS literals, as handed to the formula
  int outcome = 0;
};

Parsed parseQdimacs(const std::string &text) {
  Parsed parsed;
  const std::vector<std::string> lines = splitLines(text);
  size_t at = 0;

  // Header: comments, then the problem line; anything else rejects the file.
  for (;; ++at) {
    if (at == lines.size()) return parsed;
    const std::string &line = lines[at];
    if (!line.empty() && line[0] == 'c') continue;
    if (!line.empty() && line[0] == 'p') {
      if (std::sscanf(line.c_str(), "p cnf %i %i", &parsed.claimedVars, &parsed.claimedClauses) != 2)
        return parsed; // not generated; the program's choice here is its own
      ++at;
      break;
    }
    return parsed;
  }
  parsed.ok = true;

  // Prefix: quantifier lines, with blank and comment lines skipped.
  bool quantifierLineSeen = false;
  for (; at < lines.size(); ++at) {
    const std::string &line = lines[at];
    const std::vector<std::string> tokens = splitTokens(line);
    if (tokens.empty()) continue;
    if (line[0] == 'c') continue;
    if (line[0] == 'a' || line[0] == 'e') {
      quantifierLineSeen = true;
      std::vector<int> vars;
      for (size_t t = 1; t < tokens.size(); ++t) {
        int value = 0;
        if (readInt(tokens[t], value) && value != 0) vars.push_back(value);
      }
      parsed.blocks.emplace_back(line[0], vars);
      continue;
    }
    if (!quantifierLineSeen) {
      std::vector<int> all;
      for (int v = 1; v <= parsed.claimedVars; ++v) all.push_back(v);
      parsed.blocks.emplace_back('e', all);
    }
    break;
  }

  // Clauses: one per line, ended by 0 or by the end of the line.
  bool emptyClauseSeen = false;
  for (; at < lines.size(); ++at) {
    const std::vector<std::string> tokens = splitTokens(lines[at]);
    if (tokens.empty()) continue;
    int first = 0;
    if (!readInt(tokens[0], first)) continue;
    if (first == 0) {
      parsed.outcome = 6;
      emptyClauseSeen = true;
      continue;
    }
    std::map<int, int> seen;
    std::vector<int> lits{first};
    seen[std::abs(first)] = first;
    bool tautology = false;
    int current = 0;
    for (size_t t = 1; t < tokens.size(); ++t) {
      int value = 0;
      if (readInt(tokens[t], value)) current = value;
      if (current == 0) break;
      int &entry = seen[std::abs(current)];
      if (entry == 0) {
        entry = current;
        lits.push_back(current);
      } else if (entry == -current) {
        tautology = true;
        break;
      }
    }
    if (!tautology && !emptyClauseSeen) parsed.clauses.push_back(lits);
  }
  return parsed;
}

// ---------------------------------------------------------------------------------------
// Formula and its indexes

struct Clause {
  std::vector<int> lits; // literal codes, ascending by variable
};

struct Formula {
  int claimedClauses = 0;
  int varNumber = 1;
  std::vector<char> type;                     // by code
  std::vector<int> codeToInput;               // by code
  std::vector<Clause> clauses;                // by clause id (creation order)
  std::vector<std::vector<int>> atQuantifier; // clause ids, by code
  std::vector<std::vector<int>> positive;     // clause ids, by code
  std::vector<std::vector<int>> negative;     // clause ids, by code
  std::vector<int> units;                     // clause ids
  std::vector<int> pures;                     // literal codes
  int clauseNumber = 0;
  bool emptyClauseFound = false;
  int outcome = 0;

  std::vector<int> &occurrences(int lit) { return lit > 0 ? positive[lit] : negative[-lit]; }
  int inputLiteral(int lit) const { return lit > 0 ? codeToInput[lit] : -codeToInput[-lit]; }
  int deepest(int id) const { return std::abs(clauses[id].lits.back()); }
};

Formula buildFormula(const Parsed &parsed) {
  Formula f;
  f.claimedClauses = parsed.claimedClauses;

  std::vector<char> prefixType;
  std::vector<int> prefixInput;
  std::map<int, size_t> prefixPosition; // input number -> its latest prefix position
  for (const auto &block : parsed.blocks)
    for (int v : block.second) {
      prefixPosition[v] = prefixType.size();
      prefixType.push_back(block.first);
      prefixInput.push_back(v);
    }
  std::vector<int> freeOrder;
  std::set<int> freeSeen;
  for (const auto &clause : parsed.clauses)
    for (int lit : clause) {
      int v = std::abs(lit);
      if (prefixPosition.count(v) == 0 && freeSeen.insert(v).second) freeOrder.push_back(v);
    }

  const int freeCount = static_cast<int>(freeOrder.size());
  f.varNumber = freeCount + static_cast<int>(prefixType.size()) + 1;
  f.type.assign(f.varNumber, 'u');
  f.codeToInput.assign(f.varNumber, 0);
  std::map<int, int> inputToCode;
  for (int j = 0; j < freeCount; ++j) {
    int code = freeCount - j;
    f.type[code] = 'e';
    f.codeToInput[code] = freeOrder[j];
    inputToCode[freeOrder[j]] = code;
  }
  for (size_t k = 0; k < prefixType.size(); ++k) {
    int code = freeCount + 1 + static_cast<int>(k);
    f.type[code] = prefixType[k];
    f.codeToInput[code] = prefixInput[k];
  }
  for (const auto &entry : prefixPosition) inputToCode[entry.first] = freeCount + 1 + static_cast<int>(entry.second);

  f.atQuantifier.assign(f.varNumber, {});
  f.positive.assign(f.varNumber, {});
  f.negative.assign(f.varNumber, {});
  for (const auto &input : parsed.clauses) {
    Clause clause;
    for (int lit : input) clause.lits.push_back(lit > 0 ? inputToCode[lit] : -inputToCode[-lit]);
    std::sort(clause.lits.begin(), clause.lits.end(), [](int a, int b) { return std::abs(a) < std::abs(b); });
    const int id = static_cast<int>(f.clauses.size());
    f.clauses.push_back(clause);
    pushFront(f.atQuantifier[f.deepest(id)], id);
    ++f.clauseNumber;
    if (clause.lits.size() == 1) pushFront(f.units, id);
    for (int lit : clause.lits) pushFront(f.occurrences(lit), id);
  }

  for (int c = 1; c < f.varNumber; ++c) {
    if (f.positive[c].empty() && !f.negative[c].empty()) pushFront(f.pures, -c);
    if (!f.positive[c].empty() && f.negative[c].empty()) pushFront(f.pures, c);
  }
  f.outcome = parsed.outcome;
  return f;
}

// Takes one literal occurrence of a clause out of its occurrence list.
void deindexLiteral(Formula &f, int id, int lit) {
  std::vector<int> &own = f.occurrences(lit);
  removeFirst(own, id);
  if (own.empty()) {
    if (!f.occurrences(-lit).empty())
      pushFront(f.pures, -lit);
    else
      removeFirst(f.pures, lit);
  }
}

void deleteClause(Formula &f, int id) {
  Clause &clause = f.clauses[id];
  if (clause.lits.size() == 1) removeFirst(f.units, id);
  for (int lit : clause.lits) deindexLiteral(f, id, lit);
  removeFirst(f.atQuantifier[f.deepest(id)], id);
}

void afterShrink(Formula &f, int id) {
  const size_t size = f.clauses[id].lits.size();
  if (size == 1) pushFront(f.units, id);
  if (size == 0) f.emptyClauseFound = true;
}

void resolveLiteral(Formula &f, int id, int lit) {
  std::vector<int> &lits = f.clauses[id].lits;
  size_t p = 0;
  while (p < lits.size() && std::abs(lits[p]) != std::abs(lit)) ++p;
  if (p == lits.size()) std::abort(); // the model never asks for a missing literal
  const bool last = p + 1 == lits.size();
  deindexLiteral(f, id, lit);
  if (last) removeFirst(f.atQuantifier[f.deepest(id)], id);
  lits.erase(lits.begin() + static_cast<long>(p));
  if (last && !lits.empty()) pushFront(f.atQuantifier[f.deepest(id)], id);
  afterShrink(f, id);
}

void resolveLastLiteral(Formula &f, int id) {
  std::vector<int> &lits = f.clauses[id].lits;
  deindexLiteral(f, id, lits.back());
  removeFirst(f.atQuantifier[f.deepest(id)], id);
  lits.pop_back();
  if (!lits.empty()) pushFront(f.atQuantifier[f.deepest(id)], id);
  afterShrink(f, id);
}

void assign(Formula &f, int lit) {
  while (!f.occurrences(lit).empty()) {
    deleteClause(f, f.occurrences(lit).front());
    --f.clauseNumber;
  }
  while (!f.occurrences(-lit).empty()) resolveLiteral(f, f.occurrences(-lit).front(), -lit);
}

enum class Stop { None, UniversalPureLiteral, ForallReduction };

bool decided(const Formula &f) { return f.outcome >= 2; }

int unitClausePropagation(Formula &f) {
  if (f.units.empty()) return 0;
  for (;;) {
    const int lit = f.clauses[f.units.front()].lits[0];
    if (f.type[std::abs(lit)] != 'e') {
      f.outcome = 7;
      return 1;
    }
    assign(f, lit);
    if (f.clauseNumber == 0) {
      f.outcome = 2;
      return 1;
    }
    if (f.emptyClauseFound) {
      f.outcome = 8;
      return 1;
    }
    if (f.units.empty()) return 1;
  }
}

int pureLiteralElimination(Formula &f, Stop &stop) {
  if (f.pures.empty()) return 0;
  for (;;) {
    const int lit = f.pures.front();
    if (f.type[std::abs(lit)] == 'e') {
      assign(f, lit);
      if (f.clauseNumber == 0) {
        f.outcome = 3;
        return 1;
      }
      if (f.pures.empty()) return 1;
    } else {
      assign(f, -lit);
      if (f.emptyClauseFound) {
        f.outcome = 9;
        stop = Stop::UniversalPureLiteral;
      }
      return 1;
    }
  }
}

int forallReduction(Formula &f, Stop &stop) {
  int changed = 0;
  for (int v = 1; v < f.varNumber; ++v) {
    if (f.type[v] != 'a') continue;
    const std::vector<int> attached = f.atQuantifier[v];
    for (int id : attached) {
      while (!f.clauses[id].lits.empty() && f.type[f.deepest(id)] == 'a') {
        changed = 1;
        resolveLastLiteral(f, id);
        if (f.emptyClauseFound) {
          f.outcome = 10;
          stop = Stop::ForallReduction;
          return changed;
        }
      }
    }
  }
  return changed;
}

Stop normalize(Formula &f) {
  Stop stop = Stop::None;
  for (;;) {
    int applied = pureLiteralElimination(f, stop);
    if (stop != Stop::None) return stop;
    if (!applied) applied = unitClausePropagation(f);
    if (!applied) {
      applied = forallReduction(f, stop);
      if (stop != Stop::None) return stop;
    }
    if (!applied || decided(f)) return Stop::None;
  }
}

// ---------------------------------------------------------------------------------------
// Quantifier tree

struct Node {
  int code = 0;
  char quantifier = 'r';
  int variable = -1;
  std::vector<int> children; // node codes, first child first
  std::vector<int> clauses;  // clause ids, in the formula's list order
  std::vector<int> deps;     // the counted dependencies, ascending
};

struct Tree {
  std::vector<Node> nodes; // indexed by node code
  int root = -1;
};

std::vector<int> setUnion(const std::vector<int> &a, const std::vector<int> &b) {
  std::vector<int> out;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

Tree buildTree(const Formula &f) {
  Tree t;
  const int V = f.varNumber;
  auto newNode = [&](char quantifier, int variable) {
    Node n;
    n.code = static_cast<int>(t.nodes.size());
    n.quantifier = quantifier;
    n.variable = variable;
    if (variable >= 1) {
      n.clauses = f.atQuantifier[variable];
      std::set<int> vars;
      for (int id : n.clauses)
        for (int lit : f.clauses[id].lits) vars.insert(std::abs(lit));
      if (!vars.empty()) {
        n.deps.assign(vars.begin(), vars.end());
        n.deps.pop_back();
      }
    }
    t.nodes.push_back(n);
    return n.code;
  };

  std::vector<int> nodeForVar(V + 1, -1);
  std::vector<std::vector<int>> waitingCopies(V + 1);
  for (int v = 1; v < V; ++v)
    if (f.type[v] == 'e') nodeForVar[v] = newNode('e', v);
  t.root = newNode('r', -1);

  auto place = [&](int n) {
    if (!t.nodes[n].deps.empty()) {
      const int d = t.nodes[n].deps.back();
      std::vector<int> inherited(t.nodes[n].deps.begin(), t.nodes[n].deps.end() - 1);
      int father;
      if (f.type[d] == 'e') {
        father = nodeForVar[d];
      } else {
        father = newNode('a', d);
        pushFront(waitingCopies[d], father);
      }
      t.nodes[father].deps = setUnion(t.nodes[father].deps, inherited);
      pushFront(t.nodes[father].children, n);
    } else if (!t.nodes[n].children.empty() || !t.nodes[n].clauses.empty()) {
      pushFront(t.nodes[t.root].children, n);
    }
  };

  for (int v = V - 1; v >= 1; --v) {
    if (f.type[v] == 'e') {
      place(nodeForVar[v]);
    } else {
      while (!waitingCopies[v].empty()) {
        int copy = waitingCopies[v].front();
        waitingCopies[v].erase(waitingCopies[v].begin());
        place(copy);
      }
    }
  }
  return t;
}

// Non-negative integer of any size, kept as decimal digits, least significant first.
struct BigNumber {
  std::vector<int> digits{0};

  void add(const BigNumber &other) {
    int carry = 0;
    for (size_t i = 0; i < std::max(digits.size(), other.digits.size()) || carry; ++i) {
      if (i == digits.size()) digits.push_back(0);
      int sum = digits[i] + carry + (i < other.digits.size() ? other.digits[i] : 0);
      digits[i] = sum % 10;
      carry = sum / 10;
    }
  }
  static BigNumber powerOfTwo(int k) {
    BigNumber n;
    n.digits = {1};
    for (int i = 0; i < k; ++i) {
      BigNumber copy = n;
      n.add(copy);
    }
    return n;
  }
  std::string text() const {
    std::string s;
    for (size_t i = digits.size(); i-- > 0;) s += static_cast<char>('0' + digits[i]);
    size_t firstNonZero = s.find_first_not_of('0');
    return firstNonZero == std::string::npos ? "0" : s.substr(firstNonZero);
  }
};

struct Measures {
  int components = 0;
  BigNumber disjoint;
  int depth = 0;
  int existential = 0;
  int universal = 0;
  int branches = 0;
  int maxUniversalDepth = 0;
  double universalDepthSum = 0.0;
};

void countComponents(const Tree &t, int n, int universalAbove, Measures &m) {
  const Node &node = t.nodes[n];
  if (node.quantifier == 'e') {
    ++m.components;
    m.disjoint.add(BigNumber::powerOfTwo(universalAbove));
    return;
  }
  for (int child : node.children) countComponents(t, child, universalAbove + (node.quantifier == 'a'), m);
}

void label(const Tree &t, int n, int level, int universalAbove, Measures &m) {
  const Node &node = t.nodes[n];
  m.depth = std::max(m.depth, level);
  if (node.quantifier == 'e') {
    ++m.existential;
    m.universalDepthSum += universalAbove;
    m.maxUniversalDepth = std::max(m.maxUniversalDepth, universalAbove);
  } else if (node.quantifier == 'a') {
    ++m.universal;
  }
  if (node.children.empty()) ++m.branches;
  for (int child : node.children) label(t, child, level + 1, universalAbove + (node.quantifier == 'a'), m);
}

std::string treeSummary(const Tree &t) {
  Measures m;
  countComponents(t, t.root, 0, m);
  label(t, t.root, 1, 0, m);
  std::string out = "\n--------TARNU-------\n";
  out += "Growing time: <t>ms\n";
  out += format("  Components: %i\n", m.components);
  out += "D-Components: " + m.disjoint.text() + "\n";
  out += format("       Depth: %i\n", m.depth);
  out += format("EXISTS nodes: %i\n", m.existential);
  out += format("FORALL nodes: %i\n", m.universal);
  out += format("    Branches: %i\n", m.branches);
  out += format("   Delta MAX: %i\n", m.maxUniversalDepth);
  if (m.existential == 0)
    out += "   Delta AVG: nan\n";
  else
    out += format("   Delta AVG: %.2f\n", m.universalDepthSum / m.existential);
  out += "--------------------\n";
  return out;
}

// ---------------------------------------------------------------------------------------
// DOT output

struct DotWriter {
  const Formula &f;
  const Tree &t;
  bool detailed;
  std::string out;

  const char *colour(char quantifier) const { return quantifier == 'a' ? "#FF8877" : "#DDFFBB"; }
  int input(const Node &node) const { return f.codeToInput[node.variable]; }

  // Graphviz reads quoted strings of at most 16384 bytes: a longer label is
  // written as pieces of 16000 bytes joined by '+', no piece ending in the
  // backslash of an escape.
  static std::string inPieces(const std::string &label) {
    std::string out;
    size_t at = 0;
    while (label.size() - at > 16000) {
      size_t piece = label[at + 15999] == '\\' ? 15999 : 16000;
      out += label.substr(at, piece) + "\" + \"";
      at += piece;
    }
    return out + label.substr(at);
  }

  std::string clauseText(int id) const {
    std::string text = "{";
    const std::vector<int> &lits = f.clauses[id].lits;
    for (size_t i = 0; i < lits.size(); ++i)
      text += format("%i%s", f.inputLiteral(lits[i]), i + 1 < lits.size() ? "," : "");
    return text + "}";
  }

  void circle(const Node &node) {
    out += format("n%i [label = \"%c%i\" shape=\"%s\" style=\"filled\" color=\"%s\"];\n", node.code, node.quantifier,
                  input(node), "circle", colour(node.quantifier));
  }

  // The clause node of `owner` (the node whose clauses are shown), named after `name`.
  void clauseNode(const Node &owner, int name) {
    if (owner.clauses.empty()) return;
    if (!detailed) {
      out += format("c%i [label = \"%i\" shape =\"house\" style=\"filled\" bgcolor=\"red\"];\n", name,
                    static_cast<int>(owner.clauses.size()));
      return;
    }
    std::string label = "{";
    for (size_t i = 0; i < owner.clauses.size(); ++i)
      label += clauseText(owner.clauses[i]) + (i + 1 < owner.clauses.size() ? "|" : "");
    out += format("c%i [shape=\"record\" label = \"", name) + inPieces(label + "}") + "\" ];\n";
  }

  void edges(const Node &owner, const std::string &from, int name) {
    if (owner.children.empty() && owner.clauses.empty()) return;
    out += from + " -> { ";
    for (int child : owner.children) out += format("n%i ", child);
    if (!owner.clauses.empty()) out += format("c%i ", name);
    out += "}\n";
  }

  void plain(int n) {
    const Node &node = t.nodes[n];
    if (node.variable <= 0) {
      out += "root [label = \"and\"];\n";
      for (int child : node.children) plain(child);
      edges(node, "root", 0);
      return;
    }
    circle(node);
    for (int child : node.children) plain(child);
    clauseNode(node, node.code);
    edges(node, format("n%i", node.code), node.code);
  }

  void collapsed(int n) {
    const Node &node = t.nodes[n];
    if (node.variable <= 0) {
      out += "root [label = \"and\"];\n";
      for (int child : node.children) collapsed(child);
      edges(node, "root", 0);
      return;
    }
    std::vector<int> chain{n};
    for (;;) {
      const Node &c = t.nodes[chain.back()];
      if (c.children.size() != 1 || !c.clauses.empty()) break;
      if (t.nodes[c.children[0]].quantifier != node.quantifier) break;
      chain.push_back(c.children[0]);
    }
    if (chain.size() == 1) {
      circle(node);
    } else {
      std::string label = format("%c%i", node.quantifier, input(node));
      const double L = static_cast<double>(chain.size());
      const double R = std::sqrt(L / 3.1415926535);
      const double R2 = R * R;
      double y = R;
      double w = 0.0;
      int i = 1;
      for (size_t k = 1; k < chain.size(); ++k) {
        ++i;
        const char *separator = "";
        if (i >= w) {
          separator = "\\n";
          y -= 1.0;
          w += 2.0 * std::sqrt(std::max(0.0, R2 - y * y));
        }
        label += format(" %i%s", input(t.nodes[chain[k]]), separator);
      }
      out += format("n%i [label = \"", node.code) + inPieces(label) +
             format("\" shape=\"octagon\" style=\"filled\" color=\"%s\"];\n", colour(node.quantifier));
    }
    const Node &last = t.nodes[chain.back()];
    for (int child : last.children) collapsed(child);
    clauseNode(last, node.code);
    edges(last, format("n%i", node.code), node.code);
  }
};

std::string formulaSummary(const Formula &f) {
  int forall = 0, exists = 0, blocks = 0;
  for (int c = 1; c < f.varNumber; ++c) {
    if (f.type[c] == 'a')
      ++forall;
    else
      ++exists;
    if (c == 1 || f.type[c] != f.type[c - 1]) ++blocks;
  }
  std::string out = "\n---------QBF--------\n";
  out += format("   variables: %i\n", forall + exists);
  out += format("      FORALL: %i\n", forall);
  out += format("      EXISTS: %i\n", exists);
  out += format("alternations: %i\n", blocks - 1);
  out += format("     clauses: %i", f.claimedClauses);
  return out;
}

} // namespace

RunResult runModel(const std::string &path, const std::string &text, const RunOptions &options) {
  RunResult result;
  result.console = "Tarnu v0.1 (revision 80, compiled <date>)";
  result.console += "\n1.Processing \"" + path + "\"...  ";

  const Parsed parsed = parseQdimacs(text);
  if (!parsed.ok) {
    result.console += "\n";
    result.exitStatus = 252;
    return result;
  }
  Formula f = buildFormula(parsed);
  result.console += formulaSummary(f);

  Stop stop = Stop::None;
  if (options.pre)
    stop = normalize(f);
  else
    forallReduction(f, stop);
  result.outcome = f.outcome;
  if (stop != Stop::None) {
    if (stop == Stop::UniversalPureLiteral)
      result.console += "[Abnormal exit due to error \"UNSAT_FOR_QBF_UNIVERSAL_PURE_LITERAL_ELIMINATION\" at line 236, "
                        "file \"QbFormulaNormalize\"]\n";
    else
      result.console += "[Abnormal exit due to error \"UNSAT_FOR_QBF_FORALL_REDUCTION\" at line 298, file "
                        "\"QbFormulaNormalize\"]\n";
    result.console += "\n";
    result.exitStatus = 255;
    return result;
  }

  const Tree tree = buildTree(f);
  if (options.tree || options.clauses) {
    DotWriter writer{f, tree, options.clauses, "digraph G0 {\n"};
    if (options.linear)
      writer.plain(tree.root);
    else
      writer.collapsed(tree.root);
    writer.out += "}\n";
    result.dotWritten = true;
    result.dot = writer.out;
  }
  result.console += treeSummary(tree);
  result.console += "[OK, <t>s]\n";
  result.console += "\n";
  result.exitStatus = 1;
  return result;
}

std::string maskConsole(const std::string &text) {
  std::string out;
  size_t i = 0;
  auto startsAt = [&](const char *word) { return text.compare(i, std::char_traits<char>::length(word), word) == 0; };
  while (i < text.size()) {
    if (startsAt("compiled ") && i + 9 + 11 < text.size() && text[i + 9 + 11] == ')') {
      out += "compiled <date>";
      i += 9 + 11;
    } else if (startsAt("Growing time: ")) {
      size_t j = i + 14;
      while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '-')) ++j;
      if (j > i + 14 && text.compare(j, 2, "ms") == 0) {
        out += "Growing time: <t>";
        i = j;
      } else {
        out += text[i++];
      }
    } else if (startsAt("[OK, ")) {
      size_t j = i + 5;
      while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '.')) ++j;
      if (j > i + 5 && text.compare(j, 2, "s]") == 0) {
        out += "[OK, <t>";
        i = j;
      } else {
        out += text[i++];
      }
    } else {
      out += text[i++];
    }
  }
  return out;
}

} // namespace tarnu_model

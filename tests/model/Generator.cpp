// Random QDIMACS files. Clauses drawn uniformly over the variables give one big component
// and shallow trees, so the generator first draws a hidden forest over the variables in
// prefix order (each variable's parent is some earlier variable, or none) and builds most
// clauses from a variable and a few of its ancestors in that forest. Different roots then
// become different components, ancestors that are universal get one copy per existential
// node below them, and clauses that take a whole path with their deepest variable at the
// bottom leave the inner nodes clause-free, which is what makes collapsible chains.
// The random numbers come from splitmix64 so that a seed means the same file everywhere.

#include "Generator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarnu_model {

namespace {

class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return n <= 1 ? 0 : static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  int between(int lo, int hi) { return lo + below(hi - lo + 1); }
  bool chance(int percent) { return below(100) < percent; }

private:
  std::uint64_t state_;
};

struct Plan {
  int numVars = 0;              // largest variable number used
  int declaredVars = 0;         // the count written in the header
  std::vector<int> order;       // variables in prefix order (free ones first, they end up outermost)
  std::vector<char> type;       // by position in order
  std::vector<int> parent;      // by position in order; -1 for a root of the hidden forest
  std::vector<bool> quantified; // by position in order
  std::vector<int> polarity;    // by position: preferred sign, +1 or -1
  int polarityBias = 80;        // percent of literals that take the preferred sign
};

// The blocks of the prefix: maximal runs of equal type over the quantified positions,
// sometimes split in two lines of the same letter.
std::vector<std::pair<char, std::vector<int>>> prefixBlocks(const Plan &plan, Random &rng) {
  std::vector<std::pair<char, std::vector<int>>> blocks;
  for (size_t p = 0; p < plan.order.size(); ++p) {
    if (!plan.quantified[p]) continue;
    if (blocks.empty() || blocks.back().first != plan.type[p] || rng.chance(8))
      blocks.emplace_back(plan.type[p], std::vector<int>{});
    blocks.back().second.push_back(plan.order[p]);
  }
  return blocks;
}

std::string separator(Random &rng, bool lenient) {
  if (lenient && rng.chance(4)) return rng.chance(50) ? "\t" : "  ";
  return " ";
}

// A number as the file writes it: decimal, now and then hexadecimal, octal or with a plus sign,
// all of which "%i" reads.
std::string number(Random &rng, bool lenient, int value) {
  if (lenient && rng.chance(3)) {
    const char *sign = value < 0 ? "-" : "";
    const unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
    char text[32];
    switch (rng.below(3)) {
    case 0: std::snprintf(text, sizeof text, "%s0x%x", sign, magnitude); break;
    case 1: std::snprintf(text, sizeof text, "%s0%o", sign, magnitude); break;
    default: std::snprintf(text, sizeof text, "%s%u", value < 0 ? "-" : "+", magnitude); break;
    }
    return text;
  }
  return std::to_string(value);
}

void maybeNoise(std::string &out, Random &rng, int percent) {
  if (!rng.chance(percent)) return;
  switch (rng.below(3)) {
  case 0: out += "\n"; break;
  case 1: out += "c a remark\n"; break;
  default: out += "c\n"; break;
  }
}

std::string generate(std::uint64_t seed, bool large) {
  Random rng(seed);
  Plan plan;

  // Size: mostly small, now and then up to 40 variables; or a few hundred for large files.
  const int sizeClass = rng.below(10);
  if (large)
    plan.numVars = rng.between(100, 600);
  else
    plan.numVars = sizeClass < 1   ? rng.between(1, 3)
                   : sizeClass < 7 ? rng.between(3, 12)
                   : sizeClass < 9 ? rng.between(12, 25)
                                   : rng.between(25, 40);
  const int n = plan.numVars;

  for (int v = 1; v <= n; ++v) plan.order.push_back(v);
  if (rng.chance(60)) {
    for (int i = n - 1; i > 0; --i) std::swap(plan.order[i], plan.order[rng.below(i + 1)]);
  }

  // Quantifier types by prefix position.
  const int style = rng.below(12);
  plan.type.assign(n, 'e');
  bool noPrefix = false;
  switch (style) {
  case 0:
  case 1:
  case 2: { // many alternations: blocks of 1 to 3
    char t = rng.chance(50) ? 'a' : 'e';
    for (int p = 0; p < n;) {
      int len = rng.between(1, 3);
      for (int k = 0; k < len && p < n; ++k) plan.type[p++] = t;
      t = t == 'a' ? 'e' : 'a';
    }
    break;
  }
  case 3: // all existential
    break;
  case 4:
  case 5: { // long universal blocks between short existential ones
    char t = rng.chance(30) ? 'e' : 'a';
    for (int p = 0; p < n;) {
      int len = t == 'a' ? rng.between(2, 6) : rng.between(1, 2);
      for (int k = 0; k < len && p < n; ++k) plan.type[p++] = t;
      t = t == 'a' ? 'e' : 'a';
    }
    break;
  }
  case 6: // no prefix at all: every declared variable is existential
    noPrefix = true;
    break;
  case 7:
  case 8: // each variable on its own
    for (int p = 0; p < n; ++p) plan.type[p] = rng.chance(45) ? 'a' : 'e';
    break;
  default: { // exists-forall-exists-... ending on a universal block, food for forall reduction
    char t = 'e';
    for (int p = 0; p < n;) {
      int len = rng.between(1, 4);
      for (int k = 0; k < len && p < n; ++k) plan.type[p++] = t;
      t = t == 'a' ? 'e' : 'a';
    }
    if (n >= 2) plan.type[n - 1] = 'a';
    break;
  }
  }

  // Free variables: left out of the prefix, they become the outermost existentials.
  plan.quantified.assign(n, !noPrefix);
  if (!noPrefix && rng.chance(30)) {
    int freeCount = rng.between(1, std::min(3, n));
    for (int k = 0; k < freeCount; ++k) {
      // Move a variable to the front of the order, unquantified.
      int p = rng.below(n);
      int v = plan.order[p];
      plan.order.erase(plan.order.begin() + p);
      plan.order.insert(plan.order.begin(), v);
      plan.type.erase(plan.type.begin() + p);
      plan.type.insert(plan.type.begin(), 'e');
      plan.quantified.erase(plan.quantified.begin() + p);
      plan.quantified.insert(plan.quantified.begin(), false);
    }
  }

  // Header count: usually exact, sometimes below the numbers used.
  plan.declaredVars = n;
  if (rng.chance(8) && n > 2) plan.declaredVars = n - rng.between(1, 2);

  // Hidden forest: a few long paths, or a bushy forest.
  plan.parent.assign(n, -1);
  const bool chains = rng.chance(35);
  const int rootPercent = chains ? 5 : rng.between(5, 30);
  for (int p = 1; p < n; ++p) {
    if (rng.chance(rootPercent)) continue;
    plan.parent[p] = chains ? (rng.chance(80) ? p - 1 : rng.below(p))
                            : (rng.chance(50) ? rng.between(std::max(0, p - 3), p - 1) : rng.below(p));
  }
  plan.polarity.assign(n, 1);
  for (int p = 0; p < n; ++p) plan.polarity[p] = rng.chance(50) ? 1 : -1;
  // Balanced signs leave few pure literals, so that normalisation with "-pre" often stops
  // at a fixpoint, or on a decided outcome, with a good part of the formula left for the tree.
  const int signClass = rng.below(10);
  plan.polarityBias = signClass < 4 ? 50 : signClass < 7 ? rng.between(50, 75) : rng.between(75, 100);

  const bool allowUniversalOnly = rng.chance(6);
  const int unitPercent = rng.chance(35) ? rng.between(2, 12) : 0;
  const int extraPercent = rng.between(0, 20);
  const int twinPercent = rng.chance(45) ? rng.between(40, 90) : 0;
  const int takePercent = chains ? rng.between(70, 100) : rng.between(30, 90);

  // Clauses as lists of literals (before any lenient decoration).
  const int clauseClass = rng.below(10);
  int m = clauseClass == 0  ? rng.between(0, 2)
          : clauseClass < 5 ? rng.between(2, 20)
                            : std::min(60, rng.between(n, 3 * n + 10));
  if (large) m = rng.between(n / 2, 3 * n);
  std::vector<std::vector<int>> clauses;
  for (int c = 0; c < m; ++c) {
    // The bottom variable; prefer existentials so that forall reduction keeps something.
    int bottom = rng.below(n);
    if (!allowUniversalOnly) {
      for (int tries = 0; tries < 8 && plan.type[bottom] != 'e'; ++tries) bottom = rng.below(n);
    }
    std::vector<int> positions{bottom};
    if (!rng.chance(unitPercent)) {
      int maxLen = rng.between(2, chains ? 8 : 5);
      for (int p = plan.parent[bottom]; p >= 0 && static_cast<int>(positions.size()) < maxLen; p = plan.parent[p])
        if (rng.chance(takePercent)) positions.push_back(p);
      if (rng.chance(extraPercent)) positions.push_back(rng.below(n));
      // A trailing universal after the bottom: forall reduction will strip it.
      if (rng.chance(15)) {
        int p = rng.between(bottom, n - 1);
        if (plan.type[p] == 'a') positions.push_back(p);
      }
    }
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    if (!allowUniversalOnly) {
      bool hasExistential = false;
      for (int p : positions) hasExistential |= plan.type[p] == 'e';
      if (!hasExistential) continue;
    }
    std::vector<int> lits;
    for (int p : positions) {
      int sign = rng.chance(plan.polarityBias) ? plan.polarity[p] : -plan.polarity[p];
      lits.push_back(sign * plan.order[p]);
    }
    // A twin over the same variables with the bottom literal and maybe one more negated:
    // variables then occur in both signs and survive pure literal elimination.
    std::vector<int> twin;
    if (rng.chance(twinPercent) && lits.size() >= 2) {
      twin = lits;
      twin.back() = -twin.back();
      if (rng.chance(50)) {
        int k = rng.below(static_cast<int>(twin.size()) - 1);
        twin[k] = -twin[k];
      }
    }
    for (int i = static_cast<int>(lits.size()) - 1; i > 0; --i) std::swap(lits[i], lits[rng.below(i + 1)]);
    clauses.push_back(lits);
    if (!twin.empty()) {
      for (int i = static_cast<int>(twin.size()) - 1; i > 0; --i) std::swap(twin[i], twin[rng.below(i + 1)]);
      clauses.push_back(twin);
      ++c;
    }
  }

  // Decorations of the file as a whole.
  const bool lenient = rng.chance(35);
  const int noisePercent = lenient ? rng.between(5, 25) : 0;
  const bool quantifyTwice = lenient && rng.chance(25);
  const bool emptyQuantifierLine = lenient && rng.chance(25);
  const bool emptyClause = rng.chance(4);
  const int emptyClauseAt = clauses.empty() ? 0 : rng.below(static_cast<int>(clauses.size()) + 1);
  int declaredClauses = static_cast<int>(clauses.size());
  if (rng.chance(10)) declaredClauses = std::max(0, declaredClauses + rng.between(-3, 3));

  std::string out;
  if (rng.chance(40)) out += "c generated instance " + std::to_string(seed) + "\n";
  out += "p cnf " + std::to_string(plan.declaredVars) + " " + std::to_string(declaredClauses) + "\n";
  if (!noPrefix) {
    auto blocks = prefixBlocks(plan, rng);
    if (quantifyTwice && !blocks.empty()) {
      // Quantify one variable a second time, in a later line of its own or in the same line.
      const auto &source = blocks[rng.below(static_cast<int>(blocks.size()))];
      if (!source.second.empty()) {
        int v = source.second[rng.below(static_cast<int>(source.second.size()))];
        if (rng.chance(50))
          blocks.emplace_back(rng.chance(50) ? 'a' : 'e', std::vector<int>{v});
        else
          blocks.back().second.push_back(v);
      }
    }
    if (emptyQuantifierLine) {
      size_t at = static_cast<size_t>(rng.below(static_cast<int>(blocks.size()) + 1));
      blocks.insert(blocks.begin() + static_cast<long>(at), {rng.chance(50) ? 'a' : 'e', std::vector<int>{}});
    }
    for (const auto &block : blocks) {
      maybeNoise(out, rng, noisePercent);
      out += block.first;
      for (size_t i = 0; i < block.second.size(); ++i) {
        // A 0 inside a quantifier line is dropped; the variables after it still count.
        if (lenient && i > 0 && rng.chance(3)) out += " 0";
        out += separator(rng, lenient) + number(rng, lenient, block.second[i]);
      }
      out += lenient && rng.chance(5) ? "\n" : " 0\n";
    }
  }
  for (size_t c = 0; c <= clauses.size(); ++c) {
    if (emptyClause && static_cast<int>(c) == emptyClauseAt) out += "0\n";
    if (c == clauses.size()) break;
    maybeNoise(out, rng, noisePercent);
    std::vector<int> lits = clauses[c];
    if (lenient && rng.chance(6))
      lits.insert(lits.begin() + rng.below(static_cast<int>(lits.size()) + 1),
                  lits[rng.below(static_cast<int>(lits.size()))]);
    if (lenient && rng.chance(4))
      lits.insert(lits.begin() + rng.below(static_cast<int>(lits.size()) + 1),
                  -lits[rng.below(static_cast<int>(lits.size()))]);
    std::string line;
    if (lenient && rng.chance(3)) line += rng.chance(50) ? " " : "\t";
    for (size_t i = 0; i < lits.size(); ++i) {
      if (i > 0) line += separator(rng, lenient);
      // A token that is no number keeps the previous value: right after the first literal
      // it ends the clause, later it repeats the literal before it.
      if (lenient && i > 0 && rng.chance(1)) line += "x" + separator(rng, lenient);
      line += number(rng, lenient, lits[i]);
    }
    if (lenient && rng.chance(3)) {
      // No terminating 0: the line ends the clause.
    } else if (lenient && rng.chance(3)) {
      line += " 0 " + std::to_string(1 + rng.below(n)) + " 0";
    } else {
      line += " 0";
    }
    if (lenient && rng.chance(3)) line += " ";
    out += line + "\n";
  }
  if (lenient && rng.chance(30)) out += "c the end\n";
  if (lenient && rng.chance(4) && !out.empty()) out.pop_back(); // no line break at the end
  if (lenient && rng.chance(3)) {
    std::string crlf;
    for (char ch : out) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    out = crlf;
  }
  return out;
}

} // namespace

std::string generateQdimacs(std::uint64_t seed) { return generate(seed, false); }

std::string generateLargeQdimacs(std::uint64_t seed) { return generate(seed, true); }

} // namespace tarnu_model

#pragma once
// InstanceFeatures: the 46 standard QBF instance features of algorithm
// selection work, in ASlib's order, counted while a file is read. The reader
// hands every quantifier line and every clause it keeps to a FeatureCounter;
// at the end of the file the counter turns its exact integer sums into the
// values. The features describe the formula as read, before any
// simplification.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/CheckedArray.h"

// The values of one instance: the first FEATURE_COUNTS (see OutputTexts.h)
// are counts, the others means and ratios.
struct InstanceFeatures {
  static constexpr std::size_t COUNTS = 13, VALUES = 46;
  std::array<std::uint64_t, COUNTS> counts{};
  std::array<double, VALUES - COUNTS> reals{};
  long timeMs = 0; // processor time of reading the file and counting
};

class FeatureCounter {
public:
  // Room for the variables the problem line declares (more when used).
  explicit FeatureCounter(int declaredVariables);
  // One quantifier line: 'a' or 'e' and its variables (positive numbers).
  void addBlock(char letter, const int *vars, std::size_t n);
  // One clause as the reader keeps it: no literal twice, no tautology; an
  // empty clause has n = 0.
  inline void addClause(const int *lits, std::size_t n);
  // The values of everything added so far.
  InstanceFeatures finish() const;

private:
  // 8 bytes per variable, the only table a literal touches: its kind and its
  // occurrences (a count that passes 2^30 carries into spill_).
  // The positive count in the low 32 bits, then the negative count in 30,
  // then the kind in the top 2: one word, so that one addition counts a
  // literal of either sign.
  struct Variable {
    std::uint64_t bits = 0;
    std::uint32_t pos() const { return static_cast<std::uint32_t>(bits); }
    std::uint32_t neg() const { return static_cast<std::uint32_t>(bits >> 32) & NEG_MASK; }
    std::uint32_t kind() const { return static_cast<std::uint32_t>(bits >> (32 + NEG_BITS)); }
  };
  static constexpr std::uint32_t NEG_BITS = 30, NEG_MASK = (std::uint32_t{1} << NEG_BITS) - 1;
  static constexpr std::uint32_t EXISTENTIAL = 1, UNIVERSAL = 2; // kinds; 0: in no block
  Variable &variable(int var);
  std::uint64_t pos(std::size_t var) const;
  std::uint64_t neg(std::size_t var) const;
  void spill(int var);

  CheckedArray<Variable> vars_;
  CheckedArray<std::int32_t> blockOf_; // the block of each variable's last listing, from 1
  CheckedArray<std::uint64_t> spill_;  // pairs (pos, neg) of carries, by variable, grown when needed
  std::uint64_t existEntries_ = 0, forallEntries_ = 0;
  std::int32_t blocks_ = 0, existBlocks_ = 0;
  bool firstBlockUniversal_ = false;
  // Sums over the clauses.
  std::uint64_t literals_ = 0, unary_ = 0, binary_ = 0, ternaryMore_ = 0, posHorn_ = 0, negHorn_ = 0;
};

// The reader calls it for every clause: inline.
inline void FeatureCounter::addClause(const int *lits, std::size_t n) {
  literals_ += n;
  // One pass, without a branch on the sign, which no predictor guesses. No
  // count can reach its field's end before the file has had that many
  // literals: until then nothing is checked. The sums by quantifier come
  // from the variables' counts at the end.
  const bool mayCarry = literals_ >= NEG_MASK;
  Variable *table = vars_.data();
  std::size_t size = vars_.size();
  std::uint32_t pos = 0;
  for (std::size_t i = 0; i < n; i++) {
    const int lit = lits[i];
    const int var = lit < 0 ? -lit : lit;
    if (static_cast<std::size_t>(var) >= size) {
      variable(var);
      table = vars_.data();
      size = vars_.size();
    }
    Variable &v = table[var];
    if (mayCarry && (v.pos() == UINT32_MAX || v.neg() == NEG_MASK)) spill(var);
    const std::uint32_t positive = lit > 0;
    v.bits += std::uint64_t{1} << ((positive ^ 1) << 5);
    pos += positive;
  }
  if (n == 1)
    unary_++;
  else if (n == 2)
    binary_++;
  else
    ternaryMore_++;
  posHorn_ += pos <= 1;
  negHorn_ += n - pos <= 1;
}

// The block of -features as Tarnu prints it (see OutputTexts.h).
std::string InstanceFeatures_text(const InstanceFeatures &features);

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
  void addClause(const int *lits, std::size_t n);
  // The values of everything added so far.
  InstanceFeatures finish() const;

private:
  // 8 bytes per variable, the only table a literal touches: its kind and its
  // occurrences (a count that passes 2^30 carries into spill_).
  struct Variable {
    std::uint32_t pos = 0;
    std::uint32_t negAndKind = 0; // kind in the top two bits, the negative count below
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
  std::uint64_t clauses_ = 0, literals_ = 0, unary_ = 0, binary_ = 0, ternaryMore_ = 0, posHorn_ = 0, negHorn_ = 0;
  std::uint64_t posLits_ = 0, forallLits_ = 0, forallPos_ = 0;
};

// The block of -features as Tarnu prints it (see OutputTexts.h).
std::string InstanceFeatures_text(const InstanceFeatures &features);

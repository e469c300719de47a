// InstanceFeatures: the counting of the 46 features and the text of their
// block. Every count and sum is an exact integer (the weighted ones in 128
// bits, which no file can overflow); each mean is one division in double
// precision, and each ratio divides two such means, as the published values
// were computed.
//
// Decided where the published extractor gives no rule to follow:
// - Every empty clause counts as a clause of no literals, each time one is
//   read, and so does every clause after it: the features describe the file,
//   not the formula that its first empty clause makes false.
// - Free variables (in a clause, in no block) count as entries of the
//   outermost existential block, the one they join or the one they form.
// - A file without quantifier lines has no blocks: its variables are free,
//   and form one existential block, as the reader's default block does.

#include "features/InstanceFeatures.h"

#include <cassert>
#include <charconv>
#include <cmath>

#include "base/OutputTexts.h"

namespace {
constexpr const char *MODULE = "InstanceFeatures";
constexpr int SITE_VARIABLES = 31;

using Wide = unsigned __int128;

double mean(Wide sum, std::uint64_t n) { return n ? static_cast<double>(sum) / static_cast<double>(n) : 0.0; }
double ratio(double a, double b) {
  if (a == 0 || b == 0) return 0.0;
  double r = a / b;
  return r < 0 ? 0.0 : r;
}

// Sums over a set of variables: occurrences, and occurrences weighted by
// the variable's level.
struct VariableSums {
  std::uint64_t size = 0;
  Wide pos = 0, neg = 0, wPos = 0, wNeg = 0, wProducts = 0;
  void add(std::uint64_t p, std::uint64_t n, std::uint64_t level) {
    size++;
    pos += p;
    neg += n;
    wPos += static_cast<Wide>(level) * p;
    wNeg += static_cast<Wide>(level) * n;
    wProducts += static_cast<Wide>(level) * p * n;
  }
  double meanPos() const { return mean(pos, size); }
  double meanNeg() const { return mean(neg, size); }
  double meanOcc() const { return mean(pos + neg, size); }
  double meanWPos() const { return mean(wPos, size); }
  double meanWNeg() const { return mean(wNeg, size); }
  double meanWOcc() const { return mean(wPos + wNeg, size); }
};
} // namespace

FeatureCounter::FeatureCounter(int declaredVariables)
    : vars_(SITE_VARIABLES, MODULE), blockOf_(SITE_VARIABLES, MODULE), spill_(SITE_VARIABLES, MODULE) {
  vars_.growZeroed(static_cast<std::size_t>(declaredVariables > 0 ? declaredVariables : 0) + 1);
}

FeatureCounter::Variable &FeatureCounter::variable(int var) {
  auto index = static_cast<std::size_t>(var);
  if (index >= vars_.size()) vars_.growZeroed(index + 1);
  return vars_[index];
}

std::uint64_t FeatureCounter::pos(std::size_t var) const {
  return vars_[var].pos() + (2 * var < spill_.size() ? spill_[2 * var] : 0);
}
std::uint64_t FeatureCounter::neg(std::size_t var) const {
  return vars_[var].neg() + (2 * var + 1 < spill_.size() ? spill_[2 * var + 1] : 0);
}

// A count about to pass its field: the field's worth moves to spill_.
void FeatureCounter::spill(int var) {
  auto index = static_cast<std::size_t>(var);
  spill_.growZeroed(2 * index + 2);
  Variable &v = vars_[index];
  spill_[2 * index] += v.pos();
  spill_[2 * index + 1] += v.neg();
  v.bits = std::uint64_t{v.kind()} << (32 + NEG_BITS);
}

void FeatureCounter::addBlock(char letter, const int *vars, std::size_t n) {
  const bool universal = letter == 'a';
  if (blocks_ == 0) firstBlockUniversal_ = universal;
  blocks_++;
  (universal ? forallEntries_ : existEntries_) += n;
  if (!universal) existBlocks_++;
  for (std::size_t i = 0; i < n; i++) {
    assert(vars[i] > 0);
    Variable &v = variable(vars[i]);
    v.bits = (v.bits & ~(std::uint64_t{3} << (32 + NEG_BITS))) |
             (std::uint64_t{universal ? UNIVERSAL : EXISTENTIAL} << (32 + NEG_BITS));
    auto index = static_cast<std::size_t>(vars[i]);
    if (index >= blockOf_.size()) blockOf_.growZeroed(index + 1);
    blockOf_[index] = blocks_;
  }
}

InstanceFeatures FeatureCounter::finish() const {
  std::uint64_t free = 0;
  for (std::size_t i = 1; i < vars_.size(); i++)
    if (vars_[i].kind() == 0 && pos(i) + neg(i) > 0) free++;
  // Free variables are outermost and existential: they join an existential
  // first block, or else form a new block 1 below which every level is one
  // deeper.
  const bool newBlock = free > 0 && (blocks_ == 0 || firstBlockUniversal_);
  const std::uint64_t shift = newBlock ? 1 : 0;
  VariableSums all, exist, forall;
  for (std::size_t i = 1; i < vars_.size(); i++) {
    const std::uint32_t kind = vars_[i].kind();
    const std::uint64_t p = pos(i), n = neg(i);
    if (kind == 0 && p + n == 0) continue; // declared, neither quantified nor used
    const std::uint64_t level = kind == 0 ? 1 : static_cast<std::uint64_t>(blockOf_[i]) + shift;
    all.add(p, n, level);
    (kind == UNIVERSAL ? forall : exist).add(p, n, level);
  }

  const std::uint64_t existVars = existEntries_ + free, forallVars = forallEntries_;
  const std::uint64_t existSets = static_cast<std::uint64_t>(existBlocks_) + shift;
  const std::uint64_t forallSets = static_cast<std::uint64_t>(blocks_ - existBlocks_);
  const std::uint64_t c = unary_ + binary_ + ternaryMore_;
  InstanceFeatures f;
  f.counts = {
      existVars, forallVars, existVars + forallVars, c,        literals_, existSets, forallSets, existSets + forallSets,
      unary_,    binary_,    ternaryMore_,           posHorn_, negHorn_};
  // The literals by sign and quantifier: the occurrences of the variables.
  const double lits = mean(literals_, c), meanNeg = mean(all.neg, c), meanExist = mean(exist.pos + exist.neg, c);
  const double meanExistPos = mean(exist.pos, c), meanExistNeg = mean(exist.neg, c);
  const double meanForallPos = mean(forall.pos, c), meanForallNeg = mean(forall.neg, c);
  f.reals = {
      meanExist,                                                        // EXIST_LIT_PER_CLAUSE
      mean(forall.pos + forall.neg, c),                                 // FORALL_LIT_PER_CLAUSE
      mean(existVars, existSets),                                       // EXIST_VARS_PER_SET
      meanForallPos,                                                    // FORALL_POS_LITS_PER_CLAUSE
      meanForallNeg,                                                    // FORALL_NEG_LITS_PER_CLAUSE
      all.meanPos(),                                                    // OCCS_POS_NO_PER_VAR
      forall.meanOcc(),                                                 // OCCS_FORALL_NO_PER_VAR
      forall.meanPos(),                                                 // OCCS_FORALL_POS_NO_PER_VAR
      all.meanWPos(),                                                   // W_OCCS_POS_NO_PER_VAR
      forall.meanWOcc(),                                                // W_OCCS_FORALL_NO_PER_VAR
      forall.meanWPos(),                                                // W_OCCS_FORALL_POS_NO_PER_VAR
      mean(exist.wProducts, exist.size),                                // W_PRODUCTS
      ratio(meanNeg, lits),                                             // LITN_LIT
      ratio(meanExistPos, lits),                                        // LITEP_LIT
      ratio(meanExistNeg, meanExist),                                   // LITEN_LITE
      ratio(meanExistNeg, meanNeg),                                     // LITEN_LITN
      ratio(meanForallNeg, lits),                                       // LITFN_LIT
      ratio(meanForallPos, meanForallNeg),                              // LITFP_LITFN
      ratio(all.meanPos(), all.meanNeg()),                              // OCCP_OCCN
      ratio(exist.meanOcc(), all.meanOcc()),                            // OCCE_OCC
      ratio(exist.meanNeg(), all.meanOcc()),                            // OCCEN_OCC
      ratio(forall.meanPos(), forall.meanOcc()),                        // OCCFP_OCCF
      ratio(exist.meanNeg(), exist.meanOcc()),                          // OCCEN_OCCE
      ratio(exist.meanNeg(), all.meanNeg()),                            // OCCEN_OCCN
      ratio(forall.meanPos(), forall.meanNeg()),                        // OCCFP_OCCFN
      ratio(static_cast<double>(ternaryMore_), static_cast<double>(c)), // TERMORE_CLAUSE
      ratio(static_cast<double>(negHorn_), static_cast<double>(c)),     // NEG_HORN_CLAUSE
      ratio(all.meanWNeg(), all.meanWOcc()),                            // WOCCN_WOCC
      ratio(exist.meanWPos(), all.meanWOcc()),                          // WOCCEP_WOCC
      ratio(forall.meanWNeg(), all.meanWOcc()),                         // WOCCFN_WOCC
      ratio(exist.meanWPos(), exist.meanWOcc()),                        // WOCCEP_WOCCE
      ratio(exist.meanWPos(), all.meanWPos()),                          // WOCCEP_WOCCP
      ratio(forall.meanWNeg(), all.meanWNeg()),                         // WOCCFN_WOCCN
  };
  return f;
}

std::string InstanceFeatures_text(const InstanceFeatures &features) {
  static_assert(InstanceFeatures::VALUES == FEATURE_NAMES.size() && InstanceFeatures::COUNTS == FEATURE_COUNTS);
  std::string text(FEATURES_START);
  char number[32];
  auto append = [&](std::to_chars_result written) {
    assert(written.ec == std::errc());
    text.append(number, written.ptr);
  };
  for (std::size_t i = 0; i < FEATURE_NAMES.size(); i++) {
    text += FEATURE_NAMES[i];
    text += FEATURE_SEPARATOR;
    if (i < FEATURE_COUNTS) {
      append(std::to_chars(number, number + sizeof number, features.counts[i]));
    } else {
      const double value = features.reals[i - FEATURE_COUNTS];
      assert(std::isfinite(value) && !std::signbit(value));
      append(std::to_chars(number, number + sizeof number, value));
    }
    text += '\n';
  }
  text += FEATURE_TIME_START;
  append(std::to_chars(number, number + sizeof number, features.timeMs));
  text += FEATURE_TIME_END;
  return text;
}

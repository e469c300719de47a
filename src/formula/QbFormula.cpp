// QbFormula: construction with deferred coding, the dependency computation of
// a quantifier's clauses, and the formula summary.
//
// The codes are fully determined by the input: free variables take 1..F in
// reverse order of first appearance, the prefix entries follow in order. So
// instead of renumbering every stored code whenever a new free variable turns
// up (quadratic in the number of free variables), the clauses keep their input
// literals until finalization and are coded once, with the same result.

#include "formula/QbFormula.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "base/OutputTexts.h"
#include "base/RunStatus.h"
#include "normalize/QbFormulaNormalize.h"
#include "storage/AbnormalExit.h"
#include "storage/Memory.h"
#include "storage/Prefetch.h"

namespace {
constexpr int SITE_NEW_FORMULA = 61;
constexpr int SITE_NAME = 64;
constexpr int SITE_CODE_TABLES = 70;
constexpr int SITE_INPUT_TABLE = 78;
constexpr int SITE_PREFIX = 83;
constexpr int SITE_TOO_MANY_CODES = 88;
constexpr int SITE_STORE = 94;
constexpr int SITE_RAW_CLAUSES = 97;
constexpr int SITE_MARKS = 284;
// Entries of the marking array scanned in the time of one comparison of a
// sort (measured: a scan entry is a load and a rarely taken branch).
constexpr double SCAN_PER_COMPARE = 8.0;
constexpr const char *MODULE = "QbFormula";
// Codes are ints; far below that, memory runs out anyway.
constexpr long MAX_CODES = 1L << 30;
// Raw entries ahead of the clause being coded whose table entries are fetched.
constexpr std::ptrdiff_t PREFETCH_DISTANCE = 64;

void growInputTable(QbFormula *f, int var) {
  if (static_cast<std::size_t>(var) >= f->inputToCode.size())
    f->inputToCode.growZeroed(static_cast<std::size_t>(var) + 1);
}

void countNewCode(QbFormula *f) {
  if (f->nextVarCode >= MAX_CODES) abnormalExit(ERR_NO_MEMORY, SITE_TOO_MANY_CODES, MODULE);
  f->nextVarCode++;
}

void attachAt(QbFormula *f, QbfClause *c, int var) {
  assert(QbfClause_getDeepestVarCode(c) == var && "a clause hangs at its deepest variable");
  QbfClause *&head = f->clausesAtQuantifier[static_cast<std::size_t>(var)];
  assert((!head || !head->previous()) && "the head of a list has no predecessor");
  c->setPrevious(nullptr);
  c->setNext(head);
  if (head) head->setPrevious(c);
  head = c;
}

void detachFrom(QbFormula *f, QbfClause *c, int var) {
  QbfClause *previous = c->previous(), *next = c->next();
  assert((previous ? previous->next() == c : f->clausesAtQuantifier[static_cast<std::size_t>(var)] == c) &&
         "the clause is in the list of its variable");
  assert((!next || next->previous() == c) && "the links of a list agree");
  if (previous)
    previous->setNext(next);
  else
    f->clausesAtQuantifier[static_cast<std::size_t>(var)] = next;
  if (next) next->setPrevious(previous);
  c->setNext(nullptr);
  c->setPrevious(nullptr);
}

// Calls visit(n, lits) for every clause added, in the order they were added.
template <typename Visit> void forEachRawClause(QbFormula *f, Visit visit) {
  int *raw = f->rawClauses.data();
  const std::size_t size = f->rawClauses.size();
  for (std::size_t at = 0; at < size;) {
    int n = raw[at];
    visit(n, raw + at + 1);
    at += 1 + static_cast<std::size_t>(n);
  }
}

// Clauses are short: copies of 8 bytes (which compile to single moves) beat
// a call to memcpy of the whole.
void copyClause(char *to, const QbfClause *c, std::size_t bytes) {
  const char *from = reinterpret_cast<const char *>(c);
  for (std::size_t at = 0; at < bytes; at += 8) std::memcpy(to + at, from + at, 8);
}

void sortByVariable(int *lits, int n) {
  auto order = [](int &a, int &b) {
    if (varOfLit(a) > varOfLit(b)) std::swap(a, b);
  };
  if (n == 2) {
    order(lits[0], lits[1]);
  } else if (n == 3) { // the commonest clause: three compare-exchanges
    order(lits[0], lits[1]);
    order(lits[1], lits[2]);
    order(lits[0], lits[1]);
  } else if (n <= 16) {
    for (int i = 1; i < n; i++) {
      int lit = lits[i];
      int var = varOfLit(lit);
      int j = i;
      for (; j > 0 && varOfLit(lits[j - 1]) > var; j--) lits[j] = lits[j - 1];
      lits[j] = lit;
    }
  } else {
    std::sort(lits, lits + n, [](int a, int b) { return varOfLit(a) < varOfLit(b); });
  }
}
} // namespace

QbFormula::QbFormula()
    : quantifierType(SITE_CODE_TABLES, MODULE), codeToInput(SITE_CODE_TABLES, MODULE),
      clausesAtQuantifier(SITE_CODE_TABLES, MODULE), inputToCode(SITE_INPUT_TABLE, MODULE),
      prefixInputs(SITE_PREFIX, MODULE), prefixTypes(SITE_PREFIX, MODULE), freeInputs(SITE_PREFIX, MODULE),
      rawClauses(SITE_RAW_CLAUSES, MODULE), occurrences(SITE_CODE_TABLES, "QbFormulaNormalize"),
      occurrenceStart(SITE_CODE_TABLES, "QbFormulaNormalize"), occurrenceCount(SITE_CODE_TABLES, "QbFormulaNormalize"),
      pureElemOfLit(SITE_CODE_TABLES, "QbFormulaNormalize") {}

QbFormula::~QbFormula() {
  std::free(name);
  std::free(store);
}

QbFormula *QbFormula_new(const char *name, int claimedVarNumber, int claimedClauseNumber) {
  void *record = checkedMalloc(sizeof(QbFormula), SITE_NEW_FORMULA, MODULE);
  auto *f = new (record) QbFormula();
  std::size_t length = std::strlen(name);
  f->name = static_cast<char *>(checkedMalloc(length + 1, SITE_NAME, MODULE));
  std::memcpy(f->name, name, length + 1);
  f->claimedVarNumber = claimedVarNumber;
  f->claimedClauseNumber = claimedClauseNumber;
  f->varNumber = claimedVarNumber + 1;
  return f;
}

void QbFormula_addQuantification(QbFormula *f, int type, int n, const int *vars) {
  for (int i = 0; i < n; i++) {
    int var = vars[i];
    if (var < 1) continue; // not a variable; the reader never passes one
    growInputTable(f, var);
    countNewCode(f);
    f->prefixInputs.push(var);
    f->prefixTypes.push(static_cast<char>(type));
    f->inputToCode[static_cast<std::size_t>(var)] = static_cast<int>(f->prefixInputs.size());
  }
}

void QbFormula_addClause(QbFormula *f, int n, const int *lits) {
  if (n == 0) { // the reader never passes an empty clause
    f->emptyClauseFound = 1;
    std::exit(EXIT_ERROR);
  }
  std::size_t at = f->rawClauses.size();
  f->rawClauses.growUninitialized(at + 1 + static_cast<std::size_t>(n));
  int *record = &f->rawClauses[at];
  record[0] = n;
  for (int i = 0; i < n; i++) {
    int lit = lits[i];
    record[1 + i] = lit;
    int var = varOfLit(lit);
    if (var > f->largestInput) f->largestInput = var;
  }
  f->clausesAdded++;
}

// Finalization. The clauses end up in one block of memory, grouped by the
// code of the variable they are attached at (ascending), each group holding
// its clauses in reverse creation order: the order of a list with head
// insertion. Walks over the clauses of a variable then read consecutive
// memory, which matters more than anything else for speed on large files.
// Every pass reads the clauses in order and writes to few places at a time:
// on large files, scattered accesses cost far more than the passes.
namespace {
class Finalization {
public:
  explicit Finalization(QbFormula *f)
      : f_(f), prefixCount_(static_cast<int>(f->prefixInputs.size())), prefixBucketBytes_(SITE_CODE_TABLES, MODULE),
        freeBucketBytes_(SITE_CODE_TABLES, MODULE), buckets_(SITE_CODE_TABLES, MODULE) {}

  void run() {
    chooseBucketSize();
    keyAndSortClauses();
    assignCodes();
    planBuckets();
    storeClausesByBucket();
    groupBucketsByVariable();
  }

private:
  static constexpr int KEY_BASE = 1 << 30;
  static constexpr std::size_t BUCKET_BYTES = std::size_t{256} << 10;

  // A bucket is a range of 2^shift consecutive prefix positions, or of free
  // ranks, about BUCKET_BYTES of clauses. About 4 bytes per raw entry and 20
  // more per clause: enough to pick the size before the exact sizes are known.
  void chooseBucketSize() {
    if (f_->largestInput > 0) growInputTable(f_, f_->largestInput);
    const std::size_t estimatedBytes = 4 * f_->rawClauses.size() + 20 * f_->clausesAdded;
    const std::size_t codes = static_cast<std::size_t>(prefixCount_) + static_cast<std::size_t>(f_->largestInput) + 1;
    while (shift_ < 30 && (codes >> shift_) > 1 && (codes >> shift_) * BUCKET_BYTES > estimatedBytes) shift_++;
    prefixBucketBytes_.growTo(((static_cast<std::size_t>(prefixCount_) + 1) >> shift_) + 1, 0);
  }

  // In creation order: meet the free variables (ranked by first appearance),
  // replace each literal by a sort key that orders variables as their codes
  // will (free variables, later ones first, then the prefix), sort, and add
  // the clause's size to its bucket.
  void keyAndSortClauses() {
    int *inputToCode = f_->inputToCode.data();
    const int *rawEnd = f_->rawClauses.data() + f_->rawClauses.size();
    forEachRawClause(f_, [&](int n, int *lits) {
      // The table lookups are scattered over the whole table: ask for those
      // of the clauses a little further on while this one is worked on.
      const int *ahead = lits + PREFETCH_DISTANCE;
      if (ahead + 2 < rawEnd) {
        prefetch(&inputToCode[varOfLit(ahead[0])]);
        prefetch(&inputToCode[varOfLit(ahead[2])]);
      }
      for (int i = 0; i < n; i++) {
        int var = varOfLit(lits[i]);
        int state = inputToCode[var];
        if (state == 0) {
          countNewCode(f_);
          f_->freeInputs.push(var);
          state = -++freeCount_;
          inputToCode[var] = state;
          freeBucketBytes_.growTo((static_cast<std::size_t>(freeCount_ - 1) >> shift_) + 1, 0);
        }
        int key = state > 0 ? KEY_BASE + state : KEY_BASE + state + 1;
        lits[i] = lits[i] < 0 ? -key : key;
      }
      sortByVariable(lits, n);
      int deepest = varOfLit(lits[n - 1]);
      std::size_t bytes = QbfClause_bytes(static_cast<std::size_t>(n));
      if (deepest > KEY_BASE)
        prefixBucketBytes_[static_cast<std::size_t>(deepest - KEY_BASE - 1) >> shift_] += bytes;
      else
        freeBucketBytes_[static_cast<std::size_t>(KEY_BASE - deepest) >> shift_] += bytes;
      totalBytes_ += bytes;
    });
  }

  // Free variables take the codes 1..F, the one met last first; the prefix
  // entries follow in order. Only the variables met have an entry of the
  // input table to convert (it may be large and mostly untouched); a
  // variable quantified twice keeps its later code.
  void assignCodes() {
    f_->varNumber = f_->nextVarCode = freeCount_ + prefixCount_ + 1;
    f_->freeVarNumber = freeCount_;
    codes_ = static_cast<std::size_t>(f_->varNumber);
    f_->quantifierType.growTo(codes_, 'u');
    f_->codeToInput.growTo(codes_, 0);
    f_->clausesAtQuantifier.growTo(codes_, nullptr);
    int *inputToCode = f_->inputToCode.data();
    for (int rank = 1; rank <= freeCount_; rank++) {
      std::size_t code = static_cast<std::size_t>(freeCount_ - rank + 1);
      f_->quantifierType[code] = 'e';
      f_->codeToInput[code] = f_->freeInputs[static_cast<std::size_t>(rank - 1)];
      inputToCode[f_->codeToInput[code]] = static_cast<int>(code);
    }
    for (int p = 0; p < prefixCount_; p++) {
      std::size_t code = static_cast<std::size_t>(freeCount_ + 1 + p);
      f_->quantifierType[code] = f_->prefixTypes[static_cast<std::size_t>(p)];
      f_->codeToInput[code] = f_->prefixInputs[static_cast<std::size_t>(p)];
    }
    for (int p = 0; p < prefixCount_; p++)
      inputToCode[f_->prefixInputs[static_cast<std::size_t>(p)]] = freeCount_ + 1 + p;
    f_->prefixInputs.release();
    f_->prefixTypes.release();
    f_->freeInputs.release();
  }

  // The buckets in code order: free ranks descending, then prefix positions.
  // Bucket i covers the codes [buckets_[i].firstCode, buckets_[i + 1].firstCode).
  void planBuckets() {
    const std::size_t freeCodes = static_cast<std::size_t>(freeCount_);
    std::size_t offset = 0;
    for (std::size_t b = freeBucketBytes_.size(); b-- > 0;) {
      std::size_t lastRank = std::min(freeCodes, ((b + 1) << shift_)); // ranks (b << shift) + 1 .. lastRank
      buckets_.push(Bucket{freeCodes - lastRank + 1, offset, offset});
      offset += freeBucketBytes_[b];
    }
    for (std::size_t b = 0; b < prefixBucketBytes_.size(); b++) {
      std::size_t firstCode = freeCodes + 1 + (b << shift_);
      if (firstCode >= codes_) break;
      buckets_.push(Bucket{firstCode, offset, offset});
      offset += prefixBucketBytes_[b];
    }
    freeBuckets_ = freeBucketBytes_.size();
    freeBucketBytes_.release();
    prefixBucketBytes_.release();
  }

  std::size_t bucketOf(std::size_t code) const {
    const std::size_t freeCodes = static_cast<std::size_t>(freeCount_);
    return code <= freeCodes ? freeBuckets_ - 1 - ((freeCodes - code) >> shift_)
                             : freeBuckets_ + ((code - freeCodes - 1) >> shift_);
  }

  // Every key becomes its code (key - KEY_BASE + F), and each clause is
  // appended, still in creation order, to its bucket's part of the store.
  // (Links between clauses are 32-bit distances in 8-byte units.)
  void storeClausesByBucket() {
    if (totalBytes_ / 8 > static_cast<std::size_t>(INT_MAX)) abnormalExit(ERR_NO_MEMORY, SITE_STORE, MODULE);
    f_->store = static_cast<char *>(checkedMalloc(totalBytes_ ? totalBytes_ : 1, SITE_STORE, MODULE));
    f_->storeBytes = totalBytes_;
    const int shiftToCode = freeCount_ - KEY_BASE;
    unsigned rank = 0;
    forEachRawClause(f_, [&](int n, int *lits) {
      for (int i = 0; i < n; i++) lits[i] = lits[i] < 0 ? lits[i] - shiftToCode : lits[i] + shiftToCode;
      std::size_t &fill = buckets_[bucketOf(static_cast<std::size_t>(varOfLit(lits[n - 1])))].fill;
      QbfClause_new(f_->store + fill, n, lits, rank++);
      fill += QbfClause_bytes(static_cast<std::size_t>(n));
    });
    f_->rawClauses.release();
    f_->clauseNumber = static_cast<int>(rank);
  }

  // Bucket by bucket: set it aside, count its groups, deal its clauses out to
  // the groups from their ends, and link each group into the list of its
  // variable.
  void groupBucketsByVariable() {
    CheckedArray<char> aside(SITE_STORE, MODULE);
    CheckedArray<std::size_t> groupEnd(SITE_CODE_TABLES, MODULE);
    for (std::size_t b = 0; b < buckets_.size(); b++) {
      const std::size_t firstCode = buckets_[b].firstCode;
      const std::size_t endCode = b + 1 < buckets_.size() ? buckets_[b + 1].firstCode : codes_;
      const std::size_t begin = buckets_[b].begin, bytes = buckets_[b].fill - begin;
      if (bytes == 0) continue;
      aside.clear();
      aside.growUninitialized(bytes);
      std::memcpy(aside.data(), f_->store + begin, bytes);
      auto eachClause = [&](auto visit) {
        for (std::size_t at = 0; at < bytes;) {
          auto *c = reinterpret_cast<QbfClause *>(aside.data() + at);
          at += QbfClause_bytes(static_cast<std::size_t>(c->size));
          visit(c, &groupEnd[static_cast<std::size_t>(QbfClause_getDeepestVarCode(c)) - firstCode]);
        }
      };
      groupEnd.clear();
      groupEnd.growTo(endCode - firstCode, 0);
      eachClause([](QbfClause *c, std::size_t *end) { *end += QbfClause_bytes(static_cast<std::size_t>(c->size)); });
      std::size_t end = begin;
      for (std::size_t g = 0; g < groupEnd.size(); g++) groupEnd[g] = end += groupEnd[g];
      eachClause([&](QbfClause *c, std::size_t *at) {
        std::size_t clauseBytes = QbfClause_bytes(static_cast<std::size_t>(c->size));
        *at -= clauseBytes;
        copyClause(f_->store + *at, c, clauseBytes);
      });
      // Each groupEnd now marks the start of its group.
      for (std::size_t g = 0; g < groupEnd.size(); g++) {
        std::size_t groupStop = g + 1 < groupEnd.size() ? groupEnd[g + 1] : begin + bytes;
        linkGroup(firstCode + g, groupEnd[g], groupStop);
      }
    }
  }

  void linkGroup(std::size_t code, std::size_t at, std::size_t stop) {
    QbfClause *previous = nullptr;
    while (at < stop) {
      auto *c = reinterpret_cast<QbfClause *>(f_->store + at);
      at += QbfClause_bytes(static_cast<std::size_t>(c->size));
      assert(QbfClause_getDeepestVarCode(c) == static_cast<int>(code) && "a group holds the clauses of its variable");
      // As insertion at the head in creation order would leave them.
      assert((!previous || previous->rank > c->rank) && "a list holds its clauses the latest first");
      c->setPrevious(previous);
      c->setNext(nullptr);
      if (previous)
        previous->setNext(c);
      else
        f_->clausesAtQuantifier[code] = c;
      previous = c;
    }
  }

  struct Bucket {
    std::size_t firstCode, begin, fill;
  };

  QbFormula *f_;
  const int prefixCount_;
  int shift_ = 0;
  int freeCount_ = 0;
  std::size_t totalBytes_ = 0;
  std::size_t codes_ = 0;
  std::size_t freeBuckets_ = 0;
  CheckedArray<std::size_t> prefixBucketBytes_;
  CheckedArray<std::size_t> freeBucketBytes_;
  CheckedArray<Bucket> buckets_;
};
} // namespace

void QbFormula_finalize(QbFormula *f) { Finalization(f).run(); }

void QbFormula_delete(QbFormula *f) {
  if (!f) return;
  f->~QbFormula();
  std::free(f);
}

const char *QbFormula_getName(const QbFormula *f) { return f->name; }

void QbFormula_deindexClause(QbFormula *f, QbfClause *c) {
  if (c->size >= 1) detachFrom(f, c, QbfClause_getDeepestVarCode(c));
}

void QbFormula_reindexClause(QbFormula *f, QbfClause *c) {
  if (c->size >= 1) attachAt(f, c, QbfClause_getDeepestVarCode(c));
}

namespace {
// The marking array of collectDependencies: one entry per code, borrowed
// from the scratch arena and given back with every entry at -1, so that only
// a fresh block needs initialising.
class Marks {
public:
  explicit Marks(int n) {
    const long long bytes = 4LL * n + 4;
    int fresh = 1;
    if (bytes <= INT_MAX)
      mark_ = static_cast<int *>(Memory_allocBuffer(&slot_, &fresh, static_cast<int>(bytes)));
    else
      mark_ = static_cast<int *>(checkedMalloc(static_cast<std::size_t>(bytes), SITE_MARKS, MODULE));
    if (fresh) std::fill(mark_, mark_ + n + 1, -1);
  }
  ~Marks() {
    if (slot_ >= 0)
      Memory_release(slot_);
    else
      std::free(mark_);
  }
  Marks(const Marks &) = delete;
  Marks &operator=(const Marks &) = delete;
  int &operator[](int code) { return mark_[code]; }

private:
  int *mark_ = nullptr;
  int slot_ = -1;
};

// The distinct codes of the clauses attached at q, ascending, appended to
// out; returns their number.
int collectDependencies(QbFormula *f, int q, CheckedArray<int> &out) {
  QbfClause *head = f->clausesAtQuantifier[static_cast<std::size_t>(q)];
  if (!head) return 0;
  Marks mark(f->varNumber);

  // 1. Mark every code once; the marks link the codes met into a chain
  //    (last met first) that ends in -2.
  int found = 0, chain = -2, lowest = q; // the highest is q itself
  for (QbfClause *c = head; c; c = c->next())
    for (int i = 0; i < c->size; i++) {
      int var = varOfLit(c->literals()[i]);
      if (mark[var] != -1) continue;
      found++;
      mark[var] = chain;
      chain = var;
      lowest = std::min(lowest, var);
    }

  // 2. Take them in order, clearing the marks. Scanning the marks over the
  //    span of the codes gives them sorted; it pays when that span is short
  //    against the cost of sorting them (the usual case: clauses over nearby
  //    variables). Otherwise the chain is followed and the codes sorted: the
  //    clauses are met mostly in ascending order, so an array filled from
  //    its end is nearly sorted already.
  const std::size_t at = out.size();
  out.growUninitialized(at + static_cast<std::size_t>(found));
  int *result = out.data() + at;
  const double span = static_cast<double>(q - lowest) + 1.0;
  if (span < 16.0 + found * (4.0 + SCAN_PER_COMPARE * std::log2(found + 1.0))) {
    for (int var = lowest, k = 0; var <= q; var++)
      if (mark[var] != -1) {
        result[k++] = var;
        mark[var] = -1;
      }
  } else {
    for (int var = chain, k = found; var != -2;) {
      result[--k] = var;
      var = std::exchange(mark[var], -1);
    }
    if (found <= 16)
      sortByVariable(result, found); // codes are positive: by value
    else
      std::sort(result, result + found);
  }
  return found;
}
} // namespace

int QbFormula_appendDependenciesOfClausesAttachedAtQuantifier(QbFormula *f, int q, CheckedArray<int> &out) {
  return collectDependencies(f, q, out);
}

void QbFormula_printData(QbFormula *f) {
  int forall = 0, exists = 0, blocks = 0;
  char previous = 0;
  for (int code = 1; code < f->varNumber; code++) {
    char type = f->quantifierType[static_cast<std::size_t>(code)];
    if (type == 'a')
      forall++;
    else
      exists++;
    if (code == 1 || type != previous) blocks++;
    previous = type;
  }
  FigureTexts figures;
  auto set = [&](Figure figure, int value) { figures[static_cast<std::size_t>(figure)] = std::to_string(value); };
  set(Figure::Variables, forall + exists);
  set(Figure::Forall, forall);
  set(Figure::Exists, exists);
  set(Figure::Alternations, blocks - 1);
  set(Figure::Clauses, f->claimedClauseNumber);
  OutputTexts_print(FORMULA_SUMMARY, figures);
}

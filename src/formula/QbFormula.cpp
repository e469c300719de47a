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
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <new>

#include "normalize/QbFormulaNormalize.h"
#include "run/RunStatus.h"
#include "run/AbnormalExit.h"
#include "storage/Memory.h"
#include "storage/Prefetch.h"

namespace {
constexpr int SITE_NEW_FORMULA = 61;
constexpr int SITE_NAME = 64;
constexpr int SITE_CODE_TABLES = 70;
constexpr int SITE_INPUT_TABLE = 78;
constexpr int SITE_PREFIX = 83;
constexpr int SITE_TOO_MANY_CODES = 88;
constexpr int SITE_DEPENDENCIES = 297;
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

int absolute(int lit) { return lit < 0 ? -lit : lit; }

void growInputTable(QbFormula *f, int var) {
  if (static_cast<std::size_t>(var) >= f->inputToCode.size())
    f->inputToCode.growZeroed(static_cast<std::size_t>(var) + 1);
}

void countNewCode(QbFormula *f) {
  if (f->nextVarCode >= MAX_CODES) abnormalExit(ERR_NO_MEMORY, SITE_TOO_MANY_CODES, MODULE);
  f->nextVarCode++;
}

void attachAt(QbFormula *f, QbfClause *c, int var) {
  QbfClause *&head = f->clausesAtQuantifier[static_cast<std::size_t>(var)];
  c->setPrevious(nullptr);
  c->setNext(head);
  if (head) head->setPrevious(c);
  head = c;
}

void detachFrom(QbFormula *f, QbfClause *c, int var) {
  QbfClause *previous = c->previous(), *next = c->next();
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

// Clauses are short: a word loop beats a call to memcpy.
void copyClause(char *to, const QbfClause *c, std::size_t bytes) {
  auto *words = reinterpret_cast<std::uint64_t *>(to);
  const auto *from = reinterpret_cast<const std::uint64_t *>(c);
  for (std::size_t w = 0; w < bytes / 8; w++) words[w] = from[w];
}

void sortByVariable(int *lits, int n) {
  auto order = [](int &a, int &b) {
    if (absolute(a) > absolute(b)) std::swap(a, b);
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
      int var = absolute(lit);
      int j = i;
      for (; j > 0 && absolute(lits[j - 1]) > var; j--) lits[j] = lits[j - 1];
      lits[j] = lit;
    }
  } else {
    std::sort(lits, lits + n, [](int a, int b) { return absolute(a) < absolute(b); });
  }
}
} // namespace

QbFormula::QbFormula()
    : quantifierType(SITE_CODE_TABLES, MODULE), codeToInput(SITE_CODE_TABLES, MODULE),
      clausesAtQuantifier(SITE_CODE_TABLES, MODULE), inputToCode(SITE_INPUT_TABLE, MODULE),
      prefixInputs(SITE_PREFIX, MODULE), prefixTypes(SITE_PREFIX, MODULE), freeInputs(SITE_PREFIX, MODULE),
      rawClauses(SITE_RAW_CLAUSES, MODULE),
      clauseOfRank(SITE_CODE_TABLES, "QbFormulaNormalize"), occurrences(SITE_CODE_TABLES, "QbFormulaNormalize"),
      occurrenceStart(SITE_CODE_TABLES, "QbFormulaNormalize"),
      occurrenceCount(SITE_CODE_TABLES, "QbFormulaNormalize"), occurrenceSlots(SITE_CODE_TABLES, "QbFormulaNormalize"),
      unitElemOf(SITE_CODE_TABLES, "QbFormulaNormalize"), pureElemOfLit(SITE_CODE_TABLES, "QbFormulaNormalize") {}

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
    int var = absolute(lit);
    if (var > f->largestInput) f->largestInput = var;
  }
  f->clausesAdded++;
}

// Finalization. The clauses end up in one block of memory, grouped by the
// code of the variable they are attached at (ascending), each group holding
// its clauses in reverse creation order: the order of a list with head
// insertion. Walks over the clauses of a variable then read consecutive
// memory, which matters more than anything else for speed on large files.
// Every pass below reads the clauses in order and writes to few places at a
// time: on large files, scattered accesses cost far more than the passes.
//
// 1. In creation order: meet the free variables (ranked by first appearance),
//    replace each literal by a sort key that orders variables as their codes
//    will (free variables, later ones first, then the prefix), sort, and add
//    the clause's size to its bucket: a range of 2^shift consecutive prefix
//    positions, or of free ranks, about BUCKET_BYTES of clauses each.
// 2. Once the number F of free variables is known, every key becomes its code
//    (key - KEY_BASE + F), and each clause is appended, still in creation
//    order, to its bucket's part of the store.
// 3. Bucket by bucket: set it aside, count its groups, deal its clauses out to
//    the groups from their ends, and link each group into the list of its
//    variable.
void QbFormula_finalize(QbFormula *f) {
  constexpr int KEY_BASE = 1 << 30;
  constexpr std::size_t BUCKET_BYTES = std::size_t{256} << 10;
  const int prefixCount = static_cast<int>(f->prefixInputs.size());
  if (f->largestInput > 0) growInputTable(f, f->largestInput);
  int *inputToCode = f->inputToCode.data();

  // About 4 bytes per raw entry and 20 more per clause: enough to pick the
  // bucket size before the exact sizes are known.
  const std::size_t estimatedBytes = 4 * f->rawClauses.size() + 20 * f->clausesAdded;
  const std::size_t estimatedCodes = static_cast<std::size_t>(prefixCount) + static_cast<std::size_t>(f->largestInput) + 1;
  int shift = 0;
  while (shift < 30 && (estimatedCodes >> shift) > 1 && (estimatedCodes >> shift) * BUCKET_BYTES > estimatedBytes) shift++;

  // Pass 1.
  CheckedArray<std::size_t> prefixBucketBytes(SITE_CODE_TABLES, MODULE);
  CheckedArray<std::size_t> freeBucketBytes(SITE_CODE_TABLES, MODULE);
  prefixBucketBytes.growTo(((static_cast<std::size_t>(prefixCount) + 1) >> shift) + 1, 0);
  int freeCount = 0;
  std::size_t totalBytes = 0;
  const int *raw = f->rawClauses.data();
  const int *rawEnd = raw + f->rawClauses.size();
  forEachRawClause(f, [&](int n, int *lits) {
    // The table lookups below are scattered over the whole table: ask for
    // those of the clauses a little further on while this one is worked on.
    const int *ahead = lits + PREFETCH_DISTANCE;
    if (ahead + 2 < rawEnd) {
      prefetch(&inputToCode[absolute(ahead[0])]);
      prefetch(&inputToCode[absolute(ahead[2])]);
    }
    for (int i = 0; i < n; i++) {
      int lit = lits[i];
      int var = absolute(lit);
      int state = inputToCode[var];
      if (state == 0) {
        countNewCode(f);
        f->freeInputs.push(var);
        state = -++freeCount;
        inputToCode[var] = state;
        freeBucketBytes.growTo((static_cast<std::size_t>(freeCount - 1) >> shift) + 1, 0);
      }
      int key = state > 0 ? KEY_BASE + state : KEY_BASE + state + 1;
      lits[i] = lit < 0 ? -key : key;
    }
    sortByVariable(lits, n);
    int deepest = absolute(lits[n - 1]);
    std::size_t bytes = QbfClause_bytes(static_cast<std::size_t>(n));
    if (deepest > KEY_BASE)
      prefixBucketBytes[static_cast<std::size_t>(deepest - KEY_BASE - 1) >> shift] += bytes;
    else
      freeBucketBytes[static_cast<std::size_t>(KEY_BASE - deepest) >> shift] += bytes;
    totalBytes += bytes;
  });

  f->varNumber = f->nextVarCode = freeCount + prefixCount + 1;
  const std::size_t codes = static_cast<std::size_t>(f->varNumber);
  const std::size_t freeCodes = static_cast<std::size_t>(freeCount);
  f->quantifierType.growTo(codes, 'u');
  f->codeToInput.growTo(codes, 0);
  f->clausesAtQuantifier.growTo(codes, nullptr);
  for (int rank = 1; rank <= freeCount; rank++) {
    std::size_t code = static_cast<std::size_t>(freeCount - rank + 1);
    f->quantifierType[code] = 'e';
    f->codeToInput[code] = f->freeInputs[static_cast<std::size_t>(rank - 1)];
  }
  for (int p = 0; p < prefixCount; p++) {
    std::size_t code = freeCodes + 1 + static_cast<std::size_t>(p);
    f->quantifierType[code] = f->prefixTypes[static_cast<std::size_t>(p)];
    f->codeToInput[code] = f->prefixInputs[static_cast<std::size_t>(p)];
  }
  // Only the variables met have an entry to convert (the table may be large
  // and mostly untouched); a variable quantified twice keeps its later code.
  for (int p = 0; p < prefixCount; p++)
    inputToCode[f->prefixInputs[static_cast<std::size_t>(p)]] = freeCount + 1 + p;
  for (int rank = 1; rank <= freeCount; rank++)
    inputToCode[f->freeInputs[static_cast<std::size_t>(rank - 1)]] = freeCount - rank + 1;
  f->prefixInputs.release();
  f->prefixTypes.release();
  f->freeInputs.release();

  // The buckets in code order: free ranks descending, then prefix positions.
  // Bucket i covers codes [bucketFirst[i], bucketFirst[i + 1]).
  struct Bucket {
    std::size_t firstCode, begin, fill;
  };
  CheckedArray<Bucket> bucket(SITE_CODE_TABLES, MODULE);
  std::size_t offset = 0;
  for (std::size_t b = freeBucketBytes.size(); b-- > 0;) {
    std::size_t lastRank = std::min(freeCodes, ((b + 1) << shift)); // ranks (b << shift) + 1 .. lastRank
    bucket.push(Bucket{freeCodes - lastRank + 1, offset, offset});
    offset += freeBucketBytes[b];
  }
  for (std::size_t b = 0; b < prefixBucketBytes.size(); b++) {
    std::size_t firstCode = freeCodes + 1 + (b << shift);
    if (firstCode >= codes) break;
    bucket.push(Bucket{firstCode, offset, offset});
    offset += prefixBucketBytes[b];
  }
  const std::size_t freeBuckets = freeBucketBytes.size();
  freeBucketBytes.release();
  prefixBucketBytes.release();
  auto bucketOf = [&](std::size_t code) {
    return code <= freeCodes ? freeBuckets - 1 - ((freeCodes - code) >> shift)
                             : freeBuckets + ((code - freeCodes - 1) >> shift);
  };

  // Pass 2. (Links between clauses are 32-bit distances in 8-byte units.)
  if (totalBytes / 8 > static_cast<std::size_t>(INT_MAX)) abnormalExit(ERR_NO_MEMORY, SITE_STORE, MODULE);
  f->store = static_cast<char *>(checkedMalloc(totalBytes ? totalBytes : 1, SITE_STORE, MODULE));
  f->storeBytes = totalBytes;
  const int shiftToCode = freeCount - KEY_BASE;
  unsigned rank = 0;
  forEachRawClause(f, [&](int n, int *lits) {
    for (int i = 0; i < n; i++) lits[i] = lits[i] < 0 ? lits[i] - shiftToCode : lits[i] + shiftToCode;
    std::size_t &fill = bucket[bucketOf(static_cast<std::size_t>(absolute(lits[n - 1])))].fill;
    QbfClause_new(f->store + fill, n, lits, rank++);
    fill += QbfClause_bytes(static_cast<std::size_t>(n));
  });
  f->rawClauses.release();

  // Pass 3.
  CheckedArray<char> aside(SITE_STORE, MODULE);
  CheckedArray<std::size_t> groupEnd(SITE_CODE_TABLES, MODULE);
  for (std::size_t b = 0; b < bucket.size(); b++) {
    const std::size_t firstCode = bucket[b].firstCode;
    const std::size_t endCode = b + 1 < bucket.size() ? bucket[b + 1].firstCode : codes;
    const std::size_t begin = bucket[b].begin, bytes = bucket[b].fill - begin;
    if (bytes == 0) continue;
    aside.clear();
    aside.growUninitialized(bytes);
    std::memcpy(aside.data(), f->store + begin, bytes);
    groupEnd.clear();
    groupEnd.growTo(endCode - firstCode, 0);
    auto eachClause = [&](auto visit) {
      for (std::size_t at = 0; at < bytes;) {
        auto *c = reinterpret_cast<QbfClause *>(aside.data() + at);
        at += QbfClause_bytes(static_cast<std::size_t>(c->size));
        visit(c);
      }
    };
    eachClause([&](QbfClause *c) {
      groupEnd[static_cast<std::size_t>(QbfClause_getDeepestVarCode(c)) - firstCode] +=
          QbfClause_bytes(static_cast<std::size_t>(c->size));
    });
    std::size_t end = begin;
    for (std::size_t g = 0; g < groupEnd.size(); g++) groupEnd[g] = end += groupEnd[g];
    eachClause([&](QbfClause *c) {
      std::size_t clauseBytes = QbfClause_bytes(static_cast<std::size_t>(c->size));
      std::size_t &at = groupEnd[static_cast<std::size_t>(QbfClause_getDeepestVarCode(c)) - firstCode];
      at -= clauseBytes;
      copyClause(f->store + at, c, clauseBytes);
    });
    // Each groupEnd now marks the start of its group; link the groups.
    for (std::size_t g = 0; g < groupEnd.size(); g++) {
      std::size_t at = groupEnd[g];
      std::size_t groupStop = g + 1 < groupEnd.size() ? groupEnd[g + 1] : begin + bytes;
      QbfClause *previous = nullptr;
      while (at < groupStop) {
        auto *c = reinterpret_cast<QbfClause *>(f->store + at);
        at += QbfClause_bytes(static_cast<std::size_t>(c->size));
        c->setPrevious(previous);
        c->setNext(nullptr);
        if (previous)
          previous->setNext(c);
        else
          f->clausesAtQuantifier[firstCode + g] = c;
        previous = c;
      }
    }
  }
  f->clauseNumber = static_cast<int>(rank);
}

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
// The distinct codes of the clauses attached at q, ascending, written where
// place(count) says (called once, with their number, when there is one);
// returns their number.
template <typename Place> int collectDependencies(QbFormula *f, int q, Place place) {
  const int n = f->varNumber;
  QbfClause *head = f->clausesAtQuantifier[static_cast<std::size_t>(q)];
  if (!head) return 0;

  // The marking array is borrowed from the scratch arena and left with every
  // entry at -1, so only a fresh block needs initialising. Entry v links the
  // collected codes into a chain ending in -2.
  const long long bytes = 4LL * n + 4;
  int slot = -1, fresh = 0;
  int *mark;
  if (bytes <= INT_MAX) {
    mark = static_cast<int *>(Memory_allocBuffer(&slot, &fresh, static_cast<int>(bytes)));
  } else {
    mark = static_cast<int *>(checkedMalloc(static_cast<std::size_t>(bytes), SITE_MARKS, MODULE));
    fresh = 1;
  }
  if (fresh) std::fill(mark, mark + n + 1, -1);

  int found = 0;
  int chain = -2;
  int lowest = n; // the highest is q itself
  for (QbfClause *c = head; c; c = c->next()) {
    const int *lits = c->literals();
    for (int i = 0; i < c->size; i++) {
      int var = absolute(lits[i]);
      if (mark[var] == -1) {
        found++;
        mark[var] = chain;
        chain = var;
        if (var < lowest) lowest = var;
      }
    }
  }

  // Scanning the marking array over the span of the collected codes gives
  // them in order; it pays when that span is short against the cost of
  // sorting them (the usual case: clauses over nearby variables). Otherwise
  // the chain is followed and the few codes sorted.
  int *result = place(found);
  int k = 0;
  const double span = static_cast<double>(q - lowest) + 1.0;
  if (span < 16.0 + static_cast<double>(found) * (4.0 + SCAN_PER_COMPARE * std::log2(static_cast<double>(found) + 1.0))) {
    for (int var = lowest; var <= q; var++)
      if (mark[var] != -1) {
        result[k++] = var;
        mark[var] = -1;
      }
  } else {
    // The chain holds the codes last collected first, and the clauses are
    // collected in ascending order mostly: filled from the end, the array is
    // nearly sorted already.
    k = found;
    for (int var = chain; var != -2;) {
      result[--k] = var;
      int next = mark[var];
      mark[var] = -1;
      var = next;
    }
    if (found <= 16)
      sortByVariable(result, found); // codes are positive: by value
    else
      std::sort(result, result + found);
  }

  if (slot >= 0)
    Memory_release(slot);
  else
    std::free(mark);
  return found;
}
} // namespace

int *QbFormula_getDependenciesOfClausesAttachedAtQuantifier(QbFormula *f, int q, int *count) {
  int *result = nullptr;
  *count = collectDependencies(f, q, [&](int found) {
    result = static_cast<int *>(checkedMalloc(sizeof(int) * static_cast<std::size_t>(found), SITE_DEPENDENCIES, MODULE));
    return result;
  });
  return result;
}

int QbFormula_appendDependenciesOfClausesAttachedAtQuantifier(QbFormula *f, int q, CheckedArray<int> &out) {
  return collectDependencies(f, q, [&](int found) {
    std::size_t at = out.size();
    out.growUninitialized(at + static_cast<std::size_t>(found));
    return out.data() + at;
  });
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
  std::printf("\n---------QBF--------\n");
  std::printf("   variables: %i\n", forall + exists);
  std::printf("      FORALL: %i\n", forall);
  std::printf("      EXISTS: %i\n", exists);
  std::printf("alternations: %i\n", blocks - 1);
  std::printf("     clauses: %i", f->claimedClauseNumber);
}

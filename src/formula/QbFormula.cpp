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

namespace {
constexpr int SITE_NEW_FORMULA = 61;
constexpr int SITE_NAME = 64;
constexpr int SITE_CODE_TABLES = 70;
constexpr int SITE_INPUT_TABLE = 78;
constexpr int SITE_PREFIX = 83;
constexpr int SITE_TOO_MANY_CODES = 88;
constexpr int SITE_DEPENDENCIES = 297;
constexpr int SITE_STORE = 94;
constexpr int SITE_MARKS = 284;
constexpr const char *MODULE = "QbFormula";
// Codes are ints; far below that, memory runs out anyway.
constexpr long MAX_CODES = 1L << 30;

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
  c->prevAtQuantifier = nullptr;
  c->nextAtQuantifier = head;
  if (head) head->prevAtQuantifier = c;
  head = c;
}

void detachFrom(QbFormula *f, QbfClause *c, int var) {
  if (c->prevAtQuantifier)
    c->prevAtQuantifier->nextAtQuantifier = c->nextAtQuantifier;
  else
    f->clausesAtQuantifier[static_cast<std::size_t>(var)] = c->nextAtQuantifier;
  if (c->nextAtQuantifier) c->nextAtQuantifier->prevAtQuantifier = c->prevAtQuantifier;
  c->nextAtQuantifier = c->prevAtQuantifier = nullptr;
}

// Calls visit(clause, bytes) for every clause under construction, in
// creation order; with release, each chunk is freed once visited.
template <typename Visit> void forEachRawClause(QbFormula *f, bool release, Visit visit) {
  QbFormula::Chunk *chunk = f->firstChunk;
  while (chunk) {
    char *p = chunk->bytes();
    char *end = p + chunk->used;
    while (p < end) {
      auto *c = reinterpret_cast<QbfClause *>(p);
      std::size_t bytes = QbfClause_bytes(static_cast<std::size_t>(c->size));
      p += bytes;
      visit(c, bytes);
    }
    QbFormula::Chunk *next = chunk->next;
    if (release) std::free(chunk);
    chunk = next;
  }
  if (release) f->firstChunk = f->lastChunk = nullptr;
}

// Clauses are short: a word loop beats a call to memcpy.
void copyClause(char *to, const QbfClause *c, std::size_t bytes) {
  auto *words = reinterpret_cast<std::uint64_t *>(to);
  const auto *from = reinterpret_cast<const std::uint64_t *>(c);
  for (std::size_t w = 0; w < bytes / 8; w++) words[w] = from[w];
}

void sortByVariable(int *lits, int n) {
  if (n <= 16) {
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
      positiveOccurrences(SITE_CODE_TABLES, "QbFormulaNormalize"),
      negativeOccurrences(SITE_CODE_TABLES, "QbFormulaNormalize"),
      occurrenceSlots(SITE_CODE_TABLES, "QbFormulaNormalize"), pureElemOfLit(SITE_CODE_TABLES, "QbFormulaNormalize") {}

QbFormula::~QbFormula() {
  std::free(name);
  std::free(store);
  Chunk *chunk = firstChunk;
  while (chunk) {
    Chunk *next = chunk->next;
    std::free(chunk);
    chunk = next;
  }
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

QbfClause *QbFormula_addClause(QbFormula *f, int n, const int *lits) {
  if (n == 0) { // the reader never passes an empty clause
    f->emptyClauseFound = 1;
    std::exit(EXIT_ERROR);
  }
  for (int i = 0; i < n; i++) {
    int var = absolute(lits[i]);
    if (var > f->largestInput) f->largestInput = var;
  }
  return QbfClause_new(f, n, lits);
}

// Finalization. The clauses end up in one block of memory, grouped by the
// code of the variable they are attached at (ascending), each group holding
// its clauses in reverse creation order: the order of a list with head
// insertion. Walks over the clauses of a variable then read consecutive
// memory, which matters more than anything else for speed on large files.
//
// 1. In creation order: meet the free variables (ranked by first appearance),
//    replace each literal by a sort key that orders variables as their codes
//    will (free variables, later ones first, then the prefix), sort, and add
//    the clause's size to the group of its deepest variable.
// 2. Once the number F of free variables is known, every key becomes its code
//    (key - KEY_BASE + F), and the clauses are moved into their groups in two
//    steps that each write to few places at a time: first appended, still in
//    creation order, to one of a few hundred buckets of consecutive codes,
//    then from each bucket into its groups, filled from their ends.
// 3. Link each group into the list of its variable.
void QbFormula_finalize(QbFormula *f) {
  constexpr int KEY_BASE = 1 << 30;
  constexpr std::size_t UNIT = 8; // clause sizes are multiples of 8 bytes
  constexpr std::size_t BUCKET_BYTES = std::size_t{512} << 10;
  const int prefixCount = static_cast<int>(f->prefixInputs.size());
  if (f->largestInput > 0) growInputTable(f, f->largestInput);
  int *inputToCode = f->inputToCode.data();

  // Pass 1. Group sizes in units, by prefix position + 1 and by free rank.
  CheckedArray<std::uint32_t> prefixGroupUnits(SITE_CODE_TABLES, MODULE);
  CheckedArray<std::uint32_t> freeGroupUnits(SITE_CODE_TABLES, MODULE);
  prefixGroupUnits.growTo(static_cast<std::size_t>(prefixCount) + 1, 0);
  freeGroupUnits.push(0);
  int freeCount = 0;
  std::size_t ordinal = 0, totalBytes = 0;
  forEachRawClause(f, false, [&](QbfClause *c, std::size_t bytes) {
    int *lits = c->literals();
    for (int i = 0; i < c->size; i++) {
      int lit = lits[i];
      int var = absolute(lit);
      int state = inputToCode[var];
      if (state == 0) {
        countNewCode(f);
        f->freeInputs.push(var);
        state = -++freeCount;
        inputToCode[var] = state;
        freeGroupUnits.push(0);
      }
      int key = state > 0 ? KEY_BASE + state : KEY_BASE + state + 1;
      lits[i] = lit < 0 ? -key : key;
    }
    sortByVariable(lits, c->size);
    int deepest = absolute(lits[c->size - 1]);
    std::uint32_t &units = deepest > KEY_BASE ? prefixGroupUnits[static_cast<std::size_t>(deepest - KEY_BASE)]
                                              : freeGroupUnits[static_cast<std::size_t>(KEY_BASE - deepest + 1)];
    if (units > UINT32_MAX - bytes / UNIT) abnormalExit(ERR_NO_MEMORY, SITE_STORE, MODULE);
    units += static_cast<std::uint32_t>(bytes / UNIT);
    c->occurrenceBase = static_cast<unsigned>(ordinal++);
    totalBytes += bytes;
  });

  f->varNumber = f->nextVarCode = freeCount + prefixCount + 1;
  const std::size_t codes = static_cast<std::size_t>(f->varNumber);
  f->quantifierType.growTo(codes, 'u');
  f->codeToInput.growTo(codes, 0);
  f->clausesAtQuantifier.growTo(codes, nullptr);
  for (int rank = 1; rank <= freeCount; rank++) {
    std::size_t code = static_cast<std::size_t>(freeCount - rank + 1);
    f->quantifierType[code] = 'e';
    f->codeToInput[code] = f->freeInputs[static_cast<std::size_t>(rank - 1)];
  }
  for (int p = 0; p < prefixCount; p++) {
    std::size_t code = static_cast<std::size_t>(freeCount + 1 + p);
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

  // Group ends by code: group c spans [groupEnd[c - 1], groupEnd[c]).
  CheckedArray<std::size_t> groupEnd(SITE_CODE_TABLES, MODULE);
  groupEnd.growTo(codes, 0);
  std::size_t offset = 0;
  for (std::size_t code = 1; code < codes; code++) {
    offset += UNIT * (code <= static_cast<std::size_t>(freeCount)
                          ? freeGroupUnits[static_cast<std::size_t>(freeCount) - code + 1]
                          : prefixGroupUnits[code - static_cast<std::size_t>(freeCount)]);
    groupEnd[code] = offset;
  }
  freeGroupUnits.release();
  prefixGroupUnits.release();

  // Pass 2. Buckets of 2^shift consecutive codes, about BUCKET_BYTES each.
  int shift = 0;
  while (shift < 30 && (totalBytes >> shift) > 0 &&
         (codes >> shift) * BUCKET_BYTES > totalBytes && (codes >> (shift + 1)) >= 1)
    shift++;
  const std::size_t buckets = ((codes - 1) >> shift) + 1;
  auto bucketOf = [shift](std::size_t code) { return (code - 1) >> shift; };
  struct Bucket {
    char *bytes;
    std::size_t used;
  };
  CheckedArray<Bucket> bucket(SITE_CODE_TABLES, MODULE);
  bucket.growTo(buckets, Bucket{nullptr, 0});
  for (std::size_t b = 0; b < buckets; b++) {
    std::size_t first = (b << shift) + 1;
    std::size_t last = std::min(codes - 1, ((b + 1) << shift));
    std::size_t size = groupEnd[last] - groupEnd[first - 1];
    if (size) bucket[b].bytes = static_cast<char *>(checkedMalloc(size, SITE_STORE, MODULE));
  }
  const int shiftToCode = freeCount - KEY_BASE;
  forEachRawClause(f, true, [&](QbfClause *c, std::size_t bytes) {
    int *lits = c->literals();
    for (int i = 0; i < c->size; i++) lits[i] = lits[i] < 0 ? lits[i] - shiftToCode : lits[i] + shiftToCode;
    Bucket &into = bucket[bucketOf(static_cast<std::size_t>(absolute(lits[c->size - 1])))];
    copyClause(into.bytes + into.used, c, bytes);
    into.used += bytes;
  });
  f->store = static_cast<char *>(checkedMalloc(totalBytes ? totalBytes : 1, SITE_STORE, MODULE));
  f->storeBytes = totalBytes;
  for (std::size_t b = 0; b < buckets; b++) {
    for (std::size_t at = 0; at < bucket[b].used;) {
      auto *c = reinterpret_cast<QbfClause *>(bucket[b].bytes + at);
      std::size_t bytes = QbfClause_bytes(static_cast<std::size_t>(c->size));
      at += bytes;
      std::size_t &end = groupEnd[static_cast<std::size_t>(QbfClause_getDeepestVarCode(c))];
      end -= bytes;
      copyClause(f->store + end, c, bytes);
    }
    std::free(bucket[b].bytes);
  }

  // Pass 3. Each groupEnd now marks the start of its group.
  for (std::size_t code = 1; code < codes; code++) {
    std::size_t begin = groupEnd[code];
    std::size_t end = code + 1 < codes ? groupEnd[code + 1] : totalBytes;
    QbfClause *previous = nullptr;
    for (std::size_t at = begin; at < end;) {
      auto *c = reinterpret_cast<QbfClause *>(f->store + at);
      at += QbfClause_bytes(static_cast<std::size_t>(c->size));
      c->prevAtQuantifier = previous;
      c->nextAtQuantifier = nullptr;
      if (previous)
        previous->nextAtQuantifier = c;
      else
        f->clausesAtQuantifier[code] = c;
      previous = c;
    }
  }
  f->clauseNumber = static_cast<int>(ordinal);
  f->finalized = true;
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

int *QbFormula_getDependenciesOfClausesAttachedAtQuantifier(QbFormula *f, int q, int *count) {
  const int n = f->varNumber;
  *count = 0;
  QbfClause *head = f->clausesAtQuantifier[static_cast<std::size_t>(q)];
  if (!head) return nullptr;

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
  for (QbfClause *c = head; c; c = c->nextAtQuantifier) {
    const int *lits = c->literals();
    for (int i = 0; i < c->size; i++) {
      int var = absolute(lits[i]);
      if (mark[var] == -1) {
        found++;
        mark[var] = chain;
        chain = var;
      }
    }
  }

  auto *result = static_cast<int *>(checkedMalloc(sizeof(int) * static_cast<std::size_t>(found), SITE_DEPENDENCIES, MODULE));
  int k = 0;
  if (static_cast<double>(found) / n * 301.0 * std::log(static_cast<double>(found)) > 1.0) {
    for (int var = 0; var <= n; var++)
      if (mark[var] != -1) {
        result[k++] = var;
        mark[var] = -1;
      }
  } else {
    for (int var = chain; var != -2;) {
      result[k++] = var;
      int next = mark[var];
      mark[var] = -1;
      var = next;
    }
    std::sort(result, result + k);
  }

  if (slot >= 0)
    Memory_release(slot);
  else
    std::free(mark);
  *count = found;
  return result;
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

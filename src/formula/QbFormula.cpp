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
#include <cstring>
#include <new>

#include "normalize/QbFormulaNormalize.h"
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
constexpr int SITE_MARKS = 284;
constexpr const char *MODULE = "QbFormula";
// Codes are ints; far below that, memory runs out anyway.
constexpr long MAX_CODES = 1L << 30;

int absolute(int lit) { return lit < 0 ? -lit : lit; }

void growInputTable(QbFormula *f, int var) {
  if (static_cast<std::size_t>(var) >= f->inputToCode.size())
    f->inputToCode.growTo(static_cast<std::size_t>(var) + 1, 0);
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
  if (n == 0) f->emptyClauseFound = 1;
  for (int i = 0; i < n; i++) {
    int var = absolute(lits[i]);
    growInputTable(f, var);
    if (f->inputToCode[static_cast<std::size_t>(var)] == 0) {
      countNewCode(f);
      f->freeInputs.push(var);
      f->inputToCode[static_cast<std::size_t>(var)] = -static_cast<int>(f->freeInputs.size());
    }
  }
  return QbfClause_new(f, n, lits);
}

void QbFormula_finalize(QbFormula *f) {
  const int freeCount = static_cast<int>(f->freeInputs.size());
  const int prefixCount = static_cast<int>(f->prefixInputs.size());
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
  for (std::size_t var = 0; var < f->inputToCode.size(); var++) {
    int state = f->inputToCode[var];
    if (state > 0)
      f->inputToCode[var] = freeCount + state;
    else if (state < 0)
      f->inputToCode[var] = freeCount + state + 1;
  }
  f->prefixInputs.release();
  f->prefixTypes.release();
  f->freeInputs.release();

  const int *inputToCode = f->inputToCode.data();
  QbFormula_forEachCreatedClause(f, [&](QbfClause *c) {
    int *lits = c->literals();
    for (int i = 0; i < c->size; i++) {
      int lit = lits[i];
      lits[i] = lit < 0 ? -inputToCode[-lit] : inputToCode[lit];
    }
    sortByVariable(lits, c->size);
    QbFormulaNormalize_indexNewClause(f, c);
  });
  f->finalized = true;
  if (f->hasIndexes) QbFormulaNormalize_initPureLits(f);
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

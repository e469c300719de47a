// QbfClause: creation in the formula's clause store, literal removal with
// index upkeep, and the braced text of a clause.

#include "formula/QbfClause.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "formula/QbFormula.h"
#include "normalize/QbFormulaNormalize.h"
#include "storage/AbnormalExit.h"

namespace {
constexpr const char *ERR_LITERAL_MISSING = "The requested literal doesn't occur";
constexpr int SITE_RESOLVE = 121;

// Position of lit's variable in the sorted literals, or -1.
int findVariable(const QbfClause *c, int lit) {
  int var = varOfLit(lit);
  int lower = 0, upper = c->size;
  const int *lits = c->literals();
  while (upper > lower) {
    int mid = lower + (upper - lower) / 2;
    int midVar = varOfLit(lits[mid]);
    if (midVar == var) return mid;
    if (midVar < var)
      lower = mid + 1;
    else
      upper = mid;
  }
  return -1;
}

// Removes the literal at position p, keeping every index up to date.
void removeAt(QbFormula *formula, QbfClause *c, int p) {
  formula->matrixChanged = true;
  bool last = p == c->size - 1;
  int *lits = c->literals();
  QbFormulaNormalize_deindexLitInClause(formula, lits[p]);
  if (last) QbFormula_deindexClause(formula, c);
  std::memmove(lits + p, lits + p + 1, sizeof(int) * static_cast<std::size_t>(c->size - p - 1));
  c->size--;
  if (last) QbFormula_reindexClause(formula, c);
  if (c->size == 1) QbFormulaNormalize_newUnitClause(formula, c);
  if (c->size == 0) QbFormulaNormalize_newEmptyClause(formula, c);
}

} // namespace

QbfClause *QbfClause_new(void *at, int n, const int *lits, unsigned rank) {
  auto *c = static_cast<QbfClause *>(at);
  c->size = n;
  c->rank = rank;
  c->nextDistance = 0;
  c->previousDistance = 0;
  int *to = c->literals();
  for (int i = 0; i < n; i++) {
    assert((i == 0 || varOfLit(lits[i - 1]) < varOfLit(lits[i])) && "literals by ascending variable, each once");
    to[i] = lits[i];
  }
  return c;
}

void QbfClause_resolveLiteral(QbFormula *formula, QbfClause *c, int lit) {
  int p = findVariable(c, lit);
  if (p < 0) abnormalExit(ERR_LITERAL_MISSING, SITE_RESOLVE, "QbfClause");
  removeAt(formula, c, p);
}

void QbfClause_resolveLastLiteral(QbFormula *formula, QbfClause *c) {
  if (c->size < 1) abnormalExit(ERR_LITERAL_MISSING, SITE_RESOLVE, "QbfClause");
  removeAt(formula, c, c->size - 1);
}

void QbfClause_delete(QbFormula *formula, QbfClause *c) {
  formula->matrixChanged = true;
  QbFormulaNormalize_deindexClause(formula, c);
}

std::size_t QbfClause_printedBound(const QbfClause *c) { return 2 + 12 * static_cast<std::size_t>(c->size); }

void QbfClause_appendPrintedVersion(QbFormula *formula, const QbfClause *c, char *&out) {
  *out++ = '{';
  const int *lits = c->literals();
  for (int i = 0; i < c->size; i++) {
    if (i) *out++ = ',';
    out = std::to_chars(out, out + 11, QbFormula_litCodeToOriginalLitCode(formula, lits[i])).ptr;
  }
  *out++ = '}';
}

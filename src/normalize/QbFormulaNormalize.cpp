// QbFormulaNormalize: indexes and the simplification rules.

#include "normalize/QbFormulaNormalize.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>

#include "base/OutputTexts.h"
#include "base/RunStatus.h"
#include "formula/QbFormula.h"
#include "storage/AbnormalExit.h"
#include "storage/CheckedArray.h"
#include "storage/List.h"
#include "storage/Prefetch.h"

namespace {
constexpr const char *MODULE = "QbFormulaNormalize";
constexpr int SITE_UNSAT_PLE = 236;
constexpr int SITE_UNSAT_FAR = 298;
constexpr int SITE_INDEXES = 57;
constexpr std::size_t PREFETCH_DISTANCE = 8;

std::size_t literalIndex(int lit) { return 2 * static_cast<std::size_t>(varOfLit(lit)) + (lit < 0 ? 1 : 0); }

void listPure(QbFormula *f, int lit) {
  List_insertNewLit(&f->pureLiterals, lit);
  f->pureElemOfLit[literalIndex(lit)] = f->pureLiterals;
}

// Each literal is listed at most once, so its own element is the one nearest
// the head with that payload.
void unlistPure(QbFormula *f, int lit) {
  ListElem *&elem = f->pureElemOfLit[literalIndex(lit)];
  if (!elem) return;
  List_removeElem(elem, &f->pureLiterals);
  elem = nullptr;
}

bool deleted(const QbfClause *c) { return c->rank == QbFormula::DELETED_RANK; }

QbfClause *clauseAt(QbFormula *f, std::uint32_t place) {
  return reinterpret_cast<QbfClause *>(f->store + 8 * static_cast<std::size_t>(place));
}

// Whether the clause (its literals sorted by variable) holds lit.
bool holds(const QbfClause *c, int lit) {
  const int *lits = c->literals();
  int var = varOfLit(lit), lower = 0, upper = c->size;
  while (upper > lower) {
    int mid = lower + (upper - lower) / 2;
    int midVar = varOfLit(lits[mid]);
    if (midVar == var) return lits[mid] == lit;
    if (midVar < var)
      lower = mid + 1;
    else
      upper = mid;
  }
  return false;
}

// Calls visit(clause) for each clause still holding lit, from the one made
// last: the order of a list filled by head insertion. The clause visited may
// lose lit on the way; nothing is ever added.
template <typename Visit> void forEachOccurrence(QbFormula *f, int lit, Visit visit) {
  std::size_t i = literalIndex(lit);
  const std::size_t first = f->occurrenceStart[i];
  for (std::size_t at = f->occurrenceStart[i + 1]; at-- > first;)
    if (QbfClause *c = clauseAt(f, f->occurrences[at]); !deleted(c) && holds(c, lit)) visit(c);
}

// The unit clause list with the deleted clauses at its head dropped.
ListElem *liveUnitClauses(QbFormula *f) {
  while (f->unitClauses && deleted(f->unitClauses->data.clause)) List_removeElem(f->unitClauses, &f->unitClauses);
  return f->unitClauses;
}

bool isExistential(QbFormula *f, int lit) { return QbFormula_getQuantifierType(f, varOfLit(lit)) == 'e'; }

// Makes lit true: deletes the clauses that contain it and removes -lit from
// the others.
void assign(QbFormula *f, int lit) {
  forEachOccurrence(f, lit, [&](QbfClause *c) {
    QbfClause_delete(f, c);
    f->clauseNumber--;
  });
  forEachOccurrence(f, -lit, [&](QbfClause *c) { QbfClause_resolveLiteral(f, c, -lit); });
}

// Each rule returns 1 when it applied, and sets the outcome when it decided
// the instance (it then stops at once).
int unitClausePropagation(QbFormula *f, int &outcome) {
  if (!liveUnitClauses(f)) return 0;
  for (;;) {
    QbfClause *c = f->unitClauses->data.clause;
    if (c->size < 1) { // only an emptied clause outlives its unit entry
      outcome = OUTCOME_FALSE_BY_UCP;
      return 1;
    }
    int lit = QbfClause_getLiteral(c, 0);
    if (!isExistential(f, lit)) {
      outcome = OUTCOME_FALSE_UNIVERSAL_UNIT;
      return 1;
    }
    assign(f, lit);
    if (f->clauseNumber == 0) {
      outcome = OUTCOME_TRUE_BY_UCP;
      return 1;
    }
    if (f->emptyClauseFound) {
      outcome = OUTCOME_FALSE_BY_UCP;
      return 1;
    }
    if (!liveUnitClauses(f)) return 1;
  }
}

int pureLiteralElimination(QbFormula *f, int &outcome) {
  if (!f->pureLiterals) return 0;
  for (;;) {
    int lit = f->pureLiterals->data.lit;
    if (isExistential(f, lit)) {
      assign(f, lit);
      if (f->clauseNumber == 0) {
        outcome = OUTCOME_TRUE_BY_PLE;
        return 1;
      }
      if (!f->pureLiterals) return 1;
    } else {
      assign(f, -lit);
      if (f->emptyClauseFound) outcome = OUTCOME_FALSE_BY_PLE;
      return 1;
    }
  }
}
} // namespace

void QbFormulaNormalize_buildIndexes(QbFormula *f) {
  if (f->hasIndexes) return;
  assert(!f->matrixChanged && "the store can be walked only while no clause has changed");
  f->hasIndexes = true;
  const std::size_t literals = 2 * static_cast<std::size_t>(f->varNumber);
  f->pureElemOfLit.growTo(literals, nullptr);
  f->occurrenceCount.growTo(literals, 0);
  f->unitClauses = nullptr;
  f->pureLiterals = nullptr;
  // The lists come out as if each clause had been entered when it was
  // created: clauses are taken in creation order, through a table of their
  // places by rank that lives only here. Counting goes through the store in
  // its order.
  const std::size_t clauses = static_cast<std::size_t>(f->clauseNumber);
  if (f->storeBytes / 8 >= UINT32_MAX) abnormalExit(ERR_NO_MEMORY, SITE_INDEXES, MODULE);
  CheckedArray<std::uint32_t> byCreation(SITE_INDEXES, MODULE);
  byCreation.growUninitialized(clauses);
  std::size_t total = 0;
  QbFormula_forEachStoredClause(f, [&](QbfClause *c) {
    byCreation[c->rank] = static_cast<std::uint32_t>((reinterpret_cast<char *>(c) - f->store) / 8);
    const int *lits = c->literals();
    for (int i = 0; i < c->size; i++) f->occurrenceCount[literalIndex(lits[i])]++;
    total += static_cast<std::size_t>(c->size);
  });
  if (total + clauses >= UINT32_MAX) abnormalExit(ERR_NO_MEMORY, SITE_INDEXES, MODULE);
  f->occurrenceStart.growTo(literals + 1, 0);
  for (std::size_t i = 0; i < literals; i++)
    f->occurrenceStart[i + 1] = f->occurrenceStart[i] + static_cast<std::uint32_t>(f->occurrenceCount[i]);
  f->occurrences.growUninitialized(total);
  CheckedArray<std::uint32_t> fill(SITE_INDEXES, MODULE);
  fill.growUninitialized(literals);
  for (std::size_t i = 0; i < literals; i++) fill[i] = f->occurrenceStart[i];
  for (std::size_t rank = 0; rank < clauses; rank++) {
    // In creation order the clauses lie scattered over the store, and their
    // literals' places in the tables too: fetch them a little ahead.
    if (rank + 2 * PREFETCH_DISTANCE < clauses) prefetch(clauseAt(f, byCreation[rank + 2 * PREFETCH_DISTANCE]));
    if (rank + PREFETCH_DISTANCE < clauses) {
      const QbfClause *ahead = clauseAt(f, byCreation[rank + PREFETCH_DISTANCE]);
      for (int i = 0; i < ahead->size && i < 4; i++) prefetch(&fill[literalIndex(ahead->literals()[i])]);
    }
    QbfClause *c = clauseAt(f, byCreation[rank]);
    const int *lits = c->literals();
    for (int i = 0; i < c->size; i++) f->occurrences[fill[literalIndex(lits[i])]++] = byCreation[rank];
    if (c->size == 1) List_insertNewClause(&f->unitClauses, c);
  }
  fill.release();
  byCreation.release();
  QbFormulaNormalize_initPureLits(f);
}

void QbFormulaNormalize_initPureLits(QbFormula *f) {
  for (int code = 1; code < f->varNumber; code++) {
    bool positive = f->occurrenceCount[literalIndex(code)] > 0;
    bool negative = f->occurrenceCount[literalIndex(-code)] > 0;
    if (!positive && negative) listPure(f, -code);
    if (positive && !negative) listPure(f, code);
  }
}

void QbFormulaNormalize_deindexClause(QbFormula *f, QbfClause *c) {
  if (deleted(c)) return;
  if (f->hasIndexes) {
    const int *lits = c->literals();
    for (int i = 0; i < c->size; i++) QbFormulaNormalize_deindexLitInClause(f, lits[i]);
    // Out of the occurrence lists and the unit clause list at once.
    c->rank = QbFormula::DELETED_RANK;
  }
  QbFormula_deindexClause(f, c);
}

void QbFormulaNormalize_deindexLitInClause(QbFormula *f, int lit) {
  if (!f->hasIndexes) return;
  assert(f->occurrenceCount[literalIndex(lit)] > 0 && "a literal leaves a clause that holds it");
  if (--f->occurrenceCount[literalIndex(lit)] > 0) return;
  if (f->occurrenceCount[literalIndex(-lit)] > 0)
    listPure(f, -lit);
  else
    unlistPure(f, lit);
}

void QbFormulaNormalize_newUnitClause(QbFormula *f, QbfClause *c) {
  if (!f->hasIndexes || c->size != 1) return;
  List_insertNewClause(&f->unitClauses, c);
}

void QbFormulaNormalize_newEmptyClause(QbFormula *f, QbfClause *c) {
  if (c->size == 0) f->emptyClauseFound = 1;
}

int QbFormulaNormalize_forAllReduction(QbFormula *f, int *outcome) {
  int changed = 0;
  for (int var = 1; var < f->varNumber; var++) {
    if (QbFormula_getQuantifierType(f, var) != 'a') continue;
    QbfClause *c = QbFormula_getListOfClausesAtQuantifier(f, var);
    while (c) {
      // The clause leaves this list at its first removal; its successor
      // stays, so the walk visits each clause attached here exactly once.
      QbfClause *next = c->next();
      while (c->size >= 1 && !isExistential(f, QbfClause_getLiteral(c, c->size - 1))) {
        changed = 1;
        QbfClause_resolveLastLiteral(f, c);
        if (f->emptyClauseFound) {
          if (outcome) *outcome = OUTCOME_FALSE_BY_FAR;
          return changed;
        }
      }
      c = next;
    }
  }
  return changed;
}

int QbFormula_normalize(QbFormula *f, int outcome) {
  QbFormulaNormalize_buildIndexes(f);
  for (;;) {
    int applied = pureLiteralElimination(f, outcome);
    if (!applied) applied = unitClausePropagation(f, outcome);
    if (!applied) applied = QbFormulaNormalize_forAllReduction(f, &outcome);
    if (!applied || Outcome_isDecided(outcome)) break;
  }
  // Nothing changes the clauses after the fixpoint: the indexes go before the
  // tree takes its memory, which can then reuse theirs.
  f->hasIndexes = false;
  f->occurrences.release();
  f->occurrenceStart.release();
  f->occurrenceCount.release();
  f->pureElemOfLit.release();
  List_delete(&f->unitClauses);
  List_delete(&f->pureLiterals);
  return outcome;
}

bool QbFormulaNormalize_endsTheRun(int outcome) {
  return outcome == OUTCOME_FALSE_BY_PLE || outcome == OUTCOME_FALSE_BY_FAR;
}

void QbFormulaNormalize_abnormalExit(int outcome) {
  if (outcome == OUTCOME_FALSE_BY_PLE) abnormalExit(ERR_UNSAT_PLE, SITE_UNSAT_PLE, MODULE);
  abnormalExit(ERR_UNSAT_FAR, SITE_UNSAT_FAR, MODULE);
}

#pragma once
// QbFormula: one QDIMACS instance in memory: its name, its quantifier prefix,
// its clauses, and the per-variable indexes the normalisation and the tree
// work on. It also fixes the numbering used everywhere inside the program:
//
// - A variable is a code from 1 to varNumber - 1. Codes follow the prefix
//   from the outermost variable inwards, so a smaller code is quantified
//   further out and a clause's deepest variable is its largest code. Free
//   variables (in clauses, in no quantifier block) are outermost existential
//   variables: codes 1..F, the one met last holding code 1. A variable
//   quantified twice takes a further code; its earlier code keeps its type but
//   never receives a literal.
// - A literal is +code or -code. Input numbers appear only in what the reader
//   passes in and in printed output.
//
// Construction: QbFormula_new, QbFormula_addQuantification per quantifier
// line, QbFormula_addClause per clause, QbFormula_finalize once. Quantifier
// lines come before clauses. The clauses keep their input literals until
// finalization, which computes every code at once (no renumbering per free
// variable) and lays the clauses out in memory grouped by the variable they
// are attached at, in list order, so that every walk over the clauses of a
// variable reads consecutive memory.

#include "formula/QbfClause.h"
#include "storage/CheckedArray.h"
#include "storage/List.h"

struct QbFormula {
  QbFormula();
  ~QbFormula();

  char *name = nullptr;
  int claimedVarNumber = 0;
  int claimedClauseNumber = 0;
  int nextVarCode = 1;
  int varNumber = 1;
  int freeVarNumber = 0;         // free variables, codes 1..freeVarNumber once finalized
  int emptyClauseFound = 0;      // a clause lost its last literal
  bool emptyInputClause = false; // the input held an empty clause: the formula is false
  int clauseNumber = 0;
  bool matrixChanged = false; // a clause lost a literal or was deleted

  // Indexed by code (varNumber entries once finalized).
  CheckedArray<char> quantifierType;
  CheckedArray<int> codeToInput;
  CheckedArray<QbfClause *> clausesAtQuantifier;
  // Indexed by input number, grown to the largest variable met.
  CheckedArray<int> inputToCode;

  // Construction state: the prefix entries in order, their types, and the free
  // variables in the order they were first met. While the formula is under
  // construction inputToCode holds the prefix position + 1 of a quantified
  // variable (its latest quantification), 0 else.
  CheckedArray<int> prefixInputs;
  CheckedArray<char> prefixTypes;
  CheckedArray<int> freeInputs;
  int largestInput = 0;

  // Clauses under construction, in the order they were added: for each, its
  // number of literals and then its input literals.
  CheckedArray<int> rawClauses;
  std::size_t clausesAdded = 0;
  // Finalized clauses: one block, grouped by attachment variable.
  char *store = nullptr;
  std::size_t storeBytes = 0;

  // Normalisation indexes (built on demand, see QbFormulaNormalize.h).
  // Literals are indexed 2 * code (+1 when negative).
  bool hasIndexes = false;
  // The clauses of each literal in creation order, each as its place in the
  // store in units of 8 bytes: literal i's are [occurrenceStart[i],
  // occurrenceStart[i + 1]). Nothing is taken out: a walk skips the clauses
  // deleted since (their rank is DELETED_RANK) and those that lost the
  // literal. (32-bit entries: fewer than 2^32 occurrences, a store below
  // 32 GiB.)
  static constexpr unsigned DELETED_RANK = 0xFFFFFFFFu;
  CheckedArray<std::uint32_t> occurrences;
  CheckedArray<std::uint32_t> occurrenceStart;
  CheckedArray<int> occurrenceCount; // live occurrences per literal
  // The unit clauses, the latest first; a clause deleted since stays in the
  // list until it reaches the head, where it is dropped.
  ListElem *unitClauses = nullptr;
  ListElem *pureLiterals = nullptr;
  // Per literal, its pureLiterals element (or null).
  CheckedArray<ListElem *> pureElemOfLit;
};

QbFormula *QbFormula_new(const char *name, int claimedVarNumber, int claimedClauseNumber);
// Gives the n variables (input numbers >= 1) the next n codes with the type
// 'a' or 'e'. The array is only read.
void QbFormula_addQuantification(QbFormula *formula, int type, int n, const int *vars);
// Adds a clause of n >= 1 input literals naming distinct variables; a
// variable in no block so far becomes free. The array is only read. The
// clause itself (a QbfClause) is made when the formula is finalized.
void QbFormula_addClause(QbFormula *formula, int n, const int *lits);
// Fixes every code and attaches the clauses (see the opening comment).
void QbFormula_finalize(QbFormula *formula);
// Releases the formula with its clauses, indexes and strings.
void QbFormula_delete(QbFormula *formula);

const char *QbFormula_getName(const QbFormula *formula);
inline int QbFormula_getVarNumber(const QbFormula *f) { return f->varNumber; }
inline int QbFormula_getClauseNumber(const QbFormula *f) { return f->clauseNumber; }
inline int QbFormula_getFreeVarNumber(const QbFormula *f) { return f->freeVarNumber; }
// The largest input variable number: the declared count, or a larger one met.
inline int QbFormula_getLargestInputVar(const QbFormula *f) {
  return f->largestInput > f->claimedVarNumber ? f->largestInput : f->claimedVarNumber;
}
inline int QbFormula_getQuantifierType(const QbFormula *f, int code) { return f->quantifierType[code]; }
// The head of the list of clauses attached at the code (walk it with
// QbfClause_getNextAtQuantifier); null when there is none.
inline QbfClause *QbFormula_getListOfClausesAtQuantifier(QbFormula *f, int code) {
  return f->clausesAtQuantifier[code];
}
// The input literal of a literal code.
inline int QbFormula_litCodeToOriginalLitCode(const QbFormula *f, int lit) {
  return lit < 0 ? -f->codeToInput[-lit] : f->codeToInput[lit];
}
// Appends to out the distinct codes occurring in the clauses attached at the
// code, ascending; returns their number (0 when no clause is attached there).
int QbFormula_appendDependenciesOfClausesAttachedAtQuantifier(QbFormula *formula, int code, CheckedArray<int> &out);

// Take a clause out of, or put it back into, the list of its current deepest
// variable (used when literals are removed); reindexing an empty clause does
// nothing.
void QbFormula_deindexClause(QbFormula *formula, QbfClause *c);
void QbFormula_reindexClause(QbFormula *formula, QbfClause *c);

// Calls visit(clause) for every finalized clause, in store order. Valid only
// while no clause has lost a literal (the walk steps by each clause's size).
template <typename Visit> void QbFormula_forEachStoredClause(QbFormula *f, Visit visit) {
  char *p = f->store;
  char *end = p + f->storeBytes;
  while (p < end) {
    auto *c = reinterpret_cast<QbfClause *>(p);
    p += QbfClause_bytes(static_cast<std::size_t>(c->size));
    visit(c);
  }
}

// Prints the formula summary; the last line ("     clauses: %i") has no
// line end.
void QbFormula_printData(QbFormula *formula);

#pragma once
// QbfClause: one clause of a formula's matrix. Its literals are internal
// literal codes sorted by variable code, so the last literal is the clause's
// deepest variable, the one it is attached at. A clause lives in its
// formula's clause store (made when the formula is finalized): the record,
// then its literals. It links itself into the list of clauses attached at its
// deepest variable; its elements in the occurrence lists (kept only while the
// normalisation indexes exist) are in the formula's occurrence table.

#include <cstddef>

struct QbFormula;

// A 16-byte record: the links of the list of clauses attached at the same
// variable are distances, in units of 8 bytes, to the neighbouring clauses in
// the store (0 for none), which halves their size; the store holds millions
// of clauses and every walk over it reads them.
struct QbfClause {
  int size;             // number of literals; 0 for an emptied clause
  unsigned rank;        // creation order; DELETED_RANK once deleted (see QbFormula.h)
  int nextDistance;     // list of the clauses attached at the same
  int previousDistance; //   deepest variable (head insertion)

  int *literals() { return reinterpret_cast<int *>(this + 1); }
  const int *literals() const { return reinterpret_cast<const int *>(this + 1); }

  QbfClause *next() const { return at(nextDistance); }
  QbfClause *previous() const { return at(previousDistance); }
  void setNext(const QbfClause *c) { nextDistance = distanceTo(c); }
  void setPrevious(const QbfClause *c) { previousDistance = distanceTo(c); }

private:
  QbfClause *at(int distance) const {
    return distance ? reinterpret_cast<QbfClause *>(const_cast<char *>(reinterpret_cast<const char *>(this)) +
                                                    8 * static_cast<std::ptrdiff_t>(distance))
                    : nullptr;
  }
  int distanceTo(const QbfClause *c) const {
    return c ? static_cast<int>((reinterpret_cast<const char *>(c) - reinterpret_cast<const char *>(this)) / 8) : 0;
  }
};

// Bytes a clause of n literals takes in the clause store.
constexpr std::size_t QbfClause_bytes(std::size_t n) {
  return (sizeof(QbfClause) + n * sizeof(int) + 7) & ~static_cast<std::size_t>(7);
}

// Makes a clause of n literals (codes, sorted) at the given place of the
// formula's clause store, attached nowhere yet; rank is its creation rank.
QbfClause *QbfClause_new(void *at, int n, const int *lits, unsigned rank);

// The variable of a literal (code or input number).
inline int varOfLit(int lit) { return lit < 0 ? -lit : lit; }

inline int QbfClause_getLiteral(const QbfClause *c, int position) { return c->literals()[position]; }
// The largest variable code of the clause (size at least 1).
inline int QbfClause_getDeepestVarCode(const QbfClause *c) { return varOfLit(c->literals()[c->size - 1]); }
inline QbfClause *QbfClause_getNextAtQuantifier(const QbfClause *c) { return c->next(); }

// Removes the literal of lit's variable (found by binary search) and keeps
// every index up to date: the clause moves to its new deepest variable when
// the last literal goes, becomes a unit clause at size 1, and raises the
// formula's empty-clause flag at size 0. Ends the process ("The requested
// literal doesn't occur") when the variable is not in the clause.
void QbfClause_resolveLiteral(QbFormula *formula, QbfClause *c, int lit);
// Removes the last (deepest) literal, keeping every index up to date.
void QbfClause_resolveLastLiteral(QbFormula *formula, QbfClause *c);
// Takes the clause out of every index. Its storage stays with the formula.
void QbfClause_delete(QbFormula *formula, QbfClause *c);

// Appends the clause in braced style, "{7,-3}", with input numbers in
// internal order, to out; at most QbfClause_printedBound(c) bytes.
void QbfClause_appendPrintedVersion(QbFormula *formula, const QbfClause *c, char *&out);
std::size_t QbfClause_printedBound(const QbfClause *c);

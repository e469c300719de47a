#pragma once
// QbFormulaNormalize: the indexes the simplification rules work on, kept
// inside the formula and updated incrementally (clauses per literal, unit
// clauses, pure literals), and the rules themselves: unit clause propagation,
// pure literal elimination and forall reduction, applied to a fixpoint.
//
// The formula attaches every clause at its deepest variable when it is
// finalized. The occurrence, unit and pure-literal indexes matter only to the
// rules of the fixpoint, so they are built on demand, before the first rule
// runs; they come out exactly as if every clause had been entered when it was
// created. Without them, forall reduction keeps only the attachment up to date.

struct QbFormula;
struct QbfClause;

// Builds the occurrence, unit and pure-literal indexes of a finalized formula
// whose clauses have not changed yet; nothing if they exist already.
void QbFormulaNormalize_buildIndexes(QbFormula *formula);
// Lists every pure literal, the highest code first.
void QbFormulaNormalize_initPureLits(QbFormula *formula);
// Takes a clause out of every index.
void QbFormulaNormalize_deindexClause(QbFormula *formula, QbfClause *c);
// Counts one occurrence of the literal less (a clause is about to lose it),
// listing or unlisting pure literals as their occurrences change.
void QbFormulaNormalize_deindexLitInClause(QbFormula *formula, int lit);
// Enters the clause in the unit clause list if it has exactly one literal.
void QbFormulaNormalize_newUnitClause(QbFormula *formula, QbfClause *c);
// Raises the formula's empty-clause flag if the clause has no literal.
void QbFormulaNormalize_newEmptyClause(QbFormula *formula, QbfClause *c);

// Applies pure literal elimination, else unit clause propagation, else forall
// reduction, until none applies or the instance is decided, and returns the
// outcome (the run status's codes): the one given, unless a rule decided the
// instance. An instance given as decided already (an empty input clause)
// stops after the first rule that applies. The indexes are released at the
// end: the clauses change no more.
int QbFormula_normalize(QbFormula *formula, int outcome);
// Strips every clause of the universal literals behind its last existential
// one. Returns 1 if a literal was removed. A clause left with no literal
// stops it, with OUTCOME_FALSE_BY_FAR in *outcome (when given).
int QbFormulaNormalize_forAllReduction(QbFormula *formula, int *outcome = nullptr);

// The outcomes that end the instance through the abnormal exit: an empty
// clause reached by a universal pure literal ("UNSAT_FOR_QBF_UNIVERSAL_PURE_
// LITERAL_ELIMINATION") or by forall reduction ("UNSAT_FOR_QBF_FORALL_
// REDUCTION"), and that end, with the rule's text and site.
bool QbFormulaNormalize_endsTheRun(int outcome);
[[noreturn]] void QbFormulaNormalize_abnormalExit(int outcome);

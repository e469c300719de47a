#pragma once
// Helpers for tests that build formulas and trees in process: parsing a
// QDIMACS text, and compact descriptions of formulas and trees.

#include <string>

struct QbFormula;
struct QbfTree;
struct QbfTreeNode;

namespace test {

// Parses the text as a QDIMACS file (written to a scratch file); null when
// the reader returns no formula. Resets the process-wide state first.
QbFormula *parseText(const std::string &text);

// "e3 e1 a2": the type and input number of every code, in code order.
std::string describePrefix(QbFormula *formula);
// The clauses attached at every code, codes ascending, each list from its
// head, in braced style with input numbers: "{-3,2} {1}".
std::string describeClauses(QbFormula *formula);
// The tree in one line: "r3(e0[1](a4[2](e2[4]) a5[2](e1[3])))": quantifier,
// node code, input number of the variable in brackets, then the children in
// list order; "+k" after the brackets gives the node's clause count.
std::string describeTree(QbfTree *tree);

} // namespace test

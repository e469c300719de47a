// Formula and tree helpers for in-process tests.

#include "FormulaSupport.h"

#include <cstdio>

#include "TestSupport.h"
#include "formula/QbFormula.h"
#include "qdimacs/Qdimacs.h"
#include "run/RunStatus.h"
#include "storage/Memory.h"
#include "tree/QbfTree.h"

namespace test {

QbFormula *parseText(const std::string &text) {
  // A new file each time: rewriting one in place is slow on some file systems.
  static ScratchDir dir;
  static int files = 0;
  std::string path = dir.file("input" + std::to_string(files++) + ".qdimacs");
  writeFile(path, text);
  LINE_BUFSIZE = INITIAL_LINE_BUFSIZE;
  nodeCode = 0;
  VEXT_reset();
  Memory_flush();
  QbFormula *formula = Qdimacs_parseFile(path.c_str());
  std::remove(path.c_str());
  return formula;
}

std::string describePrefix(QbFormula *f) {
  std::string out;
  for (int code = 1; code < QbFormula_getVarNumber(f); code++) {
    if (!out.empty()) out += ' ';
    out += static_cast<char>(QbFormula_getQuantifierType(f, code));
    out += std::to_string(QbFormula_litCodeToOriginalLitCode(f, code));
  }
  return out;
}

std::string describeClauses(QbFormula *f) {
  std::string out;
  for (int code = 1; code < QbFormula_getVarNumber(f); code++)
    for (QbfClause *c = QbFormula_getListOfClausesAtQuantifier(f, code); c; c = QbfClause_getNextAtQuantifier(c)) {
      if (!out.empty()) out += ' ';
      out += QbfClause_getPrintedVersion(f, c, 1);
    }
  return out;
}

namespace {
void describeNode(QbfTree *tree, QbfTreeNode *n, std::string &out) {
  out += static_cast<char>(QbfTreeNode_getQuantifier(n));
  out += std::to_string(QbfTreeNode_getCode(n));
  if (QbfTreeNode_getVariable(n) > 0)
    out += "[" + std::to_string(QbFormula_litCodeToOriginalLitCode(QbfTree_getQbFormula(tree), QbfTreeNode_getVariable(n))) + "]";
  if (QbfTreeNode_getClauseListSize(n) > 0) out += "+" + std::to_string(QbfTreeNode_getClauseListSize(n));
  if (QbfTreeNode *child = QbfTreeNode_getFirstChild(n)) {
    out += '(';
    for (bool first = true; child; child = QbfTreeNode_getNextBrother(child), first = false) {
      if (!first) out += ' ';
      describeNode(tree, child, out);
    }
    out += ')';
  }
}
} // namespace

std::string describeTree(QbfTree *tree) {
  std::string out;
  describeNode(tree, QbfTree_getRoot(tree), out);
  return out;
}

} // namespace test

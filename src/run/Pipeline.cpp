// Pipeline: the per-instance steps in their fixed order.

#include "run/Pipeline.h"

#include <cstdio>
#include <cstring>

#include "base/IOutils.h"
#include "base/OutputTexts.h"
#include "base/RunStatus.h"
#include "features/InstanceFeatures.h"
#include "formula/QbFormula.h"
#include "normalize/QbFormulaNormalize.h"
#include "qdimacs/Qdimacs.h"
#include "run/Options.h"
#include "storage/AbnormalExit.h"
#include "storage/Memory.h"
#include "tree/QbfTree.h"
#include "tree/QbfTreeFormula.h"

namespace {
// The directory the walk started from, below which the files an instance
// writes keep their place under the folder given for them.
const char *walkRoot() { return VEXT_getMode() == MODE_DIRECTORY ? Options_getDirName() : nullptr; }

// A file written for the instance (beside the input, or under the folder
// given for them) by write(file), complete or absent, or the mark that says
// why it is not there.
template <typename Write>
void writeFile(const char *inputPath, const char *suffix, std::string_view mark, Write write) {
  OutputFile file(inputPath, suffix, Options_getDotDir(), walkRoot());
  if (file.stream()) {
    write(file.stream());
    if (file.commit()) return;
  }
  std::printf("%s%s%s", mark.data(), file.reason(), MARK_END.data());
  std::fflush(stdout);
}

// The formula files: ".treeUp.qdimacs" (".treeKeep", ".treeDown") and
// ".tree.qcir" after the input's name. An input whose name has no
// ".qdimacs" gets ".qcnf" instead: a later walk takes a name only when its
// first ".qdimacs" or ".qcnf" ends it, which these never do.
struct FormulaFiles {
  const char *inputPath;
  Prenexing strategy = Prenexing::Up;
  char qdimacsSuffix[32] = "";
  bool qcir = false;

  explicit FormulaFiles(const char *path) : inputPath(path), qcir(Options_getQcirEnabled() != 0) {
    const QdimacsStrategy *qdimacs = Options_getQdimacsStrategy();
    if (!qdimacs) return;
    const char *slash = std::strrchr(path, '/');
    bool qdimacsName = std::strstr(slash ? slash + 1 : path, ".qdimacs") != nullptr;
    std::snprintf(qdimacsSuffix, sizeof qdimacsSuffix, ".tree%s.%s", qdimacs->fileWord,
                  qdimacsName ? "qdimacs" : "qcnf");
    strategy = qdimacs->prenexing;
  }
  bool any() const { return qdimacsSuffix[0] || qcir; }

  void writeConstant(bool value) {
    if (qdimacsSuffix[0])
      writeFile(inputPath, qdimacsSuffix, QDIMACS_NOT_WRITTEN,
                [&](FILE *f) { QbfTreeFormula_writeConstantQdimacs(f, value); });
    if (qcir)
      writeFile(inputPath, ".tree.qcir", QCIR_NOT_WRITTEN,
                [&](FILE *f) { QbfTreeFormula_writeConstantQcir(f, value); });
  }
  // The tree as a formula, or the constant of a decided instance; returns
  // the alternations of the prefix that up writes (-1 for a constant). An
  // empty input clause makes the instance false whatever the normalisation,
  // which knows nothing of it, reached.
  int write(QbfTree *tree, int parsed, int outcome) {
    if (Outcome_isFalse(parsed) || Outcome_isDecided(outcome)) {
      writeConstant(!Outcome_isFalse(parsed) && !Outcome_isFalse(outcome));
      return -1;
    }
    QbfTreeFormula *layout = QbfTreeFormula_new(tree);
    // The universal copies may number past what a QDIMACS file may declare,
    // and a file Tarnu could not read back is not written.
    if (qdimacsSuffix[0] && QbfTreeFormula_getLargestNumber(layout) > MAX_VARIABLE) {
      std::printf("%s%s%s", QDIMACS_NOT_WRITTEN.data(), REASON_TOO_MANY_VARIABLES, MARK_END.data());
      std::fflush(stdout);
    } else if (qdimacsSuffix[0]) {
      writeFile(inputPath, qdimacsSuffix, QDIMACS_NOT_WRITTEN,
                [&](FILE *f) { QbfTreeFormula_writeQdimacs(layout, f, strategy); });
    }
    if (qcir)
      writeFile(inputPath, ".tree.qcir", QCIR_NOT_WRITTEN, [&](FILE *f) { QbfTreeFormula_writeQcir(layout, f); });
    int alternations = QbfTreeFormula_getAlternations(layout);
    QbfTreeFormula_delete(layout);
    return alternations;
  }
};
} // namespace

int mainProcessingProcedure(QbFormula *formula, const InstanceFeatures *features) {
  QbFormula_printData(formula);
  if (features) std::fputs(InstanceFeatures_text(*features).c_str(), stdout);
  std::fflush(stdout);
  FormulaFiles files(QbFormula_getName(formula));
  const int parsed = formula->emptyInputClause ? OUTCOME_FALSE_EMPTY_INPUT_CLAUSE : OUTCOME_UNDECIDED;
  int outcome = parsed;
  if (Options_getQbfReasoningEnabled())
    outcome = QbFormula_normalize(formula, parsed);
  else
    QbFormulaNormalize_forAllReduction(formula, &outcome);
  VEXT_setOutcome(outcome);
  // A universal pure literal or forall reduction that reaches an empty clause
  // ends the instance abnormally: its formula files are the false constant.
  if (QbFormulaNormalize_endsTheRun(outcome)) {
    files.writeConstant(false);
    QbFormulaNormalize_abnormalExit(outcome);
  }
  QbfTree *tree = QbfTree_new(formula);
  if (Options_getDumpTreeEnabled())
    writeFile(QbFormula_getName(formula), ".treeDup.dot", DOT_NOT_WRITTEN, [&](FILE *f) {
      QbfTree_printVizFormat(tree, f, Options_getDumpDetailedTreeEnabled(), Options_getCompressedTarnuEnabled());
    });
  int alternations = files.any() ? files.write(tree, parsed, outcome) : 0;
  QbfTree_printTarnuData(tree, files.any() ? &alternations : nullptr);
  std::fflush(stdout);
  QbfTree_delete(tree);
  QbFormula_delete(formula);
  Memory_flush();
  return EXIT_INSTANCE_DONE;
}

void removeLeftoversOfInstance(const char *path, pid_t child) {
  if (Options_getDumpTreeEnabled() || Options_getQdimacsStrategy() || Options_getQcirEnabled())
    IOutils_removeTemporaryFile(path, Options_getDotDir(), walkRoot(), child);
}

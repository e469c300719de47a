// Pipeline: the per-instance steps in their fixed order.

#include "run/Pipeline.h"

#include <cstdio>

#include "base/IOutils.h"
#include "base/RunStatus.h"
#include "formula/QbFormula.h"
#include "normalize/QbFormulaNormalize.h"
#include "run/Options.h"
#include "storage/Memory.h"
#include "tree/QbfTree.h"

namespace {
// The directory the walk started from, below which the files an instance
// writes keep their place under the folder given for them.
const char *walkRoot() { return VEXT_getMode() == MODE_DIRECTORY ? Options_getDirName() : nullptr; }

// The DOT file (beside the input, or under the folder given for them), or the
// mark that says why it is not there.
void writeDotFile(QbfTree *tree, const char *inputPath) {
  OutputFile dot(inputPath, ".treeDup.dot", Options_getDotDir(), walkRoot());
  if (dot.stream()) {
    QbfTree_printVizFormat(tree, dot.stream(), Options_getDumpDetailedTreeEnabled(),
                           Options_getCompressedTarnuEnabled());
    if (dot.commit()) return;
  }
  std::printf("[DOT FILE NOT WRITTEN: %s]", dot.reason());
  std::fflush(stdout);
}
} // namespace

int mainProcessingProcedure(QbFormula *formula) {
  QbFormula_printData(formula);
  std::fflush(stdout);
  if (Options_getQbfReasoningEnabled())
    QbFormula_normalize(formula);
  else
    QbFormulaNormalize_forAllReduction(formula);
  QbfTree *tree = QbfTree_new(formula);
  if (Options_getDumpTreeEnabled()) writeDotFile(tree, QbFormula_getName(formula));
  QbfTree_printTarnuData(tree);
  std::fflush(stdout);
  QbfTree_delete(tree);
  QbFormula_delete(formula);
  Memory_flush();
  return EXIT_INSTANCE_DONE;
}

void removeLeftoversOfInstance(const char *path, pid_t child) {
  if (Options_getDumpTreeEnabled()) IOutils_removeTemporaryFile(path, Options_getDotDir(), walkRoot(), child);
}

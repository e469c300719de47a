// Pipeline: the per-instance steps in their fixed order.

#include "run/Pipeline.h"

#include <cstdio>
#include <utility>

#include "formula/QbFormula.h"
#include "normalize/QbFormulaNormalize.h"
#include "run/IOutils.h"
#include "run/Options.h"
#include "run/RunStatus.h"
#include "storage/Memory.h"
#include "tree/QbfTree.h"

namespace {
// The DOT file (beside the input, or under the folder given for them), or the
// mark that says why it is not there.
void writeDotFile(QbfTree *tree, const char *inputPath) {
  const char *reason = nullptr;
  struct Open {
    FILE *file;
    ~Open() { // only when an abnormal exit unwinds through the writer
      if (file) std::fclose(file);
    }
  } open{IOutils_openDotFile(inputPath, Options_getDotDir(),
                             VEXT_getMode() == MODE_DIRECTORY ? Options_getDirName() : nullptr, &reason)};
  if (open.file) {
    QbfTree_printVizFormat(tree, open.file, Options_getDumpDetailedTreeEnabled(), Options_getCompressedTarnuEnabled());
    if (IOutils_closeDotFile(std::exchange(open.file, nullptr), &reason) == 0) return;
  }
  std::printf("[DOT FILE NOT WRITTEN: %s]", reason);
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

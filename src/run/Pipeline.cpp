// Pipeline: the per-instance steps in their fixed order.

#include "run/Pipeline.h"

#include <cstdio>

#include "formula/QbFormula.h"
#include "normalize/QbFormulaNormalize.h"
#include "run/Options.h"
#include "run/RunStatus.h"
#include "storage/Memory.h"
#include "tree/QbfTree.h"

int mainProcessingProcedure(QbFormula *formula) {
  QbFormula_printData(formula);
  std::fflush(stdout);
  if (Options_getQbfReasoningEnabled())
    QbFormula_normalize(formula);
  else
    QbFormulaNormalize_forAllReduction(formula);
  QbfTree *tree = QbfTree_new(formula, 1);
  if (Options_getDumpTreeEnabled()) QbfTree_printVizFormat(tree, 1);
  QbfTree_printTarnuData(tree);
  std::fflush(stdout);
  QbfTree_delete(tree);
  QbFormula_delete(formula);
  Memory_flush();
  return EXIT_INSTANCE_DONE;
}

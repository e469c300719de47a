#pragma once
// Aslib: the feature part of an algorithm-selection scenario in ASlib's
// format, from the rows of runs made with -features: the feature values of
// two steps (base: the 46 standard features; tree: the measures of the
// quantifier tree), each step's run status and cost per instance, and the
// description of the steps. A user adds the algorithms' runs for a whole
// scenario.

#include <string>
#include <vector>

#include "table/TarnuOutput.h"

// How instances are named: by their file name without its .qdimacs or .qcnf
// and compression suffixes (as ASlib names them), or by their whole path.
enum class AslibIds { FileName, Path };

// The id of the instance at the path.
std::string Aslib_instanceId(const std::string &path, AslibIds ids);

// Writes feature_values.arff, feature_runstatus.arff, feature_costs.arff and
// description.txt into the folder (made if missing), each file complete or
// absent. Returns 0, or 2 after saying on standard error what stopped it:
// two instances with one id, no row with features, or a file that cannot be
// written; then no file is written (or an older one replaced).
int Aslib_write(const std::string &folder, const std::vector<TableRow> &rows, AslibIds ids);

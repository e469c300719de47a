#pragma once
// Model: a second, deliberately plain implementation of one Tarnu run on one QDIMACS file.
// It rebuilds the console item, the exit status and the DOT file from the documented
// behaviour with std::vector lists (element 0 is the head) and recursion, so that the
// differential test can compare the real program against it byte for byte.
// Timings and the build date vary from run to run; the model prints them as the
// placeholders that maskConsole puts into the program's output.

#include <string>
#include <vector>

namespace tarnu_model {

// The command-line switches that change the work done on an instance.
struct RunOptions {
  bool tree = false;    // "-tree"
  bool clauses = false; // "-clauses"
  bool linear = false;  // "-linear"
  bool pre = false;     // "-pre"

  std::vector<std::string> arguments() const; // in the order given to the program
  std::string describe() const;               // e.g. "-tree -linear", or "(none)"
};

// What one run of "tarnu [options] path" leaves behind.
struct RunResult {
  std::string console;     // whole standard output, masked
  int exitStatus = 0;      // 0..255, as the shell sees it
  bool dotWritten = false; // whether "<path>.treeDup.dot" is written
  std::string dot;         // its contents when written
  int outcome = 0;         // run outcome after normalisation (never printed; for self-checks)
};

// Runs the model on the text of a QDIMACS file that the program would be given as path.
RunResult runModel(const std::string &path, const std::string &text, const RunOptions &options);

// Replaces the varying parts of the program's standard output by the model's placeholders:
// the build date of the banner, the milliseconds of "Growing time" and the seconds of "[OK, ...]".
std::string maskConsole(const std::string &text);

} // namespace tarnu_model

#pragma once
// Qdimacs: the QDIMACS reader and the instance driver.
//
// The reader turns one QDIMACS 1.1 file, plain or compressed (gzip, xz,
// lzma, bzip2, zstd), into a finalized formula. It is line
// oriented and lenient: repeated literals are dropped, tautologies left out,
// an empty clause recorded in the run outcome. Any white space separates
// tokens; a number reads as "%i" does (decimal, octal with a leading 0,
// hexadecimal with 0x, trailing characters of the token ignored). Lines are
// read as a line reader with a limit of LINE_BUFSIZE - 1 characters would
// read them, and a line that reaches the limit makes the reader start over
// with the limit doubled. Input that cannot be read sensibly (bad problem
// line, numbers that do not fit, variables above MAX_VARIABLE, a file that
// cannot be opened, a compressed stream that is damaged) is a parse error
// with a short reason.
//
// The driver runs every instance in a child process of its own: one file, or
// every QDIMACS file of a directory tree, depth first, each directory's own
// files in ascending order of declared size; one at a time, or several at
// once with their outputs printed in that order.

struct QbFormula;

// Capacity of the reader's lines; grows inside an instance child only.
extern int LINE_BUFSIZE;
constexpr int INITIAL_LINE_BUFSIZE = 1000000;
// Running number of the instances of this run (the parent counts them).
extern int instanceNumber;
// The largest variable number a file may use.
constexpr int MAX_VARIABLE = 268435455;

// Parses the file. Returns the finalized formula (owned by the caller), or
// null: then Qdimacs_getParseError() gives the reason of a parse error, or
// null for a file without a problem line. Resets the step statistics, sets
// the run status and the outcome, and may grow LINE_BUFSIZE.
QbFormula *Qdimacs_parseFile(const char *path);
const char *Qdimacs_getParseError();

// The variable count declared in the file's problem line, as the directory
// walk sorts by it: comment lines are skipped; 0 without a problem line that
// yields both numbers, or when the file cannot be read.
int Qdimacs_probeInstanceSize(const char *path);

// Called in the instance child with the parsed formula; returns the child's
// exit code.
using InstanceCallback = int (*)(QbFormula *formula);

// The limits of a run over many instances; 0 where none is set.
struct BatchSettings {
  double timeoutSeconds = 0; // wall-clock time of an instance child from its fork
  long memoutMegabytes = 0;  // address space of an instance child
  int jobs = 1;              // instance children at once (directory mode only)
};

// Runs the instances of the path as the run mode says: mode 1 returns the
// decoded outcome of the one instance (1, 252, 30, -5, or -1 when no child
// could be run), mode 2 the number of instances run, any other mode -2.
// Whatever the number of jobs, the output is that of one instance after the
// other, in the order of the walk.
int Qdimacs_processInstancesInPath(const char *path, InstanceCallback callback, const BatchSettings &batch);

// After the run's last line on standard output: one line on standard error
// counting how the instances ended and what the walk skipped. Directory mode
// always; file mode only when the instance did not end well.
void Qdimacs_reportToStandardError();

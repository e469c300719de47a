#pragma once
// Qdimacs: the QDIMACS reader, and the size probe of the directory walk.
//
// The reader turns one QDIMACS 1.1 file, plain or compressed (gzip, xz,
// lzma, bzip2, zstd), into a finalized formula. It is line
// oriented and lenient: repeated literals are dropped, tautologies left out,
// an empty clause recorded in the formula (which then holds none of the
// clauses after it). Any white space separates
// tokens; a number reads as "%i" does (decimal, octal with a leading 0,
// hexadecimal with 0x, trailing characters of the token ignored). Lines are
// read as a line reader with a limit of LINE_BUFSIZE - 1 characters would
// read them, and a line that reaches the limit makes the reader start over
// with the limit doubled. Input that cannot be read sensibly (bad problem
// line, numbers that do not fit, variables above MAX_VARIABLE, a file that
// cannot be opened, a compressed stream that is damaged) is a parse error
// with a short reason.

#include <optional>
#include <string>

#include "features/InstanceFeatures.h"
#include "qdimacs/InputFile.h"

struct QbFormula;

// Capacity of the reader's lines; grows inside an instance child only.
extern int LINE_BUFSIZE;
constexpr int INITIAL_LINE_BUFSIZE = 1000000;
// The largest variable number a file may use.
constexpr int MAX_VARIABLE = 268435455;

// What reading a file gives: the finalized formula (owned by the caller), or
// none, and then the reason of the parse error, or an empty reason for a file
// without a problem line. A formula whose input held an empty clause says so
// itself (QbFormula::emptyInputClause).
struct QdimacsReading {
  QbFormula *formula = nullptr;
  std::string error;
  std::optional<InstanceFeatures> features; // of a formula read with features asked for
};

// Parses the file, counting its features when asked. The file is opened as
// name in the folder of the descriptor folder when a name is given, else as
// path; path names the formula either way. Resets the step statistics, sets
// the run status, and may grow LINE_BUFSIZE.
QdimacsReading Qdimacs_parseFile(const char *path, bool features = false, int folder = -1, const char *name = nullptr);

// The variable count declared in the file's problem line, as the directory
// walk sorts by it: comment lines are skipped; 0 without a problem line that
// yields both numbers, or when the file cannot be read. The limits bound the
// decoders of a compressed file (a decoder over them gives 0) and may stop
// the probe, which then says so in *abandoned and gives 0.
int Qdimacs_probeInstanceSize(const char *path, const InputLimits &limits = {}, bool *abandoned = nullptr);
// The same for a file already open (the probe takes the descriptor over);
// path only names it.
int Qdimacs_probeOpenFile(int fd, const char *path, const InputLimits &limits = {}, bool *abandoned = nullptr);

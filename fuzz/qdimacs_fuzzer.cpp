// libFuzzer harness: one input is one instance, run in process exactly as the
// instance child runs it (reader, formula summary, forall reduction or the
// whole normalisation, quantifier tree, DOT file, tree summary, release).
//
// Input layout: byte 0 selects the options, the remaining bytes are the
// QDIMACS file, written to a scratch directory and parsed by path.
//
//   bits 0-1  DOT output: 0 none, 1 "-tree", 2 and 3 "-clauses"; 3 also
//             "-qdimacs=down -qcir"
//   bit  2    "-linear" (uncompressed chains in the DOT file)
//   bit  3    "-pre" (normalisation to a fixpoint instead of forall reduction)
//   bits 4-5  3: the reader starts with a small line capacity (64, or 2
//             with bit 7), so that it restarts with doubled capacity, a path
//             that inputs of a few KiB never reach otherwise; 1 and 2: the
//             text is written compressed, with gzip or xz (1, bit 7 off or
//             on) or with bzip2 or zstd (2), so that the decoders run on
//             every text the fuzzer makes; 0: the bytes are written as they
//             are (the decoders also run on them when they begin with a
//             magic number, mostly to find them damaged)
//   bit  6    first run the directory walk's size probe on the file, and
//             check it against the problem line the reader accepted
//   bit  7    see bits 4-5
//
// Why in process: a fork per input would cost more than the instance itself.
// So the process-wide state the child would start with is reset before every
// input, and the abnormal exit (which ends the child) is turned into a C++
// exception by the hook of AbnormalExit.h and caught here. The parser owns
// what it builds until it returns (its destructors release it on the way
// out); after it returns the harness holds the formula until the pipeline
// has released it, and releases it itself when an abnormal exit stopped the
// pipeline first. An abnormal exit can happen inside the tree (and leave the
// tree behind) only for lack of memory, which the sanitizer reports before.
//
// What is a finding: any sanitizer report or crash, a failed assert, a
// process exit (libFuzzer reports "fuzz target exited"), a timeout or
// out-of-memory, an abnormal exit whose text is not an expected outcome (see
// EXPECTED_EXITS), and the failure of one of the checks below (check).
//
// Inputs with a number that would make the reader size its tables by it
// (above MAX_NUMBER, up to MAX_VARIABLE) are rejected before they run: a
// 20-byte file can legitimately ask for gigabytes ("p cnf 268435455 0", a
// clause "268435455 0"), which is the program's documented behaviour and
// would only hide real findings behind out-of-memory reports. MAX_NUMBER
// (100000 unless TARNU_FUZZ_MAX_NUMBER says otherwise) lies above the
// reader's blocks of 65536 variables, so a file without quantifier lines can
// still need two of them, and keeps one input within tens of milliseconds.
// Numbers above MAX_VARIABLE are kept: the reader refuses them without
// allocating.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include "base/RunStatus.h"
#include "formula/QbFormula.h"
#include "qdimacs/Qdimacs.h"
#include "run/Options.h"
#include "run/Pipeline.h"
#include "storage/AbnormalExit.h"
#include "storage/List.h"
#include "storage/Memory.h"
#include "tree/QbfTreeNode.h"

#ifndef TARNU_FUZZ_MAX_NUMBER
#define TARNU_FUZZ_MAX_NUMBER 100000
#endif

namespace {
constexpr long long MAX_NUMBER = TARNU_FUZZ_MAX_NUMBER;
static_assert(MAX_NUMBER > 0 && MAX_NUMBER <= MAX_VARIABLE);

// Abnormal exits that are outcomes of an instance, not failures of the
// program: a false formula found by a simplification rule, lack of memory.
constexpr const char *EXPECTED_EXITS[] = {"UNSAT_FOR_QBF_FORALL_REDUCTION",
                                          "UNSAT_FOR_QBF_UNIVERSAL_PURE_LITERAL_ELIMINATION", ERR_NO_MEMORY};

struct AbnormalExitThrown {
  const char *text;
  int site;
  const char *module;
};

std::string inputPath, dotPath;
// How often each outcome was seen, printed at exit with TARNU_FUZZ_SUMMARY.
long runs = 0, rejected = 0, parsed = 0, parseErrors = 0, completed = 0, abnormalExits = 0;

[[noreturn]] void fail(const char *what, const std::string &detail = "") {
  std::fprintf(stderr, "\n==TARNU FUZZ CHECK FAILED== %s %s\n", what, detail.c_str());
  std::abort();
}

void check(bool condition, const char *what) {
  if (!condition) fail(what);
}

bool isDigit(uint8_t ch) { return ch >= '0' && ch <= '9'; }
bool isHexDigit(uint8_t ch) { return isDigit(ch) || ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'f'); }

// The value the reader's "%i" conversion gives for a number starting at i,
// saturated above MAX_VARIABLE.
long long valueAt(const uint8_t *data, size_t size, size_t i) {
  long long v = 0;
  int base = data[i] != '0' ? 10 : (i + 2 < size && (data[i + 1] | 0x20) == 'x' && isHexDigit(data[i + 2])) ? 16 : 8;
  if (base == 16) i += 2;
  for (; i < size && v <= MAX_VARIABLE; i++) {
    int digit = isDigit(data[i]) ? data[i] - '0' : isHexDigit(data[i]) ? (data[i] | 0x20) - 'a' + 10 : 99;
    if (digit >= base) break;
    v = v * base + digit;
  }
  return v;
}

// True when some number of the file lies above MAX_NUMBER and within
// MAX_VARIABLE. Tokens start after white space, so every number the reader
// converts starts a run of digits, except in a line cut into pieces (a line
// longer than the reader's capacity that holds a NUL byte, see
// QdimacsParser.cpp), where a piece can start inside a run: then every digit
// counts as a start. "00..." reads as the octal number after its first zero,
// which is a start too (this keeps a long run of zeros from costing
// quadratic time).
bool hasOversizedNumber(const uint8_t *data, size_t size, int lineCapacity) {
  const bool longLines = lineCapacity != INITIAL_LINE_BUFSIZE || size >= static_cast<size_t>(lineCapacity) - 1;
  const bool anyStart = longLines && std::memchr(data, '\0', size) != nullptr;
  for (size_t i = 0; i < size; i++) {
    if (!isDigit(data[i]) || (!anyStart && i > 0 && isDigit(data[i - 1]))) continue;
    if (anyStart && data[i] == '0' && i + 1 < size && data[i + 1] == '0') continue;
    long long v = valueAt(data, size, i);
    if (v > MAX_NUMBER && v <= MAX_VARIABLE) return true;
  }
  return false;
}

void writeFile(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) fail("cannot write", path);
}

// The text compressed in the format of the options (see the top).
std::string compressed(const uint8_t *data, size_t size, int format) {
  std::string out(size + size / 2 + 1024, '\0');
  auto *to = reinterpret_cast<uint8_t *>(out.data());
  size_t length = out.size();
  bool ok = false;
  if (format == 0) { // gzip
    z_stream z{};
    ok = deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    z.next_in = const_cast<uint8_t *>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = to;
    z.avail_out = static_cast<uInt>(length);
    ok = ok && deflate(&z, Z_FINISH) == Z_STREAM_END;
    length = z.total_out;
    deflateEnd(&z);
  } else if (format == 1) { // xz
    size_t at = 0;
    ok = lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr, data, size, to, &at, length) == LZMA_OK;
    length = at;
  } else if (format == 2) { // bzip2
    unsigned at = static_cast<unsigned>(length);
    ok = BZ2_bzBuffToBuffCompress(out.data(), &at, reinterpret_cast<char *>(const_cast<uint8_t *>(data)),
                                  static_cast<unsigned>(size), 1, 0, 0) == BZ_OK;
    length = at;
  } else { // zstd
    length = ZSTD_compress(to, length, data, size, 1);
    ok = !ZSTD_isError(length);
  }
  if (!ok) fail("cannot compress the input");
  out.resize(length);
  return out;
}

// The DOT file must be complete: the graph's opening line, its closing line,
// and balanced braces (edge lists and record labels both use them).
void checkDotFile() {
  FILE *f = std::fopen(dotPath.c_str(), "rb");
  check(f, "the DOT file was not written");
  std::string text;
  for (int ch; (ch = std::fgetc(f)) != EOF;) text += static_cast<char>(ch);
  std::fclose(f);
  check(text.starts_with("digraph G0 {\n") && text.ends_with("}\n"), "the DOT file is not a whole graph");
  long depth = 0;
  for (char ch : text)
    if ((depth += ch == '{' ? 1 : ch == '}' ? -1 : 0) < 0) break;
  check(depth == 0, "unbalanced braces in the DOT file");
}

void atExit() {
  if (std::getenv("TARNU_FUZZ_SUMMARY"))
    std::fprintf(stderr,
                 "tarnu harness: %ld inputs run, %ld rejected (number above %lld); %ld parsed, %ld parse errors; "
                 "%ld completed, %ld expected abnormal exits\n",
                 runs, rejected, MAX_NUMBER, parsed, parseErrors, completed, abnormalExits);
  unlink(inputPath.c_str());
  unlink(dotPath.c_str());
  unlink((inputPath + ".treeDown.qdimacs").c_str());
  unlink((inputPath + ".tree.qcir").c_str());
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  AbnormalExit_installNewHandler();
  AbnormalExit_setHook([](const char *text, int site, const char *module) {
    throw AbnormalExitThrown{text, site, module};
  });
  const char *tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarnu-fuzz-XXXXXX";
  if (!mkdtemp(dir.data())) fail("cannot create a scratch directory", std::strerror(errno));
  inputPath = dir + "/input.qdimacs";
  dotPath = inputPath + ".treeDup.dot";
  std::atexit(atExit);
  // The program's own output would bury libFuzzer's; TARNU_FUZZ_STDOUT=1
  // keeps it (to watch a single input being reproduced).
  if (!std::getenv("TARNU_FUZZ_STDOUT") && !std::freopen("/dev/null", "w", stdout)) fail("cannot silence stdout");
  Memory_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return -1;
  const uint8_t options = *data++;
  size--;
  const int dotMode = options & 3;
  const int lineCapacity = ((options >> 4) & 3) != 3 ? INITIAL_LINE_BUFSIZE : (options & 0x80) ? 2 : 64;
  const bool probe = (options & 0x40) != 0;
  if (hasOversizedNumber(data, size, lineCapacity)) {
    rejected++;
    return -1; // not added to the corpus
  }
  runs++;
  if (int mode = (options >> 4) & 3; mode == 1 || mode == 2) {
    std::string packed = compressed(data, size, 2 * (mode - 1) + (options >> 7));
    writeFile(inputPath, reinterpret_cast<const uint8_t *>(packed.data()), packed.size());
  } else {
    writeFile(inputPath, data, size);
  }
  unlink(dotPath.c_str());

  // The state a freshly forked instance child starts with. (The list pool,
  // the scratch arena and the DOT stream were given back after the last
  // input.) First what the parent of a directory walk does before the fork:
  // the declared size, read with the program's own line capacity.
  LINE_BUFSIZE = INITIAL_LINE_BUFSIZE;
  nodeCode = 0;
  VEXT_reset();
  Options_reset();
  const int probedSize = probe ? Qdimacs_probeInstanceSize(inputPath.c_str()) : -1;
  Options_set(dotMode != 0, dotMode >= 2, (options & 4) ? 0 : 1, (options & 8) ? 1 : 0);
  // With the clause lists in the DOT file, the tree is also written as a formula.
  Options_setFormulaFiles(dotMode == 3 ? "down" : nullptr, dotMode == 3);
  VEXT_setMode(MODE_FILE);

  LINE_BUFSIZE = lineCapacity;
  QbFormula *formula = nullptr;
  try {
    VEXT_setStatus(STATUS_INITIAL);
    // The inputs that are probed are also counted for their features.
    QdimacsReading reading = Qdimacs_parseFile(inputPath.c_str(), probe);
    formula = reading.formula;
    if (!formula) {
      parseErrors += !reading.error.empty();
    } else {
      parsed++;
      // With the same line capacity both read the same problem line, so a
      // formula's declared count is the one the directory walk sorts by.
      // (A smaller capacity cuts lines holding a NUL byte elsewhere.)
      if (probe && lineCapacity == INITIAL_LINE_BUFSIZE && size < static_cast<size_t>(INITIAL_LINE_BUFSIZE) - 1)
        check(probedSize == formula->claimedVarNumber, "the size probe and the reader disagree on the problem line");
      check(LINE_BUFSIZE >= lineCapacity, "the line capacity shrank");
      if (reading.features) {
        const std::string text = InstanceFeatures_text(*reading.features);
        check(text.find("nan") == std::string::npos && text.find("inf") == std::string::npos,
              "a feature is not a finite number");
      }
      // releases the formula, unless it ends abnormally
      int result = mainProcessingProcedure(formula, reading.features ? &*reading.features : nullptr);
      formula = nullptr;
      check(result == EXIT_INSTANCE_DONE, "the pipeline returned an unexpected exit code");
      completed++;
      if (dotMode) checkDotFile();
    }
  } catch (const AbnormalExitThrown &e) {
    // The pipeline did not get to release the formula and the scratch arena.
    QbFormula_delete(formula);
    Memory_flush();
    bool expected = false;
    for (const char *text : EXPECTED_EXITS) expected = expected || std::strcmp(e.text, text) == 0;
    if (!expected)
      fail("unexpected abnormal exit",
           std::string(e.text) + " at line " + std::to_string(e.site) + ", file " + e.module);
    abnormalExits++;
  }
  List_resetPool();
  return 0;
}

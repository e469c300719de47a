// Qdimacs reader. The file's text (decompressed when the file is compressed,
// see InputFile.h) is read in large blocks and cut into lines exactly
// as a line reader with a limit of LINE_BUFSIZE - 1 characters cuts it: a
// line longer than the limit arrives in pieces, and the text of a piece ends
// at its first NUL byte. A piece that reaches the limit with no NUL in it is
// a line too long: the attempt is abandoned and the file read again from the
// start with the limit doubled. Only the text up to the limit is ever held,
// and nothing is allocated per line or per token. Tokens are converted in
// place with the "%i" forms; every converted number is checked.

#include "qdimacs/Qdimacs.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <optional>

#include "base/IOutils.h"
#include "base/RunStatus.h"
#include "base/Statistics.h"
#include "features/InstanceFeatures.h"
#include "formula/QbFormula.h"
#include "qdimacs/InputFile.h"
#include "storage/AbnormalExit.h"
#include "storage/CheckedArray.h"

// Process-wide: an instance child's restarts grow it for the rest of its life.
int LINE_BUFSIZE = INITIAL_LINE_BUFSIZE;

namespace {
constexpr const char *MODULE = "Qdimacs";
constexpr int SITE_LINE_BUFFER = 81;
constexpr int SITE_LITERALS = 103;
constexpr int SITE_SEEN = 104;
constexpr int SITE_PROBE_LINE_BUFFER = 394; // reported by no abnormal exit: the probe's reader is fallible
constexpr std::size_t BLOCK_BYTES = std::size_t{1} << 20;
constexpr std::size_t SMALL_BLOCK_BYTES = std::size_t{4} << 10;
constexpr int DEFAULT_BLOCK_CHUNK = 1 << 16;
constexpr std::size_t SHORT_CLAUSE = 16;

inline bool isSpace(unsigned char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }
inline bool isDigit(unsigned char ch) { return ch >= '0' && ch <= '9'; }

inline const char *skipSpace(const char *p, const char *end) {
  while (p < end && isSpace(static_cast<unsigned char>(*p))) p++;
  return p;
}
inline const char *skipToken(const char *p, const char *end) {
  while (p < end && !isSpace(static_cast<unsigned char>(*p))) p++;
  return p;
}

// Lines of an input file's text, cut as described at the top of the file.
class LineReader {
public:
  // A fallible reader (the size probe's) takes a buffer it cannot get as the
  // end of the file, a failure, instead of ending the process.
  LineReader(InputFile &input, int site, bool fallible = false)
      : input_(input), buffer_(site, MODULE), fallible_(fallible) {
    // A small file needs no large buffer (most instances of a benchmark
    // directory are small); the buffer grows when a line needs more.
    if (std::size_t size = input.plainSize(); size < BLOCK_BYTES) firstBlock_ = std::max(SMALL_BLOCK_BYTES, size + 1);
  }
  LineReader(const LineReader &) = delete;
  LineReader &operator=(const LineReader &) = delete;

  // Next piece of at most limit bytes: true with [line, line + length), false
  // at end of file (or on a read error, see failed()).
  bool next(std::size_t limit, const char *&line, std::size_t &length) {
    for (;;) {
      std::size_t available = end_ - begin_;
      std::size_t window = available < limit ? available : limit;
      const char *start = buffer_.data() + begin_;
      const char *newline =
          window ? static_cast<const char *>(std::memchr(start + scanned_, '\n', window - scanned_)) : nullptr;
      if (newline) return take(static_cast<std::size_t>(newline - start) + 1, line, length);
      if (available >= limit) return take(limit, line, length);
      if (atEnd_) {
        if (available == 0) return false;
        return take(available, line, length);
      }
      scanned_ = window;
      refill(limit);
    }
  }
  bool failed() const { return failed_; }
  // After a failure: the decoder's reason, or null for a read error.
  const char *decodeError() const { return input_.decodeError(); }
  int readErrno() const { return input_.readErrno(); }

private:
  bool take(std::size_t n, const char *&line, std::size_t &length) {
    line = buffer_.data() + begin_;
    length = n;
    begin_ += n;
    scanned_ = 0;
    return true;
  }

  void refill(std::size_t limit) {
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (end_ == buffer_.size()) {
      std::size_t grown = buffer_.size() ? 2 * buffer_.size() : firstBlock_;
      // Never more than one limit's worth (plus a block) is ever held.
      if (grown > limit + BLOCK_BYTES) grown = limit + BLOCK_BYTES;
      if (!fallible_) {
        buffer_.growUninitialized(grown);
      } else if (!buffer_.tryGrowUninitialized(grown)) {
        failed_ = atEnd_ = true;
        return;
      }
    }
    long got = input_.read(buffer_.data() + end_, buffer_.size() - end_);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return;
    }
    failed_ = got < 0;
    atEnd_ = true;
  }

  InputFile &input_;
  std::size_t firstBlock_ = BLOCK_BYTES;
  CheckedArray<char> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  std::size_t scanned_ = 0; // bytes after begin_ known to hold no newline
  bool atEnd_ = false;
  bool failed_ = false;
  bool fallible_;
};

enum class Number { Ok, NotInt, Overflow };

// The common case of a clause token: an optional minus and at most nine
// decimal digits, the first not 0, ending the token; or a lone 0. Anything
// else is left to scanInt (returns false).
inline bool scanShortDecimal(const char *&p, const char *end, int &value) {
  const char *q = p;
  if (q < end && *q == '0' && (q + 1 == end || isSpace(static_cast<unsigned char>(q[1])))) {
    value = 0;
    p = q + 1;
    return true;
  }
  bool negative = q < end && *q == '-';
  if (negative) q++;
  if (q >= end || *q < '1' || *q > '9') return false;
  int v = *q++ - '0';
  const char *limit = q + 8 < end ? q + 8 : end;
  while (q < limit && isDigit(static_cast<unsigned char>(*q))) v = v * 10 + (*q++ - '0');
  if (q < end && !isSpace(static_cast<unsigned char>(*q))) return false;
  value = negative ? -v : v;
  p = q;
  return true;
}

// Reads the number at the front of [p, end) with the "%i" forms. On Ok and
// Overflow, digitsEnd is set after the digits.
Number scanInt(const char *p, const char *end, int &value, const char *&digitsEnd) {
  const char *q = p;
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) {
    negative = *q == '-';
    q++;
  }
  if (q >= end || !isDigit(static_cast<unsigned char>(*q))) return Number::NotInt;
  const unsigned long long limit = negative ? 2147483648ULL : 2147483647ULL;
  unsigned long long v = 0;
  bool overflow = false;
  if (*q != '0') {
    for (; q < end && isDigit(static_cast<unsigned char>(*q)); q++) {
      v = v * 10 + static_cast<unsigned>(*q - '0');
      if (v > limit) {
        overflow = true;
        v = limit;
      }
    }
  } else if (q + 2 < end && (q[1] == 'x' || q[1] == 'X') && std::isxdigit(static_cast<unsigned char>(q[2]))) {
    for (q += 2; q < end && std::isxdigit(static_cast<unsigned char>(*q)); q++) {
      unsigned char ch = static_cast<unsigned char>(*q);
      unsigned digit = isDigit(ch) ? ch - '0' : (ch | 0x20) - 'a' + 10;
      v = v * 16 + digit;
      if (v > limit) {
        overflow = true;
        v = limit;
      }
    }
  } else {
    for (; q < end && *q >= '0' && *q <= '7'; q++) {
      v = v * 8 + static_cast<unsigned>(*q - '0');
      if (v > limit) {
        overflow = true;
        v = limit;
      }
    }
  }
  digitsEnd = q;
  if (overflow) return Number::Overflow;
  value = negative ? static_cast<int>(-static_cast<long long>(v)) : static_cast<int>(v);
  return Number::Ok;
}

// The reason of a parse error, in its printf form.
std::string formattedV(const char *format, va_list args) {
  char text[320];
  std::vsnprintf(text, sizeof text, format, args);
  return text;
}
std::string formatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formattedV(format, args);
  va_end(args);
  return text;
}

// The number's text for a message, cut after 24 characters.
void numberText(const char *p, const char *end, char *out, std::size_t size) {
  std::size_t n = static_cast<std::size_t>(end - p);
  if (n > 24)
    std::snprintf(out, size, "%.24s...", p);
  else
    std::snprintf(out, size, "%.*s", static_cast<int>(n), p);
}

enum class Attempt { Done, NoHeader, Error, Restart };

// One attempt at reading the file with the current LINE_BUFSIZE.
class Parser {
public:
  // With features set, the attempt also counts the instance's features.
  Parser(const char *path, int folder, const char *name, std::string &error, std::optional<InstanceFeatures> *features)
      : path_(path), folder_(folder), name_(name), error_(error), features_(features), lits_(SITE_LITERALS, MODULE),
        seen_(SITE_SEEN, MODULE) {}
  ~Parser() { QbFormula_delete(formula_); }

  Attempt run(QbFormula *&result) {
    int fd = name_ ? IOutils_openInputFileAt(folder_, name_) : IOutils_openInputFile(path_);
    if (fd < 0) {
      setParseError("cannot open the file: %s", std::strerror(errno));
      return Attempt::Error;
    }
    Attempt outcome;
    {
      InputFile input(fd, path_);
      LineReader reader(input, SITE_LINE_BUFFER);
      reader_ = &reader;
      limit_ = static_cast<std::size_t>(LINE_BUFSIZE < 2 ? 2 : LINE_BUFSIZE) - 1;
      outcome = readAll();
      reader_ = nullptr;
      // A compressed file read only in part (no problem line, a parse error)
      // may be damaged further on; then that is what is wrong with it, and
      // its text so far may well be garbage.
      if ((outcome == Attempt::NoHeader || outcome == Attempt::Error) && input.compressed())
        if (const char *reason = damage(input)) {
          setParseError("%s", reason);
          outcome = Attempt::Error;
        }
    } // the decoder and the line buffer go before the formula takes its memory
    if (outcome == Attempt::Done) {
      lits_.release();
      seen_.release();
      if (counter_) {
        *features_ = counter_->finish();
        counter_.reset(); // before the formula takes its memory
      }
      formula_->emptyInputClause = emptyClauseRead_;
      QbFormula_finalize(formula_);
      result = formula_;
      formula_ = nullptr;
    }
    return outcome;
  }

  long tooLongLine() const { return lineNumber_; }

  // Reads the rest of the file: the decoder's reason if it is damaged.
  static const char *damage(InputFile &input) {
    char rest[1 << 16];
    long got;
    while ((got = input.read(rest, sizeof rest)) > 0) {
    }
    return got < 0 ? input.decodeError() : nullptr;
  }

private:
  enum class Read { Line, End, TooLong, Failed };

  Read nextLine() {
    lineNumber_ = nextLineNumber_;
    std::size_t length = 0;
    if (!reader_->next(limit_, line_, length)) return reader_->failed() ? Read::Failed : Read::End;
    if (line_[length - 1] == '\n') nextLineNumber_++;
    const void *nul = std::memchr(line_, '\0', length);
    textEnd_ = nul ? static_cast<const char *>(nul) : line_ + length;
    if (length == limit_ && !nul) return Read::TooLong;
    return Read::Line;
  }

  // Reads a line, turning the end conditions into the attempt's outcome.
  bool readLine(Read &read, Attempt &stop) {
    read = nextLine();
    if (read == Read::TooLong) {
      stop = Attempt::Restart;
      return false;
    }
    if (read == Read::Failed) {
      // What was read of a file that cannot be read whole makes no formula.
      if (const char *reason = reader_->decodeError())
        setParseError("%s", reason);
      else
        setParseError("line %ld: cannot read the file: %s", lineNumber_, std::strerror(reader_->readErrno()));
      stop = Attempt::Error;
      return false;
    }
    return true;
  }

  bool numberError(Number got, const char *p, const char *digitsEnd) {
    if (got != Number::Overflow) return false;
    char text[40];
    numberText(p, digitsEnd, text, sizeof text);
    setParseError("line %ld: number %s does not fit in an int", lineNumber_, text);
    return true;
  }

  bool variableError(int lit) {
    long long var = lit < 0 ? -static_cast<long long>(lit) : lit;
    if (var <= MAX_VARIABLE) return false;
    setParseError("line %ld: variable %lld is too large", lineNumber_, var);
    return true;
  }

  Attempt readAll() {
    Attempt stop = Attempt::Done;
    Read read;
    // Header: comment lines, then the problem line.
    for (;;) {
      if (!readLine(read, stop)) return stop;
      if (read == Read::End) return Attempt::NoHeader;
      char first = line_ < textEnd_ ? *line_ : '\0';
      if (first == 'c') continue;
      if (first != 'p') return Attempt::NoHeader;
      if (!readProblemLine()) return Attempt::Error;
      break;
    }
    formula_ = QbFormula_new(path_, numVars_, numClauses_);
    if (features_) counter_.emplace(numVars_);

    // Prefix: quantifier lines; comment and blank lines are skipped.
    bool quantifierSeen = false;
    for (;;) {
      if (!readLine(read, stop)) return stop;
      if (read == Read::End) return Attempt::Done;
      const char *p = skipSpace(line_, textEnd_);
      if (p == textEnd_ || *p == 'c') continue;
      if (*p == 'a' || *p == 'e') {
        if (!readQuantifierLine(*p, skipToken(p, textEnd_))) return Attempt::Error;
        quantifierSeen = true;
        continue;
      }
      if (!quantifierSeen) addDefaultBlock();
      break;
    }

    // Clauses, starting with the line that ended the prefix.
    for (;;) {
      if (!readClauseLine()) return Attempt::Error;
      if (!readLine(read, stop)) return stop;
      if (read == Read::End) return Attempt::Done;
    }
  }

  // "p cnf %i %i": each blank of the format matches any run of white space.
  bool readProblemLine() {
    const char *p = line_ + 1;
    const char *end = textEnd_;
    int counts[2];
    int got = 0;
    p = skipSpace(p, end);
    if (end - p >= 3 && p[0] == 'c' && p[1] == 'n' && p[2] == 'f') {
      p += 3;
      for (; got < 2; got++) {
        p = skipSpace(p, end);
        const char *digitsEnd = p;
        Number number = scanInt(p, end, counts[got], digitsEnd);
        if (number == Number::NotInt) break;
        if (numberError(number, p, digitsEnd)) return false;
        p = digitsEnd;
      }
    }
    if (got < 2) {
      setParseError("line %ld: the problem line needs two counts (p cnf VARIABLES CLAUSES)", lineNumber_);
      return false;
    }
    if (counts[0] < 0 || counts[1] < 0) {
      setParseError("line %ld: negative count in the problem line", lineNumber_);
      return false;
    }
    if (counts[0] > MAX_VARIABLE) {
      setParseError("line %ld: %d variables declared, at most %d are allowed", lineNumber_, counts[0], MAX_VARIABLE);
      return false;
    }
    numVars_ = counts[0];
    numClauses_ = counts[1];
    return true;
  }

  // The tokens after the letter: every nonzero number is a variable.
  bool readQuantifierLine(char letter, const char *p) {
    lits_.clear();
    const char *end = textEnd_;
    for (;;) {
      p = skipSpace(p, end);
      if (p == end) break;
      int value = 0;
      const char *digitsEnd = p;
      Number number = scanInt(p, end, value, digitsEnd);
      if (numberError(number, p, digitsEnd)) return false;
      if (number == Number::Ok && value != 0) {
        if (value < 0) {
          setParseError("line %ld: negative number %d in a quantifier line", lineNumber_, value);
          return false;
        }
        if (variableError(value)) return false;
        lits_.push(value);
      }
      p = skipToken(p, end);
    }
    QbFormula_addQuantification(formula_, letter, static_cast<int>(lits_.size()), lits_.data());
    if (counter_) counter_->addBlock(letter, lits_.data(), lits_.size());
    return true;
  }

  // A file without quantifier lines: all declared variables, existential.
  void addDefaultBlock() {
    int block[DEFAULT_BLOCK_CHUNK];
    for (int first = 1; first <= numVars_;) {
      int n = 0;
      while (n < DEFAULT_BLOCK_CHUNK && first <= numVars_) block[n++] = first++;
      QbFormula_addQuantification(formula_, 'e', n, block);
    }
  }

  // One clause line; false on a parse error.
  bool readClauseLine() {
    const char *end = textEnd_;
    const char *p = skipSpace(line_, end);
    if (p == end) return true; // blank line
    int value = 0;
    const char *digitsEnd = p;
    Number number = scanShortDecimal(digitsEnd, end, value) ? Number::Ok : scanInt(p, end, value, digitsEnd);
    if (number == Number::NotInt) return true; // comment, stray header or quantifier line
    if (numberError(number, p, digitsEnd)) return false;
    if (value == 0) {
      emptyClauseRead_ = true;
      if (counter_) counter_->addClause(nullptr, 0);
      return true;
    }
    if (variableError(value)) return false;
    lits_.clear();
    lits_.push(value);
    bool tautology = false;
    int current = 0; // a token that is not a number repeats this value
    p = skipToken(digitsEnd, end);
    for (;;) {
      p = skipSpace(p, end);
      if (p == end) break; // the clause ends with its line
      if (scanShortDecimal(p, end, value)) {
        current = value;
      } else {
        number = scanInt(p, end, value, digitsEnd);
        if (number == Number::Ok) {
          current = value;
          p = skipToken(digitsEnd, end);
        } else {
          if (numberError(number, p, digitsEnd)) return clearSeen(), false;
          p = skipToken(p, end);
        }
      }
      if (current == 0) break;
      if (variableError(current)) return clearSeen(), false;
      int earlier = earlierLiteral(current);
      if (earlier == 0) {
        addLiteral(current);
      } else if (earlier != current) {
        tautology = true;
        break;
      }
    }
    clearSeen();
    if (tautology) return true;
    if (!emptyClauseRead_) QbFormula_addClause(formula_, static_cast<int>(lits_.size()), lits_.data());
    // The features count the clauses after an empty one too.
    if (counter_) counter_->addClause(lits_.data(), lits_.size());
    return true;
  }

  // The clause's literal of lit's variable so far, or 0. Short clauses are
  // searched directly; from SHORT_CLAUSE literals on, the seen table (indexed
  // by variable) holds them.
  int earlierLiteral(int lit) {
    int var = varOfLit(lit);
    if (lits_.size() <= SHORT_CLAUSE) {
      for (std::size_t i = 0; i < lits_.size(); i++) {
        int other = lits_[i];
        if (other == lit || other == -lit) return other;
      }
      return 0;
    }
    return static_cast<std::size_t>(var) < seen_.size() ? seen_[static_cast<std::size_t>(var)] : 0;
  }

  void addLiteral(int lit) {
    lits_.push(lit);
    if (lits_.size() == SHORT_CLAUSE + 1) {
      for (std::size_t i = 0; i < lits_.size(); i++) markSeen(lits_[i]);
    } else if (lits_.size() > SHORT_CLAUSE + 1) {
      markSeen(lit);
    }
  }

  void markSeen(int lit) {
    int var = varOfLit(lit);
    if (static_cast<std::size_t>(var) >= seen_.size()) seen_.growZeroed(static_cast<std::size_t>(var) + 1);
    seen_[static_cast<std::size_t>(var)] = lit;
  }

  void clearSeen() {
    if (lits_.size() <= SHORT_CLAUSE) return;
    for (std::size_t i = lits_.size(); i > 0; i--) {
      int lit = lits_[i - 1];
      seen_[static_cast<std::size_t>(varOfLit(lit))] = 0;
    }
  }

  // Sets the reason of the parse error that ends the attempt.
  void setParseError(const char *format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    error_ = formattedV(format, args);
    va_end(args);
  }

  const char *path_;
  int folder_;
  const char *name_;
  std::string &error_;
  LineReader *reader_ = nullptr;
  std::size_t limit_ = 0;
  const char *line_ = nullptr;
  const char *textEnd_ = nullptr;
  long lineNumber_ = 0;
  long nextLineNumber_ = 1;
  int numVars_ = 0;
  int numClauses_ = 0;
  QbFormula *formula_ = nullptr;
  std::optional<InstanceFeatures> *features_;
  std::optional<FeatureCounter> counter_;
  CheckedArray<int> lits_;
  CheckedArray<int> seen_;
  bool emptyClauseRead_ = false;
};
} // namespace

QdimacsReading Qdimacs_parseFile(const char *path, bool features, int folder, const char *name) {
  QdimacsReading reading;
  const std::clock_t start = std::clock();
  for (;;) {
    Statistics_init();
    VEXT_setStatus(STATUS_PARSING);
    long line = 0;
    Attempt outcome;
    reading.error.clear();
    {
      Parser parser(path, folder, name, reading.error, features ? &reading.features : nullptr);
      outcome = parser.run(reading.formula);
      line = parser.tooLongLine();
    }
    switch (outcome) {
    case Attempt::Done:
      if (reading.features) {
        const auto ticks = static_cast<unsigned long>(std::clock()) - static_cast<unsigned long>(start);
        reading.features->timeMs = static_cast<long>(ticks * 1000 / CLOCKS_PER_SEC);
      }
      return reading;
    case Attempt::NoHeader:
    case Attempt::Error: return reading;
    case Attempt::Restart:
      if (LINE_BUFSIZE > INT_MAX / 2) {
        reading.error = formatted("line %ld: line too long (%d characters or more)", line, LINE_BUFSIZE - 1);
        return reading;
      }
      LINE_BUFSIZE *= 2;
      break;
    }
  }
}

int Qdimacs_probeInstanceSize(const char *path, const InputLimits &limits, bool *abandoned) {
  if (abandoned) *abandoned = false;
  int fd = IOutils_openInputFile(path);
  if (fd < 0) return 0;
  return Qdimacs_probeOpenFile(fd, path, limits, abandoned);
}

namespace {
constexpr int PROBE_TOO_LONG = -1;

// One reading of the header with lines of at most limit characters: the
// declared count, or PROBE_TOO_LONG at a line that reaches the limit.
int probeHeader(int fd, const char *path, const InputLimits &limits, std::size_t limit, bool *abandoned) {
  InputFile input(fd, path, limits);
  LineReader reader(input, SITE_PROBE_LINE_BUFFER, limits.memoryFailsTheFile);
  struct Told { // whether the probe was stopped, however it returns
    InputFile &input;
    bool *abandoned;
    ~Told() {
      if (abandoned) *abandoned = input.abandoned();
    }
  } told{input, abandoned};
  const char *line = nullptr;
  std::size_t length = 0;
  while (reader.next(limit, line, length)) {
    const void *nul = std::memchr(line, '\0', length);
    const char *end = nul ? static_cast<const char *>(nul) : line + length;
    if (length == limit && !nul) return PROBE_TOO_LONG;
    char first = line < end ? *line : '\0';
    if (first == 'c') continue;
    if (first != 'p') return 0;
    const char *p = skipSpace(line + 1, end);
    if (end - p < 3 || p[0] != 'c' || p[1] != 'n' || p[2] != 'f') return 0;
    int counts[2];
    p += 3;
    for (int &count : counts) {
      p = skipSpace(p, end);
      const char *digitsEnd = p;
      if (scanInt(p, end, count, digitsEnd) != Number::Ok) return 0;
      p = digitsEnd;
    }
    return counts[0];
  }
  return 0;
}
} // namespace

// A line too long for the limit makes the reader start over with the limit
// doubled, and the probe does the same, so that both read the same lines: a
// long comment line is skipped, not taken for the end of the header.
int Qdimacs_probeOpenFile(int fd, const char *path, const InputLimits &limits, bool *abandoned) {
  if (abandoned) *abandoned = false;
  for (long capacity = LINE_BUFSIZE < 2 ? 2 : LINE_BUFSIZE;; capacity *= 2) {
    int again = dup(fd); // for the next reading: the reading closes fd
    int size = probeHeader(fd, path, limits, static_cast<std::size_t>(capacity) - 1, abandoned);
    if (size != PROBE_TOO_LONG || again < 0 || capacity > INT_MAX / 2 || (abandoned && *abandoned) ||
        lseek(again, 0, SEEK_SET) != 0) {
      if (again >= 0) close(again);
      return size == PROBE_TOO_LONG ? 0 : size;
    }
    fd = again;
  }
}

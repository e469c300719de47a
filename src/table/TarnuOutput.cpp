// TarnuOutput: why the reader searches for the best reading of the whole text
// instead of scanning it line by line.
//
// An item head is "\n<N>.Processing \"<path>\"...  " and the path is printed
// verbatim: it may hold line breaks, quotes, or the text of an item end and of
// another item head. Where a path ends therefore cannot be found by looking
// for the closing text alone. What settles it is the rest of the output: the
// text after the path must read as the end of an item (the summaries, a mark,
// a parse error, an abnormal exit or nothing), followed by the next head with
// a larger number or by the run's closing line break.
//
// So every place where a head may begin (a line break, a number without
// leading zero, ".Processing \"") is a candidate, and the output is read as a
// path through these candidates, each step being one item. The item that ends
// at a given candidate has its body after the last "\"...  " before that
// candidate (a body never holds that text), so each candidate has one body,
// read once. Every reading gives one row per instance number from 1 upwards;
// the reader takes the readings that read the most rows, then take the most
// candidates as heads, then have the fewest unreadable rows, then keep the
// run's closing line break (see Score). A marked item followed by a skipped
// number is unreadable: the mark may be that of the instance that printed
// nothing. Where two best readings differ, the instances concerned are
// unreadable: the text cannot tell, and a wrong row is worse than none. The
// one case no text can settle is a last item whose path itself holds the end
// of an item and the head of the next number: it is read as two items.
//
// Tarnu writes every figure of a summary in one piece, and the parent prints
// "[TIMEOUT]" or "[CRASH]" after whatever the child had flushed. A figure is
// therefore taken when its line goes on as it should; one cut off by a mark
// or by the end of the text before its line end is left empty. "clauses",
// which has no line end of its own, is whole whenever anything follows it.

#include "table/TarnuOutput.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "base/OutputTexts.h"

const std::array<const char *, TABLE_COLUMNS> TABLE_COLUMN_NAMES = [] {
  std::array<const char *, TABLE_COLUMNS> names = {"run",
                                                   "number",
                                                   "path",
                                                   "variables",
                                                   "forall",
                                                   "exists",
                                                   "alternations",
                                                   "clauses",
                                                   "growing_time_ms",
                                                   "components",
                                                   "d_components",
                                                   "depth",
                                                   "exists_nodes",
                                                   "forall_nodes",
                                                   "branches",
                                                   "delta_max",
                                                   "delta_avg",
                                                   "tree_alternations",
                                                   "outcome",
                                                   "detail",
                                                   "error_line",
                                                   "error_module",
                                                   "dot_not_written",
                                                   "qdimacs_not_written",
                                                   "qcir_not_written",
                                                   "seconds"};
  for (std::size_t i = 0; i < FEATURE_NAMES.size(); i++) names[COL_FEATURES + i] = FEATURE_NAMES[i].data();
  names[COL_FEATURE_TIME_MS] = "feature_time_ms";
  return names;
}();

namespace {
// The texts of Tarnu's output (base/OutputTexts.h) that the reader looks for.
constexpr std::string_view BANNER = BANNER_START;
constexpr std::string_view PATH_END = HEAD_END;
// The marks of the written files, in the order they can follow the formula
// summary, each with the characters that tell it from the others.
struct FileMark {
  std::string_view text;
  std::size_t distinct;
  int column;
};
constexpr FileMark FILE_MARKS[] = {{DOT_NOT_WRITTEN, 2, COL_DOT_NOT_WRITTEN},
                                   {QDIMACS_NOT_WRITTEN, 3, COL_QDIMACS_NOT_WRITTEN},
                                   {QCIR_NOT_WRITTEN, 3, COL_QCIR_NOT_WRITTEN}};

// The next item is looked for among the heads of the next few numbers (the
// first few of each number, in the order of the text), the next few heads of
// the text, and the first later head of a larger number (beyond a number that
// has no item: an instance that printed nothing, as when its child could not
// be started). This keeps the search linear on any text.
constexpr long long NUMBER_SEARCH = 4;
constexpr int SAME_NUMBER_SEARCH = 4;
constexpr int POSITION_SEARCH = 4;
// The most instances in a row that may have printed nothing: a number further
// on is not taken for the next item (it guards against a path holding the
// head of a huge number).
constexpr long long MAX_MISSING = 100000;

// ---- Small pattern matcher for the fixed texts of an item ----

enum class Chars { Digits, Integer, Reason, Quoted, Average, Seconds, Real };

bool accepts(Chars chars, char c, std::size_t index) {
  switch (chars) {
  case Chars::Digits: return c >= '0' && c <= '9';
  case Chars::Integer: return (c >= '0' && c <= '9') || (c == '-' && index == 0);
  case Chars::Reason: return c != '[' && c != ']' && c != '\n' && c != '"';
  case Chars::Quoted: return c != '"' && c != '\n';
  case Chars::Average:
    return (c >= '0' && c <= '9') || c == '.' || c == 'n' || c == 'a' || c == 'i' || c == 'f' ||
           (c == '-' && index == 0);
  case Chars::Seconds: return (c >= '0' && c <= '9') || c == '.';
  case Chars::Real: return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == '-' || c == '+';
  }
  return false;
}

// Whether a figure's text is well formed (its characters are already checked).
bool wellFormed(Chars chars, std::string_view t) {
  auto digits = [](std::string_view d) {
    return !d.empty() && std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  auto decimal = [&](std::string_view d) {
    std::size_t point = d.find('.');
    if (point == std::string_view::npos) return digits(d);
    return digits(d.substr(0, point)) && digits(d.substr(point + 1));
  };
  switch (chars) {
  case Chars::Digits: return digits(t);
  case Chars::Integer: return digits(t.substr(!t.empty() && t[0] == '-' ? 1 : 0));
  case Chars::Reason:
  case Chars::Quoted: return true;
  case Chars::Average: {
    std::string_view u = t.substr(!t.empty() && t[0] == '-' ? 1 : 0);
    return u == "nan" || u == "inf" || decimal(u);
  }
  case Chars::Seconds: return decimal(t);
  case Chars::Real: { // a finite double, all of the text
    double value = 0;
    auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
    return error == std::errc() && end == t.data() + t.size() && std::isfinite(value);
  }
  }
  return false;
}

struct Element {
  std::string_view text; // a fixed text, or empty for a field
  Chars chars = Chars::Digits;
  int column = -1; // where a field goes, or -1
};

enum class Match { Full, Partial, Fail };

// Matches elements at s[p..]; Partial when the text ends while still
// matching. On Fail, p is where the text stops matching. Fields are stored in
// row (when given) only on a full match.
Match matchElements(std::string_view s, std::size_t &p, const std::vector<Element> &elements, TableRow *row) {
  std::vector<std::pair<int, std::string_view>> found;
  for (const Element &e : elements) {
    if (!e.text.empty()) {
      std::size_t k = 0;
      while (k < e.text.size() && p + k < s.size() && s[p + k] == e.text[k]) k++;
      p += k;
      if (k < e.text.size()) return p == s.size() ? Match::Partial : Match::Fail;
    } else {
      std::size_t q = p;
      while (q < s.size() && accepts(e.chars, s[q], q - p)) q++;
      if (q == s.size()) {
        p = q;
        return Match::Partial;
      }
      if (!wellFormed(e.chars, s.substr(p, q - p))) return Match::Fail;
      if (e.column >= 0) found.emplace_back(e.column, s.substr(p, q - p));
      p = q;
    }
  }
  if (row)
    for (auto &[column, value] : found) (*row)[static_cast<std::size_t>(column)] = std::string(value);
  return Match::Full;
}

constexpr std::string_view NO_MEMORY = ERR_NO_MEMORY;
const std::vector<Element> ABNORMAL_EXIT = {{ABNORMAL_EXIT_START}, {"", Chars::Quoted, COL_DETAIL},
                                            {ABNORMAL_EXIT_LINE},  {"", Chars::Integer, COL_ERROR_LINE},
                                            {ABNORMAL_EXIT_FILE},  {"", Chars::Quoted, COL_ERROR_MODULE},
                                            {ABNORMAL_EXIT_END}};
const std::vector<Element> PARSE_ERROR = {{PARSE_ERROR_START}, {"", Chars::Reason, COL_DETAIL}, {MARK_END}};

// ---- The body of an item: everything after its head ----

// The text of a successful item, step by step: the formula summary, the
// marks of the files not written (optional), the tree summary with its
// alternations line (optional), and the mark "[OK, ...]".
enum class StepKind { Text, Figure, Features, FileMarks, AlternationsLine };
struct Step {
  StepKind kind;
  std::string_view text; // of a Text step
  Chars chars = Chars::Digits;
  int column = -1; // of a Figure step
};

int columnOf(Figure figure) {
  switch (figure) {
  case Figure::Variables: return COL_VARIABLES;
  case Figure::Forall: return COL_FORALL;
  case Figure::Exists: return COL_EXISTS;
  case Figure::Alternations: return COL_ALTERNATIONS;
  case Figure::Clauses: return COL_CLAUSES;
  case Figure::GrowingTime: return COL_GROWING_TIME_MS;
  case Figure::Components: return COL_COMPONENTS;
  case Figure::DComponents: return COL_D_COMPONENTS;
  case Figure::Depth: return COL_DEPTH;
  case Figure::ExistsNodes: return COL_EXISTS_NODES;
  case Figure::ForallNodes: return COL_FORALL_NODES;
  case Figure::Branches: return COL_BRANCHES;
  case Figure::DeltaMax: return COL_DELTA_MAX;
  case Figure::DeltaAvg: return COL_DELTA_AVG;
  case Figure::TreeAlternations: return COL_TREE_ALTERNATIONS;
  case Figure::Count: break;
  }
  return -1;
}

Chars charsOf(FigureForm form) {
  return form == FigureForm::Digits ? Chars::Digits : form == FigureForm::Average ? Chars::Average : Chars::Integer;
}

template <std::size_t N> void addLayout(std::vector<Step> &steps, const SummaryPiece (&layout)[N]) {
  for (const SummaryPiece &piece : layout)
    steps.push_back(piece.text.empty() ? Step{StepKind::Figure, {}, charsOf(piece.form), columnOf(piece.figure)}
                                       : Step{StepKind::Text, piece.text});
}

template <std::size_t N> std::vector<Element> elementsOf(const SummaryPiece (&layout)[N]) {
  std::vector<Element> elements;
  for (const SummaryPiece &piece : layout)
    elements.push_back(piece.text.empty() ? Element{"", charsOf(piece.form), columnOf(piece.figure)}
                                          : Element{piece.text});
  return elements;
}

const std::vector<Step> &successSteps() {
  static const std::vector<Step> steps = [] {
    std::vector<Step> all;
    addLayout(all, FORMULA_SUMMARY);
    all.push_back({StepKind::Features, {}});
    all.push_back({StepKind::FileMarks, {}});
    addLayout(all, TREE_SUMMARY);
    all.push_back({StepKind::AlternationsLine, {}});
    all.push_back({StepKind::Text, TREE_SUMMARY_END});
    all.push_back({StepKind::Text, OK_MARK_START});
    all.push_back({StepKind::Figure, {}, Chars::Seconds, COL_SECONDS});
    all.push_back({StepKind::Text, OK_MARK_END});
    all.push_back({StepKind::Text, "\n"});
    return all;
  }();
  return steps;
}

struct Body {
  bool valid = false;
  bool mark = false; // ends with "[TIMEOUT]" or "[CRASH]" from the parent
  TableRow row;      // every column but number and path
};

bool isProperPrefixOf(std::string_view rest, std::string_view text) {
  return rest.size() < text.size() && text.substr(0, rest.size()) == rest;
}

// Reads the text after the end of a head, in three steps: what a successful
// item prints, as far as it goes; the child's own last words (nothing, a
// parse error, an abnormal exit); the parent's mark. When cutShort, the text
// is the end of a capture that stops before the run did, and may stop
// anywhere.
class BodyReader {
public:
  BodyReader(std::string_view s, bool cutShort) : s_(s), cutShort_(cutShort) {}

  Body read() {
    summary();
    if (!childEnding() || !parentMark()) return body_;
    if (!outcome_) outcome_ = complete_ ? "ok" : "incomplete";
    body_.row[COL_OUTCOME] = outcome_;
    body_.valid = true;
    return body_;
  }

private:
  // The successful item as far as it goes: complete_, or where it stops (cut_).
  void summary() {
    const std::vector<Step> &steps = successSteps();
    std::size_t p = 0;
    for (std::size_t i = 0; i < steps.size(); i++) {
      const Step &step = steps[i];
      bool goesOn = true;
      switch (step.kind) {
      case StepKind::Features: goesOn = features(p); break;
      case StepKind::FileMarks: goesOn = fileMarks(p); break;
      case StepKind::AlternationsLine: goesOn = alternationsLine(p); break;
      case StepKind::Text: goesOn = text(p, step.text); break;
      case StepKind::Figure: goesOn = figure(p, step, i + 1 < steps.size() ? &steps[i + 1] : nullptr); break;
      }
      if (!goesOn) return;
    }
    complete_ = true;
    cut_ = p;
  }

  // Optional: the block of -features, whole (it is printed in one piece), or
  // none of its values. Text that begins only as the tree summary's rule
  // does too (they share their first characters) is no block.
  bool features(std::size_t &p) {
    static const std::vector<Element> block = [] {
      std::vector<Element> elements = {{FEATURES_START}};
      for (std::size_t i = 0; i < FEATURE_NAMES.size(); i++) {
        elements.push_back({FEATURE_NAMES[i]});
        elements.push_back({FEATURE_SEPARATOR});
        elements.push_back({"", i < FEATURE_COUNTS ? Chars::Integer : Chars::Real, static_cast<int>(COL_FEATURES + i)});
        elements.push_back({"\n"});
      }
      elements.push_back({FEATURE_TIME_START});
      elements.push_back({"", Chars::Integer, COL_FEATURE_TIME_MS});
      elements.push_back({FEATURE_TIME_END});
      return elements;
    }();
    const std::string_view rule = TREE_SUMMARY[0].text;
    const std::size_t shared =
        static_cast<std::size_t>(std::mismatch(rule.begin(), rule.end(), FEATURES_START.begin()).first - rule.begin());
    std::size_t same = 0;
    while (same < FEATURES_START.size() && p + same < s_.size() && s_[p + same] == FEATURES_START[same]) same++;
    if (same <= shared) return true;
    std::size_t q = p;
    if (matchElements(s_, q, block, &row()) != Match::Full) {
      cut_ = q;
      return false;
    }
    p = q;
    return true;
  }

  // Optional: only text that begins like a mark is taken for it.
  bool fileMarks(std::size_t &p) {
    for (const FileMark &mark : FILE_MARKS) {
      std::size_t same = 0;
      while (same < mark.text.size() && p + same < s_.size() && s_[p + same] == mark.text[same]) same++;
      if (same == 0 || (same < mark.distinct && p + same < s_.size())) continue;
      std::size_t q = p;
      TableRow marks;
      Match m = matchElements(s_, q, {{mark.text}, {"", Chars::Reason, mark.column}, {MARK_END}}, &marks);
      if (m != Match::Full) {
        cut_ = q; // a mark or an abnormal exit may begin where this mark stops
        return false;
      }
      row()[static_cast<std::size_t>(mark.column)] = marks[static_cast<std::size_t>(mark.column)];
      p = q;
    }
    return true;
  }

  bool alternationsLine(std::size_t &p) {
    static const std::vector<Element> line = elementsOf(ALTERNATIONS_LINE);
    if (s_.substr(p, ALTERNATIONS_LINE[0].text.size()) != ALTERNATIONS_LINE[0].text) return true;
    std::size_t q = p;
    if (matchElements(s_, q, line, &row()) != Match::Full) {
      cut_ = q;
      return false;
    }
    p = q;
    return true;
  }

  bool text(std::size_t &p, std::string_view text) {
    std::size_t k = 0;
    while (k < text.size() && p + k < s_.size() && s_[p + k] == text[k]) k++;
    if (k < text.size()) {
      cut_ = p + k;
      // "[OK, " against "[CRASH]": the other text begins at the bracket.
      if (k > 0 && text[k - 1] == '[') cut_--;
      return false;
    }
    p += k;
    return true;
  }

  // A figure is whole only when its line goes on: the text after it begins
  // as the next step's text, or, before an optional step (whose texts begin
  // with a line break of their own), anything follows: "clauses" has no line
  // end and is printed and flushed in one piece with the formula summary.
  // Anything else after the figure's characters begins there, and the
  // figure, which it may have cut, is not taken.
  bool figure(std::size_t &p, const Step &step, const Step *next) {
    std::size_t q = p;
    while (q < s_.size() && accepts(step.chars, s_[q], q - p)) q++;
    std::string_view figure = s_.substr(p, q - p);
    bool whole = q < s_.size() && !figure.empty() && wellFormed(step.chars, figure) &&
                 (!next || next->kind != StepKind::Text || s_[q] == next->text[0]);
    if (!whole) {
      cut_ = q;
      return false;
    }
    row()[static_cast<std::size_t>(step.column)] = std::string(figure);
    p = q;
    return true;
  }

  // What follows the child's own text: nothing, a parse error (right after
  // the head), an abnormal exit. False when it is none of them.
  bool childEnding() {
    std::string_view rest = s_.substr(cut_);
    q_ = cut_;
    if (cut_ == 0 && rest.starts_with(PARSE_ERROR_START)) return lastWords(PARSE_ERROR, "parse-error");
    if (rest.substr(0, 2) == ABNORMAL_EXIT_START.substr(0, 2)) {
      if (!lastWords(ABNORMAL_EXIT, "abnormal-exit")) return false;
      // Out of memory (under -memout, or the machine's): its own outcome, so
      // a table can sort on it; the text stays in detail.
      if (childEnded_ && row()[COL_DETAIL] == NO_MEMORY) outcome_ = "memout";
      return true;
    }
    if (rest.empty()) {
      if (complete_)
        outcome_ = "ok";
      else if (cut_ == 0 || cutShort_)
        outcome_ = "incomplete";
      else
        return false;
      return true;
    }
    childEnded_ = complete_;
    return true;
  }

  // The child's own last words: complete, cut short at the end of the text,
  // or not what they should be (false: the body cannot be read).
  bool lastWords(const std::vector<Element> &elements, const char *ended) {
    Match m = matchElements(s_, q_, elements, &row());
    if (m == Match::Fail) return false;
    if (m == Match::Partial) {
      if (!cutShort_) return false;
      outcome_ = "incomplete";
      q_ = s_.size();
    } else {
      outcome_ = ended;
      childEnded_ = true;
    }
    return true;
  }

  // The parent's mark, or (in a capture cut short) the beginning of one.
  bool parentMark() {
    std::string_view tail = s_.substr(q_);
    if (tail.empty()) return true;
    if (tail == TIMEOUT_MARK || tail == CRASH_MARK) {
      outcome_ = tail == TIMEOUT_MARK ? "timeout" : "crash";
      body_.mark = true;
      return true;
    }
    if (cutShort_ && (isProperPrefixOf(tail, TIMEOUT_MARK) || isProperPrefixOf(tail, CRASH_MARK) ||
                      (!childEnded_ && isProperPrefixOf(tail, PARSE_ERROR_START)))) {
      outcome_ = "incomplete";
      return true;
    }
    return false;
  }

  TableRow &row() { return body_.row; }

  std::string_view s_;
  bool cutShort_;
  Body body_;
  bool complete_ = false;
  std::size_t cut_ = 0; // where the successful item's text stops
  std::size_t q_ = 0;   // where the child's last words end
  bool childEnded_ = false;
  const char *outcome_ = nullptr;
};

Body readBody(std::string_view s, bool cutShort) { return BodyReader(s, cutShort).read(); }

// Whether t is the beginning of an item head and no more: "\n", maybe a
// number, maybe the beginning of the title.
bool isHeadBeginning(std::string_view t) {
  if (t.empty() || t[0] != '\n') return false;
  std::size_t i = 1;
  if (i < t.size()) {
    if (t[i] < '1' || t[i] > '9') return false;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') i++;
  }
  std::string_view r = t.substr(i);
  return r.size() < HEAD_TITLE.size() && HEAD_TITLE.substr(0, r.size()) == r;
}

// Reads the text between a path end and the next head or the end of the run.
// A capture cut short may stop inside the head of the next item: the item
// before it then ended as a whole.
Body readItemEnd(std::string_view s, bool cutShort) {
  if (cutShort) {
    std::size_t lineBreak = s.rfind('\n');
    if (lineBreak != std::string_view::npos && isHeadBeginning(s.substr(lineBreak))) {
      Body whole = readBody(s.substr(0, lineBreak), false);
      if (whole.valid) return whole;
    }
  }
  return readBody(s, cutShort);
}

// ---- Candidates and the search for the best reading ----

struct Head {
  std::size_t pos;       // its opening line break
  std::size_t pathStart; // first byte of the path
  long long number;
};

// How good a reading is, compared in this order: more rows read; more heads
// taken as heads (a path that swallows the head of a later item is the
// worse reading of the two, even when that item is unreadable); fewer
// unreadable rows; the run's closing line break found.
struct Score {
  long long read = 0;   // rows read
  long long heads = 0;  // candidates taken as the heads of items
  long long unread = 0; // rows unreadable
  int cut = 0;          // 1 when the reading ends without the run's closing line break
};

Score operator+(Score a, Score b) { return {a.read + b.read, a.heads + b.heads, a.unread + b.unread, a.cut + b.cut}; }
bool operator==(Score a, Score b) {
  return a.read == b.read && a.heads == b.heads && a.unread == b.unread && a.cut == b.cut;
}
bool better(Score a, Score b) {
  if (a.read != b.read) return a.read > b.read;
  if (a.heads != b.heads) return a.heads > b.heads;
  if (a.unread != b.unread) return a.unread < b.unread;
  return a.cut < b.cut;
}

enum class Why { None, NotAnItem, CutInHead, MarkBeforeGap, BannerJunk };

struct Edge {
  int target;
  Score score;
  bool valid; // the item reads (or, from the start, the banner ends cleanly)
  Why why;    // why the item's row is unreadable
};

// A run that took one of several shares of a walk (-shard=K/N) numbers its
// items K, K + N, K + 2N, ...: the reader counts them by their place in
// that sequence (K + (i - 1)N is the i-th), so that the search sees the
// numbers 1, 2, 3, ... of a whole run, and K is told by the first head.
class Reader {
public:
  Reader(std::string_view text, int shards) : text_(text), shards_(shards) {}

  TarnuTable run() {
    if (!findBanner()) return std::move(table_);
    table_.runFound = true;
    findCandidates();
    search();
    walk();
    return std::move(table_);
  }

private:
  std::string_view text_;
  const long long shards_;
  long long shard_ = 1; // K, told by the first head
  TarnuTable table_;
  std::size_t bannerEnd_ = 0;
  std::vector<Head> heads_;
  std::vector<std::size_t> pathEnds_;
  std::unordered_map<long long, std::vector<int>> byNumber_;
  std::vector<int> nextLarger_; // per head: the first later head of a larger number, or -1
  std::vector<std::optional<Body>> bodies_;
  std::vector<Score> best_;
  int endNormal_ = 0, endCut_ = 0, start_ = 0;

  bool isHead(int node) const { return node >= 0 && node < static_cast<int>(heads_.size()); }
  bool isEnd(int node) const { return node == endNormal_ || node == endCut_; }

  bool findBanner() {
    std::size_t at;
    if (text_.substr(0, BANNER.size()) == BANNER) {
      at = 0;
    } else if (text_.substr(0, HELP_START.size()) == HELP_START) {
      // Options without a path: the help text, then the banner on a line of its own.
      std::size_t found = text_.find(std::string("\n").append(BANNER));
      if (found == std::string_view::npos) return false;
      at = found + 1;
    } else {
      return false;
    }
    std::size_t lineBreak = text_.find('\n', at);
    bannerEnd_ = lineBreak == std::string_view::npos ? text_.size() : lineBreak;
    return true;
  }

  void findCandidates() {
    for (std::size_t p = text_.find('\n', bannerEnd_); p != std::string_view::npos; p = text_.find('\n', p + 1)) {
      std::size_t q = p + 1;
      if (q >= text_.size() || text_[q] < '1' || text_[q] > '9') continue;
      long long number = 0;
      bool tooLong = false;
      while (q < text_.size() && text_[q] >= '0' && text_[q] <= '9') {
        if (number > 100000000000000LL) tooLong = true;
        number = number * 10 + (text_[q] - '0');
        q++;
        if (tooLong) break;
      }
      if (tooLong || text_.substr(q, HEAD_TITLE.size()) != HEAD_TITLE) continue;
      if (heads_.empty()) shard_ = (number - 1) % shards_ + 1;
      if ((number - shard_) % shards_ != 0) continue; // no item of this share
      number = (number - shard_) / shards_ + 1;
      byNumber_[number].push_back(static_cast<int>(heads_.size()));
      heads_.push_back({p, q + HEAD_TITLE.size(), number});
    }
    for (std::size_t p = text_.find(PATH_END, bannerEnd_); p != std::string_view::npos; p = text_.find(PATH_END, p + 1))
      pathEnds_.push_back(p);
    const int m = static_cast<int>(heads_.size());
    nextLarger_.assign(static_cast<std::size_t>(m), -1);
    std::vector<int> stack; // later heads, their numbers rising from the top
    for (int i = m - 1; i >= 0; i--) {
      while (!stack.empty() &&
             heads_[static_cast<std::size_t>(stack.back())].number <= heads_[static_cast<std::size_t>(i)].number)
        stack.pop_back();
      if (!stack.empty()) nextLarger_[static_cast<std::size_t>(i)] = stack.back();
      stack.push_back(i);
    }
    endNormal_ = m;
    endCut_ = m + 1;
    start_ = m + 2;
    bodies_.resize(static_cast<std::size_t>(m) + 2);
  }

  // Where the body of the item that ends at the target ends.
  std::optional<std::size_t> bodyEnd(int target) const {
    if (isHead(target)) return heads_[static_cast<std::size_t>(target)].pos;
    if (target == endCut_) return text_.size();
    if (!text_.empty() && text_.back() == '\n' && text_.size() - 1 >= bannerEnd_) return text_.size() - 1;
    return std::nullopt;
  }

  // The path end of the item that ends at the target: the last "\"...  "
  // that ends before the target's body end.
  std::optional<std::size_t> pathEndBefore(std::size_t end) const {
    auto it = std::upper_bound(pathEnds_.begin(), pathEnds_.end(), end,
                               [](std::size_t e, std::size_t p) { return e < p + PATH_END.size(); });
    if (it == pathEnds_.begin()) return std::nullopt;
    return *(it - 1);
  }

  const Body *body(int target) {
    std::optional<Body> &slot = bodies_[static_cast<std::size_t>(target)];
    if (!slot) {
      std::optional<std::size_t> end = bodyEnd(target);
      std::optional<std::size_t> pathEnd = end ? pathEndBefore(*end) : std::nullopt;
      if (!end || !pathEnd) {
        slot = Body{};
      } else {
        std::size_t from = *pathEnd + PATH_END.size();
        slot = readItemEnd(text_.substr(from, *end - from), target == endCut_);
      }
    }
    return &*slot;
  }

  std::vector<Edge> edgesFrom(int node) {
    std::vector<Edge> edges;
    std::vector<int> targets;
    auto addTarget = [&](int t) {
      if (std::find(targets.begin(), targets.end(), t) == targets.end()) targets.push_back(t);
    };
    if (node == start_) {
      auto first = std::lower_bound(heads_.begin(), heads_.end(), bannerEnd_,
                                    [](const Head &h, std::size_t p) { return h.pos < p; });
      if (first != heads_.end()) addTarget(static_cast<int>(first - heads_.begin()));
      if (auto it = byNumber_.find(1); it != byNumber_.end())
        for (std::size_t k = 0; k < it->second.size() && k < SAME_NUMBER_SEARCH; k++) addTarget(it->second[k]);
      if (bodyEnd(endNormal_)) addTarget(endNormal_);
      addTarget(endCut_);
      for (int t : targets) {
        std::size_t at = isHead(t) ? heads_[static_cast<std::size_t>(t)].pos : *bodyEnd(t);
        long long missing = isHead(t) ? heads_[static_cast<std::size_t>(t)].number - 1 : 0;
        if (missing > MAX_MISSING) continue;
        bool clean = at == bannerEnd_;
        edges.push_back({t, Score{0, 0, missing + (clean ? 0 : 1), t == endCut_ ? 1 : 0}, clean,
                         clean ? Why::None : Why::BannerJunk});
      }
      return edges;
    }
    const Head &h = heads_[static_cast<std::size_t>(node)];
    for (long long n = h.number + 1; n <= h.number + NUMBER_SEARCH; n++)
      if (auto it = byNumber_.find(n); it != byNumber_.end()) {
        auto first = std::upper_bound(it->second.begin(), it->second.end(), node);
        for (int k = 0; k < SAME_NUMBER_SEARCH && first != it->second.end(); k++, first++) addTarget(*first);
      }
    const int m = static_cast<int>(heads_.size());
    for (int t = node + 1; t < m && t <= node + POSITION_SEARCH; t++)
      if (heads_[static_cast<std::size_t>(t)].number > h.number) addTarget(t);
    if (int t = nextLarger_[static_cast<std::size_t>(node)]; t >= 0) addTarget(t);
    if (bodyEnd(endNormal_)) addTarget(endNormal_);
    addTarget(endCut_);
    for (int t : targets) {
      long long missing = isHead(t) ? heads_[static_cast<std::size_t>(t)].number - h.number - 1 : 0;
      if (missing > MAX_MISSING) continue;
      std::optional<std::size_t> end = bodyEnd(t);
      std::optional<std::size_t> pathEnd = end ? pathEndBefore(*end) : std::nullopt;
      const Body *b = body(t);
      int cut = t == endCut_ ? 1 : 0;
      if (pathEnd && *pathEnd >= h.pathStart && b->valid) {
        bool readable = !(missing > 0 && b->mark);
        edges.push_back({t, Score{readable ? 1 : 0, 1, missing + (readable ? 0 : 1), cut}, true,
                         readable ? Why::None : Why::MarkBeforeGap});
      } else {
        bool cutInHead = t == endCut_ && !(pathEnd && *pathEnd >= h.pathStart);
        edges.push_back({t, Score{0, 1, missing + 1, cut}, false, cutInHead ? Why::CutInHead : Why::NotAnItem});
      }
    }
    return edges;
  }

  void search() {
    best_.assign(heads_.size() + 3, Score{});
    for (int node = static_cast<int>(heads_.size()) - 1; node >= 0; node--)
      best_[static_cast<std::size_t>(node)] = bestOf(node);
    best_[static_cast<std::size_t>(start_)] = bestOf(start_);
  }

  Score bestOf(int node) {
    std::optional<Score> best;
    for (const Edge &e : edgesFrom(node)) {
      Score total = e.score + best_[static_cast<std::size_t>(e.target)];
      if (!best || better(total, *best)) best = total;
    }
    return *best; // every node has an edge to the end of the text
  }

  std::vector<Edge> optimalEdges(int node) {
    std::vector<Edge> optimal;
    for (const Edge &e : edgesFrom(node))
      if (e.score + best_[static_cast<std::size_t>(e.target)] == best_[static_cast<std::size_t>(node)])
        optimal.push_back(e);
    return optimal;
  }

  // ---- Rows ----

  void problem(std::string line) { table_.problems.push_back(std::move(line)); }
  // The number the run printed for the n-th item of its share.
  std::string printed(long long n) const { return std::to_string(shard_ + (n - 1) * shards_); }
  std::string item(long long n) const { return "item " + printed(n) + ": unreadable: "; }

  void unreadableRow(long long number) {
    TableRow row;
    row[COL_NUMBER] = printed(number);
    row[COL_OUTCOME] = "unreadable";
    table_.rows.push_back(std::move(row));
    table_.unreadable++;
  }

  void missingRows(long long from, long long to) {
    for (long long n = from; n <= to; n++) {
      problem(item(n) + "the output has no item with this number");
      unreadableRow(n);
    }
  }

  void emit(int node, const Edge &e) {
    if (node == start_) {
      if (!e.valid) problem("the text after the version banner does not read as an item");
      if (isHead(e.target)) missingRows(1, heads_[static_cast<std::size_t>(e.target)].number - 1);
      return;
    }
    const Head &h = heads_[static_cast<std::size_t>(node)];
    if (e.valid && e.why == Why::None) {
      TableRow row = body(e.target)->row;
      row[COL_NUMBER] = printed(h.number);
      std::size_t pathEnd = *pathEndBefore(*bodyEnd(e.target));
      row[COL_PATH] = std::string(text_.substr(h.pathStart, pathEnd - h.pathStart));
      table_.rows.push_back(std::move(row));
    } else {
      if (e.why == Why::MarkBeforeGap)
        problem(item(h.number) + "the numbers skip after it, so its closing mark may be that of a later instance");
      else if (e.why == Why::CutInHead)
        problem(item(h.number) + "the output stops inside its head");
      else
        problem(item(h.number) + "its text does not read as an item of Tarnu's output");
      unreadableRow(h.number);
    }
    if (isHead(e.target)) missingRows(h.number + 1, heads_[static_cast<std::size_t>(e.target)].number - 1);
  }

  int rank(int node) const { return node == start_ ? -1 : node; }

  // Several best readings leave this node: every instance up to the next
  // node that all of them pass through is unreadable.
  int ambiguousRegion(int node) {
    const int total = static_cast<int>(heads_.size()) + 2;
    std::vector<char> reachable(static_cast<std::size_t>(total), 0);
    int furthest = -1;
    int merge = -1;
    long long highest = node == start_ ? 0 : heads_[static_cast<std::size_t>(node)].number;
    auto spread = [&](int from) {
      for (const Edge &e : optimalEdges(from)) {
        reachable[static_cast<std::size_t>(e.target)] = 1;
        furthest = std::max(furthest, rank(e.target));
      }
    };
    spread(node);
    for (int r = rank(node) + 1; r < total; r++) {
      if (!reachable[static_cast<std::size_t>(r)]) continue;
      if (r >= furthest) {
        merge = r;
        break;
      }
      if (isHead(r)) highest = std::max(highest, heads_[static_cast<std::size_t>(r)].number);
      spread(r);
    }
    long long from = node == start_ ? 1 : heads_[static_cast<std::size_t>(node)].number;
    long long to = merge >= 0 && isHead(merge) ? heads_[static_cast<std::size_t>(merge)].number - 1 : highest;
    if (to >= from) {
      std::string which = to > from
                              ? "items " + printed(from) + " to " + printed(to) + (shards_ > 1 ? " of this share" : "")
                              : "item " + printed(from);
      problem(which + ": unreadable: the output reads in more than one way (a path may hold the text of an item "
                      "end and of an item head)");
      for (long long n = from; n <= to; n++) unreadableRow(n);
    }
    if (merge < 0) {
      table_.cutShort = best_[static_cast<std::size_t>(node)].cut > 0;
      return -1;
    }
    return merge;
  }

  void walk() {
    int node = start_;
    while (node >= 0 && !isEnd(node)) {
      std::vector<Edge> optimal = optimalEdges(node);
      if (optimal.size() == 1) {
        emit(node, optimal[0]);
        node = optimal[0].target;
      } else {
        node = ambiguousRegion(node);
      }
    }
    if (node == endCut_) table_.cutShort = true;
    if (table_.cutShort) problem("the output stops before the end of the run");
  }
};
} // namespace

namespace {
// Where a further run begins: its banner, ending with ")", followed by the
// first head, by the end of an empty run, or by nothing. The run before ends
// with its closing line break, or stops anywhere when it was cut short (a run
// interrupted, and a new one written after it).
bool beginsRun(std::string_view text, std::size_t at) {
  std::size_t lineBreak = text.find('\n', at);
  std::string_view banner = text.substr(at, lineBreak == std::string_view::npos ? text.size() - at : lineBreak - at);
  if (banner.back() != ')') return false;
  if (lineBreak == std::string_view::npos) return true;
  std::string_view after = text.substr(lineBreak + 1);
  return after.empty() || after.substr(0, 1 + HEAD_TITLE.size()) == std::string("1").append(HEAD_TITLE) ||
         after.substr(0, BANNER.size()) == BANNER;
}
} // namespace

namespace {
// The text without the lines of standard error.
std::string withoutDiagnostics(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(at, end - at);
    if (!OutputTexts_isDiagnostic(line)) kept.append(line);
    at = end;
  }
  return kept;
}

TarnuTable readRuns(std::string_view text, int shards) {
  // The first run may begin with the help text, whose first line holds the banner too.
  std::size_t first = 0;
  if (text.substr(0, HELP_START.size()) == HELP_START) {
    std::size_t found = text.find(std::string("\n").append(BANNER));
    first = found == std::string_view::npos ? text.size() : found + 1;
  }
  std::vector<std::size_t> starts = {0};
  for (std::size_t p = text.find(BANNER, first + 1); p != std::string_view::npos; p = text.find(BANNER, p + 1))
    if (beginsRun(text, p)) starts.push_back(p);
  TarnuTable all;
  for (std::size_t k = 0; k < starts.size(); k++) {
    std::size_t end = k + 1 < starts.size() ? starts[k + 1] : text.size();
    TarnuTable one = Reader(text.substr(starts[k], end - starts[k]), shards).run();
    if (!one.runFound) return all; // only the first can lack a banner
    all.runFound = true;
    all.runs++;
    all.cutShort = all.cutShort || one.cutShort;
    all.unreadable += one.unreadable;
    std::string run = std::to_string(k + 1);
    for (TableRow &row : one.rows) {
      row[COL_RUN] = run;
      all.rows.push_back(std::move(row));
    }
    for (std::string &line : one.problems)
      all.problems.push_back(starts.size() > 1 ? "run " + run + ": " + line : line);
  }
  return all;
}
} // namespace

TarnuTable TarnuOutput_read(std::string_view text, int shards) {
  TarnuTable table = readRuns(withoutDiagnostics(text), shards);
  table.features = std::any_of(table.rows.begin(), table.rows.end(),
                               [](const TableRow &row) { return !row[COL_FEATURE_TIME_MS].empty(); });
  return table;
}

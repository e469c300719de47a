#pragma once
// OutputTexts: the texts that Tarnu writes for its users and that tarnu-table
// reads back: the banner, the item head, the summaries (as layouts of fixed
// texts and figures), the marks, and the lines of standard error. Both
// programs take them from here, so a text changed here changes what Tarnu
// writes and what tarnu-table reads alike.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "storage/AbnormalExit.h" // the abnormal exit's message, which the storage layer prints

// ---- Banner and item head ----

// "Tarnu v0.1 (revision 80, compiled Mmm dd yyyy)", no line break; the help
// text's first line is "This is " and the banner.
inline constexpr const char *BANNER_FORMAT = "Tarnu v0.1 (revision 80, compiled %s)";
inline constexpr std::string_view BANNER_START = "Tarnu v";
inline constexpr std::string_view HELP_START = "This is Tarnu v";
// An item begins "\n", its number, HEAD_TITLE, the path verbatim, HEAD_END.
inline constexpr std::string_view HEAD_TITLE = ".Processing \"";
inline constexpr std::string_view HEAD_END = "\"...  ";
std::string OutputTexts_head(int number, const char *path);

// ---- Summaries ----

// The figures of the summaries, and how each is written.
enum class Figure : unsigned char {
  Variables,
  Forall,
  Exists,
  Alternations,
  Clauses,
  GrowingTime,
  Components,
  DComponents,
  Depth,
  ExistsNodes,
  ForallNodes,
  Branches,
  DeltaMax,
  DeltaAvg,
  TreeAlternations,
  Count
};
enum class FigureForm : unsigned char {
  Integer, // %i
  Digits,  // an unbounded count in decimal
  Average, // %.2f, or "nan"
};
// A fixed text, or (empty text) a figure.
struct SummaryPiece {
  std::string_view text;
  Figure figure = Figure::Count;
  FigureForm form = FigureForm::Integer;
};
constexpr SummaryPiece figure(Figure f, FigureForm form = FigureForm::Integer) { return {{}, f, form}; }

// The formula summary; its last line has no line end (what follows an item's
// formula summary begins with one).
inline constexpr SummaryPiece FORMULA_SUMMARY[] = {
    {"\n---------QBF--------\n"},
    {"   variables: "},
    figure(Figure::Variables),
    {"\n"},
    {"      FORALL: "},
    figure(Figure::Forall),
    {"\n"},
    {"      EXISTS: "},
    figure(Figure::Exists),
    {"\n"},
    {"alternations: "},
    figure(Figure::Alternations),
    {"\n"},
    {"     clauses: "},
    figure(Figure::Clauses),
};
// The tree summary up to its Delta AVG line; then, with the formula files,
// the alternations line; then its closing rule.
inline constexpr SummaryPiece TREE_SUMMARY[] = {
    {"\n--------TARNU-------\n"},
    {"Growing time: "},
    figure(Figure::GrowingTime),
    {"ms\n"},
    {"  Components: "},
    figure(Figure::Components),
    {"\n"},
    {"D-Components: "},
    figure(Figure::DComponents, FigureForm::Digits),
    {"\n"},
    {"       Depth: "},
    figure(Figure::Depth),
    {"\n"},
    {"EXISTS nodes: "},
    figure(Figure::ExistsNodes),
    {"\n"},
    {"FORALL nodes: "},
    figure(Figure::ForallNodes),
    {"\n"},
    {"    Branches: "},
    figure(Figure::Branches),
    {"\n"},
    {"   Delta MAX: "},
    figure(Figure::DeltaMax),
    {"\n"},
    {"   Delta AVG: "},
    figure(Figure::DeltaAvg, FigureForm::Average),
    {"\n"},
};
inline constexpr SummaryPiece ALTERNATIONS_LINE[] = {{"Alternations: "}, figure(Figure::TreeAlternations), {"\n"}};
inline constexpr std::string_view TREE_SUMMARY_END = "--------------------\n";

// The figures of one summary as they are to be written.
using FigureTexts = std::array<std::string, static_cast<std::size_t>(Figure::Count)>;
// Writes the layout on standard output with the figures it names.
template <std::size_t N> void OutputTexts_print(const SummaryPiece (&layout)[N], const FigureTexts &figures);
void OutputTexts_printPieces(const SummaryPiece *begin, const SummaryPiece *end, const FigureTexts &figures);
template <std::size_t N> void OutputTexts_print(const SummaryPiece (&layout)[N], const FigureTexts &figures) {
  OutputTexts_printPieces(layout, layout + N, figures);
}

// The features block of -features, after the formula summary: the line
// "------FEATURES------", one line "NAME: VALUE" per feature in this order
// (ASlib's), then "Feature time: Nms" with no line end. The first
// FEATURE_COUNTS features are counts, written as integers; the others are
// written as the shortest decimal that reads back as the same double.
inline constexpr std::string_view FEATURES_START = "\n------FEATURES------\n";
inline constexpr std::array<std::string_view, 46> FEATURE_NAMES = {
    "EXIST_VARS",
    "FORALL_VARS",
    "TOTAL_VARS",
    "CLAUSES",
    "LITERALS",
    "EXIST_SET",
    "FORALL_SET",
    "TOTAL_SET",
    "UNARY_CLAUSES",
    "BINARY_CLAUSES",
    "TERNARY_MORE_CLAUSES",
    "POS_HORN",
    "NEG_HORN",
    "EXIST_LIT_PER_CLAUSE",
    "FORALL_LIT_PER_CLAUSE",
    "EXIST_VARS_PER_SET",
    "FORALL_POS_LITS_PER_CLAUSE",
    "FORALL_NEG_LITS_PER_CLAUSE",
    "OCCS_POS_NO_PER_VAR",
    "OCCS_FORALL_NO_PER_VAR",
    "OCCS_FORALL_POS_NO_PER_VAR",
    "W_OCCS_POS_NO_PER_VAR",
    "W_OCCS_FORALL_NO_PER_VAR",
    "W_OCCS_FORALL_POS_NO_PER_VAR",
    "W_PRODUCTS",
    "LITN_LIT",
    "LITEP_LIT",
    "LITEN_LITE",
    "LITEN_LITN",
    "LITFN_LIT",
    "LITFP_LITFN",
    "OCCP_OCCN",
    "OCCE_OCC",
    "OCCEN_OCC",
    "OCCFP_OCCF",
    "OCCEN_OCCE",
    "OCCEN_OCCN",
    "OCCFP_OCCFN",
    "TERMORE_CLAUSE",
    "NEG_HORN_CLAUSE",
    "WOCCN_WOCC",
    "WOCCEP_WOCC",
    "WOCCFN_WOCC",
    "WOCCEP_WOCCE",
    "WOCCEP_WOCCP",
    "WOCCFN_WOCCN",
};
inline constexpr std::size_t FEATURE_COUNTS = 13;
inline constexpr std::string_view FEATURE_SEPARATOR = ": ";
inline constexpr std::string_view FEATURE_TIME_START = "Feature time: ";
inline constexpr std::string_view FEATURE_TIME_END = "ms";

// ---- Marks ----

// "[OK, 1.2s]": the processor time of a completed instance, then a line break.
inline constexpr std::string_view OK_MARK_START = "[OK, ";
inline constexpr std::string_view OK_MARK_END = "s]";
// The parent's marks of a child killed by a signal.
inline constexpr std::string_view TIMEOUT_MARK = "[TIMEOUT]";
inline constexpr std::string_view CRASH_MARK = "[CRASH]";
// "[PARSE ERROR: reason]", right after the item head.
inline constexpr std::string_view PARSE_ERROR_START = "[PARSE ERROR: ";
// "[DOT FILE NOT WRITTEN: reason]" and its kin, after the formula summary,
// in this order.
inline constexpr std::string_view DOT_NOT_WRITTEN = "[DOT FILE NOT WRITTEN: ";
inline constexpr std::string_view QDIMACS_NOT_WRITTEN = "[QDIMACS FILE NOT WRITTEN: ";
inline constexpr std::string_view QCIR_NOT_WRITTEN = "[QCIR FILE NOT WRITTEN: ";
inline constexpr std::string_view MARK_END = "]";
// Why a QDIMACS file is not written besides the system's reasons: it would
// declare more variables than the reader reads (MAX_VARIABLE).
inline constexpr const char *REASON_TOO_MANY_VARIABLES = "too many variables";
// The abnormal exit's message is the storage layer's (ABNORMAL_EXIT_START
// and the rest, in storage/AbnormalExit.h). Its texts besides the lack of
// memory (ERR_NO_MEMORY there): an empty clause reached by a universal pure
// literal, or by forall reduction.
inline constexpr const char *ERR_UNSAT_PLE = "UNSAT_FOR_QBF_UNIVERSAL_PURE_LITERAL_ELIMINATION";
inline constexpr const char *ERR_UNSAT_FAR = "UNSAT_FOR_QBF_FORALL_REDUCTION";

// ---- Standard error ----

// Every line begins with "tarnu: ". The formats, with what fills them.
inline constexpr const char *DIAGNOSTIC_PATH = "tarnu: %s: %s\n"; // a path, why it is not processed
inline constexpr const char *DIAGNOSTIC_UNKNOWN_OPTION = "tarnu: unknown option '%s'\n";
inline constexpr const char *DIAGNOSTIC_SECOND_PATH = "tarnu: second path '%s'\n";
inline constexpr const char *DIAGNOSTIC_UNEXPECTED_ARGUMENT = "tarnu: unexpected argument '%s'\n";
inline constexpr const char *DIAGNOSTIC_AFTER_PATH = "tarnu: '%s' after the path is ignored\n";
inline constexpr const char *DIAGNOSTIC_NOT_STARTED = "tarnu: %s: cannot start a process: %s\n";
inline constexpr const char *DIAGNOSTIC_STANDARD_OUTPUT = "tarnu: standard output: %s\n";
// The summary line at the end of a run.
inline constexpr const char *DIAGNOSTIC_SUMMARY =
    "tarnu: %ld instances: %ld ok, %ld parse errors, %ld without a problem line, %ld abnormal exits, %ld timeouts, "
    "%ld crashes; skipped: %ld symbolic links, %ld special files, %ld unreadable directories\n";
// Why a path is not processed, besides the system's reasons.
inline constexpr const char *REASON_NOT_REGULAR = "not a regular file";
inline constexpr const char *REASON_NOT_DIRECTORY = "not a directory";
inline constexpr const char *REASON_NOT_DIMACS_NAME =
    "not a QDIMACS file name (.qdimacs or .qcnf, optionally .gz .xz .lzma .bz2 .zst)";
inline constexpr const char *REASON_UNREADABLE = "cannot be read";
// The system's reasons that those lines carry (strerror's texts).
inline constexpr const char *REASON_NO_SUCH_FILE = "No such file or directory";
inline constexpr const char *REASON_PERMISSION = "Permission denied";
// Whether a whole line (with its line break) is one that Tarnu writes on
// standard error: one of the formats above, filled in (a path line only with
// one of the reasons above).
bool OutputTexts_isDiagnostic(std::string_view line);

// OutputTexts: writing the layouts, the item head, and telling the lines of
// standard error by their formats.

#include "base/OutputTexts.h"

#include <cstdio>

namespace {
void write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Whether the line fills the printf format: its fixed pieces in order, each
// conversion (%s, %ld) standing for some text; a conversion at the end of a
// line with path reasons takes only those reasons.
bool fills(std::string_view line, std::string_view format) {
  std::size_t at = 0;
  bool first = true;
  while (!format.empty()) {
    std::size_t conversion = format.find('%');
    std::string_view piece = format.substr(0, conversion);
    if (first) {
      if (!line.starts_with(piece)) return false;
      at = piece.size();
    } else if (conversion == std::string_view::npos) {
      return line.size() >= at + piece.size() && line.ends_with(piece);
    } else {
      std::size_t found = line.find(piece, at);
      if (found == std::string_view::npos) return false;
      at = found + piece.size();
    }
    first = false;
    if (conversion == std::string_view::npos) return at == line.size();
    format.remove_prefix(conversion);
    format.remove_prefix(format.starts_with("%ld") ? 3 : 2);
  }
  return true;
}
} // namespace

std::string OutputTexts_head(int number, const char *path) {
  return std::string("\n").append(std::to_string(number)).append(HEAD_TITLE).append(path).append(HEAD_END);
}

void OutputTexts_printPieces(const SummaryPiece *begin, const SummaryPiece *end, const FigureTexts &figures) {
  for (const SummaryPiece *p = begin; p < end; p++)
    write(p->text.empty() ? std::string_view(figures[static_cast<std::size_t>(p->figure)]) : p->text);
}

bool OutputTexts_isDiagnostic(std::string_view line) {
  if (!line.ends_with('\n')) return false;
  for (const char *format :
       {DIAGNOSTIC_UNKNOWN_OPTION, DIAGNOSTIC_SECOND_PATH, DIAGNOSTIC_UNEXPECTED_ARGUMENT, DIAGNOSTIC_AFTER_PATH,
        DIAGNOSTIC_NOT_STARTED, DIAGNOSTIC_STANDARD_OUTPUT, DIAGNOSTIC_SUMMARY})
    if (fills(line, format)) return true;
  // "PATH: REASON": any path, but only the reasons a path is refused with.
  constexpr std::string_view PREFIX = "tarnu: ";
  for (const char *reason : {REASON_NO_SUCH_FILE, REASON_PERMISSION, REASON_NOT_REGULAR, REASON_NOT_DIRECTORY,
                             REASON_NOT_DIMACS_NAME, REASON_UNREADABLE}) {
    std::string end = std::string(": ").append(reason).append("\n");
    if (line.starts_with(PREFIX) && line.size() >= PREFIX.size() + end.size() && line.ends_with(end)) return true;
  }
  return false;
}

// The text layer of the file fixer: line endings and byte-order marks,
// line indexes, splicing replacements into a text, reformatting one
// statement's lines, and the parse check. Plain text in, plain text out:
// no linter, no syntax tree.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "staticanalysis/helpers/formatting.hpp"

namespace tessary::transformer {

namespace py = pybind11;

inline constexpr std::string_view kBomText = "\xEF\xBB\xBF";  // U+FEFF in UTF-8

// How a file spells what Python reads the same either way: the ending of
// each of its lines ("\n", "\r\n" or a lone "\r") and a leading
// byte-order mark (decoded as U+FEFF). The text is fixed with "\n" and no
// mark, and written back with the mark and, line by line, the endings the
// file had: a line a fix rewrote takes the ending of the line it replaces.
struct Spelling {
  bool bom = false;
  std::vector<std::string> endings;  // one per line; the last may be ""
};
std::string to_plain(const std::string& text, Spelling& spelling);
std::string from_plain(const std::string& original_plain, const std::string& fixed, const Spelling& spelling);

// Character offset of the start of each line (line 1 at index 0).
std::vector<long> line_starts(const py::str& text);
// The 1-based line holding a character offset.
long line_at(const std::vector<long>& starts, long offset);
// Characters [start, end) of a text, and its length in characters.
py::str slice(const py::str& text, long start, long end);
long display_width(const py::str& text);

// One replacement: characters [start, end) of the text become `text`.
struct TextSplice {
  long start = 0, end = 0;
  std::string text;
};
// The text with every splice made (they do not overlap), and where each
// landed: `applied[i]` is for splices[order[i]], right to left.
struct SplicedText {
  py::str text;
  struct Applied {
    size_t source;  // index into the splices given
    long start, end, delta;  // the original range and how much longer its replacement is
  };
  std::vector<Applied> applied;
  // Where an offset of the original text lies in the new one.
  long moved(long offset, bool inclusive_end) const;
};
SplicedText splice_text(const py::str& text, const std::vector<TextSplice>& splices);

// A statement of the new text that may be formatted again: its character
// range there and in the original text.
struct StatementSpan {
  long old_start, old_end;  // in the original text
  long start, end;          // in the new text
};
// Replacement lines [first, last] of the new text for one statement: the
// statement formatted by black on its own, at the line length less its
// indentation, when black had formatted it before (so the file stays as
// black leaves it), or when the fix made one of its lines longer than the
// line length. A line that was already too long is the author's choice. A
// statement that shares a line with other code is left as it is.
struct Reformat {
  long first, last;
  std::string text;
};
std::optional<Reformat> reformat_statement(const py::str& original, const py::str& text, const StatementSpan& span,
                                           const py::dict& code_style, const formatting::QuoteTarget& quotes);
// A text with its lines and where each starts, worked out once for the
// many statements of one file.
struct LinedText {
  py::str text;
  std::vector<long> starts;
  py::list lines;
  explicit LinedText(const py::str& whole);
};
std::optional<Reformat> reformat_statement(const LinedText& original, const LinedText& text, const StatementSpan& span,
                                           const py::dict& code_style, const formatting::QuoteTarget& quotes);
// Whether a line of the text from offset `start` to `end` is longer than
// the style's line length.
bool too_long(const LinedText& text, long start, long end, const py::dict& code_style);
// The style a file is formatted in: the project's, or, when black at the
// project's line length would change the file but at a longer common one
// (99, 100, 110, 119 or 120, not below its longest line) would leave it
// as it is, that one: a file kept at 120 columns is wrapped at 120.
py::dict file_code_style(const LinedText& original, const py::dict& code_style,
                         const formatting::QuoteTarget& quotes);
// The text with each reformat's lines replaced.
py::str apply_reformats(const py::str& text, std::vector<Reformat> reformats);

// Why Python would not parse the text, or nullopt when it does.
std::optional<std::string> parse_problem(const std::string& text);

void bind_text(py::module_& m);

}  // namespace tessary::transformer

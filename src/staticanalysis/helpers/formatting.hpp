// Rendering changed syntax trees back to source: comments kept, formatted
// with black, string quotes in the file's own habit.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <utility>

namespace tessary::formatting {

namespace py = pybind11;

// (quote to move away from, preferred quote).
using QuoteTarget = std::pair<std::string, std::string>;

// The renderer that keeps full-line comments, blank lines and trailing
// comments (a subclass of astroid's AsStringVisitor).
const py::object& comment_aware_visitor_class();
// Source of `node`, comments kept.
std::string node_as_string(const py::object& atok, const py::object& node);
// The file's quote habit: double quotes unless single quotes are more.
QuoteTarget get_comma_character_target(const std::string& source);
// black at the given style, quotes by `target`, every non-blank line
// prefixed by `indentation`.
std::string format_code(const std::string& code, const std::string& indentation, const py::dict& code_style,
                        const QuoteTarget& target);
// The same with black's stable style (no preview features), as a user's
// black formats a file: what the project fixer compares and writes.
std::string format_code_stable(const std::string& code, const std::string& indentation, const py::dict& code_style,
                               const QuoteTarget& target);
// Requote one string literal (prefix letters, quotes and body) in place on
// `leaf.value`.
void normalize_string_quotes(const QuoteTarget& target, const py::object& leaf);
// Requote every string token of `code` (black's prefix normalisation, then
// normalize_string_quotes); nothing else of the text changes.
std::string requote_strings(const std::string& code, const QuoteTarget& target);
std::string get_indentation(const std::string& code);
std::pair<std::string, std::string> read_code_line(const py::list& code_lines, long line_number);

void bind_render(py::module_& m);

}  // namespace tessary::formatting

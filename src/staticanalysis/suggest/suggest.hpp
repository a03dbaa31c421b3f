// Review suggestions: review comments that name findings at file lines
// become comments ready to post, with the replacement lines in suggestion
// markup.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace tessary::suggest {

namespace py = pybind11;

// [start line, end line, code]: `code` replaces lines start..end.
struct Suggestion {
  long start = 0, end = 0;
  std::string code;
};

// Python modules: the node at a line, fixed for just the given ids.
std::optional<Suggestion> get_suggestion_for_python(const py::object& atok, const py::object& node,
                                                    const std::set<std::string>& message_ids,
                                                    const std::string& settings_modpath);
std::vector<Suggestion> get_suggestions_for_python(const py::object& atok, long line,
                                                   const std::set<std::string>& message_ids,
                                                   const py::dict& code_style, const std::string& settings_modpath,
                                                   bool indent = true);

// HTML templates: the line rewritten by the template fixes, and the load
// of the static tag library where the template lacks it.
std::string get_suggestion_for_html(const std::string& code, const std::set<std::string>& message_ids,
                                    const py::dict& settings);
std::optional<long> get_staticfile_template_tag_insertion_point(const std::string& content);
std::pair<std::optional<long>, std::optional<std::string>> get_staticfile_template_tag_insertion_point_and_current(
    const py::list& code_lines);
std::vector<Suggestion> get_suggestions_for_html(const py::list& code_lines, long line,
                                                 const std::set<std::string>& message_ids, const py::dict& settings);

// Comment markup.
py::dict build_comment(const std::string& path, long start_line, long end_line, const std::string& body);
std::string markup_suggestion(const std::string& code);

// The suggestions of one comment group: (path as given, line, the group's
// fixable ids).
using SuggestionSource =
    std::function<std::vector<Suggestion>(const std::string& path, long line, const std::set<std::string>& ids)>;
// Comments grouped by (path, line), merged into one comment per group;
// each suggestion becomes part of the group's comment when it starts or
// ends at the group's line (or, with `attach_inside`, spans it), else a
// comment of its own, made once per path, line and code.
py::list merge_review_comments(const py::list& comments, const std::string& project_root,
                               const SuggestionSource& source, const std::set<std::string>& fixable,
                               bool attach_inside);
py::list suggest_fixes(const py::list& comments, const std::string& project_root);

// The replaced line ranges that turn `before` into `after`, each at least
// one line of `before` long: an added line is written with the line before
// it (or after it, at the top of the file).
std::vector<Suggestion> line_changes(const std::string& before, const std::string& after);
// suggest_fixes over texts a fixer made: `fixed` maps a comment's path to
// (text before, text after). Every change goes to the first comment group
// of its file whose line it spans, else to the file's first group as a
// comment of its own.
py::list review_from_fixed_texts(const py::list& comments, const std::string& project_root, const py::dict& fixed);

void bind_suggestions(py::module_& m);

}  // namespace tessary::suggest

// Suggestions for HTML templates: the commented line with its static paths
// rewritten as the static tag, and the load of the tag library where the
// template lacks it.
#include <pybind11/stl.h>

#include "staticanalysis/checkers/templates/templates.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/formatting.hpp"
#include "staticanalysis/suggest/suggest.hpp"

namespace tessary::suggest {

namespace {

std::string stripped(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  size_t begin = text.find_first_not_of(blanks);
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

}  // namespace

std::string get_suggestion_for_html(const std::string& code, const std::set<std::string>& message_ids,
                                    const py::dict& settings) {
  py::object static_url = settings[py::str("STATIC_URL")];
  if (!py::bool_(static_url)) return stripped(code);
  py::object visitor = py::module_::import("tessary.staticanalysis.checkers.templates")
                           .attr("build_transformer_visitor")(py::cast(message_ids), settings);
  return stripped(py::str(visitor.attr("visit")(code)));
}

std::optional<long> get_staticfile_template_tag_insertion_point(const std::string& content) {
  return templates::static_load_line(split_at(content));
}

std::pair<std::optional<long>, std::optional<std::string>> get_staticfile_template_tag_insertion_point_and_current(
    const py::list& code_lines) {
  // The lines keep their line ends: together they are the file's text.
  std::string content;
  for (py::handle line : code_lines) content += py::str(line).cast<std::string>();
  std::optional<long> point = get_staticfile_template_tag_insertion_point(content);
  if (!point) return {std::nullopt, std::nullopt};
  if (*point >= static_cast<long>(code_lines.size())) return {point, std::nullopt};
  return {point, stripped(py::str(code_lines[static_cast<size_t>(*point)]))};
}

std::vector<Suggestion> get_suggestions_for_html(const py::list& code_lines, long line,
                                                 const std::set<std::string>& message_ids, const py::dict& settings) {
  std::vector<Suggestion> suggestions;
  auto [code_line, indentation] = formatting::read_code_line(code_lines, line);
  std::string suggestion = get_suggestion_for_html(code_line, message_ids, settings);
  if (stripped(suggestion) != stripped(code_line)) suggestions.push_back({line, line, indentation + suggestion});
  if (message_ids.count("C7001")) {
    auto [point, current] = get_staticfile_template_tag_insertion_point_and_current(code_lines);
    if (point && current) {
      suggestions.push_back({*point + 1, *point + 1, "{% load static %}\n" + *current});
    } else if (point && *point > 0) {
      // The extends tag stands on the last line: the load goes after it.
      std::string last = stripped(py::str(code_lines[static_cast<size_t>(*point - 1)]));
      suggestions.push_back({*point, *point, last + "\n{% load static %}"});
    }
  }
  return suggestions;
}

}  // namespace tessary::suggest

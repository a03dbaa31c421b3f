// Which findings the review suggestions can fix, by the module whose fixes
// make the suggestion; taken from the check modules' own fix tables.
#pragma once

#include <pybind11/pybind11.h>

#include <set>
#include <string>
#include <string_view>

namespace tessary::constants {

namespace py = pybind11;

// A reviewer puts this id on a comment to have the line's findings
// silenced with the disable comment; no finding has an id of this form.
inline constexpr std::string_view kSkipLineId = "skip-line";

std::set<std::string> model_field_rules();
std::set<std::string> queryset_rules();
std::set<std::string> migration_rules();
std::set<std::string> url_rules();
std::set<std::string> settings_rules();
std::set<std::string> template_rules();
// Every id a suggestion can be made for.
std::set<std::string> transformable_rules();

void bind(py::module_& m);

}  // namespace tessary::constants

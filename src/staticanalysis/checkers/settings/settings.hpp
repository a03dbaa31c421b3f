// Checks on the project's settings modules, after what Django's
// `check --deploy` warns about, read statically: a setting assigned in any
// of the project's settings modules counts as set, and a value that is not
// a literal (read from the environment, computed) is not judged.
#pragma once

#include <optional>
#include <string>
#include <set>
#include <vector>

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::settings {

// This module's entries of the rule registry.
inline constexpr std::span<const Rule> kRules = rules_of("settings");

// One finding in the settings: `node` is the assignment it is about, or
// none for a setting that no settings module assigns (then it is reported
// on the first line of the settings module the project runs with).
struct Finding {
  std::string id;
  Node node;
  py::dict args;
};

// The findings of the settings module `module` and of the modules it
// draws settings from, for the given Django feature release. `linted`,
// when given, is the tree of the text being linted or fixed: it stands for
// its module among those. Given `fixing` (the ids whose fixes are being
// made), the settings are judged as they will be once those fixes are in:
// installing SecurityMiddleware brings in the HSTS and redirect settings,
// turning HSTS on its sub-settings, as Django's own checks go; the fixes
// see those findings too and make the whole change in one run.
std::vector<Finding> settings_findings(const Node& module, const std::string& django_version,
                                       const Node& linted = Node(), const std::set<std::string>* fixing = nullptr);

// What the fix of a finding writes, as text edits of the module holding
// it: (start offset, end offset, replacement) in characters of its text.
struct TextEdit {
  long start = 0, end = 0;
  std::string text;
  std::vector<std::string> ids;  // the findings it fixes, an id each
};
// The edits of the fixes of `ids` to `module` (its source `text`, offsets
// in bytes), a settings module of the project that runs with
// `settings_modpath`, for the findings that lie in that module. With
// `as_fixed`, also for those the fixes of `ids` bring about (see
// settings_findings).
std::vector<TextEdit> settings_text_edits(const Node& module, const std::string& text,
                                          const std::vector<std::string>& ids, const std::string& settings_modpath,
                                          const std::string& django_version, bool as_fixed = false);

// The files the fixes of `ids` edit (with as_fixed, see
// settings_text_edits), the settings module the project runs with among
// them; empty when that module cannot be read.
std::set<std::string> files_to_fix(const std::vector<std::string>& ids, const std::string& settings_modpath,
                                   const std::string& django_version);

const py::object& checker_class();
void bind_fixes(py::module_& m);
void bind(py::module_& m);

}  // namespace tessary::settings

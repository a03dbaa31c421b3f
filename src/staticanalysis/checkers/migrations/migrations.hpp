// Checks on migration modules: project models used instead of historical
// ones, and RunPython steps without a reverse function.
#pragma once

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::migrations {

// This module's entries of the rule registry.
inline constexpr std::span<const Rule> kRules = rules_of("migrations");

bool is_missing_reverse(const Node& call);
// The C8001 fix: adds RunPython.noop as the reverse function, in place.
py::object add_reverse_code(const Node& node);
const std::vector<FixRow>& fix_rules();
void bind_fixes(py::module_& m);

const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::migrations

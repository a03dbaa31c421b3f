// Admin classes belong in the app's admin module.
#pragma once

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"

namespace tessary::admin {

// This module's entries of the rule registry.
inline constexpr std::span<const Rule> kRules = rules_of("admin");

const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::admin

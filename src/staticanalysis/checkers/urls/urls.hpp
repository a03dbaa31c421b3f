// URL reversal at the wrong time: reverse() while modules load, before the
// URL configuration is there, and reverse_lazy() at run time, where
// reverse() does.
#pragma once

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::urls {

// This module's entries of the rule registry.
inline constexpr std::span<const Rule> kRules = rules_of("urls");

// A reverse_lazy() call in a function body (C6000).
bool is_misusing_reverse_lazy(const Node& call);
// A reverse() call evaluated while a module or class body runs (C6001).
bool is_reverse_at_import_time(const Node& call);

py::object transform_reverse_lazy_to_reverse(const Node& call);
py::object transform_reverse_to_reverse_lazy(const Node& call);

// C6000 and C6001 each with two rows: the call, and the import that must
// bring in the other function.
const std::vector<FixRow>& fix_rules();
const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::urls

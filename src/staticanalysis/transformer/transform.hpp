// The fix engine: apply every registered fix to one module and render it.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::transformer {

namespace py = pybind11;

// Every fix, in the order the engine registers them.
const std::vector<FixRow>& rule_table();

// (fixed and formatted source, ids the linter reports on the unfixed
// source less `noise`).
std::pair<std::string, py::set> transform_code(const std::string& code, const std::string& filepath,
                                               const std::string& settings_modpath, const py::iterable& noise);

void bind(py::module_& m);

}  // namespace tessary::transformer

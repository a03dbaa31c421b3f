// Whether a finding's fix applies where it was found: the check modules'
// fix rows, asked about the very tree the checks ran on, so that `check`
// marks fixable exactly what `fix` changes.
#pragma once

#include <pybind11/pybind11.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::checker {

namespace py = pybind11;

// Every fix row of the check modules (the settings and template fixes are
// text edits of their own), in the registry's fix order.
const std::vector<FixRow>& fix_rows();

// The lines a fix row's node answers for: the node's own, or those of the
// test of a conditional (whose body may be long). nullopt for a node
// without a line.
std::optional<std::pair<long, long>> fix_span(const py::handle& node);

// Sets "fixable" on each record of a rule with fix rows: true when one of
// the rule's rows accepts a node of the module whose lines hold the
// finding's line. The modules are astroid's cached trees of the records'
// files; a record whose tree is not there is left as it is.
void mark_fixable(const py::list& records);

}  // namespace tessary::checker

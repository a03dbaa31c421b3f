// Checks on queryset usage: len() instead of count(), counts and truth
// tests instead of exists(), foreign keys followed only to read their key.
#pragma once

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::queryrules {

// This module's entries of the rule registry.
inline constexpr std::span<const Rule> kRules = rules_of("queryrules");

// Does the expression infer to a queryset?
bool is_queryset(const Node& node);
// Does the function holding this queryset name read its rows anyway
// (iterates, indexes or slices it, or hands it to list(), tuple(), set()
// or sorted())? Then len() and a truth test fill the cache that use
// reads, and count() or exists() would add a query.
bool rows_used_elsewhere(const Node& queryset);
// A queryset tested for truth whose rows are not used anyway.
bool is_queryset_truth_test(const Node& tested);
bool is_queryset_length(const Node& node);
bool is_queryset_count(const Node& node);
bool is_compare_exists(const py::handle& ops);
bool is_compare_not_exists(const py::handle& ops);
bool is_inefficient_queryset_exists(const Node& compare);
bool is_queryset_length_exists(const Node& compare);
bool is_indirect_fk_lookup(const Node& attribute);

// Fixes: each returns the node that takes the visited node's place.
py::object transform_queryset_length(const Node& node);
py::object transform_indirect_fk_lookup(const Node& node);
py::object transform_queryset_exists_compare(const Node& node);
py::object transform_queryset_exists_count_unaryop(const Node& node);
py::object transform_queryset_exists_naked_unaryop(const Node& node);
py::object transform_queryset_exists_count_if(const Node& node);
py::object transform_queryset_exists_naked_if(const Node& node);
const std::vector<FixRow>& fix_rules();
void bind_fixes(py::module_& m);

const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::queryrules

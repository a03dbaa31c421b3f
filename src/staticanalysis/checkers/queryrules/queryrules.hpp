// Checks on queryset usage: len() instead of count(), counts and truth
// tests instead of exists(), foreign keys followed only to read their key.
#pragma once

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::queryrules {

inline constexpr Rule kRules[] = {
    {"C9000", "queryset-length", "Detects using len(queryset) instead of queryset.count()",
     "len() called on a queryset.",
     "len() fetches every row into memory just to count them; count() asks the database.",
     "total = len(Book.objects.all())", "total = Book.objects.all().count()",
     "Rewrites len(qs) as qs.count()."},
    {"C9001", "indirect-foreign-key", "Traversting foo.bar.pk instead of using foo.bar_pk",
     "Reading pk or id of a foreign key through the related object (book.author.pk).",
     "Following the relation loads the related row; the key is already on the instance as <field>_id.",
     "author_id = book.author.pk", "author_id = book.author_id",
     "Rewrites book.author.pk as book.author_id."},
    {"C9002", "count-instead-exists", "Using count() where exists() could be better",
     "A queryset count tested for truth or compared against 0 or 1.",
     "Counting scans every matching row; exists() stops at the first one.",
     "if books.count() > 0:", "if books.exists():",
     "Rewrites the test with qs.exists() (negated where the test was for none)."},
    {"C9003", "truthy-instead-exists", "Using truthy/falsey check on queryset when exists could be better",
     "A queryset used directly as a truth value (if qs:, not qs).",
     "Truth-testing a queryset fetches all of its rows; exists() asks for one.",
     "if not books:", "if not books.exists():",
     "Rewrites the test as qs.exists()."},
};

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

// Checks on model field declarations: fragile, redundant or deprecated
// field options, string fields that allow null, models with too many
// fields.
#pragma once

#include <optional>
#include <unordered_map>

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::fieldrules {

inline constexpr long MAX_CHARFIELD_LENGTH = 512;

// This module's entries of the rule registry.
inline constexpr std::span<const Rule> kRules = rules_of("fieldrules");

inline constexpr IntOption kOptions[] = {
    {"max-model-fields", 20, "Maximum number of fields for a model"},
    {"max-charfield-length", 512, "Maximum size of max_length on a CharField"},
};

// The options the field checks judge a module by in one lint run: those
// of the linter, which the checker records on the module when it visits
// it. A tree that no checker visited (one the fixer or the suggestions
// build) has the defaults, unless its builder records the project's
// options on it (use_options).
struct FieldOptions {
  long max_charfield_length = MAX_CHARFIELD_LENGTH;
};
FieldOptions& field_options(const Node& node);  // of the node's module
// Record the project's linter options (option names as in [tool.tessary],
// "max-charfield-length") on a module tree.
void use_options(const Node& module, const py::dict& options);

// What a lint run learns about one call; computed on first use.
struct CallFacts {
  std::optional<Node> inferred;
  std::optional<bool> is_field;
  std::optional<py::dict> explicit_args;
  std::optional<py::dict> default_args;
  // looked_at, by where the finding is reported.
  std::optional<bool> looked_at[2];
};

// A call seen as a possible field declaration; what is learnt about it is
// kept on the call node for the check and the fixes alike (facts_on).
class FieldCall {
 public:
  explicit FieldCall(const Node& call);
  const Node& node() const { return call_; }
  const Node& inferred();
  bool is_model_field();
  std::optional<std::string> class_name();
  const py::dict& explicit_args();
  const py::dict& default_args();
  py::dict merged_args();
  // The node's facts, found (or made) on first use: most calls are
  // dismissed before anything is learnt about them.
  CallFacts& facts();

 private:
  Node call_;
  CallFacts* facts_ = nullptr;
};

// Could this call declare a field? Fields are declared in class bodies;
// at a module's top level, only a call of a class named like a field
// (...Field, ...Key) is worth inferring. A field made in a function is
// not a declaration: a library's field factory (whose columns live in
// other projects' migrations) or a test's subject. The checks and the
// fixes ask it first.
bool may_declare_a_field(const Node& call);
bool is_fragile_unique_for(const Node& keyword);
bool is_non_unique_fk(FieldCall& call);
bool is_nullboolean(FieldCall& call);
bool is_huge_char_field(FieldCall& call);
bool is_missing_blank_true(FieldCall& call);
bool is_fk_mising_related_name(FieldCall& call);
bool is_null_stringfield(FieldCall& call);
// The end of C2005's advice: where the project reads the relation's
// default accessor (<model>_set), the names that keep every lookup.
std::string accessor_advice(const Node& call);
// Whether NULL means something of its own for the field `field` declared
// by `call`: None is a choice, the field is in a unique group of its
// model, or the project stores, passes, compares or filters None for a
// field of that name.
bool null_has_a_meaning(const Node& call, const std::string& field);
bool is_redundant_kwargs(const Node& keyword, FieldCall& parent);
bool has_redundant_kwargs(FieldCall& call);

// Where a check looks for a finding: a field declaration (a field call
// assigned to a name), or any field call (the keyword findings).
enum class Reported { on_declarations, on_any_call };
// Whether the check looks at this call for findings reported `where`: a
// model field call, outside a migration (which records fields as they
// were), and for declarations, assigned to a name.
bool looked_at(FieldCall& call, Reported where);
// Whether finding `id` (a call-level field finding) is on this call: the
// one answer the check and the fix of `id` both ask.
bool finding_at(std::string_view id, FieldCall& call);

// Fixes: each edits the field call in place and returns it.
py::object transform_null_to_default_str(const Node& node);
py::object transform_redundant_kwargs(const Node& node);
py::object transform_add_blank_true(const Node& node);
py::object transform_huge_char_field(const Node& node);
py::object transform_nullboolean(const Node& node);
// The fix table (C2000, C2002, C2003, C2006, C2008), made when the module
// is bound.
const std::vector<FixRow>& fix_rules();
void bind_fixes(py::module_& m);

// The checker class, made once.
const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::fieldrules

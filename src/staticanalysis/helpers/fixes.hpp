// Shared pieces of the fixes: the rule rows a check module registers, and
// the small tree edits several fixes make.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/registry.hpp"

namespace tessary {

// One fix: for nodes of `kind`, `transform` rewrites what `predicate`
// finds. Rows are Python callables so astroid's TransformVisitor can run
// them.
struct FixRow {
  std::string id;
  py::object kind;
  py::object transform;
  py::object predicate;
  // The grade and the schema effect are the registry's.
  bool changes_schema() const { return rule(id).changes_schema; }
  // Why the fix can change what the program does or the data it stores;
  // empty for a safe fix (the program means the same after it). Unsafe
  // fixes are applied by `tessary fix` only on request.
  std::string unsafe_because() const { return std::string(rule(id).unsafe_because); }
};

// A new astroid TransformVisitor holding the rows whose id is in `ids`,
// taken in the order `ids` gives (each id's rows in table order).
py::object transformer_visitor(const std::vector<FixRow>& table, const std::vector<std::string>& ids);

// How a module's build_transformer_visitor takes the ids it is given.
enum class IdOrder { as_given, sorted, table };
// Bind build_transformer_visitor(message_ids) over the module's fix table.
void def_transformer_visitor(py::module_& m, const std::vector<FixRow>& (*rules)(), IdOrder order);

// Bind a fix as the module function `name` of one node.
using Transform = py::object (*)(const Node&);
void def_transform(py::module_& m, const char* name, Transform fn);

// Bumped whenever a fix bound with def_transform runs: what was learnt
// about a tree before may no longer hold.
std::uint64_t fix_generation();

// How long a fact about a node holds: until a fix changes the tree, or
// (for what no fix changes, such as whether a module is a migration) for
// as long as the same node is asked about.
enum class Holds { until_a_fix, whatever_is_fixed };

// What the fix predicates learn about the node they are asked about.
// astroid's TransformVisitor asks every predicate registered for a node
// class about the same node in turn, so they share one inference. The
// facts are dropped when another node is asked about or, unless they hold
// whatever is fixed, when a fix has run.
template <class Facts, Holds holds = Holds::until_a_fix>
class LastNodeFacts {
 public:
  Facts& at(const Node& node) {
    bool outdated = holds == Holds::until_a_fix && generation_ != fix_generation();
    if (node_.is_none() || !node_.is(node.obj()) || outdated) {
      node_ = node.obj();
      generation_ = fix_generation();
      facts_ = Facts{};
    }
    return facts_;
  }

 private:
  py::object node_ = py::none();
  std::uint64_t generation_ = 0;
  Facts facts_;
};

// A constant node holding `value`.
Node make_const(const py::object& value, const Node& parent);
// A keyword `name=value` of `call` (value converted to a constant).
Node make_keyword(const std::string& name, const py::object& value, const Node& call);
// The call's keyword list, made empty when absent.
py::list keywords_of(const Node& call);
// The first keyword named `name`, if any.
std::optional<Node> find_keyword(const Node& call, const std::string& name);
// Set `name=value` on the call: replace the value of an existing keyword,
// else add one (before a trailing **mapping).
void set_keyword(const Node& call, const std::string& name, const py::object& value);
// The source text of an expression, parenthesised when something bound
// more loosely than attribute access would change meaning once a method
// call is appended (`a or b` + `.count()`).
std::string receiver_text(const Node& expression);

}  // namespace tessary

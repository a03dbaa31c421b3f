// Shared pieces of the fixes: the rule rows a check module registers, and
// the small tree edits several fixes make.
#pragma once

#include <cstdint>
#include <memory>
#include <typeinfo>
#include <utility>
#include <vector>
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

// What a check learns about a node, kept for one lint run of the node's
// module (so that the check and the fix of a finding share it): a fix
// drops the facts of the node it changes (def_transform does), and a new
// lint run of the module (new_facts_run) drops them all.
template <class Facts>
Facts& facts_on(const Node& node);
// Start a new lint run of `module`: facts learnt before no longer hold.
void new_facts_run(const Node& module);
// Forget what is known about `node` (it was changed).
void forget_facts(const Node& node);

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

namespace detail {
// The facts of one node, by kind.
struct NodeFacts {
  std::vector<std::pair<const std::type_info*, std::shared_ptr<void>>> kinds;
};
// The facts of `node` in the current run of its module, made empty when it
// has none. The run's table is a dictionary from node to facts, kept on the
// module rather than on each node: a node's own attributes stay as astroid
// made them, a new run frees the old run's facts at once, and the
// collector can still follow the table when the tree is dropped.
NodeFacts& node_facts(const Node& node);
}  // namespace detail

template <class Facts>
Facts& facts_on(const Node& node) {
  detail::NodeFacts& held = detail::node_facts(node);
  for (auto& [kind, facts] : held.kinds)
    if (*kind == typeid(Facts)) return *static_cast<Facts*>(facts.get());
  auto made = std::make_shared<Facts>();
  Facts& facts = *made;
  held.kinds.emplace_back(&typeid(Facts), std::move(made));
  return facts;
}

}  // namespace tessary

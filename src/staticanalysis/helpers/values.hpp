// Plain values of nodes, the argument maps of calls, the small edits fixes
// make to calls, and the message-text type every checker uses.
#pragma once

#include "staticanalysis/helpers/facade.hpp"

#include <string>

namespace tessary {

// A literal, a list, a map, or the node itself when it has no plain value.
py::object astroid_node_to_value(const Node& node);
// Value of the first own definition of `key` in a module or class; None
// when absent or imported; raises NodeValueUndefinable when uninferable.
py::object get_astroid_node_constant_values(const Node& scope, const std::string& key);
// Keyword arguments written in the call, by name (None for **mapping).
py::dict get_node_explicit_arguments(const Node& call);
// Constructor defaults of the called class and its ancestors.
py::dict get_node_default_arguments(const Node& call);
// The same, from what the call was already inferred to (an instance of
// the class, or the class).
py::dict constructor_defaults_of(const Node& inferred);

// Insert a keyword before a trailing **mapping, else append.
void add_to_keywords(py::list keywords, const Node& keyword);
// Rename the callee (attribute or plain name).
void set_function_name(const Node& call, const std::string& new_name);

// Python's == between plain values; a comparison that fails is unequal.
bool py_equal(const py::handle& a, const py::handle& b);

// JSON encoder fallback for decimals and sets.
py::object serializer(const py::handle& obj);

// The text type whose % formatting hands back its right operand, so that a
// message text formatted with an argument map *is* the map.
const py::object& context_string_class();
py::object context_string(const char* text = "");

// The error kind raised for defined names without an inferable value.
const py::object& node_value_undefinable_class();

}  // namespace tessary

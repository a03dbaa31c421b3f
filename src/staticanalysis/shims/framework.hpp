// Inference shims for the framework's run-time constructs: managers,
// queryset lookups, model `get`, and generic foreign keys.
#pragma once

#include "staticanalysis/helpers/facade.hpp"

namespace tessary::shims {

// The syntax node kind standing for a queryset of one model's instances
// (derives from ClassDef and List).
const py::object& queryset_node_class();
// A QuerySetNode holding `instance` as its only element.
Node make_queryset_node(const Node& instance);

bool looks_like_model(const Node& node);
bool looks_like_model_manager(const Node& node);
bool looks_like_model_manager_lookup(const Node& node);
bool looks_like_queryset_lookup(const Node& node);
bool looks_like_model_get(const Node& node);
// `<model instance>.<related manager>.<queryset method>(...)`.
bool looks_like_related_manager_lookup(const Node& node);
// `list(<queryset>)`.
bool looks_like_list_of_queryset(const Node& node);

py::iterator apply_model_manager_shim(const Node& node);
py::iterator apply_model_manager_lookup_shim(const Node& node);
py::iterator apply_queryset_lookup_shim(const Node& node);
py::iterator apply_model_get_shim(const Node& node);
py::iterator apply_related_manager_lookup_shim(const Node& node);
py::iterator apply_list_of_queryset_shim(const Node& node);
void apply_is_used_in_generic_fk_shim(const Node& node);

// Register the transforms on astroid's manager (once per process).
void install(py::module_& m);

}  // namespace tessary::shims

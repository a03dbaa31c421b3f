#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/pathtext.hpp"

#include <algorithm>
#include <filesystem>

namespace tessary {

bool is_django_string_field_name(std::string_view name) {
  return std::find(std::begin(DJANGO_STRING_FIELDS), std::end(DJANGO_STRING_FIELDS), name) !=
         std::end(DJANGO_STRING_FIELDS);
}

bool is_queryset_method_name(std::string_view name) {
  return std::find(std::begin(QUERYSET_METHODS), std::end(QUERYSET_METHODS), name) != std::end(QUERYSET_METHODS);
}

bool is_django_boolean_field_name(std::string_view name) {
  return std::find(std::begin(DJANGO_BOOLEAN_FIELDS), std::end(DJANGO_BOOLEAN_FIELDS), name) !=
         std::end(DJANGO_BOOLEAN_FIELDS);
}

py::list generic_foreign_key_field_names(const Node& model) {
  const Astroid& a = ast();
  // Kept apart from the public attribute, which the shims make a property
  // of every class node.
  static const py::str kept("_tessary_generic_fk_names");
  if (model.has(kept)) return model.get(kept);
  py::list names;
  for (const Node& statement : model.nodes(a.body)) {
    // A GenericForeignKey is declared in the class body, as a field is.
    if (!statement.isa(a.Assign) && !statement.isa(a.AnnAssign)) continue;
    Node call = statement.child(a.value);
    if (!call.isa(a.Call)) continue;
    Node inferred = safe_infer(call);
    if (!inferred.truthy() || inferred.name() != std::optional<std::string>("GenericForeignKey")) continue;
    std::vector<Node> keywords = call.nodes(a.keywords);
    if (!keywords.empty()) {
      for (const Node& keyword : keywords) {
        if (keyword.text(a.arg) != std::optional<std::string>("fk_field")) continue;
        Node value = keyword.child(a.value);
        // Only literal names can be recorded.
        if (value.isa(a.Const)) names.append(value.get(a.value));
      }
    } else {
      std::vector<Node> args = call.nodes(a.args);
      if (args.size() > 1 && args[1].isa(a.Const)) names.append(args[1].get(a.value));
    }
  }
  py::setattr(model.obj(), kept, names);
  return names;
}

bool is_model_field(const Node& node) {
  try {
    return has_ancestor(safe_infer(node), qnames::field);
  } catch (py::error_already_set&) {
    return false;
  }
}

bool is_migration_file(const Node& node) {
  const Astroid& a = ast();
  Node module = node.root();
  // A module of a migrations package that defines a Migration class is a
  // migration wherever the class stands in it.
  py::object file = py::getattr(module.obj(), a.file, py::none());
  if (!file.is_none() && py::isinstance<py::str>(file)) {
    std::filesystem::path path(path_bytes(file));
    if (path.parent_path().filename() == "migrations") {
      for (py::handle cls : module.get(a.nodes_of_class)(a.ClassDef)) {
        if (Node::of(cls).name() == std::optional<std::string>("Migration")) return true;
      }
    }
  }
  // Elsewhere, any class that is one of Django's migrations makes it one.
  // Only a class with a base named ...Migration is worth inferring.
  for (py::handle cls : module.get(a.nodes_of_class)(a.ClassDef)) {
    bool may_be = false;
    for (py::handle base : cls.attr("bases")) {
      std::string text = Node::of(base).as_string();
      may_be = may_be || (text.size() >= 9 && text.compare(text.size() - 9, 9, "Migration") == 0);
    }
    if (!may_be) continue;
    Node inferred;
    try {
      inferred = safe_infer(Node::of(cls));
      if (!inferred.present()) continue;
      if (ancestry_contains(ancestry(inferred), qnames::migration)) return true;
    } catch (py::error_already_set&) {
      continue;
    }
  }
  return false;
}

std::optional<Node> own_definition(const Node& scope, const char* name) {
  py::object locals = scope.get(ast().locals);
  PyObject* found = PyDict_GetItemString(locals.ptr(), name);
  if (found == nullptr) return std::nullopt;
  auto defs = py::reinterpret_borrow<py::list>(found);
  if (defs.empty()) return std::nullopt;
  return Node::of(defs[0]);
}

bool is_unmanaged_model(const Node& classdef) {
  if (!classdef.isa(ast().ClassDef)) return false;
  std::optional<Node> meta = own_definition(classdef, "Meta");
  if (!meta || !meta->isa(ast().ClassDef)) return false;
  std::optional<Node> managed = own_definition(*meta, "managed");
  if (!managed) return false;
  Node assign = managed->parent();
  if (!assign.isa(ast().Assign)) return false;
  Node value = assign.child(ast().value);
  return value.isa(ast().Const) && value.get(ast().value).is(py::bool_(false));
}

std::optional<Node> is_node_abstract_model(const Node& classdef) {
  std::optional<Node> meta = own_definition(classdef, "Meta");
  if (!meta || !meta->isa(ast().ClassDef)) return std::nullopt;
  return own_definition(*meta, "abstract");
}

std::optional<std::string> get_member_name(const Node& node) {
  const Astroid& a = ast();
  Node current = node.statement();
  while (!current.isa(a.Assign)) {
    Node parent = current.parent();
    if (parent.is_none()) return std::nullopt;
    current = parent.statement();
  }
  std::vector<Node> targets = current.nodes(a.targets);
  if (targets.empty() || !targets[0].isa(a.AssignName)) return std::nullopt;
  return targets[0].name();
}

std::optional<std::string> get_function_name(const Node& call) {
  const Astroid& a = ast();
  Node func = call.func();
  if (func.isa(a.Attribute)) return func.attrname();
  if (func.isa(a.Name)) return func.name();
  return std::nullopt;
}

std::string get_module_name(std::string_view module) {
  auto dot = module.rfind('.');
  if (dot == std::string_view::npos) return std::string(module);
  return std::string(module.substr(dot + 1));
}

}  // namespace tessary

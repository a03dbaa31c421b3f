// Python face of the syntax-tree helpers.
#include <pybind11/stl.h>

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/values.hpp"

namespace py = pybind11;
using namespace tessary;

namespace {

py::object optional_node(const std::optional<Node>& node) {
  if (!node) return py::bool_(false);
  return node->obj();
}

py::frozenset names_set(const std::string_view* begin, const std::string_view* end) {
  py::set out;
  for (auto it = begin; it != end; ++it) out.add(py::str(it->data(), it->size()));
  return py::frozenset(out);
}

}  // namespace

PYBIND11_MODULE(helpers, m) {
  m.doc() = "Syntax-tree helpers: node classification, values and arguments, token maps.";

  m.attr("DJANGO_STRING_FIELDS") =
      names_set(std::begin(DJANGO_STRING_FIELDS), std::end(DJANGO_STRING_FIELDS));
  m.attr("DJANGO_BOOLEAN_FIELDS") =
      names_set(std::begin(DJANGO_BOOLEAN_FIELDS), std::end(DJANGO_BOOLEAN_FIELDS));

  // Node classification.
  m.def("is_model", [](py::object n, py::kwargs) { return is_model(Node(n)); }, py::arg("node"));
  m.def("is_model_manager", [](py::object n) { return is_model_manager(Node(n)); }, py::arg("node"));
  m.def("is_queryset", [](py::object n) { return is_queryset(Node(n)); }, py::arg("node"));
  m.def("is_related_field", [](py::object n, py::kwargs) { return is_related_field(Node(n)); },
        py::arg("node"));
  m.def("is_model_admin", [](py::object n) { return is_model_admin(Node(n)); }, py::arg("node"));
  m.def("is_model_field", [](py::object n) { return is_model_field(Node(n)); }, py::arg("node"));
  m.def("is_migration_file", [](py::object n) { return is_migration_file(Node(n)); }, py::arg("node"));
  m.def("is_node_abstract_model",
        [](py::object n) { return optional_node(is_node_abstract_model(Node(n))); }, py::arg("node"));
  m.def("get_member_name", [](py::object n) { return get_member_name(Node(n)); }, py::arg("node"));
  m.def("get_function_name", [](py::object n) { return get_function_name(Node(n)); }, py::arg("node"));
  m.def("get_module_name", [](const std::string& s) { return get_module_name(s); }, py::arg("module"));

  // Values and arguments.
  m.attr("NodeValueUndefinable") = node_value_undefinable_class();
  m.attr("context_string") = context_string_class();
  m.def("astroid_node_to_value", [](py::object n) { return astroid_node_to_value(Node(n)); },
        py::arg("node"));
  m.def("get_astroid_node_constant_values",
        [](py::object n, const std::string& key) { return get_astroid_node_constant_values(Node(n), key); },
        py::arg("node"), py::arg("key"));
  m.def("get_node_explicit_arguments", [](py::object n) { return get_node_explicit_arguments(Node(n)); },
        py::arg("node"));
  m.def("get_node_default_arguments", [](py::object n) { return get_node_default_arguments(Node(n)); },
        py::arg("node"));
  m.def("add_to_keywords", [](py::list kws, py::object kw) { add_to_keywords(kws, Node(kw)); },
        py::arg("keywords"), py::arg("keyword"));
  m.def("set_function_name",
        [](py::object n, const std::string& name) { set_function_name(Node(n), name); }, py::arg("node"),
        py::arg("new_name"));
  m.def("serializer", [](py::object obj) { return serializer(obj); }, py::arg("obj"));

  // Source positions and token map.
  m.def("build_atok", &build_atok, py::arg("source"), py::arg("modname") = "",
        py::arg("absolute_path") = py::none());
  m.def("add_node", [](py::object t, py::object n, long line) { add_node(Node(t), Node(n), line); },
        py::arg("tree"), py::arg("node"), py::arg("line_number"));
  m.def("find_node_by_position", [](py::object t, long line) { return find_node_by_position(Node(t), line).obj(); },
        py::arg("tree"), py::arg("line"));
  m.def("find_node_parent", [](py::object t, long line) { return find_node_parent(Node(t), line).obj(); },
        py::arg("tree"), py::arg("line"));
  m.def("preserve_metadata",
        [](py::object new_node, py::object old_node) { preserve_metadata(Node(new_node), Node(old_node)); },
        py::arg("new_node"), py::arg("old_node"));
  m.def("module_path_from_file",
        [](const std::string& path, py::object) { return module_path_from_file(path); }, py::arg("path"),
        py::arg("file") = py::none());
  m.def("read_code_from_file", &read_code_from_file, py::arg("path"));
  m.def("get_middleware_position", &get_middleware_position, py::arg("middlewares"), py::arg("middleware"));
  m.def("normalize_django_template", &normalize_django_template, py::arg("template_content"));
  // The rule registry, every rule with its documentation and fix grade.
  m.attr("RULES") = rules_as_python(kRegistry);
}

#include "staticanalysis/shims/settings_builder.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <array>
#include <string_view>

namespace tessary::shims {

namespace {

constexpr std::array<std::string_view, 4> kPathFunctions = {"os.path.abspath", "os.path.dirname",
                                                            "os.path.basename", "os.path.join"};

// The rows every builder registers, made once when the module is bound.
py::gil_safe_call_once_and_store<py::list>& transform_rows() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::list> rows;
  return rows;
}

}  // namespace

bool looks_like_path_manipulation(const Node& node) {
  std::string callee = node.func().as_string();
  for (std::string_view name : kPathFunctions)
    if (callee == name) return true;
  return false;
}

py::object transform_path_manipulation(const Node& node) {
  const Astroid& a = ast();
  py::list values;
  for (const Node& arg : node.nodes(a.args)) {
    Node inferred = safe_infer(arg);
    if (!inferred.present()) return node.obj();
    // Only literal values can be handed to the path function.
    if (!inferred.isa(a.Const)) return node.obj();
    values.append(inferred.get(a.value));
  }
  std::optional<std::string> function = node.func().attrname();
  if (!function) return node.obj();
  py::object result;
  try {
    result = py::module_::import("os.path").attr(function->c_str())(*values);
  } catch (py::error_already_set&) {
    // join(None) and friends: not a path, leave the call alone.
    return node.obj();
  }
  return a.Const(result, py::arg("lineno") = node.get(a.lineno), py::arg("col_offset") = node.get(a.col_offset),
                 py::arg("parent") = node.parent().obj());
}

bool looks_like_environment_variable_lookup(const Node& node) {
  const Astroid& a = ast();
  std::vector<Node> args = node.nodes(a.args);
  if (args.size() != 2) return false;
  std::string source = node.as_string();
  if (source.find("env") == std::string::npos || source.find("setdefault") != std::string::npos) return false;
  for (const Node& arg : args) {
    if (!arg.isa(a.Const)) return false;
    if (py::str(arg.get(a.pytype)()).cast<std::string>() != "builtins.str") return false;
  }
  return true;
}

py::object transform_environment_variable_lookup(const Node& node) {
  return py::list(node.get(ast().args))[1];
}

BuilderWithSettingsTransforms::BuilderWithSettingsTransforms() {
  for (py::handle row : transform_rows().get_stored()) transforms_.append(row);
}

py::object BuilderWithSettingsTransforms::enter() {
  const Astroid& a = ast();
  for (py::handle row : transforms_) a.manager.attr("register_transform")(*row);
  return a.builder_class();
}

void BuilderWithSettingsTransforms::exit() {
  const Astroid& a = ast();
  for (py::handle row : transforms_) a.manager.attr("unregister_transform")(*row);
}

void bind_settings_builder(py::module_& m) {
  m.def("looks_like_path_manipulation", [](py::object n) { return looks_like_path_manipulation(Node(n)); },
        py::arg("node"));
  m.def("transform_path_manipulation", [](py::object n) { return transform_path_manipulation(Node(n)); },
        py::arg("node"));
  m.def("looks_like_environment_variable_lookup",
        [](py::object n) { return looks_like_environment_variable_lookup(Node(n)); }, py::arg("node"));
  m.def("transform_environment_variable_lookup",
        [](py::object n) { return transform_environment_variable_lookup(Node(n)); }, py::arg("node"));

  transform_rows().call_once_and_store_result([&m] {
    const Astroid& a = ast();
    py::list rows;
    rows.append(py::make_tuple(a.Call, m.attr("transform_path_manipulation"),
                               m.attr("looks_like_path_manipulation")));
    rows.append(py::make_tuple(a.Call, m.attr("transform_environment_variable_lookup"),
                               m.attr("looks_like_environment_variable_lookup")));
    return rows;
  });

  py::class_<BuilderWithSettingsTransforms>(m, "BuilderWithSettingsTransforms")
      .def(py::init<>())
      .def_property_readonly("transforms", &BuilderWithSettingsTransforms::transforms)
      .def("__enter__", &BuilderWithSettingsTransforms::enter)
      .def("__exit__", [](BuilderWithSettingsTransforms& self, py::args) { self.exit(); });
}

}  // namespace tessary::shims

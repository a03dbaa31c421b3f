#include "staticanalysis/helpers/values.hpp"


#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/pyclass.hpp"

namespace tessary {

py::object astroid_node_to_value(const Node& node) {
  const Astroid& a = ast();
  if (node.isa(a.BinOp) || node.isa(a.Attribute) || node.isa(a.AssignName)) {
    Node inferred = safe_infer(node);
    if (inferred.truthy()) return astroid_node_to_value(inferred);
    return node.obj();
  }
  if (node.isa(a.Name)) {
    py::tuple found = node.get(a.lookup)(node.get(a.name));
    py::sequence bindings = found[1];
    if (py::len(bindings) > 0) return astroid_node_to_value(Node(bindings[0]));
    return node.obj();
  }
  if (node.isa(a.Const)) return node.get(a.value);
  if (node.isa(a.List) || node.isa(a.Tuple)) {
    py::list out;
    for (py::handle child : node.get(a.get_children)()) out.append(astroid_node_to_value(Node::of(child)));
    return out;
  }
  if (node.isa(a.Dict)) {
    py::dict out;
    for (py::handle pair : node.get(a.items)) {
      py::object key = astroid_node_to_value(Node::of(pair[py::int_(0)]));
      py::object value = astroid_node_to_value(Node::of(pair[py::int_(1)]));
      // A key without a hashable plain value (a tuple key becomes a list)
      // leaves the literal unconverted.
      if (PyObject_Hash(key.ptr()) == -1) {
        PyErr_Clear();
        return node.obj();
      }
      out[key] = value;
    }
    return out;
  }
  return node.obj();
}

const py::object& node_value_undefinable_class() {
  return made_once([] {
    py::tuple bases = py::make_tuple(py::reinterpret_borrow<py::object>(PyExc_TypeError));
    return make_class("NodeValueUndefinable", bases, py::dict(),
                      "tessary.staticanalysis.helpers");
  });
}

py::object get_astroid_node_constant_values(const Node& scope, const std::string& key) {
  std::optional<Node> assign = own_definition(scope, key.c_str());
  if (!assign) return py::none();
  if (assign->isa(ast().ImportFrom)) return py::none();
  Node value = safe_infer(*assign);
  if (value.truthy()) return astroid_node_to_value(value);
  raise_python(node_value_undefinable_class());
}

py::dict get_node_explicit_arguments(const Node& call) {
  const Astroid& a = ast();
  py::dict out;
  for (const Node& keyword : call.nodes(a.keywords)) {
    std::optional<Node> value = infer_first(keyword.child(a.value));
    if (!value) continue;
    out[keyword.get(a.arg)] = astroid_node_to_value(*value);
  }
  return out;
}

namespace {

// The constructor defaults a class and its ancestors declare, nearest first.
py::dict constructor_defaults(const py::object& cls) {
  const Astroid& a = ast();
  py::dict out;
  for (py::handle pair : ancestry(Node(cls))) {
    std::optional<Node> init = own_definition(Node::of(PyTuple_GET_ITEM(pair.ptr(), 0)), "__init__");
    if (!init || !init->isa(a.FunctionDef)) continue;
    Node params = init->child(a.args);
    std::vector<Node> positional = params.nodes(a.posonlyargs);
    for (const Node& p : params.nodes(a.args)) positional.push_back(p);
    std::vector<Node> defaults = params.nodes(a.defaults);
    if (defaults.size() > positional.size()) continue;
    size_t offset = positional.size() - defaults.size();
    for (size_t i = 0; i < defaults.size(); ++i) {
      if (defaults[i].name() == std::optional<std::string>("NOT_PROVIDED")) continue;
      py::object name = positional[offset + i].get(a.name);
      if (!out.contains(name)) out[name] = astroid_node_to_value(defaults[i]);
    }
  }
  return out;
}

}  // namespace

py::dict get_node_default_arguments(const Node& call) {
  Node inferred = safe_infer(call);
  if (!inferred.truthy()) return py::dict();
  // Every call of a field class asks the same; the class keeps the answer
  // and each caller gets its own copy.
  py::object defaults = class_fact(inferred, ast().init_defaults_cache, constructor_defaults);
  return defaults.attr("copy")();
}

void add_to_keywords(py::list keywords, const Node& keyword) {
  size_t n = keywords.size();
  if (n > 0) {
    std::string last = Node::of(keywords[n - 1]).as_string();
    if (last.rfind("**", 0) == 0) {
      keywords.insert(n - 1, keyword.obj());
      return;
    }
  }
  keywords.append(keyword.obj());
}

void set_function_name(const Node& call, const std::string& new_name) {
  const Astroid& a = ast();
  Node func = call.func();
  if (func.isa(a.Attribute)) {
    py::setattr(func.obj(), a.attrname, py::str(new_name));
  } else if (func.isa(a.Name)) {
    py::setattr(func.obj(), a.name, py::str(new_name));
  } else {
    PyErr_SetNone(PyExc_NotImplementedError);
    throw py::error_already_set();
  }
}

bool py_equal(const py::handle& a, const py::handle& b) {
  int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
  if (result < 0) {
    PyErr_Clear();
    return false;
  }
  return result == 1;
}

py::object serializer(const py::handle& obj) {
  py::object Decimal = py::module_::import("decimal").attr("Decimal");
  if (py::isinstance(obj, Decimal)) return py::int_(py::reinterpret_borrow<py::object>(obj));
  if (PySet_Check(obj.ptr()) && !PyFrozenSet_Check(obj.ptr())) {
    return py::list(py::reinterpret_borrow<py::object>(obj));
  }
  std::string type_name = py::str(py::type::handle_of(obj).attr("__name__"));
  throw py::type_error("Object of type " + type_name + " is not JSON serializable");
}

const py::object& context_string_class() {
  return made_once([] {
    py::object str_type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyUnicode_Type));
    py::object cls = make_class("context_string", py::make_tuple(str_type), py::dict(),
                                "tessary.staticanalysis.helpers");
    add_method(cls, "__mod__", [](py::object /*self*/, py::object kwargs) { return kwargs; });
    return cls;
  });
}

py::object context_string(const char* text) { return context_string_class()(py::str(text)); }

}  // namespace tessary

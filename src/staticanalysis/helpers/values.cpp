#include "staticanalysis/helpers/values.hpp"

#include <map>
#include <optional>


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
    Node written = keyword.child(a.value);
    // A literal is its own value; only other expressions are inferred.
    if (written.isa(a.Const)) {
      out[keyword.get(a.arg)] = written.get(a.value);
      continue;
    }
    std::optional<Node> value = infer_first(written);
    if (!value) continue;
    out[keyword.get(a.arg)] = astroid_node_to_value(*value);
  }
  return out;
}

namespace {

// The text of a string constant, or nullopt.
std::optional<std::string> const_text(const Node& node) {
  if (!node.isa(ast().Const)) return std::nullopt;
  return node.text(ast().value);
}

// The keywords a constructor sets on the way to its parent, so that their
// default is its own and not the parameter default of some ancestor:
// `kwargs["blank"] = True`, `kwargs.setdefault("editable", False)`,
// `kwargs.update(...)`, and keywords passed to a parent's `__init__`.
// Each maps to the constant it becomes when the constructor always sets
// it to one (a `setdefault` or an assignment in the constructor's own
// body, written once), else to nothing: its default is not one value.
using WrittenKeywords = std::map<std::string, std::optional<py::object>>;

void keywords_written(const Node& init, WrittenKeywords& out) {
  std::map<std::string, int> times;
  auto note = [&](const std::string& key, std::optional<py::object> value) {
    if (++times[key] > 1) value = std::nullopt;
    out[key] = std::move(value);
  };
  // A constant written by a statement of the constructor's own body.
  auto always_constant = [&](const Node& statement, const Node& value) -> std::optional<py::object> {
    if (!statement.parent().is(init) || !value.isa(ast().Const)) return std::nullopt;
    return value.get(ast().value);
  };
  const Astroid& a = ast();
  py::object kwarg = init.child(a.args).get(intern("kwarg"));
  std::optional<std::string> kwargs_name;
  if (!kwarg.is_none()) kwargs_name = py::str(kwarg).cast<std::string>();
  auto is_kwargs = [&](const Node& node) {
    return kwargs_name && node.isa(a.Name) && node.name() == kwargs_name;
  };
  for (const Node& subscript : init.descendants(a.Subscript)) {
    if (!is_kwargs(subscript.child(a.value))) continue;
    if (py::str(subscript.get(intern("ctx"))).cast<std::string>().find("Load") != std::string::npos) continue;
    if (auto key = const_text(subscript.child(intern("slice")))) {
      Node assign = subscript.parent();
      note(*key, assign.isa(a.Assign) ? always_constant(assign, assign.child(a.value)) : std::nullopt);
    }
  }
  for (const Node& call : init.descendants(a.Call)) {
    Node func = call.func();
    if (!func.isa(a.Attribute)) continue;
    std::optional<std::string> method = func.attrname();
    if (method == std::optional<std::string>("__init__")) {
      // A parameter handed on under its own name keeps its default.
      for (const Node& keyword : call.nodes(a.keywords)) {
        std::optional<std::string> arg = keyword.text(a.arg);
        if (!arg) continue;
        Node value = keyword.child(a.value);
        if (value.isa(a.Name) && value.name() == arg) continue;
        note(*arg, std::nullopt);
      }
      continue;
    }
    if (!is_kwargs(func.expr())) continue;
    std::vector<Node> args = call.nodes(a.args);
    if (method == std::optional<std::string>("setdefault") || method == std::optional<std::string>("pop")) {
      // pop() takes the keyword out of the parent's hands too.
      if (!args.empty())
        if (auto key = const_text(args[0])) {
          bool sets = method == std::optional<std::string>("setdefault") && args.size() == 2 && call.parent().isa(a.Expr);
          note(*key, sets ? always_constant(call.parent(), args[1]) : std::nullopt);
        }
    } else if (method == std::optional<std::string>("update")) {
      for (const Node& keyword : call.nodes(a.keywords)) {
        if (auto arg = keyword.text(a.arg)) note(*arg, std::nullopt);
      }
      if (!args.empty() && args[0].isa(a.Dict)) {
        for (py::handle pair : args[0].get(a.items)) {
          if (auto key = const_text(Node::of(pair[py::int_(0)]))) note(*key, std::nullopt);
        }
      }
    }
  }
}

// The constructor defaults a class and its ancestors declare, nearest
// first, positional and keyword-only alike. A keyword that any of these
// constructors sets itself has no single default and is left out.
py::dict constructor_defaults(const py::object& cls) {
  const Astroid& a = ast();
  py::dict out;
  // What the nearest constructor that writes a keyword makes of it.
  WrittenKeywords written;
  auto record = [&](const Node& param, const Node& value) {
    if (value.is_none()) return;  // a keyword-only parameter without a default
    if (value.name() == std::optional<std::string>("NOT_PROVIDED")) return;
    py::object name = param.get(a.name);
    if (!out.contains(name)) out[name] = astroid_node_to_value(value);
  };
  for (py::handle pair : ancestry(Node(cls))) {
    std::optional<Node> init = own_definition(Node::of(PyTuple_GET_ITEM(pair.ptr(), 0)), "__init__");
    if (!init || !init->isa(a.FunctionDef)) continue;
    Node params = init->child(a.args);
    std::vector<Node> positional = params.nodes(a.posonlyargs);
    for (const Node& p : params.nodes(a.args)) positional.push_back(p);
    std::vector<Node> defaults = params.nodes(a.defaults);
    if (defaults.size() <= positional.size()) {
      size_t offset = positional.size() - defaults.size();
      for (size_t i = 0; i < defaults.size(); ++i) record(positional[offset + i], defaults[i]);
    }
    std::vector<Node> keyword_only = params.nodes(intern("kwonlyargs"));
    std::vector<Node> keyword_defaults = params.nodes(intern("kw_defaults"));
    if (keyword_only.size() == keyword_defaults.size()) {
      for (size_t i = 0; i < keyword_only.size(); ++i) record(keyword_only[i], keyword_defaults[i]);
    }
    WrittenKeywords here;
    keywords_written(*init, here);
    for (auto& [name, value] : here) written.try_emplace(name, std::move(value));
  }
  for (const auto& [name, value] : written) {
    py::str key(name);
    if (value) out[key] = *value;
    else if (out.contains(key)) PyDict_DelItem(out.ptr(), key.ptr());
  }
  return out;
}

}  // namespace

py::dict get_node_default_arguments(const Node& call) { return constructor_defaults_of(safe_infer(call)); }

py::dict constructor_defaults_of(const Node& inferred) {
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

#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/pathtext.hpp"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include <pybind11/gil_safe_call_once.h>

namespace tessary {

py::str intern(const char* text) {
  return py::reinterpret_steal<py::str>(PyUnicode_InternFromString(text));
}

namespace {

Astroid load() {
  Astroid a;
  a.astroid = py::module_::import("astroid");
  py::object nodes = py::module_::import("astroid.nodes");
  a.manager = a.astroid.attr("MANAGER");
  a.builder_class = py::module_::import("astroid.builder").attr("AstroidBuilder");
  a.extract_node = a.astroid.attr("extract_node");
  a.safe_infer_fn = py::module_::import("pylint.checkers.utils").attr("safe_infer");
  a.uninferable = a.astroid.attr("Uninferable");
  a.inference_tip = a.astroid.attr("inference_tip");
  a.use_inference_default = a.astroid.attr("UseInferenceDefault");
  a.inference_error = a.astroid.attr("InferenceError");
  a.instance_class = py::module_::import("astroid.bases").attr("Instance");

#define TESSARY_NODE(kind) a.kind = nodes.attr(#kind)
  TESSARY_NODE(Module);
  TESSARY_NODE(ClassDef);
  TESSARY_NODE(FunctionDef);
  TESSARY_NODE(Call);
  TESSARY_NODE(Keyword);
  TESSARY_NODE(Attribute);
  TESSARY_NODE(Name);
  TESSARY_NODE(AssignName);
  TESSARY_NODE(AssignAttr);
  TESSARY_NODE(Assign);
  TESSARY_NODE(AnnAssign);
  TESSARY_NODE(Const);
  TESSARY_NODE(List);
  TESSARY_NODE(Tuple);
  TESSARY_NODE(Dict);
  TESSARY_NODE(Set);
  TESSARY_NODE(BinOp);
  TESSARY_NODE(BoolOp);
  TESSARY_NODE(ImportFrom);
  TESSARY_NODE(Import);
  TESSARY_NODE(Compare);
  TESSARY_NODE(If);
  TESSARY_NODE(UnaryOp);
  TESSARY_NODE(Subscript);
  TESSARY_NODE(Return);
  TESSARY_NODE(Expr);
  TESSARY_NODE(Starred);
  TESSARY_NODE(IfExp);
  TESSARY_NODE(Await);
  TESSARY_NODE(Lambda);
  TESSARY_NODE(For);
  TESSARY_NODE(Arguments);
#undef TESSARY_NODE

#define TESSARY_NAME(field) a.field = intern(#field)
  TESSARY_NAME(mro);
  TESSARY_NAME(qname);
  TESSARY_NAME(infer);
  TESSARY_NAME(name);
  TESSARY_NAME(attrname);
  TESSARY_NAME(func);
  TESSARY_NAME(expr);
  TESSARY_NAME(args);
  TESSARY_NAME(keywords);
  TESSARY_NAME(value);
  TESSARY_NAME(arg);
  TESSARY_NAME(parent);
  TESSARY_NAME(body);
  TESSARY_NAME(lineno);
  TESSARY_NAME(col_offset);
  TESSARY_NAME(root);
  TESSARY_NAME(nodes_of_class);
  TESSARY_NAME(elts);
  TESSARY_NAME(items);
  TESSARY_NAME(lookup);
  TESSARY_NAME(locals);
  TESSARY_NAME(defaults);
  TESSARY_NAME(posonlyargs);
  TESSARY_NAME(targets);
  TESSARY_NAME(is_statement);
  TESSARY_NAME(instantiate_class);
  TESSARY_NAME(as_string);
  TESSARY_NAME(get_children);
  TESSARY_NAME(first_token);
  TESSARY_NAME(last_token);
  TESSARY_NAME(pytype);
  TESSARY_NAME(test);
  TESSARY_NAME(operand);
  TESSARY_NAME(op);
  TESSARY_NAME(left);
  TESSARY_NAME(ops);
  TESSARY_NAME(file);
  TESSARY_NAME(end_lineno);
  TESSARY_NAME(end_col_offset);
  TESSARY_NAME(fromlineno);
  TESSARY_NAME(bases);
  TESSARY_NAME(decorators);
  TESSARY_NAME(previous_sibling);
  TESSARY_NAME(generic_foreign_key_field_names);
#undef TESSARY_NAME
  a.frame_ = intern("frame");
  a.scope_ = intern("scope");
  a.proxied = intern("_proxied");
  a.ancestry_cache = intern("_tessary_ancestry");
  a.instance_type_cache = intern("_tessary_instance_type");
  a.init_defaults_cache = intern("_tessary_init_defaults");
  a.explicit_inference = intern("_explicit_inference");
  return a;
}

}  // namespace

const Astroid& ast() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<Astroid> storage;
  return storage.call_once_and_store_result(load).get_stored();
}

bool Node::truthy() const { return PyObject_IsTrue(obj_.ptr()) == 1; }

std::optional<std::string> Node::text(const py::str& attr) const {
  PyObject* value = PyObject_GetAttr(obj_.ptr(), attr.ptr());
  if (value == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  auto owned = py::reinterpret_steal<py::object>(value);
  if (!PyUnicode_Check(value)) return std::nullopt;
  return path_bytes(owned);  // a module named after a file name that is not UTF-8 keeps its bytes
}

std::vector<Node> Node::nodes(const py::str& attr) const {
  std::vector<Node> out;
  py::object value = obj_.attr(attr);
  if (value.is_none()) return out;
  for (py::handle item : value) out.push_back(Node::of(item));
  return out;
}

Node Node::statement() const {
  const Astroid& a = ast();
  py::object current = obj_;
  while (!current.is_none()) {
    if (py::isinstance(current, a.Module)) return Node(current);
    if (py::getattr(current, a.is_statement, py::bool_(false)).cast<bool>()) return Node(current);
    current = current.attr(a.parent);
  }
  return Node(current);
}

std::vector<Node> Node::descendants(const py::object& cls) const {
  std::vector<Node> out;
  for (py::handle item : obj_.attr(ast().nodes_of_class)(cls)) out.push_back(Node::of(item));
  return out;
}

std::optional<Node> infer_first(const Node& node) {
  try {
    py::iterator it = py::iter(node.obj().attr(ast().infer)());
    if (it == py::iterator::sentinel()) return std::nullopt;
    return Node::of(*it);
  } catch (py::error_already_set& err) {
    // Inference failures of analysed code are ordinary: unknown names,
    // dynamic attributes, recursion guards.
    if (err.matches(ast().inference_error) || err.matches(PyExc_StopIteration)) return std::nullopt;
    throw;
  }
}

namespace {

// The ancestry of a class with one base, from the base's own (a class
// fact too): the linearisation of single inheritance is the class followed
// by its base's, and the base's is computed once for all its subclasses,
// where mro() walks every ancestor again for each. The base is found as
// mro() finds it: the first value of the base expression that is not
// None, a class (or an instance's class) not hidden. nullopt when another
// case applies, for mro() to handle.
std::optional<py::tuple> single_inheritance_ancestry(const py::object& cls) {
  const Astroid& a = ast();
  py::list bases = cls.attr(a.bases);
  if (py::len(bases) != 1) return std::nullopt;
  // Classes whose ancestry is being computed: a base that leads back to
  // one of them is a cycle, left to mro().
  static std::vector<PyObject*> in_progress;
  if (std::find(in_progress.begin(), in_progress.end(), cls.ptr()) != in_progress.end()) return std::nullopt;
  py::object base;
  try {
    for (py::handle value : bases[0].attr(a.infer)()) {
      if (py::isinstance(value, a.Const) && value.attr(a.value).is_none()) continue;
      base = py::reinterpret_borrow<py::object>(value);
      break;
    }
  } catch (py::error_already_set&) {
    return std::nullopt;
  }
  if (!base) return std::nullopt;
  if (py::isinstance(base, a.instance_class)) base = base.attr(a.proxied);
  static const py::str hide = intern("hide");
  if (!py::isinstance(base, a.ClassDef) || base.is(cls) || py::getattr(base, hide, py::bool_(false)).cast<bool>())
    return std::nullopt;
  py::tuple rest;
  in_progress.push_back(cls.ptr());
  try {
    rest = ancestry(Node(base));
  } catch (py::error_already_set&) {
    in_progress.pop_back();
    return std::nullopt;
  }
  in_progress.pop_back();
  py::list pairs;
  py::str own_name = cls.attr(a.qname)();
  pairs.append(py::make_tuple(cls, own_name));
  std::optional<std::string_view> own_text = utf8_view(own_name.ptr());
  if (!own_text) return std::nullopt;  // named after a file name that is not UTF-8: mro() decides
  std::unordered_set<std::string_view> names{*own_text};
  for (py::handle pair : rest) {
    PyObject* ancestor = PyTuple_GET_ITEM(pair.ptr(), 0);
    PyObject* name = PyTuple_GET_ITEM(pair.ptr(), 1);
    // A class named twice (or the class itself among its ancestors) is
    // for mro()'s own duplicate handling.
    if (ancestor == cls.ptr() || !PyUnicode_Check(name)) return std::nullopt;
    std::optional<std::string_view> text = utf8_view(name);
    if (!text || !names.insert(*text).second) return std::nullopt;
    pairs.append(pair);
  }
  return py::tuple(pairs);
}

py::tuple compute_ancestry(const py::object& cls) {
  const Astroid& a = ast();
  if (std::optional<py::tuple> single = single_inheritance_ancestry(cls)) return *single;
  py::list pairs;
  for (py::handle c : cls.attr(a.mro)()) pairs.append(py::make_tuple(c, c.attr(a.qname)()));
  return py::tuple(pairs);
}

// What calling the class makes when the call goes the plain way (not a
// subclass of type, no metaclass __call__ of its own): the instance class
// astroid's instantiate_class picks for it. None for any other class.
py::object compute_plain_instance_type(const py::object& cls) {
  try {
    if (cls.attr("is_subtype_of")("builtins.type").cast<bool>()) return py::none();
    py::object metaclass = cls.attr("metaclass")();
    if (!metaclass.is_none() && py::dict(metaclass.attr(ast().locals)).contains("__call__")) return py::none();
    return py::type::of(cls.attr(ast().instantiate_class)());
  } catch (py::error_already_set&) {
    return py::none();
  }
}

// safe_infer of a call whose callee infers to one plainly called class:
// an instance of it, whatever the arguments. astroid's call protocol
// answers the same but walks the class's ancestry anew on every call.
// The single value of a callee, or None.
py::object single_value(const py::object& func) {
  const Astroid& a = ast();
  try {
    py::iterator values = py::iter(func.attr(a.infer)());
    if (values == py::iterator::sentinel()) return py::none();
    py::object value = py::reinterpret_borrow<py::object>(*values);
    if (++values != py::iterator::sentinel()) return py::none();
    return value;
  } catch (py::error_already_set&) {
    return py::none();  // the full protocol reports it as it should
  }
}

// The module that binds `name` for code in `scope`, when no scope between
// them binds it: answered from the scopes' own names, which is what a
// lookup would find, without the lookup's statement filtering.
std::optional<Node> binding_module(Node scope, const py::str& name) {
  const Astroid& a = ast();
  const py::str& locals_key = a.locals;
  while (!scope.isa(a.Module)) {
    py::dict names = scope.get(locals_key);
    if (names.contains(name)) return std::nullopt;
    Node parent = scope.parent();
    if (parent.is_none()) return std::nullopt;
    scope = parent.scope();
  }
  return scope;
}

// The callee's single value, remembered per module when the callee is a
// name, or an attribute of a name, bound once in the module by an import
// and nowhere closer (`models.CharField` in a class body): every field of
// a module names its class the same way, and each would look it up anew.
py::object callee_value(const Node& call) {
  const Astroid& a = ast();
  Node func = call.func();
  Node name = func.isa(a.Name) ? func : (func.isa(a.Attribute) && func.expr().isa(a.Name) ? func.expr() : Node());
  if (name.is_none()) return single_value(func.obj());
  py::str bound_name = name.get(a.name);
  std::optional<Node> module = binding_module(name.scope(), bound_name);
  if (!module) return single_value(func.obj());
  py::dict module_names = module->get(a.locals);
  if (!module_names.contains(bound_name)) return single_value(func.obj());
  py::list bindings = module_names[bound_name];
  if (py::len(bindings) != 1 || !(py::isinstance(bindings[0], a.Import) || py::isinstance(bindings[0], a.ImportFrom)))
    return single_value(func.obj());
  static const py::str memo_key = intern("_tessary_callee_values");
  py::dict own = module->obj().attr("__dict__");
  if (!own.contains(memo_key)) own[memo_key] = py::dict();
  py::dict memo = own[memo_key];
  py::str text = func.isa(a.Name) ? bound_name : py::str(std::string(bound_name) + "." + *func.attrname());
  if (memo.contains(text)) return memo[text];
  py::object value = single_value(func.obj());
  memo[text] = value;
  return value;
}

std::optional<Node> instance_of_called_class(const Node& call) {
  const Astroid& a = ast();
  if (!call.get(a.explicit_inference).is_none()) return std::nullopt;  // an inference tip decides
  py::object cls = callee_value(call);
  if (cls.is_none()) return std::nullopt;
  if (!py::isinstance(cls, a.ClassDef)) return std::nullopt;
  py::object instance_type = class_fact(Node(cls), a.instance_type_cache, compute_plain_instance_type);
  if (instance_type.is_none()) return std::nullopt;
  return Node(instance_type(cls));
}

}  // namespace

Node instance_of_class(const Node& cls) {
  const Astroid& a = ast();
  // Only a plain class is instantiated the plain way.
  if (Py_TYPE(cls.obj().ptr()) != reinterpret_cast<PyTypeObject*>(a.ClassDef.ptr()))
    return Node(cls.get(a.instantiate_class)());
  const py::object& exception_instance =
      made_once([] { return py::object(py::module_::import("astroid.objects").attr("ExceptionInstance")); });
  const py::object& mro_error =
      made_once([] { return py::object(py::module_::import("astroid.exceptions").attr("MroError")); });
  // An exception class makes exception instances: one named Exception or
  // BaseException among its ancestors, as instantiate_class() decides.
  auto named = [](const py::object& name, const char* text) {
    return PyUnicode_Check(name.ptr()) && PyUnicode_CompareWithASCIIString(name.ptr(), text) == 0;
  };
  bool exception = false;
  try {
    for (py::handle pair : ancestry(cls)) {
      py::object name = py::getattr(PyTuple_GET_ITEM(pair.ptr(), 0), a.name, py::none());
      if (named(name, "Exception") || named(name, "BaseException")) exception = true;
    }
  } catch (py::error_already_set& err) {
    if (!err.matches(mro_error)) throw;
  }
  return Node(exception ? exception_instance(cls.obj()) : a.instance_class(cls.obj()));
}

Node safe_infer(const Node& node) {
  if (node.is_none()) return Node();
  if (node.isa(ast().Call)) {
    if (std::optional<Node> instance = instance_of_called_class(node)) return *instance;
  }
  return Node(ast().safe_infer_fn(node.obj()));
}

py::object class_fact(const Node& node, const py::str& key,
                      const std::function<py::object(const py::object&)>& compute) {
  const Astroid& a = ast();
  py::object cls = node.obj();
  if (!py::isinstance(cls, a.ClassDef)) {
    py::object proxied = py::getattr(cls, a.proxied, py::none());
    if (!py::isinstance(proxied, a.ClassDef)) return compute(cls);
    cls = proxied;
  }
  // Kept in the node's own dictionary: the attribute is ours alone.
  py::dict own = cls.attr("__dict__");
  if (own.contains(key)) return own[key];
  py::object value = compute(cls);
  own[key] = value;
  return value;
}

py::tuple ancestry(const Node& node) {
  return py::reinterpret_borrow<py::tuple>(class_fact(node, ast().ancestry_cache, compute_ancestry));
}

bool ancestry_contains(const py::tuple& classes, std::string_view qname) {
  for (py::handle pair : classes) {
    PyObject* name = PyTuple_GET_ITEM(pair.ptr(), 1);
    if (PyUnicode_Check(name) && utf8_view(name) == qname) return true;
  }
  return false;
}

bool has_ancestor(const Node& node, std::string_view qname) {
  if (!node.present()) return false;
  try {
    return ancestry_contains(ancestry(node), qname);
  } catch (py::error_already_set&) {
    return false;
  }
}

void raise_python(const py::object& exc_class) {
  PyErr_SetNone(exc_class.ptr());
  throw py::error_already_set();
}

}  // namespace tessary

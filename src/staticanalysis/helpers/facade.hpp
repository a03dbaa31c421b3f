// A small typed view over astroid and pylint objects.
//
// Every check talks to the syntax tree through this header: the node
// classes, the library entry points and the attribute names it needs are
// looked up once per process and kept in `Astroid`; `Node` is a cheap,
// stateless handle with the accessors the checks use. Nothing here owns
// analysed code or runs it: astroid parses, we only ask questions.
#pragma once

#include <pybind11/gil_safe_call_once.h>
#include <pybind11/pybind11.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tessary {

namespace py = pybind11;

// What `make` returns, made on first use and kept for the life of the
// process (never destroyed: it may hold Python objects). Each lambda is a
// type of its own, so each call site keeps its own value:
// `return made_once([] { return make_class(...); });`.
template <class Make>
std::invoke_result_t<Make>& made_once(Make make) {
  static_assert(std::is_class_v<Make>, "made_once takes a lambda: function pointers of one type would share a value");
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<std::invoke_result_t<Make>> storage;
  return storage.call_once_and_store_result(make).get_stored();
}

// Modules, classes, functions and interned attribute names, cached once.
struct Astroid {
  // modules and entry points
  py::object astroid;
  py::object manager;        // astroid.MANAGER
  py::object builder_class;  // astroid.builder.AstroidBuilder
  py::object extract_node;   // astroid.extract_node
  py::object safe_infer_fn;  // pylint.checkers.utils.safe_infer
  py::object uninferable;    // astroid.Uninferable
  py::object inference_tip;  // astroid.inference_tip
  py::object use_inference_default;  // astroid.UseInferenceDefault
  py::object inference_error;        // astroid.InferenceError
  py::object instance_class;         // astroid.bases.Instance

  // node classes
  py::object Module, ClassDef, FunctionDef, Call, Keyword, Attribute, Name,
      AssignName, AssignAttr, Assign, AnnAssign, Const, List, Tuple, Dict, Set,
      BinOp, BoolOp, ImportFrom, Import, Compare, If, UnaryOp, Subscript,
      Return, Expr, Starred, IfExp, Await, Lambda, For, Arguments;

  // interned attribute and method names
  py::str mro, qname, infer, name, attrname, func, expr, args, keywords, value,
      arg, parent, body, lineno, col_offset, root, nodes_of_class, elts, items,
      lookup, locals, defaults, posonlyargs, targets, is_statement,
      instantiate_class, as_string, get_children, first_token, last_token,
      pytype, test, operand, op, left, ops, file, end_lineno, end_col_offset,
      fromlineno, bases, decorators, frame_, scope_, previous_sibling, proxied,
      generic_foreign_key_field_names, ancestry_cache,
      instance_type_cache, init_defaults_cache, explicit_inference;
};

// The process-wide cache; first use imports astroid and pylint.
const Astroid& ast();

// Handle on one astroid node or inferred value (possibly None or the
// uninferable marker). Copying is a reference-count bump.
class Node {
 public:
  Node() : obj_(py::none()) {}
  explicit Node(py::object obj) : obj_(std::move(obj)) {}
  static Node of(py::handle h) { return Node(py::reinterpret_borrow<py::object>(h)); }

  const py::object& obj() const { return obj_; }
  py::handle handle() const { return obj_; }

  bool is_none() const { return obj_.is_none(); }
  bool is_uninferable() const { return obj_.is(ast().uninferable); }
  // Neither None nor the uninferable marker.
  bool present() const { return !is_none() && !is_uninferable(); }
  // Python truth value (the uninferable marker is falsy).
  bool truthy() const;

  bool isa(const py::object& cls) const { return py::isinstance(obj_, cls); }
  bool is(const Node& other) const { return obj_.is(other.obj_); }

  bool has(const py::str& attr) const { return py::hasattr(obj_, attr); }
  py::object get(const py::str& attr) const { return obj_.attr(attr); }
  Node child(const py::str& attr) const { return Node(obj_.attr(attr)); }
  // A text attribute; nullopt when missing or not text.
  std::optional<std::string> text(const py::str& attr) const;
  // A list-valued attribute (None gives an empty list).
  std::vector<Node> nodes(const py::str& attr) const;

  // Common shapes.
  Node parent() const { return child(ast().parent); }
  Node func() const { return child(ast().func); }
  Node expr() const { return child(ast().expr); }
  std::optional<std::string> attrname() const { return text(ast().attrname); }
  std::optional<std::string> name() const { return text(ast().name); }
  Node root() const { return Node(obj_.attr(ast().root)()); }
  // The enclosing function, class or module (a lambda counts for its body).
  Node frame() const { return Node(obj_.attr(ast().frame_)()); }
  // The enclosing scope (functions, classes, modules, comprehensions).
  Node scope() const { return Node(obj_.attr(ast().scope_)()); }
  // The enclosing statement, or the module itself when the node is a module
  // or sits directly in one without a statement.
  Node statement() const;
  // Descendants of the given node class, depth first, in source order.
  std::vector<Node> descendants(const py::object& cls) const;
  std::string as_string() const { return py::str(obj_.attr(ast().as_string)()); }

 private:
  py::object obj_;
};

// pylint's safe_infer: the single inferred value or None. A call of one
// plainly instantiated class is answered from a per-class memo.
Node safe_infer(const Node& node);
// First value of node.infer(); nullopt when inference raises.
std::optional<Node> infer_first(const Node& node);
// An instance of the class, as its instantiate_class() makes it, with the
// kind of instance (which takes a walk of the ancestry) found once per
// class.
Node instance_of_class(const Node& cls);

// A fact about a class, or an instance's class, that no later inference
// can change: computed once by `compute` (given the class) and kept on the
// class node under `key`, so it lives and dies with the tree. Anything
// else is given to `compute` as it is, uncached.
py::object class_fact(const Node& node, const py::str& key,
                      const std::function<py::object(const py::object&)>& compute);

// The linearised ancestry (mro) of a class, or of an instance's class, as
// a tuple of (class, qualified name) pairs; a class fact, as astroid
// computes it afresh on every call. Raises as mro() does.
py::tuple ancestry(const Node& node);
// Does an ancestry hold a class whose qualified name is `qname`?
bool ancestry_contains(const py::tuple& classes, std::string_view qname);

// Ancestry test: does the linearised ancestry of the class or instance hold
// a class whose qualified name is `qname`? False on any failure.
bool has_ancestor(const Node& node, std::string_view qname);

// Raise the given Python exception class with no arguments.
[[noreturn]] void raise_python(const py::object& exc_class);

// Interned Python text, made once per call site owner.
py::str intern(const char* text);

// What a function the interpreter calls directly (a C method, not a
// pybind11 one) returns: `body()`, or nullptr with the Python error set
// from whatever it threw.
template <class Body>
PyObject* called_from_python(Body&& body) noexcept {
  try {
    return body();
  } catch (py::error_already_set& error) {
    error.restore();
    return nullptr;
  } catch (const py::builtin_exception& error) {
    error.set_error();  // py::type_error as a TypeError, and so on
    return nullptr;
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_RuntimeError, error.what());
    return nullptr;
  }
}

// One level of the interpreter's depth limit, for as long as it lives:
// where C++ recurses in place of Python calls, one for each call Python
// would have made, so that what is too deep there is too deep here, and
// fails with the same RecursionError rather than overflowing the stack.
class PythonDepth {
 public:
  explicit PythonDepth(const char* where = " while walking a tree") {
    if (Py_EnterRecursiveCall(where)) throw py::error_already_set();
  }
  ~PythonDepth() { Py_LeaveRecursiveCall(); }
  PythonDepth(const PythonDepth&) = delete;
  PythonDepth& operator=(const PythonDepth&) = delete;
};

}  // namespace tessary

#include "staticanalysis/checker/tree_walk.hpp"

#include <string>
#include <unordered_map>

#include "staticanalysis/helpers/facade.hpp"

namespace tessary::checker {

namespace {

// The checkers see a module node by node: each checker's visit of a node,
// then its children's walks, then each checker's leave of it. pylint's
// walk is a Python call for every node of every module linted; this one
// makes the same calls in the same order, counts the statements as it
// does, and on a checker's error tells, once per walker, which node failed
// before passing the error on.
class Walk {
 public:
  explicit Walk(const py::handle& walker)
      : walker_(walker), visits_(walker.attr("visit_events")), leaves_(walker.attr("leave_events")) {}

  ~Walk() {
    // Counted as the walk goes; written back however it ends.
    if (statements_ == 0) return;
    static const py::str count = intern("nbstatements");
    PyObject* before = PyObject_GetAttr(walker_.ptr(), count.ptr());
    if (!before) {
      PyErr_Clear();
      return;
    }
    py::object total = py::reinterpret_steal<py::object>(before) + py::int_(statements_);
    if (PyObject_SetAttr(walker_.ptr(), count.ptr(), total.ptr()) < 0) PyErr_Clear();
  }

  void walk(const py::handle& node) {
    PythonDepth walking;  // a level, as pylint's walk is a call a node
    static const py::str is_statement = intern("is_statement"), get_children = intern("get_children");
    const Events& events = events_of(Py_TYPE(node.ptr()));
    try {
      int statement = PyObject_IsTrue(py::object(node.attr(is_statement)).ptr());
      if (statement < 0) throw py::error_already_set();
      statements_ += statement;
      notify(events.visits, node);
      for (py::handle child : py::iter(node.attr(get_children)())) walk(child);
      notify(events.leaves, node);
    } catch (py::error_already_set& error) {
      if (error.matches(PyExc_Exception)) tell_once(node, error);
      throw;
    }
  }

 private:
  struct Events {
    py::object visits, leaves;
  };

  // The checkers' visits and leaves of a class of node, found once a walk
  // by its name in lower case, as pylint registers them.
  const Events& events_of(PyTypeObject* type) {
    auto found = events_.find(type);
    if (found != events_.end()) return found->second;
    PyObject* name = PyType_GetName(type);
    if (!name) throw py::error_already_set();
    py::object key = py::reinterpret_steal<py::object>(name).attr("lower")();
    auto listed = [&](const py::object& table) -> py::object {
      PyObject* value = PyDict_GetItemWithError(table.ptr(), key.ptr());
      if (!value && PyErr_Occurred()) throw py::error_already_set();
      return value ? py::reinterpret_borrow<py::object>(value) : py::object(py::tuple());
    };
    return events_.emplace(type, Events{listed(visits_), listed(leaves_)}).first->second;
  }

  static void notify(const py::object& callbacks, const py::handle& node) {
    for (py::handle callback : callbacks) {
      PyObject* result = PyObject_CallOneArg(callback.ptr(), node.ptr());
      if (!result) throw py::error_already_set();
      Py_DECREF(result);
    }
  }

  void tell_once(const py::handle& node, py::error_already_set& error) {
    static const py::str told = intern("exception_msg");
    if (!py::object(walker_.attr(told)).is(py::bool_(false))) return;
    py::object file = py::getattr(node.attr("root")(), "file", py::none());
    py::module_ sys = py::module_::import("sys");
    py::print(py::str("Exception on node {} in file '{}'").format(py::repr(node), file),
              py::arg("file") = sys.attr("stderr"));
    // An error raised in C and never passed through Python has no traceback.
    py::object trace = error.trace() ? py::reinterpret_borrow<py::object>(error.trace()) : py::none();
    py::module_::import("traceback").attr("print_exception")(error.type(), error.value(), trace);
    walker_.attr(told) = py::bool_(true);
  }

  py::handle walker_;
  py::object visits_, leaves_;
  std::unordered_map<PyTypeObject*, Events> events_;
  long statements_ = 0;
};

PyObject* walk_method(PyObject* self, PyObject* node) {
  return called_from_python([&]() -> PyObject* {
    Walk(self).walk(node);
    Py_RETURN_NONE;
  });
}

PyMethodDef walk_definition = {"walk", &walk_method, METH_O,
                               "Call the checkers' visits and leaves of the node and of every node under it."};

}  // namespace

py::object install_tree_walk() {
  py::object walker = py::module_::import("pylint.utils.ast_walker").attr("ASTWalker");
  py::object own = walker.attr("__dict__")["walk"];
  // Another pylint's walker is left alone: this walk is that of this one.
  py::object version = py::module_::import("pylint").attr("__version__");
  if (version.cast<std::string>() != "2.17.7") return py::none();
  PyObject* method = PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(walker.ptr()), &walk_definition);
  if (!method) throw py::error_already_set();
  py::setattr(walker, "walk", py::reinterpret_steal<py::object>(method));
  return own;
}

}  // namespace tessary::checker

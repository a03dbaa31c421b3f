#include "staticanalysis/shims/transform_walk.hpp"

#include <vector>

namespace tessary::shims {

namespace {

// Line numbers past the interpreter's small integers are a number object
// each, two on every node (its first and last line): a seventh of the
// memory of a run's trees. Nodes of the same lines share one here; the
// objects are held for the life of the process.
class LineNumbers {
 public:
  void share(const py::handle& node) {
    static const py::str first = intern("lineno");
    static const py::str last = intern("end_lineno");
    share(node, first);
    share(node, last);
  }

 private:
  static constexpr long kMost = 1L << 20;

  void share(const py::handle& node, const py::str& name) {
    PyObject* value = PyObject_GetAttr(node.ptr(), name.ptr());
    if (!value) {
      PyErr_Clear();
      return;
    }
    py::object held = py::reinterpret_steal<py::object>(value);
    if (!PyLong_CheckExact(value)) return;
    int overflow = 0;
    long line = PyLong_AsLongAndOverflow(value, &overflow);
    if (overflow || line <= 256 || line >= kMost) return;
    if (shared_.size() <= static_cast<size_t>(line)) shared_.resize(static_cast<size_t>(line) + 1, nullptr);
    PyObject*& kept = shared_[static_cast<size_t>(line)];
    if (!kept) {
      kept = held.inc_ref().ptr();
      return;
    }
    if (kept == value) return;
    if (PyObject_SetAttr(node.ptr(), name.ptr(), kept) < 0) PyErr_Clear();
  }

  std::vector<PyObject*> shared_;
};

LineNumbers& line_numbers() {
  static auto& numbers = *new LineNumbers();
  return numbers;
}

// One walk of one tree. As astroid's visitor does: each node's children
// first (the nodes of its child fields, lists and tuples of them
// included), a field whose children a transform replaced set anew, then
// the node's own transforms in the order they were registered. A
// transform that returns a node replaces the node; one that returns
// another class of node (or nothing) ends the node's transforms.
class Walk {
 public:
  Walk(py::object transforms, py::object invalidate)
      : transforms_(std::move(transforms)), invalidate_(std::move(invalidate)) {}

  // The interpreter's depth limit holds here as in astroid's walk, a
  // level for each of its calls: its visit of a node, its visit of each
  // field's value, the comprehension over a list, the call of a node's
  // transforms.
  py::object visit(const py::object& node) {
    PythonDepth visiting;
    static const py::str fields_name = intern("_astroid_fields");
    PyObject* found = PyObject_GetAttr(node.ptr(), fields_name.ptr());
    if (!found) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
      PyErr_Clear();
    } else {
      py::object fields = py::reinterpret_steal<py::object>(found);
      for (py::handle name : fields) {
        py::object value = node.attr(name);
        py::object visited = visit_value(value);
        int differs = PyObject_RichCompareBool(visited.ptr(), value.ptr(), Py_NE);
        if (differs < 0) throw py::error_already_set();
        if (differs) py::setattr(node, name, visited);
      }
    }
    line_numbers().share(node);
    return transform(node);
  }

 private:
  py::object visit_value(const py::object& value) {
    PythonDepth generic;
    if (PyList_Check(value.ptr())) {
      PythonDepth comprehension;
      py::list out;
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(value.ptr()); ++i)
        out.append(visit_value(py::reinterpret_borrow<py::object>(PyList_GET_ITEM(value.ptr(), i))));
      return out;
    }
    if (PyTuple_Check(value.ptr())) {
      PythonDepth comprehension;
      py::list out;
      for (py::handle child : py::reinterpret_borrow<py::tuple>(value))
        out.append(visit_value(py::reinterpret_borrow<py::object>(child)));
      return py::tuple(out);
    }
    int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) throw py::error_already_set();
    if (!truth || PyUnicode_Check(value.ptr())) return value;
    return visit(value);
  }

  py::object transform(py::object node) {
    PythonDepth transforming;
    static const py::str class_name = intern("__class__");
    py::object cls = node.attr(class_name);
    PyObject* found = PyDict_GetItemWithError(transforms_.ptr(), cls.ptr());
    if (!found) {
      if (PyErr_Occurred()) throw py::error_already_set();
      return node;
    }
    // The list as it is at each step: a transform may register another.
    py::list entries = py::reinterpret_borrow<py::list>(found);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(entries.ptr()); ++i) {
      py::sequence entry = py::reinterpret_borrow<py::sequence>(PyList_GET_ITEM(entries.ptr(), i));
      py::object function = entry[0], predicate = entry[1];
      if (!predicate.is_none()) {
        py::object answer = call(predicate, node);
        int holds = PyObject_IsTrue(answer.ptr());
        if (holds < 0) throw py::error_already_set();
        if (!holds) continue;
      }
      py::object replaced = call(function, node);
      if (!replaced.is_none()) {
        invalidate_();
        node = replaced;
      }
      int other = PyObject_RichCompareBool(replaced.attr(class_name).ptr(), cls.ptr(), Py_NE);
      if (other < 0) throw py::error_already_set();
      if (other) break;
    }
    return node;
  }

  static py::object call(const py::object& function, const py::object& node) {
    PyObject* result = PyObject_CallOneArg(function.ptr(), node.ptr());
    if (!result) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
  }

  py::object transforms_;
  py::object invalidate_;
};

}  // namespace

void install_transform_walk() {
  const Astroid& a = ast();
  py::object visitor = a.manager.attr("_transform");
  py::object own_visit = py::module_::import("astroid.transforms").attr("TransformVisitor").attr("visit");
  // Another astroid's visitor (one with a walk of its own) is left alone.
  py::object visit_method = py::type::of(visitor).attr("visit");
  if (!visit_method.is(own_visit)) return;
  py::object invalidate = py::module_::import("astroid.context").attr("_invalidate_cache");
  py::setattr(visitor, "visit", py::cpp_function([visitor, invalidate](py::object module) {
                // The registry is read anew for each tree: clearing astroid's
                // caches replaces it.
                return Walk(visitor.attr("transforms"), invalidate).visit(module);
              }, py::arg("module")));
}

}  // namespace tessary::shims

#include "staticanalysis/shims/rebuild_dispatch.hpp"

#include <array>

namespace tessary::shims {

namespace {

// A tree is built by one visit per parsed node. astroid looks the visit up
// by the node's class, and a name read or a constant (half of all nodes)
// then costs two more Python calls before its node is made. Here those two
// are made at once, with the same arguments astroid's visits give; every
// other node, a name assigned or deleted included, goes to astroid's own
// visit as before.
struct Rebuild {
  py::object rebuilder_class;  // astroid's TreeRebuilder
  py::object own_name_visit, own_constant_visit;
  py::object ast_name, ast_constant, ast_load;
  py::object name_node, const_node;
  py::tuple name_keywords, const_keywords;
};

// Keyword names as the interpreter's own: interned, so each call matches
// them to the parameters by identity rather than by comparing text.
py::tuple keyword_names(std::initializer_list<const char*> names) {
  py::list interned;
  for (const char* name : names) interned.append(intern(name));
  return py::tuple(interned);
}

const Rebuild& rebuild() {
  return made_once([] {
    py::object rebuilder = py::module_::import("astroid.rebuilder").attr("TreeRebuilder");
    py::object ast_module = py::module_::import("ast");
    py::object nodes = py::module_::import("astroid.nodes");
    return Rebuild{rebuilder,
                   rebuilder.attr("__dict__")["visit_name"],
                   rebuilder.attr("__dict__")["visit_constant"],
                   ast_module.attr("Name"),
                   ast_module.attr("Constant"),
                   ast_module.attr("Load"),
                   nodes.attr("Name"),
                   nodes.attr("Const"),
                   keyword_names({"name", "lineno", "col_offset", "end_lineno", "end_col_offset", "parent"}),
                   keyword_names({"value", "kind", "lineno", "col_offset", "end_lineno", "end_col_offset", "parent"})};
  });
}

// Whether the rebuilder's class still builds names and constants with
// astroid's own visits (a subclass may not).
bool own_visits(const py::handle& self) {
  static PyTypeObject* checked = nullptr;
  static bool answer = false;
  PyTypeObject* type = Py_TYPE(self.ptr());
  if (type == checked) return answer;
  const Rebuild& r = rebuild();
  auto same = [&](const char* name, const py::object& own) {
    PyObject* found = _PyType_Lookup(type, py::str(name).ptr());
    return found == own.ptr();
  };
  answer = same("visit_name", r.own_name_visit) && same("visit_constant", r.own_constant_visit);
  checked = type;
  return answer;
}

py::object attribute_or_none(const py::handle& node, const py::str& name) {
  PyObject* value = PyObject_GetAttr(node.ptr(), name.ptr());
  if (value) return py::reinterpret_steal<py::object>(value);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
  PyErr_Clear();
  return py::none();
}

template <size_t N>
py::object make(const py::object& cls, const std::array<py::object, N>& args, const py::tuple& keywords) {
  std::array<PyObject*, N> raw;
  for (size_t i = 0; i < N; ++i) raw[i] = args[i].ptr();
  PyObject* made = PyObject_Vectorcall(cls.ptr(), raw.data(), 0, keywords.ptr());
  if (!made) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(made);
}

py::object visit(const py::handle& self, const py::handle& node, const py::handle& parent) {
  if (node.is_none()) return py::none();
  static const py::str id = intern("id"), ctx = intern("ctx"), value = intern("value"), kind = intern("kind"),
                       lineno = intern("lineno"), col_offset = intern("col_offset"),
                       end_lineno = intern("end_lineno"), end_col_offset = intern("end_col_offset"),
                       meths = intern("_visit_meths");
  const Rebuild& r = rebuild();
  PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(node.ptr()));
  auto parent_object = py::reinterpret_borrow<py::object>(parent);
  if (cls == r.ast_name.ptr() && own_visits(self) &&
      reinterpret_cast<PyObject*>(Py_TYPE(node.attr(ctx).ptr())) == r.ast_load.ptr()) {
    return make<6>(r.name_node,
                   {node.attr(id), node.attr(lineno), node.attr(col_offset), attribute_or_none(node, end_lineno),
                    attribute_or_none(node, end_col_offset), parent_object},
                   r.name_keywords);
  }
  if (cls == r.ast_constant.ptr() && own_visits(self)) {
    return make<7>(r.const_node,
                   {node.attr(value), node.attr(kind), node.attr(lineno), node.attr(col_offset),
                    attribute_or_none(node, end_lineno), attribute_or_none(node, end_col_offset), parent_object},
                   r.const_keywords);
  }
  // As astroid looks a visit up: once per class of node and rebuilder.
  py::object known = self.attr(meths);
  PyObject* found = PyDict_GetItemWithError(known.ptr(), cls);
  py::object method;
  if (found) {
    method = py::reinterpret_borrow<py::object>(found);
  } else {
    if (PyErr_Occurred()) throw py::error_already_set();
    static PyObject* redirect = py::object(py::module_::import("astroid.rebuilder").attr("REDIRECT")).release().ptr();
    py::str class_name = py::handle(cls).attr("__name__");
    py::str target = py::handle(redirect).attr("get")(class_name, class_name);
    std::string visit_name = "visit_" + target.attr("lower")().cast<std::string>();
    method = self.attr(visit_name.c_str());
    if (PyDict_SetItem(known.ptr(), cls, method.ptr()) < 0) throw py::error_already_set();
  }
  PyObject* args[] = {node.ptr(), parent.ptr()};
  PyObject* result = PyObject_Vectorcall(method.ptr(), args, 2, nullptr);
  if (!result) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(result);
}

// The method itself, called as astroid calls its own: visit(node, parent),
// either by keyword. A plain C method, so each of a tree's many visits
// costs no more than a call.
PyObject* visit_method(PyObject* self, PyObject* const* args, Py_ssize_t count, PyObject* keywords) {
  PyObject* node = count > 0 ? args[0] : nullptr;
  PyObject* parent = count > 1 ? args[1] : nullptr;
  Py_ssize_t named = keywords ? PyTuple_GET_SIZE(keywords) : 0;
  for (Py_ssize_t i = 0; i < named; ++i) {
    PyObject* name = PyTuple_GET_ITEM(keywords, i);
    if (PyUnicode_CompareWithASCIIString(name, "node") == 0 && !node) node = args[count + i];
    else if (PyUnicode_CompareWithASCIIString(name, "parent") == 0 && !parent) parent = args[count + i];
    else {
      PyErr_Format(PyExc_TypeError, "visit() got an unexpected keyword argument '%U'", name);
      return nullptr;
    }
  }
  if (!node || !parent || count > 2) {
    PyErr_SetString(PyExc_TypeError, "visit() takes a node and its parent");
    return nullptr;
  }
  try {
    return visit(self, node, parent).release().ptr();
  } catch (py::error_already_set& error) {
    error.restore();
    return nullptr;
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_RuntimeError, error.what());
    return nullptr;
  }
}

PyMethodDef visit_definition = {"visit", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&visit_method)),
                                METH_FASTCALL | METH_KEYWORDS, "Build the astroid node of a parsed node."};

}  // namespace

py::object install_rebuild_dispatch() {
  py::object rebuilder = py::module_::import("astroid.rebuilder").attr("TreeRebuilder");
  py::object own = rebuilder.attr("__dict__")["visit"];
  // Another astroid's rebuilder is left alone: the visits copied above are
  // those of this one.
  py::object version = py::module_::import("astroid.__pkginfo__").attr("__version__");
  if (version.cast<std::string>() != "2.15.8") return py::none();
  PyObject* method = PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(rebuilder.ptr()), &visit_definition);
  if (!method) throw py::error_already_set();
  py::setattr(rebuilder, "visit", py::reinterpret_steal<py::object>(method));
  return own;
}

}  // namespace tessary::shims

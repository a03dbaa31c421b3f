#include "staticanalysis/shims/class_assigns.hpp"

#include <unordered_map>

namespace tessary::shims {

namespace {

// astroid asks a class for every `name = ...` statement in its body, its
// methods' bodies and their blocks included, to find methods decorated by
// assignment (`name = staticmethod(name)`). Each statement it passes caches
// its own share of the answer: a dictionary, a bound method and a list on
// every statement of every class that infers `self`, a tenth of a run's
// memory. This gathers the same statements in the same order, and only the
// class keeps the answer.

// How a class of node answers, by the class that defines its answer.
enum class Answer { nothing, block, assignment, asked };

struct Owners {
  py::object node, block, assignment;
};

const Owners& owners() {
  return made_once([] {
    py::object nodes = py::module_::import("astroid.nodes");
    return Owners{nodes.attr("NodeNG"), py::module_::import("astroid.nodes._base_nodes").attr("MultiLineBlockNode"),
                  nodes.attr("Assign")};
  });
}

Answer answer_of(PyTypeObject* type) {
  // Each class is held, so its address names no other while the process
  // lives (never destroyed: it holds Python objects).
  static auto& known = *new std::unordered_map<PyTypeObject*, std::pair<py::object, Answer>>();
  auto found = known.find(type);
  if (found != known.end()) return found->second.second;
  static const py::str method = intern("_get_assign_nodes");
  Answer answer = Answer::asked;
  PyObject* mro = type->tp_mro;
  for (Py_ssize_t i = 0; mro && i < PyTuple_GET_SIZE(mro); ++i) {
    PyObject* base = PyTuple_GET_ITEM(mro, i);
    PyObject* own = reinterpret_cast<PyTypeObject*>(base)->tp_dict;
    if (!own || !PyDict_Contains(own, method.ptr())) continue;
    // Only astroid's own three answers are known; a class with its own
    // (a class body, or a subclass elsewhere) is asked.
    const Owners& o = owners();
    if (base == o.node.ptr()) answer = Answer::nothing;
    else if (base == o.block.ptr()) answer = Answer::block;
    else if (base == o.assignment.ptr()) answer = Answer::assignment;
    break;
  }
  known.emplace(type, std::pair{py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(type)), answer});
  return answer;
}

void gather(const py::handle& node, py::list& out) {
  if (Py_EnterRecursiveCall(" while gathering a class's assignments")) throw py::error_already_set();
  struct Leave {
    ~Leave() { Py_LeaveRecursiveCall(); }
  } leave;
  static const py::str fields = intern("_multi_line_block_fields");
  static const py::str value = intern("value");
  static const py::str method = intern("_get_assign_nodes");
  switch (answer_of(Py_TYPE(node.ptr()))) {
    case Answer::nothing:
      return;
    case Answer::assignment:
      out.append(node);
      gather(node.attr(value), out);
      return;
    case Answer::block:
      // The block fields read one by one: astroid's own tuple of them
      // would be cached on the node as well.
      for (py::handle field : node.attr(fields))
        for (py::handle child : node.attr(field)) gather(child, out);
      return;
    case Answer::asked:
      for (py::handle found : node.attr(method)()) out.append(found);
      return;
  }
}

}  // namespace

void install_class_assigns() {
  py::object class_def = py::module_::import("astroid.nodes").attr("ClassDef");
  py::object own = py::module_::import("astroid.nodes.scoped_nodes.scoped_nodes").attr("ClassDef");
  // Another astroid's ClassDef is left alone.
  if (!class_def.is(own) || !py::hasattr(class_def, "_get_assign_nodes")) return;
  static const py::str cache_name = intern("__cache");
  py::object manager = py::module_::import("astroid._cache").attr("CACHE_MANAGER");
  // The key it is kept under beside astroid's own cached answers.
  py::str key = intern("tessary: the assignments of a class");
  py::cpp_function answer(
      [manager, key](py::object self) -> py::object {
        // Kept as astroid keeps a cached answer, so clearing astroid's
        // caches clears it too.
        py::object cache = py::getattr(self, cache_name, py::none());
        if (cache.is_none()) {
          cache = py::dict();
          py::setattr(self, cache_name, cache);
          manager.attr("add_dict_cache")(cache);
        }
        py::dict held = py::reinterpret_borrow<py::dict>(cache);
        if (held.contains(key)) return held[key];
        py::list found;
        static const py::str body = intern("body");
        for (py::handle child : self.attr(body)) gather(child, found);
        held[key] = found;
        return found;
      },
      py::name("_get_assign_nodes"), py::is_method(class_def));
  py::setattr(class_def, "_get_assign_nodes", answer);
}

}  // namespace tessary::shims

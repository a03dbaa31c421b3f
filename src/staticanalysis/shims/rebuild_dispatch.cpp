#include "staticanalysis/shims/rebuild_dispatch.hpp"

#include <array>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

namespace tessary::shims {

namespace {

// A tree is built by one visit per parsed node. astroid looks the visit up
// by the node's class, and each visit is a Python call or two more (the
// positions read one by one, a list comprehension per list of children)
// before its node is made. The commonest nodes are made here at once
// instead, with the same arguments, the same order of visits and the same
// side effects (an assigned name saved in its scope, an attribute assigned
// kept for the builder's later pass) as astroid's visits; every other node
// goes to astroid's own visit as before.

// The visits this dispatch stands in for, and what they call. A rebuilder
// whose class replaces any of them is served by astroid's lookup alone.
constexpr std::array kOwnMethods = {"visit_name",  "visit_constant",   "visit_attribute", "visit_call",
                                    "visit_expr",  "visit_keyword",    "visit_assign",    "visit_return",
                                    "visit_arg",   "_save_assignment", "check_type_comment"};

enum class Made { Other, Name, Constant, Attribute, Call, Expr, Keyword, Assign, Return, Arg };

struct Rebuild {
  std::vector<py::object> own_methods;  // astroid's functions, in kOwnMethods' order
  // parsed classes, by the kind of node made of them
  std::vector<std::pair<PyObject*, Made>> parsed;
  py::object ast_store, ast_param, ast_del;
  // astroid's node classes
  py::object name_node, assign_name_node, del_name_node, const_node, attribute_node, assign_attr_node,
      del_attr_node, call_node, expr_node, keyword_node, assign_node, return_node, except_handler_node;
  // keyword names of the calls made
  py::tuple named_keywords, const_keywords, attribute_keywords, keyword_keywords, placed_keywords, call_parts,
      assign_parts;
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
    py::object methods = rebuilder.attr("__dict__");
    py::object ast_module = py::module_::import("ast");
    py::object nodes = py::module_::import("astroid.nodes");
    Rebuild r;
    for (const char* name : kOwnMethods) r.own_methods.push_back(methods[name]);
    for (auto [name, made] : {std::pair{"Name", Made::Name}, {"Constant", Made::Constant},
                              {"Attribute", Made::Attribute}, {"Call", Made::Call}, {"Expr", Made::Expr},
                              {"keyword", Made::Keyword}, {"Assign", Made::Assign}, {"Return", Made::Return},
                              {"arg", Made::Arg}})
      r.parsed.emplace_back(py::object(ast_module.attr(name)).release().ptr(), made);
    r.ast_store = ast_module.attr("Store");
    r.ast_param = ast_module.attr("Param");
    r.ast_del = ast_module.attr("Del");
    r.name_node = nodes.attr("Name");
    r.assign_name_node = nodes.attr("AssignName");
    r.del_name_node = nodes.attr("DelName");
    r.const_node = nodes.attr("Const");
    r.attribute_node = nodes.attr("Attribute");
    r.assign_attr_node = nodes.attr("AssignAttr");
    r.del_attr_node = nodes.attr("DelAttr");
    r.call_node = nodes.attr("Call");
    r.expr_node = nodes.attr("Expr");
    r.keyword_node = nodes.attr("Keyword");
    r.assign_node = nodes.attr("Assign");
    r.return_node = nodes.attr("Return");
    r.except_handler_node = nodes.attr("ExceptHandler");
    r.named_keywords = keyword_names({"name", "lineno", "col_offset", "end_lineno", "end_col_offset", "parent"});
    r.const_keywords =
        keyword_names({"value", "kind", "lineno", "col_offset", "end_lineno", "end_col_offset", "parent"});
    r.attribute_keywords =
        keyword_names({"attrname", "lineno", "col_offset", "end_lineno", "end_col_offset", "parent"});
    r.keyword_keywords = keyword_names({"arg", "lineno", "col_offset", "end_lineno", "end_col_offset", "parent"});
    r.placed_keywords = keyword_names({"lineno", "col_offset", "end_lineno", "end_col_offset", "parent"});
    r.call_parts = keyword_names({"func", "args", "keywords"});
    r.assign_parts = keyword_names({"targets", "value", "type_annotation"});
    return r;
  });
}

PyObject* installed_visit = nullptr;  // this dispatch, held for the life of the process

// Whether the rebuilder's class is astroid's own in every visit made here,
// and in the dispatch itself (a subclass may replace any of them).
bool own_visits(const py::handle& self) {
  static PyTypeObject* checked = nullptr;
  static unsigned int checked_version = 0;
  static bool answer = false;
  PyTypeObject* type = Py_TYPE(self.ptr());
  // A class's version changes with anything set on it or its bases.
  if (type == checked && type->tp_version_tag == checked_version && checked_version != 0) return answer;
  const Rebuild& r = rebuild();
  answer = _PyType_Lookup(type, py::str("visit").ptr()) == installed_visit;
  for (size_t i = 0; answer && i < kOwnMethods.size(); ++i)
    answer = _PyType_Lookup(type, py::str(kOwnMethods[i]).ptr()) == r.own_methods[i].ptr();
  checked = type;
  checked_version = type->tp_version_tag;
  return answer;
}

Made made_of(PyObject* cls) {
  for (const auto& [parsed, made] : rebuild().parsed)
    if (parsed == cls) return made;
  return Made::Other;
}

py::object attribute_or_none(const py::handle& node, const py::str& name) {
  PyObject* value = PyObject_GetAttr(node.ptr(), name.ptr());
  if (value) return py::reinterpret_steal<py::object>(value);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
  PyErr_Clear();
  return py::none();
}

template <size_t N>
py::object call(PyObject* callable, const std::array<py::object, N>& args, const py::tuple& keywords) {
  std::array<PyObject*, N> raw;
  for (size_t i = 0; i < N; ++i) raw[i] = args[i].ptr();
  PyObject* made = PyObject_Vectorcall(callable, raw.data(), 0, keywords.ptr());
  if (!made) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(made);
}

// `owner.name(*args)`, as a method call.
template <size_t N>
py::object call_method(const py::object& owner, const py::str& name, const std::array<py::object, N>& args,
                       const py::tuple& keywords = py::tuple()) {
  std::array<PyObject*, N + 1> raw;
  raw[0] = owner.ptr();
  for (size_t i = 0; i < N; ++i) raw[i + 1] = args[i].ptr();
  size_t positional = 1 + N - (keywords ? static_cast<size_t>(PyTuple_GET_SIZE(keywords.ptr())) : 0);
  PyObject* result = PyObject_VectorcallMethod(name.ptr(), raw.data(), positional | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                               keywords && PyTuple_GET_SIZE(keywords.ptr()) ? keywords.ptr() : nullptr);
  if (!result) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(result);
}

// Nodes made without their Python constructor: astroid's constructors
// and postinits of the classes made here only set attributes, so they are
// set here, the same ones in the same order (the instances then share
// their class's layout of attributes as before). Only while each class,
// and the classes it inherits them from, has astroid's own constructor and
// postinit: anything set on a class or its bases changes its version, and
// the classes are then looked at again.
struct Owned {
  PyTypeObject* owner;
  PyObject* name;
  PyObject* function;  // astroid's, as `owner` finds it, or none
};

struct Construction {
  PyTypeObject* type = nullptr;
  std::vector<Owned> own;
  // astroid wraps some constructors in a check that warns of missing
  // arguments when deprecation warnings are shown; such a class is always
  // called.
  bool wrapped = false;
  unsigned int version = 0;
  bool plain = false;
};

std::vector<Construction>& constructions() {
  return made_once([] {
    py::object nodes = py::module_::import("astroid.nodes");
    py::object bases = py::module_::import("astroid.bases");
    auto type_of = [](const py::object& cls) { return reinterpret_cast<PyTypeObject*>(cls.inc_ref().ptr()); };
    std::vector<Construction> all;
    for (const char* name : {"Name", "AssignName", "DelName", "Const", "Attribute", "AssignAttr", "DelAttr", "Call",
                             "Expr", "Keyword", "Assign", "Return"}) {
      Construction made;
      made.type = type_of(nodes.attr(name));
      // Its constructor and postinit, NodeNG's constructor that the former
      // calls, and for Const the two it calls by name.
      std::vector<std::pair<PyTypeObject*, const char*>> asked = {
          {made.type, "__init__"}, {made.type, "postinit"}, {type_of(nodes.attr("NodeNG")), "__init__"}};
      if (std::string_view(name) == "Const")
        for (const char* base : {"Instance", "Proxy"}) asked.emplace_back(type_of(bases.attr(base)), "__init__");
      for (auto [owner, method] : asked) {
        PyObject* key = intern(method).release().ptr();
        PyObject* function = _PyType_Lookup(owner, key);  // a name has no postinit
        made.own.push_back({owner, key, Py_XNewRef(function)});
        if (function && PyObject_HasAttrString(function, "__wrapped__")) made.wrapped = true;
      }
      all.push_back(std::move(made));
    }
    return all;
  });
}

// Whether `cls` is made here without its constructor.
bool plainly_made(const py::object& cls) {
  PyTypeObject* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
  for (Construction& made : constructions()) {
    if (made.type != type) continue;
    if (made.version != 0 && type->tp_version_tag == made.version) return made.plain;
    bool plain = !made.wrapped && Py_TYPE(type) == &PyType_Type && type->tp_new == PyBaseObject_Type.tp_new &&
                 type->tp_setattro == PyObject_GenericSetAttr;
    for (const Owned& own : made.own) plain = plain && _PyType_Lookup(own.owner, own.name) == own.function;
    made.plain = plain;
    made.version = type->tp_version_tag;
    return plain;
  }
  return false;
}

void set(const py::object& node, const py::str& name, PyObject* value) {
  if (PyObject_SetAttr(node.ptr(), name.ptr(), value) < 0) throw py::error_already_set();
}

// Levels of the interpreter's depth limit, held at once: a call of a
// class counts one, its constructor's frame another, and each constructor
// that one calls in turn one more: three deep. Const's calls NodeNG's,
// then Instance's, which calls Proxy's, whose assertion asks isinstance
// of a tuple (one more, unless assertions are off): five deep.
class Levels {
 public:
  explicit Levels(int levels) {
    for (; held_ < levels; ++held_) {
      if (Py_EnterRecursiveCall(" while building a tree")) {
        release();
        throw py::error_already_set();
      }
    }
  }
  ~Levels() { release(); }
  Levels(const Levels&) = delete;
  Levels& operator=(const Levels&) = delete;

 private:
  void release() {
    for (; held_ > 0; --held_) Py_LeaveRecursiveCall();
  }
  int held_ = 0;
};

// A new node of `cls` with the attributes its constructor sets: the
// class's own (`leading`, in order), then NodeNG's; as deep as a call of
// the class goes.
py::object constructed(const py::object& cls, std::initializer_list<std::pair<const py::str*, PyObject*>> leading,
                       const std::array<py::object, 4>& place, const py::object& parent) {
  static const py::str lineno = intern("lineno"), col_offset = intern("col_offset"), parent_name = intern("parent"),
                       end_lineno = intern("end_lineno"), end_col_offset = intern("end_col_offset"),
                       position = intern("position");
  static const int const_levels =
      py::module_::import("sys").attr("flags").attr("optimize").cast<int>() > 0 ? 4 : 5;
  Levels constructor(cls.is(rebuild().const_node) ? const_levels : 3);
  static PyObject* nothing = PyTuple_New(0);
  PyTypeObject* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
  PyObject* made = type->tp_new(type, nothing, nullptr);
  if (!made) throw py::error_already_set();
  py::object node = py::reinterpret_steal<py::object>(made);
  for (auto [name, value] : leading) set(node, *name, value);
  set(node, lineno, place[0].ptr());
  set(node, col_offset, place[1].ptr());
  set(node, parent_name, parent.ptr());
  set(node, end_lineno, place[2].ptr());
  set(node, end_col_offset, place[3].ptr());
  set(node, position, Py_None);
  return node;
}

enum class Context { Load, Store, Del };

// The context astroid gives a parsed node's `ctx`: Store and Param are
// stores, Del deletes, anything else reads.
Context context_of(const py::handle& node) {
  static const py::str ctx = intern("ctx");
  const Rebuild& r = rebuild();
  PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(node.attr(ctx).ptr()));
  if (cls == r.ast_store.ptr() || cls == r.ast_param.ptr()) return Context::Store;
  if (cls == r.ast_del.ptr()) return Context::Del;
  return Context::Load;
}

py::object visit(const py::handle& self, const py::handle& node, const py::handle& parent);

// Nodes are made here by recursion in C++ where astroid recurses through
// Python calls; each call astroid would make is counted, so that a tree
// too deep for astroid's own visits is too deep here as well, and one
// that they build is built.
struct Depth : PythonDepth {
  Depth() : PythonDepth(" while building a tree") {}
};

struct Builder {
  const py::handle& self;
  const py::handle& node;
  const py::object parent;
  const Rebuild& r = rebuild();

  // The positions astroid reads: a statement or expression always has its
  // start; a keyword argument's may be missing.
  std::array<py::object, 4> position(bool all_optional = false) const {
    static const py::str lineno = intern("lineno"), col_offset = intern("col_offset"),
                         end_lineno = intern("end_lineno"), end_col_offset = intern("end_col_offset");
    if (all_optional)
      return {attribute_or_none(node, lineno), attribute_or_none(node, col_offset),
              attribute_or_none(node, end_lineno), attribute_or_none(node, end_col_offset)};
    return {node.attr(lineno), node.attr(col_offset), attribute_or_none(node, end_lineno),
            attribute_or_none(node, end_col_offset)};
  }

  // A node of `cls` at the parsed node's place: made by its constructor
  // with `arguments` (named first in `keywords`, the place after them), or
  // made here with `leading`, the attributes the constructor sets before
  // NodeNG's (its arguments and its defaults).
  template <size_t N>
  py::object placed(const py::object& cls, const std::array<py::object, N>& arguments, const py::tuple& keywords,
                    std::initializer_list<std::pair<const py::str*, PyObject*>> leading,
                    bool all_optional = false) const {
    std::array<py::object, 4> place = position(all_optional);
    if (plainly_made(cls)) return constructed(cls, leading, place, parent);
    std::array<py::object, N + 5> all;
    for (size_t i = 0; i < N; ++i) all[i] = arguments[i];
    for (size_t i = 0; i < 4; ++i) all[N + i] = place[i];
    all[N + 4] = parent;
    return call<N + 5>(cls.ptr(), all, keywords);
  }

  // The node's children given to it, as its postinit gives them: by the
  // postinit itself, or here when it is astroid's own (which only sets
  // them, in this order).
  template <size_t N>
  void finish(const py::object& newnode, const py::object& cls, const std::array<const py::str*, N>& names,
              const std::array<py::object, N>& values, const py::tuple& keywords = py::tuple()) const {
    static const py::str postinit = intern("postinit");
    if (plainly_made(cls)) {
      PythonDepth call(" while building a tree");
      for (size_t i = 0; i < N; ++i) set(newnode, *names[i], values[i].ptr());
      return;
    }
    call_method<N>(newnode, postinit, values, keywords);
  }

  py::object child(const py::str& field, const py::object& newnode) const {
    return visit(self, node.attr(field), newnode);
  }
  py::list children(const py::str& field, const py::object& newnode) const {
    Depth comprehension;  // astroid visits a list of children in a comprehension
    py::object parsed = node.attr(field);
    py::list out;
    for (py::handle each : parsed) out.append(visit(self, each, newnode));
    return out;
  }

  // An assigned or deleted name kept in its scope's names, as astroid does.
  py::object saved(py::object newnode) const {
    static const py::str save = intern("_save_assignment");
    call_method<1>(py::reinterpret_borrow<py::object>(self), save, {newnode});
    return newnode;
  }

  // A name or a parameter: a node whose constructor takes a name.
  py::object named(const py::object& cls, const py::object& name) const {
    static const py::str attribute = intern("name");
    return placed<1>(cls, {name}, r.named_keywords, {{&attribute, name.ptr()}});
  }

  py::object name() const {
    static const py::str id = intern("id");
    Context context = context_of(node);
    const py::object& cls = context == Context::Del     ? r.del_name_node
                            : context == Context::Store ? r.assign_name_node
                                                        : r.name_node;
    py::object newnode = named(cls, node.attr(id));
    return context == Context::Load ? newnode : saved(newnode);
  }

  py::object constant() const {
    static const py::str value = intern("value"), kind = intern("kind");
    py::object constant = node.attr(value), written = node.attr(kind);
    return placed<2>(r.const_node, {constant, written}, r.const_keywords,
                     {{&value, constant.ptr()}, {&kind, written.ptr()}});
  }

  py::object attribute() const {
    static const py::str attr = intern("attr"), value = intern("value"), expr = intern("expr"),
                         attrname = intern("attrname"), delayed = intern("_delayed_assattr");
    Context context = context_of(node);
    const py::object& cls = context == Context::Del     ? r.del_attr_node
                            : context == Context::Store ? r.assign_attr_node
                                                        : r.attribute_node;
    py::object name = node.attr(attr);
    py::object newnode = placed<1>(cls, {name}, r.attribute_keywords, {{&expr, Py_None}, {&attrname, name.ptr()}});
    // Attributes assigned are given to their instances after the build;
    // not from an exception handler's name.
    if (context == Context::Store) {
      int in_handler = PyObject_IsInstance(parent.ptr(), r.except_handler_node.ptr());
      if (in_handler < 0) throw py::error_already_set();
      if (!in_handler) py::object(self.attr(delayed)).attr("append")(newnode);
    }
    finish<1>(newnode, cls, {&expr}, {child(value, newnode)});
    return newnode;
  }

  py::object call_of() const {
    static const py::str func = intern("func"), args = intern("args"), keywords = intern("keywords");
    py::list no_arguments, no_keywords;
    py::object newnode = placed<0>(r.call_node, {}, r.placed_keywords,
                                   {{&func, Py_None}, {&args, no_arguments.ptr()}, {&keywords, no_keywords.ptr()}});
    py::object callee = child(func, newnode);
    py::list positional = children(args, newnode);
    py::list named = children(keywords, newnode);
    finish<3>(newnode, r.call_node, {&func, &args, &keywords}, {callee, positional, named}, r.call_parts);
    return newnode;
  }

  // A node whose one child is its parsed node's `value`, given to
  // postinit when there is one (a bare `return` has none).
  py::object valued(const py::object& cls, bool all_optional = false) const {
    static const py::str value = intern("value");
    py::object newnode = placed<0>(cls, {}, r.placed_keywords, {{&value, Py_None}}, all_optional);
    py::object parsed = node.attr(value);
    if (cls.is(r.return_node) && parsed.is_none()) return newnode;
    finish<1>(newnode, cls, {&value}, {visit(self, parsed, newnode)});
    return newnode;
  }

  py::object keyword() const {
    static const py::str arg = intern("arg"), value = intern("value");
    py::object name = node.attr(arg);
    py::object newnode =
        placed<1>(r.keyword_node, {name}, r.keyword_keywords, {{&arg, name.ptr()}, {&value, Py_None}}, true);
    finish<1>(newnode, r.keyword_node, {&value}, {child(value, newnode)});
    return newnode;
  }

  py::object assign() const {
    static const py::str targets = intern("targets"), value = intern("value"), annotated = intern("type_annotation"),
                         type_comment = intern("check_type_comment");
    static const py::str comment = intern("type_comment");
    py::list no_targets;
    py::object newnode = placed<0>(r.assign_node, {}, r.placed_keywords,
                                   {{&targets, no_targets.ptr()}, {&value, Py_None}, {&annotated, Py_None}});
    // astroid's check reads a type comment only when there is one.
    py::object annotation = py::none();
    int commented = PyObject_IsTrue(attribute_or_none(node, comment).ptr());
    if (commented < 0) throw py::error_already_set();
    if (commented)
      annotation = call_method<2>(py::reinterpret_borrow<py::object>(self), type_comment,
                                  {py::reinterpret_borrow<py::object>(node), newnode});
    py::list assigned = children(targets, newnode);
    py::object assigned_value = child(value, newnode);
    finish<3>(newnode, r.assign_node, {&targets, &value, &annotated}, {assigned, assigned_value, annotation}, r.assign_parts);
    return newnode;
  }

  // A parameter: the name it assigns in the function's scope.
  py::object argument() const {
    static const py::str arg = intern("arg");
    return saved(named(r.assign_name_node, node.attr(arg)));
  }
};

py::object visit(const py::handle& self, const py::handle& node, const py::handle& parent) {
  Depth dispatch;  // astroid's own dispatch is a call of its own, even of None
  if (node.is_none()) return py::none();
  static const py::str meths = intern("_visit_meths");
  PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(node.ptr()));
  Made made = made_of(cls);
  if (made != Made::Other && own_visits(self)) {
    Depth visiting;  // and so is the visit it dispatches to
    const Rebuild& r = rebuild();
    Builder build{self, node, py::reinterpret_borrow<py::object>(parent)};
    switch (made) {
      case Made::Name: return build.name();
      case Made::Constant: return build.constant();
      case Made::Attribute: return build.attribute();
      case Made::Call: return build.call_of();
      case Made::Expr: return build.valued(r.expr_node);
      case Made::Keyword: return build.keyword();
      case Made::Assign: return build.assign();
      case Made::Return: return build.valued(r.return_node);
      case Made::Arg: return build.argument();
      case Made::Other: break;
    }
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
  return called_from_python([&] { return visit(self, node, parent).release().ptr(); });
}

PyMethodDef visit_definition = {"visit", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&visit_method)),
                                METH_FASTCALL | METH_KEYWORDS, "Build the astroid node of a parsed node."};

// Where a class's or function's header names it, from its keyword (`class`,
// `def`, or `async` of `async def`) to the end of its name: what astroid
// finds by tokenizing the source from the header's line to the body's.
// The header's keywords are the first tokens of its line, so a header of
// plain ASCII is read here directly; any other (a name not in ASCII, text
// before the keyword) is left to astroid's tokenizing.
PyObject* own_position_info = nullptr;  // held for the life of the process

bool blank(char c) { return c == ' ' || c == '\t' || c == '\f'; }
bool name_character(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

std::optional<std::array<long, 4>> header_position(const py::handle& lines, long lineno, long col,
                                                   std::string_view name,
                                                   const std::vector<std::string_view>& keywords) {
  if (!PyList_Check(lines.ptr()) || lineno < 1) return std::nullopt;
  long row = lineno - 1;
  std::string_view line;
  auto load = [&](long index) {
    if (index >= PyList_GET_SIZE(lines.ptr())) return false;
    PyObject* text = PyList_GET_ITEM(lines.ptr(), index);
    // Code points and bytes count alike only in ASCII.
    if (!PyUnicode_Check(text) || !PyUnicode_IS_ASCII(text)) return false;
    line = std::string_view(static_cast<const char*>(PyUnicode_DATA(text)),
                            static_cast<size_t>(PyUnicode_GET_LENGTH(text)));
    return true;
  };
  if (!load(row) || col < 0 || static_cast<size_t>(col) > line.size()) return std::nullopt;
  for (size_t i = 0; i < static_cast<size_t>(col); ++i)
    if (!blank(line[i])) return std::nullopt;
  size_t at = static_cast<size_t>(col);
  // Blanks and backslash continuations between tokens; at least one.
  auto gap = [&]() {
    size_t started = at;
    long started_row = row;
    while (true) {
      if (at < line.size() && blank(line[at])) {
        ++at;
      } else if (at < line.size() && line[at] == '\\' && (at + 1 == line.size() || line.substr(at + 1) == "\r")) {
        if (!load(++row)) return false;
        at = 0;
      } else {
        break;
      }
    }
    return at != started || row != started_row;
  };
  auto word = [&](std::string_view expected) {
    if (line.substr(at, expected.size()) != expected) return false;
    at += expected.size();
    return at >= line.size() || !name_character(line[at]);
  };
  for (std::string_view keyword : keywords)
    if (!word(keyword) || !gap()) return std::nullopt;
  if (name.empty() || !word(name)) return std::nullopt;
  return std::array<long, 4>{lineno, col, row + 1, static_cast<long>(at)};
}

PyObject* position_info_method(PyObject* self, PyObject* const* args, Py_ssize_t count) {
  return called_from_python([&]() -> PyObject* {
    if (count != 2) throw py::type_error("_get_position_info() takes a node and its parent");
    struct Classes {
      py::object async_function, function, position;
    };
    const Classes& classes = made_once([] {
      py::object nodes = py::module_::import("astroid.nodes");
      return Classes{nodes.attr("AsyncFunctionDef"), nodes.attr("FunctionDef"),
                     py::module_::import("astroid.nodes.utils").attr("Position")};
    });
    const py::object &async_function = classes.async_function, &function = classes.function,
                     &position = classes.position;
    static const py::str data = intern("_data"), lineno = intern("lineno"), col_offset = intern("col_offset"),
                         name = intern("name");
    py::handle node(args[0]), parent(args[1]);
    static const std::vector<std::string_view> class_header{"class"}, function_header{"def"},
        async_header{"async", "def"};
    const std::vector<std::string_view>& keywords = py::isinstance(parent, async_function) ? async_header
                                                    : py::isinstance(parent, function)     ? function_header
                                                                                           : class_header;
    py::object lines = py::getattr(self, data, py::none());
    py::object first = py::getattr(node, lineno, py::none()), column = py::getattr(node, col_offset, py::none());
    py::object named = py::getattr(node, name, py::none());
    if (PyLong_CheckExact(first.ptr()) && PyLong_CheckExact(column.ptr()) && PyUnicode_Check(named.ptr()) &&
        PyUnicode_IS_ASCII(named.ptr())) {
      std::string_view text(static_cast<const char*>(PyUnicode_DATA(named.ptr())),
                            static_cast<size_t>(PyUnicode_GET_LENGTH(named.ptr())));
      if (auto found = header_position(lines, first.cast<long>(), column.cast<long>(), text, keywords))
        return position((*found)[0], (*found)[1], (*found)[2], (*found)[3]).release().ptr();
    }
    PyObject* forwarded[] = {self, args[0], args[1]};
    PyObject* own = PyObject_Vectorcall(own_position_info, forwarded, 3, nullptr);
    if (!own) throw py::error_already_set();
    return own;
  });
}

PyMethodDef position_info_definition = {
    "_get_position_info",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&position_info_method)), METH_FASTCALL,
    "Where a class's or function's header names it."};

}  // namespace

py::dict install_rebuild_dispatch() {
  py::object rebuilder = py::module_::import("astroid.rebuilder").attr("TreeRebuilder");
  py::dict own;
  // Another astroid's rebuilder is left alone: the visits copied above are
  // those of this one.
  py::object version = py::module_::import("astroid.__pkginfo__").attr("__version__");
  if (version.cast<std::string>() != "2.15.8") return own;
  own["visit"] = rebuilder.attr("__dict__")["visit"];
  PyObject* method = PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(rebuilder.ptr()), &visit_definition);
  if (!method) throw py::error_already_set();
  installed_visit = method;  // the class's reference is set below; this one is kept
  py::setattr(rebuilder, "visit", py::reinterpret_borrow<py::object>(method));
  py::object own_position = rebuilder.attr("__dict__")["_get_position_info"];
  own_position_info = own_position.inc_ref().ptr();
  own["_get_position_info"] = own_position;
  PyObject* position = PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(rebuilder.ptr()), &position_info_definition);
  if (!position) throw py::error_already_set();
  py::setattr(rebuilder, "_get_position_info", py::reinterpret_steal<py::object>(position));
  return own;
}

}  // namespace tessary::shims

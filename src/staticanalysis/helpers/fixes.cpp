#include "staticanalysis/helpers/fixes.hpp"

#include <algorithm>

#include "staticanalysis/helpers/values.hpp"

namespace tessary {

py::object transformer_visitor(const std::vector<FixRow>& table, const std::vector<std::string>& ids) {
  py::object visitor = py::module_::import("astroid.transforms").attr("TransformVisitor")();
  for (const std::string& id : ids) {
    for (const FixRow& row : table) {
      if (row.id == id) visitor.attr("register_transform")(row.kind, row.transform, row.predicate);
    }
  }
  return visitor;
}

void def_transformer_visitor(py::module_& m, const std::vector<FixRow>& (*rules)(), IdOrder order) {
  m.def(
      "build_transformer_visitor",
      [rules, order](py::iterable message_ids) {
        std::vector<std::string> given;
        for (py::handle id : message_ids) given.push_back(py::str(id));
        if (order == IdOrder::sorted) std::sort(given.begin(), given.end());
        if (order != IdOrder::table) return transformer_visitor(rules(), given);
        std::vector<std::string> ordered;
        for (const FixRow& row : rules()) {
          for (const std::string& id : given)
            if (id == row.id) ordered.push_back(id);
        }
        return transformer_visitor(rules(), ordered);
      },
      py::arg("message_ids"));
}

namespace {

const py::str& run_attribute() {
  static const py::str name("_tessary_facts_run");
  return name;
}

py::dict run_table(const Node& node) {
  py::object module = node.root().obj();
  py::object table = py::getattr(module, run_attribute(), py::none());
  if (PyDict_CheckExact(table.ptr())) return py::reinterpret_borrow<py::dict>(table);
  py::dict made;
  py::setattr(module, run_attribute(), made);
  return made;
}

}  // namespace

detail::NodeFacts& detail::node_facts(const Node& node) {
  py::dict table = run_table(node);
  PyObject* found = PyDict_GetItemWithError(table.ptr(), node.obj().ptr());
  if (found) return *static_cast<NodeFacts*>(py::reinterpret_borrow<py::capsule>(found).get_pointer());
  if (PyErr_Occurred()) throw py::error_already_set();
  auto* made = new NodeFacts();
  table[node.obj()] = py::capsule(made, [](void* p) { delete static_cast<NodeFacts*>(p); });
  return *made;
}

void new_facts_run(const Node& module) { py::setattr(module.obj(), run_attribute(), py::dict()); }

void forget_facts(const Node& node) {
  py::object table = py::getattr(node.root().obj(), run_attribute(), py::none());
  if (!PyDict_CheckExact(table.ptr())) return;
  if (PyDict_DelItem(table.ptr(), node.obj().ptr()) < 0) {
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::error_already_set();
    PyErr_Clear();
  }
}

void def_transform(py::module_& m, const char* name, Transform fn) {
  m.def(
      name,
      [fn](py::object node) {
        // What was known of the node no longer holds once the fix ran, also
        // when it failed half-way.
        Node changed(node);
        try {
          py::object result = fn(changed);
          forget_facts(changed);
          return result;
        } catch (...) {
          forget_facts(changed);
          throw;
        }
      },
      py::arg("node"));
}

Node make_const(const py::object& value, const Node& parent) {
  py::object node = ast().astroid.attr("nodes").attr("const_factory")(value);
  node.attr("parent") = parent.obj();
  node.attr("lineno") = py::getattr(parent.obj(), ast().lineno, py::none());
  return Node(node);
}

Node make_keyword(const std::string& name, const py::object& value, const Node& call) {
  const Astroid& a = ast();
  py::object keyword = a.Keyword(py::arg("arg") = name, py::arg("lineno") = call.get(a.lineno),
                                 py::arg("col_offset") = call.get(a.col_offset), py::arg("parent") = call.obj());
  keyword.attr("postinit")(py::arg("value") = make_const(value, Node(keyword)).obj());
  return Node(keyword);
}

py::list keywords_of(const Node& call) {
  py::object keywords = call.get(ast().keywords);
  if (keywords.is_none()) {
    keywords = py::list();
    py::setattr(call.obj(), ast().keywords, keywords);
  }
  return keywords;
}

std::optional<Node> find_keyword(const Node& call, const std::string& name) {
  for (py::handle keyword : keywords_of(call)) {
    if (Node::of(keyword).text(ast().arg) == std::optional<std::string>(name)) return Node::of(keyword);
  }
  return std::nullopt;
}

void set_keyword(const Node& call, const std::string& name, const py::object& value) {
  if (std::optional<Node> keyword = find_keyword(call, name)) {
    py::setattr(keyword->obj(), ast().value, make_const(value, *keyword).obj());
  } else {
    add_to_keywords(keywords_of(call), make_keyword(name, value, call));
  }
}

std::string receiver_text(const Node& expression) {
  const Astroid& a = ast();
  std::string text = expression.as_string();
  bool primary = expression.isa(a.Name) || expression.isa(a.Attribute) || expression.isa(a.Call) ||
                 expression.isa(a.Subscript) || expression.isa(a.List) || expression.isa(a.Dict);
  return primary ? text : "(" + text + ")";
}

}  // namespace tessary

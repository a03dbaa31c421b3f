// Fixes of the field findings: each takes a field call its predicate
// accepted, edits it in place and returns it.
#include "staticanalysis/helpers/fixes.hpp"

#include <pybind11/gil_safe_call_once.h>
#include <pybind11/stl.h>

#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"
#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/values.hpp"

namespace tessary::fieldrules {

namespace {

// Do the literal choices offer the empty string as a value? Choices that
// are not literal (value, label) pairs answer nullopt.
std::optional<bool> choices_allow_empty(const Node& keyword) {
  py::object choices = astroid_node_to_value(keyword.child(ast().value));
  PyObject* iterator = PyObject_GetIter(choices.ptr());
  if (iterator == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  auto items = py::reinterpret_steal<py::iterator>(iterator);
  for (py::handle item : items) {
    if (!py::isinstance<py::list>(item) || py::len(item) != 2) return std::nullopt;
    if (py_equal(item[py::int_(0)], py::str(""))) return true;
  }
  return false;
}

void remove_keyword(const Node& call, const Node& keyword) { keywords_of(call).attr("remove")(keyword.obj()); }

}  // namespace

py::object transform_null_to_default_str(const Node& node) {
  const Astroid& a = ast();
  std::optional<Node> null_kw, blank_kw, default_kw;
  for (py::handle handle : keywords_of(node)) {
    Node keyword = Node::of(handle);
    std::optional<std::string> arg = keyword.text(a.arg);
    if (!arg) continue;
    if (*arg == "choices") {
      std::optional<bool> allows = choices_allow_empty(keyword);
      if (!allows || !*allows) return node.obj();
    } else if (*arg == "unique") {
      if (astroid_node_to_value(keyword.child(a.value)).is(py::bool_(true))) return node.obj();
    } else if (*arg == "null") {
      null_kw = keyword;
    } else if (*arg == "blank") {
      blank_kw = keyword;
    } else if (*arg == "default") {
      default_kw = keyword;
    }
  }
  py::str empty("");
  if (blank_kw) {
    py::setattr(blank_kw->obj(), a.value, make_const(py::bool_(true), *blank_kw).obj());
  } else {
    add_to_keywords(keywords_of(node), make_keyword("blank", py::bool_(true), node));
  }
  if (default_kw) {
    // A real default (a token factory, a word) is the field's meaning: it
    // stays. Only default=None, which the column can no longer hold, is
    // turned into the empty string.
    Node value = default_kw->child(a.value);
    if (value.isa(a.Const) && value.get(a.value).is_none())
      py::setattr(default_kw->obj(), a.value, make_const(empty, *default_kw).obj());
    if (null_kw) remove_keyword(node, *null_kw);
  } else if (null_kw) {
    py::setattr(null_kw->obj(), a.arg, py::str("default"));
    py::setattr(null_kw->obj(), a.value, make_const(empty, *null_kw).obj());
  } else {
    add_to_keywords(keywords_of(node), make_keyword("default", empty, node));
  }
  return node.obj();
}

py::object transform_redundant_kwargs(const Node& node) {
  FieldCall call(node);
  py::list keywords = keywords_of(node);
  // Every redundant keyword goes in one pass, last first.
  for (Py_ssize_t i = static_cast<Py_ssize_t>(keywords.size()) - 1; i >= 0; --i) {
    if (is_redundant_kwargs(Node(keywords[i]), call)) keywords.attr("pop")(i);
  }
  return node.obj();
}

py::object transform_nullboolean(const Node& node) {
  set_function_name(node, "BooleanField");
  set_keyword(node, "null", py::bool_(true));
  return node.obj();
}

py::object transform_huge_char_field(const Node& node) {
  set_function_name(node, "TextField");
  if (std::optional<Node> max_length = find_keyword(node, "max_length")) remove_keyword(node, *max_length);
  return node.obj();
}

py::object transform_add_blank_true(const Node& node) {
  std::optional<std::string> name = get_function_name(node);
  if (name && is_django_string_field_name(*name)) return node.obj();
  set_keyword(node, "blank", py::bool_(true));
  return node.obj();
}

namespace {

PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<std::vector<FixRow>> fix_storage;

// The condition of the fix of `id`: the finding is on the call, as the
// check decides it.
py::cpp_function fix_condition(const char* id) {
  std::string wanted = id;
  return py::cpp_function(
      [wanted](py::object node) {
        FieldCall field{Node(node)};
        return finding_at(wanted, field);
      },
      py::name(("finds_" + wanted).c_str()), py::arg("node"));
}

}  // namespace

const std::vector<FixRow>& fix_rules() { return fix_storage.get_stored(); }

void bind_fixes(py::module_& m) {
  def_transform(m, "transform_null_to_default_str", &transform_null_to_default_str);
  def_transform(m, "transform_redundant_kwargs", &transform_redundant_kwargs);
  def_transform(m, "transform_add_blank_true", &transform_add_blank_true);
  def_transform(m, "transform_huge_char_field", &transform_huge_char_field);
  def_transform(m, "transform_nullboolean", &transform_nullboolean);

  fix_storage.call_once_and_store_result([&m] {
    py::object call = ast().Call;
    return std::vector<FixRow>{
        {"C2000", call, m.attr("transform_null_to_default_str"), fix_condition("C2000")},
        {"C2002", call, m.attr("transform_redundant_kwargs"), fix_condition("C2002")},
        {"C2003", call, m.attr("transform_add_blank_true"), fix_condition("C2003")},
        {"C2006", call, m.attr("transform_huge_char_field"), fix_condition("C2006")},
        {"C2008", call, m.attr("transform_nullboolean"), fix_condition("C2008")},
    };
  });
  // Ids are tested against the table in its order.
  def_transformer_visitor(m, &fix_rules, IdOrder::table);
}

}  // namespace tessary::fieldrules

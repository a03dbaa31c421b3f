// Fixes of the queryset findings: each returns the node that takes the
// visited node's place (or the visited node, changed).
#include "staticanalysis/helpers/fixes.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <algorithm>

#include "staticanalysis/checkers/queryrules/queryrules.hpp"
#include "staticanalysis/helpers/tokens.hpp"

namespace tessary::queryrules {

namespace {

// `text` parsed as an expression that takes `old`'s place.
py::object replacement(const std::string& text, const Node& old) {
  Node parsed(ast().extract_node(text));
  preserve_metadata(parsed, old);
  return parsed.obj();
}

py::object exists_of(const Node& queryset, const Node& old) {
  return replacement(receiver_text(queryset) + ".exists()", old);
}

}  // namespace

py::object transform_queryset_length(const Node& node) {
  return replacement(receiver_text(node.nodes(ast().args)[0]) + ".count()", node);
}

py::object transform_indirect_fk_lookup(const Node& node) {
  const Astroid& a = ast();
  Node related = node.expr();   // a.b
  Node owner = related.expr();  // a
  py::object attribute = a.Attribute(py::arg("attrname") = *related.attrname() + "_id",
                                     py::arg("lineno") = related.get(a.lineno),
                                     py::arg("col_offset") = related.get(a.col_offset),
                                     py::arg("parent") = node.parent().obj());
  attribute.attr("postinit")(py::arg("expr") = owner.obj());
  owner.obj().attr("parent") = attribute;
  return attribute;
}

py::object transform_queryset_exists_compare(const Node& node) {
  const Astroid& a = ast();
  Node queryset = node.child(a.left).func().expr();
  std::string text = receiver_text(queryset) + ".exists()";
  if (is_compare_not_exists(node.get(a.ops))) {
    Node parent = node.parent();
    if (parent.isa(a.UnaryOp)) {
      // `not qs.count() == 0` reads `qs.exists()`: the negation goes.
      parent.obj().attr("op") = py::str("");
    } else {
      text = "not " + text;
    }
  }
  return replacement(text, node);
}

namespace {

// `<operand or test>` of an UnaryOp or If replaced by `<queryset>.exists()`.
py::object replace_tested(const Node& node, const py::str& field, bool counted) {
  Node tested = node.child(field);
  Node queryset = counted ? tested.func().expr() : tested;
  py::setattr(node.obj(), field, exists_of(queryset, tested));
  return node.obj();
}

}  // namespace

py::object transform_queryset_exists_count_unaryop(const Node& node) { return replace_tested(node, ast().operand, true); }
py::object transform_queryset_exists_naked_unaryop(const Node& node) { return replace_tested(node, ast().operand, false); }
py::object transform_queryset_exists_count_if(const Node& node) { return replace_tested(node, ast().test, true); }
py::object transform_queryset_exists_naked_if(const Node& node) { return replace_tested(node, ast().test, false); }

namespace {

PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<std::vector<FixRow>> fix_storage;

}  // namespace

const std::vector<FixRow>& fix_rules() { return fix_storage.get_stored(); }

void bind_fixes(py::module_& m) {
  def_transform(m, "transform_queryset_length", &transform_queryset_length);
  def_transform(m, "transform_indirect_fk_lookup", &transform_indirect_fk_lookup);
  def_transform(m, "transform_queryset_exists_compare", &transform_queryset_exists_compare);
  def_transform(m, "transform_queryset_exists_count_unaryop", &transform_queryset_exists_count_unaryop);
  def_transform(m, "transform_queryset_exists_naked_unaryop", &transform_queryset_exists_naked_unaryop);
  def_transform(m, "transform_queryset_exists_count_if", &transform_queryset_exists_count_if);
  def_transform(m, "transform_queryset_exists_naked_if", &transform_queryset_exists_naked_if);

  fix_storage.call_once_and_store_result([&m] {
    const Astroid& a = ast();
    // Predicates on the operand or test of the visited node.
    auto on_child = [](py::str field, bool (*predicate)(const Node&)) {
      return py::cpp_function([field, predicate](py::object node) { return predicate(Node(node.attr(field))); });
    };
    return std::vector<FixRow>{
        {"C9000", a.Call, m.attr("transform_queryset_length"), m.attr("is_queryset_length")},
        {"C9001", a.Attribute, m.attr("transform_indirect_fk_lookup"), m.attr("is_indirect_fk_lookup")},
        {"C9002", a.Compare, m.attr("transform_queryset_exists_compare"), m.attr("is_inefficient_queryset_exists")},
        {"C9002", a.UnaryOp, m.attr("transform_queryset_exists_count_unaryop"), on_child(a.operand, &is_queryset_count)},
        {"C9002", a.If, m.attr("transform_queryset_exists_count_if"), on_child(a.test, &is_queryset_count)},
        {"C9003", a.UnaryOp, m.attr("transform_queryset_exists_naked_unaryop"), on_child(a.operand, &is_queryset_truth_test)},
        {"C9003", a.If, m.attr("transform_queryset_exists_naked_if"), on_child(a.test, &is_queryset_truth_test)},
    };
  });
  def_transformer_visitor(m, &fix_rules, IdOrder::sorted);
}

}  // namespace tessary::queryrules

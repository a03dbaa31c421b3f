#include "staticanalysis/checkers/queryrules/queryrules.hpp"

#include <set>


#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/pyclass.hpp"
#include "staticanalysis/helpers/values.hpp"

namespace tessary::queryrules {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.queryrules";

// The single (operator, value) pair of a comparison, or nothing.
std::optional<std::pair<std::string, py::object>> single_comparison(const py::handle& ops) {
  py::list pairs(py::reinterpret_borrow<py::object>(ops));
  if (pairs.size() != 1) return std::nullopt;
  py::object pair = pairs[0];
  std::string op = py::str(pair[py::int_(0)]);
  return std::make_pair(op, astroid_node_to_value(Node(pair[py::int_(1)])));
}

bool value_equals(const py::object& value, long expected) { return py_equal(value, py::int_(expected)); }

bool targets_other_column(const Node& owner, const std::string& field) {
  const Astroid& a = ast();
  py::object definitions;
  try {
    definitions = owner.get(intern("getattr"))(py::str(field));
  } catch (py::error_already_set&) {
    return false;
  }
  for (py::handle definition : definitions) {
    Node assign = Node::of(definition).parent();
    if (!assign.isa(a.Assign) || !assign.child(a.value).isa(a.Call)) continue;
    std::optional<Node> to_field = find_keyword(assign.child(a.value), "to_field");
    if (!to_field) return false;
    Node value = to_field->child(a.value);
    if (!value.isa(a.Const)) return true;
    py::object column = value.get(a.value);
    return !column.is_none() && !py_equal(column, py::str("pk")) && !py_equal(column, py::str("id"));
  }
  return false;
}

bool instance_of(const Node& value, bool (*predicate)(const Node&)) {
  if (!value.isa(ast().instance_class) || !value.truthy()) return false;
  return predicate(value.child(ast().proxied));
}

}  // namespace

bool is_queryset(const Node& node) { return tessary::is_queryset(safe_infer(node)); }

bool rows_used_elsewhere(const Node& queryset) {
  const Astroid& a = ast();
  // A name (`books`) or an attribute of one (`self.books`), used again
  // under the same spelling.
  bool attribute = queryset.isa(a.Attribute) && queryset.expr().isa(a.Name);
  if (!queryset.isa(a.Name) && !attribute) return false;
  std::string spelled = queryset.as_string();
  Node scope = queryset.scope();
  // A comprehension or lambda is part of the function that holds it.
  while (!scope.isa(a.FunctionDef) && !scope.isa(a.Module) && !scope.parent().is_none()) scope = scope.parent().scope();
  std::optional<std::string> last = attribute ? queryset.attrname() : queryset.name();
  for (const Node& use : scope.descendants(attribute ? a.Attribute : a.Name)) {
    if (use.is(queryset) || (attribute ? use.attrname() : use.name()) != last || use.as_string() != spelled) continue;
    // Any other use of the rows (iterating, indexing, passing the queryset
    // to a call or a template context, returning it, a second len() or
    // truth test) either reads the rows or keeps the queryset whose cache
    // the first evaluation fills. Only count() and exists() leave the rows
    // alone.
    Node parent = use.parent();
    if (parent.isa(a.Attribute)) {
      // count() and exists() leave the rows alone, and a method that makes
      // a new queryset (`qs = qs.exclude(...)`) neither reads them nor
      // shares their cache.
      static const std::set<std::string> kApart = {
          "count",  "exists",     "filter", "exclude",       "order_by", "select_related", "prefetch_related",
          "annotate", "alias",    "values", "values_list",   "distinct", "only",           "defer",
          "using",  "none",       "all",    "union",         "intersection", "difference", "reverse",
          "extra",  "select_for_update"};
      std::optional<std::string> attribute = parent.attrname();
      if (attribute && kApart.count(*attribute) && parent.parent().isa(a.Call)) continue;
    }
    if (queryrules::is_queryset(use)) return true;
  }
  return false;
}

bool is_queryset_truth_test(const Node& tested) {
  return queryrules::is_queryset(tested) && !rows_used_elsewhere(tested);
}

bool is_queryset_length(const Node& node) {
  const Astroid& a = ast();
  if (!node.isa(a.Call)) return false;
  Node func = node.func();
  if (!func.isa(a.Name) || func.name() != std::optional<std::string>("len")) return false;
  std::vector<Node> args = node.nodes(a.args);
  if (args.size() != 1) return false;
  // len() fills the result cache that a later use of the rows reads.
  return tessary::is_queryset(safe_infer(args[0])) && !rows_used_elsewhere(args[0]);
}

bool is_queryset_count(const Node& node) {
  const Astroid& a = ast();
  if (!node.isa(a.Call)) return false;
  if (get_function_name(node) != std::optional<std::string>("count")) return false;
  if (!node.nodes(a.args).empty()) return false;
  Node func = node.func();
  if (!func.isa(a.Attribute)) return false;
  return tessary::is_queryset(safe_infer(func.expr()));
}

bool is_compare_exists(const py::handle& ops) {
  auto comparison = single_comparison(ops);
  if (!comparison) return false;
  auto& [op, value] = *comparison;
  return (op == ">" && value_equals(value, 0)) || (op == ">=" && value_equals(value, 1));
}

bool is_compare_not_exists(const py::handle& ops) {
  auto comparison = single_comparison(ops);
  if (!comparison) return false;
  auto& [op, value] = *comparison;
  return (op == "==" && value_equals(value, 0)) || (op == "<" && value_equals(value, 1));
}

bool is_inefficient_queryset_exists(const Node& compare) {
  const Astroid& a = ast();
  if (!is_queryset_count(compare.child(a.left))) return false;
  py::object ops = compare.get(a.ops);
  return is_compare_exists(ops) || is_compare_not_exists(ops);
}

bool is_queryset_length_exists(const Node& compare) {
  const Astroid& a = ast();
  if (!is_queryset_length(compare.child(a.left))) return false;
  py::object ops = compare.get(a.ops);
  return is_compare_exists(ops) || is_compare_not_exists(ops);
}

bool is_indirect_fk_lookup(const Node& attribute) {
  std::optional<std::string> attr = attribute.attrname();
  if (!attr || (*attr != "pk" && *attr != "id")) return false;
  Node related = attribute.expr();
  if (!related.isa(ast().Attribute)) return false;
  // The owner first: inferring `owner.field` infers the owner anyway, and
  // most owners of a `.pk` chain are no model instance.
  Node owner = safe_infer(related.expr());
  if (!instance_of(owner, &is_model)) return false;
  if (!instance_of(safe_infer(related), &is_related_field)) return false;
  // A relation to another column than the primary key stores that column:
  // <field>_id is not the related object's pk there.
  return !targets_other_column(owner, *related.attrname());
}

namespace {

py::dict queryset_args(const Node& expression) {
  py::dict args;
  args["queryset"] = expression.as_string();
  return args;
}

void visit_call(py::object self, py::object node_obj) {
  Node node(node_obj);
  if (!is_queryset_length(node)) return;
  py::dict args;
  args["foo"] = "bar";
  report(self, "C9000", node, args);
}

void visit_attribute(py::object self, py::object node_obj) {
  Node node(node_obj);
  if (!is_indirect_fk_lookup(node)) return;
  Node owner = node.expr().expr();
  py::dict args;
  std::optional<std::string> name = owner.name();
  args["me"] = name ? *name : std::string("model");
  args["related_name"] = node.expr().get(ast().attrname);
  args["pk_attribute"] = node.get(ast().attrname);
  report(self, "C9001", node, args);
}

void visit_compare(py::object self, py::object node_obj) {
  const Astroid& a = ast();
  Node node(node_obj);
  if (is_inefficient_queryset_exists(node)) {
    report(self, "C9002", node.statement(), queryset_args(node.child(a.left).func().expr()));
  } else if (is_queryset_length_exists(node)) {
    report(self, "C9002", node.statement(), queryset_args(node.child(a.left).nodes(a.args)[0]));
  }
}

// `if <test>:` and `<op> <operand>` share one rule on their tested value.
void check_tested_value(const py::object& self, const Node& node, const Node& tested) {
  // Only a name, an attribute, a call or a subscript can be a queryset or
  // its count; a comparison, a boolean operation or a constant is neither,
  // and inferring them would cost as much as the rest of the check.
  const Astroid& a = ast();
  if (!tested.isa(a.Name) && !tested.isa(a.Attribute) && !tested.isa(a.Call) && !tested.isa(a.Subscript)) return;
  // A call is tested as a queryset only when it reads like one: a queryset
  // method, count(), or a name that says queryset. Inferring what any
  // function returns costs more than all the other checks together.
  if (tested.isa(a.Call)) {
    std::optional<std::string> callee = get_function_name(tested);
    if (!callee || (!is_queryset_method_name(*callee) && *callee != "count" &&
                    callee->find("queryset") == std::string::npos))
      return;
  }
  if (is_queryset_count(tested)) {
    report(self, "C9002", node, queryset_args(tested.func().expr()));
  } else if (is_queryset_truth_test(tested)) {
    report(self, "C9003", node, queryset_args(tested));
  }
}

void visit_if(py::object self, py::object node_obj) {
  Node node(node_obj);
  check_tested_value(self, node, node.child(ast().test));
}

void visit_unaryop(py::object self, py::object node_obj) {
  Node node(node_obj);
  check_tested_value(self, node, node.child(ast().operand));
}

}  // namespace

const py::object& checker_class() {
  return made_once([] {
    return make_checker_class(kModule, "queryrules", kRules, {},
                              {
                                  {"visit_call", &visit_call},
                                  {"visit_attribute", &visit_attribute},
                                  {"visit_compare", &visit_compare},
                                  {"visit_if", &visit_if},
                                  {"visit_unaryop", &visit_unaryop}
                              });
  });
}

void bind(py::module_& m) {
  bind_rules(m, kModule, kRules, checker_class());
  auto node_predicate = [&m](const char* name, bool (*predicate)(const Node&)) {
    m.def(name, [predicate](py::object node) { return predicate(Node(node)); }, py::arg("node"));
  };
  node_predicate("is_queryset", &is_queryset);
  node_predicate("rows_used_elsewhere", &rows_used_elsewhere);
  node_predicate("is_queryset_truth_test", &is_queryset_truth_test);
  node_predicate("is_queryset_length", &is_queryset_length);
  node_predicate("is_queryset_count", &is_queryset_count);
  node_predicate("is_inefficient_queryset_exists", &is_inefficient_queryset_exists);
  node_predicate("is_queryset_length_exists", &is_queryset_length_exists);
  node_predicate("is_indirect_fk_lookup", &is_indirect_fk_lookup);
  m.def("is_compare_exists", [](py::object ops) { return is_compare_exists(ops); }, py::arg("ops"));
  m.def("is_compare_not_exists", [](py::object ops) { return is_compare_not_exists(ops); }, py::arg("ops"));
}

}  // namespace tessary::queryrules

#include "staticanalysis/checkers/queryrules/queryrules.hpp"


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

bool instance_of(const Node& value, bool (*predicate)(const Node&)) {
  if (!value.isa(ast().instance_class) || !value.truthy()) return false;
  return predicate(value.child(ast().proxied));
}

}  // namespace

bool is_queryset(const Node& node) { return tessary::is_queryset(safe_infer(node)); }

bool is_queryset_length(const Node& node) {
  const Astroid& a = ast();
  if (!node.isa(a.Call)) return false;
  Node func = node.func();
  if (!func.isa(a.Name) || func.name() != std::optional<std::string>("len")) return false;
  std::vector<Node> args = node.nodes(a.args);
  if (args.size() != 1) return false;
  return tessary::is_queryset(safe_infer(args[0]));
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
  if (!instance_of(safe_infer(related), &is_related_field)) return false;
  if (!related.isa(ast().Attribute)) return false;
  return instance_of(safe_infer(related.expr()), &is_model);
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
  if (is_queryset_count(tested)) {
    report(self, "C9002", node, queryset_args(tested.func().expr()));
  } else if (queryrules::is_queryset(tested)) {
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
  node_predicate("is_queryset_length", &is_queryset_length);
  node_predicate("is_queryset_count", &is_queryset_count);
  node_predicate("is_inefficient_queryset_exists", &is_inefficient_queryset_exists);
  node_predicate("is_queryset_length_exists", &is_queryset_length_exists);
  node_predicate("is_indirect_fk_lookup", &is_indirect_fk_lookup);
  m.def("is_compare_exists", [](py::object ops) { return is_compare_exists(ops); }, py::arg("ops"));
  m.def("is_compare_not_exists", [](py::object ops) { return is_compare_not_exists(ops); }, py::arg("ops"));
}

}  // namespace tessary::queryrules

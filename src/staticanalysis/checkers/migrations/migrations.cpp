#include "staticanalysis/checkers/migrations/migrations.hpp"


#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/pyclass.hpp"

namespace tessary::migrations {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.migrations";

// A RunPython call spelled as an attribute, with fewer than two positional
// arguments; the migration test comes last, as it is the costly one.
bool looks_like_run_python(const Node& call) {
  const Astroid& a = ast();
  Node func = call.func();
  if (!func.isa(a.Attribute) || func.attrname() != std::optional<std::string>("RunPython")) return false;
  return call.nodes(a.args).size() < 2;
}

bool has_reverse_keyword(const Node& call) {
  for (const Node& keyword : call.nodes(ast().keywords)) {
    if (keyword.text(ast().arg) == std::optional<std::string>("reverse_code")) return true;
    // RunPython(**options): the reverse code may be among them.
    if (!keyword.text(ast().arg)) return true;
  }
  // RunPython(*make_steps(...)): so may the unpacked arguments.
  for (const Node& argument : call.nodes(ast().args))
    if (argument.isa(ast().Starred)) return true;
  return false;
}

}  // namespace

bool is_missing_reverse(const Node& call) {
  if (!looks_like_run_python(call) || has_reverse_keyword(call)) return false;
  return is_migration_file(call);
}

namespace {


bool in_migration(const py::object& self) { return self.attr("_tessary_in_migration").cast<bool>(); }

void visit_module(py::object self, py::object node) {
  self.attr("imported_model_names") = py::list();
  // Every node of a module answers the migration question alike.
  self.attr("_tessary_in_migration") = is_migration_file(Node(node));
}

void visit_importfrom(py::object self, py::object node_obj) {
  if (!in_migration(self)) return;
  const Astroid& a = ast();
  py::object module;
  try {
    module = node_obj.attr("do_import_module")();
  } catch (py::error_already_set& err) {
    if (err.matches(a.astroid.attr("AstroidImportError"))) return;
    throw;
  }
  py::list imported = self.attr("imported_model_names");
  for (const Node& cls : Node(module).descendants(a.ClassDef)) {
    if (is_model(cls)) imported.append(cls.obj());
  }
  // A model a models package re-exports from one of its modules
  // (`from shop.models import Order`, with Order in shop/models/orders.py).
  for (py::handle pair : node_obj.attr("names")) {
    py::object name = pair[py::int_(0)];
    if (name.cast<std::string>() == "*") continue;
    try {
      for (py::handle value : module.attr("igetattr")(name)) {
        Node cls = Node::of(value);
        if (cls.isa(a.ClassDef) && is_model(cls) && !imported.contains(value)) imported.append(value);
      }
    } catch (py::error_already_set& err) {
      if (!err.matches(a.inference_error) && !err.matches(a.astroid.attr("AttributeInferenceError"))) throw;
    }
  }
}

void visit_attribute(py::object self, py::object node_obj) {
  if (!in_migration(self)) return;
  Node node(node_obj);
  if (node.attrname() != std::optional<std::string>("objects")) return;
  py::list imported = self.attr("imported_model_names");
  if (imported.empty()) return;
  std::optional<Node> model = infer_first(node.expr());
  if (!model) return;
  for (py::handle cls : imported) {
    if (cls.is(model->handle())) {
      py::dict args;
      args["name"] = model->get(ast().name);
      report(self, "C8000", node, args);
      return;
    }
  }
}

void visit_call(py::object self, py::object node_obj) {
  if (!in_migration(self)) return;
  const Astroid& a = ast();
  Node node(node_obj);
  if (!looks_like_run_python(node) || has_reverse_keyword(node)) return;
  std::string forwards_name;
  std::vector<Node> args = node.nodes(a.args);
  if (!args.empty()) {
    forwards_name = args[0].as_string();
  } else {
    for (const Node& keyword : node.nodes(a.keywords)) {
      if (keyword.text(a.arg) == std::optional<std::string>("code")) {
        forwards_name = keyword.child(a.value).as_string();
      }
    }
  }
  py::dict report_args;
  report_args["forwards_name"] = forwards_name;
  report(self, "C8001", node, report_args);
}

}  // namespace

const py::object& checker_class() {
  return made_once([] {
    return make_checker_class(kModule, "migrations", kRules, {},
                              {
                                  {"visit_module", &visit_module},
                                  {"visit_importfrom", &visit_importfrom},
                                  {"visit_attribute", &visit_attribute},
                                  {"visit_call", &visit_call}
                              });
  });
}

void bind(py::module_& m) {
  bind_rules(m, kModule, kRules, checker_class());
  m.def("is_missing_reverse", [](py::object node) { return is_missing_reverse(Node(node)); }, py::arg("node"));
}

}  // namespace tessary::migrations

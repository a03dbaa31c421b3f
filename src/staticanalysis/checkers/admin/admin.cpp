#include "staticanalysis/checkers/admin/admin.hpp"
#include "staticanalysis/helpers/pathtext.hpp"


#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/pyclass.hpp"

namespace tessary::admin {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.admin";

void visit_module(py::object self, py::object node) { self.attr("module") = node; }

void leave_classdef(py::object self, py::object node_obj) {
  Node node(node_obj);
  if (!is_model_admin(node)) return;
  std::string module_name = path_bytes(self.attr("module").attr("name"));
  if (module_name.find(".admin") != std::string::npos) return;
  py::dict args;
  args["name"] = node.get(ast().name);
  report(self, "C5000", node, args);
}

}  // namespace

const py::object& checker_class() {
  return made_once([] {
    return make_checker_class(kModule, "admin", kRules, {},
                              {
                                  {"visit_module", &visit_module},
                                  {"leave_classdef", &leave_classdef}
                              });
  });
}

void bind(py::module_& m) {
  bind_rules(m, kModule, kRules, checker_class());
}

}  // namespace tessary::admin

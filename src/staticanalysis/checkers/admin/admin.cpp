#include "staticanalysis/checkers/admin/admin.hpp"
#include "staticanalysis/helpers/pathtext.hpp"


#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/project_index.hpp"
#include "staticanalysis/helpers/project_scope.hpp"
#include "staticanalysis/helpers/pyclass.hpp"

#include <filesystem>

namespace tessary::admin {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.admin";

void visit_module(py::object self, py::object node) { self.attr("module") = node; }

// Whether the class is an admin class of this project: one of its bases
// is Django's own admin class, or a project class that is one. A class
// that reaches ModelAdmin only through a library's base (a plugin base
// with a discovery module of its own) belongs to that library's scheme.
bool project_admin_class(const Node& cls, int depth = 0) {
  if (depth > 16) return false;
  for (py::handle base_expression : cls.get(intern("bases"))) {
    Node base = safe_infer(Node::of(base_expression));
    if (!base.present() || !base.isa(ast().ClassDef)) continue;
    std::string qname = py::str(base.get(ast().qname)());
    if (qname.rfind("django.contrib.admin.", 0) == 0) return true;
    if (!in_library_module(base) && is_model_admin(base) && project_admin_class(base, depth + 1)) return true;
  }
  return false;
}

void leave_classdef(py::object self, py::object node_obj) {
  Node node(node_obj);
  if (!is_model_admin(node)) return;
  std::string module_name = path_bytes(self.attr("module").attr("name"));
  if (module_name.find(".admin") != std::string::npos) return;
  if (!project_admin_class(node)) return;
  // A base the admin modules import to build on or register is shared
  // code, in its right place outside them.
  std::optional<std::string> name = node.name();
  std::filesystem::path root = index_root_of(node);
  if (name && !root.empty() && project_names_imported_by_admin(root).count(*name)) return;
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

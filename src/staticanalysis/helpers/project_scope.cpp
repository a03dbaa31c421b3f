#include "staticanalysis/helpers/project_scope.hpp"

namespace tessary {

namespace {

// The analysed project's root, with a trailing separator; empty when none.
std::string& current_root() {
  static std::string root;
  return root;
}

bool in_site_packages(const std::string& path) {
  return path.find("/site-packages/") != std::string::npos || path.find("/dist-packages/") != std::string::npos ||
         path.find("\\site-packages\\") != std::string::npos;
}

}  // namespace

AnalysedProject::AnalysedProject(const std::string& project_root) : previous_(current_root()) {
  std::string root = py::str(py::module_::import("os.path").attr("abspath")(project_root));
  if (!root.empty() && root.back() != '/') root += '/';
  current_root() = root;
}

AnalysedProject::~AnalysedProject() { current_root() = previous_; }

bool in_library_module(const Node& node) {
  const std::string& root = current_root();
  if (root.empty()) return false;
  static const py::str key = intern("_tessary_library_module");
  Node module = node.root();
  py::object known = py::getattr(module.obj(), key, py::none());
  if (!known.is_none()) return known.cast<bool>();
  py::object file = py::getattr(module.obj(), ast().file, py::none());
  bool library = false;
  if (!file.is_none() && py::isinstance<py::str>(file)) {
    std::string path = py::str(file);
    // A text built under a relative name is a project file.
    if (!path.empty() && path[0] == '/') library = path.rfind(root, 0) != 0 || in_site_packages(path.substr(root.size()));
  }
  py::setattr(module.obj(), key, py::bool_(library));
  return library;
}

}  // namespace tessary

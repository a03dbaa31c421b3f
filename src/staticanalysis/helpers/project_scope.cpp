#include "staticanalysis/helpers/project_scope.hpp"

#include <algorithm>

#include "staticanalysis/helpers/project_index.hpp"
#include "staticanalysis/helpers/pathtext.hpp"

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

// Allocations between collections of the youngest generation while a
// project is analysed (Python's default is 700), and collections of each
// generation between two of the next older one (Python's default is 10):
// almost everything that outlives a young collection is a tree or a fact
// kept to the end, and each collection of the older generations walked up
// to a million of them again, a tenth of a whole check.
constexpr int kYoungCollectionThreshold = 50000;
constexpr int kOlderCollectionThreshold = 1000;

AnalysedProject::AnalysedProject(const std::string& project_root) : previous_(current_root()) {
  py::module_ gc = py::module_::import("gc");
  previous_thresholds_ = gc.attr("get_threshold")();
  py::tuple thresholds = previous_thresholds_;
  // A threshold of 0 is a collector turned off: it stays so.
  if (thresholds[0].cast<long>() > 0) {
    gc.attr("set_threshold")(std::max(thresholds[0].cast<long>(), long{kYoungCollectionThreshold}),
                             std::max(thresholds[1].cast<long>(), long{kOlderCollectionThreshold}),
                             std::max(thresholds[2].cast<long>(), long{kOlderCollectionThreshold}));
  }
  std::string root = py::str(py::module_::import("os.path").attr("abspath")(project_root));
  if (!root.empty() && root.back() != '/') root += '/';
  current_root() = root;
  // The project's files may have changed since the last analysis.
  forget_project_index();
}

AnalysedProject::~AnalysedProject() {
  current_root() = previous_;
  try {
    py::module_::import("gc").attr("set_threshold")(*previous_thresholds_);
  } catch (py::error_already_set&) {
    // The thresholds are a tuning, never a reason to fail a finished run.
  }
}

std::string analysed_project_root() { return current_root(); }

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
    std::string path = path_bytes(file);
    // A text built under a relative name is a project file.
    if (!path.empty() && path[0] == '/') library = path.rfind(root, 0) != 0 || in_site_packages(path.substr(root.size()));
  }
  py::setattr(module.obj(), key, py::bool_(library));
  return library;
}

}  // namespace tessary

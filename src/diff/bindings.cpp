// The project-level fixer behind transform_files and `tessary fix`.
#include <pybind11/stl/filesystem.h>

#include "staticanalysis/transformer/fixer.hpp"

namespace py = pybind11;

PYBIND11_MODULE(diff, m) {
  m.doc() = "The project-level fixer: fixed texts of a project's files, with minimal edits.";
  py::module_::import("tessary.staticanalysis.transformer");
  m.def(
      "get_diff_plaintext",
      [](const std::filesystem::path& project_root, py::object whitelist, const std::string& settings_modpath,
         py::dict code_style) {
        py::dict result = tessary::transformer::fix_project(project_root, whitelist, settings_modpath, code_style);
        return result["files"];
      },
      py::arg("project_root"), py::arg("whitelist"), py::arg("settings_modpath"), py::arg("code_style"));
}

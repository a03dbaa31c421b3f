#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include "meta/meta.hpp"

namespace py = pybind11;
using namespace tessary::meta;

PYBIND11_MODULE(meta, m) {
  m.doc() = "Facts about the analysed project, read statically from its files.";
  m.attr("ManageFileMissingError") = manage_file_missing_error();
  m.def("get_toml_config", &get_toml_config, py::arg("project_root"));
  m.def("get_front_end_config", &get_front_end_config, py::arg("project_root"));
  m.def("get_settings_files", &get_settings_files, py::arg("project_root"));
  m.def("get_settings_modpath", &get_settings_modpath, py::arg("project_root"));
  m.def(
      "get_root_urlconf",
      [](const std::vector<std::string>& settings_files, py::object project_root) {
        fs::path root = project_root.is_none() ? fs::current_path() : project_root.cast<fs::path>();
        return get_root_urlconf(settings_files, root);
      },
      py::arg("settings_files"), py::arg("project_root") = py::none());
  m.def("get_static_url_setting", &get_static_url_setting, py::arg("project_root"));
  m.def("get_code_style", &get_code_style, py::arg("project_root"));
  m.def("get_manage_file", &get_manage_file, py::arg("project_root"));
}

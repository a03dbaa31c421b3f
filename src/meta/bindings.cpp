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
  m.def(
      "find_python_environment",
      [](const fs::path& project_root, std::optional<fs::path> python) {
        py::object sys = py::module_::import("sys");
        PythonEnvironment env = find_python_environment(project_root, python, sys.attr("prefix").cast<fs::path>());
        std::vector<fs::path> searched = env.paths;
        // Django is looked for where astroid will look: the environment
        // first, then tessary's own search path.
        for (py::handle entry : sys.attr("path")) {
          std::string text = py::str(entry);
          if (!text.empty()) searched.emplace_back(text);
        }
        std::vector<fs::path> own(searched.begin() + static_cast<long>(env.paths.size()), searched.end());
        std::optional<std::string> django = installed_version(env.paths, "django");
        bool django_is_own = false;
        if (!django) {
          django = installed_version(own, "django");
          django_is_own = django.has_value();
        }
        py::dict out;
        out["prefix"] = env.prefix.empty() ? py::object(py::none()) : py::object(py::str(env.prefix.string()));
        out["source"] = env.source;
        py::list paths;
        for (const fs::path& path : env.paths) paths.append(py::str(path.string()));
        out["paths"] = paths;
        out["django"] = django ? py::object(py::str(*django)) : py::object(py::none());
        out["django_from_own"] = django_is_own;
        return out;
      },
      py::arg("project_root"), py::arg("python") = py::none(),
      "The Python environment a project is analysed against: {prefix, source, paths, django, django_from_own}.");
  m.def("installed_version", &installed_version, py::arg("paths"), py::arg("distribution"));
  m.def("get_manage_file", &get_manage_file, py::arg("project_root"));
}

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include "meta/cache.hpp"
#include "meta/meta.hpp"
#include "meta/project.hpp"
#include "staticanalysis/helpers/paths.hpp"

namespace py = pybind11;
using namespace tessary::meta;

PYBIND11_MODULE(meta, m) {
  m.doc() = "Facts about the analysed project, read statically from its files.";
  m.attr("ManageFileMissingError") = manage_file_missing_error();
  m.def("use_config_file", &use_config_file, py::arg("path"),
        "Read the configuration from this file from now on, whatever the project (None: the project's own "
        "pyproject.toml).");
  m.def("config_file", &config_file, py::arg("project_root"));
  m.def("get_toml_config", &get_toml_config, py::arg("project_root"));
  m.def("get_front_end_config", &get_front_end_config, py::arg("project_root"));
  m.def("get_settings_files", &get_settings_files, py::arg("project_root"));
  m.def("find_settings_modules", &find_settings_modules, py::arg("project_root"),
        "[(module path, how it was found)] of the project's settings modules.");
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
  m.def("app_label", &app_label, py::arg("project_root"), py::arg("app_folder"),
        "The label Django knows the app in this folder by, read from its apps.py.");
  m.def(
      "skipped_folder", [](const fs::path& folder) { return tessary::skipped_folder(folder); }, py::arg("folder"),
      "Whether every command of tessary passes over this folder (hidden, dependency, byte-code or virtual "
      "environment folders).");
  m.def(
      "find_python_environment",
      [](const fs::path& project_root, std::optional<fs::path> python) {
        py::object sys = py::module_::import("sys");
        PythonEnvironment env = find_python_environment(project_root, python, sys.attr("prefix").cast<fs::path>());
        // Django must be where the project runs: in the environment chosen
        // for it, or, when none was, in tessary's own.
        std::vector<fs::path> searched = env.paths;
        if (env.prefix.empty()) {
          for (py::handle entry : sys.attr("path")) {
            std::string text = py::str(entry);
            if (!text.empty()) searched.emplace_back(text);
          }
        }
        std::optional<std::string> django = installed_version(searched, "django");
        py::dict out;
        out["prefix"] = env.prefix.empty() ? py::object(py::none()) : py::object(py::str(env.prefix.string()));
        out["source"] = env.source;
        py::list paths;
        for (const fs::path& path : env.paths) paths.append(py::str(path.string()));
        out["paths"] = paths;
        out["django"] = django ? py::object(py::str(*django)) : py::object(py::none());
        return out;
      },
      py::arg("project_root"), py::arg("python") = py::none(),
      "The Python environment a project is analysed against: {prefix, source, paths, django}.");
  m.def("installed_version", &installed_version, py::arg("paths"), py::arg("distribution"));
  m.def("get_manage_file", &get_manage_file, py::arg("project_root"));
  m.def("unquote_git_path", &unquote_git_path, py::arg("text"));
  bind_project(m);
  bind_cache(m);
}

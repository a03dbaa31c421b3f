// Facts about the analysed project, read statically from its files:
// our own configuration, settings modules, root URL configuration, static
// URL, code style and management script. Nothing of the project runs.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessary::meta {

namespace py = pybind11;
namespace fs = std::filesystem;

const py::object& manage_file_missing_error();

// The file the configuration is read from: the one use_config_file named,
// else the project root's pyproject.toml.
fs::path config_file(const fs::path& project_root);
// Read the configuration from `path` from now on, whatever the project
// (the command line's --config); nullopt goes back to the project's own.
void use_config_file(const std::optional<fs::path>& path);
// The [tool.tessary] table of pyproject.toml, keys as the linter's option
// names ("max-model-fields"); the command line's own keys are left out.
py::dict get_toml_config(const fs::path& project_root);
// The command line's own keys of [tool.tessary] ("select", "ignore",
// "exclude", "per-file-ignores", ...).
py::dict get_front_end_config(const fs::path& project_root);
// Import paths of the project's settings modules.
// The settings modules and how each was found ("named by manage.py", ...):
// the module manage.py, a wsgi.py or asgi.py, or the pytest configuration
// names in DJANGO_SETTINGS_MODULE, else the modules or packages named
// settings that assign two of INSTALLED_APPS, DATABASES, ROOT_URLCONF and
// MIDDLEWARE.
std::vector<std::pair<std::string, std::string>> find_settings_modules(const fs::path& project_root);
std::vector<std::string> get_settings_files(const fs::path& project_root);
// The first of them, or the empty text.
std::string get_settings_modpath(const fs::path& project_root);
// The ROOT_URLCONF literal of the first settings module that sets one.
std::string get_root_urlconf(const std::vector<std::string>& settings_files, const fs::path& project_root);
// The STATIC_URL literal of the project's settings, or nullopt.
std::optional<std::string> get_static_url_setting(const fs::path& project_root);
// The static prefix the template checks judge by: the STATIC_URL
// literal, else "/static/" (the prefix a project's settings give it by
// convention). Their fix takes the literal alone: without it, what the
// static tag writes is unknown.
std::string static_url_of(const fs::path& project_root);
// The last folder name of each literal in the settings' TEMPLATES "DIRS"
// lists ("pages" for BASE_DIR / "frontend" / "pages").
std::vector<std::string> template_folder_names(const fs::path& project_root);
// Whether a project-relative .html path is one Django's template loaders
// find: below a templates folder (an app's) or a folder the settings name
// in DIRS, and not below a static or jinja2 folder.
bool is_template_path(const std::string& relative, const std::vector<std::string>& folder_names);
// Formatter mode for the project: {"line_length": N}.
py::dict get_code_style(const fs::path& project_root);
// The project's manage.py; raises ManageFileMissingError without one.
fs::path get_manage_file(const fs::path& project_root);
// The label Django knows the app in `app_folder` by (what makemigrations
// and the migrations' dependencies name it): the `label` of the app
// configuration its apps.py gives, else the last part of that
// configuration's `name`, else the folder's name. apps.py is parsed,
// never run.
std::string app_label(const fs::path& project_root, const fs::path& app_folder);

}  // namespace tessary::meta

namespace tessary::meta {

// The Python environment a project is analysed against: where astroid
// looks for the project's third-party packages. Found from the folder
// layout and pyvenv.cfg only; nothing of the environment runs.
struct PythonEnvironment {
  fs::path prefix;                 // empty: tessary's own environment
  std::string source;              // how it was chosen ("--python", "$VIRTUAL_ENV", ...)
  std::vector<fs::path> paths;     // its site-packages and the folders its .pth files name
};

// The first of: `explicit_python` (a virtual environment folder or its
// interpreter), [tool.tessary] python, $VIRTUAL_ENV, a folder at the
// project root holding pyvenv.cfg, $CONDA_PREFIX; else tessary's own
// (empty prefix and paths). An environment named explicitly that has no
// site-packages is a value error.
PythonEnvironment find_python_environment(const fs::path& project_root,
                                          const std::optional<fs::path>& explicit_python,
                                          const fs::path& own_prefix);
// The site-packages folders of an environment and the folders its .pth
// files name (lines that run code are skipped).
std::vector<fs::path> environment_paths(const fs::path& prefix);
// The version of a distribution installed in one of `paths` (first found),
// read from its .dist-info / .egg-info folder name or, for a bare package
// folder, from nothing: "unknown".
std::optional<std::string> installed_version(const std::vector<fs::path>& paths, const std::string& distribution);

}  // namespace tessary::meta

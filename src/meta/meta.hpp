// Facts about the analysed project, read statically from its files:
// our own configuration, settings modules, root URL configuration, static
// URL, code style and management script. Nothing of the project runs.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessary::meta {

namespace py = pybind11;
namespace fs = std::filesystem;

const py::object& manage_file_missing_error();

// The [tool.tessary] table of pyproject.toml, keys as the linter's option
// names ("max-model-fields"); the command line's own keys are left out.
py::dict get_toml_config(const fs::path& project_root);
// The command line's own keys of [tool.tessary] ("select", "ignore").
py::dict get_front_end_config(const fs::path& project_root);
// Import paths of the project's settings modules.
std::vector<std::string> get_settings_files(const fs::path& project_root);
// The first of them, or the empty text.
std::string get_settings_modpath(const fs::path& project_root);
// The ROOT_URLCONF literal of the first settings module that sets one.
std::string get_root_urlconf(const std::vector<std::string>& settings_files, const fs::path& project_root);
// The STATIC_URL literal of the project's settings, or nullopt.
std::optional<std::string> get_static_url_setting(const fs::path& project_root);
// Formatter mode for the project: {"line_length": N}.
py::dict get_code_style(const fs::path& project_root);
// The project's manage.py; raises ManageFileMissingError without one.
fs::path get_manage_file(const fs::path& project_root);

}  // namespace tessary::meta

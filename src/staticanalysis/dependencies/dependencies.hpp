// Which Django version a project is written for, read from its dependency
// files or setup.py, and whether a directory is a Django project at all.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace tessary::dependencies {

namespace py = pybind11;
namespace fs = std::filesystem;

// The known feature releases, oldest first. A new one needs its defaults in
// tessary/library_default_settings (tools/default_settings.py writes them).
inline constexpr std::string_view kVersions[] = {"1.11", "2.0", "2.1", "2.2", "3.0", "3.1", "3.2", "4.0",
                                                 "4.1",  "4.2", "5.0", "5.1", "5.2", "6.0", "6.1"};

// Version details {"path", "version", "specs"}, or None: the first Django
// requirement of requirements.txt, conda.yml, setup.cfg, Pipfile.lock,
// Pipfile, setup.py, pyproject.toml's [project] tables, requirements*.in,
// requirements/*.txt and requirements/*.in that admits a known release;
// "path" is the file's project-relative path.
py::object resolve_django_version(const fs::path& project_root);
// Python's TOML reader (tomli before 3.11).
py::object toml_reader();
py::object resolve_django_version_via_dparse(const fs::path& project_root);
py::object resolve_django_version_via_setup_py(const fs::path& project_root);
// [project] dependencies, then each list of [project.optional-dependencies].
py::object resolve_django_version_via_pyproject(const fs::path& project_root);
// requirements*.in at the root, then requirements/*.txt and requirements/*.in.
py::object resolve_django_version_via_requirement_folders(const fs::path& project_root);
py::object get_django_version_from_dependency(const py::object& dependency, const py::object& file_type);

// The default-settings module of a version (3.2's for unknown versions).
py::object get_default_django_settings(const std::string& version);
// Settings-style names of a module and their values.
py::dict module_to_dict(const py::object& module, const py::object& omittable);

bool is_django_repository(const fs::path& project_root);
// Does a standard-library `ast` module import Django at its top level?
bool is_django_node(const py::object& node);

void bind(py::module_& m);

}  // namespace tessary::dependencies

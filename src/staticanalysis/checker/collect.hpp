// Project-wide linting: the Python findings, the template findings and the
// framework-version advice of a project, filtered to the wanted lines.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <string>

namespace tessary::checker {

namespace py = pybind11;

// `search_paths`: the analysed environment's folders (see SearchPathScope);
// `progress`: called with no argument after each file is linted;
// `claim`: when given, called with each module's pylint FileItem, in the
// order of `files`, just before its tree would be built: the module is
// linted here only if it answers true (workers that share one list of
// modules take each module once).
py::list get_messages(const py::object& project_root, const py::dict& files,
                      const std::string& default_django_version = "3.2", const py::object& search_paths = py::none(),
                      const py::object& progress = py::none(), const py::object& claim = py::none());
py::list get_python_messages(const py::object& project_root, const py::dict& files,
                             const std::string& django_version, const py::dict& config,
                             const py::object& search_paths = py::none(), const py::object& progress = py::none(),
                             const py::object& claim = py::none());
py::list get_html_messages(const py::object& project_root, const py::dict& files);
py::list get_meta_messages(const py::object& project_root);
// Empty astroid's caches keyed by syntax-tree nodes (lookups, inference
// tips, inference contexts), which would keep every tree of the project
// ever linted alive in a long-lived process; the built modules stay.
void forget_inference_caches();
// Before worker processes are forked from this one, what each would do
// first: read the project's configuration, dependency and settings files
// (warning of any passed over), and build the trees of Django's model
// layer (models, managers, querysets, fields, and the modules their
// classes lead to) in the analysed environment, as a lint of the project
// would. The workers share all of it. No Django there: nothing is built.
void prepare_workers(const py::object& project_root, const std::string& default_django_version = "3.2",
                     const py::object& search_paths = py::none());
// The dotted name the linter gives a project file: its packages, from the
// highest folder with an __init__.py down.
std::string linted_module_name(const std::filesystem::path& root, const std::string& relative_path);
// The findings of `text`, an unsaved text of the project file
// `relative_path` (a module or a template), linted as `check` lints the
// file, with nothing written. Other modules are read from disk.
py::list lint_source(const py::object& project_root, const std::string& relative_path, const std::string& text,
                     const std::string& default_django_version = "3.2", const py::object& search_paths = py::none());
py::list get_all_message_codes();
// Drop astroid's cached modules that bear the dotted name of a package of
// the project but are not its files.
void forget_other_modules_named_like(const py::object& project_root);
// Drop astroid's cached module trees of the files below `project_root`.
void forget_modules_under(const py::object& project_root);

void bind_collect(py::module_& m);

}  // namespace tessary::checker

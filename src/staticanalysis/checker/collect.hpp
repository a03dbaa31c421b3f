// Project-wide linting: the Python findings, the template findings and the
// framework-version advice of a project, filtered to the wanted lines.
#pragma once

#include <pybind11/pybind11.h>

namespace tessary::checker {

namespace py = pybind11;

// `search_paths`: the analysed environment's folders (see SearchPathScope);
// `progress`: called with no argument after each file is linted.
py::list get_messages(const py::object& project_root, const py::dict& files,
                      const std::string& default_django_version = "3.2", const py::object& search_paths = py::none(),
                      const py::object& progress = py::none());
py::list get_python_messages(const py::object& project_root, const py::dict& files,
                             const std::string& django_version, const py::dict& config,
                             const py::object& search_paths = py::none(), const py::object& progress = py::none());
py::list get_html_messages(const py::object& project_root, const py::dict& files);
py::list get_meta_messages(const py::object& project_root);
py::list get_all_message_codes();
// Drop astroid's cached modules that bear the dotted name of a package of
// the project but are not its files.
void forget_other_modules_named_like(const py::object& project_root);
// Drop astroid's cached module trees of the files below `project_root`.
void forget_modules_under(const py::object& project_root);

void bind_collect(py::module_& m);

}  // namespace tessary::checker

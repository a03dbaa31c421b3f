// Whole projects: the fixed texts of their files, and writing them back.
#pragma once

#include <pybind11/pybind11.h>

namespace tessary::transformer {

namespace py = pybind11;

// (new text, relative path) for every file of the project that the fixes
// change, for the files and ids of `whitelist`.
py::list transform_files(const py::object& project_root, const py::object& whitelist);
// Write (new text, relative path) pairs over the project's files: each
// through a temporary file in the same folder, atomically replaced, with
// the original's permissions and owner; a symlink's target is written.
// Every path is checked before anything is written.
py::list write_files(const py::object& project_root, const py::iterable& pairs,
                     const py::object& expected = py::none());
py::list trasform_files_in_place(const py::object& project_root, const py::object& whitelist);

void bind_files(py::module_& m);

}  // namespace tessary::transformer

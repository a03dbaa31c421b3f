// pylint's walk of a module's tree for the checkers, in C++.
#pragma once

#include <pybind11/pybind11.h>

namespace tessary::checker {

namespace py = pybind11;

// Give pylint's ASTWalker the walk below (once per process); pylint's own,
// or None when this pylint is not the one it was made for.
py::object install_tree_walk();

}  // namespace tessary::checker

// Framework version detection from a project's dependency files.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(dependencies, m) { m.doc() = "Framework version detection from a project's dependency files."; }

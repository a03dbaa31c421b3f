// Checks on model field declarations.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(fieldrules, m) { m.doc() = "Checks on model field declarations."; }

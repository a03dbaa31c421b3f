// Checks on model structure: module size, name prefixes, member order.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(methodrules, m) { m.doc() = "Checks on model structure: module size, name prefixes, member order."; }

// Checks on HTML templates.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(templates, m) { m.doc() = "Checks on HTML templates."; }

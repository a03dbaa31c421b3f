// Checks on queryset usage.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(queryrules, m) { m.doc() = "Checks on queryset usage."; }

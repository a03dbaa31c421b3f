// Review suggestions and node rendering.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(suggest, m) { m.doc() = "Review suggestions and node rendering."; }

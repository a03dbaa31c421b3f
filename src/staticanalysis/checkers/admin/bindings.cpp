// Check that admin classes live in admin modules.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(admin, m) { m.doc() = "Check that admin classes live in admin modules."; }

// Checks on migration modules.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(migrations, m) { m.doc() = "Checks on migration modules."; }

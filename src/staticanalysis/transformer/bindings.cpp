// The fix engine: apply registered fixes to a module.
#include <pybind11/pybind11.h>

PYBIND11_MODULE(transformer, m) { m.doc() = "The fix engine: apply registered fixes to a module."; }

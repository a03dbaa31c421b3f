// Checks on model field declarations.
#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"

PYBIND11_MODULE(fieldrules, m) {
  m.doc() = "Checks on model field declarations.";
  tessary::fieldrules::bind(m);
  tessary::fieldrules::bind_fixes(m);
}

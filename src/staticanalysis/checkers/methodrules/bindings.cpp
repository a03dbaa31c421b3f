// Checks on model structure.
#include "staticanalysis/checkers/methodrules/methodrules.hpp"

PYBIND11_MODULE(methodrules, m) {
  m.doc() = "Checks on model structure: module size, name prefixes, member order.";
  tessary::methodrules::bind(m);
}

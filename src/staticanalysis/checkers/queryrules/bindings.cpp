// Checks on queryset usage.
#include "staticanalysis/checkers/queryrules/queryrules.hpp"

PYBIND11_MODULE(queryrules, m) {
  m.doc() = "Checks on queryset usage.";
  tessary::queryrules::bind(m);
  tessary::queryrules::bind_fixes(m);
}

// Checks on HTML templates.
#include "staticanalysis/checkers/templates/templates.hpp"

PYBIND11_MODULE(templates, m) {
  m.doc() = "Checks on HTML templates.";
  tessary::templates::bind(m);
}

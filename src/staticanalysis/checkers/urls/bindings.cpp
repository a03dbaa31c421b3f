// URL reversal at the wrong time.
#include "staticanalysis/checkers/urls/urls.hpp"

PYBIND11_MODULE(urls, m) {
  m.doc() = "Checks on URL reversal: reverse() while modules load, reverse_lazy() at run time.";
  tessary::urls::bind(m);
}

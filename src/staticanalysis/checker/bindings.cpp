// The linter driver's Python face.
#include "staticanalysis/checker/collect.hpp"
#include "staticanalysis/checker/linters.hpp"

PYBIND11_MODULE(checker, m) {
  m.doc() = "Linter driver: linters, options, the inline pragma, and linting of one source text.";
  tessary::checker::bind(m);
  tessary::checker::bind_collect(m);
}

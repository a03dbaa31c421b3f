// The linter driver's Python face.
#include "staticanalysis/checker/collect.hpp"
#include "staticanalysis/checker/linters.hpp"
#include "staticanalysis/checker/tree_walk.hpp"

PYBIND11_MODULE(checker, m) {
  m.doc() = "Linter driver: linters, options, the inline pragma, and linting of one source text.";
  tessary::checker::bind(m);
  tessary::checker::bind_collect(m);
  m.attr("pylints_own_walk") = tessary::checker::install_tree_walk();
}

// The linter driver's Python face.
#include "staticanalysis/checker/collect.hpp"
#include "staticanalysis/checker/comment_tokens.hpp"
#include "staticanalysis/checker/linters.hpp"
#include "staticanalysis/checker/tree_walk.hpp"

PYBIND11_MODULE(checker, m) {
  m.doc() = "Linter driver: linters, options, the inline pragma, and linting of one source text.";
  tessary::checker::bind(m);
  tessary::checker::bind_collect(m);
  m.attr("pylints_own_walk") = tessary::checker::install_tree_walk();
  m.def(
      "comment_tokens",
      [](pybind11::bytes text) -> pybind11::object {
        auto found = tessary::checker::comment_tokens(std::string_view(text));
        return found ? pybind11::object(*found) : pybind11::none();
      },
      pybind11::arg("text"), "The tokens a module's pragma and noqa comments are read from; None when left to the tokenizer.");
}

// The fix engine: apply registered fixes to a module.
#include "staticanalysis/transformer/files.hpp"
#include "staticanalysis/transformer/fixer.hpp"
#include "staticanalysis/transformer/text.hpp"
#include "staticanalysis/transformer/transform.hpp"

PYBIND11_MODULE(transformer, m) {
  m.doc() = "The fix engine: apply registered fixes to a module.";
  // The check modules' Python functions back the fix rows.
  pybind11::module_::import("tessary.staticanalysis.checkers.fieldrules");
  pybind11::module_::import("tessary.staticanalysis.checkers.queryrules");
  pybind11::module_::import("tessary.staticanalysis.checkers.migrations");
  pybind11::module_::import("tessary.staticanalysis.checkers.settings");
  pybind11::module_::import("tessary.staticanalysis.checkers.urls");
  tessary::transformer::bind(m);
  tessary::transformer::bind_fixer(m);
  tessary::transformer::bind_text(m);
  tessary::transformer::bind_files(m);
}

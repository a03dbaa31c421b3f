// Review suggestions and node rendering.
#include "staticanalysis/helpers/formatting.hpp"
#include "staticanalysis/suggest/review.hpp"
#include "staticanalysis/suggest/suggest.hpp"

PYBIND11_MODULE(suggest, m) {
  m.doc() = "Review suggestions and node rendering.";
  // The fix tables of the check modules and the driver's symbol store are
  // filled when their modules load.
  pybind11::module_::import("tessary.staticanalysis.constants");
  pybind11::module_::import("tessary.staticanalysis.checker");
  // The review runs the project fixer, whose fix tables its module fills.
  pybind11::module_::import("tessary.staticanalysis.transformer");
  tessary::formatting::bind_render(m);
  tessary::suggest::bind_suggestions(m);
  tessary::suggest::bind_review(m);
}

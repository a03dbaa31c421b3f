// Review suggestions and node rendering.
#include "staticanalysis/suggest/render.hpp"
#include "staticanalysis/suggest/suggest.hpp"

PYBIND11_MODULE(suggest, m) {
  m.doc() = "Review suggestions and node rendering.";
  // The fix tables of the check modules and the driver's symbol store are
  // filled when their modules load.
  pybind11::module_::import("tessary.staticanalysis.constants");
  pybind11::module_::import("tessary.staticanalysis.checker");
  tessary::suggest::bind_render(m);
  tessary::suggest::bind_suggestions(m);
}

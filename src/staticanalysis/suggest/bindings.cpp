// Review suggestions and node rendering.
#include "staticanalysis/suggest/render.hpp"

PYBIND11_MODULE(suggest, m) {
  m.doc() = "Review suggestions and node rendering.";
  tessary::suggest::bind_render(m);
}

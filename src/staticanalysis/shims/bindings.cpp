// Importing this module teaches astroid the framework's managers, queryset
// methods and model `get` for the rest of the process.
#include "staticanalysis/shims/class_assigns.hpp"
#include "staticanalysis/shims/framework.hpp"
#include "staticanalysis/shims/rebuild_dispatch.hpp"
#include "staticanalysis/shims/settings_builder.hpp"
#include "staticanalysis/shims/transform_walk.hpp"

PYBIND11_MODULE(shims, m) {
  m.doc() = "Inference shims for Django's run-time constructs, and the settings-aware builder.";
  tessary::shims::bind_settings_builder(m);
  tessary::shims::install(m);
  tessary::shims::install_transform_walk();
  tessary::shims::install_class_assigns();
  pybind11::dict replaced = tessary::shims::install_rebuild_dispatch();
  m.attr("astroids_own_visit") = replaced.attr("get")("visit");
  m.attr("astroids_own_position_info") = replaced.attr("get")("_get_position_info");
}

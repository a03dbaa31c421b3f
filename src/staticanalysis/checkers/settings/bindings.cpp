// Checks on the project's settings modules.
#include "staticanalysis/checkers/settings/settings.hpp"

PYBIND11_MODULE(settings, m) {
  m.doc() = "Checks on the project's settings modules, after Django's deployment checklist.";
  tessary::settings::bind(m);
}

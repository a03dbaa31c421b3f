// Check that admin classes live in admin modules.
#include "staticanalysis/checkers/admin/admin.hpp"

PYBIND11_MODULE(admin, m) {
  m.doc() = "Check that admin classes live in admin modules.";
  tessary::admin::bind(m);
}

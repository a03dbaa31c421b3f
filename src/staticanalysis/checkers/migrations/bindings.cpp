// Checks on migration modules.
#include "staticanalysis/checkers/migrations/migrations.hpp"

PYBIND11_MODULE(migrations, m) {
  m.doc() = "Checks on migration modules.";
  tessary::migrations::bind(m);
  tessary::migrations::bind_fixes(m);
}

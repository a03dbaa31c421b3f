// Framework version detection from a project's dependency files.
#include "staticanalysis/dependencies/dependencies.hpp"

PYBIND11_MODULE(dependencies, m) {
  m.doc() = "Framework version detection from a project's dependency files.";
  tessary::dependencies::bind(m);
}

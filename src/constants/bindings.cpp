// Which findings review suggestions can fix.
#include "constants/constants.hpp"

PYBIND11_MODULE(constants, m) {
  m.doc() = "Which findings review suggestions can fix, per check module.";
  tessary::constants::bind(m);
}

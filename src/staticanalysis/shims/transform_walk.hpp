// astroid's walk of a built tree for its registered transforms, done in
// C++: the same nodes in the same order with the same outcome.
#pragma once

#include "staticanalysis/helpers/facade.hpp"

namespace tessary::shims {

// Make astroid's manager walk trees with it (once per process).
void install_transform_walk();

}  // namespace tessary::shims

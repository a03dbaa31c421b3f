// The assignments of a class body, gathered for astroid without leaving a
// cache on every statement they pass through.
#pragma once

#include "staticanalysis/helpers/facade.hpp"

namespace tessary::shims {

// Give astroid's ClassDef the gathering below (once per process).
void install_class_assigns();

}  // namespace tessary::shims

// astroid's rebuilder, dispatching each parsed node to its visit in C++,
// with the commonest nodes built here directly.
#pragma once

#include "staticanalysis/helpers/facade.hpp"

namespace tessary::shims {

// Give astroid's TreeRebuilder the dispatch below (once per process);
// astroid's own, or None when this astroid is not the one it was made for.
py::object install_rebuild_dispatch();

}  // namespace tessary::shims

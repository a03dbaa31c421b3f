// astroid's rebuilder, dispatching each parsed node to its visit in C++,
// with the commonest nodes built here directly, and where a class or
// function header names it read without tokenizing.
#pragma once

#include "staticanalysis/helpers/facade.hpp"

namespace tessary::shims {

// Give astroid's TreeRebuilder the dispatch below and the reading of a
// header's position (once per process); astroid's own methods replaced, by
// name: none when this astroid is not the one they were made for.
py::dict install_rebuild_dispatch();

}  // namespace tessary::shims

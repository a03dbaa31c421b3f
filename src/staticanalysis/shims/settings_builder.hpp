// A scoped builder that turns settings-module path manipulations and
// environment reads into constants while it is entered.
#pragma once

#include "staticanalysis/helpers/facade.hpp"

namespace tessary::shims {

bool looks_like_path_manipulation(const Node& node);
py::object transform_path_manipulation(const Node& node);
bool looks_like_environment_variable_lookup(const Node& node);
py::object transform_environment_variable_lookup(const Node& node);

class BuilderWithSettingsTransforms {
 public:
  BuilderWithSettingsTransforms();
  py::object enter();
  void exit();
  const py::list& transforms() const { return transforms_; }

 private:
  py::list transforms_;  // rows of (node class, transform, predicate)
};

void bind_settings_builder(py::module_& m);

}  // namespace tessary::shims

// Which modules are the analysed project's own. The framework shims answer
// for every node astroid builds, Django's own modules included; while a
// project is analysed they look only at the project's modules, whose
// queries and models are what the checks judge.
#pragma once

#include <string>

#include "staticanalysis/helpers/facade.hpp"

namespace tessary {

// For as long as it lives, the modules below `project_root` (outside any
// site-packages folder) are the project's; other modules are libraries.
// With no scope alive every module counts as the project's.
//
// The scope also makes Python's cyclic collector run less often: the syntax
// trees astroid builds stay alive until the analysis ends, and every
// collection of the older generations walks all of them again, which cost
// a fifth of a whole check. Young garbage is still collected.
class AnalysedProject {
 public:
  explicit AnalysedProject(const std::string& project_root);
  ~AnalysedProject();
  AnalysedProject(const AnalysedProject&) = delete;
  AnalysedProject& operator=(const AnalysedProject&) = delete;

 private:
  std::string previous_;
  py::object previous_thresholds_;
};

// The analysed project's root, with a trailing separator; empty when no
// project is being analysed.
std::string analysed_project_root();

// Is the node in a library module while a project is analysed? Answered
// once per module.
bool in_library_module(const Node& node);

}  // namespace tessary

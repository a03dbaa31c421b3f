#include "constants/constants.hpp"

#include <pybind11/stl.h>

#include "staticanalysis/helpers/registry.hpp"

namespace tessary::constants {

namespace {

// The rules of `module` that have a fix, as the registry says.
std::set<std::string> fixed_by(std::string_view module) {
  std::set<std::string> ids;
  for (const Rule& entry : rules_of(module))
    if (!entry.fix.empty()) ids.insert(std::string(entry.id));
  return ids;
}

}  // namespace

std::set<std::string> model_field_rules() { return fixed_by("fieldrules"); }
std::set<std::string> queryset_rules() { return fixed_by("queryrules"); }
std::set<std::string> migration_rules() { return fixed_by("migrations"); }
std::set<std::string> url_rules() { return fixed_by("urls"); }
std::set<std::string> settings_rules() { return fixed_by("settings"); }
std::set<std::string> template_rules() { return fixed_by("templates"); }

std::set<std::string> transformable_rules() {
  std::set<std::string> all;
  for (auto table : {model_field_rules(), queryset_rules(), migration_rules(), url_rules(), settings_rules(),
                     template_rules()})
    all.insert(table.begin(), table.end());
  return all;
}

void bind(py::module_& m) {
  auto frozen = [](const std::set<std::string>& ids) { return py::frozenset(py::cast(ids)); };
  m.attr("TRANSFORMABLE_MODEL_FIELD_RULES") = frozen(model_field_rules());
  m.attr("TRANSFORMABLE_URL_RULES") = frozen(url_rules());
  m.attr("TRANSFORMABLE_MIGRATION_RULES") = frozen(migration_rules());
  m.attr("TRANSFORMABLE_QUERYSET_RULES") = frozen(queryset_rules());
  m.attr("TRANSFORMABLE_SETTINGS_RULES") = frozen(settings_rules());
  m.attr("TRANSFORMABLE_TEMPLATE_RULES") = frozen(template_rules());
  m.attr("TRANSFORMABLE_RULES") = frozen(transformable_rules());
  m.attr("SKIP_LINE_ID") = py::str(std::string(kSkipLineId));
}

}  // namespace tessary::constants

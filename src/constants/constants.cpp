#include "constants/constants.hpp"

#include <pybind11/stl.h>

#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"
#include "staticanalysis/checkers/migrations/migrations.hpp"
#include "staticanalysis/checkers/queryrules/queryrules.hpp"
#include "staticanalysis/checkers/templates/templates.hpp"

namespace tessary::constants {

namespace {

std::set<std::string> ids_of(const std::vector<FixRow>& rows) {
  std::set<std::string> ids;
  for (const FixRow& row : rows) ids.insert(row.id);
  return ids;
}

}  // namespace

std::set<std::string> model_field_rules() { return ids_of(fieldrules::fix_rules()); }
std::set<std::string> queryset_rules() { return ids_of(queryrules::fix_rules()); }
std::set<std::string> migration_rules() { return ids_of(migrations::fix_rules()); }
// No check module of URLs or settings is built yet: nothing to fix there.
std::set<std::string> url_rules() { return {}; }
std::set<std::string> settings_rules() { return {}; }
std::set<std::string> template_rules() {
  return {std::begin(templates::kFixIds), std::end(templates::kFixIds)};
}

std::set<std::string> transformable_rules() {
  std::set<std::string> all;
  for (auto table : {model_field_rules(), queryset_rules(), migration_rules(), url_rules(), settings_rules(),
                     template_rules()})
    all.insert(table.begin(), table.end());
  return all;
}

void bind(py::module_& m) {
  // The fix tables are filled when their modules load.
  for (const char* name : {"fieldrules", "queryrules", "migrations", "templates"})
    py::module_::import((std::string("tessary.staticanalysis.checkers.") + name).c_str());
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

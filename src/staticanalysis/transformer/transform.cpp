#include "staticanalysis/transformer/transform.hpp"
#include "staticanalysis/helpers/pathtext.hpp"

#include <pybind11/gil_safe_call_once.h>
#include <pybind11/stl.h>

#include "staticanalysis/checker/fixable.hpp"
#include "staticanalysis/checker/linters.hpp"
#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"
#include "staticanalysis/checkers/migrations/migrations.hpp"
#include "staticanalysis/checkers/queryrules/queryrules.hpp"
#include "staticanalysis/checkers/urls/urls.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/formatting.hpp"

namespace tessary::transformer {

const std::vector<FixRow>& rule_table() { return checker::fix_rows(); }

std::pair<std::string, py::set> transform_code(const std::string& code, const std::string& filepath,
                                               const std::string& settings_modpath, const py::iterable& noise) {
  py::set ignored;
  for (py::handle id : noise) ignored.add(id);

  py::object atok = build_atok(code, module_name(filepath), path_str(filepath));
  py::object visitor = py::module_::import("astroid.transforms").attr("TransformVisitor")();
  for (const FixRow& row : rule_table()) visitor.attr("register_transform")(row.kind, row.transform, row.predicate);
  visitor.attr("visit")(atok.attr("tree"));
  // The settings fixes change the settings module as a whole; a settings
  // id the caller holds back is neither fixed nor reported.
  py::list settings_ids;
  for (const Rule& entry : rules_of("settings")) {
    py::str id(std::string(entry.id));
    if (!entry.fix.empty() && !ignored.contains(id)) settings_ids.append(id);
  }
  py::module_::import("tessary.staticanalysis.checkers.settings")
      .attr("build_transformer_visitor")(settings_ids, settings_modpath)
      .attr("visit")(atok.attr("tree"));
  std::string transformed = formatting::node_as_string(atok, atok.attr("tree"));

  // The findings are those of the text as written.
  py::object linter = checker::create_linter(checker::driver().CodeLinter);
  linter.attr("set_option")("settings-files", py::list(py::make_tuple(settings_modpath)));
  linter.attr("check")(code, py::arg("files_or_modules") = py::list(py::make_tuple(filepath)));
  py::set reasons;
  for (py::handle record : linter.attr("reporter").attr("messages")) {
    py::object id = record["message-id"];
    if (!ignored.contains(id)) reasons.add(id);
  }

  py::dict style;
  style["line_length"] = 79;
  std::string formatted = formatting::format_code(transformed, "", style,
                                               formatting::get_comma_character_target(atok.attr("text").cast<std::string>()));
  return {formatted, reasons};
}

void bind(py::module_& m) {
  m.def(
      "transform_code",
      [](const std::string& code, const std::string& filepath, const std::string& settings_modpath,
         py::object noise) {
        auto [formatted, reasons] =
            transform_code(code, filepath, settings_modpath, noise.is_none() ? py::iterable(py::list()) : py::iterable(noise));
        return py::make_tuple(formatted, reasons);
      },
      py::arg("code"), py::arg("filepath"), py::arg("settings_modpath"), py::arg("noise") = py::none());
  py::list rules;
  for (const FixRow& row : rule_table()) rules.append(py::make_tuple(row.id, row.kind, row.transform, row.predicate));
  m.attr("RULES") = rules;
  // What the registry says of the fixes.
  py::set fixable, schema;
  py::dict unsafe;  // why each unsafe fix may change what the program does, by id
  for (const Rule& entry : kRegistry) {
    if (entry.fix.empty()) continue;
    py::str id(std::string(entry.id));
    fixable.add(id);
    if (entry.changes_schema) schema.add(id);
    if (!entry.unsafe_because.empty()) unsafe[id] = py::str(std::string(entry.unsafe_because));
  }
  m.attr("FIXABLE_MESSAGE_IDS") = py::frozenset(fixable);
  m.attr("SCHEMA_FIX_IDS") = py::frozenset(schema);
  m.attr("UNSAFE_FIX_REASONS") = unsafe;
}

}  // namespace tessary::transformer

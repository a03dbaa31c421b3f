#include "staticanalysis/checker/fixable.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <algorithm>

#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"
#include "staticanalysis/checkers/migrations/migrations.hpp"
#include "staticanalysis/checkers/queryrules/queryrules.hpp"
#include "staticanalysis/checkers/urls/urls.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/registry.hpp"

namespace tessary::checker {

namespace {

PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<std::vector<FixRow>> rows_storage;

std::vector<FixRow> build_rows() {
  // Each check module fills its fix rows when its Python module loads:
  // load them first, so that the table is never made without some.
  for (const char* module : {"migrations", "fieldrules", "queryrules", "urls"})
    py::module_::import((std::string("tessary.staticanalysis.checkers.") + module).c_str());
  std::vector<FixRow> table;
  for (const auto* rows : {&migrations::fix_rules(), &fieldrules::fix_rules(), &queryrules::fix_rules(), &urls::fix_rules()})
    table.insert(table.end(), rows->begin(), rows->end());
  // The registry's order; rows of one rule keep their module's order.
  std::stable_sort(table.begin(), table.end(),
                   [](const FixRow& x, const FixRow& y) { return rule(x.id).fix_order < rule(y.id).fix_order; });
  return table;
}

// The spans, per id, of the nodes of `node`'s subtree that a row of that
// id accepts; only ids in `wanted` are asked, and a subtree that ends
// before the first line wanted is passed over.
void collect_spans(const py::handle& node, const std::vector<const FixRow*>& rows, long first_wanted,
                   std::map<std::string, std::vector<std::pair<long, long>>>& spans) {
  py::object end = py::getattr(node, "end_lineno", py::none());
  if (py::isinstance<py::int_>(end) && end.cast<long>() < first_wanted) return;
  for (const FixRow* row : rows) {
    if (!py::isinstance(node, row->kind)) continue;
    bool accepted = false;
    try {
      accepted = py::bool_(row->predicate(node)).cast<bool>();
    } catch (py::error_already_set&) {
      accepted = false;  // the fixer would stop on it too: not a fix it makes
    }
    if (!accepted) continue;
    if (std::optional<std::pair<long, long>> span = fix_span(node)) spans[row->id].push_back(*span);
  }
  for (py::handle child : node.attr("get_children")()) collect_spans(child, rows, first_wanted, spans);
}

}  // namespace

const std::vector<FixRow>& fix_rows() { return rows_storage.call_once_and_store_result(build_rows).get_stored(); }

std::optional<std::pair<long, long>> fix_span(const py::handle& node) {
  py::object test = py::getattr(node, "test", py::none());
  py::handle head = test.is_none() ? node : test;
  py::object first = py::getattr(head, "lineno", py::none()), last = py::getattr(head, "end_lineno", py::none());
  if (!py::isinstance<py::int_>(first)) return std::nullopt;
  long from = first.cast<long>();
  return std::make_pair(from, py::isinstance<py::int_>(last) ? last.cast<long>() : from);
}

void mark_fixable(const py::list& records) {
  std::set<std::string> with_rows;
  for (const FixRow& row : fix_rows()) with_rows.insert(row.id);
  // The records to mark, by file.
  py::object realpath = py::module_::import("os.path").attr("realpath");
  std::map<std::string, std::vector<py::dict>> by_file;
  for (py::handle handle : records) {
    py::dict record = py::reinterpret_borrow<py::dict>(handle);
    if (!record.contains("message-id") || !record.contains("abspath")) continue;
    if (!with_rows.count(py::str(record["message-id"]))) continue;
    if (!py::isinstance<py::int_>(record["line"])) continue;
    by_file[path_bytes(realpath(record["abspath"]))].push_back(record);
  }
  if (by_file.empty()) return;
  std::map<std::string, py::object> trees;
  for (py::handle module : py::dict(ast().manager.attr("astroid_cache")).attr("values")()) {
    py::object file = py::getattr(module, "file", py::none());
    if (file.is_none()) continue;
    std::string key = path_bytes(realpath(file));
    if (by_file.count(key)) trees.emplace(key, py::reinterpret_borrow<py::object>(module));
  }
  for (auto& [file, its] : by_file) {
    auto tree = trees.find(file);
    if (tree == trees.end()) continue;
    std::set<std::string> ids;
    long first_wanted = -1;
    for (const py::dict& record : its) {
      ids.insert(py::str(record["message-id"]));
      long line = record["line"].cast<long>();
      first_wanted = first_wanted < 0 ? line : std::min(first_wanted, line);
    }
    std::vector<const FixRow*> rows;
    for (const FixRow& row : fix_rows())
      if (ids.count(row.id)) rows.push_back(&row);
    std::map<std::string, std::vector<std::pair<long, long>>> spans;
    collect_spans(tree->second, rows, first_wanted, spans);
    for (py::dict& record : its) {
      long line = record["line"].cast<long>();
      const auto& found = spans[py::str(record["message-id"])];
      record["fixable"] = py::bool_(std::any_of(found.begin(), found.end(), [line](const std::pair<long, long>& span) {
        return span.first <= line && line <= span.second;
      }));
    }
  }
}

}  // namespace tessary::checker

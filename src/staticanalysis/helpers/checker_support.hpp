// Building blocks of a check module: its rule table, the `Codes` class,
// the pylint checker class made from C++, and reporting.
#pragma once

#include <pybind11/pybind11.h>

#include <span>
#include <string_view>

#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/registry.hpp"

namespace tessary {


// An integer option of a checker, as pylint declares it.
struct IntOption {
  const char* name;
  long default_value;
  const char* help;
};

// class Codes: one attribute per id, name and value alike.
py::object make_codes_class(const char* module, std::span<const Rule> rules);

// The `msgs` table: id to (empty context_string, symbol, description).
py::dict messages_table(std::span<const Rule> rules);

// A callback of pylint's tree walk: visit_<kind> or leave_<kind>.
using Callback = void (*)(py::object self, py::object node);
struct NamedCallback {
  const char* name;
  Callback callback;
};

// A pylint checker class (base BaseChecker) with `name`, a `msgs` table of
// empty context_string texts, `options`, and the walk callbacks.
py::object make_checker_class(const char* module, const char* checker_name, std::span<const Rule> rules,
                              std::span<const IntOption> options, std::initializer_list<NamedCallback> callbacks);

// A check module's public tables: Codes, RULES and Checker.
void bind_rules(py::module_& m, const char* module, std::span<const Rule> rules, const py::object& checker);

// The rule table as Python data: a list of maps with the fields of Rule.
py::list rules_as_python(std::span<const Rule> rules);

// self.add_message(id, node=node, args=args).
void report(const py::handle& checker, std::string_view id, const Node& node, const py::dict& args);

// An integer option read back through the linter's configuration.
long config_int(const py::handle& checker, const char* attribute);

}  // namespace tessary

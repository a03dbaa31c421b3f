#include "staticanalysis/helpers/checker_support.hpp"

#include "staticanalysis/helpers/pyclass.hpp"
#include "staticanalysis/helpers/values.hpp"

namespace tessary {

namespace {

py::str text(std::string_view s) { return py::str(s.data(), s.size()); }

}  // namespace

py::object make_codes_class(const char* module, std::span<const Rule> rules) {
  py::dict ns;
  for (const Rule& rule : rules) ns[text(rule.id)] = text(rule.id);
  py::object object_type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
  return make_class("Codes", py::make_tuple(object_type), ns, module);
}

py::dict messages_table(std::span<const Rule> rules) {
  py::dict msgs;
  for (const Rule& rule : rules) {
    msgs[text(rule.id)] = py::make_tuple(context_string(), text(rule.symbol), text(rule.description));
  }
  return msgs;
}

py::object make_checker_class(const char* module, const char* checker_name, std::span<const Rule> rules,
                              std::span<const IntOption> options, std::initializer_list<NamedCallback> callbacks) {
  py::list option_list;
  for (const IntOption& option : options) {
    py::dict props;
    props["default"] = option.default_value;
    props["type"] = "int";
    props["metavar"] = "<int>";
    props["help"] = option.help;
    option_list.append(py::make_tuple(option.name, props));
  }
  py::dict ns;
  ns["name"] = checker_name;
  ns["msgs"] = messages_table(rules);
  ns["options"] = py::tuple(option_list);
  // A checker of the syntax tree, as pylint's interface names it.
  ns["__implements__"] = py::make_tuple(py::module_::import("pylint.interfaces").attr("IAstroidChecker"));
  py::object base = py::module_::import("pylint.checkers").attr("BaseChecker");
  py::object cls = make_class("Checker", py::make_tuple(base), ns, module);
  // pylint 2.17 warns, each time a checker that declares an interface is
  // made, that interfaces are deprecated: nothing a user can act on. (The
  // function is not named __init__ for pybind11, which would take it for
  // a constructor of one of its own classes.)
  py::cpp_function quiet_init(
      [base](py::object self, py::object linter) {
        py::module_ warnings = py::module_::import("warnings");
        py::object quiet = warnings.attr("catch_warnings")();
        quiet.attr("__enter__")();
        try {
          warnings.attr("filterwarnings")("ignore", py::arg("message") = "Using the __implements__ inheritance pattern",
                                          py::arg("category") = py::handle(PyExc_DeprecationWarning));
          base.attr("__init__")(self, linter);
        } catch (...) {
          quiet.attr("__exit__")(py::none(), py::none(), py::none());
          throw;
        }
        quiet.attr("__exit__")(py::none(), py::none(), py::none());
      },
      py::name("init_checker"), py::is_method(cls), py::arg("linter"));
  py::setattr(cls, "__init__", quiet_init);
  for (const NamedCallback& entry : callbacks) add_method(cls, entry.name, entry.callback, py::arg("node"));
  return cls;
}

void bind_rules(py::module_& m, const char* module, std::span<const Rule> rules, const py::object& checker) {
  m.attr("Codes") = make_codes_class(module, rules);
  m.attr("RULES") = rules_as_python(rules);
  m.attr("Checker") = checker;
}

py::list rules_as_python(std::span<const Rule> rules) {
  py::list out;
  for (const Rule& rule : rules) {
    py::dict entry;
    entry["id"] = text(rule.id);
    entry["symbol"] = text(rule.symbol);
    entry["description"] = text(rule.description);
    entry["finds"] = text(rule.finds);
    entry["why"] = text(rule.why);
    entry["example"] = text(rule.example);
    entry["better"] = text(rule.better);
    entry["module"] = text(rule.module);
    entry["advice"] = text(rule.advice);
    entry["fix"] = rule.fix.empty() ? py::object(py::none()) : py::object(text(rule.fix));
    entry["fix_grade"] = rule.fix.empty() ? py::object(py::none())
                         : rule.unsafe_because.empty() ? py::object(py::str("safe")) : py::object(py::str("unsafe"));
    entry["unsafe_because"] = rule.unsafe_because.empty() ? py::object(py::none()) : py::object(text(rule.unsafe_because));
    entry["changes_model_fields"] = rule.changes_schema;
    entry["default"] = rule.opt_in_because.empty();
    entry["opt_in_because"] = rule.opt_in_because.empty() ? py::object(py::none()) : py::object(text(rule.opt_in_because));
    out.append(entry);
  }
  return out;
}

void report(const py::handle& checker, std::string_view id, const Node& node, const py::dict& args) {
  checker.attr("add_message")(text(id), py::arg("node") = node.obj(), py::arg("args") = args);
}

long config_int(const py::handle& checker, const char* attribute) {
  return checker.attr("linter").attr("config").attr(attribute).cast<long>();
}

}  // namespace tessary

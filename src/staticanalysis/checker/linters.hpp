// The linter driver: linters and their options, the inline pragma, and
// linting of one source text.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace tessary::checker {

namespace py = pybind11;

// The classes and tables of the driver, made when the module is loaded.
struct Driver {
  py::object Linter;      // PyLinter with the replaced syntax-error entry
  py::object CodeLinter;  // lints a text handed in, never the file on disk
  py::object TextLinter;  // a CodeLinter that parses the text plainly (no token map, no name pre-pass)
  py::object Reporter;    // JSON reporter that keeps dict records
  py::object ignore_old_style_string_formatting;
  py::list python_checker_classes;
  py::list html_checker_classes;
  py::dict message_id_symbol_store;
  py::object logger;
};

const Driver& driver();

// A new linter of `linter_class` with our reporter, the driver options and
// every Python checker registered.
py::object create_linter(const py::object& linter_class, const py::object& config = py::dict());
// Lint `code` as the project file `filepath`; returns the rendered advice.
py::object check_code(const std::string& code, const std::string& filepath, const std::string& settings_modpath);
// Infer every name of the tree once, before any checker visits it.
void check_names(const py::object& tree);
// Log every fatal record ("Fatal message: <record>").
void log_fatal_records(const py::list& records);

// While alive, the analysed environment's folders (`paths`, a list of
// path texts; None or empty changes nothing) are on the module search path,
// after the standard library and ahead of tessary's own site-packages, so
// astroid finds the project's packages there first. tessary's own packages
// are imported before the path changes and never come from it.
class SearchPathScope {
 public:
  explicit SearchPathScope(const py::object& paths);
  ~SearchPathScope();
  SearchPathScope(const SearchPathScope&) = delete;
  SearchPathScope& operator=(const SearchPathScope&) = delete;

 private:
  py::object saved_;
};

// The template linter: runs the template checkers over HTML files.
class HtmlLinter {
 public:
  void check(const py::list& files);
  py::list messages;
  std::string static_url = "/static/";  // the project's STATIC_URL
  py::dict unsaved;                     // {path: text} read instead of the file
};

void bind(py::module_& m);

}  // namespace tessary::checker

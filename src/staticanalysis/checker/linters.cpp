#include "staticanalysis/checker/linters.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <string_view>
#include <utility>
#include <set>
#include <pybind11/stl.h>

#include "staticanalysis/checker/comment_tokens.hpp"
#include "staticanalysis/checkers/admin/admin.hpp"
#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/read_file.hpp"
#include "staticanalysis/helpers/scan.hpp"
#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"
#include "staticanalysis/checkers/methodrules/methodrules.hpp"
#include "staticanalysis/checkers/migrations/migrations.hpp"
#include "staticanalysis/checkers/queryrules/queryrules.hpp"
#include "staticanalysis/checkers/settings/settings.hpp"
#include "staticanalysis/checkers/urls/urls.hpp"
#include "staticanalysis/checkers/templates/templates.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/pyclass.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/values.hpp"

namespace tessary::checker {

namespace {

PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<Driver> driver_storage;

py::object import_attr(const char* module, const char* name) {
  return py::module_::import(module).attr(name);
}

// The options every linter takes, in this order.
py::tuple driver_options() {
  auto option = [](const char* name, py::object default_value, const char* type, const char* metavar,
                   const char* help) {
    py::dict props;
    props["default"] = default_value;
    props["type"] = type;
    props["metavar"] = metavar;
    props["help"] = help;
    return py::make_tuple(name, props);
  };
  return py::make_tuple(
      option("settings-files", py::list(), "csv", "<file>[,<file>...]",
             "Specify which files are django settings files. They should be import paths."),
      option("root-urlconf", py::str(""), "string", "<str>", "Specify the ROOT_URLCONF import path to use."),
      option("django-version", py::str("3.3"), "string", "<str>", "Specify the Django version being checked."));
}

// The names a `# noqa` comment gives ("C2000", "queryset-length"), or an
// empty set for a bare `# noqa` (every id); nullopt when the comment is no
// noqa comment.
std::optional<std::set<std::string>> noqa_names(const std::string& comment) {
  if (comment.size() > kLongestPiece) return std::nullopt;  // no pragma is that long (see scan.hpp)
  static const std::regex noqa(R"re(#\s*noqa\b(?::\s*([\w-]+(?:[\s,]+[\w-]+)*))?)re", std::regex::icase);
  std::smatch match;
  if (!std::regex_search(comment, match, noqa)) return std::nullopt;
  std::set<std::string> names;
  static const std::regex name(R"re([\w-]+)re");
  std::string listed = match[1].str();
  for (std::sregex_iterator it(listed.begin(), listed.end(), name), end; it != end; ++it) {
    std::string text = it->str();
    names.insert(text);
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    names.insert(text);  // ids in either case
  }
  if (match[1].matched && names.empty()) return std::nullopt;
  return names;
}

// {line: names} of the `# noqa` comments of a module: a comment anywhere in
// a statement's lines covers every line of the statement (a comment on a
// line of its own covers nothing), and names nothing (None) for a bare one.
py::dict noqa_lines(const py::list& tokens) {
  static const py::module_ tokenize = py::module_::import("tokenize");
  static const int comment = tokenize.attr("COMMENT").cast<int>(), newline = tokenize.attr("NEWLINE").cast<int>(),
                   nl = tokenize.attr("NL").cast<int>(), indent = tokenize.attr("INDENT").cast<int>(),
                   dedent = tokenize.attr("DEDENT").cast<int>(), encoding = tokenize.attr("ENCODING").cast<int>();
  py::dict out;
  long first = 0;  // the first line of the statement being read; 0: none
  std::optional<std::set<std::string>> names;
  for (py::handle token : tokens) {
    int type = token.attr("type").cast<int>();
    long line = token.attr("start").cast<py::tuple>()[0].cast<long>();
    if (type == comment) {
      if (first == 0) continue;
      std::optional<std::set<std::string>> found = noqa_names(token.attr("string").cast<std::string>());
      if (!found) continue;
      if (!names) names = std::set<std::string>();
      if (found->empty() || names->count("")) names = std::set<std::string>{""};  // bare: every id
      else names->insert(found->begin(), found->end());
    } else if (type == newline) {
      if (first != 0 && names) {
        py::object covered = names->count("") ? py::object(py::none()) : py::object(py::cast(*names));
        for (long at = first; at <= line; ++at) out[py::int_(at)] = covered;
      }
      first = 0;
      names.reset();
    } else if (type != nl && type != indent && type != dedent && type != encoding && first == 0) {
      first = line;
    }
  }
  return out;
}

// A message on a line that a `# noqa` comment covers is not reported when
// the comment names its id or symbol, or names none.
py::object is_message_enabled(py::object self, py::object msg_descr, py::object line, py::object confidence) {
  static const py::object base = import_attr("pylint.lint", "PyLinter").attr("is_message_enabled");
  if (!line.is_none()) {
    py::object noqa = py::getattr(self, "tessary_noqa", py::none());
    if (!noqa.is_none() && py::dict(noqa).contains(line)) {
      py::object names = py::dict(noqa)[line];
      if (names.is_none()) return py::bool_(false);
      py::set listed(names);
      try {
        for (py::handle definition : self.attr("msgs_store").attr("get_message_definitions")(msg_descr))
          if (listed.contains(definition.attr("msgid")) || listed.contains(definition.attr("symbol")))
            return py::bool_(false);
      } catch (py::error_already_set& err) {
        if (!err.matches(import_attr("pylint.exceptions", "UnknownMessageError"))) throw;
      }
    }
  }
  return base(self, msg_descr, line, confidence);
}

// Comments naming our pragma become pylint's, so pylint's own rules on
// which lines a disable covers apply unchanged. `# noqa` comments are kept
// for is_message_enabled.
py::object process_tokens(py::object self, py::list tokens) {
  static const int comment_type = py::module_::import("tokenize").attr("COMMENT").cast<int>();
  self.attr("tessary_noqa") = noqa_lines(tokens);
  for (size_t i = 0; i < tokens.size(); ++i) {
    py::object token = tokens[i];
    if (token.attr("type").cast<int>() != comment_type) continue;
    py::str text = token.attr("string");
    if (!text.attr("__contains__")("tessary").cast<bool>()) continue;
    py::str line = token.attr("line");
    tokens[i] = token.attr("_replace")(py::arg("string") = text.attr("replace")("tessary:", "pylint:"),
                                       py::arg("line") = line.attr("replace")("tessary:", "pylint:"));
  }
  return import_attr("pylint.lint", "PyLinter").attr("process_tokens")(self, tokens);
}

// Whether a module's text may hold a comment its tokens must be read for:
// a pragma of pylint's or ours, or a `# noqa`. Most modules hold none, and
// tokenizing a module costs about as much as parsing it.
bool may_hold_pragma(std::string_view text) {
  if (text.find("pylint:") != std::string_view::npos || text.find("tessary:") != std::string_view::npos) return true;
  for (std::size_t at = text.find_first_of("nN"); at != std::string_view::npos; at = text.find_first_of("nN", at + 1)) {
    if (at + 4 > text.size()) break;
    if ((text[at + 1] | 0x20) == 'o' && (text[at + 2] | 0x20) == 'q' && (text[at + 3] | 0x20) == 'a') return true;
  }
  return false;
}

// The text a module was built from, as its stream() would give it; nullopt
// when it cannot be had the same way.
std::optional<std::string> module_text(const py::object& node) {
  py::object held = node.attr("file_bytes");
  if (py::isinstance<py::bytes>(held)) return held.cast<std::string>();
  if (!held.is_none()) return std::nullopt;
  py::object file = node.attr("file");
  if (!py::isinstance<py::str>(file)) return std::nullopt;
  FileBytes read = read_regular_file(path_bytes(file), kSourceFileCap);
  return read.bytes;
}

// pylint tokenizes every module to find its pragmas before the checkers
// walk it, and no checker of ours reads tokens. A module whose text names
// no pragma and no noqa has none to find: it is walked at once, with the
// pragma state an empty comment list leaves. Any other is given the
// comments and line ends its pragmas and noqa comments are read from,
// found without Python's tokenizer where that can be done.
py::object linter_check_module_tree(py::object self, py::object node, py::object walker, py::list rawcheckers,
                                    py::list tokencheckers) {
  static const py::object base = import_attr("pylint.lint", "PyLinter").attr("_check_astroid_module");
  if (rawcheckers.empty() && tokencheckers.empty() && node.attr("pure_python").cast<bool>()) {
    std::optional<std::string> text = module_text(node);
    std::optional<py::list> comments;
    if (text) comments = may_hold_pragma(*text) ? comment_tokens(*text) : py::list();
    if (comments) {
      self.attr("process_tokens")(*comments);
      if (self.attr("_ignore_file").cast<bool>()) return py::bool_(false);
      walker.attr("walk")(node);
      return py::bool_(true);
    }
  }
  return base(self, node, walker, rawcheckers, tokencheckers);
}

// The caller's progress callback, if any, after each file.
void file_done(const py::object& self) {
  py::object progress = py::getattr(self, "tessary_progress", py::none());
  if (!progress.is_none()) progress();
}

// One line on why an exception stopped the analysis of a module.
std::string exception_line(py::error_already_set& err) {
  std::string text = py::str(err.value());
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::string kind = py::str(err.type().attr("__name__"));
  return text.empty() ? kind : kind + ": " + text;
}

// A module that could not be analysed is a finding of its own, never a
// silent gap in the results.
void report_fatal(const py::object& self, const std::string& reason) {
  py::dict arguments;
  arguments["reason"] = reason;
  self.attr("add_message")("fatal", py::arg("line") = 1, py::arg("args") = arguments,
                           py::arg("confidence") = import_attr("pylint.interfaces", "HIGH"));
}

bool is_exception(py::error_already_set& err) { return err.matches(PyExc_Exception); }

// Report a text that does not parse the way pylint reports a file that
// does not parse: one syntax-error finding, and the run goes on.
void report_syntax_error(py::object self, py::error_already_set& err);

py::object linter_get_ast(py::object self, py::object filepath, py::object modname, py::object data) {
  const Astroid& a = ast();
  self.attr("tessary_noqa") = py::dict();  // the last module's comments cover none of this one
  try {
    if (data.is_none()) {
      // astroid reads the file whole: only a regular file within the cap.
      std::string problem = unreadable_because(path_bytes(filepath), kSourceFileCap);
      if (!problem.empty()) {
        report_fatal(self, as_reason(problem));
        file_done(self);
        return py::none();
      }
      return a.manager.attr("ast_from_file")(filepath, modname, py::arg("source") = true);
    }
    return a.builder_class(a.manager).attr("string_build")(data, modname, filepath);
  } catch (py::error_already_set& err) {
    if (!is_exception(err)) throw;
    if (err.matches(import_attr("astroid", "AstroidSyntaxError"))) {
      // A module that is not text in its encoding never reached the parser.
      SourceText source = data.is_none() ? read_source_text(path_bytes(filepath), SourceKind::python) : SourceText{};
      if (!source.problem.empty()) {
        report_fatal(self, source.problem);
      } else {
        report_syntax_error(self, err);
      }
    } else if (err.matches(import_attr("astroid", "AstroidBuildingError"))) {
      report_fatal(self, "it could not be read: " + exception_line(err));
    } else {
      report_fatal(self, "its syntax tree could not be built (" + exception_line(err) + ")");
    }
    file_done(self);
    return py::none();
  }
}

py::object linter_check_astroid_module(py::object self, py::object node, py::object walker, py::object rawcheckers,
                                       py::object tokencheckers) {
  py::object result = py::none();
  try {
    result = import_attr("pylint.lint", "PyLinter").attr("check_astroid_module")(self, node, walker, rawcheckers,
                                                                                 tokencheckers);
  } catch (py::error_already_set& err) {
    if (!is_exception(err)) throw;
    report_fatal(self, "a check failed on it (" + exception_line(err) + ")");
  }
  file_done(self);
  return result;
}

py::object code_linter_check(py::object self, py::object code, py::args args, py::kwargs kwargs) {
  self.attr("tessary_provided_code") = code;
  return driver().Linter.attr("check")(self, *args, **kwargs);
}

void report_syntax_error(py::object self, py::error_already_set& err) {
  py::object error = err.value().attr("error");
  py::object line = py::getattr(error, "lineno", py::none());
  if (line.is_none()) line = py::int_(0);
  py::object offset = py::getattr(error, "offset", py::none());
  self.attr("add_message")("syntax-error", py::arg("line") = line, py::arg("col_offset") = offset,
                           py::arg("args") = py::str("Parsing failed: '{}'").format(error),
                           py::arg("confidence") = import_attr("pylint.interfaces", "HIGH"));
}

// The tree of the stored text, built plainly: what the fixer needs to
// count findings, without the token map the fixes need.
py::object text_linter_get_ast(py::object self, py::object filepath, py::object modname, py::object /*data*/) {
  self.attr("tessary_noqa") = py::dict();
  std::string code = self.attr("tessary_provided_code").cast<std::string>();
  try {
    return ast().builder_class().attr("string_build")(code, py::arg("modname") = modname,
                                                        py::arg("path") = filepath);
  } catch (py::error_already_set& err) {
    if (!err.matches(import_attr("astroid", "AstroidSyntaxError"))) throw;
    report_syntax_error(self, err);
    return py::none();
  }
}

py::object code_linter_get_ast(py::object self, py::object filepath, py::object modname, py::object /*data*/) {
  self.attr("tessary_noqa") = py::dict();
  std::string code = self.attr("tessary_provided_code").cast<std::string>();
  py::object atok;
  try {
    atok = build_atok(code, path_bytes(modname), filepath);
  } catch (py::error_already_set& err) {
    // Report a text that does not parse the way pylint reports a file that
    // does not parse: one syntax-error finding, and the run goes on.
    if (!err.matches(import_attr("astroid", "AstroidSyntaxError"))) throw;
    report_syntax_error(self, err);
    return py::none();
  }
  py::object tree = atok.attr("tree");
  check_names(tree);
  return tree;
}

py::iterator code_linter_iterate_file_descrs(py::object self, py::iterable files_or_modules) {
  py::object FileItem = import_attr("pylint.typing", "FileItem");
  py::list items;
  // A caller that lints a text under its file's absolute path names its
  // module; else the relative path spells it.
  py::object given = py::getattr(self, "tessary_modname", py::none());
  for (py::handle entry : files_or_modules) {
    py::str filepath = py::reinterpret_borrow<py::str>(entry);
    py::str modname = !given.is_none() ? py::str(given)
                                       : py::str(filepath.attr("replace")(".py", "").attr("replace")("/", "."));
    items.append(FileItem(modname, filepath, modname));
  }
  return py::iter(items);
}

// The trees of the modules a worker lints, each built just before it is
// linted. pylint builds every tree first and lints them after; modules
// claimed that way are shared out by what building them costs, while
// linting costs far more and unevenly, so one worker could be left
// linting long after the others ran out of modules to claim. Built one
// by one, a module is claimed only once the one before it is linted.
class TreesAsLinted {
 public:
  TreesAsLinted(py::object linter, py::object fileitems, py::object data)
      : linter_(std::move(linter)), fileitems_(py::iter(fileitems)), data_(std::move(data)) {}

  // (file item, tree or None) for the next module, as pylint's own
  // mapping of trees would hold them.
  py::tuple next() {
    for (;;) {
      PyObject* next = PyIter_Next(fileitems_.ptr());
      if (!next) {
        if (PyErr_Occurred()) throw py::error_already_set();
        throw py::stop_iteration();
      }
      py::object item = py::reinterpret_steal<py::object>(next);
      py::object filepath = item.attr("filepath"), name = item.attr("name");
      linter_.attr("set_current_module")(name, filepath);
      try {
        return py::make_tuple(item, linter_.attr("get_ast")(filepath, name, data_));
      } catch (py::error_already_set& err) {
        if (!err.matches(import_attr("astroid", "AstroidBuildingError"))) throw;
        py::module_ pylinter = py::module_::import("pylint.lint.pylinter");
        py::object report = pylinter.attr("prepare_crash_report")(err.value(), filepath,
                                                                    linter_.attr("crash_file_path"));
        py::object message = pylinter.attr("get_fatal_error_message")(filepath, report);
        linter_.attr("add_message")("astroid-error", py::arg("args") = py::make_tuple(filepath, message),
                                    py::arg("confidence") = import_attr("pylint.interfaces", "HIGH"));
      }
    }
  }

 private:
  py::object linter_, fileitems_, data_;
};

// With a claim set, the trees are built as they are linted (see
// TreesAsLinted); else all first, as pylint does.
py::object linter_get_asts(py::object self, py::object fileitems, py::object data) {
  if (py::getattr(self, "tessary_claim", py::none()).is_none())
    return import_attr("pylint.lint", "PyLinter").attr("_get_asts")(self, fileitems, data);
  return py::cast(TreesAsLinted(self, fileitems, data));
}

// The modules to lint, as pylint finds them; with a claim set, only those
// it grants, asked lazily as the trees are built one after another.
py::object linter_iterate_file_descrs(py::object self, py::object files_or_modules) {
  py::object items = import_attr("pylint.lint", "PyLinter").attr("_iterate_file_descrs")(self, files_or_modules);
  py::object claim = py::getattr(self, "tessary_claim", py::none());
  if (claim.is_none()) return items;
  return py::module_::import("builtins").attr("filter")(claim, items);
}

void reporter_handle_message(py::object self, py::object msg) {
  py::dict record;
  record["type"] = msg.attr("category");
  record["module"] = msg.attr("module");
  record["obj"] = msg.attr("obj");
  record["line"] = msg.attr("line");
  record["column"] = msg.attr("column");
  record["endLine"] = msg.attr("end_line");
  record["endColumn"] = msg.attr("end_column");
  record["path"] = msg.attr("path");
  record["abspath"] = msg.attr("abspath");
  record["symbol"] = msg.attr("symbol");
  // Kept as the checker formatted it: for our checkers, the argument map.
  // pylint's own fatal messages (a file it could not find) carry text,
  // which becomes the reason of ours.
  py::object text = msg.attr("msg");
  py::object id = msg.attr("msg_id");
  std::string text_id = py::str(id);
  if ((text_id == "F0001" || text_id == "F0002") && !py::isinstance<py::dict>(text)) {
    py::dict arguments;
    arguments["reason"] = py::str(text);
    text = arguments;
    id = py::str("F0001");
    record["symbol"] = "fatal";
    record["type"] = "fatal";
  }
  record["message"] = text;
  record["message-id"] = id;
  self.attr("messages").attr("append")(record);
}

void reporter_display_messages(py::object self, py::object /*layout*/) {
  py::object dumps = import_attr("json", "dumps");
  py::object text = dumps(self.attr("messages"), py::arg("indent") = 4,
                          py::arg("default") = py::cpp_function([](py::object o) { return serializer(o); }));
  py::print(text, py::arg("file") = self.attr("out"));
}

py::list build_python_checker_classes() {
  // Registered with every Python linter, in this order.
  py::list classes;
  classes.append(admin::checker_class());
  classes.append(settings::checker_class());
  classes.append(fieldrules::checker_class());
  classes.append(methodrules::checker_class());
  classes.append(migrations::checker_class());
  classes.append(queryrules::checker_class());
  classes.append(urls::checker_class());
  return classes;
}

Driver load() {
  Driver d;
  const char* module = "tessary.staticanalysis.checker";
  py::object str_type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyUnicode_Type));
  d.ignore_old_style_string_formatting =
      make_class("ignore_old_style_string_formatting", py::make_tuple(str_type), py::dict(), module);
  add_method(d.ignore_old_style_string_formatting, "__mod__", [](py::object self, py::object) { return self; });

  d.Reporter = make_class("JSONReporter", py::make_tuple(import_attr("pylint.reporters", "JSONReporter")),
                          py::dict(), module);
  add_method(d.Reporter, "handle_message", &reporter_handle_message, py::arg("msg"));
  add_method(d.Reporter, "display_messages", &reporter_display_messages, py::arg("layout"));

  py::object PyLinter = import_attr("pylint.lint", "PyLinter");
  // pylint writes a crash report to the user's cache folder when a module
  // makes it fail; ours becomes a finding instead, and the run must work
  // where that folder cannot be written.
  py::module_::import("pylint.lint.pylinter").attr("prepare_crash_report") = py::cpp_function(
      [](py::object, py::object, py::object) { return import_attr("pathlib", "Path")("(no crash report written)"); });
  py::dict msgs(PyLinter.attr("msgs"));
  // Every syntax error carries the same text, whatever the parser said. The
  // entry keeps pylint's options for it: a syntax error is reported on a
  // line, with no node to attach it to.
  py::tuple original = msgs["E0001"];
  py::tuple entry = py::make_tuple(d.ignore_old_style_string_formatting("Syntax Error"), "syntax-error",
                                   "Used when a syntax error is raised for a module.");
  if (original.size() > 3) entry = entry + py::make_tuple(original[3]);
  msgs["E0001"] = entry;
  // A module that could not be analysed carries the reason as its argument
  // map, as every finding of ours does.
  py::tuple fatal = msgs["F0001"];
  py::tuple fatal_entry = py::make_tuple(context_string("%s"), "fatal",
                                         "Used when a module could not be analysed.");
  if (fatal.size() > 3) fatal_entry = fatal_entry + py::make_tuple(fatal[3]);
  msgs["F0001"] = fatal_entry;
  py::dict linter_ns;
  linter_ns["msgs"] = msgs;
  d.Linter = make_class("Linter", py::make_tuple(PyLinter), linter_ns, module);
  add_method(d.Linter, "process_tokens", &process_tokens, py::arg("tokens"));
  add_method(d.Linter, "is_message_enabled", &is_message_enabled, py::arg("msg_descr"), py::arg("line") = py::none(),
             py::arg("confidence") = py::none());
  add_method(d.Linter, "get_ast", &linter_get_ast, py::arg("filepath"), py::arg("modname"),
             py::arg("data") = py::none());
  add_method(d.Linter, "check_astroid_module", &linter_check_astroid_module, py::arg("ast_node"),
             py::arg("walker"), py::arg("rawcheckers"), py::arg("tokencheckers"));
  add_method(d.Linter, "_iterate_file_descrs", &linter_iterate_file_descrs, py::arg("files_or_modules"));
  add_method(d.Linter, "_get_asts", &linter_get_asts, py::arg("fileitems"), py::arg("data"));
  add_method(d.Linter, "_check_astroid_module", &linter_check_module_tree, py::arg("node"), py::arg("walker"),
             py::arg("rawcheckers"), py::arg("tokencheckers"));

  d.CodeLinter = make_class("CodeLinter", py::make_tuple(d.Linter), py::dict(), module);
  add_method(d.CodeLinter, "check", &code_linter_check, py::arg("code"));
  add_method(d.CodeLinter, "get_ast", &code_linter_get_ast, py::arg("filepath"), py::arg("modname"),
             py::arg("data") = py::none());
  add_method(d.CodeLinter, "_iterate_file_descrs", &code_linter_iterate_file_descrs,
             py::arg("files_or_modules"));

  d.TextLinter = make_class("TextLinter", py::make_tuple(d.CodeLinter), py::dict(), module);
  add_method(d.TextLinter, "get_ast", &text_linter_get_ast, py::arg("filepath"), py::arg("modname"),
             py::arg("data") = py::none());

  d.python_checker_classes = build_python_checker_classes();
  d.html_checker_classes = py::list();
  d.html_checker_classes.append(templates::checker_class());
  for (py::handle cls : d.python_checker_classes) {
    for (auto item : py::dict(cls.attr("msgs"))) {
      d.message_id_symbol_store[item.first] = item.second[py::int_(1)];
    }
  }
  d.logger = import_attr("logging", "getLogger")();
  return d;
}

}  // namespace

const Driver& driver() { return driver_storage.call_once_and_store_result(load).get_stored(); }

py::object create_linter(const py::object& linter_class, const py::object& /*config*/) {
  const Driver& d = driver();
  py::object linter = linter_class(py::arg("reporter") = d.Reporter(), py::arg("options") = driver_options());
  // Only our own checkers' refactor and warning messages count in these
  // categories: pylint's are not registered.
  py::object by_category = linter.attr("msgs_store").attr("_msgs_by_category");
  by_category["R"] = py::list();
  by_category["W"] = py::list();
  for (py::handle cls : d.python_checker_classes) linter.attr("register_checker")(cls(linter));
  // As pylint's own command line does: informational messages about the
  // pragma itself (locally-disabled, suppressed-message) are not findings.
  linter.attr("disable")("I");
  return linter;
}

void check_names(const py::object& tree) {
  const Astroid& a = ast();
  py::object astroid_error = a.astroid.attr("AstroidError");
  for (const Node& name : Node(tree).descendants(a.Name)) {
    try {
      infer_first(name);
    } catch (py::error_already_set& err) {
      // The values are discarded; a name inference cannot resolve is no
      // reason to stop linting the module.
      if (!err.matches(astroid_error) && !err.matches(PyExc_RecursionError)) throw;
    }
  }
}

void log_fatal_records(const py::list& records) {
  const Driver& d = driver();
  for (py::handle record : records) {
    py::object type = py::dict(py::reinterpret_borrow<py::object>(record)).attr("get")("type");
    if (!type.is_none() && type.cast<std::string>() == "fatal") {
      d.logger.attr("error")(py::str("Fatal message: ") + py::str(record));
    }
  }
}

py::object check_code(const std::string& code, const std::string& filepath, const std::string& settings_modpath) {
  const Driver& d = driver();
  py::object linter = create_linter(d.CodeLinter);
  linter.attr("set_option")("settings-files", py::list(py::make_tuple(settings_modpath)));
  linter.attr("check")(code, py::arg("files_or_modules") = py::list(py::make_tuple(filepath)));
  py::list messages = linter.attr("reporter").attr("messages");
  log_fatal_records(messages);
  py::str source(code);
  py::cpp_function code_reader([source](py::object) { return source; });
  return import_attr("tessary.render", "render_message_centric_advice")(
      py::arg("messages") = messages, py::arg("project_root") = "/some/fake/root/",
      py::arg("settings") = py::dict(), py::arg("settings_modpath") = settings_modpath,
      py::arg("code_style") = py::dict(), py::arg("code_reader") = code_reader);
}

SearchPathScope::SearchPathScope(const py::object& paths) {
  if (paths.is_none() || py::len(paths) == 0) return;
  for (const char* name : {"astroid", "pylint.lint", "asttokens", "black", "packaging.specifiers", "dparse"})
    py::module_::import(name);
  py::list path = py::module_::import("sys").attr("path");
  py::object site = py::module_::import("site");
  py::set own_sites(site.attr("getsitepackages")());
  own_sites.add(site.attr("getusersitepackages")());
  py::object basename = import_attr("os.path", "basename");
  size_t at = 0;
  for (; at < path.size(); ++at) {
    py::object entry = path[at];
    if (own_sites.contains(entry)) break;
    std::string last = path_bytes(basename(entry));
    if (last == "site-packages" || last == "dist-packages") break;
  }
  py::list changed;
  for (size_t i = 0; i < at; ++i) changed.append(path[i]);
  for (py::handle entry : paths)
    if (!path.contains(entry)) changed.append(entry);
  for (size_t i = at; i < path.size(); ++i) changed.append(path[i]);
  saved_ = path[py::slice(0, static_cast<py::ssize_t>(path.size()), 1)];
  path[py::slice(0, static_cast<py::ssize_t>(path.size()), 1)] = changed;
}

SearchPathScope::~SearchPathScope() {
  if (!saved_) return;
  try {
    py::list path = py::module_::import("sys").attr("path");
    path[py::slice(0, static_cast<py::ssize_t>(path.size()), 1)] = saved_;
  } catch (py::error_already_set& err) {
    err.discard_as_unraisable("restoring the module search path");
  }
}

void HtmlLinter::check(const py::list& files) {
  for (py::handle cls : driver().html_checker_classes) {
    py::object checker = cls();
    checker.attr("static_url") = static_url;
    checker.attr("unsaved") = unsaved;
    checker.attr("check")(files);
    for (py::handle record : checker.attr("messages")) messages.append(record);
  }
}

void bind(py::module_& m) {
  // pylint asks the mapping of trees for its items, once.
  py::class_<TreesAsLinted>(m, "TreesAsLinted")
      .def("items", [](py::object self) { return self; })
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &TreesAsLinted::next);
  const Driver& d = driver();
  m.attr("Linter") = d.Linter;
  m.attr("CodeLinter") = d.CodeLinter;
  m.attr("TextLinter") = d.TextLinter;
  m.attr("JSONReporter") = d.Reporter;
  m.attr("ignore_old_style_string_formatting") = d.ignore_old_style_string_formatting;
  m.attr("python_checker_classes") = d.python_checker_classes;
  m.attr("html_checker_classes") = d.html_checker_classes;
  m.attr("message_id_symbol_store") = d.message_id_symbol_store;
  m.attr("logger") = d.logger;

  py::class_<HtmlLinter>(m, "HtmlLinter")
      .def(py::init<>())
      .def_readwrite("messages", &HtmlLinter::messages)
      .def_readwrite("static_url", &HtmlLinter::static_url)
      .def("check", &HtmlLinter::check, py::arg("files"));

  m.def("create_linter", &create_linter, py::arg("linter_class"), py::arg("config") = py::dict());
  m.def("check_code", &check_code, py::arg("code"), py::arg("filepath"), py::arg("settings_modpath"));
  m.def("check_names", &check_names, py::arg("tree"));
}

}  // namespace tessary::checker

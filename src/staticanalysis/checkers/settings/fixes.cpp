// Fixes of the settings findings: a setting given the value Django's
// deployment checklist asks for, a middleware added to MIDDLEWARE, a
// setting taken out. As text edits for the project fixer (only the lines
// concerned change) and as tree edits for the code transformation.
#include <pybind11/gil_safe_call_once.h>
#include "staticanalysis/helpers/pathtext.hpp"
#include <pybind11/stl.h>

#include <algorithm>
#include <map>

#include "staticanalysis/checkers/settings/settings.hpp"
#include "staticanalysis/helpers/tokens.hpp"

namespace tessary::settings {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.settings";

// The Django version the fixes judge by when no linter says it.
std::string& fix_version() {
  static std::string version = "3.2";
  return version;
}

struct Change {
  enum Kind { set_value, add_setting, add_middleware, remove } kind;
  std::string name;   // the setting
  std::string value;  // its source text
  std::string middleware;
};

// What the fix of a finding does.
Change change_of(const Finding& finding) {
  std::string id = finding.id;
  if (id == "C4005" || id == "C4015") return {Change::remove, "", "", ""};
  if (id == "C4007" || id == "C4008" || id == "C4009")
    return {Change::add_middleware, "MIDDLEWARE", "", py::str(finding.args["middleware"])};
  std::string name = py::str(finding.args["name"]);
  std::string value = id == "C4010" ? "3600" : "True";
  return {finding.node.is_none() ? Change::add_setting : Change::set_value, name, value, ""};
}

// Middleware order as Django's project template has it: where a new entry
// goes among the ones there.
enum class Place { first, after_common, last };
Place place_of(const std::string& middleware) {
  if (middleware.find("SecurityMiddleware") != std::string::npos) return Place::first;
  if (middleware.find("CsrfViewMiddleware") != std::string::npos) return Place::after_common;
  return Place::last;
}

// The element index before which `middleware` goes.
size_t insertion_index(const std::vector<std::string>& entries, const std::string& middleware) {
  switch (place_of(middleware)) {
    case Place::first:
      return 0;
    case Place::after_common:
      for (size_t i = entries.size(); i-- > 0;)
        if (entries[i].find("CommonMiddleware") != std::string::npos ||
            entries[i].find("SessionMiddleware") != std::string::npos)
          return i + 1;
      // Else before the clickjacking middleware, which the project
      // template lists last.
      for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].find("XFrameOptionsMiddleware") != std::string::npos) return i;
      return entries.size();
    case Place::last:
      break;
  }
  return entries.size();
}

std::vector<std::string> string_entries(const Node& list) {
  std::vector<std::string> entries;
  for (const Node& element : list.nodes(ast().elts)) {
    py::object value = element.isa(ast().Const) ? element.get(ast().value) : py::object(py::none());
    entries.push_back(py::isinstance<py::str>(value) ? py::str(value).cast<std::string>() : "");
  }
  return entries;
}

// The findings of `module` (a settings module of the project running with
// `settings_modpath`) that lie in it.
std::vector<Finding> findings_in(const Node& module, const std::string& settings_modpath,
                                 const std::set<std::string>* fixing = nullptr) {
  std::string name = path_bytes(module.get(ast().name));
  Node named = module;
  if (name != settings_modpath) {
    try {
      named = Node(ast().manager.attr("ast_from_module_name")(settings_modpath));
    } catch (py::error_already_set&) {
      return {};
    }
  }
  std::vector<Finding> out;
  for (Finding& finding : settings_findings(named, fix_version(), module, fixing)) {
    bool here = finding.node.is_none() ? name == settings_modpath
                                       : path_bytes(finding.node.root().get(ast().name)) == name;
    // An assignment that shares its line with another statement is not
    // taken apart.
    if (here) out.push_back(std::move(finding));
  }
  return out;
}

// Byte offset of (line, column) in a UTF-8 text; columns are byte offsets
// as the parser gives them.
long offset_of(const std::vector<long>& starts, long line, long column) {
  return starts[static_cast<size_t>(line - 1)] + column;
}

std::vector<long> line_starts(const std::string& text) {
  std::vector<long> starts{0};
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') starts.push_back(static_cast<long>(i + 1));
  return starts;
}

long attr_long(const Node& node, const char* name) { return node.get(py::str(name)).cast<long>(); }

// The statement list of its parent that holds `statement` (a body, an
// else branch, a finally block), or nullopt.
std::optional<py::list> holding_list(const Node& statement) {
  py::object parent = statement.parent().obj();
  for (const char* field : {"body", "orelse", "finalbody"}) {
    py::object statements = py::getattr(parent, field, py::none());
    if (py::isinstance<py::list>(statements) && py::list(statements).contains(statement.obj()))
      return py::list(statements);
  }
  return std::nullopt;
}

// Whether taking `statement` out would leave a block empty (the only
// statement under an if, a try, ...): it is then replaced with `pass`.
bool alone_in_block(const Node& statement) {
  if (statement.parent().isa(ast().Module)) return false;
  std::optional<py::list> statements = holding_list(statement);
  return statements && statements->size() == 1;
}

// The quote a file's strings use most.
char quote_of(const std::string& text) {
  return std::count(text.begin(), text.end(), '\'') > std::count(text.begin(), text.end(), '"') ? '\'' : '"';
}

// The settings the fixes add, by name.
bool is_added_setting(const std::string& name) {
  static const std::set<std::string> names{
      "SECURE_HSTS_SECONDS", "SECURE_HSTS_INCLUDE_SUBDOMAINS", "SECURE_HSTS_PRELOAD", "SECURE_CONTENT_TYPE_NOSNIFF",
      "SECURE_SSL_REDIRECT", "SESSION_COOKIE_SECURE",          "CSRF_COOKIE_SECURE",  "MIDDLEWARE"};
  return names.count(name) > 0;
}

// The first top-level statement after which a setting written in this
// module may be overridden from elsewhere: a star import or an exec of
// another settings file, or a call handed the module's globals(), that
// follows a setting of the module's own (a star import of the base above
// every setting is not one).
// Whether a top-level statement assigns a setting (an upper-case name).
bool assigns_setting(const Node& statement) {
  const Astroid& a = ast();
  std::vector<Node> targets;
  if (statement.isa(a.Assign)) targets = statement.nodes(a.targets);
  else if (statement.isa(a.AnnAssign)) targets.push_back(statement.child(py::str("target")));
  for (const Node& target : targets) {
    std::optional<std::string> name = target.isa(a.AssignName) ? target.name() : std::nullopt;
    if (name && !name->empty() && std::isupper(static_cast<unsigned char>(name->front())) &&
        std::all_of(name->begin(), name->end(), [](char c) {
          return std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '_';
        }))
      return true;
  }
  return false;
}

std::optional<Node> first_override(const Node& module) {
  const Astroid& a = ast();
  bool seen_setting = false;
  for (const Node& statement : module.nodes(a.body)) {
    if (statement.isa(a.Assign) || statement.isa(a.AnnAssign)) {
      seen_setting = seen_setting || assigns_setting(statement);
      continue;
    }
    if (!seen_setting) continue;
    std::vector<Node> imports = statement.descendants(a.ImportFrom);
    if (statement.isa(a.ImportFrom)) imports.insert(imports.begin(), statement);
    for (const Node& import : imports) {
      if (!import.frame().isa(a.Module)) continue;
      for (py::handle pair : import.get(py::str("names")))
        if (py::str(py::tuple(py::reinterpret_borrow<py::object>(pair))[0]).cast<std::string>() == "*")
          return statement;
    }
    for (const Node& call : statement.descendants(a.Call)) {
      if (!call.frame().isa(a.Module) || !call.func().isa(a.Name)) continue;
      std::optional<std::string> called = call.func().name();
      if (called == "exec" || called == "execfile") return statement;
      for (const Node& argument : call.nodes(a.args))
        if (argument.isa(a.Call) && argument.func().isa(a.Name) && argument.func().name() == "globals")
          return statement;
    }
  }
  return std::nullopt;
}

// Where settings the module lacks are written, and what goes before them:
// at the end, or, when the module lets another file override its settings
// (a local_settings.py, an environment's module), just after the last
// setting above that point, so that the override still has the last word.
// A blank line sets them apart, unless they join settings of their kind.
std::pair<long, std::string> added_settings_place(const Node& module, const std::string& text) {
  const Astroid& a = ast();
  std::vector<long> starts = line_starts(text);
  std::optional<Node> override = first_override(module);
  std::optional<Node> last;
  if (override) {
    for (const Node& statement : module.nodes(a.body)) {
      if (statement.is(*override)) break;
      if (assigns_setting(statement)) last = statement;
    }
  }
  long at = static_cast<long>(text.size());
  std::string prefix = text.empty() || text.back() == '\n' ? "" : "\n";
  // The last line before the place, to tell whether it is blank or an
  // added setting.
  std::string previous;
  if (last && attr_long(*last, "end_lineno") < static_cast<long>(starts.size())) {
    long line = attr_long(*last, "end_lineno");
    at = starts[static_cast<size_t>(line)];
    prefix.clear();
    previous = text.substr(static_cast<size_t>(starts[static_cast<size_t>(line - 1)]),
                           static_cast<size_t>(at - starts[static_cast<size_t>(line - 1)]));
  } else {
    size_t end = text.find_last_not_of("\r\n");
    if (end != std::string::npos) {
      size_t begin = text.rfind('\n', end);
      previous = text.substr(begin == std::string::npos ? 0 : begin + 1, end + 1 - (begin == std::string::npos ? 0 : begin + 1));
      // Blank lines at the end already set the new ones apart.
      if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\n\n") == 0) previous.clear();
    }
  }
  size_t name_end = previous.find_first_of(" =");
  bool joins = name_end != std::string::npos && is_added_setting(previous.substr(0, name_end));
  if (!previous.empty() && previous.find_first_not_of(" \t\r\n") != std::string::npos && !joins) prefix += "\n";
  return {at, prefix};
}

// The text edit of one change in `text`; nullopt when it cannot be made
// without touching other code.
std::optional<TextEdit> text_edit(const Finding& finding, const std::string& text, const Node& module) {
  const Astroid& a = ast();
  Change change = change_of(finding);
  std::vector<long> starts = line_starts(text);
  char quote = quote_of(text);
  if (change.kind == Change::add_setting) {
    auto [at, prefix] = added_settings_place(module, text);
    return TextEdit{at, at, prefix + change.name + " = " + change.value + "\n"};
  }
  const Node& statement = finding.node;
  if (statement.is_none()) return std::nullopt;  // an absent MIDDLEWARE: see new_middleware_list
  long first = attr_long(statement, "lineno"), last = attr_long(statement, "end_lineno");
  if (last > static_cast<long>(starts.size())) return std::nullopt;
  if (change.kind == Change::remove) {
    long start = offset_of(starts, first, attr_long(statement, "col_offset"));
    long end = offset_of(starts, last, attr_long(statement, "end_col_offset"));
    if (alone_in_block(statement)) return TextEdit{start, end, "pass"};
    // The whole lines of a statement that stands alone on them.
    long line_start = starts[static_cast<size_t>(first - 1)];
    long line_end = last < static_cast<long>(starts.size()) ? starts[static_cast<size_t>(last)] : static_cast<long>(text.size());
    std::string before = text.substr(line_start, start - line_start), after = text.substr(end, line_end - end);
    if (before.find_first_not_of(" \t") != std::string::npos) return std::nullopt;
    size_t rest = after.find_first_not_of(" \t\r\n");
    if (rest != std::string::npos && after[rest] != '#') return std::nullopt;
    return TextEdit{line_start, line_end, ""};
  }
  Node value = statement.child(a.value);
  if (change.kind == Change::set_value) {
    long start = offset_of(starts, attr_long(value, "lineno"), attr_long(value, "col_offset"));
    long end = offset_of(starts, attr_long(value, "end_lineno"), attr_long(value, "end_col_offset"));
    return TextEdit{start, end, change.value};
  }
  // A middleware added to the literal list.
  if (!value.isa(a.List) && !value.isa(a.Tuple)) return std::nullopt;
  std::vector<Node> elements = value.nodes(a.elts);
  std::string entry = std::string(1, quote) + change.middleware + quote;
  if (elements.empty()) return std::nullopt;
  size_t index = insertion_index(string_entries(value), change.middleware);
  bool one_line = attr_long(value, "lineno") == attr_long(value, "end_lineno");
  if (one_line || attr_long(elements.front(), "lineno") == attr_long(elements.back(), "lineno")) {
    if (index == 0) {
      long at = offset_of(starts, attr_long(elements[0], "lineno"), attr_long(elements[0], "col_offset"));
      return TextEdit{at, at, entry + ", "};
    }
    const Node& before = elements[index - 1];
    long at = offset_of(starts, attr_long(before, "end_lineno"), attr_long(before, "end_col_offset"));
    return TextEdit{at, at, ", " + entry};
  }
  // One entry per line: a line of its own, indented as the others.
  long first_line = attr_long(elements[0], "lineno");
  std::string indentation(static_cast<size_t>(attr_long(elements[0], "col_offset")), ' ');
  std::string line_text = text.substr(starts[static_cast<size_t>(first_line - 1)],
                                      static_cast<size_t>(attr_long(elements[0], "col_offset")));
  if (line_text.find_first_not_of(" \t") != std::string::npos) return std::nullopt;
  indentation = line_text;
  if (index < elements.size()) {
    long line = attr_long(elements[index], "lineno");
    long at = starts[static_cast<size_t>(line - 1)];
    return TextEdit{at, at, indentation + entry + ",\n"};
  }
  const Node& previous = elements.back();
  long end = offset_of(starts, attr_long(previous, "end_lineno"), attr_long(previous, "end_col_offset"));
  long line = attr_long(previous, "end_lineno");
  long next_line = line < static_cast<long>(starts.size()) ? starts[static_cast<size_t>(line)] : static_cast<long>(text.size());
  std::string rest = text.substr(end, next_line - end);
  if (rest.rfind(",", 0) == 0) return TextEdit{next_line, next_line, indentation + entry + ",\n"};
  return TextEdit{end, end, ",\n" + indentation + entry};
}

// The same change made to the tree.
void tree_edit(const Finding& finding, const Node& module) {
  const Astroid& a = ast();
  Change change = change_of(finding);
  if (change.kind == Change::add_setting) {
    py::object statement = a.extract_node(change.name + " = " + change.value);
    statement.attr("parent") = module.obj();
    module.get(a.body).attr("append")(statement);
    return;
  }
  const Node& statement = finding.node;
  if (finding.node.is_none()) {
    // No MIDDLEWARE to add to: one of its own at the end of the module
    // (the next middleware fix adds to it).
    if (change.kind != Change::add_middleware) return;
    py::object created =
        a.extract_node("MIDDLEWARE = [" + py::repr(py::str(change.middleware)).cast<std::string>() + "]");
    created.attr("parent") = module.obj();
    module.get(a.body).attr("append")(created);
    return;
  }
  if (change.kind == Change::remove) {
    std::optional<py::list> statements = holding_list(statement);
    if (!statements) return;
    if (alone_in_block(statement)) {
      // A block is never left empty.
      py::object pass = a.astroid.attr("nodes").attr("Pass")(
          py::arg("lineno") = statement.get(a.lineno), py::arg("col_offset") = statement.get(py::str("col_offset")),
          py::arg("parent") = statement.parent().obj());
      (*statements)[0] = pass;
      return;
    }
    statements->attr("remove")(statement.obj());
    return;
  }
  Node value = statement.child(a.value);
  if (change.kind == Change::set_value) {
    py::object constant = a.astroid.attr("nodes").attr("const_factory")(
        change.value == "True" ? py::object(py::bool_(true)) : py::object(py::int_(std::stol(change.value))));
    constant.attr("parent") = statement.obj();
    constant.attr("lineno") = value.get(a.lineno);
    py::setattr(statement.obj(), a.value, constant);
    return;
  }
  if (!value.isa(a.List) && !value.isa(a.Tuple)) return;
  py::object constant = a.astroid.attr("nodes").attr("const_factory")(py::str(change.middleware));
  constant.attr("parent") = value.obj();
  py::list elements = value.get(a.elts);
  size_t index = insertion_index(string_entries(value), change.middleware);
  elements.attr("insert")(index, constant);
}

// The rules with a fix, with their Part names: predicate and transform.
struct NamedFix {
  const char* id;
  const char* predicate;
  const char* transform;
};
constexpr NamedFix kFixes[] = {
    {"C4007", "is_missing_security_middleware", "add_security_middlware"},
    {"C4008", "is_missing_xframe_middleware", "add_xframe_middlware"},
    {"C4009", "is_missing_csrf_middleware", "add_csrf_middlware"},
    {"C4010", "is_missing_secure_hsts_seconds", "add_hsts_seconds"},
    {"C4011", "is_missing_secure_hsts_subdomains", "add_hsts_subdomains"},
    {"C4012", "is_missing_secure_content_type_nosniff", "add_secure_content_type_nosniff"},
    {"C4013", "is_missing_secure_ssl_redirect", "add_secure_ssl_redirect"},
    {"C4014", "is_missing_session_cookie_secure", "add_session_cookie_secure"},
    {"C4015", "is_session_cookie_http_only_insecure", "remove_session_cookie_http_only"},
    {"C4016", "is_missing_csrf_cookie_secure", "add_csrf_cookie_secure"},
    {"C4017", "is_missing_secure_hsts_preload", "add_hsts_preload"},
    {"C4005", "is_obsolete_setting", "remove_obsolete_setting"},
};

}  // namespace

// One edit for the middlewares missing from a MIDDLEWARE the module does
// not set, or sets to an empty list: the list written whole, in the order
// of Django's project template (each finding alone would write its own).
std::optional<TextEdit> new_middleware_list(const std::vector<const Finding*>& findings, const std::string& text,
                                            const Node& module) {
  if (findings.empty()) return std::nullopt;
  const Astroid& a = ast();
  char quote = quote_of(text);
  std::vector<std::string> entries;
  for (const Finding* finding : findings) {
    std::string middleware = change_of(*finding).middleware;
    if (std::find(entries.begin(), entries.end(), middleware) == entries.end()) entries.push_back(middleware);
  }
  std::stable_sort(entries.begin(), entries.end(), [](const std::string& x, const std::string& y) {
    return static_cast<int>(place_of(x)) < static_cast<int>(place_of(y));
  });
  const Node& statement = findings.front()->node;
  bool tuple = !statement.is_none() && statement.child(a.value).isa(a.Tuple);
  std::string list = tuple ? "(\n" : "[\n";
  for (const std::string& entry : entries) list += "    " + std::string(1, quote) + entry + quote + ",\n";
  list += tuple ? ")" : "]";
  if (statement.is_none()) {
    auto [at, prefix] = added_settings_place(module, text);
    return TextEdit{at, at, prefix + "MIDDLEWARE = " + list + "\n"};
  }
  std::vector<long> starts = line_starts(text);
  Node value = statement.child(a.value);
  if (attr_long(value, "end_lineno") > static_cast<long>(starts.size())) return std::nullopt;
  long start = offset_of(starts, attr_long(value, "lineno"), attr_long(value, "col_offset"));
  long end = offset_of(starts, attr_long(value, "end_lineno"), attr_long(value, "end_col_offset"));
  return TextEdit{start, end, list};
}

bool adds_to_no_list(const Finding& finding) {
  if (change_of(finding).kind != Change::add_middleware) return false;
  if (finding.node.is_none()) return true;
  Node value = finding.node.child(ast().value);
  return (value.isa(ast().List) || value.isa(ast().Tuple)) && value.nodes(ast().elts).empty();
}

std::vector<TextEdit> settings_text_edits(const Node& module, const std::string& text,
                                          const std::vector<std::string>& ids, const std::string& settings_modpath,
                                          const std::string& django_version, bool as_fixed) {
  fix_version() = django_version;
  std::vector<TextEdit> edits;
  std::set<std::string> fixing(ids.begin(), ids.end());
  std::vector<Finding> findings = findings_in(module, settings_modpath, as_fixed ? &fixing : nullptr);
  std::vector<const Finding*> to_new_list;
  for (const Finding& finding : findings) {
    if (!fixing.count(finding.id)) continue;
    if (adds_to_no_list(finding)) {
      to_new_list.push_back(&finding);
    } else if (std::optional<TextEdit> edit = text_edit(finding, text, module)) {
      edit->ids = {finding.id};
      edits.push_back(*edit);
    }
  }
  if (std::optional<TextEdit> edit = new_middleware_list(to_new_list, text, module)) {
    for (const Finding* finding : to_new_list) edit->ids.push_back(finding->id);
    edits.push_back(*edit);
  }
  // Settings added to the module go in one edit, in id order (other edits
  // may come between them in the findings' order).
  long place = added_settings_place(module, text).first;
  std::vector<TextEdit> merged;
  std::optional<size_t> at_end;
  for (const TextEdit& edit : edits) {
    if (edit.start == place && edit.end == edit.start) {
      if (at_end) {
        merged[*at_end].text += edit.text.substr(edit.text.find_first_not_of('\n'));
        merged[*at_end].ids.insert(merged[*at_end].ids.end(), edit.ids.begin(), edit.ids.end());
        continue;
      }
      at_end = merged.size();
    }
    merged.push_back(edit);
  }
  return merged;
}

std::set<std::string> files_to_fix(const std::vector<std::string>& ids, const std::string& settings_modpath,
                                   const std::string& django_version) {
  fix_version() = django_version;
  std::set<std::string> files;
  Node named;
  try {
    named = Node(ast().manager.attr("ast_from_module_name")(settings_modpath));
  } catch (py::error_already_set&) {
    return files;
  }
  auto file_of = [](const Node& module) {
    py::object file = py::getattr(module.obj(), "file", py::none());
    return file.is_none() ? std::string() : path_bytes(file);
  };
  files.insert(file_of(named));
  std::set<std::string> fixing(ids.begin(), ids.end());
  for (const Finding& finding : settings_findings(named, fix_version(), Node(), &fixing))
    if (fixing.count(finding.id) && !finding.node.is_none()) files.insert(file_of(finding.node.root()));
  files.erase(std::string());
  return files;
}

void bind_fixes(py::module_& m) {
  for (const NamedFix& fix : kFixes) {
    std::string id = fix.id;
    m.def(
        fix.predicate,
        [id](py::object module_node, const std::string& settings_modpath) {
          if (!py::isinstance(module_node, ast().Module) || settings_modpath.empty()) return false;
          for (const Finding& finding : findings_in(Node(module_node), settings_modpath))
            if (finding.id == id) return true;
          return false;
        },
        py::arg("module_node"), py::arg("settings_modpath"));
    m.def(
        fix.transform,
        [id](py::object module_node, py::object settings_modpath) {
          Node module(module_node);
          std::string named = settings_modpath.is_none() ? path_bytes(module.get(ast().name))
                                                         : std::string(py::str(settings_modpath));
          std::vector<Finding> findings = findings_in(module, named);
          // Right to left: list insertions keep their places.
          for (auto it = findings.rbegin(); it != findings.rend(); ++it)
            if (it->id == id) tree_edit(*it, module);
          return module_node;
        },
        py::arg("node"), py::arg("settings_modpath") = py::none());
  }
  m.def(
      "build_transformer_visitor",
      [m](py::iterable message_ids, const std::string& settings_modpath) {
        py::object visitor = py::module_::import("astroid.transforms").attr("TransformVisitor")();
        std::set<std::string> ids;
        for (py::handle id : message_ids) ids.insert(py::str(id));
        for (const NamedFix& fix : kFixes) {
          if (!ids.count(fix.id)) continue;
          py::object predicate = m.attr(fix.predicate), transform = m.attr(fix.transform);
          visitor.attr("register_transform")(
              ast().Module, py::cpp_function([transform, settings_modpath](py::object node) {
                return transform(node, settings_modpath);
              }),
              py::cpp_function([predicate, settings_modpath](py::object node) {
                return predicate(py::arg("module_node") = node, py::arg("settings_modpath") = settings_modpath);
              }));
        }
        return visitor;
      },
      py::arg("message_ids"), py::arg("settings_modpath"));
  m.def(
      "remove_node",
      [](py::object atok, py::object node, long start, long end) {
        // The lines of the statement go; the suggestion replaces them with
        // nothing.
        (void)atok;
        (void)node;
        return py::make_tuple(start, end, "");
      },
      py::arg("atok"), py::arg("node"), py::arg("start"), py::arg("end"));
  m.def(
      "set_django_version", [](const std::string& version) { fix_version() = version; }, py::arg("version"));
}

}  // namespace tessary::settings

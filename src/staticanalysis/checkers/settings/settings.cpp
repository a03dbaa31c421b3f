#include "staticanalysis/checkers/settings/settings.hpp"
#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/read_file.hpp"

#include <pybind11/stl.h>

#include <algorithm>

#include "staticanalysis/helpers/paths.hpp"
#include "staticanalysis/helpers/project_scope.hpp"
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "staticanalysis/helpers/pyclass.hpp"

namespace tessary::settings {

namespace fs = std::filesystem;

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.settings";

constexpr const char* kSecurity = "django.middleware.security.SecurityMiddleware";
constexpr const char* kXFrame = "django.middleware.clickjacking.XFrameOptionsMiddleware";
constexpr const char* kCsrf = "django.middleware.csrf.CsrfViewMiddleware";
constexpr const char* kSessions = "django.contrib.sessions.middleware.SessionMiddleware";

// A literal value: a constant, or a list or tuple of literals; nullopt for
// anything computed (an environment read, a name, a call).
std::optional<py::object> literal(const Node& node) {
  const Astroid& a = ast();
  if (node.isa(a.Const)) return node.get(a.value);
  if (node.isa(a.List) || node.isa(a.Tuple)) {
    py::list values;
    for (const Node& element : node.nodes(a.elts)) {
      std::optional<py::object> value = literal(element);
      if (!value) return std::nullopt;
      values.append(*value);
    }
    return py::object(values);
  }
  if (node.isa(a.UnaryOp) && node.text(a.op) == std::optional<std::string>("-")) {
    std::optional<py::object> value = literal(node.child(a.operand));
    if (value && py::isinstance<py::int_>(*value)) return py::object(-py::int_(*value));
  }
  return std::nullopt;
}

bool is_setting_name(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }) && name[0] != '_';
}

// One statement that gives a setting a value.
struct Assignment {
  Node statement;               // Assign, AnnAssign or AugAssign
  std::optional<py::object> value;  // nullopt: not a literal
  bool augmented = false;
  // Its place in the order the settings run in when Django imports the
  // settings module (a later one wins); -1 for a statement of a module
  // that is not imported then (a sibling such as local.py).
  long runs_at = -1;
};

// What the settings modules say, all of them taken together.
struct View {
  std::map<std::string, std::vector<Assignment>> assigned;
  // Entries added to a list setting by calls (MIDDLEWARE.append(...)).
  std::map<std::string, std::vector<std::optional<py::object>>> added;
};

// What tells two trees of one module apart from two modules: its file
// (one file may be parsed under two dotted names), else its name.
std::string module_key(const Node& module) {
  py::object file = py::getattr(module.obj(), "file", py::none());
  if (!file.is_none() && py::isinstance<py::str>(file)) {
    std::error_code ec;
    fs::path path = fs::weakly_canonical(fs::path(path_bytes(file)), ec);
    return ec ? path_bytes(file) : path.string();
  }
  return path_bytes(module.get(ast().name));
}

// The dotted name the linter gives a file: its packages, from the highest
// folder with an __init__.py down.
std::string package_dotted_name(const fs::path& file) {
  std::string name = file.filename() == "__init__.py" ? "" : file.stem().string();
  for (fs::path folder = file.parent_path(); !folder.empty() && folder != folder.root_path() &&
                                             is_file(folder / "__init__.py");
       folder = folder.parent_path())
    name = folder.filename().string() + (name.empty() ? "" : "." + name);
  return name;
}

// The module a star-import statement names, or none.
Node star_imported(const Node& statement) {
  if (!statement.isa(ast().ImportFrom)) return Node();
  py::list names = statement.get(py::str("names"));
  if (names.size() != 1 || py::str(names[0][py::int_(0)]).cast<std::string>() != "*") return Node();
  try {
    return Node(statement.get(py::str("do_import_module"))(statement.get(py::str("modname"))));
  } catch (py::error_already_set&) {
    // Not on the analysis's path: Django runs with manage.py's folder on
    // sys.path, which may lie below the folder analysed. The module is
    // looked for above the importing one.
  }
  std::string modname = py::str(statement.get(py::str("modname")));
  py::object file = py::getattr(statement.root().obj(), "file", py::none());
  if (modname.empty() || modname[0] == '.' || file.is_none()) return Node();
  std::string relative = modname;
  std::replace(relative.begin(), relative.end(), '.', '/');
  // Never above the analysed project (or, for a text checked on its own,
  // above its top package's folder): a repository must not make tessary
  // read a file from elsewhere on the machine.
  std::string root = analysed_project_root();
  for (fs::path folder = fs::path(path_bytes(file)).parent_path(); !folder.empty() && folder != folder.root_path();
       folder = folder.parent_path()) {
    if (!root.empty() && (folder.string() + "/").rfind(root, 0) != 0) break;
    for (const fs::path& candidate : {folder / (relative + ".py"), folder / relative / "__init__.py"}) {
      std::error_code ec;
      if (!fs::is_regular_file(candidate, ec) || !unreadable_because(candidate, kSourceFileCap).empty()) continue;
      if (!root.empty() && fs::weakly_canonical(candidate, ec).string().rfind(root, 0) != 0) continue;
      try {
        // Under the name the linter gives the file, so that it is the tree
        // the linter (and a fix) works on.
        return Node(ast().manager.attr("ast_from_file")(candidate.string(), package_dotted_name(candidate)));
      } catch (py::error_already_set&) {
        return Node();  // a module that does not parse gives no settings
      }
    }
    if (root.empty() && !is_file(folder / "__init__.py")) break;
  }
  return Node();
}

// The project modules a settings module draws from: those it star-imports
// (again and again), and when it lives in a settings package, the other
// modules of that package. `linted`, when given, is the tree of the text
// being linted or fixed: it stands for the module of its name, whose file
// on disk (or astroid's cached tree of it) may say something else.
std::vector<Node> settings_modules(const Node& named, const Node& linted) {
  const Astroid& a = ast();
  std::vector<Node> found;
  std::set<std::string> seen;
  std::string name = path_bytes(named.get(a.name));
  std::string top = name.substr(0, name.find('.'));
  std::string linted_name = linted.is_none() ? std::string() : path_bytes(linted.get(a.name));
  std::vector<Node> pending{!linted.is_none() && linted_name == name ? linted : named};
  // The folder the settings module's dotted name starts from: a module
  // star-imported by another name (`from core.settings.base import *`
  // beside a module linted as `site.core.settings.prod`) is the project's
  // when its file lies below it.
  std::string project_folder;
  if (py::object own = py::getattr(named.obj(), "file", py::none()); !own.is_none()) {
    fs::path folder = fs::path(path_bytes(own)).parent_path();
    if (fs::path(path_bytes(own)).filename() == "__init__.py") folder = folder.parent_path();
    for (size_t dots = std::count(name.begin(), name.end(), '.'); dots > 0 && !folder.empty(); --dots)
      folder = folder.parent_path();
    project_folder = folder.string();
  }
  auto add = [&](const Node& module) {
    std::string module_name = path_bytes(module.get(a.name));
    std::string key = module_key(module);
    bool inside = !project_folder.empty() && key.rfind(project_folder + "/", 0) == 0;
    if (!inside && module_name.substr(0, module_name.find('.')) != top) return;  // not the project's
    if (seen.insert(key).second) pending.push_back(module_name == linted_name ? linted : module);
  };
  seen.insert(module_key(named));
  // The settings package's other modules.
  py::object file = py::getattr(named.obj(), "file", py::none());
  if (!file.is_none()) {
    fs::path path(path_bytes(file));
    fs::path folder = path.parent_path();
    bool package = path.filename() == "__init__.py" || folder.filename() == "settings";
    if (package && folder.filename() == "settings") {
      std::string package_name = path.filename() == "__init__.py" ? name : name.substr(0, name.rfind('.'));
      std::error_code ec;
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().extension() == ".py" && entry.path() != path) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path& sibling : files) {
        if (!unreadable_because(sibling, kSourceFileCap).empty()) continue;  // a FIFO, a device, a huge file
        std::string stem = sibling.stem().string();
        std::string sibling_name = stem == "__init__" ? package_name : package_name + "." + stem;
        try {
          add(Node(a.manager.attr("ast_from_file")(sibling.string(), sibling_name)));
        } catch (py::error_already_set&) {
          // A module that does not parse gives no settings.
        }
      }
    }
  }
  while (!pending.empty()) {
    Node module = pending.back();
    pending.pop_back();
    found.push_back(module);
    for (const Node& statement : module.nodes(a.body)) {
      Node imported = star_imported(statement);
      if (!imported.is_none()) add(imported);
    }
  }
  return found;
}

// The order in which the settings statements of `modules` run when Django
// imports `named` (the first of them to run): a module's statements in
// tree order, a star-import of one of `modules` standing for that module's
// statements (each module runs once). By statement; the statements of a
// module that does not run are not there.
std::map<PyObject*, long> run_order(const Node& named, const std::vector<Node>& modules) {
  const Astroid& a = ast();
  std::map<std::string, Node> by_name;
  for (const Node& module : modules) by_name.emplace(module_key(module), module);
  py::object AugAssign = a.astroid.attr("nodes").attr("AugAssign");
  py::tuple kinds = py::make_tuple(a.Assign, a.AnnAssign, AugAssign, a.Call, a.ImportFrom);
  std::map<PyObject*, long> order;
  std::set<std::string> ran;
  long next = 0;
  std::function<void(const Node&)> run = [&](const Node& module) {
    if (!ran.insert(module_key(module)).second) return;
    for (py::handle handle : module.get(a.nodes_of_class)(kinds)) {
      Node node = Node::of(handle);
      if (!node.frame().is(module)) continue;
      if (!node.isa(a.ImportFrom)) {
        order[node.obj().ptr()] = next++;
        continue;
      }
      Node imported = star_imported(node);
      if (imported.is_none()) continue;
      auto known = by_name.find(module_key(imported));
      if (known != by_name.end()) run(known->second);
    }
  };
  Node first = named;
  if (auto known = by_name.find(module_key(named)); known != by_name.end()) first = known->second;
  run(first);
  return order;
}

View read_settings(const std::vector<Node>& modules, const std::map<PyObject*, long>& order) {
  const Astroid& a = ast();
  View view;
  py::object AugAssign = a.astroid.attr("nodes").attr("AugAssign");
  for (const Node& module : modules) {
    for (py::handle handle : module.get(a.nodes_of_class)(py::make_tuple(a.Assign, a.AnnAssign, AugAssign, a.Call))) {
      Node node = Node::of(handle);
      if (!node.frame().is(module)) continue;
      if (node.isa(a.Call)) {
        // LIST.append(x), LIST.insert(i, x), LIST.extend([...]) at module level.
        Node callee = node.func();
        std::optional<std::string> method = callee.attrname();
        if (!method || !callee.child(a.expr).isa(a.Name)) continue;
        std::string target = *callee.child(a.expr).name();
        std::vector<Node> args = node.nodes(a.args);
        if (*method == "append" && args.size() == 1) view.added[target].push_back(literal(args[0]));
        else if (*method == "insert" && args.size() == 2) view.added[target].push_back(literal(args[1]));
        else if (*method == "extend" && args.size() == 1) {
          std::optional<py::object> values = literal(args[0]);
          if (!values) view.added[target].push_back(std::nullopt);
          else
            for (py::handle value : *values) view.added[target].push_back(py::reinterpret_borrow<py::object>(value));
        }
        continue;
      }
      std::vector<Node> targets;
      if (node.isa(a.Assign)) targets = node.nodes(a.targets);
      else targets.push_back(node.child(py::str("target")));
      Node value = node.child(a.value);
      if (value.is_none()) continue;
      for (const Node& target : targets) {
        if (!target.isa(a.AssignName)) continue;
        std::string name = *target.name();
        if (!is_setting_name(name)) continue;
        auto runs = order.find(node.obj().ptr());
        long runs_at = runs == order.end() ? -1 : runs->second;
        view.assigned[name].push_back({node, literal(value), node.isa(AugAssign), runs_at});
      }
    }
  }
  return view;
}

// A setting as the settings modules leave it.
struct Setting {
  bool assigned = false;
  bool known = true;  // every value a literal
  std::vector<Assignment> assignments;
};

Setting setting(const View& view, const std::string& name) {
  Setting out;
  auto found = view.assigned.find(name);
  if (found == view.assigned.end()) return out;
  out.assigned = true;
  out.assignments = found->second;
  for (const Assignment& assignment : found->second) out.known = out.known && assignment.value.has_value();
  return out;
}

// The entries of a list setting (MIDDLEWARE, INSTALLED_APPS), or nullopt
// when some of them are not literal.
std::optional<std::set<std::string>> list_setting(const View& view, const std::string& name) {
  std::set<std::string> entries;
  Setting s = setting(view, name);
  if (!s.known) return std::nullopt;
  for (const Assignment& assignment : s.assignments) {
    if (!py::isinstance<py::list>(*assignment.value)) return std::nullopt;
    for (py::handle entry : *assignment.value)
      if (py::isinstance<py::str>(entry)) entries.insert(py::str(entry));
  }
  auto added = view.added.find(name);
  if (added != view.added.end()) {
    for (const auto& value : added->second) {
      if (!value) return std::nullopt;
      if (py::isinstance<py::str>(*value)) entries.insert(py::str(*value));
    }
  }
  return entries;
}

// The assignment that gives a setting its value when the settings run:
// the last of those that `counts` among the modules Django imports, or
// none (no module that runs assigns it that way).
template <class Counts>
Node effective(const std::vector<Assignment>& assignments, Counts counts) {
  const Assignment* last = nullptr;
  for (const Assignment& assignment : assignments)
    if (assignment.runs_at >= 0 && !assignment.augmented && counts(assignment) &&
        (!last || assignment.runs_at > last->runs_at))
      last = &assignment;
  return last ? last->statement : Node();
}

// The literal list assignment of a list setting in effect: where an entry
// is added (none: the list is written anew).
Node list_statement(const View& view, const std::string& name) {
  auto found = view.assigned.find(name);
  if (found == view.assigned.end()) return Node();
  return effective(found->second, [](const Assignment& assignment) {
    return assignment.value && py::isinstance<py::list>(*assignment.value);
  });
}

// Django's default for a setting in a feature release.
py::object default_setting(const std::string& version, const std::string& name) {
  py::object defaults = py::module_::import("tessary.staticanalysis.dependencies")
                            .attr("get_default_django_settings")(version);
  return py::getattr(defaults, name.c_str(), py::none());
}

// Settings of older releases that `version` no longer has.
std::set<std::string> obsolete_settings(const std::string& version) {
  // The default settings of a release never change: worked out once.
  static std::map<std::string, std::set<std::string>> known;
  if (auto found = known.find(version); found != known.end()) return found->second;
  py::module_ dependencies = py::module_::import("tessary.staticanalysis.dependencies");
  std::set<std::string> older, current;
  for (py::handle name : py::module_::import("builtins").attr("dir")(dependencies.attr("get_default_django_settings")(version)))
    current.insert(py::str(name));
  for (py::handle known : dependencies.attr("versions")) {
    std::string release = py::str(known);
    if (release == version) break;
    for (py::handle name : py::module_::import("builtins").attr("dir")(dependencies.attr("get_default_django_settings")(release)))
      if (is_setting_name(py::str(name))) older.insert(py::str(name));
  }
  std::set<std::string> gone;
  for (const std::string& name : older)
    if (!current.count(name)) gone.insert(name);
  return known.emplace(version, gone).first->second;
}

// Whether every value of a setting is the literal True; nullopt when a
// value is not literal. A setting no module assigns has Django's default.
std::optional<bool> is_true(const Setting& s, const py::object& default_value) {
  if (!s.known) return std::nullopt;
  if (!s.assigned) return default_value.is(py::bool_(true));
  return std::any_of(s.assignments.begin(), s.assignments.end(),
                     [](const Assignment& x) { return x.value->is(py::bool_(true)); });
}

// The statement to fix for a setting that is not right: the assignment in
// effect when the settings run, or none (the setting is added to the
// settings module, as one made in a module that does not run, such as a
// sibling local.py, changes nothing).
Node wrong_assignment(const Setting& s) {
  return effective(s.assignments, [](const Assignment&) { return true; });
}

py::dict arguments(std::initializer_list<std::pair<const char*, std::string>> items) {
  py::dict args;
  for (const auto& [key, value] : items) args[key] = value;
  return args;
}

}  // namespace

std::vector<Finding> settings_findings(const Node& module, const std::string& django_version, const Node& linted,
                                       const std::set<std::string>* fixing) {
  std::vector<Finding> findings;
  std::vector<Node> modules = settings_modules(module, linted);
  View view = read_settings(modules, run_order(module, modules));
  // A MIDDLEWARE that the settings add to but never assign is defined
  // where they cannot be followed (a star-import of a module outside the
  // project): unknown, and never replaced by a list of one.
  std::optional<std::set<std::string>> middleware =
      view.assigned.count("MIDDLEWARE_CLASSES") ? std::nullopt
      : view.assigned.count("MIDDLEWARE")       ? list_setting(view, "MIDDLEWARE")
      : view.added.count("MIDDLEWARE")          ? std::nullopt
                                                : std::optional<std::set<std::string>>(std::set<std::string>());
  Node middleware_at = list_statement(view, "MIDDLEWARE");
  if (middleware) {
    for (auto [id, dotted] : {std::pair{"C4007", kSecurity}, {"C4008", kXFrame}, {"C4009", kCsrf}})
      if (!middleware->count(dotted)) findings.push_back({id, middleware_at, arguments({{"middleware", dotted}})});
  }
  auto check_true = [&](const char* id, const char* name) {
    Setting s = setting(view, name);
    std::optional<bool> good = is_true(s, default_setting(django_version, name));
    if (good && !*good) findings.push_back({id, wrong_assignment(s), arguments({{"name", name}})});
  };
  // The middleware once the fixes being made are in.
  std::optional<std::set<std::string>> installed = middleware;
  auto fixed = [fixing](const char* id) { return fixing && fixing->count(id) > 0; };
  if (installed)
    for (auto [id, dotted] : {std::pair{"C4007", kSecurity}, {"C4008", kXFrame}, {"C4009", kCsrf}})
      if (fixed(id)) installed->insert(dotted);
  bool security = installed && installed->count(kSecurity);
  if (security) {
    Setting hsts = setting(view, "SECURE_HSTS_SECONDS");
    if (hsts.known) {
      bool on = std::any_of(hsts.assignments.begin(), hsts.assignments.end(),
                            [](const Assignment& x) { return py::bool_(*x.value).cast<bool>(); });
      if (!on) findings.push_back({"C4010", wrong_assignment(hsts), arguments({{"name", "SECURE_HSTS_SECONDS"}})});
      if (on || fixed("C4010")) {
        check_true("C4011", "SECURE_HSTS_INCLUDE_SUBDOMAINS");
        check_true("C4017", "SECURE_HSTS_PRELOAD");
      }
    }
    check_true("C4012", "SECURE_CONTENT_TYPE_NOSNIFF");
    check_true("C4013", "SECURE_SSL_REDIRECT");
  }
  std::optional<std::set<std::string>> apps = list_setting(view, "INSTALLED_APPS");
  bool sessions = (apps && apps->count("django.contrib.sessions")) || (middleware && middleware->count(kSessions));
  if (sessions) {
    check_true("C4014", "SESSION_COOKIE_SECURE");
    Setting http_only = setting(view, "SESSION_COOKIE_HTTPONLY");
    for (const Assignment& assignment : http_only.assignments)
      if (assignment.value && assignment.value->is(py::bool_(false)))
        findings.push_back({"C4015", assignment.statement, arguments({{"name", "SESSION_COOKIE_HTTPONLY"}})});
  }
  if (installed && installed->count(kCsrf)) check_true("C4016", "CSRF_COOKIE_SECURE");
  std::set<std::string> gone = obsolete_settings(django_version);
  for (const auto& [name, assignments] : view.assigned) {
    if (!gone.count(name)) continue;
    for (const Assignment& assignment : assignments)
      findings.push_back({"C4005", assignment.statement, arguments({{"name", name}, {"version", django_version}})});
  }
  std::sort(findings.begin(), findings.end(), [](const Finding& x, const Finding& y) { return x.id < y.id; });
  return findings;
}

}  // namespace tessary::settings

// --------------------------------------------------------------------------
// The checker

namespace tessary::settings {

namespace {

std::string django_version_of(const py::object& checker) {
  return py::str(checker.attr("linter").attr("config").attr("django_version"));
}

// Settings a test suite runs with (tests/settings.py, test_settings.py):
// what a deployment needs is not their business.
bool is_test_settings(const std::string& modpath) {
  std::stringstream parts(modpath);
  for (std::string part; std::getline(parts, part, '.');) {
    if (part == "test" || part == "tests" || part == "testing" || part.rfind("test_", 0) == 0 ||
        part.rfind("tests_", 0) == 0)
      return true;
    for (std::string_view tail : {"_test", "_tests", "_testing"})
      if (part.size() > tail.size() && part.compare(part.size() - tail.size(), tail.size(), tail) == 0) return true;
  }
  return false;
}

// The findings of every settings module the linter was told of, made once
// per linter run.
py::list findings_of_run(const py::object& self, const py::object& visited) {
  if (py::hasattr(self, "_settings_findings")) return self.attr("_settings_findings");
  py::list all;
  std::string version = django_version_of(self);
  for (py::handle modpath : py::list(self.attr("linter").attr("config").attr("settings_files"))) {
    std::string name = py::str(modpath);
    if (name.empty()) continue;
    try {
      // The module being linted is the text the linter was given, which
      // may not be the file on disk (the fixer lints what it wrote).
      Node named(path_bytes(visited.attr("name")) == name
                     ? visited
                     : py::object(ast().manager.attr("ast_from_module_name")(name)));
      bool test_suite = is_test_settings(name);
      for (const Finding& finding : settings_findings(named, version, Node(visited))) {
        // Only the obsolete-setting check speaks to a test suite's settings.
        if (test_suite && finding.id != "C4005") continue;
        all.append(py::make_tuple(name, finding.id, finding.node.obj(), finding.args));
      }
    } catch (py::error_already_set&) {
      // A settings module that is not there or does not parse: nothing to say.
    }
  }
  self.attr("_settings_findings") = all;
  return all;
}

void visit_module(py::object self, py::object node) {
  std::string name = path_bytes(node.attr("name"));
  for (py::handle entry : findings_of_run(self, node)) {
    std::string named = py::str(entry[py::int_(0)]);
    py::object where = entry[py::int_(2)];
    std::string id = py::str(entry[py::int_(1)]);
    if (where.is_none()) {
      // A setting no module assigns: the first line of the module the
      // project runs with.
      if (name == named)
        self.attr("add_message")(id, py::arg("line") = 1, py::arg("node") = node, py::arg("args") = entry[py::int_(3)]);
    } else if (path_bytes(where.attr("root")().attr("name")) == name) {
      self.attr("add_message")(id, py::arg("line") = where.attr("lineno"), py::arg("node") = where,
                               py::arg("args") = entry[py::int_(3)]);
    }
  }
}

}  // namespace

const py::object& checker_class() {
  return made_once([] { return make_checker_class(kModule, "settings", kRules, {}, {{"visit_module", &visit_module}}); });
}

}  // namespace tessary::settings

namespace tessary::settings {

void bind(py::module_& m) {
  bind_rules(m, kModule, kRules, checker_class());
  bind_fixes(m);
}

}  // namespace tessary::settings

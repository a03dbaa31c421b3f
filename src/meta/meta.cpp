#include "meta/meta.hpp"

#include "staticanalysis/helpers/paths.hpp"
#include "staticanalysis/helpers/read_file.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <span>
#include <sstream>

#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"
#include "staticanalysis/checkers/methodrules/methodrules.hpp"
#include "meta/project.hpp"
#include "staticanalysis/helpers/pyclass.hpp"
#include "staticanalysis/dependencies/dependencies.hpp"
#include "staticanalysis/helpers/scan.hpp"

namespace tessary::meta {

namespace {

std::optional<fs::path>& chosen_config_file();

}  // namespace

fs::path config_file(const fs::path& project_root) {
  return chosen_config_file() ? *chosen_config_file() : project_root / "pyproject.toml";
}

void use_config_file(const std::optional<fs::path>& path) { chosen_config_file() = path; }

namespace {

constexpr long kDefaultLineLength = 88;

// A small file of the analysed environment (pyvenv.cfg, a .pth file, a
// package's __init__): a regular file within the cap, else nothing.
std::optional<std::string> read_text(const fs::path& path) { return read_regular_file(path, kConfigFileCap).bytes; }

// The configuration file named on the command line (--config), if any.
std::optional<fs::path>& chosen_config_file() {
  static std::optional<fs::path> path;
  return path;
}

// The parsed configuration file (the project's pyproject.toml, or the one
// named with --config), or an empty map when the project has none. A file
// that is not valid TOML, or a named one that cannot be read, is a
// configuration error worth stopping for.
py::dict read_pyproject(const fs::path& project_root) {
  fs::path path = config_file(project_root);
  std::optional<std::string> text;
  if (chosen_config_file()) {
    FileBytes read = read_regular_file(path, kConfigFileCap);
    if (!read.bytes) throw py::value_error(path.string() + ": " + (read.missing ? "no such file" : read.problem));
    text = std::move(read.bytes);
  } else {
    text = project_file_or_warn(project_root, path);
  }
  if (!text) return py::dict();
  py::object tomllib = dependencies::toml_reader();
  try {
    return tomllib.attr("loads")(py::str(*text));
  } catch (py::error_already_set& err) {
    throw py::value_error(path.string() + ": " + py::str(err.value()).cast<std::string>());
  }
}

py::dict tool_table(const py::dict& pyproject, const char* name) {
  py::object tool = pyproject.attr("get")("tool", py::dict());
  if (!py::isinstance<py::dict>(tool)) return py::dict();
  py::object table = tool.attr("get")(name, py::dict());
  if (!py::isinstance<py::dict>(table)) return py::dict();
  return table;
}

std::string dotted(const fs::path& relative) {
  std::string out;
  for (const fs::path& part : relative) {
    if (!out.empty()) out += '.';
    out += part.string();
  }
  return out;
}

// A module path (a.b.settings) as a file below the root, if it is there.
std::optional<fs::path> module_file(const std::string& modpath, const fs::path& root) {
  fs::path base = root;
  std::stringstream parts(modpath);
  for (std::string part; std::getline(parts, part, '.');) base /= part;
  fs::path as_module = base;
  as_module += ".py";
  if (is_file(as_module)) return as_module;
  if (is_file(base / "__init__.py")) return base / "__init__.py";
  return std::nullopt;
}

// The literal text assigned to NAME at the start of a line.
std::optional<std::string> literal_setting(const fs::path& root, const fs::path& file, const std::string& name) {
  std::optional<std::string> text = project_file_or_warn(root, file);
  if (!text) return std::nullopt;
  std::regex pattern("^" + name + R"re(\s*=\s*(?:"([^"\n]*)"|'([^'\n]*)'))re");
  std::optional<std::string> value;
  for_each_short_line(*text, [&](const std::string& line, size_t) {
    std::smatch match;
    if (!value && std::regex_search(line, match, pattern)) value = match[1].matched ? match[1].str() : match[2].str();
  });
  return value;
}

}  // namespace

const py::object& manage_file_missing_error() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::object> storage;
  return storage
      .call_once_and_store_result([] {
        py::tuple bases = py::make_tuple(py::reinterpret_borrow<py::object>(PyExc_Exception));
        return make_class("ManageFileMissingError", bases, py::dict(), "tessary.meta");
      })
      .get_stored();
}

namespace {

// Keys of [tool.tessary] that configure the command line, not the linter.
bool front_end_key(const std::string& key) {
  return key == "select" || key == "ignore" || key == "extend-select" || key == "extend-ignore" ||
         key == "python" || key == "unsafe-fixes" || key == "exclude" || key == "per-file-ignores";
}

bool is_text(const py::handle& value) { return py::isinstance<py::str>(value); }

bool is_texts(const py::handle& value) {
  if (is_text(value)) return true;
  if (!py::isinstance<py::list>(value)) return false;
  for (py::handle item : value)
    if (!is_text(item)) return false;
  return true;
}

// What is wrong with one [tool.tessary] entry, or "" when it is right.
std::string config_problem(const std::string& key, const py::handle& value) {
  bool is_bool = py::isinstance<py::bool_>(value);
  for (std::span<const IntOption> options : {std::span<const IntOption>(fieldrules::kOptions),
                                             std::span<const IntOption>(methodrules::kOptions)}) {
    for (const IntOption& option : options) {
      if (key != option.name) continue;
      if (is_bool || !py::isinstance<py::int_>(value)) return "must be a whole number";
      if (value.cast<long long>() < 1) return "must be 1 or more";
      return "";
    }
  }
  if (key == "select" || key == "ignore" || key == "extend-select" || key == "extend-ignore" ||
      key == "settings-files")
    return is_texts(value) ? "" : "must be a text or a list of texts";
  if (key == "exclude") {
    if (!py::isinstance<py::list>(value) || !is_texts(value)) return "must be a list of texts";
    for (py::handle pattern : value) {
      std::string problem = pattern_problem(py::str(pattern));
      if (!problem.empty()) return problem;
    }
    return "";
  }
  if (key == "per-file-ignores") {
    if (!py::isinstance<py::dict>(value)) return "must be a table of patterns and lists of ids";
    for (auto entry : py::reinterpret_borrow<py::dict>(value)) {
      std::string pattern = py::str(entry.first);
      std::string problem = pattern_problem(pattern);
      if (!problem.empty()) return problem;
      if (!is_texts(entry.second)) return "\"" + pattern + "\" must be a text or a list of texts";
    }
    return "";
  }
  if (key == "python" || key == "root-urlconf" || key == "django-version") return is_text(value) ? "" : "must be a text";
  if (key == "unsafe-fixes") return is_bool ? "" : "must be true or false";
  return "is not a tessary option";
}

// [tool.tessary] with hyphenated keys, split into linter and front-end keys.
// A wrong type, an out-of-range number or an unknown key is an error
// naming the file and the key.
py::dict tessary_table(const fs::path& project_root, bool front_end) {
  py::dict out;
  for (auto item : tool_table(read_pyproject(project_root), "tessary")) {
    std::string key = py::str(item.first);
    std::replace(key.begin(), key.end(), '_', '-');
    std::string problem = config_problem(key, item.second);
    if (!problem.empty())
      throw py::value_error(config_file(project_root).string() + ": [tool.tessary] " +
                            py::str(item.first).cast<std::string>() + " " + problem);
    if (front_end_key(key) == front_end) out[py::str(key)] = item.second;
  }
  return out;
}

}  // namespace

py::dict get_toml_config(const fs::path& project_root) { return tessary_table(project_root, false); }

py::dict get_front_end_config(const fs::path& project_root) { return tessary_table(project_root, true); }

fs::path get_manage_file(const fs::path& project_root) {
  if (is_file(project_root / "manage.py")) return project_root / "manage.py";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(project_root, ec)) {
    if (entry.is_directory(ec) && !skipped_folder(entry.path()) && is_file(entry.path() / "manage.py"))
      return entry.path() / "manage.py";
  }
  PyErr_SetString(manage_file_missing_error().ptr(),
                  ("no manage.py found in " + project_root.string()).c_str());
  throw py::error_already_set();
}

namespace {

// The DJANGO_SETTINGS_MODULE a file names: os.environ.setdefault(...) in
// manage.py, wsgi.py or asgi.py, `DJANGO_SETTINGS_MODULE = x` in a pytest
// configuration.
std::optional<std::string> named_settings(const fs::path& root, const fs::path& file) {
  static const std::regex in_code(R"re(DJANGO_SETTINGS_MODULE["']\s*,\s*["']([A-Za-z_][\w.]*)["'])re");
  static const std::regex in_config(R"re(^\s*["']?DJANGO_SETTINGS_MODULE["']?\s*[=:]\s*["']?([A-Za-z_][\w.]*))re");
  std::optional<std::string> text = project_file_or_warn(root, file);
  if (!text) return std::nullopt;
  bool code = file.extension() == ".py";
  std::optional<std::string> named;
  for_each_short_line(*text, [&](const std::string& line, size_t) {
    std::smatch match;
    if (!named && std::regex_search(line, match, code ? in_code : in_config)) named = match[1].str();
  });
  return named;
}

// A module named from a file in `folder` as a module path from the
// project root, when its file is there: the name is read from the root,
// or from the folder of the file or one above it (manage.py puts its own
// folder on the path; wsgi.py usually lies one package below it).
std::optional<std::string> settings_modpath_from(const std::string& named, const fs::path& folder,
                                                 const fs::path& root) {
  if (module_file(named, root)) return named;
  std::error_code ec;
  for (fs::path relative = fs::relative(folder, root, ec); !ec && !relative.empty() && relative != ".";
       relative = relative.parent_path()) {
    std::string prefixed = dotted(relative) + "." + named;
    if (module_file(prefixed, root)) return prefixed;
  }
  return std::nullopt;
}

// How many of the settings every Django project sets a file assigns.
int core_settings_assigned(const fs::path& root, const fs::path& file) {
  static const std::regex assigned(R"re(^(INSTALLED_APPS|DATABASES|ROOT_URLCONF|MIDDLEWARE)\s*(?::[^=]*)?\+?=)re");
  std::optional<std::string> text = project_file_or_warn(root, file);
  if (!text) return 0;
  std::set<std::string> names;
  for_each_short_line(*text, [&](const std::string& line, size_t) {
    std::smatch match;
    if (std::regex_search(line, match, assigned)) names.insert(match[1].str());
  });
  return static_cast<int>(names.size());
}

bool assigns_core_settings(const fs::path& root, const fs::path& module_or_package) {
  if (!fs::is_directory(module_or_package)) return core_settings_assigned(root, module_or_package) >= 2;
  // A settings package: its modules together (base.py, production.py).
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(module_or_package, ec))
    if (entry.path().extension() == ".py" && core_settings_assigned(root, entry.path()) >= 2) return true;
  return false;
}

}  // namespace

// Whether a named settings module has settings in it: it assigns a name
// in capitals or star-imports a module that may (a package's __init__.py
// that holds only a docstring has none).
static bool holds_settings(const fs::path& root, const std::string& modpath) {
  static const std::regex setting(R"re(^[A-Z][A-Z0-9_]*\s*(?::[^=]*)?\+?=|import \*)re");
  std::optional<fs::path> file = module_file(modpath, root);
  if (!file) return false;
  std::optional<std::string> text = project_file_or_warn(root, *file);
  if (!text) return false;
  bool found = false;
  for_each_short_line(*text, [&](const std::string& line, size_t) {
    found = found || std::regex_search(line, setting);
  });
  return found;
}

std::vector<std::string> get_settings_files(const fs::path& project_root) {
  std::vector<std::string> out;
  for (const auto& [modpath, how] : find_settings_modules(project_root)) out.push_back(modpath);
  return out;
}

std::vector<std::pair<std::string, std::string>> find_settings_modules(const fs::path& project_root) {
  // The module the project runs with, as its manage.py, wsgi.py, asgi.py
  // or pytest configuration names it.
  std::vector<std::pair<std::string, std::string>> named;
  std::string origin;
  auto add = [&named, &project_root, &origin](const std::string& modpath) {
    bool known = std::any_of(named.begin(), named.end(), [&](const auto& entry) { return entry.first == modpath; });
    if (!known && holds_settings(project_root, modpath)) named.emplace_back(modpath, "named by " + origin);
  };
  origin = "manage.py";
  if (is_file(project_root / "manage.py"))
    if (std::optional<std::string> name = named_settings(project_root, project_root / "manage.py"))
      if (std::optional<std::string> modpath = settings_modpath_from(*name, project_root, project_root)) add(*modpath);
  if (!named.empty()) return named;
  for (const char* config : {"pytest.ini", "pyproject.toml", "setup.cfg", "tox.ini"}) {
    origin = config;
    if (is_file(project_root / config))
      if (std::optional<std::string> name = named_settings(project_root, project_root / config))
        if (std::optional<std::string> modpath = settings_modpath_from(*name, project_root, project_root)) add(*modpath);
  }
  std::error_code ec;
  std::vector<fs::path> settings_candidates;
  fs::recursive_directory_iterator it(project_root, fs::directory_options::skip_permission_denied, ec), end;
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    const fs::path& path = it->path();
    if (it->is_directory(ec)) {
      if (skipped_folder(path)) {
        it.disable_recursion_pending();
        continue;
      }
      if (path.filename() == "settings" && is_file(path / "__init__.py")) settings_candidates.push_back(path);
      continue;
    }
    std::string name = path.filename().string();
    if (name == "settings.py") settings_candidates.push_back(path);
    if ((name == "manage.py" || name == "wsgi.py" || name == "asgi.py") && it.depth() <= 3) {
      origin = fs::relative(path, project_root).generic_string();
      if (std::optional<std::string> named_here = named_settings(project_root, path))
        if (std::optional<std::string> modpath = settings_modpath_from(*named_here, path.parent_path(), project_root))
          add(*modpath);
    }
  }
  if (!named.empty()) return named;
  // Otherwise the modules or packages named settings that assign at least
  // two of the settings every project has: an app's own defaults module or
  // a view module named settings.py is not a settings module.
  std::vector<std::pair<std::string, std::string>> found;
  for (const fs::path& path : settings_candidates) {
    if (!assigns_core_settings(project_root, path)) continue;
    fs::path relative = fs::relative(path, project_root);
    if (relative.extension() == ".py") relative.replace_extension();
    found.emplace_back(dotted(relative), "named settings and assigns the settings every project has");
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string get_settings_modpath(const fs::path& project_root) {
  std::vector<std::string> files = get_settings_files(project_root);
  return files.empty() ? std::string() : files.front();
}

namespace {

// The files a settings module's values are read from: the module, or for
// a settings package its __init__.py and then its other modules.
std::vector<fs::path> settings_sources(const std::string& modpath, const fs::path& root) {
  std::optional<fs::path> file = module_file(modpath, root);
  if (!file) return {};
  std::vector<fs::path> files{*file};
  if (file->filename() != "__init__.py") return files;
  std::vector<fs::path> others;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(file->parent_path(), ec))
    if (entry.path().extension() == ".py" && entry.path().filename() != "__init__.py") others.push_back(entry.path());
  std::sort(others.begin(), others.end());
  files.insert(files.end(), others.begin(), others.end());
  return files;
}

std::optional<std::string> setting_value(const std::vector<std::string>& settings_files, const fs::path& root,
                                         const std::string& name) {
  for (const std::string& modpath : settings_files)
    for (const fs::path& file : settings_sources(modpath, root))
      if (std::optional<std::string> value = literal_setting(root, file, name)) return value;
  return std::nullopt;
}

}  // namespace

std::string get_root_urlconf(const std::vector<std::string>& settings_files, const fs::path& project_root) {
  return setting_value(settings_files, project_root, "ROOT_URLCONF").value_or("");
}

std::string static_url_of(const fs::path& project_root) {
  return get_static_url_setting(project_root).value_or("/static/");
}

std::optional<std::string> get_static_url_setting(const fs::path& project_root) {
  return setting_value(get_settings_files(project_root), project_root, "STATIC_URL");
}

std::vector<std::string> template_folder_names(const fs::path& project_root) {
  std::vector<std::string> names;
  for (const std::string& modpath : get_settings_files(project_root)) {
    for (const fs::path& file : settings_sources(modpath, project_root)) {
      std::optional<std::string> text = read_text(file);
      if (!text) continue;
      for (size_t at = text->find("DIRS"); at != std::string::npos; at = text->find("DIRS", at + 4)) {
        // The list that follows, as far as its closing bracket.
        size_t open = text->find('[', at);
        if (open == std::string::npos || open - at > 16) continue;
        size_t close = text->find(']', open);
        if (close == std::string::npos || close - open > 2000) continue;
        std::string list = text->substr(open, close - open);
        for (size_t q = list.find_first_of("\"'"); q != std::string::npos; q = list.find_first_of("\"'", q + 1)) {
          size_t end = list.find(list[q], q + 1);
          if (end == std::string::npos) break;
          std::string part = list.substr(q + 1, end - q - 1);
          while (!part.empty() && part.back() == '/') part.pop_back();
          size_t slash = part.rfind('/');
          part = slash == std::string::npos ? part : part.substr(slash + 1);
          if (!part.empty() && part != "." && part != "..") names.push_back(part);
          q = end;
        }
      }
    }
  }
  return names;
}

bool is_template_path(const std::string& relative, const std::vector<std::string>& folder_names) {
  std::vector<std::string> folders;
  for (size_t start = 0;;) {
    size_t slash = relative.find('/', start);
    if (slash == std::string::npos) break;
    folders.push_back(relative.substr(start, slash - start));
    start = slash + 1;
  }
  bool under_templates = false;
  for (const std::string& folder : folders) {
    // Static files and Jinja2 templates are HTML that Django's template
    // engine never renders.
    if (folder == "static" || folder == "jinja2" || folder == "node_modules") return false;
    if (folder == "templates") under_templates = true;
    for (const std::string& name : folder_names)
      if (folder == name) under_templates = true;
  }
  return under_templates;
}

namespace {

// What an app configuration class of apps.py says of itself, as literals.
struct AppConfigClass {
  std::string class_name;
  std::optional<std::string> label, name;
  std::optional<bool> default_choice;  // its `default`, when it sets one
};

// The literal `str` or `bool` assigned to `attribute` in a class body.
std::optional<py::object> class_literal(const py::handle& cls, const char* attribute, const py::object& Const,
                                        const py::object& Name, const py::object& Assign,
                                        const py::object& AnnAssign) {
  std::optional<py::object> found;
  for (py::handle statement : cls.attr("body")) {
    py::list targets;
    if (py::isinstance(statement, Assign)) targets = statement.attr("targets");
    else if (py::isinstance(statement, AnnAssign)) targets.append(statement.attr("target"));
    else continue;
    py::object value = statement.attr("value");
    for (py::handle target : targets) {
      if (!py::isinstance(target, Name) || py::str(target.attr("id")).cast<std::string>() != attribute) continue;
      // A later assignment wins, as the class body runs; a computed value
      // is not known.
      found = !value.is_none() && py::isinstance(value, Const) ? std::optional<py::object>(value.attr("value"))
                                                                : std::nullopt;
    }
  }
  return found;
}

// The app configuration classes of an apps.py, in order: classes whose
// base is AppConfig (by name, or `apps.AppConfig`) or an earlier one of
// them, whose unset attributes they inherit.
std::vector<AppConfigClass> app_config_classes(const std::string& source) {
  py::module_ ast = py::module_::import("ast");
  py::object Const = ast.attr("Constant"), Name = ast.attr("Name"), Attribute = ast.attr("Attribute"),
             ClassDef = ast.attr("ClassDef"), Assign = ast.attr("Assign"), AnnAssign = ast.attr("AnnAssign");
  py::object tree = ast.attr("parse")(py::bytes(source));
  std::vector<AppConfigClass> found;
  for (py::handle statement : tree.attr("body")) {
    if (!py::isinstance(statement, ClassDef)) continue;
    const AppConfigClass* parent = nullptr;
    bool config = false;
    for (py::handle base : statement.attr("bases")) {
      std::string base_name = py::isinstance(base, Name)        ? py::str(base.attr("id")).cast<std::string>()
                              : py::isinstance(base, Attribute) ? py::str(base.attr("attr")).cast<std::string>()
                                                                : std::string();
      if (base_name == "AppConfig") config = true;
      for (const AppConfigClass& earlier : found)
        if (py::isinstance(base, Name) && earlier.class_name == base_name) config = true, parent = &earlier;
    }
    if (!config) continue;
    AppConfigClass cls = parent ? *parent : AppConfigClass{};
    cls.class_name = py::str(statement.attr("name"));
    auto text = [](const std::optional<py::object>& value) {
      return value && py::isinstance<py::str>(*value) ? std::optional<std::string>(py::str(*value)) : std::nullopt;
    };
    if (auto label = class_literal(statement, "label", Const, Name, Assign, AnnAssign)) cls.label = text(label);
    if (auto name = class_literal(statement, "name", Const, Name, Assign, AnnAssign)) cls.name = text(name);
    if (auto choice = class_literal(statement, "default", Const, Name, Assign, AnnAssign))
      cls.default_choice = py::isinstance<py::bool_>(*choice) ? std::optional<bool>(choice->cast<bool>()) : std::nullopt;
    found.push_back(cls);
  }
  return found;
}

}  // namespace

std::string app_label(const fs::path& project_root, const fs::path& app_folder) {
  std::string folder_name = app_folder.filename().string();
  std::optional<std::string> source = project_file_or_warn(project_root, app_folder / "apps.py");
  if (!source) return folder_name;
  std::vector<AppConfigClass> classes;
  try {
    classes = app_config_classes(*source);
  } catch (py::error_already_set&) {
    return folder_name;  // an apps.py that does not parse names nothing
  }
  // Django's choice: the one configuration that does not say default =
  // False, else the one that says default = True, else none (the plain
  // AppConfig, labelled after the app's module).
  std::vector<const AppConfigClass*> candidates, chosen_by_default;
  for (const AppConfigClass& cls : classes) {
    if (cls.default_choice != std::optional<bool>(false)) candidates.push_back(&cls);
    if (cls.default_choice == std::optional<bool>(true)) chosen_by_default.push_back(&cls);
  }
  const AppConfigClass* chosen = candidates.size() == 1          ? candidates.front()
                                 : chosen_by_default.size() == 1 ? chosen_by_default.front()
                                                                 : nullptr;
  if (!chosen) return folder_name;
  if (chosen->label && !chosen->label->empty()) return *chosen->label;
  if (chosen->name && !chosen->name->empty()) return chosen->name->substr(chosen->name->rfind('.') + 1);
  return folder_name;
}

py::dict get_code_style(const fs::path& project_root) {
  py::dict black = tool_table(read_pyproject(project_root), "black");
  py::object length = black.attr("get")("line-length", black.attr("get")("line_length", py::none()));
  if (!length.is_none() && (py::isinstance<py::bool_>(length) || !py::isinstance<py::int_>(length) ||
                            length.cast<long long>() < 1))
    throw py::value_error(config_file(project_root).string() +
                          ": [tool.black] line-length must be a positive whole number");
  py::dict style;
  style["line_length"] = length.is_none() ? py::int_(kDefaultLineLength) : length;
  return style;
}

}  // namespace tessary::meta

namespace tessary::meta {

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool same_folder(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return !a.empty() && !b.empty() && fs::equivalent(a, b, ec);
}

// The `key = value` entries of pyvenv.cfg.
std::optional<std::string> pyvenv_value(const fs::path& prefix, const std::string& key) {
  std::optional<std::string> text = read_text(prefix / "pyvenv.cfg");
  if (!text) return std::nullopt;
  std::stringstream lines(*text);
  for (std::string line; std::getline(lines, line);) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    auto trim = [](std::string s) {
      size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
      return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
    };
    if (lower(trim(line.substr(0, eq))) == key) return trim(line.substr(eq + 1));
  }
  return std::nullopt;
}

// site-packages of one prefix: lib/pythonX.Y/site-packages (POSIX, also
// lib64) or Lib/site-packages (Windows).
std::vector<fs::path> site_packages_of(const fs::path& prefix) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const char* lib : {"lib", "lib64"}) {
    std::vector<fs::path> versions;
    for (const auto& entry : fs::directory_iterator(prefix / lib, ec)) {
      std::string name = entry.path().filename().string();
      if (name.rfind("python", 0) == 0 && is_folder(entry.path() / "site-packages"))
        versions.push_back(entry.path() / "site-packages");
    }
    std::sort(versions.begin(), versions.end());
    for (const fs::path& path : versions) {
      bool known = std::any_of(found.begin(), found.end(), [&](const fs::path& p) { return same_folder(p, path); });
      if (!known) found.push_back(path);
    }
  }
  if (is_folder(prefix / "Lib" / "site-packages") &&
      !std::any_of(found.begin(), found.end(), [&](const fs::path& p) { return same_folder(p, prefix / "Lib" / "site-packages"); }))
    found.push_back(prefix / "Lib" / "site-packages");
  return found;
}

// The folders a site-packages folder's .pth files add. Lines that start
// with "import" are code, run by the interpreter at start-up: never here.
std::vector<fs::path> pth_folders(const fs::path& site) {
  std::vector<fs::path> files, out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(site, ec))
    if (entry.path().extension() == ".pth") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::optional<std::string> text = read_text(file);
    if (!text) continue;
    std::stringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
      if (line.empty() || line[0] == '#' || line.rfind("import ", 0) == 0 || line.rfind("import\t", 0) == 0) continue;
      fs::path folder = fs::path(line).is_absolute() ? fs::path(line) : site / line;
      if (fs::is_directory(folder, ec)) out.push_back(folder.lexically_normal());
    }
  }
  return out;
}

// A virtual environment folder, or the folder of one given by its
// interpreter (bin/python, Scripts/python.exe).
fs::path environment_prefix(const fs::path& given) {
  std::error_code ec;
  if (fs::is_directory(given, ec)) return given;
  fs::path folder = given.parent_path();
  std::string name = lower(folder.filename().string());
  if (name == "bin" || name == "scripts") return folder.parent_path();
  return folder;
}

}  // namespace

std::vector<fs::path> environment_paths(const fs::path& prefix) {
  std::vector<fs::path> out;
  auto add = [&](const fs::path& path) {
    if (std::none_of(out.begin(), out.end(), [&](const fs::path& p) { return same_folder(p, path); }))
      out.push_back(path);
  };
  std::vector<fs::path> sites = site_packages_of(prefix);
  // A virtual environment made with --system-site-packages sees its base
  // interpreter's packages too, after its own.
  if (std::optional<std::string> shared = pyvenv_value(prefix, "include-system-site-packages");
      shared && lower(*shared) == "true") {
    if (std::optional<std::string> home = pyvenv_value(prefix, "home")) {
      fs::path base = fs::path(*home);
      std::string last = lower(base.filename().string());
      if (last == "bin" || last == "scripts") base = base.parent_path();
      for (const fs::path& site : site_packages_of(base)) sites.push_back(site);
    }
  }
  for (const fs::path& site : sites) {
    add(site);
    for (const fs::path& folder : pth_folders(site)) add(folder);
  }
  return out;
}

PythonEnvironment find_python_environment(const fs::path& project_root,
                                          const std::optional<fs::path>& explicit_python,
                                          const fs::path& own_prefix) {
  auto chosen = [&](const fs::path& given, std::string source) {
    PythonEnvironment env;
    std::error_code ec;
    // An interpreter's path may name a file that is not there (a layout
    // copied from another machine); the environment's folder must be.
    fs::path prefix = environment_prefix(given);
    if (prefix.empty() || !fs::exists(prefix, ec))
      throw py::value_error(source + " " + given.string() + ": no such file or folder");
    env.prefix = fs::absolute(prefix, ec).lexically_normal();
    if (ec) throw py::value_error(source + " " + given.string() + ": " + ec.message());
    env.source = std::move(source);
    env.paths = environment_paths(env.prefix);
    if (env.paths.empty())
      throw py::value_error(env.source + " " + given.string() + ": not a Python environment (no site-packages folder)");
    return env;
  };
  if (explicit_python) return chosen(*explicit_python, "--python");
  py::object configured = tool_table(read_pyproject(project_root), "tessary").attr("get")("python", py::none());
  if (!configured.is_none()) {
    if (!py::isinstance<py::str>(configured))
      throw py::value_error(config_file(project_root).string() +
                            ": [tool.tessary] python must be a path text");
    fs::path path(configured.cast<std::string>());
    return chosen(path.is_absolute() ? path : project_root / path, "[tool.tessary] python");
  }
  // An environment variable that names tessary's own environment (a
  // pre-commit hook's, pipx's) says nothing about the project.
  const char* virtual_env = std::getenv("VIRTUAL_ENV");
  if (virtual_env && *virtual_env && is_folder(virtual_env) && !same_folder(virtual_env, own_prefix))
    return chosen(virtual_env, "$VIRTUAL_ENV");
  std::vector<fs::path> candidates;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(project_root, ec))
    if (entry.is_directory(ec) && is_file(entry.path() / "pyvenv.cfg")) candidates.push_back(entry.path());
  // The usual names first, then any other folder, by name.
  auto rank = [](const fs::path& p) {
    static const std::vector<std::string> usual = {".venv", "venv", "env", ".env", "virtualenv"};
    auto at = std::find(usual.begin(), usual.end(), p.filename().string());
    return std::make_pair(static_cast<long>(at - usual.begin()), p.filename().string());
  };
  std::sort(candidates.begin(), candidates.end(), [&](const fs::path& a, const fs::path& b) { return rank(a) < rank(b); });
  PythonEnvironment own;
  own.source = "tessary's own";
  for (const fs::path& folder : candidates) {
    if (same_folder(folder, own_prefix)) return own;  // tessary is installed in the project's environment
    if (!environment_paths(folder).empty()) return chosen(folder, "the project's " + folder.filename().string());
  }
  const char* conda = std::getenv("CONDA_PREFIX");
  if (conda && *conda && is_folder(conda) && !same_folder(conda, own_prefix) && !site_packages_of(conda).empty())
    return chosen(conda, "$CONDA_PREFIX");
  return own;
}

std::optional<std::string> installed_version(const std::vector<fs::path>& paths, const std::string& distribution) {
  static const std::regex info(R"(^([A-Za-z0-9_.\-]+?)-([0-9][^-]*?)(?:-py[0-9.]+)?\.(?:dist|egg)-info$)");
  static const std::regex version_tuple(R"(^VERSION\s*=\s*\(\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+))");
  std::string wanted = lower(distribution);
  std::replace(wanted.begin(), wanted.end(), '-', '_');
  std::error_code ec;
  for (const fs::path& folder : paths) {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(folder, ec)) entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
      std::string name = entry.filename().string();
      std::smatch match;
      if (!std::regex_match(name, match, info)) continue;
      std::string dist = lower(match[1].str());
      std::replace(dist.begin(), dist.end(), '-', '_');
      std::replace(dist.begin(), dist.end(), '.', '_');
      if (dist == wanted) return match[2].str();
    }
    fs::path package = folder / wanted / "__init__.py";
    if (fs::is_regular_file(package, ec)) {
      std::optional<std::string> text = read_text(package);
      std::optional<std::string> version;
      if (text) {
        for_each_short_line(*text, [&](const std::string& line, size_t) {
          std::smatch match;
          if (!version && std::regex_search(line, match, version_tuple))
            version = match[1].str() + "." + match[2].str() + "." + match[3].str();
        });
      }
      return version.value_or("unknown");
    }
  }
  return std::nullopt;
}

}  // namespace tessary::meta

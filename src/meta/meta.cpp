#include "meta/meta.hpp"

#include <pybind11/gil_safe_call_once.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "staticanalysis/helpers/pyclass.hpp"

namespace tessary::meta {

namespace {

constexpr long kDefaultLineLength = 88;

std::optional<std::string> read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// The parsed pyproject.toml, or an empty map when there is none. A file
// that is not valid TOML is a configuration error worth stopping for.
py::dict read_pyproject(const fs::path& project_root) {
  fs::path path = project_root / "pyproject.toml";
  if (!fs::is_regular_file(path)) return py::dict();
  std::optional<std::string> text = read_text(path);
  if (!text) throw py::value_error(path.string() + ": cannot be read");
  py::object tomllib;
  try {
    tomllib = py::module_::import("tomllib");
  } catch (py::error_already_set&) {
    tomllib = py::module_::import("tomli");
  }
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

bool skipped_folder(const fs::path& dir) {
  std::string name = dir.filename().string();
  if (name.empty() || name[0] == '.' || name == "node_modules" || name == "__pycache__" ||
      name == "site-packages" || name == "venv" || name == "env")
    return true;
  return fs::exists(dir / "pyvenv.cfg");
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
  if (fs::is_regular_file(as_module)) return as_module;
  if (fs::is_regular_file(base / "__init__.py")) return base / "__init__.py";
  return std::nullopt;
}

// The literal text assigned to NAME at the start of a line.
std::optional<std::string> literal_setting(const fs::path& file, const std::string& name) {
  std::optional<std::string> text = read_text(file);
  if (!text) return std::nullopt;
  std::regex pattern("^" + name + R"re(\s*=\s*(?:"([^"\n]*)"|'([^'\n]*)'))re", std::regex::multiline);
  std::smatch match;
  if (!std::regex_search(*text, match, pattern)) return std::nullopt;
  return match[1].matched ? match[1].str() : match[2].str();
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
bool front_end_key(const std::string& key) { return key == "select" || key == "ignore"; }

// [tool.tessary] with hyphenated keys, split into linter and front-end keys.
py::dict tessary_table(const fs::path& project_root, bool front_end) {
  py::dict out;
  for (auto item : tool_table(read_pyproject(project_root), "tessary")) {
    std::string key = py::str(item.first);
    std::replace(key.begin(), key.end(), '_', '-');
    if (front_end_key(key) == front_end) out[py::str(key)] = item.second;
  }
  return out;
}

}  // namespace

py::dict get_toml_config(const fs::path& project_root) { return tessary_table(project_root, false); }

py::dict get_front_end_config(const fs::path& project_root) { return tessary_table(project_root, true); }

fs::path get_manage_file(const fs::path& project_root) {
  if (fs::is_regular_file(project_root / "manage.py")) return project_root / "manage.py";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(project_root, ec)) {
    if (entry.is_directory() && !skipped_folder(entry.path()) && fs::is_regular_file(entry.path() / "manage.py"))
      return entry.path() / "manage.py";
  }
  PyErr_SetString(manage_file_missing_error().ptr(),
                  ("no manage.py found in " + project_root.string()).c_str());
  throw py::error_already_set();
}

std::vector<std::string> get_settings_files(const fs::path& project_root) {
  // The default manage.py names the settings module it runs with.
  static const std::regex settings_default(
      R"re(DJANGO_SETTINGS_MODULE["']\s*,\s*["']([A-Za-z_][\w.]*)["'])re");
  std::error_code ec;
  fs::path manage;
  if (fs::is_regular_file(project_root / "manage.py")) manage = project_root / "manage.py";
  if (!manage.empty()) {
    if (std::optional<std::string> text = read_text(manage)) {
      std::smatch match;
      if (std::regex_search(*text, match, settings_default)) return {match[1].str()};
    }
  }
  // Otherwise every module or package named settings.
  std::vector<std::string> found;
  fs::recursive_directory_iterator it(project_root, fs::directory_options::skip_permission_denied, ec), end;
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    const fs::path& path = it->path();
    if (it->is_directory()) {
      if (skipped_folder(path)) {
        it.disable_recursion_pending();
        continue;
      }
      if (path.filename() == "settings" && fs::is_regular_file(path / "__init__.py"))
        found.push_back(dotted(fs::relative(path, project_root)));
    } else if (path.filename() == "settings.py") {
      fs::path relative = fs::relative(path, project_root);
      relative.replace_extension();
      found.push_back(dotted(relative));
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string get_settings_modpath(const fs::path& project_root) {
  std::vector<std::string> files = get_settings_files(project_root);
  return files.empty() ? std::string() : files.front();
}

std::string get_root_urlconf(const std::vector<std::string>& settings_files, const fs::path& project_root) {
  for (const std::string& modpath : settings_files) {
    std::optional<fs::path> file = module_file(modpath, project_root);
    if (!file) continue;
    if (std::optional<std::string> value = literal_setting(*file, "ROOT_URLCONF")) return *value;
  }
  return "";
}

std::optional<std::string> get_static_url_setting(const fs::path& project_root) {
  for (const std::string& modpath : get_settings_files(project_root)) {
    std::optional<fs::path> file = module_file(modpath, project_root);
    if (!file) continue;
    if (std::optional<std::string> value = literal_setting(*file, "STATIC_URL")) return value;
  }
  return std::nullopt;
}

py::dict get_code_style(const fs::path& project_root) {
  py::dict black = tool_table(read_pyproject(project_root), "black");
  py::object length = black.attr("get")("line-length", black.attr("get")("line_length", py::none()));
  py::dict style;
  style["line_length"] = py::isinstance<py::int_>(length) ? length : py::int_(kDefaultLineLength);
  return style;
}

}  // namespace tessary::meta

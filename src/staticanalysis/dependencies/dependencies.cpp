#include "staticanalysis/dependencies/dependencies.hpp"

#include "staticanalysis/helpers/paths.hpp"
#include "staticanalysis/helpers/read_file.hpp"

#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>
#include <fstream>
#include <sstream>

namespace tessary::dependencies {

namespace {

// The dependency files tried, in order; each is also dparse's file type.
constexpr const char* kFileTypes[] = {"requirements_txt", "conda_yml", "setup_cfg", "pipfile_lock", "pipfile"};
constexpr int kPatches = 30;

py::str decode(const std::string& bytes, const char* errors) {
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), errors));
}

py::str decode_strict(const std::string& bytes) {
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// A requirement line as packaging's grammar should read it: without a
// trailing comment or line continuation.
std::string cut_requirement_line(std::string line) {
  if (auto comment = line.find(" #"); comment != std::string::npos) line.resize(comment);
  if (line.find('\\') != std::string::npos) {
    if (auto continuation = line.find(" \\"); continuation != std::string::npos) {
      line.resize(continuation);
    } else if (!line.empty()) {
      line.pop_back();
    }
  }
  return line;
}

bool is_settings_name(const std::string& name) {
  if (name.empty() || name[0] == '_') return false;
  bool cased = false;
  for (unsigned char c : name) {
    if (std::islower(c)) return false;
    if (std::isupper(c)) cased = true;
  }
  return cased;
}

}  // namespace

py::object get_django_version_from_dependency(const py::object& dependency, const py::object& file_type) {
  std::string name = py::str(dependency.attr("name"));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name != "django") return py::none();
  py::object specs = dependency.attr("specs");
  for (std::string_view version : kVersions) {
    for (int patch = 0; patch < kPatches; ++patch) {
      std::string candidate = std::string(version) + "." + std::to_string(patch);
      if (!specs.contains(py::str(candidate))) continue;
      std::string line = cut_requirement_line(py::str(dependency.attr("line")));
      py::object grammar = py::module_::import("packaging.requirements").attr("REQUIREMENT");
      // parse_string is pyparsing 3's name for parseString.
      py::object parse = py::hasattr(grammar, "parse_string") ? grammar.attr("parse_string") : grammar.attr("parseString");
      py::object requirement = parse(line);
      py::dict details;
      details["path"] = file_type;
      details["version"] = py::str(version.data(), version.size());
      details["specs"] = requirement.attr("specifier");
      return details;
    }
  }
  return py::none();
}

py::object resolve_django_version_via_dparse(const fs::path& project_root) {
  py::object dparse = py::module_::import("dparse");
  py::object filetypes = py::module_::import("dparse.filetypes");
  for (const char* constant : kFileTypes) {
    py::object file_type = filetypes.attr(constant);
    fs::path path = project_root / file_type.cast<std::string>();
    std::optional<std::string> bytes = project_file_or_warn(project_root, path);
    if (!bytes) continue;
    py::str content = decode(*bytes, "ignore");
    py::object parsed = dparse.attr("parse")(content, py::arg("file_type") = file_type);
    for (py::handle dependency : parsed.attr("dependencies")) {
      py::object details =
          get_django_version_from_dependency(py::reinterpret_borrow<py::object>(dependency), file_type);
      if (!details.is_none() && py::len(details) > 0) return details;
    }
  }
  return py::none();
}

namespace {

bool found(const py::object& details) { return !details.is_none() && py::len(details) > 0; }

// The Django requirement among requirement strings (PEP 508, as
// pyproject.toml and setup.py write them), recorded as coming from `shown`.
py::object django_in_requirement_strings(const py::iterable& strings, const py::str& shown) {
  py::object line_parser = py::module_::import("dparse.parser").attr("RequirementsTXTLineParser");
  for (py::handle item : strings) {
    if (!py::isinstance<py::str>(item)) continue;
    py::str text = item.attr("strip")();
    if (py::len(text) == 0) continue;
    py::object dependency;
    try {
      dependency = line_parser.attr("parse")(text);
    } catch (py::error_already_set& err) {
      if (err.matches(PyExc_ValueError)) continue;
      throw;
    }
    if (dependency.is_none()) continue;
    py::object details = get_django_version_from_dependency(dependency, shown);
    if (found(details)) return details;
  }
  return py::none();
}

// The Django requirement of a file in requirements.txt's format, `relative`
// to the project root ("requirements/base.txt"), which the record names.
py::object django_in_requirements_file(const fs::path& project_root, const fs::path& relative) {
  std::optional<std::string> bytes = project_file_or_warn(project_root, project_root / relative);
  if (!bytes) return py::none();
  py::object dparse = py::module_::import("dparse");
  py::object file_type = py::module_::import("dparse.filetypes").attr("requirements_txt");
  py::str shown = path_str(relative.generic_string());
  py::object parsed = dparse.attr("parse")(decode(*bytes, "ignore"), py::arg("file_type") = file_type);
  for (py::handle dependency : parsed.attr("dependencies")) {
    py::object details = get_django_version_from_dependency(py::reinterpret_borrow<py::object>(dependency), shown);
    if (found(details)) return details;
  }
  return py::none();
}

// The names in `folder` (below the root) that start with `prefix` and end
// with `suffix`, sorted; links are followed only when read.
std::vector<std::string> names_in(const fs::path& folder, std::string_view prefix, std::string_view suffix) {
  std::vector<std::string> names;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return names;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() >= prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

py::object resolve_django_version_via_setup_py(const fs::path& project_root) {
  fs::path path = project_root / "setup.py";
  std::optional<std::string> bytes = project_file_or_warn(project_root, path);
  if (!bytes) return py::none();
  py::object astroid = py::module_::import("astroid");
  py::object tree = astroid.attr("parse")(decode_strict(*bytes));
  py::list strings;
  for (py::handle constant : tree.attr("nodes_of_class")(astroid.attr("Const"))) strings.append(constant.attr("value"));
  return django_in_requirement_strings(strings, py::str("setup.py"));
}

py::object toml_reader() {
  try {
    return py::module_::import("tomllib");
  } catch (py::error_already_set&) {
    return py::module_::import("tomli");  // before Python 3.11
  }
}

py::object resolve_django_version_via_pyproject(const fs::path& project_root) {
  std::optional<std::string> bytes = project_file_or_warn(project_root, project_root / "pyproject.toml");
  if (!bytes) return py::none();
  py::object tomllib = toml_reader();
  py::object document;
  try {
    document = tomllib.attr("loads")(decode(*bytes, "replace"));
  } catch (py::error_already_set& err) {
    // The configuration reader reports a file that is not TOML.
    if (err.matches(PyExc_ValueError)) return py::none();
    throw;
  }
  py::object project = document.attr("get")("project");
  if (!py::isinstance<py::dict>(project)) return py::none();
  py::str shown("pyproject.toml");
  py::object dependencies = project.attr("get")("dependencies");
  if (py::isinstance<py::list>(dependencies)) {
    py::object details = django_in_requirement_strings(dependencies, shown);
    if (found(details)) return details;
  }
  py::object optional = project.attr("get")("optional-dependencies");
  if (py::isinstance<py::dict>(optional)) {
    for (auto item : py::reinterpret_borrow<py::dict>(optional)) {
      if (!py::isinstance<py::list>(item.second)) continue;
      py::object details = django_in_requirement_strings(py::reinterpret_borrow<py::list>(item.second), shown);
      if (found(details)) return details;
    }
  }
  return py::none();
}

py::object resolve_django_version_via_requirement_folders(const fs::path& project_root) {
  std::vector<fs::path> files;
  for (const std::string& name : names_in(project_root, "requirements", ".in")) files.emplace_back(name);
  for (const char* suffix : {".txt", ".in"})
    for (const std::string& name : names_in(project_root / "requirements", "", suffix))
      files.push_back(fs::path("requirements") / name);
  for (const fs::path& relative : files) {
    py::object details = django_in_requirements_file(project_root, relative);
    if (found(details)) return details;
  }
  return py::none();
}

py::object resolve_django_version(const fs::path& project_root) {
  for (auto* source : {&resolve_django_version_via_dparse, &resolve_django_version_via_setup_py,
                       &resolve_django_version_via_pyproject, &resolve_django_version_via_requirement_folders}) {
    py::object details = source(project_root);
    if (found(details)) return details;
  }
  return py::none();
}

py::object get_default_django_settings(const std::string& version) {
  std::string module = "django_3_2";
  for (std::string_view known : kVersions) {
    if (version == known) {
      module = "django_" + std::string(known);
      for (char& c : module)
        if (c == '.') c = '_';
    }
  }
  return py::module_::import(("tessary.library_default_settings." + module).c_str());
}

py::dict module_to_dict(const py::object& module, const py::object& omittable) {
  py::list names = py::module_::import("builtins").attr("sorted")(py::module_::import("builtins").attr("dir")(module));
  py::dict out;
  for (py::handle name : names) {
    bool omit = omittable.is_none() ? !is_settings_name(name.cast<std::string>())
                                    : PyObject_IsTrue(omittable(name).ptr()) == 1;
    if (!omit) out[name] = module.attr(name);
  }
  return out;
}

bool is_django_node(const py::object& node) {
  py::object ast = py::module_::import("ast");
  py::object Import = ast.attr("Import"), ImportFrom = ast.attr("ImportFrom");
  for (py::handle child : ast.attr("iter_child_nodes")(node)) {
    if (py::isinstance(child, Import)) {
      for (py::handle alias : child.attr("names")) {
        if (py::str(alias.attr("name")).cast<std::string>() == "django") return true;
      }
    } else if (py::isinstance(child, ImportFrom)) {
      py::object module = child.attr("module");
      if (module.is_none()) continue;
      std::string name = py::str(module);
      if (name == "django" || name.rfind("django.", 0) == 0) return true;
    }
  }
  return false;
}

bool is_django_repository(const fs::path& project_root) {
  py::object meta = py::module_::import("tessary.meta");
  try {
    meta.attr("get_manage_file")(project_root);
    return true;
  } catch (py::error_already_set& err) {
    if (!err.matches(meta.attr("ManageFileMissingError"))) throw;
  }
  if (!resolve_django_version(project_root).is_none()) return true;

  py::object parse = py::module_::import("ast").attr("parse");
  std::error_code ec;
  fs::recursive_directory_iterator it(project_root, fs::directory_options::skip_permission_denied, ec), end;
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    if (it->path().extension() != ".py") continue;
    FileBytes read = read_regular_file(it->path(), kSourceFileCap);
    if (!read.bytes) continue;
    py::object tree;
    try {
      tree = parse(decode_strict(*read.bytes));
    } catch (py::error_already_set&) {
      // A file that is not Python 3 text says nothing either way.
      continue;
    }
    if (is_django_node(tree)) return true;
  }
  return false;
}

void bind(py::module_& m) {
  py::list versions;
  py::dict mapping;
  for (std::string_view version : kVersions) {
    py::str text(version.data(), version.size());
    versions.append(text);
    std::string module = "django_" + std::string(version);
    for (char& c : module)
      if (c == '.') c = '_';
    mapping[text] = py::module_::import(("tessary.library_default_settings." + module).c_str());
  }
  m.attr("versions") = versions;
  py::object filetypes = py::module_::import("dparse.filetypes");
  py::list file_types;
  for (const char* constant : kFileTypes) file_types.append(filetypes.attr(constant));
  m.attr("dparse_file_types") = file_types;

  m.def("resolve_django_version", &resolve_django_version, py::arg("project_root"));
  m.def("resolve_django_version_via_dparse", &resolve_django_version_via_dparse, py::arg("project_root_path"));
  m.def("resolve_django_version_via_setup_py", &resolve_django_version_via_setup_py,
        py::arg("project_root_path"));
  m.def("resolve_django_version_via_pyproject", &resolve_django_version_via_pyproject,
        py::arg("project_root_path"));
  m.def("resolve_django_version_via_requirement_folders", &resolve_django_version_via_requirement_folders,
        py::arg("project_root_path"));
  m.def("get_django_version_from_dependency", &get_django_version_from_dependency, py::arg("dependency"),
        py::arg("file_type"));
  m.def("get_default_django_settings", &get_default_django_settings, py::arg("version"));
  m.def("module_to_dict", &module_to_dict, py::arg("module"), py::arg("omittable") = py::none());
  m.def("is_django_repository", &is_django_repository, py::arg("project_root"));
  m.def("is_django_node", &is_django_node, py::arg("node"));
  m.attr("DJANGO_SETTINGS_MAPPING") = mapping;
}

}  // namespace tessary::dependencies

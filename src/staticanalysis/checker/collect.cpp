#include "staticanalysis/checker/collect.hpp"
#include "staticanalysis/helpers/pathtext.hpp"

#include "meta/cache.hpp"
#include "meta/meta.hpp"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <filesystem>

#include "staticanalysis/checker/fixable.hpp"
#include "staticanalysis/checker/linters.hpp"
#include "staticanalysis/dependencies/dependencies.hpp"
#include "staticanalysis/checkers/templates/templates.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/project_scope.hpp"

namespace tessary::checker {

namespace {

py::object path_class() { return py::module_::import("pathlib").attr("Path"); }

bool ends_with(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Is the record's line wanted by the filter value (None: every line)?

py::object absolute(const py::object& path) {
  return py::module_::import("os.path").attr("abspath")(path);
}

}  // namespace

void forget_modules_under(const py::object& project_root) {
  py::object realpath = py::module_::import("os.path").attr("realpath");
  std::string root = path_bytes(realpath(project_root));
  if (root.empty() || root.back() != '/') root += '/';
  py::object abspath = py::module_::import("os.path").attr("abspath");
  std::string given_root = path_bytes(abspath(project_root));
  if (given_root.empty() || given_root.back() != '/') given_root += '/';
  // A file below the root as named (a symlink to a file elsewhere) or as
  // resolved.
  auto under_root = [&](const py::handle& path) {
    if (path.is_none() || !py::isinstance<py::str>(path)) return false;
    return path_bytes(realpath(path)).rfind(root, 0) == 0 || path_bytes(abspath(path)).rfind(given_root, 0) == 0;
  };
  py::object manager = py::module_::import("astroid").attr("MANAGER");

  // Module trees, by dotted name.
  py::dict modules = manager.attr("astroid_cache");
  py::list stale;
  for (auto item : modules) {
    if (under_root(py::getattr(item.second, "file", py::none()))) stale.append(item.first);
  }
  for (py::handle name : stale) modules.attr("pop")(name, py::none());

  // Where a dotted name was found, as seen from a file; failed look-ups are
  // cached too and may succeed for the next project.
  py::dict locations = manager.attr("_mod_file_cache");
  py::object building_error = py::module_::import("astroid").attr("AstroidBuildingError");
  stale = py::list();
  for (auto item : locations) {
    py::object context = item.first[py::int_(1)];
    bool failed = py::isinstance(item.second, building_error);
    if (failed || under_root(context) || under_root(py::getattr(item.second, "location", py::none()))) {
      stale.append(item.first);
    }
  }
  for (py::handle key : stale) locations.attr("pop")(key, py::none());
}

void forget_other_modules_named_like(const py::object& project_root) {
  // A module cached by an earlier lint in this process (a text linted under
  // a relative name, another project) must not stand in for the project's
  // module of the same dotted name.
  namespace fs = std::filesystem;
  fs::path root = fs::weakly_canonical(project_root.cast<fs::path>());
  py::object realpath = py::module_::import("os.path").attr("realpath");
  std::string prefix = root.string() + "/";
  py::dict modules = py::module_::import("astroid").attr("MANAGER").attr("astroid_cache");
  py::list stale;
  for (auto item : modules) {
    std::string name = path_bytes(item.first);
    std::string top = name.substr(0, name.find('.'));
    std::error_code ec;
    if (!fs::is_regular_file(root / top / "__init__.py", ec) && !fs::is_regular_file(root / (top + ".py"), ec))
      continue;
    py::object file = py::getattr(item.second, "file", py::none());
    bool ours = !file.is_none() && path_bytes(realpath(file)).rfind(prefix, 0) == 0;
    if (!ours) stale.append(item.first);
  }
  for (py::handle name : stale) modules.attr("pop")(name, py::none());
}

py::list get_all_message_codes() {
  py::object templates = py::module_::import("tessary.message_templates");
  py::list names = py::module_::import("builtins").attr("sorted")(py::module_::import("builtins").attr("dir")(templates));
  py::list codes;
  for (py::handle name : names) {
    if (name.cast<std::string>().rfind("__", 0) != 0) codes.append(name);
  }
  return codes;
}

namespace {

// A linter of `linter_class` set up for the project: its options, its
// Django release, its settings modules and URL configuration.
py::object project_linter(const py::object& linter_class, const py::object& project_root,
                          const std::string& django_version, const py::dict& config) {
  py::object meta = py::module_::import("tessary.meta");
  py::object linter = create_linter(linter_class);
  for (auto item : config) linter.attr("set_option")(item.first, item.second);
  linter.attr("set_option")("django-version", django_version);
  linter.attr("set_option")("settings-files", py::list(meta.attr("get_settings_files")(project_root)));
  linter.attr("set_option")(
      "root-urlconf", meta.attr("get_root_urlconf")(linter.attr("config").attr("settings_files"),
                                                    py::arg("project_root") = project_root));
  return linter;
}

}  // namespace

py::list get_python_messages(const py::object& project_root, const py::dict& files, const std::string& django_version,
                             const py::dict& config, const py::object& search_paths, const py::object& progress,
                             const py::object& claim) {
  py::object linter = project_linter(driver().Linter, project_root, django_version, config);

  py::object parent = path_class()(project_root);
  // Python entries of the filter, keyed by the path the linter is given and,
  // for matching its records, by the absolute path.
  py::list targets;
  py::dict wanted_by_absolute;
  for (auto item : files) {
    if (!ends_with(path_bytes(item.first), ".py")) continue;
    py::str target = py::str(parent.attr("joinpath")(item.first));
    targets.append(target);
    wanted_by_absolute[absolute(target)] = item.second;
  }
  if (!progress.is_none()) linter.attr("tessary_progress") = progress;
  if (!claim.is_none()) linter.attr("tessary_claim") = claim;
  forget_other_modules_named_like(project_root);
  try {
    SearchPathScope environment(search_paths);
    AnalysedProject project{path_bytes(project_root)};
    linter.attr("check")(py::arg("files_or_modules") = targets);
  } catch (...) {
    forget_modules_under(project_root);
    throw;
  }
  py::list records = linter.attr("reporter").attr("messages");
  // Whether each finding's fix applies is asked of the trees the checks
  // ran on, before they are dropped.
  mark_fixable(records);
  // astroid caches modules by dotted name for the whole process: the next
  // project linted here may have modules of the same names.
  forget_modules_under(project_root);
  log_fatal_records(records);

  py::set codes(get_all_message_codes());
  py::list in_range;
  for (py::handle handle : records) {
    py::dict record = py::reinterpret_borrow<py::dict>(handle);
    if (!codes.contains(record["message-id"])) continue;
    // A record about a file that was not asked for (pylint may report on
    // others) is not the caller's business.
    py::object key = absolute(record["abspath"]);
    if (!wanted_by_absolute.contains(key)) continue;
    // A module that could not be analysed is reported whatever lines are
    // wanted: its findings on them are unknown.
    bool fatal = py::str(record["type"]).cast<std::string>() == "fatal";
    if (fatal || meta::record_wanted(wanted_by_absolute[key], record, path_bytes(key))) in_range.append(record);
  }
  return in_range;
}

namespace {

// Marks each C7001 record fixable exactly when the fix rewrites its line:
// the fix needs a STATIC_URL the site serves, and leaves out values the
// tag could not say the same way.
void mark_template_fixable(const py::list& records, const std::filesystem::path& root,
                           const std::function<std::optional<std::string>(const std::string&)>& text_of) {
  std::optional<std::string> static_url = meta::get_static_url_setting(root);
  std::map<std::string, std::set<long>> rewritten;
  for (py::handle record : records) {
    if (py::str(record["message-id"]).cast<std::string>() != "C7001") continue;
    std::string path = path_bytes(record["path"]);
    if (!rewritten.count(path)) {
      std::optional<std::string> text = text_of(path);
      rewritten[path] = text ? templates::fix_static_urls(*text, static_url.value_or("")).lines : std::set<long>();
    }
    record["fixable"] = py::bool_(rewritten[path].count(record["line"].cast<long>()) > 0);
  }
}

}  // namespace

py::list get_html_messages(const py::object& project_root, const py::dict& files) {
  HtmlLinter linter;
  py::object parent = path_class()(project_root);
  py::list targets;
  std::filesystem::path root = project_root.cast<std::filesystem::path>();
  std::optional<std::vector<std::string>> template_folders;
  for (auto item : files) {
    std::string relative = path_bytes(item.first);
    if (!ends_with(relative, ".html")) continue;
    if (!template_folders) template_folders = meta::template_folder_names(root);
    if (!meta::is_template_path(relative, *template_folders)) continue;
    targets.append(py::str(parent.attr("joinpath")(item.first)));
  }
  if (py::len(targets) == 0) return py::list();
  // Django's own default where the settings name no STATIC_URL.
  linter.static_url = meta::static_url_of(root);
  linter.check(targets);
  mark_template_fixable(linter.messages, root, [](const std::string& path) -> std::optional<std::string> {
    SourceText source = read_source_text(path, SourceKind::html);
    if (!source.text) return std::nullopt;
    return source.text->cast<std::string>();
  });
  py::list out;
  for (py::handle handle : linter.messages) {
    py::dict record = py::reinterpret_borrow<py::dict>(handle);
    py::str relative = py::str(path_class()(record["path"]).attr("relative_to")(parent));
    if (!files.contains(relative)) continue;
    if (meta::line_wanted(files[relative], record["line"])) out.append(record);
  }
  return out;
}

py::list get_meta_messages(const py::object& project_root) {
  py::object details = dependencies::resolve_django_version(project_root.cast<std::filesystem::path>());
  py::list out;
  if (details.is_none() || py::len(details) == 0) return out;
  py::object specifier = py::module_::import("packaging.specifiers").attr("SpecifierSet")(details["specs"]);
  // Every known feature release from 2.0 on, patch releases 0 to 29.
  py::list candidates;
  for (std::string_view version : dependencies::kVersions) {
    if (version.starts_with("1.")) continue;
    for (int patch = 0; patch < 30; ++patch) candidates.append(py::str(std::string(version) + "." + std::to_string(patch)));
  }
  py::dict body;
  body["specs"] = details["specs"];
  body["minor"] = details["version"];
  body["matching_versions"] = py::list(specifier.attr("filter")(candidates));
  py::dict record;
  record["message-id"] = "C1000";
  record["path"] = details["path"];
  record["message_type"] = "meta";
  record["body"] = body;
  out.append(record);
  return out;
}

py::list get_messages(const py::object& project_root, const py::dict& files, const std::string& default_django_version,
                      const py::object& search_paths, const py::object& progress, const py::object& claim) {
  py::object meta = py::module_::import("tessary.meta");
  py::dict config = meta.attr("get_toml_config")(project_root);
  py::object details = dependencies::resolve_django_version(project_root.cast<std::filesystem::path>());
  std::string version = default_django_version;
  if (!details.is_none() && py::len(details) > 0) version = py::str(details["version"]);
  py::list html = get_html_messages(project_root, files);
  if (!progress.is_none()) {
    for (auto item : files)
      if (ends_with(path_bytes(item.first), ".html")) progress();
  }
  py::list python = get_python_messages(project_root, files, version, config, search_paths, progress, claim);
  py::list messages;
  for (py::handle record : python) messages.append(record);
  for (py::handle record : html) messages.append(record);
  if (files.contains("META")) {
    for (py::handle record : get_meta_messages(project_root)) messages.append(record);
  }
  return messages;
}


void forget_inference_caches() {
  py::module_::import("astroid.inference_tip").attr("clear_inference_tip_cache")();
  py::module_::import("astroid.context").attr("_invalidate_cache")();
  py::module_::import("astroid._cache").attr("CACHE_MANAGER").attr("clear_all_caches")();
  // Every memoised function of astroid and pylint (lookups, a checker's
  // look-up of deprecated names, ...), found once: they are made when
  // their modules are imported, which the first lint has done.
  static py::list* memoised = nullptr;
  if (!memoised) {
    memoised = new py::list();
    py::object wrapper = py::module_::import("functools").attr("_lru_cache_wrapper");
    for (py::handle object : py::module_::import("gc").attr("get_objects")()) {
      if (!py::isinstance(object, wrapper)) continue;
      std::string module = py::str(py::getattr(object, "__module__", py::str("")));
      if (module.rfind("astroid", 0) == 0 || module.rfind("pylint", 0) == 0)
        memoised->append(py::reinterpret_borrow<py::object>(object));
    }
  }
  for (py::handle cached : *memoised) cached.attr("cache_clear")();
}

void prepare_workers(const py::object& project_root, const std::string& default_django_version,
                     const py::object& search_paths) {
  namespace fs = std::filesystem;
  fs::path root = project_root.cast<fs::path>();
  // What every worker reads first: a file passed over is then warned about
  // here, once, and the workers, forked from here, know it was.
  py::object meta = py::module_::import("tessary.meta");
  py::dict config = meta.attr("get_toml_config")(project_root);
  py::object details = dependencies::resolve_django_version(root);
  std::string version = default_django_version;
  if (!details.is_none() && py::len(details) > 0) version = py::str(details["version"]);
  project_linter(driver().Linter, project_root, version, config);
  meta::template_folder_names(root);
  meta::static_url_of(root);
  meta::get_static_url_setting(root);

  forget_other_modules_named_like(project_root);
  SearchPathScope environment(search_paths);
  AnalysedProject project{path_bytes(project_root)};
  py::object build = ast().manager.attr("ast_from_module_name");
  for (const char* module : {"django.db.models.base", "django.db.models.manager", "django.db.models.query",
                             "django.db.models.fields"}) {
    try {
      build(module);
    } catch (py::error_already_set&) {
      // Not there, or not analysable here: each worker meets it as a lint
      // alone would, and says so.
      return;
    }
  }
}

std::string linted_module_name(const std::filesystem::path& root, const std::string& relative_path) {
  namespace fs = std::filesystem;
  fs::path file = root / relative_path;
  std::string dotted = file.filename() == "__init__.py" ? "" : file.stem().string();
  std::error_code ec;
  for (fs::path folder = file.parent_path(); !folder.empty() && folder != folder.root_path() &&
                                             fs::is_regular_file(folder / "__init__.py", ec);
       folder = folder.parent_path())
    dotted = folder.filename().string() + (dotted.empty() ? "" : "." + dotted);
  return dotted.empty() ? file.stem().string() : dotted;
}

py::list lint_source(const py::object& project_root, const std::string& relative_path, const std::string& text,
                     const std::string& default_django_version, const py::object& search_paths) {
  namespace fs = std::filesystem;
  fs::path root = project_root.cast<fs::path>();
  py::object absolute_path = py::str((root / relative_path).string());
  py::list out;
  if (ends_with(relative_path, ".html")) {
    if (!meta::is_template_path(relative_path, meta::template_folder_names(root))) return out;
    HtmlLinter linter;
    linter.static_url = meta::static_url_of(root);
    linter.unsaved[absolute_path] = py::str(text);
    py::list targets;
    targets.append(absolute_path);
    linter.check(targets);
    mark_template_fixable(linter.messages, root, [&text](const std::string&) { return std::optional<std::string>(text); });
    for (py::handle record : linter.messages) {
      record["path"] = py::str(relative_path);
      out.append(record);
    }
    return out;
  }
  if (!ends_with(relative_path, ".py")) return out;
  py::object meta = py::module_::import("tessary.meta");
  py::dict config = meta.attr("get_toml_config")(project_root);
  py::object details = dependencies::resolve_django_version(root);
  std::string version = default_django_version;
  if (!details.is_none() && py::len(details) > 0) version = py::str(details["version"]);
  py::object linter = project_linter(driver().CodeLinter, project_root, version, config);
  // The project's root is where its packages are found, as a lint of the
  // project's files has it.
  py::list paths;
  paths.append(py::str(root.string()));
  if (!search_paths.is_none())
    for (py::handle entry : search_paths) paths.append(entry);
  std::string dotted = linted_module_name(root, relative_path);
  auto forget = [&] {
    forget_modules_under(project_root);
    forget_inference_caches();
    // The text's own tree bears its relative path.
    py::dict modules = ast().manager.attr("astroid_cache");
    if (modules.contains(py::str(dotted))) modules.attr("pop")(py::str(dotted));
  };
  forget_other_modules_named_like(project_root);
  try {
    SearchPathScope environment(paths);
    AnalysedProject project{root.string()};
    linter.attr("tessary_modname") = path_str(dotted);
    linter.attr("check")(py::str(text), py::arg("files_or_modules") = py::list(py::make_tuple(absolute_path)));
    mark_fixable(linter.attr("reporter").attr("messages"));
  } catch (...) {
    forget();
    throw;
  }
  forget();
  py::list records = linter.attr("reporter").attr("messages");
  log_fatal_records(records);
  py::set codes(get_all_message_codes());
  for (py::handle record : records) {
    if (!codes.contains(record["message-id"])) continue;
    record["path"] = py::str(relative_path);
    out.append(record);
  }
  return out;
}

void bind_collect(py::module_& m) {
  m.def("prepare_workers", &prepare_workers, py::arg("project_root"), py::arg("default_django_version"),
        py::arg("search_paths") = py::none());
  m.def("lint_source", &lint_source, py::arg("project_root"), py::arg("relative_path"), py::arg("text"),
        py::arg("default_django_version") = "3.2", py::arg("search_paths") = py::none());
  m.def("get_messages", &get_messages, py::arg("project_root"), py::arg("files"),
        py::arg("default_django_version") = "3.2", py::arg("search_paths") = py::none(),
        py::arg("progress") = py::none(), py::arg("claim") = py::none());
  m.def("get_python_messages", &get_python_messages, py::arg("project_root"), py::arg("files"),
        py::arg("django_version"), py::arg("config") = py::dict(), py::arg("search_paths") = py::none(),
        py::arg("progress") = py::none(), py::arg("claim") = py::none());
  m.def("get_html_messages", &get_html_messages, py::arg("project_root"), py::arg("files"));
  m.def("get_meta_messages", &get_meta_messages, py::arg("project_root"));
  m.def("get_all_message_codes", &get_all_message_codes);
  m.def("forget_modules_under", &forget_modules_under, py::arg("project_root"),
        "Drop astroid's cached modules of the files below a project root.");
}

}  // namespace tessary::checker

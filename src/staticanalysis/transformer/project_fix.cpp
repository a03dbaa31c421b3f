// Fixing whole projects: which files to fix, reading and writing them
// as they are spelt, templates, and the accounting of what was fixed.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <fstream>

#include <unistd.h>

#include "meta/meta.hpp"
#include "meta/project.hpp"
#include "staticanalysis/checker/collect.hpp"
#include "staticanalysis/checker/linters.hpp"
#include "staticanalysis/checkers/settings/settings.hpp"
#include "staticanalysis/checkers/templates/templates.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/paths.hpp"
#include "staticanalysis/helpers/project_scope.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/transformer/fixer.hpp"
#include "staticanalysis/transformer/text.hpp"
#include "staticanalysis/transformer/transform.hpp"

namespace tessary::transformer {

namespace {

// The label of the app a module belongs to, as makemigrations takes it:
// the app is the folder, from the module's own upward, that holds its
// models.py, models package or apps.py (so a src/ layout names the app,
// not "src"), known by the label its apps.py gives; else the first folder.
std::string app_label(const fs::path& project_root, const std::string& relative_path) {
  fs::path relative(relative_path);
  std::error_code ec;
  for (fs::path folder = relative.parent_path(); !folder.empty(); folder = folder.parent_path()) {
    fs::path here = project_root / folder;
    if (fs::is_regular_file(here / "models.py", ec) || fs::is_regular_file(here / "apps.py", ec) ||
        fs::is_regular_file(here / "models" / "__init__.py", ec))
      return meta::app_label(project_root, here);
  }
  return relative.begin()->string();
}

// What tells that a file changed: its modification time and size.
struct FileStamp {
  fs::file_time_type modified{};
  std::uintmax_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp stamp_of(const fs::path& path) {
  std::error_code ec;
  FileStamp stamp;
  stamp.modified = fs::last_write_time(path, ec);
  if (ec) return {};
  stamp.size = fs::file_size(path, ec);
  if (ec) return {};
  return stamp;
}

}  // namespace

// Why a fix may not be written to this file, or nullopt. A file whose
// mode grants no one write access is read-only to us too, whoever runs us.
static std::optional<std::string> unwritable(const fs::path& project_root, const std::string& path) {
  std::error_code ec;
  fs::path file = project_root / path;
  fs::path real = fs::canonical(file, ec);
  if (ec) return "it could not be resolved (" + ec.message() + ")";
  fs::path root = fs::canonical(project_root, ec);
  auto relative = real.lexically_relative(root);
  if (relative.empty() || *relative.begin() == "..") return "it is a link to " + real.string() + ", outside the project";
  constexpr auto anyone_writes = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::perms mode = fs::status(real, ec).permissions();
  if (!ec && (mode & anyone_writes) == fs::perms::none) return "the file is read-only";
  if (::access(real.c_str(), W_OK) != 0) return "tessary may not write the file";
  fs::path folder = real.parent_path();
  fs::perms folder_mode = fs::status(folder, ec).permissions();
  if ((!ec && (folder_mode & anyone_writes) == fs::perms::none) || ::access(folder.c_str(), W_OK) != 0)
    return "its folder is read-only (a fix is written to a new file beside it)";
  return std::nullopt;
}

namespace {

std::optional<std::set<long>> lines_for(const py::object& only_lines, const std::string& path) {
  if (only_lines.is_none()) return std::nullopt;
  py::dict wanted(only_lines);
  std::set<long> lines;
  if (wanted.contains(path_str(path)))
    for (py::handle line : wanted[path_str(path)]) lines.insert(line.cast<long>());
  return lines;
}

bool is_template(const std::string& path) {
  return path.size() >= 5 && path.compare(path.size() - 5, 5, ".html") == 0;
}

// Templates: static files written as site paths become the static tag.
using TemplateTargets = std::vector<std::pair<std::string, std::optional<std::set<std::string>>>>;

void fix_templates(const fs::path& project_root, const TemplateTargets& paths, const py::object& only_lines,
                   py::list& files, py::dict& originals, py::dict& read, py::dict& refused,
                   std::map<std::string, long>& fixed,
                   std::map<std::string, long>& unfixed) {
  if (paths.empty()) return;
  std::optional<std::string> static_url = meta::get_static_url_setting(project_root);
  for (const auto& [path, ids] : paths) {
    bool wanted_fix = !ids || ids->count("C7001");
    py::list one;
    one.append(path_str((project_root / path).string()));
    checker::HtmlLinter linter;
    linter.check(one);
    std::set<long> finding_lines;
    long found = 0;
    for (py::handle record : linter.messages) {
      std::string id = py::str(record["message-id"]);
      if (id == "F0001") {
        refused[path_str(path)] = py::str("could not be read: ") + py::str(record["message"]["reason"]);
        found = -1;
        break;
      }
      if (ids && !ids->count(id)) continue;
      if (id != "C7001" || !wanted_fix) {
        ++unfixed[id];  // no fix of its own, or not asked for
        continue;
      }
      ++found;
      finding_lines.insert(record["line"].cast<long>());
    }
    if (found <= 0) continue;
    // Only the reported lines (a line the template silences is not one).
    std::optional<std::set<long>> wanted = lines_for(only_lines, path);
    if (wanted) {
      std::set<long> both;
      for (long line : *wanted)
        if (finding_lines.count(line)) both.insert(line);
      wanted = both;
    } else {
      wanted = finding_lines;
    }
    SourceText source = read_source_text((project_root / path).string(), SourceKind::html);
    templates::StaticTagFix fix;
    if (source.text) fix = templates::fix_static_urls(*source.text, static_url.value_or(""), wanted ? &*wanted : nullptr);
    if (fix.rewritten > 0) {
      if (std::optional<std::string> why = unwritable(project_root, path)) {
        refused[path_str(path)] = *why;
        unfixed["C7001"] += found;
        continue;
      }
      std::string original = source.text->cast<std::string>();
      // A byte-order mark the decoder took off goes back on.
      std::string head(kBomText.size(), '\0');
      std::ifstream((project_root / path).string(), std::ios::binary).read(head.data(), static_cast<long>(head.size()));
      std::string mark = head == kBomText ? std::string(kBomText) : std::string();
      files.append(py::make_tuple(mark + fix.text, path_str(path)));
      originals[path_str(path)] = mark + original;
      read[path_str(path)] = py::bytes(source.raw);
      fixed["C7001"] += fix.rewritten;
    }
    if (found > fix.rewritten) unfixed["C7001"] += found - fix.rewritten;
  }
}

}  // namespace

namespace {

// The project's options ([tool.tessary]) hold for one run only.
struct OptionsScope {
  explicit OptionsScope(py::dict options) { project_options() = std::move(options); }
  ~OptionsScope() { project_options() = py::dict(); }
  OptionsScope(const OptionsScope&) = delete;
  OptionsScope& operator=(const OptionsScope&) = delete;
};

}  // namespace

py::dict fix_project(const fs::path& project_root, const py::object& whitelist, const std::string& settings_modpath,
                     const py::dict& code_style, const py::object& search_paths, bool unsafe_fixes,
                     const py::object& only_lines, const std::string& django_version, const py::object& found,
                     const py::object& claim) {
  std::optional<checker::SearchPathScope> environment;
  django_release() = django_version;
  OptionsScope options_scope(meta::get_toml_config(project_root));
  AnalysedProject project(project_root.string());
  std::vector<std::pair<std::string, std::optional<std::set<std::string>>>> targets;
  TemplateTargets template_targets;
  if (whitelist.is_none()) {
    // The files `tessary check` lints, found the same way.
    for (const std::string& path : meta::project_files(project_root).files) {
      if (is_template(path)) template_targets.emplace_back(path, std::nullopt);
      else targets.emplace_back(path, std::nullopt);
    }
  } else {
    for (auto item : py::dict(whitelist)) {
      std::string path = path_bytes(item.first);
      if (is_template(path)) {
        std::optional<std::set<std::string>> ids;
        if (!item.second.is_none()) {
          ids.emplace();
          for (py::handle id : item.second) ids->insert(py::str(id));
        }
        template_targets.emplace_back(path, ids);
        continue;
      }
      if (path.size() < 3 || path.compare(path.size() - 3, 3, ".py") != 0) continue;
      std::optional<std::set<std::string>> ids;
      if (!item.second.is_none()) {
        ids.emplace();
        for (py::handle id : item.second) ids->insert(py::str(id));
      }
      targets.emplace_back(path, ids);
    }
  }

  // A file reached by several paths (a symlink to a module of the project)
  // is fixed once, under its own path when that is among them.
  {
    std::map<fs::path, size_t> chosen;
    std::vector<bool> keep(targets.size(), true);
    for (size_t i = 0; i < targets.size(); ++i) {
      std::error_code ec;
      fs::path real = fs::canonical(project_root / targets[i].first, ec);
      if (ec) continue;
      auto [it, inserted] = chosen.try_emplace(real, i);
      if (inserted) continue;
      bool link = fs::is_symlink(project_root / targets[i].first, ec);
      if (!link && fs::is_symlink(project_root / targets[it->second].first, ec)) {
        keep[it->second] = false;
        it->second = i;
      } else {
        keep[i] = false;
      }
    }
    decltype(targets) unique;
    for (size_t i = 0; i < targets.size(); ++i)
      if (keep[i]) unique.push_back(targets[i]);
    targets.swap(unique);
  }

  // The folders above the files' outermost packages come first on the
  // module search path, as they do while pylint lints the files: a file's
  // text built again (for a fix, or to count what it fixed) finds the
  // project's modules as its lint did.
  {
    py::list paths;
    for (const auto& entry : targets) {
      fs::path folder = (project_root / entry.first).parent_path();
      std::error_code ec;
      while (!folder.empty() && folder != folder.root_path() && fs::is_regular_file(folder / "__init__.py", ec))
        folder = folder.parent_path();
      py::str text = path_str(folder.string());
      if (!paths.contains(text)) paths.append(text);
    }
    if (!search_paths.is_none())
      for (py::handle entry : search_paths) paths.append(entry);
    environment.emplace(paths);
  }

  // Modules built here from text are cached by astroid under their dotted
  // names; they must not stand in for same-named modules of another
  // project later in this process.
  struct Forget {
    const fs::path& root;
    const decltype(targets)& paths;
    ~Forget() {
      try {
        forget();
      } catch (...) {
        // Never throw from here; a stale cache entry only costs a re-read.
      }
    }
    void forget() const {
      py::dict cache = py::module_::import("astroid").attr("MANAGER").attr("astroid_cache");
      py::object abspath = py::module_::import("os.path").attr("abspath");
      for (const auto& entry : paths) {
        py::str key = path_str(module_name(entry.first));
        if (!cache.contains(key)) continue;
        // Texts are built under their relative path, which astroid may
        // have made absolute against the working folder.
        py::object file = py::getattr(cache[key], "file", py::none());
        if (file.is_none()) continue;
        if (path_bytes(file) == entry.first || abspath(file).equal(abspath(path_str(entry.first))))
          cache.attr("pop")(key);
      }
      checker::forget_modules_under(path_str(root.string()));
    }
  } forget{project_root, targets};
  // What astroid cached of these files earlier in this process may be out
  // of date; the lint below reads them afresh, and the fixer edits the
  // trees it builds.
  forget.forget();
  checker::forget_other_modules_named_like(path_str(project_root.string()));

  py::list files;
  std::map<std::string, long> fixed, unfixed, uncovered;
  py::dict refused, changed_models, originals, read;
  // One lint of all the files tells which of them have something to fix;
  // only those are fixed (and counted again, before and after, alike).
  py::dict found_per_file;
  // The lines of those findings: a fix changes only what was reported (a
  // line that `# noqa` or a disable comment silences is not reported, so
  // it is not fixed either).
  std::map<std::string, std::map<std::string, std::set<long>>> found_lines;
  // The linter's trees, by real path, with what each file looked like
  // before it was linted: a tree is reused for a file unchanged since.
  py::dict trees;
  std::map<std::string, FileStamp> stamps;
  for (const auto& entry : targets) stamps[entry.first] = stamp_of(project_root / entry.first);
  {
    py::object records = found;
    py::object linter = py::none();
    if (found.is_none()) {
      py::list absolute;
      for (const auto& entry : targets) absolute.append(path_str((project_root / entry.first).string()));
      linter = checker::create_linter(checker::driver().Linter);
      for (auto item : project_options()) linter.attr("set_option")(item.first, item.second);
      linter.attr("set_option")("settings-files", py::list(py::make_tuple(settings_modpath)));
      if (!django_version.empty()) linter.attr("set_option")("django-version", django_version);
      linter.attr("check")(absolute);
      records = linter.attr("reporter").attr("messages");
    }
    py::object realpath = py::module_::import("os.path").attr("realpath");
    // Only tessary's own findings count: pylint's remarks on the project's
    // pylint pragmas are not ours. A module that could not be analysed is
    // left as it is, with the reason.
    py::set codes(checker::get_all_message_codes());
    for (py::handle record : records) {
      if (!codes.contains(record["message-id"])) continue;
      if (py::str(record["type"]).cast<std::string>() == "fatal") {
        py::dict arguments = py::dict(record["message"]);
        fs::path where = fs::path(path_bytes(record["abspath"]));
        std::error_code ec;
        fs::path relative = fs::relative(where, project_root, ec);
        refused[path_str(ec ? where.string() : relative.generic_string())] =
            py::str("could not be analysed: ") + py::str(arguments.attr("get")("reason", ""));
        continue;
      }
      py::object key = realpath(record["abspath"]);
      if (!found_per_file.contains(key)) found_per_file[key] = py::list();
      found_per_file[key].attr("append")(record["message-id"]);
      py::object line = record["line"];
      if (py::isinstance<py::int_>(line))
        found_lines[path_bytes(key)][py::str(record["message-id"])].insert(line.cast<long>());
    }
    if (!linter.is_none()) {
      for (py::handle module : py::dict(ast().manager.attr("astroid_cache")).attr("values")()) {
        py::object file = py::getattr(module, ast().file, py::none());
        if (file.is_none()) continue;
        py::object key = realpath(file);
        if (found_per_file.contains(key)) trees[key] = module;
      }
    }
  }
  std::set<std::string> fixable_ids, unsafe_ids;
  for (const Rule& entry : kRegistry) {
    if (entry.fix.empty() || entry.module == "templates") continue;  // templates are fixed below
    fixable_ids.insert(std::string(entry.id));
    if (!entry.unsafe_because.empty()) unsafe_ids.insert(std::string(entry.id));
  }
  py::object realpath = py::module_::import("os.path").attr("realpath");
  std::map<std::string, long> held_back;
  // Whether any settings finding with a fix was reported.
  std::set<std::string> settings_ids;
  for (const Rule& entry : rules_of("settings"))
    if (!entry.fix.empty()) settings_ids.insert(std::string(entry.id));
  bool settings_fixes_wanted = false;
  for (auto item : found_per_file)
    for (py::handle id : item.second) settings_fixes_wanted = settings_fixes_wanted || settings_ids.count(py::str(id));
  std::set<std::string> settings_files;
  if (settings_fixes_wanted && unsafe_fixes)
    for (const std::string& file : settings::files_to_fix(std::vector<std::string>(settings_ids.begin(), settings_ids.end()),
                                                          settings_modpath, django_version))
      settings_files.insert(path_bytes(realpath(path_str(file))));
  // Their trees as the linter read them (it read them all for the settings
  // checks), as for the files with findings, when it ran here.
  if (!settings_files.empty() && found.is_none()) {
    for (py::handle module : py::dict(ast().manager.attr("astroid_cache")).attr("values")()) {
      py::object file = py::getattr(module, ast().file, py::none());
      if (file.is_none()) continue;
      py::object key = realpath(file);
      if (settings_files.count(path_bytes(key)) && !trees.contains(key)) trees[key] = module;
    }
  }

  for (auto [path, ids] : targets) {
    // Another process fixes (and counts) what it claimed first.
    if (!claim.is_none() && !claim(path_str(path)).cast<bool>()) continue;
    py::object key = realpath(path_str((project_root / path).string()));
    // Unsafe fixes wait until they are asked for: their findings are
    // counted as held back, and the fixer never sees their ids.
    if (!unsafe_fixes && found_per_file.contains(key)) {
      for (py::handle id : found_per_file[key]) {
        std::string text_id = py::str(id);
        if (unsafe_ids.count(text_id) && (!ids || ids->count(text_id))) ++held_back[text_id];
      }
      if (!ids) {
        // Every id found stays wanted (those without a fix are counted as such).
        ids = fixable_ids;
        for (py::handle id : found_per_file[key]) ids->insert(py::str(id));
      }
      for (const std::string& id : unsafe_ids) ids->erase(id);
    }
    // A settings module where nothing was reported may take what the
    // settings fixes elsewhere bring in (the settings the HSTS and
    // redirect checks want once SecurityMiddleware is in).
    bool needs_fixer = !settings_files.empty() && only_lines.is_none() &&
                       settings_files.count(path_bytes(key)) &&
                       (!ids || std::any_of(ids->begin(), ids->end(), [&](const std::string& id) {
                          return settings_ids.count(id) > 0;
                        }));
    if (found_per_file.contains(key)) {
      for (py::handle id : found_per_file[key]) {
        std::string text_id = py::str(id);
        if (fixable_ids.count(text_id) && (!ids || ids->count(text_id))) needs_fixer = true;
      }
    }
    if (!needs_fixer) {
      if (found_per_file.contains(key)) {
        for (py::handle id : found_per_file[key]) {
          std::string text_id = py::str(id);
          if (!ids || ids->count(text_id)) ++unfixed[text_id];
        }
      }
      continue;
    }
    SourceText source = read_source_text((project_root / path).string(), SourceKind::python);
    if (!source.text) {
      refused[path_str(path)] = source.problem;
      continue;
    }
    if (std::optional<std::string> why = unwritable(project_root, path)) {
      refused[path_str(path)] = *why;
      continue;
    }
    Spelling spelling;
    std::string text = to_plain(source.text->cast<std::string>(), spelling);
    spelling.bom = spelling.bom || source.encoding == "utf-8-sig";  // the decoder took the mark off
    LintedText linted;
    if (found_per_file.contains(key))
      for (py::handle id : found_per_file[key]) ++linted.findings[py::str(id)];
    linted.settings_module = settings_files.count(path_bytes(key)) > 0;
    linted.file = (project_root / path).string();
    linted.module = checker::linted_module_name(project_root, path);
    // The linter read the file with universal newlines and without its
    // byte-order mark: its tree is of this very text unless the file
    // changed since, or holds a lone carriage return.
    bool same_text =
        stamp_of(project_root / path) == stamps[path] && text.find('\r') == std::string::npos;
    if (same_text && trees.contains(key)) linted.tree = trees[key];
    FileFix fix;
    try {
      fix = fix_text(text, path, settings_modpath, code_style, ids, linted, lines_for(only_lines, path),
                     &found_lines[path_bytes(key)]);
    } catch (py::error_already_set& err) {
      if (!err.matches(py::module_::import("astroid").attr("AstroidSyntaxError"))) throw;
      refused[path_str(path)] = "does not parse";
      continue;
    }
    if (!fix.refused.empty()) refused[path_str(path)] = fix.refused;
    for (const auto& [id, n] : fix.fixed) fixed[id] += n;
    for (const auto& [id, n] : fix.unfixed) unfixed[id] += n;
    for (const auto& [id, n] : fix.uncovered) uncovered[id] += n;
    if (!fix.changed_models.empty()) {
      std::string app = app_label(project_root, path);
      py::list models = changed_models.attr("setdefault")(path_str(app), py::list());
      for (const std::string& model : fix.changed_models) models.append(model);
    }
    if (fix.text != text) {
      files.append(py::make_tuple(from_plain(text, fix.text, spelling), path_str(path)));
      originals[path_str(path)] = *source.text;
      read[path_str(path)] = py::bytes(source.raw);
    }
  }
  fix_templates(project_root, template_targets, only_lines, files, originals, read, refused, fixed, unfixed);
  py::dict out;
  out["files"] = files;
  out["fixed"] = fixed;
  out["unfixed"] = unfixed;
  out["uncovered"] = uncovered;  // fixed too, though no check reported them: the fixes brought them about
  out["refused"] = refused;
  out["changed_models"] = changed_models;
  out["originals"] = originals;
  out["read"] = read;  // each changed file's bytes as read: write_files writes only over these
  out["held_back"] = held_back;
  return out;
}

py::dict fix_source(const fs::path& project_root, const std::string& relative_path, const std::string& text,
                    const py::object& ids, const py::object& lines, const std::string& settings_modpath,
                    const py::dict& code_style, const py::object& search_paths, const std::string& django_version) {
  py::dict out;
  out["text"] = py::str(text);
  out["fixed"] = py::dict();
  out["refused"] = py::str("");
  std::optional<std::set<long>> wanted_lines;
  if (!lines.is_none()) {
    wanted_lines.emplace();
    for (py::handle line : lines) wanted_lines->insert(line.cast<long>());
  }
  std::optional<std::set<std::string>> wanted_ids;
  if (!ids.is_none()) {
    wanted_ids.emplace();
    for (py::handle id : ids) wanted_ids->insert(py::str(id));
  }
  if (is_template(relative_path)) {
    if (wanted_ids && !wanted_ids->count("C7001")) return out;
    // Only a STATIC_URL the site serves says what the tag would write.
    std::optional<std::string> static_url = meta::get_static_url_setting(project_root);
    templates::StaticTagFix fix =
        templates::fix_static_urls(text, static_url.value_or(""), wanted_lines ? &*wanted_lines : nullptr);
    if (fix.rewritten == 0) return out;
    out["text"] = py::str(fix.text);
    py::dict fixed;
    fixed["C7001"] = fix.rewritten;
    out["fixed"] = fixed;
    return out;
  }
  // The text is fixed under its project-relative name, with the project's
  // root where its packages are found, as its lint was.
  py::list paths;
  paths.append(path_str(project_root.string()));
  if (!search_paths.is_none())
    for (py::handle entry : search_paths) paths.append(entry);
  checker::SearchPathScope environment(paths);
  django_release() = django_version;
  OptionsScope options_scope(meta::get_toml_config(project_root));
  AnalysedProject project(project_root.string());
  checker::forget_other_modules_named_like(path_str(project_root.string()));
  struct Forget {
    const fs::path& root;
    std::string dotted;
    ~Forget() {
      try {
        checker::forget_modules_under(path_str(root.string()));
        py::dict modules = ast().manager.attr("astroid_cache");
        if (modules.contains(py::str(dotted))) modules.attr("pop")(py::str(dotted));
        checker::forget_inference_caches();
      } catch (...) {
        // A stale tree only costs a re-read.
      }
    }
  } forget{project_root, checker::linted_module_name(project_root, relative_path)};
  Spelling spelling;
  std::string plain = to_plain(text, spelling);
  // The text's findings and tree, under its file's own path and dotted
  // name, as `check` lints the file: a fix changes only what was reported.
  LintedText linted;
  linted.file = (project_root / relative_path).string();
  linted.module = forget.dotted;
  std::map<std::string, std::set<long>> reported;
  for (py::handle record : checker::lint_source(path_str(project_root.string()), relative_path, plain,
                                                django_version.empty() ? "3.2" : django_version, search_paths)) {
    std::string id = py::str(record["message-id"]);
    if (id == "E0001" || id == "F0001") {
      out["refused"] = py::str("does not parse");
      return out;
    }
    ++linted.findings[id];
    if (py::isinstance<py::int_>(record["line"])) reported[id].insert(record["line"].cast<long>());
  }
  FileFix fix;
  try {
    linted.tree = build_token_tree(plain, forget.dotted, path_str((project_root / relative_path).string()))
                      .attr("tree");
    fix = fix_text(plain, relative_path, settings_modpath, code_style, wanted_ids, linted, wanted_lines, &reported);
  } catch (py::error_already_set& err) {
    if (!err.matches(py::module_::import("astroid").attr("AstroidSyntaxError"))) throw;
    out["refused"] = py::str("does not parse");
    return out;
  }
  out["refused"] = py::str(fix.refused);
  if (fix.text != plain) out["text"] = py::str(from_plain(plain, fix.text, spelling));
  py::dict fixed;
  for (const auto& [id, n] : fix.fixed) fixed[py::str(id)] = n;
  out["fixed"] = fixed;
  return out;
}

}  // namespace tessary::transformer

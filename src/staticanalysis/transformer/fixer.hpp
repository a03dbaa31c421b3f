// Fixing whole files with minimal edits: only the source ranges of the
// nodes a fix changed are rewritten; every other byte stays as it was.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tessary::transformer {

namespace py = pybind11;
namespace fs = std::filesystem;

// What fixing one file's text gave.
struct FileFix {
  std::string text;                      // the fixed text (the original when nothing changed)
  std::map<std::string, long> fixed;     // findings that no longer show, per id
  std::map<std::string, long> unfixed;   // findings still there, per id
  // Findings that only the fixes brought about (a security setting that
  // Django checks once the middleware it needs is installed), fixed in
  // the same run, per id. They are not among `fixed`, which counts what
  // the check reported.
  std::map<std::string, long> uncovered;
  std::set<std::string> changed_models;  // model classes whose field declarations changed
  std::string refused;                   // why the file was left as it was, when it was
};

// What a caller that linted a text already knows of it: its findings per
// id, and the tree the linter built from exactly that text.
struct LintedText {
  std::map<std::string, long> findings;
  py::object tree = py::none();
  // A settings module that the settings fixes may edit though nothing was
  // reported in it (they add what fixes elsewhere bring about).
  bool settings_module = false;
  // The file's absolute path and the dotted name its lint gave it: its
  // text, and the fixed text, are linted under these, so that inference
  // finds the project's modules wherever tessary runs from. Empty: under
  // the relative path.
  std::string file;
  std::string module;
};

// Fix `text` (the module `relative_path` of a project) for the ids in
// `ids` (all fixable ids when nullopt).
// Given `lines`, only the findings on those lines are fixed; given
// `reported_lines` (the lines each id was reported on), a rule's fix
// changes only what was reported of it.
FileFix fix_text(const std::string& text, const std::string& relative_path, const std::string& settings_modpath,
                 const py::dict& code_style, const std::optional<std::set<std::string>>& ids,
                 const std::optional<LintedText>& linted = std::nullopt,
                 const std::optional<std::set<long>>& lines = std::nullopt,
                 const std::map<std::string, std::set<long>>* reported_lines = nullptr);

// Fix the project's Python files named by `whitelist` (a map from relative
// path to a collection of ids, None for every fixable id; None for every
// file). Returns {"files": [(new text, path)], "fixed": {id: n},
// "unfixed": {id: n}, "uncovered": {id: n} (findings the fixes brought
// about and fixed too), "changed_models": {app: [model]}, "refused": {path: why}}.
// `search_paths`: the analysed environment's folders (None: tessary's own).
// Without `unsafe_fixes` only safe fixes are applied; the findings whose
// fix was held back are counted per id in "held_back". "originals" holds
// the text each changed file had, as read. Templates (".html") get the
// fix of hard-coded static URLs. `only_lines` (a map from relative path to
// line numbers; None for every line) keeps the fixes to the findings on
// those lines. `found`, when given, is what a lint of these files has just
// reported (`check`'s records, from worker processes), and the files are
// not linted here first: the trees of the files with findings are built
// again as they are fixed. `claim`, when given, is asked of each module
// (by its relative path) before it is fixed: one it answers false to is
// another process's, and is neither fixed nor counted here.
py::dict fix_project(const fs::path& project_root, const py::object& whitelist, const std::string& settings_modpath,
                     const py::dict& code_style, const py::object& search_paths = py::none(),
                     bool unsafe_fixes = true, const py::object& only_lines = py::none(),
                     const std::string& django_version = "", const py::object& found = py::none(),
                     const py::object& claim = py::none());

// Fix `text`, an unsaved text of the project file `relative_path` (a module
// or a template), for the findings of `ids` (None: every fixable id) on
// `lines` (None: every line), as `fix` would fix the file, with nothing
// written. Returns {"text": the fixed text (the same when nothing
// changed), "fixed": {id: n}, "refused": why the text was left as it was,
// or ""}.
py::dict fix_source(const fs::path& project_root, const std::string& relative_path, const std::string& text,
                    const py::object& ids, const py::object& lines, const std::string& settings_modpath,
                    const py::dict& code_style, const py::object& search_paths = py::none(),
                    const std::string& django_version = "");

// The Django release the fixer's linters judge by ("" for their default);
// fix_project sets it for its run.
std::string& django_release();
// The project's linter options ([tool.tessary]) that the fixer's linters
// and fixes judge by, as `check` does; fix_project sets them for its run,
// and they are empty outside one.
py::dict& project_options();

void bind_fixer(py::module_& m);

}  // namespace tessary::transformer

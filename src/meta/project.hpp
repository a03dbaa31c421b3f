// A project's files and its git change set: what `check`, `fix` and
// `suggest` work on, found one way for all three.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessary::meta {

namespace py = pybind11;
namespace fs = std::filesystem;

// The Python modules and HTML templates of a project, as project-relative
// paths with "/" separators, sorted: the files git tracks or would track
// (ignored ones left out) in a git work tree, else every file below the
// root; never one inside a skipped folder (skipped_folder). `warnings`
// names the symlinks left out (a loop, a dangling link).
struct ProjectFiles {
  std::vector<std::string> files;
  std::vector<std::string> warnings;
};
// Files that one of the `exclude` patterns matches (path_matches) are left
// out.
ProjectFiles project_files(const fs::path& root, const std::vector<std::string>& exclude = {});

// Whether a gitignore-style pattern matches a project-relative path ("/"
// separators) or one of the folders above it: `*`, `?` and `[...]` match
// within one path part, `**` any number of parts; a pattern with a "/"
// before its end is anchored at the project root (`*/legacy/*.py`,
// `docs/**`), one without matches a name at any depth (`*.html`); a
// trailing "/" matches folders only (`migrations/`). `folder` says that
// the path itself is a folder.
bool path_matches(const std::string& pattern, const std::string& relative, bool folder = false);
// What is wrong with a pattern ("" when nothing): an empty one, a negation
// (`!pattern`, not supported), an unclosed `[`.
std::string pattern_problem(const std::string& pattern);

// The project that holds `start` (a file or folder; links resolved): the
// nearest folder upward with a manage.py or a pyproject.toml, else the top
// of the git work tree that holds it, else (with a warning) the working
// directory when `start` lies in it, else the folder of `start`. `how`
// names the rule that found it: "manage.py", "pyproject.toml", "git
// repository", "working directory", "folder of the paths".
struct ProjectRoot {
  fs::path root;
  std::string how;
};
ProjectRoot find_project_root(const fs::path& start, const fs::path& working_directory);

// Whether the root lies in a git work tree.
bool in_git_repository(const fs::path& root);
// Whether the work tree's ignore rules leave the root out as a whole.
bool ignored_by_git(const fs::path& root);
// Output of a git command run at the root with tessary's own settings (no
// command the repository's configuration names runs: no fsmonitor,
// textconv, external diff, content filter or pager). A failure is a value
// error with git's message in one line.
std::string git(const fs::path& root, const std::vector<std::string>& args);

// The line ranges (first, last) of the new side of each hunk of the diff
// from `rev` to the work tree with `context` lines around each change, by
// project-relative path; a new untracked file maps to nullopt (every line
// is new).
using DiffRanges = std::map<std::string, std::optional<std::vector<std::pair<long, long>>>>;
// The commit a revision names (a branch, a tag, a sha), resolved with
// options ended first; a ValueError when it names none.
std::string resolve_revision(const fs::path& root, const std::string& rev);
DiffRanges diff_ranges(const fs::path& root, const std::string& rev, long context);
// The merge base with the main branch (origin/main, main, origin/master,
// master, the first there is), else HEAD.
std::string default_base(const fs::path& root);
// The root's folder within its git work tree, "/"-terminated ("" at the
// top, or outside a work tree): what turns a project-relative path into
// the repository-relative one GitHub knows.
std::string repository_prefix(const fs::path& root);
// A path as git writes it in a diff header (C-quoted when it holds special
// characters, followed by a tab when it holds a space), as it is.
std::string unquote_git_path(std::string text);

void bind_project(py::module_& m);

}  // namespace tessary::meta

// The results cache: findings of files whose text, and the text of every
// project module they import, did not change since the last run are not
// linted again.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <string>

namespace tessary::meta {

namespace py = pybind11;

// What every cached result depends on besides the files: tessary's
// version, the [tool.tessary] options, the Django version the checks
// assume, the analysed environment and the settings modules.
std::string results_fingerprint(const py::object& project_root, const std::string& django_version,
                                const py::object& search_paths);

// {path: key} for the project-relative `files`. A module's key covers its
// own text and the text of the project modules it imports, directly or
// not (their packages' __init__ modules included); a template's covers
// its text. Files that cannot be read get no key (they are always linted).
// With a `cache_dir`, what each module imports is kept there by the digest
// of its text, and an unchanged module is not parsed again.
py::dict results_cache_keys(const py::object& project_root, const py::iterable& files,
                            const std::string& fingerprint, const py::object& cache_dir = py::none());

// Where the results cache lives: `named` (the user's --cache-dir) when
// given, else .tessary_cache in the project root, unless that is a symlink,
// not a folder, or resolves outside the project: then None (no cache),
// with a warning. A repository could otherwise commit a link that makes
// tessary write elsewhere.
py::object results_cache_folder(const py::object& project_root, const py::object& named = py::none());

// The cached {path: {"key": key, "records": [...]}} in `cache_dir`; empty
// when there is none or it is damaged (a damaged cache is never trusted).
py::dict read_results_cache(const py::object& cache_dir);
// Write the entries atomically; the folder gets a .gitignore of its own.
// Failing to write (a read-only project) is not an error: nothing is kept.
void write_results_cache(const py::object& cache_dir, const py::dict& entries);

// Whether a record's line is one the filter wants: every line (None), or
// one of the listed lines.
bool line_wanted(const py::object& wanted, const py::object& line);
// Whether a finding lies on the lines the filter wants: its own line, or
// any line of the statement it is reported on (a keyword added inside a
// call that spans several lines changes that call). A class or function
// definition counts by its header line only: a change in its body is not
// a change of it. `file` is the module the record is about.
bool record_wanted(const py::object& wanted, const py::handle& record, const std::filesystem::path& file);
// The records (project-relative "path") on the lines the filter wants; a
// module that could not be analysed always. `project_root` finds the
// files, for findings that span several lines.
py::list filter_records(const py::iterable& records, const py::dict& files, const std::filesystem::path& project_root = {});

void bind_cache(py::module_& m);

}  // namespace tessary::meta

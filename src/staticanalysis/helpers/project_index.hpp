// What a check needs to know of the whole project while it looks at one
// module, found by reading the tokens of every module of the project: no
// parsing, no inference, a name is all it keeps. So a use of one model's
// field counts for every field of that name.
//
// Where a project gives a field's NULL a meaning of its own: the names it
// assigns None to, passes None for, compares with None or filters on
// `__isnull`.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "staticanalysis/helpers/facade.hpp"

namespace tessary {

// The names `source` (Python text) uses with None:
//   obj.name = None            obj.name is None / is not None / == None / != None
//   call(name=None)            call(rel__name__exact=None)
//   "name__isnull" / name__isnull=...      {"name": None}
// Parameter defaults (`def f(name=None)`) are not uses.
std::set<std::string> names_used_with_none(std::string_view source);

// The same for every Python module below `root` (the folders no run looks
// into left out), read once per analysis and kept until the next one.
const std::set<std::string>& project_names_used_with_none(const std::filesystem::path& root);

// The names the project's admin modules (admin.py, a module of an admin
// package) import: the admin classes they register or build on.
std::set<std::string> names_imported(std::string_view source);
const std::set<std::string>& project_names_imported_by_admin(const std::filesystem::path& root);

// The folder whose modules make the project for a check of `node`: the
// analysed project's root, or, for a module checked on its own, its top
// package. Empty when the module has no file.
std::filesystem::path index_root_of(const Node& node);

// The default reverse accessors the project reads: `.book_set`.
std::set<std::string> default_accessors_read(std::string_view source);
const std::set<std::string>& project_default_accessors_read(const std::filesystem::path& root);

// Forget what was read: the next question reads the project again.
void forget_project_index();

}  // namespace tessary

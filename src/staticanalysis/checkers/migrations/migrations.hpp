// Checks on migration modules: project models used instead of historical
// ones, and RunPython steps without a reverse function.
#pragma once

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::migrations {

inline constexpr Rule kRules[] = {
    {"C8000", "migration-model-import", "Detects importing model in migration",
     "A migration reading Model.objects on a model class imported from the project's code.",
     "Migrations must use the historical model (apps.get_model); the current class changes as the code "
     "moves on and breaks old migrations.",
     "from shop.models import Book\n...\nBook.objects.all()", "Book = apps.get_model(\"shop\", \"Book\")\nBook.objects.all()",
     ""},
    {"C8001", "missing-reverse-migration", "Detects if migration has no backwards",
     "A migrations.RunPython step without reverse code.",
     "Without a reverse function the migration cannot be unapplied, which blocks rollbacks.",
     "migrations.RunPython(forwards)", "migrations.RunPython(forwards, migrations.RunPython.noop)",
     "Adds migrations.RunPython.noop as the reverse code."},
};

bool is_missing_reverse(const Node& call);
// The C8001 fix: adds RunPython.noop as the reverse function, in place.
py::object add_reverse_code(const Node& node);
const std::vector<FixRow>& fix_rules();
void bind_fixes(py::module_& m);

const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::migrations

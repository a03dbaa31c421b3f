// Admin classes belong in the app's admin module.
#pragma once

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"

namespace tessary::admin {

inline constexpr Rule kRules[] = {
    {"C5000", "misplaced-admin-class", "Admin class should be in admin.py",
     "A ModelAdmin or inline admin class defined in a module whose dotted name has no \".admin\".",
     "Admin auto-discovery imports each app's admin module; admin classes elsewhere are easy to miss and "
     "pull admin imports into models.",
     "# shop/models.py\nclass BookAdmin(admin.ModelAdmin): ...", "# shop/admin.py\nclass BookAdmin(admin.ModelAdmin): ...",
     ""},
};

const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::admin

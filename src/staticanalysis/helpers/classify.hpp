// Framework questions about syntax-tree nodes, answered by ancestry through
// inference: never by a class's own name or by how it was imported.
#pragma once

#include "staticanalysis/helpers/facade.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tessary {

namespace qnames {
inline constexpr std::string_view model = "django.db.models.base.Model";
inline constexpr std::string_view manager = "django.db.models.manager.Manager";
inline constexpr std::string_view queryset = "django.db.models.query.QuerySet";
inline constexpr std::string_view related_field = "django.db.models.fields.related.RelatedField";
inline constexpr std::string_view model_admin = "django.contrib.admin.options.BaseModelAdmin";
inline constexpr std::string_view field = "django.db.models.fields.Field";
inline constexpr std::string_view migration = "django.db.migrations.migration.Migration";
}  // namespace qnames

// Class names compared by exact text.
bool is_django_string_field_name(std::string_view name);
bool is_django_boolean_field_name(std::string_view name);
inline constexpr std::string_view DJANGO_STRING_FIELDS[] = {"TextField", "CharField", "URLField",
                                                            "EmailField", "SlugField"};
inline constexpr std::string_view DJANGO_BOOLEAN_FIELDS[] = {"BooleanField", "NullBooleanField"};
// The methods of managers and querysets that return a queryset.
inline constexpr std::string_view QUERYSET_METHODS[] = {
    "all",         "filter",   "exclude", "values",   "values_list",       "only",           "defer",
    "select_related", "prefetch_related", "annotate", "alias", "distinct", "order_by", "reverse",
    "union",       "intersection", "difference", "none", "using", "select_for_update", "complex_filter",
    "extra",       "dates",    "datetimes"};
bool is_queryset_method_name(std::string_view name);

// These take a class node or an inferred instance; they do not infer.
inline bool is_model(const Node& n) { return has_ancestor(n, qnames::model); }
inline bool is_model_manager(const Node& n) { return has_ancestor(n, qnames::manager); }
inline bool is_queryset(const Node& n) { return has_ancestor(n, qnames::queryset); }
inline bool is_related_field(const Node& n) { return has_ancestor(n, qnames::related_field); }
inline bool is_model_admin(const Node& n) { return has_ancestor(n, qnames::model_admin); }

// The object-id field names of a model class's GenericForeignKey
// declarations, worked out on first use and kept on the class node. Once
// the shims are loaded every model class node answers them as its
// attribute `generic_foreign_key_field_names`.
py::list generic_foreign_key_field_names(const Node& model);

// Does the expression (typically a field call) infer to a model field?
bool is_model_field(const Node& node);
// Is the module holding `node` a migration module?
bool is_migration_file(const Node& node);
// The node defining `abstract` in the class's own Meta, or nullopt.
std::optional<Node> is_node_abstract_model(const Node& classdef);
// Does the class's own Meta say `managed = False`? Django then neither
// creates nor alters its table: the fields describe a table made elsewhere.
bool is_unmanaged_model(const Node& classdef);
// The name an enclosing single-name assignment binds, if any.
std::optional<std::string> get_member_name(const Node& node);
// The called name of a call (`filter` for x.filter()), if it has one.
std::optional<std::string> get_function_name(const Node& call);
// Last component of a dotted name.
std::string get_module_name(std::string_view module);

// First own definition of `name` in a scope's body (class or module
// indexing); nullopt when the body does not define it.
std::optional<Node> own_definition(const Node& scope, const char* name);

}  // namespace tessary

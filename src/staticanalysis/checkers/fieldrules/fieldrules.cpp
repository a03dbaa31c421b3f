#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"


#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>

#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/project_index.hpp"
#include "staticanalysis/helpers/paths.hpp"
#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/project_scope.hpp"
#include "staticanalysis/helpers/pyclass.hpp"
#include "staticanalysis/helpers/values.hpp"

namespace tessary::fieldrules {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.fieldrules";

py::object get_or_none(const py::dict& map, const char* key) {
  py::str k(key);
  return map.contains(k) ? py::object(map[k]) : py::object(py::none());
}

bool truthy(const py::handle& value) { return PyObject_IsTrue(value.ptr()) == 1; }

}  // namespace

FieldOptions& field_options(const Node& node) { return facts_on<FieldOptions>(node.root()); }

void use_options(const Node& module, const py::dict& options) {
  py::str length("max-charfield-length");
  if (options.contains(length)) field_options(module).max_charfield_length = py::int_(options[length]).cast<long>();
}

FieldCall::FieldCall(const Node& call) : call_(call) {}

CallFacts& FieldCall::facts() {
  if (!facts_) facts_ = &facts_on<CallFacts>(call_);
  return *facts_;
}

const Node& FieldCall::inferred() {
  if (!facts().inferred) facts().inferred = safe_infer(call_);
  return *facts().inferred;
}

bool FieldCall::is_model_field() {
  if (!facts().is_field) facts().is_field = has_ancestor(inferred(), qnames::field);
  return *facts().is_field;
}

std::optional<std::string> FieldCall::class_name() {
  const Node& value = inferred();
  if (!value.truthy()) return std::nullopt;
  return value.name();
}

const py::dict& FieldCall::explicit_args() {
  if (!facts().explicit_args) facts().explicit_args = get_node_explicit_arguments(call_);
  return *facts().explicit_args;
}

const py::dict& FieldCall::default_args() {
  if (!facts().default_args) facts().default_args = constructor_defaults_of(inferred());
  return *facts().default_args;
}

py::dict FieldCall::merged_args() {
  py::dict merged = default_args().attr("copy")();
  merged.attr("update")(explicit_args());
  return merged;
}

bool is_fragile_unique_for(const Node& keyword) {
  std::optional<std::string> arg = keyword.text(ast().arg);
  return arg && (*arg == "unique_for_date" || *arg == "unique_for_month" || *arg == "unique_for_year");
}

bool is_non_unique_fk(FieldCall& call) {
  // Asked of every field: the written keywords are inferred only when the
  // field may be a primary key at all.
  if (!find_keyword(call.node(), "primary_key") && !truthy(get_or_none(call.default_args(), "primary_key")))
    return false;
  py::dict merged = call.merged_args();
  if (!truthy(get_or_none(merged, "primary_key"))) return false;
  py::str unique("unique");
  if (!call.explicit_args().contains(unique)) return false;  // absent reads as true
  return py::object(call.explicit_args()[unique]).is(py::bool_(false));
}

bool is_nullboolean(FieldCall& call) {
  return call.is_model_field() && call.class_name() == std::optional<std::string>("NullBooleanField");
}

bool is_huge_char_field(FieldCall& call) {
  if (!call.is_model_field() || call.class_name() != std::optional<std::string>("CharField")) return false;
  py::object length = get_or_none(call.merged_args(), "max_length");
  if (!truthy(length)) return false;
  PyObject* as_int = PyNumber_Long(length.ptr());
  if (as_int == nullptr) {
    PyErr_Clear();
    return false;
  }
  auto value = py::reinterpret_steal<py::int_>(as_int);
  // An unmanaged model describes a table made elsewhere: its column type is
  // not the model's to choose.
  return value.cast<long long>() > field_options(call.node()).max_charfield_length &&
         !is_unmanaged_model(call.node().frame());
}

bool is_missing_blank_true(FieldCall& call) {
  if (!call.is_model_field()) return false;
  std::optional<std::string> name = call.class_name();
  if (!name || is_django_string_field_name(*name) || is_django_boolean_field_name(*name)) return false;
  if (!find_keyword(call.node(), "null")) return false;
  const py::dict& given = call.explicit_args();
  // blank written out, True or False, is the author's own decision: False
  // beside null=True says the field is required in forms on purpose (NULL
  // is there for on_delete=SET_NULL, say).
  if (!truthy(get_or_none(given, "null")) || given.contains(py::str("blank")) ||
      !get_or_none(given, "default").is_none())
    return false;
  // Forms never validate a field that is not editable, and Django makes
  // auto_now and auto_now_add fields blank itself.
  py::str editable("editable");
  if (given.contains(editable) && !truthy(given[editable])) return false;
  return !truthy(get_or_none(given, "auto_now")) && !truthy(get_or_none(given, "auto_now_add"));
}

namespace {

// Whether `field` is the content type behind a GenericForeignKey of the
// model (its ct_field, "content_type" unless named). Django's
// contenttypes documentation declares it without a related_name: nobody
// reads ContentType's reverse accessor.
bool is_generic_content_type(const Node& model, const std::string& field) {
  const Astroid& a = ast();
  for (const Node& statement : model.nodes(a.body)) {
    if (!statement.isa(a.Assign) && !statement.isa(a.AnnAssign)) continue;
    Node call = statement.child(a.value);
    if (!call.isa(a.Call) || get_function_name(call) != std::optional<std::string>("GenericForeignKey")) continue;
    py::object named = py::str("content_type");
    std::vector<Node> args = call.nodes(a.args);
    if (!args.empty()) named = args[0].isa(a.Const) ? args[0].get(a.value) : py::object(py::none());
    if (std::optional<Node> keyword = find_keyword(call, "ct_field")) {
      Node value = keyword->child(a.value);
      named = value.isa(a.Const) ? value.get(a.value) : py::object(py::none());
    }
    // A name that is not a literal could be any field.
    if (named.is_none() || (py::isinstance<py::str>(named) && named.cast<std::string>() == field)) return true;
  }
  return false;
}

}  // namespace

std::string accessor_advice(const Node& call) {
  std::optional<std::string> model = call.frame().name();
  std::filesystem::path root = index_root_of(call);
  if (!model || root.empty()) return "";
  std::string query_name = *model;
  std::transform(query_name.begin(), query_name.end(), query_name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::string accessor = query_name + "_set";
  if (!project_default_accessors_read(root).count(accessor)) return "";
  // related_name alone would rename the reverse lookups too (their name
  // follows related_name): related_query_name keeps them.
  return "; the project reads " + accessor + ", so related_name=\"" + accessor + "\", related_query_name=\"" +
         query_name + "\" keeps every lookup";
}

bool is_fk_mising_related_name(FieldCall& call) {
  if (call.class_name() != std::optional<std::string>("ForeignKey")) return false;
  // Only a field of a model class body has a reverse accessor to name: a
  // form field made with formfield(), or a field in a dict of fields for a
  // model built at run time, has none of its own.
  // (The class need not infer as a model: its base may come from a package
  // the analysis cannot see.)
  Node model = call.node().frame();
  if (!model.isa(ast().ClassDef)) return false;
  if (call.node().parent().isa(ast().Attribute)) return false;
  std::optional<std::string> member = get_member_name(call.node());
  if (member && is_generic_content_type(model, *member)) return false;
  // Only a missing related_name, or the constants None and "", leave the
  // reverse accessor to Django; any other expression names it.
  if (std::optional<Node> given = find_keyword(call.node(), "related_name")) {
    Node value = given->child(ast().value);
    if (!value.isa(ast().Const)) return false;
    py::object constant = value.get(ast().value);
    if (!constant.is_none() && !py_equal(constant, py::str(""))) return false;
  }
  return !is_node_abstract_model(call.node().frame()).has_value();
}

namespace {

// The string constants anywhere below `node`.
bool holds_string(const Node& node, const std::string& text) {
  for (const Node& constant : node.descendants(ast().Const)) {
    py::object value = constant.get(ast().value);
    if (py::isinstance<py::str>(value) && value.cast<std::string>() == text) return true;
  }
  return false;
}

// Whether a Meta of the model or of a model it inherits from makes the
// field part of a unique group: unique_together, or a UniqueConstraint's
// fields. Two blank values of such a field would collide as '', not as
// NULL, so its NULL is what lets rows leave it empty.
bool in_unique_group(const Node& model, const std::string& field) {
  std::vector<Node> classes{model};
  try {
    for (py::handle ancestor : model.obj().attr("ancestors")()) classes.push_back(Node::of(ancestor));
  } catch (py::error_already_set&) {
    // An ancestry astroid cannot follow: the model's own Meta still counts.
  }
  for (const Node& cls : classes) {
    std::optional<Node> meta = own_definition(cls, "Meta");
    if (!meta || !meta->isa(ast().ClassDef)) continue;
    for (const char* option : {"unique_together", "constraints"}) {
      std::optional<Node> name = own_definition(*meta, option);
      if (!name) continue;
      Node assign = name->parent();
      if (!assign.isa(ast().Assign) && !assign.isa(ast().AnnAssign)) continue;
      Node value = assign.child(ast().value);
      if (std::string_view(option) == "unique_together") {
        if (holds_string(value, field)) return true;
        continue;
      }
      for (const Node& constraint : value.descendants(ast().Call)) {
        if (get_function_name(constraint) != std::optional<std::string>("UniqueConstraint")) continue;
        if (std::optional<Node> fields = find_keyword(constraint, "fields"))
          if (holds_string(fields->child(ast().value), field)) return true;
      }
    }
  }
  return false;
}

// Whether None is one of the field's choices: a (None, label) pair, or an
// enumeration of choices with an __empty__ label.
bool has_none_choice(const Node& call) {
  std::optional<Node> given = find_keyword(call, "choices");
  if (!given) return false;
  Node value = given->child(ast().value);
  if (value.isa(ast().Attribute) && value.attrname() == std::optional<std::string>("choices")) {
    Node enumeration = safe_infer(value.expr());
    return enumeration.present() && enumeration.isa(ast().ClassDef) && own_definition(enumeration, "__empty__");
  }
  Node pairs = value.isa(ast().List) || value.isa(ast().Tuple) ? value : safe_infer(value);
  if (!pairs.present() || !(pairs.isa(ast().List) || pairs.isa(ast().Tuple))) return false;
  std::function<bool(const Node&, int)> holds_none = [&](const Node& sequence, int depth) {
    for (const Node& pair : sequence.nodes(ast().elts)) {
      if (!pair.isa(ast().List) && !pair.isa(ast().Tuple)) continue;
      std::vector<Node> parts = pair.nodes(ast().elts);
      if (parts.empty()) continue;
      if (parts[0].isa(ast().Const) && parts[0].get(ast().value).is_none()) return true;
      // A named group: (label, ((value, label), ...)).
      if (depth == 0 && parts.size() == 2 && (parts[1].isa(ast().List) || parts[1].isa(ast().Tuple)) &&
          holds_none(parts[1], 1))
        return true;
    }
    return false;
  };
  return holds_none(pairs, 0);
}

}  // namespace

bool null_has_a_meaning(const Node& call, const std::string& field) {
  if (has_none_choice(call)) return true;
  Node model = call.frame();
  if (model.isa(ast().ClassDef) && in_unique_group(model, field)) return true;
  std::filesystem::path root = index_root_of(call);
  return !root.empty() && project_names_used_with_none(root).count(field) > 0;
}

bool is_null_stringfield(FieldCall& call) {
  if (!call.is_model_field()) return false;
  std::optional<std::string> name = call.class_name();
  if (!name || !is_django_string_field_name(*name)) return false;
  py::dict merged = call.merged_args();
  // A unique string field needs NULL for its empty values, or two blank
  // rows break the unique constraint.
  if (!truthy(get_or_none(merged, "null")) || truthy(get_or_none(merged, "unique"))) return false;
  // The object id of a generic foreign key may be NULL, and so may the
  // columns of a table made elsewhere (an unmanaged model).
  Node frame = call.node().frame();
  if (!is_model(frame)) return true;
  if (is_unmanaged_model(frame)) return false;
  std::optional<std::string> member = get_member_name(call.node());
  if (!member) return true;
  for (py::handle object_id : generic_foreign_key_field_names(frame)) {
    if (py::str(object_id).cast<std::string>() == *member) return false;
  }
  // Where the project tells NULL from '' (it stores None, asks for it,
  // keeps it apart in a unique group or offers it as a choice), the advice
  // would change what the code does.
  return !null_has_a_meaning(call.node(), *member);
}

bool is_redundant_kwargs(const Node& keyword, FieldCall& parent) {
  if (!parent.is_model_field()) return false;
  py::object arg = keyword.get(ast().arg);
  const py::dict& defaults = parent.default_args();
  if (arg.is_none() || !defaults.contains(arg)) return false;
  py::object value = astroid_node_to_value(keyword.child(ast().value));
  if (!py_equal(value, defaults[arg])) return false;
  // blank=False beside null=True says on purpose that forms require the
  // field.
  if (py_equal(arg, py::str("blank")) && py_equal(value, py::bool_(false)) &&
      truthy(get_or_none(parent.explicit_args(), "null")))
    return false;
  return true;
}

bool has_redundant_kwargs(FieldCall& call) {
  py::object keywords = call.node().get(ast().keywords);
  if (keywords.is_none()) return false;
  for (py::handle keyword : keywords) {
    if (is_redundant_kwargs(Node::of(keyword), call)) return true;
  }
  return false;
}

bool may_declare_a_field(const Node& call) {
  Node frame = call.frame();
  if (frame.isa(ast().ClassDef)) return true;
  if (!frame.isa(ast().Module)) return false;
  std::optional<std::string> callee = get_function_name(call);
  auto ends_with = [&](std::string_view suffix) {
    return callee && callee->size() >= suffix.size() &&
           callee->compare(callee->size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends_with("Field") || ends_with("Key");
}

namespace {

// The call-level findings, with the predicate that finds each and where.
struct CallFinding {
  std::string_view id;
  bool (*predicate)(FieldCall&);
  Reported where;
};
constexpr CallFinding kCallFindings[] = {
    {"C2006", &is_huge_char_field, Reported::on_declarations},
    {"C2000", &is_null_stringfield, Reported::on_declarations},
    {"C2005", &is_fk_mising_related_name, Reported::on_declarations},
    {"C2008", &is_nullboolean, Reported::on_declarations},
    {"C2011", &is_non_unique_fk, Reported::on_declarations},
    {"C2003", &is_missing_blank_true, Reported::on_declarations},
    {"C2002", &has_redundant_kwargs, Reported::on_any_call},
};

// Whether the call's module is a migration; asked once per module and run.
bool in_migration(const Node& call) {
  Node module = call.root();
  std::optional<bool>& known = facts_on<std::optional<bool>>(module);
  if (!known) known = is_migration_file(module);
  return *known;
}

}  // namespace

bool looked_at(FieldCall& call, Reported where) {
  std::optional<bool>& known = call.facts().looked_at[static_cast<int>(where)];
  if (known) return *known;
  const Node& node = call.node();
  known = false;
  if (where == Reported::on_declarations) {
    // Only a call assigned to a name declares a field; asking that first
    // keeps inference away from every other call.
    std::optional<std::string> member = get_member_name(node);
    if (!member || member->empty()) return false;
  }
  known = may_declare_a_field(node) && !in_migration(node) && call.is_model_field();
  return *known;
}

bool finding_at(std::string_view id, FieldCall& call) {
  for (const CallFinding& finding : kCallFindings)
    if (finding.id == id) return looked_at(call, finding.where) && finding.predicate(call);
  return false;
}

namespace {

void visit_module(py::object self, py::object node) {
  self.attr("field_counter") = py::module_::import("collections").attr("Counter")();
  new_facts_run(Node(node));
  field_options(Node(node)).max_charfield_length = config_int(self, "max_charfield_length");
}

void visit_call(py::object self, py::object node_obj) {
  Node node(node_obj);
  FieldCall call(node);
  if (!looked_at(call, Reported::on_declarations)) return;
  std::string name = *get_member_name(node);

  py::object counter = self.attr("field_counter");
  py::object scope = node.scope().obj();
  counter[scope] = counter[scope].cast<long>() + 1;

  for (const CallFinding& finding : kCallFindings) {
    if (finding.where != Reported::on_declarations || !finding_at(finding.id, call)) continue;
    py::dict args;
    args["name"] = name;
    py::str max_length("max_length");
    if (finding.id == "C2006" && call.explicit_args().contains(max_length))
      args["value"] = call.explicit_args()[max_length];
    if (finding.id == "C2005") args["keeping"] = accessor_advice(node);
    report(self, finding.id, node, args);
  }
}

void visit_keyword(py::object self, py::object node_obj) {
  Node keyword(node_obj);
  Node parent = keyword.parent();
  if (!parent.isa(ast().Call)) return;
  FieldCall call(parent);
  if (!looked_at(call, Reported::on_any_call)) return;

  auto base_args = [&] {
    py::dict args;
    if (std::optional<std::string> name = get_member_name(parent)) args["name"] = *name;
    args["option"] = keyword.get(ast().arg);
    return args;
  };
  if (is_redundant_kwargs(keyword, call)) {
    py::dict args = base_args();
    args["value"] = astroid_node_to_value(keyword.child(ast().value));
    report(self, "C2002", parent, args);
  }
  if (is_fragile_unique_for(keyword)) report(self, "C2004", parent, base_args());
}

void leave_classdef(py::object self, py::object node_obj) {
  Node node(node_obj);
  if (!is_model(node)) return;
  long count = self.attr("field_counter")[node_obj].cast<long>();
  if (count > config_int(self, "max_model_fields")) {
    py::dict args;
    args["count"] = count;
    report(self, "C2001", node, args);
  }
}

}  // namespace

const py::object& checker_class() {
  return made_once([] {
    return make_checker_class(kModule, "fieldrules", kRules, kOptions,
                              {
                                  {"visit_module", &visit_module},
                                  {"visit_call", &visit_call},
                                  {"visit_keyword", &visit_keyword},
                                  {"leave_classdef", &leave_classdef}
                              });
  });
}

void bind(py::module_& m) {
  m.attr("MAX_CHARFIELD_LENGTH") = MAX_CHARFIELD_LENGTH;
  bind_rules(m, kModule, kRules, checker_class());

  auto call_predicate = [&m](const char* name, bool (*predicate)(FieldCall&)) {
    m.def(
        name,
        [predicate](py::object node) {
          FieldCall call{Node(node)};
          return predicate(call);
        },
        py::arg("node"));
  };
  call_predicate("is_non_unique_fk", &is_non_unique_fk);
  call_predicate("is_nullboolean", &is_nullboolean);
  call_predicate("is_huge_char_field", &is_huge_char_field);
  call_predicate("is_missing_blank_true", &is_missing_blank_true);
  call_predicate("is_fk_mising_related_name", &is_fk_mising_related_name);
  call_predicate("is_null_stringfield", &is_null_stringfield);
  call_predicate("has_redundant_kwargs", &has_redundant_kwargs);
  m.def("is_fragile_unique_for", [](py::object node) { return is_fragile_unique_for(Node(node)); },
        py::arg("keyword_node"));
  m.def(
      "is_redundant_kwargs",
      [](py::object node) {
        Node keyword(node);
        Node parent = keyword.parent();
        if (!parent.isa(ast().Call)) return false;
        FieldCall call(parent);
        return is_redundant_kwargs(keyword, call);
      },
      py::arg("node"));
}

}  // namespace tessary::fieldrules

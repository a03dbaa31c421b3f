// Checks on model field declarations: fragile, redundant or deprecated
// field options, string fields that allow null, models with too many
// fields.
#pragma once

#include <optional>
#include <unordered_map>

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/fixes.hpp"

namespace tessary::fieldrules {

inline constexpr long MAX_CHARFIELD_LENGTH = 512;

inline constexpr Rule kRules[] = {
    {"C2000", "nullable-string-field", "Nullable",
     "A string field (CharField, TextField, URLField, EmailField, SlugField) declared with null=True.",
     "Django stores missing text as the empty string; allowing NULL too gives two ways to say 'no data'.",
     "title = models.CharField(max_length=50, null=True)",
     "title = models.CharField(max_length=50, default=\"\")",
     "Drops null=True and sets default=\"\" when the field has no default."},
    {"C2001", "tall-model", "Too many fields",
     "A model class declaring more named fields than the max-model-fields option allows (20).",
     "Wide tables are slow to load and hard to change; related data usually belongs in its own model.",
     "class Order(models.Model):  # 21 fields", "class Order(models.Model): ...  # with the address in class Address(models.Model)",
     ""},
    {"C2002", "redundant-default-args", "Implicit false",
     "A field keyword whose value equals the field's own default.",
     "Redundant options are noise in models and in every migration made from them.",
     "name = models.CharField(max_length=20, null=False)", "name = models.CharField(max_length=20)",
     "Removes the redundant keyword."},
    {"C2003", "field-null-not-blank", "Field not nullable",
     "A non-string, non-boolean field with null=True but without blank=True or a default.",
     "Forms and the admin still require a value the database would accept as empty.",
     "born = models.DateField(null=True)", "born = models.DateField(null=True, blank=True)",
     "Adds blank=True."},
    {"C2004", "brittle-unique-for", "Brittle unique",
     "A unique_for_date, unique_for_month or unique_for_year option.",
     "These are enforced only by model validation, never by the database.",
     "slug = models.SlugField(unique_for_date=\"published\")", "class Meta:\n    constraints = [models.UniqueConstraint(fields=[\"slug\", \"published\"], name=\"unique_slug_per_day\")]",
     ""},
    {"C2005", "missing-related-name", "ForeignKey missing",
     "A ForeignKey in a concrete model without a related_name.",
     "The implicit reverse accessor (<model>_set) is easy to misread and clashes when models change.",
     "author = models.ForeignKey(Author, on_delete=models.CASCADE)", "author = models.ForeignKey(Author, on_delete=models.CASCADE, related_name=\"books\")",
     ""},
    {"C2006", "huge-max-length", "Huge charfield max_length",
     "A CharField whose max_length is above 512.",
     "Long free text belongs in a TextField; huge varchar limits are arbitrary and backend dependent.",
     "summary = models.CharField(max_length=2000)", "summary = models.TextField()",
     "Turns the CharField into a TextField."},
    {"C2008", "deprecated-nullboolean-field", "Nullable BooleanField",
     "A NullBooleanField.", "NullBooleanField is deprecated; BooleanField(null=True) replaces it.",
     "in_print = models.NullBooleanField()", "in_print = models.BooleanField(null=True)",
     "Rewrites it as BooleanField(null=True)."},
    {"C2011", "non-unique-primary", "Non-unique primary key",
     "A primary key field declared with unique=False.",
     "A primary key is always unique; unique=False says otherwise and misleads readers.",
     "code = models.CharField(max_length=5, primary_key=True, unique=False)", "code = models.CharField(max_length=5, primary_key=True)",
     ""},
};

inline constexpr IntOption kOptions[] = {
    {"max-model-fields", 20, "Maximum number of fields for a model"},
    {"max-charfield-length", 512, "Maximum size of max_length on a CharField"},
};

// What a lint run learns about one call; computed on first use.
struct CallFacts {
  std::optional<Node> inferred;
  std::optional<bool> is_field;
  std::optional<py::dict> explicit_args;
  std::optional<py::dict> default_args;
};

// Facts about the calls of one module. Lives for one linter run only: the
// fixes change trees, so they keep theirs per node (LastNodeFacts).
class CallFactsCache {
 public:
  CallFacts& at(const Node& call);
  void clear() { facts_.clear(); }

 private:
  std::unordered_map<PyObject*, std::pair<py::object, CallFacts>> facts_;
};

// A call seen as a possible field declaration.
class FieldCall {
 public:
  FieldCall(const Node& call, CallFactsCache* cache);
  FieldCall(const Node& call, CallFacts& facts) : call_(call), facts_(&facts) {}
  const Node& node() const { return call_; }
  const Node& inferred();
  bool is_model_field();
  std::optional<std::string> class_name();
  const py::dict& explicit_args();
  const py::dict& default_args();
  py::dict merged_args();

 private:
  Node call_;
  CallFacts local_;
  CallFacts* facts_;
};

// Could this call declare a field? Fields are declared in class bodies;
// outside one, only a call of a class named like a field (...Field,
// ...Key) is worth inferring. The checks and the fixes ask it first.
bool may_declare_a_field(const Node& call);
bool is_fragile_unique_for(const Node& keyword);
bool is_non_unique_fk(FieldCall& call);
bool is_nullboolean(FieldCall& call);
bool is_huge_char_field(FieldCall& call);
bool is_missing_blank_true(FieldCall& call);
bool is_fk_mising_related_name(FieldCall& call);
bool is_null_stringfield(FieldCall& call);
bool is_redundant_kwargs(const Node& keyword, FieldCall& parent);
bool has_redundant_kwargs(FieldCall& call);

// Fixes: each edits the field call in place and returns it.
py::object transform_null_to_default_str(const Node& node);
py::object transform_redundant_kwargs(const Node& node);
py::object transform_add_blank_true(const Node& node);
py::object transform_huge_char_field(const Node& node);
py::object transform_nullboolean(const Node& node);
// The fix table (C2000, C2002, C2003, C2006, C2008), made when the module
// is bound.
const std::vector<FixRow>& fix_rules();
void bind_fixes(py::module_& m);

// The checker class, made once.
const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::fieldrules

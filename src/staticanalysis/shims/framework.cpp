#include "staticanalysis/shims/framework.hpp"


#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>
#include <string_view>

#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/project_scope.hpp"
#include "staticanalysis/helpers/pyclass.hpp"

namespace tessary::shims {

namespace {

constexpr std::string_view kQuerySetQname = "django.db.models.query.QuerySet";

bool attr_in(const Node& attribute, std::initializer_list<std::string_view> names) {
  std::optional<std::string> attr = attribute.attrname();
  if (!attr) return false;
  for (std::string_view n : names)
    if (*attr == n) return true;
  return false;
}

// The callee of a call when it is `<expr>.<one of names>`.
std::optional<Node> method_callee(const Node& call, std::initializer_list<std::string_view> names) {
  Node func = call.func();
  if (!func.isa(ast().Attribute) || !attr_in(func, names)) return std::nullopt;
  return func;
}

// The callee of a call when it is `<expr>.<a queryset method>`.
std::optional<Node> queryset_method_callee(const Node& call) {
  Node func = call.func();
  if (!func.isa(ast().Attribute)) return std::nullopt;
  std::optional<std::string> name = func.attrname();
  if (!name || !is_queryset_method_name(*name)) return std::nullopt;
  return func;
}

const std::initializer_list<std::string_view> kSingleReads = {"first", "last", "get"};

py::iterator one(const py::object& value) { return py::iter(py::make_tuple(value)); }

// Inference of the model two attribute levels above the call. When it is
// gone, let astroid fall back to its ordinary inference.
Node model_of(const Node& call) {
  Node model = safe_infer(call.func().expr().expr());
  if (!model.present()) raise_python(ast().use_inference_default);
  return model;
}

Node instantiate(const Node& cls) { return instance_of_class(cls); }

// An instance of Django's Model class, for querysets of a model we cannot
// name (a related manager's).
Node any_model_instance() {
  const Astroid& a = ast();
  py::object module = a.manager.attr("ast_from_module_name")("django.db.models.base");
  py::tuple found = module.attr(a.lookup)("Model");
  for (py::handle binding : found[1]) {
    if (py::isinstance(binding, a.ClassDef)) return instantiate(Node::of(binding));
  }
  raise_python(a.use_inference_default);
}

constexpr std::string_view kManyToMany = "django.db.models.fields.related.ManyToManyField";

// Is `owner.name` a related manager: a forward many-to-many field, or a
// name the model does not declare on an instance of it (the reverse
// accessors, `<model>_set` or a related_name, are made at run time)?
bool is_related_manager(const Node& attribute) {
  const Astroid& a = ast();
  std::optional<std::string> name = attribute.attrname();
  if (!name || name->rfind("__", 0) == 0) return false;
  Node owner = safe_infer(attribute.expr());
  if (!owner.isa(a.instance_class) || !is_model(owner)) return false;
  py::object found;
  try {
    found = owner.get(intern("getattr"))(py::str(*name));
  } catch (py::error_already_set& err) {
    if (err.matches(py::module_::import("astroid").attr("AttributeInferenceError"))) return true;
    throw;
  }
  Node value = safe_infer(attribute);
  return value.isa(a.instance_class) && has_ancestor(value, kManyToMany);
}

}  // namespace

const py::object& queryset_node_class() {
  return made_once([] {
    const Astroid& a = ast();
    py::object cls = make_class("QuerySetNode", py::make_tuple(a.ClassDef, a.List), py::dict(),
                                "tessary.staticanalysis.shims");
    auto qualified = [](py::object /*self*/) { return py::str(kQuerySetQname.data(), kQuerySetQname.size()); };
    add_method(cls, "qname", qualified);
    add_method(cls, "pytype", qualified);
    add_method(
        cls, "getitem",
        [](py::object self, py::object /*index*/, py::object /*context*/) {
          return py::list(self.attr("elts"))[0];
        },
        py::arg("index"), py::arg("context") = py::none());
    return cls;
  });
}

Node make_queryset_node(const Node& instance) {
  py::object node = queryset_node_class().attr("from_elements")(py::make_tuple(instance.obj()));
  node.attr("name") = py::str("QuerySet");
  return Node(node);
}

bool looks_like_model(const Node& node) { return is_model(safe_infer(node)); }

// Each shim below is split in two: the node's shape, cheap to ask of every
// node astroid builds, and what its inference must show, asked only when
// the node is first inferred (see deferred_tip).

namespace {

bool model_manager_shape(const Node& node) {
  return node.attrname() == std::optional<std::string>("objects") && !in_library_module(node);
}
bool model_manager_holds(const Node& node) { return is_model(safe_infer(node.expr())); }

// `<expr>.<attr>.<queryset method>(...)` in a project module.
bool attribute_lookup_shape(const Node& node) {
  std::optional<Node> callee = queryset_method_callee(node);
  return callee && callee->expr().isa(ast().Attribute) && !in_library_module(node);
}
bool model_manager_lookup_holds(const Node& node) { return is_model_manager(safe_infer(node.func().expr())); }

bool queryset_lookup_shape(const Node& node) { return queryset_method_callee(node) && !in_library_module(node); }
bool queryset_lookup_holds(const Node& node) { return is_queryset(safe_infer(node.func().expr())); }

bool related_manager_lookup_holds(const Node& node) { return is_related_manager(node.func().expr()); }

// `TicketQuerySet.as_manager()`: a manager with the queryset class's
// methods, inferred as an instance of that class.
bool as_manager_shape(const Node& node) {
  Node func = node.func();
  return func.isa(ast().Attribute) && func.attrname() == std::optional<std::string>("as_manager") &&
         !in_library_module(node);
}
bool as_manager_holds(const Node& node) {
  Node cls = safe_infer(node.func().expr());
  return cls.present() && cls.isa(ast().ClassDef) && is_queryset(cls);
}

// `self.get_queryset()` in a custom manager: a queryset (of a model the
// manager does not name).
bool manager_get_queryset_shape(const Node& node) {
  Node func = node.func();
  return func.isa(ast().Attribute) && func.attrname() == std::optional<std::string>("get_queryset") &&
         !in_library_module(node);
}
bool manager_get_queryset_holds(const Node& node) { return is_model_manager(safe_infer(node.func().expr())); }

bool list_of_queryset_shape(const Node& node) {
  const Astroid& a = ast();
  Node func = node.func();
  if (!func.isa(a.Name) || func.name() != std::optional<std::string>("list")) return false;
  return node.nodes(a.args).size() == 1 && node.nodes(a.keywords).empty() && !in_library_module(node);
}
bool list_of_queryset_holds(const Node& node) { return is_queryset(safe_infer(node.nodes(ast().args)[0])); }

// Attributes that hold mappings throughout Django code (request.GET,
// form.cleaned_data, ...): their .get() is a dictionary's, never worth
// inferring.
const std::initializer_list<std::string_view> kMappingAttributes = {
    "GET",     "POST",    "META",        "COOKIES", "FILES",  "headers", "session", "cleaned_data",
    "data",    "initial", "kwargs",      "environ", "attrs",  "fields",  "extra",   "context",
    "options", "params",  "query_params", "__dict__"};

bool model_get_shape(const Node& node) {
  std::optional<Node> callee = method_callee(node, kSingleReads);
  return callee && callee->expr().isa(ast().Attribute) && !in_library_module(node) &&
         !attr_in(callee->expr(), kMappingAttributes);
}
bool model_get_holds(const Node& node) {
  Node inferred = safe_infer(node.func().expr());
  return is_model_manager(inferred) || is_queryset(inferred);
}

}  // namespace

bool looks_like_model_manager(const Node& node) { return model_manager_shape(node) && model_manager_holds(node); }
bool looks_like_model_manager_lookup(const Node& node) {
  return attribute_lookup_shape(node) && model_manager_lookup_holds(node);
}
bool looks_like_queryset_lookup(const Node& node) { return queryset_lookup_shape(node) && queryset_lookup_holds(node); }
bool looks_like_related_manager_lookup(const Node& node) {
  return attribute_lookup_shape(node) && related_manager_lookup_holds(node);
}
bool looks_like_as_manager(const Node& node) { return as_manager_shape(node) && as_manager_holds(node); }
bool looks_like_manager_get_queryset(const Node& node) {
  return manager_get_queryset_shape(node) && manager_get_queryset_holds(node);
}
bool looks_like_list_of_queryset(const Node& node) {
  return list_of_queryset_shape(node) && list_of_queryset_holds(node);
}
bool looks_like_model_get(const Node& node) { return model_get_shape(node) && model_get_holds(node); }

py::iterator apply_as_manager_shim(const Node& node) {
  Node cls = safe_infer(node.func().expr());
  if (!cls.present()) raise_python(ast().use_inference_default);
  return one(instantiate(cls).obj());
}

py::iterator apply_manager_get_queryset_shim(const Node& node) {
  Node queryset = make_queryset_node(any_model_instance());
  queryset.obj().attr("parent") = node.obj();
  return one(queryset.obj());
}

// The manager class a model declares as `objects` itself (its own or an
// ancestor's class body): `objects = TicketManager()`, or the queryset
// class of `objects = TicketQuerySet.as_manager()`, whose methods the
// manager has. None for Django's own Manager.
Node declared_manager(const Node& model) {
  const Astroid& a = ast();
  if (!model.isa(a.ClassDef)) return Node();
  py::object definitions;
  try {
    definitions = model.get(intern("getattr"))(py::str("objects"));
  } catch (py::error_already_set&) {
    return Node();
  }
  for (py::handle definition : definitions) {
    Node assign = Node::of(definition).parent();
    if (!assign.isa(a.Assign)) continue;
    Node call = assign.child(a.value);
    if (!call.isa(a.Call)) return Node();
    Node func = call.func();
    Node cls = func.isa(a.Attribute) && func.attrname() == std::optional<std::string>("as_manager")
                   ? safe_infer(func.expr())
                   : safe_infer(func);
    if (!cls.present() || !cls.isa(a.ClassDef) || in_library_module(cls)) return Node();
    if (!is_model_manager(cls) && !is_queryset(cls)) return Node();
    return instantiate(cls);
  }
  return Node();
}

py::iterator apply_model_manager_shim(const Node& node) {
  const Astroid& a = ast();
  Node custom = declared_manager(safe_infer(node.expr()));
  if (custom.present()) return one(custom.obj());
  py::object module = a.manager.attr("ast_from_module_name")("django.db.models.manager");
  py::tuple found = module.attr(a.lookup)("Manager");
  py::list instances;
  for (py::handle binding : found[1]) {
    if (py::isinstance(binding, a.ImportFrom)) continue;
    instances.append(instantiate(Node::of(binding)).obj());
  }
  if (instances.empty()) raise_python(a.use_inference_default);
  return py::iter(instances);
}

py::iterator apply_model_manager_lookup_shim(const Node& node) {
  Node queryset = make_queryset_node(instantiate(model_of(node)));
  queryset.obj().attr("parent") = node.obj();
  return one(queryset.obj());
}

py::iterator apply_queryset_lookup_shim(const Node& node) {
  Node receiver = safe_infer(node.func().expr());
  if (is_queryset(receiver)) return one(receiver.obj());
  Node queryset = make_queryset_node(instantiate(model_of(node)));
  queryset.obj().attr("parent") = node.obj();
  return one(queryset.obj());
}

py::iterator apply_related_manager_lookup_shim(const Node& node) {
  Node queryset = make_queryset_node(any_model_instance());
  queryset.obj().attr("parent") = node.obj();
  return one(queryset.obj());
}

py::iterator apply_list_of_queryset_shim(const Node& node) {
  // list() of a queryset is a plain list of its rows, no longer a queryset.
  const Astroid& a = ast();
  Node queryset = safe_infer(node.nodes(a.args)[0]);
  py::object list = a.List.attr("from_elements")(py::list(queryset.get(a.elts)));
  list.attr("parent") = node.obj();
  return one(list);
}

py::iterator apply_model_get_shim(const Node& node) { return one(instantiate(model_of(node)).obj()); }

void apply_is_used_in_generic_fk_shim(const Node& node) {
  if (is_model(node)) generic_foreign_key_field_names(node);
}

namespace {

// Some of astroid's brains register one transform per name they know, and
// astroid asks every one of those predicates of every node of the class,
// in every module built, Django's own included: the numpy brain forty per
// attribute and name, the builtins brain twenty per call. One transform
// per brain and node class stands for each group: it asks the group's own
// predicates only of a node that bears one of their names, and applies the
// matching transforms in their order, as astroid's loop would.
// A predicate the transform walk asks of every node of its class: a plain
// C function of the node, since pybind11's dispatch of a call costs more
// than most of these tests. Kept for the life of the process, as the
// manager keeps its transforms.
using NodeTest = std::function<bool(const py::handle&)>;

PyObject* ask_predicate(PyObject* self, PyObject* node) {
  return called_from_python([&] {
    const auto& test = *static_cast<const NodeTest*>(PyCapsule_GetPointer(self, nullptr));
    return py::bool_(test(node)).release().ptr();
  });
}

PyMethodDef predicate_definition = {"looks_like", &ask_predicate, METH_O, "Whether a node has a shim's shape."};

py::object plain_predicate(NodeTest test) {
  py::capsule held(new NodeTest(std::move(test)), [](void* test) { delete static_cast<NodeTest*>(test); });
  PyObject* function = PyCFunction_New(&predicate_definition, held.ptr());
  if (!function) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(function);
}

struct NamedTransform {
  std::string name;
  py::object transform;
  py::object predicate;
};

// Which members of a group a node may match: those named `name`, or all
// of them (`all`), or none.
struct Candidates {
  bool all = false;
  std::string name;
};

void merge_named_transforms(const py::object& node_class, const char* brain, const char* predicate_name,
                            std::optional<std::string> (*name_of)(const py::object& predicate),
                            Candidates (*candidates)(const py::handle& node)) {
  const Astroid& a = ast();
  py::object looks_like;
  py::list entries;
  try {
    looks_like = py::module_::import(brain).attr(predicate_name);
    entries = a.manager.attr("_transform").attr("transforms")[node_class];
  } catch (py::error_already_set&) {
    return;  // another astroid: its transforms stay as they are
  }
  auto members = std::make_shared<std::vector<NamedTransform>>();
  py::list kept;
  long first = -1;
  for (py::handle entry : entries) {
    py::tuple pair = py::reinterpret_borrow<py::tuple>(entry);
    py::object predicate = pair[1];
    std::optional<std::string> name;
    if (py::getattr(predicate, "func", py::none()).is(looks_like)) name = name_of(predicate);
    if (!name) {
      kept.append(pair);
      continue;
    }
    if (first < 0) first = static_cast<long>(py::len(kept));
    members->push_back({*name, pair[0], predicate});
  }
  if (members->empty()) return;
  // Which members a node may match is worked out once per node.
  auto consulted = [](const Candidates& which, const NamedTransform& member) {
    return which.all || member.name == which.name;
  };
  auto names = std::make_shared<std::set<std::string>>();
  for (const NamedTransform& member : *members) names->insert(member.name);
  py::object predicate = plain_predicate([members, names, consulted, candidates](const py::handle& node) {
    Candidates which = candidates(node);
    if (!which.all && !names->count(which.name)) return false;
    for (const NamedTransform& member : *members)
      if (consulted(which, member) && member.predicate(node).cast<bool>()) return true;
    return false;
  });
  py::cpp_function transform([members, consulted, candidates](py::object node) -> py::object {
    py::handle original_class = py::type::handle_of(node);
    Candidates which = candidates(node);
    for (const NamedTransform& member : *members) {
      if (!consulted(which, member) || !member.predicate(node).cast<bool>()) continue;
      py::object replaced = member.transform(node);
      // As astroid's loop does: a returned node replaces the node, and a
      // node of another class (or none) ends the transforms.
      if (replaced.is_none() || !py::type::handle_of(replaced).is(original_class)) return replaced;
      node = replaced;
    }
    return node;
  });
  kept.insert(first, py::make_tuple(transform, predicate));
  entries[py::slice(0, py::len(entries), 1)] = kept;
}

std::optional<std::string> text_of(const py::handle& value) {
  if (!py::isinstance<py::str>(value)) return std::nullopt;
  return py::str(value).cast<std::string>();
}

// numpy: partial(looks_like_numpy_member, name), matching a node named so.
std::optional<std::string> numpy_member_name(const py::object& predicate) {
  py::object args = py::getattr(predicate, "args", py::none());
  if (!py::isinstance<py::tuple>(args) || py::len(args) != 1) return std::nullopt;
  return text_of(py::tuple(args)[0]);
}

Candidates numpy_candidates(const py::handle& node) {
  const Astroid& a = ast();
  py::object name = py::getattr(node, py::isinstance(node, a.Attribute) ? a.attrname : a.name, py::none());
  return {false, text_of(name).value_or("")};
}

// builtins: partial(_builtin_filter_predicate, builtin_name=name), matching
// a call of that name; every one of them matches dict.fromkeys(...).
std::optional<std::string> builtin_name(const py::object& predicate) {
  py::object keywords = py::getattr(predicate, "keywords", py::none());
  if (!py::isinstance<py::dict>(keywords) || py::len(keywords) != 1 || !py::dict(keywords).contains("builtin_name"))
    return std::nullopt;
  return text_of(py::dict(keywords)["builtin_name"]);
}

Candidates builtin_candidates(const py::handle& node) {
  const Astroid& a = ast();
  py::object func = node.attr(a.func);
  if (py::isinstance(func, a.Name)) return {false, text_of(func.attr(a.name)).value_or("")};
  if (py::isinstance(func, a.Attribute)) return {text_of(func.attr(a.attrname)) == std::optional<std::string>("fromkeys"), ""};
  return {};
}

}  // namespace

namespace {

// A transform that gives a node of a shim's shape an inference tip which
// asks, when the node is first inferred, whether the shim holds; when it
// does not, the node's earlier tip (a brain's) or astroid's own inference
// answers, as if the shim had never matched. Asking while the tree is
// built would infer a receiver at every such call of every project module,
// and build every module that inference reaches, for calls that few checks
// ever infer.
py::object deferred_tip(py::object apply, bool (*holds)(const Node&)) {
  py::object cached = py::module_::import("astroid.inference_tip").attr("_inference_tip_cached");
  return py::cpp_function([apply, holds, cached](py::object node) -> py::object {
    const Astroid& a = ast();
    py::object previous = node.attr(a.explicit_inference);
    py::cpp_function infer(
        [apply, holds, previous](py::object node, py::object context, py::kwargs kwargs) -> py::object {
          if (holds(Node(node))) return apply(node, context, **kwargs);
          if (!previous.is_none()) return previous(node, context, **kwargs);
          raise_python(ast().use_inference_default);
        },
        py::arg("node"), py::arg("context") = py::none());
    node.attr(a.explicit_inference) = cached(infer);
    return node;
  });
}

}  // namespace

void install(py::module_& m) {
  const Astroid& a = ast();
  // Each predicate and shim is a module-level function; the manager keeps
  // them for the life of the process.
  m.def("looks_like_model", [](py::object n) { return looks_like_model(Node(n)); });
  m.def("looks_like_model_manager", [](py::object n) { return looks_like_model_manager(Node(n)); });
  m.def("looks_like_model_manager_lookup", [](py::object n) { return looks_like_model_manager_lookup(Node(n)); });
  m.def("looks_like_queryset_lookup", [](py::object n) { return looks_like_queryset_lookup(Node(n)); });
  m.def("looks_like_model_get", [](py::object n) { return looks_like_model_get(Node(n)); });
  m.def("looks_like_related_manager_lookup",
        [](py::object n) { return looks_like_related_manager_lookup(Node(n)); });
  m.def("looks_like_list_of_queryset", [](py::object n) { return looks_like_list_of_queryset(Node(n)); });
  m.def("apply_related_manager_lookup_shim",
        [](py::object n, py::object) { return apply_related_manager_lookup_shim(Node(n)); }, py::arg("node"),
        py::arg("_context") = py::none());
  m.def("apply_list_of_queryset_shim", [](py::object n, py::object) { return apply_list_of_queryset_shim(Node(n)); },
        py::arg("node"), py::arg("_context") = py::none());
  m.def("apply_model_manager_shim", [](py::object n, py::object) { return apply_model_manager_shim(Node(n)); },
        py::arg("node"), py::arg("_context") = py::none());
  m.def("apply_model_manager_lookup_shim",
        [](py::object n, py::object) { return apply_model_manager_lookup_shim(Node(n)); }, py::arg("node"),
        py::arg("_context") = py::none());
  m.def("apply_queryset_lookup_shim", [](py::object n, py::object) { return apply_queryset_lookup_shim(Node(n)); },
        py::arg("node"), py::arg("_context") = py::none());
  m.def("looks_like_as_manager", [](py::object n) { return looks_like_as_manager(Node(n)); });
  m.def("apply_as_manager_shim", [](py::object n, py::object) { return apply_as_manager_shim(Node(n)); },
        py::arg("node"), py::arg("_context") = py::none());
  m.def("looks_like_manager_get_queryset", [](py::object n) { return looks_like_manager_get_queryset(Node(n)); });
  m.def("apply_manager_get_queryset_shim",
        [](py::object n, py::object) { return apply_manager_get_queryset_shim(Node(n)); }, py::arg("node"),
        py::arg("_context") = py::none());
  m.def("apply_model_get_shim", [](py::object n, py::object) { return apply_model_get_shim(Node(n)); },
        py::arg("node"), py::arg("_context") = py::none());
  m.def("apply_is_used_in_generic_fk_shim", [](py::object n) { apply_is_used_in_generic_fk_shim(Node(n)); },
        py::arg("node"));
  m.attr("QuerySetNode") = queryset_node_class();

  // Every model class node answers its generic-foreign-key names as the
  // attribute generic_foreign_key_field_names; a class that is not a model
  // has no such attribute. They are worked out when first read, not for
  // every class astroid builds (the framework's own included): a transform
  // would infer every base class and field call of every module.
  py::object builtins = py::module_::import("builtins");
  py::object names_of = py::cpp_function(
      [](py::object node) -> py::object {
        Node cls(node);
        if (!is_model(cls)) throw py::attribute_error("generic_foreign_key_field_names: not a model class");
        return generic_foreign_key_field_names(cls);
      },
      py::arg("self"));
  py::setattr(a.ClassDef, a.generic_foreign_key_field_names,
              builtins.attr("property")(names_of, py::none(), py::none(),
                                        "The object-id field names of the model's GenericForeignKey fields."));

  py::object register_transform = a.manager.attr("register_transform");
  auto shape = [](bool (*test)(const Node&)) {
    return plain_predicate([test](const py::handle& node) { return test(Node::of(node)); });
  };
  register_transform(a.Call, deferred_tip(m.attr("apply_model_manager_lookup_shim"), &model_manager_lookup_holds),
                     shape(&attribute_lookup_shape));
  register_transform(a.Call, deferred_tip(m.attr("apply_queryset_lookup_shim"), &queryset_lookup_holds),
                     shape(&queryset_lookup_shape));
  register_transform(a.Call, deferred_tip(m.attr("apply_model_get_shim"), &model_get_holds), shape(&model_get_shape));
  register_transform(a.Call,
                     deferred_tip(m.attr("apply_related_manager_lookup_shim"), &related_manager_lookup_holds),
                     shape(&attribute_lookup_shape));
  register_transform(a.Call, deferred_tip(m.attr("apply_list_of_queryset_shim"), &list_of_queryset_holds),
                     shape(&list_of_queryset_shape));
  register_transform(a.Attribute, deferred_tip(m.attr("apply_model_manager_shim"), &model_manager_holds),
                     shape(&model_manager_shape));
  register_transform(a.Call, deferred_tip(m.attr("apply_as_manager_shim"), &as_manager_holds),
                     shape(&as_manager_shape));
  register_transform(a.Call, deferred_tip(m.attr("apply_manager_get_queryset_shim"), &manager_get_queryset_holds),
                     shape(&manager_get_queryset_shape));
  merge_named_transforms(a.Attribute, "astroid.brain.brain_numpy_utils", "looks_like_numpy_member",
                         &numpy_member_name, &numpy_candidates);
  merge_named_transforms(a.Name, "astroid.brain.brain_numpy_utils", "looks_like_numpy_member", &numpy_member_name,
                         &numpy_candidates);
  merge_named_transforms(a.Call, "astroid.brain.brain_builtin_inference", "_builtin_filter_predicate",
                         &builtin_name, &builtin_candidates);
}

}  // namespace tessary::shims

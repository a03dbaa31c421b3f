#include "staticanalysis/checkers/urls/urls.hpp"

#include <algorithm>
#include <cctype>
#include <vector>

#include <pybind11/gil_safe_call_once.h>

#include "staticanalysis/helpers/values.hpp"

namespace tessary::urls {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.urls";

bool is_url_module(const std::string& modname) {
  return modname == "django.urls" || modname == "django.urls.base" || modname == "django.core.urlresolvers";
}

// The Django function a call's callee names (through `from django.urls
// import reverse [as r]`), or nullopt.
std::optional<std::string> url_function(const Node& call) {
  const Astroid& a = ast();
  Node callee = call.func();
  if (!callee.isa(a.Name)) return std::nullopt;
  std::string name = *callee.name();
  py::tuple found = callee.get(a.lookup)(name);
  for (py::handle assignment : py::list(found[py::int_(1)])) {
    Node statement = Node::of(assignment);
    if (!statement.isa(a.ImportFrom) || !is_url_module(py::str(statement.get(py::str("modname"))))) continue;
    for (py::handle pair : py::list(statement.get(py::str("names")))) {
      std::string original = py::str(pair[py::int_(0)]);
      py::object alias = pair[py::int_(1)];
      if ((alias.is_none() ? original : py::str(alias).cast<std::string>()) == name) return original;
    }
  }
  return std::nullopt;
}

std::string kind_of(const Node& node) { return py::str(node.obj().get_type().attr("__name__")); }

// The scope whose execution runs the expression: default values,
// decorators, annotations and a class's bases run where the function or
// class is defined; a comprehension runs where it stands, a generator
// expression or a lambda when it is used.
Node evaluation_scope(const Node& node) {
  Node child = node;
  for (Node parent = node.parent(); !parent.is_none(); child = parent, parent = parent.parent()) {
    std::string kind = kind_of(parent);
    if (kind == "FunctionDef" || kind == "AsyncFunctionDef" || kind == "Lambda" || kind == "ClassDef") {
      std::string part = kind_of(child);
      bool in_body = false;
      py::object body = py::getattr(parent.obj(), "body", py::none());
      if (py::isinstance<py::list>(body)) {
        for (py::handle statement : body) in_body = in_body || statement.is(child.obj());
      } else {
        in_body = body.is(child.obj());  // a lambda's body is one expression
      }
      if (in_body) return parent;
      continue;  // arguments, decorators, bases: run where it is defined
    }
    if (kind == "Module" || kind == "GeneratorExp") return parent;
  }
  return child;
}

bool runs_at_import(const Node& node) {
  std::string kind = kind_of(evaluation_scope(node));
  return kind == "Module" || kind == "ClassDef";
}

// Whether the module binds `name` at its top level.
bool binds(const Node& module, const std::string& name) {
  return py::dict(module.get(ast().locals)).contains(py::str(name));
}

// The import that should bring in `wanted` for a call of `other` in the
// module: the first `from django.urls import ...` naming `other`.
std::optional<Node> import_for(const Node& module, const std::string& other) {
  const Astroid& a = ast();
  for (const Node& statement : module.nodes(a.body)) {
    if (!statement.isa(a.ImportFrom) || !is_url_module(py::str(statement.get(py::str("modname"))))) continue;
    for (py::handle pair : py::list(statement.get(py::str("names"))))
      if (py::str(pair[py::int_(0)]).cast<std::string>() == other) return statement;
  }
  return std::nullopt;
}

// The misplaced calls of `function` in the module.
bool has_misplaced_calls(const Node& module, const std::string& function) {
  for (const Node& call : module.descendants(ast().Call)) {
    if (function == "reverse_lazy" ? is_misusing_reverse_lazy(call) : is_reverse_at_import_time(call)) return true;
  }
  return false;
}

void visit_call(py::object self, py::object node_obj) {
  Node call(node_obj);
  if (is_misusing_reverse_lazy(call)) report(self, "C6000", call, py::dict());
  else if (is_reverse_at_import_time(call)) report(self, "C6001", call, py::dict());
}

PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<std::vector<FixRow>> fix_storage;

}  // namespace

namespace {

// Whether the URL is plainly used while a request is served: handed to a
// redirect, or returned by a get_...() method (get_success_url and its
// kind). A function that runs while the URL configuration is built
// (get_urls, a helper of urlpatterns) needs reverse_lazy; it is left
// alone, as is every other use.
bool used_at_request_time(const Node& call) {
  const Astroid& a = ast();
  Node parent = call.parent();
  if (parent.isa(a.Call) && parent.func().isa(a.Name)) {
    std::string callee = *parent.func().name();
    bool argument = false;
    for (const Node& arg : parent.nodes(a.args)) argument = argument || arg.is(call);
    if (argument && (callee == "redirect" || callee == "HttpResponseRedirect" || callee == "HttpResponsePermanentRedirect"))
      return true;
  }
  if (parent.isa(a.Return)) {
    std::optional<std::string> function = call.scope().name();
    return function && function->rfind("get_", 0) == 0 && *function != "get_urls";
  }
  return false;
}

}  // namespace

bool is_misusing_reverse_lazy(const Node& call) {
  if (!call.func().isa(ast().Name) || runs_at_import(call)) return false;
  if (!evaluation_scope(call).isa(ast().FunctionDef) || !used_at_request_time(call)) return false;
  return url_function(call) == std::optional<std::string>("reverse_lazy");
}


bool is_reverse_at_import_time(const Node& call) {
  if (!call.func().isa(ast().Name) || !runs_at_import(call)) return false;
  return url_function(call) == std::optional<std::string>("reverse");
}

namespace {

// Add `wanted` to an import's names: in its sorted place when the names
// are sorted (as isort keeps them: `reverse, reverse_lazy`), else last.
void add_imported_name(py::list names, const std::string& wanted) {
  std::vector<std::string> listed;
  for (py::handle pair : names) listed.push_back(py::str(pair[py::int_(0)]));
  auto folded = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
  };
  bool sorted = std::is_sorted(listed.begin(), listed.end(),
                               [&](const std::string& x, const std::string& y) { return folded(x) < folded(y); });
  size_t at = listed.size();
  if (sorted)
    at = static_cast<size_t>(std::upper_bound(listed.begin(), listed.end(), wanted,
                                              [&](const std::string& x, const std::string& y) {
                                                return folded(x) < folded(y);
                                              }) -
                             listed.begin());
  names.attr("insert")(at, py::make_tuple(wanted, py::none()));
}

// Call `wanted` instead, importing it beside `other` where the module does
// not have it yet. The import row of the fix table does that for a whole
// module first; a fix of one statement (a review suggestion) does it here,
// and names the changed import for a suggestion of its own.
py::object call_instead(const Node& call, const std::string& wanted, const std::string& other) {
  Node module = call.root();
  // Names an earlier fix of this module took out of its import (with the
  // place they had there) are no longer bound, whatever the module's
  // scope says; one needed again goes back to its place.
  py::object dropped = py::getattr(module.obj(), "_tessary_dropped_imports", py::none());
  if (dropped.is_none()) {
    dropped = py::dict();
    module.obj().attr("_tessary_dropped_imports") = dropped;
  }
  if (!binds(module, wanted) || dropped.contains(py::str(wanted))) {
    if (std::optional<Node> import = import_for(module, other)) {
      py::list names = import->get(py::str("names"));
      bool listed = false;
      for (py::handle pair : names) listed = listed || py::str(pair[py::int_(0)]).cast<std::string>() == wanted;
      if (!listed) {
        py::object place = dropped.attr("pop")(py::str(wanted), py::none());
        if (place.is_none()) add_imported_name(names, wanted);
        else names.attr("insert")(place, py::make_tuple(wanted, py::none()));
        py::object others = py::getattr(module.obj(), "replace_other_nodes", py::none());
        if (py::isinstance<py::list>(others)) others.attr("append")(import->obj());
      }
    }
  }
  set_function_name(call, wanted);
  // The function the call named before may now be unused: its import goes
  // (only where it is imported under its own name and nothing else in
  // the module names it).
  if (std::optional<Node> import = import_for(module, other)) {
    bool used = false;
    for (const Node& name : module.descendants(ast().Name))
      used = used || name.name() == std::optional<std::string>(other);
    py::list names = import->get(py::str("names"));
    if (!used && py::len(names) > 1) {
      py::list kept;
      long place = -1, index = 0;
      for (py::handle pair : names) {
        bool plain = py::str(pair[py::int_(0)]).cast<std::string>() == other && pair[py::int_(1)].is_none();
        if (plain) place = index;
        else kept.append(pair);
        ++index;
      }
      if (place >= 0) {
        import->obj().attr("names") = kept;
        dropped[py::str(other)] = place;
        py::object others = py::getattr(module.obj(), "replace_other_nodes", py::none());
        if (py::isinstance<py::list>(others)) others.attr("append")(import->obj());
      }
    }
  }
  return call.obj();
}

}  // namespace

py::object transform_reverse_lazy_to_reverse(const Node& call) { return call_instead(call, "reverse", "reverse_lazy"); }

py::object transform_reverse_to_reverse_lazy(const Node& call) { return call_instead(call, "reverse_lazy", "reverse"); }

const std::vector<FixRow>& fix_rules() { return fix_storage.get_stored(); }

const py::object& checker_class() {
  return made_once([] { return make_checker_class(kModule, "urls", kRules, {}, {{"visit_call", &visit_call}}); });
}

void bind(py::module_& m) {
  bind_rules(m, kModule, kRules, checker_class());
  m.def("is_misusing_reverse_lazy", [](py::object n) { return is_misusing_reverse_lazy(Node(n)); }, py::arg("node"));
  m.def("is_reverse_at_import_time", [](py::object n) { return is_reverse_at_import_time(Node(n)); }, py::arg("node"));
  def_transform(m, "transform_reverse_lazy_to_reverse", &transform_reverse_lazy_to_reverse);
  def_transform(m, "transform_reverse_to_reverse_lazy", &transform_reverse_to_reverse_lazy);
  // The import rows: the module calls the function it did not import.
  for (auto [name, wanted, other] : {std::tuple{"add_reverse_import", "reverse", "reverse_lazy"},
                                     std::tuple{"add_reverse_lazy_import", "reverse_lazy", "reverse"}}) {
    std::string w = wanted, o = other;
    m.def(
        (std::string("needs_") + wanted + "_import").c_str(),
        [w, o](py::object node) {
          Node statement(node);
          Node module = statement.root();
          if (!statement.parent().is(module) || binds(module, w)) return false;
          std::optional<Node> import = import_for(module, o);
          return import && import->is(statement) && has_misplaced_calls(module, o);
        },
        py::arg("node"));
    m.def(
        name,
        [w](py::object node) {
          add_imported_name(node.attr("names"), w);
          return node;
        },
        py::arg("node"));
  }
  fix_storage.call_once_and_store_result([&m] {
    const Astroid& a = ast();
    return std::vector<FixRow>{
        {"C6000", a.ImportFrom, m.attr("add_reverse_import"), m.attr("needs_reverse_import")},
        {"C6000", a.Call, m.attr("transform_reverse_lazy_to_reverse"), m.attr("is_misusing_reverse_lazy")},
        {"C6001", a.ImportFrom, m.attr("add_reverse_lazy_import"), m.attr("needs_reverse_lazy_import")},
        {"C6001", a.Call, m.attr("transform_reverse_to_reverse_lazy"), m.attr("is_reverse_at_import_time")},
    };
  });
  def_transformer_visitor(m, &fix_rules, IdOrder::table);
}

}  // namespace tessary::urls

// The fix of C8001: give a RunPython step the no-op reverse function.
#include "staticanalysis/helpers/fixes.hpp"

#include <pybind11/gil_safe_call_once.h>

#include "staticanalysis/checkers/migrations/migrations.hpp"
#include "staticanalysis/helpers/tokens.hpp"

namespace tessary::migrations {

py::object add_reverse_code(const Node& node) {
  const Astroid& a = ast();
  // RunPython.noop named through the same receiver the call uses, so that
  // `from django.db import migrations as m` gets m.RunPython.noop.
  std::string noop = node.func().as_string() + ".noop";
  Node name(a.Name(py::arg("name") = noop));
  preserve_metadata(name, node);
  if (!node.nodes(a.keywords).empty()) {
    Node keyword(a.Keyword(py::arg("arg") = "reverse_code", py::arg("parent") = node.obj()));
    keyword.obj().attr("postinit")(py::arg("value") = name.obj());
    preserve_metadata(keyword, node);
    keyword.obj().attr("parent") = node.obj();
    name.obj().attr("parent") = keyword.obj();
    keywords_of(node).append(keyword.obj());
  } else {
    name.obj().attr("parent") = node.obj();
    node.get(a.args).attr("append")(name.obj());
  }
  return node.obj();
}

namespace {

PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<std::vector<FixRow>> fix_storage;

}  // namespace

const std::vector<FixRow>& fix_rules() { return fix_storage.get_stored(); }

void bind_fixes(py::module_& m) {
  def_transform(m, "add_reverse_code", &add_reverse_code);
  fix_storage.call_once_and_store_result([&m] {
    return std::vector<FixRow>{{"C8001", ast().Call, m.attr("add_reverse_code"), m.attr("is_missing_reverse")}};
  });
  def_transformer_visitor(m, &fix_rules, IdOrder::as_given);
}

}  // namespace tessary::migrations

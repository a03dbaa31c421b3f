#include "staticanalysis/checkers/methodrules/methodrules.hpp"

#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <unordered_map>

#include "staticanalysis/helpers/classify.hpp"
#include "staticanalysis/helpers/paths.hpp"
#include "staticanalysis/helpers/pyclass.hpp"

namespace tessary::methodrules {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.methodrules";

std::optional<size_t> standard_position(const std::string& name) {
  auto it = std::find(std::begin(STANDARD_METHODRULES), std::end(STANDARD_METHODRULES), name);
  if (it == std::end(STANDARD_METHODRULES)) return std::nullopt;
  return static_cast<size_t>(it - std::begin(STANDARD_METHODRULES));
}

Node previous_sibling(const Node& node) { return Node(node.get(ast().previous_sibling)()); }

bool in_model_body(const Node& node) {
  Node parent = node.parent();
  if (parent.is_none()) return false;
  return is_model(parent.frame());
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

std::vector<size_t> word_starts(const std::string& name) {
  auto upper = [](char c) { return std::isupper(static_cast<unsigned char>(c)) != 0; };
  auto lower_or_digit = [](char c) {
    return std::islower(static_cast<unsigned char>(c)) != 0 || std::isdigit(static_cast<unsigned char>(c)) != 0;
  };
  std::vector<size_t> starts;
  for (size_t i = 1; i < name.size(); ++i) {
    char before = name[i - 1], here = name[i];
    bool starts_word = (upper(here) && lower_or_digit(before)) ||
                       // the last capital of an acronym starts the next word: HTTPRequest
                       (upper(here) && upper(before) && i + 1 < name.size() && std::islower(static_cast<unsigned char>(name[i + 1]))) ||
                       (before == '_' && here != '_');
    if (starts_word) starts.push_back(i);
  }
  return starts;
}

std::vector<std::pair<std::string, long>> get_longest_common_prefix(const std::vector<std::string>& values,
                                                                    long min_length) {
  std::vector<std::pair<std::string, long>> counts;
  std::unordered_map<std::string, size_t> index;
  for (const std::string& value : values) {
    // A prefix is a run of whole CamelCase words, never the whole name.
    for (size_t end : word_starts(value)) {
      std::string prefix = value.substr(0, end);
      while (!prefix.empty() && prefix.back() == '_') prefix.pop_back();
      if (static_cast<long>(prefix.size()) < min_length) continue;
      auto [it, inserted] = index.try_emplace(prefix, counts.size());
      if (inserted) counts.emplace_back(prefix, 0);
      ++counts[it->second].second;
    }
  }
  return counts;
}

std::string without_generic_words(const std::string& name) {
  size_t start = 0;
  for (;;) {
    std::string rest = name.substr(start);
    std::vector<size_t> starts = word_starts(rest);
    if (starts.empty()) break;
    std::string first = lower(rest.substr(0, starts[0]));
    while (!first.empty() && first.back() == '_') first.pop_back();
    if (first != "abstract" && first != "base") break;
    start += starts[0];
  }
  return name.substr(start);
}

namespace {

void check_attribute_order(const py::object& self, const Node& node) {
  std::optional<std::string> name = node.name();
  if (!name) return;
  std::optional<size_t> position = standard_position(*name);
  if (!position) return;
  Node previous = previous_sibling(node);
  if (!previous.isa(ast().FunctionDef)) return;  // async functions derive from FunctionDef
  std::string previous_name = previous.name().value_or("");
  // Django's model style orders the model's own methods; a special method
  // (__init__, __eq__, __hash__) has a place of its own by Python habit.
  bool special = previous_name.size() > 4 && previous_name.rfind("__", 0) == 0 &&
                 previous_name.compare(previous_name.size() - 2, 2, "__") == 0;
  if (special && previous_name != "__str__") return;
  std::optional<size_t> previous_position = standard_position(previous_name);
  py::dict args;
  args["before"] = *name;
  args["after"] = previous_name;
  if (!previous_position) {
    report(self, "C3002", previous, args);
  } else if (*position < *previous_position) {
    report(self, "C3002", node, args);
  }
}

void visit_module(py::object self, py::object) { self.attr("model_names") = py::list(); }

void visit_classdef(py::object self, py::object node_obj) {
  Node node(node_obj);
  if (is_model(node)) {
    // Models made inside functions (test helpers) are not the module's.
    for (Node scope = node.parent(); !scope.is_none() && !scope.isa(ast().Module); scope = scope.parent()) {
      if (scope.isa(ast().FunctionDef) || scope.isa(ast().Lambda)) return;
    }
    self.attr("model_names").attr("append")(node.get(ast().name));
  } else if (in_model_body(node)) {
    check_attribute_order(self, node);
  }
}

void visit_functiondef(py::object self, py::object node_obj) {
  Node node(node_obj);
  if (in_model_body(node)) check_attribute_order(self, node);
}

void visit_call(py::object self, py::object node_obj) {
  const Astroid& a = ast();
  Node node(node_obj);
  // Cheap shape tests first: only a call in a class body right after a
  // statement that is not a field declaration can follow Meta.
  Node frame = node.frame();
  if (!frame.isa(a.ClassDef)) return;
  Node previous = previous_sibling(node.statement());
  if (previous.is_none()) return;
  if (previous.isa(a.Assign)) previous = previous.child(a.value);
  if (!is_model(frame) || !is_model_field(node)) return;
  if (is_model_field(previous)) return;

  py::object meta;
  try {
    py::iterator values = py::iter(node.scope().obj().attr("ilookup")("Meta"));
    if (values == py::iterator::sentinel()) return;
    meta = py::reinterpret_borrow<py::object>(*values);
  } catch (py::error_already_set& err) {
    if (err.matches(a.inference_error)) return;
    throw;
  }
  py::object meta_line = py::getattr(meta, a.lineno, py::none());
  if (meta_line.is_none() || meta_line.cast<long>() >= node.get(a.lineno).cast<long>()) return;
  py::dict args;
  std::optional<std::string> member = get_member_name(node);
  args["before"] = member ? py::object(py::str(*member)) : py::object(py::none());
  args["after"] = "Meta";
  report(self, "C3002", node, args);
}

// The app a module belongs to: its folder, or the folder above a models
// package (shop/models/orders.py is in the app shop).
std::string app_folder_name(const Node& module) {
  std::string name = py::str(module.get(ast().name));
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    size_t dot = name.find('.', start);
    parts.push_back(name.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  py::object file = py::getattr(module.obj(), ast().file, py::none());
  std::string path = !file.is_none() && py::isinstance<py::str>(file) ? py::str(file).cast<std::string>() : "";
  bool package = path.size() >= 11 && path.compare(path.size() - 11, 11, "__init__.py") == 0;
  if (!package) parts.pop_back();  // the module's own name
  if (!parts.empty() && parts.back() == "models") parts.pop_back();
  if (parts.empty()) return std::string();
  // A sub-package of an app (io_storages/azure_blob/models.py) belongs to
  // the nearest folder above that is an app: one with apps.py or
  // migrations.
  if (!path.empty()) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (package) folder = folder.parent_path();
    if (folder.filename() == "models") folder = folder.parent_path();
    for (std::filesystem::path at = folder; !at.empty() && at.has_filename() && at != at.root_path();
         at = at.parent_path()) {
      if (is_file(at / "apps.py") || is_folder(at / "migrations")) return at.filename().string();
      if (!is_file(at / "__init__.py")) break;  // out of the project's packages
    }
  }
  return parts.back();
}

bool names_the_app(const Node& module, const std::string& prefix) {
  auto folded = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '_'), text.end());
    return lower(text);
  };
  std::string app = folded(app_folder_name(module)), word = folded(prefix);
  return !app.empty() && (app == word || app == word + "s" || app == word + "es");
}

void leave_module(py::object self, py::object node_obj) {
  Node module = Node(node_obj).root();
  std::vector<std::string> names = self.attr("model_names").cast<std::vector<std::string>>();
  std::vector<std::string> stems;
  for (const std::string& name : names) stems.push_back(without_generic_words(name));
  long maximum = config_int(self, "max_models");
  if (static_cast<long>(names.size()) >= maximum) {
    py::dict args;
    args["count"] = names.size();
    args["maximum"] = maximum;
    report(self, "C3000", module, args);
  }
  if (names.empty()) return;
  long threshold = config_int(self, "max_common_model_prefix");
  const std::pair<std::string, long>* best = nullptr;
  auto prefixes = get_longest_common_prefix(stems, config_int(self, "min_common_model_prefix_length"));
  for (const auto& entry : prefixes) {
    if (entry.second < threshold) continue;
    std::string folded = lower(entry.first);
    if (folded == "abstract" || folded == "base") continue;
    if (!best || entry.first.size() > best->first.size()) best = &entry;
  }
  if (!best || best->first.empty()) return;
  // The app namespaces its models only when the prefix is the app's own
  // name: elsewhere it is a word of the domain (Ticket, Workflow) that the
  // names need.
  if (!names_the_app(module, best->first)) return;
  // Models that inherit from a model named by the prefix (multi-table
  // inheritance: Product, then ProductBook(Product)) say what they extend.
  if (std::find(names.begin(), names.end(), best->first) != names.end()) {
    for (py::handle cls : module.get(ast().nodes_of_class)(ast().ClassDef)) {
      for (py::handle base : cls.attr("bases")) {
        std::string text = Node::of(base).as_string();
        size_t dot = text.rfind('.');
        if ((dot == std::string::npos ? text : text.substr(dot + 1)) == best->first) return;
      }
    }
  }
  py::dict args;
  args["count"] = best->second;
  args["prefix"] = best->first;
  report(self, "C3003", module, args);
}

}  // namespace

const py::object& checker_class() {
  return made_once([] {
    py::object cls = make_checker_class(kModule, "models", kRules, kOptions,
                                        {
                                            {"visit_module", &visit_module},
                                            {"visit_classdef", &visit_classdef},
                                            {"visit_functiondef", &visit_functiondef},
                                            {"visit_call", &visit_call},
                                            {"leave_module", &leave_module}
                                        });
    add_method(cls, "check_attribute_order",
               [](py::object self, py::object node) { check_attribute_order(self, Node(node)); },
               py::arg("node"));
    return cls;
  });
}

void bind(py::module_& m) {
  py::list standard;
  for (std::string_view name : STANDARD_METHODRULES) standard.append(py::str(name.data(), name.size()));
  m.attr("STANDARD_METHODRULES") = py::tuple(standard);
  bind_rules(m, kModule, kRules, checker_class());
  m.def(
      "get_longest_common_prefix",
      [](const std::vector<std::string>& values, long min_length) {
        py::object counter = py::module_::import("collections").attr("Counter")();
        for (const auto& [prefix, count] : get_longest_common_prefix(values, min_length)) counter[py::str(prefix)] = count;
        return counter;
      },
      py::arg("values"), py::arg("min_length"));
}

}  // namespace tessary::methodrules

// Suggestions for Python modules: the statement at a commented line, fixed
// for the comment's ids only and rendered with its comments; or, when the
// reviewer asks to skip the line, the same statement with the disable
// comment.
#include <pybind11/stl.h>

#include <algorithm>

#include "constants/constants.hpp"
#include "staticanalysis/checker/linters.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/formatting.hpp"
#include "staticanalysis/suggest/suggest.hpp"

namespace tessary::suggest {

namespace {

long line_of(const py::object& token) { return token.attr("start")[py::int_(0)].cast<long>(); }

bool shares_an_id(const std::set<std::string>& ids, const std::set<std::string>& table) {
  return std::any_of(ids.begin(), ids.end(), [&](const std::string& id) { return table.count(id) > 0; });
}

py::object logger() {
  return py::module_::import("logging").attr("getLogger")("tessary.staticanalysis.suggest");
}

bool is_cannot_transform(py::error_already_set& error) {
  py::object kind = py::module_::import("black.trans").attr("CannotTransform");
  return error.matches(kind);
}

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
  return out;
}

// The full text of the physical line a node's first token stands on.
std::string first_line_text(const py::object& node) {
  return py::str(node.attr("first_token").attr("line")).cast<std::string>();
}

// The skip request: the disable comment with the symbols of the other ids
// on the commented line of the statement.
std::vector<Suggestion> skip_line(const py::object& atok, const py::object& node, long line,
                                  const std::set<std::string>& message_ids) {
  py::object statement = py::module_::import("astroid.builder").attr("_find_statement_by_line")(atok.attr("tree"), line);
  if (statement.is_none()) statement = node;
  py::dict symbols = checker::driver().message_id_symbol_store;
  std::vector<std::string> disabled;
  for (const std::string& id : message_ids)  // a std::set: ascending ids
    if (id != constants::kSkipLineId) disabled.push_back(py::str(symbols[py::str(id)]));
  std::vector<std::string> lines = split_at(py::str(atok.attr("get_text")(node)));
  long index = line_of(statement.attr("first_token")) - line_of(node.attr("first_token"));
  std::string indentation = formatting::get_indentation(first_line_text(statement));
  std::string& target = lines.at(static_cast<size_t>(index));
  if (target.rfind(indentation, 0) == 0) indentation.clear();
  target = indentation + target + "  # tessary: disable=" + join(disabled, ", ");
  std::string statement_indentation = formatting::get_indentation(first_line_text(node));
  if (lines[0].rfind(statement_indentation, 0) != 0) lines[0] = statement_indentation + lines[0];
  return {{line_of(node.attr("first_token")), line_of(node.attr("last_token")), join(lines, "\n")}};
}

}  // namespace

std::optional<Suggestion> get_suggestion_for_python(const py::object& atok, const py::object& node,
                                                    const std::set<std::string>& message_ids,
                                                    const std::string& settings_modpath) {
  long start = line_of(node.attr("first_token"));
  long end = line_of(node.attr("last_token"));
  std::string before = py::str(node.attr("as_string")());
  py::object walk = py::module_::import("asttokens.util").attr("walk");
  py::list ids = py::cast(message_ids);
  // The check modules whose fixes apply, in this order; the settings fixes
  // after them, on the whole module.
  struct Table {
    std::set<std::string> ids;
    const char* module;
  };
  const Table tables[] = {
      {constants::model_field_rules(), "tessary.staticanalysis.checkers.fieldrules"},
      {constants::url_rules(), "tessary.staticanalysis.checkers.urls"},
      {constants::migration_rules(), "tessary.staticanalysis.checkers.migrations"},
      {constants::queryset_rules(), "tessary.staticanalysis.checkers.queryrules"},
  };
  for (const Table& table : tables) {
    if (!shares_an_id(message_ids, table.ids)) continue;
    py::object visitor = py::module_::import(table.module).attr("build_transformer_visitor")(ids);
    // Fixes reach the tree by editing in place or replacing a child within
    // its parent; what the visit returns for the node itself is not used.
    for (py::handle child : py::list(walk(node))) visitor.attr("_visit")(child);
  }
  if (shares_an_id(message_ids, constants::settings_rules())) {
    py::module_ settings = py::module_::import("tessary.staticanalysis.checkers.settings");
    if (message_ids.count("C4005") || message_ids.count("C4015")) {
      py::tuple removed = settings.attr("remove_node")(py::arg("atok") = atok, py::arg("node") = node,
                                                       py::arg("start") = start, py::arg("end") = end);
      return Suggestion{removed[0].cast<long>(), removed[1].cast<long>(), py::str(removed[2])};
    }
    py::object visitor = settings.attr("build_transformer_visitor")(py::arg("message_ids") = ids,
                                                                    py::arg("settings_modpath") = settings_modpath);
    visitor.attr("visit")(node.attr("root")());
  }
  std::string after = py::str(node.attr("as_string")());
  if (after == before) return std::nullopt;
  return Suggestion{start, end, formatting::node_as_string(atok, node)};
}

std::vector<Suggestion> get_suggestions_for_python(const py::object& atok, long line,
                                                   const std::set<std::string>& message_ids,
                                                   const py::dict& code_style, const std::string& settings_modpath,
                                                   bool indent) {
  py::object tree = atok.attr("tree");
  Node found = find_node_by_position(Node(tree), line);
  tree.attr("new_nodes") = py::list();
  tree.attr("replace_other_nodes") = py::list();
  // A blank or comment line has no statement of its own (the lookup then
  // answers with the module, or a placeholder without tokens).
  if (found.is_none() || found.isa(ast().Module) || py::getattr(found.obj(), "first_token", py::none()).is_none())
    return {};
  py::object node = found.obj();
  if (message_ids.count(std::string(constants::kSkipLineId))) return skip_line(atok, node, line, message_ids);

  std::optional<Suggestion> fixed = get_suggestion_for_python(atok, node, message_ids, settings_modpath);
  formatting::QuoteTarget quotes = formatting::get_comma_character_target(py::str(atok.attr("text")));
  auto formatter = [&](const std::string& code, const std::string& indentation) {
    return formatting::format_code(code, indentation, code_style, quotes);
  };
  auto indentation_of = [&](const py::object& n) { return indent ? formatting::get_indentation(first_line_text(n)) : ""; };
  std::vector<Suggestion> suggestions;
  try {
    if (fixed) suggestions.push_back({fixed->start, fixed->end, formatter(fixed->code, indentation_of(node))});
    for (py::handle other : py::list(tree.attr("replace_other_nodes"))) {
      py::object replaced = py::reinterpret_borrow<py::object>(other);
      suggestions.push_back({line_of(replaced.attr("first_token")), line_of(replaced.attr("last_token")),
                             formatter(py::str(replaced.attr("as_string")()), indentation_of(replaced))});
    }
  } catch (py::error_already_set& error) {
    if (!is_cannot_transform(error)) throw;
    logger().attr("error")(error.value());
    return {};
  }
  py::list new_nodes = tree.attr("new_nodes");
  if (new_nodes.empty()) return suggestions;

  std::vector<std::string> append, prepend;
  const Astroid& a = ast();
  for (py::handle added : new_nodes) {
    std::string code;
    try {
      code = formatter(py::str(added.attr("as_string")()), "");
    } catch (py::error_already_set& error) {
      if (!is_cannot_transform(error)) throw;
      logger().attr("exception")(error.value());
      continue;
    }
    bool is_import = py::isinstance(added, a.Import) || py::isinstance(added, a.ImportFrom);
    (is_import ? prepend : append).push_back(code);
  }
  std::string append_code = join(append, "\n\n"), prepend_code = join(prepend, "\n\n");
  py::list tokens = atok.attr("tokens");
  py::object last_token = tokens[py::len(tokens) - 1];
  long last_line = last_token.attr("end")[py::int_(0)].cast<long>();
  std::string last_code = py::str(last_token.attr("line"));
  for (Suggestion& suggestion : suggestions) {
    if (!append_code.empty() && suggestion.start == last_line)
      suggestion.code += (last_code.empty() ? "\n" : "\n\n") + append_code;
    if (!prepend_code.empty() && suggestion.start == 1) suggestion.code = prepend_code + "\n\n" + suggestion.code;
    if (suggestion.start == 1 || suggestion.start == last_line) return suggestions;
  }
  if (!append_code.empty()) suggestions.push_back({last_line, last_line, last_code + "\n\n" + append_code});
  if (!prepend_code.empty()) {
    std::string first_line = py::str(tokens[0].attr("line"));
    suggestions.insert(suggestions.begin(), Suggestion{1, 1, prepend_code + "\n\n" + first_line});
  }
  return suggestions;
}

}  // namespace tessary::suggest

#include "staticanalysis/transformer/fixer.hpp"

#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/paths.hpp"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "meta/meta.hpp"
#include "meta/project.hpp"
#include "staticanalysis/checker/collect.hpp"
#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"
#include "staticanalysis/checkers/settings/settings.hpp"
#include "staticanalysis/checkers/templates/templates.hpp"
#include "staticanalysis/checker/linters.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/project_scope.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/checker/fixable.hpp"
#include "staticanalysis/helpers/formatting.hpp"
#include "staticanalysis/transformer/edits.hpp"
#include "staticanalysis/transformer/text.hpp"
#include "staticanalysis/transformer/transform.hpp"

namespace tessary::transformer {

std::string& django_release() {
  static std::string release;
  return release;
}

py::dict& project_options() {
  // Never destroyed: the interpreter may be gone by the time statics are.
  static auto* options = new py::dict();
  return *options;
}

namespace {

// One node a fix changed: its original source range (character offsets of
// its first and last token) and the node now standing for it.
struct Edit {
  long start = 0, end = 0;
  py::object first_token, last_token;
  py::object target;
  std::string id;
};

// The findings of `text` per id. Given `owners_of`, only the checkers that
// own one of those ids run, and `counted` receives every id they own: the
// others were not looked for.
std::map<std::string, long> count_findings(const std::string& text, const std::string& path,
                                           const std::string& settings_modpath,
                                           const std::set<std::string>* owners_of = nullptr,
                                           std::set<std::string>* counted = nullptr, const std::string& module = "") {
  py::object linter = checker::create_linter(checker::driver().TextLinter);
  if (!module.empty()) linter.attr("tessary_modname") = path_str(module);
  for (auto item : project_options()) linter.attr("set_option")(item.first, item.second);
  linter.attr("set_option")("settings-files", py::list(py::make_tuple(settings_modpath)));
  if (!django_release().empty()) linter.attr("set_option")("django-version", django_release());
  if (owners_of) {
    for (py::handle owner : linter.attr("get_checkers")()) {
      if (owner.is(linter)) continue;
      std::vector<std::string> owned;
      bool wanted = false;
      for (auto item : py::dict(owner.attr("msgs"))) {
        py::handle id = item.first;
        owned.push_back(py::str(id));
        wanted = wanted || owners_of->count(owned.back());
      }
      // pylint leaves out a checker all of whose messages are disabled.
      for (const std::string& id : owned) {
        if (wanted) counted->insert(id);
        else linter.attr("disable")(id);
      }
    }
  }
  linter.attr("check")(text, py::arg("files_or_modules") = py::list(py::make_tuple(path_str(path))));
  std::map<std::string, long> counts;
  py::set codes(checker::get_all_message_codes());
  for (py::handle record : linter.attr("reporter").attr("messages"))
    if (codes.contains(record["message-id"])) ++counts[py::str(record["message-id"])];
  return counts;
}

bool has_tokens(const py::object& node) {
  return !py::getattr(node, "first_token", py::none()).is_none() &&
         !py::getattr(node, "last_token", py::none()).is_none();
}

// The calls a fix changed in place, as they were written, by node.
struct CallChanges {
  std::map<PyObject*, std::pair<CallSnapshot, std::string>> calls;  // snapshot and the first fix id
  std::vector<PyObject*> order;
};

// The fix rows for the chosen ids, each transform wrapped so that it
// records what it changed: a node it replaced (rendered anew), or a call
// it changed in place (written back token by token).
// Whether the finding a fix row answers for `node` lies on one of `lines`:
// the lines of the node, or of the test of a conditional (whose body may
// be long).
bool on_lines(const py::object& node, const std::set<long>& lines) {
  std::optional<std::pair<long, long>> span = checker::fix_span(node);
  if (!span) return false;
  auto at = lines.lower_bound(span->first);
  return at != lines.end() && *at <= span->second;
}

py::object recording_visitor(const std::optional<std::set<std::string>>& ids, std::vector<Edit>& edits,
                             CallChanges& changed_calls, const std::optional<std::set<long>>& lines,
                             const std::map<std::string, std::set<long>>* id_lines) {
  const Astroid& a = ast();
  py::object visitor = py::module_::import("astroid.transforms").attr("TransformVisitor")();
  for (const FixRow& row : rule_table()) {
    if (ids && !ids->count(row.id)) continue;
    py::object transform = row.transform;
    std::string id = row.id;
    auto record = [&edits, id](const py::object& original, const py::object& target) {
      if (!has_tokens(original)) return;
      Edit edit;
      edit.first_token = original.attr("first_token");
      edit.last_token = original.attr("last_token");
      edit.start = edit.first_token.attr("startpos").cast<long>();
      edit.end = edit.last_token.attr("endpos").cast<long>();
      edit.target = target;
      edit.id = id;
      edits.push_back(edit);
    };
    py::cpp_function wrapper([transform, record, &a, &changed_calls, id](py::object node) -> py::object {
      // What the fix may change: the node, its direct children, and the
      // operator of a negation around it.
      std::vector<std::pair<std::string, py::object>> children;
      for (py::handle field : node.attr("_astroid_fields")) {
        std::string name = py::str(field);
        children.emplace_back(name, node.attr(field));
      }
      py::object parent = node.attr("parent");
      bool negated = py::isinstance(parent, a.UnaryOp);
      py::object parent_op = negated ? py::object(parent.attr("op")) : py::object(py::none());
      bool is_call = py::isinstance(node, a.Call) && has_tokens(node);
      std::optional<CallSnapshot> snapshot;
      if (is_call && !changed_calls.calls.count(node.ptr())) snapshot = snapshot_call(node);

      // A transform may change another statement its change needs (the
      // import of the function a call now names); it lists that node on
      // the module, and the node is written with this row's change.
      py::object others = py::getattr(node.attr("root")(), "replace_other_nodes", py::none());
      size_t others_before = py::isinstance<py::list>(others) ? py::len(others) : 0;
      py::object result = transform(node);
      if (py::isinstance<py::list>(others)) {
        py::list listed(others);
        for (size_t i = others_before; i < py::len(listed); ++i) record(listed[i], listed[i]);
      }
      bool negation_changed = negated && !py::object(parent.attr("op")).equal(parent_op);
      if (is_call && result.is(node) && !negation_changed) {
        // Changed in place: compared with the call as written once every
        // fix has run.
        if (snapshot) {
          changed_calls.calls.emplace(node.ptr(), std::make_pair(*snapshot, id));
          changed_calls.order.push_back(node.ptr());
        }
      } else if (negation_changed) {
        // The whole negation is rewritten; by the time it is rendered its
        // operand is the replacement.
        record(parent, parent);
      } else if (!result.is_none() && !result.is(node)) {
        record(node, result);
      } else {
        bool child_replaced = false;
        bool other_change = false;
        for (const auto& [name, before] : children) {
          py::object now = node.attr(name.c_str());
          if (now.is(before)) continue;
          if (!before.is_none() && !py::isinstance<py::list>(before) && !py::isinstance<py::list>(now)) {
            record(before, now);
            child_replaced = true;
          } else {
            other_change = true;
          }
        }
        if (other_change || !child_replaced) record(node, node);
      }
      return result;
    });
    py::object predicate = row.predicate;
    std::optional<std::set<long>> row_lines = lines;
    if (id_lines) {
      // Only where this rule was reported.
      auto found = id_lines->find(row.id);
      std::set<long> reported = found == id_lines->end() ? std::set<long>() : found->second;
      if (row_lines) {
        std::set<long> both;
        for (long line : reported)
          if (row_lines->count(line)) both.insert(line);
        reported = both;
      }
      row_lines = reported;
    }
    if (row_lines) {
      std::set<long> wanted = *row_lines;
      predicate = py::cpp_function([predicate, wanted](py::object node) {
        return on_lines(node, wanted) && py::bool_(predicate(node)).cast<bool>();
      });
    }
    visitor.attr("register_transform")(row.kind, wrapper, predicate);
  }
  return visitor;
}

bool range_has_comment(const py::object& atok, const Edit& edit) {
  long first = edit.first_token.attr("index").cast<long>();
  long last = edit.last_token.attr("index").cast<long>();
  py::list tokens = atok.attr("tokens");
  int comment = py::module_::import("tokenize").attr("COMMENT").cast<int>();
  for (long i = first; i <= last; ++i) {
    if (tokens[static_cast<size_t>(i)].attr("type").cast<int>() == comment) return true;
  }
  return false;
}

bool is_simple_statement(const py::object& statement) {
  return !py::hasattr(statement, "body") && !py::hasattr(statement, "orelse");
}

}  // namespace

FileFix fix_text(const std::string& original, const std::string& relative_path, const std::string& settings_modpath,
                 const py::dict& code_style, const std::optional<std::set<std::string>>& ids,
                 const std::optional<LintedText>& linted, const std::optional<std::set<long>>& on_these_lines,
                 const std::map<std::string, std::set<long>>* reported_lines) {
  FileFix result;
  result.text = original;
  const std::string& where = linted && !linted->file.empty() ? linted->file : relative_path;
  std::string dotted = linted && !linted->module.empty() ? linted->module : module_name(relative_path);
  std::map<std::string, long> before =
      linted ? linted->findings : count_findings(original, where, settings_modpath, nullptr, nullptr, dotted);
  auto keep_unfixed = [&] {
    for (const auto& [id, count] : before)
      if (!ids || ids->count(id)) result.unfixed[id] += count;
  };
  std::set<std::string> fixable_found, settings_found;
  for (const FixRow& row : rule_table())
    if (before.count(row.id) && (!ids || ids->count(row.id))) fixable_found.insert(row.id);
  for (const Rule& entry : rules_of("settings")) {
    std::string id(entry.id);
    if (!entry.fix.empty() && before.count(id) && (!ids || ids->count(id))) settings_found.insert(id);
  }
  fixable_found.insert(settings_found.begin(), settings_found.end());
  // The settings fixes judge the settings as they will be once they are
  // all in (installing a middleware makes Django check more settings), so
  // that one run makes the whole change. That takes every settings fix
  // asked for, in every settings module a fix edits, even one where
  // nothing was reported (the caller says which). Not when only some
  // lines are fixed: those are the reported findings.
  std::vector<std::string> settings_wanted(settings_found.begin(), settings_found.end());
  bool settings_module = linted && linted->settings_module;
  bool settings_as_fixed = !on_these_lines && (!settings_found.empty() || settings_module);
  if (settings_as_fixed) {
    settings_wanted.clear();
    for (const Rule& entry : rules_of("settings"))
      if (!entry.fix.empty() && (!ids || ids->count(std::string(entry.id)))) settings_wanted.emplace_back(entry.id);
  }
  if (fixable_found.empty() && !(settings_as_fixed && !settings_wanted.empty())) {
    keep_unfixed();
    return result;
  }

  // The linter's own tree of this text saves parsing it again. Blank-line
  // and comment placeholders are of no use here: only the changed nodes
  // are rendered, and comments are checked on the tokens.
  py::object atok = linted && !linted->tree.is_none()
                        ? py::module_::import("asttokens").attr("ASTTokens")(original, py::arg("tree") = linted->tree)
                        : build_token_tree(original, dotted, path_str(where));
  // The fixes judge by the project's options, as its check did.
  fieldrules::use_options(Node(atok.attr("tree")), project_options());
  std::vector<Edit> edits;
  CallChanges changed_calls;
  atok.attr("tree").attr("replace_other_nodes") = py::list();
  recording_visitor(ids, edits, changed_calls, on_these_lines, reported_lines).attr("visit")(atok.attr("tree"));
  formatting::QuoteTarget quotes = formatting::get_comma_character_target(original);

  // A call changed in place is written back token by token; a change
  // those edits cannot express renders the call anew.
  struct Splice {
    long start, end;
    std::string text;
    py::object statement;
    std::string id;
    bool whole_node;
  };
  std::vector<Splice> splices;
  for (PyObject* key : changed_calls.order) {
    const auto& [snapshot, id] = changed_calls.calls.at(key);
    std::optional<std::vector<TextEdit>> token_edits = call_edits(atok, snapshot, quotes);
    if (!token_edits) {
      Edit edit;
      edit.first_token = snapshot.call.attr("first_token");
      edit.last_token = snapshot.call.attr("last_token");
      edit.start = edit.first_token.attr("startpos").cast<long>();
      edit.end = edit.last_token.attr("endpos").cast<long>();
      edit.target = snapshot.call;
      edit.id = id;
      edits.push_back(edit);
      continue;
    }
    py::object statement = Node(snapshot.call).statement().obj();
    for (TextEdit& e : *token_edits) splices.push_back({e.start, e.end, std::move(e.text), statement, id, false});
  }

  // Settings modules: a setting added, set, or taken out, as text edits
  // (in bytes of the text; splices count characters).
  if (!settings_wanted.empty() && (!settings_found.empty() || settings_as_fixed)) {
    // What the check did not report here, the other fixes brought about.
    std::map<std::string, long> reported = before;
    for (const settings::TextEdit& edit : settings::settings_text_edits(
             Node(atok.attr("tree")), original, settings_wanted, settings_modpath, django_release(), settings_as_fixed)) {
      for (const std::string& id : edit.ids)
        if (reported[id]-- <= 0) ++result.uncovered[id];
      auto characters = [&original](long bytes) {
        return static_cast<long>(PyUnicode_GetLength(py::str(original.substr(0, static_cast<size_t>(bytes))).ptr()));
      };
      splices.push_back({characters(edit.start), characters(edit.end), edit.text, py::none(), "", false});
    }
  }
  // Nodes rendered anew: outermost only, as an inner change is part of its
  // outer node's text; one that holds a comment is left undone, as its
  // rendering would drop the comment.
  std::sort(edits.begin(), edits.end(), [](const Edit& x, const Edit& y) {
    return x.start != y.start ? x.start < y.start : x.end > y.end;
  });
  std::vector<Edit> outer;
  for (const Edit& edit : edits) {
    if (!outer.empty() && edit.start < outer.back().end) {
      if (edit.start == outer.back().start && edit.end == outer.back().end) outer.back().target = edit.target;
      continue;
    }
    outer.push_back(edit);
  }
  for (const Edit& edit : outer) {
    if (range_has_comment(atok, edit)) continue;
    std::string rendered = py::str(edit.target.attr("as_string")());
    splices.push_back({edit.start, edit.end, formatting::requote_strings(rendered, quotes),
                       Node(edit.target).statement().obj(), edit.id, true});
  }
  // Token edits inside a node rendered anew are part of its rendering.
  std::vector<Splice> kept;
  for (const Splice& splice : splices) {
    bool inside = !splice.whole_node && std::any_of(splices.begin(), splices.end(), [&](const Splice& other) {
      return other.whole_node && other.start <= splice.start && splice.end <= other.end;
    });
    if (!inside) kept.push_back(splice);
  }
  std::vector<TextSplice> replacements;
  for (const Splice& splice : kept) replacements.push_back({splice.start, splice.end, splice.text});
  py::str source(original);
  SplicedText spliced = splice_text(source, replacements);

  // Each edited statement may be formatted again (reformat_statement).
  std::vector<Reformat> reformats;
  std::set<PyObject*> seen;
  const LinedText source_lines(source), spliced_lines(spliced.text);
  // The file's own line length is looked for only when a fix made a line
  // longer than the project's.
  std::optional<py::dict> style;
  for (const SplicedText::Applied& edit : spliced.applied) {
    const py::object& statement = kept[edit.source].statement;
    if (!seen.insert(statement.ptr()).second) continue;
    if (!has_tokens(statement) || !is_simple_statement(statement)) continue;
    long old_start = statement.attr("first_token").attr("startpos").cast<long>();
    long old_end = statement.attr("last_token").attr("endpos").cast<long>();
    StatementSpan span{old_start, old_end, spliced.moved(old_start, false), spliced.moved(old_end, true)};
    if (!style && too_long(spliced_lines, span.start, span.end, code_style))
      style = file_code_style(source_lines, code_style, quotes);
    if (std::optional<Reformat> reformat =
            reformat_statement(source_lines, spliced_lines, span, style ? *style : code_style, quotes))
      reformats.push_back(*reformat);
  }
  std::string fixed_text = apply_reformats(spliced.text, reformats);
  if (std::optional<std::string> problem = parse_problem(fixed_text)) {
    result.refused = "the fixed text does not parse: " + *problem;
    keep_unfixed();
    return result;
  }
  // Linting the fixed text tells what the fixes fixed. Only the checkers
  // whose findings were fixed run: a fix edits what its own check
  // reported, and leaves the other checkers' findings as they were.
  std::set<std::string> counted;
  std::map<std::string, long> after =
      count_findings(fixed_text, where, settings_modpath, &fixable_found, &counted, dotted);
  for (const auto& [id, count] : before) {
    if (ids && !ids->count(id)) continue;
    if (!fixable_found.count(id)) {
      // A finding without a fix of its own stays one, even when another
      // rule's fix made it go away: the counts are those `check` shows.
      result.unfixed[id] += count;
      continue;
    }
    long remaining = !counted.count(id) ? count : after.count(id) ? after.at(id) : 0;
    if (count > remaining) result.fixed[id] = count - remaining;
    if (remaining > 0) result.unfixed[id] = std::min(count, remaining);
  }
  std::set<std::string> schema_ids;
  for (const FixRow& row : rule_table())
    if (row.changes_schema()) schema_ids.insert(row.id);
  for (const Splice& splice : kept) {
    if (!schema_ids.count(splice.id)) continue;
    Node frame = Node(splice.statement).frame();
    if (frame.isa(ast().ClassDef)) result.changed_models.insert(*frame.name());
  }
  result.text = fixed_text;
  return result;
}

void bind_fixer(py::module_& m) {
  m.def(
      "fix_text",
      [](const std::string& text, const std::string& path, const std::string& settings_modpath, py::dict code_style,
         py::object ids) {
        std::optional<std::set<std::string>> chosen;
        if (!ids.is_none()) chosen = ids.cast<std::set<std::string>>();
        FileFix fix = fix_text(text, path, settings_modpath, code_style, chosen);
        py::dict out;
        out["text"] = fix.text;
        out["fixed"] = fix.fixed;
        out["unfixed"] = fix.unfixed;
        out["changed_models"] = fix.changed_models;
        out["refused"] = fix.refused;
        return out;
      },
      py::arg("text"), py::arg("path"), py::arg("settings_modpath"), py::arg("code_style"), py::arg("ids") = py::none());
  m.def("fix_source", &fix_source, py::arg("project_root"), py::arg("relative_path"), py::arg("text"),
        py::arg("ids") = py::none(), py::arg("lines") = py::none(), py::arg("settings_modpath") = "",
        py::arg("code_style") = py::dict(), py::arg("search_paths") = py::none(), py::arg("django_version") = "");
  m.def("fix_project", &fix_project, py::arg("project_root"), py::arg("whitelist"), py::arg("settings_modpath"),
        py::arg("code_style"), py::arg("search_paths") = py::none(), py::arg("unsafe_fixes") = true,
        py::arg("only_lines") = py::none(), py::arg("django_version") = "", py::arg("found") = py::none(),
        py::arg("claim") = py::none());
}

}  // namespace tessary::transformer

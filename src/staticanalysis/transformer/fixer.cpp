#include "staticanalysis/transformer/fixer.hpp"

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
#include "staticanalysis/checkers/settings/settings.hpp"
#include "staticanalysis/checkers/templates/templates.hpp"
#include "staticanalysis/checker/linters.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/project_scope.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/suggest/render.hpp"
#include "staticanalysis/transformer/edits.hpp"
#include "staticanalysis/transformer/transform.hpp"

namespace tessary::transformer {

namespace {

// The Django release the fixer's linters judge by ("" for their default).
std::string& django_release() {
  static std::string release;
  return release;
}

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
                                           std::set<std::string>* counted = nullptr) {
  py::object linter = checker::create_linter(checker::driver().TextLinter);
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
  linter.attr("check")(text, py::arg("files_or_modules") = py::list(py::make_tuple(path)));
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
  py::object head = py::hasattr(node, "test") && !py::getattr(node, "test", py::none()).is_none()
                        ? py::object(node.attr("test"))
                        : node;
  py::object first = py::getattr(head, "lineno", py::none()), last = py::getattr(head, "end_lineno", py::none());
  if (first.is_none()) return false;
  long from = first.cast<long>(), to = last.is_none() ? from : last.cast<long>();
  auto at = lines.lower_bound(from);
  return at != lines.end() && *at <= to;
}

py::object recording_visitor(const std::optional<std::set<std::string>>& ids, std::vector<Edit>& edits,
                             CallChanges& changed_calls, const std::optional<std::set<long>>& lines) {
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

      py::object result = transform(node);
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
    if (lines) {
      std::set<long> wanted = *lines;
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

// Character offset of the start of each line (line 1 at index 0).
std::vector<long> line_starts(const py::str& text) {
  std::vector<long> starts{0};
  py::str content = text;
  Py_ssize_t length = PyUnicode_GetLength(content.ptr());
  for (Py_ssize_t i = 0; i < length; ++i) {
    if (PyUnicode_ReadChar(content.ptr(), i) == '\n') starts.push_back(static_cast<long>(i + 1));
  }
  return starts;
}

py::str slice(const py::str& text, long start, long end) { return text[py::slice(start, end, 1)]; }

long display_width(const py::str& line) { return static_cast<long>(PyUnicode_GetLength(line.ptr())); }

bool is_simple_statement(const py::object& statement) {
  return !py::hasattr(statement, "body") && !py::hasattr(statement, "orelse");
}

}  // namespace

FileFix fix_text(const std::string& original, const std::string& relative_path, const std::string& settings_modpath,
                 const py::dict& code_style, const std::optional<std::set<std::string>>& ids,
                 const std::optional<LintedText>& linted, const std::optional<std::set<long>>& on_these_lines) {
  FileFix result;
  result.text = original;
  std::map<std::string, long> before =
      linted ? linted->findings : count_findings(original, relative_path, settings_modpath);
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
  if (fixable_found.empty()) {
    keep_unfixed();
    return result;
  }

  // The linter's own tree of this text saves parsing it again. Blank-line
  // and comment placeholders are of no use here: only the changed nodes
  // are rendered, and comments are checked on the tokens.
  py::object atok = linted && !linted->tree.is_none()
                        ? py::module_::import("asttokens").attr("ASTTokens")(original, py::arg("tree") = linted->tree)
                        : build_token_tree(original, module_name(relative_path), py::str(relative_path));
  std::vector<Edit> edits;
  CallChanges changed_calls;
  recording_visitor(ids, edits, changed_calls, on_these_lines).attr("visit")(atok.attr("tree"));
  suggest::QuoteTarget quotes = suggest::get_comma_character_target(original);

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
  if (!settings_found.empty()) {
    std::vector<std::string> wanted(settings_found.begin(), settings_found.end());
    for (const settings::TextEdit& edit :
         settings::settings_text_edits(Node(atok.attr("tree")), original, wanted, settings_modpath, django_release())) {
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
    splices.push_back({edit.start, edit.end, suggest::requote_strings(rendered, quotes),
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
  // Right to left, so that earlier offsets stay valid; at one offset a
  // removal goes before an insertion.
  std::sort(kept.begin(), kept.end(), [](const Splice& x, const Splice& y) {
    return x.start != y.start ? x.start > y.start : x.end > y.end;
  });

  py::str text(original);
  long line_length = code_style.contains("line_length") ? code_style["line_length"].cast<long>() : 88;
  struct Applied {
    long start, end, delta;  // the original range and how much longer its replacement is
    py::object statement;
  };
  std::vector<Applied> applied;
  for (const Splice& splice : kept) {
    py::str replacement(splice.text);
    text = py::str(slice(text, 0, splice.start).cast<std::string>() + splice.text +
                   slice(text, splice.end, display_width(text)).cast<std::string>());
    applied.push_back({splice.start, splice.end, display_width(replacement) - (splice.end - splice.start),
                       splice.statement});
  }
  // Where an original offset lies in the new text.
  auto moved = [&applied](long offset, bool inclusive_end) {
    long shifted = offset;
    for (const Applied& edit : applied) {
      if (edit.start < offset || (inclusive_end && edit.start == offset)) shifted += edit.delta;
    }
    return shifted;
  };

  // An edited statement is formatted on its own when black had formatted
  // it (then black would format it again: the file stays as black leaves
  // it), or when a fix made one of its lines longer than the line length,
  // at the line length less its indentation. A line that was already too
  // long is the author's choice and stays as it is.
  std::vector<long> starts = line_starts(text);
  std::vector<long> original_starts = line_starts(py::str(original));
  auto line_in = [](const std::vector<long>& line_starts, long offset) {
    return static_cast<long>(std::upper_bound(line_starts.begin(), line_starts.end(), offset) - line_starts.begin());
  };
  py::list lines = text.attr("split")("\n");
  py::list original_lines = py::str(original).attr("split")("\n");
  auto lines_text = [](const py::list& all, long first, long last) {
    std::string out;
    for (long line = first; line <= last; ++line) out += py::str(all[static_cast<size_t>(line - 1)]).cast<std::string>() + "\n";
    return out;
  };
  auto any_too_long = [line_length](const py::list& all, long first, long last) {
    for (long line = first; line <= last; ++line)
      if (display_width(all[static_cast<size_t>(line - 1)]) > line_length) return true;
    return false;
  };
  auto format = [&](const std::string& code, const std::string& indentation) -> std::optional<std::string> {
    py::dict style = code_style.attr("copy")();  // the caller's style stays as it is
    style["line_length"] = std::max(1L, line_length - static_cast<long>(indentation.size()));
    std::string dedented;
    std::istringstream in(code);
    for (std::string line; std::getline(in, line);)
      dedented += (line.rfind(indentation, 0) == 0 ? line.substr(indentation.size()) : line) + "\n";
    try {
      return suggest::format_code_stable(dedented, indentation, style, quotes) + "\n";
    } catch (py::error_already_set&) {
      return std::nullopt;  // black cannot take the statement alone
    }
  };
  struct Reformat {
    long first, last;  // lines of the new text
    std::string text;
  };
  std::vector<Reformat> reformats;
  std::set<PyObject*> seen;
  for (const Applied& edit : applied) {
    const py::object& statement = edit.statement;
    if (!seen.insert(statement.ptr()).second) continue;
    if (!has_tokens(statement) || !is_simple_statement(statement)) continue;
    long old_start = statement.attr("first_token").attr("startpos").cast<long>();
    long old_end = statement.attr("last_token").attr("endpos").cast<long>();
    long start = moved(old_start, false), end = moved(old_end, true);
    long first = line_in(starts, start), last = line_in(starts, std::max(start, end - 1));
    long old_first = line_in(original_starts, old_start), old_last = line_in(original_starts, std::max(old_start, old_end - 1));
    // Only a statement that owns its lines is reformatted.
    std::string before = slice(text, starts[first - 1], start);
    std::string after = slice(text, end, last < static_cast<long>(starts.size()) ? starts[last] - 1 : display_width(text));
    std::string rest = after.substr(std::min(after.find_first_not_of(" \t"), after.size()));
    if (before.find_first_not_of(" \t") != std::string::npos || !(rest.empty() || rest[0] == '#')) continue;
    std::string indentation = suggest::get_indentation(py::str(lines[static_cast<size_t>(first - 1)]));
    std::string was = lines_text(original_lines, old_first, old_last);
    std::string now = lines_text(lines, first, last);
    bool black_formatted = format(was, indentation) == std::optional<std::string>(was);
    bool made_too_long = any_too_long(lines, first, last) && !any_too_long(original_lines, old_first, old_last);
    if (!black_formatted && !made_too_long) continue;
    std::optional<std::string> formatted = format(now, indentation);
    if (!formatted || *formatted == now) continue;
    reformats.push_back({first, last, formatted->substr(0, formatted->size() - 1)});
  }
  std::sort(reformats.begin(), reformats.end(), [](const Reformat& x, const Reformat& y) { return x.first > y.first; });
  for (const Reformat& reformat : reformats)
    lines[py::slice(reformat.first - 1, reformat.last, 1)] = py::str(reformat.text).attr("split")("\n");
  text = py::str("\n").attr("join")(lines);

  std::string fixed_text = text;
  try {
    // Parsing only: warnings about the project's own escapes are not ours.
    py::object warnings = py::module_::import("warnings");
    py::object guard = warnings.attr("catch_warnings")();
    guard.attr("__enter__")();
    warnings.attr("simplefilter")("ignore");
    try {
      py::module_::import("ast").attr("parse")(text);
    } catch (...) {
      guard.attr("__exit__")(py::none(), py::none(), py::none());
      throw;
    }
    guard.attr("__exit__")(py::none(), py::none(), py::none());
  } catch (py::error_already_set& err) {
    result.refused = "the fixed text does not parse: " + py::str(err.value()).cast<std::string>();
    keep_unfixed();
    return result;
  }
  // Linting the fixed text tells what the fixes fixed. Only the checkers
  // whose findings were fixed run: a fix edits what its own check
  // reported, and leaves the other checkers' findings as they were.
  std::set<std::string> counted;
  std::map<std::string, long> after =
      count_findings(fixed_text, relative_path, settings_modpath, &fixable_found, &counted);
  for (const auto& [id, count] : before) {
    if (ids && !ids->count(id)) continue;
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

namespace {

// The label of the app a module belongs to: the folder, from the module's
// own upward, that holds the app's models.py, models package or apps.py
// (so a src/ layout names the app, not "src"); else the first folder.
std::string app_label(const fs::path& project_root, const std::string& relative_path) {
  fs::path relative(relative_path);
  std::error_code ec;
  for (fs::path folder = relative.parent_path(); !folder.empty(); folder = folder.parent_path()) {
    fs::path here = project_root / folder;
    if (fs::is_regular_file(here / "models.py", ec) || fs::is_regular_file(here / "apps.py", ec) ||
        fs::is_regular_file(here / "models" / "__init__.py", ec))
      return folder.filename().string();
  }
  return relative.begin()->string();
}

// How a file spells what Python reads the same either way: the ending of
// each of its lines ("\n", "\r\n" or a lone "\r") and a leading
// byte-order mark (decoded as U+FEFF). The text is fixed with "\n" and no
// mark, and written back with the mark and, line by line, the endings the
// file had: a line a fix rewrote takes the ending of the line it replaces.
struct Spelling {
  bool bom = false;
  std::vector<std::string> endings;  // one per line; the last may be ""
};

constexpr std::string_view kBomText = "\xEF\xBB\xBF";  // U+FEFF in UTF-8

std::string to_plain(const std::string& text, Spelling& spelling) {
  spelling.bom = text.rfind(kBomText, 0) == 0;
  std::string_view body(text);
  if (spelling.bom) body.remove_prefix(kBomText.size());
  std::string out;
  out.reserve(body.size());
  spelling.endings.clear();
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r') {
      bool pair = i + 1 < body.size() && body[i + 1] == '\n';
      spelling.endings.push_back(pair ? "\r\n" : "\r");
      if (pair) ++i;
      out += '\n';
    } else {
      if (body[i] == '\n') spelling.endings.push_back("\n");
      out += body[i];
    }
  }
  return out;
}

std::string from_plain(const std::string& original_plain, const std::string& fixed, const Spelling& spelling) {
  std::string out = spelling.bom ? std::string(kBomText) : std::string();
  bool uniform = std::all_of(spelling.endings.begin(), spelling.endings.end(),
                             [](const std::string& e) { return e == "\n"; });
  if (uniform) return out + fixed;
  std::vector<std::string> before = split_at(original_plain), after = split_at(fixed);
  auto ending_of = [&](size_t line) {
    if (line < spelling.endings.size()) return spelling.endings[line];
    return spelling.endings.empty() ? std::string("\n") : spelling.endings.back();
  };
  // Lines the fixes kept keep their endings; a rewritten run of lines takes
  // the endings of the run it replaces, its last line's for any extra.
  py::list a = py::cast(before), b = py::cast(after);
  py::object matcher = py::module_::import("difflib").attr("SequenceMatcher")(py::none(), a, b, py::arg("autojunk") = false);
  std::vector<std::string> endings(after.size());
  for (py::handle opcode : matcher.attr("get_opcodes")()) {
    auto [tag, i1, i2, j1, j2] = opcode.cast<std::tuple<std::string, size_t, size_t, size_t, size_t>>();
    for (size_t j = j1; j < j2; ++j) {
      size_t source = i1 + (j - j1);
      if (source >= i2) source = i2 > i1 ? i2 - 1 : (i1 > 0 ? i1 - 1 : 0);
      endings[j] = ending_of(source);
    }
  }
  for (size_t j = 0; j < after.size(); ++j) {
    out += after[j];
    if (j + 1 < after.size()) out += endings[j] == "" ? "\n" : endings[j];
  }
  return out;
}

// What tells that a file changed: its modification time and size.
struct FileStamp {
  fs::file_time_type modified{};
  std::uintmax_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp stamp_of(const fs::path& path) {
  std::error_code ec;
  FileStamp stamp;
  stamp.modified = fs::last_write_time(path, ec);
  if (ec) return {};
  stamp.size = fs::file_size(path, ec);
  if (ec) return {};
  return stamp;
}

}  // namespace

// Why a fix may not be written to this file, or nullopt. A file whose
// mode grants no one write access is read-only to us too, whoever runs us.
static std::optional<std::string> unwritable(const fs::path& project_root, const std::string& path) {
  std::error_code ec;
  fs::path file = project_root / path;
  fs::path real = fs::canonical(file, ec);
  if (ec) return "it could not be resolved (" + ec.message() + ")";
  fs::path root = fs::canonical(project_root, ec);
  auto relative = real.lexically_relative(root);
  if (relative.empty() || *relative.begin() == "..") return "it is a link to " + real.string() + ", outside the project";
  constexpr auto anyone_writes = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::perms mode = fs::status(real, ec).permissions();
  if (!ec && (mode & anyone_writes) == fs::perms::none) return "the file is read-only";
  if (::access(real.c_str(), W_OK) != 0) return "tessary may not write the file";
  fs::path folder = real.parent_path();
  fs::perms folder_mode = fs::status(folder, ec).permissions();
  if ((!ec && (folder_mode & anyone_writes) == fs::perms::none) || ::access(folder.c_str(), W_OK) != 0)
    return "its folder is read-only (a fix is written to a new file beside it)";
  return std::nullopt;
}

namespace {

std::optional<std::set<long>> lines_for(const py::object& only_lines, const std::string& path) {
  if (only_lines.is_none()) return std::nullopt;
  py::dict wanted(only_lines);
  std::set<long> lines;
  if (wanted.contains(py::str(path)))
    for (py::handle line : wanted[py::str(path)]) lines.insert(line.cast<long>());
  return lines;
}

bool is_template(const std::string& path) {
  return path.size() >= 5 && path.compare(path.size() - 5, 5, ".html") == 0;
}

// Templates: static files written as site paths become the static tag.
void fix_templates(const fs::path& project_root, const std::vector<std::string>& paths, const py::object& only_lines,
                   py::list& files, py::dict& originals, py::dict& refused, std::map<std::string, long>& fixed,
                   std::map<std::string, long>& unfixed) {
  if (paths.empty()) return;
  std::optional<std::string> static_url = meta::get_static_url_setting(project_root);
  for (const std::string& path : paths) {
    py::list one;
    one.append(py::str((project_root / path).string()));
    checker::HtmlLinter linter;
    linter.check(one);
    std::set<long> finding_lines;
    long found = 0;
    for (py::handle record : linter.messages) {
      std::string id = py::str(record["message-id"]);
      if (id == "F0001") {
        refused[py::str(path)] = py::str("could not be read: ") + py::str(record["message"]["reason"]);
        found = -1;
        break;
      }
      if (id != "C7001") continue;
      ++found;
      finding_lines.insert(record["line"].cast<long>());
    }
    if (found <= 0) continue;
    std::optional<std::set<long>> wanted = lines_for(only_lines, path);
    SourceText source = read_source_text((project_root / path).string(), SourceKind::html);
    templates::StaticTagFix fix;
    if (source.text) fix = templates::fix_static_urls(*source.text, static_url.value_or(""), wanted ? &*wanted : nullptr);
    if (fix.rewritten > 0) {
      if (std::optional<std::string> why = unwritable(project_root, path)) {
        refused[py::str(path)] = *why;
        unfixed["C7001"] += found;
        continue;
      }
      std::string original = source.text->cast<std::string>();
      // A byte-order mark the decoder took off goes back on.
      std::string head(kBomText.size(), '\0');
      std::ifstream((project_root / path).string(), std::ios::binary).read(head.data(), static_cast<long>(head.size()));
      std::string mark = head == kBomText ? std::string(kBomText) : std::string();
      files.append(py::make_tuple(mark + fix.text, path));
      originals[py::str(path)] = mark + original;
      fixed["C7001"] += fix.rewritten;
    }
    if (found > fix.rewritten) unfixed["C7001"] += found - fix.rewritten;
  }
}

}  // namespace

py::dict fix_project(const fs::path& project_root, const py::object& whitelist, const std::string& settings_modpath,
                     const py::dict& code_style, const py::object& search_paths, bool unsafe_fixes,
                     const py::object& only_lines, const std::string& django_version) {
  checker::SearchPathScope environment(search_paths);
  django_release() = django_version;
  AnalysedProject project(project_root.string());
  std::vector<std::pair<std::string, std::optional<std::set<std::string>>>> targets;
  std::vector<std::string> template_targets;
  if (whitelist.is_none()) {
    // The files `tessary check` lints, found the same way.
    for (const std::string& path : meta::project_files(project_root).files) {
      if (is_template(path)) template_targets.push_back(path);
      else targets.emplace_back(path, std::nullopt);
    }
  } else {
    for (auto item : py::dict(whitelist)) {
      std::string path = py::str(item.first);
      if (is_template(path)) {
        bool wanted = item.second.is_none();
        if (!wanted)
          for (py::handle id : item.second) wanted = wanted || py::str(id).cast<std::string>() == "C7001";
        if (wanted) template_targets.push_back(path);
        continue;
      }
      if (path.size() < 3 || path.compare(path.size() - 3, 3, ".py") != 0) continue;
      std::optional<std::set<std::string>> ids;
      if (!item.second.is_none()) {
        ids.emplace();
        for (py::handle id : item.second) ids->insert(py::str(id));
      }
      targets.emplace_back(path, ids);
    }
  }

  // A file reached by several paths (a symlink to a module of the project)
  // is fixed once, under its own path when that is among them.
  {
    std::map<fs::path, size_t> chosen;
    std::vector<bool> keep(targets.size(), true);
    for (size_t i = 0; i < targets.size(); ++i) {
      std::error_code ec;
      fs::path real = fs::canonical(project_root / targets[i].first, ec);
      if (ec) continue;
      auto [it, inserted] = chosen.try_emplace(real, i);
      if (inserted) continue;
      bool link = fs::is_symlink(project_root / targets[i].first, ec);
      if (!link && fs::is_symlink(project_root / targets[it->second].first, ec)) {
        keep[it->second] = false;
        it->second = i;
      } else {
        keep[i] = false;
      }
    }
    decltype(targets) unique;
    for (size_t i = 0; i < targets.size(); ++i)
      if (keep[i]) unique.push_back(targets[i]);
    targets.swap(unique);
  }

  // Modules built here from text are cached by astroid under their dotted
  // names; they must not stand in for same-named modules of another
  // project later in this process.
  struct Forget {
    const fs::path& root;
    const decltype(targets)& paths;
    ~Forget() {
      try {
        forget();
      } catch (...) {
        // Never throw from here; a stale cache entry only costs a re-read.
      }
    }
    void forget() const {
      py::dict cache = py::module_::import("astroid").attr("MANAGER").attr("astroid_cache");
      py::object abspath = py::module_::import("os.path").attr("abspath");
      for (const auto& entry : paths) {
        py::str key(module_name(entry.first));
        if (!cache.contains(key)) continue;
        // Texts are built under their relative path, which astroid may
        // have made absolute against the working folder.
        py::object file = py::getattr(cache[key], "file", py::none());
        if (file.is_none()) continue;
        if (py::str(file).cast<std::string>() == entry.first || abspath(file).equal(abspath(py::str(entry.first))))
          cache.attr("pop")(key);
      }
      checker::forget_modules_under(py::str(root.string()));
    }
  } forget{project_root, targets};
  // What astroid cached of these files earlier in this process may be out
  // of date; the lint below reads them afresh, and the fixer edits the
  // trees it builds.
  forget.forget();
  checker::forget_other_modules_named_like(py::str(project_root.string()));

  py::list files;
  std::map<std::string, long> fixed, unfixed;
  py::dict refused, changed_models, originals;
  // One lint of all the files tells which of them have something to fix;
  // only those are fixed (and counted again, before and after, alike).
  py::dict found_per_file;
  // The linter's trees, by real path, with what each file looked like
  // before it was linted: a tree is reused for a file unchanged since.
  py::dict trees;
  std::map<std::string, FileStamp> stamps;
  for (const auto& entry : targets) stamps[entry.first] = stamp_of(project_root / entry.first);
  {
    py::list absolute;
    for (const auto& entry : targets) absolute.append(py::str((project_root / entry.first).string()));
    py::object linter = checker::create_linter(checker::driver().Linter);
    linter.attr("set_option")("settings-files", py::list(py::make_tuple(settings_modpath)));
    if (!django_version.empty()) linter.attr("set_option")("django-version", django_version);
    linter.attr("check")(absolute);
    py::object realpath = py::module_::import("os.path").attr("realpath");
    // Only tessary's own findings count: pylint's remarks on the project's
    // pylint pragmas are not ours. A module that could not be analysed is
    // left as it is, with the reason.
    py::set codes(checker::get_all_message_codes());
    for (py::handle record : linter.attr("reporter").attr("messages")) {
      if (!codes.contains(record["message-id"])) continue;
      if (py::str(record["type"]).cast<std::string>() == "fatal") {
        py::dict arguments = py::dict(record["message"]);
        fs::path where = fs::path(py::str(record["abspath"]).cast<std::string>());
        std::error_code ec;
        fs::path relative = fs::relative(where, project_root, ec);
        refused[py::str(ec ? where.string() : relative.generic_string())] =
            py::str("could not be analysed: ") + py::str(arguments.attr("get")("reason", ""));
        continue;
      }
      py::object key = realpath(record["abspath"]);
      if (!found_per_file.contains(key)) found_per_file[key] = py::list();
      found_per_file[key].attr("append")(record["message-id"]);
    }
    for (py::handle module : py::dict(ast().manager.attr("astroid_cache")).attr("values")()) {
      py::object file = py::getattr(module, ast().file, py::none());
      if (file.is_none()) continue;
      py::object key = realpath(file);
      if (found_per_file.contains(key)) trees[key] = module;
    }
  }
  std::set<std::string> fixable_ids, unsafe_ids;
  for (const Rule& entry : kRegistry) {
    if (entry.fix.empty() || entry.module == "templates") continue;  // templates are fixed below
    fixable_ids.insert(std::string(entry.id));
    if (!entry.unsafe_because.empty()) unsafe_ids.insert(std::string(entry.id));
  }
  py::object realpath = py::module_::import("os.path").attr("realpath");
  std::map<std::string, long> held_back;

  for (auto [path, ids] : targets) {
    py::object key = realpath(py::str((project_root / path).string()));
    // Unsafe fixes wait until they are asked for: their findings are
    // counted as held back, and the fixer never sees their ids.
    if (!unsafe_fixes && found_per_file.contains(key)) {
      for (py::handle id : found_per_file[key]) {
        std::string text_id = py::str(id);
        if (unsafe_ids.count(text_id) && (!ids || ids->count(text_id))) ++held_back[text_id];
      }
      if (!ids) {
        // Every id found stays wanted (those without a fix are counted as such).
        ids = fixable_ids;
        for (py::handle id : found_per_file[key]) ids->insert(py::str(id));
      }
      for (const std::string& id : unsafe_ids) ids->erase(id);
    }
    bool needs_fixer = false;
    if (found_per_file.contains(key)) {
      for (py::handle id : found_per_file[key]) {
        std::string text_id = py::str(id);
        if (fixable_ids.count(text_id) && (!ids || ids->count(text_id))) needs_fixer = true;
      }
    }
    if (!needs_fixer) {
      if (found_per_file.contains(key)) {
        for (py::handle id : found_per_file[key]) {
          std::string text_id = py::str(id);
          if (!ids || ids->count(text_id)) ++unfixed[text_id];
        }
      }
      continue;
    }
    SourceText source = read_source_text((project_root / path).string(), SourceKind::python);
    if (!source.text) {
      refused[py::str(path)] = source.problem;
      continue;
    }
    if (std::optional<std::string> why = unwritable(project_root, path)) {
      refused[py::str(path)] = *why;
      continue;
    }
    Spelling spelling;
    std::string text = to_plain(source.text->cast<std::string>(), spelling);
    spelling.bom = spelling.bom || source.encoding == "utf-8-sig";  // the decoder took the mark off
    LintedText linted;
    for (py::handle id : found_per_file[key]) ++linted.findings[py::str(id)];
    // The linter read the file with universal newlines and without its
    // byte-order mark: its tree is of this very text unless the file
    // changed since, or holds a lone carriage return.
    bool same_text =
        stamp_of(project_root / path) == stamps[path] && text.find('\r') == std::string::npos;
    if (same_text && trees.contains(key)) linted.tree = trees[key];
    FileFix fix;
    try {
      fix = fix_text(text, path, settings_modpath, code_style, ids, linted, lines_for(only_lines, path));
    } catch (py::error_already_set& err) {
      if (!err.matches(py::module_::import("astroid").attr("AstroidSyntaxError"))) throw;
      refused[py::str(path)] = "does not parse";
      continue;
    }
    if (!fix.refused.empty()) refused[py::str(path)] = fix.refused;
    for (const auto& [id, n] : fix.fixed) fixed[id] += n;
    for (const auto& [id, n] : fix.unfixed) unfixed[id] += n;
    if (!fix.changed_models.empty()) {
      std::string app = app_label(project_root, path);
      py::list models = changed_models.attr("setdefault")(app, py::list());
      for (const std::string& model : fix.changed_models) models.append(model);
    }
    if (fix.text != text) {
      files.append(py::make_tuple(from_plain(text, fix.text, spelling), path));
      originals[py::str(path)] = *source.text;
    }
  }
  fix_templates(project_root, template_targets, only_lines, files, originals, refused, fixed, unfixed);
  py::dict out;
  out["files"] = files;
  out["fixed"] = fixed;
  out["unfixed"] = unfixed;
  out["refused"] = refused;
  out["changed_models"] = changed_models;
  out["originals"] = originals;
  out["held_back"] = held_back;
  return out;
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
  m.def("fix_project", &fix_project, py::arg("project_root"), py::arg("whitelist"), py::arg("settings_modpath"),
        py::arg("code_style"), py::arg("search_paths") = py::none(), py::arg("unsafe_fixes") = true,
        py::arg("only_lines") = py::none(), py::arg("django_version") = "");
}

}  // namespace tessary::transformer

// Review comments: the comments of one file line merged into one, with the
// fix for their findings attached in suggestion markup.
#include <pybind11/stl.h>
#include "staticanalysis/helpers/pathtext.hpp"
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "constants/constants.hpp"
#include "meta/meta.hpp"
#include "staticanalysis/checkers/fieldrules/fieldrules.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/formatting.hpp"
#include "staticanalysis/suggest/suggest.hpp"

namespace tessary::suggest {

namespace fs = std::filesystem;

namespace {

bool ends_with(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A comment's path as the review shows it: the project root taken off
// its front (a path that does not start with the root stays as given).
std::string shown_path(const std::string& path, const std::string& project_root) {
  if (project_root.empty() || path.compare(0, project_root.size(), project_root) != 0) return path;
  return path.substr(project_root.size());
}

struct Group {
  std::string path;
  long line = 0;
  py::list comments;
};

// Comment groups by (path, line), in order of first appearance.
std::vector<Group> groups_of(const py::list& comments) {
  std::vector<Group> groups;
  std::map<std::pair<std::string, long>, size_t> index;
  for (py::handle comment : comments) {
    std::string path = path_bytes(comment["path"]);
    long line = py::int_(comment["line"]).cast<long>();
    auto [at, added] = index.emplace(std::make_pair(path, line), groups.size());
    if (added) groups.push_back({path, line, py::list()});
    groups[at->second].comments.append(py::dict(py::reinterpret_borrow<py::dict>(comment)));
  }
  return groups;
}

// The file a comment names, refused when it lies outside the project: a
// comment is data from elsewhere, and naming ../../etc/passwd must not
// make us read it.
fs::path file_in_project(const std::string& path, const fs::path& project_root) {
  // A relative path names a file of the project, never one of the
  // working directory.
  fs::path given(path);
  if (given.is_relative()) given = project_root / given;
  std::error_code ec;
  fs::path real = fs::weakly_canonical(fs::absolute(given), ec);
  fs::path root = fs::weakly_canonical(fs::absolute(project_root), ec);
  fs::path relative = real.lexically_relative(root);
  if (ec || relative.empty() || *relative.begin() == "..") {
    PyErr_SetObject(PyExc_ValueError, path_str(path + ": outside the project at " + project_root.string()).ptr());
    throw py::error_already_set();
  }
  return real;
}

// The lines of a text; a last line end starts no line of its own.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines = split_at(text);
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

std::string joined(const std::vector<std::string>& lines, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to; ++i) out += (i > from ? "\n" : "") + lines[i];
  return out;
}

}  // namespace

py::dict build_comment(const std::string& path, long start_line, long end_line, const std::string& body) {
  py::dict comment;
  comment["body"] = body;
  comment["path"] = path_str(path);
  comment["side"] = "RIGHT";
  if (start_line != end_line) {
    comment["start_line"] = start_line;
    comment["line"] = end_line;
  } else {
    comment["line"] = start_line;
  }
  return comment;
}

std::string markup_suggestion(const std::string& code) {
  // The fence is longer than any run of backquotes in the code, so that a
  // docstring with Markdown in it cannot close it early.
  size_t longest = 0, run = 0;
  for (char c : code) {
    run = c == '`' ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  std::string fence(std::max<size_t>(3, longest + 1), '`');
  return fence + "suggestion\n" + code + "\n" + fence;
}

py::list merge_review_comments(const py::list& comments, const std::string& project_root,
                               const SuggestionSource& source, const std::set<std::string>& fixable,
                               bool attach_inside) {
  py::list out;
  std::set<std::string> seen;
  for (const Group& group : groups_of(comments)) {
    long start_line = group.line, end_line = group.line;
    std::vector<std::string> bodies;
    std::set<std::string> ids;
    std::set<std::string> all_ids;
    for (py::handle comment : group.comments) {
      std::string id = py::str(comment["message-id"]);
      all_ids.insert(id);
      if (fixable.count(id)) ids.insert(id);
      bodies.push_back(py::str(comment["body"]));
    }
    // A request to silence the line: its suggestion disables every finding
    // of the line, fixable or not.
    if (all_ids.count(std::string(constants::kSkipLineId))) ids = all_ids;
    std::string relative = shown_path(group.path, project_root);
    if (!ids.empty()) {
      for (const Suggestion& s : source(group.path, group.line, ids)) {
        bool here = start_line == s.start || start_line == s.end ||
                    (attach_inside && s.start <= start_line && start_line <= s.end);
        if (here) {
          bodies.insert(bodies.begin(), markup_suggestion(s.code));
          end_line = s.end;
          start_line = s.start;
          continue;
        }
        std::string key = group.path + ":" + std::to_string(s.start) + ":" + s.code;
        if (!seen.insert(key).second) continue;
        out.append(build_comment(relative, s.start, s.end, markup_suggestion(s.code)));
      }
    }
    std::string body;
    for (size_t i = 0; i < bodies.size(); ++i) body += (i ? "\n\n" : "") + bodies[i];
    out.append(build_comment(relative, start_line, end_line, body));
  }
  return out;
}

py::list suggest_fixes(const py::list& comments, const std::string& project_root) {
  py::dict code_style = meta::get_code_style(project_root);
  py::dict settings;
  std::optional<std::string> static_url = meta::get_static_url_setting(project_root);
  settings["STATIC_URL"] = static_url ? py::object(py::str(*static_url)) : py::object(py::none());
  std::string settings_modpath = meta::get_settings_modpath(project_root);
  py::dict options = meta::get_toml_config(project_root);
  std::map<std::string, py::object> cache;  // path: token map or template lines
  fs::path root(project_root);
  // Every path is checked before anything is read: a comment naming a
  // file outside the project is refused, whatever its finding.
  for (py::handle comment : comments) file_in_project(path_bytes(comment["path"]), root);
  SuggestionSource source = [&](const std::string& path, long line, const std::set<std::string>& ids) {
    std::vector<Suggestion> none;
    bool html = ends_with(path, ".html"), python = ends_with(path, ".py");
    if (!html && !python) return none;
    auto cached = cache.find(path);
    if (cached == cache.end()) {
      fs::path file = file_in_project(path, root);
      py::list lines = read_code_from_file(file.string());
      py::object parsed = lines;
      if (python) {
        // The module is named from its place in the project: the project
        // need not be importable from here.
        std::string relative = file.lexically_relative(fs::weakly_canonical(fs::absolute(root))).generic_string();
        parsed = build_atok(py::str("").attr("join")(lines).cast<std::string>(), module_name(relative), path_str(file.string()));
        // The fixes judge by the project's options, as its check did.
        fieldrules::use_options(Node(parsed.attr("tree")), options);
      }
      cached = cache.emplace(path, parsed).first;
    }
    if (html) return get_suggestions_for_html(py::list(cached->second), line, ids, settings);
    return get_suggestions_for_python(cached->second, line, ids, code_style, settings_modpath);
  };
  return merge_review_comments(comments, project_root, source, constants::transformable_rules(), false);
}

std::vector<Suggestion> line_changes(const std::string& before, const std::string& after) {
  std::vector<std::string> a = split_lines(before), b = split_lines(after);
  py::object matcher = py::module_::import("difflib").attr("SequenceMatcher")(
      py::none(), py::cast(a), py::cast(b), py::arg("autojunk") = false);
  // Each change as [i1, i2) of `before` replaced by [j1, j2) of `after`,
  // widened to at least one line of `before`; touching changes merge.
  struct Range {
    size_t i1, i2, j1, j2;
  };
  std::vector<Range> ranges;
  for (py::handle opcode : matcher.attr("get_opcodes")()) {
    auto [tag, i1, i2, j1, j2] = opcode.cast<std::tuple<std::string, size_t, size_t, size_t, size_t>>();
    if (tag == "equal") continue;
    if (i2 - i1 == j2 - j1) {
      // Line for line: each changed line is a change of its own, so that
      // each finding's comment carries just its own fix.
      for (size_t k = 0; k < i2 - i1; ++k)
        if (a[i1 + k] != b[j1 + k]) ranges.push_back({i1 + k, i1 + k + 1, j1 + k, j1 + k + 1});
      continue;
    }
    if (i1 == i2) {
      if (i1 > 0) --i1, --j1;
      else if (i2 < a.size()) ++i2, ++j2;
    }
    if (!ranges.empty() && i1 <= ranges.back().i2) {
      ranges.back().i2 = std::max(ranges.back().i2, i2);
      ranges.back().j2 = std::max(ranges.back().j2, j2);
      continue;
    }
    ranges.push_back({i1, i2, j1, j2});
  }
  std::vector<Suggestion> changes;
  for (const Range& r : ranges) {
    if (r.i1 == r.i2) continue;  // lines added to an empty file: nothing to comment on
    changes.push_back({static_cast<long>(r.i1) + 1, static_cast<long>(r.i2), joined(b, r.j1, r.j2)});
  }
  return changes;
}

py::list review_from_fixed_texts(const py::list& comments, const std::string& project_root, const py::dict& fixed) {
  // Which group each change goes to: the first group of its file whose
  // line it spans; a change that spans none goes to the file's first
  // group, which posts it as a comment of its own.
  std::map<std::pair<std::string, long>, std::vector<Suggestion>> assigned;
  std::map<std::string, long> first_group;
  std::vector<Group> groups = groups_of(comments);
  for (const Group& group : groups) first_group.emplace(group.path, group.line);
  for (auto item : fixed) {
    std::string path = path_bytes(item.first);
    if (!first_group.count(path)) continue;
    auto texts = item.second.cast<std::pair<std::string, std::string>>();
    for (const Suggestion& change : line_changes(texts.first, texts.second)) {
      long owner = first_group[path];
      for (const Group& group : groups) {
        if (group.path == path && change.start <= group.line && group.line <= change.end) {
          owner = group.line;
          break;
        }
      }
      assigned[{path, owner}].push_back(change);
    }
  }
  std::set<std::string> fixable;
  for (py::handle comment : comments) fixable.insert(py::str(comment["message-id"]));
  SuggestionSource source = [&](const std::string& path, long line, const std::set<std::string>&) {
    auto found = assigned.find({path, line});
    return found == assigned.end() ? std::vector<Suggestion>() : found->second;
  };
  return merge_review_comments(comments, project_root, source, fixable, true);
}

namespace {

py::list as_records(const std::vector<Suggestion>& suggestions) {
  py::list records;
  for (const Suggestion& s : suggestions) records.append(py::cast(std::vector<py::object>{py::int_(s.start), py::int_(s.end), py::str(s.code)}));
  return records;
}

std::set<std::string> id_set(const py::iterable& ids) {
  std::set<std::string> out;
  for (py::handle id : ids) out.insert(py::str(id));
  return out;
}

}  // namespace

void bind_suggestions(py::module_& m) {
  m.def(
      "get_suggestion_for_python",
      [](py::object atok, py::object node, py::iterable message_ids, const std::string& settings_modpath) {
        std::optional<Suggestion> s = get_suggestion_for_python(atok, node, id_set(message_ids), settings_modpath);
        if (!s) return py::tuple(py::make_tuple(py::none(), py::none(), py::none()));
        return py::tuple(py::make_tuple(s->start, s->end, s->code));
      },
      py::arg("atok"), py::arg("node"), py::arg("message_ids"), py::arg("settings_modpath"));
  m.def(
      "get_suggestions_for_python",
      [](py::object atok, long line, py::iterable message_ids, py::dict code_style,
         const std::string& settings_modpath, py::object indent) {
        // Only the boolean false switches indentation off.
        bool indented = !(py::isinstance<py::bool_>(indent) && !indent.cast<bool>());
        return as_records(
            get_suggestions_for_python(atok, line, id_set(message_ids), code_style, settings_modpath, indented));
      },
      py::arg("atok"), py::arg("line"), py::arg("message_ids"), py::arg("code_style"), py::arg("settings_modpath"),
      py::arg("indent") = true);
  m.def(
      "get_suggestion_for_html",
      [](const std::string& code, py::iterable message_ids, py::dict settings) {
        return get_suggestion_for_html(code, id_set(message_ids), settings);
      },
      py::arg("code"), py::arg("message_ids"), py::arg("settings"));
  m.def(
      "get_suggestions_for_html",
      [](py::list code_lines, long line, py::iterable message_ids, py::dict settings) {
        std::vector<py::object> records;
        for (const Suggestion& s : get_suggestions_for_html(code_lines, line, id_set(message_ids), settings))
          records.push_back(py::make_tuple(s.start, s.end, s.code));
        return records;
      },
      py::arg("code_lines"), py::arg("line"), py::arg("message_ids"), py::arg("settings"));
  m.def("normalize_django_template", &normalize_django_template, py::arg("template_content"));
  m.def("get_staticfile_template_tag_insertion_point", &get_staticfile_template_tag_insertion_point,
        py::arg("content"));
  m.def(
      "get_staticfile_template_tag_insertion_point_and_current",
      [](py::list code_lines) {
        auto [point, current] = get_staticfile_template_tag_insertion_point_and_current(code_lines);
        return py::make_tuple(point ? py::object(py::int_(*point)) : py::object(py::none()),
                              current ? py::object(py::str(*current)) : py::object(py::none()));
      },
      py::arg("code_lines"));
  m.def("build_comment", &build_comment, py::arg("path"), py::arg("start_line"), py::arg("end_line"),
        py::arg("body"));
  m.def("markup_suggestion", &markup_suggestion, py::arg("suggestion"));
  m.def(
      "group_comments_by_line",
      [](py::list comments) {
        py::dict grouped;
        for (const Group& group : groups_of(comments)) grouped[py::make_tuple(path_str(group.path), group.line)] = group.comments;
        return grouped;
      },
      py::arg("comments"));
  m.def(
      "suggest_fixes",
      [](py::list comments, py::object project_root) {
        return suggest_fixes(comments, path_bytes(project_root));
      },
      py::arg("comments"), py::arg("project_root"));
  m.def("line_changes", [](const std::string& before, const std::string& after) { return as_records(line_changes(before, after)); },
        py::arg("before"), py::arg("after"));
  m.def(
      "review_from_fixed_texts",
      [](py::list comments, py::object project_root, py::dict fixed) {
        return review_from_fixed_texts(comments, path_bytes(project_root), fixed);
      },
      py::arg("comments"), py::arg("project_root"), py::arg("fixed"));
}

}  // namespace tessary::suggest

// The review of a change: findings grouped by line, each group's fix from
// the project fixer, posted as a suggestion only where it stays within the
// lines its findings cover and within the diff GitHub can comment on.
#include "staticanalysis/suggest/review.hpp"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <map>
#include <set>

#include "meta/meta.hpp"
#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/registry.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/suggest/suggest.hpp"
#include "staticanalysis/transformer/fixer.hpp"

namespace tessary::suggest {

namespace {

const Rule* registered(const std::string& id) {
  for (const Rule& entry : kRegistry)
    if (entry.id == id) return &entry;
  return nullptr;
}

// "safe", "unsafe", or "" when the finding has no automatic fix.
std::string fix_grade(const std::string& id) {
  const Rule* entry = registered(id);
  if (!entry || entry->fix.empty()) return "";
  return entry->unsafe_because.empty() ? "safe" : "unsafe";
}

std::string lines_text(long first, long last) {
  if (first == last) return "line " + std::to_string(first);
  return "lines " + std::to_string(first) + "-" + std::to_string(last);
}

std::string lines_list(const std::vector<std::pair<long, long>>& ranges) {
  std::string out;
  for (size_t i = 0; i < ranges.size(); ++i) {
    if (i) out += i + 1 == ranges.size() ? " and " : ", ";
    out += ranges[i].first == ranges[i].second
               ? std::to_string(ranges[i].first)
               : std::to_string(ranges[i].first) + "-" + std::to_string(ranges[i].second);
  }
  return (ranges.size() == 1 && ranges[0].first == ranges[0].second ? "line " : "lines ") + out;
}

// A fence for `text` in Markdown: longer than any run of backquotes in it.
std::string fence_for(const std::string& text) {
  size_t longest = 0, run = 0;
  for (char c : text) {
    run = c == '`' ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return std::string(std::max<size_t>(3, longest + 1), '`');
}

// The lines of a text as a list; a last line end starts no line of its own.
std::vector<std::string> text_lines(const std::string& text) {
  std::vector<std::string> lines = split_at(text);
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  return lines;
}

std::string unified_patch(const std::string& path, const std::string& before, const std::string& after) {
  auto keep = [](const std::string& text) { return py::str(text).attr("splitlines")(py::arg("keepends") = true); };
  std::string out;
  for (py::handle line : py::module_::import("difflib").attr("unified_diff")(
           keep(before), keep(after), path_str("a/" + path), path_str("b/" + path))) {
    std::string text = path_bytes(line);
    if (text.empty() || (text.back() != '\n' && text.back() != '\r')) text += "\n\\ No newline at end of file\n";
    out += text;
  }
  return out;
}

// One comment group: the findings of one line of one file.
struct Group {
  std::string path;
  long line = 0;
  long first = 0, last = 0;  // the lines the group's findings cover
  std::vector<const ReviewFinding*> findings;
  std::set<std::string> fix_ids;  // the ids whose fix is attempted
  // What the fix gives: one replaced range, or a patch for the summary.
  std::optional<Suggestion> suggestion;
  std::string deletion;  // "delete line N" when the fix only removes lines
  bool needs_patch = false;  // the fix goes to the summary as a patch
  std::vector<std::pair<long, long>> elsewhere;  // lines the fix changes outside the group's
};

struct FixedFile {
  std::string before, after;
};

using FixRequest = std::map<std::string, std::set<std::string>>;
using LineRequest = std::map<std::string, std::set<long>>;

std::map<std::string, FixedFile> run_fixer(const fs::path& root, const FixRequest& ids, const LineRequest& lines,
                                           const ReviewOptions& options, const std::string& settings_modpath,
                                           const py::dict& code_style) {
  py::dict whitelist, only_lines;
  for (const auto& [path, wanted] : ids) whitelist[path_str(path)] = py::cast(std::vector<std::string>(wanted.begin(), wanted.end()));
  for (const auto& [path, wanted] : lines) only_lines[path_str(path)] = py::cast(wanted);
  py::dict result = transformer::fix_project(root, whitelist, settings_modpath, code_style, options.search_paths,
                                             options.unsafe, only_lines, options.django_version);
  std::map<std::string, FixedFile> out;
  py::dict originals = result["originals"];
  for (py::handle item : result["files"]) {
    py::object path = item[py::int_(1)];
    out[path_bytes(path)] = {originals[path].cast<std::string>(), item[py::int_(0)].cast<std::string>()};
  }
  return out;
}

bool within(const Suggestion& change, const Group& group) {
  return group.first <= change.start && change.end <= group.last;
}

// The changes of one group as one replaced range of the text before: the
// lines from the first change to the last, each change's lines written in.
Suggestion merged(const std::vector<Suggestion>& changes, const std::vector<std::string>& before) {
  Suggestion out{changes.front().start, changes.back().end, ""};
  std::vector<std::string> lines;
  long at = out.start;
  for (const Suggestion& change : changes) {
    for (; at < change.start; ++at) lines.push_back(before[static_cast<size_t>(at - 1)]);
    if (!change.code.empty())
      for (const std::string& line : split_at(change.code)) lines.push_back(line);
    at = change.end + 1;
  }
  for (size_t i = 0; i < lines.size(); ++i) out.code += (i ? "\n" : "") + lines[i];
  return out;
}

// Gives the group its fix from these changes (all within its lines): a
// suggestion, or, when the fix only removes lines that no kept line of
// the group can stand for, the removal in words.
void take_changes(Group& group, std::vector<Suggestion> changes, const std::vector<std::string>& before) {
  if (changes.empty()) return;
  std::sort(changes.begin(), changes.end(), [](const Suggestion& a, const Suggestion& b) { return a.start < b.start; });
  Suggestion whole = merged(changes, before);
  if (whole.code.empty()) {
    // Only lines removed: the suggestion keeps a line of the group next to
    // them, as an empty suggestion reads as no suggestion at all.
    if (whole.start - 1 >= group.first && whole.start >= 2) {
      whole.code = before[static_cast<size_t>(whole.start - 2)];
      --whole.start;
    } else if (whole.end + 1 <= group.last && static_cast<size_t>(whole.end) < before.size()) {
      whole.code = before[static_cast<size_t>(whole.end)];
      ++whole.end;
    } else {
      group.deletion = "The fix deletes " + lines_text(whole.start, whole.end) + ".";
      return;
    }
  }
  group.suggestion = whole;
}

bool inside_hunks(const std::optional<py::dict>& hunks, const std::string& path, long first, long last) {
  if (!hunks) return true;
  py::str key = path_str(path);
  if (!hunks->contains(key)) return false;
  py::object spans = (*hunks)[key];
  if (spans.is_none()) return true;  // a new file: every line is in the diff
  for (py::handle span : spans) {
    auto [start, end] = span.cast<std::pair<long, long>>();
    if (start <= first && last <= end) return true;
  }
  return false;
}

}  // namespace

std::string comment_text(const ReviewFinding& finding, bool fix_suggested) {
  const Rule* entry = registered(finding.id);
  std::string advice = finding.advice.empty() && entry ? std::string(entry->description) : finding.advice;
  std::string body = "**" + finding.id + "** `" + finding.symbol + "`: " + advice;
  std::string grade = fix_grade(finding.id);
  if (grade == "unsafe" && fix_suggested)
    body += "\n\nThis fix is unsafe: " + std::string(entry->unsafe_because) + ". Check it before you commit it.";
  else if (grade == "unsafe")
    body += "\n\n`tessary fix --unsafe-fixes` can fix this; it is not suggested because " +
            std::string(entry->unsafe_because) + ".";
  if (!grade.empty() && (fix_suggested || grade == "safe") && entry->changes_schema)
    body += "\n\nRun `python manage.py makemigrations` after this fix.";
  return body;
}

py::dict build_review(const fs::path& root, const std::vector<ReviewFinding>& findings, const ReviewOptions& options) {
  // Groups by (path, line), in the findings' order.
  std::vector<Group> groups;
  std::map<std::pair<std::string, long>, size_t> index;
  std::vector<const ReviewFinding*> lineless;
  for (const ReviewFinding& finding : findings) {
    if (finding.line <= 0) {
      lineless.push_back(&finding);
      continue;
    }
    auto [at, added] = index.emplace(std::make_pair(finding.path, finding.line), groups.size());
    if (added) groups.push_back({finding.path, finding.line, finding.line, finding.line, {}, {}, {}, "", false, {}});
    Group& group = groups[at->second];
    group.findings.push_back(&finding);
    group.last = std::max(group.last, std::max(finding.line, finding.end_line));
    std::string grade = fix_grade(finding.id);
    if (grade == "safe" || (grade == "unsafe" && options.unsafe)) group.fix_ids.insert(finding.id);
  }

  FixRequest ids;
  LineRequest lines;
  for (const Group& group : groups) {
    if (group.fix_ids.empty()) continue;
    ids[group.path].insert(group.fix_ids.begin(), group.fix_ids.end());
    lines[group.path].insert(group.line);
  }
  std::string settings_modpath;
  py::dict code_style;
  if (!ids.empty()) {
    settings_modpath = meta::get_settings_modpath(root);
    code_style = meta::get_code_style(root);
  }
  std::map<std::string, FixedFile> fixed =
      ids.empty() ? std::map<std::string, FixedFile>() : run_fixer(root, ids, lines, options, settings_modpath, code_style);

  // Each file's changes go to the group whose lines hold them. A file with
  // a change that no group's lines hold (an import the fix adds, the load
  // of a tag library) is fixed again group by group, so that each group's
  // fix is known on its own: a fix that reaches beyond its finding's lines
  // is not a one-click suggestion.
  for (const auto& [path, texts] : fixed) {
    std::vector<std::string> before = text_lines(texts.before);
    std::vector<Suggestion> changes = line_changes(texts.before, texts.after);
    std::vector<Group*> mine;
    for (Group& group : groups)
      if (group.path == path && !group.fix_ids.empty()) mine.push_back(&group);
    std::map<Group*, std::vector<Suggestion>> owned;
    bool all_owned = true;
    for (const Suggestion& change : changes) {
      Group* owner = nullptr;
      for (Group* group : mine)
        if (within(change, *group)) {
          owner = group;
          break;
        }
      if (!owner) all_owned = false;
      else owned[owner].push_back(change);
    }
    if (all_owned) {
      for (auto& [group, its] : owned) take_changes(*group, its, before);
      continue;
    }
    for (Group* group : mine) {
      std::map<std::string, FixedFile> alone =
          run_fixer(root, {{path, group->fix_ids}}, {{path, {group->line}}}, options, settings_modpath, code_style);
      auto found = alone.find(path);
      if (found == alone.end()) continue;
      std::vector<Suggestion> its = line_changes(found->second.before, found->second.after);
      bool inside = std::all_of(its.begin(), its.end(), [&](const Suggestion& c) { return within(c, *group); });
      if (inside) {
        take_changes(*group, its, text_lines(found->second.before));
        continue;
      }
      group->needs_patch = true;
      for (const Suggestion& change : its)
        if (!within(change, *group)) group->elsewhere.push_back({change.start, change.end});
    }
  }

  // A suggestion on lines GitHub cannot comment on goes to the summary too.
  for (Group& group : groups) {
    if (!group.suggestion || inside_hunks(options.hunks, group.path, group.suggestion->start, group.suggestion->end))
      continue;
    group.elsewhere = {{group.suggestion->start, group.suggestion->end}};
    group.needs_patch = true;
    group.suggestion.reset();
  }
  // One patch per file for the fixes the summary carries, made together so
  // that they apply together.
  std::vector<std::string> patches;
  std::map<std::string, std::vector<Group*>> patched;
  for (Group& group : groups)
    if (group.needs_patch) patched[group.path].push_back(&group);
  for (const auto& [path, its] : patched) {
    FixRequest wanted;
    LineRequest on;
    std::string which;
    for (const Group* group : its) {
      wanted[path].insert(group->fix_ids.begin(), group->fix_ids.end());
      on[path].insert(group->line);
      which += (which.empty() ? "" : ", ") + std::to_string(group->line);
    }
    std::map<std::string, FixedFile> together = run_fixer(root, wanted, on, options, settings_modpath, code_style);
    auto found = together.find(path);
    if (found == together.end()) continue;
    std::string patch = unified_patch(options.path_prefix + path, found->second.before, found->second.after);
    patches.push_back("`" + options.path_prefix + path + "`, the fix for line" + (its.size() > 1 ? "s " : " ") +
                      which + ":\n\n" + fence_for(patch) + "diff\n" + patch + fence_for(patch));
  }

  // The comments, and what goes to the summary instead.
  py::list comments;
  std::vector<std::string> outside_items;
  long with_suggestion = 0;
  auto list_item = [](const std::string& where, const std::string& text) {
    std::string item = "- `" + where + "`: ";
    for (char c : text) item += c == '\n' ? std::string("\n  ") : std::string(1, c);
    return item;
  };
  for (Group& group : groups) {
    std::string text;
    for (const ReviewFinding* finding : group.findings)
      text += (text.empty() ? "" : "\n\n") + comment_text(*finding, group.fix_ids.count(finding->id) > 0);
    std::string shown = options.path_prefix + group.path;
    if (!group.deletion.empty()) text += "\n\n" + group.deletion;
    if (group.needs_patch)
      text += "\n\nThe fix changes " + lines_list(group.elsewhere) +
              " of this file, which a suggestion on this line cannot reach, so it is not a one-click "
              "suggestion: the review's summary has the whole fix as a patch.";
    long first = group.suggestion ? group.suggestion->start : group.line;
    long last = group.suggestion ? group.suggestion->end : group.line;
    if (inside_hunks(options.hunks, group.path, first, last)) {
      std::string body = group.suggestion ? markup_suggestion(group.suggestion->code) + "\n\n" + text : text;
      py::dict comment = build_comment(shown, first, last, body);
      if (first != last) comment["start_side"] = "RIGHT";
      comments.append(comment);
      with_suggestion += group.suggestion ? 1 : 0;
      continue;
    }
    // Not on the lines of the diff: the summary names it.
    outside_items.push_back(list_item(shown + ":" + std::to_string(group.line), text));
  }
  for (const ReviewFinding* finding : lineless)
    outside_items.push_back(list_item(options.path_prefix + finding->path, comment_text(*finding, false)));

  size_t count = findings.size();
  std::string summary =
      count == 0 ? "tessary found nothing on the lines this change touches."
                 : "tessary found " + std::to_string(count) + (count == 1 ? " finding" : " findings") +
                       " on the lines this change touches (" + std::to_string(with_suggestion) +
                       (with_suggestion == 1 ? " comment" : " comments") + " with a suggested fix).";
  if (!outside_items.empty()) {
    summary += "\n\nOutside the lines this review can comment on:\n";
    for (const std::string& item : outside_items) summary += "\n" + item;
  }
  if (!patches.empty()) {
    summary += "\n\nFixes that change more than the lines of their finding, as patches "
               "(`git apply` at the repository's top):";
    for (const std::string& patch : patches) summary += "\n\n" + patch;
  }
  py::dict review;
  review["event"] = "COMMENT";
  review["body"] = summary;
  review["comments"] = comments;
  return review;
}

void bind_review(py::module_& m) {
  m.def(
      "build_review",
      [](const fs::path& root, py::iterable entries, py::object hunks, bool unsafe, py::object search_paths,
         const std::string& django_version, const std::string& path_prefix) {
        std::vector<ReviewFinding> findings;
        for (py::handle entry : entries) {
          ReviewFinding finding;
          finding.path = path_bytes(entry["path"]);
          py::object line = entry.attr("get")("line");
          finding.line = line.is_none() ? 0 : line.cast<long>();
          py::object end = entry.attr("get")("end_line");
          finding.end_line = end.is_none() ? finding.line : std::max(finding.line, end.cast<long>());
          finding.id = py::str(entry["message-id"]);
          finding.symbol = py::str(entry.attr("get")("symbol", ""));
          py::object advice = entry.attr("get")("advice");
          finding.advice = advice.is_none() ? "" : py::str(advice).cast<std::string>();
          findings.push_back(finding);
        }
        ReviewOptions options;
        if (!hunks.is_none()) options.hunks = py::dict(hunks);
        options.unsafe = unsafe;
        options.search_paths = search_paths;
        options.django_version = django_version;
        options.path_prefix = path_prefix;
        return build_review(root, findings, options);
      },
      py::arg("project_root"), py::arg("entries"), py::arg("hunks") = py::none(), py::arg("unsafe") = false,
      py::arg("search_paths") = py::none(), py::arg("django_version") = "", py::arg("path_prefix") = "",
      "The review of these findings ({path, line, end_line, message-id, symbol, advice}): {event, body, comments} "
      "as GitHub's review API takes it. `hunks` ({path: [(first, last)] or None}) keeps the comments on the "
      "diff's lines; None reviews every line. `path_prefix` goes before every path (the project's folder in its "
      "repository).");
}

}  // namespace tessary::suggest

#include "meta/project.hpp"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/paths.hpp"
#include "staticanalysis/helpers/read_file.hpp"

namespace tessary::meta {

namespace {

// tessary's own git calls never start a command the repository's
// configuration names, and read paths in one spelling whatever the user's
// settings for quoting and prefixes are.
const std::vector<std::string> kGitSettings = {
    "-c", "core.quotePath=false", "-c", "core.fsmonitor=false", "-c", "diff.noprefix=false",
    "-c", "diff.mnemonicPrefix=false", "-c", "core.pager=cat",
};

struct GitRun {
  int status = 0;
  std::string out, err;
};

GitRun run_git(const fs::path& root, const std::vector<std::string>& args) {
  py::module_ subprocess = py::module_::import("subprocess");
  py::list command;
  command.append("git");
  for (const std::string& arg : args) command.append(py::bytes(arg));
  py::object done = subprocess.attr("run")(command, py::arg("cwd") = root.string(), py::arg("capture_output") = true,
                                           py::arg("stdin") = subprocess.attr("DEVNULL"));
  return {done.attr("returncode").cast<int>(), done.attr("stdout").cast<std::string>(),
          done.attr("stderr").cast<std::string>()};
}

// -c settings that switch off every content filter the configuration
// names: comparing the work tree with a revision would otherwise run their
// clean commands. Reading the configuration runs nothing.
const std::vector<std::string>& filter_settings(const fs::path& root) {
  static std::map<fs::path, std::vector<std::string>> known;
  auto found = known.find(root);
  if (found != known.end()) return found->second;
  GitRun listed = run_git(root, {"config", "--null", "--name-only", "--get-regexp", "^filter\\."});
  std::set<std::string> names;
  if (listed.status == 0) {
    size_t begin = 0;
    for (size_t end; (end = listed.out.find('\0', begin)) != std::string::npos; begin = end + 1) {
      std::string key = listed.out.substr(begin, end - begin);
      if (key.rfind("filter.", 0) != 0) continue;
      std::string rest = key.substr(7);
      size_t dot = rest.rfind('.');
      if (dot != std::string::npos && dot > 0) names.insert(rest.substr(0, dot));
    }
  }
  std::vector<std::string> settings;
  for (const std::string& name : names) {
    for (auto [key, value] : {std::pair{"clean", ""}, {"smudge", ""}, {"process", ""}, {"required", "false"}}) {
      settings.push_back("-c");
      settings.push_back("filter." + name + "." + key + "=" + value);
    }
  }
  return known.emplace(root, settings).first->second;
}

// The non-empty pieces of `text` between separators.
std::vector<std::string> split_skipping_empty(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (size_t end; (end = text.find(separator, begin)) != std::string_view::npos; begin = end + 1)
    if (end > begin) parts.emplace_back(text.substr(begin, end - begin));
  if (begin < text.size()) parts.emplace_back(text.substr(begin));
  return parts;
}

std::vector<std::string> split_nul(const std::string& text) { return split_skipping_empty(text, '\0'); }

bool has_source_suffix(const fs::path& path) { return path.extension() == ".py" || path.extension() == ".html"; }

bool in_skipped_folder(const fs::path& root, const fs::path& relative) {
  fs::path folder = root;
  for (auto part = relative.begin(); part != relative.end(); ++part) {
    if (std::next(part) == relative.end()) break;
    folder /= *part;
    if (skipped_folder(folder)) return true;
  }
  return false;
}

// The end of the `[...]` class that starts at `at`, or npos when it is
// not closed. A "]" right after "[" (or "[!", "[^") is a member.
size_t class_end(std::string_view pattern, size_t at) {
  size_t i = at + 1;
  if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) ++i;
  if (i < pattern.size() && pattern[i] == ']') ++i;
  for (; i < pattern.size(); ++i) {
    if (pattern[i] == '\\') ++i;
    else if (pattern[i] == ']') return i;
  }
  return std::string_view::npos;
}

bool in_class(std::string_view members, unsigned char c) {
  bool negated = !members.empty() && (members[0] == '!' || members[0] == '^');
  if (negated) members.remove_prefix(1);
  bool found = false;
  for (size_t i = 0; i < members.size(); ++i) {
    unsigned char low = members[i];
    if (low == '\\' && i + 1 < members.size()) low = members[++i];
    unsigned char high = low;
    if (i + 2 < members.size() && members[i + 1] == '-') {
      high = members[i + 2];
      i += 2;
    }
    if (low <= c && c <= high) found = true;
  }
  return found != negated;
}

// The end of the character that starts at `at` (a UTF-8 sequence counts
// as one character for `?`).
size_t character_end(std::string_view name, size_t at) {
  size_t end = at + 1;
  if (static_cast<unsigned char>(name[at]) >= 0xC0)
    while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) ++end;
  return end;
}

// Whether one path part matches one part of a pattern: `*` any run of
// characters, `?` one, `[...]` one of a class, `\` escapes.
bool part_matches(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  // Whether the pattern character at p matches the name's at n (then both
  // move past them).
  auto step = [&]() {
    if (p >= pattern.size()) return false;
    char c = pattern[p];
    if (c == '?') {
      ++p;
      n = character_end(name, n);
      return true;
    }
    if (c == '[') {
      size_t close = class_end(pattern, p);
      if (close != std::string_view::npos) {
        if (!in_class(pattern.substr(p + 1, close - p - 1), static_cast<unsigned char>(name[n]))) return false;
        p = close + 1;
        ++n;
        return true;
      }
    }
    size_t width = 1;
    if (c == '\\' && p + 1 < pattern.size()) c = pattern[p + 1], width = 2;
    if (c != name[n]) return false;
    p += width;
    ++n;
    return true;
  };
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      resume = n;
      continue;
    }
    if (step()) continue;
    if (star == std::string_view::npos) return false;
    p = star;
    n = ++resume;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> split_parts(std::string_view text) { return split_skipping_empty(text, '/'); }

// Whether pattern parts [i, ...) match path parts [j, end).
bool parts_match(const std::vector<std::string>& pattern, size_t i, const std::vector<std::string>& path, size_t j,
                 size_t end) {
  if (i == pattern.size()) return j == end;
  if (pattern[i] == "**") {
    for (size_t k = j; k <= end; ++k)
      if (parts_match(pattern, i + 1, path, k, end)) return true;
    return false;
  }
  return j < end && part_matches(pattern[i], path[j]) && parts_match(pattern, i + 1, path, j + 1, end);
}

}  // namespace

std::string pattern_problem(const std::string& pattern) {
  std::string shown = "pattern \"" + pattern + "\"";
  if (pattern.find_first_not_of('/') == std::string::npos) return shown + " names no file";
  if (pattern[0] == '!') return shown + " is a negation, which tessary does not support";
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '\\') {
      if (i + 1 == pattern.size()) return shown + " ends in a lone backslash";
      ++i;
    } else if (pattern[i] == '[' && class_end(pattern, i) == std::string::npos) {
      return shown + " has a [ without its ]";
    }
  }
  return "";
}

bool path_matches(const std::string& pattern, const std::string& relative, bool folder) {
  std::string_view text = pattern;
  bool folders_only = !text.empty() && text.back() == '/';
  while (!text.empty() && text.back() == '/') text.remove_suffix(1);
  bool anchored = text.find('/') != std::string_view::npos;
  std::vector<std::string> parts = split_parts(text);
  if (parts.empty()) return false;
  if (!anchored) parts.insert(parts.begin(), "**");
  std::vector<std::string> path = split_parts(relative);
  // The path itself, then each folder above it.
  for (size_t end = path.size(); end >= 1; --end) {
    bool is_folder = end < path.size() || folder;
    if (folders_only && !is_folder) continue;
    if (parts_match(parts, 0, path, 0, end)) return true;
  }
  return false;
}

std::string git(const fs::path& root, const std::vector<std::string>& args) {
  std::vector<std::string> full = kGitSettings;
  const std::vector<std::string>& filters = filter_settings(root);
  full.insert(full.end(), filters.begin(), filters.end());
  full.insert(full.end(), args.begin(), args.end());
  GitRun run = run_git(root, full);
  if (run.status == 0) return run.out;
  std::vector<std::string> lines;
  size_t begin = 0;
  for (size_t end; (end = run.err.find('\n', begin)) != std::string::npos; begin = end + 1)
    lines.push_back(run.err.substr(begin, end - begin));
  if (begin < run.err.size()) lines.push_back(run.err.substr(begin));
  std::string first = lines.empty() ? "failed" : lines.front();
  for (const std::string& line : lines)
    if (line.rfind("fatal:", 0) == 0 || line.rfind("error:", 0) == 0) {
      first = line;
      break;
    }
  std::string lowered = first;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lowered.find("not a git repository") != std::string::npos)
    throw py::value_error(root.string() + " is not in a git repository (--diff compares with a git revision)");
  std::string joined;
  for (const std::string& arg : args) joined += (joined.empty() ? "" : " ") + arg;
  throw py::value_error("git " + joined + ": " + first);
}

bool in_git_repository(const fs::path& root) {
  try {
    std::string out = git(root, {"rev-parse", "--is-inside-work-tree"});
    return out.rfind("true", 0) == 0;
  } catch (py::error_already_set&) {
    return false;
  } catch (std::exception&) {
    return false;
  }
}

bool ignored_by_git(const fs::path& root) {
  std::vector<std::string> args = kGitSettings;
  args.insert(args.end(), {"check-ignore", "-q", "--", "."});
  return run_git(root, args).status == 0;
}

ProjectRoot find_project_root(const fs::path& start, const fs::path& working_directory) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(fs::absolute(start, ec), ec);
  if (ec) resolved = fs::absolute(start).lexically_normal();
  fs::path folder = fs::is_directory(resolved, ec) ? resolved : resolved.parent_path();
  for (fs::path candidate = folder;; candidate = candidate.parent_path()) {
    for (const char* marker : {"manage.py", "pyproject.toml"})
      if (fs::is_regular_file(candidate / marker, ec)) return {candidate, marker};
    if (candidate == candidate.parent_path()) break;
  }
  try {
    std::string top = git(folder, {"rev-parse", "--show-toplevel"});
    while (!top.empty() && (top.back() == '\n' || top.back() == '\r')) top.pop_back();
    if (!top.empty()) {
      fs::path root = fs::weakly_canonical(fs::path(top), ec);
      return {ec ? fs::path(top) : root, "git repository"};
    }
  } catch (py::error_already_set&) {
    // Not in a work tree, or no git at all.
  } catch (std::exception&) {
  }
  fs::path cwd = fs::weakly_canonical(working_directory, ec);
  if (ec) cwd = working_directory;
  auto [end, unused] = std::mismatch(cwd.begin(), cwd.end(), folder.begin(), folder.end());
  (void)unused;
  ProjectRoot out = end == cwd.end() ? ProjectRoot{cwd, "working directory"} : ProjectRoot{folder, "folder of the paths"};
  py::module_::import("logging").attr("getLogger")("tessary").attr("warning")(
      py::str("no manage.py, pyproject.toml or git repository above %s; using %s as the project root"),
      path_str(folder.string()), path_str(out.root.string()));
  return out;
}

ProjectFiles project_files(const fs::path& root, const std::vector<std::string>& exclude) {
  auto excluded = [&](const std::string& relative, bool folder) {
    return std::any_of(exclude.begin(), exclude.end(),
                       [&](const std::string& pattern) { return path_matches(pattern, relative, folder); });
  };
  std::vector<fs::path> candidates;
  // A project that the enclosing repository ignores as a whole (a vendored
  // or unpacked codebase checked on purpose) is walked like one outside
  // git: git would list none of its files.
  if (in_git_repository(root) && !ignored_by_git(root)) {
    for (const std::string& path : split_nul(git(root, {"ls-files", "--cached", "--others", "--exclude-standard", "-z", "--"})))
      candidates.emplace_back(path);
  } else {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end; it != end;
         it.increment(ec)) {
      if (ec) break;
      if (it->is_directory(ec) && !it->is_symlink(ec) &&
          (skipped_folder(it->path()) || excluded(it->path().lexically_relative(root).generic_string(), true))) {
        it.disable_recursion_pending();
        continue;
      }
      candidates.push_back(it->path().lexically_relative(root));
    }
  }
  ProjectFiles out;
  auto skip = [&](const fs::path& full, const fs::path& relative, const std::string& why) {
    out.warnings.push_back(relative.generic_string() + ": " + why + ", skipped");
    warn_once(full.string(), relative.generic_string(), why + ", skipped");
  };
  for (const fs::path& relative : candidates) {
    if (!has_source_suffix(relative) || in_skipped_folder(root, relative) ||
        excluded(relative.generic_string(), false))
      continue;
    fs::path full = root / relative;
    std::error_code ec;
    if (fs::is_regular_file(full, ec)) {
      // A template is read and quoted in findings: one that a link brings
      // in from outside the project (a file of the machine's) is not read.
      if (relative.extension() == ".html" && !resolves_inside(full, root))
        skip(full, relative, "a link to a file outside the project");
      else
        out.files.push_back(relative.generic_string());
      continue;
    }
    // A FIFO, a socket or a device (or a link to one), a link that leads
    // nowhere: passed over, with a word. A folder is just not a file.
    fs::file_status status = fs::symlink_status(full, ec);
    if (!fs::exists(status) || fs::is_directory(fs::status(full, ec))) continue;
    std::string why = "not a regular file";
    if (fs::is_symlink(status)) {
      std::error_code resolve;
      (void)fs::canonical(full, resolve);
      if (resolve) why = resolve == std::errc::too_many_symbolic_link_levels ? "a symlink loop" : "a dangling symlink";
    }
    skip(full, relative, why);
  }
  std::sort(out.files.begin(), out.files.end());
  out.files.erase(std::unique(out.files.begin(), out.files.end()), out.files.end());
  return out;
}

std::string unquote_git_path(std::string text) {
  if (!text.empty() && text.back() == '\t') text.pop_back();
  if (!(text.size() >= 2 && text.front() == '"' && text.back() == '"')) return text;
  std::string body = text.substr(1, text.size() - 2), out;
  const std::map<char, char> escapes = {{'a', 7}, {'b', 8}, {'t', 9}, {'n', 10}, {'v', 11},
                                        {'f', 12}, {'r', 13}, {'"', '"'}, {'\\', '\\'}};
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\' || i + 1 >= body.size()) {
      out += body[i];
      continue;
    }
    char next = body[i + 1];
    if (next >= '0' && next <= '7' && i + 4 <= body.size()) {
      out += static_cast<char>(std::stoi(body.substr(i + 1, 3), nullptr, 8));
      i += 3;
      continue;
    }
    auto escape = escapes.find(next);
    out += escape == escapes.end() ? next : escape->second;
    ++i;
  }
  return out;
}

std::string resolve_revision(const fs::path& root, const std::string& rev) {
  // A value that starts with "-" is a revision here, never an option: a
  // branch name from CI must not be able to say --output=... to git.
  std::string out;
  try {
    out = git(root, {"rev-parse", "--verify", "--quiet", "--end-of-options", rev + "^{commit}"});
  } catch (py::value_error&) {
    out.clear();
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  bool hex = out.size() >= 40 && std::all_of(out.begin(), out.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  if (!hex) {
    if (!in_git_repository(root))
      throw py::value_error(root.string() + " is not in a git repository (--diff compares with a git revision)");
    throw py::value_error("--diff: '" + rev + "' is not a commit of this repository");
  }
  return out;
}

DiffRanges diff_ranges(const fs::path& root, const std::string& rev, long context) {
  DiffRanges ranges;
  std::string commit = resolve_revision(root, rev);
  std::string diff = git(root, {"diff", "-U" + std::to_string(context), "--no-color", "--no-ext-diff",
                                "--no-textconv", "--relative", "--src-prefix=a/", "--dst-prefix=b/",
                                "--end-of-options", commit, "--"});
  std::optional<std::string> current;
  size_t begin = 0;
  for (size_t end = 0; begin < diff.size(); begin = end + 1) {
    end = diff.find('\n', begin);
    if (end == std::string::npos) end = diff.size();
    std::string line = diff.substr(begin, end - begin);
    if (line.rfind("+++ ", 0) == 0) {
      std::string target = unquote_git_path(line.substr(4));
      current = target.rfind("b/", 0) == 0 ? std::optional<std::string>(target.substr(2)) : std::nullopt;
      if (current && !ranges.count(*current)) ranges[*current] = std::vector<std::pair<long, long>>();
    } else if (line.rfind("@@", 0) == 0 && current) {
      size_t plus = line.find('+');
      if (plus == std::string::npos) continue;
      std::string added = line.substr(plus + 1, line.find(' ', plus) - plus - 1);
      size_t comma = added.find(',');
      long start = std::stol(added.substr(0, comma));
      long count = comma == std::string::npos ? 1 : std::stol(added.substr(comma + 1));
      // A hunk that only removes lines has no line on the new side; the
      // line before the removal (the first line, at the top) stands for it,
      // so that the statement the lines were taken out of counts as changed.
      if (count == 0 && context == 0) start = std::max(start, 1L), count = 1;
      if (count > 0 && ranges[*current]) ranges[*current]->push_back({start, start + count - 1});
    }
  }
  for (const std::string& path :
       split_nul(git(root, {"ls-files", "--others", "--exclude-standard", "-z", "--"})))
    ranges[path] = std::nullopt;
  return ranges;
}

std::string repository_prefix(const fs::path& root) {
  try {
    std::string out = git(root, {"rev-parse", "--show-prefix"});
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  } catch (py::error_already_set&) {
    return "";
  } catch (std::exception&) {
    return "";
  }
}

std::string default_base(const fs::path& root) {
  for (const char* branch : {"origin/main", "main", "origin/master", "master"}) {
    try {
      std::string out = git(root, {"merge-base", "--end-of-options", "HEAD", branch});
      while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
      return out;
    } catch (py::error_already_set&) {
      continue;
    } catch (std::exception&) {
      continue;
    }
  }
  return "HEAD";
}

namespace {

// Paths as Python reads them: undecodable bytes kept (surrogateescape).
py::str path_text(const std::string& path) { return path_str(path); }

}  // namespace

void bind_project(py::module_& m) {
  m.def(
      "project_files",
      [](const fs::path& root, const std::vector<std::string>& exclude) {
        ProjectFiles found = project_files(root, exclude);
        py::list files, warnings;
        for (const std::string& file : found.files) files.append(path_text(file));
        for (const std::string& warning : found.warnings) warnings.append(path_text(warning));
        return py::make_tuple(files, warnings);
      },
      py::arg("project_root"), py::arg("exclude") = std::vector<std::string>(),
      "(files, warnings): the project's .py and .html files, project-relative, sorted, less those an exclude "
      "pattern matches.");
  m.def(
      "path_matches",
      [](const std::vector<std::string>& patterns, const py::str& path) {
        std::string relative = path_bytes(path);
        return std::any_of(patterns.begin(), patterns.end(),
                           [&](const std::string& pattern) { return path_matches(pattern, relative); });
      },
      py::arg("patterns"), py::arg("path"),
      "Whether one of the gitignore-style patterns matches the project-relative path or a folder above it.");
  m.def("in_git_repository", &in_git_repository, py::arg("project_root"));
  m.def(
      "find_project_root",
      [](const fs::path& start, std::optional<fs::path> working_directory) {
        ProjectRoot found = find_project_root(start, working_directory ? *working_directory : fs::current_path());
        return py::make_tuple(found.root, found.how);
      },
      py::arg("start"), py::arg("working_directory") = py::none(),
      "(root, how): the project that holds `start` (links resolved) and how it was found: the nearest folder "
      "upward with a manage.py ('manage.py') or a pyproject.toml ('pyproject.toml'), else the top of the git "
      "work tree ('git repository'), else, with a warning, the working directory when `start` lies in it "
      "('working directory'), else the folder of `start` ('folder of the paths').");
  m.def(
      "diff_ranges",
      [](const fs::path& root, const std::string& rev, long context) {
        py::dict out;
        for (const auto& [path, spans] : diff_ranges(root, rev, context)) {
          if (!spans) {
            out[path_text(path)] = py::none();
            continue;
          }
          py::list list;
          for (const auto& [first, last] : *spans) list.append(py::make_tuple(first, last));
          out[path_text(path)] = list;
        }
        return out;
      },
      py::arg("project_root"), py::arg("rev"), py::arg("context") = 0);
  m.def("default_base", &default_base, py::arg("project_root"));
  m.def(
      "repository_prefix", [](const fs::path& root) { return path_text(repository_prefix(root)); },
      py::arg("project_root"),
      "The project root's folder within its git work tree, with a trailing '/' ('' at the top or outside git).");
}

}  // namespace tessary::meta

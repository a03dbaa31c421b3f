#include "meta/cache.hpp"

#include "staticanalysis/helpers/registry.hpp"
#include <algorithm>

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include <unistd.h>

#include "staticanalysis/dependencies/dependencies.hpp"
#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/paths.hpp"
#include "staticanalysis/helpers/project_index.hpp"
#include "staticanalysis/helpers/read_file.hpp"

namespace tessary::meta {

namespace fs = std::filesystem;

namespace {

constexpr int kCacheFormat = 1;
constexpr const char* kCacheFile = "results.json";
// What each module imports, by the digest of its text.
constexpr const char* kImportsFile = "imports.json";

// FNV-1a, 64 bits: a stable digest to tell whether texts changed.
struct Digest {
  std::uint64_t value = 1469598103934665603ULL;
  void add(std::string_view bytes) {
    for (unsigned char c : bytes) {
      value ^= c;
      value *= 1099511628211ULL;
    }
    value ^= 0xff;  // keeps "ab"+"c" apart from "a"+"bc"
    value *= 1099511628211ULL;
  }
  std::string hex() const {
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(value));
    return out;
  }
};

// The path with links resolved as far as they resolve; as given when they
// do not (a loop).
fs::path resolved_path(const fs::path& path) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(path, ec);
  return ec ? path.lexically_normal() : resolved;
}

std::optional<std::string> read_bytes(const fs::path& path, std::size_t cap = kCacheFileCap) {
  return read_regular_file(path, cap).bytes;
}

// Create `path` anew and write `text` to it; a file or link already there
// (a committed symlink, say) is never written through.
bool write_new_file(const fs::path& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return ::close(fd) == 0;
}

// Write a file of the cache folder whole or not at all. The folder is made
// when missing, with a .gitignore of its own. Failing to write (a
// read-only project) is not an error: nothing is kept.
void write_atomically(const fs::path& file, const std::string& text) {
  fs::path folder = file.parent_path();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return;
  if (!fs::exists(fs::symlink_status(folder / ".gitignore", ec)))
    write_new_file(folder / ".gitignore", "# tessary's results cache: nothing here belongs in version control\n*\n");
  fs::path temporary = file;
  temporary += ".tmp" + std::to_string(::getpid());
  fs::remove(temporary, ec);  // left by a killed run of the same number
  if (!write_new_file(temporary, text)) {
    fs::remove(temporary, ec);
    return;
  }
  fs::rename(temporary, file, ec);
  if (ec) fs::remove(temporary, ec);
}

// Python's ast classes for the import statements.
const py::object& ast_import() {
  return made_once([] { return py::object(py::module_::import("ast").attr("Import")); });
}
const py::object& ast_import_from() {
  return made_once([] { return py::object(py::module_::import("ast").attr("ImportFrom")); });
}

// The import statements of a parsed module, wherever they are: imports
// are statements, so only statement lists are searched (bodies, else and
// finally blocks, handlers, match cases), never the expressions, which
// are most of a tree.
py::list import_statements(const py::handle& tree) {
  static const char* const kBlocks[] = {"body", "orelse", "finalbody", "handlers", "cases"};
  py::list found;
  std::vector<py::object> pending{py::reinterpret_borrow<py::object>(tree)};
  while (!pending.empty()) {
    py::object node = std::move(pending.back());
    pending.pop_back();
    if (py::isinstance(node, ast_import()) || py::isinstance(node, ast_import_from())) {
      found.append(node);
      continue;
    }
    for (const char* block : kBlocks) {
      py::object statements = py::getattr(node, block, py::none());
      if (!py::isinstance<py::list>(statements)) continue;
      for (py::handle statement : statements) pending.push_back(py::reinterpret_borrow<py::object>(statement));
    }
  }
  return found;
}

// The modules a text may import, found without parsing it: every word
// `import` in the text (in code, strings and comments alike), with the
// names after it and, when the words before it are `from <module>`, that
// module. Every import statement has such a word, so what this finds
// holds every module the statements name, and a few more (from prose, or
// a `from` of `yield from` read as an import's): more modules only make
// a key change more often. Each import statement is read as Python
// reads it: blanks, form feeds and backslash continuations between its
// words, comments and line ends inside parentheses, dots with blanks
// around them, `as` aliases, `*`.
struct ImportScan {
  struct Found {
    long level = 0;          // leading dots of a `from` module
    std::string module;      // the `from` module, if any
    bool from = false;
    std::vector<std::string> names;  // after `import`, dotted
  };

  explicit ImportScan(std::string_view text) : text_(text) {}

  // Everything found; nullopt when a line ran longer before an `import`
  // than any `from` clause does: such a text is parsed instead (a scan
  // back over it for every word would take the square of its length).
  std::optional<std::vector<Found>> all() {
    std::vector<Found> found;
    for (std::size_t at = text_.find("import"); at != std::string_view::npos; at = text_.find("import", at + 1)) {
      if (!word_at(at, "import")) continue;
      Found one;
      one.names = names_after(at + 6);
      if (!read_from_before(at, one)) return std::nullopt;
      found.push_back(std::move(one));
    }
    return found;
  }

 private:
  static bool name_char(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }
  static bool blank(char c) { return c == ' ' || c == '\t' || c == '\f'; }

  bool word_at(std::size_t at, std::string_view word) const {
    if (text_.compare(at, word.size(), word) != 0) return false;
    if (at > 0 && name_char(static_cast<unsigned char>(text_[at - 1]))) return false;
    std::size_t end = at + word.size();
    return end >= text_.size() || !name_char(static_cast<unsigned char>(text_[end]));
  }

  // Past blanks and continuations; inside parentheses, past line ends and
  // comments too.
  std::size_t skip(std::size_t at, bool bracketed) const {
    while (at < text_.size()) {
      char c = text_[at];
      if (blank(c)) {
        ++at;
      } else if (c == '\\' && at + 1 < text_.size() && (text_[at + 1] == '\n' || text_[at + 1] == '\r')) {
        at += (text_[at + 1] == '\r' && at + 2 < text_.size() && text_[at + 2] == '\n') ? 3 : 2;
      } else if (bracketed && (c == '\n' || c == '\r')) {
        ++at;
      } else if (bracketed && c == '#') {
        while (at < text_.size() && text_[at] != '\n' && text_[at] != '\r') ++at;
      } else {
        break;
      }
    }
    return at;
  }

  std::size_t identifier_end(std::size_t at) const {
    if (at >= text_.size() || std::isdigit(static_cast<unsigned char>(text_[at]))) return at;
    while (at < text_.size() && name_char(static_cast<unsigned char>(text_[at]))) ++at;
    return at;
  }

  // A dotted name at `at` (blanks allowed around its dots); empty if none.
  std::string dotted(std::size_t& at, bool bracketed) const {
    std::string name;
    while (true) {
      std::size_t end = identifier_end(at);
      if (end == at) break;
      name.append(text_.substr(at, end - at));
      std::size_t next = skip(end, bracketed);
      at = end;
      if (next < text_.size() && text_[next] == '.') {
        name += '.';
        at = skip(next + 1, bracketed);
        continue;
      }
      break;
    }
    return name;
  }

  std::vector<std::string> names_after(std::size_t at) const {
    std::vector<std::string> names;
    if (at < text_.size() && name_char(static_cast<unsigned char>(text_[at]))) return names;
    at = skip(at, false);
    bool bracketed = at < text_.size() && text_[at] == '(';
    if (bracketed) at = skip(at + 1, true);
    while (at < text_.size()) {
      if (text_[at] == '*') break;
      std::string name = dotted(at, bracketed);
      if (name.empty()) break;
      names.push_back(name);
      at = skip(at, bracketed);
      if (word_at(at, "as")) {
        at = skip(at + 2, bracketed);
        at = skip(identifier_end(at), bracketed);
      }
      if (at >= text_.size() || text_[at] != ',') break;
      at = skip(at + 1, bracketed);
    }
    return names;
  }

  // Back from `import` at `at`: the words of its line before it (names,
  // dots, blanks and continuations), of which the last `from` and the
  // dots and dotted name after it make a `from` import.
  bool read_from_before(std::size_t at, Found& found) const {
    std::size_t start = at;
    while (true) {
      if (at - start > kLongestFromClause) return false;
      std::size_t before = back_over_blanks(start);
      if (before > 0 && (name_char(static_cast<unsigned char>(text_[before - 1])) || text_[before - 1] == '.')) {
        start = before - 1;
      } else {
        start = before;
        break;
      }
    }
    std::vector<std::string> words;  // "." for each dot
    for (std::size_t i = start; i < at;) {
      i = skip(i, false);
      if (i >= at) break;
      if (text_[i] == '.') {
        words.emplace_back(".");
        ++i;
        continue;
      }
      std::size_t end = i;
      while (end < at && name_char(static_cast<unsigned char>(text_[end]))) ++end;
      if (end == i) return true;
      words.emplace_back(text_.substr(i, end - i));
      i = end;
    }
    auto from = std::find(words.rbegin(), words.rend(), "from");
    if (from == words.rend()) return true;
    std::size_t i = static_cast<std::size_t>(words.rend() - from);  // the word after `from`
    long level = 0;
    for (; i < words.size() && words[i] == "."; ++i) ++level;
    std::string module;
    bool want_name = true;
    for (; i < words.size(); ++i) {
      bool dot = words[i] == ".";
      if (dot == want_name) return true;  // two names or two dots in a row: not a module
      module += words[i];
      want_name = dot;
    }
    if (!module.empty() && want_name) return true;  // ends with a dot
    if (module.empty() && level == 0) return true;
    found.from = true;
    found.level = level;
    found.module = module;
    return true;
  }

  // Back over blanks and continuations before `at`.
  std::size_t back_over_blanks(std::size_t at) const {
    while (at > 0) {
      char c = text_[at - 1];
      if (blank(c)) {
        --at;
      } else if (c == '\n' && at >= 2 && text_[at - 2] == '\\') {
        at -= 2;
      } else if (c == '\n' && at >= 3 && text_[at - 2] == '\r' && text_[at - 3] == '\\') {
        at -= 3;
      } else if (c == '\r' && at >= 2 && text_[at - 2] == '\\') {
        at -= 2;
      } else {
        break;
      }
    }
    return at;
  }

  static constexpr std::size_t kLongestFromClause = 4096;
  std::string_view text_;
};

// Whether a text is read as UTF-8 by Python without a declaration of
// another coding: then its bytes are its names' bytes.
bool plainly_utf8(const std::string& source) {
  std::string_view head(source.data(), std::min<std::size_t>(source.size(), 400));
  if (head.find("coding") != std::string_view::npos) return false;
  PyObject* decoded = PyUnicode_DecodeUTF8(source.data(), static_cast<Py_ssize_t>(source.size()), "strict");
  if (!decoded) {
    PyErr_Clear();
    return false;
  }
  Py_DECREF(decoded);
  return true;
}

// The dotted name of a `from` import's module, as resolved: relative
// ones from the module's own package.
std::string from_module(const fs::path& relative_dir, long level, const std::string& module) {
  std::string base;
  if (level > 0) {
    fs::path package = relative_dir;
    for (long i = 1; i < level; ++i) package = package.parent_path();
    for (const fs::path& part : package) {
      if (part == ".") continue;
      base += (base.empty() ? "" : ".") + part.string();
    }
  }
  return base.empty() ? module : (module.empty() ? base : base + "." + module);
}

}  // namespace

// The dotted names a module's import statements name, each as the
// resolver takes it: a module, or a name imported from one. Read by the
// scan above (`scan`) where the text is plainly UTF-8, else parsed.
std::vector<std::string> import_names(const fs::path& root, const fs::path& file, const std::string& source,
                                      bool scan) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::path relative_dir = fs::relative(file.parent_path(), root, ec);
  std::optional<std::vector<ImportScan::Found>> scanned;
  if (scan && plainly_utf8(source)) scanned = ImportScan(source).all();
  if (scanned) {
    for (const ImportScan::Found& found : *scanned) {
      // Each name as a module of its own, and, after a `from`, as a name
      // of that module.
      for (const std::string& name : found.names) names.push_back(name);
      if (!found.from) continue;
      std::string full = from_module(relative_dir, found.level, found.module);
      if (!full.empty()) names.push_back(full);
      for (const std::string& name : found.names) names.push_back(full.empty() ? name : full + "." + name);
    }
    return names;
  }
  py::object tree;
  try {
    tree = py::module_::import("ast").attr("parse")(py::bytes(source));
  } catch (py::error_already_set&) {
    return names;  // a module that does not parse imports nothing we can name
  }
  for (py::handle node : import_statements(tree)) {
    if (py::isinstance(node, ast_import())) {
      for (py::handle alias : node.attr("names")) names.push_back(py::str(alias.attr("name")));
    } else if (py::isinstance(node, ast_import_from())) {
      long level = node.attr("level").cast<long>();
      std::string module = node.attr("module").is_none() ? "" : py::str(node.attr("module")).cast<std::string>();
      std::string full = from_module(relative_dir, level, module);
      if (!full.empty()) names.push_back(full);
      for (py::handle alias : node.attr("names")) {
        std::string name = py::str(alias.attr("name"));
        if (name != "*") names.push_back(full.empty() ? name : full + "." + name);
      }
    }
  }
  return names;
}

namespace {

// The project's modules, read once each, with the project modules each
// imports.
class ImportGraph {
 public:
  explicit ImportGraph(fs::path root) : root_(std::move(root)) {
    roots_.push_back(root_);
    if (is_folder(root_ / "src")) roots_.push_back(root_ / "src");
  }

  // What the keys need of a file, read from its text once: the text is
  // not kept (a large project's texts would stay in memory through the
  // lint that follows).
  struct Summary {
    bool readable = false;
    std::string digest;                             // of the text
    const std::vector<std::string>* names = nullptr;  // what a module imports
  };

  const Summary& summary(const fs::path& file) {
    auto it = summaries_.find(file);
    if (it != summaries_.end()) return it->second;
    Summary made;
    if (std::optional<std::string> source = read_bytes(file, kSourceFileCap)) {
      Digest digest;
      digest.add(*source);
      made.readable = true;
      made.digest = digest.hex();
      if (file.extension() == ".py") made.names = &import_names(file, *source, made.digest);
    }
    return summaries_.emplace(file, std::move(made)).first->second;
  }

  // What the modules `file` imports, directly or not, stand for in its
  // key: how many there are, and a digest of each one's path and text,
  // summed so that the order they are reached in does not matter. Each
  // module's part is worked out once, and each closure walked over
  // numbered modules: a large project's keys cost a walk of its import
  // graph per module, not a read of every text each module leads to.
  std::pair<std::size_t, std::uint64_t> closure_digest(const fs::path& file) {
    int start = number(file);
    ++stamp_;
    std::vector<int> pending{start};
    std::size_t count = 0;
    std::uint64_t sum = 0;
    mark(start);
    while (!pending.empty()) {
      int current = pending.back();
      pending.pop_back();
      for (int imported : imported_numbers(current)) {
        if (!mark(imported)) continue;
        ++count;
        sum += part_of(imported);
        pending.push_back(imported);
      }
    }
    return {count, sum};
  }

  // The project modules `file` imports directly.
  const std::set<fs::path>& imports(const fs::path& file) {
    auto it = imports_.find(file);
    if (it != imports_.end()) return it->second;
    std::set<fs::path>& out = imports_[file];
    const Summary& module = summary(file);
    if (!module.names) return out;
    for (const std::string& name : *module.names) resolve(name, out);
    out.erase(file);
    return out;
  }

  // What the last run learnt of each module's imports, by the digest of
  // its text: an unchanged module is not parsed again.
  void load_known(const fs::path& file) {
    known_file_ = file;
    std::optional<std::string> saved = read_bytes(file);
    if (!saved) return;
    try {
      py::object data = py::module_::import("json").attr("loads")(py::bytes(*saved));
      if (!py::isinstance<py::dict>(data) || !data.attr("get")("format").equal(py::int_(kCacheFormat))) return;
      py::object modules = data.attr("get")("modules");
      if (!py::isinstance<py::dict>(modules)) return;
      for (auto item : py::dict(modules)) {
        if (!py::isinstance<py::str>(item.first) || !py::isinstance<py::list>(item.second)) continue;
        py::list entry = py::reinterpret_borrow<py::list>(item.second);
        if (py::len(entry) != 2 || !py::isinstance<py::str>(entry[0]) || !py::isinstance<py::list>(entry[1])) continue;
        std::vector<std::string> names;
        bool well_formed = true;
        for (py::handle name : py::list(entry[1])) {
          if (!py::isinstance<py::str>(name)) well_formed = false;
          else names.push_back(py::str(name));
        }
        if (well_formed) known_[path_bytes(item.first)] = {py::str(entry[0]), std::move(names)};
      }
    } catch (py::error_already_set&) {
      known_.clear();  // damaged: every module is parsed again
    }
  }

  // Keep what this run learnt, with what earlier runs learnt of modules
  // that still exist (a run of a few files keeps the others'); nothing
  // when nothing changed or there is nowhere to keep it.
  void save_known() {
    if (known_file_.empty() || !known_changed_) return;
    py::dict modules;
    for (const auto& [key, entry] : known_) {
      if (!used_.count(key) && !is_file(fs::path(key))) continue;
      modules[path_str(key)] = py::make_tuple(entry.first, py::cast(entry.second));
    }
    py::dict data;
    data["format"] = kCacheFormat;
    data["modules"] = modules;
    write_atomically(known_file_, py::str(py::module_::import("json").attr("dumps")(data)));
  }

 private:
  // The files of a dotted module name: its packages' __init__ modules and
  // the module itself, as found below one of the roots.
  void resolve(const std::string& dotted, std::set<fs::path>& out) {
    auto known = resolved_.find(dotted);
    if (known == resolved_.end()) known = resolved_.emplace(dotted, files_of(dotted)).first;
    out.insert(known->second.begin(), known->second.end());
  }

  // Many modules import the same names: each is looked up on disk once.
  std::vector<fs::path> files_of(const std::string& dotted) const {
    std::vector<fs::path> files;
    for (const fs::path& base : roots_) {
      fs::path folder = base;
      std::vector<fs::path> found;
      std::stringstream parts(dotted);
      for (std::string part; std::getline(parts, part, '.');) {
        if (part.empty()) continue;
        fs::path package = folder / part;
        if (is_file(package / "__init__.py")) {
          found.push_back(package / "__init__.py");
          folder = package;
          continue;
        }
        if (is_file(folder / (part + ".py"))) found.push_back(folder / (part + ".py"));
        break;
      }
      if (found.empty()) continue;
      for (const fs::path& f : found) files.push_back(resolved_path(f));
      return files;
    }
    return files;
  }

  // The dotted names a module's import statements name, each as the
  // resolver takes it: a module, or a name imported from one.
  const std::vector<std::string>& import_names(const fs::path& file, const std::string& source,
                                               const std::string& digest) {
    std::string key = file.string();
    used_.insert(key);
    auto found = known_.find(key);
    if (found != known_.end() && found->second.first == digest) return found->second.second;
    known_changed_ = true;
    auto& entry = known_[key];
    entry = {digest, tessary::meta::import_names(root_, file, source, true)};
    return entry.second;
  }


  int number(const fs::path& file) {
    auto [it, added] = numbers_.emplace(file, static_cast<int>(paths_.size()));
    if (added) paths_.push_back(file);
    return it->second;
  }

  // Marks a module reached in this walk; false when it already was.
  bool mark(int module) {
    if (seen_.size() < paths_.size()) seen_.resize(paths_.size(), 0);
    unsigned& last = seen_[static_cast<std::size_t>(module)];
    if (last == stamp_) return false;
    last = stamp_;
    return true;
  }

  const std::vector<int>& imported_numbers(int module) {
    auto found = imported_.find(module);
    if (found != imported_.end()) return found->second;
    std::vector<int> numbers;
    fs::path file = paths_[static_cast<std::size_t>(module)];
    for (const fs::path& imported : imports(file)) numbers.push_back(number(imported));
    return imported_.emplace(module, std::move(numbers)).first->second;
  }

  // A module's part of the keys of the modules that import it: its path
  // and its text (or its being unreadable).
  std::uint64_t part_of(int module) {
    auto found = parts_.find(module);
    if (found != parts_.end()) return found->second;
    fs::path file = paths_[static_cast<std::size_t>(module)];
    const Summary& read = summary(file);
    Digest digest;
    digest.add(file.string());
    digest.add(read.readable ? read.digest : std::string("\x01unreadable"));
    return parts_.emplace(module, digest.value).first->second;
  }

  fs::path root_;
  std::vector<fs::path> roots_;
  std::map<fs::path, int> numbers_;
  std::vector<fs::path> paths_;
  std::map<int, std::vector<int>> imported_;
  std::map<int, std::uint64_t> parts_;
  std::vector<unsigned> seen_;
  unsigned stamp_ = 0;
  std::map<fs::path, Summary> summaries_;
  std::map<std::string, std::vector<fs::path>> resolved_;
  std::map<fs::path, std::set<fs::path>> imports_;
  fs::path known_file_;
  std::map<std::string, std::pair<std::string, std::vector<std::string>>> known_;
  std::set<std::string> used_;
  bool known_changed_ = false;
};

}  // namespace

std::string results_fingerprint(const py::object& project_root, const std::string& django_version,
                                const py::object& search_paths) {
  py::object meta = py::module_::import("tessary.meta");
  py::object builtins = py::module_::import("builtins");
  Digest digest;
  digest.add(py::str(py::module_::import("tessary").attr("__version__")).cast<std::string>());
  digest.add(std::to_string(kCacheFormat));
  auto text = [&](const py::object& value) { return py::str(builtins.attr("repr")(value)).cast<std::string>(); };
  digest.add(text(builtins.attr("sorted")(meta.attr("get_toml_config")(project_root).attr("items")())));
  py::object requirement = dependencies::resolve_django_version(project_root.cast<fs::path>());
  digest.add(text(requirement));
  digest.add(django_version);
  digest.add(text(search_paths));
  py::object settings_files = meta.attr("get_settings_files")(project_root);
  digest.add(text(settings_files));
  // What tessary reports: its rules, and the build of its modules.
  for (const Rule& entry : kRegistry) {
    digest.add(std::string(entry.id) + std::string(entry.symbol) + std::string(entry.advice) +
               std::string(entry.unsafe_because));
  }
  std::error_code ec;
  fs::path package = fs::path(py::str(py::module_::import("tessary").attr("__file__")).cast<std::string>()).parent_path();
  for (fs::recursive_directory_iterator it(package, ec), end; it != end; it.increment(ec)) {
    if (ec) break;
    if (it->path().extension() != ".so" && it->path().extension() != ".pyd") continue;
    digest.add(it->path().filename().string() + std::to_string(it->file_size(ec)) + ":" +
               std::to_string(it->last_write_time(ec).time_since_epoch().count()));
  }
  // The settings checks read every settings module: a change to any of
  // them (a sibling of a settings package too) changes what the project's
  // settings module reports.
  fs::path root = project_root.cast<fs::path>();
  for (py::handle modpath : settings_files) {
    std::string dotted = py::str(modpath);
    std::replace(dotted.begin(), dotted.end(), '.', '/');
    fs::path module = root / (dotted + ".py"), package_init = root / dotted / "__init__.py";
    fs::path folder = fs::exists(package_init, ec) ? root / dotted : module.parent_path();
    std::vector<fs::path> files;
    if (folder.filename() == "settings") {
      for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().extension() == ".py") files.push_back(entry.path());
    } else {
      files.push_back(module);
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      FileBytes content = read_regular_file(file, kConfigFileCap);
      digest.add(file.string() + "\n" + (content.bytes ? *content.bytes : "\0" + content.problem));
    }
  }
  // C2000 holds back where the project uses a field's name with None
  // anywhere: a new such use elsewhere changes what a module reports.
  std::string used_with_none;
  for (const std::string& name : project_names_used_with_none(root)) used_with_none += name + ",";
  digest.add(used_with_none);
  return digest.hex();
}

py::dict results_cache_keys(const py::object& project_root, const py::iterable& files, const std::string& fingerprint,
                            const py::object& cache_dir) {
  py::dict keys;
  fs::path root = resolved_path(project_root.cast<fs::path>());
  ImportGraph graph(root);
  if (!cache_dir.is_none()) graph.load_known(cache_dir.cast<fs::path>() / kImportsFile);
  for (py::handle entry : files) {
    std::string relative = path_bytes(entry);
    fs::path file = resolved_path(root / relative);
    const ImportGraph::Summary& own = graph.summary(file);
    if (!own.readable) continue;
    Digest digest;
    digest.add(fingerprint);
    digest.add(own.digest);
    if (relative.size() > 3 && relative.compare(relative.size() - 3, 3, ".py") == 0) {
      // The dotted name the module is linted under follows the __init__.py
      // files above it, and so does whether it is the settings module.
      int depth = 0;
      for (fs::path folder = file.parent_path(); depth < 64 && is_file(folder / "__init__.py");
           folder = folder.parent_path())
        ++depth;
      digest.add("package depth " + std::to_string(depth));
      auto [count, sum] = graph.closure_digest(file);
      char imported[64];
      std::snprintf(imported, sizeof imported, "imports %zu %016llx", count, static_cast<unsigned long long>(sum));
      digest.add(imported);
    }
    keys[path_str(relative)] = digest.hex();
  }
  graph.save_known();
  return keys;
}

namespace {

bool is_whole_number(const py::handle& value) {
  return PyLong_CheckExact(value.ptr()) != 0;
}

// A cached finding has the fields every command reads, of the types they
// expect, and belongs to the file it is kept under. Anything else is a
// miss: the file is linted again.
bool well_formed_record(const py::handle& record, const py::handle& path) {
  if (!py::isinstance<py::dict>(record)) return false;
  py::dict fields = py::reinterpret_borrow<py::dict>(record);
  auto get = [&](const char* name) { return fields.attr("get")(name); };
  py::object id = get("message-id"), where = get("path"), line = get("line"), column = get("column");
  py::object message = get("message"), symbol = get("symbol");
  if (!py::isinstance<py::str>(id) || !py::isinstance<py::str>(where) || !where.equal(path)) return false;
  std::string text = py::str(id);
  if (text.size() != 5 || !std::isupper(static_cast<unsigned char>(text[0])) ||
      !std::all_of(text.begin() + 1, text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  if (!(line.is_none() || is_whole_number(line)) || !(column.is_none() || is_whole_number(column))) return false;
  if (!(symbol.is_none() || py::isinstance<py::str>(symbol))) return false;
  return py::isinstance<py::dict>(message) || py::isinstance<py::str>(message);
}

}  // namespace

py::object results_cache_folder(const py::object& project_root, const py::object& named) {
  if (!named.is_none()) return named;  // the user's choice, wherever it is
  fs::path root = project_root.cast<fs::path>();
  fs::path folder = root / ".tessary_cache";
  std::error_code ec;
  fs::file_status status = fs::symlink_status(folder, ec);
  std::string problem;
  if (!fs::exists(status)) return py::cast(folder);
  if (fs::is_symlink(status))
    problem = "a symlink";
  else if (!fs::is_directory(status))
    problem = "not a folder";
  else if (!resolves_inside(folder, root))
    problem = "outside the project";
  if (problem.empty()) return py::cast(folder);
  warn_once(folder.string(), ".tessary_cache", problem + ", so the results cache is not used ('--cache-dir DIR' names a folder to use)");
  return py::none();
}

py::dict read_results_cache(const py::object& cache_dir) {
  std::optional<std::string> text = read_bytes(cache_dir.cast<fs::path>() / kCacheFile);
  if (!text) return py::dict();
  try {
    py::object data = py::module_::import("json").attr("loads")(py::bytes(*text));
    if (!py::isinstance<py::dict>(data) || !data.attr("get")("format").equal(py::int_(kCacheFormat)))
      return py::dict();
    py::object entries = data.attr("get")("entries");
    if (!py::isinstance<py::dict>(entries)) return py::dict();
    py::dict out;
    for (auto item : py::dict(entries)) {
      py::handle value = item.second;
      if (!py::isinstance<py::dict>(value)) continue;
      py::object key = value.attr("get")("key"), records = value.attr("get")("records");
      if (!py::isinstance<py::str>(item.first) || !py::isinstance<py::str>(key) || !py::isinstance<py::list>(records))
        continue;
      bool well_formed = true;
      for (py::handle record : records) well_formed = well_formed && well_formed_record(record, item.first);
      if (well_formed) out[item.first] = value;
    }
    return out;
  } catch (py::error_already_set&) {
    return py::dict();  // damaged: ignored, and replaced by the next write
  }
}

void write_results_cache(const py::object& cache_dir, const py::dict& entries) {
  py::dict data;
  data["format"] = kCacheFormat;
  data["entries"] = entries;
  std::string text = py::str(py::module_::import("json").attr("dumps")(data, py::arg("default") = py::module_::import("builtins").attr("str")));
  write_atomically(cache_dir.cast<fs::path>() / kCacheFile, text);
}

bool line_wanted(const py::object& wanted, const py::object& line) {
  return wanted.is_none() || wanted.contains(line);
}

namespace {

// Whether the text of a line opens a class or function definition.
bool opens_definition(std::string_view line) {
  size_t at = line.find_first_not_of(" \t");
  if (at == std::string_view::npos) return false;
  line.remove_prefix(at);
  for (std::string_view head : {"class ", "def ", "async ", "@"})
    if (line.substr(0, head.size()) == head) return true;
  return false;
}

// One line of a module, read once per module and call site.
class ModuleLines {
 public:
  std::optional<std::string> line(const fs::path& file, long number) {
    auto found = files_.find(file.string());
    if (found == files_.end()) {
      if (files_.size() > 64) files_.clear();
      FileBytes read = read_regular_file(file, kSourceFileCap);
      std::vector<std::string> lines;
      if (read.bytes) {
        std::istringstream stream(*read.bytes);
        for (std::string text; std::getline(stream, text);) lines.push_back(text);
      }
      found = files_.emplace(file.string(), std::move(lines)).first;
    }
    if (number < 1 || static_cast<size_t>(number) > found->second.size()) return std::nullopt;
    return found->second[static_cast<size_t>(number - 1)];
  }

 private:
  std::map<std::string, std::vector<std::string>> files_;
};

}  // namespace

bool record_wanted(const py::object& wanted, const py::handle& record, const fs::path& file) {
  py::object line = record.attr("get")("line", py::none());
  if (line_wanted(wanted, line)) return true;
  py::object end = record.attr("get")("endLine", py::none());
  if (line.is_none() || end.is_none() || !py::isinstance<py::int_>(line) || !py::isinstance<py::int_>(end))
    return false;
  long first = line.cast<long>(), last = end.cast<long>();
  if (last <= first) return false;
  static ModuleLines lines;
  std::optional<std::string> text = lines.line(file, first);
  if (!text || opens_definition(*text)) return false;
  for (py::handle changed : wanted) {
    if (!py::isinstance<py::int_>(changed)) continue;
    long number = changed.cast<long>();
    if (first < number && number <= last) return true;
  }
  return false;
}

py::list filter_records(const py::iterable& records, const py::dict& files, const fs::path& project_root) {
  py::list out;
  for (py::handle handle : records) {
    py::object record = py::reinterpret_borrow<py::object>(handle);
    py::object path = record["path"];
    if (!files.contains(path)) continue;
    bool fatal = py::str(record.attr("get")("type", py::str(""))).cast<std::string>() == "fatal";
    if (fatal || record_wanted(files[path], record, project_root / path_bytes(path))) out.append(record);
  }
  return out;
}

void bind_cache(py::module_& m) {
  m.def("filter_records", &filter_records, py::arg("records"), py::arg("files"), py::arg("project_root") = fs::path(),
        "Keep the records on the wanted lines of the filter (a module that could not be analysed always).");
  m.def("results_fingerprint", &results_fingerprint, py::arg("project_root"), py::arg("django_version"),
        py::arg("search_paths") = py::none());
  m.def("results_cache_keys", &results_cache_keys, py::arg("project_root"), py::arg("files"), py::arg("fingerprint"),
        py::arg("cache_dir") = py::none());
  m.def("read_results_cache", &read_results_cache, py::arg("cache_dir"));
  m.def("results_cache_folder", &results_cache_folder, py::arg("project_root"), py::arg("named") = py::none(),
        "The results cache's folder: the one named, else .tessary_cache in the project root unless that is a "
        "symlink, not a folder or outside the project (None, with a warning).");
  m.def("write_results_cache", &write_results_cache, py::arg("cache_dir"), py::arg("entries"));
  m.def(
      "import_names",
      [](const fs::path& root, const fs::path& file, const py::bytes& source, bool scan) {
        return import_names(root, file, std::string(source), scan);
      },
      py::arg("project_root"), py::arg("file"), py::arg("source"), py::arg("scan") = true,
      "The dotted names a module's imports name, as its results-cache key follows them: scanned, or parsed.");
}

}  // namespace tessary::meta

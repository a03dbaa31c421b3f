#include "staticanalysis/helpers/project_index.hpp"

#include <map>
#include <system_error>
#include <vector>

#include "staticanalysis/helpers/paths.hpp"
#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/project_scope.hpp"
#include "staticanalysis/helpers/read_file.hpp"

namespace tessary {

namespace {

struct Token {
  enum Kind { name, string, number, op } kind;
  std::string_view text;
  char frame;  // the innermost open bracket: 'c' call, 'd' def parameters, '(' other, '[', '{', 0 none
};

bool digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool name_start(unsigned char c) { return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80; }
bool name_char(unsigned char c) { return name_start(c) || digit(c); }

bool string_prefix(std::string_view word) {
  if (word.size() > 2) return false;
  for (char c : word)
    if (std::string_view("rRbBuUfF").find(c) == std::string_view::npos) return false;
  return true;
}

// Python's tokens, as far as the patterns below need them: names, strings
// (with their quotes), numbers and operators, comments and line ends left
// out. Each token knows the bracket it sits in.
std::vector<Token> tokenize(std::string_view s) {
  std::vector<Token> out;
  std::vector<char> frames;
  size_t i = 0, n = s.size();
  auto frame = [&] { return frames.empty() ? '\0' : frames.back(); };
  auto read_string = [&](size_t start, size_t quote_at) {
    char quote = s[quote_at];
    bool triple = quote_at + 2 < n && s[quote_at + 1] == quote && s[quote_at + 2] == quote;
    size_t j = quote_at + (triple ? 3 : 1);
    while (j < n) {
      if (s[j] == '\\') {
        j += 2;
        continue;
      }
      if (!triple && (s[j] == '\n' || s[j] == '\r')) break;  // not closed on its line
      if (s[j] == quote && (!triple || (j + 2 < n && s[j + 1] == quote && s[j + 2] == quote))) {
        j += triple ? 3 : 1;
        break;
      }
      ++j;
    }
    j = std::min(j, n);
    out.push_back({Token::string, s.substr(start, j - start), frame()});
    i = j;
  };
  while (i < n) {
    unsigned char c = s[i];
    if (c == '#') {
      while (i < n && s[i] != '\n') ++i;
    } else if (c == '"' || c == '\'') {
      read_string(i, i);
    } else if (name_start(c)) {
      size_t j = i;
      while (j < n && name_char(s[j])) ++j;
      std::string_view word = s.substr(i, j - i);
      if (j < n && (s[j] == '"' || s[j] == '\'') && string_prefix(word)) {
        read_string(i, j);
        continue;
      }
      out.push_back({Token::name, word, frame()});
      i = j;
    } else if (digit(c) || (c == '.' && i + 1 < n && digit(s[i + 1]))) {
      size_t j = i + 1;
      while (j < n && (name_char(s[j]) || s[j] == '.')) ++j;
      out.push_back({Token::number, s.substr(i, j - i), frame()});
      i = j;
    } else if (c == '(' || c == '[' || c == '{') {
      char kind = static_cast<char>(c);
      if (c == '(' && !out.empty()) {
        const Token& before = out.back();
        bool after_def = out.size() >= 2 && out[out.size() - 2].kind == Token::name && out[out.size() - 2].text == "def";
        if (before.kind == Token::name && after_def) kind = 'd';
        else if (before.kind == Token::name || before.text == ")" || before.text == "]") kind = 'c';
      }
      out.push_back({Token::op, s.substr(i, 1), frame()});
      frames.push_back(kind);
      ++i;
    } else if (c == ')' || c == ']' || c == '}') {
      if (!frames.empty()) frames.pop_back();
      out.push_back({Token::op, s.substr(i, 1), frame()});
      ++i;
    } else if (c == ' ' || c == '\t' || c == '\f' || c == '\n' || c == '\r' || c == '\\') {
      ++i;
    } else {
      // "=" alone, or an operator ending in "=" ("==", "!=", "<=", ":=",
      // "+=", ...), which is not an assignment of None.
      size_t width = i + 1 < n && s[i + 1] == '=' && std::string_view("=!<>:+-*/%&|^@").find(c) != std::string_view::npos ? 2 : 1;
      out.push_back({Token::op, s.substr(i, width), frame()});
      i += width;
    }
  }
  return out;
}

void add_segments(std::set<std::string>& names, std::string_view lookup) {
  size_t start = 0;
  while (start <= lookup.size()) {
    size_t end = lookup.find("__", start);
    if (end == std::string_view::npos) end = lookup.size();
    if (end > start) names.emplace(lookup.substr(start, end - start));
    start = end + 2;
  }
}

// "author__email__isnull" names email.
void add_isnull_fields(std::set<std::string>& names, std::string_view text) {
  constexpr std::string_view kIsnull = "__isnull";
  for (size_t at = text.find(kIsnull); at != std::string_view::npos; at = text.find(kIsnull, at + 1)) {
    size_t begin = at;
    while (begin > 0 && name_char(text[begin - 1])) --begin;
    std::string_view lookup = text.substr(begin, at - begin);
    size_t last = lookup.rfind("__");
    std::string_view field = last == std::string_view::npos ? lookup : lookup.substr(last + 2);
    if (!field.empty()) names.emplace(field);
  }
}

// The text between a string token's quotes, when it is a plain name.
std::string_view plain_name_in(std::string_view token) {
  size_t open = token.find_first_of("\"'");
  if (open == std::string_view::npos || open > 0) return {};  // prefixed strings are not dict keys worth reading
  std::string_view inner = token.substr(1, token.size() >= 2 ? token.size() - 2 : 0);
  if (inner.empty() || !name_start(inner[0])) return {};
  for (char c : inner)
    if (!name_char(c)) return {};
  return inner;
}

bool is(const Token& token, Token::Kind kind, std::string_view text) { return token.kind == kind && token.text == text; }

}  // namespace

std::set<std::string> names_used_with_none(std::string_view source) {
  std::set<std::string> names;
  std::vector<Token> t = tokenize(source);
  auto op = [&](size_t k, std::string_view text) { return is(t[k], Token::op, text); };
  auto word = [&](size_t k, std::string_view text) { return is(t[k], Token::name, text); };
  auto attribute = [&](size_t k) { return k >= 1 && t[k].kind == Token::name && op(k - 1, "."); };
  for (size_t i = 0; i < t.size(); ++i) {
    if ((t[i].kind == Token::name || t[i].kind == Token::string) &&
        t[i].text.find("__isnull") != std::string_view::npos)
      add_isnull_fields(names, t[i].text);
    if (!word(i, "None") || i < 2) continue;
    // obj.name = None
    if (op(i - 1, "=") && attribute(i - 2)) names.emplace(t[i - 2].text);
    // call(name=None), call(rel__name__exact=None); not def f(name=None)
    if (i >= 3 && op(i - 1, "=") && t[i - 2].kind == Token::name && t[i - 2].frame == 'c' &&
        (op(i - 3, "(") || op(i - 3, ",")))
      add_segments(names, t[i - 2].text);
    // obj.name is None, obj.name is not None, obj.name == None, obj.name != None
    if ((word(i - 1, "is") || op(i - 1, "==") || op(i - 1, "!=")) && attribute(i - 2)) names.emplace(t[i - 2].text);
    if (i >= 4 && word(i - 1, "not") && word(i - 2, "is") && attribute(i - 3)) names.emplace(t[i - 3].text);
    // {"name": None}
    if (op(i - 1, ":") && t[i - 2].kind == Token::string && t[i - 2].frame == '{') {
      std::string_view key = plain_name_in(t[i - 2].text);
      if (!key.empty()) names.emplace(key);
    }
  }
  return names;
}

std::set<std::string> names_imported(std::string_view source) {
  std::set<std::string> names;
  std::vector<Token> t = tokenize(source);
  for (size_t i = 0; i < t.size(); ++i) {
    if (!is(t[i], Token::name, "import")) continue;
    size_t k = i + 1;
    if (k < t.size() && is(t[k], Token::op, "(")) ++k;
    while (k < t.size() && t[k].kind == Token::name) {
      // `import a.b` binds a; `from m import A as B` imports A.
      names.emplace(t[k].text);
      ++k;
      while (k + 1 < t.size() && is(t[k], Token::op, ".") && t[k + 1].kind == Token::name) k += 2;
      if (k + 1 < t.size() && is(t[k], Token::name, "as")) k += 2;
      if (k < t.size() && is(t[k], Token::op, ",")) {
        ++k;
        continue;
      }
      break;
    }
  }
  return names;
}

std::set<std::string> default_accessors_read(std::string_view source) {
  std::set<std::string> names;
  std::vector<Token> t = tokenize(source);
  for (size_t i = 1; i < t.size(); ++i) {
    std::string_view word = t[i].text;
    if (t[i].kind == Token::name && is(t[i - 1], Token::op, ".") && word.size() > 4 &&
        word.substr(word.size() - 4) == "_set")
      names.emplace(word);
  }
  return names;
}

namespace {

struct ProjectIndex {
  std::set<std::string> used_with_none;
  std::set<std::string> imported_by_admin;
  std::set<std::string> accessors_read;
};

std::map<std::filesystem::path, ProjectIndex>& known_projects() {
  static std::map<std::filesystem::path, ProjectIndex> known;
  return known;
}

bool admin_module(const std::filesystem::path& relative) {
  if (relative.filename() == "admin.py") return true;
  for (const auto& part : relative.parent_path())
    if (part == "admin") return true;
  return false;
}

const ProjectIndex& project_index(const std::filesystem::path& root) {
  auto& known = known_projects();
  auto found = known.find(root);
  if (found != known.end()) return found->second;
  ProjectIndex& index = known[root];
  std::error_code ec;
  namespace fs = std::filesystem;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_symlink(ec)) continue;
    if (it->is_directory(ec)) {
      if (skipped_folder(it->path())) it.disable_recursion_pending();
      continue;
    }
    if (it->path().extension() != ".py" || !it->is_regular_file(ec)) continue;
    FileBytes content = read_regular_file(it->path(), kSourceFileCap);
    if (!content.bytes) continue;
    index.used_with_none.merge(names_used_with_none(*content.bytes));
    if (admin_module(it->path().lexically_relative(root))) index.imported_by_admin.merge(names_imported(*content.bytes));
    index.accessors_read.merge(default_accessors_read(*content.bytes));
  }
  return index;
}

}  // namespace

const std::set<std::string>& project_names_used_with_none(const std::filesystem::path& root) {
  return project_index(root).used_with_none;
}

const std::set<std::string>& project_names_imported_by_admin(const std::filesystem::path& root) {
  return project_index(root).imported_by_admin;
}

std::filesystem::path index_root_of(const Node& node) {
  std::string root = analysed_project_root();
  if (!root.empty()) return root;
  py::object file = py::getattr(node.root().obj(), ast().file, py::none());
  if (file.is_none() || !py::isinstance<py::str>(file)) return {};
  std::filesystem::path folder = std::filesystem::path(path_bytes(file)).parent_path();
  if (folder.empty() || !is_folder(folder)) return {};
  while (is_file(folder / "__init__.py") && is_file(folder.parent_path() / "__init__.py"))
    folder = folder.parent_path();
  return folder;
}

const std::set<std::string>& project_default_accessors_read(const std::filesystem::path& root) {
  return project_index(root).accessors_read;
}

void forget_project_index() { known_projects().clear(); }

}  // namespace tessary

#include "staticanalysis/helpers/formatting.hpp"

#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>

#include "staticanalysis/helpers/facade.hpp"
#include "staticanalysis/helpers/pyclass.hpp"

namespace tessary::formatting {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.suggest";

std::string strip(const std::string& text, const char* characters = " \t\r\n\f\v") {
  size_t begin = text.find_first_not_of(characters);
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(characters);
  return text.substr(begin, end - begin + 1);
}

bool in_extra_lines(const py::object& atok, const py::object& node) {
  py::object line = py::getattr(node, "lineno", py::none());
  return !line.is_none() && py::dict(atok.attr("extra_line_map")).contains(line);
}

// Trailing comment of the statement's first line, attached once to the
// first rendered node that ends right before it.
std::string handle_comment_suffix(const py::object& self, const py::object& func, const py::object& node) {
  std::string code = py::str(func(node));
  py::object atok = self.attr("atok");
  if (in_extra_lines(atok, node)) return code;
  py::object last = py::getattr(node, "last_token", py::none());
  if (last.is_none()) return code;
  if (py::isinstance(node, ast().Module)) return strip(code);

  py::object next = atok.attr("next_token")(last, py::arg("include_extra") = true);
  py::dict tok_name = py::module_::import("token").attr("tok_name");
  long comment_line = next.attr("start")[py::int_(0)].cast<long>();
  bool is_comment = py::str(tok_name[next.attr("type")]).cast<std::string>() == "COMMENT";
  if (is_comment && comment_line == last.attr("end")[py::int_(0)].cast<long>() &&
      !py::getattr(next, "consumed", py::bool_(false)).cast<bool>()) {
    py::object statement = Node(node).statement().obj();
    py::object first = py::getattr(statement, "first_token", py::none());
    if (!first.is_none() && first.attr("start")[py::int_(0)].cast<long>() == comment_line) {
      next.attr("consumed") = true;
      code += "  " + next.attr("string").cast<std::string>();
    }
  }
  return strip(code);
}

}  // namespace

const py::object& comment_aware_visitor_class() {
  return made_once([] {
    py::object base = py::module_::import("astroid.nodes.as_string").attr("AsStringVisitor");
    py::object cls = make_class("CommentAwareAsStringVisitor", py::make_tuple(base), py::dict(), kModule);
    // Construction stores the token map and hands the rest to the base.
    py::cpp_function setup(
        [base](py::object self, py::object atok, py::kwargs settings) {
          base.attr("__init__")(self, **settings);
          self.attr("atok") = atok;
        },
        py::name("setup"), py::is_method(cls), py::arg("atok"));
    py::setattr(cls, "__init__", setup);
    add_method(cls, "with_comment_decorator", [](py::object self, py::object func) {
      return py::cpp_function([self, func](py::object node) { return handle_comment_suffix(self, func, node); });
    });
    add_method(cls, "visit_call", [base](py::object self, py::object node) -> py::object {
      py::object atok = self.attr("atok");
      if (in_extra_lines(atok, node)) return py::dict(atok.attr("extra_line_map"))[node.attr("lineno")];
      return base.attr("visit_call")(self, node);
    });
    // Every visit_ operation, the base renderer's nested ones included,
    // passes through handle_comment_suffix.
    py::object object_getattribute = py::reinterpret_borrow<py::object>(
        reinterpret_cast<PyObject*>(&PyBaseObject_Type)).attr("__getattribute__");
    add_method(cls, "__getattribute__", [object_getattribute](py::object self, py::str name) -> py::object {
      py::object found = object_getattribute(self, name);
      if (name.cast<std::string>().rfind("visit_", 0) != 0) return found;
      return object_getattribute(self, "with_comment_decorator")(found);
    });
    return cls;
  });
}

std::string node_as_string(const py::object& atok, const py::object& node) {
  py::object visitor = comment_aware_visitor_class()(py::arg("atok") = atok, py::arg("indent") = "    ");
  std::string code = py::str(visitor(node));
  size_t end = code.find_last_not_of(" \t\r\n\f\v");
  code = end == std::string::npos ? "" : code.substr(0, end + 1);
  return strip(code, "\n");
}

QuoteTarget get_comma_character_target(const std::string& source) {
  auto singles = std::count(source.begin(), source.end(), '\'');
  auto doubles = std::count(source.begin(), source.end(), '"');
  if (singles > doubles) return {"\"", "'"};
  return {"'", "\""};
}

namespace {

py::object compile(const std::string& pattern, int flags = 0) {
  return py::module_::import("re").attr("compile")(pattern, flags);
}

py::str sub_twice(const py::object& regex, const std::string& replacement, const py::str& text) {
  return regex.attr("sub")(replacement, regex.attr("sub")(replacement, text));
}

std::string escape_regex(const std::string& text) {
  return py::module_::import("re").attr("escape")(text).cast<std::string>();
}

}  // namespace

// Requote one string literal to the file's habit. The literal keeps its
// quotes when the change would need more backslashes than it has now, when
// it is a raw string whose body holds the target quote, or when an
// f-string field holds a backslash; a triple-single-quoted string becomes
// triple-double-quoted, and a triple-double-quoted one stays.
void normalize_string_quotes(const QuoteTarget& target, const py::object& leaf) {
  // The quote character the file uses less, and the one it uses more.
  const auto& [rarer, habit] = target;
  std::string literal = py::str(leaf.attr("value"));
  std::string prefix_letters = py::module_::import("black.strings").attr("STRING_PREFIX_CHARS").cast<std::string>();
  std::string quoted = literal.substr(std::min(literal.find_first_not_of(prefix_letters), literal.size()));
  std::string current, wanted;
  if (quoted.rfind("\"\"\"", 0) == 0) return;
  if (quoted.rfind("'''", 0) == 0) {
    current = "'''";
    wanted = "\"\"\"";
  } else if (!quoted.empty() && quoted.substr(0, 1) == rarer) {
    current = rarer;
    wanted = habit;
  } else {
    current = habit;
    wanted = rarer;
  }
  size_t opening = literal.find(current);
  if (opening == std::string::npos) return;
  std::string prefix = literal.substr(0, opening);
  // A wanted quote after an even run of backslashes (not escaped), and
  // escaped wanted and current quotes (after an odd run).
  py::object bare_wanted = compile(R"re((([^\\]|^)(\\\\)*))re" + escape_regex(wanted));
  py::object escaped_wanted = compile(R"re(([^\\]|^)\\((?:\\\\)*))re" + escape_regex(wanted));
  py::object escaped_current = compile(R"re(([^\\]|^)\\((?:\\\\)*))re" + escape_regex(current));
  size_t body_start = opening + current.size();
  size_t body_end = literal.size() - current.size();
  std::string body = body_end > body_start ? literal.substr(body_start, body_end - body_start) : "";
  std::string letters = prefix;
  std::transform(letters.begin(), letters.end(), letters.begin(), [](unsigned char c) { return std::tolower(c); });
  std::string requoted_body;
  if (letters.find('r') != std::string::npos) {
    // Nothing can be escaped in a raw string.
    if (!bare_wanted.attr("search")(body).is_none()) return;
    requoted_body = body;
  } else {
    // Drop the escapes the wanted quotes no longer need, then escape what
    // the new delimiters require.
    py::str step = sub_twice(escaped_wanted, "\\1\\2" + wanted, py::str(body));
    if (step.cast<std::string>() != body) {
      body = step;
      leaf.attr("value") = py::str(prefix + current + body + current);
    }
    step = sub_twice(escaped_current, "\\1\\2" + current, step);
    step = sub_twice(bare_wanted, "\\1\\\\" + wanted, step);
    requoted_body = step;
  }
  if (letters.find('f') != std::string::npos) {
    // The expressions between single braces of an f-string may not hold a
    // backslash (before Python 3.12).
    py::object replacement_fields = compile(R"re((?:[^{]|^)\{([^{].*?)\}(?:[^}]|$))re", 0);
    for (py::handle field : replacement_fields.attr("findall")(requoted_body)) {
      if (py::str(field).cast<std::string>().find('\\') != std::string::npos) return;
    }
  }
  if (wanted == "\"\"\"" && !requoted_body.empty() && requoted_body.back() == '"') {
    requoted_body = requoted_body.substr(0, requoted_body.size() - 1) + "\\\"";
  }
  auto backslashes_before = std::count(body.begin(), body.end(), '\\');
  auto backslashes_after = std::count(requoted_body.begin(), requoted_body.end(), '\\');
  if (backslashes_after > backslashes_before) return;
  // At equal cost the file's habit wins.
  if (backslashes_after == backslashes_before && current == habit) return;
  leaf.attr("value") = py::str(prefix + wanted + requoted_body + wanted);
}

std::string requote_strings(const std::string& code, const QuoteTarget& target) {
  py::object io = py::module_::import("io");
  py::object tokenize = py::module_::import("tokenize");
  py::object normalize_prefix = py::module_::import("black.strings").attr("normalize_string_prefix");
  py::object namespace_class = py::module_::import("types").attr("SimpleNamespace");
  int string_type = tokenize.attr("STRING").cast<int>();

  py::list lines = py::str(code).attr("splitlines")(true);
  // Replacements per line, applied right to left so columns stay valid.
  std::vector<std::tuple<long, long, long, long, std::string>> edits;
  py::object reader = io.attr("StringIO")(code).attr("readline");
  for (py::handle token : tokenize.attr("generate_tokens")(reader)) {
    if (token.attr("type").cast<int>() != string_type) continue;
    std::string original = py::str(token.attr("string"));
    py::object leaf = namespace_class(py::arg("value") = normalize_prefix(original));
    normalize_string_quotes(target, leaf);
    std::string requoted = py::str(leaf.attr("value"));
    if (requoted == original) continue;
    edits.emplace_back(token.attr("start")[py::int_(0)].cast<long>(), token.attr("start")[py::int_(1)].cast<long>(),
                       token.attr("end")[py::int_(0)].cast<long>(), token.attr("end")[py::int_(1)].cast<long>(),
                       requoted);
  }
  if (edits.empty()) return code;
  std::vector<std::string> text;
  for (py::handle line : lines) text.push_back(py::str(line).cast<std::string>());
  // Token columns count characters; work on Python text for each edit.
  for (auto it = edits.rbegin(); it != edits.rend(); ++it) {
    auto [start_row, start_col, end_row, end_col, replacement] = *it;
    py::str first(text[start_row - 1]);
    py::str last(text[end_row - 1]);
    py::str head = first[py::slice(0, start_col, 1)];
    py::str tail = last[py::slice(end_col, py::len(last), 1)];
    std::string joined = head.cast<std::string>() + replacement + tail.cast<std::string>();
    text.erase(text.begin() + (start_row - 1), text.begin() + end_row);
    text.insert(text.begin() + (start_row - 1), joined);
  }
  std::string out;
  for (const std::string& line : text) out += line;
  return out;
}

namespace {

std::string format_with(const std::string& code, const std::string& indentation, const py::dict& code_style,
                        const QuoteTarget& target, bool preview) {
  py::object black = py::module_::import("black");
  py::dict settings = code_style.attr("copy")();  // the caller's style stays as it is
  // black's compiled wheels never call a replaced module function, so its
  // own quote normalisation stays off and ours runs on its output.
  settings["string_normalization"] = false;
  settings["preview"] = preview;  // black 22's name for experimental string processing
  py::object warnings = py::module_::import("warnings");
  std::string formatted;
  {
    py::object guard = warnings.attr("catch_warnings")();
    guard.attr("__enter__")();
    try {
      warnings.attr("simplefilter")("ignore");
      py::object mode = black.attr("FileMode")(**settings);
      formatted = py::str(black.attr("format_str")(code, py::arg("mode") = mode));
    } catch (...) {
      guard.attr("__exit__")(py::none(), py::none(), py::none());
      throw;
    }
    guard.attr("__exit__")(py::none(), py::none(), py::none());
  }
  formatted = strip(requote_strings(formatted, target), "\n");
  std::string out;
  size_t position = 0;
  while (position <= formatted.size()) {
    size_t end = formatted.find('\n', position);
    std::string line = formatted.substr(position, end == std::string::npos ? std::string::npos : end - position);
    if (!strip(line).empty()) out += indentation;
    out += line;
    if (end == std::string::npos) break;
    out += '\n';
    position = end + 1;
  }
  return out;
}

}  // namespace

std::string format_code(const std::string& code, const std::string& indentation, const py::dict& code_style,
                        const QuoteTarget& target) {
  return format_with(code, indentation, code_style, target, true);
}

std::string format_code_stable(const std::string& code, const std::string& indentation, const py::dict& code_style,
                               const QuoteTarget& target) {
  return format_with(code, indentation, code_style, target, false);
}

std::string get_indentation(const std::string& code) {
  size_t first = code.find_first_not_of(" \t\r\n\f\v");
  return code.substr(0, first == std::string::npos ? code.size() : first);
}

std::pair<std::string, std::string> read_code_line(const py::list& code_lines, long line_number) {
  std::string line = py::str(code_lines[static_cast<size_t>(line_number - 1)]);
  std::string indentation = get_indentation(line);
  return {line.substr(indentation.size()), indentation};
}

void bind_render(py::module_& m) {
  m.attr("CommentAwareAsStringVisitor") = comment_aware_visitor_class();
  m.def("node_as_string", &node_as_string, py::arg("atok"), py::arg("node"));
  m.def("get_comma_character_target", &get_comma_character_target, py::arg("source"));
  m.def("format_code", &format_code, py::arg("code"), py::arg("indentation"), py::arg("code_style"),
        py::arg("comma_character_target"));
  m.def("normalize_string_quotes", &normalize_string_quotes, py::arg("comma_character_target"), py::arg("leaf"));
  m.def("get_indentation", &get_indentation, py::arg("code"));
  m.def("read_code_line", &read_code_line, py::arg("code_lines"), py::arg("line_number"));
}

}  // namespace tessary::formatting

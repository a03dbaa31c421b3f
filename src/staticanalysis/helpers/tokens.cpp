#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/read_file.hpp"
#include "staticanalysis/helpers/scan.hpp"

#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <unordered_map>

namespace tessary {

namespace {

// astroid's own statement-by-line search (class and def lines count as
// the keyword's line, decorators excluded).
Node statement_at_line(const Node& tree, long line) {
  static const char* kFinder = "_find_statement_by_line";
  py::object finder = py::module_::import("astroid.builder").attr(kFinder);
  return Node(finder(tree.obj(), line));
}

Node placeholder_call(const std::string& text) {
  return Node(ast().extract_node("print(\"" + text + "\")"));
}

// The node astroid's statement-by-line search finds for each line: the
// first, in a depth-first walk with parents first, whose line (the class
// or def line for definitions) is that line. Built once per token map so
// that placing every blank line and comment stays linear.
class LineIndex {
 public:
  explicit LineIndex(const Node& tree) {
    std::vector<py::object> stack{tree.obj()};
    while (!stack.empty()) {
      py::object node = stack.back();
      stack.pop_back();
      remember(node);
      std::vector<py::object> children;
      for (py::handle child : node.attr("get_children")()) children.push_back(py::reinterpret_borrow<py::object>(child));
      for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
    }
  }

  void remember(const py::object& node) {
    const Astroid& a = ast();
    bool definition = py::isinstance(node, a.ClassDef) || py::isinstance(node, a.FunctionDef) ||
                      py::isinstance(node, match_case());
    py::object line = py::getattr(node, definition ? a.fromlineno : a.lineno, py::none());
    if (line.is_none()) return;
    lines_.try_emplace(line.cast<long>(), node);
  }

  // find_node_parent, answered from the index.
  Node parent_for(const Node& tree, long line) const {
    for (; line >= 0; --line) {
      auto found = lines_.find(line);
      if (found == lines_.end()) continue;
      return Node(Node(found->second).statement().obj().attr("scope")());
    }
    return tree;
  }

 private:
  static const py::object& match_case() {
    return made_once([] { return py::object(py::module_::import("astroid.nodes").attr("MatchCase")); });
  }
  std::unordered_map<long, py::object> lines_;
};

// add_node with the parent taken from the index.
void place(const Node& tree, LineIndex& index, const Node& node, long line_number) {
  const Astroid& a = ast();
  Node parent = index.parent_for(tree, line_number);
  py::setattr(node.obj(), a.lineno, py::int_(line_number));
  py::list body = parent.get(a.body);
  body.append(node.obj());
  py::setattr(node.obj(), a.parent, parent.obj());
  body.attr("sort")(py::arg("key") = py::module_::import("operator").attr("attrgetter")("lineno"));
  index.remember(node.obj());
}

}  // namespace

py::object build_token_tree(const std::string& source, const std::string& modname, py::object absolute_path) {
  py::object tree = ast().builder_class().attr("string_build")(source, py::arg("modname") = path_str(modname),
                                                             py::arg("path") = absolute_path);
  return py::module_::import("asttokens").attr("ASTTokens")(source, py::arg("tree") = tree);
}

py::object build_atok(const std::string& source, const std::string& modname,
                      py::object absolute_path) {
  py::object atok = build_token_tree(source, modname, std::move(absolute_path));
  py::dict extra_line_map;
  atok.attr("extra_line_map") = extra_line_map;

  py::dict tok_name = py::module_::import("token").attr("tok_name");
  Node module(atok.attr("tree"));
  LineIndex index(module);
  for (py::handle token : atok.attr("tokens")) {
    std::string kind = py::str(tok_name[token.attr("type")]);
    long line_number = token.attr("start")[py::int_(0)].cast<long>();
    if (kind == "NL" && token.attr("line").cast<std::string>() == "\n") {
      place(module, index, placeholder_call(""), line_number);
      extra_line_map[py::int_(line_number)] = py::str("");
    } else if (kind == "COMMENT") {
      py::object previous = atok.attr("prev_token")(token);
      if (previous.attr("start")[py::int_(0)].cast<long>() == line_number) continue;
      std::string comment = token.attr("string").cast<std::string>();
      std::string escaped = comment;
      std::replace(escaped.begin(), escaped.end(), '"', '\'');
      Node node;
      try {
        node = placeholder_call(escaped);
      } catch (py::error_already_set&) {
        // A comment that cannot sit between the quotes (a trailing
        // backslash) gets no placeholder.
        continue;
      }
      place(module, index, node, line_number);
      extra_line_map[py::int_(line_number)] = py::str(comment);
    }
  }
  return atok;
}

Node find_node_parent(const Node& tree, long line) {
  for (; line >= 0; --line) {
    Node found = statement_at_line(tree, line);
    if (found.is_none()) continue;
    Node statement = found.statement();
    return Node(statement.obj().attr("scope")());
  }
  return tree;
}

void add_node(const Node& tree, const Node& node, long line_number) {
  const Astroid& a = ast();
  Node parent = find_node_parent(tree, line_number);
  py::setattr(node.obj(), a.lineno, py::int_(line_number));
  py::list body = parent.get(a.body);
  body.append(node.obj());
  py::setattr(node.obj(), a.parent, parent.obj());
  py::object key = py::module_::import("operator").attr("attrgetter")("lineno");
  body.attr("sort")(py::arg("key") = key);
}

Node find_node_by_position(const Node& tree, long line) {
  Node found = statement_at_line(tree, line);
  if (found.is_none()) return found;
  return found.statement();
}

void preserve_metadata(const Node& new_node, const Node& old_node) {
  const Astroid& a = ast();
  py::object lineno = old_node.get(a.lineno);
  py::object walk = py::module_::import("asttokens.util").attr("walk");
  for (py::handle n : walk(new_node.obj())) py::setattr(n, a.lineno, lineno);
  for (const py::str& field : {a.first_token, a.last_token, a.col_offset, a.parent}) {
    py::setattr(new_node.obj(), field, py::getattr(old_node.obj(), field, py::none()));
  }
}

std::string module_path_from_file(const std::string& path) {
  py::object modutils = py::module_::import("astroid.modutils");
  py::cpp_function always([](py::args) { return true; });
  py::list parts = modutils.attr("modpath_from_file_with_callback")(path, py::none(), always);
  return py::str(".").attr("join")(parts).cast<std::string>();
}

std::vector<std::string> split_at(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t begin = 0;
  for (size_t end; (end = text.find(separator, begin)) != std::string::npos; begin = end + 1)
    pieces.push_back(text.substr(begin, end - begin));
  pieces.push_back(text.substr(begin));
  return pieces;
}

std::string module_name(std::string path) {
  for (size_t at = path.find(".py"); at != std::string::npos; at = path.find(".py")) path.erase(at, 3);
  std::replace(path.begin(), path.end(), '/', '.');
  return path;
}

py::list read_code_from_file(const std::string& path) {
  // Python sources are UTF-8 unless they say otherwise; the platform's
  // default encoding is not a property of the file.
  py::object io = py::module_::import("io");
  py::object handle = io.attr("open")(path, "r", py::arg("encoding") = "utf-8");
  py::list lines;
  try {
    lines = handle.attr("readlines")();
  } catch (...) {
    handle.attr("close")();
    throw;
  }
  handle.attr("close")();
  return lines;
}

std::optional<py::str> read_utf8_file(const std::string& path) {
  FileBytes read = read_regular_file(path, kSourceFileCap);
  if (!read.bytes) {
    PyErr_SetString(PyExc_OSError, (path + ": " + read.problem).c_str());
    throw py::error_already_set();
  }
  std::string bytes = std::move(*read.bytes);
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict");
  if (text == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return py::reinterpret_steal<py::str>(text);
}

namespace {

// "byte 0xff at line 3, column 7" for the failing byte of a decode.
std::string where_decoding_failed(const std::string& bytes, py::error_already_set& err) {
  long start = py::getattr(err.value(), "start", py::int_(0)).cast<long>();
  long line = 1, column = 1;
  for (long i = 0; i < start && i < static_cast<long>(bytes.size()); ++i) {
    if (bytes[static_cast<size_t>(i)] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02x", static_cast<unsigned char>(bytes[static_cast<size_t>(start)]));
  return "byte " + std::string(hex) + " at line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

SourceText read_source_text(const std::string& path, SourceKind kind) {
  SourceText out;
  FileBytes read = read_regular_file(path, kSourceFileCap);
  if (!read.bytes) {
    out.problem = as_reason(read.problem);
    return out;
  }
  std::string bytes = std::move(*read.bytes);
  py::bytes data(bytes);
  out.raw = bytes;
  if (kind == SourceKind::python) {
    try {
      py::object reader = py::module_::import("io").attr("BytesIO")(data).attr("readline");
      out.encoding = py::str(py::module_::import("tokenize").attr("detect_encoding")(reader)[py::int_(0)]);
    } catch (py::error_already_set& err) {
      if (!err.matches(PyExc_SyntaxError)) throw;
      std::string message = py::str(err.value());
      if (message.rfind("invalid or missing encoding declaration", 0) != 0) {
        out.problem = "its coding line is wrong: " + message;
        return out;
      }
      // No coding line, and the first lines are not UTF-8: say where.
      out.encoding = "utf-8";
    }
  } else {
    out.encoding = "utf-8-sig";
  }
  try {
    out.text = py::str(data.attr("decode")(out.encoding));
  } catch (py::error_already_set& err) {
    if (!err.matches(PyExc_UnicodeDecodeError)) throw;
    std::string name = out.encoding.rfind("utf-8", 0) == 0 ? "UTF-8" : out.encoding;
    out.problem = "it is not valid " + name + " text (" + where_decoding_failed(bytes, err) + ")";
  }
  return out;
}

std::string python_text_encoding(const std::string& text) {
  // PEP 263: a comment on line 1 or 2 that names the encoding; line 2 only
  // when line 1 is a comment or blank.
  static const std::regex cookie(R"(^[ \t\f]*#.*?coding[:=][ \t]*([-\w.]+))");
  // Only the start of a line is searched (see scan.hpp): a cookie is short.
  size_t first_end = text.find('\n');
  std::string first = text.substr(0, std::min(first_end, kLongestPiece));
  std::smatch match;
  if (std::regex_search(first, match, cookie)) return match[1].str();
  if (first_end == std::string::npos) return "utf-8";
  std::string stripped = first.substr(std::min(first.find_first_not_of(" \t\f\r"), first.size()));
  if (!stripped.empty() && stripped[0] != '#') return "utf-8";
  size_t second_end = text.find('\n', first_end + 1);
  std::string second = text.substr(first_end + 1, std::min(second_end == std::string::npos ? std::string::npos
                                                                                            : second_end - first_end - 1,
                                                           kLongestPiece));
  if (std::regex_search(second, match, cookie)) return match[1].str();
  return "utf-8";
}

std::optional<double> get_middleware_position(const std::vector<std::string>& middlewares,
                                              const std::string& middleware) {
  auto it = std::find(middlewares.begin(), middlewares.end(), middleware);
  if (it == middlewares.end()) return std::nullopt;
  double position = static_cast<double>(it - middlewares.begin());
  return 100.0 / static_cast<double>(middlewares.size()) * position;
}

py::str normalize_django_template(const py::str& template_content) {
  // Collapse every run of Unicode white space into one blank, as \s+ does.
  Py_ssize_t length = PyUnicode_GetLength(template_content.ptr());
  std::u32string out;
  out.reserve(static_cast<size_t>(length));
  bool in_space = false;
  for (Py_ssize_t i = 0; i < length; ++i) {
    Py_UCS4 ch = PyUnicode_ReadChar(template_content.ptr(), i);
    if (Py_UNICODE_ISSPACE(ch)) {
      if (!in_space) out.push_back(U' ');
      in_space = true;
    } else {
      out.push_back(ch);
      in_space = false;
    }
  }
  return py::reinterpret_steal<py::str>(
      PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, out.data(), static_cast<Py_ssize_t>(out.size())));
}

}  // namespace tessary

// The bridge between syntax tree and source text: token maps, nodes by
// line, position copying, and small file and text utilities.
#pragma once

#include "staticanalysis/helpers/facade.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tessary {

// asttokens' ASTTokens over the astroid tree of `source`: every node knows
// its first and last token.
py::object build_token_tree(const std::string& source, const std::string& modname, py::object absolute_path);
// The same, with `extra_line_map` of blank and comment lines and a
// placeholder print("...") node at each of them, for renderings that
// keep them.
py::object build_atok(const std::string& source, const std::string& modname = "",
                      py::object absolute_path = py::none());
void add_node(const Node& tree, const Node& node, long line_number);
Node find_node_by_position(const Node& tree, long line);
Node find_node_parent(const Node& tree, long line);
void preserve_metadata(const Node& new_node, const Node& old_node);
std::string module_path_from_file(const std::string& path);
// The dotted module name the linters give a project path: every ".py"
// removed, then "/" turned into "." (app/models.py is app.models).
std::string module_name(std::string relative_path);
py::list read_code_from_file(const std::string& path);
// A file's text when it is valid UTF-8; nullopt when it does not decode.
// A file that cannot be opened raises OSError.
std::optional<py::str> read_utf8_file(const std::string& path);

// A source file read as text the way its reader reads it: a Python module
// in the encoding its PEP 263 coding line or UTF-8 byte-order mark names
// (UTF-8 otherwise), a template in UTF-8 as Django reads it (a UTF-8
// byte-order mark is allowed). `problem` says in one line why it could
// not be read, and then `text` is empty.
struct SourceText {
  std::optional<py::str> text;
  std::string encoding;  // the codec it was decoded with ("utf-8-sig" keeps the mark out of the text)
  std::string problem;
  std::string raw;  // the bytes read, as they are on disk
};
enum class SourceKind { python, html };
SourceText read_source_text(const std::string& path, SourceKind kind);
// The encoding to write a Python text back in: the one its own coding line
// names, else UTF-8 (a leading U+FEFF is written as the UTF-8 mark).
std::string python_text_encoding(const std::string& text);

// The pieces of `text` between separators (one more than there are
// separators: "a\n" gives "a" and "").
std::vector<std::string> split_at(const std::string& text, char separator = '\n');

std::optional<double> get_middleware_position(const std::vector<std::string>& middlewares,
                                              const std::string& middleware);
py::str normalize_django_template(const py::str& template_content);

}  // namespace tessary

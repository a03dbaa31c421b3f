#include "staticanalysis/checker/comment_tokens.hpp"

#include <cctype>
#include <string>

#include "staticanalysis/helpers/facade.hpp"

namespace tessary::checker {

namespace {

struct Kinds {
  py::object token_info;
  int encoding, comment, nl, newline, other, endmarker;
};

const Kinds& kinds() {
  return made_once([] {
    py::module_ tokenize = py::module_::import("tokenize");
    return Kinds{tokenize.attr("TokenInfo"),          tokenize.attr("ENCODING").cast<int>(),
                 tokenize.attr("COMMENT").cast<int>(), tokenize.attr("NL").cast<int>(),
                 tokenize.attr("NEWLINE").cast<int>(), tokenize.attr("OP").cast<int>(),
                 tokenize.attr("ENDMARKER").cast<int>()};
  });
}

bool word_character(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

// Whether `prefix` may open a string literal: r, u, b, f, or two of them
// as the language allows, in either case.
bool string_prefix(std::string_view prefix) {
  std::string lower;
  for (char c : prefix) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.empty() || lower == "r" || lower == "u" || lower == "b" || lower == "f" || lower == "br" ||
         lower == "rb" || lower == "fr" || lower == "rf";
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  std::optional<py::list> run() {
    const Kinds& k = kinds();
    emit(k.encoding, "utf-8", 0, 0, "");
    size_t line_start = 0;
    long line_number = 0;
    std::string_view last_line;
    while (line_start < text_.size()) {
      size_t end = text_.find('\n', line_start);
      size_t next = end == std::string_view::npos ? text_.size() : end + 1;
      std::string_view line = text_.substr(line_start, next - line_start);
      ++line_number;
      if (!read_line(line, line_number)) return std::nullopt;
      if (stopped_) break;
      last_line = line;
      line_start = next;
    }
    if (in_string_ || depth_ > 0 || continued_) return std::nullopt;
    // The tokenizer's own ending: a NEWLINE when the text does not end
    // with one (unless its last line is a comment), then its end marker.
    long end_line = line_number + (stopped_ ? 0 : 1);
    if (!stopped_ && !last_line.empty() && last_line.back() != '\n' && last_line.back() != '\r' &&
        !starts_comment(last_line))
      emit(k.newline, "", end_line - 1, static_cast<long>(last_line.size()), "");
    emit(k.endmarker, "", end_line, 0, "");
    return tokens_;
  }

 private:
  static bool starts_comment(std::string_view line) {
    size_t first = line.find_first_not_of(" \r\n\v");
    return first != std::string_view::npos && line[first] == '#';
  }

  // Another token starting on the line: one stands for all of a run.
  void other(long line, std::string_view text, size_t at) {
    if (last_other_line_ == line) return;
    emit(kinds().other, "", line, column(text, at), "");
  }

  void emit(int type, std::string_view string, long line, long column, std::string_view physical) {
    const Kinds& k = kinds();
    last_other_line_ = type == k.other ? line : -1;
    py::str text(string.data(), string.size());
    tokens_.append(k.token_info(type, text, py::make_tuple(line, column),
                                py::make_tuple(line, column + static_cast<long>(string.size())),
                                py::str(physical.data(), physical.size())));
  }

  // A column as the tokenizer counts it: in characters, not bytes.
  static long column(std::string_view line, size_t at) {
    long characters = 0;
    for (size_t i = 0; i < at; ++i)
      if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++characters;
    return characters;
  }

  // One physical line; false when it is not what a valid module holds.
  bool read_line(std::string_view line, long number) {
    const Kinds& k = kinds();
    size_t at = 0;
    if (in_string_) {
      if (!finish_string(line, at)) return triple_ || ends_continued(line);  // the string goes on
      in_string_ = false;
    } else if (depth_ == 0 && !continued_) {
      // A new statement: blank lines and lines of only a comment are NL.
      while (at < line.size() && line[at] == ' ') ++at;
      if (at == line.size()) {
        stopped_ = true;  // blanks without an end of line: the tokenizer stops
        return true;
      }
      if (line[at] == '#' || line[at] == '\r' || line[at] == '\n') {
        if (line[at] == '#') {
          size_t end = line.find_first_of("\r\n", at);
          if (end == std::string_view::npos) end = line.size();
          emit(k.comment, line.substr(at, end - at), number, column(line, at), line);
          at = end;
        }
        emit(k.nl, line.substr(at), number, column(line, at), line);
        return true;
      }
    } else {
      continued_ = false;
    }
    while (at < line.size()) {
      char c = line[at];
      if (c == ' ') {
        ++at;
      } else if (c == '#') {
        size_t end = line.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = line.size();
        emit(k.comment, line.substr(at, end - at), number, column(line, at), line);
        at = end;
      } else if (c == '\n' || (c == '\r' && at + 1 < line.size() && line[at + 1] == '\n')) {
        emit(depth_ > 0 ? k.nl : k.newline, line.substr(at), number, column(line, at), line);
        at = line.size();
      } else if (c == '\\') {
        std::string_view rest = line.substr(at + 1);
        if (rest != "\n" && rest != "\r\n") return false;
        continued_ = true;
        at = line.size();
      } else if (c == '\'' || c == '"') {
        if (!open_string(line, at, at, number)) return false;
        if (in_string_) return true;
      } else if (word_character(c)) {
        size_t start = at;
        while (at < line.size() && word_character(line[at])) ++at;
        if (at < line.size() && (line[at] == '\'' || line[at] == '"') &&
            string_prefix(line.substr(start, at - start)) && std::isalpha(static_cast<unsigned char>(line[start]))) {
          if (!open_string(line, start, at, number)) return false;
          if (in_string_) return true;
        } else {
          other(number, line, start);
        }
      } else {
        if (c == '(' || c == '[' || c == '{') ++depth_;
        if (c == ')' || c == ']' || c == '}') --depth_;
        other(number, line, at);
        ++at;
      }
    }
    return true;
  }

  // A string literal starting at `start` (its prefix) with its quote at
  // `quote`; it may end on a later line.
  bool open_string(std::string_view line, size_t start, size_t& at, long number) {
    other(number, line, start);
    char q = line[at];
    triple_ = line.substr(at, 3) == std::string(3, q);
    quote_ = q;
    at += triple_ ? 3 : 1;
    if (finish_string(line, at)) return true;
    // A one-quoted string goes on to the next line only after a backslash.
    if (!triple_ && !ends_continued(line)) return false;
    in_string_ = true;
    return true;
  }

  static bool ends_continued(std::string_view line) {
    auto ends = [&](std::string_view tail) {
      return line.size() >= tail.size() && line.substr(line.size() - tail.size()) == tail;
    };
    return ends("\\\n") || ends("\\\r\n");
  }

  // Reads on from `at` to the end of the open string; false when the line
  // ends first.
  bool finish_string(std::string_view line, size_t& at) {
    while (at < line.size()) {
      char c = line[at];
      if (c == '\\') {
        at += 2;
        continue;
      }
      if (c == quote_) {
        if (!triple_) {
          ++at;
          return true;
        }
        if (line.substr(at, 3) == std::string(3, quote_)) {
          at += 3;
          return true;
        }
      } else if (c == '\n' && !triple_) {
        return false;
      }
      ++at;
    }
    if (at > line.size()) at = line.size();
    return false;
  }

  std::string_view text_;
  py::list tokens_;
  long last_other_line_ = -1;
  int depth_ = 0;
  bool continued_ = false, in_string_ = false, triple_ = false, stopped_ = false;
  char quote_ = '"';
};

// Whether every coding declaration in the first two lines names UTF-8
// (most that name any do), so that the text reads as it would without one.
bool declares_utf8_only(std::string_view head) {
  for (size_t at = head.find("coding"); at != std::string_view::npos; at = head.find("coding", at + 1)) {
    size_t value = at + 6;
    if (value >= head.size() || (head[value] != ':' && head[value] != '=')) return false;
    ++value;
    while (value < head.size() && head[value] == ' ') ++value;
    std::string name;
    while (value < head.size() && (word_character(head[value]) || head[value] == '-' || head[value] == '.'))
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(head[value++])));
    if (name != "utf-8" && name != "utf8") return false;
  }
  return true;
}

}  // namespace

std::optional<py::list> comment_tokens(std::string_view text) {
  // Read plainly as UTF-8 only; what else the tokenizer does is its own.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") return std::nullopt;
  for (char c : text)
    if (c == '\t' || c == '\f' || c == '\v' || c == '\0') return std::nullopt;
  for (size_t at = text.find('\r'); at != std::string_view::npos; at = text.find('\r', at + 1))
    if (at + 1 >= text.size() || text[at + 1] != '\n') return std::nullopt;
  size_t second = text.find('\n');
  second = second == std::string_view::npos ? text.size() : text.find('\n', second + 1);
  if (!declares_utf8_only(text.substr(0, second == std::string_view::npos ? text.size() : second)))
    return std::nullopt;
  PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
  if (!decoded) {
    PyErr_Clear();
    return std::nullopt;
  }
  Py_DECREF(decoded);
  return Lexer(text).run();
}

}  // namespace tessary::checker

#include "staticanalysis/transformer/text.hpp"

#include <pybind11/stl.h>

#include <algorithm>
#include <sstream>
#include <tuple>

#include "staticanalysis/helpers/tokens.hpp"

namespace tessary::transformer {

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

std::vector<long> line_starts(const py::str& text) {
  std::vector<long> starts{0};
  int kind = PyUnicode_KIND(text.ptr());
  const void* data = PyUnicode_DATA(text.ptr());
  Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
  for (Py_ssize_t i = 0; i < length; ++i) {
    if (PyUnicode_READ(kind, data, i) == '\n') starts.push_back(static_cast<long>(i + 1));
  }
  return starts;
}

LinedText::LinedText(const py::str& whole) : text(whole), starts(line_starts(whole)), lines(whole.attr("split")("\n")) {}

py::str slice(const py::str& text, long start, long end) { return text[py::slice(start, end, 1)]; }

long display_width(const py::str& line) { return static_cast<long>(PyUnicode_GetLength(line.ptr())); }


long line_at(const std::vector<long>& starts, long offset) {
  return static_cast<long>(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin());
}

long SplicedText::moved(long offset, bool inclusive_end) const {
  long shifted = offset;
  for (const Applied& edit : applied)
    if (edit.start < offset || (inclusive_end && edit.start == offset)) shifted += edit.delta;
  return shifted;
}

SplicedText splice_text(const py::str& text, const std::vector<TextSplice>& splices) {
  // Right to left, so that earlier offsets stay valid; at one offset a
  // removal goes before an insertion.
  std::vector<size_t> order(splices.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
    const TextSplice &a = splices[x], &b = splices[y];
    return a.start != b.start ? a.start > b.start : a.end > b.end;
  });
  SplicedText out{text, {}};
  for (size_t index : order) {
    const TextSplice& splice = splices[index];
    out.applied.push_back({index, splice.start, splice.end, display_width(py::str(splice.text)) - (splice.end - splice.start)});
  }
  // Applied right to left, splices that do not overlap (but for one
  // insertion where a removal starts) give the pieces of the text left to
  // right in the reverse order: one pass, however many there are.
  py::list pieces;
  long cursor = 0;
  bool disjoint = true;
  for (auto it = order.rbegin(); it != order.rend() && disjoint; ++it) {
    const TextSplice& splice = splices[*it];
    if (splice.start < cursor || splice.end < splice.start) {
      disjoint = false;
      break;
    }
    pieces.append(slice(text, cursor, splice.start));
    pieces.append(py::str(splice.text));
    cursor = splice.end;
  }
  if (disjoint) {
    pieces.append(slice(text, cursor, display_width(text)));
    out.text = py::str("").attr("join")(pieces);
    return out;
  }
  for (size_t index : order) {
    const TextSplice& splice = splices[index];
    out.text = py::str(slice(out.text, 0, splice.start).cast<std::string>() + splice.text +
                       slice(out.text, splice.end, display_width(out.text)).cast<std::string>());
  }
  return out;
}

namespace {

std::string lines_text(const py::list& all, long first, long last) {
  std::string out;
  for (long line = first; line <= last; ++line) out += py::str(all[static_cast<size_t>(line - 1)]).cast<std::string>() + "\n";
  return out;
}

bool any_too_long(const py::list& all, long first, long last, long line_length) {
  for (long line = first; line <= last; ++line)
    if (display_width(all[static_cast<size_t>(line - 1)]) > line_length) return true;
  return false;
}

}  // namespace

std::optional<Reformat> reformat_statement(const py::str& original, const py::str& text, const StatementSpan& span,
                                           const py::dict& code_style, const formatting::QuoteTarget& quotes) {
  return reformat_statement(LinedText(original), LinedText(text), span, code_style, quotes);
}

std::optional<Reformat> reformat_statement(const LinedText& original_text, const LinedText& new_text,
                                           const StatementSpan& span, const py::dict& code_style,
                                           const formatting::QuoteTarget& quotes) {
  long line_length = code_style.contains("line_length") ? code_style["line_length"].cast<long>() : 88;
  const py::str& text = new_text.text;
  const std::vector<long>&starts = new_text.starts, &original_starts = original_text.starts;
  const py::list &lines = new_text.lines, &original_lines = original_text.lines;
  auto format = [&](const std::string& code, const std::string& indentation) -> std::optional<std::string> {
    py::dict style = code_style.attr("copy")();  // the caller's style stays as it is
    style["line_length"] = std::max(1L, line_length - static_cast<long>(indentation.size()));
    std::string dedented;
    std::istringstream in(code);
    for (std::string line; std::getline(in, line);)
      dedented += (line.rfind(indentation, 0) == 0 ? line.substr(indentation.size()) : line) + "\n";
    try {
      return formatting::format_code_stable(dedented, indentation, style, quotes) + "\n";
    } catch (py::error_already_set&) {
      return std::nullopt;  // black cannot take the statement alone
    }
  };
  long first = line_at(starts, span.start), last = line_at(starts, std::max(span.start, span.end - 1));
  long old_first = line_at(original_starts, span.old_start);
  long old_last = line_at(original_starts, std::max(span.old_start, span.old_end - 1));
  // Only a statement that owns its lines is reformatted.
  std::string before = slice(text, starts[first - 1], span.start);
  std::string after =
      slice(text, span.end, last < static_cast<long>(starts.size()) ? starts[last] - 1 : display_width(text));
  std::string rest = after.substr(std::min(after.find_first_not_of(" \t"), after.size()));
  if (before.find_first_not_of(" \t") != std::string::npos) return std::nullopt;
  // An element of a list on lines of its own (a migration's operation)
  // ends in a comma: it is formatted alone and the comma put back.
  std::string suffix;
  if (!rest.empty() && rest[0] == ',') {
    std::string behind = rest.substr(1);
    behind = behind.substr(std::min(behind.find_first_not_of(" \t"), behind.size()));
    if (!behind.empty() && behind[0] != '#') return std::nullopt;
    suffix = after;
  } else if (!(rest.empty() || rest[0] == '#')) {
    return std::nullopt;
  }
  auto without_suffix = [&](std::string block) -> std::optional<std::string> {
    if (suffix.empty()) return block;
    // The block ends "<suffix>\n".
    if (block.size() < suffix.size() + 1 || block.compare(block.size() - suffix.size() - 1, suffix.size(), suffix) != 0)
      return std::nullopt;
    return block.substr(0, block.size() - suffix.size() - 1) + "\n";
  };
  std::string indentation = formatting::get_indentation(py::str(lines[static_cast<size_t>(first - 1)]));
  std::optional<std::string> was = without_suffix(lines_text(original_lines, old_first, old_last));
  std::optional<std::string> now = without_suffix(lines_text(lines, first, last));
  if (!was || !now) return std::nullopt;
  bool black_formatted = format(*was, indentation) == was;
  bool made_too_long = any_too_long(lines, first, last, line_length) &&
                       !any_too_long(original_lines, old_first, old_last, line_length);
  if (!black_formatted && !made_too_long) return std::nullopt;
  std::optional<std::string> formatted = format(*now, indentation);
  if (!formatted || *formatted == *now) return std::nullopt;
  return Reformat{first, last, formatted->substr(0, formatted->size() - 1) + suffix};
}

bool too_long(const LinedText& text, long start, long end, const py::dict& code_style) {
  long length = code_style.contains("line_length") ? code_style["line_length"].cast<long>() : 88;
  long first = line_at(text.starts, start), last = line_at(text.starts, std::max(start, end - 1));
  return any_too_long(text.lines, first, last, length);
}

py::dict file_code_style(const LinedText& original, const py::dict& code_style,
                         const formatting::QuoteTarget& quotes) {
  long configured = code_style.contains("line_length") ? code_style["line_length"].cast<long>() : 88;
  long longest = 0;
  for (py::handle line : original.lines) longest = std::max(longest, display_width(py::str(line)) - 1);
  if (longest <= configured) return code_style;
  auto formatted_at = [&](long length) {
    py::dict style = code_style.attr("copy")();
    style["line_length"] = length;
    try {
      // (the formatted text comes without its last line end)
      return formatting::format_code_stable(original.text.cast<std::string>(), "", style, quotes) + "\n" ==
             original.text.cast<std::string>();
    } catch (py::error_already_set&) {
      return false;  // black cannot take the file: no evidence either way
    }
  };
  if (formatted_at(configured)) return code_style;  // long strings or comments black leaves alone
  for (long length : {99L, 100L, 110L, 119L, 120L}) {
    if (length < longest || length <= configured) continue;
    if (formatted_at(length)) {
      py::dict style = code_style.attr("copy")();
      style["line_length"] = length;
      return style;
    }
    break;  // only the first length that fits every line is tried
  }
  return code_style;
}

py::str apply_reformats(const py::str& text, std::vector<Reformat> reformats) {
  py::list lines = text.attr("split")("\n");
  std::sort(reformats.begin(), reformats.end(), [](const Reformat& x, const Reformat& y) { return x.first > y.first; });
  for (const Reformat& reformat : reformats)
    lines[py::slice(reformat.first - 1, reformat.last, 1)] = py::str(reformat.text).attr("split")("\n");
  return py::str("\n").attr("join")(lines);
}

std::optional<std::string> parse_problem(const std::string& text) {
  // Parsing only: warnings about the project's own escapes are not ours.
  py::object warnings = py::module_::import("warnings");
  py::object guard = warnings.attr("catch_warnings")();
  guard.attr("__enter__")();
  warnings.attr("simplefilter")("ignore");
  std::optional<std::string> problem;
  try {
    py::module_::import("ast").attr("parse")(text);
  } catch (py::error_already_set& err) {
    problem = py::str(err.value()).cast<std::string>();
  }
  guard.attr("__exit__")(py::none(), py::none(), py::none());
  return problem;
}

void bind_text(py::module_& m) {
  // The text layer, for tests and tools: no linter involved.
  m.def(
      "splice_text",
      [](const py::str& text, const std::vector<std::tuple<long, long, std::string>>& splices) {
        std::vector<TextSplice> all;
        for (const auto& [start, end, replacement] : splices) all.push_back({start, end, replacement});
        return splice_text(text, all).text;
      },
      py::arg("text"), py::arg("splices"));
  m.def(
      "respell",
      [](const std::string& original, const std::string& fixed_plain) {
        Spelling spelling;
        std::string plain = to_plain(original, spelling);
        return py::make_tuple(plain, from_plain(plain, fixed_plain, spelling));
      },
      py::arg("original"), py::arg("fixed_plain"),
      "(the original as the fixer reads it, `fixed_plain` written back in the original's line endings and mark)");
  m.def(
      "reformat_statement",
      [](const py::str& original, const py::str& text, long old_start, long old_end, long start, long end,
         const py::dict& code_style) {
        std::optional<Reformat> reformat = reformat_statement(
            original, text, {old_start, old_end, start, end}, code_style,
            formatting::get_comma_character_target(original.cast<std::string>()));
        if (!reformat) return py::object(py::none());
        return py::object(apply_reformats(text, {*reformat}));
      },
      py::arg("original"), py::arg("text"), py::arg("old_start"), py::arg("old_end"), py::arg("start"),
      py::arg("end"), py::arg("code_style"));
  m.def("parse_problem", &parse_problem, py::arg("text"));
}

}  // namespace tessary::transformer

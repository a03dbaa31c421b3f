// The fix of C7001: a static file written as a site path under the static
// prefix becomes the static template tag, and the template loads the tag
// library when it does not yet.
//
// The HTML parser finds the attributes; the rewrite touches only their
// values, located in the start tag's own text with the parser's own
// attribute pattern, so text content, comments and other attributes that
// happen to hold the same URL stay as written.
#include <pybind11/stl.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "staticanalysis/checkers/templates/templates.hpp"
#include "staticanalysis/helpers/pyclass.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/scan.hpp"

namespace tessary::templates {

namespace {

constexpr const char* kModule = "tessary.staticanalysis.checkers.templates";

// One attribute a collector found: where its tag starts, the tag's text as
// written, and the attribute's position among the tag's attributes.
void note_attribute(const py::object& self, long ordinal) {
  py::tuple position = self.attr("getpos")();
  self.attr("found").attr("append")(
      py::make_tuple(position[0], position[1], self.attr("get_starttag_text")(), ordinal));
}

void collect_link(py::object self, py::object attrs) {
  long ordinal = 0;
  for (py::handle pair : attrs) {
    py::object name = pair[py::int_(0)], value = pair[py::int_(1)];
    if (name.cast<std::string>() == "href" && py::isinstance<py::str>(value)) {
      std::string text = py::str(value);
      if (!text.empty() && text[0] == '/') {
        self.attr("results").attr("append")(value);
        note_attribute(self, ordinal);
      }
    }
    ++ordinal;
  }
}

void collect_src(py::object self, py::object attrs) {
  long ordinal = 0;
  for (py::handle pair : attrs) {
    py::object name = pair[py::int_(0)], value = pair[py::int_(1)];
    if (name.cast<std::string>() == "src" && !value.is_none()) {
      self.attr("results").attr("append")(value);
      note_attribute(self, ordinal);
    }
    ++ordinal;
  }
}

// Offsets (in characters) of the start of each line, as the HTML parser
// counts lines: at every "\n".
std::vector<long> line_offsets(const py::str& text) {
  std::vector<long> starts{0};
  Py_ssize_t length = PyUnicode_GetLength(text.ptr());
  for (Py_ssize_t i = 0; i < length; ++i)
    if (PyUnicode_ReadChar(text.ptr(), i) == '\n') starts.push_back(static_cast<long>(i + 1));
  return starts;
}

// The span (in characters of `tag`) of the value of the attribute at
// `ordinal`, found as the parser found it; nullopt when it has no value or
// the parser's patterns are not there to ask.
std::optional<std::pair<long, long>> attribute_value_span(const py::str& tag, long ordinal) {
  py::module_ parser = py::module_::import("html.parser");
  if (!py::hasattr(parser, "tagfind_tolerant") || !py::hasattr(parser, "attrfind_tolerant")) return std::nullopt;
  py::object name_match = parser.attr("tagfind_tolerant").attr("match")(tag, 1);
  if (name_match.is_none()) return std::nullopt;
  long k = name_match.attr("end")().cast<long>();
  long length = static_cast<long>(PyUnicode_GetLength(tag.ptr()));
  for (long index = 0; k < length; ++index) {
    py::object match = parser.attr("attrfind_tolerant").attr("match")(tag, k);
    if (match.is_none()) return std::nullopt;
    if (index == ordinal) {
      if (match.attr("group")(2).is_none()) return std::nullopt;
      py::tuple span = match.attr("span")(3);
      return std::make_pair(span[0].cast<long>(), span[1].cast<long>());
    }
    k = match.attr("end")().cast<long>();
  }
  return std::nullopt;
}

bool contains_any(const std::string& text, std::initializer_list<std::string_view> needles) {
  for (std::string_view needle : needles)
    if (text.find(needle) != std::string::npos) return true;
  return false;
}

// The attribute value, as written between its quotes (or bare), with the
// static tag for its path: nullopt when the value is not a static file
// under `prefix` or the tag could not say the same thing.
std::optional<std::string> rewritten_value(const std::string& written, const std::string& prefix) {
  char quote = 0;
  std::string inner = written;
  if (written.size() >= 2 && (written[0] == '"' || written[0] == '\'') && written.back() == written[0]) {
    quote = written[0];
    inner = written.substr(1, written.size() - 2);
  }
  // The query string or fragment stays after the tag, as written; a "#"
  // that opens a character reference is part of the path.
  size_t cut = inner.size();
  for (size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '?' || (inner[i] == '#' && (i == 0 || inner[i - 1] != '&'))) {
      cut = i;
      break;
    }
  }
  std::string suffix = inner.substr(cut);
  std::string url = py::module_::import("html").attr("unescape")(inner.substr(0, cut)).cast<std::string>();
  if (url.rfind(prefix, 0) != 0) return std::nullopt;
  std::string path = url.substr(prefix.size());
  // Template syntax inside a string literal is not evaluated, the tag
  // quotes "%" again, and a quote or backslash would end or escape the
  // literal: such paths stay as they are.
  if (path.empty() || contains_any(path, {"{{", "{%", "{#", "'", "\"", "\\", "%"})) return std::nullopt;
  if (quote == '\'') return "'{% static \"" + path + "\" %}" + suffix + "'";
  if (suffix.find('"') != std::string::npos) return std::nullopt;
  return "\"{% static '" + path + "' %}" + suffix + "\"";
}

py::str splice(const py::str& text, const std::vector<StaticTagEdit>& edits) {
  // Right to left, so that earlier offsets stay valid.
  std::vector<StaticTagEdit> ordered(edits);
  std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.start > b.start; });
  py::str out = text;
  long length = static_cast<long>(PyUnicode_GetLength(text.ptr()));
  for (const StaticTagEdit& edit : ordered) {
    out = py::str(py::str(out[py::slice(0, edit.start, 1)]).cast<std::string>() + edit.text +
                  py::str(out[py::slice(edit.end, length, 1)]).cast<std::string>());
    length = static_cast<long>(PyUnicode_GetLength(out.ptr()));
  }
  return out;
}

// The words of every load tag of a template (whitespace runs count as one
// blank, as the template engine reads a tag).
bool loads_static_library(const std::string& normalized) {
  static const std::regex load(R"(\{% load ([^%]*?) ?%\})");
  std::vector<std::string> loaded;
  for_each_span(normalized, "{%", "%}", [&](const std::string& span, size_t) {
    std::smatch match;
    if (std::regex_match(span, match, load)) loaded.push_back(match[1].str());
  });
  for (const std::string& tag : loaded) {
    std::istringstream words(tag);
    std::vector<std::string> names;
    for (std::string word; words >> word;) names.push_back(word);
    auto from = std::find(names.begin(), names.end(), "from");
    if (from != names.end()) {
      // {% load static from staticfiles %}: the names before "from".
      if (std::find(names.begin(), from, "static") != from) return true;
      continue;
    }
    for (const std::string& name : names)
      if (name == "static" || name == "staticfiles") return true;
  }
  return false;
}

}  // namespace

std::string site_static_prefix(const std::string& static_url) {
  if (static_url.empty() || static_url.find("://") != std::string::npos || static_url.rfind("//", 0) == 0) return "";
  // Django serves a relative STATIC_URL ("static/") under the script
  // prefix, "/" for a site at the root of its domain.
  return static_url[0] == '/' ? static_url : "/" + static_url;
}

std::vector<StaticTagEdit> static_tag_edits(const py::str& html, const std::string& static_url) {
  std::vector<StaticTagEdit> edits;
  std::string prefix = site_static_prefix(static_url);
  if (prefix.empty()) return edits;
  py::object collector = collector_class()();
  collector.attr("feed")(html);
  std::vector<long> starts = line_offsets(html);
  for (py::handle entry : collector.attr("found")) {
    long line = entry[py::int_(0)].cast<long>(), column = entry[py::int_(1)].cast<long>();
    py::str tag = entry[py::int_(2)];
    long ordinal = entry[py::int_(3)].cast<long>();
    if (line < 1 || line > static_cast<long>(starts.size())) continue;
    std::optional<std::pair<long, long>> span = attribute_value_span(tag, ordinal);
    if (!span) continue;
    std::string written = py::str(tag[py::slice(span->first, span->second, 1)]);
    std::optional<std::string> value = rewritten_value(written, prefix);
    if (!value) continue;
    long at = starts[static_cast<size_t>(line - 1)] + column;
    edits.push_back({at + span->first, at + span->second, *value, line});
  }
  return edits;
}

bool loads_static(const std::string& html) {
  return loads_static_library(normalize_django_template(py::str(html)).cast<std::string>());
}

std::optional<long> static_load_line(const std::vector<std::string>& lines) {
  std::string html;
  for (const std::string& line : lines) html += line + "\n";
  if (loads_static(html)) return std::nullopt;
  // {% extends %} must be the template's first tag: the load goes on the
  // line after the one that closes it.
  static const std::regex extends(R"(^\{%-?\s*extends\b)");
  std::optional<size_t> found;
  for_each_span(html, "{%", "%}", [&](const std::string& span, size_t at) {
    if (!found && std::regex_search(span, extends)) found = at;
  });
  if (!found) return 0;
  size_t close = html.find("%}", *found);
  if (close == std::string::npos) return 0;
  return static_cast<long>(std::count(html.begin(), html.begin() + static_cast<long>(close), '\n')) + 1;
}

StaticTagFix fix_static_urls(const std::string& html, const std::string& static_url, const std::set<long>* lines) {
  StaticTagFix fix;
  fix.text = html;
  py::str text(html);
  std::vector<StaticTagEdit> edits = static_tag_edits(text, static_url);
  if (lines)
    edits.erase(std::remove_if(edits.begin(), edits.end(), [lines](const StaticTagEdit& e) { return !lines->count(e.line); }),
                edits.end());
  // A line whose comment disables C7001 keeps its paths.
  std::map<long, std::set<std::string>> disabled = disabled_lines(html);
  edits.erase(std::remove_if(edits.begin(), edits.end(),
                             [&disabled](const StaticTagEdit& e) {
                               auto at = disabled.find(e.line);
                               return at != disabled.end() && at->second.count("C7001");
                             }),
              edits.end());
  if (edits.empty()) return fix;
  for (const StaticTagEdit& edit : edits) fix.lines.insert(edit.line);
  fix.rewritten = static_cast<long>(edits.size());
  std::string fixed = splice(text, edits);
  std::vector<std::string> fixed_lines = split_at(fixed);
  if (fixed_lines.back().empty()) fixed_lines.pop_back();
  if (std::optional<long> at = static_load_line(fixed_lines)) {
    std::string ending = html.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    size_t offset = 0;
    for (long line = 0; line < *at && offset < fixed.size(); ++line) {
      size_t next = fixed.find('\n', offset);
      offset = next == std::string::npos ? fixed.size() : next + 1;
    }
    std::string load = "{% load static %}" + ending;
    // After a last line without a line end, the load needs one before it.
    if (offset == fixed.size() && !fixed.empty() && fixed.back() != '\n') load = ending + "{% load static %}";
    fixed.insert(offset, load);
    fix.load_line = *at + 1;
  }
  fix.text = fixed;
  return fix;
}

const py::object& base_mutator_class() {
  return made_once([] {
    py::object parser = py::module_::import("html.parser").attr("HTMLParser");
    py::object cls = make_class("BaseHTMLMutator", py::make_tuple(parser), py::dict(), kModule);
    // The parser resets itself when it is made: the results start empty.
    add_method(cls, "reset", [parser](py::object self) {
      self.attr("results") = py::list();
      self.attr("found") = py::list();
      parser.attr("reset")(self);
    });
    add_method(
        cls, "handle_starttag",
        [](py::object self, py::str tag, py::object attrs) {
          py::object handler = py::getattr(self, py::str("visit_") + tag, py::none());
          if (!handler.is_none()) handler(attrs);
        },
        py::arg("tag"), py::arg("attrs"));
    return cls;
  });
}

const py::object& collector_class() {
  return made_once([] {
    py::object cls = make_class("HardCodedStaticUrlToStaticTagHTMLMutator", py::make_tuple(base_mutator_class()),
                                py::dict(), kModule);
    add_method(cls, "visit_link", &collect_link, py::arg("attrs"));
    add_method(cls, "visit_element_with_src", &collect_src, py::arg("attrs"));
    for (std::string_view tag : kSrcTags) {
      std::string name = "visit_" + std::string(tag);
      py::setattr(cls, name.c_str(), cls.attr("__dict__")["visit_element_with_src"]);
    }
    return cls;
  });
}

py::str hard_coded_static_url_to_static_tag(const py::str& html, const py::object& visitor) {
  py::object collector = collector_class()();
  collector.attr("feed")(html);
  if (py::len(collector.attr("results")) == 0) return html;
  py::object static_url = visitor.attr("settings")[py::str("STATIC_URL")];
  if (static_url.is_none() || !py::isinstance<py::str>(static_url)) return html;
  return splice(html, static_tag_edits(html, static_url.cast<std::string>()));
}

void bind_fixes(py::module_& m) {
  m.attr("BaseHTMLMutator") = base_mutator_class();
  m.attr("HardCodedStaticUrlToStaticTagHTMLMutator") = collector_class();
  py::class_<Visitor>(m, "Visitor")
      .def(py::init([](py::object settings) {
             Visitor visitor;
             visitor.settings = settings.is_none() ? py::dict() : py::dict(settings);
             return visitor;
           }),
           py::arg("settings") = py::none())
      .def_readwrite("mutators", &Visitor::mutators)
      .def_readwrite("settings", &Visitor::settings)
      .def(
          "visit",
          [](py::object self, py::str html) {
            py::object text = html;
            for (py::handle mutator : self.attr("mutators"))
              text = mutator(py::arg("html") = text, py::arg("visitor") = self);
            return text;
          },
          py::arg("html"));
  py::object mutator = py::cpp_function(
      [](py::str html, py::object visitor) { return hard_coded_static_url_to_static_tag(html, visitor); },
      py::name("hard_coded_static_url_to_static_tag"), py::arg("html"), py::arg("visitor"));
  m.attr("hard_coded_static_url_to_static_tag") = mutator;
  m.def(
      "build_transformer_visitor",
      [mutator](py::iterable message_ids, py::object settings) {
        Visitor visitor;
        visitor.settings = settings.is_none() ? py::dict() : py::dict(settings);
        for (py::handle id : message_ids)
          if (py::str(id).cast<std::string>() == "C7001") visitor.mutators.append(mutator);
        return visitor;
      },
      py::arg("message_ids"), py::arg("settings") = py::none());
  m.def("loads_static", &loads_static, py::arg("template"));
}

}  // namespace tessary::templates

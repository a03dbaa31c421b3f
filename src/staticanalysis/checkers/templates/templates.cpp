#include "staticanalysis/checkers/templates/templates.hpp"


#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "staticanalysis/helpers/pyclass.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/helpers/values.hpp"
#include "staticanalysis/helpers/scan.hpp"

namespace tessary::templates {

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

constexpr const char* kModule = "tessary.staticanalysis.checkers.templates";

void check(py::object self, py::list files) {
  self.attr("messages") = py::list();
  for (py::handle path : files) {
    self.attr("current_file_path") = path;
    // Templates are UTF-8 text, as Django reads them. One that cannot be
    // read is a finding of its own: its URLs are unknown.
    // A text handed in (an editor's unsaved buffer) stands for the file.
    py::object unsaved = py::getattr(self, "unsaved", py::none());
    SourceText source;
    if (!unsaved.is_none() && py::dict(unsaved).contains(path)) source.text = py::str(py::dict(unsaved)[path]);
    else source = read_source_text(py::str(path), SourceKind::html);
    if (!source.text) {
      py::dict arguments;
      arguments["reason"] = source.problem;
      py::dict record;
      record["path"] = path;
      record["line"] = 1;
      record["column"] = 0;
      record["message"] = arguments;
      record["type"] = "fatal";
      record["module"] = py::none();
      record["symbol"] = "fatal";
      record["hint"] = py::none();
      record["message-id"] = "F0001";
      self.attr("messages").attr("append")(record);
      continue;
    }
    py::list before = self.attr("messages");
    size_t known = before.size();
    self.attr("feed")(*source.text);
    self.attr("reset")();
    std::map<long, std::set<std::string>> disabled = disabled_lines(source.text->cast<std::string>());
    if (disabled.empty()) continue;
    py::list kept;
    py::list all = self.attr("messages");
    for (size_t i = 0; i < all.size(); ++i) {
      py::object record = all[i];
      if (i >= known) {
        auto at = disabled.find(record["line"].cast<long>());
        if (at != disabled.end() && at->second.count(record["message-id"].cast<std::string>())) continue;
      }
      kept.append(record);
    }
    self.attr("messages") = kept;
  }
}

void add_one_message(py::object self, py::str code, py::object args) {
  py::tuple position = self.attr("getpos")();
  py::object text = self.attr("msgs")[code][py::int_(0)];
  py::dict record;
  record["path"] = self.attr("current_file_path");
  record["line"] = position[0];
  record["message"] = text.attr("__mod__")(args);
  record["type"] = py::none();
  record["column"] = position[1];
  record["module"] = py::none();
  record["symbol"] = py::none();
  record["hint"] = py::none();
  record["message-id"] = code;
  self.attr("messages").attr("append")(record);
}

void add_message(py::object self, py::str code, py::object args) {
  self.attr("add_one_message")(code, py::arg("args") = args);
}

void handle_starttag(py::object self, py::str tag, py::object attrs) {
  py::object handler = py::getattr(self, py::str("visit_") + tag, py::none());
  if (!handler.is_none()) handler(attrs);
}

// One finding per attribute named `attribute` holding a site path.
void report_paths(const py::object& self, const py::object& attrs, const char* attribute, const char* code,
                  bool with_path) {
  for (py::handle pair : attrs) {
    py::object name = pair[py::int_(0)], value = pair[py::int_(1)];
    if (name.cast<std::string>() != attribute || !is_hardcoded_path(value)) continue;
    if (with_path) {
      // Only a path below the static prefix is a static file: any other
      // path is served by a view.
      std::string prefix = site_static_prefix(py::str(py::getattr(self, "static_url", py::str("/static/"))));
      if (prefix.empty() || value.cast<std::string>().rfind(prefix, 0) != 0) continue;
    }
    py::dict args;
    if (with_path) args["path"] = value;
    self.attr("add_message")(code, py::arg("args") = args);
  }
}

}  // namespace

std::map<long, std::set<std::string>> disabled_lines(const std::string& html) {
  static const std::regex comment(R"re(\{#\s*tessary:\s*disable=([^#]*)#\})re");
  static const std::regex name(R"re([\w-]+)re");
  std::map<long, std::set<std::string>> out;
  long line = 1;
  size_t counted = 0;
  for_each_span(html, "{#", "#}", [&](const std::string& span, size_t at) {
    std::smatch match;
    if (!std::regex_match(span, match, comment)) return;
    line += std::count(html.begin() + static_cast<long>(counted), html.begin() + static_cast<long>(at), '\n');
    counted = at;
    std::string listed = match[1].str();
    for (std::sregex_iterator n(listed.begin(), listed.end(), name), none; n != none; ++n) {
      std::string text = n->str();
      for (const Rule& rule : kRules) {
        std::string id(rule.id);
        if (text == rule.symbol || text == id || text == lower(id)) out[line].insert(id);
      }
    }
  });
  return out;
}

bool is_hardcoded_path(const py::handle& path) {
  if (!py::isinstance<py::str>(path)) return false;
  std::string text = py::str(path);
  return !text.empty() && text != "/" && text[0] == '/' && text.rfind("//", 0) != 0;
}

const py::object& base_checker_class() {
  return made_once([] {
    py::object parser = py::module_::import("html.parser").attr("HTMLParser");
    py::object cls = make_class("BaseTemplateChecker", py::make_tuple(parser), py::dict(), kModule);
    add_method(cls, "check", &check, py::arg("files"));
    add_method(cls, "add_message", &add_message, py::arg("code"), py::arg("args") = py::dict());
    add_method(cls, "add_one_message", &add_one_message, py::arg("code"), py::arg("args") = py::dict());
    add_method(cls, "handle_starttag", &handle_starttag, py::arg("tag"), py::arg("attrs"));
    return cls;
  });
}

const py::object& checker_class() {
  return made_once([] {
    py::dict ns;
    ns["msgs"] = messages_table(kRules);
    py::object cls = make_class("Checker", py::make_tuple(base_checker_class()), ns, kModule);
    add_method(
        cls, "visit_a", [](py::object self, py::object attrs) { report_paths(self, attrs, "href", "C7000", false); },
        py::arg("attrs"));
    add_method(
        cls, "visit_link",
        [](py::object self, py::object attrs) { report_paths(self, attrs, "href", "C7001", true); },
        py::arg("attrs"));
    add_method(
        cls, "visit_element_with_src",
        [](py::object self, py::object attrs) { report_paths(self, attrs, "src", "C7001", true); },
        py::arg("attrs"));
    for (std::string_view tag : kSrcTags) {
      std::string name = "visit_" + std::string(tag);
      py::setattr(cls, name.c_str(), cls.attr("__dict__")["visit_element_with_src"]);
    }
    return cls;
  });
}

void bind(py::module_& m) {
  bind_rules(m, kModule, kRules, checker_class());
  m.attr("BaseTemplateChecker") = base_checker_class();
  m.def("is_hardcoded_path", [](py::object path) { return is_hardcoded_path(path); }, py::arg("path"));
  bind_fixes(m);
}

}  // namespace tessary::templates

// Checks on HTML templates: site paths written out where the url and
// static template tags should build them.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "staticanalysis/helpers/checker_support.hpp"

namespace tessary::templates {

// This module's entries of the rule registry.
inline constexpr std::span<const Rule> kRules = rules_of("templates");

// Tags whose src attribute names a static file.
inline constexpr std::string_view kSrcTags[] = {"audio", "embed", "img", "input", "script",
                                                "source", "track", "video"};

// A non-empty site path: begins with one "/", is not the root "/" and not
// protocol-relative.
bool is_hardcoded_path(const py::handle& path);

// {line: ids} of the `{# tessary: disable=C7001 #}` comments of a template
// (ids or symbols, comma separated): the findings of those ids on that
// line (1-based, as the HTML parser counts) are not reported, nor fixed.
std::map<long, std::set<std::string>> disabled_lines(const std::string& html);

const py::object& base_checker_class();
const py::object& checker_class();
void bind(py::module_& m);

// The fix of C7001.

// One rewrite of template text: characters [start, end) become `text`.
struct StaticTagEdit {
  long start = 0, end = 0;
  std::string text;
  long line = 0;  // where the attribute's tag starts
};
// The project's STATIC_URL as the site path it serves from ("static/" is
// served as "/static/"); empty when it is not a site path (a full URL, or
// not set): then no path in a template is one of its files.
std::string site_static_prefix(const std::string& static_url);
// Each link href or src value that starts with the static prefix, rewritten
// as the static tag (query string and fragment kept after it, quoting
// right for the attribute). Values the tag could not say the same way
// (template syntax, quotes, "%" in the path) are left out.
std::vector<StaticTagEdit> static_tag_edits(const py::str& html, const std::string& static_url);
// Whether a load tag of the template brings in the static tag.
bool loads_static(const std::string& html);
// The 0-based line at which "{% load static %}" goes (the line after an
// {% extends %} tag, else the first), or nullopt when the template loads
// the tag already.
std::optional<long> static_load_line(const std::vector<std::string>& lines);

struct StaticTagFix {
  std::string text;
  long rewritten = 0;      // attribute values rewritten
  std::set<long> lines;    // lines of the tags rewritten
  long load_line = 0;      // 1-based line of the load tag added, 0 for none
};
// The template with every static path (on `lines`, when given) rewritten
// and the tag library loaded where it was not.
StaticTagFix fix_static_urls(const std::string& html, const std::string& static_url,
                             const std::set<long>* lines = nullptr);

// A set of template mutators run in turn over a text.
struct Visitor {
  py::list mutators;
  py::dict settings;
};

const py::object& base_mutator_class();
const py::object& collector_class();
py::str hard_coded_static_url_to_static_tag(const py::str& html, const py::object& visitor);
void bind_fixes(py::module_& m);

}  // namespace tessary::templates

// Checks on HTML templates: site paths written out where the url and
// static template tags should build them.
#pragma once

#include <string_view>

#include "staticanalysis/helpers/checker_support.hpp"

namespace tessary::templates {

inline constexpr Rule kRules[] = {
    {"C7000", "hard-coded-url", "Check if hard-coded url is used in template",
     "A link (<a href>) written as a fixed site path such as /books/.",
     "Fixed paths break when URL patterns or the mount point change; the url tag reverses the route.",
     "<a href=\"/books/\">Books</a>", "<a href=\"{% url 'book-list' %}\">Books</a>",
     ""},
    {"C7001", "hard-coded-static-url", "Check if hard-coded static url is used in template",
     "A stylesheet, script or media source (link href; audio, embed, img, input, script, source, track, "
     "video src) written as a fixed site path.",
     "Static files move with STATIC_URL and storage backends (hashed names, CDNs); the static tag follows "
     "them.",
     "<img src=\"/static/logo.png\">", "{% load static %}<img src=\"{% static 'logo.png' %}\">",
     "Rewrites the path with the static tag and loads it."},
};

// Tags whose src attribute names a static file.
inline constexpr std::string_view kSrcTags[] = {"audio", "embed", "img", "input", "script",
                                                "source", "track", "video"};

// A non-empty site path: begins with one "/", is not the root "/" and not
// protocol-relative.
bool is_hardcoded_path(const py::handle& path);

const py::object& base_checker_class();
const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::templates

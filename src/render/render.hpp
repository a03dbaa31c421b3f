// Turns message records into advice entries a person can read.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace tessary::render {

namespace py = pybind11;

// `{name}` placeholders of `text` replaced by the matching values of
// `arguments`; unknown placeholders stay as written.
std::string fill_template(const std::string& text, const py::dict& arguments);

// One entry per record: "message-id", "symbol", "path", "line", "column",
// "message" (as the checker formatted it), "arguments" (the argument map,
// empty for a text message), "advice" (the id's advice text filled from the
// arguments) and "fixable".
py::list render_message_centric_advice(const py::list& messages);

}  // namespace tessary::render

// The tokens of a module that its pragma and noqa comments are read from.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string_view>

namespace tessary::checker {

namespace py = pybind11;

// What pylint's pragma pass and the noqa reading take from a module's
// tokens, found without Python's tokenizer: each comment, with its text
// and line; each end of a line, as NEWLINE (a statement ends) or NL; and,
// for every line where other tokens start, one token standing for them
// (others on the same line change nothing these readers see). nullopt for
// a text read otherwise than plainly as UTF-8 (a byte order mark, a coding
// declaration), with tabs, form feeds or lone carriage returns, or not
// read to its end as a valid module is: those are left to the tokenizer.
std::optional<py::list> comment_tokens(std::string_view text);

}  // namespace tessary::checker

// Token-level edits of a call: what a field fix did to a call's tree,
// written back as the fewest changed tokens, so that the call keeps its
// layout (one line, hugging brackets, one argument per line, comments).
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "staticanalysis/helpers/formatting.hpp"

namespace tessary::transformer {

namespace py = pybind11;

// The characters [start, end) of a text (offsets as asttokens counts
// them) replaced by `text`.
struct TextEdit {
  long start = 0, end = 0;
  std::string text;
};

// A call as it was written, before any fix touched it.
struct CallSnapshot {
  py::object call;
  py::object func;
  std::string callee;  // the name or attribute name of the callee
  std::vector<py::object> args;
  struct Keyword {
    py::object node, arg, value;
  };
  std::vector<Keyword> keywords;
};

CallSnapshot snapshot_call(const py::object& call);

// The edits that turn the call as written into the call the fixes made of
// it, or nullopt when the change is not one of renaming the callee,
// renaming a keyword, replacing a keyword's value, removing keywords and
// appending arguments or keywords (the caller then renders the call).
std::optional<std::vector<TextEdit>> call_edits(const py::object& atok, const CallSnapshot& before,
                                                const formatting::QuoteTarget& quotes);

}  // namespace tessary::transformer

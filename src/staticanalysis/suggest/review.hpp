// A pull-request review from the findings on the changed lines: a comment
// per finding line, with the fix `tessary fix` would write as a one-click
// suggestion where applying that suggestion alone keeps the project sound,
// and a summary that carries what the comments cannot.
#pragma once

#include <pybind11/pybind11.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessary::suggest {

namespace py = pybind11;
namespace fs = std::filesystem;

// One finding of the review: project-relative path, the line it is
// reported on and the last line of its statement.
struct ReviewFinding {
  std::string path;
  long line = 0, end_line = 0;
  std::string id, symbol, advice;
};

struct ReviewOptions {
  // Lines (first, last) of the diff's hunks per project-relative path
  // (nullopt for a new file: every line); nullopt: the whole project is
  // reviewed and every line can take a comment.
  std::optional<py::dict> hunks;
  bool unsafe = false;             // suggest unsafe fixes too
  py::object search_paths = py::none();
  std::string django_version;
  // The project's folder within its git repository ("backend/"), put
  // before every path the review names so that GitHub resolves it.
  std::string path_prefix;
};

// {"event": "COMMENT", "body": summary, "comments": [...]} as GitHub's
// review API takes it.
py::dict build_review(const fs::path& root, const std::vector<ReviewFinding>& findings, const ReviewOptions& options);

// The Markdown of one finding: its id, symbol and advice, and what to know
// about its fix.
std::string comment_text(const ReviewFinding& finding, bool fix_suggested);

void bind_review(py::module_& m);

}  // namespace tessary::suggest

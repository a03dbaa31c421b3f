#include "render/render.hpp"

#include "staticanalysis/helpers/registry.hpp"

#include <cctype>

namespace tessary::render {

namespace {

// The ids the registry gives a fix.
py::object fixable_ids() {
  py::set ids;
  for (const Rule& entry : kRegistry)
    if (!entry.fix.empty()) ids.add(py::str(std::string(entry.id)));
  return py::frozenset(ids);
}

bool identifier_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

}  // namespace

std::string fill_template(const std::string& text, const py::dict& arguments) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '{') {
      size_t j = i + 1;
      while (j < text.size() && identifier_char(text[j])) ++j;
      if (j < text.size() && text[j] == '}' && j > i + 1) {
        py::str key(text.substr(i + 1, j - i - 1));
        if (arguments.contains(key)) {
          out += py::str(arguments[key]).cast<std::string>();
          i = j + 1;
          continue;
        }
      }
    }
    out += text[i++];
  }
  return out;
}

py::list render_message_centric_advice(const py::list& messages) {
  py::object templates = py::module_::import("tessary.message_templates");
  py::object fixable = fixable_ids();
  py::list out;
  for (py::handle handle : messages) {
    py::dict record = py::reinterpret_borrow<py::dict>(handle);
    py::object id = record.attr("get")("message-id");
    py::object message = record.attr("get")("message");
    py::dict arguments = py::isinstance<py::dict>(message) ? py::dict(message) : py::dict();
    py::object text = id.is_none() ? py::object(py::none()) : py::getattr(templates, id, py::none());
    std::string advice;
    if (!text.is_none()) {
      advice = fill_template(text.cast<std::string>(), arguments);
    } else if (!message.is_none() && !py::isinstance<py::dict>(message)) {
      advice = py::str(message).cast<std::string>();
    }
    py::dict entry;
    entry["message-id"] = id;
    entry["symbol"] = record.attr("get")("symbol");
    entry["path"] = record.attr("get")("path");
    entry["line"] = record.attr("get")("line");
    entry["column"] = record.attr("get")("column");
    entry["message"] = message;
    entry["arguments"] = arguments;
    entry["advice"] = py::str(advice);
    // The check says whether the fix applies at the finding; a record
    // without that word (settings, templates) goes by the rule.
    py::object applies = record.attr("get")("fixable");
    entry["fixable"] = applies.is_none() ? py::bool_(!id.is_none() && fixable.contains(id)) : py::bool_(applies);
    out.append(entry);
  }
  return out;
}

}  // namespace tessary::render

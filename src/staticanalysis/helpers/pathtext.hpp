// File names between Python and C++. A name need not be UTF-8: Python
// keeps its undecodable bytes as lone surrogates (surrogateescape), which
// pybind11's std::string conversion refuses. These two conversions keep
// such a name's bytes as they are on disk, both ways.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <string_view>

namespace tessary {

// The bytes of a str that names a file (or of any object's str()).
inline std::string path_bytes(const pybind11::handle& text) {
  namespace py = pybind11;
  py::str as_text = py::str(text);
  PyObject* encoded = PyUnicode_AsEncodedString(as_text.ptr(), "utf-8", "surrogateescape");
  if (encoded == nullptr) throw py::error_already_set();
  py::bytes bytes = py::reinterpret_steal<py::bytes>(encoded);
  return bytes.cast<std::string>();
}

// A file name's bytes as the str Python would give it.
inline pybind11::str path_str(const std::string& bytes) {
  namespace py = pybind11;
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// A str's UTF-8 text, or nullopt for one that holds lone surrogates (a
// name made from a file name that is not UTF-8): no framework name is.
inline std::optional<std::string_view> utf8_view(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(data, static_cast<size_t>(size));
}

}  // namespace tessary

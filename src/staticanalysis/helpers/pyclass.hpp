// Python classes made from C++.
//
// Classes that must derive from Python classes (pylint's BaseChecker and
// PyLinter, str, astroid node kinds) are created with `type(name, bases,
// namespace)`; methods are then attached as bound C++ functions. pybind11
// treats a function named __init__ as a constructor, so never attach one:
// keep state in class attributes or set it from another method.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace tessary {

namespace py = pybind11;

// type(name, bases, namespace) with __module__ set to `module`.
py::object make_class(const char* name, py::tuple bases, py::dict namespace_,
                      const char* module);

// Attach `fn` as an instance method: Python passes `self` as the first
// argument.
template <class F, class... Extra>
void add_method(const py::object& cls, const char* name, F&& fn, const Extra&... extra) {
  // No sibling: the method replaces whatever the bases define under `name`.
  py::cpp_function method(std::forward<F>(fn), py::name(name), py::is_method(cls), extra...);
  py::setattr(cls, name, method);
}

// Attach `fn` as a class method: Python passes the class first.
template <class F, class... Extra>
void add_classmethod(const py::object& cls, const char* name, F&& fn, const Extra&... extra) {
  py::cpp_function function(std::forward<F>(fn), py::name(name), extra...);
  py::setattr(cls, name, py::reinterpret_steal<py::object>(PyClassMethod_New(function.ptr())));
}

}  // namespace tessary

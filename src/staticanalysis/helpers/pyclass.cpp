#include "staticanalysis/helpers/pyclass.hpp"

namespace tessary {

py::object make_class(const char* name, py::tuple bases, py::dict namespace_,
                      const char* module) {
  namespace_["__module__"] = py::str(module);
  py::object type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
  return type(py::str(name), std::move(bases), std::move(namespace_));
}

}  // namespace tessary

#include "render/render.hpp"

namespace py = pybind11;

PYBIND11_MODULE(render, m) {
  m.doc() = "Advice entries from message records.";
  m.def(
      "render_message_centric_advice",
      [](py::list messages, py::object /*project_root*/, py::object /*settings*/, py::object /*settings_modpath*/,
         py::object /*code_style*/, py::object /*code_reader*/) {
        return tessary::render::render_message_centric_advice(messages);
      },
      py::arg("messages"), py::arg("project_root") = py::none(), py::arg("settings") = py::dict(),
      py::arg("settings_modpath") = py::none(), py::arg("code_style") = py::dict(),
      py::arg("code_reader") = py::none());
  m.def("fill_template", &tessary::render::fill_template, py::arg("text"), py::arg("arguments"));
}

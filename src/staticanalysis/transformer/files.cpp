#include "staticanalysis/transformer/files.hpp"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <filesystem>
#include <vector>

#include "staticanalysis/helpers/pathtext.hpp"
#include "staticanalysis/helpers/read_file.hpp"
#include "staticanalysis/helpers/tokens.hpp"
#include "staticanalysis/transformer/fixer.hpp"

namespace tessary::transformer {

namespace fs = std::filesystem;

namespace {

py::dict fix_whole_project(const py::object& project_root, const py::object& whitelist) {
  py::object meta = py::module_::import("tessary.meta");
  std::string settings_modpath = path_bytes(meta.attr("get_settings_modpath")(project_root));
  py::dict code_style = meta.attr("get_code_style")(project_root);
  return fix_project(project_root.cast<fs::path>(), whitelist, settings_modpath, code_style);
}

// Temporary files of an earlier run that was killed between writing one
// and putting it in place: ".<name>.XXXXXXXX.tessary" beside the file.
void remove_stale_temporaries(const fs::path& folder, const std::string& base) {
  std::string head = "." + base + ".", tail = ".tessary";
  std::error_code ec;
  std::vector<fs::path> stale;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() == head.size() + 8 + tail.size() && name.rfind(head, 0) == 0 &&
        name.compare(name.size() - tail.size(), tail.size(), tail) == 0 && !entry.is_directory(ec))
      stale.push_back(entry.path());
  }
  for (const fs::path& path : stale) fs::remove(path, ec);
}

}  // namespace

py::list transform_files(const py::object& project_root, const py::object& whitelist) {
  return fix_whole_project(project_root, whitelist)["files"];
}

py::list write_files(const py::object& project_root, const py::iterable& pairs, const py::object& expected) {
  py::module_ os = py::module_::import("os");
  py::object path_module = os.attr("path");
  std::string root = path_bytes(path_module.attr("realpath")(project_root));

  // Later texts win; a path keeps its first position.
  py::dict texts;
  for (py::handle pair : pairs) {
    py::tuple items(py::reinterpret_borrow<py::object>(pair));
    if (items.size() != 2) throw py::value_error("each fixed file is a pair of (text, path)");
    texts[items[1]] = items[0];
  }
  // Every target must lie inside the project before anything is written.
  std::vector<std::pair<py::object, std::string>> targets;
  for (auto item : texts) {
    std::string real = path_bytes(path_module.attr("realpath")(path_module.attr("join")(project_root, item.first)));
    if (real != root && real.rfind(root + "/", 0) != 0) {
      PyErr_SetObject(PyExc_ValueError, path_str(path_bytes(item.first) + ": outside the project root " + root).ptr());
      throw py::error_already_set();
    }
    targets.emplace_back(py::reinterpret_borrow<py::object>(item.first), real);
  }

  py::list written;
  for (const auto& [relative, real] : targets) {
    py::str real_path = path_str(real);
    py::object stat = os.attr("stat")(real_path);
    py::object folder = path_module.attr("dirname")(real_path);
    std::string base = path_bytes(path_module.attr("basename")(real_path));
    remove_stale_temporaries(path_bytes(folder), base);
    py::object before = expected.is_none() ? py::object(py::none()) : expected.attr("get")(relative, py::none());
    py::tuple temp = py::module_::import("tempfile").attr("mkstemp")(py::arg("prefix") = path_str("." + base + "."),
                                                                     py::arg("suffix") = ".tessary",
                                                                     py::arg("dir") = folder);
    py::object fd = temp[0];
    py::object temp_path = temp[1];
    try {
      // Written in the encoding its coding line names, as it was read.
      std::string text = py::str(texts[relative]);
      py::bytes data = py::str(texts[relative]).attr("encode")(python_text_encoding(text));
      py::ssize_t offset = 0, size = py::len(data);
      while (offset < size) {
        py::object chunk = data[py::slice(offset, size, 1)];
        offset += os.attr("write")(fd, chunk).cast<py::ssize_t>();
      }
      os.attr("fsync")(fd);
      os.attr("fchmod")(fd, py::module_::import("stat").attr("S_IMODE")(stat.attr("st_mode")));
      try {
        os.attr("fchown")(fd, stat.attr("st_uid"), stat.attr("st_gid"));
      } catch (py::error_already_set& err) {
        if (!err.matches(PyExc_PermissionError)) throw;  // not ours to give away
      }
      os.attr("close")(fd);
      fd = py::none();
      // Another program (an editor, a formatter) may have saved the file
      // since it was read: its edit wins, and the fix is not written.
      if (!before.is_none()) {
        FileBytes now = read_regular_file(real, kSourceFileCap);
        if (!now.bytes || *now.bytes != before.cast<std::string>()) {
          os.attr("unlink")(temp_path);
          continue;
        }
      }
      os.attr("replace")(temp_path, real_path);
    } catch (...) {
      if (!fd.is_none()) {
        try {
          os.attr("close")(fd);
        } catch (py::error_already_set&) {
        }
      }
      try {
        os.attr("unlink")(temp_path);
      } catch (py::error_already_set&) {
      }
      throw;
    }
    written.append(relative);
  }
  return written;
}

py::list trasform_files_in_place(const py::object& project_root, const py::object& whitelist) {
  py::dict result = fix_whole_project(project_root, whitelist);
  return write_files(project_root, result["files"], result["read"]);
}

void bind_files(py::module_& m) {
  m.def("transform_files", &transform_files, py::arg("project_root"), py::arg("whitelist"));
  m.def("write_files", &write_files, py::arg("project_root"), py::arg("pairs"), py::arg("expected") = py::none(),
        "Write the (text, path) pairs in place, atomically; with `expected` ({path: bytes as read}), a file "
        "whose bytes changed since is left as it is. Returns the paths written.");
  m.def("trasform_files_in_place", &trasform_files_in_place, py::arg("project_root"), py::arg("whitelist"));
}

}  // namespace tessary::transformer

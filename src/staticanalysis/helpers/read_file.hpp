// Reading a file a repository hands us. A pull request can carry a FIFO,
// a symlink to /dev/zero or to a file outside the project, or a file of
// gigabytes: only a regular file (once links are resolved) is read, and
// only up to a cap, so nothing hangs, fills memory or leaks a file from
// elsewhere on the machine.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pybind11/pybind11.h>

#include "staticanalysis/helpers/pathtext.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace tessary {

// What tessary reads at most of a configuration file (dependency files,
// pyproject.toml, settings modules, event files), of a source file it
// analyses or fixes, and of its own cache records.
inline constexpr std::size_t kConfigFileCap = 4u << 20;
inline constexpr std::size_t kSourceFileCap = 16u << 20;
inline constexpr std::size_t kCacheFileCap = 256u << 20;

struct FileBytes {
  std::optional<std::string> bytes;  // nullopt when the file was not read
  std::string problem;               // why not, in a few words ("not a regular file")
  bool missing = false;              // there is no such file (not worth a warning)
};

inline std::string size_words(std::size_t bytes) {
  return bytes % (1u << 20) == 0 ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes) + " bytes";
}

// The bytes of `path` when it is a regular file of at most `cap` bytes.
// The file is opened without blocking (a FIFO or a device answers at once)
// and asked what it is through the open descriptor, so what is read is
// what was checked.
inline FileBytes read_regular_file(const std::filesystem::path& path, std::size_t cap) {
  FileBytes out;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    out.missing = errno == ENOENT || errno == ENOTDIR;
    out.problem = errno == ELOOP ? "a symlink loop" : std::string("it could not be read (") + std::strerror(errno) + ")";
    if (errno == ENOENT && std::filesystem::is_symlink(path)) out.missing = false, out.problem = "a dangling symlink";
    return out;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    out.problem = "not a regular file";
    return out;
  }
  if (static_cast<std::size_t>(info.st_size) > cap) {
    ::close(fd);
    out.problem = "larger than " + size_words(cap);
    return out;
  }
  // Back to blocking reads for a regular file; the cap holds even when the
  // file grows while it is read.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      out.problem = std::string("it could not be read (") + std::strerror(errno) + ")";
      ::close(fd);
      return out;
    }
    if (got == 0) break;
    if (bytes.size() + static_cast<std::size_t>(got) > cap) {
      ::close(fd);
      out.problem = "larger than " + size_words(cap);
      return out;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  out.bytes = std::move(bytes);
  return out;
}

// A problem as the reason of an F0001 finding: "it is not a regular file".
inline std::string as_reason(const std::string& problem) {
  return problem.rfind("it ", 0) == 0 || problem.rfind("a ", 0) == 0 ? problem : "it is " + problem;
}

// Why `path` may not be read ("not a regular file", "larger than 16 MiB"),
// or "" when it is a regular file within the cap. Nothing is read, and a
// FIFO or device does not block.
inline std::string unreadable_because(const std::filesystem::path& path, std::size_t cap) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP ? "a symlink loop" : std::string("it could not be read (") + std::strerror(errno) + ")";
  struct stat info {};
  std::string problem;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    problem = "not a regular file";
  else if (static_cast<std::size_t>(info.st_size) > cap)
    problem = "larger than " + size_words(cap);
  ::close(fd);
  return problem;
}

// Whether `path`, links resolved, lies in `folder` (links resolved too).
inline bool resolves_inside(const std::filesystem::path& path, const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::path real = std::filesystem::weakly_canonical(path, ec);
  if (ec) return false;
  std::filesystem::path top = std::filesystem::weakly_canonical(folder, ec);
  if (ec) return false;
  auto [end, unused] = std::mismatch(top.begin(), top.end(), real.begin(), real.end());
  (void)unused;
  return end == top.end();
}

// A project file read for what it says about the project (a dependency
// file, a settings module): within the project and within the cap.
inline FileBytes read_project_file(const std::filesystem::path& root, const std::filesystem::path& path,
                                   std::size_t cap = kConfigFileCap) {
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    FileBytes out;
    out.missing = true;
    out.problem = "no such file";
    return out;
  }
  if (!resolves_inside(path, root)) {
    FileBytes out;
    out.problem = "a link to a file outside the project";
    return out;
  }
  return read_regular_file(path, cap);
}

// Says once per process and file (`where`, its full path), through the
// "tessary" logger (the command prints it as a warning), what is wrong with
// it: "<shown>: <what>".
inline void warn_once(const std::string& where, const std::string& shown, const std::string& what) {
  static std::set<std::string> said;
  if (!said.insert(where).second) return;
  namespace py = pybind11;
  py::module_::import("logging").attr("getLogger")("tessary").attr("warning")(
      py::str("%s: %s"), path_str(shown), path_str(what));
}

// A project file's bytes, or nullopt with a warning when it is there but
// may not be read (missing files pass in silence).
inline std::optional<std::string> project_file_or_warn(const std::filesystem::path& root,
                                                       const std::filesystem::path& path,
                                                       std::size_t cap = kConfigFileCap) {
  FileBytes read = read_project_file(root, path, cap);
  if (!read.bytes && !read.missing) {
    std::error_code ec;
    std::filesystem::path shown = path.lexically_relative(root);
    warn_once(path.string(), shown.empty() ? path.string() : shown.generic_string(), read.problem + ", skipped");
  }
  return std::move(read.bytes);
}

}  // namespace tessary

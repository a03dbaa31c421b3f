// File-system questions that never throw: a symlink loop, a dangling link
// or a folder we may not read answers "no", not an exception.
#pragma once

#include <filesystem>
#include <system_error>

namespace tessary {

inline bool is_file(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

inline bool is_folder(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

inline bool path_exists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace tessary

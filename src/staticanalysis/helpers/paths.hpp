// File-system questions that never throw: a symlink loop, a dangling link
// or a folder we may not read answers "no", not an exception.
#pragma once

#include <array>
#include <filesystem>
#include <string_view>
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

// A folder no run of tessary looks into, whichever command: hidden folders
// (.git, .venv, .tessary_cache), dependency and byte-code folders, and any
// virtual environment (a folder holding pyvenv.cfg).
inline bool skipped_folder_name(std::string_view name) {
  constexpr std::array<std::string_view, 5> kSkipped = {"node_modules", "__pycache__", "site-packages", "venv", "env"};
  if (name.empty() || name[0] == '.') return true;
  for (std::string_view skipped : kSkipped)
    if (name == skipped) return true;
  return false;
}

inline bool skipped_folder(const std::filesystem::path& folder) {
  return skipped_folder_name(folder.filename().string()) || path_exists(folder / "pyvenv.cfg");
}

}  // namespace tessary

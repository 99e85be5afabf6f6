#include "temp_folder.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

TempFolder::TempFolder(std::string_view name) {
  std::string pattern =
      (fs::temp_directory_path() / ("zelva-" + std::string(name) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  if (!path_.empty()) {
    std::error_code ignored; // a destructor has no one to report to
    fs::remove_all(path_, ignored);
  }
}

TempFolder::TempFolder(TempFolder &&other) noexcept : path_(std::exchange(other.path_, {})) {}

TempFolder &TempFolder::operator=(TempFolder &&other) noexcept {
  std::swap(path_, other.path_);
  return *this;
}

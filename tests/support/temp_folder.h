// A folder of a test's own under TMPDIR: made when constructed, removed with all it holds when
// destroyed, so that no test leaves anything behind or sees another's files.
#pragma once

#include <filesystem>
#include <string_view>

class TempFolder {
public:
  // Named "zelva-NAME-" and six random characters.
  explicit TempFolder(std::string_view name);
  ~TempFolder();
  TempFolder(TempFolder &&other) noexcept;
  TempFolder &operator=(TempFolder &&other) noexcept;

  const std::filesystem::path &Path() const { return path_; }

private:
  std::filesystem::path path_;
};

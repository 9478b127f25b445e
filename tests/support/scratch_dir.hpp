#pragma once
// A fresh folder under the system temporary folder, removed with everything in it when the
// object goes away; `ok()` is false when the folder could not be made.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "files.hpp"

namespace orvik::testing_support {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvik-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  // The path of `name` inside the folder.
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Writes `bytes` to `name` inside the folder and returns the file's path.
  std::string write(std::string_view name, std::string_view bytes) const {
    std::string file = *this / name;
    write_file(file, bytes);
    return file;
  }

 private:
  std::string path_;
};

}  // namespace orvik::testing_support

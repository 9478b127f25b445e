#pragma once
// Whole-file reads and writes for tests, fuzz targets and benchmarks. A file that cannot be read
// reads as empty, and callers compare what they read back.
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace orvik::testing_support {

// Every byte of the file at `path`.
inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file at `path` with `bytes`; false when not all of them could be written.
inline bool write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

}  // namespace orvik::testing_support

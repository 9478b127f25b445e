#include "bench_support.hpp"

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>

#include <fmt/core.h>

#include "util/text.hpp"

namespace orvik::bench {

std::optional<int> parse_runs(const std::string& word, int most) {
  const auto parsed = parse_u64(word);
  if (!parsed || *parsed == 0 || *parsed > static_cast<std::uint64_t>(most)) {
    fmt::print(stderr, "runs must be a whole number from 1 to {}, not `{}`\n", most, word);
    return std::nullopt;
  }
  return static_cast<int>(*parsed);
}

bool take_file_bench_option(const std::vector<std::string>& words, std::size_t& i,
                            FileBenchOptions& options) {
  if (words[i] == "--keep") {
    options.keep = true;
    return true;
  }
  if (words[i] == "--python" && i + 1 < words.size()) {
    options.python = words[++i];
    return true;
  }
  return false;
}

bool write_file(const std::string& path, std::string_view bytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  bool written = out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out != nullptr && std::fclose(out) != 0) written = false;
  if (!written) fmt::print(stderr, "cannot write {}\n", path);
  return written;
}

double peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

double python_load_seconds(const std::string& python, const std::string& module,
                           const std::string& statement, const std::string& path) {
  const std::string command = fmt::format(
      "'{}' -c 'import sys, time\ntry:\n import {}\nexcept Exception:\n sys.exit(3)\n"
      "path = sys.argv[1]\nt = time.perf_counter(); {}; print(time.perf_counter() - t)' '{}' "
      "2>/dev/null",
      python, module, statement, path);
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[128] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  const int status = ::pclose(pipe);
  if (!got || status != 0) return -1;
  auto seconds = parse_f64(trim_white_space(line));
  return seconds ? *seconds : -1;
}

}  // namespace orvik::bench

// Floods of tiny items: small hostile files whose readers must not hold many times their size.
// Each input is generated at full size into a temporary file (never committed), the whole command
// runs as a child process (standard output to /dev/null), and its peak resident memory and time
// are set against the file size, against fnv1a64 over the bytes in memory, and against reading
// the file into a fresh buffer and hashing it (the floor of any reader).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "artifact_kind/artifact_kind.hpp"
#include "bench_support.hpp"
#include "benchmarks.hpp"
#include "util/file.hpp"
#include "util/text.hpp"

extern char** environ;

namespace orvik::bench {
namespace {

struct Flood {
  std::string_view name;
  std::string_view file_name;
  std::vector<std::string> words;  // the command; "@" stands for the file
  std::string (*make)();
};

constexpr std::size_t kMiB = 1u << 20;

std::string braces() {
  std::string bytes = "CBM1";
  bytes.reserve(64 * kMiB + 4);
  while (bytes.size() < 64 * kMiB + 4)
    bytes += "{}";
  return bytes;
}

// Distinct feature-name-like runs in scrambled order (an odd multiplier permutes 32-bit values).
std::string catboost_names() {
  std::string bytes = "CBM1";
  bytes.reserve(67'000'000 + 16);
  for (std::uint32_t i = 0; bytes.size() < 67'000'000; ++i) {
    bytes += fmt::format("col_{:08x}", static_cast<std::uint32_t>(i * 2654435761u));
    bytes.push_back('\0');
  }
  return bytes;
}

std::string deep_nesting() {
  constexpr std::size_t kLevels = 8u << 20;
  std::string bytes = "CBM1";
  bytes.reserve(5 * kLevels + 8);
  for (std::size_t i = 0; i < kLevels; ++i)
    bytes += "{\"\":";
  bytes += '0';
  bytes.append(kLevels, '}');
  return bytes;
}

// `head`, then `item` with 0, 1, 2, ... filled in until `size` bytes are reached, then `tail`.
std::string numbered(std::string head, std::string_view item, std::size_t size,
                     std::string_view tail) {
  std::string bytes = std::move(head);
  bytes.reserve(size + 64);
  for (std::size_t i = 0; bytes.size() < size; ++i)
    bytes += fmt::format(fmt::runtime(item), i);
  bytes += tail;
  return bytes;
}

std::string lightgbm_feature_names() {
  return numbered("tree\nversion=v4\nmax_feature_idx=3\nfeature_names=", "f{} ", 66'000'000, "\n");
}

std::string lightgbm_parameters() {
  return numbered("tree\nversion=v4\nmax_feature_idx=3\n\nparameters:\n", "[k{}: v]\n", 77'000'000,
                  "end of parameters\n");
}

struct Run {
  double seconds = 0;
  double cpu_seconds = 0;  // user and system time of the child: steadier on a busy machine
  double peak_mib = 0;
  int status = -1;
};

// Runs `binary` with `words` in a child whose standard output goes to /dev/null.
Run run_orvik(std::string binary, const std::vector<std::string>& words) {
  std::vector<char*> argv;
  argv.push_back(binary.data());
  std::vector<std::string> copies = words;
  for (std::string& word : copies)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  Run run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) == pid) {
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      run.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
      const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
      };
      run.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

// `diff` of a huge feature_names line at 16 to 128 MiB: against itself, against a copy with three
// names renamed (the others in place), and against a copy with one name put in front (no name in
// its place). The set comparison must cost about as much per name at every size: each doubling of
// the file should about double the time (best of the runs, ratio to the size before).
int name_diff_rows(const std::string& binary, int runs, const std::filesystem::path& dir) {
  struct Variant {
    std::string_view name;
    void (*change)(std::string& bytes);
  };
  static constexpr std::string_view kHead = "tree\nversion=v4\nmax_feature_idx=3\nfeature_names=";
  const Variant variants[] = {
      {"itself", [](std::string&) {}},
      {"3 names renamed",
       [](std::string& bytes) {
         for (std::size_t quarter = 1; quarter <= 3; ++quarter)
           bytes[bytes.find(' ', bytes.size() / 4 * quarter) + 1] = 'g';
       }},
      {"a name put in front", [](std::string& bytes) { bytes.insert(kHead.size(), "f "); }},
  };
  constexpr int kSizes = 4;
  Run best[std::size(variants)][kSizes];
  int failures = 0;
  const std::string old_path = (dir / "orvik_flood_diff_old.lgb").string();
  const std::string new_path = (dir / "orvik_flood_diff_new.lgb").string();
  for (int size = 0; size < kSizes; ++size) {
    const std::string bytes = numbered(std::string(kHead), "f{} ", (16 * kMiB) << size, "\n");
    if (!write_file(old_path, bytes)) return 1;
    for (std::size_t v = 0; v < std::size(variants); ++v) {
      std::string changed = bytes;
      variants[v].change(changed);
      if (!write_file(new_path, changed)) return 1;
      Run& row = best[v][size];
      row.seconds = row.cpu_seconds = 1e300;
      for (int i = 0; i < runs; ++i) {
        const Run run = run_orvik(binary, {"diff", old_path, new_path});
        if (run.status != 0) ++failures;
        row.seconds = std::min(row.seconds, run.seconds);
        row.cpu_seconds = std::min(row.cpu_seconds, run.cpu_seconds);
        row.peak_mib = std::max(row.peak_mib, run.peak_mib);
      }
    }
  }
  std::filesystem::remove(old_path);
  std::filesystem::remove(new_path);
  fmt::print("\n{:<29} {:>6} {:>8} {:>8} {:>6} {:>8} {:>6}\n", "diff of huge feature_names", "MiB",
             "peak MiB", "run ms", "xprev", "cpu ms", "xprev");
  for (std::size_t v = 0; v < std::size(variants); ++v) {
    for (int size = 0; size < kSizes; ++size) {
      const Run& row = best[v][size];
      const auto growth = [&](double Run::*time) {
        return size == 0 ? std::string()
                         : fmt::format("{:.2f}", row.*time / best[v][size - 1].*time);
      };
      fmt::print("{:<29} {:>6} {:>8.1f} {:>8.1f} {:>6} {:>8.1f} {:>6}\n", variants[v].name,
                 16 << size, row.peak_mib, row.seconds * 1e3, growth(&Run::seconds),
                 row.cpu_seconds * 1e3, growth(&Run::cpu_seconds));
    }
  }
  return failures;
}

}  // namespace

// Arguments: [runs [orvik binary]] (by default the orvik of this build; another binary gives
// figures to compare). One line per input: size, peak RSS and its ratio to the size, time and its
// ratio to fnv1a64 of the same bytes (best of the runs).
int bench_floods(const std::vector<std::string>& words) {
  int runs = 3;
  const std::string binary = words.size() > 1 ? words[1] : ORVIK_BINARY;
  if (!words.empty()) {
    const std::optional<int> parsed = parse_runs(words[0], 100);
    if (!parsed) return 2;
    runs = *parsed;
  }
  const std::vector<Flood> floods = {
      {"CBM1 + '{}' repeated", "braces.cbm", {"catboost", "--json", "@"}, braces},
      {"CBM1 + name-like runs", "names.cbm", {"inspect", "--json", "@"}, catboost_names},
      {"CBM1 + JSON 8M levels deep", "deep.cbm", {"inspect", "@"}, deep_nesting},
      {"LightGBM huge feature_names",
       "names.lgb",
       {"inspect", "--json", "@"},
       lightgbm_feature_names},
      {"LightGBM millions of [k: v]",
       "params.lgb",
       {"inspect", "--json", "@"},
       lightgbm_parameters},
  };
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  fmt::print("{:<29} {:>6} {:>8} {:>5} {:>7} {:>8} {:>8} {:>6} {:>6} {:>7}\n", "input", "MB",
             "peak MiB", "xsize", "fnv ms", "read+fnv", "run ms", "xfnv", "xread", "cpu ms");
  int failures = 0;
  for (const Flood& flood : floods) {
    const std::string path = (dir / fmt::format("orvik_flood_{}", flood.file_name)).string();
    double size_mib = 0;
    double hash_ms = 1e300;
    {
      const std::string bytes = flood.make();
      size_mib = static_cast<double>(bytes.size()) / kMiB;
      for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const Fingerprint hash = fnv1a64(kFnvOffsetBasis, bytes);
        asm volatile("" : : "r"(hash));  // keep the hash from being optimised away
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        hash_ms = std::min(hash_ms, elapsed.count());
      }
      std::FILE* out = std::fopen(path.c_str(), "wb");
      const bool written =
          out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
      if (out == nullptr || std::fclose(out) != 0 || !written) {
        fmt::print(stderr, "cannot write {}\n", path);
        return 1;
      }
    }  // the input leaves this process before the child runs
    // The floor of any reader: the file read into a fresh buffer and hashed once.
    double read_hash_ms = 1e300;
    for (int i = 0; i < runs; ++i) {
      const auto start = std::chrono::steady_clock::now();
      const Result<std::string> bytes = read_whole_file(path);
      const Fingerprint hash = bytes ? fnv1a64(kFnvOffsetBasis, *bytes) : 0;
      asm volatile("" : : "r"(hash));
      const std::chrono::duration<double, std::milli> elapsed =
          std::chrono::steady_clock::now() - start;
      read_hash_ms = std::min(read_hash_ms, elapsed.count());
    }
    std::vector<std::string> command = flood.words;
    std::replace(command.begin(), command.end(), std::string("@"), path);
    Run best;
    best.seconds = 1e300;
    best.cpu_seconds = 1e300;
    for (int i = 0; i < runs; ++i) {
      const Run run = run_orvik(binary, command);
      if (run.status != 0) ++failures;
      best.peak_mib = std::max(best.peak_mib, run.peak_mib);
      best.seconds = std::min(best.seconds, run.seconds);
      best.cpu_seconds = std::min(best.cpu_seconds, run.cpu_seconds);
    }
    std::filesystem::remove(path);
    fmt::print(
        "{:<29} {:>6.1f} {:>8.1f} {:>5.2f} {:>7.1f} {:>8.1f} {:>8.1f} {:>6.1f} {:>6.1f} {:>7.1f}\n",
        flood.name, size_mib * kMiB / 1e6, best.peak_mib, best.peak_mib / size_mib, hash_ms,
        read_hash_ms, best.seconds * 1e3, best.seconds * 1e3 / hash_ms,
        best.seconds * 1e3 / read_hash_ms, best.cpu_seconds * 1e3);
  }
  failures += name_diff_rows(binary, runs, dir);
  if (failures != 0) fmt::print(stderr, "{} runs did not end with status 0\n", failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace orvik::bench

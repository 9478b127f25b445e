// Benchmark of the LightGBM text reader: a model of about 50 MB, built by repeating the tree
// blocks of a real model, read from memory and from a file, against fnv1a64 over the same bytes
// (the floor: the reader hashes every byte once for the file fingerprint).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/core.h>

#include "artifact_kind/artifact_kind.hpp"
#include "bench_support.hpp"
#include "benchmarks.hpp"
#include "lightgbm/lightgbm_reader.hpp"
#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik::bench {
namespace {

constexpr std::uint64_t kTargetBytes = 50ull * 1024 * 1024;

// Header up to the first tree, the tree blocks repeated up to the target size, then the tail
// from "end of trees" on (feature importances and the parameters block).
Result<std::string> build_large_model(const std::string& source) {
  auto bytes = read_whole_file(source);
  if (!bytes) return fail(fmt::format("read {}: {}", source, bytes.error()));
  const std::string_view text = *bytes;
  const std::size_t first_tree = text.find("\nTree=");
  const std::size_t trees_end = text.find("\nend of trees");
  if (first_tree == std::string_view::npos || trees_end == std::string_view::npos ||
      trees_end <= first_tree) {
    return fail(fmt::format("{} has no tree blocks to repeat", source));
  }
  const std::string_view header = text.substr(0, first_tree + 1);
  const std::string_view trees = text.substr(first_tree + 1, trees_end - first_tree);
  const std::string_view tail = text.substr(trees_end + 1);
  std::string model;
  model.reserve(kTargetBytes + trees.size() + header.size() + tail.size());
  model.append(header);
  while (model.size() < kTargetBytes)
    model.append(trees);
  model.append(tail);
  return model;
}

}  // namespace

// Arguments: [source model] [runs]. Prints one line per measurement and the ratios.
int bench_lightgbm(const std::vector<std::string>& args) {
  const std::string source =
      !args.empty() ? args[0] : std::string(ORVIK_SOURCE_DIR) + "/tests/data/lightgbm/binary.txt";
  int runs = 7;
  if (args.size() > 1) {
    const std::optional<int> parsed = parse_runs(args[1], 1000);
    if (!parsed) return 2;
    runs = *parsed;
  }
  auto model = build_large_model(source);
  if (!model) {
    fmt::print(stderr, "{}\n", model.error());
    return 1;
  }
  const std::string path =
      (std::filesystem::temp_directory_path() / "orvik_bench_lightgbm.txt").string();
  if (!write_file(path, *model)) {
    fmt::print(stderr, "cannot write {}\n", path);
    return 1;
  }

  volatile Fingerprint sink = 0;
  std::uint64_t trees = 0;
  const double hash_ms = best_ms(runs, [&] { sink = fnv1a64(kFnvOffsetBasis, *model); });
  const double memory_ms = best_ms(runs, [&] {
    auto summary = read_lightgbm_bytes(path, *model);
    if (summary) trees = summary->num_trees;
  });
  // The floor of a read from a file: the whole file in a fresh buffer, hashed once. On some
  // virtual machines the first touch of fresh pages costs more than the hash itself.
  const double file_hash_ms = best_ms(runs, [&] {
    auto bytes = read_whole_file(path);
    if (bytes) sink = fnv1a64(kFnvOffsetBasis, *bytes);
  });
  const double file_ms = best_ms(runs, [&] {
    auto summary = read_lightgbm(path);
    if (summary) sink = summary->file_fingerprint;
  });
  std::filesystem::remove(path);

  const double mib = static_cast<double>(model->size()) / (1024.0 * 1024.0);
  fmt::print("lightgbm: {:.1f} MiB model, {} trees, best of {} runs\n", mib, trees, runs);
  fmt::print("  fnv1a64 over the bytes     {:8.1f} ms  {:7.0f} MiB/s\n", hash_ms,
             mib / hash_ms * 1000.0);
  fmt::print("  read_lightgbm_bytes        {:8.1f} ms  {:7.0f} MiB/s  x{:.2f}\n", memory_ms,
             mib / memory_ms * 1000.0, memory_ms / hash_ms);
  fmt::print("  read_whole_file + fnv1a64  {:8.1f} ms  {:7.0f} MiB/s\n", file_hash_ms,
             mib / file_hash_ms * 1000.0);
  fmt::print("  read_lightgbm (file)       {:8.1f} ms  {:7.0f} MiB/s  x{:.2f}\n", file_ms,
             mib / file_ms * 1000.0, file_ms / file_hash_ms);
  return 0;
}

}  // namespace orvik::bench

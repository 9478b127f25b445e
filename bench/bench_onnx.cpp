// Benchmark of the ONNX reader: a generated model of about 128 MiB (32 float32 initializers of
// 4 MiB stored as raw_data, and 3000 nodes with their value infos), read from its file and from
// memory, against fnv1a64 over the same bytes (the floor: the reader hashes every raw_data byte
// for the initializer fingerprints). Also reports peak memory and, when the interpreter has the
// onnx package, the time of onnx.load on the same file.
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
#include "onnx/onnx_reader.hpp"
#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik::bench {
namespace {

constexpr int kTensors = 32;
constexpr std::uint64_t kRows = 1024;
constexpr std::uint64_t kCols = 1024;
constexpr std::uint64_t kTensorBytes = kRows * kCols * 4;
constexpr int kBlocks = 1000;  // MatMul, Relu and Add each
constexpr std::uint64_t kBatch = 64;

std::string node(std::string_view op, std::vector<std::string> inputs, std::string output,
                 std::string name) {
  std::string fields;
  for (const std::string& input : inputs)
    fields += lf(1, input);
  return lf(1, fields + lf(2, output) + lf(3, name) + lf(4, op));
}

// A float tensor value info of shape [batch, cols]; `field` is 11 (input), 12 or 13.
std::string value_info(std::uint64_t field, std::string_view name) {
  const std::string shape = lf(1, vf(1, kBatch)) + lf(1, vf(1, kCols));
  return lf(field, lf(1, name) + lf(2, lf(1, vf(1, 1) + lf(2, shape))));
}

// Everything of the graph but the initializers' raw bytes: one residual MLP block per 3 nodes.
std::string graph_fields() {
  std::string graph = lf(2, "bench") + value_info(11, "x");
  for (int b = 0; b < kBlocks; ++b) {
    const std::string in = b == 0 ? "x" : fmt::format("h{}", b);
    const std::string out = fmt::format("h{}", b + 1);
    graph += node("MatMul", {in, fmt::format("W{}", b % kTensors)}, fmt::format("m{}", b),
                  fmt::format("matmul_{}", b));
    graph +=
        node("Relu", {fmt::format("m{}", b)}, fmt::format("r{}", b), fmt::format("relu_{}", b));
    graph += node("Add", {fmt::format("r{}", b), in}, out, fmt::format("add_{}", b));
    graph += value_info(13, fmt::format("m{}", b)) + value_info(13, fmt::format("r{}", b));
    graph += value_info(b + 1 == kBlocks ? 12 : 13, out);
  }
  return graph;
}

// An initializer up to its raw_data bytes, which follow it.
std::string tensor_head(int index) {
  const std::string head = vf(1, kRows) + vf(1, kCols) + vf(2, 1) +
                           lf(8, fmt::format("W{}", index)) + key(9, 2) + varint(kTensorBytes);
  return key(5, 2) + varint(head.size() + kTensorBytes) + head;
}

bool write_all(std::FILE* out, std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

// Streams the model to `path`, so the generator never holds the whole file.
bool write_model(const std::string& path) {
  const std::string fields = graph_fields();
  std::uint64_t graph_size = fields.size();
  for (int t = 0; t < kTensors; ++t)
    graph_size += tensor_head(t).size() + kTensorBytes;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  bool ok = write_all(out, vf(1, 8) + lf(2, "orvik-bench") + lf(8, vf(2, 17)) + key(7, 2) +
                               varint(graph_size) + fields);
  std::vector<std::uint64_t> chunk(1 << 17);  // 1 MiB of xorshift words
  std::uint64_t state = 0x9e3779b97f4a7c15ull;
  for (int t = 0; t < kTensors && ok; ++t) {
    ok = write_all(out, tensor_head(t));
    for (std::uint64_t written = 0; written < kTensorBytes && ok; written += chunk.size() * 8) {
      for (std::uint64_t& word : chunk) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        word = state;
      }
      ok = write_all(
          out, std::string_view(reinterpret_cast<const char*>(chunk.data()), chunk.size() * 8));
    }
  }
  return std::fclose(out) == 0 && ok;
}

}  // namespace

int bench_onnx(const std::vector<std::string>& words) {
  int runs = 5;
  FileBenchOptions options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (take_file_bench_option(words, i, options)) continue;
    if (words[i] == "--runs" && i + 1 < words.size()) {
      const std::optional<int> value = parse_runs(words[++i], 1000);
      if (!value) return 2;
      runs = *value;
    } else {
      fmt::print(stderr, "usage: orvik_bench onnx [--runs N] [--python PATH] [--keep]\n");
      return 2;
    }
  }
  const std::string path = (std::filesystem::temp_directory_path() / "orvik_bench.onnx").string();
  if (!write_model(path)) {
    fmt::print(stderr, "cannot write {}\n", path);
    return 1;
  }

  // The file read first, so the peak memory it shows is the reader's alone.
  const double rss_before = peak_rss_mib();
  Result<OnnxSummary> summary = fail("not read");
  const double file_ms = best_ms(runs, [&] { summary = read_onnx(path); });
  const double rss_after = peak_rss_mib();
  auto bytes = read_whole_file(path);
  if (!summary || !bytes) {
    fmt::print(stderr, "{}\n", summary ? bytes.error() : summary.error());
    return 1;
  }
  volatile Fingerprint sink = 0;
  const double hash_ms = best_ms(runs, [&] { sink = fnv1a64(kFnvOffsetBasis, *bytes); });
  const double memory_ms = best_ms(runs, [&] {
    auto again = read_onnx_bytes(path, *bytes);
    if (again) sink = again->estimated_ops;
  });

  const double mib = static_cast<double>(bytes->size()) / (1024.0 * 1024.0);
  fmt::print("onnx: {:.1f} MiB model, {} nodes, {} initializers, {} estimated ops; best of {}\n",
             mib, summary->nodes.size(), summary->initializers.size(), summary->estimated_ops,
             runs);
  fmt::print("  fnv1a64 over the bytes     {:8.1f} ms  {:7.0f} MiB/s\n", hash_ms,
             mib / hash_ms * 1000.0);
  fmt::print("  read_onnx_bytes (memory)   {:8.1f} ms  {:7.0f} MiB/s  x{:.2f}\n", memory_ms,
             mib / memory_ms * 1000.0, memory_ms / hash_ms);
  fmt::print("  read_onnx (file)           {:8.1f} ms  {:7.0f} MiB/s  x{:.2f}\n", file_ms,
             mib / file_ms * 1000.0, file_ms / hash_ms);
  fmt::print("  peak RSS {:.1f} MiB before the file reads, {:.1f} MiB after\n", rss_before,
             rss_after);
  const double onnx_seconds = python_load_seconds(options.python, "onnx", "onnx.load(path)", path);
  if (onnx_seconds >= 0) {
    fmt::print("  onnx.load ({})  {:8.1f} ms  x{:.1f} read_onnx\n", options.python,
               onnx_seconds * 1e3, onnx_seconds * 1e3 / file_ms);
  } else {
    fmt::print("  onnx.load: skipped ({} cannot import onnx)\n", options.python);
  }
  if (options.keep) {
    fmt::print("kept {}\n", path);
  } else {
    std::filesystem::remove(path);
  }
  return 0;
}

}  // namespace orvik::bench

// orvik_bench NAME [words...]: runs one benchmark; with no name, lists them.
#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/core.h>

#include "benchmarks.hpp"

namespace {

struct Benchmark {
  std::string_view name;
  int (*run)(const std::vector<std::string>& words);
  std::string_view summary;
};

constexpr std::array kBenchmarks = {
    Benchmark{"catboost", orvik::bench::bench_catboost,
              "read_catboost_bytes on 64 MiB files against fnv1a64 of the same bytes"},
    Benchmark{"lab", orvik::bench::bench_lab,
              "execute_model: runs of examples/mlp.json, peak RSS of an N x N attention run"},
    Benchmark{"lightgbm", orvik::bench::bench_lightgbm,
              "read_lightgbm of a 50 MiB text model against fnv1a64 of the same bytes"},
    Benchmark{"onnx", orvik::bench::bench_onnx,
              "read_onnx of a 128 MiB model against fnv1a64 of the same bytes; onnx.load"},
    Benchmark{"plan", orvik::bench::bench_plan,
              "deserialize_model_spec, build_model and analyze_model on large tensor plans"},
    Benchmark{"floods", orvik::bench::bench_floods,
              "whole commands on floods of tiny items: peak RSS and time against size and fnv1a64"},
    Benchmark{"pytorch", orvik::bench::bench_pytorch,
              "read_pytorch of a 1 GiB torch.save checkpoint: time and peak RSS"},
};

int list_benchmarks(std::FILE* out) {
  fmt::print(out, "usage: orvik_bench <name> [words...]\n\nbenchmarks:\n");
  for (const Benchmark& benchmark : kBenchmarks) {
    fmt::print(out, "  {:<12} {}\n", benchmark.name, benchmark.summary);
  }
  return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return list_benchmarks(stdout);
  const std::string_view name = argv[1];
  const std::vector<std::string> words(argv + 2, argv + argc);
  for (const Benchmark& benchmark : kBenchmarks) {
    if (benchmark.name == name) return benchmark.run(words);
  }
  fmt::print(stderr, "unknown benchmark `{}`\n", name);
  return list_benchmarks(stderr);
}

// Benchmark of plan execution: many runs of the example perceptron (time per run, with and
// without the per-run validation that bench_model repeats), then one run of a shape-only
// attention layer whose score matrix is the largest of the run (N x N floats), with the process's
// peak memory before and after. A run frees each tensor once read, so the attention run should
// hold about two score-sized tensors at a time (scores and their scaled copy, then the scaled
// copy and the softmax), not the six an execution that keeps everything would.
#include <cstdint>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "bench_support.hpp"
#include "benchmarks.hpp"
#include "model/analysis.hpp"
#include "model/execution.hpp"
#include "model/model.hpp"
#include "model/plan_schema.hpp"
#include "util/text.hpp"

namespace orvik::bench {

int bench_lab(const std::vector<std::string>& words) {
  std::uint64_t tokens = 8192;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--tokens" && i + 1 < words.size()) {
      const auto value = parse_u64(words[++i]);
      if (!value) {
        fmt::print(stderr, "parse --tokens: {}\n", value.error());
        return 2;
      }
      tokens = *value;
    } else {
      fmt::print(stderr, "usage: orvik_bench lab [--tokens 8192]\n");
      return 2;
    }
  }

  const auto mlp = load_model(ORVIK_SOURCE_DIR "/examples/mlp.json");
  if (!mlp) {
    fmt::print(stderr, "{}\n", mlp.error());
    return 1;
  }
  constexpr int kRuns = 20000;
  const double validate_ms = best_ms(3, [&] {
    for (int i = 0; i < kRuns; ++i)
      (void)check_model(*mlp);
  });
  const StepSink drop_step = [](ExecStep&&) {};
  const double run_ms = best_ms(3, [&] {
    for (int i = 0; i < kRuns; ++i)
      (void)execute_model(*mlp, false, false, drop_step);
  });
  fmt::print(
      "examples/mlp.json, {} runs: execute_model {:.2f} us per run, of which validation "
      "{:.2f} us\n",
      kRuns, run_ms * 1000.0 / kRuns, validate_ms * 1000.0 / kRuns);

  auto spec = deserialize_model_spec(fmt::format(
      R"({{"name": "wide", "input_shape": [{}, 1],
          "layers": [{{"type": "self_attention", "head_dim": 1, "value_dim": 1}}]}})",
      tokens));
  if (!spec) {
    fmt::print(stderr, "{}\n", spec.error());
    return 1;
  }
  const auto wide = build_model(std::move(*spec));
  if (!wide) {
    fmt::print(stderr, "{}\n", wide.error());
    return 1;
  }
  const double scores_mib =
      static_cast<double>(tokens) * static_cast<double>(tokens) * 4.0 / (1024.0 * 1024.0);
  const double rss_before = peak_rss_mib();
  std::string error;
  const double wide_ms = best_ms(1, [&] {
    const auto run = execute_model(*wide, false, false, drop_step);
    if (!run) error = run.error();
  });
  if (!error.empty()) {
    fmt::print(stderr, "{}\n", error);
    return 1;
  }
  fmt::print(
      "attention over {} tokens (scores {:.1f} MiB): {:.0f} ms; peak RSS {:.1f} MiB "
      "before, {:.1f} MiB after ({:.2f} score matrices)\n",
      tokens, scores_mib, wide_ms, rss_before, peak_rss_mib(),
      (peak_rss_mib() - rss_before) / scores_mib);
  return 0;
}

}  // namespace orvik::bench

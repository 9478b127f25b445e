// Benchmark of the tensor-plan reader, plan building and the static analysis: a plan whose input
// holds about 16 MiB of numbers, the same numbers as a layer's weights (the layer's values are
// buffered until its type is known), and a plan of many shape-only layers; against fnv1a64 over
// the same bytes and the JSON library's own parse.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "artifact_kind/artifact_kind.hpp"
#include "bench_support.hpp"
#include "benchmarks.hpp"
#include "model/analysis.hpp"
#include "model/model.hpp"
#include "model/plan_schema.hpp"
#include "util/json.hpp"
#include "util/text.hpp"

namespace orvik::bench {
namespace {

constexpr std::size_t kSide = 1024;  // a [1024, 1536] tensor of written-out numbers

std::string numbers_text(std::size_t count) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> value(-2.0, 2.0);
  std::string text;
  text.reserve(count * 12);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text.push_back(',');
    text += fmt::format("{:.6f}", value(random));
  }
  return text;
}

// Layers alternate a shape-only linear layer and a ReLU on a [4, 16] running shape.
std::string many_layers_plan(std::size_t layers) {
  std::string text = R"({"name": "deep", "input_shape": [4, 16], "layers": [)";
  for (std::size_t i = 0; i < layers; ++i) {
    if (i > 0) text.push_back(',');
    text += i % 2 == 0 ? R"({"type": "linear", "out": 16, "explain": "mix features"})"
                       : R"({"type": "relu"})";
  }
  text += "]}";
  return text;
}

}  // namespace

// Arguments: [runs]. Prints one line per measurement.
int bench_plan(const std::vector<std::string>& args) {
  int runs = 5;
  if (!args.empty()) {
    const std::optional<int> parsed = parse_runs(args[0], 1000);
    if (!parsed) return 2;
    runs = *parsed;
  }
  const std::size_t count = kSide * 1536;
  const std::string numbers = numbers_text(count);
  const std::string input_plan = fmt::format(
      R"({{"input": {{"shape": [{}, 1536], "data": [{}]}}, "layers": [{{"type": "relu"}}]}})",
      kSide, numbers);
  const std::string layer_plan =
      fmt::format(R"({{"input_shape": [1, {}], "layers": [{{"type": "linear", "out": 1536, )"
                  R"("weights": {{"shape": [{}, 1536], "data": [{}]}}}}]}})",
                  kSide, kSide, numbers);
  const std::string deep_plan = many_layers_plan(200'000);

  volatile std::uint64_t sink = 0;
  const auto mib = [](const std::string& text) {
    return static_cast<double>(text.size()) / (1024.0 * 1024.0);
  };
  const auto row = [&](std::string_view label, const std::string& text, double ms) {
    fmt::print("  {:<34} {:8.1f} ms  {:7.0f} MiB/s\n", label, ms, mib(text) / ms * 1000.0);
  };

  fmt::print("plan: {:.1f} MiB of numbers ({} values), best of {} runs\n", mib(input_plan), count,
             runs);
  row("fnv1a64 over the bytes", input_plan,
      best_ms(runs, [&] { sink = fnv1a64(kFnvOffsetBasis, input_plan); }));
  row("JSON library parse", input_plan, best_ms(runs, [&] {
        auto value = parse_json(input_plan);
        sink = value ? value->size() : 0;
      }));
  row("deserialize_model_spec (input)", input_plan, best_ms(runs, [&] {
        auto spec = deserialize_model_spec(input_plan);
        sink = spec && spec->input ? spec->input->data.size() : 0;
      }));
  row("deserialize_model_spec (layer)", layer_plan, best_ms(runs, [&] {
        auto spec = deserialize_model_spec(layer_plan);
        sink = spec ? spec->layers.size() : 0;
      }));

  auto deep_spec = deserialize_model_spec(deep_plan);
  if (!deep_spec) {
    fmt::print(stderr, "{}\n", deep_spec.error());
    return 1;
  }
  fmt::print("plan: {} shape-only layers ({:.1f} MiB)\n", deep_spec->layers.size(), mib(deep_plan));
  row("deserialize_model_spec", deep_plan, best_ms(runs, [&] {
        auto spec = deserialize_model_spec(deep_plan);
        sink = spec ? spec->layers.size() : 0;
      }));
  const double build_ms = best_ms(runs, [&] {
    auto model = build_model(*deep_spec);
    sink = model ? model->layers.size() : 0;
  });
  auto model = build_model(*deep_spec);
  if (!model) {
    fmt::print(stderr, "{}\n", model.error());
    return 1;
  }
  const double analysis_ms = best_ms(runs, [&] {
    auto analysis = analyze_model(*model);
    sink = analysis ? analysis->total_ops : 0;
  });
  const double per_layer = 1e6 / static_cast<double>(model->layers.size());
  fmt::print("  {:<34} {:8.1f} ms  {:7.2f} us a layer\n", "build_model", build_ms,
             build_ms * per_layer / 1000.0);
  fmt::print("  {:<34} {:8.1f} ms  {:7.2f} us a layer\n", "analyze_model", analysis_ms,
             analysis_ms * per_layer / 1000.0);
  return 0;
}

}  // namespace orvik::bench

#include "main/run_commands.hpp"

#include <cstdint>
#include <string>

#include <fmt/format.h>

#include "model/execution.hpp"
#include "model/model.hpp"
#include "util/format.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {

namespace {

// Prints a label and a text that may be as long as a whole tensor's values, without copying it.
void print_labelled(std::string_view label, std::string_view text) {
  print_raw(label);
  print_line(text);
}

}  // namespace

CommandResult cmd_run(const Words& words) {
  constexpr std::string_view kUsage = "usage: orvik run examples/mlp.json [--values] [--heatmap]";
  bool show_values = false;
  bool show_heatmap = false;
  const std::string* path = nullptr;
  for (const std::string& word : words) {
    if (word == "--values") {
      show_values = true;
    } else if (word == "--heatmap") {
      show_heatmap = true;
    } else if (path == nullptr) {
      path = &word;
    } else {
      return fail(fmt::format("unexpected argument `{}`", word));
    }
  }
  if (path == nullptr) return fail(std::string(kUsage));
  const auto model = load_model(*path);
  if (!model) return fail(model.error());
  const auto run = execute_model(*model, show_values, show_heatmap);
  if (!run) return fail(run.error());

  print_line(fmt::format("Model: {}", run->model_name));
  print_line(fmt::format("Input shape: {}", run->input_shape));
  print_line();
  for (const ExecStep& step : run->steps) {
    print_line(fmt::format("Layer {}: {}", step.number, step.title));
    for (const std::string& line : step.lines)
      print_labelled("  ", line);
    if (step.values) print_line(*step.values);
    if (step.heatmap) print_line(*step.heatmap);
    print_line(fmt::format("  time: {} ms", format_fixed(step.time_ms, 3)));
    print_line();
  }
  print_labelled("Output: ", run->output);
  if (run->prediction) print_labelled("Prediction: ", *run->prediction);
  return {};
}

CommandResult cmd_bench(const Words& words) {
  if (words.empty()) return fail("usage: orvik bench examples/mlp.json [--iters 1000]");
  std::uint64_t iterations = 1000;
  const std::string* path = nullptr;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--iters") {
      if (i + 1 >= words.size()) return fail("--iters needs a number");
      const auto value = parse_u64(words[++i]);
      if (!value) return fail(fmt::format("parse --iters: {}", value.error()));
      if (*value == 0) return fail("--iters must be greater than 0");
      iterations = *value;
    } else if (path == nullptr) {
      path = &word;
    } else {
      return fail(fmt::format("unexpected argument `{}`", word));
    }
  }
  if (path == nullptr) return fail("usage: orvik bench examples/mlp.json");
  const auto model = load_model(*path);
  if (!model) return fail(model.error());
  const auto bench = bench_model(*model, iterations);
  if (!bench) return fail(bench.error());
  print_line(fmt::format("Benchmark: {}", bench->model_name));
  print_line(fmt::format("Iterations: {}", bench->iterations));
  print_line(fmt::format("Total time: {} ms", format_fixed(bench->total_ms, 3)));
  print_line(fmt::format("Average time: {} ms", format_fixed(bench->average_ms, 6)));
  print_labelled("Last output: ", bench->last_output);
  if (bench->last_prediction) print_labelled("Last prediction: ", *bench->last_prediction);
  return {};
}

}  // namespace orvik

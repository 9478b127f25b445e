#include "main/run_commands.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

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

// The steps of a run as printed, kept until the whole run has succeeded (a failing run prints
// nothing). Short steps share blocks of a megabyte, so a million of them cost little more than
// their text and the text never moves; a long value text is kept as it came.
class PendingSteps {
 public:
  void add(ExecStep&& step) {
    std::string head = fmt::format("Layer {}: {}\n", step.number, step.title);
    for (const std::string& line : step.lines) {
      head += "  ";
      head += line;
      head += '\n';
    }
    append(head);
    if (step.values) append_line(std::move(*step.values));
    if (step.heatmap) append_line(std::move(*step.heatmap));
    append(fmt::format("  time: {} ms\n\n", format_fixed(step.time_ms, 3)));
  }

  void print() const {
    for (const std::string& block : blocks_)
      print_raw(block);
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 20;

  void append(std::string_view text) {
    if (blocks_.empty() || blocks_.back().size() + text.size() > kBlock) {
      blocks_.emplace_back().reserve(std::max(kBlock, text.size()));
    }
    blocks_.back() += text;
  }

  void append_line(std::string text) {
    if (text.size() < kBlock) {
      append(text);
      append("\n");
      return;
    }
    blocks_.push_back(std::move(text));
    append("\n");
  }

  std::vector<std::string> blocks_;
};

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
  PendingSteps steps;
  const auto run = execute_model(*model, show_values, show_heatmap,
                                 [&](ExecStep&& step) { steps.add(std::move(step)); });
  if (!run) return fail(run.error());

  print_line(fmt::format("Model: {}", run->model_name));
  print_line(fmt::format("Input shape: {}", run->input_shape));
  print_line();
  steps.print();
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

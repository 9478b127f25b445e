#include "main/lab_commands.hpp"

#include <string>
#include <string_view>

#include <fmt/format.h>

#include "model/model.hpp"
#include "model/views.hpp"
#include "util/format.hpp"
#include "util/input.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {

namespace {

// Loads the plan named by the first word and takes one view of it.
template <class View>
Result<View> load_view(const Words& words, std::string_view usage,
                       Result<View> (*view)(const Model&)) {
  if (words.empty()) return fail(std::string(usage));
  const auto model = load_model(words.front());
  if (!model) return fail(model.error());
  return view(*model);
}

void print_description(const std::optional<std::string>& description) {
  if (description) print_line(fmt::format("Description: {}", *description));
}

// ops * 100 / total in doubles; 0 when the total is 0.
double percent_of(std::uint64_t ops, std::uint64_t total) {
  if (total == 0) return 0.0;
  return static_cast<double>(ops) * 100.0 / static_cast<double>(total);
}

std::string percent_text(std::uint64_t ops, std::uint64_t total) {
  return format_fixed(percent_of(ops, total), 1);
}

void print_totals(const AnalysisTotals& totals) {
  print_line(fmt::format("Parameter memory: {} B", totals.param_bytes));
  print_line(fmt::format("Peak activation memory: {} B", totals.peak_activation_bytes));
  print_line(fmt::format("Estimated ops: {}", totals.total_ops));
}

void print_heading(std::string_view title) {
  print_line(title);
  print_line(std::string(title.size(), '-'));
}

}  // namespace

CommandResult cmd_trace(const Words& words) {
  const auto view = load_view(words, "usage: orvik trace examples/tiny_attention.json", trace_view);
  if (!view) return fail(view.error());
  print_heading("Model Summary");
  print_line(fmt::format("Model: {}", view->model_name));
  print_description(view->description);
  print_line(fmt::format("Layers: {}", view->layer_count));
  print_line(fmt::format("Parameters: {} values / {} B", view->param_values, view->param_bytes));
  print_line();
  print_line("Execution Plan:");
  for (std::size_t i = 0; i < view->plan_steps.size(); ++i) {
    if (i > 0) {
      print_line("   |");
      print_line("   v");
    }
    print_line(fmt::format("  {}", view->plan_steps[i]));
  }
  print_line();
  print_line(fmt::format("Estimated Cost: {} ops", view->total_ops));
  print_line(fmt::format("Estimated Memory: {}", format_size(view->total_memory)));
  print_line("Hot Path:");
  const OpCost& hot = view->most_expensive_operation;
  print_line(fmt::format("  {} ({}%)", hot.name, percent_text(hot.ops, view->total_ops)));
  print_line();
  print_line("Largest Tensor:");
  print_line(fmt::format("  {}", view->largest_tensor.name));
  print_line(fmt::format("  shape {}", view->largest_tensor.shape));
  print_line(fmt::format("  memory {} B", view->largest_tensor.bytes));
  print_line();
  print_line("Most Expensive Operation:");
  print_line(fmt::format("  {}", hot.name));
  print_line(fmt::format("  {} ops", hot.ops));
  print_line();
  print_line("Potential Bottlenecks:");
  for (const OpCost& op : view->top_operations) {
    print_line(fmt::format("  {} ({}) ops", op.name, op.ops));
  }
  return {};
}

CommandResult cmd_compare(const Words& words) {
  const auto view =
      load_view(words, "usage: orvik compare examples/tiny_attention.json", compare_view);
  if (!view) return fail(view.error());
  const auto row = [](std::string_view label, std::string_view ops, std::string_view memory,
                      std::string_view compute) {
    print_line(fmt::format("{} {} {} {}", pad_right(label, 34), pad_left(ops, 10),
                           pad_left(memory, 12), compute));
  };
  print_heading("Execution Summary");
  print_line(fmt::format("Model: {}", view->model_name));
  print_line();
  row("Layer", "Ops", "Memory", pad_left("Compute", 10));
  print_line(std::string(70, '-'));
  const CostRow* busiest = nullptr;
  for (const CostRow& cost : view->cost_rows) {
    row(cost.label, std::to_string(cost.ops), format_size(cost.memory),
        pad_left(percent_text(cost.ops, view->total_ops), 9) + "%");
    if (busiest == nullptr || cost.ops >= busiest->ops) busiest = &cost;
  }
  print_line(std::string(70, '-'));
  row("Total", std::to_string(view->total_ops), format_size(view->total_memory),
      pad_left("100.0%", 9));
  if (busiest != nullptr) {
    print_line();
    print_line(fmt::format("{} consumes {}% of compute.", busiest->label,
                           percent_text(busiest->ops, view->total_ops)));
  }
  return {};
}

CommandResult cmd_why(const Words& words) {
  const auto view = load_view(words, "usage: orvik why examples/tiny_attention.json", why_view);
  if (!view) return fail(view.error());
  print_heading("Why is attention expensive?");
  print_line(fmt::format("Model: {}", view->model_name));
  if (view->attention_costs.empty()) {
    print_line();
    print_line("No self-attention layers found.");
    return {};
  }
  for (const AttentionCost& cost : view->attention_costs) {
    const std::uint64_t pairs = cost.tokens * cost.tokens;
    print_line();
    print_line(fmt::format("Attention layer: {}", cost.layer));
    print_line(fmt::format("  {} ops", cost.total));
    print_line();
    print_line("Breakdown:");
    for (const auto& [label, ops] :
         {std::pair<std::string_view, std::uint64_t>{"Q projection", cost.q_proj},
          {"K projection", cost.k_proj},
          {"V projection", cost.v_proj},
          {"Q @ K^T", cost.scores},
          {"attention @ V", cost.mix}}) {
      print_line(fmt::format("  {:<18} {:>8} ops", label, ops));
    }
    print_line();
    print_line("Total:");
    print_line(fmt::format("  {} ops", cost.total));
    print_line();
    print_line("Explanation:");
    print_line("  Every token must compare itself against every other token.");
    print_line(fmt::format(
        "  This layer has {} tokens, so scores contains {} x {} = {} pairwise comparisons.",
        cost.tokens, cost.tokens, cost.tokens, pairs));
    print_line(fmt::format(
        "  Each comparison spans head_dim={}, then attention mixes value_dim={} values.",
        cost.head_dim, cost.value_dim));
    print_line("  The score and value-mixing terms grow roughly with tokens^2.");
    print_line();
    print_line("Token growth:");
    for (const auto& [tokens, comparisons] :
         {std::pair<std::uint64_t, std::uint64_t>{cost.tokens, pairs},
          {128, 16384},
          {256, 65536}}) {
      print_line(fmt::format("  {:>3} tokens -> {:>6} pairwise comparisons", tokens, comparisons));
    }
  }
  return {};
}

CommandResult cmd_validate(const Words& words) {
  const auto view = load_view(words, "usage: orvik validate examples/mlp.json", validate_view);
  if (!view) return fail(view.error());
  print_line("Validation: ok");
  print_line(fmt::format("Model: {}", view->model_name));
  print_description(view->description);
  print_totals(view->totals);
  print_line();
  print_line("Shape flow:");
  for (const ShapeFlowEntry& entry : view->shape_flow) {
    print_line(fmt::format("  {} {}", pad_right(entry.label, 16), entry.shape));
  }
  return {};
}

CommandResult cmd_tensor_inspect(const Words& words) {
  const auto view = load_view(words, "usage: orvik tensor-inspect examples/mlp.json", inspect_view);
  if (!view) return fail(view.error());
  print_line(fmt::format("Model: {}", view->model_name));
  print_description(view->description);
  print_line(fmt::format("Input: {}", view->input_shape));
  print_line(fmt::format("Layers: {}", view->layer_reports.size()));
  print_totals(view->totals);
  print_line();
  for (const LayerReport& report : view->layer_reports) {
    print_line(fmt::format("Layer {}: {}", report.number, report.title));
    for (const std::string& line : report.lines)
      print_line(fmt::format("  {}", line));
    print_line();
  }
  return {};
}

CommandResult cmd_explain_model(const Words& words) {
  const auto view =
      load_view(words, "usage: orvik explain-model examples/tiny_attention.json", walkthrough_view);
  if (!view) return fail(view.error());
  print_heading("Model Walkthrough");
  print_line(fmt::format("Model: {}", view->model_name));
  print_description(view->description);
  print_line();
  for (const WalkthroughStep& step : view->steps) {
    const std::string heading = fmt::format("Step {}: {}", step.number, step.title);
    print_heading(heading);
    for (const std::string& line : step.lines)
      print_line(line);
    print_line();
  }
  return {};
}

bool shape_reply_matches(std::string_view reply, std::string_view answer) {
  // Removing every White_Space character also removes the ends' white space.
  return strip_whitespace(reply) == strip_whitespace(answer);
}

CommandResult cmd_quiz(const Words& words) {
  const auto view = load_view(words, "usage: orvik quiz examples/mlp.json", quiz_view);
  if (!view) return fail(view.error());
  print_line(fmt::format("Shape quiz: {}", view->model_name));
  print_line("Type shapes like [1, 8].");
  print_line();
  std::uint64_t score = 0;
  for (const QuizQuestion& question : view->questions) {
    print_line(fmt::format("Question {}: {}", question.number, question.title));
    for (const std::string& line : question.lines)
      print_line(fmt::format("  {}", line));
    const auto reply = ask_line("output shape> ");
    if (!reply) return fail(reply.error());
    if (shape_reply_matches(*reply, question.answer)) {
      print_line("Correct.");
      ++score;
    } else {
      print_line(fmt::format("Answer: {}", question.answer));
    }
    print_line(fmt::format("Why: {}", question.why));
    print_line();
  }
  print_line(fmt::format("Score: {}/{}", score, view->questions.size()));
  return {};
}

}  // namespace orvik

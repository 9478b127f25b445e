#pragma once
// The parts of one plan's analysis that each lab report prints. A view walks the model with the
// analysis, keeps the model name and what its report needs (nothing else of the analysis is made),
// and returns the analysis's "Validation failed" message unchanged when the plan does not fit.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/analysis.hpp"
#include "model/model.hpp"
#include "util/result.hpp"

namespace orvik {

struct QuizView {
  std::string model_name;
  std::vector<QuizQuestion> questions;
};

struct WalkthroughView {
  std::string model_name;
  std::vector<WalkthroughStep> steps;
  std::optional<std::string> description;
};

struct WhyView {
  std::string model_name;
  std::vector<AttentionCost> attention_costs;
};

struct CompareView {
  std::string model_name;
  std::vector<CostRow> cost_rows;
  std::uint64_t total_ops = 0;
  std::uint64_t total_memory = 0;  // the sum of the rows' memory
};

struct InspectView {
  std::string model_name;
  std::string input_shape;  // shape text
  std::vector<LayerReport> layer_reports;
  std::optional<std::string> description;
  AnalysisTotals totals;
};

struct ValidateView {
  std::string model_name;
  std::vector<ShapeFlowEntry> shape_flow;
  std::optional<std::string> description;
  AnalysisTotals totals;
};

struct TraceView {
  std::string model_name;
  std::vector<std::string_view> plan_steps;  // "Input", then the kinds' words
  // The tensor with the most bytes; among equals the later one.
  TensorInfo largest_tensor;
  // The operation with the most ops; among equals the later one; {"none", 0} without layers.
  OpCost most_expensive_operation;
  // The operations by ops, descending, equal counts in plan order; at most three.
  std::vector<OpCost> top_operations;
  std::optional<std::string> description;
  std::uint64_t layer_count = 0;
  std::uint64_t param_bytes = 0;
  std::uint64_t param_values = 0;  // param_bytes / 4
  std::uint64_t total_ops = 0;
  std::uint64_t total_memory = 0;  // the sum of the cost rows' memory
};

Result<QuizView> quiz_view(const Model& model);
Result<WalkthroughView> walkthrough_view(const Model& model);
Result<WhyView> why_view(const Model& model);
Result<CompareView> compare_view(const Model& model);
Result<InspectView> inspect_view(const Model& model);
Result<ValidateView> validate_view(const Model& model);
Result<TraceView> trace_view(const Model& model);

}  // namespace orvik

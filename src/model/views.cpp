#include "model/views.hpp"

#include <algorithm>

#include "tensor/tensor.hpp"

namespace orvik {

namespace {

std::uint64_t total_memory(const std::vector<CostRow>& rows) {
  std::uint64_t total = 0;
  for (const CostRow& row : rows)
    total += row.memory;
  return total;
}

}  // namespace

Result<QuizView> quiz_view(const Model& model) {
  auto analysis = analyze_model(model);
  if (!analysis) return fail(std::move(analysis.error()));
  return QuizView{model.name, std::move(analysis->quiz_questions)};
}

Result<WalkthroughView> walkthrough_view(const Model& model) {
  auto analysis = analyze_model(model);
  if (!analysis) return fail(std::move(analysis.error()));
  return WalkthroughView{model.name, std::move(analysis->walkthrough_steps), model.description};
}

Result<WhyView> why_view(const Model& model) {
  auto analysis = analyze_model(model);
  if (!analysis) return fail(std::move(analysis.error()));
  return WhyView{model.name, std::move(analysis->attention_costs)};
}

Result<CompareView> compare_view(const Model& model) {
  auto analysis = analyze_model(model);
  if (!analysis) return fail(std::move(analysis.error()));
  const std::uint64_t memory = total_memory(analysis->cost_rows);
  return CompareView{model.name, std::move(analysis->cost_rows), analysis->total_ops, memory};
}

Result<InspectView> inspect_view(const Model& model) {
  auto analysis = analyze_model(model);
  if (!analysis) return fail(std::move(analysis.error()));
  return InspectView{
      model.name,         format_shape(model.input.shape), std::move(analysis->layer_reports),
      model.description,  analysis->param_bytes,           analysis->peak_activation_bytes,
      analysis->total_ops};
}

Result<ValidateView> validate_view(const Model& model) {
  auto analysis = analyze_model(model);
  if (!analysis) return fail(std::move(analysis.error()));
  return ValidateView{model.name,
                      std::move(analysis->shape_flow),
                      model.description,
                      analysis->param_bytes,
                      analysis->peak_activation_bytes,
                      analysis->total_ops};
}

Result<TraceView> trace_view(const Model& model) {
  auto analysis = analyze_model(model);
  if (!analysis) return fail(std::move(analysis.error()));
  TraceView view;
  view.model_name = model.name;
  view.plan_steps = std::move(analysis->plan_steps);
  // The input entry is always there; ">=" lets the later of equal entries win.
  view.largest_tensor = analysis->tensors.front();
  for (const TensorInfo& tensor : analysis->tensors) {
    if (tensor.bytes >= view.largest_tensor.bytes) view.largest_tensor = tensor;
  }
  view.most_expensive_operation = OpCost{"none", 0};
  if (!analysis->operations.empty()) {
    view.most_expensive_operation = analysis->operations.front();
    for (const OpCost& op : analysis->operations) {
      if (op.ops >= view.most_expensive_operation.ops) view.most_expensive_operation = op;
    }
  }
  view.top_operations = analysis->operations;
  std::stable_sort(view.top_operations.begin(), view.top_operations.end(),
                   [](const OpCost& a, const OpCost& b) { return a.ops > b.ops; });
  if (view.top_operations.size() > 3) view.top_operations.resize(3);
  view.description = model.description;
  view.layer_count = model.layers.size();
  view.param_bytes = analysis->param_bytes;
  view.param_values = analysis->param_bytes / 4;
  view.total_ops = analysis->total_ops;
  view.total_memory = total_memory(analysis->cost_rows);
  return view;
}

}  // namespace orvik

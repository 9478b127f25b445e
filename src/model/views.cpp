#include "model/views.hpp"

#include <array>

#include "model/analysis_texts.hpp"
#include "tensor/tensor.hpp"

namespace orvik {

Result<QuizView> quiz_view(const Model& model) {
  QuizView view{model.name, {}};
  const auto totals = walk_model(
      model, [&](const LayerStep& step) { view.questions.push_back(quiz_question(step)); });
  if (!totals) return fail(totals.error());
  return view;
}

Result<WalkthroughView> walkthrough_view(const Model& model) {
  WalkthroughView view{model.name, {}, model.description};
  const auto totals = walk_model(
      model, [&](const LayerStep& step) { view.steps.push_back(walkthrough_step(step)); });
  if (!totals) return fail(totals.error());
  return view;
}

Result<WhyView> why_view(const Model& model) {
  WhyView view{model.name, {}};
  const auto totals = walk_model(model, [&](const LayerStep& step) {
    if (step.attention) view.attention_costs.push_back(*step.attention);
  });
  if (!totals) return fail(totals.error());
  return view;
}

Result<CompareView> compare_view(const Model& model) {
  CompareView view{model.name, {}, 0, 0};
  const auto totals = walk_model(model, [&](const LayerStep& step) {
    view.cost_rows.push_back(CostRow{cost_label(*step.layer), step.ops, step.memory});
    view.total_memory += step.memory;
  });
  if (!totals) return fail(totals.error());
  view.total_ops = totals->total_ops;
  return view;
}

Result<InspectView> inspect_view(const Model& model) {
  InspectView view;
  view.model_name = model.name;
  view.input_shape = format_shape(model.input.shape);
  view.description = model.description;
  const auto totals = walk_model(
      model, [&](const LayerStep& step) { view.layer_reports.push_back(layer_report(step)); });
  if (!totals) return fail(totals.error());
  view.totals = *totals;
  return view;
}

Result<ValidateView> validate_view(const Model& model) {
  ValidateView view;
  view.model_name = model.name;
  view.description = model.description;
  view.shape_flow.reserve(model.layers.size() + 1);
  view.shape_flow.push_back(ShapeFlowEntry{"input", format_shape(model.input.shape)});
  const auto totals = walk_model(model, [&](const LayerStep& step) {
    view.shape_flow.push_back(ShapeFlowEntry{step.layer->name, format_shape(step.output)});
  });
  if (!totals) return fail(totals.error());
  view.totals = *totals;
  return view;
}

Result<TraceView> trace_view(const Model& model) {
  TraceView view;
  view.model_name = model.name;
  view.plan_steps.reserve(model.layers.size() + 1);
  view.plan_steps.push_back("Input");
  // The choices are made as the walk goes, and only the chosen entries get their texts.
  // The largest tensor: the input, or a produced one; ">=" lets the later of equal ones win.
  const std::uint64_t input_bytes = input_tensor_info(model).bytes;
  std::uint64_t largest_bytes = input_bytes;
  const Layer* largest_layer = nullptr;
  ProducedTensor largest;
  struct Operation {
    const Layer* layer = nullptr;
    std::uint64_t ops = 0;
  };
  Operation busiest;  // the most ops; the later of equal ones
  // The three with the most ops, equal counts in plan order: a later operation goes after every
  // one with at least its ops.
  std::array<Operation, 3> top{};
  std::size_t top_count = 0;
  std::uint64_t total_memory = 0;
  const auto totals = walk_model(model, [&](const LayerStep& step) {
    view.plan_steps.push_back(layer_kind_word(step.layer->kind));
    for (const ProducedTensor& tensor : step.produced_tensors()) {
      const std::uint64_t bytes = 4 * tensor.rows * tensor.cols;
      if (bytes >= largest_bytes) {
        largest_bytes = bytes;
        largest_layer = step.layer;
        largest = tensor;
      }
    }
    if (busiest.layer == nullptr || step.ops >= busiest.ops) busiest = {step.layer, step.ops};
    std::size_t at = 0;
    while (at < top_count && top[at].ops >= step.ops)
      ++at;
    if (at < top.size()) {
      if (top_count < top.size()) ++top_count;
      for (std::size_t i = top_count - 1; i > at; --i)
        top[i] = top[i - 1];
      top[at] = {step.layer, step.ops};
    }
    total_memory += step.memory;
  });
  if (!totals) return fail(totals.error());
  view.largest_tensor = largest_layer == nullptr ? input_tensor_info(model)
                                                 : produced_tensor_info(*largest_layer, largest);
  view.most_expensive_operation = busiest.layer == nullptr
                                      ? OpCost{"none", 0}
                                      : OpCost{operation_name(*busiest.layer), busiest.ops};
  for (std::size_t i = 0; i < top_count; ++i) {
    view.top_operations.push_back(OpCost{operation_name(*top[i].layer), top[i].ops});
  }
  view.description = model.description;
  view.layer_count = model.layers.size();
  view.param_bytes = totals->param_bytes;
  view.param_values = totals->param_bytes / 4;
  view.total_ops = totals->total_ops;
  view.total_memory = total_memory;
  return view;
}

}  // namespace orvik

#pragma once
// The texts the analysis records for each layer: its operation name, cost-row label, layer
// report, walkthrough step and quiz question, per layer kind.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "model/analysis.hpp"

namespace orvik {

struct LayerTexts {
  std::string operation;   // OpCost.name
  std::string cost_label;  // CostRow.label
  LayerReport report;
  WalkthroughStep step;
  QuizQuestion question;
};

using ShapeView = std::span<const std::uint64_t>;

// "Linear", "SelfAttention", "ReLU", "GELU" or "Softmax": the kind's word in the execution plan
// and in layer titles.
std::string_view layer_kind_word(LayerKind kind);

// "{name} ({kind word})": the title of a layer's report, quiz question and execution step.
std::string layer_title(const Layer& layer);

// A linear layer at position `number` (from 1) on input x, with output shape out and its
// operation count.
LayerTexts linear_texts(const Layer& layer, std::uint64_t number, ShapeView x, ShapeView out,
                        std::uint64_t ops);

// An attention layer on input x [T, F] with output shape out.
LayerTexts attention_texts(const Layer& layer, std::uint64_t number, ShapeView x, ShapeView out,
                           const AttentionCost& cost);

// A ReLU, GELU or softmax layer on input x holding `count` values.
LayerTexts activation_texts(const Layer& layer, std::uint64_t number, ShapeView x,
                            std::uint64_t count);

}  // namespace orvik

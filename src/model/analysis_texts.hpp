#pragma once
// The texts the analysis records for each layer: its operation name, cost-row label, layer
// report, walkthrough step and quiz question. Each is made on its own, so that a report makes
// only the texts it prints.
#include <string>
#include <string_view>

#include "model/analysis.hpp"

namespace orvik {

// "Linear", "SelfAttention", "ReLU", "GELU" or "Softmax": the kind's word in the execution plan
// and in layer titles.
std::string_view layer_kind_word(LayerKind kind);

// "{name} ({kind word})": the title of a layer's report, quiz question and execution step.
std::string layer_title(const Layer& layer);

// OpCost.name: "{name}: input @ weights + bias", "{name}: QKV projections + Q @ K^T + attention
// @ V", "{name}: ReLU", "{name}: GELU", "{name}: softmax".
std::string operation_name(const Layer& layer);

// CostRow.label: "{name} (linear)", "{name} (attention)", "{name} (relu)", ...
std::string cost_label(const Layer& layer);

// The tensor-inspect text of a layer, its walkthrough step and its quiz question.
LayerReport layer_report(const LayerStep& step);
WalkthroughStep walkthrough_step(const LayerStep& step);
QuizQuestion quiz_question(const LayerStep& step);

}  // namespace orvik

#include "reports/explain_artifact.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

#include <fmt/core.h>

#include "python_bridge/feature_processing.hpp"
#include "reports/catboost_report.hpp"
#include "reports/explain_diff.hpp"
#include "reports/inspect_common.hpp"
#include "reports/primitives.hpp"
#include "util/format.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

std::optional<std::string> fingerprint_text(std::optional<Fingerprint> value) {
  if (!value) return std::nullopt;
  return format_fingerprint(*value);
}

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// "1 Softmax node" or "12 Softmax nodes".
std::string counted(std::uint64_t count, std::string_view noun) {
  return count == 1 ? fmt::format("1 {}", noun) : fmt::format("{} {}s", count, noun);
}

}  // namespace

void explain_catboost_artifact(const CatBoostSummary& summary, const std::string& path) {
  print_line("CatBoost Artifact Explanation");
  print_line("-----------------------------");
  print_line(fmt::format("Model: {}", summary.path));
  print_line();
  print_line(summary.has_cbm1_magic
                 ? "This model appears to be a CatBoost binary model."
                 : "This file does not have the standard CatBoost CBM1 signature.");

  print_line();
  print_line("Evidence:");
  if (summary.has_cbm1_magic) print_line("  - CBM1 binary signature");
  if (summary.iterations) {
    print_line(fmt::format("  - {} trees / boosting iterations", *summary.iterations));
  }
  if (summary.depth) print_line(fmt::format("  - maximum symmetric-tree depth {}", *summary.depth));
  if (summary.grow_policy) print_line(fmt::format("  - grow policy: {}", *summary.grow_policy));
  if (summary.loss) print_line(fmt::format("  - optimized loss: {}", *summary.loss));
  if (!summary.feature_names.empty()) {
    print_line(fmt::format("  - {} recovered feature names in embedded metadata",
                           summary.feature_names.size()));
  }

  print_line();
  print_line("Estimated Inference Shape:");
  print_field_row("Trees / row", optional_count_text(summary.iterations));
  print_field_row("Configured/max depth", optional_count_text(summary.depth));
  print_field_row("Configured/max split checks / row",
                  optional_count_text(catboost_split_checks_per_row(summary)));
  print_field_row("Max leaf slots", optional_count_text(catboost_max_leaf_slots(summary)));
  print_line(fmt::format("  File size: {}", format_size(summary.file_size_bytes)));

  print_line();
  print_line("Training Metadata:");
  print_field_row("Loss", summary.loss);
  print_field_row("Eval metric", summary.eval_metric);
  print_field_row("Learning rate", optional_fixed_text(summary.learning_rate, 6));
  print_field_row("L2 leaf reg", optional_fixed_text(summary.l2_leaf_reg, 6));
  print_field_row("Bootstrap", summary.bootstrap);
  print_field_row("Train finished", summary.train_finish_time);
  print_field_row("Best learn RMSE", optional_fixed_text(summary.best_learn_rmse, 6));

  print_line();
  // Always runs: every CatBoost explanation tries the interpreters, with a built-in fallback.
  print_feature_processing(path, summary.feature_names);

  print_line();
  print_line("Learned State:");
  print_line(
      fmt::format("  Full artifact fingerprint: {}", format_fingerprint(summary.file_fingerprint)));
  print_field_row("Metadata fingerprint", fingerprint_text(summary.metadata_fingerprint));
  print_line(fmt::format("  Learned-state fingerprint: {}",
                         format_fingerprint(summary.learned_state_fingerprint)));
  print_line(
      "  CatBoost stores learned split borders, leaves, and categorical statistics in the binary "
      "body.");

  print_line();
  print_line("How to read this:");
  print_line("  This is a tree ensemble, not a tensor graph.");
  print_line(
      "  Runtime cost is mostly tree traversal: roughly trees * depth split checks per row.");
  print_line(
      "  Same tree count/depth does not mean same model; learned splits, borders, CTRs, and leaf "
      "values can still change.");
  print_line("  To compare two CatBoost versions deeply, run:");
  print_line("    orvik diff --deep <old.cbm> <new.cbm>");
}

int transformer_score(const std::vector<OpCount>& op_counts) {
  const std::uint64_t matmul_and_gemm =
      op_type_count(op_counts, "MatMul") + op_type_count(op_counts, "Gemm");
  return (op_type_count(op_counts, "Softmax") > 0 ? 1 : 0) +
         (op_type_count(op_counts, "LayerNormalization") > 0 ? 1 : 0) +
         (matmul_and_gemm >= 2 ? 1 : 0) + (op_type_count(op_counts, "Attention") > 0 ? 1 : 0);
}

bool name_mentions(std::string_view needle, std::string_view text) {
  const auto found = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                                 [](char t, char n) { return ascii_lower(t) == n; });
  return found != text.end() || needle.empty();
}

bool any_name_mentions(const OnnxNode& node, std::string_view needle) {
  if (node.name && name_mentions(needle, *node.name)) return true;
  const auto mentions = [needle](std::string_view name) { return name_mentions(needle, name); };
  return std::any_of(node.inputs.begin(), node.inputs.end(), mentions) ||
         std::any_of(node.outputs.begin(), node.outputs.end(), mentions);
}

void explain_onnx_architecture(const OnnxSummary& summary) {
  const std::vector<OpCount>& ops = summary.op_counts;
  const std::uint64_t softmax = op_type_count(ops, "Softmax");
  const std::uint64_t matmul = op_type_count(ops, "MatMul");
  const std::uint64_t gemm = op_type_count(ops, "Gemm");
  const std::uint64_t layer_norm = op_type_count(ops, "LayerNormalization");
  const std::uint64_t attention = op_type_count(ops, "Attention");
  const int score = transformer_score(ops);

  print_line("ONNX Architecture Explanation");
  print_line("-----------------------------");
  print_line(fmt::format("Model: {}", summary.path));
  print_line();
  if (score > 2) {
    print_line("This model appears to be a transformer.");
  } else if (score == 2) {
    print_line("This model has transformer-like signals.");
  } else {
    print_line("This model does not strongly look like a transformer from static ops alone.");
  }

  print_line();
  print_line("Evidence:");
  const std::pair<std::uint64_t, std::string_view> counts[] = {
      {softmax, "Softmax node"},
      {matmul, "MatMul node"},
      {gemm, "Gemm node"},
      {layer_norm, "LayerNormalization operator"},
      {attention, "Attention operator"}};
  for (const auto& [count, noun] : counts) {
    if (count > 0) print_line(fmt::format("  - {}", counted(count, noun)));
  }
  if (std::any_of(summary.nodes.begin(), summary.nodes.end(),
                  [](const OnnxNode& node) { return any_name_mentions(node, "attention"); })) {
    print_line("  - node names mention attention");
  }
  if (std::any_of(summary.initializers.begin(), summary.initializers.end(),
                  [](const OnnxInitializer& initializer) {
                    return name_mentions("embedding", initializer.name);
                  })) {
    print_line("  - initializer names mention embeddings");
  }
  if (score == 0) print_line("  - no Softmax/MatMul/LayerNormalization pattern found");

  const std::optional<std::uint64_t> layers = onnx_attention_layer_estimate(ops);
  const std::optional<std::uint64_t> hidden_size = estimate_hidden_size(summary.initializers);
  print_line();
  print_line("Estimated Architecture:");
  print_line(layers ? fmt::format("  Encoder/attention layers: ~{}", *layers)
                    : std::string("  Encoder/attention layers: unknown"));
  print_line(hidden_size ? fmt::format("  Hidden size: ~{}", *hidden_size)
                         : std::string("  Hidden size: unknown"));
  print_line(fmt::format("  Parameters: {} values", summary.parameter_values));
  print_line(fmt::format("  Estimated ops: {}", summary.estimated_ops));

  print_line();
  print_line("Why:");
  if (matmul > 0 && softmax > 0) {
    print_line("  Transformers repeatedly use MatMul for projections and attention scores.");
    print_line("  Softmax usually appears where attention scores become probabilities.");
  }
  if (layer_norm > 0) {
    print_line("  LayerNormalization is common around transformer attention/MLP blocks.");
  }
  if (hidden_size) {
    print_line("  Hidden size is inferred from common weight dimensions, not model config.");
  }

  print_line();
  print_line("Note:");
  print_line("  This is a static heuristic over ONNX nodes, names, and initializer shapes.");
  print_line("  It is useful for quick orientation, not a guaranteed architecture decoder.");
}

}  // namespace orvik

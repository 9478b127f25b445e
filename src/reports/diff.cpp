#include "reports/diff.hpp"

#include <fmt/core.h>

#include "artifact_kind/artifact_kind.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

constexpr std::string_view kUsage = "usage: orvik diff [--deep] [--json] <old-model> <new-model>";

// Only CatBoost diffs decode anything deeper; other kinds say so and carry on.
void print_deep_note(bool deep) {
  if (!deep) return;
  print_line("Note: --deep is currently only used for CatBoost artifacts.");
  print_line();
}

// Reads the old file first; nothing is printed unless both reads succeed.
CommandResult diff_lightgbm_files(const std::string& old_path, const std::string& new_path,
                                  bool json) {
  auto old_summary = read_lightgbm(old_path);
  if (!old_summary) return fail(std::move(old_summary.error()));
  auto new_summary = read_lightgbm(new_path);
  if (!new_summary) return fail(std::move(new_summary.error()));
  return diff_lightgbm(*old_summary, *new_summary, json);
}

CommandResult diff_pytorch_files(const std::string& old_path, const std::string& new_path,
                                 bool json) {
  auto old_summary = read_pytorch(old_path);
  if (!old_summary) return fail(std::move(old_summary.error()));
  auto new_summary = read_pytorch(new_path);
  if (!new_summary) return fail(std::move(new_summary.error()));
  return diff_pytorch(*old_summary, *new_summary, json);
}

}  // namespace

CommandResult cmd_diff(const std::vector<std::string>& words) {
  bool deep = false;
  bool json = false;
  std::vector<const std::string*> paths;
  // Every word that is not exactly one of the two options is a path, unknown options included.
  for (const auto& word : words) {
    if (word == "--deep") {
      deep = true;
    } else if (word == "--json") {
      json = true;
    } else {
      paths.push_back(&word);
    }
  }
  if (paths.size() != 2) return fail(std::string(kUsage));
  if (deep && json) return fail("--deep cannot be combined with --json yet.");

  const std::string& old_path = *paths[0];
  const std::string& new_path = *paths[1];
  const ArtifactKind old_kind = detect_artifact_kind(old_path);
  const ArtifactKind new_kind = detect_artifact_kind(new_path);

  if (old_kind == new_kind) {
    switch (old_kind) {
      case ArtifactKind::CatBoost:
        // Replaced by diff_catboost(old_path, new_path, deep, json) once that diff exists.
        return fail("diffing CatBoost artifacts is not available in this build");
      case ArtifactKind::LightGbm:
        print_deep_note(deep);
        return diff_lightgbm_files(old_path, new_path, json);
      case ArtifactKind::Onnx:
        print_deep_note(deep);
        // Replaced by diff_onnx(old_path, new_path, json) once that diff exists.
        return fail("diffing ONNX artifacts is not available in this build");
      case ArtifactKind::PyTorch:
        print_deep_note(deep);
        return diff_pytorch_files(old_path, new_path, json);
      case ArtifactKind::TensorPlan:
        return fail(
            "tensor plan diff is not supported yet. Use trace, compare, why, or validate "
            "instead.");
      case ArtifactKind::Unknown:
        break;
    }
  }
  return fail(fmt::format("cannot diff different or unsupported artifact types: {} vs {}",
                          artifact_kind_label(old_kind), artifact_kind_label(new_kind)));
}

void print_diff_header(std::string_view type_word, std::string_view old_name,
                       std::string_view new_name) {
  print_line("Model Diff");
  print_line("----------");
  print_line(fmt::format("Type: {}", type_word));
  print_line(fmt::format("Old: {}", old_name));
  print_line(fmt::format("New: {}", new_name));
  print_line();
}

}  // namespace orvik

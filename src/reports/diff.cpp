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
        return diff_catboost(old_path, new_path, deep, json);
      case ArtifactKind::LightGbm:
        print_deep_note(deep);
        return diff_files(kLightGbmDiff, old_path, new_path, json);
      case ArtifactKind::Onnx:
        print_deep_note(deep);
        return diff_onnx(old_path, new_path, json);
      case ArtifactKind::PyTorch:
        print_deep_note(deep);
        return diff_files(kPyTorchDiff, old_path, new_path, json);
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

void print_section_heading(std::string_view heading) {
  print_line();
  print_line(heading);
}

void print_names_section(std::string_view heading, std::string_view count_label,
                         const NameList& old_names, const NameList& new_names) {
  print_section_heading(heading);
  print_count_change_row(count_label, old_names.size(), new_names.size());
  print_feature_name_changes(old_names, new_names);
}

void print_verdict_line(bool holds, std::string_view if_true, std::string_view if_false) {
  const std::string_view line = holds ? if_true : if_false;
  if (!line.empty()) print_line(line);
}

JsonValue record_pair_json(std::string_view type, JsonValue old_record, JsonValue new_record) {
  JsonValue object = JsonValue::object();
  object["new"] = std::move(new_record);
  object["old"] = std::move(old_record);
  object["type"] = type;
  return object;
}

}  // namespace orvik

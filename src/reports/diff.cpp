#include "reports/diff.hpp"

#include <fmt/core.h>

#include "util/output.hpp"

namespace orvik {

void print_deep_note(bool deep) {
  if (!deep) return;
  print_line("Note: --deep is currently only used for CatBoost artifacts.");
  print_line();
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

#include "main/dispatch.hpp"

#include <array>
#include <string_view>
#include <type_traits>

#include <fmt/core.h>

#include "artifact_kind/artifact_kind.hpp"
#include "check/check.hpp"
#include "demo/attention_demo.hpp"
#include "demo/lessons.hpp"
#include "demo/topic_quiz.hpp"
#include "main/lab_commands.hpp"
#include "main/run_commands.hpp"
#include "python_bridge/python_bridge.hpp"
#include "reports/catboost_report.hpp"
#include "reports/diff.hpp"
#include "reports/explain_artifact.hpp"
#include "reports/explain_diff.hpp"
#include "reports/lightgbm_report.hpp"
#include "reports/onnx_report.hpp"
#include "reports/pytorch_report.hpp"
#include "util/output.hpp"

namespace orvik {
namespace {

using Handler = CommandResult (*)(const Words&);

constexpr std::string_view kUsage =
    "orvik - inspect ML model artifacts without loading the framework\n"
    "\n"
    "Core usage:\n"
    "  orvik doctor [--json]\n"
    "  orvik inspect [--deep] [--json] [--limit 20] "
    "<model.cbm|model.lgb|model.onnx|model.pt|model.json>\n"
    "  orvik diff [--deep] [--json] <old-model> <new-model>  (.cbm, .lgb/.txt, .onnx, or "
    ".pt/.pth)\n"
    "  orvik explain-diff <old-model> <new-model>  (plain-English what changed: layers, params, "
    "cost, new ops)\n"
    "  orvik convert <model.pkl|mlflow-dir> [--out path]  (un-pickle a model to native "
    ".txt/.cbm; needs Python)\n"
    "\n"
    "orvik check [--max-size-growth 20%] [--max-ops-growth 25%] [--max-parameter-growth 30%] "
    "[--fail-on-feature-change] [--fail-on-training-config-change] [--fail-on-new-op] "
    "<old-model> <new-model>\n"
    "\n"
    "Artifact inspectors:\n"
    "  orvik catboost [--deep] [--json] [--limit 20] <model.cbm> [more.cbm...]\n"
    "  orvik lightgbm [--json] [--limit 20] <model.lgb|model.txt> [more...]\n"
    "  orvik pytorch [--json] [--limit 20] <model.pt|model.pth> [more...]\n"
    "  orvik onnx [--json] [--limit 20] <model.onnx>\n"
    "  orvik explain <model.onnx|model.cbm>\n"
    "\n"
    "Tensor lab (secondary; see docs/tensor-lab.md):\n"
    "  orvik trace|compare|why|validate|tensor-inspect <model.json>\n"
    "  orvik explain <topic> [--step] [--shapes|--memory|--math|--compare] [--quiz]\n"
    "\n"
    "Examples:\n"
    "  orvik doctor\n"
    "  orvik doctor --json\n"
    "  orvik inspect path/to/model.cbm\n"
    "  orvik inspect --json path/to/model.cbm\n"
    "  orvik inspect --deep path/to/model.cbm\n"
    "  orvik inspect path/to/model.onnx\n"
    "  orvik onnx --json path/to/model.onnx\n"
    "  orvik explain path/to/model.onnx\n"
    "  orvik explain path/to/model.cbm\n"
    "  orvik diff path/to/old.cbm path/to/new.cbm\n"
    "  orvik diff --json path/to/old.cbm path/to/new.cbm\n"
    "  orvik check --max-size-growth 20% --fail-on-feature-change path/to/old.cbm "
    "path/to/new.cbm\n"
    "  orvik diff --deep path/to/old.cbm path/to/new.cbm\n"
    "  orvik trace examples/tiny_attention_plan.json\n"
    "  orvik why examples/tiny_attention_plan.json\n";

constexpr std::string_view kTour =
    "orvik tour\n"
    "----------\n"
    "orvik answers: what is inside this model artifact, and what changed?\n"
    "\n"
    "1. Inspect a real artifact\n"
    "  orvik inspect path/to/model.onnx\n"
    "  orvik inspect path/to/model.cbm\n"
    "\n"
    "2. Diff two model artifacts\n"
    "  orvik diff path/to/old.cbm path/to/new.cbm\n"
    "  Reports size, tree count, configured depth, estimated row cost, or ONNX graph changes.\n"
    "\n"
    "3. Use the tensor lab when you want the EXPLAIN ANALYZE analogy\n"
    "  orvik trace examples/tiny_attention_plan.json\n"
    "  orvik compare examples/tiny_attention_plan.json\n"
    "  orvik why examples/tiny_attention_plan.json\n"
    "\n"
    "4. Validate a broken tensor plan\n"
    "  orvik validate examples/broken_shape.json\n"
    "  Shows a debugger-style tensor shape error with the rule and fix.\n"
    "\n"
    "Positioning: not a PyTorch replacement; a small artifact inspector with a tensor-analysis "
    "lab.\n";

// A command of two files of one kind, given both paths as typed and the command's options; a
// kind without it refuses with its own text where it has one, else as a pair of different kinds.
template <class... Options>
struct PairCommand {
  CommandResult (*run)(const std::string& old_path, const std::string& new_path,
                       Options... options) = nullptr;
  std::string_view refusal = {};
};

// What one kind of artifact has: a new kind is one more row.
struct KindRow {
  ArtifactKind kind;
  Handler inspect;             // the kind's report command, given all of inspect's words
  bool deep = false;           // inspect --deep reads more of it; other kinds refuse --deep
  bool report_options = true;  // inspect takes --limit and --json
  CommandResult (*explain)(const std::string& path);  // explain of one file of the kind
  PairCommand<bool, bool> diff = {};                  // deep, json
  PairCommand<> explain_diff = {};
  PairCommand<const CheckOptions&> check = {};
};

CommandResult explain_catboost_file(const std::string& path) {
  const Result<CatBoostSummary> summary = read_catboost(path);
  if (!summary) return fail(summary.error());
  explain_catboost_artifact(*summary, path);
  return {};
}

CommandResult explain_onnx_file(const std::string& path) {
  const Result<OnnxSummary> summary = read_onnx(path);
  if (!summary) return fail(summary.error());
  explain_onnx_architecture(*summary);
  return {};
}

// A kind's report command given the path alone.
template <Handler command>
CommandResult on_path(const std::string& path) {
  return command({path});
}

constexpr std::array kKinds = {
    KindRow{.kind = ArtifactKind::CatBoost,
            .inspect = cmd_catboost,
            .deep = true,
            .explain = explain_catboost_file,
            .diff = {diff_catboost},
            .explain_diff = {explain_files<read_catboost, explain_catboost_diff>},
            .check = {check_catboost}},
    KindRow{.kind = ArtifactKind::LightGbm,
            .inspect = cmd_lightgbm,
            .explain = on_path<cmd_lightgbm>,
            .diff = {diff_paths<kLightGbmDiff>},
            .explain_diff = {explain_files<read_lightgbm, explain_lightgbm_diff>},
            .check = {check_lightgbm}},
    KindRow{.kind = ArtifactKind::Onnx,
            .inspect = cmd_onnx,
            .explain = explain_onnx_file,
            .diff = {diff_paths<kOnnxDiff>},
            .explain_diff = {explain_files<read_onnx, explain_onnx_diff>},
            .check = {check_onnx}},
    KindRow{.kind = ArtifactKind::PyTorch,
            .inspect = cmd_pytorch,
            .explain = on_path<cmd_pytorch>,
            .diff = {diff_paths<kPyTorchDiff>},
            .explain_diff = {explain_files<read_pytorch, explain_pytorch_diff>},
            .check = {check_pytorch}},
    KindRow{.kind = ArtifactKind::TensorPlan,
            .inspect = cmd_tensor_inspect,
            .report_options = false,
            .explain = on_path<cmd_explain_model>,
            .diff = {.refusal = "tensor plan diff is not supported yet. Use trace, compare, why, "
                                "or validate instead."},
            .check = {.refusal = "check supports CatBoost, LightGBM, ONNX, and PyTorch "
                                 "artifacts, not tensor plan JSON."}},
};

// Every kind but Unknown has its row.
static_assert(kKinds.size() == static_cast<std::size_t>(ArtifactKind::Unknown));

// Null for Unknown.
const KindRow* find_kind(ArtifactKind kind) {
  for (const KindRow& row : kKinds) {
    if (row.kind == kind) return &row;
  }
  return nullptr;
}

// Runs the command of the kind both paths have, or refuses: with the kind's own text, or with
// "{lead}: {old kind} vs {new kind}" when the kinds differ, are unknown, or the kind has no text.
template <class... Options>
CommandResult run_pair(const std::string& old_path, const std::string& new_path,
                       PairCommand<Options...> KindRow::*command, std::string_view lead,
                       std::type_identity_t<Options>... options) {
  const ArtifactKind old_kind = detect_artifact_kind(old_path);
  const ArtifactKind new_kind = detect_artifact_kind(new_path);
  if (const KindRow* row = old_kind == new_kind ? find_kind(old_kind) : nullptr) {
    const PairCommand<Options...>& entry = row->*command;
    if (entry.run != nullptr) return entry.run(old_path, new_path, options...);
    if (!entry.refusal.empty()) return fail(std::string(entry.refusal));
  }
  return fail(fmt::format("{}: {} vs {}", lead, artifact_kind_label(old_kind),
                          artifact_kind_label(new_kind)));
}

constexpr std::string_view kInspectUsage =
    "usage: orvik inspect [--deep] [--json] [--limit 20] <model.cbm|model.onnx|model.json>";
constexpr std::string_view kDiffUsage =
    "usage: orvik diff [--deep] [--json] <old-model> <new-model>";
constexpr std::string_view kExplainDiffUsage =
    "usage: orvik explain-diff <old-model> <new-model>  (.onnx, .cbm, or .lgb/.txt)";

bool has_word(const Words& words, std::string_view word) {
  for (const auto& w : words) {
    if (w == word) return true;
  }
  return false;
}

CommandResult print_usage(const Words&) {
  print_raw(kUsage);
  return {};
}

CommandResult cmd_tour(const Words&) {
  print_raw(kTour);
  return {};
}

// inspect [--deep] [--json] [--limit N] <path>: the kind's own report command, given every word.
CommandResult cmd_inspect(const Words& words) {
  if (words.empty()) return fail(std::string(kInspectUsage));
  const std::string* path = nullptr;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "--limit") {
      if (i + 1 >= words.size()) return fail("--limit needs a number");
      ++i;  // the value is examined by the handler
    } else if (w != "--deep" && w != "--json") {
      path = &w;
      break;
    }
  }
  if (path == nullptr) return fail(std::string(kInspectUsage));
  const KindRow* row = find_kind(detect_artifact_kind(*path));
  if (row == nullptr) {
    return fail(fmt::format(
        "unsupported artifact type for `{}`. Try .cbm, .lgb, .onnx, .pt/.pth, or .json.", *path));
  }
  if (!row->deep && has_word(words, "--deep")) {
    return fail("--deep inspection is currently only supported for CatBoost artifacts.");
  }
  if (!row->report_options && has_word(words, "--limit")) {
    return fail("--limit inspection is only supported for CatBoost, LightGBM, and ONNX artifacts.");
  }
  if (!row->report_options && has_word(words, "--json")) {
    return fail("--json inspection is only supported for CatBoost, LightGBM, and ONNX artifacts.");
  }
  return row->inspect(words);
}

// explain <path|topic> [--step] [--shapes|--memory|--math|--compare] [--quiz]: an artifact's
// explanation when the word is a path of a known kind, else the topic lesson.
CommandResult cmd_explain(const Words& words) {
  LessonFocus focus = LessonFocus::All;
  bool quiz = false;
  bool step = false;
  const std::string* positional = nullptr;
  for (const auto& w : words) {
    if (w == "--shapes") {
      focus = LessonFocus::Shape;
    } else if (w == "--memory") {
      focus = LessonFocus::Memory;
    } else if (w == "--math") {
      focus = LessonFocus::Math;
    } else if (w == "--compare") {
      focus = LessonFocus::Compare;
    } else if (w == "--quiz") {
      quiz = true;
    } else if (w == "--step") {
      step = true;
    } else if (positional != nullptr) {
      return fail(fmt::format("unexpected argument `{}`", w));
    } else {
      positional = &w;
    }
  }
  // Focus, quiz and step shape the topic lessons only; an artifact ignores them.
  if (positional != nullptr) {
    if (const KindRow* row = find_kind(detect_artifact_kind(*positional))) {
      return row->explain(*positional);
    }
  }
  const auto topic = parse_topic(positional != nullptr ? *positional : "attention");
  if (!topic) return fail(topic.error());
  if (auto printed = print_lesson(build_lesson(*topic, focus), step); !printed) return printed;
  if (quiz) return run_topic_quiz(*topic);
  return {};
}

struct Command {
  std::string_view word;
  Handler handler;
};

// Exact, case-sensitive match of the whole command word.
constexpr std::array kCommands = {
    Command{"-h", print_usage},
    Command{"pt", cmd_pytorch},
    Command{"why", cmd_why},
    Command{"cbm", cmd_catboost},
    Command{"run", cmd_run},
    Command{"help", print_usage},
    Command{"diff", cmd_diff},
    Command{"demo", cmd_demo},
    Command{"tour", cmd_tour},
    Command{"quiz", cmd_quiz},
    Command{"onnx", cmd_onnx},
    Command{"lgbm", cmd_lightgbm},
    Command{"check", cmd_check},
    Command{"trace", cmd_trace},
    Command{"bench", cmd_bench},
    Command{"--help", print_usage},
    Command{"doctor", cmd_doctor},
    Command{"inspect", cmd_inspect},
    Command{"explain", cmd_explain},
    Command{"convert", cmd_convert},
    Command{"summary", cmd_trace},
    Command{"compare", cmd_compare},
    Command{"pytorch", cmd_pytorch},
    Command{"catboost", cmd_catboost},
    Command{"lightgbm", cmd_lightgbm},
    Command{"validate", cmd_validate},
    Command{"walkthrough", cmd_explain_model},
    Command{"explain-diff", cmd_explain_diff},
    Command{"explain-model", cmd_explain_model},
    Command{"tensor-inspect", cmd_tensor_inspect},
};

}  // namespace

CommandResult dispatch_command(const Words& args) {
  if (args.empty()) return print_usage({});
  const std::string& word = args.front();
  const Words rest(args.begin() + 1, args.end());
  for (const auto& command : kCommands) {
    if (command.word == word) return command.handler(rest);
  }
  return fail(fmt::format("unknown command `{}`. Try `orvik help`.", word));
}

CommandResult cmd_diff(const Words& words) {
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
  if (paths.size() != 2) return fail(std::string(kDiffUsage));
  if (deep && json) return fail("--deep cannot be combined with --json yet.");
  return run_pair(*paths[0], *paths[1], &KindRow::diff,
                  "cannot diff different or unsupported artifact types", deep, json);
}

CommandResult cmd_explain_diff(const Words& words) {
  const std::vector<std::string> paths = positional_args(words);
  if (paths.size() != 2) return fail(std::string(kExplainDiffUsage));
  return run_pair(
      paths[0], paths[1], &KindRow::explain_diff,
      "explain-diff needs two artifacts of the same supported type (.onnx, .cbm, .lgb, .pt)");
}

CommandResult cmd_check(const Words& words) {
  Result<CheckWords> scanned = scan_check_words(words);
  if (!scanned) return fail(std::move(scanned.error()));
  return run_pair(*scanned->paths[0], *scanned->paths[1], &KindRow::check,
                  "cannot check different or unsupported artifact types", scanned->options);
}

}  // namespace orvik

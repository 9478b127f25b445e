#include "python_bridge/python_bridge.hpp"

#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include <fmt/core.h>

#include "embedded_scripts.hpp"
#include "python_bridge/process.hpp"
#include "util/json.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kExecutableProbe = "import sys; print(sys.executable)";
constexpr std::string_view kDoctorUsage = "usage: orvik doctor [--json]";
constexpr std::string_view kConvertUsage =
    "usage: orvik convert <model.pkl|mlflow-model-dir> [--out path]";

struct BuiltInSupport {
  bool catboost_metadata = true;
  bool lightgbm_text = true;
  bool onnx_static_graph = true;
  bool pytorch_zip = true;
  bool json_tensor_plans = true;
};

struct OptionalPython {
  bool python_available = false;
  std::optional<std::string> python_executable;
  bool catboost_available = false;
  std::optional<std::string> catboost_version;
  std::vector<std::string> tried_python;
};

struct DoctorCommands {
  bool inspect_artifacts = true;
  bool diff_artifacts = true;
  bool inspect_deep_catboost = false;
  bool diff_deep_catboost = false;
};

struct DoctorReport {
  BuiltInSupport built_in;
  OptionalPython optional_python;
  DoctorCommands commands;
};

struct PythonWinner {
  std::string candidate;
  std::string executable;
};

OrderedJson optional_text_json(const std::optional<std::string>& text) {
  return text ? OrderedJson(*text) : OrderedJson(nullptr);
}

// Keys in the records' field order.
OrderedJson doctor_json(const DoctorReport& report) {
  OrderedJson built_in = OrderedJson::object();
  built_in["catboost_metadata"] = report.built_in.catboost_metadata;
  built_in["lightgbm_text"] = report.built_in.lightgbm_text;
  built_in["onnx_static_graph"] = report.built_in.onnx_static_graph;
  built_in["pytorch_zip"] = report.built_in.pytorch_zip;
  built_in["json_tensor_plans"] = report.built_in.json_tensor_plans;

  const OptionalPython& python = report.optional_python;
  OrderedJson optional_python = OrderedJson::object();
  optional_python["python_available"] = python.python_available;
  optional_python["python_executable"] = optional_text_json(python.python_executable);
  optional_python["catboost_available"] = python.catboost_available;
  optional_python["catboost_version"] = optional_text_json(python.catboost_version);
  optional_python["tried_python"] = OrderedJson::array();
  for (const auto& candidate : python.tried_python) {
    optional_python["tried_python"].push_back(candidate);
  }

  OrderedJson commands = OrderedJson::object();
  commands["inspect_artifacts"] = report.commands.inspect_artifacts;
  commands["diff_artifacts"] = report.commands.diff_artifacts;
  commands["inspect_deep_catboost"] = report.commands.inspect_deep_catboost;
  commands["diff_deep_catboost"] = report.commands.diff_deep_catboost;

  OrderedJson root = OrderedJson::object();
  root["built_in"] = std::move(built_in);
  root["optional_python"] = std::move(optional_python);
  root["commands"] = std::move(commands);
  return root;
}

// The first candidate that runs the executable probe with status 0; failures leave no trace.
std::optional<PythonWinner> probe_python() {
  for (auto& candidate : python_candidates()) {
    auto run = run_process(candidate, {"-c", std::string(kExecutableProbe)});
    if (!run || !run->exited_zero) continue;
    std::string executable(trim_white_space(decode_utf8_lossy(run->stdout_bytes)));
    if (executable.empty()) executable = candidate;
    return PythonWinner{std::move(candidate), std::move(executable)};
  }
  return std::nullopt;
}

// The module's version text ("installed" when it has none), or nothing when it cannot be
// imported by `candidate`.
std::optional<std::string> probe_module(const std::string& candidate, std::string_view module) {
  const std::string program =
      fmt::format("import {0}; print(getattr({0}, '__version__', 'installed'))", module);
  auto run = run_process(candidate, {"-c", program});
  if (!run || !run->exited_zero) return std::nullopt;
  std::string version(trim_white_space(decode_utf8_lossy(run->stdout_bytes)));
  if (version.empty()) version = "installed";
  return version;
}

DoctorReport build_doctor_report() {
  DoctorReport report;
  OptionalPython& python = report.optional_python;
  if (auto winner = probe_python()) {
    python.python_available = true;
    python.python_executable = winner->executable;
    python.catboost_version = probe_module(winner->candidate, "catboost");
    python.catboost_available = python.catboost_version.has_value();
  }
  python.tried_python = python_candidates();
  report.commands.inspect_deep_catboost = python.catboost_available;
  report.commands.diff_deep_catboost = python.catboost_available;
  return report;
}

std::string_view ok_or_missing(bool value) {
  return value ? "ok" : "missing";
}
std::string_view availability(bool value) {
  return value ? "available" : "unavailable";
}

void print_doctor_text(const DoctorReport& report) {
  const BuiltInSupport& built_in = report.built_in;
  const OptionalPython& python = report.optional_python;
  const DoctorCommands& commands = report.commands;

  print_line("orvik Doctor");
  print_line("------------");
  print_line("");
  print_line("Built-in inspectors:");
  print_line(fmt::format("  CatBoost metadata: {}", ok_or_missing(built_in.catboost_metadata)));
  print_line(fmt::format("  LightGBM text model: {}", ok_or_missing(built_in.lightgbm_text)));
  print_line(fmt::format("  ONNX static graph: {}", ok_or_missing(built_in.onnx_static_graph)));
  print_line(fmt::format("  PyTorch .pt/.pth (zip): {}", ok_or_missing(built_in.pytorch_zip)));
  print_line(fmt::format("  JSON tensor plans: {}", ok_or_missing(built_in.json_tensor_plans)));
  print_line("");

  print_line("Optional Python helpers:");
  if (python.python_available) {
    print_line(fmt::format("  Python: ok ({})", python.python_executable.value_or("")));
  } else {
    print_line("  Python: missing");
    print_line("  Tried:");
    for (const auto& candidate : python.tried_python) {
      print_line(fmt::format("    {}", candidate));
    }
  }
  if (python.catboost_available) {
    print_line(fmt::format("  catboost: ok ({})", python.catboost_version.value_or("")));
  } else if (python.python_available) {
    print_line("  catboost: missing");
  } else {
    print_line("  catboost: unavailable because Python was not found");
  }
  print_line("");

  print_line("Available commands:");
  print_line(fmt::format("  inspect .cbm/.lgb/.onnx/.pt/.json: {}",
                         availability(commands.inspect_artifacts)));
  print_line(fmt::format("  diff .cbm/.lgb/.onnx/.pt: {}", availability(commands.diff_artifacts)));
  print_line(
      fmt::format("  explain-diff .cbm/.lgb/.onnx/.pt: {}", availability(commands.diff_artifacts)));
  print_line(
      fmt::format("  inspect --deep .cbm: {}", availability(commands.inspect_deep_catboost)));
  print_line(fmt::format("  diff --deep .cbm: {}", availability(commands.diff_deep_catboost)));
  print_line(fmt::format("  convert .pkl/mlflow -> native (needs python + model lib): {}",
                         availability(python.python_available)));

  if (python.python_available && !python.catboost_available) {
    print_line("");
    print_line("Install optional CatBoost helpers with:");
    print_line("  python3 -m pip install catboost");
  }
}

}  // namespace

std::vector<std::string> python_candidates() {
  std::vector<std::string> candidates;
  // getenv sees a value that is present but empty as "", which is a candidate of its own.
  if (const char* configured = std::getenv("KALTERA_PYTHON");
      configured != nullptr && is_valid_utf8(configured)) {
    candidates.emplace_back(configured);
  }
  candidates.emplace_back(".venv/bin/python");
  candidates.emplace_back("python3");
  return candidates;
}

std::expected<std::string, std::vector<std::string>> run_python_script(
    std::string_view script, const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  argv.reserve(args.size() + 2);
  argv.emplace_back("-c");
  argv.emplace_back(script);
  argv.insert(argv.end(), args.begin(), args.end());

  std::vector<std::string> failures;
  for (const auto& candidate : python_candidates()) {
    auto run = run_process(candidate, argv);
    if (!run) {
      failures.push_back(fmt::format("{}: {}", candidate, run.error()));
      continue;
    }
    if (run->exited_zero) return decode_utf8_lossy(run->stdout_bytes);
    const std::string error_text = decode_utf8_lossy(run->stderr_bytes);
    failures.push_back(fmt::format("{}: {}", candidate, trim_white_space(error_text)));
  }
  return std::unexpected(std::move(failures));
}

std::string join_failures(const std::vector<std::string>& failures, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < failures.size(); ++i) {
    if (i > 0) joined += separator;
    joined += failures[i];
  }
  return joined;
}

CommandResult cmd_doctor(const std::vector<std::string>& words) {
  for (const auto& word : words) {
    if (word != "--json") return fail(std::string(kDoctorUsage));
  }
  const bool json = !words.empty();
  const DoctorReport report = build_doctor_report();
  if (json) {
    auto text = write_json(doctor_json(report));
    if (!text) return fail(fmt::format("serialize JSON: {}", text.error()));
    print_line(*text);
    return {};
  }
  print_doctor_text(report);
  return {};
}

CommandResult cmd_convert(const std::vector<std::string>& words) {
  std::optional<std::string> source;
  std::optional<std::string> output;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--out" || word == "-o") {
      if (i + 1 >= words.size()) return fail("--out needs a path");
      output = words[++i];
    } else if (starts_with(word, "--")) {
      return fail(fmt::format("unknown convert option `{}`", word));
    } else if (source) {
      return fail("convert takes one source path");
    } else {
      source = word;
    }
  }
  if (!source) return fail(std::string(kConvertUsage));

  std::vector<std::string> args{*source};
  if (output) args.push_back(*output);
  auto converted = run_python_script(scripts::CONVERT_SCRIPT, args);
  if (!converted) {
    return fail(fmt::format(
        "convert needs Python with the model's library installed (lightgbm or catboost).\n"
        "Point KALTERA_PYTHON at a suitable interpreter. Tried:\n{}",
        join_failures(converted.error(), "\n")));
  }
  print_raw(*converted);
  return {};
}

}  // namespace orvik

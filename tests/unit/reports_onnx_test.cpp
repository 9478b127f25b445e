// The ONNX inspect report and the ONNX diff: the option and read errors of the onnx command, the
// report rules on hand-built summaries, the diff's symmetry over every pair of corpus models, and
// the JSON documents written as they go against the text of their value trees.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture_stdout.hpp"
#include "proto_wire_builder.hpp"
#include "reports/diff.hpp"
#include "reports/diff_onnx.hpp"
#include "reports/onnx_report.hpp"

namespace orvik {
namespace {

const std::string kData = std::string(ORVIK_TEST_DATA) + "/";

using testing_support::capture_stdout;

TEST(OnnxCommand, FailsBeforePrintingAnything) {
  const std::string model = kData + "onnx/if_subgraph.onnx";
  const std::string usage = "usage: orvik onnx [--json] [--limit 20] <model.onnx>";
  const struct {
    std::vector<std::string> words;
    std::string error;
  } cases[] = {
      {{}, usage},
      {{"--json"}, usage},
      {{"--json", "--limit", "3"}, usage},
      {{"--limit"}, "--limit needs a number"},
      {{model, "--limit"}, "--limit needs a number"},
      {{"--limit", "--json", model}, "parse --limit: invalid digit found in string"},
      {{"--limit", "-1", model}, "parse --limit: invalid digit found in string"},
      {{"--limit", "", model}, "parse --limit: cannot parse integer from empty string"},
      {{model, "b.onnx", "--limit"}, "unexpected argument `b.onnx`"},
      {{model, "--deep"}, "unexpected argument `--deep`"},
      {{"--deep", model}, "unexpected argument `" + model + "`"},
      {{"--json", "missing.onnx"}, "read missing.onnx: No such file or directory (os error 2)"},
      {{kData + "onnx"}, "read " + kData + "onnx: Is a directory (os error 21)"},
      {{kData + "onnx_diff/not_a_model.onnx"}, "unsupported protobuf wire type 6"},
  };
  for (const auto& c : cases) {
    CommandResult result;
    EXPECT_EQ(capture_stdout([&] { result = cmd_onnx(c.words); }), "");
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), c.error);
  }
}

// The texts and lists of the records made below live as long as the test program.
Arena& test_arena() {
  static Arena arena;
  return arena;
}

OnnxInitializer tensor(std::string_view name, std::vector<std::int64_t> dims,
                       std::optional<std::int32_t> data_type = 1) {
  OnnxInitializer t;
  t.name = test_arena().copy_text(name);
  t.dims = test_arena().copy_list(dims);
  t.data_type = data_type;
  return t;
}

// A node with its cost row.
void add_node(OnnxSummary& s, std::string_view name, std::string_view op,
              std::optional<std::uint64_t> ops) {
  OnnxNode node;
  node.name = test_arena().copy_text(name);
  node.op_type = op;
  s.nodes.push_back(node);
  s.node_costs.push_back({ops});
}

// No metadata, inputs that are all initializers, no outputs, operator and initializer lists
// beyond the limit, a 26-character operator type, costs with ties, and every row suffix.
OnnxSummary edge_summary() {
  OnnxSummary s;
  s.path = "edge.onnx";
  s.file_size_bytes = 1536;
  s.opset_imports = {{"", 13}, {"ai.onnx.ml", std::nullopt}};
  s.inputs = {{"w", 1, test_arena().copy_list(std::vector<std::string_view>{"3", "4"})}};
  s.op_counts = {{"Gemm", 3}, {"AVeryLongCustomOperatorOp", 2}, {"Relu", 1}};
  add_node(s, "n1", "Relu", 10);
  add_node(s, "z", "Gemm", 50);
  add_node(s, "n3", "Relu", std::nullopt);
  add_node(s, "a", "Gemm", 50);
  add_node(s, "n5", "Relu", 5);
  add_node(s, "n6", "Relu", 5);
  add_node(s, "n7", "Relu", 7);
  add_node(s, "n8", "Relu", 1);
  s.estimated_ops = 128;
  OnnxInitializer w = tensor("w", {3, 4});
  w.raw_data_bytes = 48;
  OnnxInitializer ext = tensor("ext", {2}, 7);
  ext.data_location = 1;
  s.initializers = {w, ext, tensor("scalar", {}, std::nullopt), tensor("neg", {-1})};
  s.parameter_values = 12 + 2 + 1 + static_cast<std::uint64_t>(-1);
  s.parameter_memory_bytes = 48 + 16 + 4 + static_cast<std::uint64_t>(-4);
  return s;
}

TEST(OnnxReport, EdgeRowsText) {
  const std::string text = capture_stdout([] { print_onnx_report(edge_summary(), 3); });
  // The header and the closing note are those of every report (see the golden cases).
  EXPECT_EQ(text.substr(text.find("  IR"), text.find("\nNote:") - text.find("  IR")),
            "  IR version: unknown\n"
            "  Producer: unknown\n"
            "  Graph: unknown\n"
            "  Opsets: ai.onnx=13, ai.onnx.ml=?\n"
            "\n"
            "Graph:\n"
            "  Nodes: 8\n"
            "  Initializers: 4\n"
            "  Value info entries: 0\n"
            "  Parameters: 14 values / 64 B\n"
            "\n"
            "Inputs:\n"
            "  unknown\n"
            "\n"
            "Outputs:\n"
            "  unknown\n"
            "\n"
            "Operator Mix:\n"
            "  Gemm                     3\n"
            "  AVeryLongCustomOperatorOp 2\n"
            "  Relu                     1\n"
            "\n"
            "Estimated Cost:\n"
            "  Estimated ops: 128\n"
            "  Most expensive:\n"
            "    z                        Gemm         50 ops\n"
            "    a                        Gemm         50 ops\n"
            "    n1                       Relu         10 ops\n"
            "    n7                       Relu         7 ops\n"
            "    n5                       Relu         5 ops\n"
            "\n"
            "Initializers:\n"
            "  w [3, 4] 12 values / 48 B, raw 48 B\n"
            "  ext [2] 2 values / 16 B, external data\n"
            "  scalar scalar 1 values / 4 B\n"
            "  ... 1 more\n");
}

TEST(OnnxReport, EdgeRowsJson) {
  const JsonValue json = onnx_inspect_json(edge_summary());
  std::vector<std::string> costliest;
  for (const JsonValue& row : json["most_expensive_ops"])
    costliest.push_back(row["name"].get<std::string>() + "=" +
                        std::to_string(row["estimated_ops"].get<std::uint64_t>()));
  // Seven estimates, all listed; equal estimates by name.
  EXPECT_EQ(costliest,
            (std::vector<std::string>{"a=50", "z=50", "n1=10", "n7=7", "n5=5", "n6=5", "n8=1"}));
  const JsonValue& neg = json["initializers"][3]["tensor"];
  EXPECT_EQ(neg["shape"], JsonValue::array({-1}));
  EXPECT_EQ(neg["values"].get<std::uint64_t>(), UINT64_MAX);
  EXPECT_EQ(neg["estimated_bytes"].get<std::uint64_t>(), UINT64_MAX - 3);
  const JsonValue& scalar = json["initializers"][2]["tensor"];
  EXPECT_EQ(scalar["data_type"], nullptr);
  EXPECT_EQ(scalar["data_fingerprint"], nullptr);
  EXPECT_EQ(scalar["external_data"], false);
  EXPECT_EQ(json["initializers"][1]["tensor"]["external_data"], true);
  EXPECT_EQ(json["summary"]["ir_version"], nullptr);
  EXPECT_EQ(json["summary"]["inputs"].size(), 1u);  // initializers included

  // Twelve estimates: the JSON stops at ten.
  OnnxSummary many;
  for (int i = 0; i < 12; ++i)
    add_node(many, "n" + std::to_string(i), "Add", 1);
  EXPECT_EQ(onnx_inspect_json(many)["most_expensive_ops"].size(), 10u);
}

// Old and new: 15 tensors added, one removed, one changed in data, one whose raw size alone
// differs, two of one name of which the last counts, a new data_location, and operator counts
// that grow, shrink, appear and vanish.
TEST(OnnxDiff, TensorAndOperatorChangesText) {
  OnnxSummary old_model;
  old_model.path = "old.onnx";
  OnnxInitializer data = tensor("data", {2, 2});
  data.data_fingerprint = 0x1;
  OnnxInitializer raw = tensor("raw", {4});
  raw.raw_data_bytes = 16;
  raw.data_fingerprint = 0x2;
  old_model.initializers = {
      data, raw, tensor("dup", {1}), tensor("dup", {2}), tensor("gone", {}), tensor("moved", {3})};
  old_model.op_counts = {{"Gemm", 2}, {"Relu", 1}, {"AVeryLongCustomOperatorOp", 1}};

  OnnxSummary new_model;
  new_model.path = "new.onnx";
  data.data_fingerprint = 0x3;
  raw.raw_data_bytes = 0;
  OnnxInitializer moved = tensor("moved", {3});
  moved.data_location = 1;
  moved.data_fingerprint = 0x4;
  new_model.initializers = {data, raw, tensor("dup", {2}), moved};
  for (char c = 'a'; c < 'a' + 15; ++c)
    new_model.initializers.push_back(tensor(std::string("add_") + c, {1}, 6));
  new_model.op_counts = {{"Gemm", 5}, {"Sigmoid", 3}, {"AVeryLongCustomOperatorOp", 2}};

  const std::string text =
      capture_stdout([&] { render_diff(kOnnxDiff, old_model, new_model, false); });
  EXPECT_EQ(text.substr(text.find("Initializer tensors:")),
            "Initializer tensors:\n"
            "  6 -> 19 (+13)\n"
            "Parameter tensor changes:\n"
            "  Added:\n"
            "    add_a int32 [1]\n"
            "    add_b int32 [1]\n"
            "    add_c int32 [1]\n"
            "    add_d int32 [1]\n"
            "    add_e int32 [1]\n"
            "    add_f int32 [1]\n"
            "    add_g int32 [1]\n"
            "    add_h int32 [1]\n"
            "    add_i int32 [1]\n"
            "    add_j int32 [1]\n"
            "    add_k int32 [1]\n"
            "    add_l int32 [1]\n"
            "    ... 3 more\n"
            "  Removed:\n"
            "    gone float32 scalar\n"
            "  Changed:\n"
            "    data float32 [2, 2], data 0x0000000000000001 -> float32 [2, 2], data "
            "0x0000000000000003\n"
            "    moved float32 [3] -> float32 [3], external data\n"
            "\n"
            "Operator Count Changes:\n"
            "  AVeryLongCustomOperatorOp 1 -> 2 (+1)\n"
            "  Gemm                     2 -> 5 (+3)\n"
            "  Relu                     1 -> 0 (-1)\n"
            "  Sigmoid                  0 -> 3 (+3)\n");

  const JsonValue json = kOnnxDiff.json(old_model, new_model);
  const JsonValue& tensors = json["parameter_tensors"];
  EXPECT_EQ(tensors["added_count"], 15);
  EXPECT_EQ(tensors["added"].size(), 15u);
  EXPECT_EQ(tensors["removed"][0]["name"], "gone");
  EXPECT_EQ(tensors["changed_count"], 2);
  EXPECT_EQ(tensors["changed"][1]["new"]["data_location"], 1);
  EXPECT_EQ(json["changes"]["initializers"],
            JsonValue::parse(R"({"changed": true, "delta": 13, "new": 19, "old": 6})"));
  EXPECT_EQ(json["kind"], "onnx_diff");
  EXPECT_EQ(json["model_type"], "ONNX");
  EXPECT_EQ(json["changes"].size(), 6u);
  EXPECT_EQ(json["new"], onnx_summary_json(new_model));
  EXPECT_EQ(
      json["operator_count_changes"],
      JsonValue::parse(R"([{"delta": 1, "new": 2, "old": 1, "op": "AVeryLongCustomOperatorOp"},
                                 {"delta": 3, "new": 5, "old": 2, "op": "Gemm"},
                                 {"delta": -1, "new": 0, "old": 1, "op": "Relu"},
                                 {"delta": 3, "new": 3, "old": 0, "op": "Sigmoid"}])"));
}

// Every ordered pair of corpus models: what one direction adds the other removes, the same
// tensors change both ways, operator deltas change sign, and a model against itself shows no
// change at all.
TEST(OnnxDiff, CorpusPairsAreSymmetric) {
  const char* files[] = {"onnx/ch_ppocr_mobile_v2.0_cls_infer.onnx",
                         "onnx/if_subgraph.onnx",
                         "onnx/mlp_external.onnx",
                         "onnx/mlp_from_torch.onnx",
                         "onnx/mlp_helper.onnx",
                         "onnx/silero_vad_legacy.onnx",
                         "onnx/tree_ensemble_ml.onnx",
                         "onnx/typed_fields_sparse.onnx",
                         "onnx_diff/mlp_deeper.onnx"};
  std::vector<OnnxSummary> models;
  for (const char* file : files) {
    auto summary = read_onnx(kData + file);
    ASSERT_TRUE(summary.has_value()) << file << ": " << summary.error();
    models.push_back(std::move(*summary));
  }
  for (const OnnxSummary& a : models) {
    for (const OnnxSummary& b : models) {
      const JsonValue ab = kOnnxDiff.json(a, b);
      const JsonValue ba = kOnnxDiff.json(b, a);
      SCOPED_TRACE(a.path + " vs " + b.path);
      EXPECT_EQ(ab["parameter_tensors"]["added"], ba["parameter_tensors"]["removed"]);
      EXPECT_EQ(ab["parameter_tensors"]["changed_count"], ba["parameter_tensors"]["changed_count"]);
      ASSERT_EQ(ab["operator_count_changes"].size(), ba["operator_count_changes"].size());
      for (std::size_t i = 0; i < ab["operator_count_changes"].size(); ++i) {
        EXPECT_EQ(ab["operator_count_changes"][i]["delta"].get<std::int64_t>(),
                  -ba["operator_count_changes"][i]["delta"].get<std::int64_t>());
      }
      if (&a == &b) {
        const OnnxTensorChanges same = onnx_tensor_changes(a, b);
        EXPECT_TRUE(same.added.empty() && same.removed.empty() && same.changed.empty());
        EXPECT_TRUE(onnx_op_count_changes(a, b).empty());
      }
    }
  }
}

// Small floods of the entries a hostile file repeats millions of times, and one model of texts
// that need escapes, repeated names, tied costs and every kind of initializer.
std::vector<std::string> hostile_models() {
  using testing_support::lf;
  using testing_support::vf;
  const auto times = [](std::string_view item, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
      out += item;
    return out;
  };
  const auto numbered = [](int count, auto item) {
    std::string out;
    for (int i = 0; i < count; ++i)
      out += item(std::to_string(i), i);
    return out;
  };
  const auto input = [](std::string_view name, std::vector<std::string> dims) {
    std::string shape;
    for (const std::string& dim : dims)
      shape += lf(1, dim);
    return lf(11, lf(1, name) + lf(2, lf(1, vf(1, 1) + lf(2, shape))));
  };
  const std::string odd = "q\"\\\n\x01\xc3\xa9";
  const std::string mixed =
      lf(2, odd) + input(odd, {vf(1, 2), lf(2, "batch"), "", vf(1, -1ull)}) +
      input("y", {vf(1, 3)}) + lf(12, lf(1, "y")) + lf(5, lf(8, "dup") + vf(1, 2)) +
      lf(5, lf(8, "dup") + vf(1, 3) + vf(2, 7) + lf(9, "abc")) +
      lf(5, lf(8, odd) + lf(13, "k") + vf(14, 1)) + lf(5, lf(8, "y") + vf(1, 3) + vf(5, 9)) +
      numbered(12, [&](const std::string& i, int n) {
        return lf(1, lf(2, "y") + lf(4, n % 3 == 0 ? "Relu" : "Add") +
                         (n % 2 == 0 ? lf(3, n % 4 == 0 ? "node_" + i : odd + i) : ""));
      });
  return {
      lf(7, times(std::string("\x0a\x00", 2), 300)),
      lf(7, times(lf(1, lf(4, "A")), 300)),
      lf(7, numbered(300, [](const std::string& i, int) { return lf(1, lf(4, "Op" + i)); })),
      lf(7, numbered(300,
                     [](const std::string& i, int) {
                       return lf(5, vf(1, 1) + vf(2, 1) + lf(8, "w" + i) + lf(9, "\x01\x02"));
                     })),
      lf(7, times(std::string("\x2a\x00", 2), 300)),
      lf(7, input("x", std::vector<std::string>(300, ""))),
      times(lf(8, lf(1, "") + vf(2, 17)), 300) + lf(8, lf(1, odd)) + lf(7, ""),
      lf(7, numbered(300,
                     [&](const std::string& i, int n) {
                       return input("i" + i, {vf(1, static_cast<std::uint64_t>(n))});
                     })),
      lf(7, numbered(20,
                     [&](const std::string& i, int n) {
                       std::vector<std::string> dims(64, vf(1, 1));
                       dims[62 + n % 2] = vf(1, 2);
                       return input("x" + i, dims);
                     }) +
                numbered(10,
                         [](const std::string&, int n) {
                           return lf(1, lf(1, "x" + std::to_string(2 * n)) +
                                            lf(1, "x" + std::to_string(2 * n + 1)) + lf(2, "m") +
                                            lf(4, "MatMul"));
                         })),
      vf(1, 9) + lf(2, odd) + lf(7, mixed),
  };
}

// What the commands stream (inspect --json of each model, diff --json of each pair) is the text
// of the value tree of the same document: the members come in the tree's key order.
TEST(OnnxJson, StreamedDocumentsAreTheValueTreeText) {
  std::vector<OnnxSummary> models;
  for (const char* file : {"onnx/ch_ppocr_mobile_v2.0_cls_infer.onnx", "onnx/if_subgraph.onnx",
                           "onnx/mlp_external.onnx", "onnx/mlp_helper.onnx",
                           "onnx/silero_vad_legacy.onnx", "onnx/tree_ensemble_ml.onnx",
                           "onnx/typed_fields_sparse.onnx", "onnx_diff/mlp_deeper.onnx"}) {
    auto summary = read_onnx(kData + file);
    ASSERT_TRUE(summary.has_value()) << file << ": " << summary.error();
    models.push_back(std::move(*summary));
  }
  for (const std::string& bytes : hostile_models()) {
    auto summary = read_onnx_bytes("hostile.onnx", bytes);
    ASSERT_TRUE(summary.has_value()) << summary.error();
    models.push_back(std::move(*summary));
  }
  const auto streamed = [](const std::function<void(JsonStream&)>& write) {
    return stream_json_text(write).value_or("(not written)");
  };
  for (std::size_t a = 0; a < models.size(); ++a) {
    SCOPED_TRACE(a);
    EXPECT_EQ(streamed([&](JsonStream& out) { write_onnx_inspect_json(out, models[a]); }),
              write_json(onnx_inspect_json(models[a])).value());
    for (const OnnxSummary& b : models) {
      EXPECT_EQ(streamed([&](JsonStream& out) { write_onnx_diff_json(out, models[a], b); }),
                write_json(kOnnxDiff.json(models[a], b)).value());
    }
  }
}

}  // namespace
}  // namespace orvik

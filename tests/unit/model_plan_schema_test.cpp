// The plan reader: every schema message with its position, both record forms, number
// conversions, and agreement with the JSON library on which value texts are JSON at all.
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cbm/json_syntax.hpp"
#include "model/plan_schema.hpp"

namespace orvik {
namespace {

std::string outcome(const std::string& text) {
  const auto spec = deserialize_model_spec(text);
  if (!spec) return spec.error();
  std::string out = "ok layers=" + std::to_string(spec->layers.size());
  for (const LayerSpec& layer : spec->layers) {
    out += " " + std::to_string(static_cast<int>(layer.kind)) + ":" + layer.name.value_or("-");
  }
  return out;
}

TEST(PlanSchema, MessagesAndPositions) {
  struct Case {
    std::string text;
    const char* want;
  };
  const Case cases[] = {
      {R"({"layers": []})", "ok layers=0"},
      {R"({"name": null, "description": null, "input": null, "input_shape": null,
           "labels": null, "comment": {"any": [1, "x"]}, "comment": 2, "layers": []})",
       "ok layers=0"},
      {R"([null, null, null, null, [], null])", "ok layers=0"},
      {R"({"layers": [{"name": "a", "type": "relu"}, ["gelu", "b", null],
                      {"type": "linear", "weights": [[1], [2]], "gelu": 1}]})",
       "ok layers=3 2:a 3:b 0:-"},
      // Schema texts.
      {"{}", "missing field `layers` at line 1 column 2"},
      {"{\n  \"name\": \"x\"\n}", "missing field `layers` at line 3 column 1"},
      {R"({"layers": [], "layers": []})", "duplicate field `layers` at line 1 column 23"},
      {R"({"name": null, "name": null, "layers": []})",
       "duplicate field `name` at line 1 column 21"},
      {R"({"layers": null})", "invalid type: null, expected a sequence at line 1 column 15"},
      {R"({"layers": {}})", "invalid type: map, expected a sequence at line 1 column 11"},
      {R"({"layers": [{"type": "conv"}]})",
       "unknown variant `conv`, expected one of `linear`, `self_attention`, `relu`, `gelu`, "
       "`softmax` at line 1 column 28"},
      {R"({"layers": [{"type": "Relu"}]})",
       "unknown variant `Relu`, expected one of `linear`, `self_attention`, `relu`, `gelu`, "
       "`softmax` at line 1 column 28"},
      {R"({"layers": [{"name": "x"}]})", "missing field `type` at line 1 column 25"},
      {R"({"layers": [[]]})", "missing field `type` at line 1 column 14"},
      {R"({"layers": [{"type": "relu", "type": "relu"}]})",
       "duplicate field `type` at line 1 column 44"},
      // A layer is read whole before anything in it is checked: a syntax error anywhere in it
      // comes first, then a second "type", then the tag; what the buffered layer holds is
      // reported at its closing bracket, on its own line.
      {R"({"layers": [{"type": 5, "type": "relu"}], "input_shape": [1]})",
       "duplicate field `type` at line 1 column 39"},
      {R"({"layers": [{"type": "conv", "type": "relu"}]})",
       "duplicate field `type` at line 1 column 44"},
      {R"({"layers": [{"type": "relu"}, {"type": "conv", "x": [}], "input_shape": [1]})",
       "expected value at line 1 column 54"},
      {R"({"layers": [{"type": "conv", "x": [1, {]}]})",
       "key must be a string at line 1 column 40"},
      {"{\"layers\": [[\"relu\"],\n\n   {\"type\": \"gelu\"}]}",
       "invalid length 0, expected struct variant LayerSpec::Relu with 2 elements at line 1 "
       "column 20"},
      {R"({"layers": [{"type": 5}]})",
       "invalid type: integer `5`, expected variant identifier at line 1 column 23"},
      {R"({"layers": [[null]]})",
       "invalid type: null, expected variant identifier at line 1 column 18"},
      {R"({"layers": ["relu"]})",
       "invalid type: string \"relu\", expected internally tagged enum LayerSpec at line 1 "
       "column 18"},
      {R"({"layers": [["relu"]]})",
       "invalid length 0, expected struct variant LayerSpec::Relu with 2 elements at line 1 "
       "column 20"},
      {R"({"layers": [["linear", null, null, null, null, null, null]]})",
       "invalid length 6, expected struct variant LayerSpec::Linear with 7 elements at line 1 "
       "column 58"},
      {R"({"layers": [["relu", null, null, 3]]})",
       "invalid length 3, expected 2 elements in sequence at line 1 column 35"},
      {R"([null, null, null, null, []])",
       "invalid length 5, expected struct ModelSpec with 6 elements at line 1 column 28"},
      {R"([null, null, null, null, [], null, 7])", "trailing characters at line 1 column 36"},
      {R"("plan")", "invalid type: string \"plan\", expected struct ModelSpec at line 1 column 6"},
      {R"({"input": 5, "layers": []})",
       "invalid type: integer `5`, expected struct TensorSpec at line 1 column 11"},
      {R"({"input": {"shape": [1]}, "layers": []})", "missing field `data` at line 1 column 24"},
      {R"({"input": {"data": []}, "layers": []})", "missing field `shape` at line 1 column 22"},
      {R"({"input": [[1]], "layers": []})",
       "invalid length 1, expected struct TensorSpec with 2 elements at line 1 column 15"},
      {R"({"input": [[1], [1], []], "layers": []})", "trailing characters at line 1 column 22"},
      {R"({"input": [[1], [1], ], "layers": []})", "trailing comma at line 1 column 22"},
      // Inside a layer the tensor is read from the buffered value.
      {R"({"layers": [{"type": "linear", "bias": [[1], [1], []]}]})",
       "invalid length 3, expected 2 elements in sequence at line 1 column 54"},
      {R"({"layers": [{"type": "linear", "bias": {"shape": [1]}}]})",
       "missing field `data` at line 1 column 54"},
      {R"({"layers": [{"type": "linear", "bias": 3}]})",
       "invalid type: integer `3`, expected struct TensorSpec at line 1 column 41"},
      // Field values, in the document and in a buffered layer (positioned at the layer's
      // closing bracket).
      {R"({"input_shape": [-1], "layers": []})",
       "invalid value: integer `-1`, expected u64 at line 1 column 19"},
      {R"({"input_shape": [1.5], "layers": []})",
       "invalid type: floating point `1.5`, expected u64 at line 1 column 20"},
      {R"({"input_shape": [-0], "layers": []})", "ok layers=0"},
      {R"({"input_shape": [-0.0], "layers": []})",
       "invalid type: floating point `-0.0`, expected u64 at line 1 column 21"},
      {R"({"input_shape": ["2"], "layers": []})",
       "invalid type: string \"2\", expected u64 at line 1 column 20"},
      {R"({"input_shape": [18446744073709551616], "layers": []})",
       "invalid type: floating point `1.8446744073709552e19`, expected u64 at line 1 column 37"},
      {R"({"input": {"shape": [1], "data": [true]}, "layers": []})",
       "invalid type: boolean `true`, expected f32 at line 1 column 38"},
      {R"({"labels": [1], "layers": []})",
       "invalid type: integer `1`, expected a string at line 1 column 13"},
      {R"({"labels": [null], "layers": []})",
       "invalid type: null, expected a string at line 1 column 16"},
      {R"({"input_shape": "😀", "layers": []})",
       "invalid type: string \"😀\", expected a sequence at line 1 column 22"},
      {R"({"name": ["a"], "layers": []})",
       "invalid type: sequence, expected a string at line 1 column 9"},
      {"{\"layers\": [{\"type\": \"linear\", \"in\": -1},\n    {\"type\": \"relu\"}]}",
       "invalid value: integer `-1`, expected u64 at line 1 column 40"},
      {R"({"layers": [{"type": "linear", "out": 2.0}]})",
       "invalid type: floating point `2.0`, expected u64 at line 1 column 42"},
      {R"({"layers": [{"type": "self_attention", "name": 7}]})",
       "invalid type: integer `7`, expected a string at line 1 column 49"},
      {R"({"layers": [{"type": "linear", "in": 1, "in": 2}]})",
       "duplicate field `in` at line 1 column 48"},
      {R"({"layers": [{"type": "linear", "name": "a\tb\u00e9\u00a0", "in": {}}]})",
       "invalid type: map, expected u64 at line 1 column 68"},
      {R"({"layers": ["tab\there\u0301"]})",
       "invalid type: string \"tab\\there\\u{301}\", expected internally tagged enum "
       "LayerSpec at line 1 column 29"},
      // Syntax, from the JSON reader.
      {"", "EOF while parsing a value at line 1 column 0"},
      {"{\"layers\": [] x", "expected `,` or `}` at line 1 column 15"},
      {R"({"layers": []} x)", "trailing characters at line 1 column 16"},
      {R"({"layers": [],})", "trailing comma at line 1 column 15"},
      {R"({"layers": [1 2]})",
       "invalid type: integer `1`, expected internally tagged enum LayerSpec at line 1 column 13"},
      {R"({"layers": [], "x": [1 2]})", "expected `,` or `]` at line 1 column 24"},
      {R"({"layers" []})", "expected `:` at line 1 column 11"},
      {R"({layers: []})", "key must be a string at line 1 column 2"},
      {R"({"layers": [tru]})", "expected ident at line 1 column 16"},
      {R"({"layers": [], "x": 01})", "invalid number at line 1 column 22"},
      {R"({"layers": [], "x": 1.})", "invalid number at line 1 column 23"},
      {R"({"layers": [], "x": -})", "invalid number at line 1 column 22"},
      {R"({"layers": [], "x": "\q"})", "invalid escape at line 1 column 23"},
      {R"({"layers": [], "x": "\ud800"})", "ok layers=0"},
      {R"({"name": "\ud800", "layers": []})", "unexpected end of hex escape at line 1 column 17"},
      {R"({"name": "\udc00", "layers": []})",
       "lone leading surrogate in hex escape at line 1 column 16"},
      {"{\"name\": \"a\nb\", \"layers\": []}",
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {R"({"input": [[1], [1e400]], "layers": []})", "number out of range at line 1 column 22"},
      {R"({"layers": [], "x": 1e400})", "ok layers=0"},
      {R"({"layers": [)", "EOF while parsing a list at line 1 column 12"},
      {R"({"layers": [], "x": [1, {"a": [}]})", "expected value at line 1 column 32"},
      {R"({"layers": [], "x": [1,]})", "expected value at line 1 column 24"},
      {std::string(R"({"layers": [{"type": "relu", "x": )") + std::string(200, '[') + "]}",
       "recursion limit exceeded at line 1 column 159"},
      {std::string(R"({"layers": [], "x": )") + std::string(5000, '[') + std::string(5000, ']') +
           "}",
       "ok layers=0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome(c.text), c.want) << c.text;
}

TEST(PlanSchema, FieldsAndNumbers) {
  const auto spec = deserialize_model_spec(R"({
    "name": "n", "description": "d", "input_shape": [2, 0], "labels": ["a", "b"],
    "input": [[3], [2, 1e39, -1e39]],
    "layers": [
      {"weights": {"data": [16777217, -0, 0.1], "shape": [3]}, "type": "linear", "in": 4,
       "out": 18446744073709551615, "out_features": 0, "explain": "e", "wq": null},
      ["self_attention", "att", null, null, [[1], [2.5]], null, 4, 8, 2, 3]
    ]})");
  ASSERT_TRUE(spec) << spec.error();
  EXPECT_EQ(spec->name, "n");
  EXPECT_EQ(spec->description, "d");
  EXPECT_EQ(spec->input_shape, (std::vector<std::uint64_t>{2, 0}));
  EXPECT_EQ(spec->labels, (std::vector<std::string>{"a", "b"}));
  constexpr float kInf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(spec->input->data, (std::vector<float>{2.0f, kInf, -kInf}));
  const LayerSpec& linear = spec->layers[0];
  const TensorSpec* weights = linear.tensor(LayerTensor::Weights);
  ASSERT_NE(weights, nullptr);
  EXPECT_EQ(weights->shape, (std::vector<std::uint64_t>{3}));
  EXPECT_EQ(weights->data[0], 16777216.0f);
  EXPECT_EQ(weights->data[1], 0.0f);  // "-0" is the integer 0
  EXPECT_FALSE(std::signbit(weights->data[1]));
  EXPECT_EQ(weights->data[2], 0.1f);
  EXPECT_EQ(linear.size(LayerSize::In), 4u);
  EXPECT_EQ(linear.size(LayerSize::Out), 18446744073709551615u);
  EXPECT_EQ(linear.size(LayerSize::OutFeatures), 0u);
  EXPECT_EQ(linear.size(LayerSize::Tokens), std::nullopt);
  EXPECT_EQ(linear.explain, "e");
  EXPECT_EQ(linear.tensor(LayerTensor::Wq), nullptr);
  EXPECT_EQ(linear.tensor(LayerTensor::Bias), nullptr);
  const LayerSpec& attention = spec->layers[1];
  EXPECT_EQ(attention.kind, LayerKind::SelfAttention);
  EXPECT_EQ(attention.tensor(LayerTensor::Wk)->data, (std::vector<float>{2.5f}));
  EXPECT_EQ(attention.size(LayerSize::Tokens), 4u);
  EXPECT_EQ(attention.size(LayerSize::ValueDim), 3u);
  EXPECT_EQ(attention.tensor(LayerTensor::Wq), nullptr);
}

// Any value the JSON library accepts may stand in a layer's unknown key, and nothing else may.
TEST(PlanSchema, AgreesWithTheJsonLibraryOnValueSyntax) {
  const std::vector<std::string> seeds = {R"({"a": [1, -2.5e3, true, null, "x\u00e9\n"], "b": {}})",
                                          R"([[], [0.0], {"k": -0}])",
                                          R"("\ud83d\ude00 \\ \/ \b")",
                                          "1E+2",
                                          "-0.5e-7",
                                          "false"};
  const std::string alphabet = "{}[],:\"\\ -+.eE0123456789tnfrulsaxu";
  std::mt19937 random(7);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string value = seeds[random() % seeds.size()];
    for (int edits = 1 + random() % 3; edits > 0; --edits) {
      const std::size_t at = random() % (value.size() + 1);
      switch (random() % 3) {
        case 0:
          value.insert(at, 1, alphabet[random() % alphabet.size()]);
          break;
        case 1:
          if (at < value.size()) value.erase(at, 1);
          break;
        default:
          if (at < value.size()) value[at] = alphabet[random() % alphabet.size()];
      }
    }
    const std::string plan = R"({"layers": [{"type": "relu", "x": )" + value + "}]}";
    const bool json = is_json_text(value) && !value.empty();
    ASSERT_EQ(deserialize_model_spec(plan).has_value(), json) << value;
    accepted += json;
  }
  EXPECT_GT(accepted, 2000);
}

}  // namespace
}  // namespace orvik

// The ONNX model reader: agreement with the onnx library on the corpus, every cut of every corpus
// file, the field selection rules on small hand-written models, and the bad-input messages.
#include "onnx/onnx_reader.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "proto_wire_builder.hpp"
#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

const std::string kData = std::string(ORVIK_TEST_DATA) + "/onnx/";
constexpr char kNoGraph[] = "ONNX ModelProto did not contain graph field";

using testing_support::lf;
using testing_support::varint;
using testing_support::vf;

OnnxSummary read_model(std::string_view bytes) {
  auto summary = read_onnx_bytes("models/m.onnx", bytes);
  EXPECT_TRUE(summary.has_value()) << summary.error();
  return summary ? std::move(*summary) : OnnxSummary{};
}

// A record's list, to compare with an expected one.
template <class T>
std::vector<T> list(std::span<const T> items) {
  return {items.begin(), items.end()};
}

std::string read_error(std::string_view bytes) {
  auto summary = read_onnx_bytes("m.onnx", bytes);
  return summary ? "(read)" : summary.error();
}

Fingerprint fnv(std::string_view bytes) {
  return fnv1a64(kFnvOffsetBasis, bytes);
}

// The summary in the shape of expectations.json, which the onnx library wrote.
JsonValue as_expectation(const std::string& file, const OnnxSummary& s) {
  JsonValue j = {{"file", file},
                 {"file_size_bytes", s.file_size_bytes},
                 {"ir_version", optional_json(s.ir_version)},
                 {"producer", optional_json(s.producer)},
                 {"graph_name", optional_json(s.graph_name)},
                 {"nodes", s.nodes.size()},
                 {"value_info_entries", s.value_info_entries},
                 {"parameter_values", s.parameter_values},
                 {"parameter_memory_bytes", s.parameter_memory_bytes}};
  for (const OnnxOpsetImport& o : s.opset_imports)
    j["opsets"].push_back({o.domain, optional_json(o.version)});
  for (const OpCount& op : s.op_counts)
    j["op_counts"].push_back({op.op_type, op.count});
  j["initializers"] = JsonValue::array();
  for (const OnnxInitializer& t : s.initializers) {
    j["initializers"].push_back({{"name", t.name},
                                 {"dims", list(t.dims)},
                                 {"data_type", optional_json(t.data_type)},
                                 {"data_location", optional_json(t.data_location)},
                                 {"raw_data_bytes", t.raw_data_bytes},
                                 {"external_data_entries", t.external_data_entries}});
  }
  for (const auto& [key, list] : {std::pair{"inputs", &s.inputs}, {"outputs", &s.outputs}}) {
    j[key] = JsonValue::array();
    for (const OnnxValueInfo& v : *list)
      j[key].push_back(value_info_to_value(v));
  }
  return j;
}

TEST(OnnxReader, AgreesWithTheOnnxLibraryOnTheCorpus) {
  auto text = read_whole_file(kData + "expectations.json");
  ASSERT_TRUE(text.has_value()) << text.error();
  auto expectations = parse_json(*text);
  ASSERT_TRUE(expectations.has_value()) << expectations.error();
  ASSERT_EQ(expectations->size(), 12u);
  for (const JsonValue& expected : *expectations) {
    const std::string file = expected["file"];
    auto summary = read_onnx(kData + file);
    ASSERT_TRUE(summary.has_value()) << file << ": " << summary.error();
    EXPECT_EQ(summary->path, file);
    EXPECT_EQ(as_expectation(file, *summary), expected) << file;
    EXPECT_EQ(summary->node_costs.size(), summary->nodes.size()) << file;
  }
}

// Cut at every length up to 8 KiB and at 300 lengths past it, each file must read or fail with a
// decoder message. Each cut is its own allocation, so the sanitizers see any read past it.
TEST(OnnxReader, EveryCutOfEveryCorpusModelEndsCleanly) {
  for (const char* file :
       {"ch_ppocr_mobile_v2.0_cls_infer.onnx", "if_subgraph.onnx", "mlp_external.onnx",
        "mlp_from_torch.onnx", "mlp_helper.onnx", "silero_vad_legacy.onnx", "tree_ensemble_ml.onnx",
        "typed_fields_sparse.onnx"}) {
    auto bytes = read_whole_file(kData + file);
    ASSERT_TRUE(bytes.has_value());
    const std::size_t step = std::max<std::size_t>(1, bytes->size() / 300);
    for (std::size_t n = 0; n < bytes->size(); n += n < 8192 ? 1 : step) {
      auto cut = std::make_unique<char[]>(n);
      std::memcpy(cut.get(), bytes->data(), n);
      auto summary = read_onnx_bytes(file, std::string_view(cut.get(), n));
      if (summary) continue;
      const std::string& e = summary.error();
      EXPECT_TRUE(starts_with(e, "protobuf ") || e == kNoGraph)
          << file << " cut at " << n << ": " << e;
    }
  }
}

TEST(OnnxReader, ModelAndGraphSelection) {
  EXPECT_EQ(read_error(""), kNoGraph);
  EXPECT_EQ(read_error(vf(7, 1)), kNoGraph);  // a graph field of wire type 0 is skipped
  EXPECT_EQ(read_error(lf(7, "") + lf(2, "\xff")),
            "invalid UTF-8 string in ONNX protobuf: "
            "invalid utf-8 sequence of 1 bytes from index 0");

  const std::string first = lf(1, lf(4, "Relu")) + lf(2, "first") + lf(13, "") + lf(5, vf(1, 3));
  const std::string second = lf(1, lf(4, "Add")) + lf(1, "") + lf(2, "second");
  const OnnxSummary s = read_model(vf(1, -1ull) + lf(2, "old") + lf(7, first) + lf(2, "tool") +
                                   lf(8, lf(1, "") + vf(2, 13)) + lf(8, lf(1, "ai.onnx.ml")) +
                                   lf(7, second) + vf(1, 9) + lf(99, "ignored"));
  EXPECT_EQ(s.ir_version, 9);
  EXPECT_EQ(s.producer, "tool");
  EXPECT_EQ(s.graph_name, "second");
  ASSERT_EQ(s.opset_imports.size(), 2u);
  EXPECT_EQ(s.opset_imports[0].version, 13);
  EXPECT_EQ(s.opset_imports[1].domain, "ai.onnx.ml");
  EXPECT_EQ(s.opset_imports[1].version, std::nullopt);
  ASSERT_EQ(s.nodes.size(), 2u);
  EXPECT_EQ(s.nodes[0].op_type, "Add");
  EXPECT_EQ(s.nodes[1].op_type, "Unknown");
  EXPECT_TRUE(s.initializers.empty());
  EXPECT_EQ(s.value_info_entries, 0u);

  // An error inside the first graph fails the read although a second graph follows.
  EXPECT_EQ(read_error(lf(7, lf(1, "\x0b")) + lf(7, second)), "unsupported protobuf wire type 3");
  // A non-UTF-8 display name gives way to the path as passed.
  EXPECT_EQ(read_onnx_bytes("dir/\xff.onnx", lf(7, ""))->path, "dir/\xff.onnx");
  EXPECT_EQ(read_onnx(kData).error(), "read " + kData + ": Is a directory (os error 21)");
}

TEST(OnnxReader, NodesAttributesAndTheHistogram) {
  const std::string gemm = lf(1, "x") + lf(1, "") + lf(1, "w") + lf(2, "y") + lf(3, "fc") +
                           lf(4, "Gemm") + lf(5, lf(1, "transA") + vf(3, 0)) +
                           lf(5, lf(1, "transB") + vf(3, 1)) + lf(5, lf(1, "transB") + vf(3, 2)) +
                           lf(5, lf(1, "alpha") + std::string("\x15\0\0\x80\x3f", 5)) +
                           lf(5, vf(3, 4)) + lf(5, lf(1, "axis") + vf(3, -1ull));
  std::string graph = lf(1, gemm) + lf(1, lf(4, "")) + lf(1, vf(4, 1));
  for (const char* op : {"Relu", "Add", "Relu", "Add", "Conv"})
    graph += lf(1, lf(4, op));
  const OnnxSummary s = read_model(lf(7, graph));
  const OnnxNode& n = s.nodes[0];
  EXPECT_EQ(list(n.inputs), (std::vector<std::string_view>{"x", "", "w"}));
  EXPECT_EQ(list(n.outputs), std::vector<std::string_view>{"y"});
  EXPECT_EQ(n.name, "fc");
  std::vector<std::pair<std::string_view, std::int64_t>> attributes;
  for (const OnnxAttribute& attribute : n.attributes)
    attributes.emplace_back(attribute.name, attribute.value);
  EXPECT_EQ(attributes, (std::vector<std::pair<std::string_view, std::int64_t>>{
                            {"axis", -1}, {"transA", 0}, {"transB", 2}}));
  EXPECT_EQ(onnx_attribute(n.attributes, "transB"), 2);
  EXPECT_EQ(onnx_attribute(n.attributes, "alpha"), std::nullopt);
  EXPECT_EQ(s.nodes[1].op_type, "");         // present but empty
  EXPECT_EQ(s.nodes[2].op_type, "Unknown");  // op_type of wire type 0 is skipped
  std::vector<std::pair<std::string, std::uint64_t>> ops;
  for (const OpCount& c : s.op_counts)
    ops.emplace_back(c.op_type, c.count);
  EXPECT_EQ(ops, (std::vector<std::pair<std::string, std::uint64_t>>{
                     {"Add", 2}, {"Relu", 2}, {"", 1}, {"Conv", 1}, {"Gemm", 1}, {"Unknown", 1}}));
}

TEST(OnnxReader, InitializersTotalsAndFingerprints) {
  const auto tensor = [](std::string fields) { return lf(5, fields); };
  const std::string graph =
      tensor(lf(8, "packed") + lf(1, varint(2) + varint(3)) + "\x0d\x01\x02\x03\x04" + vf(2, 1) +
             lf(9, "\x01")) +
      tensor(lf(8, "unpacked") + vf(1, 2) + vf(1, 3) + vf(2, 7) + vf(5, 7)) +
      tensor(lf(8, "int32_packed") + vf(2, 0x100000009) + lf(5, "\x07") + lf(1, "")) +
      tensor(vf(1, 0) + vf(2, 1) + lf(13, "k") + lf(13, "") + vf(14, 1)) +
      tensor(vf(1, 3) + vf(1, 4) + vf(2, 1) + lf(4, "") + lf(9, std::string(48, 'a')) +
             lf(9, "ab"));
  const OnnxSummary s = read_model(lf(7, graph));
  ASSERT_EQ(s.initializers.size(), 5u);
  const OnnxInitializer& packed = s.initializers[0];
  EXPECT_EQ(list(packed.dims), (std::vector<std::int64_t>{2, 3}));
  EXPECT_EQ(packed.raw_data_bytes, 1u);
  EXPECT_EQ(packed.data_fingerprint, fnv(std::string("\x09\x00\x00\x00\x02\x01", 6)));
  const OnnxInitializer& unpacked = s.initializers[1];
  EXPECT_EQ(list(unpacked.dims), list(packed.dims));
  EXPECT_EQ(unpacked.data_fingerprint,
            fnv(std::string("\x05\x00\x00\x00\x00\x07", 6) + std::string(7, '\0')));
  const OnnxInitializer& int32_packed = s.initializers[2];
  EXPECT_EQ(int32_packed.data_type, 9);  // the low 32 bits
  EXPECT_EQ(int32_packed.data_fingerprint, fnv(std::string("\x05\x00\x00\x00\x02\x07", 6)));
  const OnnxInitializer& external = s.initializers[3];
  EXPECT_EQ(external.data_fingerprint, std::nullopt);
  EXPECT_EQ(external.external_data_entries, 2u);
  EXPECT_EQ(external.data_location, 1);
  const std::string key13(std::string("\x0d\0\0\0\x02", 5));
  EXPECT_EQ(fnv(key13), 0x0ac8fb589d1a2bdeu);
  EXPECT_EQ(external.external_data_fingerprint, fnv(key13 + "k" + key13 + std::string(8, '\0')));
  const OnnxInitializer& raw = s.initializers[4];
  EXPECT_EQ(raw.raw_data_bytes, 2u);  // the last raw_data
  EXPECT_EQ(raw.data_fingerprint, fnv(std::string("\x04\0\0\0\x02", 5) + std::string(8, '\0') +
                                      std::string("\x09\0\0\0\x02", 5) + std::string(48, 'a') +
                                      std::string("\x09\0\0\0\x02", 5) + "ab"));
  // [2, 3] float, [2, 3] int64, a scalar int32 (code 9: bool), [0] float, [3, 4] float.
  EXPECT_EQ(s.parameter_values, 6u + 6 + 1 + 0 + 12);
  EXPECT_EQ(s.parameter_memory_bytes, 24u + 48 + 1 + 0 + 48);
}

std::string value_info(std::string_view name, std::string_view type) {
  return lf(1, name) + lf(2, type);
}

// A tensor type with the given Dimension messages.
std::string tensor_type(std::uint64_t elem_type, std::initializer_list<std::string> dims) {
  std::string shape;
  for (const std::string& d : dims)
    shape += lf(1, d);
  return lf(1, vf(1, elem_type) + lf(2, shape));
}

TEST(OnnxReader, ValueInfoShapesFeedTheCostEstimates) {
  const std::string graph =
      lf(11, value_info("x", tensor_type(1, {vf(1, 5) + lf(2, "batch"), "", vf(1, -1ull)}))) +
      lf(11, value_info("a", tensor_type(1, {vf(1, 1), lf(2, "+3")}))) +
      lf(11, value_info("b", tensor_type(7, {vf(1, 9)})) + lf(2, lf(4, ""))) +
      lf(11, value_info("c", tensor_type(2, {vf(1, 2)}) + tensor_type(1, {vf(1, 7)}))) +
      lf(12, value_info("w", tensor_type(1, {vf(1, 100)}))) +
      lf(13, value_info("w", tensor_type(1, {vf(1, 50)}))) + lf(13, "") +
      lf(5, lf(8, "w") + vf(1, 4) + vf(1, 5)) + lf(1, lf(4, "Relu") + lf(2, "a")) +
      lf(1, lf(4, "Relu") + lf(2, "x")) + lf(1, lf(4, "Sigmoid") + lf(2, "w")) +
      lf(1, lf(4, "Tanh") + lf(2, "c")) + lf(1, lf(4, "Relu"));
  const OnnxSummary s = read_model(lf(7, graph));
  ASSERT_EQ(s.inputs.size(), 4u);
  EXPECT_EQ(list(s.inputs[0].shape), (std::vector<std::string_view>{"batch", "?", "-1"}));
  EXPECT_EQ(s.inputs[0].elem_type, 1);
  EXPECT_TRUE(s.inputs[2].shape.empty());  // a second, non-tensor type replaces the first
  EXPECT_EQ(s.inputs[2].elem_type, std::nullopt);
  EXPECT_EQ(list(s.inputs[3].shape), std::vector<std::string_view>{"2"});
  EXPECT_EQ(s.value_info_entries, 2u);
  std::vector<std::optional<std::uint64_t>> estimates;
  for (const OnnxNodeCost& c : s.node_costs)
    estimates.push_back(c.estimated_ops);
  // "+3" parses; "-1" leaves x out; the initializer's dims beat the output's and value info's.
  EXPECT_EQ(estimates, (std::vector<std::optional<std::uint64_t>>{3, {}, 20, 2, {}}));
  EXPECT_EQ(s.estimated_ops, 25u);

  EXPECT_EQ(format_dim_texts({}), "?");
  EXPECT_EQ(format_dims(std::vector<std::int64_t>{-1}), "[18446744073709551615]");
  EXPECT_EQ(format_dims({}), "scalar");
  EXPECT_EQ(write_json(value_info_to_value(s.inputs[2]), JsonStyle::Compact).value(),
            R"({"elem_type":null,"name":"b","shape":[]})");
  EXPECT_EQ(write_json(opset_import_to_value({"", 13}), JsonStyle::Compact).value(),
            R"({"domain":"","version":13})");
}

// Many nodes naming one shape of a million dims cost one pass over it, not one per node.
TEST(OnnxReader, ManyNodesOverOneLongShape) {
  std::string graph = lf(5, lf(8, "w") + lf(1, std::string(1'000'000, '\x01')));
  for (const char* node : {"Relu", "MatMul", "Conv"}) {
    for (int i = 0; i < 20000; ++i)
      graph += lf(1, lf(1, "w") + lf(1, "w") + lf(2, "w") + lf(4, node));
  }
  const OnnxSummary s = read_model(lf(7, graph));
  EXPECT_EQ(s.estimated_ops, 20000u * (1 + 2 + 2));
}

// Damaged and hostile models: every one ends in its message, with nothing allocated on the
// strength of a length field.
TEST(OnnxReader, BadInputTable) {
  const std::string node_with_name_ff = lf(1, lf(3, "n\xff"));
  std::string deep;  // attribute graphs nested 2000 deep: never followed, never recursed into
  for (int i = 0; i < 2000; ++i)
    deep = lf(6, deep);
  const struct {
    std::string bytes;
    std::string message;
  } cases[] = {
      {lf(7, lf(1, lf(4, "Relu"))).substr(0, 7),
       "protobuf length-delimited field exceeded input length"},
      {"\x3a", "protobuf varint ended unexpectedly"},
      {"\x3a\xff\xff\xff\xff\xff\xff\xff\xff\x7f",
       "protobuf length-delimited field exceeded input length"},
      {"\x3a\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", "protobuf length-delimited index overflow"},
      {lf(7, lf(5, "\x0a\xfe\xff\xff\xff\xff\xff\xff\xff\xff\x01")),
       "protobuf length-delimited index overflow"},
      {lf(7, "") + "\x08" + std::string(10, '\x80') + "\x01", "protobuf varint exceeded 64 bits"},
      {lf(7, lf(5, lf(1, std::string(9, '\x80') + "\x80\x01"))),
       "protobuf varint exceeded 64 bits"},
      {lf(7, lf(5, lf(1, "\x80"))), "protobuf varint ended unexpectedly"},
      {lf(7, "") + "\x3b", "unsupported protobuf wire type 3"},
      {lf(7, lf(1, "\x0c")), "unsupported protobuf wire type 4"},
      {lf(7, lf(11, lf(2, "\x0e"))), "unsupported protobuf wire type 6"},
      {lf(7, lf(11, lf(2, lf(1, lf(2, lf(1, "\x0f")))))), "unsupported protobuf wire type 7"},
      {lf(7, lf(1, lf(5, "\x1d\x01"))), "protobuf fixed32 field exceeded input length"},
      {lf(7, lf(5, "\x21\x01\x02\x03\x04\x05\x06\x07")),
       "protobuf fixed64 field exceeded input length"},
      {lf(7, node_with_name_ff),
       "invalid UTF-8 string in ONNX protobuf: invalid utf-8 sequence of 1 bytes from index 1"},
      {lf(7, lf(5, lf(8, "\xe2\x82"))),
       "invalid UTF-8 string in ONNX protobuf: incomplete utf-8 byte sequence from index 0"},
      {lf(7, lf(11, lf(2, lf(1, lf(2, lf(1, lf(2, "\xc0\x80"))))))),
       "invalid UTF-8 string in ONNX protobuf: invalid utf-8 sequence of 1 bytes from index 0"},
      {lf(7, lf(1, lf(5, lf(1, "\xed\xa0\x80")))),
       "invalid UTF-8 string in ONNX protobuf: invalid utf-8 sequence of 1 bytes from index 0"},
      {lf(7, lf(1, lf(5, deep))), "(read)"},
      {lf(7, lf(1, lf(5, deep + "\x0b"))), "unsupported protobuf wire type 3"},
      {lf(3, "\xff") + lf(12, "\x0b") + lf(7, ""), "(read)"},  // ignored fields are never split
      // The model is split whole before its graph is decoded: the later fault is the one seen.
      {lf(7, lf(1, "\x0c")) + "\x0b", "unsupported protobuf wire type 3"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(read_error(c.bytes), c.message) << c.message;
}

}  // namespace
}  // namespace orvik

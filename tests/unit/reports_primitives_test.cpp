#include "reports/primitives.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture_stdout.hpp"

namespace orvik {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

using testing_support::capture_stdout;

std::vector<std::string> numbered_names(const std::string& prefix, int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i)
    names.push_back(prefix + (i < 10 ? "0" : "") + std::to_string(i));
  return names;
}

// ---- value texts -------------------------------------------------------------------------

TEST(CountDeltaText, SameGrowShrink) {
  EXPECT_EQ(count_delta_text(5, 5), "same");
  EXPECT_EQ(count_delta_text(5, 7), "+2");
  EXPECT_EQ(count_delta_text(7, 5), "-2");
  EXPECT_EQ(count_delta_text(0, 0), "same");
}

TEST(CountDeltaText, FullUnsignedRange) {
  EXPECT_EQ(count_delta_text(0, kU64Max), "+18446744073709551615");
  EXPECT_EQ(count_delta_text(kU64Max, 0), "-18446744073709551615");
  EXPECT_EQ(count_delta_text(kU64Max, kU64Max), "same");
}

TEST(DepthText, NegativeIsUnlimited) {
  EXPECT_EQ(depth_text(-1), "unlimited");
  EXPECT_EQ(depth_text(kI64Min), "unlimited");
  EXPECT_EQ(depth_text(0), "0");
  EXPECT_EQ(depth_text(6), "6");
  EXPECT_EQ(depth_text(kI64Max), "9223372036854775807");
}

TEST(HumanCountText, Thresholds) {
  EXPECT_EQ(human_count_text(0), "0");
  EXPECT_EQ(human_count_text(999), "999");
  EXPECT_EQ(human_count_text(1000), "1.0K");
  EXPECT_EQ(human_count_text(1050), "1.1K");  // 1.05 is just above half in binary
  EXPECT_EQ(human_count_text(999999), "1000.0K");
  EXPECT_EQ(human_count_text(1000000), "1.0M");
  EXPECT_EQ(human_count_text(999999999), "1000.0M");
  EXPECT_EQ(human_count_text(1000000000), "1.0B");
  EXPECT_EQ(human_count_text(1500000000), "1.5B");
  EXPECT_EQ(human_count_text(kU64Max), "18446744073.7B");
}

// ---- rows --------------------------------------------------------------------------------

TEST(FieldRow, PresentAndAbsent) {
  EXPECT_EQ(capture_stdout([] { print_field_row("Trees", "100"); }), "  Trees: 100\n");
  EXPECT_EQ(capture_stdout([] { print_field_row("Loss", std::nullopt); }), "  Loss: unknown\n");
  EXPECT_EQ(capture_stdout([] { print_field_row("Empty", std::string()); }), "  Empty: \n");
}

TEST(SizeChangeRow, SizesWithRawByteDelta) {
  EXPECT_EQ(capture_stdout([] { print_size_change_row("File size", 1023, 1024); }),
            "File size:\n  1023 B -> 1.0 KiB (+1)\n");
  EXPECT_EQ(capture_stdout([] { print_size_change_row("File size", 1024, 2560); }),
            "File size:\n  1.0 KiB -> 2.5 KiB (+1536)\n");
  EXPECT_EQ(capture_stdout([] { print_size_change_row("File size", 3145728, 1048575); }),
            "File size:\n  3.0 MiB -> 1024.0 KiB (-2097153)\n");
  EXPECT_EQ(capture_stdout([] { print_size_change_row("File size", 7, 7); }),
            "File size:\n  7 B -> 7 B (same)\n");
}

TEST(CountChangeRow, Forms) {
  EXPECT_EQ(capture_stdout([] { print_count_change_row("Trees", 100, 120); }),
            "Trees:\n  100 -> 120 (+20)\n");
  EXPECT_EQ(capture_stdout([] { print_count_change_row("Trees", 120, 100); }),
            "Trees:\n  120 -> 100 (-20)\n");
  EXPECT_EQ(capture_stdout([] { print_count_change_row("Trees", 3, 3); }),
            "Trees:\n  3 -> 3 (same)\n");
}

TEST(OptionalCountChangeRow, UnknownUnlessBothPresent) {
  EXPECT_EQ(capture_stdout([] { print_optional_count_change_row("Depth", 6, 8); }),
            "Depth:\n  6 -> 8 (+2)\n");
  EXPECT_EQ(capture_stdout([] { print_optional_count_change_row("Depth", std::nullopt, 8); }),
            "Depth:\n  unknown\n");
  EXPECT_EQ(capture_stdout([] { print_optional_count_change_row("Depth", 6, std::nullopt); }),
            "Depth:\n  unknown\n");
  EXPECT_EQ(
      capture_stdout([] { print_optional_count_change_row("Depth", std::nullopt, std::nullopt); }),
      "Depth:\n  unknown\n");
}

TEST(FloatChangeRow, SameDeltaAndUnknown) {
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Learning rate", 0.1, 0.1); }),
            "Learning rate:\n  0.100000 -> 0.100000 (same)\n");
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Learning rate", 0.1, 0.05); }),
            "Learning rate:\n  0.100000 -> 0.050000 (-0.050000)\n");
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Learning rate", 0.05, 0.1); }),
            "Learning rate:\n  0.050000 -> 0.100000 (+0.050000)\n");
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Learning rate", std::nullopt, 0.1); }),
            "Learning rate:\n  unknown\n");
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Learning rate", 0.1, std::nullopt); }),
            "Learning rate:\n  unknown\n");
  EXPECT_EQ(
      capture_stdout([] { print_float_change_row("Learning rate", std::nullopt, std::nullopt); }),
      "Learning rate:\n  unknown\n");
}

TEST(FloatChangeRow, SameBelowMachineEpsilonOnly) {
  // A difference below epsilon is "same" even though the digits could differ in principle.
  EXPECT_EQ(capture_stdout([] { print_float_change_row("L2", 0.0, 1e-17); }),
            "L2:\n  0.000000 -> 0.000000 (same)\n");
  // A tiny but larger difference is a change, printed with its rounded sign.
  EXPECT_EQ(capture_stdout([] { print_float_change_row("L2", 0.0, 1e-9); }),
            "L2:\n  0.000000 -> 0.000000 (+0.000000)\n");
  EXPECT_EQ(capture_stdout([] { print_float_change_row("L2", 1e-9, 0.0); }),
            "L2:\n  0.000000 -> 0.000000 (-0.000000)\n");
  // 0.1 + 0.2 and 0.3 differ by one unit in the last place (5.55e-17): same.
  EXPECT_EQ(capture_stdout([] { print_float_change_row("L2", 0.1 + 0.2, 0.3); }),
            "L2:\n  0.300000 -> 0.300000 (same)\n");
}

TEST(FloatChangeRow, NonFiniteValues) {
  // NaN never compares below the tolerance, so it prints the delta form.
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Rate", kNaN, 1.0); }),
            "Rate:\n  NaN -> 1.000000 (NaN)\n");
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Rate", kNaN, kNaN); }),
            "Rate:\n  NaN -> NaN (NaN)\n");
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Rate", 1.0, kInf); }),
            "Rate:\n  1.000000 -> inf (+inf)\n");
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Rate", kInf, kInf); }),
            "Rate:\n  inf -> inf (NaN)\n");
  EXPECT_EQ(capture_stdout([] { print_float_change_row("Rate", 2.0, -kInf); }),
            "Rate:\n  2.000000 -> -inf (-inf)\n");
}

TEST(TextChangeRow, FiveForms) {
  const std::optional<std::string> none;
  EXPECT_EQ(capture_stdout([] { print_text_change_row("Loss", "RMSE", "RMSE"); }),
            "Loss:\n  RMSE -> RMSE (same)\n");
  EXPECT_EQ(capture_stdout([] { print_text_change_row("Loss", "RMSE", "MAE"); }),
            "Loss:\n  RMSE -> MAE (changed)\n");
  EXPECT_EQ(capture_stdout([&] { print_text_change_row("Loss", none, "MAE"); }),
            "Loss:\n  unknown -> MAE\n");
  EXPECT_EQ(capture_stdout([&] { print_text_change_row("Loss", "RMSE", none); }),
            "Loss:\n  RMSE -> unknown\n");
  EXPECT_EQ(capture_stdout([&] { print_text_change_row("Loss", none, none); }),
            "Loss:\n  unknown\n");
}

TEST(TextChangeRow, ComparesBytes) {
  EXPECT_EQ(capture_stdout([] { print_text_change_row("Loss", "rmse", "RMSE"); }),
            "Loss:\n  rmse -> RMSE (changed)\n");
  EXPECT_EQ(capture_stdout([] { print_text_change_row("Loss", "a ", "a"); }),
            "Loss:\n  a  -> a (changed)\n");
  EXPECT_EQ(capture_stdout([] { print_text_change_row("Loss", "", ""); }),
            "Loss:\n   ->  (same)\n");
}

TEST(FingerprintChangeRow, FiveForms) {
  EXPECT_EQ(capture_stdout([] { print_fingerprint_change_row("File fingerprint", 1, 1); }),
            "File fingerprint:\n  0x0000000000000001 -> 0x0000000000000001 (same)\n");
  EXPECT_EQ(capture_stdout([] { print_fingerprint_change_row("File fingerprint", 0, kU64Max); }),
            "File fingerprint:\n  0x0000000000000000 -> 0xffffffffffffffff (changed)\n");
  EXPECT_EQ(capture_stdout([] {
              print_fingerprint_change_row("File fingerprint", std::nullopt, 0xcbf29ce484222325);
            }),
            "File fingerprint:\n  unknown -> 0xcbf29ce484222325\n");
  EXPECT_EQ(capture_stdout(
                [] { print_fingerprint_change_row("File fingerprint", 0xabcdef, std::nullopt); }),
            "File fingerprint:\n  0x0000000000abcdef -> unknown\n");
  EXPECT_EQ(capture_stdout([] {
              print_fingerprint_change_row("File fingerprint", std::nullopt, std::nullopt);
            }),
            "File fingerprint:\n  unknown\n");
}

// ---- feature name changes ----------------------------------------------------------------

TEST(FeatureNameChanges, NoneDetected) {
  EXPECT_EQ(capture_stdout([] { print_feature_name_changes({}, {}); }),
            "Feature name changes:\n  none detected\n");
  EXPECT_EQ(capture_stdout([] {
              print_feature_name_changes({"b", "a"}, {"a", "b"});
            }),
            "Feature name changes:\n  none detected\n");
}

TEST(FeatureNameChanges, DuplicatesCollapse) {
  // The same name twice on one side and once on the other is neither added nor removed.
  EXPECT_EQ(capture_stdout([] {
              print_feature_name_changes({"age", "age"}, {"age"});
            }),
            "Feature name changes:\n  none detected\n");
  EXPECT_EQ(capture_stdout([] {
              print_feature_name_changes({"age"}, {"age", "age", "zip", "zip"});
            }),
            "Feature name changes:\n  Added:\n    zip\n");
}

TEST(FeatureNameChanges, AddedAndRemovedInByteOrder) {
  EXPECT_EQ(capture_stdout([] {
              print_feature_name_changes({"income", "age", "Zeta"}, {"zip", "age", "Alpha", "b"});
            }),
            "Feature name changes:\n"
            "  Added:\n"
            "    Alpha\n"
            "    b\n"
            "    zip\n"
            "  Removed:\n"
            "    Zeta\n"
            "    income\n");
  // Only removals: no "Added:" heading at all.
  EXPECT_EQ(capture_stdout([] {
              print_feature_name_changes({"a", "b"}, {"a"});
            }),
            "Feature name changes:\n  Removed:\n    b\n");
}

TEST(FeatureNameChanges, TwelveNamesListedInFull) {
  const std::string out =
      capture_stdout([] { print_feature_name_changes({}, numbered_names("f", 12)); });
  std::string expected = "Feature name changes:\n  Added:\n";
  for (const std::string& name : numbered_names("f", 12))
    expected += "    " + name + "\n";
  EXPECT_EQ(out, expected);
}

TEST(FeatureNameChanges, ThirteenNamesListTwelveAndOneMore) {
  const std::string out = capture_stdout(
      [] { print_feature_name_changes(numbered_names("old", 30), numbered_names("f", 13)); });
  std::string expected = "Feature name changes:\n  Added:\n";
  const auto added = numbered_names("f", 13);
  for (int i = 0; i < 12; ++i)
    expected += "    " + added[i] + "\n";
  expected += "    ... 1 more\n  Removed:\n";
  const auto removed = numbered_names("old", 30);
  for (int i = 0; i < 12; ++i)
    expected += "    " + removed[i] + "\n";
  expected += "    ... 18 more\n";
  EXPECT_EQ(out, expected);
}

// ---- JSON printing -----------------------------------------------------------------------

TEST(PrintJson, EmptyContainers) {
  CommandResult result;
  EXPECT_EQ(capture_stdout([&] { result = print_json(JsonValue::object()); }), "{}\n");
  EXPECT_TRUE(result.has_value());
  EXPECT_EQ(capture_stdout([&] { result = print_json(std::vector<JsonValue>{}); }), "[]\n");
  EXPECT_TRUE(result.has_value());
}

TEST(PrintJson, NestedKeysInByteOrder) {
  JsonValue value = JsonValue::object();
  value["zeta"] = 1;
  value["Alpha"] = JsonValue::array({1.5, nullptr, "x"});
  value["mid"] = {{"b", true}, {"a", JsonValue::object()}, {"B", JsonValue::array()}};
  CommandResult result;
  EXPECT_EQ(capture_stdout([&] { result = print_json(value); }),
            "{\n"
            "  \"Alpha\": [\n"
            "    1.5,\n"
            "    null,\n"
            "    \"x\"\n"
            "  ],\n"
            "  \"mid\": {\n"
            "    \"B\": [],\n"
            "    \"a\": {},\n"
            "    \"b\": true\n"
            "  },\n"
            "  \"zeta\": 1\n"
            "}\n");
  EXPECT_TRUE(result.has_value());
}

TEST(PrintJson, ListIsOneArray) {
  const std::vector<JsonValue> values = {JsonValue{{"path", "a.cbm"}},
                                         JsonValue{{"path", "b.cbm"}}};
  EXPECT_EQ(capture_stdout([&] { (void)print_json(values); }),
            "[\n"
            "  {\n"
            "    \"path\": \"a.cbm\"\n"
            "  },\n"
            "  {\n"
            "    \"path\": \"b.cbm\"\n"
            "  }\n"
            "]\n");
}

TEST(PrintJson, OrderedKeepsFieldOrder) {
  OrderedJson record = OrderedJson::object();
  record["path"] = "model.txt";
  record["file_size"] = 12;
  record["average_leaves"] = 2.0;
  EXPECT_EQ(capture_stdout([&] { (void)print_json(record); }),
            "{\n"
            "  \"path\": \"model.txt\",\n"
            "  \"file_size\": 12,\n"
            "  \"average_leaves\": 2.0\n"
            "}\n");
}

TEST(PrintJson, FailurePrintsNothing) {
  JsonValue value = JsonValue::object();
  value["name"] = std::string("a\xff");
  CommandResult result;
  EXPECT_EQ(capture_stdout([&] { result = print_json(value); }), "");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "serialize JSON: " + write_json(value).error());

  const std::vector<JsonValue> list = {JsonValue(1), value};
  EXPECT_EQ(capture_stdout([&] { result = print_json(list); }), "");
  EXPECT_FALSE(result.has_value());

  OrderedJson ordered = OrderedJson::object();
  ordered["name"] = std::string("\xc3");
  EXPECT_EQ(capture_stdout([&] { result = print_json(ordered); }), "");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "serialize JSON: " + write_json(ordered).error());

  // Streamed: a bad string after more than a chunk of names, and a bad name among them.
  NameList names;
  for (int i = 0; i < 20000; ++i)
    names.push_back("name_" + std::to_string(i));
  for (const bool bad_name : {false, true}) {
    NameList list = names;
    if (bad_name) list.push_back("\xc3");
    EXPECT_EQ(capture_stdout([&] {
                result = print_json_stream([&](JsonStream& out) {
                  out.begin_array();
                  out.names(list);
                  out.string(bad_name ? "ok" : "a\xff");
                  out.end();
                });
              }),
              "");
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(),
              "serialize JSON: " + write_json(JsonValue(bad_name ? "\xc3" : "a\xff")).error());
  }
}

// ---- change objects ----------------------------------------------------------------------

// The change object as compact JSON text: key order and number kinds both show.
std::string compact(const JsonValue& value) {
  auto text = write_json(value, JsonStyle::Compact);
  return text ? *text : "error: " + text.error();
}

TEST(ChangeJson, Basic) {
  EXPECT_EQ(compact(change_json(5, 7)), R"({"changed":true,"delta":2,"new":7,"old":5})");
  EXPECT_EQ(compact(change_json(7, 5)), R"({"changed":true,"delta":-2,"new":5,"old":7})");
  EXPECT_EQ(compact(change_json(4, 4)), R"({"changed":false,"delta":0,"new":4,"old":4})");
}

TEST(ChangeJson, DeltaIsExactAtTheEdges) {
  // A positive difference beyond the signed range stays exact as an unsigned number.
  EXPECT_EQ(compact(change_json(0, kU64Max)),
            R"({"changed":true,"delta":18446744073709551615,"new":18446744073709551615,"old":0})");
  const auto i64_max = static_cast<std::uint64_t>(kI64Max);
  EXPECT_EQ(change_json(0, i64_max)["delta"], JsonValue(kI64Max));
  EXPECT_EQ(change_json(i64_max, 0)["delta"], JsonValue(-kI64Max));
  EXPECT_EQ(compact(change_json(i64_max + 1, 0)["delta"]), "-9223372036854775808");
  // Below -2^63 the delta no longer fits a signed integer: written as the nearest double.
  EXPECT_EQ(compact(change_json(kU64Max, 0)["delta"]), "-1.8446744073709552e19");
  EXPECT_TRUE(change_json(kU64Max, 0)["delta"].is_number_float());
}

TEST(CountChangeJson, OptionalForms) {
  EXPECT_EQ(compact(count_change_json(std::nullopt, std::nullopt)),
            R"({"changed":false,"delta":null,"new":null,"old":null})");
  EXPECT_EQ(compact(count_change_json(std::nullopt, 3)),
            R"({"changed":true,"delta":null,"new":3,"old":null})");
  EXPECT_EQ(compact(count_change_json(3, std::nullopt)),
            R"({"changed":true,"delta":null,"new":null,"old":3})");
  EXPECT_EQ(compact(count_change_json(3, 3)), R"({"changed":false,"delta":0,"new":3,"old":3})");
  EXPECT_EQ(compact(count_change_json(10, 3)), R"({"changed":true,"delta":-7,"new":3,"old":10})");
  EXPECT_EQ(compact(count_change_json(0, kU64Max)["delta"]), "18446744073709551615");
}

TEST(FloatChangeJson, OptionalAndNonFinite) {
  EXPECT_EQ(compact(float_change_json(0.1, 0.05)),
            R"({"changed":true,"delta":-0.05,"new":0.05,"old":0.1})");
  EXPECT_EQ(compact(float_change_json(0.5, 0.5)),
            R"({"changed":false,"delta":0.0,"new":0.5,"old":0.5})");
  EXPECT_EQ(compact(float_change_json(std::nullopt, 0.5)),
            R"({"changed":true,"delta":null,"new":0.5,"old":null})");
  EXPECT_EQ(compact(float_change_json(std::nullopt, std::nullopt)),
            R"({"changed":false,"delta":null,"new":null,"old":null})");
  // Non-finite numbers are null wherever they appear; NaN still differs from itself.
  EXPECT_EQ(compact(float_change_json(kNaN, kNaN)),
            R"({"changed":true,"delta":null,"new":null,"old":null})");
  EXPECT_EQ(compact(float_change_json(1.0, kInf)),
            R"({"changed":true,"delta":null,"new":null,"old":1.0})");
  EXPECT_EQ(compact(float_change_json(kInf, kInf)),
            R"({"changed":false,"delta":null,"new":null,"old":null})");
  // A finite pair whose difference overflows has a null delta.
  EXPECT_EQ(compact(float_change_json(-1.7e308, 1.7e308)),
            R"({"changed":true,"delta":null,"new":1.7e308,"old":-1.7e308})");
}

TEST(TextChangeJson, NoDelta) {
  const std::optional<std::string> none;
  EXPECT_EQ(compact(text_change_json("RMSE", "RMSE")),
            R"({"changed":false,"new":"RMSE","old":"RMSE"})");
  EXPECT_EQ(compact(text_change_json("RMSE", "MAE")),
            R"({"changed":true,"new":"MAE","old":"RMSE"})");
  EXPECT_EQ(compact(text_change_json(none, "MAE")), R"({"changed":true,"new":"MAE","old":null})");
  EXPECT_EQ(compact(text_change_json("", none)), R"({"changed":true,"new":null,"old":""})");
  EXPECT_EQ(compact(text_change_json(none, none)), R"({"changed":false,"new":null,"old":null})");
}

TEST(FingerprintChangeJson, HexStrings) {
  EXPECT_EQ(compact(fingerprint_change_json(1, 1)),
            R"({"changed":false,"new":"0x0000000000000001","old":"0x0000000000000001"})");
  EXPECT_EQ(compact(fingerprint_change_json(std::nullopt, kU64Max)),
            R"({"changed":true,"new":"0xffffffffffffffff","old":null})");
  EXPECT_EQ(compact(fingerprint_change_json(0, std::nullopt)),
            R"({"changed":true,"new":null,"old":"0x0000000000000000"})");
  EXPECT_EQ(compact(fingerprint_change_json(std::nullopt, std::nullopt)),
            R"({"changed":false,"new":null,"old":null})");
}

}  // namespace
}  // namespace orvik

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "util/json.hpp"

namespace orvik {
namespace {

std::string compact(const JsonValue& value) {
  const auto written = write_json(value, JsonStyle::Compact);
  return written ? *written : "error: " + written.error();
}

std::string pretty(const JsonValue& value) {
  const auto written = write_json(value);
  return written ? *written : "error: " + written.error();
}

std::string pretty(const OrderedJson& value) {
  const auto written = write_json(value);
  return written ? *written : "error: " + written.error();
}

TEST(JsonNumbers, FloatForms) {
  const struct {
    double value;
    std::string_view text;
  } cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {-1.0, "-1.0"},
      {0.03, "0.03"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e-5, "0.00001"},
      {-1e-5, "-0.00001"},
      {1.5e-5, "0.000015"},
      {9.9e-6, "9.9e-6"},
      {1e-6, "1e-6"},
      {1e-7, "1e-7"},
      {-2.5e-8, "-2.5e-8"},
      {123456789012345.0, "123456789012345.0"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e16"},
      {1.5e17, "1.5e17"},
      {-1.5e17, "-1.5e17"},
      {1e300, "1e300"},
      {1.7976931348623157e308, "1.7976931348623157e308"},
      {5e-324, "5e-324"},
      {2.2250738585072014e-308, "2.2250738585072014e-308"},
      {12345.678, "12345.678"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(compact(JsonValue(c.value)), c.text) << c.value;
}

TEST(JsonNumbers, NonFiniteIsNull) {
  EXPECT_EQ(compact(JsonValue(std::numeric_limits<double>::quiet_NaN())), "null");
  EXPECT_EQ(compact(JsonValue(std::numeric_limits<double>::infinity())), "null");
  EXPECT_EQ(compact(JsonValue(-std::numeric_limits<double>::infinity())), "null");
  EXPECT_TRUE(json_number_or_null(std::numeric_limits<double>::quiet_NaN()).is_null());
  EXPECT_TRUE(json_number_or_null(-std::numeric_limits<double>::infinity()).is_null());
  EXPECT_TRUE(json_number_or_null(0.5).is_number_float());
  EXPECT_EQ(compact(json_number_or_null(0.5)), "0.5");
}

TEST(JsonNumbers, IntegersInPlainDecimal) {
  EXPECT_EQ(compact(JsonValue(0)), "0");
  EXPECT_EQ(compact(JsonValue(-5)), "-5");
  EXPECT_EQ(compact(JsonValue(std::uint64_t{18446744073709551615ULL})), "18446744073709551615");
  EXPECT_EQ(compact(JsonValue(std::uint64_t{18446744073709551614ULL})), "18446744073709551614");
  EXPECT_EQ(compact(JsonValue(std::uint64_t{9223372036854775808ULL})), "9223372036854775808");
  EXPECT_EQ(compact(JsonValue(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(compact(JsonValue(std::numeric_limits<std::int64_t>::max())), "9223372036854775807");
  EXPECT_EQ(compact(JsonValue(10000000000000000LL)), "10000000000000000");
}

TEST(JsonStrings, EscapesOnlyQuoteBackslashAndControls) {
  EXPECT_EQ(compact(JsonValue("")), "\"\"");
  EXPECT_EQ(compact(JsonValue("a\"b\\c/d")), R"("a\"b\\c/d")");
  EXPECT_EQ(compact(JsonValue("\b\f\n\r\t")), R"("\b\f\n\r\t")");
  EXPECT_EQ(compact(JsonValue(std::string("\x00\x01\x0b\x1b\x1f", 5))),
            R"("\u0000\u0001\u000b\u001b\u001f")");
  // DEL and everything non-ASCII go out raw, including U+2028 and U+FFFD.
  EXPECT_EQ(compact(JsonValue("\x7f caf\xC3\xA9 \xE2\x80\xA8 \xEF\xBF\xBD \xF0\x9F\x98\x80")),
            "\"\x7f caf\xC3\xA9 \xE2\x80\xA8 \xEF\xBF\xBD \xF0\x9F\x98\x80\"");
  EXPECT_EQ(compact(JsonValue{{"k\ney", "v"}}), R"({"k\ney":"v"})");
}

TEST(JsonStrings, InvalidUtf8FailsTheWrite) {
  EXPECT_EQ(compact(JsonValue("a\xC3(")), "error: invalid UTF-8 byte at index 2: 0x28");
  EXPECT_EQ(compact(JsonValue("ab\xFF")), "error: invalid UTF-8 byte at index 2: 0xFF");
  EXPECT_EQ(compact(JsonValue("\x80")), "error: invalid UTF-8 byte at index 0: 0x80");
  EXPECT_EQ(compact(JsonValue("\xE0\x80\x80")), "error: invalid UTF-8 byte at index 1: 0x80");
  EXPECT_EQ(compact(JsonValue("\xED\xA0\x80")), "error: invalid UTF-8 byte at index 1: 0xA0");
  EXPECT_EQ(compact(JsonValue("ok\xE2\x82")), "error: incomplete UTF-8 string; last byte: 0x82");
  // Keys are checked as well, and so are strings deep inside containers.
  EXPECT_EQ(compact(JsonValue{{"\xFE", 1}}), "error: invalid UTF-8 byte at index 0: 0xFE");
  EXPECT_EQ(pretty(JsonValue{{"a", {1, {{"b", "\xC0"}}}}}),
            "error: invalid UTF-8 byte at index 0: 0xC0");
  OrderedJson ordered;
  ordered["x"] = "\xF5";
  EXPECT_EQ(pretty(ordered), "error: invalid UTF-8 byte at index 0: 0xF5");
}

TEST(JsonWriting, ScalarsAndEmptyContainers) {
  EXPECT_EQ(pretty(JsonValue(nullptr)), "null");
  EXPECT_EQ(pretty(JsonValue(true)), "true");
  EXPECT_EQ(pretty(JsonValue(false)), "false");
  EXPECT_EQ(pretty(JsonValue::object()), "{}");
  EXPECT_EQ(pretty(JsonValue::array()), "[]");
  EXPECT_EQ(compact(JsonValue::object()), "{}");
  EXPECT_EQ(compact(JsonValue::binary({1, 2})), "null");
}

TEST(JsonWriting, PrettyNestedContainers) {
  JsonValue value;
  value["name"] = "m";
  value["empty_list"] = JsonValue::array();
  value["empty_map"] = JsonValue::object();
  value["list"] = {1, 2.5, {3, {}}, JsonValue::object(), {{"z", nullptr}}};
  value["map"] = {{"inner", {{"deep", true}}}};
  EXPECT_EQ(pretty(value),
            "{\n"
            "  \"empty_list\": [],\n"
            "  \"empty_map\": {},\n"
            "  \"list\": [\n"
            "    1,\n"
            "    2.5,\n"
            "    [\n"
            "      3,\n"
            "      null\n"
            "    ],\n"
            "    {},\n"
            "    {\n"
            "      \"z\": null\n"
            "    }\n"
            "  ],\n"
            "  \"map\": {\n"
            "    \"inner\": {\n"
            "      \"deep\": true\n"
            "    }\n"
            "  },\n"
            "  \"name\": \"m\"\n"
            "}");
  EXPECT_EQ(compact(value),
            R"({"empty_list":[],"empty_map":{},"list":[1,2.5,[3,null],{},{"z":null}],)"
            R"("map":{"inner":{"deep":true}},"name":"m"})");
}

TEST(JsonWriting, ValueTreesSortKeysOrderedObjectsKeepInsertionOrder) {
  JsonValue sorted;
  sorted["b"] = 1;
  sorted["a"] = 2;
  sorted["B"] = 3;
  sorted["\xC3\xA9"] = 4;
  sorted["aa"] = 5;
  EXPECT_EQ(compact(sorted), "{\"B\":3,\"a\":2,\"aa\":5,\"b\":1,\"\xC3\xA9\":4}");

  OrderedJson ordered;
  ordered["b"] = 1;
  ordered["a"] = 2;
  ordered["c"] = OrderedJson::array({OrderedJson{{"y", 1}, {"x", 2}}});
  EXPECT_EQ(pretty(ordered),
            "{\n"
            "  \"b\": 1,\n"
            "  \"a\": 2,\n"
            "  \"c\": [\n"
            "    {\n"
            "      \"y\": 1,\n"
            "      \"x\": 2\n"
            "    }\n"
            "  ]\n"
            "}");
  const auto ordered_compact = write_json(ordered, JsonStyle::Compact);
  ASSERT_TRUE(ordered_compact);
  EXPECT_EQ(*ordered_compact, R"({"b":1,"a":2,"c":[{"y":1,"x":2}]})");
}

TEST(JsonWriting, DeepNestingDoesNotUseTheCallStack) {
  constexpr int kDepth = 1'000'000;
  JsonValue root = JsonValue::array();
  JsonValue* innermost = &root;
  for (int i = 1; i < kDepth; ++i) {
    innermost->push_back(JsonValue::array());
    innermost = &innermost->back();
  }
  const auto written = write_json(root, JsonStyle::Compact);
  ASSERT_TRUE(written);
  EXPECT_TRUE(*written == std::string(kDepth, '[') + std::string(kDepth, ']'));

  // Pretty output of a deep value grows with the square of the depth, so a smaller one.
  JsonValue objects = JsonValue::object();
  JsonValue* current = &objects;
  for (int i = 0; i < 2000; ++i)
    current = &(*current)["k"];
  *current = 1;
  const auto pretty_written = write_json(objects);
  ASSERT_TRUE(pretty_written);
  EXPECT_TRUE(pretty_written->starts_with("{\n  \"k\": {\n    \"k\": {\n"));
  std::string tail = std::string(2 * 2000, ' ') + "\"k\": 1";
  for (int depth = 1999; depth >= 0; --depth) {
    tail += '\n';
    tail.append(static_cast<std::size_t>(2 * depth), ' ');
    tail += '}';
  }
  EXPECT_TRUE(pretty_written->ends_with(tail));
}

// A writer that copied its output per element would take minutes here; the benchmark measures
// the speed, this only checks the whole document comes out.
TEST(JsonWriting, LargeDocumentsAreWrittenWhole) {
  JsonValue list = JsonValue::array();
  for (int i = 0; i < 300'000; ++i)
    list.push_back({{"i", i}, {"f", i * 0.5}, {"s", "text"}});
  const auto written = write_json(list);
  ASSERT_TRUE(written);
  EXPECT_TRUE(written->starts_with("[\n  {\n    \"f\": 0.0,"));
  EXPECT_TRUE(written->ends_with("    \"s\": \"text\"\n  }\n]"));
}

TEST(JsonStream, WritesWhatTheWriterWrites) {
  // Containers opened by hand, subtrees given whole, at every depth.
  const JsonValue tree = JsonValue::parse(
      R"({"a":[1,{"b":[]},{}],"c":{"d":"x\u0001","e":[[2.5,1e16]]},"f":null,"g":[]})");
  std::vector<std::string> chunks;
  JsonStream out([&](std::string_view chunk) { chunks.emplace_back(chunk); });
  out.begin_object();
  out.key("a");
  out.begin_array();
  out.value(tree["a"][0]);
  out.value(tree["a"][1]);
  out.begin_object();
  out.end();
  out.end();
  out.key("c");
  out.value(tree["c"]);
  out.key("f");
  out.value(tree["f"]);
  out.key("g");
  out.begin_array();
  out.end();
  out.end();
  EXPECT_TRUE(chunks.empty());  // small documents go out whole at the end
  ASSERT_TRUE(out.finish());
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0], pretty(tree));

  // Name lists: escapes, the empty name, the empty list, and lists longer than a chunk.
  NameList names{"a", "", "q\"\\\t", "\xc3\xa9"};
  for (int i = 0; i < 20000; ++i)
    names.push_back("name_" + std::to_string(i));
  for (const NameList& list : {names, NameList{}}) {
    const auto streamed = stream_json_text([&](JsonStream& o) { write_name_array(o, list); });
    ASSERT_TRUE(streamed);
    EXPECT_EQ(*streamed, pretty(name_array_json<JsonValue>(list)));
  }
  // A name that is not UTF-8 fails with the writer's message for that string.
  const auto bad = stream_json_text([&](JsonStream& o) {
    write_name_array(o, NameList{"ok", "a\xff"});
  });
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error(), write_json(JsonValue("a\xff")).error());
}

TEST(JsonParsing, NumberKindsAndDuplicates) {
  const auto parsed =
      parse_json(R"({"u": 18446744073709551615, "big": 18446744073709551616, "neg": -5, "z": -0,)"
                 R"( "f": 1.0, "e": 1e2, "dup": 1, "dup": 2})");
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_TRUE((*parsed)["u"].is_number_unsigned());
  EXPECT_EQ((*parsed)["u"].get<std::uint64_t>(), 18446744073709551615ULL);
  EXPECT_TRUE((*parsed)["big"].is_number_float());
  EXPECT_TRUE((*parsed)["neg"].is_number_integer());
  EXPECT_TRUE((*parsed)["z"].is_number_integer());
  EXPECT_EQ((*parsed)["z"].get<std::int64_t>(), 0);
  EXPECT_TRUE((*parsed)["f"].is_number_float());
  EXPECT_TRUE((*parsed)["e"].is_number_float());
  EXPECT_EQ((*parsed)["dup"], 2);
  EXPECT_EQ(compact(*parsed), R"({"big":1.8446744073709552e19,"dup":2,"e":100.0,"f":1.0,"neg":-5,)"
                              R"("u":18446744073709551615,"z":0})");
}

TEST(JsonParsing, ErrorsCarryTheLibraryMessage) {
  EXPECT_EQ(parse_json("").error(),
            "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error "
            "while parsing value - unexpected end of input; expected '[', '{', or a literal");
  EXPECT_EQ(parse_json("[1,").error(),
            "[json.exception.parse_error.101] parse error at line 1, column 4: syntax error "
            "while parsing value - unexpected end of input; expected '[', '{', or a literal");
  EXPECT_EQ(parse_json("{} x").error(),
            "[json.exception.parse_error.101] parse error at line 1, column 4: syntax error "
            "while parsing value - invalid literal; last read: '{} x'; expected end of input");
  EXPECT_EQ(parse_json("1e400").error(),
            "[json.exception.out_of_range.406] number overflow parsing '1e400'");
  EXPECT_EQ(parse_json("-1e400").error(),
            "[json.exception.out_of_range.406] number overflow parsing '-1e400'");
  EXPECT_FALSE(parse_json("\"\xC3(\""));
  EXPECT_FALSE(parse_json("NaN"));
  EXPECT_FALSE(parse_json("[1,]"));
}

TEST(JsonParsing, DeepNestingRoundTrips) {
  constexpr std::size_t kDepth = 200'000;
  const std::string text = std::string(kDepth, '[') + std::string(kDepth, ']');
  const auto parsed = parse_json(text);
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_TRUE(compact(*parsed) == text);
}

}  // namespace
}  // namespace orvik

// The streaming compact rewrite of embedded JSON must equal writing the parsed value tree
// compactly, and its two flags must match JSON pointer lookups on that tree.
#include <random>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "cbm/compact_json.hpp"
#include "util/json.hpp"

namespace orvik {
namespace {

void expect_like_value_tree(std::string_view text) {
  const std::optional<CompactJson> compact = compact_json(text);
  const JsonValue tree = JsonValue::parse(text.begin(), text.end(), nullptr, false);
  ASSERT_EQ(compact.has_value(), !tree.is_discarded()) << text;
  if (!compact) return;
  ASSERT_EQ(compact->text, *write_json(tree, JsonStyle::Compact)) << text;
  ASSERT_EQ(compact->flags.has_boosting_options,
            tree.is_object() && tree.contains("boosting_options"))
      << text;
  const bool resolves = tree.is_object() && tree.contains("metrics") &&
                        tree["metrics"].is_object() && tree["metrics"].contains("learn_best_error");
  ASSERT_EQ(compact->flags.has_learn_best_error, resolves) << text;
}

TEST(CbmCompactJson, Examples) {
  for (const char* text :
       {"{}", "[]", "1", "\"s\"", "{\"b\":1,\"a\":2}", "{\"a\":1,\"a\":2}",
        "{\"a\":{\"a\":1},\"a\":3}",
        "{\"b\":{\"d\":1,\"c\":[{\"z\":0,\"y\":1}]},\"a\":[1,2,{\"q\":{},\"p\":[]}]}",
        "{\"a\":1e-7,\"b\":1.5e17,\"c\":-0,\"d\":100.0,\"e\":1E16,\"f\":0.00001,\"g\":-0.0}",
        "{\"\\u00e9\":\"\\t\\\"\\\\\\/\\u0001\",\"e\":\"\\ud83d\\ude00\",\"E\":null,\"\":true}",
        "{\"metrics\":{\"learn_best_error\":null}}",
        "{\"metrics\":{\"learn_best_error\":1},\"metrics\":2}",
        "{\"metrics\":2,\"metrics\":{\"x\":{\"learn_best_error\":1},\"learn_best_error\":[]}}",
        "{\"metrics\":[{\"learn_best_error\":1}]}",
        "{\"x\":{\"metrics\":{\"learn_best_error\":1}}}", "{\"x\":{\"boosting_options\":1}}",
        "{\"boosting_options\":null,\"boosting_options\":{}}", "[{\"boosting_options\":1}]",
        "{\"a\":1,}", "{\"a\" 1}", "", "{\"a\":1e999}",
        // Integers at the edges of the 64-bit types, and doubles at the edges of their range.
        "[18446744073709551615,18446744073709551616,-9223372036854775808,-9223372036854775809]",
        "[1e-400,-1e-400,4.9e-324,2.2250738585072011e-308,1.7976931348623157e308,-0e5,1E+2]",
        "[0.1e1,123456789012345678901234567890,-0.000001,1e16,9007199254740993]",
        // Escapes of every kind, in keys too; a lone or reversed surrogate is no JSON.
        "{\"\\u0000\\b\\f\\n\\r\\t\\u001f\\u007f\\u00ff\\u20ac\\ud800\\udc00\":\"\\/\"}",
        "[\"\\ud83d\"]", "[\"\\ude00\\ud83d\"]", " \t\r\n{ \"b\" : [ 1 , 2 ] , \"a\" : { } } \n"}) {
    expect_like_value_tree(text);
  }
}

std::string random_key(std::mt19937_64& rng) {
  static const char* const keys[] = {
      "a",       "b", "ab",       "B",   "", "metrics", "learn_best_error", "boosting_options",
      "\\u00e9", "z", "a\\u0000", "\\\""};
  return std::string("\"") + keys[rng() % std::size(keys)] + "\"";
}

std::string random_value(std::mt19937_64& rng, int depth) {
  const int pick = static_cast<int>(rng() % (depth > 5 ? 6 : 9));
  switch (pick) {
    case 0:
      return "null";
    case 1:
      return rng() % 2 ? "true" : "false";
    case 2:
      return std::to_string(static_cast<std::int64_t>(rng() % 2001) - 1000);
    case 3: {
      static const char* const numbers[] = {"0.5",  "-2.25e-3", "1e300", "123456789012345678901",
                                            "1E-9", "3.0",      "-0",    "18446744073709551615"};
      return numbers[rng() % std::size(numbers)];
    }
    case 4:
      return random_key(rng);
    case 5:
      return "\"x\\ny\"";
    case 6:
    case 7: {
      std::string text = "{";
      const int members = static_cast<int>(rng() % 5);
      for (int m = 0; m < members; ++m) {
        if (m > 0) text += rng() % 8 ? "," : " , ";
        text += random_key(rng) + ":" + random_value(rng, depth + 1);
      }
      return text + "}";
    }
    default: {
      std::string text = "[";
      const int items = static_cast<int>(rng() % 4);
      for (int m = 0; m < items; ++m) {
        if (m > 0) text += ",";
        text += random_value(rng, depth + 1);
      }
      return text + "]";
    }
  }
}

TEST(CbmCompactJson, RandomDocuments) {
  std::mt19937_64 rng(42);
  for (int round = 0; round < 20000; ++round) {
    std::string text = "{";
    const int members = static_cast<int>(rng() % 6);
    for (int m = 0; m < members; ++m) {
      if (m > 0) text += ",";
      text += random_key(rng) + ":" + random_value(rng, 1);
    }
    text += "}";
    expect_like_value_tree(text);
    // And with a byte changed, mostly giving text that is not JSON.
    std::string mutated = text;
    mutated[rng() % mutated.size()] = "{}[]\",:1a"[rng() % 9];
    expect_like_value_tree(mutated);
  }
}

TEST(CbmCompactJson, DeepUnsortedNestingIsLinear) {
  // Every level out of order: rewriting each object's text at its end would be quadratic.
  std::string text;
  const int levels = 200000;
  for (int i = 0; i < levels; ++i)
    text += "{\"b\":0,\"a\":";
  text += "1";
  for (int i = 0; i < levels; ++i)
    text += "}";
  const std::optional<CompactJson> compact = compact_json(text);
  ASSERT_TRUE(compact.has_value());
  std::string expected;
  for (int i = 0; i < levels; ++i)
    expected += "{\"a\":";
  expected += "1";
  for (int i = 0; i < levels; ++i)
    expected += ",\"b\":0}";
  EXPECT_EQ(compact->text, expected);

  std::string arrays(1u << 20, '[');
  arrays += std::string(1u << 20, ']');
  const std::optional<CompactJson> nested = compact_json("{\"k\":" + arrays + "}");
  ASSERT_TRUE(nested.has_value());
  EXPECT_EQ(nested->text, "{\"k\":" + arrays + "}");
}

}  // namespace
}  // namespace orvik

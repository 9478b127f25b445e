// The quick JSON check in front of the JSON library must agree with the library's strict parser
// on every input, or embedded objects would be lost (or kept) wrongly.
#include <random>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "cbm/json_syntax.hpp"
#include "mutate_bytes.hpp"
#include "util/json.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

bool library_accepts(std::string_view text) {
  try {
    return !JsonValue::parse(text.begin(), text.end(), nullptr, false).is_discarded();
  } catch (...) {
    return false;
  }
}

void expect_agreement(std::string_view text) {
  ASSERT_EQ(is_json_text(text), library_accepts(text)) << testing::PrintToString(std::string(text));
}

TEST(CbmJsonSyntax, Grammar) {
  for (const char* text : {"{}",
                           " {} ",
                           "{\"a\":1}",
                           "{\"a\" : [1, 2.5, -0, 1e5, 1E+5, 1e-5, true, false, null]}",
                           "{\"a\":{\"b\":{\"c\":[]}}}",
                           "[]",
                           "[[[]]]",
                           "\"s\"",
                           "0",
                           "-0.0e-0",
                           "true",
                           "null",
                           "{\"a\":1,}",
                           "{,}",
                           "{\"a\"}",
                           "{\"a\":}",
                           "{a:1}",
                           "{'a':1}",
                           "[1,]",
                           "[,1]",
                           "[1 2]",
                           "{\"a\":1 \"b\":2}",
                           "{\"a\":1}}",
                           "{\"a\":1}x",
                           "{\"a\":01}",
                           "{\"a\":1.}",
                           "{\"a\":.5}",
                           "{\"a\":+1}",
                           "{\"a\":1e}",
                           "{\"a\":1e+}",
                           "{\"a\":-}",
                           "{\"a\":--1}",
                           "{\"a\":0x1}",
                           "{\"a\":tru}",
                           "{\"a\":True}",
                           "{\"a\":nul}",
                           "{\"a\":NaN}",
                           "{\"a\":Infinity}",
                           "",
                           " ",
                           "{",
                           "}",
                           "{\"a\":\"\\x\"}",
                           "{\"a\":\"\\u12\"}",
                           "{\"a\":\"\\u12G4\"}",
                           "{\"a\":\"\\uD834\\uDD1E\"}",
                           "{\"a\":\"\\ud834\"}",
                           "{\"a\":\"\\udd1e\"}",
                           "{\"a\":\"\\ud834\\u0041\"}",
                           "{\"a\":\"\\ud834x\"}",
                           "{\"a\":\"\\u0000\"}",
                           "{\"a\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"}",
                           "{\"a\":\"\t\"}",
                           "{\"a\":\"\x7f\"}",
                           "{\"\xc3\xa9\":\"\xe2\x82\xac\"}",
                           "{\"a\":1}\n\r\t ",
                           "{\"a\"\n:\n1\n}",
                           "{\"a\":[1,{}]}",
                           "{\"a\":\"unterminated}",
                           "{\"a\":1/*c*/}",
                           "{\"a\":1e999}",
                           "{\"a\":-1e999}",
                           "{\"a\":1e-999}",
                           "{\"a\":0e999999999999999999}",
                           "{\"a\":1e308}",
                           "{\"a\":1e309}",
                           "{\"a\":1.7976931348623157e308}",
                           "{\"a\":1.7976931348623158e308}",
                           "{\"a\":1.7976931348623159e308}",
                           "{\"a\":17976931348623157e292}",
                           "{\"a\":0.000000000000000000001e330}",
                           "{\"a\":18446744073709551616}",
                           "{\"a\":-9223372036854775809}"}) {
    expect_agreement(text);
  }
  expect_agreement(std::string("{\"a\":\"\0\"}", 8));
  expect_agreement(std::string("{\"a\":1}\0", 8));
}

TEST(CbmJsonSyntax, NumbersAroundTheLargestDouble) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 4000; ++round) {
    std::string digits = std::to_string(std::uniform_int_distribution<int>(1, 9)(rng));
    const int more = std::uniform_int_distribution<int>(0, 20)(rng);
    for (int d = 0; d < more; ++d)
      digits += static_cast<char>('0' + rng() % 10);
    const int exponent = std::uniform_int_distribution<int>(280, 320)(rng);
    const std::string text = "{\"a\":" + std::string(rng() % 2 ? "-" : "") + digits.substr(0, 1) +
                             "." + digits.substr(1) + "0e" + std::to_string(exponent) + "}";
    expect_agreement(text);
    expect_agreement("[" + digits + std::string(static_cast<std::size_t>(exponent - 2), '0') + "]");
    expect_agreement("[0." + std::string(static_cast<std::size_t>(rng() % 5), '0') + digits + "e" +
                     std::to_string(exponent + 5) + "]");
  }
}

TEST(CbmJsonSyntax, RandomTokenSoup) {
  const char* const tokens[] = {
      "{",    "}",  "[",   "]",      ",",     ":",    "\"a\"",
      "\"",   "\\", "\\u", "D800",   "DC00",  "0041", "1",
      "-",    "0",  ".",   "e",      "+",     "true", "null",
      "fals", " ",  "\n",  "\"k\":", "1e400", "é",    "\\\"",
      "\\n",  "\t", "x",   "2.5",    "[]",    "{}",   "\"\\ud834\\udd1e\""};
  std::mt19937_64 rng(3);
  for (int round = 0; round < 60000; ++round) {
    std::string text = rng() % 4 ? "{" : "";
    const int count = std::uniform_int_distribution<int>(0, 14)(rng);
    for (int t = 0; t < count; ++t)
      text += tokens[rng() % std::size(tokens)];
    if (rng() % 3) text += "}";
    if (!is_valid_utf8(text)) continue;
    expect_agreement(text);
  }
}

TEST(CbmJsonSyntax, MutatedValidDocuments) {
  const std::string document =
      "{\"boosting_options\":{\"iterations\":150,\"learning_rate\":0.03,\"od\":{\"type\":\"None\"}}"
      ","
      "\"s\":\"a\\\"b\\\\c\\u00e9\\ud83d\\ude00\",\"arr\":[1,-2.5e-3,true,false,null,[],{}],"
      "\"big\":1.5e300,\"neg\":-0}";
  ASSERT_TRUE(is_json_text(document));
  std::mt19937_64 rng(8);
  const std::string_view alphabet = "{}[]\",:\\0123456789.eE+-tfnu aDd";
  for (int round = 0; round < 40000; ++round) {
    std::string text = document;
    testing_support::mutate_bytes(text, rng, alphabet, 3);
    expect_agreement(text);
  }
}

TEST(CbmJsonSyntax, DeepNestingNeedsNoCallStack) {
  std::string deep(1u << 20, '[');
  deep += std::string(1u << 20, ']');
  EXPECT_TRUE(is_json_text(deep));
  deep.pop_back();
  EXPECT_FALSE(is_json_text(deep));
  std::string objects;
  for (int i = 0; i < 200000; ++i)
    objects += "{\"a\":";
  objects += "1" + std::string(200000, '}');
  EXPECT_TRUE(is_json_text(objects));
}

}  // namespace
}  // namespace orvik

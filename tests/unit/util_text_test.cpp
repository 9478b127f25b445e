#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "util/format.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

std::string check_message(std::string_view bytes) {
  const auto checked = check_utf8(bytes);
  return checked ? std::string("ok") : checked.error();
}

TEST(Utf8Check, AcceptsWellFormedText) {
  EXPECT_EQ(check_message(""), "ok");
  EXPECT_EQ(check_message("plain ascii text that is longer than eight bytes"), "ok");
  EXPECT_EQ(check_message("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF"), "ok");
  // Boundaries: U+0080, U+07FF, U+0800, U+D7FF, U+E000, U+10000, U+10FFFF.
  EXPECT_EQ(check_message("\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80"), "ok");
  EXPECT_EQ(check_message("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), "ok");
  EXPECT_TRUE(is_valid_utf8("\xE2\x82\xAC"));
  EXPECT_FALSE(is_valid_utf8("\xE2\x82"));
}

TEST(Utf8Check, NamesTheFirstMaximalInvalidSubpart) {
  const struct {
    std::string_view bytes;
    std::string_view message;
  } cases[] = {
      {"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"abc\xBF", "invalid utf-8 sequence of 1 bytes from index 3"},
      {"\xC0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xC1\xBF", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xE0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xF0\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xF5\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xFF", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"xy\xC3(", "invalid utf-8 sequence of 1 bytes from index 2"},
      {"\xE2\x82(", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"\xF0\x9F\x98(", "invalid utf-8 sequence of 3 bytes from index 0"},
      {"\xF0\x9F(\x80", "invalid utf-8 sequence of 2 bytes from index 0"},
      // Valid ASCII blocks before the fault go through the eight-byte fast path.
      {"0123456789abcdef\xE2\x82\xAC\xE2\x28", "invalid utf-8 sequence of 1 bytes from index 19"},
      {"\xC3", "incomplete utf-8 byte sequence from index 0"},
      {"ab\xE2\x82", "incomplete utf-8 byte sequence from index 2"},
      {"\xF0\x9F\x98", "incomplete utf-8 byte sequence from index 0"},
      {"12345678\xF4\x8F", "incomplete utf-8 byte sequence from index 8"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check_message(c.bytes), c.message) << testing::PrintToString(std::string(c.bytes));
    EXPECT_FALSE(is_valid_utf8(c.bytes));
  }
  // A lead byte that can never start a sequence is an error even at the very end.
  EXPECT_EQ(check_message("a\xF8"), "invalid utf-8 sequence of 1 bytes from index 1");
  EXPECT_EQ(check_message("a\xE0\x9F"), "invalid utf-8 sequence of 1 bytes from index 1");
}

TEST(Utf8Lossy, ReturnsValidTextUnchanged) {
  const std::string text = "h\xC3\xA9llo \xF0\x9F\x98\x80 world, more than eight bytes";
  EXPECT_EQ(decode_utf8_lossy(text), text);
  EXPECT_EQ(decode_utf8_lossy(""), "");
}

TEST(Utf8Lossy, ReplacesEachMaximalSubpart) {
  const std::string r = "\xEF\xBF\xBD";
  const struct {
    std::string_view bytes;
    std::string expected;
  } cases[] = {
      // The Unicode Standard's example (Table 3-8): F1 80 80 and E1 80 are single subparts.
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + r + r + r + "b" + r + "c" + r + r + "d"},
      {"\xC0\x80", r + r},                  // overlong two-byte form
      {"\xE0\x80\x80", r + r + r},          // overlong three-byte form
      {"\xF0\x80\x80\x80", r + r + r + r},  // overlong four-byte form
      {"\xED\xA0\x80", r + r + r},          // surrogate U+D800
      {"\xED\xBF\xBF", r + r + r},          // surrogate U+DFFF
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xF5\x80", r + r},                  // never a lead byte
      {"\xF8\x88\x80\x80\x80", r + r + r + r + r},
      {"\xFE\xFF", r + r},
      {"\x80\x80x\xBF", r + r + "x" + r},  // stray continuation bytes
      {"a\xE2\x82", "a" + r},              // truncated at the end: one subpart
      {"a\xF0\x9F\x98", "a" + r},
      {"a\xF0\x9F\x98z", "a" + r + "z"},  // truncated in the middle
      {"\xE2\x82\xE2\x82\xAC", r + "\xE2\x82\xAC"},
      {"\xC3\xC3\xA9", r + "\xC3\xA9"},
      {"\xF4\x8F\xBF", r},
      {"\xE0\xA0", r},
      {"\xE0\x9F\x80", r + r + r},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode_utf8_lossy(c.bytes), c.expected)
        << testing::PrintToString(std::string(c.bytes));
  }
}

TEST(Utf8Lossy, OutputIsAlwaysValid) {
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 24, '\0');
    for (char& b : bytes)
      b = static_cast<char>(0x7C + random() % 0x84);
    const std::string decoded = decode_utf8_lossy(bytes);
    ASSERT_TRUE(is_valid_utf8(decoded)) << testing::PrintToString(bytes);
    if (is_valid_utf8(bytes)) {
      EXPECT_EQ(decoded, bytes);
    }
  }
}

TEST(TerminalEscape, ControlCharactersBecomeVisible) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"plain text\tand\n", "plain text\tand\n"},
      {"\x1b]0;pwned\x07\x1b[31mRED", "\\x1b]0;pwned\\x07\\x1b[31mRED"},
      {std::string_view("a\0b\r\x7f", 5), "a\\x00b\\x0d\\x7f"},
      {"\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0", "\\u{80}\\u{9b}\\u{9f}\xc2\xa0"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"\x9b"
       "1m \xff \xe2\x82",
       "\\x9b"
       "1m \\xff \\xe2\\x82"},
      {"\xed\xa0\x80\xc2", "\\xed\\xa0\\x80\\xc2"},
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(escape_for_terminal(text), shown) << testing::PrintToString(std::string(text));
    EXPECT_EQ(needs_terminal_escape(text), text != shown)
        << testing::PrintToString(std::string(text));
  }
  // Every single byte and every two-byte sequence: the check agrees with the rewrite, and the
  // rewrite leaves nothing a terminal would take for a control character.
  for (int a = 0; a < 256; ++a) {
    for (int b = -1; b < 256; ++b) {
      std::string text(1, static_cast<char>(a));
      if (b >= 0) text.push_back(static_cast<char>(b));
      const std::string shown = escape_for_terminal(text);
      ASSERT_EQ(needs_terminal_escape(text), shown != text) << a << " " << b;
      ASSERT_FALSE(needs_terminal_escape(shown)) << a << " " << b;
    }
  }
}

TEST(WhiteSpace, MatchesTheUnicodeProperty) {
  const std::vector<char32_t> white = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                       0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                       0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                       0x2029, 0x202F, 0x205F, 0x3000};
  std::size_t found = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const bool expected = std::find(white.begin(), white.end(), c) != white.end();
    ASSERT_EQ(is_unicode_white_space(c), expected) << std::hex << static_cast<std::uint32_t>(c);
    found += expected;
  }
  EXPECT_EQ(found, 25u);
  // Not White_Space: zero width space, byte order mark, Mongolian vowel separator, NUL.
  EXPECT_FALSE(is_unicode_white_space(0x200B));
  EXPECT_FALSE(is_unicode_white_space(0xFEFF));
  EXPECT_FALSE(is_unicode_white_space(0x180E));
  EXPECT_FALSE(is_unicode_white_space(0x00));
  EXPECT_FALSE(is_unicode_white_space(0x1C));
}

TEST(WhiteSpace, TrimRemovesEveryKindAtBothEnds) {
  EXPECT_EQ(trim_white_space(""), "");
  EXPECT_EQ(trim_white_space(" \t\r\n"), "");
  EXPECT_EQ(trim_white_space("  a b  "), "a b");
  // U+3000, U+00A0, U+0085, U+2028 and U+205F are White_Space; U+200B is not.
  EXPECT_EQ(trim_white_space("\xE3\x80\x80\xC2\xA0x y\xC2\x85\xE2\x80\xA8\xE2\x81\x9F"), "x y");
  EXPECT_EQ(trim_white_space("\xE2\x80\x8Bx\xE2\x80\x8B"), "\xE2\x80\x8Bx\xE2\x80\x8B");
  EXPECT_EQ(trim_white_space("\x0B\x0C"
                             "caf\xC3\xA9"),
            "caf\xC3\xA9");
  // The file separator (0x1C) is a control character, not White_Space.
  EXPECT_EQ(trim_white_space("\x1C"
                             "a\x1C"),
            "\x1C"
            "a\x1C");
  // Ill-formed bytes are kept as content.
  EXPECT_EQ(trim_white_space(" \xA0 "), "\xA0");
  EXPECT_EQ(trim_white_space(" \xC2 "), "\xC2");
}

TEST(WhiteSpace, SplitDropsEmptyPieces) {
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(split_white_space(""), Pieces{});
  EXPECT_EQ(split_white_space(" \t "), Pieces{});
  EXPECT_EQ(split_white_space("one"), Pieces{"one"});
  EXPECT_EQ(split_white_space("  one two\t\tthree\n"), (Pieces{"one", "two", "three"}));
  EXPECT_EQ(split_white_space("a\xE3\x80\x80"
                              "b\xC2\xA0\xC2\x85"
                              "c\xE2\x80\x8B"
                              "d"),
            (Pieces{"a", "b",
                    "c\xE2\x80\x8B"
                    "d"}));
  EXPECT_EQ(split_white_space("\xE2\x80\x80x\xE2\x80\x8A"), Pieces{"x"});
}

TEST(WhiteSpace, StripRemovesEveryKindAnywhere) {
  EXPECT_EQ(strip_whitespace(""), "");
  EXPECT_EQ(strip_whitespace("a b\tc\xE3\x80\x80"
                             "d"),
            "abcd");
  EXPECT_EQ(strip_whitespace(" [ 1 ,\xC2\xA0"
                             "8 ]\r\n"),
            "[1,8]");
  // Stray bytes, including a lone 0xA0 (not the two-byte no-break space), are content.
  EXPECT_EQ(strip_whitespace("\xA0 \xC2 \xE3\x80"), "\xA0\xC2\xE3\x80");
}

TEST(WhiteSpace, StripKeepsExactlyTheOtherCharacters) {
  // Random texts built from White_Space and other pieces (multi-byte, look-alikes such as U+200B
  // and U+FEFF, stray bytes): stripping leaves the other pieces, in order.
  const std::vector<std::string> white = {" ",
                                          "\t",
                                          "\n",
                                          "\x0B",
                                          "\x0C",
                                          "\r",
                                          "\xC2\x85",
                                          "\xC2\xA0",
                                          "\xE1\x9A\x80",
                                          "\xE2\x80\x80",
                                          "\xE2\x80\x8A",
                                          "\xE2\x80\xA8",
                                          "\xE2\x80\xA9",
                                          "\xE2\x80\xAF",
                                          "\xE2\x81\x9F",
                                          "\xE3\x80\x80"};
  const std::vector<std::string> other = {"a",
                                          "[",
                                          "7",
                                          ",",
                                          "\x1C",
                                          "\xC3\xA9",
                                          "\xE2\x80\x8B",
                                          "\xEF\xBB\xBF",
                                          "\xF0\x9F\x98\x80",
                                          "\xE1\xA0\x8E"};
  std::mt19937 rng(7);
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    std::string expected;
    const int pieces = static_cast<int>(rng() % 12);
    for (int i = 0; i < pieces; ++i) {
      if (rng() % 2 == 0) {
        text += white[rng() % white.size()];
      } else {
        const std::string& piece = other[rng() % other.size()];
        text += piece;
        expected += piece;
      }
    }
    ASSERT_EQ(strip_whitespace(text), expected) << text;
  }
}

TEST(Padding, CountsCodePoints) {
  EXPECT_EQ(count_code_points(""), 0u);
  EXPECT_EQ(count_code_points("abc"), 3u);
  EXPECT_EQ(count_code_points("caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80"), 7u);
  // East Asian wide characters count once.
  EXPECT_EQ(count_code_points("\xE4\xB8\xAD\xE6\x96\x87"), 2u);

  EXPECT_EQ(pad_right("ab", 5), "ab   ");
  EXPECT_EQ(pad_left("ab", 5), "   ab");
  EXPECT_EQ(pad_right("\xC3\xA9t\xC3\xA9", 5), "\xC3\xA9t\xC3\xA9  ");
  EXPECT_EQ(pad_left("\xE4\xB8\xAD", 3), "  \xE4\xB8\xAD");
  EXPECT_EQ(pad_right("toolong", 3), "toolong");
  EXPECT_EQ(pad_left("toolong", 3), "toolong");
  EXPECT_EQ(pad_left("", 2), "  ");
  EXPECT_EQ(pad_right("abc", 3), "abc");
}

TEST(Prefixes, StartsAndEndsWith) {
  EXPECT_TRUE(starts_with("model.onnx", "model"));
  EXPECT_TRUE(starts_with("x", ""));
  EXPECT_FALSE(starts_with("mo", "model"));
  EXPECT_TRUE(ends_with("model.onnx", ".onnx"));
  EXPECT_FALSE(ends_with("model.onnx", ".ONNX"));
}

std::string u64_text(std::string_view text) {
  const auto parsed = parse_u64(text);
  return parsed ? std::to_string(*parsed) : parsed.error();
}

std::string i64_text(std::string_view text) {
  const auto parsed = parse_i64(text);
  return parsed ? std::to_string(*parsed) : parsed.error();
}

TEST(ParseInteger, UnsignedAcceptsDigitsWithOptionalPlus) {
  EXPECT_EQ(u64_text("0"), "0");
  EXPECT_EQ(u64_text("42"), "42");
  EXPECT_EQ(u64_text("+42"), "42");
  EXPECT_EQ(u64_text("007"), "7");
  EXPECT_EQ(u64_text("18446744073709551615"), "18446744073709551615");
  EXPECT_EQ(u64_text("000000000000000000000018446744073709551615"), "18446744073709551615");
}

TEST(ParseInteger, UnsignedMessages) {
  const std::string empty = "cannot parse integer from empty string";
  const std::string invalid = "invalid digit found in string";
  const std::string large = "number too large to fit in target type";
  EXPECT_EQ(u64_text(""), empty);
  EXPECT_EQ(u64_text("+"), invalid);
  EXPECT_EQ(u64_text("-"), invalid);
  EXPECT_EQ(u64_text("-0"), invalid);
  EXPECT_EQ(u64_text("-5"), invalid);
  EXPECT_EQ(u64_text("++5"), invalid);
  EXPECT_EQ(u64_text(" 5"), invalid);
  EXPECT_EQ(u64_text("5 "), invalid);
  EXPECT_EQ(u64_text("1_000"), invalid);
  EXPECT_EQ(u64_text("0x10"), invalid);
  EXPECT_EQ(u64_text("1.0"), invalid);
  EXPECT_EQ(u64_text("\xD9\xA1"), invalid);  // ARABIC-INDIC DIGIT ONE
  EXPECT_EQ(u64_text("18446744073709551616"), large);
  EXPECT_EQ(u64_text("99999999999999999999"), large);
  // The first problem from the left decides: the overflow happens before the bad character.
  EXPECT_EQ(u64_text("99999999999999999999x"), large);
  EXPECT_EQ(u64_text("1x99999999999999999999"), invalid);
}

TEST(ParseInteger, SignedRangeAndMessages) {
  EXPECT_EQ(i64_text("-0"), "0");
  EXPECT_EQ(i64_text("+17"), "17");
  EXPECT_EQ(i64_text("-17"), "-17");
  EXPECT_EQ(i64_text("9223372036854775807"), "9223372036854775807");
  EXPECT_EQ(i64_text("-9223372036854775808"), "-9223372036854775808");
  EXPECT_EQ(i64_text("9223372036854775808"), "number too large to fit in target type");
  EXPECT_EQ(i64_text("-9223372036854775809"), "number too small to fit in target type");
  EXPECT_EQ(i64_text("-99999999999999999999x"), "number too small to fit in target type");
  EXPECT_EQ(i64_text(""), "cannot parse integer from empty string");
  EXPECT_EQ(i64_text("-"), "invalid digit found in string");
  EXPECT_EQ(i64_text("+"), "invalid digit found in string");
  EXPECT_EQ(i64_text("+-1"), "invalid digit found in string");
  EXPECT_EQ(i64_text("--1"), "invalid digit found in string");
  EXPECT_EQ(i64_text("1-"), "invalid digit found in string");
  EXPECT_EQ(i64_text("\t1"), "invalid digit found in string");
}

std::string f64_text(std::string_view text) {
  const auto parsed = parse_f64(text);
  if (!parsed) return parsed.error();
  if (std::isnan(*parsed)) return "NaN";
  // Shortest round-trip text plus the sign of zero, so that exactness is visible.
  return format_float(*parsed);
}

TEST(ParseFloat, AcceptsTheDecimalGrammar) {
  EXPECT_EQ(f64_text("0"), "0");
  EXPECT_EQ(f64_text("-0"), "-0");
  EXPECT_EQ(f64_text("+1.5"), "1.5");
  EXPECT_EQ(f64_text("1."), "1");
  EXPECT_EQ(f64_text(".5"), "0.5");
  EXPECT_EQ(f64_text("-.5"), "-0.5");
  EXPECT_EQ(f64_text("1e3"), "1000");
  EXPECT_EQ(f64_text("1E+3"), "1000");
  EXPECT_EQ(f64_text("2.5e-3"), "0.0025");
  EXPECT_EQ(f64_text(".5e1"), "5");
  EXPECT_EQ(f64_text("5.e-1"), "0.5");
  EXPECT_EQ(f64_text("000.000100"), "0.0001");
  EXPECT_EQ(f64_text("0.1"), "0.1");
  EXPECT_EQ(f64_text("0.30000000000000004"), "0.30000000000000004");
}

TEST(ParseFloat, SpecialWordsInAnyCase) {
  EXPECT_EQ(f64_text("inf"), "inf");
  EXPECT_EQ(f64_text("-INF"), "-inf");
  EXPECT_EQ(f64_text("+Infinity"), "inf");
  EXPECT_EQ(f64_text("-iNfInItY"), "-inf");
  EXPECT_EQ(f64_text("nan"), "NaN");
  EXPECT_EQ(f64_text("NaN"), "NaN");
  EXPECT_EQ(f64_text("-NAN"), "NaN");
  EXPECT_TRUE(std::signbit(*parse_f64("-nan")));
  EXPECT_FALSE(std::signbit(*parse_f64("nan")));
}

TEST(ParseFloat, Messages) {
  EXPECT_EQ(f64_text(""), "cannot parse float from empty string");
  for (const std::string_view bad :
       {"+",     "-",    ".",      "-.",           "e5",      ".e5",       "1e", "1e+",
        "1e-",   "1.5e", "1e5.0",  "1..2",         "1.2.3",   " 1",        "1 ", "1f",
        "0x1p3", "0x10", "nan(1)", "nan()",        "infinit", "infinityy", "in", "+-1",
        "--1",   "1,5",  "1_0",    "\xEF\xBC\x91", "inf ",    "e",         "E1", "1e1e1"}) {
    EXPECT_EQ(f64_text(bad), "invalid float literal") << bad;
  }
}

TEST(ParseFloat, RoundsCorrectlyAndSaturates) {
  // Halfway between 1 and the next double: ties to even.
  EXPECT_EQ(*parse_f64("1.00000000000000011102230246251565404236316680908203125"), 1.0);
  EXPECT_EQ(*parse_f64("1.00000000000000011102230246251565404236316680908203126"),
            std::nextafter(1.0, 2.0));
  EXPECT_EQ(*parse_f64("1.7976931348623157e308"), std::numeric_limits<double>::max());
  EXPECT_EQ(*parse_f64("4.9406564584124654e-324"), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(*parse_f64("2.4703282292062328e-324"), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(f64_text("2.4703282292062327e-324"), "0");
  EXPECT_EQ(f64_text("1e400"), "inf");
  EXPECT_EQ(f64_text("-1e400"), "-inf");
  EXPECT_EQ(f64_text("1.7976931348623159e308"), "inf");
  EXPECT_EQ(f64_text("1e-400"), "0");
  EXPECT_EQ(f64_text("-1e-400"), "-0");
  EXPECT_EQ(f64_text("0.0000000000000000000000000001e-300"), "0");
  EXPECT_EQ(f64_text("100000000000000000000000000000e300"), "inf");
  EXPECT_EQ(f64_text("1e99999999999999999999999"), "inf");
  EXPECT_EQ(f64_text("1e-99999999999999999999999"), "0");
  EXPECT_EQ(f64_text("0e99999999999999999999999"), "0");
  EXPECT_EQ(f64_text("0.000e-99999999999999999999999"), "0");
  // Many digits beyond what a double holds.
  EXPECT_EQ(f64_text("3.14159265358979323846264338327950288419716939937510582097494459"),
            "3.141592653589793");
}

TEST(ParseFloat, ReadsBackFormattedValues) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const auto parsed = parse_f64(format_float(value));
    ASSERT_TRUE(parsed.has_value()) << format_float(value);
    ASSERT_EQ(std::memcmp(&*parsed, &value, sizeof value), 0) << format_float(value);
  }
}

}  // namespace
}  // namespace orvik

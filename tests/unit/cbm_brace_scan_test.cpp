// The brace scan that finds embedded JSON candidates in CatBoost files, checked against the
// literal walk-per-position scan on random, structured and mutated real inputs.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "brace_scan_reference.hpp"
#include "cbm/brace_scan.hpp"
#include "files.hpp"
#include "mutate_bytes.hpp"

namespace orvik {
namespace {

const std::string kData = std::string(ORVIK_TEST_DATA) + "/catboost/";

using testing_support::literal_spans;
using testing_support::literal_walk;
using testing_support::slurp;

std::vector<std::pair<std::size_t, std::size_t>> fast_spans(std::string_view bytes) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (const BraceSpan& span : find_brace_spans(bytes))
    spans.emplace_back(span.start, span.end);
  return spans;
}

// Checks the spans and, for every position, the closing bit and the walk itself.
void expect_same_as_literal(std::string_view bytes) {
  ASSERT_EQ(literal_spans(bytes), fast_spans(bytes)) << testing::PrintToString(std::string(bytes));
  const std::vector<std::uint64_t> bits = closing_brace_starts(bytes);
  ASSERT_EQ(bits.size(), (bytes.size() + 63) / 64);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool bit = (bits[i / 64] >> (i % 64)) & 1;
    if (bytes[i] != '{') {
      ASSERT_FALSE(bit) << i;
      continue;
    }
    const std::optional<std::size_t> expected = literal_walk(bytes, i);
    ASSERT_EQ(bit, expected.has_value())
        << "at " << i << " in " << testing::PrintToString(std::string(bytes));
    ASSERT_EQ(walk_to_closing_brace(bytes, i), expected) << i;
  }
}

std::string random_text(std::mt19937_64& rng, std::string_view alphabet, std::size_t length) {
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string text(length, ' ');
  for (char& c : text)
    c = alphabet[pick(rng)];
  return text;
}

TEST(CbmBraceScan, SmallCases) {
  expect_same_as_literal("");
  expect_same_as_literal("{");
  expect_same_as_literal("}");
  expect_same_as_literal("{}");
  expect_same_as_literal("{{}");
  expect_same_as_literal("{}}");
  expect_same_as_literal("{\"}\"}");
  expect_same_as_literal("{\"\\\"}\"}");
  expect_same_as_literal("{\"\\\\\"}");
  expect_same_as_literal("\\{\"}");
  expect_same_as_literal("{\"{\"{\"{");
  EXPECT_EQ(fast_spans("xx{a{b}c}yy{"), (std::vector<std::pair<std::size_t, std::size_t>>{{2, 9}}));
}

TEST(CbmBraceScan, UnclosedOuterBraceStillFindsInnerObject) {
  // The walk from the first brace never closes; the scan moves one byte on and finds {"a":1}.
  const std::string_view bytes = "{ {\"a\":1} ";
  EXPECT_EQ(fast_spans(bytes), (std::vector<std::pair<std::size_t, std::size_t>>{{2, 9}}));
  expect_same_as_literal(bytes);
}

TEST(CbmBraceScan, StringStatesDependOnTheStartingBrace) {
  // From offset 0 the quote opens a string that swallows the next brace; from offset 2 it does
  // not, so walks from the two starts see different structure.
  expect_same_as_literal("{\"{\"}}\"}");
  expect_same_as_literal("{\"{\\\"}\"}}");
  expect_same_as_literal("{\"{\"{\"}\"}\"}");
}

TEST(CbmBraceScan, RandomStructuralAlphabets) {
  std::mt19937_64 rng(20240601);
  const std::string_view alphabets[] = {"{}\"\\a",  "{}\"", "{\"\\",   "{}\\",       "{{{}\"",
                                        "{}}}\"\\", "{\"",  "{\"\\\\", "{}\"\"\"\\x"};
  for (const std::string_view alphabet : alphabets) {
    for (int round = 0; round < 3000; ++round) {
      const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 70)(rng);
      expect_same_as_literal(random_text(rng, alphabet, length));
    }
    for (int round = 0; round < 40; ++round) {
      expect_same_as_literal(random_text(rng, alphabet, 1500));
    }
  }
}

TEST(CbmBraceScan, SparseStructureAcrossBlockBoundaries) {
  // Long stretches without structural bytes, so whole blocks are skipped between them.
  std::mt19937_64 rng(7);
  for (int round = 0; round < 4000; ++round) {
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 300)(rng);
    std::string text = random_text(rng, "abcdefghijklmnopqrstuvwxyz", length);
    const std::size_t marks = std::uniform_int_distribution<std::size_t>(0, 12)(rng);
    for (std::size_t m = 0; m < marks && length > 0; ++m) {
      text[std::uniform_int_distribution<std::size_t>(0, length - 1)(rng)] =
          "{}\"\\"[std::uniform_int_distribution<int>(0, 3)(rng)];
    }
    expect_same_as_literal(text);
  }
}

TEST(CbmBraceScan, EveryAlignmentOfBlocksAndWords) {
  // Blocks of 16 bytes are counted back from the end, so where a block falls within the 64-bit
  // words of closing bits depends on the length. Dense structure with a period prime to 16 keeps
  // every block distinct; an object starts at every offset of the first words.
  const std::string_view dense = "{\"}{\\\"}{{}\"}}";
  for (std::size_t length = 1; length <= 200; ++length) {
    for (std::size_t start = 0; start < std::min<std::size_t>(length, 80); ++start) {
      std::string text(length, ' ');
      for (std::size_t i = 0; i < length; ++i)
        text[i] = dense[(i + start) % dense.size()];
      text.replace(start, std::min<std::size_t>(4, length - start), "{{}}", 0,
                   std::min<std::size_t>(4, length - start));
      expect_same_as_literal(text);
    }
  }
}

TEST(CbmBraceScan, RepeatedBlocksAndDeepNesting) {
  // Patterns whose period divides the block size repeat whole blocks, entered the same way or
  // (while the depth grows) not; one changed byte breaks the repetition. Deep nesting with and
  // without strings and escapes.
  std::mt19937_64 rng(11);
  for (int round = 0; round < 600; ++round) {
    const std::size_t period = std::size_t{1} << std::uniform_int_distribution<int>(0, 5)(rng);
    const std::string pattern = random_text(rng, "{}\"\\a", period);
    std::string text;
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 700)(rng);
    while (text.size() < length)
      text += pattern;
    if (!text.empty() && round % 2 == 0)
      text[std::uniform_int_distribution<std::size_t>(0, text.size() - 1)(rng)] = '{';
    expect_same_as_literal(text);
  }
  for (const std::string_view level : {"{", "{\"\":", "{\"}\":", "{\"\\\"\":", "{\"a\\\\\":"}) {
    for (const std::size_t depth : {1, 15, 16, 17, 40, 300}) {
      std::string text;
      for (std::size_t i = 0; i < depth; ++i)
        text += level;
      text += "0";
      expect_same_as_literal(text + std::string(depth, '}'));
      expect_same_as_literal(text + std::string(depth - 1, '}'));
    }
  }
}

TEST(CbmBraceScan, RandomBytes) {
  std::mt19937_64 rng(99);
  std::string all_bytes;
  for (int b = 0; b < 256; ++b)
    all_bytes.push_back(static_cast<char>(b));
  for (int round = 0; round < 300; ++round) {
    expect_same_as_literal(random_text(rng, all_bytes, 2000));
  }
}

TEST(CbmBraceScan, MutatedRealModels) {
  std::mt19937_64 rng(1234);
  for (const char* name : {"single_tree.cbm", "shallow_trees.cbm", "float_regression.cbm"}) {
    const std::string model = slurp(kData + name);
    ASSERT_GT(model.size(), 6000u) << name;
    expect_same_as_literal(model);
    // The JSON-bearing head of the file, with structural bytes inserted, replaced and removed.
    const std::string head = model.substr(0, std::min<std::size_t>(model.size(), 13000));
    for (int round = 0; round < 25; ++round) {
      std::string mutated = head;
      testing_support::mutate_bytes(mutated, rng, "{}\"\\", 6);
      expect_same_as_literal(mutated);
    }
  }
}

TEST(CbmBraceScan, FloodsOfUnclosedBracesStayLinear) {
  // Quadratic scanning would take hours on these; the bits say no walk closes.
  for (const std::string_view unit : {"{", "{\"", "{\\", "{{\"\\\""}) {
    std::string flood;
    while (flood.size() < (4u << 20))
      flood += unit;
    EXPECT_TRUE(find_brace_spans(flood).empty()) << unit;
  }
  // One closing brace at the end closes exactly the last opening one.
  std::string flood(4u << 20, '{');
  flood += '}';
  EXPECT_EQ(fast_spans(flood),
            (std::vector<std::pair<std::size_t, std::size_t>>{{flood.size() - 2, flood.size()}}));
}

TEST(CbmBraceScan, BytesThatChangeUnderTheScanEndIt) {
  // Bytes of a mapped file may change while it is read (a file cut short reads as zeros from
  // then on). When the starts found for the old bytes no longer close, the scan ends rather than
  // walking to the end from each of them; stepping on would still find the last pair.
  std::string bytes;
  while (bytes.size() < (16u << 10))
    bytes += "{}";
  BraceScan scan = start_brace_scan(bytes);
  std::replace(bytes.begin() + 1024, bytes.end() - 1, '}', 'x');
  while (scan.position < 1024)
    ASSERT_TRUE(next_brace_span(scan));
  EXPECT_FALSE(next_brace_span(scan));
  EXPECT_EQ(scan.position, bytes.size());
}

}  // namespace
}  // namespace orvik

// The arena: copies are exact, aligned, and stay where they are while the arena moves.
#include "util/arena.hpp"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace orvik {
namespace {

TEST(Arena, CopiesStayPutWhileTheArenaMoves) {
  Arena arena;
  EXPECT_TRUE(arena.copy_text("").empty());
  EXPECT_TRUE(arena.copy_list(std::vector<std::int64_t>{}).empty());
  // Texts past the first block, one larger than a block, and odd sizes between the lists.
  std::vector<std::string> texts;
  for (int i = 0; i < 20000; ++i)
    texts.push_back(std::string(i % 7, 'a' + i % 26) + std::to_string(i));
  texts.push_back(std::string(200000, 'z'));
  std::vector<std::string_view> text_copies;
  std::vector<std::span<const std::int64_t>> list_copies;
  for (const std::string& text : texts) {
    text_copies.push_back(arena.copy_text(text));
    list_copies.push_back(
        arena.copy_list(std::vector<std::int64_t>{-1, std::int64_t(text.size())}));
  }
  Arena moved = std::move(arena);
  Arena target;
  target = std::move(moved);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ASSERT_EQ(text_copies[i], texts[i]);
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(list_copies[i].data()) % alignof(std::int64_t), 0u);
    ASSERT_EQ(list_copies[i][0], -1);
    ASSERT_EQ(list_copies[i][1], std::int64_t(texts[i].size()));
  }
  EXPECT_EQ(target.copy_text("after"), "after");
}

}  // namespace
}  // namespace orvik

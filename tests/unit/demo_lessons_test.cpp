#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo/lessons.hpp"
#include "demo/topic_quiz.hpp"

namespace orvik {
namespace {

const std::vector<std::string> kTopicWords = {
    "tensor", "matmul", "linear", "softmax", "attention", "transformer", "tiny-transformer"};

TEST(Topics, WordsAreExactAndCaseSensitive) {
  for (const auto& word : kTopicWords)
    EXPECT_TRUE(parse_topic(word).has_value()) << word;
  EXPECT_EQ(parse_topic("tiny-transformer"), parse_topic("transformer"));
  for (const std::string word :
       {"Transformer", "ATTENTION", "tensor ", "", "tiny_transformer", "softmaxes", "--shapes"}) {
    const auto topic = parse_topic(word);
    ASSERT_FALSE(topic.has_value()) << word;
    EXPECT_EQ(topic.error(), "unknown topic `" + word + "`");
  }
}

TEST(Lessons, EachFocusShowsItsOwnLineOfEveryStep) {
  // The whole lesson shows five lines per step in the order shape, memory, math, compare, all;
  // each focus shows exactly the one line at its place, and never the last.
  const std::vector<std::pair<LessonFocus, std::size_t>> focuses = {{LessonFocus::Shape, 0},
                                                                    {LessonFocus::Memory, 1},
                                                                    {LessonFocus::Math, 2},
                                                                    {LessonFocus::Compare, 3}};
  for (const auto& word : kTopicWords) {
    const Topic topic = *parse_topic(word);
    const Lesson whole = build_lesson(topic, LessonFocus::All);
    ASSERT_FALSE(whole.steps.empty()) << word;
    for (const auto& step : whole.steps)
      ASSERT_EQ(step.lines.size(), 5u) << step.title;
    for (const auto& [focus, index] : focuses) {
      const Lesson narrowed = build_lesson(topic, focus);
      EXPECT_EQ(narrowed.title, whole.title);
      ASSERT_EQ(narrowed.steps.size(), whole.steps.size());
      for (std::size_t s = 0; s < whole.steps.size(); ++s) {
        EXPECT_EQ(narrowed.steps[s].title, whole.steps[s].title);
        EXPECT_EQ(narrowed.steps[s].lines, std::vector{whole.steps[s].lines[index]})
            << word << " " << whole.steps[s].title;
      }
    }
  }
}

TEST(TopicQuiz, RepliesMatchWithoutWhiteSpaceAndCase) {
  struct Case {
    std::string_view reply;
    std::string_view answer;
    bool matches;
  };
  const Case cases[] = {
      {"[4, 2]\n", "[4, 2]", true},
      {"[4,2]", "[4, 2]", true},
      {"  [ 4 ,\t2 ]  \r\n", "[4, 2]", true},
      {"[4,\xC2\xA0"
       "2]",
       "[4, 2]", true},  // no-break space
      {"\xE3\x80\x80[4,\xE2\x80\x83"
       "2]\xE2\x80\xA8",
       "[4, 2]", true},  // ideographic space, em space, line separator
      {"4x2", "[4, 2]", false},
      {"[2, 4]", "[4, 2]", false},
      {"(4, 2)", "[4, 2]", false},
      {"[4,\xE2\x80\x8B"
       "2]",
       "[4, 2]", false},  // zero width space is not White_Space
      {"", "[4, 2]", false},
      {"24", "24", true},
      {" 2 4 ", "24", true},
      {"24 bytes", "24", false},
      {"twenty-four", "24", false},
      {"ANSWER", "answer", true},  // lower-casing applies to both sides
  };
  for (const auto& c : cases) {
    EXPECT_EQ(topic_reply_matches(c.reply, c.answer), c.matches) << c.reply;
  }
}

}  // namespace
}  // namespace orvik

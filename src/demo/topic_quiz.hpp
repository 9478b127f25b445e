#pragma once
// The one-question quiz that can follow a topic lesson.
#include <string_view>

#include "demo/lessons.hpp"
#include "util/result.hpp"

namespace orvik {

struct TopicQuestion {
  std::string_view question;
  std::string_view answer;
};

TopicQuestion topic_question(Topic topic);

// Whether a reply matches an answer: both without any White_Space and lower-cased.
bool topic_reply_matches(std::string_view reply, std::string_view answer);

// Prints "Quiz", "----" and the question, prompts "> ", reads one line of standard input and
// prints "Correct." or "Answer: {}". A wrong or missing reply (end of input) is no error; a failed
// flush or read, or a reply that is not UTF-8, is.
CommandResult run_topic_quiz(Topic topic);

}  // namespace orvik

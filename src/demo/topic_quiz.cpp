#include "demo/topic_quiz.hpp"

#include <string>

#include <fmt/core.h>

#include "util/input.hpp"
#include "util/output.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// The stored answers hold only digits, brackets, commas and blanks. Unicode lower-casing leaves
// those unchanged and maps no other character onto them, so lower-casing ASCII letters decides
// every comparison exactly as Unicode lower-casing would.
std::string normalize_reply(std::string_view text) {
  std::string out = strip_whitespace(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

TopicQuestion topic_question(Topic topic) {
  switch (topic) {
    case Topic::Tensor:
      return {"A float32 tensor has shape [2, 3]. How many bytes?", "24"};
    case Topic::Matmul:
      return {"A is [4, 8], B is [8, 2]. What is A @ B?", "[4, 2]"};
    case Topic::Linear:
      return {"x is [1, 4], W is [4, 8], b is [8]. What is output shape?", "[1, 8]"};
    case Topic::Softmax:
      return {"Softmax over last dim keeps shape [3, 5] as what?", "[3, 5]"};
    case Topic::Attention:
    case Topic::Transformer:
      break;
  }
  return {"Q is [4, 768], K^T is [768, 4]. What is Q @ K^T?", "[4, 4]"};
}

bool topic_reply_matches(std::string_view reply, std::string_view answer) {
  return normalize_reply(reply) == normalize_reply(answer);
}

CommandResult run_topic_quiz(Topic topic) {
  const TopicQuestion question = topic_question(topic);
  print_line("Quiz");
  print_line("----");
  print_line(question.question);
  const auto reply = ask_line("> ");
  if (!reply) return fail(reply.error());
  if (topic_reply_matches(*reply, question.answer)) {
    print_line("Correct.");
  } else {
    print_line(fmt::format("Answer: {}", question.answer));
  }
  return {};
}

}  // namespace orvik

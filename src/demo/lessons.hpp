#pragma once
// The built-in lessons on six topics (tensor, matmul, linear, softmax, attention, transformer),
// each narrowed by a focus to one aspect, and how a lesson is printed, whole or step by step.
#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/result.hpp"

namespace orvik {

enum class Topic { Tensor, Matmul, Linear, Softmax, Attention, Transformer };

// All shows every line of a step; each other focus shows only the line with its label.
enum class LessonFocus { All, Shape, Memory, Math, Compare };

struct LessonStep {
  std::string title;
  std::vector<std::string> lines;
};

struct Lesson {
  std::string title;
  std::vector<LessonStep> steps;
};

// One built-in step: its title and five (label, text) pairs, always labelled "shape", "memory",
// "math", "compare", "all" in that order.
using LessonRow = std::array<std::pair<std::string_view, std::string_view>, 5>;

// Exact, case-sensitive topic words; "tiny-transformer" is a second word for Transformer.
// Error: "unknown topic `{}`".
Result<Topic> parse_topic(std::string_view word);

Lesson build_lesson(Topic topic, LessonFocus focus);

// The attention lesson's title and its four steps, which the transformer lesson shares.
Lesson attention_lesson_steps(LessonFocus focus);

// All: the row's five texts in order; any other focus: the texts whose label is the focus's.
LessonStep build_lesson_step(std::string_view title, const LessonRow& row, LessonFocus focus);

// Whole: the title, a rule of "-" as long as the title in bytes, then every step (title, lines
// after two spaces, an empty line). Step mode: a banner instead of the title, and the pause after
// each step; an error of the pause ends the printing with that error.
CommandResult print_lesson(const Lesson& lesson, bool step_mode);

}  // namespace orvik

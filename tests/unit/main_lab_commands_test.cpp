#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "main/dispatch.hpp"

namespace orvik {
namespace {

// Every report command of the lab without a plan path, under both names of an alias.
TEST(LabCommands, UsageWithoutAPath) {
  const std::pair<const char*, const char*> cases[] = {
      {"trace", "usage: orvik trace examples/tiny_attention.json"},
      {"summary", "usage: orvik trace examples/tiny_attention.json"},
      {"compare", "usage: orvik compare examples/tiny_attention.json"},
      {"why", "usage: orvik why examples/tiny_attention.json"},
      {"validate", "usage: orvik validate examples/mlp.json"},
      {"tensor-inspect", "usage: orvik tensor-inspect examples/mlp.json"},
      {"explain-model", "usage: orvik explain-model examples/tiny_attention.json"},
      {"walkthrough", "usage: orvik explain-model examples/tiny_attention.json"},
  };
  for (const auto& [word, usage] : cases) {
    EXPECT_EQ(dispatch_command({word}).error(), usage) << word;
  }
}

}  // namespace
}  // namespace orvik

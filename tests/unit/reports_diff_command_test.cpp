// The diff command over damaged inputs: every failed read ends in a message and leaves standard
// output untouched, whichever side is damaged; a deep diff without Python fails after the report.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture_stdout.hpp"
#include "files.hpp"
#include "main/dispatch.hpp"
#include "python_bridge_env.hpp"
#include "reports/diff.hpp"

namespace orvik {
namespace {

using namespace testing_support;

const std::string kDiffData = std::string(ORVIK_TEST_DATA) + "/diff/";

struct Outcome {
  bool ok = false;
  std::string out;
};

Outcome run(const std::vector<std::string>& words) {
  Outcome outcome;
  outcome.out = capture_stdout([&] { outcome.ok = cmd_diff(words).has_value(); });
  return outcome;
}

// Cuts every prefix of `whole` (stepping by `step`) and diffs it against the intact file on both
// sides: a cut that fails prints nothing; one that reads prints a whole report.
void check_prefixes(const std::string& relative, const std::string& extension, std::size_t step) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string whole = slurp(kDiffData + relative);
  ASSERT_FALSE(whole.empty());
  const std::string intact = dir.write("intact" + extension, whole);
  std::size_t failures = 0;
  for (std::size_t length = 0; length < whole.size(); length += step) {
    const std::string cut = dir.write("cut" + extension, std::string_view(whole).substr(0, length));
    for (const bool cut_is_old : {true, false}) {
      const Outcome outcome = cut_is_old ? run({cut, intact}) : run({intact, cut});
      if (outcome.ok) {
        EXPECT_TRUE(outcome.out.starts_with("Model Diff\n")) << length;
      } else {
        ++failures;
        EXPECT_EQ(outcome.out, "") << "prefix " << length;
      }
    }
  }
  EXPECT_GT(failures, 0u);
}

TEST(DiffCommand, TruncatedLightgbmPrintsNothingOrWholeReport) {
  check_prefixes("lgb/base.lgb", ".lgb", 13);
}

TEST(DiffCommand, TruncatedPytorchPrintsNothingOrWholeReport) {
  check_prefixes("torch/mlp_state_dict.pt", ".pt", 17);
}

TEST(DiffCommand, TruncatedCatboostPrintsNothingOrWholeReport) {
  check_prefixes("../catboost/single_tree.cbm", ".cbm", 11);
}

TEST(DiffCommand, CatboostDeepWithoutInterpreterFailsAfterTheWholeReport) {
  const ScratchDir dir;
  const ScopedCwd cwd(dir.path());
  const ScopedEnv kaltera("KALTERA_PYTHON", std::nullopt);
  const ScopedEnv path("PATH", kFakePython + "/no_python");
  const std::string model = kData + "/catboost/single_tree.cbm";
  CommandResult result;
  const std::string out = capture_stdout([&] { result = cmd_diff({"--deep", model, model}); });
  EXPECT_TRUE(out.starts_with("Model Diff\n")) << out;
  EXPECT_TRUE(out.ends_with("\n  Recovered feature names are unchanged.\n\n")) << out;
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "CatBoost deep diff needs Python with `catboost` installed. Tried:\n"
            "  .venv/bin/python: No such file or directory (os error 2)\n"
            "  python3: No such file or directory (os error 2)");
}

TEST(DiffCommand, DeepNoteComesBeforeReadErrors) {
  ScratchDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string good =
      dir.write("good.pt", slurp(kDiffData + "torch/via_bytesio_archive_prefix.pt"));
  const std::string bad = dir.write("bad.pt", "PK\x05\x06");
  const Outcome outcome = run({"--deep", good, bad});
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.out, "Note: --deep is currently only used for CatBoost artifacts.\n\n");
}

}  // namespace
}  // namespace orvik

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "python_bridge/python_bridge.hpp"
#include "python_bridge_env.hpp"

namespace orvik {
namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

const std::string kMissing = "No such file or directory (os error 2)";

// Runs with the working directory in an empty folder, so ".venv/bin/python" never exists
// unless a test makes it.
class RunPythonScript : public testing::Test {
 protected:
  ScratchDir dir_;
  ScopedCwd cwd_{dir_.path()};
  ScopedEnv kaltera_{"KALTERA_PYTHON", std::nullopt};
  ScopedEnv path_{"PATH", kSystemPath};
  ScopedEnv pythonpath_{"PYTHONPATH", std::nullopt};
  ScopedEnv bytecode_{"PYTHONDONTWRITEBYTECODE", "1"};
};

TEST_F(RunPythonScript, CandidatesWithoutConfiguredInterpreter) {
  EXPECT_EQ(python_candidates(), (Lines{".venv/bin/python", "python3"}));
}

TEST_F(RunPythonScript, ConfiguredInterpreterComesFirstEvenWhenEmpty) {
  {
    ScopedEnv configured("KALTERA_PYTHON", "/opt/python/bin/python3");
    EXPECT_EQ(python_candidates(),
              (Lines{"/opt/python/bin/python3", ".venv/bin/python", "python3"}));
  }
  {
    ScopedEnv configured("KALTERA_PYTHON", "");
    EXPECT_EQ(python_candidates(), (Lines{"", ".venv/bin/python", "python3"}));
  }
  {
    ScopedEnv duplicate("KALTERA_PYTHON", "python3");
    EXPECT_EQ(python_candidates(), (Lines{"python3", ".venv/bin/python", "python3"}));
  }
}

TEST_F(RunPythonScript, ConfiguredInterpreterThatIsNotUtf8IsIgnored) {
  ScopedEnv configured("KALTERA_PYTHON", "/opt/py\xff/python3");
  EXPECT_EQ(python_candidates(), (Lines{".venv/bin/python", "python3"}));
}

TEST_F(RunPythonScript, FirstCandidateFailsAndTheSecondSucceeds) {
  ScopedEnv configured("KALTERA_PYTHON", fake_python("broken"));
  auto out = run_python_script("import sys\nprint('args', sys.argv[1:])\n", {"a b", "", "-c"});
  ASSERT_TRUE(out.has_value()) << out.error().front();
  EXPECT_EQ(*out, "args ['a b', '', '-c']\n");
}

TEST_F(RunPythonScript, EveryCandidateFailsWithOneLineEachInOrder) {
  ScopedEnv configured("KALTERA_PYTHON", fake_python("broken"));
  ScopedEnv path("PATH", kFakePython + "/not_executable");
  auto out = run_python_script("print('never')", {});
  ASSERT_FALSE(out.has_value());
  EXPECT_EQ(out.error(),
            (Lines{fake_python("broken") + ": fake python: this interpreter is broken",
                   ".venv/bin/python: " + kMissing, "python3: Permission denied (os error 13)"}));
}

TEST_F(RunPythonScript, EmptyConfiguredInterpreterFailsToStart) {
  ScopedEnv configured("KALTERA_PYTHON", "");
  ScopedEnv path("PATH", kFakePython + "/no_python");
  auto out = run_python_script("print('never')", {});
  ASSERT_FALSE(out.has_value());
  EXPECT_EQ(out.error(),
            (Lines{": " + kMissing, ".venv/bin/python: " + kMissing, "python3: " + kMissing}));
}

TEST_F(RunPythonScript, StandardErrorIsTrimmedOfUnicodeWhiteSpace) {
  {
    ScopedEnv configured("KALTERA_PYTHON", fake_python("crlf_error"));
    ScopedEnv path("PATH", kFakePython + "/killed");
    auto out = run_python_script("", {});
    ASSERT_FALSE(out.has_value());
    ASSERT_EQ(out.error().size(), 3u);
    EXPECT_EQ(out.error()[0],
              fake_python("crlf_error") + ": fake python: first line  \r\nsecond line");
    // Ended by a signal with nothing on standard error: the candidate and ": " alone; what it
    // wrote to standard output is not shown.
    EXPECT_EQ(out.error()[2], "python3: ");
  }
  auto unicode = run_python_script(
      "import sys\nsys.stderr.write('\\u00a0\\u3000 message \\u2029\\n')\nsys.exit(2)\n", {});
  ASSERT_FALSE(unicode.has_value());
  EXPECT_EQ(unicode.error().back(), "python3: message");
}

TEST_F(RunPythonScript, OutputIsDecodedWithReplacement) {
  auto out =
      run_python_script("import sys\nsys.stdout.buffer.write(b'ok \\xff\\xe2\\x82 end\\n')\n", {});
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(*out, "ok \xef\xbf\xbd\xef\xbf\xbd end\n");

  auto err = run_python_script(
      "import sys\nsys.stderr.buffer.write(b'bad \\xc0 byte')\n"
      "sys.exit(1)\n",
      {});
  ASSERT_FALSE(err.has_value());
  EXPECT_EQ(err.error().back(), "python3: bad \xef\xbf\xbd byte");
}

TEST_F(RunPythonScript, OutputOfAFailedRunIsNotReturned) {
  auto out = run_python_script("print('half done')\nraise SystemExit('stopped')\n", {});
  ASSERT_FALSE(out.has_value());
  EXPECT_EQ(out.error(), (Lines{".venv/bin/python: " + kMissing, "python3: stopped"}));
}

TEST_F(RunPythonScript, VirtualEnvironmentInTheWorkingDirectoryIsTried) {
  std::filesystem::create_directories(dir_ / ".venv/bin");
  std::filesystem::create_symlink(fake_python("custom_output"), dir_ / ".venv/bin/python");
  ScopedEnv path("PATH", kFakePython + "/broken");
  auto out = run_python_script("print('ignored by the fake')", {});
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(*out, "first line of output\nlast line without a newline");
}

}  // namespace
}  // namespace orvik

#include "python_bridge/process.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "python_bridge_env.hpp"

namespace orvik {
namespace {

using namespace testing_support;

Result<ProcessOutput> shell(const std::string& program, std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"-c", program, "sh"};
  args.insert(args.end(), extra.begin(), extra.end());
  return run_process("/bin/sh", args);
}

TEST(RunProcess, CapturesBothStreamsOfASuccessfulChild) {
  auto run = shell("printf 'to out\\n'; printf 'to err' >&2; exit 0");
  ASSERT_TRUE(run.has_value()) << run.error();
  EXPECT_TRUE(run->exited_zero);
  EXPECT_EQ(run->stdout_bytes, "to out\n");
  EXPECT_EQ(run->stderr_bytes, "to err");
}

TEST(RunProcess, NonZeroStatusAndSignalsAreNotSuccess) {
  auto exited = shell("printf partial; printf 'went wrong' >&2; exit 3");
  ASSERT_TRUE(exited.has_value());
  EXPECT_FALSE(exited->exited_zero);
  EXPECT_EQ(exited->stdout_bytes, "partial");
  EXPECT_EQ(exited->stderr_bytes, "went wrong");

  auto killed = shell("kill -KILL $$");
  ASSERT_TRUE(killed.has_value());
  EXPECT_FALSE(killed->exited_zero);
  EXPECT_EQ(killed->stderr_bytes, "");
}

TEST(RunProcess, PassesEachArgumentUnchangedWithoutAShell) {
  auto run = shell("for a; do printf '[%s]' \"$a\"; done", {"", "two words",
                                                            "\xc3\xbcnic\xc3\xb6"
                                                            "de",
                                                            "*", "$HOME", "a;b|c"});
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->stdout_bytes,
            "[][two words][\xc3\xbcnic\xc3\xb6"
            "de][*][$HOME][a;b|c]");
}

TEST(RunProcess, LargeOutputOnBothStreamsDoesNotStall) {
  // Far beyond a pipe's buffer, standard error first: reading one stream at a time would hang.
  auto run = shell(
      "head -c 3000000 /dev/zero >&2; head -c 2000000 /dev/zero; "
      "head -c 1000000 /dev/zero >&2");
  ASSERT_TRUE(run.has_value());
  EXPECT_TRUE(run->exited_zero);
  EXPECT_EQ(run->stdout_bytes.size(), 2000000u);
  EXPECT_EQ(run->stderr_bytes.size(), 4000000u);
}

TEST(RunProcess, StandardInputIsTheNullDevice) {
  auto run = shell("cat; printf 'after end of input'");
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->stdout_bytes, "after end of input");
}

TEST(RunProcess, InheritsEnvironmentAndWorkingDirectory) {
  ScratchDir dir;
  ScopedEnv variable("ORVIK_PROCESS_TEST", "inherited value");
  ScopedCwd cwd(dir.path());
  auto run = shell("printf '%s|%s' \"$ORVIK_PROCESS_TEST\" \"$(pwd -P)\"");
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->stdout_bytes,
            "inherited value|" + std::filesystem::canonical(dir.path()).string());
}

TEST(RunProcess, ChildHoldsNoOtherDescriptorOfOurs) {
  const int opened = ::open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
  ASSERT_GE(opened, 0);
  const int high = ::dup2(opened, 57);
  ASSERT_EQ(high, 57);
  auto run = shell("if [ -e /proc/self/fd/57 ]; then echo leaked; else echo closed; fi");
  ::close(opened);
  ::close(high);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->stdout_bytes, "closed\n");
}

TEST(RunProcess, LooksUpBareNamesThroughPath) {
  ScopedEnv path("PATH", kFakePython + "/custom_output");
  auto run = run_process("python3", {});
  ASSERT_TRUE(run.has_value()) << run.error();
  EXPECT_EQ(run->stdout_bytes, "first line of output\nlast line without a newline");
}

TEST(RunProcess, StartFailuresCarryTheSystemErrorText) {
  ScopedEnv path("PATH", kFakePython + "/no_python");
  const std::string missing = "No such file or directory (os error 2)";
  EXPECT_EQ(run_process("python3", {}).error(), missing);
  EXPECT_EQ(run_process("", {}).error(), missing);
  EXPECT_EQ(run_process("./no/such/interpreter", {}).error(), missing);
  EXPECT_EQ(run_process(fake_python("not_executable"), {}).error(),
            "Permission denied (os error 13)");
  EXPECT_EQ(run_process(kFakePython, {}).error(), "Permission denied (os error 13)");
  // A file without an interpreter line is not handed to a shell.
  EXPECT_EQ(run_process(fake_python("no_interpreter_line"), {}).error(),
            "Exec format error (os error 8)");
}

TEST(RunProcess, RefusesArgumentsWithNulBytes) {
  EXPECT_EQ(run_process("/bin/sh", {"-c", std::string("exit 0\0x", 8)}).error(),
            "nul byte found in provided data");
  EXPECT_EQ(run_process(std::string("/bin/sh\0", 8), {}).error(),
            "nul byte found in provided data");
}

}  // namespace
}  // namespace orvik

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "capture_stdout.hpp"
#include "files.hpp"
#include "main/dispatch.hpp"

namespace orvik {
namespace {

namespace fs = std::filesystem;

// Standard input comes from a temporary file holding the given bytes; restored to /dev/null.
class WaitForEnter : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "orvik-stdin-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    ASSERT_GE(fd, 0);
    ::close(fd);
    path_ = pattern;
  }
  void TearDown() override {
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    std::error_code ec;
    fs::remove(path_, ec);
  }

  void feed(const std::string& bytes) {
    testing_support::write_file(path_, bytes);
    ASSERT_NE(std::freopen(path_.c_str(), "r", stdin), nullptr);
  }

  // Calls wait_for_enter and returns what it printed.
  std::string pause(CommandResult& result) {
    return testing_support::capture_stdout([&] { result = wait_for_enter(); });
  }

  std::string path_;
};

TEST_F(WaitForEnter, EndOfInputReturnsAtOnce) {
  feed("");
  CommandResult result;
  EXPECT_EQ(pause(result), "next> ");
  EXPECT_TRUE(result.has_value());
  EXPECT_EQ(pause(result), "next> ");
  EXPECT_TRUE(result.has_value());
}

TEST_F(WaitForEnter, ReadsOneLinePerCall) {
  // The second line is not UTF-8: only the second call sees it.
  feed("first line\n\xff\xfe\nlast without newline");
  CommandResult result;
  EXPECT_EQ(pause(result), "next> ");
  EXPECT_TRUE(result.has_value());
  EXPECT_EQ(pause(result), "next> ");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "stream did not contain valid UTF-8");
  EXPECT_EQ(pause(result), "next> ");
  EXPECT_TRUE(result.has_value());
  EXPECT_EQ(pause(result), "next> ");
  EXPECT_TRUE(result.has_value());
}

TEST_F(WaitForEnter, ReadErrorIsTheSystemText) {
  // Reading a directory fails with EISDIR.
  ASSERT_NE(std::freopen(fs::temp_directory_path().c_str(), "r", stdin), nullptr);
  CommandResult result;
  EXPECT_EQ(pause(result), "next> ");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Is a directory (os error 21)");
}

TEST_F(WaitForEnter, ReadFailingAfterPartOfALineIsTheSystemText) {
  // A non-blocking pipe holding "24" without a line break: the first read gets the two bytes, the
  // next one fails with EAGAIN while the writer is still open.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
  ASSERT_EQ(::write(fds[1], "24", 2), 2);
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  ASSERT_EQ(::dup2(fds[0], 0), 0);
  ::close(fds[0]);
  CommandResult result;
  EXPECT_EQ(pause(result), "next> ");
  ::close(fds[1]);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Resource temporarily unavailable (os error 11)");
}

TEST_F(WaitForEnter, ClosedStandardInputIsEndOfInput) {
  feed("");
  const int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  ::close(0);
  CommandResult result;
  EXPECT_EQ(pause(result), "next> ");
  ASSERT_EQ(::dup2(saved, 0), 0);
  ::close(saved);
  EXPECT_TRUE(result.has_value()) << result.error();
}

}  // namespace
}  // namespace orvik

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "util/file.hpp"

namespace orvik {
namespace {

// A private directory with a few files, removed afterwards.
class UtilFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "orvik_util_file_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }

  void TearDown() override {
    for (const auto& path : created_)
      ::unlink(path.c_str());
    ::rmdir(dir_.c_str());
  }

  std::string write_file(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    created_.push_back(path);
    return path;
  }

  std::string dir_;
  std::vector<std::string> created_;
};

std::string pattern_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return bytes;
}

TEST(SystemErrorText, StrerrorAndCode) {
  EXPECT_EQ(system_error_text(ENOENT), "No such file or directory (os error 2)");
  EXPECT_EQ(system_error_text(EISDIR), "Is a directory (os error 21)");
  EXPECT_EQ(system_error_text(EACCES), "Permission denied (os error 13)");
  EXPECT_EQ(system_error_text(ESPIPE), "Illegal seek (os error 29)");
}

TEST_F(UtilFileTest, ReadWholeFile) {
  EXPECT_EQ(read_whole_file(write_file("empty", "")).value(), "");
  EXPECT_EQ(read_whole_file(write_file("small", "hello\n")).value(), "hello\n");
  const std::string big = pattern_bytes(3 * 1024 * 1024 + 17);
  EXPECT_EQ(read_whole_file(write_file("big", big)).value(), big);
}

TEST_F(UtilFileTest, ReadWholeFileErrors) {
  EXPECT_EQ(read_whole_file(dir_ + "/missing").error(), "No such file or directory (os error 2)");
  EXPECT_EQ(read_whole_file(dir_ + "/missing/inner").error(),
            "No such file or directory (os error 2)");
  // A directory opens fine and fails on the first read.
  EXPECT_EQ(read_whole_file(dir_).error(), "Is a directory (os error 21)");
  const std::string file = write_file("plain", "x");
  EXPECT_EQ(read_whole_file(file + "/below").error(), "Not a directory (os error 20)");
  EXPECT_EQ(read_whole_file(std::string("a\0b", 3)).error(),
            "file name contained an unexpected NUL byte");
}

TEST(ReadWholeFile, FilesWithoutASizeAreReadToTheEnd) {
  // /proc files report size 0 but have content.
  const auto status = read_whole_file("/proc/self/status");
  ASSERT_TRUE(status) << status.error();
  EXPECT_TRUE(status->starts_with("Name:"));
  EXPECT_TRUE(status->ends_with("\n"));
  const auto maps = read_whole_file("/proc/self/maps");
  ASSERT_TRUE(maps) << maps.error();
  EXPECT_GT(maps->size(), 0u);
}

TEST(ReadWholeFile, PipesGrowTheBufferAsBytesArrive) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const std::string bytes = pattern_bytes(50000);
  ASSERT_EQ(::write(pipe_fds[1], bytes.data(), bytes.size()), 50000);
  ::close(pipe_fds[1]);
  const auto read = read_whole_file("/proc/self/fd/" + std::to_string(pipe_fds[0]));
  ::close(pipe_fds[0]);
  ASSERT_TRUE(read) << read.error();
  EXPECT_TRUE(*read == bytes);
}

TEST_F(UtilFileTest, OpenAndSize) {
  EXPECT_EQ(File::open(dir_ + "/missing").error(), "No such file or directory (os error 2)");
  auto file = File::open(write_file("ten", "0123456789"));
  ASSERT_TRUE(file) << file.error();
  EXPECT_GE(file->fd(), 0);
  EXPECT_EQ(file->size().value(), 10u);
  EXPECT_EQ(File().fd(), -1);
}

TEST_F(UtilFileTest, MoveTransfersTheDescriptor) {
  auto opened = File::open(write_file("m", "abc"));
  ASSERT_TRUE(opened);
  File first = std::move(*opened);
  const int fd = first.fd();
  File second(std::move(first));
  EXPECT_EQ(first.fd(), -1);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(second.fd(), fd);
  File third;
  third = std::move(second);
  EXPECT_EQ(third.fd(), fd);
  EXPECT_EQ(third.read_range(0, 3).value(), "abc");
  { File closed_at_scope_end = std::move(third); }
  // The descriptor is closed once its last owner goes away.
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

TEST_F(UtilFileTest, ReadSomeAndPrefix) {
  const std::string path = write_file("data", "0123456789");
  auto file = File::open(path);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->read_some(4).value(), "0123");
  EXPECT_EQ(file->read_some(100).value(), "456789");
  EXPECT_EQ(file->read_some(100).value(), "");

  auto probe = File::open(path);
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->read_prefix(4).value(), "0123");
  auto whole = File::open(path);
  EXPECT_EQ(whole->read_prefix(1 << 20).value(), "0123456789");
  const std::string longer = pattern_bytes(300);
  const std::string longer_path = write_file("longer", longer);
  for (const std::size_t length : {16u, 20u, 40u, 299u}) {
    auto some = File::open(longer_path);
    EXPECT_EQ(some->read_some(length).value(), longer.substr(0, length)) << length;
    auto prefix = File::open(longer_path);
    EXPECT_EQ(prefix->read_prefix(length).value(), longer.substr(0, length)) << length;
  }
  auto none = File::open(path);
  EXPECT_EQ(none->read_prefix(0).value(), "");

  auto directory = File::open(dir_);
  ASSERT_TRUE(directory);
  EXPECT_EQ(directory->read_some(8).error(), "Is a directory (os error 21)");
  EXPECT_EQ(directory->read_prefix(8).error(), "Is a directory (os error 21)");
}

TEST_F(UtilFileTest, ReadRange) {
  const std::string bytes = pattern_bytes(100000);
  auto file = File::open(write_file("range", bytes));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->read_range(0, 10).value(), bytes.substr(0, 10));
  EXPECT_EQ(file->read_range(4096, 50000).value(), bytes.substr(4096, 50000));
  EXPECT_EQ(file->read_range(99990, 10).value(), bytes.substr(99990));
  EXPECT_EQ(file->read_range(0, 100000).value(), bytes);
  // Exactly the bytes asked for, also for sizes just past the small-string buffer.
  for (const std::uint64_t length : {1u, 15u, 16u, 17u, 20u, 31u, 33u, 100u, 8193u, 70000u}) {
    EXPECT_EQ(file->read_range(7, length).value(), bytes.substr(7, length)) << length;
  }
  // Reads do not depend on the current position.
  EXPECT_EQ(file->read_some(3).value(), bytes.substr(0, 3));
  EXPECT_EQ(file->read_range(1, 2).value(), bytes.substr(1, 2));
}

TEST_F(UtilFileTest, ZeroLengthRangeIsEmpty) {
  auto file = File::open(write_file("zero", "abc"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->read_range(0, 0).value(), "");
  EXPECT_EQ(file->read_range(3, 0).value(), "");
  EXPECT_EQ(file->read_range(1000, 0).value(), "");
}

TEST_F(UtilFileTest, RangePastTheEndFailsBeforeAllocating) {
  auto file = File::open(write_file("short", "abcdef"));
  ASSERT_TRUE(file);
  const std::string message = "read: failed to fill whole buffer";
  EXPECT_EQ(file->read_range(0, 7).error(), message);
  EXPECT_EQ(file->read_range(6, 1).error(), message);
  EXPECT_EQ(file->read_range(5, 2).error(), message);
  EXPECT_EQ(file->read_range(7, 1).error(), message);
  // Lengths no memory could hold, and sums that would overflow 64 bits.
  EXPECT_EQ(file->read_range(0, UINT64_MAX).error(), message);
  EXPECT_EQ(file->read_range(1, UINT64_MAX).error(), message);
  EXPECT_EQ(file->read_range(UINT64_MAX, 2).error(), message);
  EXPECT_EQ(file->read_range(UINT64_MAX, UINT64_MAX).error(), message);
  EXPECT_EQ(file->read_range(0, std::uint64_t{1} << 62).error(), message);
}

TEST_F(UtilFileTest, RangeErrorsFromTheSystem) {
  auto directory = File::open(dir_);
  ASSERT_TRUE(directory);
  EXPECT_EQ(directory->read_range(0, 4).error(), "read: Is a directory (os error 21)");

  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ASSERT_EQ(::write(pipe_fds[1], "abcdef", 6), 6);
  ::close(pipe_fds[1]);
  auto pipe_file = File::open("/proc/self/fd/" + std::to_string(pipe_fds[0]));
  ::close(pipe_fds[0]);
  ASSERT_TRUE(pipe_file) << pipe_file.error();
  EXPECT_EQ(pipe_file->read_range(0, 4).error(), "seek: Illegal seek (os error 29)");
  // A pipe still reads from its current position.
  EXPECT_EQ(pipe_file->read_prefix(100).value(), "abcdef");
}

TEST(ReadRange, DevicesWithoutASizeReadWhatTheyDeliver) {
  auto zero = File::open("/dev/zero");
  ASSERT_TRUE(zero) << zero.error();
  const auto zeros = zero->read_range(0, 200000);
  ASSERT_TRUE(zeros) << zeros.error();
  EXPECT_EQ(zeros->size(), 200000u);
  EXPECT_TRUE(*zeros == std::string(200000, '\0'));
  auto null = File::open("/dev/null");
  ASSERT_TRUE(null) << null.error();
  EXPECT_EQ(null->read_range(0, 4).error(), "read: failed to fill whole buffer");
}

// A mapped file cut short while it is read: the lost pages read as zeros instead of ending the
// process, and the bytes are reported as not the file's, whether the cut falls on a page boundary
// (the lost pages raise SIGBUS) or inside the last page kept (no signal, only a shorter file).
TEST_F(UtilFileTest, MappedFileThatShrinksReadsZerosAndSaysSo) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::string bytes = pattern_bytes(5 * page + 123);
  for (const std::size_t cut : {std::size_t{0}, std::size_t{100}, page, 3 * page + 7}) {
    const std::string path = write_file("shrinks" + std::to_string(cut), bytes);
    auto mapped = FileBytes::open(path);
    ASSERT_TRUE(mapped) << mapped.error();
    ASSERT_TRUE(mapped->load());
    EXPECT_TRUE(mapped->check_whole());
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(cut)), 0);
    const std::string_view view = mapped->view();
    ASSERT_EQ(view.size(), bytes.size());
    // Bytes before the cut's page are still the file's; everything from a lost page on is zero.
    const std::size_t kept = cut / page * page;
    EXPECT_EQ(view.substr(0, kept), std::string_view(bytes).substr(0, kept)) << cut;
    EXPECT_EQ(view.substr(4 * page), std::string(view.size() - 4 * page, '\0')) << cut;
    EXPECT_EQ(mapped->check_whole().error(), "failed to fill whole buffer") << cut;
    // A file cut before it is paged in fails at once.
    auto again = FileBytes::open(write_file("again" + std::to_string(cut), bytes));
    ASSERT_TRUE(again);
    ASSERT_EQ(::truncate(created_.back().c_str(), static_cast<off_t>(cut)), 0);
    EXPECT_EQ(again->load().error(), "failed to fill whole buffer") << cut;
  }
}

TEST_F(UtilFileTest, ParseFileReportsAFileCutWhileParsed) {
  const std::string bytes = pattern_bytes(64 * 1024);
  const std::string path = write_file("parsed", bytes);
  const auto sum = [](std::string_view view) -> Result<std::size_t> {
    std::size_t total = 0;
    for (const char c : view)
      total += static_cast<unsigned char>(c);
    return total;
  };
  std::size_t expected = sum(bytes).value();
  EXPECT_EQ(parse_file(path, nullptr, sum).value(), expected);
  const auto cut_then_sum = [&](std::string_view view) {
    EXPECT_EQ(::truncate(path.c_str(), 10), 0);
    return sum(view);
  };
  EXPECT_EQ(parse_file(path, nullptr, cut_then_sum).error(),
            "read " + path + ": failed to fill whole buffer");
  // A file the reader does not admit is handed over without being paged in; errors of the open
  // come first.
  const auto never = [](std::string_view) { return false; };
  EXPECT_EQ(parse_file(path, never, sum).value(), sum(bytes.substr(0, 10)).value());
  EXPECT_EQ(parse_file(dir_ + "/missing", nullptr, sum).error(),
            "read " + dir_ + "/missing: No such file or directory (os error 2)");
}

TEST_F(UtilFileTest, ManyMappedFilesAtOnce) {
  // More files than the guard has room for are read into memory instead; all read the same.
  std::vector<FileBytes> open;
  for (int i = 0; i < 12; ++i) {
    const std::string content = pattern_bytes(10000 + static_cast<std::size_t>(i));
    auto bytes = FileBytes::open(write_file("many" + std::to_string(i), content));
    ASSERT_TRUE(bytes) << bytes.error();
    ASSERT_TRUE(bytes->load());
    EXPECT_EQ(bytes->view(), content);
    open.push_back(std::move(*bytes));
  }
  for (FileBytes& bytes : open)
    EXPECT_TRUE(bytes.check_whole());
  FileBytes moved = std::move(open.front());
  open.front() = std::move(open.back());
  EXPECT_EQ(moved.view(), pattern_bytes(10000));
  EXPECT_EQ(open.front().view(), pattern_bytes(10011));
}

}  // namespace
}  // namespace orvik

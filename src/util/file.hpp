#pragma once
// File access with the system's error texts ("No such file or directory (os error 2)").
#include <cstdint>
#include <string>
#include <string_view>

#include "util/result.hpp"

namespace orvik {

// strerror(err) followed by " (os error N)".
std::string system_error_text(int err);

// Reads the whole file into one buffer. The error is the system error text alone; callers add
// "read {path}: ". A directory opens and then fails on read ("Is a directory (os error 21)").
Result<std::string> read_whole_file(const std::string& path);

// A read-only file descriptor, closed when the object goes away.
class File {
 public:
  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // The error is the system error text alone.
  static Result<File> open(const std::string& path);

  // Size from the file system; the error is the system error text alone.
  Result<std::uint64_t> size() const;

  // One read call at the current position of at most `max` bytes (retried only on EINTR).
  Result<std::string> read_some(std::size_t max);

  // Reads exactly `length` bytes at `offset`, retrying interrupted reads. Errors: "seek: {}",
  // "read: {}", and "read: failed to fill whole buffer" at end of file. A range running past the
  // file's size fails with that last message before anything is allocated.
  Result<std::string> read_range(std::uint64_t offset, std::uint64_t length);

  // Reads up to `length` bytes from the start with retries, stopping early at end of file.
  // Used by content probes; errors are the system error text alone.
  Result<std::string> read_prefix(std::size_t length);

  int fd() const { return fd_; }

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// The bytes of a whole file, read once. A regular file is mapped read-only, so its bytes are not
// copied and cost no memory beyond the page cache; anything else (a pipe, a device, a directory,
// an empty file, a file system that cannot map) is read into one buffer as read_whole_file does.
//
// A mapped file may shrink while it is read (a training job rewriting its model). The pages past
// its new end then read as zeros instead of ending the process, and `check_whole` tells that the
// bytes seen were not all the file's: callers check it before they trust what they made of them.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes();

  // Opens the file. A mapping is not paged in yet, so looking at the leading bytes costs a page
  // or two; `load` pages in the rest. The error is the system error text alone; callers add
  // "read {path}: ".
  static Result<FileBytes> open(const std::string& path);

  // Pages the whole mapping in at once, which is much cheaper than a fault per page. The error is
  // "failed to fill whole buffer" when the file has shrunk already.
  Result<void> load();

  std::string_view view() const {
    return mapped_ != nullptr ? std::string_view(mapped_, mapped_size_) : std::string_view(buffer_);
  }

  // Whether every byte of the view is the file's: "failed to fill whole buffer" when the file is
  // now shorter than the view, or when a page of it could not be read at some point (it was cut
  // off, or the device failed).
  Result<void> check_whole() const;

 private:
  void release();

  File file_;
  const char* mapped_ = nullptr;
  std::size_t mapped_size_ = 0;
  int guard_ = -1;  // the guarded-range slot of the mapping
  std::string buffer_;
};

// The file at `path` for a reader: `admits` looks at its leading bytes (without paging in the
// whole file; null admits anything), and only then is the rest paged in and the bytes handed to
// `parse`. Errors: "read {path}: {text}" when the file cannot be read, and also in place of what
// `parse` returned when the file shrank while it was read.
template <class Parse>
auto parse_file(const std::string& path, bool (*admits)(std::string_view), Parse&& parse)
    -> decltype(parse(std::string_view())) {
  auto bytes = FileBytes::open(path);
  if (!bytes) return fail("read " + path + ": " + bytes.error());
  if (admits == nullptr || admits(bytes->view())) {
    if (auto loaded = bytes->load(); !loaded) return fail("read " + path + ": " + loaded.error());
  }
  auto parsed = parse(bytes->view());
  if (auto whole = bytes->check_whole(); !whole) return fail("read " + path + ": " + whole.error());
  return parsed;
}

}  // namespace orvik

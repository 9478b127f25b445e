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

// The bytes of a whole file, read once. A regular file is mapped read-only, so its bytes are not
// copied and cost no memory beyond the page cache; anything else (a pipe, a device, a directory,
// an empty file, a file system that cannot map) is read into one buffer as read_whole_file does.
// The file must not shrink while its bytes are held.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes();

  // The error is the system error text alone; callers add "read {path}: ".
  static Result<FileBytes> read(const std::string& path);

  std::string_view view() const {
    return mapped_ != nullptr ? std::string_view(mapped_, mapped_size_) : std::string_view(buffer_);
  }

 private:
  const char* mapped_ = nullptr;
  std::size_t mapped_size_ = 0;
  std::string buffer_;
};

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

}  // namespace orvik

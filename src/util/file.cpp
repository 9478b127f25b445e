#include "util/file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "util/byte_cursor.hpp"

namespace orvik {

namespace {

constexpr std::size_t kFirstChunk = 8192;

// std::string::resize_and_overwrite, except that the operation sees exactly `size` bytes:
// libstdc++ 12 hands the operation the grown capacity instead of the requested size when it
// reallocates, which would let a read run past what the caller asked for.
template <class Operation>
void overwrite(std::string& text, std::size_t size, Operation operation) {
  text.resize_and_overwrite(size, [&](char* data, std::size_t) { return operation(data, size); });
}

// Reads from the current position into `out` until `limit` bytes are held or end of file,
// retrying interrupted reads. The buffer starts at `capacity` bytes (plus one, so that a file of
// exactly that size ends without another allocation) and grows geometrically when the file turns
// out larger, so bytes are never copied more than the usual amortised amount. Returns 0 or errno.
int read_until(int fd, std::string& out, std::size_t limit, std::size_t capacity) {
  bool at_end = false;
  int error = 0;
  std::size_t target = capacity == 0      ? std::min(limit, kFirstChunk)
                       : capacity < limit ? capacity + 1
                                          : limit;
  while (!at_end && error == 0 && out.size() < limit) {
    if (out.size() == target) {
      const std::size_t step = std::max(target, kFirstChunk);
      target = limit - target > step ? target + step : limit;
    }
    const std::size_t used = out.size();
    overwrite(out, target, [&](char* data, std::size_t size) {
      std::size_t length = used;
      while (length < size) {
        const ssize_t got = ::read(fd, data + length, size - length);
        if (got < 0) {
          if (errno == EINTR) continue;
          error = errno;
          break;
        }
        if (got == 0) {
          at_end = true;
          break;
        }
        length += static_cast<std::size_t>(got);
      }
      return length;
    });
  }
  return error;
}

bool is_regular(const struct stat& info) {
  return S_ISREG(info.st_mode);
}

// Reads the rest of the open file into one buffer; `hint` is its expected size. Returns 0 or errno.
int read_rest(int fd, std::string& data, std::size_t hint) {
  try {
    return read_until(fd, data, data.max_size() - 1, hint);
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (const std::length_error&) {
    return ENOMEM;
  }
}

}  // namespace

std::string system_error_text(int err) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not be in `buffer`.
  const char* text = ::strerror_r(err, buffer, sizeof buffer);
  return std::string(text) + " (os error " + std::to_string(err) + ")";
}

Result<std::string> read_whole_file(const std::string& path) {
  auto file = File::open(path);
  if (!file) return fail(std::move(file.error()));
  struct stat info {};
  std::size_t hint = 0;
  if (::fstat(file->fd(), &info) == 0 && info.st_size > 0) {
    hint = static_cast<std::size_t>(info.st_size);
  }
  std::string data;
  if (const int error = read_rest(file->fd(), data, hint); error != 0) {
    return fail(system_error_text(error));
  }
  return data;
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : mapped_(std::exchange(other.mapped_, nullptr)),
      mapped_size_(std::exchange(other.mapped_size_, 0)),
      buffer_(std::move(other.buffer_)) {}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this != &other) {
    if (mapped_ != nullptr) ::munmap(const_cast<char*>(mapped_), mapped_size_);
    mapped_ = std::exchange(other.mapped_, nullptr);
    mapped_size_ = std::exchange(other.mapped_size_, 0);
    buffer_ = std::move(other.buffer_);
  }
  return *this;
}

FileBytes::~FileBytes() {
  if (mapped_ != nullptr) ::munmap(const_cast<char*>(mapped_), mapped_size_);
}

Result<FileBytes> FileBytes::read(const std::string& path) {
  auto file = File::open(path);
  if (!file) return fail(std::move(file.error()));
  FileBytes bytes;
  struct stat info {};
  std::size_t hint = 0;
  if (::fstat(file->fd(), &info) == 0 && info.st_size > 0) {
    hint = static_cast<std::size_t>(info.st_size);
    if (is_regular(info)) {
      void* mapped = ::mmap(nullptr, hint, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file->fd(), 0);
      if (mapped != MAP_FAILED) {
        ::madvise(mapped, hint, MADV_SEQUENTIAL);
        bytes.mapped_ = static_cast<const char*>(mapped);
        bytes.mapped_size_ = hint;
        return bytes;
      }
    }
  }
  if (const int error = read_rest(file->fd(), bytes.buffer_, hint); error != 0) {
    return fail(system_error_text(error));
  }
  return bytes;
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

Result<File> File::open(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    return fail("file name contained an unexpected NUL byte");
  }
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(system_error_text(errno));
  return File(fd);
}

Result<std::uint64_t> File::size() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return fail(system_error_text(errno));
  return static_cast<std::uint64_t>(info.st_size);
}

Result<std::string> File::read_some(std::size_t max) {
  std::string data;
  int error = 0;
  try {
    overwrite(data, max, [&](char* buffer, std::size_t size) -> std::size_t {
      while (true) {
        const ssize_t got = ::read(fd_, buffer, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) {
          error = errno;
          return 0;
        }
      }
    });
  } catch (const std::exception&) {
    return fail(system_error_text(ENOMEM));
  }
  if (error != 0) return fail(system_error_text(error));
  return data;
}

Result<std::string> File::read_range(std::uint64_t offset, std::uint64_t length) {
  if (length == 0) return std::string();
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return fail("seek: " + system_error_text(errno));
  const bool regular = is_regular(info);
  if (regular) {
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (!byte_range_fits(size, offset, length)) return fail("read: failed to fill whole buffer");
  }
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return fail("seek: " + system_error_text(EINVAL));
  }
  if (length > std::string().max_size()) return fail("read: " + system_error_text(ENOMEM));

  // A regular file holds the whole range, so the buffer is allocated once. Anything else (a
  // device, a file changing under us) gets a buffer that grows only as bytes actually arrive.
  std::string data;
  std::size_t target = regular ? static_cast<std::size_t>(length)
                               : static_cast<std::size_t>(std::min<std::uint64_t>(length, 65536));
  int error = 0;
  bool at_end = false;
  try {
    while (error == 0 && !at_end && data.size() < length) {
      if (data.size() == target) {
        target = static_cast<std::size_t>(std::min<std::uint64_t>(length, 2 * target));
      }
      const std::size_t used = data.size();
      overwrite(data, target, [&](char* buffer, std::size_t size) {
        std::size_t filled = used;
        while (filled < size) {
          const auto position = static_cast<off_t>(offset + filled);
          if (position < 0) {
            error = EINVAL;
            break;
          }
          const ssize_t got = ::pread(fd_, buffer + filled, size - filled, position);
          if (got < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
          }
          if (got == 0) {
            at_end = true;
            break;
          }
          filled += static_cast<std::size_t>(got);
        }
        return filled;
      });
    }
  } catch (const std::exception&) {
    return fail("read: " + system_error_text(ENOMEM));
  }
  if (error != 0) {
    // Positioning failures (a pipe, an offset the file cannot have) are reported as seeks.
    const bool seek_error = error == ESPIPE || error == EINVAL || error == EOVERFLOW;
    return fail((seek_error ? "seek: " : "read: ") + system_error_text(error));
  }
  if (data.size() < length) return fail("read: failed to fill whole buffer");
  return data;
}

Result<std::string> File::read_prefix(std::size_t length) {
  struct stat info {};
  std::size_t capacity = 0;
  if (::fstat(fd_, &info) == 0 && is_regular(info) && info.st_size > 0) {
    capacity = static_cast<std::size_t>(info.st_size);
  }
  std::string data;
  try {
    if (const int error = read_until(fd_, data, length, capacity); error != 0) {
      return fail(system_error_text(error));
    }
  } catch (const std::exception&) {
    return fail(system_error_text(ENOMEM));
  }
  return data;
}

}  // namespace orvik

#include "util/file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string_view>
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

// The one read loop: appends to `out` until it holds `limit` bytes or the source ends, calling
// `read_at(buffer, count, position)` (a read(2) or pread(2) that returns what it got, 0 at the
// end, or -1 with errno) with `position` the number of bytes in `out`, and retrying interrupted
// calls. The buffer is first sized to `first` bytes (at least one) and grows geometrically, so a
// source larger than expected costs the usual amortised copies and a smaller one no more than
// it holds. Returns 0 or errno (ENOMEM when the buffer cannot grow).
template <class ReadAt>
int read_into(std::string& out, std::size_t limit, std::size_t first, ReadAt read_at) {
  bool at_end = false;
  int error = 0;
  std::size_t target = std::min(limit, std::max<std::size_t>(first, 1));
  try {
    while (!at_end && error == 0 && out.size() < limit) {
      if (out.size() == target) {
        const std::size_t step = std::max(target, kFirstChunk);
        target = limit - target > step ? target + step : limit;
      }
      overwrite(out, target, [&, used = out.size()](char* data, std::size_t size) {
        std::size_t length = used;
        while (length < size) {
          const ssize_t got = read_at(data + length, size - length, length);
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
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (const std::length_error&) {
    return ENOMEM;
  }
  return error;
}

// Reads from the current position of `fd` until `limit` bytes or the end; `capacity` is the
// size the file is expected to have (0: unknown). One byte more than expected is asked for, so
// that a file of exactly that size ends without another allocation.
int read_until(int fd, std::string& out, std::size_t limit, std::size_t capacity) {
  const std::size_t first = capacity == 0 ? kFirstChunk : capacity < limit ? capacity + 1 : limit;
  return read_into(out, limit, first, [fd](char* buffer, std::size_t count, std::size_t) {
    return ::read(fd, buffer, count);
  });
}

bool is_regular(const struct stat& info) {
  return S_ISREG(info.st_mode);
}

// Reads the rest of the open file into one buffer; `hint` is its expected size. Returns 0 or errno.
int read_rest(int fd, std::string& data, std::size_t hint) {
  return read_until(fd, data, data.max_size() - 1, hint);
}

// Mapped files that may lose pages. When a mapped file shrinks, touching a page past its new end
// raises SIGBUS, whose default action ends the process. The handler below puts zero pages in
// place of the lost ones and marks the range, so the reader runs on and its caller reports a
// read error. A signal handler can only find the ranges through process-wide state: a few slots
// of lock-free atomics, set before a mapping is read and cleared before it is unmapped.
struct GuardedRange {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};  // 0: the slot is free
  std::atomic<bool> lost{false};
};

struct MappingGuard {
  std::array<GuardedRange, 8> ranges;
  std::uintptr_t page_size = 4096;
  bool installed = false;
  struct sigaction previous {};
};

constinit MappingGuard mapping_guard;

void patch_lost_pages(int, siginfo_t* info, void*) {
  MappingGuard& guard = mapping_guard;
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  // si_code > 0: the kernel reports a fault; a SIGBUS sent by a process is not ours to take.
  if (info->si_code > 0) {
    for (GuardedRange& range : guard.ranges) {
      const std::uintptr_t end = range.end.load(std::memory_order_acquire);
      if (address < range.begin.load(std::memory_order_relaxed) || address >= end) continue;
      // Everything from the lost page to the end of the mapping reads as zeros from now on.
      const std::uintptr_t page = address & ~(guard.page_size - 1);
      void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
      if (zeros == MAP_FAILED) break;
      range.lost.store(true, std::memory_order_relaxed);
      return;
    }
  }
  // Not a guarded page: whatever would have happened without this handler. A fault repeats when
  // the handler returns and meets the previous action.
  ::sigaction(SIGBUS, &guard.previous, nullptr);
  if (info->si_code <= 0) ::raise(SIGBUS);
}

// A free slot for [data, data + size), or -1 when every slot is taken or the handler cannot be
// installed (the caller then reads the file instead of mapping it).
int guard_range(const void* data, std::size_t size) {
  MappingGuard& guard = mapping_guard;
  if (!guard.installed) {
    guard.page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = patch_lost_pages;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGBUS, &action, &guard.previous) != 0) return -1;
    guard.installed = true;
  }
  for (std::size_t i = 0; i < guard.ranges.size(); ++i) {
    GuardedRange& range = guard.ranges[i];
    if (range.end.load(std::memory_order_relaxed) != 0) continue;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    range.lost.store(false, std::memory_order_relaxed);
    range.begin.store(begin, std::memory_order_relaxed);
    range.end.store(begin + size, std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

void unguard_range(int slot) {
  GuardedRange& range = mapping_guard.ranges[static_cast<std::size_t>(slot)];
  range.end.store(0, std::memory_order_release);
  range.begin.store(0, std::memory_order_relaxed);
}

bool range_lost(int slot) {
  return mapping_guard.ranges[static_cast<std::size_t>(slot)].lost.load(std::memory_order_relaxed);
}

constexpr std::string_view kShortRead = "failed to fill whole buffer";

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
    : file_(std::move(other.file_)),
      mapped_(std::exchange(other.mapped_, nullptr)),
      mapped_size_(std::exchange(other.mapped_size_, 0)),
      guard_(std::exchange(other.guard_, -1)),
      buffer_(std::move(other.buffer_)) {}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this != &other) {
    release();
    file_ = std::move(other.file_);
    mapped_ = std::exchange(other.mapped_, nullptr);
    mapped_size_ = std::exchange(other.mapped_size_, 0);
    guard_ = std::exchange(other.guard_, -1);
    buffer_ = std::move(other.buffer_);
  }
  return *this;
}

FileBytes::~FileBytes() {
  release();
}

void FileBytes::release() {
  if (mapped_ == nullptr) return;
  unguard_range(guard_);
  ::munmap(const_cast<char*>(mapped_), mapped_size_);
  mapped_ = nullptr;
}

Result<FileBytes> FileBytes::open(const std::string& path) {
  auto file = File::open(path);
  if (!file) return fail(std::move(file.error()));
  FileBytes bytes;
  struct stat info {};
  std::size_t hint = 0;
  if (::fstat(file->fd(), &info) == 0 && info.st_size > 0) {
    hint = static_cast<std::size_t>(info.st_size);
    if (is_regular(info)) {
      void* mapped = ::mmap(nullptr, hint, PROT_READ, MAP_PRIVATE, file->fd(), 0);
      if (mapped != MAP_FAILED) {
        const int guard = guard_range(mapped, hint);
        if (guard >= 0) {
          bytes.file_ = std::move(*file);
          bytes.mapped_ = static_cast<const char*>(mapped);
          bytes.mapped_size_ = hint;
          bytes.guard_ = guard;
          return bytes;
        }
        ::munmap(mapped, hint);
      }
    }
  }
  if (const int error = read_rest(file->fd(), bytes.buffer_, hint); error != 0) {
    return fail(system_error_text(error));
  }
  return bytes;
}

Result<void> FileBytes::load() {
  if (mapped_ == nullptr) return {};
  void* data = const_cast<char*>(mapped_);
  if (::madvise(data, mapped_size_, MADV_POPULATE_READ) != 0) {
    // EFAULT: a page would raise SIGBUS, so the file has shrunk. Other errors (a kernel without
    // the request) leave the pages to be read ahead and faulted in as they are reached.
    if (errno == EFAULT) return fail(std::string(kShortRead));
    ::madvise(data, mapped_size_, MADV_WILLNEED);
  }
  ::madvise(data, mapped_size_, MADV_SEQUENTIAL);
  return {};
}

Result<void> FileBytes::check_whole() const {
  if (mapped_ == nullptr) return {};
  struct stat info {};
  const bool shrunk =
      ::fstat(file_.fd(), &info) == 0 && static_cast<std::uint64_t>(info.st_size) < mapped_size_;
  if (shrunk || range_lost(guard_)) return fail(std::string(kShortRead));
  return {};
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
  if (regular && !byte_range_fits(static_cast<std::uint64_t>(info.st_size), offset, length)) {
    return fail("read: " + std::string(kShortRead));
  }
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return fail("seek: " + system_error_text(EINVAL));
  }
  if (length > std::string().max_size()) return fail("read: " + system_error_text(ENOMEM));

  // A regular file holds the whole range, so the buffer is allocated once. Anything else (a
  // device, a file changing under us) gets a buffer that grows only as bytes actually arrive.
  const auto size = static_cast<std::size_t>(length);
  std::string data;
  const int error = read_into(data, size, regular ? size : std::min<std::size_t>(size, 65536),
                              [&](char* buffer, std::size_t count, std::size_t filled) -> ssize_t {
                                const auto position = static_cast<off_t>(offset + filled);
                                if (position < 0) {
                                  errno = EINVAL;
                                  return -1;
                                }
                                return ::pread(fd_, buffer, count, position);
                              });
  if (error != 0) {
    // Positioning failures (a pipe, an offset the file cannot have) are reported as seeks.
    const bool seek_error = error == ESPIPE || error == EINVAL || error == EOVERFLOW;
    return fail((seek_error ? "seek: " : "read: ") + system_error_text(error));
  }
  if (data.size() < length) return fail("read: " + std::string(kShortRead));
  return data;
}

Result<std::string> File::read_prefix(std::size_t length) {
  struct stat info {};
  std::size_t capacity = 0;
  if (::fstat(fd_, &info) == 0 && is_regular(info) && info.st_size > 0) {
    capacity = static_cast<std::size_t>(info.st_size);
  }
  std::string data;
  if (const int error = read_until(fd_, data, length, capacity); error != 0) {
    return fail(system_error_text(error));
  }
  return data;
}

}  // namespace orvik

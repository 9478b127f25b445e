// libFuzzer harness for the PyTorch checkpoint reader. The reader takes a path, so each input is
// placed in an anonymous in-memory file (memfd) and read through /proc/self/fd. Any outcome is
// fine except a crash, a sanitizer report, a hang or an outsized allocation; a summary must also
// survive both JSON forms.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pt/pytorch_reader.hpp"

namespace {

// Owns the memfd for one input.
class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size)
      : fd_(::memfd_create("fuzz_pytorch", MFD_CLOEXEC)) {
    std::size_t written = 0;
    while (fd_ >= 0 && written < size) {
      const ssize_t n = ::write(fd_, data + written, size - written);
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
    ok_ = fd_ >= 0 && written == size;
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool ok() const { return ok_; }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
  bool ok_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryFile file(data, size);
  if (!file.ok()) return 0;
  auto summary = orvik::read_pytorch(file.path());
  if (!summary) return 0;
  if (summary->bytes != size) std::abort();
  if (!orvik::serialize_pytorch_summary(*summary)) std::abort();
  (void)orvik::pytorch_summary_to_value(*summary);
  return 0;
}

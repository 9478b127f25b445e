#include "util/arena.hpp"

#include <algorithm>

namespace orvik {
namespace {

// The first block; later ones grow geometrically, so a summary of n bytes of texts takes about
// log(n) blocks, and the unused end of the last one is never touched.
constexpr std::size_t kFirstBlock = 64 * 1024;

}  // namespace

std::string_view Arena::copy_text(std::string_view text) {
  if (text.empty()) return {};
  char* at = static_cast<char*>(allocate(text.size(), 1));
  std::copy(text.begin(), text.end(), at);
  return {at, text.size()};
}

void* Arena::allocate(std::size_t bytes, std::size_t alignment) {
  if (!blocks_) blocks_ = std::make_unique<std::pmr::monotonic_buffer_resource>(kFirstBlock);
  return blocks_->allocate(bytes, alignment);
}

}  // namespace orvik

#pragma once
// An owner for the many small texts and arrays of one record (a model summary): they are placed
// one after another in a few large blocks, freed all at once with the arena, never moved. Views of
// them stay valid when the arena itself is moved, so a record can hold string_views and spans
// instead of a std::string or a std::vector per field, which on files of millions of tiny entries
// cost several times the file. An arena cannot be copied (the views would point into the source).
#include <cstddef>
#include <iterator>
#include <memory>
#include <memory_resource>
#include <span>
#include <string_view>
#include <type_traits>

namespace orvik {

class Arena {
 public:
  Arena() = default;
  Arena(Arena&&) noexcept = default;
  Arena& operator=(Arena&&) noexcept = default;

  // A copy of the text (an empty view for an empty text).
  std::string_view copy_text(std::string_view text);

  // A copy of the items of a contiguous range (an empty span for none). The items must be
  // trivially copyable and destructible: nothing is destroyed one by one.
  template <class Range>
  auto copy_list(const Range& items) {
    using T = std::remove_cvref_t<decltype(*std::data(items))>;
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
    const std::size_t count = std::size(items);
    if (count == 0) return std::span<const T>();
    T* at = static_cast<T*>(allocate(count * sizeof(T), alignof(T)));
    std::uninitialized_copy_n(std::data(items), count, at);
    return std::span<const T>(at, count);
  }

 private:
  void* allocate(std::size_t bytes, std::size_t alignment);

  // Created with the first copy; each new block is larger than the one before.
  std::unique_ptr<std::pmr::monotonic_buffer_resource> blocks_;
};

}  // namespace orvik

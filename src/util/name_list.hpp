#pragma once
// A list of names (feature names, parameter names) held as one text: every name followed by "\n".
// Files can hold millions of short names; one string object each would cost several times the
// file, this costs the names' bytes. No name contains a line feed (names are words of a line, or
// runs of printable bytes), and that is what makes the one text unambiguous.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace orvik {

class NameList {
 public:
  // Yields each name as a view into the list, in order.
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string_view*;
    using reference = std::string_view;

    Iterator() = default;
    std::string_view operator*() const { return name_; }
    const std::string_view* operator->() const { return &name_; }
    Iterator& operator++();
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const Iterator& other) const { return name_.data() == other.name_.data(); }

   private:
    friend class NameList;
    Iterator(const char* at, const char* end);
    std::string_view name_;  // data() is the end of the text for the end iterator
    const char* end_ = nullptr;
  };

  using value_type = std::string_view;
  using iterator = Iterator;
  using const_iterator = Iterator;

  NameList() = default;
  NameList(std::initializer_list<std::string_view> names);
  // Implicit, so that a list of strings can stand wherever names are taken.
  NameList(const std::vector<std::string>& names);

  // `name` must not contain "\n".
  void push_back(std::string_view name) {
    text_.append(name);
    text_.push_back('\n');
    ++count_;
  }
  // Room for names of `bytes` bytes in all, each with its line feed.
  void reserve(std::size_t bytes);
  void clear() {
    text_.clear();
    count_ = 0;
  }

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  Iterator begin() const;
  Iterator end() const;

  // Every name followed by "\n".
  std::string_view text() const { return text_; }

  // The names in order, as owned strings.
  std::vector<std::string> to_vector() const;

  // Same names in the same order.
  bool operator==(const NameList& other) const = default;
  friend bool operator==(const NameList& list, const std::vector<std::string>& names);

 private:
  std::string text_;  // each name followed by "\n"
  std::size_t count_ = 0;
};

// A cheap hash of a name (its length and its first and last eight bytes), enough to spread the
// slots of a cache or a filter whose hits are confirmed by comparing the bytes.
inline std::uint64_t quick_hash(std::string_view name) {
  std::uint64_t head = 0;
  std::uint64_t tail = 0;
  std::memcpy(&head, name.data(), std::min<std::size_t>(8, name.size()));
  if (name.size() > 8) std::memcpy(&tail, name.data() + name.size() - 8, 8);
  return ((head * 0x9E3779B97F4A7C15u) ^ (tail * 0xC2B2AE3D27D4EB4Fu) ^ name.size()) *
         0x165667B19E3779F9u;
}

}  // namespace orvik

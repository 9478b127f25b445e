#pragma once
// Sorting millions of names that lie anywhere in memory (the runs of a file, the entries of two
// name lists) into ascending byte order. A comparison sort of views reads the bytes of two names
// at every step, and with the names spread over hundreds of megabytes nearly every such read
// misses the cache, more often the bigger the input. Here each name is one 64-bit word, its
// position in the low bits and its first bytes above them, and the eight bytes after those wait in
// a second word; a byte radix sort runs on those keys alone, and only names that share all of them
// are read again, the next dozen or so bytes at a time, fetched ahead of their use.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace orvik {

class NameSort {
 public:
  // Names lie in `first` and in `second`, whose positions follow those of `first` (position
  // first.size() is the first byte of `second`). Room for `most_names` names is reserved up
  // front; reserved pages that are never written cost no memory.
  NameSort(std::string_view first, std::string_view second, std::size_t most_names);

  // The name of `length` bytes at `position`, wholly inside one of the two texts, with one bit of
  // the caller's that stays with it. Names do not overlap.
  void add(std::size_t position, std::size_t length, bool marked = false) {
    // The first sort keys are taken now, while the bytes are at hand.
    const Keys keys = keys_at(position, length, 0);
    words_.push_back(keys.word);
    next_.push_back(keys.next);
    if (length >= kLong) long_lengths_.emplace_back(position, length);
    lengths_.push_back(
        static_cast<std::uint8_t>((length < kLong ? length : kLong) | (marked ? kMark : 0u)));
  }

  std::size_t size() const { return words_.size(); }

  // Puts the names in ascending byte order (a name before every longer one it begins) and marks
  // every name equal to the one before it as a repeat. Names added in order are only checked.
  void sort();

  // After sort(): name `i`. The view points into the text; its bytes are not read here.
  std::string_view name(std::size_t i) const {
    const std::uint64_t word = words_[i];
    return {reinterpret_cast<const char*>(text_at(position(word))), length(word, lengths_[i])};
  }
  // Whether name `i` was added marked.
  bool is_marked(std::size_t i) const { return (lengths_[i] & kMark) != 0; }
  // Whether name `i` lies in the second text.
  bool in_second(std::size_t i) const { return position(words_[i]) >= split_; }
  // After sort(): whether name `i` equals name `i - 1`.
  bool is_repeat(std::size_t i) const { return (words_[i] >> offset_bits_ & 1) != 0; }

 private:
  // Lengths of this many bytes or more are kept aside, by position; the low seven bits of a byte
  // hold the others, the high bit the caller's mark.
  static constexpr std::uint8_t kLong = 127;
  static constexpr std::uint8_t kMark = 128;

  struct Group {
    std::size_t begin, end, depth;
  };
  struct Keys {
    std::uint64_t word, next;
  };
  struct Range {
    std::size_t first, count;
    int digit;
  };

  std::size_t position(std::uint64_t word) const {
    return static_cast<std::size_t>(word & ((std::uint64_t{1} << offset_bits_) - 1));
  }
  const unsigned char* text_at(std::size_t position) const {
    const char* text =
        position < split_ ? first_.data() + position : second_.data() + (position - split_);
    return reinterpret_cast<const unsigned char*>(text);
  }
  // The length of a name; for a long name whose first `need` bytes are all that matter (`need` at
  // most kLong), kLong, which it has at least.
  std::size_t length(std::uint64_t word, std::uint8_t length_byte,
                     std::size_t need = static_cast<std::size_t>(-1)) const {
    const auto short_length = static_cast<std::uint8_t>(length_byte & ~kMark);
    if (short_length != kLong || need <= kLong) return short_length;
    return long_length(position(word));
  }
  std::size_t long_length(std::size_t position) const;
  // `count` bytes of the name of `length` bytes at `bytes` from `depth` on, zeros past its end, as
  // one big-endian number.
  static std::uint64_t name_bytes(const unsigned char* bytes, std::size_t length, std::size_t depth,
                                  std::size_t count) {
    std::uint64_t out = 0;
    for (std::size_t at = depth; at < depth + count; ++at)
      out = (out << 8) | (at < length ? bytes[at] : 0u);
    return out;
  }
  // The keys of the name of `length` bytes at `position` from `depth` on: the word holds its
  // position and above it as many of its bytes as fit, the next key the eight bytes after those.
  Keys keys_at(std::size_t position, std::size_t length, std::size_t depth) const {
    const unsigned char* bytes = text_at(position);
    const auto word_bytes = static_cast<std::size_t>(key_bytes_);
    return {(name_bytes(bytes, length, depth, word_bytes) << key_shift_) | position,
            name_bytes(bytes, length, depth + word_bytes, 8)};
  }
  unsigned rest(std::uint64_t word, std::uint8_t length_byte, std::size_t depth) const;
  void mark_repeats(std::size_t begin, std::size_t end);
  void sort_groups();
  void sort_by_keys(std::uint64_t* words, std::uint64_t* next, std::uint8_t* lengths,
                    std::size_t count, std::size_t depth) const;
  template <class Digit>
  void distribute(std::uint64_t* words, std::uint64_t* next, std::uint8_t* lengths, Range range,
                  Digit digit, std::vector<Range>& ranges) const;

  std::string_view first_;
  std::string_view second_;
  std::size_t split_;
  int offset_bits_;
  int key_bytes_;
  int key_shift_;
  std::vector<std::uint64_t> words_;   // key << key_shift_ | repeat << offset_bits_ | position
  std::vector<std::uint64_t> next_;    // the next eight bytes of each name, while sorting
  std::vector<std::uint8_t> lengths_;  // of each name (kLong for the long ones), and its mark
  std::vector<std::pair<std::size_t, std::size_t>> long_lengths_;  // position, length
};

}  // namespace orvik

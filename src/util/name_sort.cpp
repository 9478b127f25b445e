#include "util/name_sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

#include "util/memory.hpp"

namespace orvik {
namespace {

// Lengths of this many bytes or more are kept aside, by position; the low seven bits of a byte hold
// the others, the high bit the caller's mark.
constexpr std::uint8_t kLong = 127;
constexpr std::uint8_t kMark = 128;
// How far ahead the bytes of names are fetched when walking them in sorted order.
constexpr std::size_t kAhead = 64;
// Ranges shorter than this are sorted by insertion.
constexpr std::size_t kSmallRange = 32;

}  // namespace

// Positions take at most 48 bits, as memory does, which leaves room for one byte of key at least.
NameSort::NameSort(std::string_view first, std::string_view second, std::size_t most_names)
    : first_(first),
      second_(second),
      split_(first.size()),
      offset_bits_(std::bit_width(first.size() + second.size())),
      key_bytes_((64 - offset_bits_) / 8),
      key_shift_(64 - 8 * key_bytes_) {
  for (std::vector<std::uint64_t>* words : {&words_, &next_}) {
    words->reserve(most_names);
    prefer_huge_pages(words->data(), words->capacity() * sizeof(std::uint64_t));
  }
  lengths_.reserve(most_names);
}

void NameSort::add(std::size_t position, std::size_t length, bool marked) {
  // The first sort keys are taken now, while the bytes are at hand.
  words_.push_back(word(position, length, 0));
  next_.push_back(name_bytes(position, length, static_cast<std::size_t>(key_bytes_), 8));
  if (length >= kLong) long_lengths_.emplace_back(position, length);
  lengths_.push_back(
      static_cast<std::uint8_t>(std::min<std::size_t>(length, kLong) | (marked ? kMark : 0u)));
}

std::string_view NameSort::name(std::size_t i) const {
  const std::uint64_t word = words_[i];
  return {reinterpret_cast<const char*>(text_at(position(word))), length(word, lengths_[i])};
}

const unsigned char* NameSort::text_at(std::size_t position) const {
  const char* text =
      position < split_ ? first_.data() + position : second_.data() + (position - split_);
  return reinterpret_cast<const unsigned char*>(text);
}

bool NameSort::is_marked(std::size_t i) const {
  return (lengths_[i] & kMark) != 0;
}

std::size_t NameSort::length(std::uint64_t word, std::uint8_t length_byte, std::size_t need) const {
  const auto short_length = static_cast<std::uint8_t>(length_byte & ~kMark);
  if (short_length != kLong || need <= kLong) return short_length;
  const std::size_t at = position(word);
  const auto found = std::lower_bound(long_lengths_.begin(), long_lengths_.end(), at,
                                      [](const std::pair<std::size_t, std::size_t>& entry,
                                         std::size_t p) { return entry.first < p; });
  return found->second;
}

// `count` bytes of the name from `depth` on, zeros past its end, as one big-endian number.
std::uint64_t NameSort::name_bytes(std::size_t position, std::size_t length, std::size_t depth,
                                   int count) const {
  const unsigned char* bytes = text_at(position);
  std::uint64_t out = 0;
  for (int k = 0; k < count; ++k) {
    const std::size_t at = depth + static_cast<std::size_t>(k);
    out = (out << 8) | (at < length ? bytes[at] : 0u);
  }
  return out;
}

// The word of a name: its position, and above it as many of its bytes from `depth` on as fit.
std::uint64_t NameSort::word(std::size_t position, std::size_t length, std::size_t depth) const {
  return (name_bytes(position, length, depth, key_bytes_) << key_shift_) | position;
}

// What is left of the name from `depth` on, counted up to one more than the bytes a key holds:
// among names whose keys agree, those that end inside the key come first, shortest first, and only
// those that go on past it need their next bytes read.
unsigned NameSort::rest(std::uint64_t word, std::uint8_t length_byte, std::size_t depth) const {
  const std::size_t past_key = static_cast<std::size_t>(key_bytes_) + 9;
  return static_cast<unsigned>(
      std::min(length(word, length_byte, depth + past_key) - depth, past_key));
}

// Names [begin, end) are equal: the first keeps its place, the others are marked as repeats. Their
// words now hold only the position and the mark.
void NameSort::settle(std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    words_[i] = position(words_[i]) | static_cast<std::uint64_t>(i != begin) << offset_bits_;
  }
}

void NameSort::sort() {
  std::sort(long_lengths_.begin(), long_lengths_.end());
  const std::size_t count = size();
  bool sorted = true;
  for (std::size_t i = 1; i < count && sorted; ++i)
    sorted = !(name(i) < name(i - 1));
  if (sorted) {
    for (std::size_t i = 0; i < count;) {
      std::size_t j = i + 1;
      while (j < count && name(j) == name(i))
        ++j;
      settle(i, j);
      i = j;
    }
  } else {
    sort_groups();
  }
  std::vector<std::uint64_t>().swap(next_);
}

// The names of a group (at first all of them, keyed when they were added) are sorted by their key
// bytes, those in the word and then the next eight, and by what is left of them past the group's
// depth; names with equal keys that go on past them form the groups of the next step, which takes
// the bytes after those as keys. So the bytes of a name, which lie anywhere in the texts, are read
// a dozen or so at a time, ahead of their use, and the sorting runs on the keys alone.
void NameSort::sort_groups() {
  const std::size_t step = static_cast<std::size_t>(key_bytes_) + 8;
  std::vector<Group> groups{{0, size(), 0}};
  while (!groups.empty()) {
    const Group group = groups.back();
    groups.pop_back();
    std::uint64_t* const words = words_.data() + group.begin;
    std::uint64_t* const next = next_.data() + group.begin;
    std::uint8_t* const lengths = lengths_.data() + group.begin;
    const std::size_t count = group.end - group.begin;
    if (group.depth != 0) {
      for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count)
          __builtin_prefetch(text_at(position(words[i + kAhead])) + group.depth);
        const std::size_t at = position(words[i]);
        const std::size_t name_length = length(words[i], lengths[i], group.depth + step);
        words[i] = word(at, name_length, group.depth);
        next[i] =
            name_bytes(at, name_length, group.depth + static_cast<std::size_t>(key_bytes_), 8);
      }
    }
    sort_by_keys(words, next, lengths, count, group.depth);
    for (std::size_t i = 0; i < count;) {
      const unsigned left = rest(words[i], lengths[i], group.depth);
      std::size_t j = i + 1;
      while (j < count && words[j] >> key_shift_ == words[i] >> key_shift_ && next[j] == next[i] &&
             rest(words[j], lengths[j], group.depth) == left)
        ++j;
      if (left > step && j - i > 1) {
        groups.push_back({group.begin + i, group.begin + j, group.depth + step});
      } else {
        settle(group.begin + i, group.begin + j);
      }
      i = j;
    }
  }
}

// Sorts the names by their key bytes and then by what is left of them (the rest in any order), a
// digit at a time: each name is swapped straight into its bucket (American flag sort); small
// ranges are sorted by insertion.
void NameSort::sort_by_keys(std::uint64_t* words, std::uint64_t* next, std::uint8_t* lengths,
                            std::size_t count, std::size_t depth) const {
  const auto rest_digit = [&](std::uint64_t word, std::uint64_t, std::uint8_t length) {
    return rest(word, length, depth);
  };
  const auto less = [&](std::size_t a, std::size_t b) {
    if (words[a] >> key_shift_ != words[b] >> key_shift_)
      return words[a] >> key_shift_ < words[b] >> key_shift_;
    if (next[a] != next[b]) return next[a] < next[b];
    return rest_digit(words[a], 0, lengths[a]) < rest_digit(words[b], 0, lengths[b]);
  };
  std::vector<Range> ranges{{0, count, 0}};
  while (!ranges.empty()) {
    const Range range = ranges.back();
    ranges.pop_back();
    if (range.count < kSmallRange) {
      for (std::size_t i = range.first + 1; i < range.first + range.count; ++i) {
        for (std::size_t j = i; j > range.first && less(j, j - 1); --j) {
          std::swap(words[j], words[j - 1]);
          std::swap(next[j], next[j - 1]);
          std::swap(lengths[j], lengths[j - 1]);
        }
      }
    } else if (range.digit < key_bytes_) {
      const int shift = 56 - 8 * range.digit;
      distribute(
          words, next, lengths, range,
          [shift](std::uint64_t word, std::uint64_t, std::uint8_t) {
            return static_cast<unsigned>((word >> shift) & 0xFF);
          },
          ranges);
    } else if (range.digit < key_bytes_ + 8) {
      const int shift = 56 - 8 * (range.digit - key_bytes_);
      distribute(
          words, next, lengths, range,
          [shift](std::uint64_t, std::uint64_t next_key, std::uint8_t) {
            return static_cast<unsigned>((next_key >> shift) & 0xFF);
          },
          ranges);
    } else {
      distribute(words, next, lengths, range, rest_digit, ranges);
    }
  }
}

// One digit of the flag sort over `range`; the buckets of more than one name are queued for the
// next digit, up to the last (what is left of the names).
template <class Digit>
void NameSort::distribute(std::uint64_t* words, std::uint64_t* next, std::uint8_t* lengths,
                          Range range, Digit digit, std::vector<Range>& ranges) const {
  const std::size_t first = range.first;
  const bool more = range.digit < key_bytes_ + 8;
  std::array<std::size_t, 257> bucket_start{};
  for (std::size_t i = first; i < first + range.count; ++i)
    ++bucket_start[digit(words[i], next[i], lengths[i]) + 1];
  if (bucket_start[digit(words[first], next[first], lengths[first]) + 1] == range.count) {
    // One shared digit: nothing moves.
    if (more) ranges.push_back({first, range.count, range.digit + 1});
    return;
  }
  for (std::size_t b = 1; b < 257; ++b)
    bucket_start[b] += bucket_start[b - 1];
  std::array<std::size_t, 256> fill;
  for (std::size_t b = 0; b < 256; ++b)
    fill[b] = first + bucket_start[b];
  // Each name is carried to its bucket, displacing the one there, until one of this bucket comes
  // back.
  for (std::size_t b = 0; b < 256; ++b) {
    const std::size_t bucket_end = first + bucket_start[b + 1];
    while (fill[b] < bucket_end) {
      std::uint64_t word = words[fill[b]];
      std::uint64_t next_key = next[fill[b]];
      std::uint8_t length = lengths[fill[b]];
      unsigned d = digit(word, next_key, length);
      while (d != b) {
        const std::size_t to = fill[d]++;
        std::swap(word, words[to]);
        std::swap(next_key, next[to]);
        std::swap(length, lengths[to]);
        d = digit(word, next_key, length);
      }
      words[fill[b]] = word;
      next[fill[b]] = next_key;
      lengths[fill[b]] = length;
      ++fill[b];
    }
  }
  if (!more) return;
  for (std::size_t b = 0; b < 256; ++b) {
    const std::size_t bucket_size = bucket_start[b + 1] - bucket_start[b];
    if (bucket_size > 1) ranges.push_back({first + bucket_start[b], bucket_size, range.digit + 1});
  }
}

}  // namespace orvik

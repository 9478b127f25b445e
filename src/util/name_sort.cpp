#include "util/name_sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

#include "util/memory.hpp"

namespace orvik {
namespace {

// How far ahead the bytes of names are fetched when their next keys are taken.
constexpr std::size_t kAhead = 64;
// Ranges shorter than this are sorted by insertion.
constexpr std::size_t kSmallRange = 32;

}  // namespace

// Positions take at most 48 bits, as memory does; the bit above them marks repeats, which leaves
// room for one byte of key at least.
NameSort::NameSort(std::string_view first, std::string_view second, std::size_t most_names)
    : first_(first),
      second_(second),
      split_(first.size()),
      offset_bits_(std::bit_width(first.size() + second.size())),
      key_bytes_((63 - offset_bits_) / 8),
      key_shift_(64 - 8 * key_bytes_) {
  for (std::vector<std::uint64_t>* words : {&words_, &next_}) {
    words->reserve(most_names);
    prefer_huge_pages(words->data(), words->capacity() * sizeof(std::uint64_t));
  }
  lengths_.reserve(most_names);
}

std::size_t NameSort::long_length(std::size_t position) const {
  const auto found = std::lower_bound(long_lengths_.begin(), long_lengths_.end(), position,
                                      [](const std::pair<std::size_t, std::size_t>& entry,
                                         std::size_t p) { return entry.first < p; });
  return found->second;
}

// What is left of the name from `depth` on, counted up to one more than the bytes a key holds:
// among names whose keys agree, those that end inside the key come first, shortest first, and only
// those that go on past it need their next bytes read.
unsigned NameSort::rest(std::uint64_t word, std::uint8_t length_byte, std::size_t depth) const {
  const std::size_t past_key = static_cast<std::size_t>(key_bytes_) + 9;
  return static_cast<unsigned>(
      std::min(length(word, length_byte, depth + past_key) - depth, past_key));
}

// Names [begin, end) are equal: all but the first are marked as repeats.
void NameSort::mark_repeats(std::size_t begin, std::size_t end) {
  for (std::size_t i = begin + 1; i < end; ++i)
    words_[i] |= std::uint64_t{1} << offset_bits_;
}

void NameSort::sort() {
  std::sort(long_lengths_.begin(), long_lengths_.end());
  const std::size_t count = size();
  bool sorted = true;
  for (std::size_t i = 1; i < count && sorted; ++i)
    sorted = !(name(i) < name(i - 1));
  if (sorted) {
    for (std::size_t i = 1; i < count; ++i) {
      if (name(i) == name(i - 1)) mark_repeats(i - 1, i + 1);
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
        const Keys keys = keys_at(position(words[i]),
                                  length(words[i], lengths[i], group.depth + step), group.depth);
        words[i] = keys.word;
        next[i] = keys.next;
      }
    }
    sort_by_keys(words, next, lengths, count, group.depth);
    const auto same_key = [&](std::size_t a, std::size_t b) {
      return words[a] >> key_shift_ == words[b] >> key_shift_ && next[a] == next[b];
    };
    for (std::size_t i = 0; i < count;) {
      // Most names share their key with no other: what is left of them does not matter.
      if (i + 1 == count || !same_key(i, i + 1)) {
        ++i;
        continue;
      }
      const unsigned left = rest(words[i], lengths[i], group.depth);
      std::size_t j = i + 1;
      while (j < count && same_key(i, j) && rest(words[j], lengths[j], group.depth) == left)
        ++j;
      if (left > step && j - i > 1) {
        groups.push_back({group.begin + i, group.begin + j, group.depth + step});
      } else {
        mark_repeats(group.begin + i, group.begin + j);
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

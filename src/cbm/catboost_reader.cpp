#include "cbm/catboost_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

#include <fmt/core.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cbm/brace_scan.hpp"
#include "cbm/compact_json.hpp"
#include "util/file.hpp"
#include "util/json.hpp"
#include "util/memory.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kMagic = "CBM1";

// Key names of the format itself, which look like feature names but never are.
constexpr std::array<std::string_view, 22> kStopList = {
    "model_guid",
    "feature_id",
    "flat_params",
    "feature_index",
    "features_info",
    "output_options",
    "float_features",
    "feature_calcers",
    "boosting_options",
    "learn_best_error",
    "tokenizers_names",
    "train_finish_time",
    "cat_feature_params",
    "feature_processing",
    "dictionaries_names",
    "static_provider_v1",
    "tree_learner_options",
    "test_metrics_history",
    "categorical_features",
    "learn_metrics_history",
    "catboost_version_info",
    "data_processing_options",
};

bool is_printable(unsigned char c) {
  return static_cast<unsigned char>(c - 0x20) < 0x5F;
}

// Bit 0 for the bytes a feature name is made of ([a-z0-9_]), bit 1 for the underscore.
constexpr std::array<std::uint8_t, 256> make_name_bytes() {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 'a'; c <= 'z'; ++c)
    classes[c] = 1;
  for (int c = '0'; c <= '9'; ++c)
    classes[c] = 1;
  classes['_'] = 3;
  return classes;
}

constexpr std::array<std::uint8_t, 256> kNameBytes = make_name_bytes();

bool is_feature_name_candidate(std::string_view run) {
  if (run.size() < 6 || run.size() > 80) return false;
  if (run.front() < 'a' || run.front() > 'z') return false;
  // No branch per byte: names mix letters and digits unpredictably.
  unsigned every = 1;
  unsigned any = 0;
  for (const char c : run) {
    const unsigned name_byte = kNameBytes[static_cast<unsigned char>(c)];
    every &= name_byte;
    any |= name_byte;
  }
  if (every == 0 || (any & 2) == 0) return false;
  return std::find(kStopList.begin(), kStopList.end(), run) == kStopList.end();
}

// Bit j set where byte j of the 64 at `block` is printable (0x20..0x7E).
#if defined(__SSE2__)
std::uint64_t printable_mask(const unsigned char* block) {
  std::uint64_t mask = 0;
  for (int part = 0; part < 4; ++part) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
    // Signed comparison: 0x80..0xFF are negative, so this is 0x20..0x7F.
    const __m128i from_space = _mm_cmpgt_epi8(bytes, _mm_set1_epi8(0x1F));
    const __m128i del = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F));
    const auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(del, from_space)));
    mask |= static_cast<std::uint64_t>(bits) << (16 * part);
  }
  return mask;
}
#else
std::uint64_t printable_mask(const unsigned char* block) {
  std::uint64_t mask = 0;
  for (unsigned j = 0; j < 64; ++j) {
    if (is_printable(block[j])) mask |= std::uint64_t{1} << j;
  }
  return mask;
}
#endif

// Calls visit(start, end) for every printable run of 3 bytes or more, in file order. Works on
// 64-byte masks: only the non-printable bytes that end a long enough run cost anything.
template <class Visit>
void for_each_printable_run(std::string_view bytes, Visit&& visit) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t run_start = 0;   // just past the last non-printable byte
  std::uint64_t previous = 0;  // printable mask of the block before
  std::size_t base = 0;
  for (; size - base >= 64; base += 64) {
    const std::uint64_t printable = printable_mask(data + base);
    const std::uint64_t other = ~printable;
    if (other != 0) {
      // Non-printable bytes preceded by three printable ones end a run of 3 bytes or more.
      std::uint64_t ends = other & ((printable << 1) | (previous >> 63)) &
                           ((printable << 2) | (previous >> 62)) &
                           ((printable << 3) | (previous >> 61));
      while (ends != 0) {
        const int j = std::countr_zero(ends);
        ends &= ends - 1;
        const std::uint64_t before = other & ((std::uint64_t{1} << j) - 1);
        const std::size_t start =
            before != 0 ? base + 64 - static_cast<std::size_t>(std::countl_zero(before))
                        : run_start;
        visit(start, base + static_cast<std::size_t>(j));
      }
      run_start = base + 64 - static_cast<std::size_t>(std::countl_zero(other));
    }
    previous = printable;
  }
  for (std::size_t i = base; i < size; ++i) {
    if (is_printable(data[i])) continue;
    if (i - run_start >= 3) visit(run_start, i);
    run_start = i + 1;
  }
  if (size - run_start >= 3) visit(run_start, size);
}

// A cheap hash of a byte string (its length and its first and last eight bytes), enough to
// spread the slots of a cache whose hits are confirmed by comparing the bytes.
std::uint64_t quick_hash(std::string_view text) {
  std::uint64_t head = 0;
  std::uint64_t tail = 0;
  std::memcpy(&head, text.data(), std::min<std::size_t>(8, text.size()));
  if (text.size() > 8) std::memcpy(&tail, text.data() + text.size() - 8, 8);
  return ((head * 0x9E3779B97F4A7C15u) ^ (tail * 0xC2B2AE3D27D4EB4Fu) ^ text.size()) *
         0x165667B19E3779F9u;
}

// What the printable runs contribute: feature-name candidates and the run stored just before the
// first "train_finish_time" key. A file can hold millions of candidates, so each is kept in one
// 64-bit word (its offset in the low bits and its first few bytes in the high bits, for sorting)
// and a byte of length (names are at most 80 bytes long); the eight bytes after the word's wait
// in a second word until the names are sorted.
class RunFindings {
 public:
  explicit RunFindings(std::string_view bytes)
      : bytes_(bytes),
        offset_bits_(std::bit_width(bytes.size())),
        key_bytes_((64 - offset_bits_) / 8),
        key_shift_(64 - 8 * key_bytes_) {
    recent_.fill(Recent{});
    // A candidate takes 6 bytes and ends at a byte that is not printable: this many at most.
    // Reserved pages that are never written cost no memory.
    const std::size_t most = bytes.size() / 7 + 1;
    for (std::vector<std::uint64_t>* words : {&candidates_, &next_keys_}) {
      words->reserve(most);
      prefer_huge_pages(words->data(), words->capacity() * sizeof(std::uint64_t));
    }
    lengths_.reserve(most);
  }

  void add(std::size_t start, std::size_t end) {
    const std::string_view run = bytes_.substr(start, end - start);
    if (!finish_key_seen_) {
      if (run == "train_finish_time") {
        finish_key_seen_ = true;
        train_finish_time_ = previous_run_;
      } else {
        previous_run_ = run;
      }
    }
    if (!is_feature_name_candidate(run)) return;
    // A name repeated throughout a file is mostly kept once, not once per occurrence (the other
    // repeats are marked once the names are in order). The hash is compared first: the bytes of a
    // slot's name lie anywhere in the file.
    const std::uint64_t hash = quick_hash(run);
    Recent& slot = recent_[hash >> (64 - kRecentBits)];
    if (slot.hash == hash && slot.name == run) return;
    slot = Recent{hash, run};
    // The first sort keys are taken now, while the bytes are at hand.
    candidates_.push_back(word(start, run.size(), 0));
    next_keys_.push_back(name_bytes(start, run.size(), static_cast<std::size_t>(key_bytes_), 8));
    lengths_.push_back(static_cast<std::uint8_t>(run.size()));
    list_bytes_ += run.size() + 1;
  }

  std::optional<std::string_view> train_finish_time() const { return train_finish_time_; }

  // The candidates in ascending byte order, each once.
  NameList feature_names() {
    // Names written in order (the usual case) need no sorting. Equal names end up adjacent, and
    // all but the first of them get length 0.
    bool sorted = true;
    for (std::size_t i = 1; i < candidates_.size() && sorted; ++i)
      sorted = !(name(i) < name(i - 1));
    if (sorted) {
      std::string_view last;
      for (std::size_t i = 0; i < candidates_.size(); ++i) {
        if (name(i) == last) {
          lengths_[i] = 0;
        } else {
          last = name(i);
        }
      }
    } else {
      sort_candidates();
    }
    std::vector<std::uint64_t>().swap(next_keys_);
    NameList names;
    names.reserve(list_bytes_);  // enough; room never written costs no memory
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
      if (i + kAhead < candidates_.size())
        __builtin_prefetch(bytes_.data() + offset(candidates_[i + kAhead]));
      if (lengths_[i] != 0) names.push_back(bytes_.substr(offset(candidates_[i]), lengths_[i]));
    }
    return names;
  }

 private:
  static constexpr int kRecentBits = 12;
  // How far ahead the bytes of names are fetched when walking the candidates in sorted order.
  static constexpr std::size_t kAhead = 64;

  struct Recent {
    std::uint64_t hash = 0;
    std::string_view name;  // empty: no run of a name matches it
  };

  std::size_t offset(std::uint64_t candidate) const {
    return static_cast<std::size_t>(candidate & ((std::uint64_t{1} << offset_bits_) - 1));
  }

  // The name of candidate `i`.
  std::string_view name(std::size_t i) const {
    return bytes_.substr(offset(candidates_[i]), lengths_[i]);
  }

  // `count` bytes of the name of `length` bytes at `start` from `depth` on, zeros past its end,
  // as one big-endian number.
  std::uint64_t name_bytes(std::size_t start, std::size_t length, std::size_t depth,
                           int count) const {
    std::uint64_t bytes = 0;
    for (int k = 0; k < count; ++k) {
      const std::size_t at = depth + static_cast<std::size_t>(k);
      bytes = (bytes << 8) | (at < length ? static_cast<unsigned char>(bytes_[start + at]) : 0u);
    }
    return bytes;
  }

  // The word of the name of `length` bytes at `start`: its offset, and above it as many of its
  // bytes from `depth` on as fit.
  std::uint64_t word(std::size_t start, std::size_t length, std::size_t depth) const {
    return (name_bytes(start, length, depth, key_bytes_) << key_shift_) | start;
  }

  // Sorts by name. The candidates of a group (at first all of them, keyed when they were added)
  // are sorted by their key bytes: those in the word, then the next eight; candidates with equal
  // keys form the groups of the next step, which takes the bytes after those as keys, until the
  // names end. So the bytes of a name, which lie all over the file, are read a dozen or so at a
  // time, ahead of their use, and the sorting runs on the keys alone. Offsets take at most 49
  // bits, as files do, which leaves room for one byte of key at least.
  void sort_candidates() {
    struct Group {
      std::size_t begin, end, depth;
    };
    const std::size_t step = static_cast<std::size_t>(key_bytes_) + 8;
    std::vector<Group> groups{{0, candidates_.size(), 0}};
    while (!groups.empty()) {
      const Group group = groups.back();
      groups.pop_back();
      std::uint64_t* const words = candidates_.data() + group.begin;
      std::uint64_t* const next = next_keys_.data() + group.begin;
      std::uint8_t* const lengths = lengths_.data() + group.begin;
      const std::size_t count = group.end - group.begin;
      if (group.depth != 0) {
        for (std::size_t i = 0; i < count; ++i) {
          if (i + kAhead < count)
            __builtin_prefetch(bytes_.data() + offset(words[i + kAhead]) + group.depth);
          const std::size_t start = offset(words[i]);
          words[i] = word(start, lengths[i], group.depth);
          next[i] =
              name_bytes(start, lengths[i], group.depth + static_cast<std::size_t>(key_bytes_), 8);
        }
      }
      sort_by_keys(words, next, lengths, count);
      // Names hold no 0 byte: keys ending in one end their names, and equal keys then mean equal
      // names, of which only the first keeps its length.
      for (std::size_t i = 0; i < count;) {
        std::size_t j = i + 1;
        while (j < count && same_key(words, next, i, j))
          ++j;
        if ((next[i] & 0xFF) != 0) {
          if (j - i > 1) groups.push_back({group.begin + i, group.begin + j, group.depth + step});
        } else {
          std::fill(lengths + i + 1, lengths + j, std::uint8_t{0});
        }
        i = j;
      }
    }
  }

  bool same_key(const std::uint64_t* words, const std::uint64_t* next, std::size_t i,
                std::size_t j) const {
    return words[i] >> key_shift_ == words[j] >> key_shift_ && next[i] == next[j];
  }

  // Sorts the candidates by their key bytes (the rest in any order), a byte at a time: each is
  // swapped straight into its bucket (American flag sort); small ranges are sorted by insertion.
  void sort_by_keys(std::uint64_t* words, std::uint64_t* next, std::uint8_t* lengths,
                    std::size_t count) const {
    struct Range {
      std::size_t first, count;
      int byte;
    };
    const int key_length = key_bytes_ + 8;
    const auto swap = [&](std::size_t a, std::size_t b) {
      std::swap(words[a], words[b]);
      std::swap(next[a], next[b]);
      std::swap(lengths[a], lengths[b]);
    };
    std::vector<Range> ranges{{0, count, 0}};
    while (!ranges.empty()) {
      const Range range = ranges.back();
      ranges.pop_back();
      if (range.count < 32) {
        const auto less = [&](std::size_t a, std::size_t b) {
          return words[a] >> key_shift_ != words[b] >> key_shift_
                     ? words[a] >> key_shift_ < words[b] >> key_shift_
                     : next[a] < next[b];
        };
        for (std::size_t i = range.first + 1; i < range.first + range.count; ++i) {
          for (std::size_t j = i; j > range.first && less(j, j - 1); --j)
            swap(j, j - 1);
        }
        continue;
      }
      // Byte b of a key is in the word for b < key_bytes_, else in the next key.
      const bool in_word = range.byte < key_bytes_;
      const int shift = 56 - 8 * (in_word ? range.byte : range.byte - key_bytes_);
      const auto digit_of = [&](std::uint64_t word, std::uint64_t next_key) {
        return static_cast<unsigned>(((in_word ? word : next_key) >> shift) & 0xFF);
      };
      std::array<std::size_t, 257> bucket_start{};
      for (std::size_t i = range.first; i < range.first + range.count; ++i)
        ++bucket_start[digit_of(words[i], next[i]) + 1];
      const bool more = range.byte + 1 < key_length;
      if (bucket_start[digit_of(words[range.first], next[range.first]) + 1] == range.count) {
        // One shared byte: nothing moves.
        if (more) ranges.push_back({range.first, range.count, range.byte + 1});
        continue;
      }
      for (std::size_t b = 1; b < 257; ++b)
        bucket_start[b] += bucket_start[b - 1];
      std::array<std::size_t, 256> fill;
      for (std::size_t b = 0; b < 256; ++b)
        fill[b] = range.first + bucket_start[b];
      // Each candidate is carried to its bucket, displacing the one there, until one of this
      // bucket comes back.
      for (std::size_t b = 0; b < 256; ++b) {
        const std::size_t bucket_end = range.first + bucket_start[b + 1];
        while (fill[b] < bucket_end) {
          std::uint64_t word = words[fill[b]];
          std::uint64_t next_key = next[fill[b]];
          std::uint8_t length = lengths[fill[b]];
          unsigned d = digit_of(word, next_key);
          while (d != b) {
            const std::size_t to = fill[d]++;
            std::swap(word, words[to]);
            std::swap(next_key, next[to]);
            std::swap(length, lengths[to]);
            d = digit_of(word, next_key);
          }
          words[fill[b]] = word;
          next[fill[b]] = next_key;
          lengths[fill[b]] = length;
          ++fill[b];
        }
      }
      if (!more) continue;
      for (std::size_t b = 0; b < 256; ++b) {
        const std::size_t size = bucket_start[b + 1] - bucket_start[b];
        if (size > 1) ranges.push_back({range.first + bucket_start[b], size, range.byte + 1});
      }
    }
  }

  std::string_view bytes_;
  int offset_bits_;
  int key_bytes_;
  int key_shift_;
  std::vector<std::uint64_t> candidates_;  // key << key_shift_ | offset
  std::vector<std::uint64_t> next_keys_;   // the next eight bytes of each name, while sorting
  std::vector<std::uint8_t> lengths_;      // of each name; 0 for a repeat once sorted
  std::size_t list_bytes_ = 0;             // of the candidates, each with a line feed
  std::array<Recent, std::size_t{1} << kRecentBits> recent_;
  std::optional<std::string_view> previous_run_;
  std::optional<std::string_view> train_finish_time_;
  bool finish_key_seen_ = false;
};

// Both fingerprints over the file, fed range by range in file order: the whole-file hash always,
// the learned-state hash only outside embedded JSON. Two independent chains in one loop cost about
// as much as one. Ranges for the whole-file hash alone are only marked and hashed in one go when
// the learned state next needs bytes, so millions of adjacent embedded values cost one call.
class Fingerprints {
 public:
  explicit Fingerprints(std::string_view bytes) : bytes_(bytes) {}

  void feed(std::size_t start, std::size_t end, bool learned_too) {
    if (!learned_too || start == end) return;
    file_ = fnv1a64(file_, bytes_.substr(hashed_, start - hashed_));
    fnv1a64_pair(file_, learned_, bytes_.substr(start, end - start));
    hashed_ = end;
  }

  Fingerprint file() const { return fnv1a64(file_, bytes_.substr(hashed_)); }
  Fingerprint learned() const { return learned_; }

 private:
  std::string_view bytes_;
  std::size_t hashed_ = 0;  // bytes before it are in file_
  Fingerprint file_ = kFnvOffsetBasis;
  Fingerprint learned_ = kFnvOffsetBasis;
};

// The compact texts of the embedded values, each kept once in one arena and counted: a file can
// embed millions of values, mostly the same few. Short spans seen before are recognised by their
// bytes and only counted, without parsing them again.
class CompactTexts {
 public:
  CompactTexts() { cache_.fill(CachedSpan{}); }
  CompactTexts(const CompactTexts&) = delete;
  CompactTexts& operator=(const CompactTexts&) = delete;

  // The compact rewrite of a brace span, kept and counted; nothing when the span is not UTF-8 or
  // not JSON.
  std::optional<CompactFlags> add(std::string_view span) {
    CachedSpan* slot = nullptr;
    if (span.size() <= kCachedSpanBytes) {
      // Floods repeat one span: the slot of the last one is tried first.
      slot = last_ != nullptr && last_->span == span
                 ? last_
                 : &cache_[quick_hash(span) >> (64 - kCacheBits)];
      last_ = slot;
      if (slot->span.data() != nullptr && slot->span == span) {
        if (slot->item == kNotJson) return std::nullopt;
        count_again(slot->item);
        last_item_ = &slot->item;
        return slot->flags;
      }
    }
    std::optional<CompactFlags> flags;
    const std::size_t offset = arena_.size();
    // The compact text is seldom longer than the span: room for it at once rather than by
    // doubling as it grows (room never written costs no memory).
    if (span.size() > kCachedSpanBytes && arena_.capacity() - arena_.size() <= span.size()) {
      arena_.reserve(arena_.size() + span.size() + 1);
      prefer_huge_pages(arena_.data(), arena_.capacity());
    }
    flags = append_compact_json(span, arena_);
    if (flags) {
      arena_.push_back('\n');
      items_.push_back(static_cast<std::uint64_t>(offset) << kCountBits);
    }
    if (slot != nullptr) {
      *slot =
          CachedSpan{span, flags ? items_.size() - 1 : kNotJson, flags.value_or(CompactFlags{})};
      last_item_ = &slot->item;
    } else {
      long_item_ = items_.size() - 1;
      last_item_ = &long_item_;
    }
    return flags;
  }

  // `times` more occurrences of the text last added, which was JSON.
  void count_last_again(std::uint64_t times) { count_again(*last_item_, times); }

  bool empty() const { return items_.empty(); }

  // fnv1a64 of every text, as often as it occurred, in ascending byte order, joined by "\n".
  Fingerprint fingerprint() {
    std::sort(items_.begin(), items_.end(),
              [this](std::uint64_t a, std::uint64_t b) { return text(a) < text(b); });
    Fingerprint state = kFnvOffsetBasis;
    for (std::size_t i = 0; i < items_.size(); ++i) {
      // The text with its "\n" for every occurrence but the very last.
      const std::string_view text_and_newline(text(items_[i]).data(), text(items_[i]).size() + 1);
      std::uint64_t occurrences = (items_[i] & kCountMask) + 1;
      if (i + 1 == items_.size()) --occurrences;
      for (std::uint64_t n = 0; n < occurrences; ++n) {
        for (const char c : text_and_newline)
          state = fnv1a64_step(state, static_cast<unsigned char>(c));
      }
      if (i + 1 == items_.size()) state = fnv1a64(state, text(items_[i]));
    }
    return state;
  }

 private:
  static constexpr int kCountBits = 20;
  static constexpr std::uint64_t kCountMask = (std::uint64_t{1} << kCountBits) - 1;
  static constexpr std::size_t kCachedSpanBytes = 256;
  static constexpr int kCacheBits = 12;
  static constexpr std::size_t kNotJson = ~std::size_t{0};

  struct CachedSpan {
    std::string_view span;
    std::size_t item = kNotJson;  // the span's text in items_, or kNotJson
    CompactFlags flags;
  };

  // The text of an item, without its "\n" (compact JSON never holds a raw line feed).
  std::string_view text(std::uint64_t item) const {
    const char* start = arena_.data() + (item >> kCountBits);
    const auto* end = static_cast<const char*>(
        std::memchr(start, '\n', arena_.size() - static_cast<std::size_t>(start - arena_.data())));
    return std::string_view(start, static_cast<std::size_t>(end - start));
  }

  // More occurrences; a full count continues in a new item with the same text.
  void count_again(std::size_t& item, std::uint64_t times = 1) {
    while (times != 0) {
      const std::uint64_t room = kCountMask - (items_[item] & kCountMask);
      if (room == 0) {
        items_.push_back(items_[item] & ~kCountMask);
        item = items_.size() - 1;
        --times;
        continue;
      }
      const std::uint64_t added = std::min(room, times);
      items_[item] += added;
      times -= added;
    }
  }

  std::string arena_;                 // every text followed by "\n"
  std::vector<std::uint64_t> items_;  // arena offset << kCountBits | (occurrences - 1)
  std::array<CachedSpan, std::size_t{1} << kCacheBits> cache_;
  CachedSpan* last_ = nullptr;
  std::size_t long_item_ = kNotJson;      // the item of the last text too long to cache
  std::size_t* last_item_ = &long_item_;  // where the item of the last text added is kept
};

// How many bytes from `from` on repeat the bytes `period` before them (bytes[i] == bytes[i -
// period]), compared a block at a time. `from` must be at least `period`.
std::size_t periodic_length(std::string_view bytes, std::size_t from, std::size_t period) {
  constexpr std::size_t kBlock = 4096;
  const char* data = bytes.data();
  std::size_t at = from;
  while (bytes.size() - at >= kBlock && std::memcmp(data + at, data + at - period, kBlock) == 0)
    at += kBlock;
  const char* end = data + std::min(bytes.size(), at + kBlock);
  return static_cast<std::size_t>(std::mismatch(data + at, end, data + at - period).first - data) -
         from;
}

// The value tree of a chosen object without what is nested more than three levels down: the
// fields read from it are no deeper, and a hostile object nested a million levels deep would
// cost a tree node per level.
std::optional<JsonValue> parse_shallow(std::string_view text) {
  const JsonValue::parser_callback_t keep_shallow = [](int depth, JsonValue::parse_event_t,
                                                       JsonValue&) { return depth <= 3; };
  try {
    JsonValue value = JsonValue::parse(text.begin(), text.end(), keep_shallow, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
  } catch (const std::bad_alloc&) {
    throw;  // not a property of the text: memory ran out, which main reports
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

const JsonValue* member(const JsonValue* value, std::string_view key) {
  if (value == nullptr || !value->is_object()) return nullptr;
  const auto it = value->find(key);
  return it == value->end() ? nullptr : &*it;
}

const JsonValue* at_path(const JsonValue* value, std::initializer_list<std::string_view> keys) {
  for (const std::string_view key : keys)
    value = member(value, key);
  return value;
}

// The first source holding a value of the wanted type; sources of another type are skipped.
// "-0" reads as the integer 0, which the library keeps as a signed zero: it still qualifies.
std::optional<std::uint64_t> first_unsigned(std::initializer_list<const JsonValue*> sources) {
  for (const JsonValue* source : sources) {
    if (source == nullptr) continue;
    if (source->is_number_unsigned()) return source->get<std::uint64_t>();
    if (source->is_number_integer() && source->get<std::int64_t>() == 0) return 0;
  }
  return std::nullopt;
}

std::optional<double> first_number(std::initializer_list<const JsonValue*> sources) {
  for (const JsonValue* source : sources) {
    if (source != nullptr && source->is_number()) return source->get<double>();
  }
  return std::nullopt;
}

std::optional<std::string> first_string(std::initializer_list<const JsonValue*> sources) {
  for (const JsonValue* source : sources) {
    if (source != nullptr && source->is_string()) return source->get<std::string>();
  }
  return std::nullopt;
}

void fill_training_fields(CatBoostSummary& summary, const JsonValue* params,
                          const JsonValue* metrics_object) {
  const JsonValue* flat = member(params, "flat_params");
  const JsonValue* tree = member(params, "tree_learner_options");
  const JsonValue* metrics = member(params, "metrics");
  summary.iterations = first_unsigned(
      {member(flat, "iterations"), at_path(params, {"boosting_options", "iterations"})});
  summary.depth = first_unsigned({member(flat, "depth"), member(tree, "depth")});
  summary.learning_rate = first_number(
      {member(flat, "learning_rate"), at_path(params, {"boosting_options", "learning_rate"})});
  summary.l2_leaf_reg = first_number({member(flat, "l2_leaf_reg"), member(tree, "l2_leaf_reg")});
  summary.loss =
      first_string({member(flat, "loss_function"), at_path(params, {"loss_function", "type"})});
  summary.eval_metric = first_string({at_path(metrics, {"eval_metric", "type"})});
  summary.grow_policy = first_string({member(tree, "grow_policy")});
  summary.bootstrap = first_string({at_path(tree, {"bootstrap", "type"})});
  summary.best_learn_rmse =
      first_number({at_path(metrics_object, {"metrics", "learn_best_error", "RMSE"})});
}

}  // namespace

std::vector<std::string_view> extract_printable_runs(std::string_view bytes) {
  std::vector<std::string_view> runs;
  for_each_printable_run(bytes, [&](std::size_t start, std::size_t end) {
    runs.push_back(bytes.substr(start, end - start));
  });
  return runs;
}

Result<CatBoostSummary> read_catboost(const std::string& path) {
  // A file without the signature is refused after a look at its first page.
  const auto has_magic = [](std::string_view bytes) { return bytes.starts_with(kMagic); };
  return parse_file(path, has_magic,
                    [&](std::string_view bytes) { return read_catboost_bytes(path, bytes); });
}

Result<CatBoostSummary> read_catboost_bytes(const std::string& path, std::string_view bytes) {
  if (bytes.size() < kMagic.size() || bytes.substr(0, kMagic.size()) != kMagic) {
    return fail(
        fmt::format("{} does not look like a CatBoost CBM file: missing CBM1 signature", path));
  }

  Fingerprints fingerprints(bytes);
  std::size_t position = 0;  // bytes before it are fed to the fingerprints
  CompactTexts texts;
  std::optional<JsonValue> params;
  std::optional<JsonValue> metrics_object;
  BraceScan scan = start_brace_scan(bytes);
  while (const std::optional<BraceSpan> span = next_brace_span(scan)) {
    fingerprints.feed(position, span->start, true);
    const std::string_view text = bytes.substr(span->start, span->end - span->start);
    position = span->end;
    const std::optional<CompactFlags> compact = texts.add(text);
    // A span that is not JSON stays part of the learned state.
    fingerprints.feed(span->start, span->end, !compact);
    if (!compact) continue;
    // Copies of the value right after it are the next spans (a walk over the same bytes closes at
    // the same distance), all JSON with the same text: they are counted, not scanned, so a file
    // made of one value repeated costs a comparison of its bytes.
    const std::uint64_t copies = periodic_length(bytes, position, text.size()) / text.size();
    if (copies != 0) {
      texts.count_last_again(copies);
      position += copies * text.size();
      scan.position = position;
    }
    if (!params && compact->has_boosting_options) params = parse_shallow(text);
    if (!metrics_object && compact->has_learn_best_error) metrics_object = parse_shallow(text);
  }
  fingerprints.feed(position, bytes.size(), true);

  RunFindings runs(bytes);
  for_each_printable_run(bytes, [&](std::size_t start, std::size_t end) { runs.add(start, end); });

  CatBoostSummary summary;
  summary.path = display_name(path);
  summary.file_size_bytes = bytes.size();
  summary.has_cbm1_magic = true;
  fill_training_fields(summary, params ? &*params : nullptr,
                       metrics_object ? &*metrics_object : nullptr);
  if (runs.train_finish_time()) summary.train_finish_time = std::string(*runs.train_finish_time());
  summary.feature_names = runs.feature_names();

  summary.file_fingerprint = fingerprints.file();
  if (!texts.empty()) summary.metadata_fingerprint = texts.fingerprint();
  summary.learned_state_fingerprint = fingerprints.learned();
  return summary;
}

bool catboost_config_equal(const CatBoostSummary& a, const CatBoostSummary& b) {
  // optional comparison: two absent values are equal, absent and present are not, and present
  // floats compare by floating-point equality.
  return a.loss == b.loss && a.eval_metric == b.eval_metric && a.learning_rate == b.learning_rate &&
         a.l2_leaf_reg == b.l2_leaf_reg && a.grow_policy == b.grow_policy &&
         a.bootstrap == b.bootstrap;
}

}  // namespace orvik

#include "cbm/catboost_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <exception>
#include <utility>

#include <fmt/core.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cbm/brace_scan.hpp"
#include "cbm/compact_json.hpp"
#include "cbm/json_syntax.hpp"
#include "util/file.hpp"
#include "util/json.hpp"
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

bool is_feature_name_candidate(std::string_view run) {
  if (run.size() < 6 || run.size() > 80) return false;
  if (run.front() < 'a' || run.front() > 'z') return false;
  bool underscore = false;
  for (const char c : run) {
    if (c == '_') {
      underscore = true;
    } else if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
      return false;
    }
  }
  return underscore && std::find(kStopList.begin(), kStopList.end(), run) == kStopList.end();
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
// first "train_finish_time" key. A file can hold millions of candidates, so each is kept as its
// offset and length in one 64-bit word (names are at most 80 bytes long).
class RunFindings {
 public:
  explicit RunFindings(std::string_view bytes) : bytes_(bytes) {
    recent_.fill(kEmpty);
    // A candidate takes 6 bytes and ends at a byte that is not printable: this many at most.
    // Reserved pages that are never written cost no memory.
    candidates_.reserve(bytes.size() / 7 + 1);
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
    // A name repeated throughout a file is mostly listed once, not once per occurrence (the rest
    // go when the list is sorted).
    std::uint64_t& slot = recent_[quick_hash(run) >> (64 - kRecentBits)];
    if (slot != kEmpty && name(slot) == run) return;
    slot = (static_cast<std::uint64_t>(start) << 7) | run.size();
    candidates_.push_back(slot);
  }

  std::optional<std::string_view> train_finish_time() const { return train_finish_time_; }

  // The candidates in ascending byte order, each once.
  NameList feature_names() {
    const auto less = [this](std::uint64_t a, std::uint64_t b) { return name(a) < name(b); };
    // Names written in order (the usual case) need no sorting.
    if (!std::is_sorted(candidates_.begin(), candidates_.end(), less)) sort_candidates();
    const auto same = [this](std::uint64_t a, std::uint64_t b) { return name(a) == name(b); };
    candidates_.erase(std::unique(candidates_.begin(), candidates_.end(), same), candidates_.end());
    std::size_t bytes = 0;
    for (const std::uint64_t candidate : candidates_)
      bytes += name(candidate).size() + 1;
    NameList names;
    names.reserve(bytes);
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
      if (i + 16 < candidates_.size())
        __builtin_prefetch(bytes_.data() + (candidates_[i + 16] >> 7));
      names.push_back(name(candidates_[i]));
    }
    return names;
  }

 private:
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  static constexpr int kRecentBits = 12;

  std::string_view name(std::uint64_t candidate) const {
    return bytes_.substr(candidate >> 7, candidate & 0x7F);
  }

  // Byte `depth` of a candidate's name, 0 past its end (names hold no 0 byte, so a name sorts
  // before the longer names it begins).
  unsigned char byte_at(std::uint64_t candidate, std::size_t depth) const {
    return depth < (candidate & 0x7F) ? static_cast<unsigned char>(bytes_[(candidate >> 7) + depth])
                                      : 0;
  }

  // Sorts by name in place, a byte at a time (most significant first), so that millions of
  // names cost a few passes over their bytes rather than dozens of comparisons each; small
  // ranges are finished by comparison. The names lie all over the file: each pass reads the byte
  // of every candidate once, ahead of its use, and the permutation works on the bytes read.
  void sort_candidates() {
    struct Range {
      std::size_t begin, end, depth;
    };
    constexpr std::size_t kAhead = 16;
    std::vector<unsigned char> digits;
    std::vector<Range> ranges{{0, candidates_.size(), 0}};
    while (!ranges.empty()) {
      const Range range = ranges.back();
      ranges.pop_back();
      std::uint64_t* const first = candidates_.data() + range.begin;
      const std::size_t count = range.end - range.begin;
      if (count < 64) {
        std::sort(first, first + count, [&](std::uint64_t a, std::uint64_t b) {
          return name(a).substr(range.depth) < name(b).substr(range.depth);
        });
        continue;
      }
      digits.resize(count);
      std::array<std::size_t, 257> bucket_start{};
      for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count) __builtin_prefetch(bytes_.data() + (first[i + kAhead] >> 7));
        digits[i] = byte_at(first[i], range.depth);
        ++bucket_start[digits[i] + 1];
      }
      if (bucket_start[digits[0] + 1] == count) {
        // One shared byte: nothing moves.
        if (digits[0] != 0) ranges.push_back({range.begin, range.end, range.depth + 1});
        continue;
      }
      for (std::size_t b = 1; b < 257; ++b)
        bucket_start[b] += bucket_start[b - 1];
      // Each candidate is swapped straight into its bucket (American flag sort).
      std::array<std::size_t, 256> next;
      std::copy(bucket_start.begin(), bucket_start.end() - 1, next.begin());
      for (std::size_t b = 0; b < 256; ++b) {
        while (next[b] < bucket_start[b + 1]) {
          std::uint64_t candidate = first[next[b]];
          unsigned char c = digits[next[b]];
          while (c != b) {
            const std::size_t to = next[c]++;
            std::swap(candidate, first[to]);
            std::swap(c, digits[to]);
          }
          first[next[b]] = candidate;
          digits[next[b]] = c;
          ++next[b];
        }
      }
      // Bucket 0 holds names that ended: all equal.
      for (std::size_t b = 1; b < 256; ++b) {
        if (bucket_start[b + 1] - bucket_start[b] > 1) {
          ranges.push_back(
              {range.begin + bucket_start[b], range.begin + bucket_start[b + 1], range.depth + 1});
        }
      }
    }
  }

  std::string_view bytes_;
  std::vector<std::uint64_t> candidates_;  // offset << 7 | length
  std::array<std::uint64_t, std::size_t{1} << kRecentBits> recent_;
  std::optional<std::string_view> previous_run_;
  std::optional<std::string_view> train_finish_time_;
  bool finish_key_seen_ = false;
};

// Both fingerprints over one range: the whole-file hash always, the learned-state hash only
// outside embedded JSON. Two independent chains in one loop cost about as much as one.
struct Fingerprints {
  Fingerprint file = kFnvOffsetBasis;
  Fingerprint learned = kFnvOffsetBasis;

  void feed(std::string_view range, bool learned_too) {
    if (!learned_too) {
      file = fnv1a64(file, range);
      return;
    }
    fnv1a64_pair(file, learned, range);
  }
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
  // not JSON. The quick syntax check comes first: a hostile file can hold millions of spans that
  // fail, and the JSON library's rejection (with its formatted message) is slow.
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
        return slot->flags;
      }
    }
    std::optional<CompactFlags> flags;
    const std::size_t offset = arena_.size();
    if (is_valid_utf8(span) && is_json_text(span)) {
      // The compact text is seldom longer than the span: room for it once, not doubling as it
      // grows (room never written costs no memory).
      if (span.size() > kCachedSpanBytes) arena_.reserve(arena_.size() + span.size() + 1);
      flags = append_compact_json(span, arena_);
    }
    if (flags) {
      arena_.push_back('\n');
      items_.push_back(static_cast<std::uint64_t>(offset) << kCountBits);
    }
    if (slot != nullptr) {
      *slot =
          CachedSpan{span, flags ? items_.size() - 1 : kNotJson, flags.value_or(CompactFlags{})};
    }
    return flags;
  }

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
      for (std::uint64_t n = 0; n < occurrences; ++n)
        state = fnv1a64(state, text_and_newline);
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

  // One more occurrence; a full count continues in a new item with the same text.
  void count_again(std::size_t& item) {
    if ((items_[item] & kCountMask) != kCountMask) {
      ++items_[item];
      return;
    }
    items_.push_back(items_[item] & ~kCountMask);
    item = items_.size() - 1;
  }

  std::string arena_;                 // every text followed by "\n"
  std::vector<std::uint64_t> items_;  // arena offset << kCountBits | (occurrences - 1)
  std::array<CachedSpan, std::size_t{1} << kCacheBits> cache_;
  CachedSpan* last_ = nullptr;
};

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
  const Result<std::string> bytes = read_whole_file(path);
  if (!bytes) return fail(fmt::format("read {}: {}", path, bytes.error()));
  return read_catboost_bytes(path, *bytes);
}

Result<CatBoostSummary> read_catboost_bytes(const std::string& path, std::string_view bytes) {
  if (bytes.size() < kMagic.size() || bytes.substr(0, kMagic.size()) != kMagic) {
    return fail(
        fmt::format("{} does not look like a CatBoost CBM file: missing CBM1 signature", path));
  }

  Fingerprints fingerprints;
  std::size_t position = 0;  // bytes before it are in the fingerprints
  CompactTexts texts;
  std::optional<JsonValue> params;
  std::optional<JsonValue> metrics_object;
  BraceScan scan = start_brace_scan(bytes);
  while (const std::optional<BraceSpan> span = next_brace_span(scan)) {
    fingerprints.feed(bytes.substr(position, span->start - position), true);
    const std::string_view text = bytes.substr(span->start, span->end - span->start);
    position = span->end;
    const std::optional<CompactFlags> compact = texts.add(text);
    // A span that is not JSON stays part of the learned state.
    fingerprints.feed(text, !compact);
    if (!compact) continue;
    if (!params && compact->has_boosting_options) params = parse_shallow(text);
    if (!metrics_object && compact->has_learn_best_error) metrics_object = parse_shallow(text);
  }
  fingerprints.feed(bytes.substr(position), true);

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

  summary.file_fingerprint = fingerprints.file;
  if (!texts.empty()) summary.metadata_fingerprint = texts.fingerprint();
  summary.learned_state_fingerprint = fingerprints.learned;
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

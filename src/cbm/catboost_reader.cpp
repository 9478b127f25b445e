#include "cbm/catboost_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
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
#include "util/name_sort.hpp"
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

// What the printable runs contribute: feature-name candidates and the run stored just before the
// first "train_finish_time" key. A file can hold millions of candidates; they are sorted where
// they lie, as positions and key bytes.
class RunFindings {
 public:
  // A candidate takes 6 bytes and ends at a byte that is not printable: room for this many.
  explicit RunFindings(std::string_view bytes)
      : bytes_(bytes), names_(bytes, {}, bytes.size() / 7 + 1) {
    recent_.fill(Recent{});
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
    names_.add(start, run.size());
    list_bytes_ += run.size() + 1;
  }

  std::optional<std::string_view> train_finish_time() const { return train_finish_time_; }

  // The candidates in ascending byte order, each once.
  NameList feature_names() {
    names_.sort();
    NameList names;
    names.reserve(list_bytes_);  // enough; room never written costs no memory
    for (std::size_t i = 0; i < names_.size(); ++i) {
      if (i + kAhead < names_.size()) __builtin_prefetch(names_.name(i + kAhead).data());
      if (!names_.is_repeat(i)) names.push_back(names_.name(i));
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

  std::string_view bytes_;
  NameSort names_;
  std::size_t list_bytes_ = 0;  // of the candidates, each with a line feed
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

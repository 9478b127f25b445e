#include "cbm/catboost_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
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

// What the printable runs contribute: feature-name candidates and the run stored just before the
// first "train_finish_time" key.
struct RunFindings {
  std::vector<std::string_view> candidates;
  // Candidates already listed, by a cheap hash of the name, so a name repeated throughout a
  // file is mostly listed once, not once per occurrence (the rest go when the list is sorted).
  std::array<std::string_view, 256> recent{};
  std::optional<std::string_view> previous_run;
  std::optional<std::string_view> train_finish_time;
  bool finish_key_seen = false;

  void add(std::string_view run) {
    if (!finish_key_seen) {
      if (run == "train_finish_time") {
        finish_key_seen = true;
        train_finish_time = previous_run;
      } else {
        previous_run = run;
      }
    }
    if (!is_feature_name_candidate(run)) return;
    const std::size_t slot = (run.size() * 31 + static_cast<unsigned char>(run[1]) * 7 +
                              static_cast<unsigned char>(run[run.size() - 1]) * 131 +
                              static_cast<unsigned char>(run[run.size() / 2])) %
                             recent.size();
    if (recent[slot] == run) return;
    recent[slot] = run;
    candidates.push_back(run);
  }
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

// The compact texts of the embedded values, kept in one buffer.
struct CompactTexts {
  std::string buffer;
  std::vector<std::pair<std::size_t, std::size_t>> ranges;  // offset, length

  void add(std::string_view text) {
    ranges.emplace_back(buffer.size(), text.size());
    buffer += text;
  }

  std::string_view text(const std::pair<std::size_t, std::size_t>& range) const {
    return std::string_view(buffer).substr(range.first, range.second);
  }

  // Texts in ascending byte order joined by "\n".
  Fingerprint fingerprint() {
    std::sort(ranges.begin(), ranges.end(),
              [this](const auto& a, const auto& b) { return text(a) < text(b); });
    Fingerprint state = kFnvOffsetBasis;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      if (i > 0) state = fnv1a64(state, "\n");
      state = fnv1a64(state, text(ranges[i]));
    }
    return state;
  }
};

// The compact rewrite of a brace span; nothing when the span is not UTF-8 or not JSON. The quick
// syntax check comes first: a hostile file can hold millions of spans that fail, and the JSON
// library's rejection (with its formatted message) is slow.
std::optional<CompactJson> compact_span(std::string_view text) {
  if (!is_valid_utf8(text) || !is_json_text(text)) return std::nullopt;
  return compact_json(text);
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
    const std::optional<CompactJson> compact = compact_span(text);
    // A span that is not JSON stays part of the learned state.
    fingerprints.feed(text, !compact);
    if (!compact) continue;
    texts.add(compact->text);
    if (!params && compact->has_boosting_options) params = parse_shallow(text);
    if (!metrics_object && compact->has_learn_best_error) metrics_object = parse_shallow(text);
  }
  fingerprints.feed(bytes.substr(position), true);

  RunFindings runs;
  for_each_printable_run(bytes, [&](std::size_t start, std::size_t end) {
    runs.add(bytes.substr(start, end - start));
  });

  CatBoostSummary summary;
  summary.path = display_name(path);
  summary.file_size_bytes = bytes.size();
  summary.has_cbm1_magic = true;
  fill_training_fields(summary, params ? &*params : nullptr,
                       metrics_object ? &*metrics_object : nullptr);
  if (runs.train_finish_time) summary.train_finish_time = std::string(*runs.train_finish_time);

  std::vector<std::string_view>& names = runs.candidates;
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  summary.feature_names.assign(names.begin(), names.end());

  summary.file_fingerprint = fingerprints.file;
  if (!texts.ranges.empty()) summary.metadata_fingerprint = texts.fingerprint();
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

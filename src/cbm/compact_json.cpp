#include "cbm/compact_json.hpp"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>
#include <vector>

#include "cbm/json_syntax.hpp"
#include "util/json.hpp"
#include "util/memory.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

// Start offsets of the members of the open objects, as a stack of bytes: each entry is the
// distance from the entry below it (every member starts after those below), doubled, plus one for
// the first member of its object, in base-128 digits with the high bit set on all but the last
// digit, so the stack can be read from its top down. A member of a nested object is usually a
// few bytes from the one below: one byte per open level.
class MemberStarts {
 public:
  bool empty() const { return bytes_.empty(); }
  std::size_t top() const { return top_; }

  // Room for `bytes` bytes of entries up front (see CompactWriter::expect_text_size).
  void reserve(std::size_t bytes) {
    bytes_.reserve(bytes);
    prefer_huge_pages(bytes_.data(), bytes_.capacity());
  }

  void push(std::size_t start, bool first) {
    std::uint64_t value = (static_cast<std::uint64_t>(start - top_) << 1) | (first ? 1 : 0);
    std::uint8_t digits[10];
    int count = 0;
    do {
      digits[count++] = static_cast<std::uint8_t>(value & 0x7F);
      value >>= 7;
    } while (value != 0);
    while (count > 1)
      bytes_.push_back(static_cast<std::uint8_t>(digits[--count] | 0x80));
    bytes_.push_back(digits[0]);
    top_ = start;
  }

  // Removes the top entry; returns its start and whether it was the first of its object.
  std::pair<std::size_t, bool> pop() {
    std::uint64_t value = bytes_.back() & 0x7F;
    bytes_.pop_back();
    for (int shift = 7; !bytes_.empty() && (bytes_.back() & 0x80) != 0; shift += 7) {
      value |= static_cast<std::uint64_t>(bytes_.back() & 0x7F) << shift;
      bytes_.pop_back();
    }
    const std::size_t start = top_;
    top_ -= static_cast<std::size_t>(value >> 1);
    return {start, (value & 1) != 0};
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t top_ = 0;
};

// The key of the compact member text at `at` ("key":...), unescaped. The writer escapes only '"',
// '\\' and control characters, so a quote that ends the key is the first one not after a
// backslash.
std::string member_key(std::string_view text, std::size_t at) {
  std::size_t end = at + 1;
  while (text[end] != '"')
    end += text[end] == '\\' ? 2 : 1;
  std::string key;
  unescape_json_string(text.substr(at + 1, end - at - 1), key);
  return key;
}

// Builds the compact text from the reader's events. Values are written in the order they come;
// an object whose keys do not come in strictly ascending order is written as it comes too, and
// a record lists its members in the final order, so that nothing written is ever moved (moving
// each unsorted object's text at its end would copy deeply nested text once per level). The
// final text is produced by one pass that follows the records.
class CompactWriter final : public JsonEvents {
 public:
  explicit CompactWriter(std::string& out) : out_(out), base_(out.size()) {}

  // Room up front for the open levels of a large text, rather than copies as they double: a text
  // of n bytes opens at most n / 2 levels, each with a byte of level and usually one of member
  // start. Room never written costs no memory.
  void expect_text_size(std::size_t size) {
    levels_.reserve(size / 2 + 1);
    prefer_huge_pages(levels_.data(), levels_.capacity());
    starts_.reserve(size / 2 + 1);
  }

  void null() override { scalar("null"); }
  void boolean(bool value) override { scalar(value ? "true" : "false"); }
  void number(std::int64_t value) override {
    begin_value();
    append_json_number(out_, value);
  }
  void number(std::uint64_t value) override {
    begin_value();
    append_json_number(out_, value);
  }
  void number(double value) override {
    begin_value();
    append_json_number(out_, value);
  }
  // The text has been checked to be UTF-8.
  void string(std::string_view value) override {
    begin_value();
    append_json_string(out_, value);
  }

  void start_object() override {
    begin_value();
    levels_.push_back(kObject);
    out_.push_back('{');
  }

  void key(std::string_view key) override {
    const std::size_t depth = levels_.size();
    if (depth == 1) {
      if (key == "boosting_options") flags_.has_boosting_options = true;
      // Only the last member of a duplicated key counts, as in the value tree.
      top_member_is_metrics_ = key == "metrics";
      if (top_member_is_metrics_) flags_.has_learn_best_error = false;
    } else if (depth == 2 && top_member_is_metrics_ && key == "learn_best_error") {
      flags_.has_learn_best_error = true;
    }
    std::uint8_t& level = levels_.back();
    const bool first = (level & kNotEmpty) == 0;
    if (!first) {
      out_.push_back(',');
      if ((level & kUnsorted) == 0 && !(member_key(out_, starts_.top()) < key)) {
        level |= kUnsorted;
      }
    }
    level |= kNotEmpty;
    starts_.push(out_.size(), first);
    append_json_string(out_, key);
    out_.push_back(':');
  }

  void end_object() override {
    const std::uint8_t level = levels_.back();
    levels_.pop_back();
    std::vector<std::size_t> starts;
    if ((level & kNotEmpty) != 0) {
      while (true) {
        const auto [start, first] = starts_.pop();
        if ((level & kUnsorted) != 0) starts.push_back(start);
        if (first) break;
      }
    }
    if ((level & kUnsorted) != 0) {
      std::reverse(starts.begin(), starts.end());
      record_order(starts);
    }
    out_.push_back('}');
    if ((level & kUnsorted) != 0) records_.back().end = out_.size();
  }

  void start_array() override {
    begin_value();
    levels_.push_back(kArray);
    out_.push_back('[');
  }

  void end_array() override {
    levels_.pop_back();
    out_.push_back(']');
  }

  // Puts every recorded object's members in their final order.
  CompactFlags finish() {
    if (!records_.empty()) assemble();
    return flags_;
  }

 private:
  enum : std::uint8_t { kArray = 0, kObject = 1, kNotEmpty = 2, kUnsorted = 4 };

  // An object to be written with its members in another order than they stand in out_.
  struct Record {
    std::size_t begin;  // '{' in out_
    std::size_t end;    // just past '}'
    std::size_t first_range;
    std::size_t range_count;
  };

  void scalar(std::string_view text) {
    begin_value();
    out_ += text;
  }

  void begin_value() {
    if (levels_.empty() || (levels_.back() & kObject)) return;  // a key came first
    if (levels_.back() & kNotEmpty) out_.push_back(',');
    levels_.back() |= kNotEmpty;
  }

  // Members (from their starts in out_, up to the object's end) sorted by key (stable), keeping
  // the last of equal keys. Called before the closing brace is written.
  void record_order(const std::vector<std::size_t>& starts) {
    struct Member {
      std::string key;
      std::size_t begin;
      std::size_t end;
    };
    std::vector<Member> members;
    members.reserve(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
      // A member ends at the comma before the next one, the last at the closing brace.
      const std::size_t end = i + 1 < starts.size() ? starts[i + 1] - 1 : out_.size();
      members.push_back(Member{member_key(out_, starts[i]), starts[i], end});
    }
    std::stable_sort(members.begin(), members.end(),
                     [](const Member& a, const Member& b) { return a.key < b.key; });
    Record record{starts.front() - 1, 0, ranges_.size(), 0};
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (i + 1 < members.size() && members[i].key == members[i + 1].key) continue;
      ranges_.emplace_back(members[i].begin, members[i].end);
      ++record.range_count;
    }
    records_.push_back(record);
  }

  // The text from base_ on, with every recorded object's members in their final order, replaces
  // what was written. Records nest like the objects they describe; sorted by start, the records
  // inside a range are found by search.
  void assemble() {
    std::sort(records_.begin(), records_.end(),
              [](const Record& a, const Record& b) { return a.begin < b.begin; });
    std::string text;
    text.reserve(out_.size() - base_);
    // A task copies a range of out_ (descending into the records inside it) or continues a
    // record at one of its members. An explicit stack: nesting depth is not bounded.
    struct Task {
      bool is_record;
      std::size_t a;  // range start, or record index
      std::size_t b;  // range end, or next member of the record
    };
    std::vector<Task> tasks{{false, base_, out_.size()}};
    while (!tasks.empty()) {
      const Task task = tasks.back();
      tasks.pop_back();
      if (task.is_record) {
        const Record& record = records_[task.a];
        if (task.b == record.range_count) {
          text.push_back('}');
          continue;
        }
        text.push_back(task.b == 0 ? '{' : ',');
        const auto& range = ranges_[record.first_range + task.b];
        tasks.push_back({true, task.a, task.b + 1});
        tasks.push_back({false, range.first, range.second});
        continue;
      }
      const auto next =
          std::lower_bound(records_.begin(), records_.end(), task.a,
                           [](const Record& record, std::size_t at) { return record.begin < at; });
      if (next == records_.end() || next->begin >= task.b) {
        text.append(out_, task.a, task.b - task.a);
        continue;
      }
      text.append(out_, task.a, next->begin - task.a);
      tasks.push_back({false, next->end, task.b});
      tasks.push_back({true, static_cast<std::size_t>(next - records_.begin()), 0});
    }
    out_.resize(base_);
    out_ += text;
  }

  std::string& out_;
  std::size_t base_;                  // where this text starts in out_
  std::vector<std::uint8_t> levels_;  // per open container: kArray or kObject, and flags
  MemberStarts starts_;
  std::vector<Record> records_;
  std::vector<std::pair<std::size_t, std::size_t>> ranges_;  // member ranges of the records
  CompactFlags flags_;
  bool top_member_is_metrics_ = false;
};

}  // namespace

std::optional<CompactFlags> append_compact_json(std::string_view text, std::string& out) {
  if (!is_valid_utf8(text)) return std::nullopt;
  const std::size_t size = out.size();
  CompactWriter writer(out);
  if (text.size() > (std::size_t{1} << 20)) writer.expect_text_size(text.size());
  if (read_json_events(text, writer)) return writer.finish();
  out.resize(size);
  return std::nullopt;
}

std::optional<CompactJson> compact_json(std::string_view text) {
  CompactJson compact;
  const std::optional<CompactFlags> flags = append_compact_json(text, compact.text);
  if (!flags) return std::nullopt;
  compact.flags = *flags;
  return compact;
}

}  // namespace orvik

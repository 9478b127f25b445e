#include "cbm/compact_json.hpp"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>
#include <vector>

#include "util/json.hpp"

namespace orvik {
namespace {

// Builds the compact text from the parser's events. Values are written in the order they come;
// an object whose keys do not come in strictly ascending order is written as it comes too, and
// a record lists its members in the final order, so that nothing written is ever moved (moving
// each unsorted object's text at its end would copy deeply nested text once per level). The
// final text is produced by one pass that follows the records.
class CompactWriter : public nlohmann::json_sax<JsonValue> {
 public:
  bool null() override { return scalar("null"); }
  bool boolean(bool value) override { return scalar(value ? "true" : "false"); }
  bool number_integer(number_integer_t value) override { return written(JsonValue(value)); }
  bool number_unsigned(number_unsigned_t value) override { return written(JsonValue(value)); }
  bool number_float(number_float_t value, const string_t&) override {
    return written(JsonValue(value));
  }
  bool string(string_t& value) override { return written(JsonValue(std::move(value))); }
  bool binary(binary_t&) override { return false; }

  bool start_object(std::size_t) override {
    begin_value();
    levels_.push_back(kObject);
    objects_.push_back(ObjectFrame{out_.size(), members_.size(), keys_.size(), true});
    out_.push_back('{');
    return true;
  }

  bool key(string_t& key) override {
    const std::size_t depth = levels_.size();
    if (depth == 1) {
      if (key == "boosting_options") has_boosting_options_ = true;
      // Only the last member of a duplicated key counts, as in the value tree.
      top_member_is_metrics_ = key == "metrics";
      if (top_member_is_metrics_) has_learn_best_error_ = false;
    } else if (depth == 2 && top_member_is_metrics_ && key == "learn_best_error") {
      has_learn_best_error_ = true;
    }
    ObjectFrame& frame = objects_.back();
    if (levels_.back() & kNotEmpty) out_.push_back(',');
    levels_.back() |= kNotEmpty;
    if (members_.size() > frame.first_member) {
      const Member& previous = members_.back();
      if (!(std::string_view(keys_).substr(previous.key_offset, previous.key_size) < key)) {
        frame.sorted = false;
      }
    }
    Result<std::string> text = write_json(JsonValue(key), JsonStyle::Compact);
    if (!text) return false;
    members_.push_back(Member{keys_.size(), key.size(), out_.size(), 0});
    keys_ += key;
    out_ += *text;
    out_.push_back(':');
    return true;
  }

  bool end_object() override {
    const ObjectFrame frame = objects_.back();
    objects_.pop_back();
    levels_.pop_back();
    out_.push_back('}');
    if (!frame.sorted) record_order(frame);
    members_.resize(frame.first_member);
    keys_.resize(frame.keys_offset);
    end_value();
    return true;
  }

  bool start_array(std::size_t) override {
    begin_value();
    levels_.push_back(kArray);
    out_.push_back('[');
    return true;
  }

  bool end_array() override {
    levels_.pop_back();
    out_.push_back(']');
    end_value();
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

  CompactJson finish() {
    CompactJson result;
    result.has_boosting_options = has_boosting_options_;
    result.has_learn_best_error = has_learn_best_error_;
    result.text = records_.empty() ? std::move(out_) : assemble();
    return result;
  }

 private:
  enum : std::uint8_t { kArray = 0, kObject = 1, kNotEmpty = 2 };

  struct ObjectFrame {
    std::size_t begin;         // offset of '{' in out_
    std::size_t first_member;  // index in members_
    std::size_t keys_offset;   // size of keys_ when the object opened
    bool sorted;               // keys so far strictly ascending
  };

  struct Member {
    std::size_t key_offset;  // raw key in keys_
    std::size_t key_size;
    std::size_t begin;  // "key":value in out_
    std::size_t end;
  };

  // An object to be written with its members in another order than they stand in out_.
  struct Record {
    std::size_t begin;  // '{' in out_
    std::size_t end;    // just past '}'
    std::size_t first_range;
    std::size_t range_count;
  };

  bool scalar(std::string_view text) {
    begin_value();
    out_ += text;
    end_value();
    return true;
  }

  bool written(const JsonValue& value) {
    Result<std::string> text = write_json(value, JsonStyle::Compact);
    if (!text) return false;
    return scalar(*text);
  }

  void begin_value() {
    if (levels_.empty() || (levels_.back() & kObject)) return;  // a key came first
    if (levels_.back() & kNotEmpty) out_.push_back(',');
    levels_.back() |= kNotEmpty;
  }

  void end_value() {
    if (!levels_.empty() && (levels_.back() & kObject)) members_.back().end = out_.size();
  }

  // Members sorted by key (stable), keeping the last of equal keys.
  void record_order(const ObjectFrame& frame) {
    std::vector<std::size_t> order(members_.size() - frame.first_member);
    for (std::size_t i = 0; i < order.size(); ++i)
      order[i] = frame.first_member + i;
    const auto key_of = [this](std::size_t member) {
      return std::string_view(keys_).substr(members_[member].key_offset, members_[member].key_size);
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return key_of(a) < key_of(b); });
    Record record{frame.begin, out_.size(), ranges_.size(), 0};
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (i + 1 < order.size() && key_of(order[i]) == key_of(order[i + 1])) continue;
      ranges_.emplace_back(members_[order[i]].begin, members_[order[i]].end);
      ++record.range_count;
    }
    records_.push_back(record);
  }

  // out_ with every recorded object's members in their final order. Records nest like the
  // objects they describe; sorted by start, the records inside a range are found by search.
  std::string assemble() {
    std::sort(records_.begin(), records_.end(),
              [](const Record& a, const Record& b) { return a.begin < b.begin; });
    std::string text;
    text.reserve(out_.size());
    // A task copies a range of out_ (descending into the records inside it) or continues a
    // record at one of its members. An explicit stack: nesting depth is not bounded.
    struct Task {
      bool is_record;
      std::size_t a;  // range start, or record index
      std::size_t b;  // range end, or next member of the record
    };
    std::vector<Task> tasks{{false, 0, out_.size()}};
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
    return text;
  }

  std::string out_;
  std::vector<std::uint8_t> levels_;  // per open container: kArray or kObject, plus kNotEmpty
  std::vector<ObjectFrame> objects_;
  std::vector<Member> members_;  // of the open objects
  std::string keys_;             // raw keys of members_
  std::vector<Record> records_;
  std::vector<std::pair<std::size_t, std::size_t>> ranges_;  // member ranges of the records
  bool has_boosting_options_ = false;
  bool top_member_is_metrics_ = false;
  bool has_learn_best_error_ = false;
};

}  // namespace

std::optional<CompactJson> compact_json(std::string_view text) {
  try {
    CompactWriter writer;
    if (!JsonValue::sax_parse(text.begin(), text.end(), &writer)) return std::nullopt;
    return writer.finish();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace orvik

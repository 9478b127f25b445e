#include "util/json.hpp"

#include <charconv>
#include <cmath>
#include <exception>
#include <new>
#include <vector>

#include <fmt/format.h>

#include "util/format.hpp"
#include "util/text.hpp"

namespace orvik {

namespace {

// The message the JSON library gives for a string that is not UTF-8. The byte named is the one at
// which decoding had to stop: the lead byte itself when it can never start a sequence, otherwise
// the first byte that does not continue it.
std::string invalid_utf8_message(std::string_view text, const Utf8Scan& scan) {
  if (scan.error_length == 0) {
    return fmt::format("incomplete UTF-8 string; last byte: 0x{:02X}",
                       static_cast<unsigned char>(text.back()));
  }
  const auto lead = static_cast<unsigned char>(text[scan.valid_up_to]);
  const bool lead_is_valid = lead >= 0xC2 && lead <= 0xF4;
  const std::size_t index = scan.valid_up_to + (lead_is_valid ? scan.error_length : 0);
  return fmt::format("invalid UTF-8 byte at index {}: 0x{:02X}", index,
                     static_cast<unsigned char>(text[index]));
}

constexpr char kHexDigits[] = "0123456789abcdef";

// Appends the quoted, escaped string, which must be UTF-8.
void append_escaped(std::string& out, std::string_view text) {
  out.push_back('"');
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text, run_start, i - run_start);
    run_start = i + 1;
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        out.append("\\u00");
        out.push_back(kHexDigits[c >> 4]);
        out.push_back(kHexDigits[c & 0xF]);
        break;
    }
  }
  out.append(text, run_start, text.size() - run_start);
  out.push_back('"');
}

// Appends the quoted, escaped string, or returns false with the message when it is not UTF-8.
bool append_string(std::string& out, std::string_view text, std::string& error) {
  const Utf8Scan scan = scan_utf8(text);
  if (scan.valid_up_to != text.size()) {
    error = invalid_utf8_message(text, scan);
    return false;
  }
  append_escaped(out, text);
  return true;
}

template <class Integer>
void append_integer(std::string& out, Integer value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void append_float(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out.append("null");
    return;
  }
  out.append(format_json_float(value));
}

// Writes without recursion: containers being written sit on an explicit stack, so nesting depth
// is bounded by memory, not by the call stack.
template <class Json>
class JsonWriter {
 public:
  // Appends to `out`; pretty text is indented as if `depth` containers were open around it.
  JsonWriter(JsonStyle style, std::string& out, std::size_t depth = 0)
      : pretty_(style == JsonStyle::Pretty), out_(out), depth_(depth) {}

  // Nothing, or the message for the first string that is not UTF-8.
  CommandResult write(const Json& root) {
    if (!begin_value(root)) return fail(std::move(error_));
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      if (frame.is_object ? frame.object_it == frame.object_end
                          : frame.array_it == frame.array_end) {
        const char close = frame.is_object ? '}' : ']';
        stack_.pop_back();
        new_line();
        out_.push_back(close);
        continue;
      }
      if (!frame.first) out_.push_back(',');
      frame.first = false;
      new_line();
      const Json* child;
      if (frame.is_object) {
        const auto& member = *frame.object_it;
        ++frame.object_it;
        if (!append_string(out_, member.first, error_)) return fail(std::move(error_));
        out_.append(pretty_ ? ": " : ":");
        child = &member.second;
      } else {
        child = &*frame.array_it;
        ++frame.array_it;
      }
      // `frame` may dangle from here on: begin_value can grow the stack.
      if (!begin_value(*child)) return fail(std::move(error_));
    }
    return {};
  }

 private:
  using Object = typename Json::object_t;
  using Array = typename Json::array_t;

  struct Frame {
    bool is_object = false;
    bool first = true;
    typename Object::const_iterator object_it{};
    typename Object::const_iterator object_end{};
    typename Array::const_iterator array_it{};
    typename Array::const_iterator array_end{};
  };

  void new_line() {
    if (!pretty_) return;
    out_.push_back('\n');
    out_.append(2 * (depth_ + stack_.size()), ' ');
  }

  // Writes a scalar or an empty container whole, or opens a non-empty container.
  bool begin_value(const Json& value) {
    switch (value.type()) {
      case nlohmann::json::value_t::object: {
        const auto& object = value.template get_ref<const Object&>();
        if (object.empty()) {
          out_.append("{}");
          return true;
        }
        out_.push_back('{');
        Frame frame;
        frame.is_object = true;
        frame.object_it = object.begin();
        frame.object_end = object.end();
        stack_.push_back(frame);
        return true;
      }
      case nlohmann::json::value_t::array: {
        const auto& array = value.template get_ref<const Array&>();
        if (array.empty()) {
          out_.append("[]");
          return true;
        }
        out_.push_back('[');
        Frame frame;
        frame.array_it = array.begin();
        frame.array_end = array.end();
        stack_.push_back(frame);
        return true;
      }
      case nlohmann::json::value_t::string:
        return append_string(out_, value.template get_ref<const typename Json::string_t&>(),
                             error_);
      case nlohmann::json::value_t::boolean:
        out_.append(value.template get<bool>() ? "true" : "false");
        return true;
      case nlohmann::json::value_t::number_integer:
        append_integer(out_, value.template get<typename Json::number_integer_t>());
        return true;
      case nlohmann::json::value_t::number_unsigned:
        append_integer(out_, value.template get<typename Json::number_unsigned_t>());
        return true;
      case nlohmann::json::value_t::number_float:
        append_float(out_, value.template get<double>());
        return true;
      case nlohmann::json::value_t::null:
      case nlohmann::json::value_t::binary:
      case nlohmann::json::value_t::discarded:
        out_.append("null");
        return true;
    }
    out_.append("null");
    return true;
  }

  bool pretty_;
  std::string& out_;
  std::size_t depth_;
  std::string error_;
  std::vector<Frame> stack_;
};

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  append_escaped(out, text);
}

void append_json_number(std::string& out, std::int64_t value) {
  append_integer(out, value);
}

void append_json_number(std::string& out, std::uint64_t value) {
  append_integer(out, value);
}

void append_json_number(std::string& out, double value) {
  append_float(out, value);
}

Result<std::string> write_json(const JsonValue& value, JsonStyle style) {
  std::string out;
  if (auto written = JsonWriter<JsonValue>(style, out).write(value); !written) {
    return fail(std::move(written.error()));
  }
  return out;
}

Result<std::string> write_json(const OrderedJson& value, JsonStyle style) {
  std::string out;
  if (auto written = JsonWriter<OrderedJson>(style, out).write(value); !written) {
    return fail(std::move(written.error()));
  }
  return out;
}

void JsonStream::open(char bracket) {
  before_value();
  text_.push_back(bracket);
  levels_.push_back(Level{bracket == '{', true});
}

void JsonStream::end() {
  const Level level = levels_.back();
  levels_.pop_back();
  if (!level.empty) new_line();
  text_.push_back(level.is_object ? '}' : ']');
  hand_over(false);
}

void JsonStream::key(std::string_view key) {
  if (!error_.empty()) return;
  Level& level = levels_.back();
  if (!level.empty) text_.push_back(',');
  level.empty = false;
  new_line();
  if (!put_string(key)) return;
  if (sink_) text_.append(": ");
  key_written_ = true;
}

void JsonStream::value(const JsonValue& value) {
  before_value();
  if (error_.empty()) {
    if (auto written = JsonWriter<JsonValue>(JsonStyle::Pretty, text_, levels_.size()).write(value);
        !written) {
      error_ = std::move(written.error());
    }
  }
  hand_over(false);
}

void JsonStream::value(const OrderedJson& value) {
  before_value();
  if (error_.empty()) {
    if (auto written =
            JsonWriter<OrderedJson>(JsonStyle::Pretty, text_, levels_.size()).write(value);
        !written) {
      error_ = std::move(written.error());
    }
  }
  hand_over(false);
}

void JsonStream::string(std::string_view text) {
  before_value();
  if (error_.empty()) put_string(text);
  hand_over(false);
}

// Without a sink only the check is made: no text is formed that nobody would read.
bool JsonStream::put_string(std::string_view text) {
  if (sink_) return append_string(text_, text, error_);
  const Utf8Scan scan = scan_utf8(text);
  if (scan.valid_up_to == text.size()) return true;
  error_ = invalid_utf8_message(text, scan);
  return false;
}

CommandResult JsonStream::finish() {
  hand_over(true);
  if (!error_.empty()) return fail(std::move(error_));
  return {};
}

// An array element starts a line of its own; a member's value follows its key.
void JsonStream::before_value() {
  if (key_written_) {
    key_written_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level& level = levels_.back();
  if (!level.empty) text_.push_back(',');
  level.empty = false;
  new_line();
}

void JsonStream::new_line() {
  if (!sink_) return;
  text_.push_back('\n');
  text_.append(2 * levels_.size(), ' ');
}

// Text goes out in chunks of about 64 KiB, and all of it at the end; nothing after an error.
void JsonStream::hand_over(bool all) {
  constexpr std::size_t kChunk = 64 * 1024;
  if (!error_.empty()) {
    text_.clear();
    return;
  }
  if (text_.empty() || (!all && text_.size() < kChunk)) return;
  if (sink_) sink_(text_);
  text_.clear();
}

JsonValue* JsonBuilder::place(JsonValue value) {
  if (open_.empty()) {
    root_ = std::move(value);
    return &root_;
  }
  JsonValue& parent = *open_.back();
  if (parent.is_object()) return &(parent[key_] = std::move(value));
  parent.push_back(std::move(value));
  return &parent.back();
}

Result<std::string> stream_json_text(const std::function<void(JsonStream&)>& write) {
  std::string text;
  JsonStream out([&](std::string_view chunk) { text.append(chunk); });
  write(out);
  if (auto finished = out.finish(); !finished) return fail(std::move(finished.error()));
  return text;
}

void write_name_array(JsonStream& out, const NameList& names) {
  out.names(names);
}

// The whole list is checked at once; a list that is not UTF-8 is written name by name, each
// checked, so the message names the string it is about.
void JsonStream::names(const NameList& names) {
  begin_array();
  const bool valid = is_valid_utf8(names.text());
  if (valid && !sink_) {
    // Only looking for an error, and these names cannot fail.
    if (!names.empty()) levels_.back().empty = false;
    end();
    return;
  }
  for (const std::string_view name : names) {
    if (!valid) {
      string(name);
      continue;
    }
    before_value();
    if (!error_.empty()) break;
    append_escaped(text_, name);
    hand_over(false);
  }
  end();
}

Result<JsonValue> parse_json(std::string_view text) {
  try {
    return JsonValue::parse(text.begin(), text.end());
  } catch (const std::bad_alloc&) {
    throw;  // not a property of the text: memory ran out, which main reports
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

JsonValue json_number_or_null(double value) {
  if (!std::isfinite(value)) return JsonValue(nullptr);
  return JsonValue(value);
}

}  // namespace orvik

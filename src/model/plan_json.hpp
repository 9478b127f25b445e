#pragma once
// The streaming JSON reader behind tensor plans. It reads values in the order a record reader asks
// for them and reports the first problem in the words users see: the syntax messages ("expected
// `,` or `]`", "trailing characters", ...), the type messages ("invalid type: string \"x\",
// expected a sequence") and " at line L column C", where C counts the bytes of line L up to and
// including the last byte the reader had consumed when the problem surfaced. Which bytes have been
// consumed at that moment is part of the contract: a record's closing bracket is consumed before
// a problem found inside the record is positioned, so a missing field points at the closing brace.
//
// Nesting is limited: the 128th open container fails with "recursion limit exceeded". Values that
// are skipped are scanned without recursion and without that limit.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/json_grammar.hpp"

namespace orvik {

struct PlanReadError {
  std::string message;
  std::size_t line = 0;    // from 1; 0 while the position is still to be filled in
  std::size_t column = 0;  // bytes of the line consumed, so the column of the last byte read
};

template <class T>
using PlanRead = std::expected<T, PlanReadError>;

// An error of a record reader, positioned later by the value reader that encloses it.
inline std::unexpected<PlanReadError> plan_error(std::string message) {
  return std::unexpected(PlanReadError{std::move(message)});
}

// "{message} at line {line} column {column}", or the message alone when it has no position.
std::string plan_error_text(const PlanReadError& error);

// The messages of a record reader.
std::string invalid_type_message(std::string_view found, std::string_view expected);
std::string invalid_value_message(std::string_view found, std::string_view expected);
std::string invalid_length_message(std::size_t length, std::string_view expected);
std::string missing_field_message(std::string_view field);
std::string duplicate_field_message(std::string_view field);

// A number as read: a non-negative integer that fits 64 bits ("-0" is the integer 0), a negative
// one that fits, or any other number as the nearest double ("-0.0" is the double -0.0).
struct PlanNumber {
  enum class Kind : std::uint8_t { U64, I64, F64 };
  Kind kind = Kind::U64;
  std::uint64_t u64 = 0;
  std::int64_t i64 = 0;
  double f64 = 0;
};

// How a found value is named in a type message: "integer `5`", "floating point `1.5`" (the
// JSON number text, always with a point or an exponent), "string \"abc\"" (quoted and escaped as
// a debugger shows text), "boolean `true`", "null", "sequence", "map".
std::string found_number_text(const PlanNumber& number);
std::string found_string_text(std::string_view text);

// JSON values read whole and kept for a second reading, for records whose kind is only known
// once all their keys have been seen. The values are stored flat, one 16-byte node each in
// document order (a container before its elements, an object's key as a string before its
// value), so a long buffered list costs little more than its text.
class PlanContent {
 public:
  enum class Kind : std::uint8_t { Null, Bool, Number, String, Seq, Map };

 private:
  // 16 bytes a value. A string's payload is where its length (8 bytes) and text start in
  // texts_; a container's is its entry in containers_.
  struct Node {
    Kind kind = Kind::Null;
    PlanNumber::Kind number_kind = PlanNumber::Kind::U64;
    bool boolean = false;
    std::uint64_t payload = 0;
  };
  struct Container {
    std::size_t count = 0;  // elements or members
    std::size_t end = 0;    // the node after the container and everything inside it
  };

 public:
  // One value within the content; valid while the content lives and is not added to.
  class Value {
   public:
    Kind kind() const { return node().kind; }
    bool boolean() const { return node().boolean; }
    PlanNumber number() const;
    std::string_view text() const;                          // a string's unescaped text
    std::size_t size() const { return container().count; }  // elements of a list, members of a map
    // The first element of a list, or the key of the first member of a map (its value is the
    // key's next()); then next() walks on past each value with everything inside it.
    Value first() const { return Value(content_, index_ + 1); }
    Value next() const {
      const Kind k = kind();
      return Value(content_, k == Kind::Seq || k == Kind::Map ? container().end : index_ + 1);
    }

   private:
    friend class PlanContent;
    Value(const PlanContent* content, std::size_t index) : content_(content), index_(index) {}
    const Node& node() const { return content_->node(index_); }
    const Container& container() const { return content_->containers_[node().payload]; }
    const PlanContent* content_;
    std::size_t index_;
  };

  // The first value added.
  Value root() const { return Value(this, 0); }

  // Forgets every value, keeping the storage of a few thousand for the next ones.
  void clear();

  // Adding values, in document order. A container is opened, its elements (or keys and values)
  // are added, and it is closed with their count.
  void add_null();
  void add_bool(bool value);
  void add_number(const PlanNumber& number);
  void add_string(std::string_view text);
  std::size_t open(Kind kind);
  void close(std::size_t container, std::size_t count);

 private:
  // Nodes live in blocks that never move, so a growing list is written once, not copied again
  // on every growth. Block k holds kFirstBlock << k nodes, from node kFirstBlock * (2^k - 1) on.
  static constexpr std::size_t kFirstBlock = 32;
  struct Place {
    std::size_t block, offset;
  };
  static Place place(std::size_t index) {
    const auto block = static_cast<std::size_t>(std::bit_width(index / kFirstBlock + 1) - 1);
    return {block, index - kFirstBlock * ((std::size_t{1} << block) - 1)};
  }
  const Node& node(std::size_t index) const {
    const Place p = place(index);
    return blocks_[p.block][p.offset];
  }
  Node& node(std::size_t index) {
    const Place p = place(index);
    return blocks_[p.block][p.offset];
  }
  void push(Node node);

  std::vector<std::unique_ptr<Node[]>> blocks_;
  std::size_t node_count_ = 0;
  std::size_t node_capacity_ = 0;
  std::vector<Container> containers_;
  std::string texts_;
};

std::string found_content_text(const PlanContent::Value& value);

class PlanJsonReader {
 public:
  // Per-container state: the first element or member needs no comma.
  struct SeqState {
    bool first = true;
  };
  struct MapState {
    bool first = true;
  };

  // `text` must be valid UTF-8 and outlive the reader.
  explicit PlanJsonReader(std::string_view text) : text_(text) {}

  // A record: `visit_seq(SeqState&)` for its array form, `visit_map(MapState&)` for its object
  // form; any other value fails with "invalid type: {found}, expected {expected}". The closing
  // bracket is consumed (or checked) before an error of the visitor is positioned.
  template <class T, class VisitSeq, class VisitMap>
  PlanRead<T> read_struct(std::string_view expected, VisitSeq visit_seq, VisitMap visit_map) {
    return read_container<T>(expected, true, visit_seq, visit_map);
  }

  // A list of values, each read by `element()`; "a sequence" is the expected text.
  template <class Element>
  auto read_seq(Element element)
      -> PlanRead<std::vector<typename decltype(element())::value_type>> {
    return read_list<std::vector<typename decltype(element())::value_type>>(element);
  }

  // read_seq into another container with push_back.
  template <class List, class Element>
  PlanRead<List> read_list(Element element) {
    const auto visit_seq = [&](SeqState& seq) -> PlanRead<List> {
      List out;
      while (true) {
        auto next = next_element(seq, element);
        if (!next) return std::unexpected(std::move(next.error()));
        if (!*next) return out;
        out.push_back(std::move(**next));
      }
    };
    const auto unused_map = [](MapState&) -> PlanRead<List> { return List{}; };
    return read_container<List>("a sequence", false, visit_seq, unused_map);
  }

  // Null gives nothing; any other value is read by `some()`.
  template <class Some>
  auto read_option(Some some) -> PlanRead<std::optional<typename decltype(some())::value_type>> {
    if (parse_whitespace() == 'n') {
      eat_char();
      if (auto ident = parse_ident("ull"); !ident) return std::unexpected(ident.error());
      return std::nullopt;
    }
    auto value = some();
    if (!value) return std::unexpected(std::move(value.error()));
    return std::optional(std::move(*value));
  }

  // The next element of an array, or nothing after its last one.
  template <class Element>
  auto next_element(SeqState& seq, Element element)
      -> PlanRead<std::optional<typename decltype(element())::value_type>> {
    const PlanRead<bool> more = has_next_element(seq);
    if (!more) return std::unexpected(more.error());
    if (!*more) return std::nullopt;
    auto value = element();
    if (!value) return std::unexpected(std::move(value.error()));
    return std::optional(std::move(*value));
  }

  // The next key of an object (unescaped), or nothing after its last member.
  PlanRead<std::optional<std::string>> next_key(MapState& map);

  // The colon after a key, then the member's value read by `value()`.
  template <class Value>
  auto next_value(Value value) -> decltype(value()) {
    if (auto colon = parse_object_colon(); !colon) return std::unexpected(colon.error());
    return value();
  }

  // A string; any other value fails with "invalid type: {found}, expected {expected}".
  PlanRead<std::string> read_string(std::string_view expected);
  // A number; any other value fails as above.
  PlanRead<PlanNumber> read_number(std::string_view expected);
  // Skips one value of any kind, checking its syntax.
  PlanRead<void> ignore_value();
  // One value of any kind, added whole to `content`.
  PlanRead<void> read_content(PlanContent& content);
  // A record's value added whole to `content`: a list or a map, as read_content reads them; any
  // other value fails with "invalid type: {found}, expected {expected}".
  PlanRead<void> read_record_content(std::string_view expected, PlanContent& content);

  // Positions a record reader's error at the last byte consumed, unless it has a position.
  PlanReadError fix_position(PlanReadError error) const;

  // After the top-level value only white space may follow ("trailing characters").
  PlanRead<void> end();

 private:
  static constexpr std::string_view kEofValue = "EOF while parsing a value";
  static constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

  int peek() const {
    return index_ < text_.size() ? static_cast<unsigned char>(text_[index_]) : -1;
  }
  int peek_or_null() const { return index_ < text_.size() ? peek() : 0; }
  void eat_char() { ++index_; }
  int next_char() {
    const int c = peek();
    if (c >= 0) ++index_;
    return c;
  }
  int parse_whitespace();
  bool enter() { return --remaining_depth_ != 0; }
  void leave() { ++remaining_depth_; }

  PlanReadError error_at(std::size_t index, std::string_view message) const;
  // At the last byte consumed, or at the next byte (the end of the text at most).
  PlanReadError error(std::string_view message) const;
  PlanReadError peek_error(std::string_view message) const;
  PlanReadError peek_invalid_type(std::string_view expected);

  PlanRead<bool> has_next_element(SeqState& seq);
  PlanRead<void> end_seq();
  PlanRead<void> end_map();
  PlanRead<void> parse_object_colon();
  PlanRead<void> parse_ident(std::string_view rest);

  // Whether a number the JSON grammar scanned here is taken: valid, and not a leading zero before
  // a digit. Otherwise the fault: the byte refused, or that digit, is an "invalid number" at that
  // byte; the end of the text is `at_end`.
  bool number_taken(const JsonNumberScan& scan) const {
    return scan.valid && (scan.end == text_.size() || !is_json_digit(text_[scan.end]));
  }
  PlanReadError number_fault(const JsonNumberScan& scan, std::string_view at_end) const;
  // The number starting here, at a '-' or a digit.
  PlanRead<PlanNumber> parse_number();
  PlanRead<PlanNumber> finish_float(std::size_t start, bool positive);
  PlanRead<void> ignore_number();

  // "null", "true" or "false" starting with `first`: the found text of a type message, or, with
  // `content`, the value added to it.
  PlanRead<std::string_view> parse_literal(int first, PlanContent* content = nullptr);
  PlanRead<std::string> parse_str();
  PlanRead<void> ignore_str();
  void skip_to_escape();
  // The escape after a backslash, appended to `out`; skipped (surrogates unchecked) when null.
  PlanRead<void> parse_escape(std::string* out);
  PlanRead<void> parse_unicode_escape(std::string* out);
  PlanRead<std::uint16_t> decode_hex_escape();

  // An array, or an object when `accept_map`; the body of read_struct and read_seq.
  template <class T, class VisitSeq, class VisitMap>
  PlanRead<T> read_container(std::string_view expected, bool accept_map, const VisitSeq& visit_seq,
                             const VisitMap& visit_map) {
    const int peek = parse_whitespace();
    if (peek < 0) return std::unexpected(peek_error(kEofValue));
    PlanRead<T> value = std::unexpected(PlanReadError{});
    const bool is_seq = peek == '[';
    if (is_seq || (peek == '{' && accept_map)) {
      if (!enter()) return std::unexpected(peek_error(kRecursionLimit));
      eat_char();
      if (is_seq) {
        SeqState seq;
        value = visit_seq(seq);
      } else {
        MapState map;
        value = visit_map(map);
      }
      leave();
      // The closing bracket is read even after a failure, before the failure is positioned.
      const PlanRead<void> end = is_seq ? end_seq() : end_map();
      if (value && !end) value = std::unexpected(end.error());
    } else {
      value = std::unexpected(peek_invalid_type(expected));
    }
    if (!value) return std::unexpected(fix_position(std::move(value.error())));
    return value;
  }

  std::string_view text_;
  std::size_t index_ = 0;
  unsigned remaining_depth_ = 128;
};

}  // namespace orvik

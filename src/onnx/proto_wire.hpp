#pragma once
// A schema-less decoder of the protobuf wire format, as the ONNX reader needs it: one varint at a
// cursor, the fields of one message in wire order, and a length-delimited payload as text. It
// knows no field names; callers pick fields by number and wire type. Fields are views into the
// caller's buffer, texts included: nothing is copied. Every failure is one of the fixed messages
// below, which name neither the file, the field nor the offset.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/byte_cursor.hpp"
#include "util/result.hpp"

namespace orvik {

inline constexpr std::uint8_t kWireVarint = 0;
inline constexpr std::uint8_t kWireFixed64 = 1;
inline constexpr std::uint8_t kWireLengthDelimited = 2;
inline constexpr std::uint8_t kWireFixed32 = 5;

// One decoded field, borrowing from the message bytes.
struct ProtoField {
  // Wire type 1: the field's 8 bytes; 5: its 4 bytes; 2: the payload after the length prefix
  // (possibly empty); 0: empty.
  std::string_view payload;
  std::uint64_t value = 0;     // wire type 0: the varint; 0 otherwise
  std::uint32_t number = 0;    // the key shifted right by three, low 32 bits; 0 is accepted
  std::uint8_t wire_type = 0;  // 0, 1, 2 or 5
};

// Reads one varint at `cursor` (an index into `data`) and moves the cursor past it. Errors:
// "protobuf varint ended unexpectedly" when the data ends first (a cursor at or past the end
// included) and "protobuf varint exceeded 64 bits" when a tenth byte has its continuation bit
// set. Of a tenth byte only the lowest bit counts, as bit 63.
Result<std::uint64_t> read_varint(std::string_view data, std::size_t& cursor);

// Walks the fields of one message in wire order without allocating. `next` fills `field` and
// returns true, or returns false at the end of the message or at the first malformed field, which
// leaves `error()` set: the varint messages above, "unsupported protobuf wire type {}" (3, 4, 6
// and 7: groups are not supported), "protobuf fixed64 index overflow", "protobuf fixed64 field
// exceeded input length", the same two for fixed32, "protobuf length-delimited index overflow"
// (position plus length overflows 64 bits) and "protobuf length-delimited field exceeded input
// length".
class ProtoFieldReader {
 public:
  explicit ProtoFieldReader(std::string_view message) : cursor_(message) {}
  bool next(ProtoField& field);
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  bool fail_with(std::string message);
  bool fail_with(CursorError error);
  // The next `length` bytes as the field's payload; the overflow message when position plus
  // length passes 2^64 - 1, the past-end message when they run past the message.
  bool take_payload(ProtoField& field, std::uint64_t length, std::string_view overflow_message,
                    std::string_view past_end_message);

  ByteCursor cursor_;
  std::string error_;
};

// Every field of one message in wire order, or the first error (no partial list).
Result<std::vector<ProtoField>> split_proto_fields(std::string_view message);

// A payload as text, once it is found to be valid UTF-8; the caller copies what it keeps. Error:
// "invalid UTF-8 string in ONNX protobuf: {}" with "invalid utf-8 sequence of N bytes from index
// I" or "incomplete utf-8 byte sequence from index I" (offsets within the payload).
Result<std::string_view> read_proto_string(std::string_view payload);

// Calls `visit(field)` for each field in wire order, but only once the whole message has been
// found well formed: a malformed field anywhere fails before any field is visited, even one the
// caller would skip. `visit` returns Result<void>; its first error ends the walk and is returned.
// Two passes over the keys, no allocation; payloads are skipped, never decoded, by the first.
template <class Visit>
Result<void> visit_proto_fields(std::string_view message, Visit&& visit) {
  ProtoField field;
  ProtoFieldReader check(message);
  while (check.next(field)) {
  }
  if (check.failed()) return fail(check.error());
  ProtoFieldReader reader(message);
  while (reader.next(field)) {
    if (auto visited = visit(std::as_const(field)); !visited) return visited;
  }
  return {};
}

}  // namespace orvik

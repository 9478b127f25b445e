#include "onnx/proto_wire.hpp"

#include <limits>

#include <fmt/core.h>

#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::uint64_t kMaxIndex = std::numeric_limits<std::uint64_t>::max();

std::string_view varint_message(CursorError error) {
  return error == CursorError::VarintTooLong ? "protobuf varint exceeded 64 bits"
                                             : "protobuf varint ended unexpectedly";
}

}  // namespace

Result<std::uint64_t> read_varint(std::string_view data, std::size_t& cursor) {
  ByteCursor reader(data, cursor);
  const std::uint64_t value = reader.varint();
  if (!reader.ok()) return fail(std::string(varint_message(reader.error())));
  cursor = reader.offset();
  return value;
}

bool ProtoFieldReader::fail_with(std::string message) {
  error_ = std::move(message);
  return false;
}

bool ProtoFieldReader::fail_with(CursorError error) {
  return fail_with(std::string(varint_message(error)));
}

bool ProtoFieldReader::take_payload(ProtoField& field, std::uint64_t width,
                                    std::string_view overflow_message,
                                    std::string_view past_end_message) {
  if (cursor_.offset() > kMaxIndex - width) return fail_with(std::string(overflow_message));
  field.payload = cursor_.bytes(width);
  if (!cursor_.ok()) return fail_with(std::string(past_end_message));
  return true;
}

bool ProtoFieldReader::next(ProtoField& field) {
  if (failed() || cursor_.at_end()) return false;
  const std::uint64_t key = cursor_.varint();
  if (!cursor_.ok()) return fail_with(cursor_.error());
  field.number = static_cast<std::uint32_t>(key >> 3);
  field.wire_type = static_cast<std::uint8_t>(key & 7);
  field.value = 0;
  field.payload = {};
  switch (field.wire_type) {
    case kWireVarint:
      field.value = cursor_.varint();
      if (!cursor_.ok()) return fail_with(cursor_.error());
      return true;
    case kWireFixed64:
      return take_payload(field, 8, "protobuf fixed64 index overflow",
                          "protobuf fixed64 field exceeded input length");
    case kWireLengthDelimited: {
      const std::uint64_t length = cursor_.varint();
      if (!cursor_.ok()) return fail_with(cursor_.error());
      return take_payload(field, length, "protobuf length-delimited index overflow",
                          "protobuf length-delimited field exceeded input length");
    }
    case kWireFixed32:
      return take_payload(field, 4, "protobuf fixed32 index overflow",
                          "protobuf fixed32 field exceeded input length");
    default:
      return fail_with(fmt::format("unsupported protobuf wire type {}", unsigned{field.wire_type}));
  }
}

Result<std::vector<ProtoField>> split_proto_fields(std::string_view message) {
  std::vector<ProtoField> fields;
  ProtoFieldReader reader(message);
  ProtoField field;
  while (reader.next(field))
    fields.push_back(field);
  if (reader.failed()) return fail(reader.error());
  return fields;
}

Result<std::string_view> read_proto_string(std::string_view payload) {
  if (auto checked = check_utf8(payload); !checked) {
    return fail("invalid UTF-8 string in ONNX protobuf: " + checked.error());
  }
  return payload;
}

}  // namespace orvik

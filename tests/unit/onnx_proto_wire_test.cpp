// The protobuf wire decoder: one table of byte strings and the fields or the message they give.
#include "onnx/proto_wire.hpp"

#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace orvik {
namespace {

// Fields as "number/wire=value:payload-hex", space-separated; or the error message.
std::string describe(std::string_view bytes) {
  auto fields = split_proto_fields(bytes);
  if (!fields) return fields.error();
  std::vector<std::string> parts;
  for (const ProtoField& f : *fields) {
    std::string hex;
    for (const char c : f.payload)
      hex += fmt::format("{:02x}", static_cast<unsigned char>(c));
    parts.push_back(fmt::format("{}/{}={}:{}", f.number, f.wire_type, f.value, hex));
  }
  return fmt::format("{}", fmt::join(parts, " "));
}

std::string repeat(char c, std::size_t n) {
  return std::string(n, c);
}

TEST(OnnxProtoWire, SplitTable) {
  const std::string nine_continuations = repeat('\x80', 9);
  const struct {
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"", ""},
      {"\x08\x96\x01", "1/0=150:"},
      {std::string("\x08\x80\x00", 3), "1/0=0:"},  // non-minimal zero
      {"\x08" + nine_continuations + "\x01", "1/0=9223372036854775808:"},
      {"\x08" + nine_continuations + "\x7f", "1/0=9223372036854775808:"},
      {"\x08" + nine_continuations + "\x81", "protobuf varint exceeded 64 bits"},
      {"\x08" + repeat('\x80', 10) + "\x01", "protobuf varint exceeded 64 bits"},
      {"\x08", "protobuf varint ended unexpectedly"},
      {"\x08\x01\x80", "protobuf varint ended unexpectedly"},  // key cut off after a good field
      {std::string("\x0a\x00", 2), "1/2=0:"},
      {"\x0a\x02"
       "ab",
       "1/2=0:6162"},
      {"\x0a\x03"
       "ab",
       "protobuf length-delimited field exceeded input length"},
      {"\x0a\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01",
       "protobuf length-delimited index overflow"},  // 2^64 - 1 from position 11
      {"\x0a\xf4\xff\xff\xff\xff\xff\xff\xff\xff\x01",
       "protobuf length-delimited field exceeded input length"},  // 2^64 - 12: ends at 2^64 - 1
      {"\x0d\x01\x02\x03", "protobuf fixed32 field exceeded input length"},
      {"\x0d\x01\x02\x03\x04", "1/5=0:01020304"},
      {"\x09\x01\x02\x03\x04\x05\x06\x07", "protobuf fixed64 field exceeded input length"},
      {"\x11\x01\x02\x03\x04\x05\x06\x07\x08", "2/1=0:0102030405060708"},
      {"\x0b", "unsupported protobuf wire type 3"},
      {"\x0c", "unsupported protobuf wire type 4"},
      {"\x08\x01\x0e", "unsupported protobuf wire type 6"},
      {"\x0f\x08\x01", "unsupported protobuf wire type 7"},
      {std::string("\x00\x05", 2), "0/0=5:"},
      {"\x88\x80\x80\x80\x80\x01\x07", "1/0=7:"},  // number 2^32 + 1 keeps its low 32 bits
      {"\xf8\xff\xff\xff\x7f\x2a", "4294967295/0=42:"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(describe(c.bytes), c.expected) << fmt::format("{:02x}", fmt::join(c.bytes, " "));
  }
}

TEST(OnnxProtoWire, VarintCursorAndStrings) {
  const std::string data("\0\xac\x02\x05", 4);
  std::size_t cursor = 1;
  EXPECT_EQ(read_varint(data, cursor).value(), 300u);
  EXPECT_EQ(cursor, 3u);
  EXPECT_EQ(read_varint(data, cursor).value(), 5u);
  EXPECT_EQ(read_varint(data, cursor).error(), "protobuf varint ended unexpectedly");
  cursor = 9;
  EXPECT_EQ(read_varint("abc", cursor).error(), "protobuf varint ended unexpectedly");

  EXPECT_EQ(read_proto_string("caf\xc3\xa9").value(), "caf\xc3\xa9");
  EXPECT_EQ(read_proto_string("").value(), "");
  EXPECT_EQ(
      read_proto_string("fo\xff").error(),
      "invalid UTF-8 string in ONNX protobuf: invalid utf-8 sequence of 1 bytes from index 2");
  EXPECT_EQ(read_proto_string("a\xc3").error(),
            "invalid UTF-8 string in ONNX protobuf: incomplete utf-8 byte sequence from index 1");
}

}  // namespace
}  // namespace orvik

#pragma once
// Test helpers for the ONNX reader and reports: protobuf wire pieces for hand-written models.
#include <cstdint>
#include <string>
#include <string_view>

namespace orvik::onnx_test {

inline std::string varint(std::uint64_t v) {
  std::string out;
  for (; v >= 0x80; v >>= 7)
    out.push_back(static_cast<char>(v | 0x80));
  out.push_back(static_cast<char>(v));
  return out;
}

// A varint field and a length-delimited field.
inline std::string vf(std::uint64_t number, std::uint64_t value) {
  return varint(number << 3) + varint(value);
}
inline std::string lf(std::uint64_t number, std::string_view payload) {
  return varint(number << 3 | 2) + varint(payload.size()) + std::string(payload);
}

}  // namespace orvik::onnx_test

#pragma once
// Protobuf wire pieces for hand-written and generated ONNX models and for re-encoding decoded
// fields: a varint, a key, a varint field and a length-delimited field, each minimally encoded.
#include <cstdint>
#include <string>
#include <string_view>

namespace orvik::testing_support {

inline std::string varint(std::uint64_t value) {
  std::string out;
  for (; value >= 0x80; value >>= 7)
    out.push_back(static_cast<char>(value | 0x80));
  out.push_back(static_cast<char>(value));
  return out;
}

inline std::string key(std::uint64_t number, std::uint64_t wire_type) {
  return varint(number << 3 | wire_type);
}

inline std::string vf(std::uint64_t number, std::uint64_t value) {
  return key(number, 0) + varint(value);
}

inline std::string lf(std::uint64_t number, std::string_view payload) {
  return key(number, 2) + varint(payload.size()) + std::string(payload);
}

}  // namespace orvik::testing_support

// libFuzzer harness for the protobuf wire decoder. Any outcome is fine except a crash, a sanitizer
// report or a hang. A split must also agree with the field walk behind the reader, keep every
// payload inside the input, and survive a round trip through a minimal re-encoding; text
// decoding must accept exactly the valid UTF-8 payloads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "onnx/proto_wire.hpp"
#include "proto_wire_builder.hpp"
#include "util/text.hpp"

namespace {

using orvik::testing_support::key;
using orvik::testing_support::varint;

bool same(const orvik::ProtoField& a, const orvik::ProtoField& b) {
  return a.number == b.number && a.wire_type == b.wire_type && a.value == b.value &&
         a.payload == b.payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto fields = orvik::split_proto_fields(bytes);
  std::size_t visited = 0;
  auto walked = orvik::visit_proto_fields(bytes, [&](const orvik::ProtoField& field) {
    if (!fields || visited >= fields->size() || !same(field, (*fields)[visited])) std::abort();
    ++visited;
    return orvik::Result<void>{};
  });
  if (!fields) {
    if (walked || walked.error() != fields.error() || visited != 0) std::abort();
    return 0;
  }
  if (!walked || visited != fields->size()) std::abort();

  std::string encoded;
  for (const orvik::ProtoField& f : *fields) {
    const std::size_t width = f.wire_type == 0   ? 0
                              : f.wire_type == 1 ? 8
                              : f.wire_type == 5 ? 4
                                                 : f.payload.size();
    if (f.payload.size() != width || (f.wire_type != 0 && f.value != 0)) std::abort();
    if (width > 0 &&
        (f.payload.data() < bytes.data() || f.payload.data() + width > bytes.data() + size)) {
      std::abort();
    }
    if (f.wire_type == 2 &&
        orvik::read_proto_string(f.payload).has_value() != orvik::is_valid_utf8(f.payload)) {
      std::abort();
    }
    encoded += key(f.number, f.wire_type);
    if (f.wire_type == 0) encoded += varint(f.value);
    if (f.wire_type == 2) encoded += varint(f.payload.size());
    encoded.append(f.payload);
  }
  auto again = orvik::split_proto_fields(encoded);
  if (!again || again->size() != fields->size()) std::abort();
  for (std::size_t i = 0; i < again->size(); ++i) {
    if (!same((*again)[i], (*fields)[i])) std::abort();
  }
  return 0;
}

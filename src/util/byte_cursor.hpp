#pragma once
// One checked way to read binary layouts: a cursor over a byte range that reads little-endian
// integers, base-128 varints and sub-ranges, and fails cleanly when the bytes run out. Every
// reader that takes sizes and offsets from a file goes through it (or `byte_range_fits`), so no
// range check is written twice and no out-of-range pointer is ever formed.
#include <cstdint>
#include <optional>
#include <string_view>

namespace orvik {

// Whether `length` bytes starting at `offset` lie inside `size` bytes. Compares against what
// remains, so it cannot overflow whatever the three values are.
constexpr bool byte_range_fits(std::uint64_t size, std::uint64_t offset, std::uint64_t length) {
  return offset <= size && length <= size - offset;
}

enum class CursorError : std::uint8_t {
  None,
  OutOfBytes,     // a read needed more bytes than remain (or the start lay past the end)
  VarintTooLong,  // a tenth varint byte still had its continuation bit set
};

// Reads forward through `bytes`, which must outlive the cursor; ranges it returns are views into
// them. A read that succeeds consumes its bytes and returns the value. A read that fails consumes
// nothing, returns 0 (or an empty range) and leaves the cursor failed: every later read fails the
// same way. So a record of several fields can be read whole and checked once with `ok()`, and a
// decoder that needs to know which read failed checks after that read.
class ByteCursor {
 public:
  explicit ByteCursor(std::string_view bytes) : bytes_(bytes) {}
  // Starts at `offset`; an offset past the end leaves the cursor failed with OutOfBytes.
  ByteCursor(std::string_view bytes, std::uint64_t offset);

  bool ok() const { return error_ == CursorError::None; }
  CursorError error() const { return error_; }
  std::size_t offset() const { return offset_; }
  std::size_t remaining() const { return bytes_.size() - offset_; }
  bool at_end() const { return offset_ == bytes_.size(); }

  std::uint8_t u8();
  std::uint16_t u16_le();
  std::uint32_t u32_le();
  std::uint64_t u64_le();

  // The next `length` bytes.
  std::string_view bytes(std::uint64_t length);
  void skip(std::uint64_t length);

  // Consumes `signature` when the bytes at the cursor begin with it. A mismatch (or too few bytes)
  // returns false and changes nothing; it is not a failure.
  bool skip_signature(std::string_view signature);

  // A base-128 varint, least significant group first: each byte gives its low seven bits, and a
  // byte with the top bit clear ends it. Non-minimal encodings are accepted. At most ten bytes
  // are read; of the tenth only the lowest bit counts (as bit 63) and bits 1 to 6 are dropped,
  // but a set continuation bit there fails with VarintTooLong. Bytes running out inside the
  // varint fail with OutOfBytes.
  std::uint64_t varint();

 private:
  // Marks the cursor failed; returns false so callers can `return fail_with(...)`.
  bool fail_with(CursorError error);
  // Whether `length` more bytes can be read; fails the cursor when they cannot.
  bool take(std::uint64_t length);

  std::string_view bytes_;
  std::size_t offset_ = 0;
  CursorError error_ = CursorError::None;
};

// Little-endian integers at a fixed offset; nothing when the integer runs past the end.
std::optional<std::uint16_t> read_u16_le_at(std::string_view bytes, std::uint64_t offset);
std::optional<std::uint32_t> read_u32_le_at(std::string_view bytes, std::uint64_t offset);
std::optional<std::uint64_t> read_u64_le_at(std::string_view bytes, std::uint64_t offset);

}  // namespace orvik

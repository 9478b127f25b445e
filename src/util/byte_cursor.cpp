#include "util/byte_cursor.hpp"

namespace orvik {
namespace {

constexpr int kMaxVarintBytes = 10;

template <class T>
T little_endian(std::string_view bytes) {
  T value = 0;
  for (std::size_t i = sizeof(T); i-- > 0;) {
    value = static_cast<T>(value << 8 | static_cast<unsigned char>(bytes[i]));
  }
  return value;
}

template <class T>
T read_le(ByteCursor& cursor) {
  const std::string_view bytes = cursor.bytes(sizeof(T));
  return cursor.ok() ? little_endian<T>(bytes) : T{0};
}

template <class T>
std::optional<T> read_le_at(std::string_view bytes, std::uint64_t offset) {
  ByteCursor cursor(bytes, offset);
  const T value = read_le<T>(cursor);
  if (!cursor.ok()) return std::nullopt;
  return value;
}

}  // namespace

ByteCursor::ByteCursor(std::string_view bytes, std::uint64_t offset) : bytes_(bytes) {
  skip(offset);
}

bool ByteCursor::fail_with(CursorError error) {
  if (error_ == CursorError::None) error_ = error;
  return false;
}

bool ByteCursor::take(std::uint64_t length) {
  if (!ok()) return false;
  if (!byte_range_fits(bytes_.size(), offset_, length)) return fail_with(CursorError::OutOfBytes);
  return true;
}

std::uint8_t ByteCursor::u8() {
  return read_le<std::uint8_t>(*this);
}

std::uint16_t ByteCursor::u16_le() {
  return read_le<std::uint16_t>(*this);
}

std::uint32_t ByteCursor::u32_le() {
  return read_le<std::uint32_t>(*this);
}

std::uint64_t ByteCursor::u64_le() {
  return read_le<std::uint64_t>(*this);
}

std::string_view ByteCursor::bytes(std::uint64_t length) {
  if (!take(length)) return {};
  const std::string_view range = bytes_.substr(offset_, static_cast<std::size_t>(length));
  offset_ += range.size();
  return range;
}

void ByteCursor::skip(std::uint64_t length) {
  if (take(length)) offset_ += static_cast<std::size_t>(length);
}

bool ByteCursor::skip_signature(std::string_view signature) {
  if (!ok() || bytes_.substr(offset_).substr(0, signature.size()) != signature) return false;
  offset_ += signature.size();
  return true;
}

std::uint64_t ByteCursor::varint() {
  if (!ok()) return 0;
  std::uint64_t value = 0;
  std::size_t at = offset_;
  for (int k = 0; k < kMaxVarintBytes; ++k) {
    if (at >= bytes_.size()) {
      fail_with(CursorError::OutOfBytes);
      return 0;
    }
    const auto byte = static_cast<unsigned char>(bytes_[at++]);
    if (k == kMaxVarintBytes - 1) {
      if (byte & 0x80) {
        fail_with(CursorError::VarintTooLong);
        return 0;
      }
      value |= static_cast<std::uint64_t>(byte & 1) << 63;
      break;
    }
    value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * k);
    if ((byte & 0x80) == 0) break;
  }
  offset_ = at;
  return value;
}

std::optional<std::uint16_t> read_u16_le_at(std::string_view bytes, std::uint64_t offset) {
  return read_le_at<std::uint16_t>(bytes, offset);
}

std::optional<std::uint32_t> read_u32_le_at(std::string_view bytes, std::uint64_t offset) {
  return read_le_at<std::uint32_t>(bytes, offset);
}

std::optional<std::uint64_t> read_u64_le_at(std::string_view bytes, std::uint64_t offset) {
  return read_le_at<std::uint64_t>(bytes, offset);
}

}  // namespace orvik

#include "pt/zip.hpp"

#include <cerrno>
#include <cstdint>
#include <limits>

#include "util/byte_cursor.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kLocalHeaderSignature = "PK\x03\x04";
constexpr std::string_view kCentralHeaderSignature = "PK\x01\x02";
constexpr std::string_view kEocdSignature = "PK\x05\x06";
constexpr std::string_view kZip64LocatorSignature = "PK\x06\x07";
constexpr std::string_view kZip64EocdSignature = "PK\x06\x06";

constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kLocalNameLengthAt = 26;
constexpr std::size_t kLocalExtraLengthAt = 28;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEocdDirectoryAt = 12;  // the size at 12, then the offset at 16
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64LocatorRecordAt = 8;
constexpr std::size_t kZip64EocdReadSize = 56;
constexpr std::size_t kZip64EocdSizeAt = 40;
constexpr std::size_t kZip64EocdOffsetAt = 48;
constexpr std::uint32_t kSaturated32 = 0xFFFFFFFFu;
constexpr std::uint16_t kZip64ExtraId = 0x0001;

// Applies the zip64 extended information block of an extra field: 64-bit values in the order
// uncompressed size, compressed size, local header offset, each present only when its 32-bit
// field is saturated. A value reaching past the end of the extra field keeps the 32-bit value.
void apply_zip64_extra(std::string_view extra, std::uint32_t compressed32, ZipEntry& entry) {
  ByteCursor cursor(extra);
  while (cursor.remaining() >= 4) {
    const std::uint16_t id = cursor.u16_le();
    const std::uint16_t data_size = cursor.u16_le();
    if (id != kZip64ExtraId) {
      cursor.skip(data_size);
      if (!cursor.ok()) return;
      continue;
    }
    // Once a value does not fit, every later one fails too: it lies further on.
    const auto next_u64 = [&](std::uint64_t& target) {
      const std::uint64_t value = cursor.u64_le();
      if (cursor.ok()) target = value;
    };
    if (entry.uncompressed_size == kSaturated32) next_u64(entry.uncompressed_size);
    if (compressed32 == kSaturated32) {
      std::uint64_t unused = 0;
      next_u64(unused);
    }
    if (entry.local_header_offset == kSaturated32) next_u64(entry.local_header_offset);
    return;
  }
}

}  // namespace

Result<std::string> read_file_range(File& file, std::uint64_t offset, std::uint64_t length) {
  // Offsets beyond the signed file-offset range are rejected by the seek itself.
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return fail("seek: " + system_error_text(EINVAL));
  }
  // Seeking past the end is allowed; reading nothing there succeeds.
  if (length == 0) return std::string();
  return file.read_range(offset, length);
}

Result<std::uint64_t> zip_local_data_offset(File& file, std::uint64_t offset) {
  auto header = read_file_range(file, offset, kLocalHeaderSize);
  if (!header) return fail(std::move(header.error()));
  if (!header->starts_with(kLocalHeaderSignature)) return fail("bad local header");
  const auto name_length = read_u16_le_at(*header, kLocalNameLengthAt);
  const auto extra_length = read_u16_le_at(*header, kLocalExtraLengthAt);
  if (!name_length || !extra_length) return fail("read: failed to fill whole buffer");
  // The header was read, so `offset` is below 2^63 and this cannot overflow.
  return offset + kLocalHeaderSize + *name_length + *extra_length;
}

Result<std::optional<ZipCentralDirectory>> find_zip_central_directory(File& file,
                                                                      std::uint64_t file_size) {
  const std::uint64_t tail_length = std::min(file_size, kZipEocdSearchSpan);
  auto tail_or_err = read_file_range(file, file_size - tail_length, tail_length);
  if (!tail_or_err) return fail(std::move(tail_or_err.error()));
  const std::string_view tail = *tail_or_err;

  // The first signature from the end is the EOCD.
  const std::size_t eocd = tail.rfind(kEocdSignature);
  if (eocd == std::string_view::npos) return std::nullopt;
  ByteCursor fields(tail, eocd + kEocdDirectoryAt);
  ZipCentralDirectory directory;
  directory.size = fields.u32_le();
  directory.offset = fields.u32_le();
  // A signature too close to the end to hold the size and offset is a truncated record.
  if (!fields.ok()) return std::nullopt;

  const bool saturated = directory.size == kSaturated32 || directory.offset == kSaturated32;
  if (saturated && eocd >= kZip64LocatorSize) {
    const std::string_view locator = tail.substr(eocd - kZip64LocatorSize, kZip64LocatorSize);
    const auto record_offset = read_u64_le_at(locator, kZip64LocatorRecordAt);
    if (locator.starts_with(kZip64LocatorSignature) && record_offset) {
      auto record = read_file_range(file, *record_offset, kZip64EocdReadSize);
      if (!record) return fail(std::move(record.error()));
      const auto size = read_u64_le_at(*record, kZip64EocdSizeAt);
      const auto directory_offset = read_u64_le_at(*record, kZip64EocdOffsetAt);
      if (record->starts_with(kZip64EocdSignature) && size && directory_offset) {
        directory = {*directory_offset, *size};
      }
    }
  }
  return directory;
}

CommandResult walk_zip_central_directory(
    std::string_view directory, const std::function<CommandResult(const ZipEntry&)>& visit) {
  ByteCursor cursor(directory);
  while (cursor.remaining() >= kCentralHeaderSize &&
         cursor.skip_signature(kCentralHeaderSignature)) {
    cursor.skip(16);  // versions, flags, method, time, date and crc
    const std::uint32_t compressed32 = cursor.u32_le();
    ZipEntry entry;
    entry.uncompressed_size = cursor.u32_le();
    const std::uint16_t name_length = cursor.u16_le();
    const std::uint16_t extra_length = cursor.u16_le();
    const std::uint16_t comment_length = cursor.u16_le();
    cursor.skip(8);  // disk number and attributes
    entry.local_header_offset = cursor.u32_le();
    const std::string_view name = cursor.bytes(name_length);
    const std::string_view extra = cursor.bytes(extra_length);
    // A name or extra field cut off by the end of the directory: a damaged entry ends the walk.
    if (!cursor.ok()) break;

    if (entry.uncompressed_size == kSaturated32 || entry.local_header_offset == kSaturated32) {
      apply_zip64_extra(extra, compressed32, entry);
    }
    entry.name = decode_utf8_lossy(name);

    if (auto visited = visit(entry); !visited) return visited;

    // A comment cut off by the end leaves fewer than 46 bytes, which ends the walk.
    cursor.skip(comment_length);
    if (!cursor.ok()) break;
  }
  return {};
}

}  // namespace orvik

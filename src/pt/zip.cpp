#include "pt/zip.hpp"

#include <cerrno>
#include <cstdint>
#include <limits>

#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kLocalHeaderSignature = "PK\x03\x04";
constexpr std::string_view kCentralHeaderSignature = "PK\x01\x02";
constexpr std::string_view kEocdSignature = "PK\x05\x06";
constexpr std::string_view kZip64LocatorSignature = "PK\x06\x07";
constexpr std::string_view kZip64EocdSignature = "PK\x06\x06";

constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEocdFieldsSize = 20;  // through the central directory offset at 16
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EocdReadSize = 56;
constexpr std::uint32_t kSaturated32 = 0xFFFFFFFFu;
constexpr std::uint16_t kZip64ExtraId = 0x0001;

bool has_signature_at(std::string_view bytes, std::size_t offset, std::string_view signature) {
  return offset <= bytes.size() && bytes.size() - offset >= signature.size() &&
         bytes.substr(offset, signature.size()) == signature;
}

// Applies the zip64 extended information block of an extra field: 64-bit values in the order
// uncompressed size, compressed size, local header offset, each present only when its 32-bit
// field is saturated. A value reaching past the end of the extra field keeps the 32-bit value.
void apply_zip64_extra(std::string_view extra, std::uint32_t compressed32, ZipEntry& entry) {
  std::size_t pos = 0;
  while (extra.size() - pos >= 4) {
    const std::uint16_t id = read_u16_le_at(extra, pos);
    const std::uint16_t data_size = read_u16_le_at(extra, pos + 2);
    if (id != kZip64ExtraId) {
      pos += 4 + static_cast<std::size_t>(data_size);
      if (pos > extra.size()) return;
      continue;
    }
    std::size_t cursor = pos + 4;
    const auto next_u64 = [&](std::uint64_t& target) {
      if (extra.size() - cursor < 8) {
        cursor = extra.size();  // every later value lies further on and cannot fit either
        return;
      }
      target = read_u64_le_at(extra, cursor);
      cursor += 8;
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

std::uint16_t read_u16_le_at(std::string_view bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                    static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

std::uint32_t read_u32_le_at(std::string_view bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}

std::uint64_t read_u64_le_at(std::string_view bytes, std::size_t offset) {
  std::uint64_t value = 0;
  for (std::size_t i = 8; i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}

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
  if (!has_signature_at(*header, 0, kLocalHeaderSignature)) return fail("bad local header");
  const std::uint64_t name_length = read_u16_le_at(*header, 26);
  const std::uint64_t extra_length = read_u16_le_at(*header, 28);
  // The header was read, so `offset` is below 2^63 and this cannot overflow.
  return offset + kLocalHeaderSize + name_length + extra_length;
}

Result<std::optional<ZipCentralDirectory>> find_zip_central_directory(File& file,
                                                                      std::uint64_t file_size) {
  const std::uint64_t tail_length = std::min(file_size, kZipEocdSearchSpan);
  auto tail_or_err = read_file_range(file, file_size - tail_length, tail_length);
  if (!tail_or_err) return fail(std::move(tail_or_err.error()));
  const std::string_view tail = *tail_or_err;

  // The first signature from the end is the EOCD.
  const std::size_t found = tail.rfind(kEocdSignature);
  const std::optional<std::size_t> eocd =
      found == std::string_view::npos ? std::nullopt : std::optional<std::size_t>(found);
  // A signature too close to the end to hold the size and offset is a truncated record.
  if (!eocd || tail.size() - *eocd < kEocdFieldsSize) return std::nullopt;

  ZipCentralDirectory directory;
  directory.size = read_u32_le_at(tail, *eocd + 12);
  directory.offset = read_u32_le_at(tail, *eocd + 16);
  const bool saturated = directory.size == kSaturated32 || directory.offset == kSaturated32;
  if (saturated && *eocd >= kZip64LocatorSize &&
      has_signature_at(tail, *eocd - kZip64LocatorSize, kZip64LocatorSignature)) {
    const std::uint64_t record_offset = read_u64_le_at(tail, *eocd - kZip64LocatorSize + 8);
    auto record = read_file_range(file, record_offset, kZip64EocdReadSize);
    if (!record) return fail(std::move(record.error()));
    if (has_signature_at(*record, 0, kZip64EocdSignature)) {
      directory.size = read_u64_le_at(*record, 40);
      directory.offset = read_u64_le_at(*record, 48);
    }
  }
  return directory;
}

CommandResult walk_zip_central_directory(
    std::string_view directory, const std::function<CommandResult(const ZipEntry&)>& visit) {
  std::size_t pos = 0;
  while (directory.size() - pos >= kCentralHeaderSize &&
         has_signature_at(directory, pos, kCentralHeaderSignature)) {
    const std::string_view header = directory.substr(pos, kCentralHeaderSize);
    const std::uint32_t compressed32 = read_u32_le_at(header, 20);
    const std::size_t name_length = read_u16_le_at(header, 28);
    const std::size_t extra_length = read_u16_le_at(header, 30);
    const std::size_t comment_length = read_u16_le_at(header, 32);
    const std::size_t remaining = directory.size() - pos - kCentralHeaderSize;
    // A name or extra field cut off by the end of the directory: a damaged entry ends the walk.
    if (name_length > remaining || extra_length > remaining - name_length) break;

    ZipEntry entry;
    entry.uncompressed_size = read_u32_le_at(header, 24);
    entry.local_header_offset = read_u32_le_at(header, 42);
    const std::string_view name = directory.substr(pos + kCentralHeaderSize, name_length);
    const std::string_view extra =
        directory.substr(pos + kCentralHeaderSize + name_length, extra_length);
    if (entry.uncompressed_size == kSaturated32 || entry.local_header_offset == kSaturated32) {
      apply_zip64_extra(extra, compressed32, entry);
    }
    entry.name = decode_utf8_lossy(name);

    if (auto visited = visit(entry); !visited) return visited;

    // A comment cut off by the end leaves fewer than 46 bytes, which ends the walk.
    const std::size_t step = kCentralHeaderSize + name_length + extra_length + comment_length;
    if (step > directory.size() - pos) break;
    pos += step;
  }
  return {};
}

}  // namespace orvik

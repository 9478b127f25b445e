#pragma once
// The small part of the zip format that torch.save archives need: the end-of-central-directory
// search (with its zip64 forms), the central directory walk and the local header skip. Entries
// are taken as stored; nothing is inflated.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "util/byte_cursor.hpp"  // the checked reads the zip records are parsed with
#include "util/file.hpp"
#include "util/result.hpp"

namespace orvik {

inline constexpr std::uint64_t kZipEocdSearchSpan = 65557;  // 22-byte EOCD + 65535-byte comment

// Seeks to `offset` and reads exactly `length` bytes. Errors: "seek: {}", "read: {}" and
// "read: failed to fill whole buffer"; they do not name the file. A range running past the end of
// the file fails before anything is allocated.
Result<std::string> read_file_range(File& file, std::uint64_t offset, std::uint64_t length);

// The offset of an entry's data: past the 30-byte local header at `offset` and its name and extra
// field (the local header's own sizes are not used). "bad local header" when the signature is not
// 50 4B 03 04.
Result<std::uint64_t> zip_local_data_offset(File& file, std::uint64_t offset);

struct ZipCentralDirectory {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// Where the central directory lies, from the EOCD record in the last 65557 bytes (and the zip64
// record when a 32-bit field is saturated and a locator precedes the EOCD). An absent value means
// no usable EOCD: no signature, or one too close to the end of the file to hold its fields.
Result<std::optional<ZipCentralDirectory>> find_zip_central_directory(File& file,
                                                                      std::uint64_t file_size);

struct ZipEntry {
  std::string name;  // decoded as UTF-8 with replacement
  std::uint64_t uncompressed_size = 0;
  std::uint64_t local_header_offset = 0;
};

// Calls `visit` for each central directory entry in order, with the zip64 extended information
// applied. The walk ends quietly at a foreign signature, at fewer than 46 bytes left, or at an
// entry whose name or extra field runs past the end of the directory. An error from `visit` ends
// the walk and is returned.
CommandResult walk_zip_central_directory(
    std::string_view directory, const std::function<CommandResult(const ZipEntry&)>& visit);

}  // namespace orvik

#include "pt/pytorch_reader.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <unordered_set>

#include <fmt/core.h>

#include "pt/zip.hpp"
#include "util/byte_cursor.hpp"
#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::string_view kZipMagic = "PK\x03\x04";
constexpr unsigned char kPickleProtocolOpcode = 0x80;
constexpr std::uint64_t kStorageSampleBytes = 1024 * 1024;
constexpr std::uint64_t kVersionReadBytes = 32;
// Stored entries never share bytes, so the storage samples of a sound archive add up to at most
// its size. Overlapping forged entries could otherwise make a small file cost quadratic hashing;
// past this slack beyond the file size the archive is refused.
constexpr std::uint64_t kSampleSlackBytes = 64 * 1024 * 1024;

struct DtypeRow {
  std::string_view storage_class;
  std::string_view dtype;
  std::uint64_t element_size;
};

// Table order breaks ties between equal counts.
constexpr std::array kDtypeRows = {
    DtypeRow{"DoubleStorage", "float64", 8}, DtypeRow{"BFloat16Storage", "bfloat16", 2},
    DtypeRow{"HalfStorage", "float16", 2},   DtypeRow{"FloatStorage", "float32", 4},
    DtypeRow{"LongStorage", "int64", 8},     DtypeRow{"IntStorage", "int32", 4},
    DtypeRow{"ByteStorage", "uint8", 1},     DtypeRow{"BoolStorage", "bool", 1},
};

std::uint64_t count_non_overlapping(std::string_view haystack, std::string_view needle) {
  std::uint64_t count = 0;
  std::size_t pos = 0;
  while ((pos = haystack.find(needle, pos)) != std::string_view::npos) {
    ++count;
    pos += needle.size();
  }
  return count;
}

bool is_param_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_';
}

bool is_param_name(std::string_view candidate) {
  if (candidate.size() < 2 || candidate.size() > 200) return false;
  if (!std::all_of(candidate.begin(), candidate.end(), is_param_name_char)) return false;
  return candidate.find('.') != std::string_view::npos || ends_with(candidate, "weight") ||
         ends_with(candidate, "bias") || ends_with(candidate, "running_mean") ||
         ends_with(candidate, "running_var");
}

// A storage entry: "/data/" somewhere in the name and a non-empty run of ASCII digits after the
// last "/" (archive/data/17, not archive/data/0.bin).
bool is_storage_entry(std::string_view name) {
  if (name.find("/data/") == std::string_view::npos) return false;
  const std::string_view last = name.substr(name.rfind('/') + 1);
  return !last.empty() &&
         std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool is_version_entry(std::string_view name) {
  return name == "version" || ends_with(name, "/version");
}

// The error reading `length` bytes at `offset` would give, without reading them.
CommandResult check_file_range(std::uint64_t file_size, std::uint64_t offset,
                               std::uint64_t length) {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return fail("seek: " + system_error_text(EINVAL));
  }
  if (length > 0 && !byte_range_fits(file_size, offset, length)) {
    return fail("read: failed to fill whole buffer");
  }
  return {};
}

void fill_from_pickle(std::string_view pickle, PyTorchSummary& summary,
                      std::uint64_t& element_size) {
  summary.param_names = recover_param_names(pickle);
  DtypeGuess guess = guess_dominant_dtype(pickle);
  summary.dominant_dtype = std::move(guess.dtype);
  element_size = guess.element_size;
}

Result<PyTorchSummary> read_legacy_pickle(File& file, const std::string& path,
                                          std::uint64_t file_size) {
  auto bytes = read_file_range(file, 0, file_size);
  if (!bytes) return fail(std::move(bytes.error()));
  PyTorchSummary summary;
  summary.path = display_name(path);
  summary.bytes = file_size;
  summary.is_zip = false;
  std::uint64_t element_size = 4;
  fill_from_pickle(*bytes, summary, element_size);
  summary.file_fingerprint = fnv1a64(kFnvOffsetBasis, *bytes);
  summary.learned_state_fingerprint = summary.file_fingerprint;
  return summary;
}

// What the central directory walk gathers. The pickle is located during the walk and read once
// afterwards, so that many entries naming data.pkl cost one read of the last one.
struct ArchiveScan {
  std::optional<std::uint64_t> pickle_offset;
  std::uint64_t pickle_size = 0;
  std::optional<std::string> torch_version;
  std::uint64_t tensor_count = 0;
  std::uint64_t total_parameter_bytes = 0;
  std::uint64_t sampled_bytes = 0;
  Fingerprint entry_hash = kFnvOffsetBasis;
  Fingerprint storage_hash = kFnvOffsetBasis;
};

CommandResult scan_entry(File& file, const std::string& path, std::uint64_t file_size,
                         const ZipEntry& entry, ArchiveScan& scan) {
  scan.entry_hash = fnv1a64(scan.entry_hash, entry.name);
  const std::uint64_t size = entry.uncompressed_size;
  if (ends_with(entry.name, "data.pkl")) {
    auto data_offset = zip_local_data_offset(file, entry.local_header_offset);
    if (!data_offset) return fail(std::move(data_offset.error()));
    if (auto ok = check_file_range(file_size, *data_offset, size); !ok) return ok;
    scan.pickle_offset = *data_offset;
    scan.pickle_size = size;
  } else if (is_version_entry(entry.name)) {
    auto data_offset = zip_local_data_offset(file, entry.local_header_offset);
    if (!data_offset) return fail(std::move(data_offset.error()));
    auto bytes = read_file_range(file, *data_offset, std::min(size, kVersionReadBytes));
    if (!bytes) return fail(std::move(bytes.error()));
    scan.torch_version = std::string(trim_white_space(decode_utf8_lossy(*bytes)));
  } else if (is_storage_entry(entry.name)) {
    scan.tensor_count += 1;
    // Only forged zip64 sizes can add up past 64 bits; a wrapped total would be a wrong count.
    if (__builtin_add_overflow(scan.total_parameter_bytes, size, &scan.total_parameter_bytes)) {
      return fail(fmt::format("{}: storage sizes add up past 2^64 bytes (damaged archive)", path));
    }
    if (size > 0) {
      const std::uint64_t sample_length = std::min(size, kStorageSampleBytes);
      auto data_offset = zip_local_data_offset(file, entry.local_header_offset);
      if (!data_offset) return fail(std::move(data_offset.error()));
      if (auto ok = check_file_range(file_size, *data_offset, sample_length); !ok) return ok;
      scan.sampled_bytes += sample_length;
      if (scan.sampled_bytes > file_size && scan.sampled_bytes - file_size > kSampleSlackBytes) {
        return fail(fmt::format("{}: storage entries overlap (damaged archive)", path));
      }
      auto sample = read_file_range(file, *data_offset, sample_length);
      if (!sample) return fail(std::move(sample.error()));
      scan.storage_hash = fnv1a64(scan.storage_hash, *sample);
    }
    scan.storage_hash = fnv1a64_u64(scan.storage_hash, size);
  }
  scan.entry_hash = fnv1a64_u64(scan.entry_hash, size);
  return {};
}

Result<PyTorchSummary> read_zip_archive(File& file, const std::string& path,
                                        std::uint64_t file_size) {
  auto directory = find_zip_central_directory(file, file_size);
  if (!directory) return fail(std::move(directory.error()));
  if (!*directory) return fail(fmt::format("{}: no zip EOCD record", path));
  auto listing = read_file_range(file, (*directory)->offset, (*directory)->size);
  if (!listing) return fail(std::move(listing.error()));

  ArchiveScan scan;
  auto walked = walk_zip_central_directory(*listing, [&](const ZipEntry& entry) {
    return scan_entry(file, path, file_size, entry, scan);
  });
  if (!walked) return fail(std::move(walked.error()));

  if (!scan.pickle_offset || scan.pickle_size == 0) {
    return fail(fmt::format("{}: no data.pkl found inside the archive", path));
  }
  auto pickle = read_file_range(file, *scan.pickle_offset, scan.pickle_size);
  if (!pickle) return fail(std::move(pickle.error()));

  PyTorchSummary summary;
  summary.path = display_name(path);
  summary.bytes = file_size;
  summary.is_zip = true;
  summary.tensor_count = scan.tensor_count;
  summary.total_parameter_bytes = scan.total_parameter_bytes;
  std::uint64_t element_size = 4;
  fill_from_pickle(*pickle, summary, element_size);
  summary.estimated_parameter_count = scan.total_parameter_bytes / element_size;
  summary.torch_version = std::move(scan.torch_version);
  summary.file_fingerprint = fnv1a64_u64(fnv1a64(kFnvOffsetBasis, *pickle), scan.entry_hash);
  summary.learned_state_fingerprint = scan.storage_hash;
  return summary;
}

}  // namespace

Result<PyTorchSummary> read_pytorch(const std::string& path) {
  auto file = File::open(path);
  if (!file) return fail(fmt::format("open {}: {}", path, file.error()));
  auto file_size = file->size();
  if (!file_size) return fail(fmt::format("stat {}: {}", path, file_size.error()));
  auto head = file->read_some(4);
  if (!head) return fail(fmt::format("read {}: {}", path, head.error()));

  if (*head == kZipMagic) return read_zip_archive(*file, path, *file_size);
  if (!head->empty() && static_cast<unsigned char>(head->front()) == kPickleProtocolOpcode) {
    return read_legacy_pickle(*file, path, *file_size);
  }
  return fail(
      fmt::format("{} does not look like a PyTorch file (no zip `PK` or pickle marker)", path));
}

NameList recover_param_names(std::string_view pickle) {
  NameList names;
  std::unordered_set<std::string_view> seen;
  std::size_t i = 0;
  while (i < pickle.size()) {
    const auto opcode = static_cast<unsigned char>(pickle[i]);
    // BINUNICODE: a 4-byte little-endian length, then the UTF-8 bytes; SHORT_BINUNICODE: a
    // 1-byte length. A length running past the end is no string: the scan moves on one byte.
    std::string_view candidate;
    bool is_string = false;
    std::size_t next = i + 1;
    if (opcode == 'X' || opcode == 0x8C) {
      ByteCursor cursor(pickle, next);
      const std::uint32_t length = opcode == 'X' ? cursor.u32_le() : cursor.u8();
      candidate = cursor.bytes(length);
      is_string = cursor.ok();
      if (is_string) next = cursor.offset();
    }
    i = next;
    // The allowed characters are ASCII, so an accepted candidate is valid UTF-8.
    if (is_string && is_param_name(candidate) && seen.insert(candidate).second) {
      names.push_back(candidate);
    }
  }
  return names;
}

DtypeGuess guess_dominant_dtype(std::string_view pickle) {
  DtypeGuess guess;
  std::uint64_t best = 0;
  for (const DtypeRow& row : kDtypeRows) {
    const std::uint64_t count = count_non_overlapping(pickle, row.storage_class);
    if (count > best) {
      best = count;
      guess.dtype = std::string(row.dtype);
      guess.element_size = row.element_size;
    }
  }
  return guess;
}

namespace {

// Both JSON forms carry the same members; the JSON type decides the key order (field order for
// the record, ascending for the value tree).
// Without `with_names` the parameter names are an empty placeholder, for a writer that streams
// them.
template <class Json>
Json summary_json(const PyTorchSummary& summary, bool with_names = true) {
  Json json = Json::object();
  json["path"] = summary.path;
  json["bytes"] = summary.bytes;
  json["is_zip"] = summary.is_zip;
  json["tensor_count"] = summary.tensor_count;
  json["total_parameter_bytes"] = summary.total_parameter_bytes;
  json["estimated_parameter_count"] = summary.estimated_parameter_count;
  json["dominant_dtype"] = summary.dominant_dtype ? Json(*summary.dominant_dtype) : Json(nullptr);
  json["param_names"] = with_names ? name_array_json<Json>(summary.param_names) : Json::array();
  json["torch_version"] = summary.torch_version ? Json(*summary.torch_version) : Json(nullptr);
  json["file_fingerprint"] = summary.file_fingerprint;
  json["learned_state_fingerprint"] = summary.learned_state_fingerprint;
  return json;
}

}  // namespace

void write_pytorch_summary(JsonStream& out, const PyTorchSummary& summary) {
  write_object_with_names(out, summary_json<OrderedJson>(summary, false), "param_names",
                          summary.param_names);
}

Result<std::string> serialize_pytorch_summary(const PyTorchSummary& summary) {
  return stream_json_text([&](JsonStream& out) { write_pytorch_summary(out, summary); });
}

Result<std::string> serialize_pytorch_summaries(const std::vector<PyTorchSummary>& summaries) {
  return stream_json_text([&](JsonStream& out) {
    out.begin_array();
    for (const PyTorchSummary& summary : summaries)
      write_pytorch_summary(out, summary);
    out.end();
  });
}

JsonValue pytorch_summary_to_value(const PyTorchSummary& summary) {
  return summary_json<JsonValue>(summary);
}

}  // namespace orvik

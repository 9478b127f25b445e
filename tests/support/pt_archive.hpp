#pragma once
// Pieces of PyTorch checkpoints: little-endian integers, a writer of small stored zip archives
// shaped like torch.save output, and pickle string opcodes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvik::testing_support {

inline void put_u16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>(v >> 8));
}

inline void put_u32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

inline void put_u64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

inline void set_u32(std::string& bytes, std::size_t offset, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    bytes[offset + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

inline void set_u64(std::string& bytes, std::size_t offset, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    bytes[offset + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

struct ZipItem {
  std::string name;
  std::string data;
};

struct ZipLayout {
  std::string bytes;
  std::vector<std::uint64_t> local_offsets;    // of each local header
  std::vector<std::uint64_t> central_offsets;  // of each central header
  std::uint64_t directory_offset = 0;
  std::uint64_t directory_size = 0;
  std::uint64_t eocd_offset = 0;
};

// A stored zip: local headers (no extra field), data, central directory, EOCD with `comment`.
inline ZipLayout build_zip(const std::vector<ZipItem>& items, std::string_view comment = {}) {
  ZipLayout z;
  for (const ZipItem& item : items) {
    z.local_offsets.push_back(z.bytes.size());
    z.bytes += "PK\x03\x04";
    put_u16(z.bytes, 20);  // version needed
    put_u16(z.bytes, 0);   // flags
    put_u16(z.bytes, 0);   // method: stored
    put_u32(z.bytes, 0);   // time and date
    put_u32(z.bytes, 0);   // crc (not checked by the reader)
    put_u32(z.bytes, static_cast<std::uint32_t>(item.data.size()));
    put_u32(z.bytes, static_cast<std::uint32_t>(item.data.size()));
    put_u16(z.bytes, static_cast<std::uint16_t>(item.name.size()));
    put_u16(z.bytes, 0);
    z.bytes += item.name;
    z.bytes += item.data;
  }
  z.directory_offset = z.bytes.size();
  for (std::size_t i = 0; i < items.size(); ++i) {
    z.central_offsets.push_back(z.bytes.size());
    z.bytes += "PK\x01\x02";
    put_u16(z.bytes, 20);
    put_u16(z.bytes, 20);
    put_u16(z.bytes, 0);
    put_u16(z.bytes, 0);
    put_u32(z.bytes, 0);
    put_u32(z.bytes, 0);
    put_u32(z.bytes, static_cast<std::uint32_t>(items[i].data.size()));  // compressed, at 20
    put_u32(z.bytes, static_cast<std::uint32_t>(items[i].data.size()));  // uncompressed, at 24
    put_u16(z.bytes, static_cast<std::uint16_t>(items[i].name.size()));  // at 28
    put_u16(z.bytes, 0);                                                 // extra, at 30
    put_u16(z.bytes, 0);                                                 // comment, at 32
    put_u16(z.bytes, 0);
    put_u16(z.bytes, 0);
    put_u32(z.bytes, 0);
    put_u32(z.bytes, static_cast<std::uint32_t>(z.local_offsets[i]));  // at 42
    z.bytes += items[i].name;
  }
  z.directory_size = z.bytes.size() - z.directory_offset;
  z.eocd_offset = z.bytes.size();
  z.bytes += "PK\x05\x06";
  put_u16(z.bytes, 0);
  put_u16(z.bytes, 0);
  put_u16(z.bytes, static_cast<std::uint16_t>(items.size()));
  put_u16(z.bytes, static_cast<std::uint16_t>(items.size()));
  put_u32(z.bytes, static_cast<std::uint32_t>(z.directory_size));    // at 12
  put_u32(z.bytes, static_cast<std::uint32_t>(z.directory_offset));  // at 16
  put_u16(z.bytes, static_cast<std::uint16_t>(comment.size()));
  z.bytes += comment;
  return z;
}

// Pickle SHORT_BINUNICODE and BINUNICODE opcodes.
inline std::string short_unicode(std::string_view text) {
  std::string out = "\x8c";
  out.push_back(static_cast<char>(text.size()));
  out += text;
  return out;
}

inline std::string binunicode(std::string_view text) {
  std::string out = "X";
  put_u32(out, static_cast<std::uint32_t>(text.size()));
  out += text;
  return out;
}

// A small pickle naming the given parameters and storage classes, shaped like torch's.
inline std::string make_pickle(const std::vector<std::string>& names,
                               std::string_view storage_class = "FloatStorage") {
  std::string out("\x80\x02}q\x00(", 6);
  for (const std::string& name : names) {
    out += short_unicode(name);
    out += "ctorch\n";
    out += storage_class;
    out += "\nq\x01";
  }
  out += "u.";
  return out;
}

}  // namespace orvik::testing_support

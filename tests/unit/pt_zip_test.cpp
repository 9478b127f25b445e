// The zip pieces behind the PyTorch reader: ranged reads with their messages, the local header
// skip, the EOCD search and the central directory walk with its zip64 extra field rules.
#include "pt/zip.hpp"

#include <gtest/gtest.h>

#include "pt_archive.hpp"
#include "scratch_dir.hpp"

namespace orvik {
namespace {

using testing_support::put_u16;
using testing_support::put_u32;
using testing_support::put_u64;

constexpr std::uint32_t kFull = 0xFFFFFFFFu;

std::string central_entry(std::string_view name, std::uint32_t uncompressed,
                          std::uint32_t compressed, std::uint32_t offset,
                          std::string_view extra = {}, std::string_view comment = {}) {
  std::string out = "PK\x01\x02";
  out.append(16, '\0');
  put_u32(out, compressed);
  put_u32(out, uncompressed);
  put_u16(out, static_cast<std::uint16_t>(name.size()));
  put_u16(out, static_cast<std::uint16_t>(extra.size()));
  put_u16(out, static_cast<std::uint16_t>(comment.size()));
  out.append(8, '\0');
  put_u32(out, offset);
  out += name;
  out += extra;
  out += comment;
  return out;
}

std::string extra_block(std::uint16_t id, std::string_view data) {
  std::string out;
  put_u16(out, id);
  put_u16(out, static_cast<std::uint16_t>(data.size()));
  out += data;
  return out;
}

std::string u64s(std::initializer_list<std::uint64_t> values) {
  std::string out;
  for (std::uint64_t v : values)
    put_u64(out, v);
  return out;
}

std::vector<ZipEntry> walk(std::string_view directory) {
  std::vector<ZipEntry> entries;
  auto walked = walk_zip_central_directory(directory, [&](const ZipEntry& e) -> CommandResult {
    entries.push_back(e);
    return {};
  });
  EXPECT_TRUE(walked.has_value());
  return entries;
}

ZipEntry walk_one(std::string_view directory) {
  auto entries = walk(directory);
  EXPECT_EQ(entries.size(), 1u);
  return entries.empty() ? ZipEntry{} : entries.front();
}

TEST(PtZip, LittleEndianReads) {
  const std::string bytes = "\x01\x02\x03\x04\x05\x06\x07\x08\x09";
  EXPECT_EQ(read_u16_le_at(bytes, 0), 0x0201u);
  EXPECT_EQ(read_u32_le_at(bytes, 1), 0x05040302u);
  EXPECT_EQ(read_u64_le_at(bytes, 1), 0x0908070605040302ull);
  EXPECT_EQ(read_u64_le_at(std::string(8, '\xff'), 0), 0xFFFFFFFFFFFFFFFFull);
}

TEST(PtZip, ReadFileRangeMessages) {
  testing_support::ScratchDir dir;
  auto file = File::open(dir.write("ten.bin", "0123456789"));
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(read_file_range(*file, 2, 3).value(), "234");
  EXPECT_EQ(read_file_range(*file, 0, 10).value(), "0123456789");
  EXPECT_EQ(read_file_range(*file, 8, 3).error(), "read: failed to fill whole buffer");
  EXPECT_EQ(read_file_range(*file, 11, 1).error(), "read: failed to fill whole buffer");
  EXPECT_EQ(read_file_range(*file, 5, 0xFFFFFFFFFFFFFFFFull).error(),
            "read: failed to fill whole buffer");
  // Nothing to read succeeds even past the end; offsets no file can have fail in the seek.
  EXPECT_EQ(read_file_range(*file, 1000, 0).value(), "");
  EXPECT_EQ(read_file_range(*file, 0x8000000000000000ull, 0).error(),
            "seek: Invalid argument (os error 22)");
  EXPECT_EQ(read_file_range(*file, 0xFFFFFFFFFFFFFFF0ull, 30).error(),
            "seek: Invalid argument (os error 22)");
}

TEST(PtZip, LocalDataOffsetSkipsNameAndExtra) {
  testing_support::ScratchDir dir;
  std::string bytes = "junkPK\x03\x04";
  bytes.append(22, '\0');
  put_u16(bytes, 5);    // name length
  put_u16(bytes, 300);  // extra length
  auto file = File::open(dir.write("local.bin", bytes));
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(zip_local_data_offset(*file, 4).value(), 4u + 30 + 5 + 300);
  EXPECT_EQ(zip_local_data_offset(*file, 0).error(), "bad local header");
  EXPECT_EQ(zip_local_data_offset(*file, 5).error(), "read: failed to fill whole buffer");
}

TEST(PtZip, WalkReadsFixedFields) {
  const std::string directory =
      central_entry("a/data.pkl", 845, 845, 0) + central_entry("a/data/0", 2048, 2048, 925);
  auto entries = walk(directory);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "a/data.pkl");
  EXPECT_EQ(entries[0].uncompressed_size, 845u);
  EXPECT_EQ(entries[0].local_header_offset, 0u);
  EXPECT_EQ(entries[1].name, "a/data/0");
  EXPECT_EQ(entries[1].local_header_offset, 925u);
}

TEST(PtZip, WalkDecodesNamesWithReplacement) {
  EXPECT_EQ(walk_one(central_entry("a/\xff\xc3(", 1, 1, 0)).name, "a/\xEF\xBF\xBD\xEF\xBF\xBD(");
}

TEST(PtZip, WalkEndsQuietly) {
  const std::string good = central_entry("a/data/0", 4, 4, 0);
  EXPECT_EQ(walk(good + "PK\x05\x06" + std::string(60, '\0')).size(), 1u);  // foreign signature
  EXPECT_EQ(walk(good + good.substr(0, 45)).size(), 1u);                    // under 46 bytes
  EXPECT_EQ(walk("").size(), 0u);
  // A name or extra field cut off by the end of the directory: the entry is not used.
  EXPECT_EQ(walk(good + good.substr(0, good.size() - 1)).size(), 1u);
  const std::string with_extra = central_entry("n", 4, 4, 0, extra_block(0x5455, "12345"));
  EXPECT_EQ(walk(good + with_extra.substr(0, with_extra.size() - 1)).size(), 1u);
  // A comment cut off still leaves a whole entry; nothing follows it.
  const std::string with_comment = central_entry("n", 4, 4, 0, "", "comment");
  EXPECT_EQ(walk(with_comment.substr(0, with_comment.size() - 3) + good).size(), 1u);
}

TEST(PtZip, WalkStopsAtVisitorError) {
  const std::string directory = central_entry("a", 1, 1, 0) + central_entry("b", 1, 1, 0);
  int calls = 0;
  auto walked = walk_zip_central_directory(directory, [&](const ZipEntry&) -> CommandResult {
    ++calls;
    return fail("bad local header");
  });
  EXPECT_EQ(walked.error(), "bad local header");
  EXPECT_EQ(calls, 1);
}

TEST(PtZip, Zip64ExtraValuesInOrder) {
  // Uncompressed, compressed and offset all saturated: three values.
  ZipEntry e = walk_one(
      central_entry("x", kFull, kFull, kFull, extra_block(1, u64s({5000000000, 123, 6000000000}))));
  EXPECT_EQ(e.uncompressed_size, 5000000000u);
  EXPECT_EQ(e.local_header_offset, 6000000000u);
  // Compressed size not saturated: no slot for it.
  e = walk_one(central_entry("x", kFull, 7, kFull, extra_block(1, u64s({11, 22}))));
  EXPECT_EQ(e.uncompressed_size, 11u);
  EXPECT_EQ(e.local_header_offset, 22u);
  // Only the offset saturated (the compressed size is skipped when saturated).
  e = walk_one(central_entry("x", 9, kFull, kFull, extra_block(1, u64s({33, 44}))));
  EXPECT_EQ(e.uncompressed_size, 9u);
  EXPECT_EQ(e.local_header_offset, 44u);
  e = walk_one(central_entry("x", 9, 9, kFull, extra_block(1, u64s({55}))));
  EXPECT_EQ(e.local_header_offset, 55u);
}

TEST(PtZip, Zip64ExtraOnlyWhenSaturated) {
  // A saturated compressed size alone does not make the reader look at the extra field.
  ZipEntry e = walk_one(central_entry("x", 9, kFull, 10, extra_block(1, u64s({1, 2, 3}))));
  EXPECT_EQ(e.uncompressed_size, 9u);
  EXPECT_EQ(e.local_header_offset, 10u);
}

TEST(PtZip, Zip64ExtraSearchAndBounds) {
  // Foreign blocks before the zip64 block are skipped.
  ZipEntry e = walk_one(
      central_entry("x", kFull, 1, 2, extra_block(0x5455, "12345") + extra_block(1, u64s({77}))));
  EXPECT_EQ(e.uncompressed_size, 77u);
  // Only the first zip64 block counts.
  e = walk_one(
      central_entry("x", kFull, 1, 2, extra_block(1, u64s({1})) + extra_block(1, u64s({2}))));
  EXPECT_EQ(e.uncompressed_size, 1u);
  // A value reaching past the extra field keeps the 32-bit value.
  e = walk_one(central_entry("x", kFull, 1, kFull, extra_block(1, u64s({88})).substr(0, 11)));
  EXPECT_EQ(e.uncompressed_size, kFull);
  EXPECT_EQ(e.local_header_offset, kFull);
  e = walk_one(central_entry("x", kFull, 1, kFull, extra_block(1, u64s({88}))));
  EXPECT_EQ(e.uncompressed_size, 88u);
  EXPECT_EQ(e.local_header_offset, kFull);
  // Values are bounded by the extra field, not by the block's declared data size.
  std::string short_block;
  put_u16(short_block, 1);
  put_u16(short_block, 0);
  short_block += u64s({99});
  e = walk_one(central_entry("x", kFull, 1, 2, short_block));
  EXPECT_EQ(e.uncompressed_size, 99u);
  // A foreign block claiming more data than the field holds ends the search.
  std::string runaway;
  put_u16(runaway, 0x7075);
  put_u16(runaway, 400);
  e = walk_one(central_entry("x", kFull, 1, 2, runaway + extra_block(1, u64s({5}))));
  EXPECT_EQ(e.uncompressed_size, kFull);
  // A header that does not fit ends the search.
  e = walk_one(central_entry("x", kFull, 1, 2, std::string_view("\x01\x00\x08", 3)));
  EXPECT_EQ(e.uncompressed_size, kFull);
}

TEST(PtZip, FindsCentralDirectoryBehindAComment) {
  testing_support::ScratchDir dir;
  auto zip = testing_support::build_zip({{"a/data.pkl", "x"}}, "a comment with PK in it");
  auto file = File::open(dir.write("c.zip", zip.bytes));
  ASSERT_TRUE(file.has_value());
  auto found = find_zip_central_directory(*file, zip.bytes.size());
  ASSERT_TRUE(found.has_value());
  ASSERT_TRUE(found->has_value());
  EXPECT_EQ((*found)->offset, zip.directory_offset);
  EXPECT_EQ((*found)->size, zip.directory_size);
}

TEST(PtZip, LastSignatureFromTheEndWins) {
  testing_support::ScratchDir dir;
  auto zip = testing_support::build_zip({{"a/data.pkl", "x"}});
  // A second end record in the comment area is the one found.
  std::string bytes = zip.bytes;
  bytes.resize(bytes.size() - 2);
  put_u16(bytes, 22);
  std::string decoy = "PK\x05\x06";
  decoy.append(8, '\0');
  put_u32(decoy, 7);
  put_u32(decoy, 3);
  put_u16(decoy, 0);
  bytes += decoy;
  auto file = File::open(dir.write("d.zip", bytes));
  auto found = find_zip_central_directory(*file, bytes.size());
  ASSERT_TRUE(found.has_value() && found->has_value());
  EXPECT_EQ((*found)->size, 7u);
  EXPECT_EQ((*found)->offset, 3u);
}

TEST(PtZip, EocdTooCloseToTheEndIsNotUsable) {
  testing_support::ScratchDir dir;
  const std::string bytes =
      "PK\x03\x04" + std::string(40, 'z') + "PK\x05\x06" + std::string(15, '\0');
  auto file = File::open(dir.write("e.zip", bytes));
  auto found = find_zip_central_directory(*file, bytes.size());
  ASSERT_TRUE(found.has_value());
  EXPECT_FALSE(found->has_value());
  // Twenty bytes hold the size and offset; the comment length is never read.
  const std::string enough = bytes + std::string(1, '\0');
  file = File::open(dir.write("f.zip", enough));
  found = find_zip_central_directory(*file, enough.size());
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(found->has_value());
}

}  // namespace
}  // namespace orvik

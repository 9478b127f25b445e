// PyTorch checkpoint reader: the real torch.save, legacy and TorchScript files, zip64 and renamed
// variants, synthetic archives for each entry rule, damaged and forged archives, and both JSON
// forms of the record.
#include "pt/pytorch_reader.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include <gtest/gtest.h>

#include "files.hpp"
#include "pt_archive.hpp"
#include "scratch_dir.hpp"

namespace orvik {
namespace {

using testing_support::build_zip;
using testing_support::make_pickle;
using testing_support::ScratchDir;
using testing_support::set_u32;
using testing_support::set_u64;
using testing_support::slurp;
using testing_support::ZipItem;

const std::string kData = std::string(ORVIK_TEST_DATA) + "/torch/";

const char* const kFixtures[] = {"bare_tensor.pt",
                                 "mlp_full_module.pt",
                                 "mlp_state_dict.pt",
                                 "mlp_state_dict_legacy.pt",
                                 "mlp_torchscript.pt",
                                 "via_bytesio_archive_prefix.pt",
                                 "mlp_state_dict_zip64.pt",
                                 "mlp_state_dict_zip64_offsets.pt",
                                 "mlp_state_dict_renamed.pt",
                                 "attn_checkpoint.pth"};

const std::vector<std::string> kMlpKeys = {"fc1.weight",
                                           "fc1.bias",
                                           "bn.weight",
                                           "bn.bias",
                                           "bn.running_mean",
                                           "bn.running_var",
                                           "bn.num_batches_tracked",
                                           "fc2.weight",
                                           "fc2.bias"};

PyTorchSummary read_ok(const std::string& path) {
  auto summary = read_pytorch(path);
  EXPECT_TRUE(summary.has_value()) << path << ": " << summary.error();
  return summary.value_or(PyTorchSummary{});
}

std::string read_error(const std::string& path) {
  auto summary = read_pytorch(path);
  EXPECT_FALSE(summary.has_value()) << path;
  return summary.has_value() ? std::string() : summary.error();
}

// Checkpoint with a pickle, a version entry and the given storages under archive/.
std::vector<ZipItem> checkpoint(const std::vector<std::string>& storages,
                                const std::string& pickle = make_pickle({"fc.weight"})) {
  std::vector<ZipItem> items = {{"archive/data.pkl", pickle}};
  for (std::size_t i = 0; i < storages.size(); ++i) {
    items.push_back({"archive/data/" + std::to_string(i), storages[i]});
  }
  items.push_back({"archive/version", "3\n"});
  return items;
}

// Values from tests/data/torch/expected_summary.py, a separate reading of the files.
TEST(PtReader, StateDictArchive) {
  const PyTorchSummary s = read_ok(kData + "mlp_state_dict.pt");
  EXPECT_EQ(s.path, "mlp_state_dict.pt");
  EXPECT_EQ(s.bytes, 6232u);
  EXPECT_TRUE(s.is_zip);
  EXPECT_EQ(s.tensor_count, 9u);  // mlp_state_dict/data/0 .. 8
  EXPECT_EQ(s.total_parameter_bytes, 3224u);
  EXPECT_EQ(s.estimated_parameter_count, 806u);
  EXPECT_EQ(s.dominant_dtype, "float32");
  EXPECT_EQ(s.param_names, kMlpKeys);  // exactly the state-dict keys, in order
  EXPECT_EQ(s.torch_version, "3");
  EXPECT_EQ(s.file_fingerprint, 0xf22ee60837dddb7bull);
  EXPECT_EQ(s.learned_state_fingerprint, 0x1c612ca07a559f1aull);
}

TEST(PtReader, LegacyPickle) {
  const PyTorchSummary s = read_ok(kData + "mlp_state_dict_legacy.pt");
  EXPECT_FALSE(s.is_zip);
  EXPECT_EQ(s.bytes, 4511u);
  EXPECT_EQ(s.tensor_count, 0u);
  EXPECT_EQ(s.total_parameter_bytes, 0u);
  EXPECT_EQ(s.estimated_parameter_count, 0u);
  EXPECT_EQ(s.dominant_dtype, "float32");
  EXPECT_EQ(s.param_names, kMlpKeys);
  EXPECT_EQ(s.torch_version, std::nullopt);
  EXPECT_EQ(s.file_fingerprint,
            fnv1a64(kFnvOffsetBasis, slurp(kData + "mlp_state_dict_legacy.pt")));
  EXPECT_EQ(s.file_fingerprint, s.learned_state_fingerprint);
  EXPECT_EQ(s.file_fingerprint, 0xd192d0d018cb6851ull);
}

TEST(PtReader, OtherRealArchives) {
  PyTorchSummary s = read_ok(kData + "mlp_full_module.pt");
  EXPECT_EQ(s.tensor_count, 9u);
  EXPECT_EQ(s.param_names,
            (std::vector<std::string>{"weight", "bias", "running_mean", "running_var"}));
  EXPECT_EQ(s.file_fingerprint, 0xe7ae82a41ed67bc7ull);
  EXPECT_EQ(s.learned_state_fingerprint, 0x1c612ca07a559f1aull);  // same weights as the dict

  // TorchScript deflates its code/ entries; none of them is read.
  s = read_ok(kData + "mlp_torchscript.pt");
  EXPECT_EQ(s.tensor_count, 9u);
  EXPECT_EQ(s.total_parameter_bytes, 3224u);
  EXPECT_EQ(s.torch_version, "3");
  EXPECT_EQ(s.file_fingerprint, 0xf6f59a1404ed1086ull);
  EXPECT_EQ(s.learned_state_fingerprint, 0x1c612ca07a559f1aull);

  s = read_ok(kData + "bare_tensor.pt");
  EXPECT_EQ(s.tensor_count, 1u);
  EXPECT_EQ(s.dominant_dtype, "int32");
  EXPECT_EQ(s.estimated_parameter_count, 12u);
  EXPECT_TRUE(s.param_names.empty());
  EXPECT_EQ(s.file_fingerprint, 0x0a15a9ae7b1c01c6ull);
  EXPECT_EQ(s.learned_state_fingerprint, 0xf0c3045fae0524f5ull);

  s = read_ok(kData + "via_bytesio_archive_prefix.pt");
  EXPECT_EQ(s.tensor_count, 1u);
  EXPECT_EQ(s.dominant_dtype, "float64");
  EXPECT_EQ(s.estimated_parameter_count, 3u);
  EXPECT_TRUE(s.param_names.empty());  // the key "w" is a single character
  EXPECT_EQ(s.file_fingerprint, 0xd4844fac663498abull);
  EXPECT_EQ(s.learned_state_fingerprint, 0xea58820d939bde40ull);
}

TEST(PtReader, MixedDtypeTrainingCheckpoint) {
  const PyTorchSummary s = read_ok(kData + "attn_checkpoint.pth");
  EXPECT_EQ(s.tensor_count, 43u);  // every */data/N entry of the archive
  EXPECT_EQ(s.total_parameter_bytes, 90900u);
  // Each storage class is named once and memoized after that: the tie goes to the earlier row.
  EXPECT_EQ(s.dominant_dtype, "bfloat16");
  EXPECT_EQ(s.estimated_parameter_count, 45450u);
  const std::vector<std::string> model_keys = {
      "emb.weight",         "attn.in_proj_weight", "attn.in_proj_bias", "attn.out_proj.weight",
      "attn.out_proj.bias", "ln.weight",           "ln.bias",           "head.weight",
      "head.bias"};
  std::vector<std::string> expected = model_keys;
  expected.push_back("attn.out_proj");  // a module path in the pickle
  EXPECT_EQ(s.param_names, expected);
  EXPECT_EQ(s.file_fingerprint, 0x80259e6528c6b07dull);
  EXPECT_EQ(s.learned_state_fingerprint, 0x2c0a1d80aba6d04cull);
}

TEST(PtReader, Zip64ArchivesMatchTheOriginal) {
  const PyTorchSummary plain = read_ok(kData + "mlp_state_dict.pt");
  for (const char* name : {"mlp_state_dict_zip64.pt", "mlp_state_dict_zip64_offsets.pt"}) {
    PyTorchSummary s = read_ok(kData + name);
    EXPECT_NE(s.bytes, plain.bytes) << name;
    s.bytes = plain.bytes;
    s.path = plain.path;
    EXPECT_EQ(serialize_pytorch_summary(s).value(), serialize_pytorch_summary(plain).value())
        << name;
  }
}

TEST(PtReader, RenamedTopFolderKeepsLearnedState) {
  const PyTorchSummary plain = read_ok(kData + "mlp_state_dict.pt");
  const PyTorchSummary renamed = read_ok(kData + "mlp_state_dict_renamed.pt");
  EXPECT_NE(renamed.file_fingerprint, plain.file_fingerprint);
  EXPECT_EQ(renamed.learned_state_fingerprint, plain.learned_state_fingerprint);
  EXPECT_EQ(renamed.param_names, plain.param_names);
  EXPECT_EQ(renamed.tensor_count, plain.tensor_count);
}

TEST(PtReader, FingerprintsFollowTheirDefinition) {
  ScratchDir dir;
  const std::string pickle = make_pickle({"fc.weight"});
  const std::vector<ZipItem> items = checkpoint({"abcd", std::string(3, 'z')}, pickle);
  const PyTorchSummary s = read_ok(dir.write("m.pt", build_zip(items).bytes));
  Fingerprint entries = kFnvOffsetBasis;
  Fingerprint storages = kFnvOffsetBasis;
  for (const ZipItem& item : items) {
    entries = fnv1a64_u64(fnv1a64(entries, item.name), item.data.size());
  }
  storages = fnv1a64_u64(fnv1a64(storages, "abcd"), 4);
  storages = fnv1a64_u64(fnv1a64(storages, "zzz"), 3);
  EXPECT_EQ(s.file_fingerprint, fnv1a64_u64(fnv1a64(kFnvOffsetBasis, pickle), entries));
  EXPECT_EQ(s.learned_state_fingerprint, storages);
  EXPECT_EQ(s.total_parameter_bytes, 7u);
  EXPECT_EQ(s.estimated_parameter_count, 1u);  // 7 / 4
}

TEST(PtReader, ArchiveWithoutStorages) {
  ScratchDir dir;
  const PyTorchSummary s = read_ok(dir.write("m.pt", build_zip(checkpoint({})).bytes));
  EXPECT_EQ(s.tensor_count, 0u);
  EXPECT_EQ(s.estimated_parameter_count, 0u);
  EXPECT_EQ(s.learned_state_fingerprint, 0xcbf29ce484222325ull);
  EXPECT_EQ(s.param_names, (std::vector<std::string>{"fc.weight"}));
}

TEST(PtReader, EntryNameRules) {
  ScratchDir dir;
  const std::vector<ZipItem> items = {
      {"archive/data.pkl", make_pickle({})},
      {"archive/data/0", "1111"},
      {"archive/data/17", "22"},
      {"archive/data/0.bin", "333"},
      {"archive/data/", "4444"},
      {"archive/data/x1", "55555"},
      {"data/3", "666666"},             // no "/data/" in the name
      {"x/data/y/data/4", "7"},         // digits after the last "/"
      {"archive/data/\xd9\xa3", "88"},  // a non-ASCII digit
      {"version", "2.1.0\n"},
  };
  const PyTorchSummary s = read_ok(dir.write("m.pt", build_zip(items).bytes));
  EXPECT_EQ(s.tensor_count, 3u);
  EXPECT_EQ(s.total_parameter_bytes, 7u);
  EXPECT_EQ(s.torch_version, "2.1.0");
}

TEST(PtReader, LastPickleAndVersionWin) {
  ScratchDir dir;
  const std::vector<ZipItem> items = {
      {"a/data.pkl", make_pickle({"first.weight"})},
      {"a/version", "1"},
      {"b/data.pkl", make_pickle({"second.weight"})},
      {"b/version", "2"},
      {"c/extra_data.pkl", ""},  // ends with data.pkl too, but an empty last pickle fails
  };
  EXPECT_EQ(read_error(dir.write("empty_last.pt", build_zip(items).bytes)),
            (dir / "empty_last.pt") + ": no data.pkl found inside the archive");
  const std::vector<ZipItem> good(items.begin(), items.end() - 1);
  const PyTorchSummary s = read_ok(dir.write("m.pt", build_zip(good).bytes));
  EXPECT_EQ(s.param_names, (std::vector<std::string>{"second.weight"}));
  EXPECT_EQ(s.torch_version, "2");
}

// Only the last pickle is kept, but every earlier data.pkl entry is still located and its data
// range checked where the walk meets it, so a damaged earlier entry fails the read.
TEST(PtReader, SupersededPickleEntriesStillFail) {
  ScratchDir dir;
  const std::vector<ZipItem> items = {
      {"a/data.pkl", make_pickle({"first.weight"})},
      {"a/data/0", "abcd"},
      {"b/data.pkl", make_pickle({"second.weight"})},
  };
  const auto base = build_zip(items);
  const std::size_t first = base.central_offsets[0];
  auto forged = [&](std::size_t at, std::uint32_t value) {
    std::string bytes = base.bytes;
    set_u32(bytes, at, value);
    return read_pytorch(dir.write("f.pt", bytes));
  };
  EXPECT_EQ(forged(first + 42, 1).error(), "bad local header");
  EXPECT_EQ(forged(first + 42, 0x7FFFFFFF).error(), "read: failed to fill whole buffer");
  EXPECT_EQ(forged(first + 24, 0x7FFFFFFF).error(), "read: failed to fill whole buffer");
  // The earlier entry is checked before the storage after it: its error comes first.
  std::string both = base.bytes;
  set_u32(both, first + 42, 1);
  set_u32(both, base.central_offsets[1] + 24, 0x7FFFFFFF);
  EXPECT_EQ(read_error(dir.write("both.pt", both)), "bad local header");
  // An earlier empty or oversized-but-inside-the-file entry is harmless once a later one wins.
  auto grown = forged(first + 24, 10);
  ASSERT_TRUE(grown.has_value()) << grown.error();
  EXPECT_EQ(grown->param_names, (std::vector<std::string>{"second.weight"}));
  // The last entry's range is checked too, before the storage after it is sampled.
  const std::vector<ZipItem> last_bad_items = {
      {"a/data.pkl", make_pickle({"first.weight"})},
      {"b/data.pkl", make_pickle({"second.weight"})},
      {"a/data/0", "abcd"},
  };
  auto last_bad = build_zip(last_bad_items);
  set_u32(last_bad.bytes, last_bad.central_offsets[1] + 24, 0x7FFFFFFF);
  set_u32(last_bad.bytes, last_bad.central_offsets[2] + 42, 1);
  EXPECT_EQ(read_error(dir.write("last.pt", last_bad.bytes)), "read: failed to fill whole buffer");
}

TEST(PtReader, VersionEntryIsTrimmedAndCapped) {
  ScratchDir dir;
  auto version_of = [&](const std::string& content) {
    std::vector<ZipItem> items = {{"archive/data.pkl", make_pickle({})},
                                  {"archive/version", content}};
    return read_ok(dir.write("v.pt", build_zip(items).bytes)).torch_version;
  };
  EXPECT_EQ(version_of("2.1.0\n"), "2.1.0");
  EXPECT_EQ(version_of(std::string(100, '7')), std::string(32, '7'));
  EXPECT_EQ(version_of("\xc2\xa0\xe3\x80\x80 3\t\xc2\x85"), "3");  // NBSP, U+3000, NEL
  EXPECT_EQ(version_of(" 3\t\x85"), "3\t\xEF\xBF\xBD");            // a lone 0x85 is no white space
  EXPECT_EQ(version_of("\xe2\x80\xa8 4 \xe2\x80\x89"), "4");
  EXPECT_EQ(version_of("1\xff"), "1\xEF\xBF\xBD");
  EXPECT_EQ(version_of(""), "");
  // The cap can cut a character; the cut bytes become one replacement character.
  EXPECT_EQ(version_of(std::string(31, 'v') + "\xc3\xa9"), std::string(31, 'v') + "\xEF\xBF\xBD");
}

TEST(PtReader, StorageSamplingStopsAtOneMebibyte) {
  ScratchDir dir;
  const std::string big(3 * 1024 * 1024, 'a');
  std::string changed_late = big;
  changed_late[2 * 1024 * 1024] = 'b';
  std::string changed_early = big;
  changed_early[1024 * 1024 - 1] = 'b';
  const PyTorchSummary a = read_ok(dir.write("a.pt", build_zip(checkpoint({big})).bytes));
  const PyTorchSummary b = read_ok(dir.write("b.pt", build_zip(checkpoint({changed_late})).bytes));
  const PyTorchSummary c = read_ok(dir.write("c.pt", build_zip(checkpoint({changed_early})).bytes));
  EXPECT_EQ(a.total_parameter_bytes, 3145728u);
  EXPECT_EQ(a.learned_state_fingerprint,
            fnv1a64_u64(fnv1a64(kFnvOffsetBasis, big.substr(0, 1048576)), 3145728));
  EXPECT_EQ(a.learned_state_fingerprint, b.learned_state_fingerprint);
  EXPECT_NE(a.learned_state_fingerprint, c.learned_state_fingerprint);
  EXPECT_EQ(a.file_fingerprint, b.file_fingerprint);
}

TEST(PtReader, DominantDtype) {
  EXPECT_EQ(guess_dominant_dtype("FloatStorageHalfStorageFloatStorageHalfStorage"
                                 "FloatStorageHalfStorage")
                .dtype,
            "float16");
  DtypeGuess g = guess_dominant_dtype("LongStorage LongStorage FloatStorage");
  EXPECT_EQ(g.dtype, "int64");
  EXPECT_EQ(g.element_size, 8u);
  g = guess_dominant_dtype("no storages here");
  EXPECT_EQ(g.dtype, std::nullopt);
  EXPECT_EQ(g.element_size, 4u);
  g = guess_dominant_dtype("BFloat16StorageHalfStorageBoolStorageBoolStorage");
  EXPECT_EQ(g.dtype, "bool");
  EXPECT_EQ(g.element_size, 1u);
  EXPECT_EQ(guess_dominant_dtype("DoubleStorage ByteStorage").dtype, "float64");
  EXPECT_EQ(guess_dominant_dtype("IntStorage").element_size, 4u);
  EXPECT_EQ(guess_dominant_dtype("ByteStorage").dtype, "uint8");

  // No storage class in the pickle: bytes / 4.
  ScratchDir dir;
  const PyTorchSummary s = read_ok(dir.write(
      "m.pt",
      build_zip(checkpoint({std::string(10, 'x')}, make_pickle({"w.weight"}, "Unknown"))).bytes));
  EXPECT_EQ(s.dominant_dtype, std::nullopt);
  EXPECT_EQ(s.estimated_parameter_count, 2u);
}

TEST(PtReader, ParameterNames) {
  using testing_support::binunicode;
  using testing_support::short_unicode;
  const std::string pickle =
      short_unicode("layer1.weight") + short_unicode("fc.bias") + binunicode("bn.running_mean") +
      short_unicode("weight") + short_unicode("bias") + short_unicode("my-layer.weight") +
      short_unicode("w") + short_unicode("a.") + short_unicode(std::string(199, 'a') + ".") +
      binunicode(std::string(200, 'b') + ".") + short_unicode("fc.bias") +
      short_unicode("running_var") + short_unicode("plainword") + short_unicode("head.\xc3\xa9") +
      short_unicode("x.y");
  EXPECT_EQ(
      recover_param_names(pickle),
      (std::vector<std::string>{"layer1.weight", "fc.bias", "bn.running_mean", "weight", "bias",
                                "a.", std::string(199, 'a') + ".", "running_var", "x.y"}));
}

TEST(PtReader, ParameterNameScanSkipsStringBodies) {
  using testing_support::short_unicode;
  // A rejected string is still skipped over: its body is not scanned for opcodes.
  EXPECT_TRUE(recover_param_names(short_unicode(short_unicode("hidden.weight"))).empty());
  // A length that does not fit makes the byte an ordinary one.
  EXPECT_EQ(recover_param_names("\x8c\x30" + short_unicode("a.b")),
            (std::vector<std::string>{"a.b"}));
  EXPECT_EQ(recover_param_names(std::string("X\xff\xff\xff\x7f") + short_unicode("c.d")),
            (std::vector<std::string>{"c.d"}));
  EXPECT_TRUE(recover_param_names("X").empty());
  EXPECT_TRUE(recover_param_names("\x8c").empty());
  EXPECT_TRUE(recover_param_names("").empty());
}

TEST(PtReader, OpenAndKindErrors) {
  ScratchDir dir;
  EXPECT_EQ(read_error(dir / "missing.pt"),
            "open " + (dir / "missing.pt") + ": No such file or directory (os error 2)");
  EXPECT_EQ(read_error(dir / ""), "read " + (dir / "") + ": Is a directory (os error 21)");
  for (const std::string& bytes : {std::string(), std::string("P"), std::string("PK"),
                                   std::string("PK\x05\x06") + std::string(18, '\0'),
                                   std::string("PK\x03"), std::string("{\"layers\": []}")}) {
    const std::string path = dir.write("odd.pt", bytes);
    EXPECT_EQ(read_error(path),
              path + " does not look like a PyTorch file (no zip `PK` or pickle marker)");
  }
  // A lone pickle protocol byte is a (tiny) legacy pickle.
  const PyTorchSummary s = read_ok(dir.write("one.pt", "\x80"));
  EXPECT_FALSE(s.is_zip);
  EXPECT_EQ(s.bytes, 1u);
}

TEST(PtReader, ArchiveLevelErrors) {
  ScratchDir dir;
  const std::string no_eocd = "PK\x03\x04" + std::string(100, '\0');
  EXPECT_EQ(read_error(dir.write("a.pt", no_eocd)), (dir / "a.pt") + ": no zip EOCD record");
  // An end record whose size and offset would run past the end of the file.
  const std::string cut_eocd =
      "PK\x03\x04" + std::string(10, '\0') + "PK\x05\x06" + std::string(12, '\0');
  EXPECT_EQ(read_error(dir.write("b.pt", cut_eocd)), (dir / "b.pt") + ": no zip EOCD record");
  EXPECT_EQ(read_error(dir.write("c.pt", build_zip({{"archive/version", "3"}}).bytes)),
            (dir / "c.pt") + ": no data.pkl found inside the archive");
  EXPECT_EQ(read_error(dir.write("d.pt", build_zip({{"archive/data.pkl", ""}}).bytes)),
            (dir / "d.pt") + ": no data.pkl found inside the archive");
  // A directory that ends early keeps what was found: here, nothing.
  auto zip = build_zip(checkpoint({"abcd"}));
  set_u32(zip.bytes, zip.eocd_offset + 12, 45);
  EXPECT_EQ(read_error(dir.write("e.pt", zip.bytes)),
            (dir / "e.pt") + ": no data.pkl found inside the archive");
}

TEST(PtReader, DirectoryCutInsideAnEntryKeepsEarlierEntries) {
  ScratchDir dir;
  auto zip = build_zip(checkpoint({"abcd", "efgh"}));
  // Cut the directory inside the name of the third entry (archive/data/1).
  set_u32(zip.bytes, zip.eocd_offset + 12,
          static_cast<std::uint32_t>(zip.central_offsets[2] - zip.directory_offset + 50));
  const PyTorchSummary s = read_ok(dir.write("m.pt", zip.bytes));
  EXPECT_EQ(s.tensor_count, 1u);
  EXPECT_EQ(s.torch_version, std::nullopt);
}

TEST(PtReader, ForgedSizesAndOffsets) {
  ScratchDir dir;
  const auto base = build_zip(checkpoint({"abcd", "efgh"}));
  const std::string eof = "read: failed to fill whole buffer";
  auto forged = [&](std::size_t at, std::uint32_t value) {
    std::string bytes = base.bytes;
    set_u32(bytes, at, value);
    return read_pytorch(dir.write("f.pt", bytes));
  };
  const std::size_t storage = base.central_offsets[1];
  const std::size_t pickle = base.central_offsets[0];
  EXPECT_EQ(forged(base.eocd_offset + 16, 0xFFFFFF00).error(), eof);  // directory offset
  EXPECT_EQ(forged(base.eocd_offset + 12, 0x7FFFFFFF).error(), eof);  // directory size
  EXPECT_EQ(forged(storage + 24, 0x7FFFFFFF).error(), eof);           // storage size
  EXPECT_EQ(forged(pickle + 24, 0xFFFFFFF0).error(), eof);            // pickle size
  EXPECT_EQ(forged(storage + 42, 0x7FFFFFFF).error(), eof);           // local header offset
  EXPECT_EQ(forged(storage + 42, 1).error(), "bad local header");
  EXPECT_EQ(forged(pickle + 42, 3).error(), "bad local header");
  // A saturated size without a zip64 block keeps 0xFFFFFFFF, past the end of the file.
  EXPECT_EQ(forged(storage + 24, 0xFFFFFFFF).error(), eof);
  // A storage of size 0 is never located, so its bad offset does not matter.
  std::string zero = base.bytes;
  set_u32(zero, storage + 24, 0);
  set_u32(zero, storage + 42, 5);
  EXPECT_EQ(read_ok(dir.write("z.pt", zero)).tensor_count, 2u);
  // A larger size that still lies inside the file is sampled as it says.
  auto grown = forged(storage + 24, 20);
  ASSERT_TRUE(grown.has_value()) << grown.error();
  EXPECT_EQ(grown->total_parameter_bytes, 24u);
}

TEST(PtReader, ForgedZip64Records) {
  ScratchDir dir;
  std::string bytes = slurp(kData + "mlp_state_dict_zip64.pt");
  const std::size_t locator = bytes.size() - 22 - 20;
  ASSERT_EQ(bytes.substr(locator, 4), "PK\x06\x07");
  const std::size_t record = locator - 56;
  ASSERT_EQ(bytes.substr(record, 4), "PK\x06\x06");
  auto with = [&](std::size_t at, std::uint64_t value) {
    std::string copy = bytes;
    set_u64(copy, at, value);
    return read_pytorch(dir.write("f.pt", copy));
  };
  EXPECT_EQ(with(locator + 8, 0x8000000000000000ull).error(),
            "seek: Invalid argument (os error 22)");
  EXPECT_EQ(with(locator + 8, bytes.size() - 10).error(), "read: failed to fill whole buffer");
  EXPECT_EQ(with(record + 48, 0x7FFFFFFFFFFFFFF0ull).error(), "read: failed to fill whole buffer");
  EXPECT_EQ(with(record + 40, 1ull << 62).error(), "read: failed to fill whole buffer");
  // A locator pointing at something else keeps the saturated 32-bit values.
  EXPECT_EQ(with(locator + 8, 0).error(), "read: failed to fill whole buffer");
  // Without the locator signature the zip64 record is not looked for.
  std::string no_locator = bytes;
  no_locator[locator] = 'X';
  EXPECT_EQ(read_error(dir.write("g.pt", no_locator)), "read: failed to fill whole buffer");
}

TEST(PtReader, OverlappingOrWrappingStoragesAreRefused) {
  ScratchDir dir;
  // Seventy directory entries all naming one 1 MiB storage: sampling them would hash far more
  // bytes than the file holds.
  std::vector<ZipItem> items = checkpoint({std::string(1024 * 1024, 's')});
  auto zip = build_zip(items);
  const std::string storage_entry =
      zip.bytes.substr(zip.central_offsets[1], zip.central_offsets[2] - zip.central_offsets[1]);
  std::string directory = zip.bytes.substr(zip.directory_offset, zip.directory_size);
  for (int i = 0; i < 70; ++i)
    directory += storage_entry;
  std::string bytes =
      zip.bytes.substr(0, zip.directory_offset) + directory + zip.bytes.substr(zip.eocd_offset);
  set_u32(bytes, zip.directory_offset + directory.size() + 12,
          static_cast<std::uint32_t>(directory.size()));
  EXPECT_EQ(read_error(dir.write("o.pt", bytes)),
            (dir / "o.pt") + ": storage entries overlap (damaged archive)");
  // A few repeated entries stay within the allowance and are read as they are.
  directory =
      zip.bytes.substr(zip.directory_offset, zip.directory_size) + storage_entry + storage_entry;
  bytes = zip.bytes.substr(0, zip.directory_offset) + directory + zip.bytes.substr(zip.eocd_offset);
  set_u32(bytes, zip.directory_offset + directory.size() + 12,
          static_cast<std::uint32_t>(directory.size()));
  EXPECT_EQ(read_ok(dir.write("p.pt", bytes)).tensor_count, 3u);
  // Two zip64 entries of 2^63 and 2^63 + 5 bytes over the same data: the total would wrap to 5.
  directory = zip.bytes.substr(zip.directory_offset, zip.directory_size);
  for (const std::uint64_t size : {1ull << 63, (1ull << 63) + 5}) {
    std::string entry = storage_entry;
    set_u32(entry, 24, 0xFFFFFFFF);
    entry[30] = 12;
    entry += std::string("\x01\x00\x08\x00", 4);
    testing_support::put_u64(entry, size);
    directory += entry;
  }
  bytes = zip.bytes.substr(0, zip.directory_offset) + directory + zip.bytes.substr(zip.eocd_offset);
  set_u32(bytes, zip.directory_offset + directory.size() + 12,
          static_cast<std::uint32_t>(directory.size()));
  EXPECT_EQ(read_error(dir.write("w.pt", bytes)),
            (dir / "w.pt") + ": storage sizes add up past 2^64 bytes (damaged archive)");
}

// Every prefix of every fixture ends in a summary or one of the clean errors.
TEST(PtReader, TruncatedPrefixesOfEveryFixture) {
  ScratchDir dir;
  for (const char* name : kFixtures) {
    const std::string bytes = slurp(kData + name);
    ASSERT_FALSE(bytes.empty()) << name;
    const std::string path = dir.write(name, bytes);
    const std::set<std::string> allowed = {
        path + " does not look like a PyTorch file (no zip `PK` or pickle marker)",
        path + ": no zip EOCD record",
        path + ": no data.pkl found inside the archive",
        "read: failed to fill whole buffer",
        "bad local header",
    };
    const bool legacy = bytes[0] == '\x80';
    // Large fixtures are cut at every 61st length and at each of their last 100 bytes.
    const bool sampled = bytes.size() > 65536;
    for (std::size_t length = bytes.size(); length-- > 0;) {
      if (sampled && bytes.size() - length > 100 && length % 61 != 0) continue;
      ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0);
      auto summary = read_pytorch(path);
      if (summary) {
        EXPECT_EQ(summary->bytes, length);
        // The end record's last field, the comment length, is never read.
        EXPECT_TRUE(legacy || bytes.size() - length <= 2) << name << " cut at " << length;
      } else {
        EXPECT_TRUE(allowed.contains(summary.error()))
            << name << " cut at " << length << ": " << summary.error();
        EXPECT_TRUE(!legacy || length == 0) << name << " cut at " << length;
      }
    }
  }
}

TEST(PtReader, RecordJsonInFieldOrder) {
  PyTorchSummary s;
  s.path = "m.pt";
  s.bytes = 6232;
  s.is_zip = true;
  s.tensor_count = 9;
  s.total_parameter_bytes = 3224;
  s.estimated_parameter_count = 806;
  s.dominant_dtype = "float32";
  s.param_names = {"fc1.weight", "fc1.bias"};
  s.file_fingerprint = 0xf22ee60837dddb7bull;
  s.learned_state_fingerprint = 0xFFFFFFFFFFFFFFFFull;
  const std::string expected =
      "{\n"
      "  \"path\": \"m.pt\",\n"
      "  \"bytes\": 6232,\n"
      "  \"is_zip\": true,\n"
      "  \"tensor_count\": 9,\n"
      "  \"total_parameter_bytes\": 3224,\n"
      "  \"estimated_parameter_count\": 806,\n"
      "  \"dominant_dtype\": \"float32\",\n"
      "  \"param_names\": [\n"
      "    \"fc1.weight\",\n"
      "    \"fc1.bias\"\n"
      "  ],\n"
      "  \"torch_version\": null,\n"
      "  \"file_fingerprint\": 17451138529078664059,\n"
      "  \"learned_state_fingerprint\": 18446744073709551615\n"
      "}";
  EXPECT_EQ(serialize_pytorch_summary(s).value(), expected);

  PyTorchSummary empty;
  empty.path = "e.pt";
  const std::string array = serialize_pytorch_summaries({s, empty}).value();
  EXPECT_EQ(array.substr(0, 4), "[\n  ");
  EXPECT_NE(array.find("    \"param_names\": [],\n"), std::string::npos);
  EXPECT_NE(array.find("    \"dominant_dtype\": null,\n"), std::string::npos);
  EXPECT_EQ(array.back(), ']');
}

TEST(PtReader, ValueTreeHasTheSameMembers) {
  PyTorchSummary s;
  s.path = "m.pt";
  s.torch_version = "3";
  s.param_names = {"a.b"};
  s.file_fingerprint = 0xFFFFFFFFFFFFFFFFull;
  const JsonValue value = pytorch_summary_to_value(s);
  EXPECT_EQ(value.size(), 11u);
  EXPECT_EQ(value.begin().key(), "bytes");  // sorted keys
  EXPECT_EQ(value["torch_version"], "3");
  EXPECT_TRUE(value["dominant_dtype"].is_null());
  EXPECT_EQ(value["file_fingerprint"].get<std::uint64_t>(), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(value, JsonValue::parse(serialize_pytorch_summary(s).value()));
}

}  // namespace
}  // namespace orvik

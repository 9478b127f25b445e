#include "artifact_kind/artifact_kind.hpp"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "scratch_dir.hpp"

namespace orvik {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class ArtifactKindFiles : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }

  // Writes the bytes to a file in the directory and returns its path.
  std::string write(const std::string& name, const std::string& bytes) const {
    return dir_.write(name, bytes);
  }
  std::string path(const std::string& name) const { return dir_ / name; }

  testing_support::ScratchDir dir_;
};

// ---- labels ------------------------------------------------------------------------------

TEST(ArtifactKindLabel, EveryKind) {
  EXPECT_EQ(artifact_kind_label(ArtifactKind::CatBoost), "CatBoost");
  EXPECT_EQ(artifact_kind_label(ArtifactKind::LightGbm), "LightGBM");
  EXPECT_EQ(artifact_kind_label(ArtifactKind::Onnx), "ONNX");
  EXPECT_EQ(artifact_kind_label(ArtifactKind::PyTorch), "PyTorch");
  EXPECT_EQ(artifact_kind_label(ArtifactKind::TensorPlan), "tensor plan JSON");
  EXPECT_EQ(artifact_kind_label(ArtifactKind::Unknown), "unknown");
  EXPECT_EQ(sizeof(ArtifactKind), 1u);
  EXPECT_EQ(static_cast<int>(ArtifactKind::Unknown), 5);
}

// ---- by extension ------------------------------------------------------------------------

TEST_F(ArtifactKindFiles, ListedExtensionsDecideWithoutTheFile) {
  EXPECT_EQ(detect_artifact_kind(path("MODEL.CBM")), ArtifactKind::CatBoost);
  EXPECT_EQ(detect_artifact_kind(path("model.Onnx")), ArtifactKind::Onnx);
  EXPECT_EQ(detect_artifact_kind(path("weights.BIN")), ArtifactKind::PyTorch);
  EXPECT_EQ(detect_artifact_kind(path("model.lgb")), ArtifactKind::LightGbm);
  EXPECT_EQ(detect_artifact_kind(path("m.pt")), ArtifactKind::PyTorch);
  EXPECT_EQ(detect_artifact_kind(path("m.pth")), ArtifactKind::PyTorch);
  EXPECT_EQ(detect_artifact_kind(path("m.ckpt")), ArtifactKind::PyTorch);
  EXPECT_EQ(detect_artifact_kind(path("plan.JSON")), ArtifactKind::TensorPlan);
  EXPECT_EQ(detect_artifact_kind("no/such/dir/model.cbm"), ArtifactKind::CatBoost);
  // A missing file with an unlisted extension has nothing to sniff.
  EXPECT_EQ(detect_artifact_kind(path("model.txt")), ArtifactKind::Unknown);
}

TEST_F(ArtifactKindFiles, ExtensionWinsOverContent) {
  // Content says CatBoost, the extension says tensor plan: the extension decides.
  EXPECT_EQ(detect_artifact_kind(write("plan.json", "CBM1 and more")), ArtifactKind::TensorPlan);
  EXPECT_EQ(detect_artifact_kind(write("model.onnx", "CBM1")), ArtifactKind::Onnx);
  // Only ASCII letters are lower-cased; other bytes stay and match nothing.
  EXPECT_EQ(detect_artifact_kind(path("model.cbm\xc2\xa0")), ArtifactKind::Unknown);
}

TEST_F(ArtifactKindFiles, TrailingSeparatorsAreIgnored) {
  fs::create_directory(dir_ / "model.cbm");
  EXPECT_EQ(detect_artifact_kind(path("model.cbm") + "/"), ArtifactKind::CatBoost);
  EXPECT_EQ(detect_artifact_kind("dir/model.cbm//"), ArtifactKind::CatBoost);
  EXPECT_EQ(detect_artifact_kind("dir/model.onnx/."), ArtifactKind::Onnx);
}

TEST_F(ArtifactKindFiles, DotFilesHaveNoExtension) {
  // ".cbm" is a name without an extension, so its content decides.
  EXPECT_EQ(detect_artifact_kind(write(".cbm", "plain text")), ArtifactKind::Unknown);
  EXPECT_EQ(detect_artifact_kind(write(".onnx", "CBM1")), ArtifactKind::CatBoost);
  // "..cbm" has the extension cbm (its last dot is not its first character).
  EXPECT_EQ(detect_artifact_kind(path("..cbm")), ArtifactKind::CatBoost);
}

TEST_F(ArtifactKindFiles, EmptyExtensionSniffs) {
  EXPECT_EQ(detect_artifact_kind(write("model.", "CBM1")), ArtifactKind::CatBoost);
  EXPECT_EQ(detect_artifact_kind(write("other.", "text")), ArtifactKind::Unknown);
}

TEST(DetectArtifactKind, PathsWithoutLastComponent) {
  EXPECT_EQ(detect_artifact_kind(""), ArtifactKind::Unknown);
  EXPECT_EQ(detect_artifact_kind("/"), ArtifactKind::Unknown);  // a directory: reads fail
  EXPECT_EQ(detect_artifact_kind("."), ArtifactKind::Unknown);
  EXPECT_EQ(detect_artifact_kind("x.cbm/.."), ArtifactKind::Unknown);
}

// ---- content sniffing --------------------------------------------------------------------

TEST_F(ArtifactKindFiles, CatBoostMagic) {
  EXPECT_EQ(detect_artifact_kind(write("model.txt", "CBM1")), ArtifactKind::CatBoost);
  EXPECT_EQ(detect_artifact_kind(write("model", std::string("CBM1\0\0\0\x80", 8))),
            ArtifactKind::CatBoost);
  // Three bytes are not enough for the magic, and a near miss is not it.
  EXPECT_EQ(detect_artifact_kind(write("short", "CBM")), ArtifactKind::Unknown);
  EXPECT_EQ(detect_artifact_kind(write("lower", "cbm1")), ArtifactKind::Unknown);
}

TEST_F(ArtifactKindFiles, EmptyFileAndDirectory) {
  EXPECT_EQ(detect_artifact_kind(write("empty.txt", "")), ArtifactKind::Unknown);
  EXPECT_EQ(detect_artifact_kind(write("empty", "")), ArtifactKind::Unknown);
  fs::create_directory(dir_ / "folder");
  EXPECT_EQ(detect_artifact_kind(path("folder")), ArtifactKind::Unknown);
  EXPECT_EQ(detect_artifact_kind(path("folder") + "/"), ArtifactKind::Unknown);
}

TEST_F(ArtifactKindFiles, PickleByte) {
  EXPECT_EQ(detect_artifact_kind(write("legacy", "\x80\x02}q\x00.")), ArtifactKind::PyTorch);
  EXPECT_EQ(detect_artifact_kind(write("one", "\x80")), ArtifactKind::PyTorch);
  EXPECT_EQ(detect_artifact_kind(write("late", "x\x80")), ArtifactKind::Unknown);
}

TEST_F(ArtifactKindFiles, ZipWithoutExtensionIsUnknown) {
  EXPECT_EQ(detect_artifact_kind(write("archive", std::string("PK\x03\x04\0\0\0\0", 8))),
            ArtifactKind::Unknown);
  EXPECT_EQ(detect_artifact_kind(write("archive.pt", std::string("PK\x03\x04", 4))),
            ArtifactKind::PyTorch);
}

TEST_F(ArtifactKindFiles, LightGbmHeader) {
  EXPECT_EQ(detect_artifact_kind(write("model.txt", "tree\r\nversion=v4\nmax_feature_idx=3\n")),
            ArtifactKind::LightGbm);
  EXPECT_EQ(detect_artifact_kind(write("model", "tree\nmax_feature_idx=0")),
            ArtifactKind::LightGbm);
  EXPECT_EQ(detect_artifact_kind(write("blanks.txt", " \t tree  \nmax_feature_idx=3\n")),
            ArtifactKind::LightGbm);
  EXPECT_EQ(detect_artifact_kind(write("tree1.txt", "tree=1\nmax_feature_idx=3\n")),
            ArtifactKind::Unknown);
  EXPECT_EQ(detect_artifact_kind(write("nomax.txt", "tree\nversion=v4\n")), ArtifactKind::Unknown);
}

TEST_F(ArtifactKindFiles, LightGbmMarkerMustBeInFirst8192Bytes) {
  const std::string head = "tree\r\n";
  const std::string marker = "max_feature_idx=";
  // The marker's last byte is byte 8192: found.
  const std::string inside =
      head + std::string(8192 - head.size() - marker.size(), 'x') + marker + "3\n";
  EXPECT_EQ(detect_artifact_kind(write("inside.txt", inside)), ArtifactKind::LightGbm);
  // One byte more of padding pushes it past the probe: not found, and no other probe matches.
  const std::string beyond =
      head + std::string(8193 - head.size() - marker.size(), 'x') + marker + "3\n";
  EXPECT_EQ(detect_artifact_kind(write("beyond.txt", beyond)), ArtifactKind::Unknown);
  // The same with a leading pickle byte ends as PyTorch.
  EXPECT_EQ(detect_artifact_kind(write("pickled", "\x80" + beyond)), ArtifactKind::PyTorch);
}

// ---- looks_like_lightgbm -----------------------------------------------------------------

TEST(LooksLikeLightGbm, FirstLineRules) {
  EXPECT_TRUE(looks_like_lightgbm("tree\nmax_feature_idx=1"));
  EXPECT_TRUE(looks_like_lightgbm("tree\r\nmax_feature_idx=1"));
  EXPECT_TRUE(looks_like_lightgbm("tree\n\nmax_feature_idx="));
  // The whole text is the first line when there is no line feed.
  EXPECT_FALSE(looks_like_lightgbm("tree"));
  EXPECT_FALSE(looks_like_lightgbm("tree max_feature_idx=1"));
  EXPECT_FALSE(looks_like_lightgbm(""));
  EXPECT_FALSE(looks_like_lightgbm("\ntree\nmax_feature_idx=1"));
  EXPECT_FALSE(looks_like_lightgbm("Tree\nmax_feature_idx=1"));
  EXPECT_FALSE(looks_like_lightgbm("tree=1\nmax_feature_idx=1"));
  EXPECT_FALSE(looks_like_lightgbm("tree\nmax_feature_idx 1"));
  // Only one carriage return before the line feed is dropped; a second is trimmed as white space.
  EXPECT_TRUE(looks_like_lightgbm("tree\r\r\nmax_feature_idx=1"));
}

TEST(LooksLikeLightGbm, UnicodeWhiteSpaceAndInvalidBytes) {
  // U+00A0 and U+3000 around the word are Unicode white space.
  EXPECT_TRUE(looks_like_lightgbm("\xc2\xa0tree\xe3\x80\x80\nmax_feature_idx=2"));
  // Invalid bytes become U+FFFD, which is not white space.
  EXPECT_FALSE(looks_like_lightgbm("\xfftree\nmax_feature_idx=2"));
  EXPECT_TRUE(looks_like_lightgbm("tree\n\xff\xfe max_feature_idx=2"));
}

TEST(LooksLikeLightGbm, LooksOnlyAtFirst8192Bytes) {
  std::string text = "tree\n";
  text.append(8192 - 5 - 16, ' ');
  text.append("max_feature_idx=");
  ASSERT_EQ(text.size(), 8192u);
  EXPECT_TRUE(looks_like_lightgbm(text));
  std::string shifted = "tree\n ";  // the marker now ends one byte past the window
  shifted.append(text, 5);
  EXPECT_FALSE(looks_like_lightgbm(shifted));
}

// ---- fnv1a64 -----------------------------------------------------------------------------

TEST(Fnv1a64, PublishedVectors) {
  EXPECT_EQ(fnv1a64(kFnvOffsetBasis, ""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(fnv1a64(kFnvOffsetBasis, "a"), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(fnv1a64(kFnvOffsetBasis, "abc"), 0xe71fa2190541574bULL);
  EXPECT_EQ(fnv1a64(kFnvOffsetBasis, "foobar"), 0x85944171f73967e8ULL);
  // Bytes above 0x7f are fed unsigned.
  EXPECT_EQ(fnv1a64(kFnvOffsetBasis, "\xff"), (0xcbf29ce484222325ULL ^ 0xffULL) * 0x100000001b3ULL);
}

TEST(Fnv1a64, RunningStateOverSeveralRanges) {
  const Fingerprint ab = fnv1a64(kFnvOffsetBasis, "ab");
  EXPECT_EQ(fnv1a64(ab, "c"), 0xe71fa2190541574bULL);
  Fingerprint state = kFnvOffsetBasis;
  for (const char* piece : {"f", "", "oo", "b", "ar"})
    state = fnv1a64(state, piece);
  EXPECT_EQ(state, 0x85944171f73967e8ULL);
}

TEST(Fnv1a64, IntegersAsEightLittleEndianBytes) {
  EXPECT_EQ(fnv1a64_u64(kFnvOffsetBasis, 0x0807060504030201ULL),
            fnv1a64(kFnvOffsetBasis, "\x01\x02\x03\x04\x05\x06\x07\x08"));
  EXPECT_EQ(fnv1a64_u64(kFnvOffsetBasis, 0), fnv1a64(kFnvOffsetBasis, std::string(8, '\0')));
  EXPECT_EQ(fnv1a64_u64(fnv1a64(kFnvOffsetBasis, "x"), 97),
            fnv1a64(kFnvOffsetBasis, std::string("xa\0\0\0\0\0\0\0", 9)));
}

// ---- display_name ------------------------------------------------------------------------

TEST(DisplayName, LastComponent) {
  EXPECT_EQ(display_name("models/current/model.cbm"), "model.cbm");
  EXPECT_EQ(display_name("model.cbm"), "model.cbm");
  EXPECT_EQ(display_name("/abs/path/model.onnx"), "model.onnx");
  EXPECT_EQ(display_name("./model.pt"), "model.pt");
  EXPECT_EQ(display_name("a//b"), "b");
  EXPECT_EQ(display_name(".cbm"), ".cbm");
}

TEST(DisplayName, TrailingSeparatorsAndDots) {
  EXPECT_EQ(display_name("dir/model.cbm/"), "model.cbm");
  EXPECT_EQ(display_name("dir/model.cbm///"), "model.cbm");
  EXPECT_EQ(display_name("dir/sub/."), "sub");
  EXPECT_EQ(display_name("dir/sub/./"), "sub");
}

TEST(DisplayName, NoLastComponentKeepsThePath) {
  EXPECT_EQ(display_name("models/.."), "models/..");
  EXPECT_EQ(display_name("models/../"), "models/../");
  EXPECT_EQ(display_name(".."), "..");
  EXPECT_EQ(display_name("."), ".");
  EXPECT_EQ(display_name("./"), "./");
  EXPECT_EQ(display_name(""), "");
  EXPECT_EQ(display_name("/"), "/");
  EXPECT_EQ(display_name("//"), "//");
}

TEST(DisplayName, DotComponentsAfterTheFirstDoNotCount) {
  // "." after the first component is dropped; a leading "." is the current directory, and "/." is
  // the root alone.
  EXPECT_EQ(display_name("a/b/./."), "b");
  EXPECT_EQ(display_name("dir/.//./"), "dir");
  EXPECT_EQ(display_name("./."), "./.");
  EXPECT_EQ(display_name("/."), "/.");
  EXPECT_EQ(display_name("a/./b/.."), "a/./b/..");
  EXPECT_EQ(display_name("a/.b/"), ".b");
  EXPECT_EQ(detect_artifact_kind("no/such/model.CBM/./"), ArtifactKind::CatBoost);
  EXPECT_EQ(detect_artifact_kind("no/such/model.cbm/../x.json/."), ArtifactKind::TensorPlan);
}

}  // namespace
}  // namespace orvik

// LightGBM text model reader: the line walk, derived fields, fingerprints and both JSON forms.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "artifact_kind/artifact_kind.hpp"
#include "files.hpp"
#include "lightgbm/lightgbm_reader.hpp"
#include "util/json.hpp"

namespace orvik {
namespace {

const std::string kData = std::string(ORVIK_TEST_DATA) + "/lightgbm/";

const char* const kCorpus[] = {
    "binary.txt",         "categorical_pandas.txt", "cli_binary_example.txt",
    "constant_stump.txt", "multiclass.txt",         "regression_first2.txt"};

using testing_support::slurp;

LightGbmSummary read_text(std::string_view text) {
  auto summary = read_lightgbm_bytes("dir/model.txt", text);
  EXPECT_TRUE(summary.has_value()) << summary.error();
  return summary.value_or(LightGbmSummary{});
}

std::string not_lightgbm_message(const std::string& path) {
  return path +
         " does not look like a LightGBM text model: missing `tree` / `max_feature_idx=` header";
}

Fingerprint fnv(std::string_view bytes) {
  return fnv1a64(kFnvOffsetBasis, bytes);
}

TEST(LightGbmReader, ReadsEveryCorpusModel) {
  for (const char* name : kCorpus) {
    auto summary = read_lightgbm(kData + name);
    ASSERT_TRUE(summary.has_value()) << name << ": " << summary.error();
    EXPECT_EQ(summary->path, name);
    EXPECT_TRUE(summary->is_lgbm);
    EXPECT_GT(summary->num_trees, 0u) << name;
    EXPECT_TRUE(summary->metadata_fingerprint.has_value()) << name;
    EXPECT_EQ(summary->version, "v4") << name;
    EXPECT_EQ(summary->boosting, "gbdt") << name;
    EXPECT_EQ(summary->max_depth, -1) << name;
    EXPECT_EQ(summary->num_features, summary->feature_names.size()) << name;
  }
}

// Values checked against a separate reading of the files.
TEST(LightGbmReader, BinaryModelFields) {
  auto summary = read_lightgbm(kData + "binary.txt");
  ASSERT_TRUE(summary.has_value()) << summary.error();
  const LightGbmSummary& s = *summary;
  EXPECT_EQ(s.bytes, 11791u);
  EXPECT_EQ(s.file_fingerprint, 0x07b4d8ad91ceba17u);
  EXPECT_EQ(s.learned_state_fingerprint, 0xa8ee4677f5eac726u);
  EXPECT_EQ(s.metadata_fingerprint, 0x83aa6b4bce174fefu);
  EXPECT_EQ(s.num_class, 1u);
  EXPECT_EQ(s.num_trees, 10u);
  EXPECT_EQ(s.num_features, 6u);
  EXPECT_EQ(s.objective, "binary");
  EXPECT_EQ(s.metric, "binary_logloss");
  EXPECT_EQ(s.num_leaves, 7u);
  EXPECT_EQ(s.learning_rate, 0.1);
  EXPECT_EQ(s.num_iterations, 10u);
  EXPECT_EQ(s.feature_names,
            (std::vector<std::string>{"age", "income", "score_a", "score_b", "f4", "f5"}));
}

TEST(LightGbmReader, OtherCorpusFingerprints) {
  struct Expected {
    const char* name;
    Fingerprint file, learned, metadata;
    std::uint64_t trees, features;
  };
  const Expected expected[] = {
      {"categorical_pandas.txt", 0x709641577fe8c755u, 0x188598e0faf7e7a9u, 0x0a7b876ff0f39f5au, 5,
       4},
      {"cli_binary_example.txt", 0x2c3b14f12bf352dau, 0x0a1d735295b1ec0fu, 0x7a45bb6e0993669bu, 5,
       28},
      {"constant_stump.txt", 0xfddf2a9c90aea69eu, 0x7860a9767ef45ef5u, 0x4b143a5717193fdfu, 1, 6},
      {"multiclass.txt", 0xb90272ab4ec43d6du, 0x970380d0aaf0a91cu, 0xbe1537fd2308fa22u, 12, 6},
      {"regression_first2.txt", 0xcde9647ef54422fau, 0xe8b787e37ad4b0f8u, 0xb13fde01a1f810acu, 2,
       6},
  };
  for (const auto& e : expected) {
    auto s = read_lightgbm(kData + e.name);
    ASSERT_TRUE(s.has_value()) << s.error();
    EXPECT_EQ(s->file_fingerprint, e.file) << e.name;
    EXPECT_EQ(s->learned_state_fingerprint, e.learned) << e.name;
    EXPECT_EQ(s->metadata_fingerprint, e.metadata) << e.name;
    EXPECT_EQ(s->num_trees, e.trees) << e.name;
    EXPECT_EQ(s->num_features, e.features) << e.name;
  }
  auto multiclass = read_lightgbm(kData + "multiclass.txt");
  ASSERT_TRUE(multiclass.has_value());
  EXPECT_EQ(multiclass->objective, "multiclass");
  EXPECT_EQ(multiclass->num_class, 3u);
  auto cli = read_lightgbm(kData + "cli_binary_example.txt");
  ASSERT_TRUE(cli.has_value());
  EXPECT_EQ(cli->metric, "binary_logloss,auc");
  EXPECT_EQ(cli->num_leaves, 63u);
}

TEST(LightGbmReader, ReadErrorsNameThePathAsPassed) {
  auto missing = read_lightgbm("no/such/model.lgb");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error(), "read no/such/model.lgb: No such file or directory (os error 2)");
  auto directory = read_lightgbm(kData);
  ASSERT_FALSE(directory.has_value());
  EXPECT_EQ(directory.error(), "read " + kData + ": Is a directory (os error 21)");
}

TEST(LightGbmReader, RefusesTextWithoutTheHeader) {
  for (const std::string text :
       {"", "tree", "tree\n", "tree=1\nmax_feature_idx=3\n", "trees\nmax_feature_idx=3\n",
        "version=v4\ntree\nmax_feature_idx=3", "tree\nmax_feature_idx 3\n",
        "\ntree\nmax_feature_idx=3\n"}) {
    auto summary = read_lightgbm_bytes("m.txt", text);
    ASSERT_FALSE(summary.has_value()) << text;
    EXPECT_EQ(summary.error(), not_lightgbm_message("m.txt"));
  }
  // The marker must appear within the first 8192 bytes.
  std::string late = "tree\n" + std::string(8200, '#') + "\nmax_feature_idx=3\n";
  ASSERT_FALSE(read_lightgbm_bytes("m.txt", late).has_value());
  // Blanks around the first line and a carriage return before its newline still count.
  EXPECT_TRUE(read_lightgbm_bytes("m.txt", " \ttree \r\nmax_feature_idx=3").has_value());
}

TEST(LightGbmReader, MinimalModel) {
  const LightGbmSummary s = read_text("tree\nmax_feature_idx=3\n");
  EXPECT_EQ(s.path, "model.txt");
  EXPECT_EQ(s.bytes, 23u);
  EXPECT_EQ(s.num_features, 4u);
  EXPECT_EQ(s.num_trees, 0u);
  EXPECT_TRUE(s.feature_names.empty());
  EXPECT_FALSE(s.metadata_fingerprint.has_value());
  EXPECT_EQ(s.learned_state_fingerprint, 0xcbf29ce484222325u);
  EXPECT_EQ(s.file_fingerprint, fnv("tree\nmax_feature_idx=3\n"));
  EXPECT_FALSE(s.version.has_value());
  EXPECT_FALSE(s.num_class.has_value());
  EXPECT_FALSE(s.objective.has_value());
  EXPECT_FALSE(s.boosting.has_value());
  EXPECT_FALSE(s.num_leaves.has_value());
  EXPECT_FALSE(s.learning_rate.has_value());
  EXPECT_FALSE(s.max_depth.has_value());
  EXPECT_FALSE(s.num_iterations.has_value());
  EXPECT_FALSE(s.metric.has_value());
}

TEST(LightGbmReader, NumFeatures) {
  EXPECT_EQ(read_text("tree\nmax_feature_idx=-1\n").num_features, 0u);
  EXPECT_EQ(read_text("tree\nmax_feature_idx=0\n").num_features, 1u);
  EXPECT_EQ(read_text("tree\nmax_feature_idx=+2\n").num_features, 3u);
  EXPECT_EQ(read_text("tree\nmax_feature_idx=abc\nfeature_names=a b c\n").num_features, 3u);
  EXPECT_EQ(read_text("tree\nmax_feature_idx=-1\nfeature_names=a b c\n").num_features, 0u);
  EXPECT_FALSE(read_text("tree\nmax_feature_idx=abc\n").num_features.has_value());
  EXPECT_FALSE(read_text("tree\nmax_feature_idx=abc\nfeature_names=  \n").num_features.has_value());
  EXPECT_EQ(read_text("tree\nmax_feature_idx=9223372036854775807\n").num_features,
            9223372036854775808u);
  // Overflow does not parse, so the names count is used.
  EXPECT_EQ(read_text("tree\nmax_feature_idx=9223372036854775808\nfeature_names=x\n").num_features,
            1u);
  // Only the header counts: "max_feature_idx=" inside the parameters block is not a header line.
  EXPECT_FALSE(
      read_text("tree\nparameters:\nmax_feature_idx=3\n[max_feature_idx: 3]\n").num_features);
}

TEST(LightGbmReader, FeatureNamesSplitAtUnicodeWhiteSpace) {
  const LightGbmSummary s = read_text(
      "tree\nmax_feature_idx=3\nfeature_names=\xC2\xA0"
      "a \t b\xE3\x80\x80"
      "c a\xE2\x80\x83\n");
  EXPECT_EQ(s.feature_names, (std::vector<std::string>{"a", "b", "c", "a"}));
  // U+001C is not White_Space: it stays inside the name.
  EXPECT_EQ(read_text("tree\nmax_feature_idx=0\nfeature_names=a\x1c"
                      "b\n")
                .feature_names,
            (std::vector<std::string>{"a\x1c"
                                      "b"}));
}

TEST(LightGbmReader, Objective) {
  EXPECT_EQ(read_text("tree\nmax_feature_idx=0\nobjective=binary sigmoid:1\n"
                      "parameters:\n[objective: regression]\n")
                .objective,
            "binary");
  EXPECT_EQ(
      read_text("tree\nmax_feature_idx=0\nparameters:\n[objective: binary sigmoid:1]\n").objective,
      "binary sigmoid:1");
  EXPECT_EQ(
      read_text("tree\nmax_feature_idx=0\nobjective=\nparameters:\n[objective: x]\n").objective,
      "");
  EXPECT_EQ(read_text("tree\nmax_feature_idx=0\nobjective= \xE2\x80\xA8 lambdarank\n").objective,
            "lambdarank");
}

TEST(LightGbmReader, ParameterValues) {
  const LightGbmSummary s = read_text(
      "tree\nmax_feature_idx=0\nparameters:\n[learning_rate: 0.05]\n[max_depth: -1]\n"
      "[num_leaves: -3]\n[num_iterations: +7]\n[boosting:  dart ]\n[metric: l1,l2]\n"
      "end of parameters\n");
  EXPECT_EQ(s.learning_rate, 0.05);
  EXPECT_EQ(s.max_depth, -1);
  EXPECT_FALSE(s.num_leaves.has_value());
  EXPECT_EQ(s.num_iterations, 7u);
  EXPECT_EQ(s.boosting, "dart");
  EXPECT_EQ(s.metric, "l1,l2");

  EXPECT_FALSE(read_text("tree\nmax_feature_idx=0\nparameters:\n[learning_rate: fast]\n")
                   .learning_rate.has_value());
  EXPECT_EQ(
      read_text("tree\nmax_feature_idx=0\nparameters:\n[learning_rate: 1e-3]\n").learning_rate,
      0.001);
  EXPECT_EQ(
      read_text("tree\nmax_feature_idx=0\nparameters:\n[learning_rate: -Infinity]\n").learning_rate,
      -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(
      *read_text("tree\nmax_feature_idx=0\nparameters:\n[learning_rate: NaN]\n").learning_rate));
  // The value is the text after the first ':' only; keys are trimmed too.
  EXPECT_EQ(read_text("tree\nmax_feature_idx=0\nparameters:\n[ metric :a:b]\n").metric, "a:b");
  // No ':' between the brackets, a line that is not bracketed, and the empty value.
  const LightGbmSummary t =
      read_text("tree\nmax_feature_idx=0\nparameters:\n[metric]\nmetric: x\n[boosting: ]\n[]\n");
  EXPECT_FALSE(t.metric.has_value());
  EXPECT_EQ(t.boosting, "");
}

TEST(LightGbmReader, HeaderValues) {
  const LightGbmSummary s = read_text(
      "tree\nversion= v3 \nversion=v4\nnum_class=+3\nmax_feature_idx=1\n"
      "feature_names=a=b c\n");
  EXPECT_EQ(s.version, "v4");
  EXPECT_EQ(s.num_class, 3u);
  EXPECT_EQ(s.feature_names, (std::vector<std::string>{"a=b", "c"}));
  EXPECT_FALSE(read_text("tree\nmax_feature_idx=1\nnum_class=-1\n").num_class.has_value());
  EXPECT_FALSE(
      read_text("tree\nmax_feature_idx=1\nnum_class=18446744073709551616\n").num_class.has_value());
  // Only the objective falls back from the header to the parameters block.
  const LightGbmSummary p =
      read_text("tree\nmax_feature_idx=1\nparameters:\n[version: v9]\n[num_class: 4]\n");
  EXPECT_FALSE(p.version.has_value());
  EXPECT_FALSE(p.num_class.has_value());
  const LightGbmSummary h =
      read_text("tree\nmax_feature_idx=1\nmetric=auc\nlearning_rate=0.5\nnum_leaves=3\n");
  EXPECT_FALSE(h.metric.has_value());
  EXPECT_FALSE(h.learning_rate.has_value());
  EXPECT_FALSE(h.num_leaves.has_value());
}

TEST(LightGbmReader, HeaderEndsAtTheFirstTree) {
  const LightGbmSummary s = read_text(
      "tree\nversion=v4\nmax_feature_idx=1\nTree=0\nnum_leaves=2\nversion=v9\n"
      "feature_names=late\nTree=1\nTree=\n");
  EXPECT_EQ(s.version, "v4");
  EXPECT_EQ(s.num_trees, 3u);
  EXPECT_TRUE(s.feature_names.empty());
  // "tree=" (lower case) or a blank before "Tree=" is not a tree line.
  EXPECT_EQ(read_text("tree\nmax_feature_idx=1\ntree=0\n Tree=1\n").num_trees, 0u);
}

TEST(LightGbmReader, ParametersBlockMayComeFirst) {
  const LightGbmSummary s = read_text(
      "tree\nmax_feature_idx=1\nparameters:\n[num_leaves: 5]\nend of parameters\n"
      "version=v4\n[num_leaves: 9]\nTree=0\nleaf_value=1\n");
  EXPECT_EQ(s.num_leaves, 5u);
  // The parameters line ended header mode.
  EXPECT_FALSE(s.version.has_value());
  EXPECT_EQ(s.num_trees, 1u);
  EXPECT_EQ(s.metadata_fingerprint, fnv("[num_leaves: 5]\n"));
}

TEST(LightGbmReader, ParametersMarkerMatchesTheWholeLine) {
  const LightGbmSummary crlf = read_text("tree\r\nmax_feature_idx=1\r\nparameters:\r\n[a: b]\r\n");
  EXPECT_EQ(crlf.metadata_fingerprint, fnv("[a: b]\n"));
  EXPECT_FALSE(read_text("tree\nmax_feature_idx=1\n parameters:\n[a: b]\n")
                   .metadata_fingerprint.has_value());
  EXPECT_FALSE(read_text("tree\nmax_feature_idx=1\nparameters: \n[a: b]\n")
                   .metadata_fingerprint.has_value());
  // One carriage return is removed, not two.
  EXPECT_FALSE(read_text("tree\nmax_feature_idx=1\nparameters:\r\r\n[a: b]\n")
                   .metadata_fingerprint.has_value());
  // "end of parameters" with trailing text does not close the block; it is block text.
  const LightGbmSummary open =
      read_text("tree\nmax_feature_idx=1\nparameters:\nend of parameters.\n[metric: x]\n");
  EXPECT_EQ(open.metadata_fingerprint, fnv("end of parameters.\n[metric: x]\n"));
  EXPECT_EQ(open.metric, "x");
}

TEST(LightGbmReader, ParametersTextKeepsLinesVerbatim) {
  // Empty lines and comment-like lines belong to the text; "Tree=" and "leaf_value=" lines inside
  // the block are counted and hashed but left out of it.
  const LightGbmSummary s = read_text(
      "tree\nmax_feature_idx=1\nparameters:\n[a: b]\r\n\n  note\nTree=7\nleaf_value=1 2\n"
      "[c:d]\nend of parameters\n[e: f]\n");
  EXPECT_EQ(s.metadata_fingerprint, fnv("[a: b]\n\n  note\n[c:d]\n"));
  EXPECT_EQ(s.num_trees, 1u);
  EXPECT_EQ(s.learned_state_fingerprint, fnv("leaf_value=1 2"));
  // A block holding only the closing marker has empty text.
  EXPECT_FALSE(read_text("tree\nmax_feature_idx=1\nparameters:\nend of parameters\n")
                   .metadata_fingerprint.has_value());
  // A final newline does not make an empty last line; an extra one does.
  EXPECT_EQ(read_text("tree\nmax_feature_idx=1\nparameters:\n[a: b]").metadata_fingerprint,
            fnv("[a: b]\n"));
  EXPECT_EQ(read_text("tree\nmax_feature_idx=1\nparameters:\n[a: b]\n\n").metadata_fingerprint,
            fnv("[a: b]\n\n"));
}

TEST(LightGbmReader, LeafValueLinesFeedOneRunningHash) {
  const LightGbmSummary s = read_text(
      "tree\nmax_feature_idx=1\nleaf_value=0.5\nTree=0\nleaf_value=1 2\r\nleaf_weight=3\n"
      "leaf_value=\n leaf_value=9\n");
  EXPECT_EQ(s.learned_state_fingerprint, fnv("leaf_value=0.5leaf_value=1 2leaf_value="));
}

TEST(LightGbmReader, FileFingerprintCoversEveryRawByte) {
  for (const std::string text :
       {"tree\nmax_feature_idx=1\nleaf_value=1", "tree\nmax_feature_idx=1\nleaf_value=1\r\n",
        "tree\r\nmax_feature_idx=1\r\nleaf_value=1\r\r\nleaf_value=2\rleaf_value=3\n\n",
        "tree\nmax_feature_idx=1\n\xFFleaf_value=1\nleaf_value=\xC3\n"}) {
    const LightGbmSummary s = read_text(text);
    EXPECT_EQ(s.file_fingerprint, fnv(text)) << text;
    EXPECT_EQ(s.bytes, text.size());
  }
  // Leaf lines lose the line feed and one carriage return; a lone "\r" does not end a line.
  EXPECT_EQ(read_text("tree\r\nmax_feature_idx=1\r\nleaf_value=1\r\r\nleaf_value=2\rleaf_value=3\n")
                .learned_state_fingerprint,
            fnv("leaf_value=1\rleaf_value=2\rleaf_value=3"));
  // Without a final "\n" the last line keeps its "\r": a CRLF file cut one byte short differs.
  EXPECT_EQ(read_text("tree\r\nmax_feature_idx=1\r\nleaf_value=1 2\r").learned_state_fingerprint,
            fnv("leaf_value=1 2\r"));
  const LightGbmSummary cut =
      read_text("tree\r\nmax_feature_idx=1\r\nparameters:\r\n[learning_rate: 0.1]\r");
  EXPECT_FALSE(cut.learning_rate.has_value());
  EXPECT_EQ(cut.metadata_fingerprint, fnv("[learning_rate: 0.1]\r\n"));
  for (const char* name : kCorpus) {
    const std::string bytes = slurp(kData + name);
    EXPECT_EQ(read_text(bytes).file_fingerprint, fnv(bytes)) << name;
  }
}

TEST(LightGbmReader, TreeStructureChangesOnlyTheFileFingerprint) {
  const std::string old_text = slurp(kData + "regression_first2.txt");
  std::string new_text = old_text;
  const std::size_t at = new_text.find("split_gain=3425.49");
  ASSERT_NE(at, std::string::npos);
  new_text.replace(at, 18, "split_gain=3000.00");
  const LightGbmSummary a = read_text(old_text);
  const LightGbmSummary b = read_text(new_text);
  EXPECT_EQ(a.learned_state_fingerprint, b.learned_state_fingerprint);
  EXPECT_EQ(a.metadata_fingerprint, b.metadata_fingerprint);
  EXPECT_NE(a.file_fingerprint, b.file_fingerprint);
}

TEST(LightGbmReader, CrlfFileReadsLikeLf) {
  for (const char* name : kCorpus) {
    const std::string lf = slurp(kData + name);
    std::string crlf;
    for (const char c : lf) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    const LightGbmSummary a = read_text(lf);
    const LightGbmSummary b = read_text(crlf);
    EXPECT_EQ(b.bytes,
              a.bytes + static_cast<std::uint64_t>(std::count(lf.begin(), lf.end(), '\n')));
    EXPECT_NE(a.file_fingerprint, b.file_fingerprint);
    EXPECT_EQ(a.learned_state_fingerprint, b.learned_state_fingerprint) << name;
    EXPECT_EQ(a.metadata_fingerprint, b.metadata_fingerprint) << name;
    EXPECT_EQ(a.num_trees, b.num_trees);
    EXPECT_EQ(a.feature_names, b.feature_names);
    EXPECT_EQ(a.objective, b.objective);
    EXPECT_EQ(a.learning_rate, b.learning_rate);
  }
}

TEST(LightGbmReader, InvalidUtf8IsReplacedBeforeTheWalk) {
  // A stray continuation byte, a truncated sequence, an overlong form and a surrogate.
  const std::string text =
      "tree\nmax_feature_idx=1\nfeature_names=a\x80 b\xE2\x82\nparameters:\n[metric: \xC0\xAF]\n"
      "[boosting: \xED\xA0\x80x]\nend of parameters\nTree=0\nleaf_value=1\xFF\n";
  const LightGbmSummary s = read_text(text);
  EXPECT_EQ(s.file_fingerprint, fnv(text));
  EXPECT_EQ(s.bytes, text.size());
  EXPECT_EQ(s.feature_names, (std::vector<std::string>{"a\uFFFD", "b\uFFFD"}));
  EXPECT_EQ(s.metric, "\uFFFD\uFFFD");
  EXPECT_EQ(s.boosting, "\uFFFD\uFFFD\uFFFDx");
  EXPECT_EQ(s.metadata_fingerprint,
            fnv("[metric: \uFFFD\uFFFD]\n[boosting: \uFFFD\uFFFD\uFFFDx]\n"));
  EXPECT_EQ(s.learned_state_fingerprint, fnv("leaf_value=1\uFFFD"));
  // Replacement characters are not white space: a lone invalid byte is a name of its own.
  EXPECT_EQ(read_text("tree\nmax_feature_idx=1\nfeature_names=\xFF\n").feature_names,
            (std::vector<std::string>{"\uFFFD"}));
}

TEST(LightGbmReader, TruncatedPrefixesOfRealFilesNeverFail) {
  for (const char* name : kCorpus) {
    const std::string bytes = slurp(kData + name);
    ASSERT_FALSE(bytes.empty());
    // Every cut through the header region, then a sample of the rest (keeps the loop linear
    // enough for a debug build).
    for (std::size_t n = 0; n <= bytes.size(); n += n < 2048 ? 1 : 61) {
      const std::string_view prefix(bytes.data(), n);
      auto summary = read_lightgbm_bytes("cut.txt", prefix);
      if (summary.has_value()) {
        EXPECT_EQ(summary->bytes, n);
        ASSERT_LE(summary->num_trees, 12u);
      } else {
        EXPECT_EQ(summary.error(), not_lightgbm_message("cut.txt")) << name << " cut at " << n;
      }
      // A prefix that holds the whole header line is always read.
      const std::size_t marker = bytes.find("max_feature_idx=");
      if (n >= marker + 16 && marker < 8192) {
        EXPECT_TRUE(summary.has_value()) << name << " cut at " << n;
      }
    }
  }
}

TEST(LightGbmReader, RecordJsonKeepsFieldOrder) {
  LightGbmSummary s = read_text("tree\nmax_feature_idx=1\nparameters:\n[learning_rate: inf]\n");
  ASSERT_TRUE(s.learning_rate.has_value());
  auto text = serialize_lightgbm_summary(s);
  ASSERT_TRUE(text.has_value()) << text.error();
  // Fingerprints computed separately over the same bytes.
  const std::string expected = R"({
  "path": "model.txt",
  "bytes": 56,
  "is_lgbm": true,
  "file_fingerprint": 15009578682963147348,
  "learned_state_fingerprint": 14695981039346656037,
  "metadata_fingerprint": 5939256150057214163,
  "version": null,
  "num_class": null,
  "num_trees": 0,
  "num_features": 2,
  "objective": null,
  "boosting": null,
  "num_leaves": null,
  "learning_rate": null,
  "max_depth": null,
  "num_iterations": null,
  "metric": null,
  "feature_names": []
})";
  EXPECT_EQ(*text, expected);
}

// The parsed learning rate as the record JSON writes it: shortest digits, plain decimal with a
// fraction digit in [1e-5, 1e16), exponent form outside; forms the float grammar refuses are null.
TEST(LightGbmReader, RecordJsonLearningRateForms) {
  const std::pair<const char*, const char*> cases[] = {
      {"1e3", "1000.0"},      {"+.5e-0", "0.5"}, {"-0", "-0.0"},       {"1e-5", "0.00001"},
      {"9.99e-6", "9.99e-6"}, {"1e16", "1e16"},  {"1.5e17", "1.5e17"}, {"5.", "5.0"},
      {"0x10", "null"},       {".e5", "null"},   {"1e", "null"},       {"1_0", "null"},
      {"1e400", "null"},      {"nan", "null"}};
  for (const auto& [literal, json] : cases) {
    const LightGbmSummary s = read_text(std::string("tree\nmax_feature_idx=0\nparameters:\n") +
                                        "[learning_rate: " + literal + "]\n");
    auto text = serialize_lightgbm_summary(s);
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find(std::string("\"learning_rate\": ") + json + ",\n"), std::string::npos)
        << literal;
  }
}

TEST(LightGbmReader, RecordJsonOfCorpusModel) {
  auto s = read_lightgbm(kData + "constant_stump.txt");
  ASSERT_TRUE(s.has_value());
  auto text = serialize_lightgbm_summary(*s);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, R"({
  "path": "constant_stump.txt",
  "bytes": 3108,
  "is_lgbm": true,
  "file_fingerprint": 18293387063332873886,
  "learned_state_fingerprint": 8674119208716754677,
  "metadata_fingerprint": 5410013198102904799,
  "version": "v4",
  "num_class": 1,
  "num_trees": 1,
  "num_features": 6,
  "objective": "regression",
  "boosting": "gbdt",
  "num_leaves": 7,
  "learning_rate": 0.1,
  "max_depth": -1,
  "num_iterations": 2,
  "metric": "l2",
  "feature_names": [
    "Column_0",
    "Column_1",
    "Column_2",
    "Column_3",
    "Column_4",
    "Column_5"
  ]
})");
}

TEST(LightGbmReader, SeveralRecordsMakeOneArray) {
  const LightGbmSummary a = read_text("tree\nmax_feature_idx=0\nfeature_names=x\n");
  auto text = serialize_lightgbm_summaries({a, a});
  ASSERT_TRUE(text.has_value());
  auto parsed = parse_json(*text);
  ASSERT_TRUE(parsed.has_value()) << parsed.error();
  ASSERT_TRUE(parsed->is_array());
  ASSERT_EQ(parsed->size(), 2u);
  EXPECT_EQ((*parsed)[1]["feature_names"], JsonValue::array({"x"}));
  EXPECT_EQ(text->substr(0, 6), "[\n  {\n");
  auto empty = serialize_lightgbm_summaries({});
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(*empty, "[]");
}

TEST(LightGbmReader, ValueFormSortsKeys) {
  const LightGbmSummary s =
      read_text("tree\nmax_feature_idx=0\nparameters:\n[learning_rate: 0.25]\n[max_depth: -1]\n");
  const JsonValue value = lightgbm_summary_to_value(s);
  ASSERT_EQ(value.size(), 18u);
  std::string previous;
  for (const auto& [key, member] : value.items()) {
    EXPECT_LT(previous, key);
    previous = key;
  }
  EXPECT_TRUE(value["file_fingerprint"].is_number_unsigned());
  EXPECT_EQ(value["file_fingerprint"].get<std::uint64_t>(), s.file_fingerprint);
  EXPECT_EQ(value["learning_rate"], 0.25);
  EXPECT_EQ(value["max_depth"], -1);
  EXPECT_TRUE(value["metadata_fingerprint"].is_number_unsigned());
  EXPECT_TRUE(value["version"].is_null());
  LightGbmSummary nan = s;
  nan.learning_rate = std::nan("");
  EXPECT_TRUE(lightgbm_summary_to_value(nan)["learning_rate"].is_null());
}

TEST(LightGbmReader, ConfigEquality) {
  LightGbmSummary a;
  a.objective = "binary";
  a.learning_rate = 0.0;
  LightGbmSummary b = a;
  EXPECT_TRUE(lightgbm_config_equal(a, b));
  b.learning_rate = -0.0;
  EXPECT_TRUE(lightgbm_config_equal(a, b));
  b.learning_rate = std::nan("");
  EXPECT_FALSE(lightgbm_config_equal(a, b));
  EXPECT_FALSE(lightgbm_config_equal(b, b));
  b = a;
  b.metric = "auc";
  EXPECT_FALSE(lightgbm_config_equal(a, b));
  b = a;
  b.max_depth = -1;
  EXPECT_FALSE(lightgbm_config_equal(a, b));
  b = a;
  b.objective.reset();
  EXPECT_FALSE(lightgbm_config_equal(a, b));
  // Fields outside the configuration do not matter.
  b = a;
  b.num_trees = 9;
  b.num_iterations = 9;
  b.version = "v3";
  EXPECT_TRUE(lightgbm_config_equal(a, b));
}

}  // namespace
}  // namespace orvik

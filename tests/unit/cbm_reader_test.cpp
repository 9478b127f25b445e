// CatBoost model reader: every corpus model, the edge cases of the format, damaged files, and the
// reader checked against a literal (slow) reading of the same rules on cut and mutated models.
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "artifact_kind/artifact_kind.hpp"
#include "brace_scan_reference.hpp"
#include "cbm/catboost_reader.hpp"
#include "cbm/compact_json.hpp"
#include "files.hpp"
#include "mutate_bytes.hpp"
#include "util/json.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

const std::string kData = std::string(ORVIK_TEST_DATA) + "/catboost/";

using testing_support::slurp;

// The summary of "CBM1" followed by `body`.
CatBoostSummary read_body(std::string_view body) {
  const std::string bytes = "CBM1" + std::string(body);
  auto summary = read_catboost_bytes("models/model.cbm", bytes);
  EXPECT_TRUE(summary.has_value()) << summary.error();
  return summary.value_or(CatBoostSummary{});
}

Fingerprint fnv(std::string_view bytes) {
  return fnv1a64(kFnvOffsetBasis, bytes);
}

struct CorpusModel {
  const char* name;
  std::uint64_t size;
  std::uint64_t iterations;
  std::uint64_t depth;
  double learning_rate;
  std::optional<double> best_learn_rmse;
  const char* loss;
  const char* grow_policy;
  const char* bootstrap;
  std::size_t feature_names;
  const char* train_finish_time;
  Fingerprint file;
  Fingerprint metadata;
  Fingerprint learned_state;
};

// Values checked against an independent reading of the files and against the JSON exports
// CatBoost made of the same models.
const CorpusModel kCorpus[] = {
    {"cat_onehot_small.cbm", 38824, 100, 4, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:53Z", 0xe008dd185c0db69dULL, 0x5f8dd43af329b3f4ULL, 0xafe8f3a8dbef5cb2ULL},
    {"deep_trees.cbm", 428800, 100, 8, 0.05, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:54Z", 0xf038618370ada9a3ULL, 0x5c9b7e6e6d54e648ULL, 0x45162c4d811e2d62ULL},
    {"extreme_values.cbm", 40104, 100, 4, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:54Z", 0xedb077e5782bc0aeULL, 0x203d63417475ab75ULL, 0x0e0f59503d41beecULL},
    {"float_binary.cbm", 175024, 150, 6, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 2,
     "2026-03-15T01:23:53Z", 0x803426f2638c38ffULL, 0x9a2749064f649ef0ULL, 0x7fb63a37a7c99162ULL},
    {"float_regression.cbm", 230152, 200, 6, 0.05, 0.125944404105744, "RMSE", "SymmetricTree",
     "MVS", 0, "2026-03-15T01:23:53Z", 0xa23b8762f61e3e6bULL, 0xd531c36da418fa2bULL,
     0x451d36d0fa8ce5edULL},
    {"large_features.cbm", 233400, 200, 6, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:54Z", 0xb45482cd3d149abdULL, 0x8150f0e941443767ULL, 0x093b78a8f213b1a5ULL},
    {"many_borders.cbm", 119496, 100, 6, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:54Z", 0x7b662aa988fcc0feULL, 0xa37df1eb729a779dULL, 0x7698b26b528b993cULL},
    {"many_cat_values.cbm", 22976, 50, 4, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:54Z", 0x53bcfa9ae2a0ec1dULL, 0x55c86ecd7f8d7dc1ULL, 0x73685fc582a24085ULL},
    {"mixed_multiclass.cbm", 172912, 150, 5, 0.1, std::nullopt, "MultiClass", "SymmetricTree",
     "Bayesian", 1, "2026-03-15T01:23:54Z", 0xd85a7e834b5c1972ULL, 0xe53f29c02df5205bULL,
     0xed992e3b62ad15b8ULL},
    {"multi_cat.cbm", 39592, 100, 4, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:53Z", 0x13bb2a06177587c2ULL, 0x68d34d09d1ec50bbULL, 0x78989ffae02c9bb0ULL},
    {"multiclass_3.cbm", 174352, 150, 5, 0.1, std::nullopt, "MultiClass", "SymmetricTree",
     "Bayesian", 1, "2026-03-15T01:23:53Z", 0x062e80e2f65faea1ULL, 0x438d9c6e4bb2aa99ULL,
     0x70e953b3a0c8047dULL},
    {"multiclass_5.cbm", 332664, 200, 5, 0.1, std::nullopt, "MultiClass", "SymmetricTree",
     "Bayesian", 1, "2026-03-15T01:23:53Z", 0x397345d239050fefULL, 0xb30935c00f006843ULL,
     0xe50cc0cc81a82c3fULL},
    {"nan_as_false.cbm", 66840, 100, 5, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:53Z", 0xf296bc961efb3ca1ULL, 0x5a3fd81606424357ULL, 0x199cbdb5f68e5be9ULL},
    {"nan_as_true.cbm", 66848, 100, 5, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:53Z", 0x70e7236cdca2937eULL, 0xd98b7703215880fbULL, 0x29dd4d97042695b2ULL},
    {"nonsym_binary.cbm", 116064, 150, 6, 0.1, std::nullopt, "Logloss", "Lossguide", "MVS", 1,
     "2026-03-15T01:23:54Z", 0xe23e153c5df3545fULL, 0x706bbeecb846260cULL, 0x1fb952e89ec9b5ccULL},
    {"nonsym_multiclass.cbm", 302600, 150, 5, 0.1, std::nullopt, "MultiClass", "Depthwise",
     "Bayesian", 1, "2026-03-15T01:23:55Z", 0xef7253aa6bd2ee94ULL, 0x2e1fd68b3cd0db35ULL,
     0x11415d7dc96235ceULL},
    {"nonsym_regression.cbm", 150264, 200, 6, 0.05, 0.10610660094343718, "RMSE", "Lossguide", "MVS",
     0, "2026-03-15T01:23:54Z", 0xb13366cc5d640218ULL, 0x524858b2de765b3dULL,
     0x536dd5dbe1033a88ULL},
    {"shallow_trees.cbm", 22856, 200, 1, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:54Z", 0x114b15937512aff4ULL, 0xd98fd5b8e918752aULL, 0x852495002338ee3fULL},
    {"single_tree.cbm", 6856, 1, 4, 1.0, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:54Z", 0xed71bb34049c8c6eULL, 0x2b02c8c73a9f34ffULL, 0xe80c67e3167de472ULL},
    {"unknown_cat.cbm", 31872, 80, 4, 0.1, std::nullopt, "Logloss", "SymmetricTree", "MVS", 1,
     "2026-03-15T01:23:53Z", 0x60c1be95d7f6e9aeULL, 0xec11be8d0616be16ULL, 0xf59dc5890bd0f727ULL},
};

TEST(CbmReader, EveryCorpusModel) {
  for (const CorpusModel& model : kCorpus) {
    SCOPED_TRACE(model.name);
    const auto summary = read_catboost(kData + model.name);
    ASSERT_TRUE(summary.has_value()) << summary.error();
    EXPECT_EQ(summary->path, model.name);
    EXPECT_EQ(summary->file_size_bytes, model.size);
    EXPECT_TRUE(summary->has_cbm1_magic);
    EXPECT_EQ(summary->iterations, model.iterations);
    EXPECT_EQ(summary->depth, model.depth);
    EXPECT_EQ(summary->learning_rate, model.learning_rate);
    EXPECT_EQ(summary->l2_leaf_reg, 3.0);
    EXPECT_EQ(summary->loss, model.loss);
    EXPECT_EQ(summary->eval_metric, model.loss);
    EXPECT_EQ(summary->grow_policy, model.grow_policy);
    EXPECT_EQ(summary->bootstrap, model.bootstrap);
    EXPECT_EQ(summary->best_learn_rmse, model.best_learn_rmse);
    EXPECT_EQ(summary->train_finish_time, model.train_finish_time);
    EXPECT_EQ(summary->feature_names.size(), model.feature_names);
    EXPECT_EQ(summary->file_fingerprint, model.file);
    EXPECT_EQ(summary->metadata_fingerprint, model.metadata);
    EXPECT_EQ(summary->learned_state_fingerprint, model.learned_state);
  }
}

TEST(CbmReader, FeatureNamesOfARealModel) {
  const auto summary = read_catboost(kData + "float_binary.cbm");
  ASSERT_TRUE(summary.has_value());
  EXPECT_EQ(summary->feature_names, (std::vector<std::string>{"class_params", "gxo_pu"}));
}

TEST(CbmReader, ReadErrors) {
  EXPECT_EQ(read_catboost("no/such/model.cbm").error(),
            "read no/such/model.cbm: No such file or directory (os error 2)");
  EXPECT_EQ(read_catboost(std::string(ORVIK_TEST_DATA) + "/catboost").error(),
            "read " + std::string(ORVIK_TEST_DATA) + "/catboost: Is a directory (os error 21)");
}

TEST(CbmReader, SignatureErrors) {
  for (const std::string_view bytes :
       {std::string_view(""), std::string_view("CBM"), std::string_view("CBM2{}"),
        std::string_view("cbm1"), std::string_view("\0CBM1", 5), std::string_view("XCBM1")}) {
    EXPECT_EQ(read_catboost_bytes("dir/x.cbm", bytes).error(),
              "dir/x.cbm does not look like a CatBoost CBM file: missing CBM1 signature")
        << bytes;
  }
}

TEST(CbmReader, MagicOnly) {
  const CatBoostSummary summary = read_body("");
  EXPECT_EQ(summary.path, "model.cbm");
  EXPECT_EQ(summary.file_size_bytes, 4u);
  EXPECT_TRUE(summary.has_cbm1_magic);
  EXPECT_FALSE(summary.iterations);
  EXPECT_FALSE(summary.depth);
  EXPECT_FALSE(summary.learning_rate);
  EXPECT_FALSE(summary.l2_leaf_reg);
  EXPECT_FALSE(summary.loss);
  EXPECT_FALSE(summary.eval_metric);
  EXPECT_FALSE(summary.grow_policy);
  EXPECT_FALSE(summary.bootstrap);
  EXPECT_FALSE(summary.train_finish_time);
  EXPECT_FALSE(summary.best_learn_rmse);
  EXPECT_TRUE(summary.feature_names.empty());
  EXPECT_FALSE(summary.metadata_fingerprint);
  EXPECT_EQ(summary.file_fingerprint, fnv("CBM1"));
  EXPECT_EQ(summary.learned_state_fingerprint, summary.file_fingerprint);
}

TEST(CbmReader, TrainingFieldsFromFlatParams) {
  const CatBoostSummary s = read_body(
      "\x01{\"boosting_options\":{\"iterations\":1000,\"learning_rate\":0.5},"
      "\"flat_params\":{\"iterations\":500,\"depth\":7,\"learning_rate\":0.03,"
      "\"l2_leaf_reg\":2.5,\"loss_function\":\"RMSE\"},"
      "\"tree_learner_options\":{\"depth\":3,\"l2_leaf_reg\":9,\"grow_policy\":\"Depthwise\","
      "\"bootstrap\":{\"type\":\"Bernoulli\"}},"
      "\"loss_function\":{\"type\":\"Logloss\"},\"metrics\":{\"eval_metric\":{\"type\":\"AUC\"}}}"
      "\x02");
  EXPECT_EQ(s.iterations, 500u);
  EXPECT_EQ(s.depth, 7u);
  EXPECT_EQ(s.learning_rate, 0.03);
  EXPECT_EQ(s.l2_leaf_reg, 2.5);
  EXPECT_EQ(s.loss, "RMSE");
  EXPECT_EQ(s.eval_metric, "AUC");
  EXPECT_EQ(s.grow_policy, "Depthwise");
  EXPECT_EQ(s.bootstrap, "Bernoulli");
  EXPECT_FALSE(s.best_learn_rmse);
}

TEST(CbmReader, TrainingFieldsFallBackWhenFlatIsMissingOrMistyped) {
  const CatBoostSummary s = read_body(
      "{\"boosting_options\":{\"iterations\":1000,\"learning_rate\":1},"
      "\"flat_params\":{\"iterations\":\"500\",\"depth\":-2,\"learning_rate\":\"x\","
      "\"l2_leaf_reg\":null,\"loss_function\":7},"
      "\"tree_learner_options\":{\"depth\":3,\"l2_leaf_reg\":9},"
      "\"loss_function\":{\"type\":\"Logloss\"}}");
  EXPECT_EQ(s.iterations, 1000u);
  EXPECT_EQ(s.depth, 3u);
  EXPECT_EQ(s.learning_rate, 1.0);  // the integer 1
  EXPECT_EQ(s.l2_leaf_reg, 9.0);
  EXPECT_EQ(s.loss, "Logloss");
  EXPECT_FALSE(s.eval_metric);
  EXPECT_FALSE(s.grow_policy);
  EXPECT_FALSE(s.bootstrap);
}

TEST(CbmReader, UnsignedIntegersOnly) {
  const auto iterations = [](std::string_view flat, std::string_view boosting) {
    return read_body("{\"boosting_options\":{\"iterations\":" + std::string(boosting) +
                     "},\"flat_params\":{\"iterations\":" + std::string(flat) + "}}")
        .iterations;
  };
  EXPECT_EQ(iterations("500", "1000"), 500u);
  EXPECT_EQ(iterations("\"500\"", "1000"), 1000u);
  EXPECT_EQ(iterations("-500", "-1000"), std::nullopt);
  EXPECT_EQ(iterations("2.5", "1e3"), std::nullopt);
  EXPECT_EQ(iterations("1.0", "10E0"), std::nullopt);
  EXPECT_EQ(iterations("18446744073709551615", "1"), 18446744073709551615u);
  EXPECT_EQ(iterations("18446744073709551616", "0"), 0u);  // too large: a float
  EXPECT_EQ(iterations("true", "null"), std::nullopt);
  EXPECT_EQ(iterations("-0", "7"), 0u);  // -0 reads as the integer 0
}

TEST(CbmReader, OnlyTheFirstParametersObjectCounts) {
  const CatBoostSummary s = read_body(
      "{\"boosting_options\":7,\"tree_learner_options\":{\"depth\":2}}\x00"
      "{\"boosting_options\":{},\"tree_learner_options\":{\"depth\":9},"
      "\"flat_params\":{\"iterations\":4}}");
  EXPECT_EQ(s.depth, 2u);
  EXPECT_FALSE(s.iterations);
}

TEST(CbmReader, ParametersNeedTheTopLevelMember) {
  const CatBoostSummary s = read_body(
      "{\"x\":{\"boosting_options\":{},\"flat_params\":{\"iterations\":4}}}"
      "[\"boosting_options\"]");
  EXPECT_FALSE(s.iterations);
  EXPECT_TRUE(s.metadata_fingerprint);
}

TEST(CbmReader, BestLearnRmseComesFromTheFirstMetricsObjectOnly) {
  EXPECT_EQ(read_body("{\"metrics\":{\"learn_best_error\":{\"RMSE\":0.25}}}").best_learn_rmse,
            0.25);
  EXPECT_EQ(read_body("{\"metrics\":{\"learn_best_error\":{\"RMSE\":3}}}").best_learn_rmse, 3.0);
  EXPECT_FALSE(read_body("{\"metrics\":{\"learn_best_error\":{\"Logloss\":0.1}}}"
                         "{\"metrics\":{\"learn_best_error\":{\"RMSE\":0.2}}}")
                   .best_learn_rmse);
  // A null learn_best_error still makes the object the metrics object.
  EXPECT_FALSE(read_body("{\"metrics\":{\"learn_best_error\":null}}"
                         "{\"metrics\":{\"learn_best_error\":{\"RMSE\":0.2}}}")
                   .best_learn_rmse);
  EXPECT_FALSE(
      read_body("{\"metrics\":{\"learn_best_error\":{\"RMSE\":\"0.2\"}}}").best_learn_rmse);
  EXPECT_FALSE(read_body("{\"metrics\":[{\"learn_best_error\":{\"RMSE\":1}}]}").best_learn_rmse);
  // The parameters object may also be the metrics object.
  const CatBoostSummary both = read_body(
      "{\"boosting_options\":{\"iterations\":3},\"metrics\":{\"learn_best_error\":{\"RMSE\":1.5},"
      "\"eval_metric\":{\"type\":\"RMSE\"}}}");
  EXPECT_EQ(both.iterations, 3u);
  EXPECT_EQ(both.best_learn_rmse, 1.5);
  EXPECT_EQ(both.eval_metric, "RMSE");
}

TEST(CbmReader, BracesAndQuotesInsideStrings) {
  const std::string object = "{\"boosting_options\":{\"iterations\":5},\"s\":\"a}b\\\"}{c\"}";
  const CatBoostSummary s = read_body("\x01" + object + "\x02");
  EXPECT_EQ(s.iterations, 5u);
  const auto value = parse_json(object);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(s.metadata_fingerprint, fnv(*write_json(*value, JsonStyle::Compact)));
  EXPECT_EQ(s.learned_state_fingerprint, fnv("CBM1\x01\x02"));
}

TEST(CbmReader, ABalancedSpanThatIsNotJsonHidesWhatIsInside) {
  const std::string body = "{\x07 raw {\"boosting_options\":{\"iterations\":5}} }\x01{\"a\":1}";
  const CatBoostSummary s = read_body(body);
  EXPECT_FALSE(s.iterations);
  EXPECT_EQ(s.metadata_fingerprint, fnv("{\"a\":1}"));
  // Only the valid object is cut out of the learned state.
  EXPECT_EQ(s.learned_state_fingerprint,
            fnv("CBM1{\x07 raw {\"boosting_options\":{\"iterations\":5}} }\x01"));
}

TEST(CbmReader, SpansThatAreNotUtf8OrNotJsonStayInTheLearnedState) {
  for (const std::string_view span :
       {std::string_view("{\"a\":\"\xff\"}"), std::string_view("{\"a\":1,}"),
        std::string_view("{'a':1}"), std::string_view("{\"a\":1e999}"),
        std::string_view("{\"a\":\"\\ud800\"}"), std::string_view("{\"a\":\"\x01\"}"),
        std::string_view("{}}")}) {
    const std::string body = std::string(span);
    const CatBoostSummary s = read_body(body);
    if (span == "{}}") {
      EXPECT_EQ(s.metadata_fingerprint, fnv("{}"));
      continue;
    }
    EXPECT_FALSE(s.metadata_fingerprint) << span;
    EXPECT_EQ(s.learned_state_fingerprint, s.file_fingerprint) << span;
  }
}

TEST(CbmReader, MetadataFingerprintIgnoresOrderSpacingAndKeyOrder) {
  const CatBoostSummary a = read_body("{\"b\": 1, \"a\": [1.50, 2]}\x01{ \"z\" : \"y\" }");
  const CatBoostSummary b = read_body("{\"z\":\"y\"}\x7f\x7f{\"a\":[1.5,2],\"b\":1}");
  EXPECT_EQ(a.metadata_fingerprint, fnv("{\"a\":[1.5,2],\"b\":1}\n{\"z\":\"y\"}"));
  EXPECT_EQ(a.metadata_fingerprint, b.metadata_fingerprint);
  EXPECT_NE(a.learned_state_fingerprint, b.learned_state_fingerprint);
  // Compact numbers, escapes and duplicate keys (the last one wins).
  EXPECT_EQ(read_body("{\"k\":1E2,\"t\":\"\\u00e9\\/\\t\",\"k\":0.00001}").metadata_fingerprint,
            fnv("{\"k\":0.00001,\"t\":\"\xc3\xa9/\\t\"}"));
  EXPECT_EQ(read_body("{\"k\":[1e-7,1.5e17,-0,1E16,100.0]}").metadata_fingerprint,
            fnv("{\"k\":[1e-7,1.5e17,0,1e16,100.0]}"));
  // Equal texts both count.
  EXPECT_EQ(read_body("{}\x01{}").metadata_fingerprint, fnv("{}\n{}"));
}

TEST(CbmReader, FeatureNameCandidates) {
  const std::string body = std::string("\x01") + "age_years" + '\0' + "user_id_hash" + '\0' +
                           "Age_years" + '\0' + "ab_cd" + '\0' + "agegroup" + '\0' +
                           "feature_index" + '\0' + "feature_ids" + '\0' + "age_years" + '\0' +
                           "1st_name" + '\0' + "name_with space" + '\0' + "x_" +
                           std::string(79, 'a') + '\0' + "y_" + std::string(78, 'a') + '\0' +
                           "ends_with_" + '\x80' + "tail_end_";
  EXPECT_EQ(read_body(body).feature_names,
            (std::vector<std::string>{"age_years", "ends_with_", "feature_ids", "tail_end_",
                                      "user_id_hash", "y_" + std::string(78, 'a')}));
}

TEST(CbmReader, FeatureNamesInsideJsonCountToo) {
  // Non-ASCII letters end printable runs, also inside a JSON string.
  const CatBoostSummary s = read_body("\x01{\"n\":\"\xc3\xa9income_usd\xc3\xa9\"}");
  EXPECT_EQ(s.feature_names, (std::vector<std::string>{"income_usd"}));
  EXPECT_TRUE(s.metadata_fingerprint);
}

TEST(CbmReader, EveryStopListWordIsDropped) {
  std::string body;
  for (const char* word : {"model_guid",
                           "feature_id",
                           "flat_params",
                           "feature_index",
                           "features_info",
                           "output_options",
                           "float_features",
                           "feature_calcers",
                           "boosting_options",
                           "learn_best_error",
                           "tokenizers_names",
                           "train_finish_time",
                           "cat_feature_params",
                           "feature_processing",
                           "dictionaries_names",
                           "static_provider_v1",
                           "tree_learner_options",
                           "test_metrics_history",
                           "categorical_features",
                           "learn_metrics_history",
                           "catboost_version_info",
                           "data_processing_options"}) {
    body += word;
    body += '\0';
  }
  EXPECT_TRUE(read_body(body).feature_names.empty());
}

TEST(CbmReader, TrainFinishTime) {
  using namespace std::string_literals;
  EXPECT_EQ(read_body("\x01zz\x01"
                      "2024-01-02T03:04:05Z\x01\x02train_finish_time\x01later\x01"
                      "train_finish_time")
                .train_finish_time,
            "2024-01-02T03:04:05Z");
  // Runs shorter than 3 bytes are not runs: "zz" does not sit between them.
  EXPECT_EQ(read_body("\x01"
                      "abc\x01zz\x01train_finish_time")
                .train_finish_time,
            "abc");
  // The file's own signature is a run: a key right after it gets "CBM1".
  EXPECT_EQ(read_body("\x01train_finish_time\x01x").train_finish_time, "CBM1");
  // Only the first key counts.
  EXPECT_EQ(read_body("\x01"
                      "train_finish_time\x01"
                      "abc\x01train_finish_time")
                .train_finish_time,
            "CBM1");
  // A key joined to the signature is not the key.
  EXPECT_FALSE(read_body("train_finish_time").train_finish_time);
  EXPECT_FALSE(read_body("\x01no key here\x01").train_finish_time);
  // Exactly the key: a longer run does not count.
  EXPECT_FALSE(read_body("\x01"
                         "abc\x01train_finish_times")
                   .train_finish_time);
}

TEST(CbmReader, PrintableRuns) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(extract_printable_runs(""), V{});
  EXPECT_EQ(extract_printable_runs("ab"), V{});
  EXPECT_EQ(extract_printable_runs("abc"), V{"abc"});
  EXPECT_EQ(extract_printable_runs("ab\x1f"
                                   "abc\x7f"
                                   " ~ \x80xyz"),
            (V{"abc", " ~ ", "xyz"}));
  // Long inputs cross the 64-byte blocks the scan works in.
  std::string text;
  V expected;
  std::vector<std::string> pieces;
  std::mt19937_64 rng(5);
  for (int i = 0; i < 400; ++i) {
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 90)(rng);
    std::string run(length, static_cast<char>('a' + i % 26));
    pieces.push_back(run);
    text += run;
    text += static_cast<char>(std::uniform_int_distribution<int>(0, 1)(rng) ? '\0' : '\xff');
  }
  for (const std::string& piece : pieces) {
    if (piece.size() >= 3) expected.push_back(piece);
  }
  EXPECT_EQ(extract_printable_runs(text), expected);
  // A run reaching the end of the bytes.
  EXPECT_EQ(extract_printable_runs(std::string(200, 'q')),
            V{std::string_view(std::string(200, 'q'))});
}

TEST(CbmReader, ConfigEquality) {
  CatBoostSummary a;
  CatBoostSummary b;
  EXPECT_TRUE(catboost_config_equal(a, b));
  a.loss = "RMSE";
  EXPECT_FALSE(catboost_config_equal(a, b));
  b.loss = "RMSE";
  a.learning_rate = 0.0;
  b.learning_rate = -0.0;
  EXPECT_TRUE(catboost_config_equal(a, b));
  a.learning_rate = b.learning_rate = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(catboost_config_equal(a, b));
  a.learning_rate = b.learning_rate = 0.1;
  a.bootstrap = "MVS";
  EXPECT_FALSE(catboost_config_equal(a, b));
  b.bootstrap = "MVS";
  // Fields outside the configuration do not matter.
  a.iterations = 5;
  a.depth = 6;
  a.feature_names = {"x_y_z1"};
  EXPECT_TRUE(catboost_config_equal(a, b));
  for (auto field : {&CatBoostSummary::eval_metric, &CatBoostSummary::grow_policy}) {
    CatBoostSummary c = b;
    c.*field = "x";
    EXPECT_FALSE(catboost_config_equal(a, c));
  }
  CatBoostSummary c = b;
  c.l2_leaf_reg = 3;
  EXPECT_FALSE(catboost_config_equal(a, c));
}

// The reader's rules spelled out the slow way: the literal scan, each span parsed by
// the JSON library, the printable runs from extract_printable_runs.
struct Literal {
  std::optional<Fingerprint> metadata;
  Fingerprint learned = kFnvOffsetBasis;
};

Literal literal_reading(std::string_view bytes) {
  Literal out;
  std::vector<std::string> texts;
  std::size_t kept_from = 0;
  for (const auto& [start, end] : testing_support::literal_spans(bytes)) {
    const std::string_view span = bytes.substr(start, end - start);
    if (!is_valid_utf8(span)) continue;
    if (const auto value = parse_json(span)) {
      texts.push_back(*write_json(*value, JsonStyle::Compact));
      out.learned = fnv1a64(out.learned, bytes.substr(kept_from, start - kept_from));
      kept_from = end;
    }
  }
  out.learned = fnv1a64(out.learned, bytes.substr(kept_from));
  if (!texts.empty()) {
    std::sort(texts.begin(), texts.end());
    std::string joined = texts.front();
    for (std::size_t t = 1; t < texts.size(); ++t)
      joined += "\n" + texts[t];
    out.metadata = fnv(joined);
  }
  return out;
}

void expect_like_literal(std::string_view bytes) {
  const auto summary = read_catboost_bytes("m.cbm", bytes);
  if (bytes.size() < 4 || bytes.substr(0, 4) != "CBM1") {
    ASSERT_FALSE(summary.has_value());
    return;
  }
  ASSERT_TRUE(summary.has_value());
  const Literal literal = literal_reading(bytes);
  ASSERT_EQ(summary->metadata_fingerprint, literal.metadata) << bytes.size();
  ASSERT_EQ(summary->learned_state_fingerprint, literal.learned) << bytes.size();
  ASSERT_EQ(summary->file_fingerprint, fnv(bytes));
  ASSERT_EQ(summary->file_size_bytes, bytes.size());
}

TEST(CbmReader, EveryPrefixOfARealModel) {
  const std::string model = slurp(kData + "single_tree.cbm");
  ASSERT_EQ(model.size(), 6856u);
  for (std::size_t length = 0; length <= model.size(); ++length) {
    expect_like_literal(std::string_view(model).substr(0, length));
  }
}

TEST(CbmReader, PrefixesOfLargerModels) {
  for (const char* name : {"float_regression.cbm", "multiclass_5.cbm", "cat_onehot_small.cbm"}) {
    const std::string model = slurp(kData + name);
    for (std::size_t length = 0; length <= model.size(); length += 997) {
      expect_like_literal(std::string_view(model).substr(0, length));
    }
    // Every cut through the embedded JSON.
    for (std::size_t length = 0; length < 13000 && length <= model.size(); length += 7) {
      expect_like_literal(std::string_view(model).substr(0, length));
    }
  }
}

TEST(CbmReader, MutatedModels) {
  std::mt19937_64 rng(77);
  const std::string model = slurp(kData + "shallow_trees.cbm");
  for (int round = 0; round < 150; ++round) {
    std::string mutated = model;
    // The alphabet includes the terminating NUL byte.
    testing_support::mutate_bytes(mutated, rng, std::string_view("{}\"\\:,[]0\xff", 11), 8, 4,
                                  13000);
    expect_like_literal(mutated);
  }
}

TEST(CbmReader, RepeatedSpansAndNamesReadLikeTheirDefinition) {
  // Spans and names drawn from small pools, so most repeat: every span counts in the metadata
  // fingerprint as often as it occurs, every name is listed once, in byte order.
  const std::vector<std::string> spans = {"{}",
                                          "{ }",
                                          "{\"b\":1,\"a\":[2]}",
                                          "{\"a\":[2],\"b\":1}",
                                          "{\"x\":\"\\u0041\"}",
                                          "{x}",
                                          "{\"a\":1,}",
                                          "{\"\":{}}"};
  std::vector<std::string> names;
  for (int i = 0; i < 150; ++i) {
    // Shared prefixes, names that begin others, lengths up to 80.
    names.push_back("ab_" + std::string(static_cast<std::size_t>(i % 7), 'c') + std::to_string(i));
    names.push_back("ab_" + std::string(static_cast<std::size_t>(i % 77), 'z'));
  }
  std::mt19937_64 rng(5);
  for (int round = 0; round < 40; ++round) {
    std::string body;
    std::vector<std::string> texts;
    std::set<std::string> listed;
    const int items = std::uniform_int_distribution<int>(0, 4000)(rng);
    for (int i = 0; i < items; ++i) {
      body += '\x01';
      if (rng() % 2 == 0) {
        const std::string& span = spans[rng() % spans.size()];
        body += span;
        if (const auto compact = compact_json(span)) texts.push_back(compact->text);
      } else {
        const std::string& name = names[rng() % (round % 2 == 0 ? 20 : names.size())];
        body += name;
        if (name.size() >= 6) listed.insert(name);  // shorter runs are no candidates
      }
    }
    const CatBoostSummary summary = read_body(body);
    std::sort(texts.begin(), texts.end());
    std::string joined;
    for (const std::string& text : texts)
      joined += (joined.empty() ? "" : "\n") + text;
    EXPECT_EQ(summary.metadata_fingerprint,
              texts.empty() ? std::nullopt : std::optional<Fingerprint>(fnv(joined)));
    EXPECT_EQ(summary.feature_names, std::vector<std::string>(listed.begin(), listed.end()));
  }
  // More distinct names than the reader remembers, each repeated far apart, in shuffled and in
  // sorted order; 6 to 21 bytes long, around the 13 bytes one sorting step takes at this size.
  std::vector<std::string> distinct;
  for (int i = 0; i < 6000; ++i)
    distinct.push_back("name_" + std::string(static_cast<std::size_t>(i % 13), 'x') +
                       std::to_string(i));
  std::vector<std::string> occurrences;
  for (int copy = 0; copy < 3; ++copy)
    occurrences.insert(occurrences.end(), distinct.begin(), distinct.end());
  std::shuffle(occurrences.begin(), occurrences.end(), rng);
  std::sort(distinct.begin(), distinct.end());
  for (const bool sorted : {false, true}) {
    if (sorted) std::sort(occurrences.begin(), occurrences.end());
    std::string body;
    for (const std::string& name : occurrences)
      body += name + '\x01';
    EXPECT_EQ(read_body(body).feature_names, distinct) << sorted;
  }
  // More occurrences of one text than one count holds.
  const std::size_t many = (std::size_t{1} << 20) + 3;
  std::string flood;
  for (std::size_t i = 0; i < many; ++i)
    flood += "{}";
  std::string joined;
  for (std::size_t i = 0; i < many; ++i)
    joined += i == 0 ? "{}" : "\n{}";
  EXPECT_EQ(read_body(flood).metadata_fingerprint, fnv(joined));
}

TEST(CbmReader, BackToBackCopiesReadLikeTheirDefinition) {
  // Copies of a value right after it, ending in a whole or a cut copy, inside a value or after
  // names; spans that only look alike ("{ }" after "{}") are not copies.
  for (const std::string_view unit :
       {"{}", "{\"a\":{}}", "{}{ }", "{\"x\\\"}\"}", "{x}", "col_ab\x01{}"}) {
    for (const std::size_t copies : {1, 2, 3, 700}) {
      for (std::size_t cut = 0; cut <= unit.size(); cut += 2) {
        std::string bytes = "CBM1{\"k\":";
        for (std::size_t i = 0; i < copies; ++i)
          bytes += unit;
        bytes += unit.substr(0, cut);
        expect_like_literal(bytes);
        expect_like_literal(bytes + "}");
      }
    }
  }
}

TEST(CbmReader, HostileFloodsStayFast) {
  // Quadratic behaviour would take hours on each of these.
  for (const std::string_view unit : {"{", "{\"", "{x}", "{}", "ab_cd_e\x01", "{\"a\":{"}) {
    std::string bytes = "CBM1";
    while (bytes.size() < (2u << 20))
      bytes += unit;
    const auto summary = read_catboost_bytes("flood.cbm", bytes);
    ASSERT_TRUE(summary.has_value());
    EXPECT_EQ(summary->file_fingerprint, fnv(bytes));
  }
}

}  // namespace
}  // namespace orvik

#pragma once
// The `catboost` / `cbm` command (also `inspect` of a CatBoost model): the "CatBoost Model
// Summary" of one or more CatBoost binary models as text, or one JSON document for all of them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cbm/catboost_reader.hpp"
#include "util/json.hpp"
#include "util/result.hpp"

namespace orvik {

// Words: "--deep", "--json", "--limit N" (feature names listed per model, 20 by default) and
// paths, in any order.
CommandResult cmd_catboost(const std::vector<std::string>& words);

// Iterations times depth; absent when either is unknown or the product overflows 64 bits.
std::optional<std::uint64_t> catboost_split_checks_per_row(const CatBoostSummary& summary);

// Iterations times 2^depth (the leaves of full trees); absent when either is unknown, when the
// depth is 64 or more, or when the product overflows 64 bits.
std::optional<std::uint64_t> catboost_max_leaf_slots(const CatBoostSummary& summary);

// The summary object shared by the inspect and diff reports.
JsonValue catboost_summary_json(const CatBoostSummary& summary);

// The whole `--json` document of one model, as a value or written piece by piece (the names of
// a file that holds millions are never held twice).
JsonValue catboost_inspect_json(const CatBoostSummary& summary);
void write_catboost_inspect_json(JsonStream& out, const CatBoostSummary& summary);

}  // namespace orvik

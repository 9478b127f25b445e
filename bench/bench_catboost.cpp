// Reading CatBoost models must cost about as much as hashing their bytes, whatever the bytes:
// each 64 MiB input is read with read_catboost_bytes and hashed with fnv1a64, best of a few runs.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "artifact_kind/artifact_kind.hpp"
#include "benchmarks.hpp"
#include "cbm/catboost_reader.hpp"
#include "files.hpp"

namespace orvik::bench {
namespace {

constexpr std::size_t kSize = 64u << 20;
constexpr int kRounds = 5;

struct Input {
  std::string name;
  std::string bytes;
};

std::string repeat_to_size(std::string_view unit, std::string prefix = "CBM1") {
  std::string bytes = std::move(prefix);
  bytes.reserve(kSize);
  while (bytes.size() < kSize)
    bytes.append(unit.substr(0, kSize - bytes.size()));
  return bytes;
}

std::string random_bytes(std::string prefix, std::string_view alphabet, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string bytes = std::move(prefix);
  bytes.reserve(kSize);
  if (alphabet.empty()) {
    while (bytes.size() < kSize) {
      const std::uint64_t word = rng();
      for (int i = 0; i < 8 && bytes.size() < kSize; ++i) {
        bytes.push_back(static_cast<char>(word >> (8 * i)));
      }
    }
  } else {
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    while (bytes.size() < kSize)
      bytes.push_back(alphabet[pick(rng)]);
  }
  return bytes;
}

std::vector<Input> make_inputs(const std::string& model) {
  std::vector<Input> inputs;
  inputs.push_back({"real model repeated", repeat_to_size(model, "")});
  inputs.push_back({"real model + random padding", random_bytes(model, "", 1)});
  inputs.push_back({"random bytes", random_bytes("CBM1", "", 2)});
  inputs.push_back({"CBM1 + '{' flood", repeat_to_size("{")});
  inputs.push_back({"CBM1 + '{\"' flood", repeat_to_size("{\"")});
  inputs.push_back({"CBM1 + '{\\' flood", repeat_to_size("{\\")});
  inputs.push_back({"CBM1 + '{\"\\\"' flood", repeat_to_size("{\"\\\"")});
  inputs.push_back({"CBM1 + random {}\"\\ mix", random_bytes("CBM1", "{}\"\\", 3)});
  inputs.push_back({"CBM1 + random {\"\\x mix", random_bytes("CBM1", "{\"\\x", 4)});
  inputs.push_back(
      {"CBM1 + feature-name runs", repeat_to_size(std::string_view("age_years\0", 10))});
  inputs.push_back({"CBM1 + '{x}' spans (not JSON)", repeat_to_size("{x}")});
  return inputs;
}

template <class F>
double best_seconds(F&& run) {
  double best = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count());
  }
  return best;
}

}  // namespace

int bench_catboost(const std::vector<std::string>& words) {
  const std::string model_path =
      words.empty() ? std::string(ORVIK_SOURCE_DIR) + "/tests/data/catboost/float_binary.cbm"
                    : words.front();
  const std::string model = testing_support::slurp(model_path);
  if (model.size() < 4) {
    fmt::print(stderr, "cannot read a CatBoost model from {}\n", model_path);
    return 1;
  }
  fmt::print("model: {} ({} bytes); inputs of {} MiB; best of {} runs\n\n", model_path,
             model.size(), kSize >> 20, kRounds);
  fmt::print("{:<32} {:>10} {:>10} {:>7}\n", "input", "fnv1a64", "read", "ratio");
  int status = 0;
  for (const Input& input : make_inputs(model)) {
    Fingerprint sink = 0;
    const double hash = best_seconds([&] { sink ^= fnv1a64(kFnvOffsetBasis, input.bytes); });
    std::size_t names = 0;
    const double read = best_seconds([&] {
      const auto summary = read_catboost_bytes("bench.cbm", input.bytes);
      if (!summary) {
        status = 1;
        return;
      }
      sink ^= summary->learned_state_fingerprint;
      names = summary->feature_names.size();
    });
    fmt::print("{:<32} {:>8.1f}ms {:>8.1f}ms {:>6.2f}x  (names {}, check {:x})\n", input.name,
               hash * 1e3, read * 1e3, read / hash, names, sink & 0xff);
  }
  return status;
}

}  // namespace orvik::bench

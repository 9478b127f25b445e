#pragma once
// The benchmarks of orvik_bench. Each takes the words after its name, prints its own report and
// returns the process exit status. Add a benchmark by declaring it here and listing it in the
// table of bench_main.cpp.
#include <string>
#include <vector>

namespace orvik::bench {

// Reading 64 MiB CatBoost files (real-shaped and adversarial) against hashing the same bytes.
int bench_catboost(const std::vector<std::string>& words);

// Reading a 50 MiB LightGBM text model against hashing its bytes, from memory and from a file.
int bench_lightgbm(const std::vector<std::string>& words);

// Reading a 128 MiB ONNX model against hashing its bytes; peak RSS and onnx.load for scale.
int bench_onnx(const std::vector<std::string>& words);

// Reading, building and analysing tensor plans: 16 MiB of numbers in an input and in a layer,
// and 200,000 shape-only layers, against fnv1a64 and the JSON library's parse.
int bench_plan(const std::vector<std::string>& words);

// Floods of tiny items (CatBoost, LightGBM, ONNX and tensor plans): peak memory and time of whole
// commands against the file size and fnv1a64 of the same bytes; for ONNX also the commands over
// two files and the framework's own loader on the same file; diffs of huge name lists at doubling
// sizes.
int bench_floods(const std::vector<std::string>& words);

// Inspecting a 1 GiB torch.save checkpoint: time, bytes sampled and peak RSS.
int bench_pytorch(const std::vector<std::string>& words);

// Executing tensor plans: runs of a small plan, and the peak memory of a run whose attention
// scores are the largest tensor.
int bench_lab(const std::vector<std::string>& words);

}  // namespace orvik::bench

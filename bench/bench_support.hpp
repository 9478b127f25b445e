#pragma once
// Measuring helpers the benchmarks share: best-of-N timing, peak resident memory, and the time a
// Python library takes to load the same file.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files.hpp"
#include "proto_wire_builder.hpp"

namespace orvik::bench {

// The fastest of `runs` calls of `run`, in milliseconds.
template <class F>
double best_ms(int runs, F&& run) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const auto stop = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::milli>(stop - start).count());
  }
  return best;
}

// The number of runs given as `word`, from 1 to `most`; otherwise nothing, after saying so on
// standard error.
std::optional<int> parse_runs(const std::string& word, int most);

// The options of the benchmarks that write a model file: --keep leaves the file behind, and
// --python PATH names the interpreter that times the framework's own loader.
struct FileBenchOptions {
  bool keep = false;
  std::string python = "/usr/bin/python3";
};

// Consumes words[i] (and the value after it) when it is one of those options.
bool take_file_bench_option(const std::vector<std::string>& words, std::size_t& i,
                            FileBenchOptions& options);

// Protobuf wire pieces for generated models: a varint, a key, a varint field and a
// length-delimited field.
using testing_support::key;
using testing_support::lf;
using testing_support::varint;
using testing_support::vf;

// Whole-file writes of generated inputs.
using testing_support::write_file;

// The process's peak resident set so far, in MiB.
double peak_rss_mib();

// Seconds that `python` takes to run `statement` (with `path` bound to the file), timed inside the
// interpreter after `import module`; negative when the interpreter or the module is missing.
double python_load_seconds(const std::string& python, const std::string& module,
                           const std::string& statement, const std::string& path);

}  // namespace orvik::bench

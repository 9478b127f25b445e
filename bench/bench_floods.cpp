// Floods of tiny items: small hostile files whose readers must not hold many times their size.
// Each input is generated at full size into a temporary file (never committed), each command runs
// as a child process (standard output to /dev/null), and its peak resident memory and time are set
// against the file size, against fnv1a64 over the bytes in memory, and against reading the file
// into a fresh buffer and hashing it (the floor of any reader). The ONNX floods also run the
// commands that read two files (against a copy of the input; "x1" is the peak against that of the
// one-file command of the same output form, at most 2 by design) and, side by side, the
// framework's own loader: python3 running onnx.load on the same file (the interpreter included).
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/core.h>
#include <fmt/format.h>

#include "artifact_kind/artifact_kind.hpp"
#include "bench_support.hpp"
#include "benchmarks.hpp"
#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik::bench {
namespace {

// One command of a flood; "@" stands for the input and "@copy" for a copy of it.
struct Command {
  std::string label;
  std::vector<std::string> words;
  bool python = false;  // words follow the interpreter, not orvik
  int single = -1;      // for a two-file command: the one-file command it is measured against
};

struct Flood {
  std::string_view name;
  std::string_view file_name;
  std::vector<Command> commands;
  std::string (*make)();
};

constexpr std::size_t kMiB = 1u << 20;

std::string braces() {
  std::string bytes = "CBM1";
  bytes.reserve(64 * kMiB + 4);
  while (bytes.size() < 64 * kMiB + 4)
    bytes += "{}";
  return bytes;
}

// Distinct feature-name-like runs in scrambled order (an odd multiplier permutes 32-bit values).
std::string catboost_names() {
  std::string bytes = "CBM1";
  bytes.reserve(67'000'000 + 16);
  for (std::uint32_t i = 0; bytes.size() < 67'000'000; ++i) {
    bytes += fmt::format("col_{:08x}", static_cast<std::uint32_t>(i * 2654435761u));
    bytes.push_back('\0');
  }
  return bytes;
}

std::string deep_nesting() {
  constexpr std::size_t kLevels = 8u << 20;
  std::string bytes = "CBM1";
  bytes.reserve(5 * kLevels + 8);
  for (std::size_t i = 0; i < kLevels; ++i)
    bytes += "{\"\":";
  bytes += '0';
  bytes.append(kLevels, '}');
  return bytes;
}

// A tensor plan of a million copies of one small layer after `head`.
std::string million_layers(std::string_view head, std::string_view layer) {
  std::string bytes(head);
  bytes.reserve(head.size() + 1'000'000 * (layer.size() + 1) + 16);
  bytes += R"("layers": [)";
  for (int i = 0; i < 1'000'000; ++i) {
    if (i > 0) bytes.push_back(',');
    bytes += layer;
  }
  bytes += "]}";
  return bytes;
}

std::string relu_layers() {
  return million_layers(R"({"input_shape": [1], )", R"({"type":"relu"})");
}

std::string shape_only_linear_layers() {
  return million_layers(R"({"input_shape": [1, 4], )", R"({"type":"linear","out":4})");
}

// `head`, then `item` with 0, 1, 2, ... filled in until `size` bytes are reached, then `tail`.
std::string numbered(std::string head, std::string_view item, std::size_t size,
                     std::string_view tail) {
  std::string bytes = std::move(head);
  bytes.reserve(size + 64);
  for (std::size_t i = 0; bytes.size() < size; ++i)
    bytes += fmt::format(fmt::runtime(item), i);
  bytes += tail;
  return bytes;
}

std::string lightgbm_feature_names() {
  return numbered("tree\nversion=v4\nmax_feature_idx=3\nfeature_names=", "f{} ", 66'000'000, "\n");
}

std::string lightgbm_parameters() {
  return numbered("tree\nversion=v4\nmax_feature_idx=3\n\nparameters:\n", "[k{}: v]\n", 77'000'000,
                  "end of parameters\n");
}

// ONNX: a graph of the given fields, alone in its model.
std::string onnx_graph(std::string_view fields) {
  return lf(7, fields);
}

// `count` copies of `item`.
std::string repeated(std::string_view item, std::size_t count) {
  std::string bytes;
  bytes.reserve(item.size() * count);
  for (std::size_t i = 0; i < count; ++i)
    bytes += item;
  return bytes;
}

// A float tensor type of the given dims, as a ValueInfoProto's type field.
std::string onnx_tensor_type(const std::vector<std::uint64_t>& dims) {
  std::string shape;
  for (const std::uint64_t dim : dims)
    shape += lf(1, vf(1, dim));
  return lf(2, lf(1, vf(1, 1) + lf(2, shape)));
}

std::string onnx_empty_nodes() {
  return onnx_graph(repeated(std::string("\x0a\x00", 2), 2'000'000));
}

std::string onnx_nodes_of_one_type() {
  return onnx_graph(repeated(lf(1, lf(4, "A")), 1'000'000));
}

std::string onnx_nodes_of_distinct_types() {
  std::string graph;
  for (int i = 0; i < 500'000; ++i)
    graph += lf(1, lf(4, fmt::format("Op{:07}", i)));
  return onnx_graph(graph);
}

std::string onnx_float_initializers() {
  std::string graph;
  for (int i = 0; i < 500'000; ++i) {
    graph += lf(5, vf(1, 1) + vf(2, 1) + lf(8, fmt::format("w{}", i)) +
                       lf(9, std::string("\x00\x00\x80\x3f", 4)));
  }
  return onnx_graph(graph);
}

std::string onnx_empty_initializers() {
  return onnx_graph(repeated(std::string("\x2a\x00", 2), 1'000'000));
}

std::string onnx_empty_dims() {
  const std::string shape = repeated(std::string("\x0a\x00", 2), 2'000'000);
  return onnx_graph(lf(11, lf(1, "x") + lf(2, lf(1, lf(2, shape)))));
}

std::string onnx_opset_imports() {
  return repeated(lf(8, lf(1, "") + vf(2, 17)), 1'000'000) + onnx_graph("");
}

std::string onnx_inputs() {
  std::string graph;
  for (std::uint64_t k = 0; k < 500'000; ++k)
    graph += lf(11, lf(1, fmt::format("i{}", k)) + onnx_tensor_type({k}));
  return onnx_graph(graph);
}

// 20k inputs of 64 dims, and a MatMul over each pair of them.
std::string onnx_matmuls() {
  constexpr int kInputs = 20'000;
  const std::string type = onnx_tensor_type(std::vector<std::uint64_t>(64, 2));
  std::string graph;
  for (int i = 0; i < kInputs; ++i)
    graph += lf(11, lf(1, fmt::format("x{}", i)) + type);
  for (int j = 0; j < kInputs / 2; ++j) {
    graph += lf(1, lf(1, fmt::format("x{}", 2 * j)) + lf(1, fmt::format("x{}", 2 * j + 1)) +
                       lf(2, fmt::format("y{}", j)) + lf(4, "MatMul"));
  }
  return onnx_graph(graph);
}

// The commands of an ONNX flood: inspect as text and JSON, onnx.load, and the three commands over
// two files with each measured against the inspect of the same form.
std::vector<Command> onnx_commands() {
  return {
      {"onnx", {"onnx", "@"}},
      {"onnx --json", {"onnx", "--json", "@"}},
      {"onnx.load", {"-c", "import onnx, sys; onnx.load(sys.argv[1])", "@"}, true},
      {"diff", {"diff", "@", "@copy"}, false, 0},
      {"diff --json", {"diff", "--json", "@", "@copy"}, false, 1},
      {"explain-diff", {"explain-diff", "@", "@copy"}, false, 0},
      {"check", {"check", "--fail-on-new-op", "--max-ops-growth", "5", "@", "@copy"}, false, 0},
  };
}

// The tensor-lab commands that read a whole plan: one row each.
std::vector<Command> plan_commands() {
  return {{"validate", {"validate", "@"}}, {"trace", {"trace", "@"}}, {"run", {"run", "@"}}};
}

struct Run {
  double seconds = 0;
  double cpu_seconds = 0;  // user and system time of the child: steadier on a busy machine
  double peak_mib = 0;
  int status = -1;
};

// Runs `program` with `words` in a child whose standard output goes to /dev/null, and with
// `quiet` its standard error too. The child is forked, not spawned: a spawned child starts in this
// process's memory, and Linux counts that memory's high-water mark into the child's peak; a forked
// one carries only what this process holds at the time, a few MiB.
Run run_child(std::string program, const std::vector<std::string>& words, bool quiet) {
  std::vector<char*> argv;
  argv.push_back(program.data());
  std::vector<std::string> copies = words;
  for (std::string& word : copies)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  Run run;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    if (quiet) ::dup2(null, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
    const auto seconds = [](const timeval& t) {
      return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    run.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return run;
}

// The best of `runs` runs: the least time, the highest peak.
Run best_run(int runs, const std::string& program, const std::vector<std::string>& words,
             bool quiet) {
  Run best;
  best.seconds = 1e300;
  best.cpu_seconds = 1e300;
  for (int i = 0; i < runs; ++i) {
    const Run run = run_child(program, words, quiet);
    best.status = run.status;
    best.peak_mib = std::max(best.peak_mib, run.peak_mib);
    best.seconds = std::min(best.seconds, run.seconds);
    best.cpu_seconds = std::min(best.cpu_seconds, run.cpu_seconds);
  }
  return best;
}

// `diff` of a huge feature_names line at 16 to 128 MiB: against itself, against a copy with three
// names renamed (the others in place), and against a copy with one name put in front (no name in
// its place). The set comparison must cost about as much per name at every size: each doubling of
// the file should about double the time (best of the runs, ratio to the size before).
int name_diff_rows(const std::string& binary, int runs, const std::filesystem::path& dir) {
  struct Variant {
    std::string_view name;
    void (*change)(std::string& bytes);
  };
  static constexpr std::string_view kHead = "tree\nversion=v4\nmax_feature_idx=3\nfeature_names=";
  const Variant variants[] = {
      {"itself", [](std::string&) {}},
      {"3 names renamed",
       [](std::string& bytes) {
         for (std::size_t quarter = 1; quarter <= 3; ++quarter)
           bytes[bytes.find(' ', bytes.size() / 4 * quarter) + 1] = 'g';
       }},
      {"a name put in front", [](std::string& bytes) { bytes.insert(kHead.size(), "f "); }},
  };
  constexpr int kSizes = 4;
  Run best[std::size(variants)][kSizes];
  int failures = 0;
  const std::string old_path = (dir / "orvik_flood_diff_old.lgb").string();
  const std::string new_path = (dir / "orvik_flood_diff_new.lgb").string();
  for (int size = 0; size < kSizes; ++size) {
    const std::string bytes = numbered(std::string(kHead), "f{} ", (16 * kMiB) << size, "\n");
    if (!write_file(old_path, bytes)) {
      fmt::print(stderr, "cannot write {}\n", old_path);
      return 1;
    }
    for (std::size_t v = 0; v < std::size(variants); ++v) {
      std::string changed = bytes;
      variants[v].change(changed);
      if (!write_file(new_path, changed)) {
        fmt::print(stderr, "cannot write {}\n", new_path);
        return 1;
      }
      best[v][size] = best_run(runs, binary, {"diff", old_path, new_path}, false);
      if (best[v][size].status != 0) ++failures;
    }
  }
  std::filesystem::remove(old_path);
  std::filesystem::remove(new_path);
  fmt::print("\n{:<29} {:>6} {:>8} {:>8} {:>6} {:>8} {:>6}\n", "diff of huge feature_names", "MiB",
             "peak MiB", "run ms", "xprev", "cpu ms", "xprev");
  for (std::size_t v = 0; v < std::size(variants); ++v) {
    for (int size = 0; size < kSizes; ++size) {
      const Run& row = best[v][size];
      const auto growth = [&](double Run::*time) {
        return size == 0 ? std::string()
                         : fmt::format("{:.2f}", row.*time / best[v][size - 1].*time);
      };
      fmt::print("{:<29} {:>6} {:>8.1f} {:>8.1f} {:>6} {:>8.1f} {:>6}\n", variants[v].name,
                 16 << size, row.peak_mib, row.seconds * 1e3, growth(&Run::seconds),
                 row.cpu_seconds * 1e3, growth(&Run::cpu_seconds));
    }
  }
  return failures;
}

}  // namespace

// Arguments: [runs [orvik binary [python]]] (by default the orvik of this build and
// /usr/bin/python3; another binary gives figures to compare). Per input a line with its size,
// fnv1a64 of its bytes and reading plus hashing them; then per command its peak RSS, the ratio of
// that to the size (and, for a two-file command, to its one-file command), and its time against
// both floors (best of the runs).
int bench_floods(const std::vector<std::string>& words) {
  int runs = 3;
  const std::string binary = words.size() > 1 ? words[1] : ORVIK_BINARY;
  const std::string python = words.size() > 2 ? words[2] : "/usr/bin/python3";
  if (!words.empty()) {
    const std::optional<int> parsed = parse_runs(words[0], 100);
    if (!parsed) return 2;
    runs = *parsed;
  }
  const auto one = [](std::vector<std::string> words) {
    return std::vector<Command>{{fmt::format("{}", fmt::join(words, " ")), std::move(words)}};
  };
  const std::vector<Flood> floods = {
      {"CBM1 + '{}' repeated", "braces.cbm", one({"catboost", "--json", "@"}), braces},
      {"CBM1 + name-like runs", "names.cbm", one({"inspect", "--json", "@"}), catboost_names},
      {"CBM1 + JSON 8M levels deep", "deep.cbm", one({"inspect", "@"}), deep_nesting},
      {"plan 1M relu", "relu.json", plan_commands(), relu_layers},
      {"plan 1M linear", "linear.json", plan_commands(), shape_only_linear_layers},
      {"LightGBM huge feature_names", "names.lgb", one({"inspect", "--json", "@"}),
       lightgbm_feature_names},
      {"LightGBM millions of [k: v]", "params.lgb", one({"inspect", "--json", "@"}),
       lightgbm_parameters},
      {"ONNX 2M empty nodes", "nodes.onnx", onnx_commands(), onnx_empty_nodes},
      {"ONNX 1M nodes of type A", "op_a.onnx", onnx_commands(), onnx_nodes_of_one_type},
      {"ONNX 500k distinct op types", "ops.onnx", onnx_commands(), onnx_nodes_of_distinct_types},
      {"ONNX 500k float initializers", "floats.onnx", onnx_commands(), onnx_float_initializers},
      {"ONNX 1M empty initializers", "tensors.onnx", onnx_commands(), onnx_empty_initializers},
      {"ONNX input of 2M empty dims", "dims.onnx", onnx_commands(), onnx_empty_dims},
      {"ONNX 1M opset imports", "opsets.onnx", onnx_commands(), onnx_opset_imports},
      {"ONNX 500k inputs of [k]", "inputs.onnx", onnx_commands(), onnx_inputs},
      {"ONNX 20k 64-dim in, 10k MatMul", "matmul.onnx", onnx_commands(), onnx_matmuls},
  };
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  fmt::print("{:<30} {:>6} {:>8} {:>5} {:>4} {:>7} {:>8} {:>8} {:>6} {:>6} {:>7}\n",
             "input / command", "MB", "peak MiB", "xsize", "x1", "fnv ms", "read+fnv", "run ms",
             "xfnv", "xread", "cpu ms");
  int failures = 0;
  for (const Flood& flood : floods) {
    const std::string path = (dir / fmt::format("orvik_flood_{}", flood.file_name)).string();
    const std::string copy = (dir / fmt::format("orvik_flood_copy_{}", flood.file_name)).string();
    double size_mib = 0;
    double hash_ms = 1e300;
    {
      const std::string bytes = flood.make();
      size_mib = static_cast<double>(bytes.size()) / kMiB;
      for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const Fingerprint hash = fnv1a64(kFnvOffsetBasis, bytes);
        asm volatile("" : : "r"(hash));  // keep the hash from being optimised away
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        hash_ms = std::min(hash_ms, elapsed.count());
      }
      if (!write_file(path, bytes) || !write_file(copy, bytes)) {
        fmt::print(stderr, "cannot write {}\n", path);
        return 1;
      }
    }  // the input leaves this process before the children run
    ::malloc_trim(0);
    // The floor of any reader: the file read into a fresh buffer and hashed once.
    double read_hash_ms = 1e300;
    for (int i = 0; i < runs; ++i) {
      const auto start = std::chrono::steady_clock::now();
      const Result<std::string> bytes = read_whole_file(path);
      const Fingerprint hash = bytes ? fnv1a64(kFnvOffsetBasis, *bytes) : 0;
      asm volatile("" : : "r"(hash));
      const std::chrono::duration<double, std::milli> elapsed =
          std::chrono::steady_clock::now() - start;
      read_hash_ms = std::min(read_hash_ms, elapsed.count());
    }
    fmt::print("{:<30} {:>6.1f} {:>8} {:>5} {:>4} {:>7.1f} {:>8.1f}\n", flood.name,
               size_mib * kMiB / 1e6, "", "", "", hash_ms, read_hash_ms);
    std::vector<Run> results;
    for (const Command& command : flood.commands) {
      std::vector<std::string> words = command.words;
      std::replace(words.begin(), words.end(), std::string("@"), path);
      std::replace(words.begin(), words.end(), std::string("@copy"), copy);
      const Run best = best_run(runs, command.python ? python : binary, words, command.python);
      results.push_back(best);
      if (best.status != 0) {
        // The framework's loader is optional: without it, its line says so.
        if (!command.python) ++failures;
        fmt::print("  {:<28} exit status {}\n", command.label, best.status);
        continue;
      }
      const std::string against_one =
          command.single < 0
              ? ""
              : fmt::format("{:.2f}", best.peak_mib / results[command.single].peak_mib);
      fmt::print(
          "  {:<28} {:>6} {:>8.1f} {:>5.2f} {:>4} {:>7} {:>8} {:>8.1f} {:>6.1f} {:>6.1f} "
          "{:>7.1f}\n",
          command.label, "", best.peak_mib, best.peak_mib / size_mib, against_one, "", "",
          best.seconds * 1e3, best.seconds * 1e3 / hash_ms, best.seconds * 1e3 / read_hash_ms,
          best.cpu_seconds * 1e3);
    }
    std::filesystem::remove(path);
    std::filesystem::remove(copy);
  }
  failures += name_diff_rows(binary, runs, dir);
  if (failures != 0) fmt::print(stderr, "{} commands did not end with status 0\n", failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace orvik::bench

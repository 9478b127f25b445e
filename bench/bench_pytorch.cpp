// Inspecting a large torch.save checkpoint must cost a bounded read, not a load: a stored zip of
// about 1 GiB (a pickle, a version entry and 64 storages of 16 MiB) is written to a temporary
// directory, then read with read_pytorch; the time, the bytes the reader needs and the peak
// resident set size are reported. When a Python interpreter with torch is at hand, torch.load of
// the same file is timed for comparison.
//
//   orvik_bench pytorch [--mib N] [--storages K] [--python PATH] [--keep]
//
// --python names the interpreter for the torch.load comparison (default /usr/bin/python3, where
// Debian's python3-torch installs).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "bench_support.hpp"
#include "benchmarks.hpp"
#include "pt/pytorch_reader.hpp"
#include "pt_archive.hpp"
#include "util/text.hpp"

namespace orvik::bench {
namespace {

constexpr int kRounds = 5;
constexpr std::uint64_t kChunk = 1 << 20;

using testing_support::put_u16;
using testing_support::put_u32;
using testing_support::short_unicode;

struct Written {
  std::string name;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  std::uint32_t crc = 0;
};

// CRC-32 (IEEE), as zip readers such as torch's check it.
class Crc32 {
 public:
  Crc32() {
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table_[n] = c;
    }
  }
  std::uint32_t update(std::uint32_t crc, std::string_view bytes) const {
    crc = ~crc;
    for (const char b : bytes)
      crc = table_[(crc ^ static_cast<unsigned char>(b)) & 0xff] ^ (crc >> 8);
    return ~crc;
  }

 private:
  std::uint32_t table_[256];
};

// A torch.save-shaped stored zip, streamed to disk one chunk at a time: each entry's data starts
// on a 64-byte boundary through padding in the local extra field, as torch writes it.
class ZipStreamWriter {
 public:
  explicit ZipStreamWriter(std::FILE* out) : out_(out) {}

  void begin(const std::string& name, std::uint64_t size) {
    std::string header = "PK\x03\x04";
    put_u16(header, 20);
    put_u16(header, 0);
    put_u16(header, 0);
    put_u32(header, 0);
    put_u32(header, 0);
    put_u32(header, static_cast<std::uint32_t>(size));
    put_u32(header, static_cast<std::uint32_t>(size));
    put_u16(header, static_cast<std::uint16_t>(name.size()));
    const std::uint64_t unpadded = position_ + 30 + name.size() + 4;
    const std::uint16_t padding = static_cast<std::uint16_t>((64 - unpadded % 64) % 64);
    put_u16(header, static_cast<std::uint16_t>(4 + padding));
    header += name;
    put_u16(header, 0x5846);  // "FB": torch's padding block
    put_u16(header, padding);
    header.append(padding, 'Z');
    entries_.push_back({name, size, position_, 0});
    write_raw(header);
  }

  // Entry data; the CRC goes into the local header once the entry ends.
  void write(std::string_view bytes) {
    entries_.back().crc = crc_.update(entries_.back().crc, bytes);
    write_raw(bytes);
  }

  void end() {
    std::string crc;
    put_u32(crc, entries_.back().crc);
    std::fseek(out_, static_cast<long>(entries_.back().offset + 14), SEEK_SET);
    std::fwrite(crc.data(), 1, crc.size(), out_);
    std::fseek(out_, 0, SEEK_END);
  }

  void finish() {
    const std::uint64_t directory_offset = position_;
    std::string directory;
    for (const Written& e : entries_) {
      directory += "PK\x01\x02";
      put_u16(directory, 20);
      put_u16(directory, 20);
      put_u16(directory, 0);
      put_u16(directory, 0);
      put_u32(directory, 0);
      put_u32(directory, e.crc);
      put_u32(directory, static_cast<std::uint32_t>(e.size));
      put_u32(directory, static_cast<std::uint32_t>(e.size));
      put_u16(directory, static_cast<std::uint16_t>(e.name.size()));
      put_u16(directory, 0);
      put_u16(directory, 0);
      put_u16(directory, 0);
      put_u16(directory, 0);
      put_u32(directory, 0);
      put_u32(directory, static_cast<std::uint32_t>(e.offset));
      directory += e.name;
    }
    std::string end = "PK\x05\x06";
    put_u16(end, 0);
    put_u16(end, 0);
    put_u16(end, static_cast<std::uint16_t>(entries_.size()));
    put_u16(end, static_cast<std::uint16_t>(entries_.size()));
    put_u32(end, static_cast<std::uint32_t>(directory.size()));
    put_u32(end, static_cast<std::uint32_t>(directory_offset));
    put_u16(end, 0);
    write_raw(directory);
    write_raw(end);
  }

 private:
  void write_raw(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), out_);
    position_ += bytes.size();
  }

  Crc32 crc_;
  std::FILE* out_;
  std::uint64_t position_ = 0;
  std::vector<Written> entries_;
};

std::string binint(std::uint32_t value) {
  std::string out = "J";
  put_u32(out, value);
  return out;
}

// The pickle torch.save writes for a state dict of float32 vectors: a dict of
// torch._utils._rebuild_tensor_v2 calls whose storages are persistent ids ("storage",
// FloatStorage, key, "cpu", numel), so torch.load can read the file too.
std::string make_pickle(int storages, std::uint64_t storage_bytes) {
  const auto numel = static_cast<std::uint32_t>(storage_bytes / 4);
  std::string out("\x80\x02}q\x00(", 6);
  for (int i = 0; i < storages; ++i) {
    out += short_unicode(fmt::format("layers.{}.weight", i));
    out += "ctorch._utils\n_rebuild_tensor_v2\n((";
    out += short_unicode("storage");
    out += "ctorch\nFloatStorage\n";
    out += short_unicode(std::to_string(i));
    out += short_unicode("cpu");
    out += binint(numel) + "tQ";                                       // persistent id
    out += std::string("K\x00", 2) + binint(numel) + "\x85K\x01\x85";  // offset, size, stride
    out +=
        "\x89"
        "ccollections\nOrderedDict\n)Rt";  // requires_grad, backward hooks
    out += "R";
  }
  out += "u.";
  return out;
}

// Writes the checkpoint; returns false when the file cannot be written.
bool write_checkpoint(const std::string& path, std::uint64_t storage_bytes, int storages) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  ZipStreamWriter zip(out);
  const std::string pickle = make_pickle(storages, storage_bytes);
  zip.begin("archive/data.pkl", pickle.size());
  zip.write(pickle);
  zip.end();
  std::string chunk(kChunk, '\0');
  for (int s = 0; s < storages; ++s) {
    zip.begin(fmt::format("archive/data/{}", s), storage_bytes);
    std::uint64_t state = 0x9e3779b97f4a7c15ull * static_cast<std::uint64_t>(s + 1);
    for (std::uint64_t left = storage_bytes; left > 0;) {
      const std::uint64_t n = std::min(left, kChunk);
      for (std::uint64_t i = 0; i < n; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (int b = 0; b < 8 && i + b < n; ++b)
          chunk[i + b] = static_cast<char>(state >> (8 * b));
      }
      zip.write(std::string_view(chunk).substr(0, n));
      left -= n;
    }
    zip.end();
  }
  zip.begin("archive/version", 2);
  zip.write("3\n");
  zip.end();
  zip.finish();
  return std::fclose(out) == 0;
}

}  // namespace

int bench_pytorch(const std::vector<std::string>& words) {
  std::uint64_t total_mib = 1024;
  int storages = 64;
  FileBenchOptions options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (take_file_bench_option(words, i, options)) continue;
    if ((words[i] == "--mib" || words[i] == "--storages") && i + 1 < words.size()) {
      auto value = parse_u64(words[i + 1]);
      if (!value || *value == 0) {
        fmt::print(stderr, "bad value for {}\n", words[i]);
        return 2;
      }
      if (words[i] == "--mib")
        total_mib = *value;
      else
        storages = static_cast<int>(std::min<std::uint64_t>(*value, 10000));
      ++i;
    } else {
      fmt::print(stderr,
                 "usage: orvik_bench pytorch [--mib N] [--storages K] [--python PATH] [--keep]\n");
      return 2;
    }
  }
  // Whole float32 elements, 64-byte multiples, as torch writes them.
  const std::uint64_t storage_bytes =
      (total_mib << 20) / static_cast<std::uint64_t>(storages) / 64 * 64;
  if (storage_bytes == 0 || storage_bytes >= 0xFFFFFFFFull) {
    fmt::print(stderr, "each storage must hold 64 bytes to 4 GiB; change --mib or --storages\n");
    return 2;
  }

  char pattern[] = "/tmp/orvik_bench_pt_XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    fmt::print(stderr, "cannot create a temporary directory\n");
    return 1;
  }
  const std::string dir = pattern;
  const std::string path = dir + "/big_checkpoint.pt";
  const double rss_before = peak_rss_mib();
  const auto write_start = std::chrono::steady_clock::now();
  if (!write_checkpoint(path, storage_bytes, storages)) {
    fmt::print(stderr, "cannot write {}\n", path);
    return 1;
  }
  const std::chrono::duration<double> write_time = std::chrono::steady_clock::now() - write_start;
  const double rss_after_write = peak_rss_mib();

  Result<PyTorchSummary> summary = fail("not read");
  double first = 0;
  double best = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    summary = read_pytorch(path);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (round == 0) first = elapsed.count();
    best = std::min(best, elapsed.count());
    if (!summary) break;
  }
  const double rss_after_read = peak_rss_mib();

  int status = 0;
  if (!summary) {
    fmt::print(stderr, "read_pytorch failed: {}\n", summary.error());
    status = 1;
  } else {
    const std::uint64_t sampled =
        static_cast<std::uint64_t>(storages) * std::min<std::uint64_t>(storage_bytes, kChunk);
    fmt::print("checkpoint: {} ({} bytes, {} storages of {} bytes), written in {:.1f} s\n", path,
               summary->bytes, summary->tensor_count, storage_bytes, write_time.count());
    fmt::print("read_pytorch: first {:.1f} ms, best of {} {:.1f} ms\n", first * 1e3, kRounds,
               best * 1e3);
    fmt::print("storage bytes sampled: {} ({:.2f}% of the file)\n", sampled,
               100.0 * static_cast<double>(sampled) / static_cast<double>(summary->bytes));
    fmt::print(
        "peak RSS: {:.1f} MiB at start, {:.1f} MiB after writing, {:.1f} MiB after reading\n",
        rss_before, rss_after_write, rss_after_read);
    fmt::print("learned-state fingerprint: 0x{:016x}, estimated parameters: {}\n",
               summary->learned_state_fingerprint, summary->estimated_parameter_count);
    const double torch_seconds =
        python_load_seconds(options.python, "torch", "torch.load(path)", path);
    if (torch_seconds >= 0) {
      fmt::print("torch.load: {:.1f} ms ({:.0f}x the static read)\n", torch_seconds * 1e3,
                 torch_seconds / best);
    } else {
      fmt::print("torch.load: skipped ({} cannot import torch)\n", options.python);
    }
  }
  if (options.keep) {
    fmt::print("kept {}\n", path);
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  return status;
}

}  // namespace orvik::bench

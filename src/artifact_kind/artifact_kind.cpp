#include "artifact_kind/artifact_kind.hpp"

#include <optional>

#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik {
namespace {

constexpr std::size_t kLightGbmProbeBytes = 8192;

// The last component of a path with trailing separators ignored; empty when the path has none
// (empty, ".", a root, or ending in "..").
std::string_view last_component(std::string_view path) {
  // Trailing separators and "." components do not count, as in "dir/model.cbm/" or "dir/a/.".
  std::string_view p = path;
  for (;;) {
    while (p.size() > 1 && p.back() == '/')
      p.remove_suffix(1);
    if (p.size() >= 2 && p.substr(p.size() - 2) == "/.") {
      p.remove_suffix(1);
      continue;
    }
    break;
  }
  const std::size_t slash = p.rfind('/');
  std::string_view name = slash == std::string_view::npos ? p : p.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return {};
  return name;
}

// The part of the last component after its last '.', when that dot is not its first character.
std::optional<std::string_view> extension_of(std::string_view path) {
  const std::string_view name = last_component(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return name.substr(dot + 1);
}

std::optional<ArtifactKind> kind_from_extension(std::string_view path) {
  const auto ext = extension_of(path);
  if (!ext) return std::nullopt;
  std::string lower(*ext);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "cbm") return ArtifactKind::CatBoost;
  if (lower == "lgb") return ArtifactKind::LightGbm;
  if (lower == "onnx") return ArtifactKind::Onnx;
  if (lower == "pt" || lower == "pth" || lower == "bin" || lower == "ckpt") {
    return ArtifactKind::PyTorch;
  }
  if (lower == "json") return ArtifactKind::TensorPlan;
  return std::nullopt;
}

// Each probe opens the file anew; any failure only makes that probe say no.
bool probe_catboost(const std::string& path) {
  auto file = File::open(path);
  if (!file) return false;
  auto head = file->read_prefix(4);
  return head && *head == "CBM1";
}

bool probe_lightgbm(const std::string& path) {
  auto file = File::open(path);
  if (!file) return false;
  auto head = file->read_some(kLightGbmProbeBytes);  // a single read call, as a quick sniff
  return head && looks_like_lightgbm(*head);
}

bool probe_pickle(const std::string& path) {
  auto file = File::open(path);
  if (!file) return false;
  auto head = file->read_prefix(1);
  return head && head->size() == 1 && static_cast<unsigned char>((*head)[0]) == 0x80;
}

}  // namespace

std::string_view artifact_kind_label(ArtifactKind kind) {
  switch (kind) {
    case ArtifactKind::CatBoost:
      return "CatBoost";
    case ArtifactKind::LightGbm:
      return "LightGBM";
    case ArtifactKind::Onnx:
      return "ONNX";
    case ArtifactKind::PyTorch:
      return "PyTorch";
    case ArtifactKind::TensorPlan:
      return "tensor plan JSON";
    case ArtifactKind::Unknown:
      break;
  }
  return "unknown";
}

ArtifactKind detect_artifact_kind(const std::string& path) {
  if (auto kind = kind_from_extension(path)) return *kind;
  if (probe_catboost(path)) return ArtifactKind::CatBoost;
  if (probe_lightgbm(path)) return ArtifactKind::LightGbm;
  if (probe_pickle(path)) return ArtifactKind::PyTorch;
  return ArtifactKind::Unknown;
}

bool looks_like_lightgbm(std::string_view bytes) {
  const std::string text = decode_utf8_lossy(bytes.substr(0, kLightGbmProbeBytes));
  if (text.empty()) return false;
  std::string_view first_line = text;
  if (const std::size_t nl = first_line.find('\n'); nl != std::string_view::npos) {
    first_line = first_line.substr(0, nl);
    if (!first_line.empty() && first_line.back() == '\r') first_line.remove_suffix(1);
  }
  return trim_white_space(first_line) == "tree" &&
         text.find("max_feature_idx=") != std::string::npos;
}

Fingerprint fnv1a64(Fingerprint state, std::string_view bytes) {
  for (const char c : bytes)
    state = fnv1a64_step(state, static_cast<unsigned char>(c));
  return state;
}

void fnv1a64_pair(Fingerprint& first, Fingerprint& second, std::string_view bytes) {
  Fingerprint a = first;
  Fingerprint b = second;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    a = fnv1a64_step(a, byte);
    b = fnv1a64_step(b, byte);
  }
  first = a;
  second = b;
}

Fingerprint fnv1a64_u64(Fingerprint state, std::uint64_t value) {
  char le[8];
  for (int i = 0; i < 8; ++i)
    le[i] = static_cast<char>((value >> (8 * i)) & 0xff);
  return fnv1a64(state, std::string_view(le, 8));
}

std::string display_name(const std::string& path) {
  const std::string_view name = last_component(path);
  if (name.empty()) return path;
  return std::string(name);
}

}  // namespace orvik

#pragma once
// Which reader a path goes to, the hash behind every fingerprint, and the display name that
// summary records carry.
#include <cstdint>
#include <string>
#include <string_view>

namespace orvik {

enum class ArtifactKind : std::uint8_t { CatBoost, LightGbm, Onnx, PyTorch, TensorPlan, Unknown };

using Fingerprint = std::uint64_t;

inline constexpr Fingerprint kFnvOffsetBasis = 0xcbf29ce484222325ULL;
inline constexpr Fingerprint kFnvPrime = 0x100000001b3ULL;

// One FNV-1a step: mixes one byte into the running hash.
inline constexpr Fingerprint fnv1a64_step(Fingerprint state, unsigned char byte) {
  return (state ^ byte) * kFnvPrime;
}

// "CatBoost", "LightGBM", "ONNX", "PyTorch", "tensor plan JSON", "unknown".
std::string_view artifact_kind_label(ArtifactKind kind);

// By lower-cased extension when it is a listed one (the file is not opened), else by sniffing the
// first bytes: "CBM1", a LightGBM header, a leading pickle byte 0x80. Never fails.
ArtifactKind detect_artifact_kind(const std::string& path);

// The LightGBM content test on (at most the first 8192 of) the given bytes.
bool looks_like_lightgbm(std::string_view bytes);

// 64-bit FNV-1a, continuing from `state`; start from kFnvOffsetBasis.
Fingerprint fnv1a64(Fingerprint state, std::string_view bytes);

// Feeds the same bytes into two running hashes. The two multiply chains are independent, so this
// costs about as much as one of them.
void fnv1a64_pair(Fingerprint& first, Fingerprint& second, std::string_view bytes);

// Feeds an integer as its 8 little-endian bytes.
Fingerprint fnv1a64_u64(Fingerprint state, std::uint64_t value);

// The last path component (trailing separators ignored), or the whole path when there is none.
std::string display_name(const std::string& path);

}  // namespace orvik

#include "cbm/brace_scan.hpp"

#include <algorithm>
#include <array>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvik {
namespace {

enum ByteClass : std::uint8_t { kOther, kQuote, kBackslash, kOpen, kClose };

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> classes{};
  classes['"'] = kQuote;
  classes['\\'] = kBackslash;
  classes['{'] = kOpen;
  classes['}'] = kClose;
  return classes;
}

constexpr std::array<std::uint8_t, 256> kClasses = make_classes();

// Bit j set where byte j of the 16 at `block` is a quote, backslash or brace.
#if defined(__SSE2__)
unsigned structure_mask(const unsigned char* block) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')),
                                                 _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))),
                                    _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('{')),
                                                 _mm_cmpeq_epi8(bytes, _mm_set1_epi8('}'))));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}
#else
unsigned structure_mask(const unsigned char* block) {
  unsigned mask = 0;
  for (unsigned j = 0; j < 16; ++j) {
    if (kClasses[block[j]] != kOther) mask |= 1u << j;
  }
  return mask;
}
#endif

// Whether more than four bits of `mask` are set. Clearing the lowest set bit four times is a few
// instructions where a population count may be a library call on the baseline instruction set.
inline bool more_than_four_bits(unsigned mask) {
  mask &= mask - 1;
  mask &= mask - 1;
  mask &= mask - 1;
  mask &= mask - 1;
  return mask != 0;
}

// The three lowest-depth values of the backward pass (see closing_brace_starts) for the position
// just after the one being stepped over.
struct Lows {
  std::int64_t outside = 0;
  std::int64_t in_string = 0;
  std::int64_t escaped = 0;

  bool operator==(const Lows&) const = default;
};

// The last dense block stepped over: its bytes, the values it was entered with, and what came
// out. The pass is a function of the bytes and those values, so a block that repeats it and is
// entered the same way (floods of one pattern) gives the same again.
struct LastBlock {
  const unsigned char* bytes = nullptr;
  Lows in;
  Lows out;
  std::uint64_t hits = 0;  // bit j: the opening brace at byte j closes
};

// Sets the bits of `hits`, which belong to the 16 bytes from `base`. Blocks are counted back from
// the end, so one may straddle two words of bits.
inline void place_hits(std::vector<std::uint64_t>& bits, std::size_t base, std::uint64_t hits) {
  const std::size_t shift = base % 64;
  bits[base / 64] |= hits << shift;
  if (shift > 48) bits[base / 64 + 1] |= hits >> (64 - shift);
}

// Steps back over the byte at `p`, setting its bit when it is an opening brace whose walk closes.
// Outside a string an opening brace gives min(0, o + 1), which is o + 1 when o < 0 and 0 when
// o == 0 (the values are never positive); a closing brace gives o - 1; a quote swaps the outside
// and in-string paths; a backslash in a string leads to the escaped path; after an escape every
// byte leads back into the string.
inline void step_back(Lows& lows, std::uint8_t byte_class, std::size_t p,
                      std::vector<std::uint64_t>& bits) {
  const std::int64_t o = lows.outside;
  const std::int64_t s = lows.in_string;
  const std::int64_t e = lows.escaped;
  lows.escaped = s;
  switch (byte_class) {
    case kQuote:
      lows.outside = s;
      lows.in_string = o;
      break;
    case kBackslash:
      lows.in_string = e;
      break;
    case kOpen:
      if (o < 0) bits[p / 64] |= std::uint64_t{1} << (p % 64);
      lows.outside = o + 1;
      if (o == 0) lows.outside = 0;
      break;
    case kClose:
      lows.outside = o - 1;
      break;
    default:
      break;
  }
}

#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
// `condition ? if_true : if_false` as a conditional move: the compiler turns the plain form into
// a branch, which mispredicts on every other byte of random structural input.
inline std::int64_t select(bool condition, std::int64_t if_true, std::int64_t if_false) {
  asm("test %[c], %[c]\n\tcmovne %[t], %[f]"
      : [f] "+r"(if_false)
      : [c] "r"(condition), [t] "r"(if_true)
      : "cc");
  return if_false;
}

// step_back over the 16 bytes at `block` without branches on the bytes; returns the hits.
inline std::uint64_t step_back_block(Lows& lows, const unsigned char* block) {
  std::int64_t o = lows.outside;
  std::int64_t s = lows.in_string;
  std::int64_t e = lows.escaped;
  std::uint64_t hits = 0;
  for (int j = 15; j >= 0; --j) {
    const std::uint8_t byte_class = kClasses[block[j]];
    const bool quote = byte_class == kQuote;
    const bool backslash = byte_class == kBackslash;
    const std::uint64_t open = byte_class == kOpen;
    const std::int64_t close = byte_class == kClose;
    const std::uint64_t hit = (static_cast<std::uint64_t>(o) >> 63) & open;  // open and o < 0
    hits |= hit << j;
    const std::int64_t braces = (o - close) + static_cast<std::int64_t>(hit);
    const std::int64_t string_side = select(backslash, e, s);
    const std::int64_t next_outside = select(quote, s, braces);
    const std::int64_t next_in_string = select(quote, o, string_side);
    e = s;
    o = next_outside;
    s = next_in_string;
  }
  lows = Lows{o, s, e};
  return hits;
}

bool same_block(const unsigned char* a, const unsigned char* b) {
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(x, y)) == 0xFFFF;
}

// Branches on the bytes are cheap while they are predictable: when the block has few structural
// bytes (only those are visited) or repeats the previous dense block (floods of one pattern),
// which usually gives what it gave before. Anything else takes the branch-free path.
inline void step_back_structured(Lows& lows, const unsigned char* data, std::size_t base,
                                 unsigned mask, LastBlock& last, std::vector<std::uint64_t>& bits) {
  if (!more_than_four_bits(mask)) {
    std::size_t above = base + 16;  // the lowest position already stepped over
    while (mask != 0) {
      const unsigned j = 31u - static_cast<unsigned>(std::countl_zero(mask));
      mask &= ~(1u << j);
      const std::size_t q = base + j;
      if (q + 1 < above) lows.escaped = lows.in_string;  // other bytes in between
      step_back(lows, kClasses[data[q]], q, bits);
      above = q;
    }
    if (base < above) lows.escaped = lows.in_string;
    return;
  }
  const bool repeated = last.bytes != nullptr && same_block(last.bytes, data + base);
  if (repeated && last.in == lows) {
    last.bytes = data + base;
    lows = last.out;
    place_hits(bits, base, last.hits);
    return;
  }
  if (repeated) {
    // Entered another way (a depth that keeps growing): the branches still predict well.
    last.bytes = data + base;
    for (std::size_t j = 16; j-- > 0;)
      step_back(lows, kClasses[data[base + j]], base + j, bits);
    return;
  }
  last.bytes = data + base;
  last.in = lows;
  last.hits = step_back_block(lows, data + base);
  last.out = lows;
  place_hits(bits, base, last.hits);
}
#else
inline void step_back_structured(Lows& lows, const unsigned char* data, std::size_t base,
                                 unsigned /*mask*/, LastBlock& /*last*/,
                                 std::vector<std::uint64_t>& bits) {
  for (std::size_t j = 16; j-- > 0;)
    step_back(lows, kClasses[data[base + j]], base + j, bits);
}
#endif

// Bits set in a 16-bit mask.
inline unsigned count_bits16(unsigned x) {
  x = x - ((x >> 1) & 0x5555u);
  x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
  x = (x + (x >> 4)) & 0x0F0Fu;
  return (x + (x >> 8)) & 0x1Fu;
}

#if defined(__SSE2__)
unsigned byte_mask(const unsigned char* block, char byte) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(byte))));
}

// Steps a walk at `depth` over a block of 16 bytes without a backslash at once, when no brace in
// it can close the walk: which bytes are inside a string follows from the parity of the quotes
// before them, and closing takes as many closing braces outside strings as the depth.
bool skip_dense_block(const unsigned char* block, std::size_t& depth, bool& in_string) {
  if (byte_mask(block, '\\') != 0) return false;
  const unsigned quotes = byte_mask(block, '"');
  unsigned inside = quotes;  // bit j: an odd number of quotes at 0..j
  inside ^= inside << 1;
  inside ^= inside << 2;
  inside ^= inside << 4;
  inside ^= inside << 8;
  if (in_string) inside = ~inside;
  const unsigned closes = count_bits16(byte_mask(block, '}') & ~inside);
  if (closes >= depth) return false;
  depth = depth + count_bits16(byte_mask(block, '{') & ~inside) - closes;
  in_string ^= (count_bits16(quotes) & 1) != 0;
  return true;
}
#else
bool skip_dense_block(const unsigned char*, std::size_t&, bool&) {
  return false;
}
#endif

}  // namespace

// A walk is a run of a three-state machine (outside a string, inside one, just after a backslash
// inside one) whose transitions depend on the byte alone, plus a depth that changes only at braces
// seen outside a string. So for every position p and state s there is one path from (p, s), and
// low[s] = the lowest depth change, relative to the depth on entering p, met along the path from
// p to the end (0 when it never drops below its start). The walk from an opening brace at p has
// depth 1 after it and goes on outside a string at p + 1; it closes exactly when the path from
// (p + 1, outside) drops to -1 somewhere. Going backwards:
//   low[s](p) = min(0, change(s, byte p) + low[next(s, byte p)](p + 1)),
// which needs only the three values for p + 1.
std::vector<std::uint64_t> closing_brace_starts(std::string_view bytes) {
  const std::size_t size = bytes.size();
  std::vector<std::uint64_t> bits((size + 63) / 64, 0);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  Lows lows;
  // Bytes with no structural meaning keep the outside and in-string values and set escaped to
  // in_string, so a block of 16 of them is stepped over at once.
  LastBlock last;
  std::size_t p = size;
  while (p >= 16) {
    p -= 16;
    const unsigned mask = structure_mask(data + p);
    if (mask == 0) {
      lows.escaped = lows.in_string;
    } else {
      step_back_structured(lows, data, p, mask, last, bits);
    }
  }
  while (p-- > 0)
    step_back(lows, kClasses[data[p]], p, bits);
  return bits;
}

std::optional<std::size_t> walk_to_closing_brace(std::string_view bytes, std::size_t start) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t depth = 0;
  bool in_string = false;
  bool escaped = false;
  // One byte of the walk, with bit operations rather than branches on the byte.
  const auto step = [&](unsigned char c) {
    const bool quote = c == '"';
    const bool outside = !in_string;
    const bool open = outside & (c == '{');
    const bool close = outside & (c == '}');
    if (close & (depth < 2)) return true;
    depth = depth + open - close;
    const bool next_in_string = (outside & quote) | (in_string & (escaped | !quote));
    escaped = in_string & !escaped & (c == '\\');
    in_string = next_in_string;
    return false;
  };
  if (start >= size) return std::nullopt;
  std::size_t k = start;
  for (; size - k >= 16; k += 16) {
    if (escaped) {
      for (std::size_t j = 0; j < 16; ++j) {
        if (step(data[k + j])) return k + j;
      }
      continue;
    }
    // Other bytes change nothing unless they end an escape.
    unsigned mask = structure_mask(data + k);
    if (mask == 0) continue;
    if (more_than_four_bits(mask)) {
      if (depth != 0 && skip_dense_block(data + k, depth, in_string)) continue;
      for (std::size_t j = static_cast<std::size_t>(std::countr_zero(mask)); j < 16; ++j) {
        if (step(data[k + j])) return k + j;
      }
      continue;
    }
    // Few structural bytes: visit only those. An escape is used up by the byte after the
    // backslash, which may be one of the skipped ones.
    std::size_t last = 0;
    while (mask != 0) {
      const auto j = static_cast<std::size_t>(std::countr_zero(mask));
      mask &= mask - 1;
      if (escaped && j != last + 1) escaped = false;
      if (step(data[k + j])) return k + j;
      last = j;
    }
    if (last < 15) escaped = false;
  }
  for (; k < size; ++k) {
    if (step(data[k])) return k;
  }
  return std::nullopt;
}

BraceScan start_brace_scan(std::string_view bytes) {
  return BraceScan{bytes, closing_brace_starts(bytes), 0};
}

std::optional<BraceSpan> next_brace_span(BraceScan& scan) {
  const std::size_t size = scan.bytes.size();
  while (scan.position < size) {
    // Positions before the next closing brace start are either not '{' or never close: the scan
    // steps over each of them one byte at a time, so it may jump straight to that start.
    std::size_t word = scan.position / 64;
    std::uint64_t bits = scan.closing[word] & (~std::uint64_t{0} << (scan.position % 64));
    while (bits == 0) {
      if (++word == scan.closing.size()) {
        scan.position = size;
        return std::nullopt;
      }
      bits = scan.closing[word];
    }
    const std::size_t start = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
    const std::optional<std::size_t> close = walk_to_closing_brace(scan.bytes, start);
    if (!close) {
      // Only bytes that changed since `closing` was made (a mapped file cut short while it is
      // read) get here. Every later start would walk to the end again, so the scan ends: the
      // caller learns from the file that its bytes are not to be trusted.
      scan.position = size;
      return std::nullopt;
    }
    scan.position = *close + 1;
    return BraceSpan{start, *close + 1};
  }
  return std::nullopt;
}

std::vector<BraceSpan> find_brace_spans(std::string_view bytes) {
  std::vector<BraceSpan> spans;
  BraceScan scan = start_brace_scan(bytes);
  while (const std::optional<BraceSpan> span = next_brace_span(scan))
    spans.push_back(*span);
  return spans;
}

}  // namespace orvik

#pragma once
// Finds the brace-balanced spans that may hold the JSON objects a CatBoost model embeds in its
// binary body.
//
// The scan visits positions from the start. At an opening brace it walks forward, counting braces
// outside double-quoted strings (a backslash inside a string escapes the next byte), until the
// brace that closes the one it started at. A closed span is reported and the scan resumes just
// past it; a brace that never closes is skipped and the scan resumes one byte later.
//
// Walking from every unclosed brace is quadratic (think of megabytes of '{'), so whether a walk
// closes is decided beforehand for every position in one backward pass, and only walks known to
// close are performed; those cover disjoint spans, so the scan is linear overall.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orvik {

// [start, end): `start` is the opening brace, `end - 1` the brace that closes it.
struct BraceSpan {
  std::size_t start = 0;
  std::size_t end = 0;
};

// One bit per byte: set where the byte is '{' and the walk starting there closes.
std::vector<std::uint64_t> closing_brace_starts(std::string_view bytes);

// Offset of the brace that closes the one at `start` (which must be '{'), or nothing when the
// walk reaches the end of the bytes first.
std::optional<std::size_t> walk_to_closing_brace(std::string_view bytes, std::size_t start);

// The scan state: feed it to next_brace_span until that returns nothing.
struct BraceScan {
  std::string_view bytes;
  std::vector<std::uint64_t> closing;  // closing_brace_starts(bytes)
  std::size_t position = 0;
};

BraceScan start_brace_scan(std::string_view bytes);

// The next span the scan visits, in file order; spans never overlap.
std::optional<BraceSpan> next_brace_span(BraceScan& scan);

// Every span the scan visits.
std::vector<BraceSpan> find_brace_spans(std::string_view bytes);

}  // namespace orvik

#pragma once
// Number and size texts shared by every report, so the same value always prints the same bytes.
#include <cstdint>
#include <string>

namespace orvik {

// Shortest decimal that reads back to the same double, never in exponent form, without a
// trailing ".0": 1, 0.03, 0.00001, 100000000000000000000. NaN, inf, -inf, -0.
std::string format_float(double value);

// As format_float for a 32-bit float: the shortest decimal that reads back to the same float
// (0.1f gives 0.1, where format_float of the widened value gives 0.10000000149011612).
std::string format_f32(float value);

// A finite double as JSON numbers are written: the shortest round-trip digits, plain decimal with
// at least one fractional digit for magnitudes in [1e-5, 1e16) (0.03, 1.0, 0.00001, -0.0),
// otherwise digits and exponent without '+' or leading zeros (1e-7, 1.5e17, 1e16).
// Non-finite values give NaN, inf and -inf.
std::string format_json_float(double value);

// Fixed point with exactly `decimals` digits after the point, exact binary value rounded half to
// even; the minus sign is kept for negative zero and for values rounding to zero. NaN, inf, -inf.
std::string format_fixed(double value, int decimals);

// As format_fixed with a sign always: +0.050000, -0.050000, +inf; NaN stays NaN.
std::string format_fixed_signed(double value, int decimals);

// Shortest digits that read back to the same finite value, sign ignored, without leading or
// trailing zeros ("0" for zero), and the decimal exponent of the first digit: 1.5e17 gives
// {"15", 17}, 0.03 gives {"3", -2}. The building block of format_float and the JSON writer.
struct ShortestDigits {
  std::string digits;
  int exponent;
};
ShortestDigits shortest_digits(double value);
ShortestDigits shortest_digits(float value);

// "N B" up to 1023, one decimal and " KiB" up to 1,048,575, else one decimal and " MiB".
std::string format_size(std::uint64_t bytes);

// "0x" and 16 lower-case hexadecimal digits.
std::string format_fingerprint(std::uint64_t fingerprint);

}  // namespace orvik

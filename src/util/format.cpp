#include "util/format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>

namespace orvik {

namespace {

template <class Float>
ShortestDigits shortest_digits_of(Float value) {
  // Scientific form of the shortest round-trip representation: "d[.ddd]e[+-]xx".
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e = text.find('e');
  ShortestDigits out;
  for (const char c : text.substr(0, e)) {
    if (c != '.') out.digits.push_back(c);
  }
  out.exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  return out;
}

// Appends the digits with the decimal point `point` places after the first digit (zeros padded
// on either side as needed); a whole number gets ".0" only when `whole_point` is set.
void append_plain_digits(std::string& out, const std::string& digits, long point,
                         bool whole_point) {
  const auto count = static_cast<long>(digits.size());
  if (point <= 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(digits);
  } else if (point >= count) {
    out.append(digits);
    out.append(static_cast<std::size_t>(point - count), '0');
    if (whole_point) out.append(".0");
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(point));
  }
}

// The digits written out in plain decimal, never in exponent form, without a trailing ".0".
template <class Float>
std::string plain_decimal(Float value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  const ShortestDigits shortest = shortest_digits_of(value);
  std::string out;
  if (std::signbit(value)) out.push_back('-');
  // Position of the decimal point relative to the first digit.
  append_plain_digits(out, shortest.digits, static_cast<long>(shortest.exponent) + 1, false);
  return out;
}

}  // namespace

ShortestDigits shortest_digits(double value) {
  return shortest_digits_of(value);
}

ShortestDigits shortest_digits(float value) {
  return shortest_digits_of(value);
}

std::string format_float(double value) {
  return plain_decimal(value);
}

std::string format_f32(float value) {
  return plain_decimal(value);
}

std::string format_json_float(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  std::string out;
  if (std::signbit(value)) out.push_back('-');
  if (value == 0.0) {
    out.append("0.0");
    return out;
  }
  const ShortestDigits shortest = shortest_digits(value);
  const std::string& digits = shortest.digits;
  const int point = shortest.exponent + 1;  // position of the decimal point after the first digit
  if (point > -5 && point <= 16) {
    append_plain_digits(out, digits, point, true);
    return out;
  }
  out.push_back(digits[0]);
  if (digits.size() > 1) {
    out.push_back('.');
    out.append(digits, 1);
  }
  out.push_back('e');
  out.append(std::to_string(shortest.exponent));
  return out;
}

std::string format_fixed(double value, int decimals) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // {fmt} prints the exact binary value rounded half to even, keeping the sign of negative zero
  // and of negative values that round to zero, as printf("%.Nf") does.
  return fmt::format("{:.{}f}", value, decimals < 0 ? 0 : decimals);
}

std::string format_fixed_signed(double value, int decimals) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "+inf";
  return fmt::format("{:+.{}f}", value, decimals < 0 ? 0 : decimals);
}

std::string format_size(std::uint64_t bytes) {
  if (bytes <= 1023) return fmt::format("{} B", bytes);
  if (bytes <= 1'048'575) return format_fixed(static_cast<double>(bytes) / 1024.0, 1) + " KiB";
  return format_fixed(static_cast<double>(bytes) / 1048576.0, 1) + " MiB";
}

std::string format_fingerprint(std::uint64_t fingerprint) {
  return fmt::format("0x{:016x}", fingerprint);
}

}  // namespace orvik

// Exact decimal formatting of numbers for the text writers (OBJ, MTL, MQO).
//
// FormatFixed prints a double the way the writers' "%f" and "%.2f" to "%.5f" conversions print it,
// with this tool's rounding rule instead of the C library's:
//   1. the exact binary value is rounded to 17 significant decimal digits, half up (away from
//      zero): the 18th significant digit of the exact value decides, 5 or more rounds up;
//   2. that 17-digit decimal is cut to `precision` decimals, again rounding up in magnitude when
//      the first digit cut off is 5 or more. Printed digits beyond the 17th significant one are 0.
// So a value exactly halfway between two printable values rounds away from zero (0.0078125 with 6
// decimals prints 0.007813, -0.0078125 prints -0.007813), and a value a hair below a halfway point
// rounds up too when step 1 already lands on that point.
//
// Signs: an exact zero (negative zero included) prints without a minus sign; any other negative
// value keeps it even when every printed digit is 0 (-0.0000001 with 6 decimals: "-0.000000").
// Non-finite values print as the C library's "%f" prints them on this platform: "nan", "-nan" (NaN
// with the sign bit set), "inf", "-inf", whatever the precision.
//
// The results are exact for every double; nothing here depends on the C library, the locale or
// the floating-point rounding mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morvex {

// Longest text FormatFixed can produce (sign, 309 integer digits, point, 6 decimals), plus slack.
inline constexpr std::size_t kMaxFixedLength = 330;

// Writes `value` like printf("%.<precision>f") with the rounding rule above into `out` (room for
// kMaxFixedLength bytes, no NUL written) and returns the number of bytes written. precision 0..6
// (values outside are clamped to that range); precision 0 prints no decimal point.
std::size_t FormatFixed(char* out, double value, int precision);

// Appends the same text to `out`.
void AppendFixed(std::string& out, double value, int precision);

// Writes a signed decimal like printf("%d"), or like printf("%0<width>d") when width > 0: the
// field is zero-padded after the sign to at least `width` characters, the sign counting as one
// (7 -> "07", 123 -> "123", -1 -> "-1", -5 with width 3 -> "-05"). `out` needs room for
// max(20, width) bytes; widths above kMaxFixedLength are treated as kMaxFixedLength. No NUL is
// written; returns the number of bytes written.
std::size_t FormatInt(char* out, std::int64_t value, int width = 0);

// The same as a string.
inline std::string IntText(std::int64_t value, int width = 0) {
    char digits[kMaxFixedLength > 20 ? kMaxFixedLength : 20];
    return std::string(digits, FormatInt(digits, value, width));
}

}  // namespace morvex

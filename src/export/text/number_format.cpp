// Exact decimal formatting: a fast path in integer arithmetic on the binary mantissa and exponent
// for the values the writers meet, and an exact path over the full decimal expansion for the rest.
#include "export/text/number_format.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace morvex {
namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr int kMaxPrecision = 6;
constexpr int kSignificantDigits = 17;

constexpr std::uint64_t kPow10[20] = {1ull,
                                      10ull,
                                      100ull,
                                      1000ull,
                                      10000ull,
                                      100000ull,
                                      1000000ull,
                                      10000000ull,
                                      100000000ull,
                                      1000000000ull,
                                      10000000000ull,
                                      100000000000ull,
                                      1000000000000ull,
                                      10000000000000ull,
                                      100000000000000ull,
                                      1000000000000000ull,
                                      10000000000000000ull,
                                      100000000000000000ull,
                                      1000000000000000000ull,
                                      10000000000000000000ull};

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

int CountDigits(std::uint64_t n) {
    int count = 1;
    while (count < 20 && n >= kPow10[count]) ++count;
    return count;
}

void WritePair(char* out, std::uint32_t n) {
    std::memcpy(out, kDigitPairs + 2 * n, 2);
}

// Writes exactly `count` digits of n (n < 10^count) ending just before `end`. Up to 8 digits,
// the pairs come from quotients that are all taken from n, so that their multiplies run side by
// side instead of one after another.
void WriteDigitsBackward(char* end, std::uint64_t n, int count) {
    if (count <= 8) {
        const auto m = static_cast<std::uint32_t>(n);
        const std::uint32_t q2 = m / 100, q4 = m / 10000, q6 = m / 1000000;
        if (count % 2 == 1) {
            // The leading digit stands alone.
            const std::uint32_t lead = count == 1 ? m : count == 3 ? q2 : count == 5 ? q4 : q6;
            *(end - count) = static_cast<char>('0' + lead);
        }
        switch ((count / 2) * 2) {
            case 8:
                WritePair(end - 8, q6);
                [[fallthrough]];
            case 6:
                WritePair(end - 6, q4 - 100 * q6);
                [[fallthrough]];
            case 4:
                WritePair(end - 4, q2 - 100 * q4);
                [[fallthrough]];
            case 2:
                WritePair(end - 2, m - 100 * q2);
                break;
            default:
                break;
        }
        return;
    }
    while (count >= 2) {
        const std::uint64_t pair = n % 100;
        n /= 100;
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * pair, 2);
        count -= 2;
    }
    if (count == 1) *--end = static_cast<char>('0' + n);
}

std::size_t WriteUnsigned(char* out, std::uint64_t n) {
    const int count = CountDigits(n);
    WriteDigitsBackward(out + count, n, count);
    return static_cast<std::size_t>(count);
}

// Writes the P digits of f < 10^P. The quotients by 100 and 10000 are both taken from f, not one
// from the other, so that the multiplies they compile to run side by side. WriteDigitsBackward
// does the same for a count known only when running; with the count fixed at compile time this
// form measured about a third faster for texture coordinates than that one inlined.
template <int P>
void WriteFraction(char* out, std::uint32_t f) {
    static_assert(P >= 1 && P <= 6);
    if constexpr (P == 1) {
        *out = static_cast<char>('0' + f);
    } else if constexpr (P == 2) {
        WritePair(out, f);
    } else if constexpr (P <= 4) {
        const std::uint32_t hundreds = f / 100;
        if constexpr (P == 3) {
            *out = static_cast<char>('0' + hundreds);
        } else {
            WritePair(out, hundreds);
        }
        WritePair(out + P - 2, f - 100 * hundreds);
    } else {
        const std::uint32_t hundreds = f / 100;
        const std::uint32_t tenThousands = f / 10000;
        if constexpr (P == 5) {
            *out = static_cast<char>('0' + tenThousands);
        } else {
            WritePair(out, tenThousands);
        }
        WritePair(out + P - 4, hundreds - 100 * tenThousands);
        WritePair(out + P - 2, f - 100 * hundreds);
    }
}

// Writes `scaled` / 10^P with P decimals; the divisions by the constant compile to multiplies.
// An integer part below 100 (most coordinates) is written without a loop or a branch on its
// length.
template <int P>
std::size_t WriteScaled(char* out, std::uint64_t scaled) {
    if constexpr (P == 0) {
        return WriteUnsigned(out, scaled);
    } else {
        constexpr std::uint64_t kUnit = kPow10[P];
        const std::uint64_t integer = scaled / kUnit;
        const auto fraction = static_cast<std::uint32_t>(scaled - integer * kUnit);
        std::size_t length;
        if (integer < 100) {
            // One digit is the second of its pair; the byte after it is overwritten by the point.
            const std::size_t two = integer >= 10 ? 1 : 0;
            std::memcpy(out, kDigitPairs + 2 * integer + 1 - two, 2);
            length = 1 + two;
        } else {
            length = WriteUnsigned(out, integer);
        }
        out[length++] = '.';
        WriteFraction<P>(out + length, fraction);
        return length + P;
    }
}

std::size_t WriteScaled(char* out, std::uint64_t scaled, int precision) {
    switch (precision) {
        case 0:
            return WriteScaled<0>(out, scaled);
        case 1:
            return WriteScaled<1>(out, scaled);
        case 2:
            return WriteScaled<2>(out, scaled);
        case 3:
            return WriteScaled<3>(out, scaled);
        case 4:
            return WriteScaled<4>(out, scaled);
        case 5:
            return WriteScaled<5>(out, scaled);
        default:
            return WriteScaled<6>(out, scaled);
    }
}

// An integer followed by `precision` zero decimals.
std::size_t WriteInteger(char* out, std::uint64_t integer, int precision) {
    std::size_t length = WriteUnsigned(out, integer);
    if (precision > 0) {
        out[length++] = '.';
        std::memset(out + length, '0', static_cast<std::size_t>(precision));
        length += static_cast<std::size_t>(precision);
    }
    return length;
}

// Increments the decimal digit string [first, last) by one unit in its last place; true when the
// carry ran out of the first digit (every digit was 9 and is now 0).
bool IncrementDigits(char* first, char* last) {
    while (last != first) {
        --last;
        if (*last != '9') {
            ++*last;
            return false;
        }
        *last = '0';
    }
    return true;
}

// The exact path for a positive finite magnitude: the complete decimal expansion of the double
// (a double has at most 767 significant digits, so 771 are exact and end in zeros), rounded twice
// on the digit string.
std::size_t FormatExact(char* out, double magnitude, int precision) {
    char expansion[800];
    const std::to_chars_result result = std::to_chars(
        expansion, expansion + sizeof expansion, magnitude, std::chars_format::scientific, 770);
    // The text is "d.ddd...de+XX" or "d.ddd...de-XXX".
    const char* exponentMark = std::find(expansion, result.ptr, 'e');
    int exponent = 0;
    for (const char* p = exponentMark + 2; p < result.ptr; ++p)
        exponent = exponent * 10 + (*p - '0');
    if (exponentMark[1] == '-') exponent = -exponent;

    // digits[0] has the weight 10^exponent.
    char digits[kSignificantDigits];
    digits[0] = expansion[0];
    std::memcpy(digits + 1, expansion + 2, kSignificantDigits - 1);
    const char nextDigit = expansion[2 + kSignificantDigits - 1];
    if (nextDigit >= '5' && IncrementDigits(digits, digits + kSignificantDigits)) {
        digits[0] = '1';
        ++exponent;
    }

    // The digits of floor(value * 10^precision), then the same rounding at the printed precision.
    char scaled[kMaxFixedLength];
    const int count = exponent + 1 + precision;
    int length = 0;
    bool roundUp = false;
    if (count > 0) {
        length = count;
        for (int k = 0; k < count; ++k) scaled[k] = k < kSignificantDigits ? digits[k] : '0';
        roundUp = count < kSignificantDigits && digits[count] >= '5';
    } else if (count == 0) {
        roundUp = digits[0] >= '5';
    }
    if (roundUp && IncrementDigits(scaled, scaled + length)) {
        std::memmove(scaled + 1, scaled, static_cast<std::size_t>(length));
        scaled[0] = '1';
        ++length;
    }

    char* cursor = out;
    if (length <= precision) {
        *cursor++ = '0';
        if (precision > 0) {
            *cursor++ = '.';
            const int zeros = precision - length;
            std::memset(cursor, '0', static_cast<std::size_t>(zeros));
            cursor += zeros;
            std::memcpy(cursor, scaled, static_cast<std::size_t>(length));
            cursor += length;
        }
    } else {
        const int integerDigits = length - precision;
        std::memcpy(cursor, scaled, static_cast<std::size_t>(integerDigits));
        cursor += integerDigits;
        if (precision > 0) {
            *cursor++ = '.';
            std::memcpy(cursor, scaled + integerDigits, static_cast<std::size_t>(precision));
            cursor += precision;
        }
    }
    return static_cast<std::size_t>(cursor - out);
}

}  // namespace

std::size_t FormatFixed(char* out, double value, int precision) {
    precision = std::clamp(precision, 0, kMaxPrecision);
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const double magnitude = std::bit_cast<double>(bits & ~(std::uint64_t{1} << 63));

    if (biased == 0x7FF) {
        char* cursor = out;
        if (negative) *cursor++ = '-';
        std::memcpy(cursor, fraction != 0 ? "nan" : "inf", 3);
        return static_cast<std::size_t>(cursor - out) + 3;
    }
    if (biased == 0 && fraction == 0) return WriteInteger(out, 0, precision);

    std::size_t sign = 0;
    if (negative) out[sign++] = '-';
    char* digits = out + sign;

    // |value| = mantissa * 2^exponent exactly.
    const std::uint64_t mantissa = biased != 0 ? fraction | (std::uint64_t{1} << 52) : fraction;
    const int exponent = (biased != 0 ? biased : 1) - 1075;

    if (exponent >= 0) {
        // An integer. Below 2^56 < 10^17 it has at most 17 significant digits and prints exactly.
        if (exponent > 3) return sign + FormatExact(digits, magnitude, precision);
        return sign + WriteInteger(digits, mantissa << exponent, precision);
    }
    const int shift = -exponent;
    if (shift >= 128) {
        // |value| < 2^-75: far below half a unit of the 6th decimal even after step 1.
        return sign + WriteInteger(digits, 0, precision);
    }

    // value * 10^precision = scaledMantissa / 2^shift = whole + remainder / 2^shift.
    const Uint128 scaledMantissa = Uint128{mantissa} * kPow10[precision];  // < 2^73
    const Uint128 whole = scaledMantissa >> shift;
    // Below 10^17 the value is below 10^(17 - precision): its 17th significant digit is the last
    // printed one or lies beyond it. In the first case step 1 is itself the rounding to the
    // printed precision; in the second a halfway point of the printed precision is a 17-digit
    // number, and step 1 only changes the outcome when it rounds a value just below such a point
    // up onto it. Either way the result is the exact value rounded half up to the printed
    // precision, but for that one case.
    if (whole >= kPow10[17]) return sign + FormatExact(digits, magnitude, precision);
    std::uint64_t printed = static_cast<std::uint64_t>(whole);
    const Uint128 remainder = scaledMantissa & ((Uint128{1} << shift) - 1);
    const Uint128 half = Uint128{1} << (shift - 1);
    if (remainder >= half) {
        ++printed;
    } else if (half - remainder <= (scaledMantissa >> 54)) {
        // Step 1 moves the value by at most half a unit of its 17th digit, at most 5e-17 times
        // the value: counted in units of 2^-shift like the remainder, at most
        // scaledMantissa * 5e-17. A distance to the halfway point above scaledMantissa / 2^54
        // (> scaledMantissa * 5e-17) cannot be bridged; a closer one is settled on the digits.
        return sign + FormatExact(digits, magnitude, precision);
    }
    return sign + WriteScaled(digits, printed, precision);
}

void AppendFixed(std::string& out, double value, int precision) {
    char text[kMaxFixedLength];
    out.append(text, FormatFixed(text, value, precision));
}

std::size_t FormatInt(char* out, std::int64_t value, int width) {
    width = std::min(width, static_cast<int>(kMaxFixedLength));
    const bool negative = value < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    char* cursor = out;
    if (negative) *cursor++ = '-';
    const int count = CountDigits(magnitude);
    const int padding = width - count - (negative ? 1 : 0);
    if (padding > 0) {
        std::memset(cursor, '0', static_cast<std::size_t>(padding));
        cursor += padding;
    }
    WriteDigitsBackward(cursor + count, magnitude, count);
    return static_cast<std::size_t>(cursor + count - out);
}

}  // namespace morvex

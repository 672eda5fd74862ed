// FormatFixed and FormatInt against an independent reference: the exact decimal expansion of each
// double computed with big-integer arithmetic here (mantissa * 5^k or mantissa * 2^k in base
// 10^9), rounded twice on the digit string (17 significant digits half up, then the printed
// precision half up).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "export/text/number_format.h"
#include "platform/platform.h"

namespace morvex {
namespace {

constexpr int kPrecisions = 7;  // 0..6

// ---- Reference -------------------------------------------------------------------------------

// A non-negative integer in base 10^9, least significant limb first.
class BigDecimal {
  public:
    explicit BigDecimal(std::uint64_t value) {
        do {
            limbs_.push_back(static_cast<std::uint32_t>(value % kBase));
            value /= kBase;
        } while (value != 0);
    }
    void Multiply(std::uint32_t factor) {  // factor < 2^32, limb * factor + carry < 2^62
        std::uint64_t carry = 0;
        for (std::uint32_t& limb : limbs_) {
            const std::uint64_t product = std::uint64_t{limb} * factor + carry;
            limb = static_cast<std::uint32_t>(product % kBase);
            carry = product / kBase;
        }
        while (carry != 0) {
            limbs_.push_back(static_cast<std::uint32_t>(carry % kBase));
            carry /= kBase;
        }
    }
    std::string ToString() const {
        std::string text = std::to_string(limbs_.back());
        for (std::size_t k = limbs_.size() - 1; k-- > 0;) {
            std::string limb = std::to_string(limbs_[k]);
            text.append(9 - limb.size(), '0');
            text += limb;
        }
        return text;
    }

  private:
    static constexpr std::uint64_t kBase = 1000000000;
    std::vector<std::uint32_t> limbs_;
};

// The exact decimal expansion of |x| (x finite): integer digits and fraction digits.
struct Expansion {
    bool negative = false;
    bool zero = false;
    std::string integer;
    std::string fraction;
};

Expansion Expand(double x) {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t field = bits & ((std::uint64_t{1} << 52) - 1);
    Expansion result;
    result.negative = (bits >> 63) != 0;
    result.zero = biased == 0 && field == 0;
    const std::uint64_t mantissa = biased != 0 ? field | (std::uint64_t{1} << 52) : field;
    int exponent = (biased != 0 ? biased : 1) - 1075;
    BigDecimal number(mantissa);
    if (exponent >= 0) {
        for (; exponent >= 29; exponent -= 29) number.Multiply(std::uint32_t{1} << 29);
        number.Multiply(std::uint32_t{1} << exponent);
        result.integer = number.ToString();
        return result;
    }
    // mantissa * 2^-k = mantissa * 5^k / 10^k
    const int k = -exponent;
    int fives = k;
    for (; fives >= 13; fives -= 13) number.Multiply(1220703125u);  // 5^13
    std::uint32_t rest = 1;
    for (; fives > 0; --fives) rest *= 5;
    number.Multiply(rest);
    const std::string digits = number.ToString();
    const auto fractionDigits = static_cast<std::size_t>(k);
    if (digits.size() <= fractionDigits) {
        result.integer = "0";
        result.fraction = std::string(fractionDigits - digits.size(), '0') + digits;
    } else {
        result.integer = digits.substr(0, digits.size() - fractionDigits);
        result.fraction = digits.substr(digits.size() - fractionDigits);
    }
    return result;
}

// Adds one unit at digits[index]; the caller leaves a leading '0' for the carry.
void IncrementAt(std::string& digits, std::size_t index) {
    while (digits[index] == '9') digits[index--] = '0';
    ++digits[index];
}

// The text the writers must produce. With seventeenDigits false, the exact value is rounded
// directly to the printed precision (what the rule would give without its first step).
std::string Reference(const Expansion& e, int precision, bool seventeenDigits = true) {
    const auto p = static_cast<std::size_t>(precision);
    std::string digits = "00" + e.integer + e.fraction;
    const std::size_t point = 2 + e.integer.size();
    if (digits.size() < point + p + 1) digits.append(point + p + 1 - digits.size(), '0');
    const std::size_t first = digits.find_first_not_of('0');
    // Both steps look at one digit only (the 18th significant one, the first cut off): the
    // digits after max(first + 17, point + p) cannot change the result.
    if (first != std::string::npos)
        digits.resize(std::min(digits.size(), std::max(first + 18, point + p + 1)));
    if (first != std::string::npos && seventeenDigits) {
        const std::size_t last = first + 16;
        if (last + 1 < digits.size()) {
            const bool up = digits[last + 1] >= '5';
            for (std::size_t k = last + 1; k < digits.size(); ++k) digits[k] = '0';
            if (up) IncrementAt(digits, last);
        }
    }
    const std::size_t lastPrinted = point + p - 1;
    const bool up = digits[lastPrinted + 1] >= '5';
    digits.resize(lastPrinted + 1);
    if (up) IncrementAt(digits, lastPrinted);
    std::string integer = digits.substr(0, point);
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size() - 1));
    std::string text = (e.negative && !e.zero ? "-" : "") + integer;
    if (p > 0) text += "." + digits.substr(point, p);
    return text;
}

// True when the exact value lies exactly halfway between two printable values.
bool IsTie(const Expansion& e, int precision) {
    const auto p = static_cast<std::size_t>(precision);
    if (e.fraction.size() <= p || e.fraction[p] != '5') return false;
    return e.fraction.find_first_not_of('0', p + 1) == std::string::npos;
}

std::string Fixed(double value, int precision) {
    std::array<char, kMaxFixedLength + 8> buffer;
    buffer.fill('#');
    const std::size_t length = FormatFixed(buffer.data(), value, precision);
    EXPECT_LE(length, kMaxFixedLength);
    for (std::size_t k = length; k < buffer.size(); ++k) {
        if (buffer[k] != '#') {
            ADD_FAILURE() << "FormatFixed wrote past its result for " << value;
            break;
        }
    }
    return std::string(buffer.data(), length);
}

std::string Int(std::int64_t value, int width = 0) {
    std::array<char, 64> buffer;
    buffer.fill('#');
    const std::size_t length = FormatInt(buffer.data(), value, width);
    EXPECT_TRUE(length < buffer.size() && buffer[length] == '#');
    return std::string(buffer.data(), length);
}

std::string Printf(const char* format, auto... args) {
    char buffer[512];
    const int length = std::snprintf(buffer, sizeof buffer, format, args...);
    return std::string(buffer, static_cast<std::size_t>(length));
}

// Compares FormatFixed with the reference at every precision; stops reporting after a few
// mismatches so a broken build does not flood the log.
class Checker {
  public:
    void Check(double value) {
        const Expansion e = Expand(value);
        for (int p = 0; p < kPrecisions; ++p) {
            const std::string expected = Reference(e, p);
            const std::string actual = Fixed(value, p);
            if (actual != expected && ++failures_ <= 10) {
                ADD_FAILURE() << "value " << Printf("%.17g (%a)", value, value) << " precision "
                              << p << ": got " << actual << ", expected " << expected;
            }
        }
        ++checked_;
    }
    int checked() const { return checked_; }

  private:
    int failures_ = 0;
    int checked_ = 0;
};

double FromBits(std::uint64_t bits) {
    return std::bit_cast<double>(bits);
}

// ---- Exact cases -----------------------------------------------------------------------------

struct FixedCase {
    const char* name;
    double value;
    int precision;
    const char* expected;
};

// Expected texts computed independently with arbitrary-precision decimal arithmetic.
constexpr FixedCase kFixedCases[] = {
    // Halfway values round away from zero.
    {"0.0078125", 0.0078125, 6, "0.007813"},
    {"0.0078125", 0.0078125, 5, "0.00781"},
    {"-0.0078125", -0.0078125, 6, "-0.007813"},
    {"0.015625", 0.015625, 5, "0.01563"},
    {"-0.015625", -0.015625, 5, "-0.01563"},
    {"0.5", 0.5, 0, "1"},
    {"1.5", 1.5, 0, "2"},
    {"2.5", 2.5, 0, "3"},
    {"-2.5", -2.5, 0, "-3"},
    {"0.125", 0.125, 2, "0.13"},
    {"0.375", 0.375, 2, "0.38"},
    {"123456.7890625", 123456.7890625, 6, "123456.789063"},
    {"123456.7890625", 123456.7890625, 5, "123456.78906"},
    {"123456.7890625", 123456.7890625, 4, "123456.7891"},
    {"123456.7890625", 123456.7890625, 3, "123456.789"},
    {"123456.7890625", 123456.7890625, 2, "123456.79"},
    {"123456.7890625", 123456.7890625, 0, "123457"},
    // Plain values.
    {"1.0", 1.0, 6, "1.000000"},
    {"1.0", 1.0, 0, "1"},
    {"0.25", 0.25, 5, "0.25000"},
    {"-100.0", -100.0, 4, "-100.0000"},
    {"0.1", 0.1, 6, "0.100000"},
    {"0.3", 0.3, 0, "0"},
    // Just below a halfway point, but the 17-digit value is the halfway point: rounds up.
    {"1.45", 1.45, 1, "1.5"},
    {"0.105", 0.105, 2, "0.11"},
    {"-0.105", -0.105, 2, "-0.11"},
    {"0.0115", 0.0115, 3, "0.012"},
    {"0.00095", 0.00095, 4, "0.0010"},
    {"0.000155", 0.000155, 5, "0.00016"},
    {"1.95e-05", 1.95e-05, 6, "0.000020"},
    // Just below a halfway point and staying below it after 17 digits.
    {"5e-07", 5e-07, 6, "0.000000"},
    // Carries through every printed digit.
    {"0.9999995", 0.9999995, 6, "1.000000"},
    {"99.9999996", 99.9999996, 6, "100.000000"},
    {"-99.99999995", -99.99999995, 6, "-100.000000"},
    {"9.5", 9.5, 0, "10"},
    {"99.995", 99.995, 2, "100.00"},
    // Zeros and signs.
    {"0.0", 0.0, 6, "0.000000"},
    {"0.0", 0.0, 0, "0"},
    {"-0.0", -0.0, 6, "0.000000"},
    {"-0.0", -0.0, 3, "0.000"},
    {"-0.0", -0.0, 0, "0"},
    {"-0.0000001", -0.0000001, 6, "-0.000000"},
    {"-0.0000001", -0.0000001, 0, "-0"},
    {"0.0000001", 0.0000001, 6, "0.000000"},
    {"1e-30", 1e-30, 6, "0.000000"},
    {"-DBL_TRUE_MIN", -DBL_TRUE_MIN, 6, "-0.000000"},
    {"DBL_MIN", DBL_MIN, 6, "0.000000"},
    // Large values: digits beyond the 17th significant one print as 0.
    {"1e10", 1e10, 6, "10000000000.000000"},
    {"10000000000.0078125", 10000000000.0078125, 6, "10000000000.007813"},
    {"-10000000000.0078125", -10000000000.0078125, 6, "-10000000000.007813"},
    {"10000000000.0078125", 10000000000.0078125, 5, "10000000000.00781"},
    {"12345678901.234567", 12345678901.234567, 5, "12345678901.23457"},
    {"9999999999.999998", 9999999999.999998, 6, "9999999999.999998"},
    {"9999999999.9999905", 9999999999.9999905, 6, "9999999999.999991"},
    {"1e16", 1e16, 6, "10000000000000000.000000"},
    {"1e16", 1e16, 0, "10000000000000000"},
    {"1e17", 1e17, 6, "100000000000000000.000000"},
    {"2^53", 9007199254740992.0, 6, "9007199254740992.000000"},
    {"2^56", 72057594037927936.0, 6, "72057594037927936.000000"},
    {"2^57", 144115188075855872.0, 6, "144115188075855870.000000"},
    {"123456789012345678901234567890.0", 123456789012345678901234567890.0, 6,
     "123456789012345680000000000000.000000"},
    {"123456789012345678901234567890.0", 123456789012345678901234567890.0, 0,
     "123456789012345680000000000000"},
    {"1e30", 1e30, 6, "1000000000000000000000000000000.000000"},
    {"-1e30", -1e30, 6, "-1000000000000000000000000000000.000000"},
    {"FLT_MAX", FLT_MAX, 6, "340282346638528860000000000000000000000.000000"},
};

TEST(FormatFixed, ExactCases) {
    for (const FixedCase& c : kFixedCases) {
        EXPECT_EQ(Fixed(c.value, c.precision), c.expected)
            << c.name << " with precision " << c.precision;
    }
}

TEST(FormatFixed, LongestTextsFitTheBuffer) {
    const std::string dblMax = "17976931348623157" + std::string(292, '0');
    EXPECT_EQ(Fixed(DBL_MAX, 6), dblMax + ".000000");
    EXPECT_EQ(Fixed(-DBL_MAX, 6), "-" + dblMax + ".000000");
    EXPECT_EQ(Fixed(-DBL_MAX, 0), "-" + dblMax);
    EXPECT_LE(Fixed(-DBL_MAX, 6).size(), kMaxFixedLength);
}

TEST(FormatFixed, NonFiniteValuesPrintLikeTheCLibrary) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char* expected;
    } cases[] = {{nan, "nan"},
                 {-nan, "-nan"},
                 {inf, "inf"},
                 {-inf, "-inf"},
                 {std::numeric_limits<double>::signaling_NaN(), "nan"}};
    for (const auto& c : cases) {
        for (int p = 0; p < kPrecisions; ++p) {
            EXPECT_EQ(Fixed(c.value, p), c.expected);
            // MinGW's C library prints a negative NaN without its sign; our texts are the same
            // on every system.
            if (!platform::kWindows) {
                EXPECT_EQ(Fixed(c.value, p), Printf("%.*f", p, c.value));
            }
        }
    }
}

TEST(FormatFixed, PrecisionOutsideTheRangeIsClamped) {
    EXPECT_EQ(Fixed(0.0078125, 9), "0.007813");
    EXPECT_EQ(Fixed(2.5, -1), "3");
}

TEST(FormatFixed, AppendFixedAppends) {
    std::string text = "v ";
    AppendFixed(text, 0.0078125, 6);
    text += ' ';
    AppendFixed(text, -0.015625, 5);
    EXPECT_EQ(text, "v 0.007813 -0.01563");
}

// ---- Sweeps against the reference ------------------------------------------------------------

// The reference's expansion and its rounding at the printed precision agree with the C library's
// exact conversion wherever the exact value is not a tie, so a fault in them would show here
// rather than excuse the same fault in FormatFixed. (Its 17-digit step is pinned by the exact
// cases above.)
TEST(FormatFixedReference, AgreesWithTheCLibraryAwayFromTies) {
    std::mt19937 random(7);
    int ties = 0;
    for (int n = 0; n < 100000; ++n) {
        const float value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        if (!std::isfinite(value) || value == 0.0f) continue;
        const Expansion e = Expand(value);
        for (int p = 0; p < kPrecisions; ++p) {
            if (IsTie(e, p)) {
                ++ties;
                continue;
            }
            ASSERT_EQ(Reference(e, p, false), Printf("%.*f", p, static_cast<double>(value)))
                << Printf("%a", static_cast<double>(value)) << " precision " << p;
        }
    }
    // The exact halfway values (0.5, 0.125, ...) are what the reference must treat differently.
    EXPECT_EQ(Reference(Expand(0.125), 2), "0.13");
    EXPECT_EQ(Printf("%.2f", 0.125), "0.12");
    EXPECT_GT(ties, 0);
}

TEST(FormatFixed, RandomFloatBitPatterns) {
    std::mt19937 random(1);
    Checker checker;
    while (checker.checked() < 600000) {
        const float value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        if (std::isfinite(value)) checker.Check(value);
    }
}

TEST(FormatFixed, RandomFloatCoordinates) {
    std::mt19937 random(2);
    std::uniform_real_distribution<float> position(-100.0f, 100.0f);
    std::uniform_real_distribution<float> texture(0.0f, 1.0f);
    Checker checker;
    for (int n = 0; n < 100000; ++n) {
        checker.Check(position(random));
        const float u = texture(random);
        checker.Check(u);
        checker.Check(1.0 - u);  // a flipped texture coordinate computed in double
    }
}

TEST(FormatFixed, RandomDoubles) {
    std::mt19937_64 random(3);
    Checker checker;
    // Mantissas of all 53 bits over the binary exponents the fast path covers and beyond.
    std::uniform_int_distribution<int> exponent(1023 - 80, 1023 + 60);
    for (int n = 0; n < 200000; ++n) {
        const std::uint64_t bits = (random() & 0x800FFFFFFFFFFFFFull) |
                                   (static_cast<std::uint64_t>(exponent(random)) << 52);
        checker.Check(FromBits(bits));
    }
    // Every exponent, subnormals included.
    for (int n = 0; n < 20000; ++n) {
        const double value = FromBits(random());
        if (std::isfinite(value)) checker.Check(value);
    }
    for (int n = 0; n < 20000; ++n) checker.Check(FromBits(random() & 0x800FFFFFFFFFFFFFull));
}

TEST(FormatFixed, PowersOfTwoAndTheirNeighbours) {
    Checker checker;
    for (int k = -1074; k <= 1023; ++k) {
        const double power = std::ldexp(1.0, k);
        for (double value : {power, std::nextafter(power, 0.0), std::nextafter(power, DBL_MAX)}) {
            checker.Check(value);
            checker.Check(-value);
        }
    }
    for (int k = -149; k <= 127; ++k) {
        const float power = std::ldexp(1.0f, k);
        checker.Check(std::nextafter(power, 0.0f));
        checker.Check(std::nextafter(power, FLT_MAX));
    }
    for (double value : {DBL_MIN, DBL_TRUE_MIN, DBL_MAX, double{FLT_MIN}, double{FLT_TRUE_MIN},
                         double{FLT_MAX}, 1e-7, -1e-7, 1e30, -1e30, 1e-30, -1e-30}) {
        checker.Check(value);
    }
}

// Around every halfway point (k + 0.5) * 10^-p: the doubles nearest to it on both sides, where the
// 17-digit step decides whether a value a hair below rounds up.
TEST(FormatFixed, AroundHalfwayPoints) {
    std::mt19937_64 random(4);
    Checker checker;
    int decidedByStepOne = 0;
    for (int p = 0; p < kPrecisions; ++p) {
        const double unit = std::pow(10.0, p);
        for (int n = 0; n < 3000; ++n) {
            // k from a few units up to 10^(16 - p), spread over the magnitudes.
            const double magnitude =
                std::pow(10.0, std::uniform_real_distribution<double>(0.0, 15.5 - p)(random));
            const auto k = static_cast<std::uint64_t>(magnitude);
            const double mid = (2.0 * static_cast<double>(k) + 1.0) / (2.0 * unit);
            double value = mid;
            for (int step = 0; step < 3; ++step) value = std::nextafter(value, 0.0);
            for (int step = 0; step < 7; ++step) {
                checker.Check(value);
                checker.Check(-value);
                const Expansion e = Expand(value);
                if (Reference(e, p) != Reference(e, p, false)) ++decidedByStepOne;
                value = std::nextafter(value, DBL_MAX);
            }
        }
    }
    // The construction must actually reach the values the 17-digit step decides.
    EXPECT_GT(decidedByStepOne, 1000);
}

// Floats whose exact expansion has 18 significant digits, the last one a 5: the 17-digit step
// rounds them up at their 18th digit.
TEST(FormatFixed, FloatsWithEighteenSignificantDigits) {
    std::mt19937 random(5);
    Checker checker;
    int found = 0;
    for (int n = 0; n < 200000 && found < 20000; ++n) {
        const std::uint32_t mantissa = (random() & 0x7FFFFFu) | 0x800001u;  // odd: ends in 5
        const int k = static_cast<int>(random() % 40);
        const float value = std::ldexp(static_cast<float>(mantissa), -k);
        const Expansion e = Expand(value);
        const std::string digits = e.integer + e.fraction;
        const std::size_t first = digits.find_first_not_of('0');
        const std::size_t last = digits.find_last_not_of('0');  // the expansion may end in zeros
        if (last + 1 - first != 18) continue;
        ASSERT_EQ(digits[last], '5');
        ++found;
        checker.Check(value);
        checker.Check(-value);
    }
    EXPECT_GT(found, 1000);
}

// ---- FormatInt -------------------------------------------------------------------------------

TEST(FormatInt, PrintsLikePrintf) {
    const struct {
        std::int64_t value;
        int width;
        const char* expected;
    } cases[] = {
        {0, 0, "0"},
        {7, 0, "7"},
        {-7, 0, "-7"},
        {123, 0, "123"},
        {7, 2, "07"},
        {0, 2, "00"},
        {42, 2, "42"},
        {123, 2, "123"},
        {-1, 2, "-1"},
        {-5, 3, "-05"},
        {INT32_MIN, 0, "-2147483648"},
        {INT32_MAX, 2, "2147483647"},
        {INT64_MIN, 0, "-9223372036854775808"},
        {INT64_MAX, 0, "9223372036854775807"},
        {1, 25, "0000000000000000000000001"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Int(c.value, c.width), c.expected) << c.value << " width " << c.width;
    }
}

TEST(FormatInt, AgreesWithPrintfOnRandomValues) {
    // Every length boundary, where the digit count changes.
    std::int64_t power = 1;
    for (int k = 0; k < 19; ++k) {
        if (k > 0) power *= 10;  // up to 10^18
        for (const std::int64_t value : {power - 1, power, power + 1, -power, 1 - power}) {
            for (const int width : {0, 1, 2, 9}) {
                ASSERT_EQ(Int(value, width),
                          Printf("%0*lld", width, static_cast<long long>(value)));
            }
        }
    }
    std::mt19937_64 random(6);
    for (int n = 0; n < 100000; ++n) {
        // Values of every length: shift a random 64-bit pattern right by 0..63.
        const auto value = static_cast<std::int64_t>(random()) >> (random() % 64);
        const int width = static_cast<int>(random() % 24);
        ASSERT_EQ(Int(value, width), Printf("%0*lld", width, static_cast<long long>(value)));
    }
}

}  // namespace
}  // namespace morvex

// Interim exact formatter (exact decimal expansion, then two half-up roundings).
#include "export/number_format.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace morvex {

std::size_t FormatFixed(char* out, double value, int precision) {
    if (std::isnan(value)) {
        const char* t = std::signbit(value) ? "-nan" : "nan";
        std::memcpy(out, t, std::strlen(t));
        return std::strlen(t);
    }
    if (std::isinf(value)) {
        const char* t = value < 0 ? "-inf" : "inf";
        std::memcpy(out, t, std::strlen(t));
        return std::strlen(t);
    }
    bool negative = value < 0;
    char sci[800];
    auto r = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific, 770);
    std::string s(sci, r.ptr);
    std::size_t e = s.find('e');
    int exp10 = std::stoi(s.substr(e + 1));
    std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
    // Round half up to 17 significant digits.
    auto roundAt = [](std::string& d, std::size_t keep, int& ex) {
        if (keep >= d.size()) return;
        bool up = d[keep] >= '5';
        d.resize(keep);
        if (up) {
            std::size_t k = keep;
            while (k > 0) {
                if (d[k - 1] == '9') {
                    d[k - 1] = '0';
                    --k;
                } else {
                    ++d[k - 1];
                    break;
                }
            }
            if (k == 0) {
                d.insert(d.begin(), '1');
                d.pop_back();
                ++ex;
            }
        }
    };
    if (value != 0) roundAt(digits, 17, exp10);
    // digits d0 d1 ... with value = 0.d0d1... * 10^(exp10+1)
    // Position of the last printed digit: 10^-precision. Number of digits before it:
    long keep = static_cast<long>(exp10) + 1 + precision;
    std::string fixedDigits;
    int pointPos;
    if (value == 0) {
        fixedDigits = std::string(static_cast<std::size_t>(1 + precision), '0');
        pointPos = 1;
    } else if (keep < 0) {
        fixedDigits = std::string(static_cast<std::size_t>(1 + precision), '0');
        pointPos = 1;
    } else {
        std::string d = digits;
        int ex = exp10;
        if (static_cast<std::size_t>(keep) < d.size()) {
            if (keep == 0) {
                bool up = d[0] >= '5';
                d = up ? "1" : "0";
                ex = exp10 + (up ? 1 : 0);
                keep = up ? 1 : 0;
                if (!up) d = "";
            } else {
                roundAt(d, static_cast<std::size_t>(keep), ex);
            }
        }
        // Build integer of all digits down to 10^-precision.
        long total = static_cast<long>(ex) + 1 + precision;
        if (total <= 0 || d.empty()) {
            fixedDigits = std::string(static_cast<std::size_t>(1 + precision), '0');
        } else {
            d.resize(static_cast<std::size_t>(total), '0');
            fixedDigits = d;
            if (fixedDigits.size() < static_cast<std::size_t>(precision + 1)) {
                fixedDigits.insert(0, static_cast<std::size_t>(precision + 1) - fixedDigits.size(), '0');
            }
        }
        pointPos = static_cast<int>(fixedDigits.size()) - precision;
    }
    std::string text;
    if (negative && value != 0) text.push_back('-');
    text.append(fixedDigits, 0, static_cast<std::size_t>(pointPos));
    if (precision > 0) {
        text.push_back('.');
        text.append(fixedDigits, static_cast<std::size_t>(pointPos));
    }
    std::memcpy(out, text.data(), text.size());
    return text.size();
}

void AppendFixed(std::string& out, double value, int precision) {
    char buffer[kMaxFixedLength];
    out.append(buffer, FormatFixed(buffer, value, precision));
}

std::size_t FormatInt(char* out, std::int64_t value, int width) {
    char digits[24];
    bool negative = value < 0;
    std::uint64_t v = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    std::size_t len = 0;
    if (negative) out[len++] = '-';
    int pad = width - n - (negative ? 1 : 0);
    for (int k = 0; k < pad; ++k) out[len++] = '0';
    while (n > 0) out[len++] = digits[--n];
    return len;
}

}  // namespace morvex

// Line-oriented text output with our number formatting: over an OutputFile, or into memory sized
// in advance. Every line of the text outputs ends with CR LF.
#pragma once

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "export/output_file.h"
#include "export/text/number_format.h"

namespace morvex {

class TextWriter {
  public:
    explicit TextWriter(OutputFile& file) : file_(file) {}

    TextWriter& Str(std::string_view text) {
        if (text.empty()) return *this;
        if (text.size() <= kSmallText) {  // the common case: short pieces copied into the buffer
            std::memcpy(file_.Reserve(kSmallText), text.data(), text.size());
            file_.Commit(text.size());
        } else {
            file_.Append(text);
        }
        return *this;
    }
    TextWriter& Char(char c) {
        *file_.Reserve(1) = c;
        file_.Commit(1);
        return *this;
    }
    // printf("%.<precision>f") with the tool's rounding rule.
    TextWriter& Fixed(double value, int precision) {
        file_.Commit(FormatFixed(file_.Reserve(kMaxFixedLength), value, precision));
        return *this;
    }
    // printf("%d"), or "%02d" with width 2.
    TextWriter& Int(std::int64_t value, int width = 0) {
        file_.Commit(FormatInt(file_.Reserve(32), value, width));
        return *this;
    }
    TextWriter& EndLine() { return Str("\r\n"); }

  private:
    static constexpr std::size_t kSmallText = 64;
    OutputFile& file_;
};

// The longest text FormatFixed writes for a float widened to double, at up to 6 decimals: a sign,
// 39 integer digits (a float stays below 2^128 < 10^39; so does 1 minus a float), the point and
// 6 decimals. Non-finite values print shorter.
inline constexpr std::size_t kMaxFloatFixed = 1 + 39 + 1 + 6;
// The longest text FormatInt writes without a width: a sign and 19 digits.
inline constexpr std::size_t kMaxIntText = 20;

// Whether LineWriter checks every write (builds with assertions: NDEBUG not defined).
#ifdef NDEBUG
inline constexpr bool kCheckedLines = false;
#else
inline constexpr bool kCheckedLines = true;
#endif

// Text written at a cursor into memory sized in advance. The caller gives it room for the
// longest form of everything it writes: each kind of line has a byte budget (a constexpr beside
// the code that writes it) built from the longest form of each of its parts, kMaxFloatFixed for
// a number FormatFixed writes, kMaxIntText for an integer, the full length of a fixed-size copy.
//
// Release builds write without a check. With assertions, every write is checked against the
// end of the memory, and every write between Line(budget) and EndLine() counts the longest
// form of what it writes against the line's budget, whatever the values: a line kind that gains
// a part without a larger budget stops at its first line, not at the rare value that overflows.
class LineWriter {
  public:
    LineWriter(char* start, char* end) : start_(start), at_(start), end_(end) {}

    // Begins a line of at most `budget` bytes, CR LF included (EndLine ends it).
    LineWriter& Line(std::size_t budget) {
        if constexpr (kCheckedLines) {
            assert(lineBudget_ == kNoLine && "a line begun inside another");
            lineBudget_ = budget;
            lineMost_ = 0;
        }
        return *this;
    }
    LineWriter& Str(std::string_view text) {
        Take(text.size());
        if (text.empty()) return *this;
        std::memcpy(at_, text.data(), text.size());
        at_ += text.size();
        return *this;
    }
    LineWriter& Char(char c) {
        Take(1);
        *at_++ = c;
        return *this;
    }
    // printf("%.<precision>f") with the tool's rounding rule, of a float's value (or 1 minus
    // one) at up to 6 decimals: at most kMaxFloatFixed bytes.
    LineWriter& Fixed(double value, int precision) {
        // A float's value: finite below 2^128, or infinite (a short text).
        assert(precision <= 6 && (std::isinf(value) || !(value >= 0x1p128 || value <= -0x1p128)));
        Take(kMaxFloatFixed);
        at_ += FormatFixed(at_, value, precision);
        return *this;
    }
    // printf("%d"), or "%02d" with width 2: at most kMaxIntText bytes.
    LineWriter& Int(std::int64_t value, int width = 0) {
        assert(width <= 2);
        Take(kMaxIntText);
        at_ += FormatInt(at_, value, width);
        return *this;
    }
    // CR LF, and the end of a line begun with Line().
    LineWriter& EndLine() {
        Str("\r\n");
        if constexpr (kCheckedLines) {
            assert(lineMost_ <= lineBudget_ && "a line longer than its budget");
            lineBudget_ = kNoLine;
        }
        return *this;
    }
    // A number of at most kMaxIntText bytes from `digits` (which holds kMaxIntText bytes): the
    // copy is always kMaxIntText bytes long, which costs less than a copy of the exact length,
    // and the bytes past the number are overwritten by what follows. Its room is a number's
    // room in the line budget.
    LineWriter& Digits(const char (&digits)[kMaxIntText], std::size_t length) {
        assert(length <= kMaxIntText);
        Take(kMaxIntText);
        std::memcpy(at_, digits, kMaxIntText);
        at_ += length;
        return *this;
    }
    // `length` bytes of `text`, copied as a block of N bytes (the text holds at least N) whose
    // bytes past `length` are overwritten by what follows. The copy stands for text that could
    // have been written in `Room` bytes (at least N): that is what it takes of the line budget.
    template <std::size_t N, std::size_t Room = N>
    LineWriter& Copied(const char* text, std::size_t length) {
        static_assert(N <= Room);
        assert(length <= N);
        Take(Room);
        std::memcpy(at_, text, N);
        at_ += length;
        return *this;
    }
    std::size_t Written() const { return static_cast<std::size_t>(at_ - start_); }

  private:
    static constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

    // A write of at most `most` bytes is next.
    void Take([[maybe_unused]] std::size_t most) {
        if constexpr (kCheckedLines) {
            assert(most <= static_cast<std::size_t>(end_ - at_) && "a write past the end");
            if (lineBudget_ != kNoLine) lineMost_ += most;
        }
    }

    char* start_;
    char* at_;
    [[maybe_unused]] char* end_;
    std::size_t lineBudget_ = kNoLine;  // with assertions: the budget of the open line
    std::size_t lineMost_ = 0;          // and the most its writes so far could have taken
};

}  // namespace morvex

// Line-oriented text output with our number formatting: over an OutputFile, or into memory sized
// in advance. Every line of the text outputs ends with CR LF.
#pragma once

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

// Text written at a cursor into memory sized in advance, with no check per piece: the caller
// gives it room for the longest form of everything it writes (each writer states the longest
// line of each kind, from kMaxFloatFixed and kMaxIntText).
class LineWriter {
  public:
    explicit LineWriter(char* start) : start_(start), at_(start) {}

    LineWriter& Str(std::string_view text) {
        if (text.empty()) return *this;
        std::memcpy(at_, text.data(), text.size());
        at_ += text.size();
        return *this;
    }
    LineWriter& Char(char c) {
        *at_++ = c;
        return *this;
    }
    // printf("%.<precision>f") with the tool's rounding rule; at most kMaxFloatFixed bytes for
    // a float's value.
    LineWriter& Fixed(double value, int precision) {
        at_ += FormatFixed(at_, value, precision);
        return *this;
    }
    // printf("%d"), or "%02d" with width 2.
    LineWriter& Int(std::int64_t value, int width = 0) {
        at_ += FormatInt(at_, value, width);
        return *this;
    }
    LineWriter& EndLine() { return Str("\r\n"); }
    // A number of at most kMaxIntText bytes from `digits` (which holds kMaxIntText bytes): the
    // copy is always kMaxIntText bytes long, which costs less than a copy of the exact length,
    // and the bytes past the number are overwritten by what follows. Its room is a number's
    // room in the line budget.
    LineWriter& Digits(const char (&digits)[kMaxIntText], std::size_t length) {
        std::memcpy(at_, digits, kMaxIntText);
        at_ += length;
        return *this;
    }
    // `length` bytes of `text`, copied as a block of N bytes (the text holds at least N) whose
    // bytes past `length` are overwritten by what follows; the room is N bytes.
    template <std::size_t N>
    LineWriter& Copied(const char* text, std::size_t length) {
        std::memcpy(at_, text, N);
        at_ += length;
        return *this;
    }
    std::size_t Written() const { return static_cast<std::size_t>(at_ - start_); }

  private:
    char* start_;
    char* at_;
};

}  // namespace morvex

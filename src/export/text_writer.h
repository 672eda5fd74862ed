// Line-oriented text output with our number formatting, over an OutputFile. Every line of the
// text outputs ends with CR LF.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "export/number_format.h"
#include "export/output_file.h"

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

}  // namespace morvex

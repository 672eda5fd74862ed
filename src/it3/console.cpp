#include "it3/console.h"

#include <algorithm>
#include <cstdarg>

namespace morvex {

void Console::Append(const char* prefix, const char* format, std::va_list args) {
    if (out_ != nullptr) {
        std::fputs(prefix, out_);
        std::vfprintf(out_, format, args);
        return;
    }
    captured_ += prefix;
    std::va_list again;
    va_copy(again, args);
    char small[256];
    const int length = std::vsnprintf(small, sizeof small, format, args);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof small) {
        captured_.append(small, static_cast<std::size_t>(length));
    } else if (length > 0) {
        const std::size_t at = captured_.size();
        captured_.resize(at + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(captured_.data() + at, static_cast<std::size_t>(length) + 1, format, again);
        captured_.pop_back();  // the NUL vsnprintf wrote
    }
    va_end(again);
}

void Console::Print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    Append("", format, args);
    va_end(args);
}

void Console::Warning(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    Append("Warning : ", format, args);
    va_end(args);
    Print("\n");
}

void Console::Error(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    Append("Error : ", format, args);
    va_end(args);
    Print("\n");
}

void Console::Written(std::string_view path) {
    if (out_ != nullptr) {
        std::fputs("-> ", out_);
        std::fwrite(path.data(), 1, path.size(), out_);
        std::fputc('\n', out_);
        return;
    }
    captured_ += "-> ";
    captured_ += path;
    captured_ += '\n';
}

void Console::Flush() {
    if (out_ != nullptr) std::fflush(out_);
}

std::string ConsoleName(std::string_view name) {
    std::string shown(name);
    std::replace_if(
        shown.begin(), shown.end(),
        [](char c) { return IsControlByte(static_cast<unsigned char>(c)); }, '?');
    return shown;
}

}  // namespace morvex

#include "it3/console.h"

#include <algorithm>
#include <cstdarg>

#include "platform/platform.h"

namespace morvex {

void WriteText(std::FILE* stream, std::string_view text) {
    if (platform::kWindows && platform::WriteToConsole(stream, text)) return;
    std::fwrite(text.data(), 1, text.size(), stream);
}

void Console::Append(const char* prefix, const char* format, std::va_list args) {
    std::string local;
    std::string& text = out_ != nullptr ? local : captured_;
    text += prefix;
    std::va_list again;
    va_copy(again, args);
    char small[256];
    const int length = std::vsnprintf(small, sizeof small, format, args);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof small) {
        text.append(small, static_cast<std::size_t>(length));
    } else if (length > 0) {
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data() + at, static_cast<std::size_t>(length) + 1, format, again);
        text.pop_back();  // the NUL vsnprintf wrote
    }
    va_end(again);
    if (out_ != nullptr) WriteText(out_, text);
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
        std::string line = "-> ";
        line += path;
        line += '\n';
        WriteText(out_, line);
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

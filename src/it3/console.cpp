#include "it3/console.h"

#include <algorithm>
#include <cstdarg>

#include "platform/platform.h"

namespace morvex {
namespace {

// The printf-style text, formatted.
std::string Formatted(const char* format, std::va_list args) {
    std::va_list again;
    va_copy(again, args);
    char small[256];
    std::string text;
    const int length = std::vsnprintf(small, sizeof small, format, args);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof small) {
        text.assign(small, static_cast<std::size_t>(length));
    } else if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.pop_back();  // the NUL vsnprintf wrote
    }
    va_end(again);
    return text;
}

}  // namespace

void WriteText(std::FILE* stream, std::string_view text) {
    if (platform::kWindows && platform::WriteToConsole(stream, text)) return;
    std::fwrite(text.data(), 1, text.size(), stream);
}

void Console::Message(const char* prefix, std::string* first, bool always, const char* format,
                      std::va_list args) {
    const std::string text = Formatted(format, args);
    if (first != nullptr && first->empty()) *first = text;
    if (quiet_ && !always) return;
    if (out_ != nullptr) {
        WriteText(messagesOut_, prefix + text + '\n');
        return;
    }
    std::string& captured = apart_ ? capturedMessages_ : captured_;
    captured += prefix;
    captured += text;
    captured += '\n';
}

void Console::Warning(const char* format, ...) {
    ++messages.warnings;
    std::va_list args;
    va_start(args, format);
    Message("Warning : ", nullptr, false, format, args);
    va_end(args);
}

void Console::Damage(const char* format, ...) {
    ++messages.warnings;
    ++messages.damage;
    std::va_list args;
    va_start(args, format);
    Message("Warning : ", &messages.firstDamage, false, format, args);
    va_end(args);
}

void Console::Error(const char* format, ...) {
    ++messages.errors;
    std::va_list args;
    va_start(args, format);
    Message("Error : ", &messages.firstError, true, format, args);
    va_end(args);
}

void Console::Written(std::string_view path) {
    if (quiet_) return;
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
    if (messagesOut_ != nullptr && messagesOut_ != out_) std::fflush(messagesOut_);
}

std::string ConsoleName(std::string_view name) {
    std::string shown(name);
    std::replace_if(
        shown.begin(), shown.end(),
        [](char c) { return IsControlByte(static_cast<unsigned char>(c)); }, '?');
    return shown;
}

}  // namespace morvex

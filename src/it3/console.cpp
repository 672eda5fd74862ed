#include "it3/console.h"

#include <cinttypes>
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
    ++counters.linesPrinted;
    counters.bytesPrinted += std::char_traits<char>::length(prefix) + text.size() + 1;
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
    Message("Warning : ", &messages.firstWarning, false, format, args);
    va_end(args);
}

void Console::Damage(const char* format, ...) {
    ++messages.warnings;
    ++messages.damage;
    std::va_list args;
    va_start(args, format);
    Message("Warning : ", &messages.firstDamage, false, format, args);
    va_end(args);
    // The first warning of all when none came before it.
    if (messages.firstWarning.empty()) messages.firstWarning = messages.firstDamage;
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
    const std::string shown = ConsoleName(path);
    ++counters.linesPrinted;
    counters.bytesPrinted += shown.size() + 4;
    if (out_ != nullptr) {
        std::string line = "-> ";
        line += shown;
        line += '\n';
        WriteText(out_, line);
        return;
    }
    captured_ += "-> ";
    captured_ += shown;
    captured_ += '\n';
}

void Console::SummariseRepeats() {
    // By kind, in the order of Repeated; unknown blocks are summarised by the scan.
    static constexpr const char* kMore[kRepeatedKinds] = {
        nullptr,
        "textures can not be converted",
        "objects skipped",
        "warnings about meshes",
        "glTF images skipped",
        "files can not be created or written",
    };
    for (std::size_t k = 0; k < kRepeatedKinds; ++k) {
        const auto kind = static_cast<Repeated>(k);
        const std::uint64_t beyond = Beyond(kind);
        if (beyond == 0 || kMore[k] == nullptr) continue;
        More(kind, "%" PRIu64 " more %s.", beyond, kMore[k]);
    }
    repeats_ = {};
}

bool Console::Repeat(Repeated kind) {
    if (++repeats_[static_cast<std::size_t>(kind)] <= kRepeatLimit) return true;
    // Counted as the message it stands for.
    if (kind == Repeated::Output) {
        ++messages.errors;
    } else {
        ++messages.warnings;
        messages.damage += kind != Repeated::UnknownBlock;
    }
    return false;
}

void Console::More(Repeated kind, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    Message(kind == Repeated::Output ? "Error : " : "Warning : ", nullptr, kind == Repeated::Output,
            format, args);
    va_end(args);
}

void Console::Flush() {
    if (out_ != nullptr) std::fflush(out_);
    if (messagesOut_ != nullptr && messagesOut_ != out_) std::fflush(messagesOut_);
}

std::string ConsoleName(std::string_view name) {
    std::string shown;
    shown.reserve(name.size());
    for (std::size_t k = 0; k < name.size(); ++k) {
        const auto c = static_cast<unsigned char>(name[k]);
        if (IsControlByte(c)) {
            shown += '?';
        } else if (c == 0xC2 && k + 1 < name.size() &&
                   (static_cast<unsigned char>(name[k + 1]) & 0xE0) == 0x80) {
            shown += '?';  // U+0080 to U+009F
            ++k;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

}  // namespace morvex

#include "it3/console.h"

#include <cinttypes>
#include <cstdarg>
#include <cstring>

namespace morvex {

void Console::Append(const char* prefix, const char* format, std::va_list args) {
    const std::size_t prefixLength = std::strlen(prefix);
    if (out_ != nullptr) {
        std::fputs(prefix, out_);
        const int length = std::vfprintf(out_, format, args);
        counters.bytesPrinted += prefixLength + static_cast<std::size_t>(length > 0 ? length : 0);
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
    counters.bytesPrinted += prefixLength + static_cast<std::size_t>(length > 0 ? length : 0);
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
    ++counters.linesPrinted;
}

void Console::Error(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    Append("Error : ", format, args);
    va_end(args);
    Print("\n");
    ++counters.linesPrinted;
}

void Console::Written(std::string_view path) {
    const std::string shown = ConsoleName(path);
    ++counters.linesPrinted;
    counters.bytesPrinted += shown.size() + 4;
    if (out_ != nullptr) {
        std::fputs("-> ", out_);
        std::fwrite(shown.data(), 1, shown.size(), out_);
        std::fputc('\n', out_);
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
        if (kind == Repeated::Output) {
            Error("%" PRIu64 " more %s.", beyond, kMore[k]);
        } else {
            Warning("%" PRIu64 " more %s.", beyond, kMore[k]);
        }
    }
    repeats_ = {};
}

void Console::Flush() {
    if (out_ != nullptr) std::fflush(out_);
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

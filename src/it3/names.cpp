#include "it3/names.h"

#include <algorithm>
#include <array>

#include "it3/console.h"

namespace morvex {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool IsTrail(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

void Undecoded(std::string_view bytes, Undecodable undecodable, std::string& out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        if (undecodable == Undecodable::Replace) {
            out += kReplacement;
        } else {
            const auto b = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
}

// What Windows would read as another name: trailing dots and blanks (which it drops) each
// become '_', and a device name gets a '_' in front.
void KeepWindowsName(std::string& name) {
    for (std::size_t k = name.size(); k > 0 && (name[k - 1] == '.' || name[k - 1] == ' '); --k) {
        name[k - 1] = '_';
    }
    if (IsDeviceName(name)) name.insert(name.begin(), '_');
}

}  // namespace

bool IsDeviceName(std::string_view name) {
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    static constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN",    "AUX",
                                                                 "NUL", "CONIN$", "CONOUT$"};
    if (std::find(kDevices.begin(), kDevices.end(), upper) != kDevices.end()) return true;
    if (upper.size() < 4) return false;
    const std::string_view head = std::string_view(upper).substr(0, 3);
    const std::string_view digit = std::string_view(upper).substr(3);
    return (head == "COM" || head == "LPT") &&
           ((digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
            digit == "\xC2\xB2" || digit == "\xC2\xB3");
}

bool IsUtf8(std::string_view text) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            if (b == 0xE0) low = 0xA0;   // no overlong forms
            if (b == 0xED) high = 0x9F;  // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;  // nothing past U+10FFFF
        } else {
            return false;
        }
        if (n - i < length) return false;
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if (c < 0x80 || c > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

std::size_t Cp932Length(std::string_view text) {
    return text.size() >= 2 && IsLead(static_cast<unsigned char>(text[0])) &&
                   IsTrail(static_cast<unsigned char>(text[1]))
               ? 2
               : 1;
}

std::string DecodeName(std::string_view name, Undecodable undecodable) {
    if (IsUtf8(name)) return std::string(name);
    std::string out;
    out.reserve(name.size() * 3 / 2);
    for (std::size_t i = 0; i < name.size();) {
        const auto b = static_cast<unsigned char>(name[i]);
        const std::size_t length = Cp932Length(name.substr(i));
        const std::string_view character = name.substr(i, length);
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else if (b >= 0xA1 && b <= 0xDF) {
            // Half-width katakana: U+FF61 to U+FF9F.
            const unsigned code = 0xFF61 + (b - 0xA1);
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (length == 1 || !platform::AppendCp932Character(character, out)) {
            // A lone byte (0x80, 0xA0, 0xFD to 0xFF, a lead byte without its trail), or a code
            // without a character.
            Undecoded(character, undecodable, out);
        }
        i += length;
    }
    return out;
}

std::string SafeName(std::string_view name, NameForm form) {
    std::string safe = form.decode ? DecodeName(name, Undecodable::Escape) : std::string(name);
    // Valid UTF-8 has no ASCII byte inside a character; anything else is read as code page 932,
    // whose second bytes may be ASCII ones.
    const bool cp932 = !form.decode && !IsUtf8(safe);
    for (std::size_t i = 0; i < safe.size();) {
        const std::size_t length = cp932 ? Cp932Length(std::string_view(safe).substr(i)) : 1;
        char& c = safe[i];
        if (length == 1 &&
            (c == ':' || c == '/' || c == '\\' || IsControlByte(static_cast<unsigned char>(c)) ||
             (form.windows &&
              (c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')))) {
            c = '_';
        }
        i += length;
    }
    if (form.windows) KeepWindowsName(safe);
    return safe;
}

std::string SafeComponent(std::string_view name) {
    std::string safe = SafeName(name);
    if (safe.empty()) return "_";
    KeepWindowsName(safe);
    return safe;
}

std::string TextName(std::string_view name, NameForm form) {
    return form.decode ? DecodeName(name, Undecodable::Escape) : std::string(name);
}

}  // namespace morvex

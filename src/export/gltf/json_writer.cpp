#include "export/gltf/json_writer.h"

#include <algorithm>
#include <charconv>

namespace morvex {

void AppendJsonString(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    out += '"';
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        // A run of bytes that stand for themselves (every key, most names) goes in at once.
        std::size_t plain = i;
        while (plain < n) {
            const auto b = static_cast<unsigned char>(bytes[plain]);
            if (b < 0x20 || b >= 0x80 || b == '"' || b == '\\') break;
            ++plain;
        }
        if (plain > i) {
            out.append(bytes.data() + i, plain - i);
            i = plain;
            continue;
        }
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20) {
                        out += "\\u00";
                        out += kHex[c >> 4];
                        out += kHex[c & 15];
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        // The length of the sequence a lead byte starts and the range of its second byte
        // (the later ones are always 80..BF); 0 for bytes that start no sequence.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;   // no overlong forms
            if (c == 0xED) high = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;   // no overlong forms
            if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
        }
        std::size_t good = length == 0 ? 0 : 1;  // bytes of a well-formed prefix
        while (good > 0 && good < length && i + good < n) {
            const auto next = static_cast<unsigned char>(bytes[i + good]);
            const bool fits =
                good == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
            if (!fits) break;
            ++good;
        }
        if (length != 0 && good == length) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            out += kReplacement;
            i += good == 0 ? 1 : good;
        }
    }
    out += '"';
}

void AppendJsonInt(std::string& out, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void AppendJsonNumber(std::string& out, double value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (depth_ == 0) return;
    bool& filled = filled_[static_cast<std::size_t>(std::min(depth_, kMaxDepth) - 1)];
    if (filled) out_ += ',';
    filled = true;
}

JsonWriter& JsonWriter::Open(char bracket) {
    BeforeValue();
    out_ += bracket;
    ++depth_;
    if (depth_ <= kMaxDepth) filled_[static_cast<std::size_t>(depth_ - 1)] = false;
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
    out_ += bracket;
    if (depth_ > 0) --depth_;
    return *this;
}

JsonWriter& JsonWriter::Key(JsonName name) {
    BeforeValue();
    out_ += '"';
    out_ += name.Text();
    out_ += "\":";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view bytes) {
    BeforeValue();
    AppendJsonString(out_, bytes);
    return *this;
}

JsonWriter& JsonWriter::Int(std::int64_t value) {
    BeforeValue();
    AppendJsonInt(out_, value);
    return *this;
}

JsonWriter& JsonWriter::Number(double value) {
    BeforeValue();
    AppendJsonNumber(out_, value);
    return *this;
}

}  // namespace morvex

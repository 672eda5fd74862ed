#include "export/gltf/json_writer.h"

#include <algorithm>
#include <charconv>

#include "it3/names.h"

namespace morvex {

void AppendJsonString(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    // From here on the text is UTF-8: its bytes from 0x80 on stand for themselves.
    std::string decoded;
    if (!IsUtf8(bytes)) {
        decoded = DecodeName(bytes, Undecodable::Replace);
        bytes = decoded;
    }
    out += '"';
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        // A run of bytes that stand for themselves (every key, most names) goes in at once.
        std::size_t plain = i;
        while (plain < n) {
            const auto b = static_cast<unsigned char>(bytes[plain]);
            if (b < 0x20 || b == '"' || b == '\\') break;
            ++plain;
        }
        if (plain > i) {
            out.append(bytes.data() + i, plain - i);
            i = plain;
            continue;
        }
        const auto c = static_cast<unsigned char>(bytes[i]);
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
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
        }
        ++i;
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

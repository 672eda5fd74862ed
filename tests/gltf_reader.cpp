#include "gltf_reader.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "test_support.h"

namespace morvex::test {
namespace {

class JsonReader {
  public:
    explicit JsonReader(std::string_view text) : s_(text) {}

    Json Document() {
        Json value = Value();
        Blanks();
        if (pos_ != s_.size()) Fail("text after the value");
        return value;
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at " + std::to_string(pos_));
    }
    void Blanks() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool Take(char c) {
        Blanks();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    void Expect(char c) {
        if (!Take(c)) Fail(std::string("expected ") + c);
    }
    void Word(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) Fail("bad literal");
        pos_ += word.size();
    }
    Json Value() {
        Blanks();
        if (pos_ >= s_.size()) Fail("end of text");
        Json v;
        char c = s_[pos_];
        if (c == '{') {
            v.kind = Json::Kind::Object;
            ++pos_;
            if (Take('}')) return v;
            do {
                Blanks();
                std::string key = String();
                Expect(':');
                v.keys.push_back(std::move(key));
                v.values.push_back(Value());
            } while (Take(','));
            Expect('}');
        } else if (c == '[') {
            v.kind = Json::Kind::Array;
            ++pos_;
            if (Take(']')) return v;
            do {
                v.items.push_back(Value());
            } while (Take(','));
            Expect(']');
        } else if (c == '"') {
            v.kind = Json::Kind::String;
            v.text = String();
        } else if (c == 't' || c == 'f') {
            v.kind = Json::Kind::Bool;
            v.boolean = c == 't';
            Word(v.boolean ? "true" : "false");
        } else if (c == 'n') {
            Word("null");
        } else {
            v.kind = Json::Kind::Number;
            std::size_t start = pos_;
            if (s_[pos_] == '-') ++pos_;
            auto digits = [&] {
                std::size_t from = pos_;
                while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
                if (pos_ == from) Fail("digits expected");
            };
            if (pos_ < s_.size() && s_[pos_] == '0') {
                ++pos_;
            } else {
                digits();
            }
            if (pos_ < s_.size() && s_[pos_] == '.') ++pos_, digits();
            if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
                ++pos_;
                if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
                digits();
            }
            v.number = std::strtod(std::string(s_.substr(start, pos_ - start)).c_str(), nullptr);
        }
        return v;
    }
    static void PutUtf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 63));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 63));
            out += static_cast<char>(0x80 | (cp & 63));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 63));
            out += static_cast<char>(0x80 | ((cp >> 6) & 63));
            out += static_cast<char>(0x80 | (cp & 63));
        }
    }
    std::uint32_t Hex4() {
        if (s_.size() - pos_ < 4) Fail("short \\u escape");
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                Fail("bad hex digit");
        }
        return v;
    }
    std::string String() {
        if (pos_ >= s_.size() || s_[pos_] != '"') Fail("string expected");
        ++pos_;
        std::string out;
        for (;;) {
            if (pos_ >= s_.size()) Fail("unterminated string");
            auto c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') return out;
            if (c < 0x20) Fail("control character in a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (pos_ >= s_.size()) Fail("unterminated escape");
            char e = s_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::uint32_t cp = Hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && s_.substr(pos_, 2) == "\\u") {
                        pos_ += 2;
                        std::uint32_t low = Hex4();
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    PutUtf8(out, cp);
                    break;
                }
                default:
                    Fail("bad escape");
            }
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

std::size_t ComponentsOf(const std::string& type) {
    return type == "SCALAR" ? 1 : type == "VEC2" ? 2 : type == "VEC3" ? 3 : 4;
}

}  // namespace

Json ParseJson(std::string_view text) {
    return JsonReader(text).Document();
}

bool IsUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80                 ? 1
                        : c >= 0xC2 && c <= 0xDF ? 2
                        : c >= 0xE0 && c <= 0xEF ? 3
                        : c >= 0xF0 && c <= 0xF4 ? 4
                                                 : 0;
        if (n == 0 || s.size() - i < n) return false;
        std::uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 63);
        }
        const std::uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
        i += n;
    }
    return true;
}

Glb ReadGlb(const std::filesystem::path& file) {
    std::vector<std::uint8_t> b = test::ReadBytes(file);
    auto check = [](bool ok, const char* what) {
        if (!ok) throw std::runtime_error(std::string("GLB: ") + what);
    };
    check(b.size() >= 20, "file too short");
    check(U32At(b, 0) == 0x46546C67, "magic");
    check(U32At(b, 4) == 2, "version");
    check(U32At(b, 8) == b.size(), "total length");
    std::uint32_t jsonLength = U32At(b, 12);
    check(U32At(b, 16) == 0x4E4F534A, "first chunk is not JSON");
    check(jsonLength % 4 == 0, "JSON chunk not padded");
    check(jsonLength <= b.size() - 20, "JSON chunk past the end");
    std::string text(reinterpret_cast<const char*>(b.data() + 20), jsonLength);
    check(IsUtf8(text), "JSON chunk is not UTF-8");
    Glb glb;
    glb.json = ParseJson(text);
    std::size_t at = 20 + jsonLength;
    if (at < b.size()) {
        check(b.size() - at >= 8, "short BIN chunk header");
        std::uint32_t binLength = U32At(b, at);
        check(U32At(b, at + 4) == 0x004E4942, "second chunk is not BIN");
        check(binLength % 4 == 0, "BIN chunk not padded");
        check(binLength == b.size() - at - 8, "BIN chunk length");
        glb.bin.assign(b.begin() + static_cast<std::ptrdiff_t>(at + 8), b.end());
        glb.hasBin = true;
    }
    const Json& doc = glb.json;
    check(doc["asset"]["version"].text == "2.0", "asset version");
    if (doc.Has("buffers")) {
        check(doc["buffers"].Size() == 1 && glb.hasBin, "one buffer, the BIN chunk");
        check(doc["buffers"][0]["byteLength"].number == static_cast<double>(glb.bin.size()),
              "buffer length");
    } else {
        check(!glb.hasBin, "BIN chunk without a buffer");
    }
    if (doc.Has("bufferViews")) {
        for (const Json& view : doc["bufferViews"].items) {
            auto offset = static_cast<std::uint64_t>(view["byteOffset"].number);
            auto length = static_cast<std::uint64_t>(view["byteLength"].number);
            check(offset % 4 == 0, "bufferView not 4-byte aligned");
            check(offset + length <= glb.bin.size(), "bufferView past the buffer");
        }
    }
    return glb;
}

std::vector<double> AccessorValues(const Glb& glb, std::size_t a) {
    const Json& accessor = glb.json["accessors"][a];
    const Json& view = glb.json["bufferViews"][accessor["bufferView"].Index()];
    const std::size_t count = accessor["count"].Index() * ComponentsOf(accessor["type"].text);
    const int type = static_cast<int>(accessor["componentType"].number);
    const std::size_t size = type == 5123 ? 2 : 4;
    if (count * size > view["byteLength"].Index())
        throw std::runtime_error("accessor past its view");
    const std::uint8_t* p = glb.bin.data() + view["byteOffset"].Index();
    std::vector<double> values(count);
    for (std::size_t k = 0; k < count; ++k) {
        if (type == 5126) {
            float f;
            std::memcpy(&f, p + 4 * k, 4);
            values[k] = f;
        } else if (type == 5125) {
            std::uint32_t v;
            std::memcpy(&v, p + 4 * k, 4);
            values[k] = v;
        } else {
            std::uint16_t v;
            std::memcpy(&v, p + 2 * k, 2);
            values[k] = v;
        }
    }
    return values;
}

std::vector<std::uint8_t> ViewBytes(const Glb& glb, std::size_t v) {
    const Json& view = glb.json["bufferViews"][v];
    auto begin = glb.bin.begin() + static_cast<std::ptrdiff_t>(view["byteOffset"].Index());
    return std::vector<std::uint8_t>(
        begin, begin + static_cast<std::ptrdiff_t>(view["byteLength"].Index()));
}

}  // namespace morvex::test

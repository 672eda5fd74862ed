// The binary glTF output (-g): JSON names, pictures and PNG encoding, and whole files read back
// with our own GLB reader, compared with the OBJ output, and checked by the glTF validator.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "decode/texture_block.h"
#include "decoder_test_support.h"
#include "export/gltf_writer.h"
#include "export/png_encode.h"
#include "test_support.h"
#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using test::V;
using testdata::ByteVector;
using testdata::It3Writer;
using testdata::Material;
using testdata::Mesh;
using testdata::PayloadWriter;

// ---------------------------------------------------------------------------------------------
// A strict JSON reader: enough to walk a glTF document, and strict enough that a document it
// accepts is valid JSON (no control characters in strings, only valid escapes, nothing after the
// value but blanks).

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::string> keys;  // an object's member names, in order
    std::vector<Json> values;       // and their values

    bool Has(const std::string& key) const {
        return std::find(keys.begin(), keys.end(), key) != keys.end();
    }
    const Json& operator[](const std::string& key) const {
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (keys[k] == key) return values[k];
        }
        throw std::runtime_error("no member " + key);
    }
    const Json& operator[](std::size_t i) const {
        if (i >= items.size()) throw std::runtime_error("index past the array");
        return items[i];
    }
    std::size_t Size() const { return kind == Kind::Array ? items.size() : keys.size(); }
    std::size_t Index() const { return static_cast<std::size_t>(number); }
};

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

// True when `s` is well-formed UTF-8.
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

// ---------------------------------------------------------------------------------------------
// A GLB reader: checks the container and gives typed access to accessors.

struct Glb {
    Json json;
    std::vector<std::uint8_t> bin;
    bool hasBin = false;
};

std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// Reads and checks a .glb file; throws on any fault of the container.
Glb ReadGlb(const fs::path& file) {
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
    glb.json = JsonReader(text).Document();
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

std::size_t ComponentsOf(const std::string& type) {
    return type == "SCALAR" ? 1 : type == "VEC2" ? 2 : type == "VEC3" ? 3 : 4;
}

// The data of accessor `a` (tightly packed, as the writer stores them), as doubles.
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

// The bytes of bufferView v.
std::vector<std::uint8_t> ViewBytes(const Glb& glb, std::size_t v) {
    const Json& view = glb.json["bufferViews"][v];
    auto begin = glb.bin.begin() + static_cast<std::ptrdiff_t>(view["byteOffset"].Index());
    return std::vector<std::uint8_t>(
        begin, begin + static_cast<std::ptrdiff_t>(view["byteLength"].Index()));
}

// ---------------------------------------------------------------------------------------------
// Test models.

Mesh Triangle(std::int32_t material) {
    Mesh mesh;
    mesh.vertices = {V(1, 2, 3, 0.25f, 0.75f), V(1, 0, 3, 1, 0), V(0, -1, 0.5f, 0, 1)};
    mesh.indices = {0, 1, 2};
    mesh.materialIndex = material;
    return mesh;
}

// Two objects: "alpha" with a box (material 0), a sphere (1) and a triangle (0); "beta" with a
// triangle (1).
It3Writer TwoObjects(const std::string& tag) {
    It3Writer file;
    std::vector<Material> materials = {{"skin", "", "", 30.0f}, {"metal", "", "", 0.0f}};
    file.Info("alpha").Block("MATE", testdata::MaterialPayload("MATE", materials));
    file.Block(tag, testdata::VertexPayload(
                        tag, {testdata::BoxMesh({0, 0, 0.5f}, {0.5f, 0.25f, 0.5f}, 0),
                              testdata::SphereMesh({2, 1, 1}, 0.5f, 6, 8, 1), Triangle(0)}));
    file.Info("beta").Block("MAT2", testdata::MaterialPayload("MAT2", materials));
    file.Block(tag, testdata::VertexPayload(tag, {Triangle(1)}));
    return file;
}

std::uint32_t BitmapStrideOf(int bitsPerPixel, int width) {
    return static_cast<std::uint32_t>(((bitsPerPixel * width + 31) >> 3) & ~3);
}

// A TEXI payload of format 1002: RGBX palette entries, 8-bit indices, rows top first.
ByteVector Texture1002(const std::string& name, int width, int height,
                       const std::vector<std::array<std::uint8_t, 4>>& palette,
                       const std::vector<std::uint8_t>& indices) {
    ByteVector paletteBytes, pixels(BitmapStrideOf(8, width) * static_cast<std::size_t>(height), 0);
    for (const auto& entry : palette)
        paletteBytes.insert(paletteBytes.end(), entry.begin(), entry.end());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            pixels[y * BitmapStrideOf(8, width) + static_cast<std::size_t>(x)] =
                indices[static_cast<std::size_t>(y * width + x)];
    }
    PayloadWriter w;
    w.Text(name, kTextureNameSize)
        .U32(1002)
        .I32(width)
        .I32(height)
        .Chunk(paletteBytes)
        .Chunk(pixels);
    return w.bytes;
}

// A TEXI payload of format 1001: 16-bit pixels, rows top first.
ByteVector Texture1001(const std::string& name, int width, int height,
                       const std::vector<std::uint16_t>& values) {
    ByteVector pixels(BitmapStrideOf(16, width) * static_cast<std::size_t>(height), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::size_t at = y * BitmapStrideOf(16, width) + 2 * static_cast<std::size_t>(x);
            std::uint16_t v = values[static_cast<std::size_t>(y * width + x)];
            pixels[at] = static_cast<std::uint8_t>(v);
            pixels[at + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    }
    PayloadWriter w;
    w.Text(name, kTextureNameSize).U32(1001).I32(width).I32(height).Chunk(pixels);
    return w.bytes;
}

// Whether this build converts textures at all (the conversion may still be missing).
bool TexturesConvert() {
    ByteVector payload = Texture1002("probe", 2, 1, {{1, 2, 3, 4}}, {0, 0});
    std::vector<std::uint8_t> image;
    return ConvertToBitmap(image, Bytes(payload).subspan(kTextureNameSize)) == kBitmapOk;
}

const std::vector<std::array<std::uint8_t, 4>> kColours = {
    {255, 0, 0, 0x80}, {0, 255, 0, 0x80}, {0, 0, 255, 0x80}, {10, 20, 30, 0}};
const std::vector<std::array<std::uint8_t, 4>> kGreys = {
    {0, 0, 0, 0}, {255, 255, 255, 0}, {128, 128, 128, 0}};

// Textured materials: "paint" (a 1002 texture), "tile" (a 1001 texture), "leaf" (the 1002
// texture with a smaller alpha map of black and white), "glass" (alpha map with grey, no
// texture), "lost" (a texture no block holds), "odd" (a texture of an unknown format).
It3Writer TexturedModel() {
    It3Writer file;
    std::vector<Material> materials = {{"paint", "rgb", "", 10.0f},    {"tile", "hi", "", 10.0f},
                                       {"leaf", "rgb", "cut", 10.0f},  {"glass", "", "grey", 10.0f},
                                       {"lost", "nothere", "", 10.0f}, {"odd", "weird", "", 10.0f}};
    std::vector<Mesh> meshes;
    for (std::int32_t m = 0; m < 6; ++m) meshes.push_back(Triangle(m));
    file.Info("things").Block("MATE", testdata::MaterialPayload("MATE", materials));
    file.Block("VPA4", testdata::VertexPayload("VPA4", meshes));
    // 3 x 2: red green blue / blue (10,20,30) red.
    file.Block("TEXI", Texture1002("rgb", 3, 2, kColours, {0, 1, 2, 2, 3, 0}));
    // 2 x 2 of X1R5G5B5: white, pure red, pure green, pure blue (top bits set and clear).
    file.Block("TEXI", Texture1001("hi", 2, 2, {0xFFFF, 0x7C00, 0x83E0, 0x001F}));
    // 2 x 1: black, white, stretched over the 3 x 2 texture.
    file.Block("TEXI", Texture1002("cut", 2, 1, kGreys, {0, 1}));
    file.Block("TEXI", Texture1002("grey", 2, 1, kGreys, {2, 1}));
    PayloadWriter weird;
    weird.Text("weird", kTextureNameSize).U32(1003).I32(2).I32(2).Zeros(32);
    file.Block("TEXI", weird.bytes);
    file.Block("TEXI", Texture1002("rgb", 1, 1, kGreys, {1}));  // same name again: not used
    return file;
}

// ---------------------------------------------------------------------------------------------
// Fixture: converts models with -g into `out`.

class GltfTest : public ::testing::Test {
  protected:
    test::RunResult Convert(const It3Writer& file, const std::string& name = "robo",
                            std::vector<std::string> options = {"-g"}) {
        test::WriteBytes(dir / (name + ".it3"), file.Bytes());
        fs::create_directories(dir / "out");
        options.push_back(name + ".it3");
        options.push_back("out");
        return test::RunMorvex(options, dir.Path());
    }
    Glb Read(const std::string& name = "robo.glb") { return ReadGlb(dir / "out" / name); }
    // Converts robo.it3 into out/ in this process; returns the peak of the bytes held meanwhile.
    std::int64_t ConvertInProcess(const It3Writer& file, test::ConvertResult& r) {
        test::WriteBytes(dir / "robo.it3", file.Bytes());
        fs::create_directories(dir / "out");
        test::PeakLiveBytes tracker;
        r = test::ConvertInProcess(dir / "robo.it3", (dir / "out").string() + "/", 2);
        return tracker.Peak();
    }

    test::TempDir dir;
};

// Expected attribute data of a source mesh after the axis change.
struct Expected {
    std::vector<double> positions, normals, texCoords, indices;
};

Expected ExpectedOf(const Mesh& mesh) {
    Expected e;
    for (const testdata::Vertex& v : mesh.vertices) {
        e.positions.insert(e.positions.end(), {v.position[0], v.position[2], -v.position[1]});
        double x = v.normal[0], y = v.normal[2], z = -static_cast<double>(v.normal[1]);
        double length = std::sqrt(x * x + y * y + z * z);
        e.normals.insert(e.normals.end(), {x / length, y / length, z / length});
        e.texCoords.insert(e.texCoords.end(), {v.texCoord[0], v.texCoord[1]});
    }
    for (std::size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
        e.indices.insert(e.indices.end(), {static_cast<double>(mesh.indices[t]),
                                           static_cast<double>(mesh.indices[t + 2]),
                                           static_cast<double>(mesh.indices[t + 1])});
    }
    return e;
}

void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                double tolerance, const std::string& what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (std::size_t k = 0; k < actual.size(); ++k) {
        ASSERT_NEAR(actual[k], expected[k], tolerance) << what << " value " << k;
    }
}

// ---------------------------------------------------------------------------------------------
// Names in JSON.

struct JsonNameCase {
    std::string input;
    std::string expected;  // the JSON text, quotes included
};

class JsonNames : public ::testing::TestWithParam<JsonNameCase> {};

TEST_P(JsonNames, EscapeAndRepair) {
    std::string out = "x";
    AppendJsonString(out, GetParam().input);
    EXPECT_EQ(out, "x" + GetParam().expected);
    std::string json = out.substr(1);
    EXPECT_TRUE(IsUtf8(json));
    EXPECT_NO_THROW(JsonReader(json).Document());
}

#define FFFD "\xEF\xBF\xBD"
INSTANTIATE_TEST_SUITE_P(
    Gltf, JsonNames,
    ::testing::Values(
        JsonNameCase{"", "\"\""}, JsonNameCase{"Body", "\"Body\""},
        JsonNameCase{"a\"b\\c/d", "\"a\\\"b\\\\c/d\""},
        JsonNameCase{std::string("\x01\b\t\n\f\r\x1F\x7F", 8),
                     "\"\\u0001\\b\\t\\n\\f\\r\\u001f\x7F\""},
        JsonNameCase{std::string("a\0b", 3), "\"a\\u0000b\""},
        // Well-formed UTF-8 of every length, the extremes included.
        JsonNameCase{
            "caf\xC3\xA9 \xE4\xBD\x93 \xF0\x9F\x98\x80 \xC2\x80 \xEF\xBF\xBF \xF4\x8F\xBF\xBF",
            "\"caf\xC3\xA9 \xE4\xBD\x93 \xF0\x9F\x98\x80 \xC2\x80 \xEF\xBF\xBF \xF4\x8F\xBF\xBF\""},
        // Stray continuation bytes and bytes that never start a sequence: one U+FFFD each.
        JsonNameCase{"a\x80\xBF"
                     "b",
                     "\"a" FFFD FFFD "b\""},
        JsonNameCase{"\xC0\xAF\xC1\xBF\xF5\xFF\xFE", "\"" FFFD FFFD FFFD FFFD FFFD FFFD FFFD "\""},
        // A truncated sequence is one U+FFFD, at the end or before another character.
        JsonNameCase{"x\xE4\xBD", "\"x" FFFD "\""},
        JsonNameCase{"\xE4\xBD"
                     "a",
                     "\"" FFFD "a\""},
        JsonNameCase{"\xF0\x9F\x98"
                     "\xC3\xA9",
                     "\"" FFFD "\xC3\xA9\""},
        // Overlong forms, surrogates and values past U+10FFFF are refused at their second byte.
        JsonNameCase{"\xE0\x80\x80", "\"" FFFD FFFD FFFD "\""},
        JsonNameCase{"\xED\xA0\x80", "\"" FFFD FFFD FFFD "\""},
        JsonNameCase{"\xF0\x80\x80\x80", "\"" FFFD FFFD FFFD FFFD "\""},
        JsonNameCase{"\xF4\x90\x80\x80", "\"" FFFD FFFD FFFD FFFD "\""},
        // Shift-JIS text (0x82 0xA0 ...) is not UTF-8.
        JsonNameCase{"\x82\xA0\x8A\xBF", "\"" FFFD FFFD FFFD FFFD "\""}));
#undef FFFD

TEST(GltfMaterial, RoughnessFollowsThePowerValue) {
    const std::pair<float, double> cases[] = {
        {0.0f, 1.0},
        {30.0f, 0.5},
        {30.7f, 0.5},
        {-30.9f, 0.5},
        {2.0f, std::pow(0.5, 0.25)},
        // Powers beyond the 32-bit range saturate, as in the text outputs.
        {1e30f, std::pow(2.0 / (2147483647.0 + 2), 0.25)},
        {-1e30f, std::pow(2.0 / (2147483647.0 + 2), 0.25)},
        {std::nanf(""), 1.0}};
    for (const auto& [power, roughness] : cases) {
        double r = RoughnessFromPower(power);
        EXPECT_NEAR(r, roughness, 0.005) << power;
        EXPECT_GE(r, 0.0);
        EXPECT_LE(r, 1.0);
    }
    EXPECT_GT(RoughnessFromPower(5.0f), RoughnessFromPower(50.0f));
}

TEST(GltfFile, NameIsTheSafeBaseName) {
    EXPECT_EQ(GltfFileName("", "robo"), "robo.glb");
    EXPECT_EQ(GltfFileName("out/", "a:b\\c/d"), "out/a_b_c_d.glb");
    EXPECT_EQ(GltfFileName("x:y/", ""), "x:y/.glb");
}

// ---------------------------------------------------------------------------------------------
// Pictures: BMP images in, RGBA out, PNG encoding.

// A BMP file image laid out as ConvertToBitmap builds it.
struct BitmapParts {
    int width, height, bitsPerPixel;
    std::vector<std::array<std::uint8_t, 4>> palette;  // as stored: blue, green, red, fourth
    std::vector<std::uint8_t> rows;                    // bottom row first, at the stride
};

std::vector<std::uint8_t> BuildBitmap(const BitmapParts& parts, std::uint32_t colorsUsed) {
    PayloadWriter w;
    auto p = static_cast<std::uint32_t>(parts.palette.size() * 4);
    w.U8('B')
        .U8('M')
        .U32(static_cast<std::uint32_t>(54 + p + parts.rows.size()))
        .U32(0)
        .U32(54 + p);
    w.U32(40)
        .I32(parts.width)
        .I32(parts.height)
        .U16(1)
        .U16(static_cast<std::uint16_t>(parts.bitsPerPixel));
    w.U32(0)
        .U32(static_cast<std::uint32_t>(parts.rows.size()))
        .U32(0)
        .U32(0)
        .U32(colorsUsed)
        .U32(0);
    for (const auto& e : parts.palette) w.Raw(e);
    w.Raw(parts.rows);
    return w.bytes;
}

TEST(GltfPicture, EightBitRowsComeOutTopFirstInPaletteColours) {
    // 3 x 2, stride 4: top row indices 0 1 2, bottom row 2 3 7 (7 lies past the palette).
    BitmapParts parts{3,
                      2,
                      8,
                      {{0, 0, 255, 9}, {0, 255, 0, 9}, {255, 0, 0, 9}, {30, 20, 10, 9}},
                      {2, 3, 7, 0xEE, 0, 1, 2, 0xEE}};
    RgbaPicture picture;
    ASSERT_TRUE(DecodeBitmap(BuildBitmap(parts, 4), picture));
    EXPECT_EQ(picture.width, 3u);
    EXPECT_EQ(picture.height, 2u);
    const std::vector<std::uint8_t> expected = {255, 0, 0,   255, 0,  255, 0,  255, 0, 0, 255, 255,
                                                0,   0, 255, 255, 10, 20,  30, 255, 0, 0, 0,   255};
    EXPECT_EQ(picture.pixels, expected);
    // Only the entries that "colours used" counts belong to the palette; 0 counts as 256.
    ASSERT_TRUE(DecodeBitmap(BuildBitmap(parts, 2), picture));
    EXPECT_EQ(picture.pixels,
              (std::vector<std::uint8_t>{255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 255,
                                         0,   0, 0, 255, 0, 0,   0, 255, 0, 0, 0, 255}));
    ASSERT_TRUE(DecodeBitmap(BuildBitmap(parts, 0), picture));
    EXPECT_EQ(picture.pixels, expected);
}

TEST(GltfPicture, SixteenBitPixelsAreFiveBitsPerColourWithoutAlpha) {
    // 1 x 2, stride 4 (2 bytes of padding): bottom 0x7C00 (red), top 0x83E0 (green, top bit set).
    BitmapParts parts{1, 2, 16, {}, {0x00, 0x7C, 0, 0, 0xE0, 0x83, 0, 0}};
    RgbaPicture picture;
    ASSERT_TRUE(DecodeBitmap(BuildBitmap(parts, 0), picture));
    EXPECT_EQ(picture.pixels, (std::vector<std::uint8_t>{0, 255, 0, 255, 255, 0, 0, 255}));
    // 5-bit values widen by repeating their top bits: 0x10 -> 0x84, 0x01 -> 0x08.
    BitmapParts mid{1, 1, 16, {}, {0x01, 0x40, 0, 0}};  // red 0x10, green 0, blue 1
    ASSERT_TRUE(DecodeBitmap(BuildBitmap(mid, 0), picture));
    EXPECT_EQ(picture.pixels, (std::vector<std::uint8_t>{0x84, 0, 0x08, 255}));
}

TEST(GltfPicture, NegativeHeightMeansTopRowFirst) {
    BitmapParts parts{1, -2, 8, {{0, 0, 255, 0}, {255, 0, 0, 0}}, {0, 0, 0, 0, 1, 0, 0, 0}};
    RgbaPicture picture;
    ASSERT_TRUE(DecodeBitmap(BuildBitmap(parts, 2), picture));
    EXPECT_EQ(picture.pixels, (std::vector<std::uint8_t>{255, 0, 0, 255, 0, 0, 255, 255}));
}

TEST(GltfPicture, RefusesImagesThatDoNotFit) {
    BitmapParts good{2, 2, 8, {{0, 0, 0, 0}}, std::vector<std::uint8_t>(8, 0)};
    std::vector<std::uint8_t> image = BuildBitmap(good, 1);
    RgbaPicture picture;
    ASSERT_TRUE(DecodeBitmap(image, picture));
    // Every prefix is refused: the rows must be there whole.
    for (std::size_t n = 0; n < image.size(); ++n) {
        EXPECT_FALSE(DecodeBitmap(Bytes(image).first(n), picture)) << n;
        EXPECT_TRUE(picture.pixels.empty());
    }
    auto patched = [&](std::size_t at, std::vector<std::uint8_t> bytes) {
        std::vector<std::uint8_t> copy = image;
        std::copy(bytes.begin(), bytes.end(), copy.begin() + static_cast<std::ptrdiff_t>(at));
        return copy;
    };
    EXPECT_FALSE(DecodeBitmap(patched(0, {'B', 'A'}), picture));     // signature
    EXPECT_FALSE(DecodeBitmap(patched(14, {108}), picture));         // header size
    EXPECT_FALSE(DecodeBitmap(patched(28, {24}), picture));          // 24 bits per pixel
    EXPECT_FALSE(DecodeBitmap(patched(30, {1}), picture));           // compressed
    EXPECT_FALSE(DecodeBitmap(patched(18, {0, 0, 0, 0}), picture));  // width 0
    EXPECT_FALSE(DecodeBitmap(patched(18, {0xFF, 0xFF, 0xFF, 0xFF}), picture));  // width -1
    EXPECT_FALSE(DecodeBitmap(patched(22, {0, 0, 0, 0}), picture));              // height 0
    EXPECT_FALSE(DecodeBitmap(patched(22, {0, 0, 0, 0x80}), picture));           // height INT32_MIN
    EXPECT_FALSE(DecodeBitmap(patched(22, {3}), picture));  // rows past the end
    EXPECT_FALSE(DecodeBitmap(patched(10, {0xFF, 0xFF, 0xFF, 0xFF}), picture));  // data offset
    EXPECT_FALSE(DecodeBitmap(patched(18, {0xFF, 0xFF, 0, 0}), picture));        // too many pixels
}

TEST(GltfPicture, AlphaMapLuminanceIsStretchedOverTheBase) {
    RgbaPicture base{4, 2, std::vector<std::uint8_t>(4 * 4 * 2, 7)};
    // 2 x 1: white, then grey (100, 150, 200) whose luminance is (77*100 + 150*150 + 29*200 + 128)
    // >> 8 = 141.
    RgbaPicture alphaMap{2, 1, {255, 255, 255, 255, 100, 150, 200, 0}};
    CombineAlpha(base, alphaMap);
    for (std::uint32_t y = 0; y < 2; ++y) {
        for (std::uint32_t x = 0; x < 4; ++x) {
            const std::uint8_t* p = &base.pixels[4 * (y * 4 + x)];
            EXPECT_EQ(p[0], 7);
            EXPECT_EQ(p[3], x < 2 ? 255 : 141) << x << "," << y;
        }
    }
    EXPECT_EQ(ClassifyAlpha(base), AlphaUse::Blend);
    RgbaPicture bw{2, 1, {0, 0, 0, 255, 255, 255, 255, 255}};
    CombineAlpha(base, bw);
    EXPECT_EQ(ClassifyAlpha(base), AlphaUse::Mask);
    CombineAlpha(base, RgbaPicture{1, 1, {255, 255, 255, 0}});
    EXPECT_EQ(ClassifyAlpha(base), AlphaUse::Opaque);
}

// Decodes a PNG file image with libpng into RGBA; `hadAlpha` tells the stored colour type.
bool DecodePng(const std::vector<std::uint8_t>& png, RgbaPicture& picture, bool& hadAlpha) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return false;
    hadAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    bool colour = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    image.format = PNG_FORMAT_RGBA;
    picture.width = image.width;
    picture.height = image.height;
    picture.pixels.resize(PNG_IMAGE_SIZE(image));
    bool ok = png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok && colour;
}

TEST(GltfPicture, PngRoundTrip) {
    RgbaPicture picture{5, 3, {}};
    for (std::uint32_t k = 0; k < 15; ++k) {
        picture.pixels.insert(
            picture.pixels.end(),
            {static_cast<std::uint8_t>(k * 17), static_cast<std::uint8_t>(255 - k),
             static_cast<std::uint8_t>(k * k), static_cast<std::uint8_t>(k * 16)});
    }
    for (bool withAlpha : {false, true}) {
        std::vector<std::uint8_t> png;
        ASSERT_TRUE(EncodePng(picture, withAlpha, png));
        ASSERT_GT(png.size(), 8u);
        EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1A\n", 8), 0);
        RgbaPicture back;
        bool hadAlpha = !withAlpha;
        ASSERT_TRUE(DecodePng(png, back, hadAlpha));
        EXPECT_EQ(hadAlpha, withAlpha);
        ASSERT_EQ(back.width, 5u);
        ASSERT_EQ(back.height, 3u);
        std::vector<std::uint8_t> expected = picture.pixels;
        if (!withAlpha) {
            for (std::size_t k = 3; k < expected.size(); k += 4) expected[k] = 255;
        }
        EXPECT_EQ(back.pixels, expected);
    }
    std::vector<std::uint8_t> png;
    EXPECT_FALSE(EncodePng(RgbaPicture{}, false, png));
    EXPECT_FALSE(EncodePng(RgbaPicture{4, 4, std::vector<std::uint8_t>(8)}, false, png));  // short
    EXPECT_TRUE(png.empty());
}

// ---------------------------------------------------------------------------------------------
// Whole files.

class GltfVertexTags : public GltfTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(GltfVertexTags, GeometryRoundTrip) {
    const std::string tag = GetParam();
    const bool normals = tag == "VPA2" || tag == "VPA4" || tag == "VPAC";
    test::RunResult r = Convert(TwoObjects(tag));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "-> out/robo.glb\n");
    EXPECT_EQ(test::ListFiles(dir / "out"), std::vector<std::string>{"robo.glb"});
    Glb glb = Read();
    const Json& doc = glb.json;

    const std::vector<std::vector<Mesh>> source = {
        {testdata::BoxMesh({0, 0, 0.5f}, {0.5f, 0.25f, 0.5f}, 0),
         testdata::SphereMesh({2, 1, 1}, 0.5f, 6, 8, 1), Triangle(0)},
        {Triangle(1)}};
    ASSERT_EQ(doc["scenes"][doc["scene"].Index()]["nodes"].Size(), 2u);
    ASSERT_EQ(doc["nodes"].Size(), 2u);
    EXPECT_EQ(doc["nodes"][0]["name"].text, "alpha");
    EXPECT_EQ(doc["nodes"][1]["name"].text, "beta");
    // One material per Material used in each object: skin and metal of alpha, metal of beta.
    ASSERT_EQ(doc["materials"].Size(), 3u);
    EXPECT_EQ(doc["materials"][0]["name"].text, "skin");
    EXPECT_EQ(doc["materials"][1]["name"].text, "metal");
    EXPECT_EQ(doc["materials"][2]["name"].text, "metal");
    EXPECT_EQ(doc["materials"][0]["pbrMetallicRoughness"]["roughnessFactor"].number, 0.5);
    EXPECT_EQ(doc["materials"][1]["pbrMetallicRoughness"]["roughnessFactor"].number, 1.0);
    EXPECT_EQ(doc["materials"][0]["pbrMetallicRoughness"]["metallicFactor"].number, 0.0);
    EXPECT_FALSE(doc["materials"][0]["pbrMetallicRoughness"].Has("baseColorTexture"));
    EXPECT_FALSE(doc["materials"][0].Has("alphaMode"));
    const std::size_t materialOf[2][3] = {{0, 1, 0}, {2, 0, 0}};

    for (std::size_t o = 0; o < 2; ++o) {
        const Json& mesh = doc["meshes"][doc["nodes"][o]["mesh"].Index()];
        EXPECT_EQ(mesh["name"].text, o == 0 ? "alpha" : "beta");
        ASSERT_EQ(mesh["primitives"].Size(), source[o].size());
        for (std::size_t i = 0; i < source[o].size(); ++i) {
            SCOPED_TRACE(tag + " object " + std::to_string(o) + " mesh " + std::to_string(i));
            const Json& primitive = mesh["primitives"][i];
            const Json& attributes = primitive["attributes"];
            Expected e = ExpectedOf(source[o][i]);
            EXPECT_EQ(primitive["material"].Index(), materialOf[o][i]);
            EXPECT_FALSE(primitive.Has("mode"));  // triangles
            ExpectNear(AccessorValues(glb, attributes["POSITION"].Index()), e.positions, 0,
                       "positions");
            ExpectNear(AccessorValues(glb, attributes["TEXCOORD_0"].Index()), e.texCoords, 0,
                       "texture coordinates");
            ExpectNear(AccessorValues(glb, primitive["indices"].Index()), e.indices, 0, "indices");
            ASSERT_EQ(attributes.Has("NORMAL"), normals);
            if (normals)
                ExpectNear(AccessorValues(glb, attributes["NORMAL"].Index()), e.normals, 1e-6,
                           "normals");

            const Json& indices = doc["accessors"][primitive["indices"].Index()];
            EXPECT_EQ(indices["componentType"].number, normals ? 5125 : 5123);
            EXPECT_EQ(indices["type"].text, "SCALAR");
            EXPECT_EQ(doc["bufferViews"][indices["bufferView"].Index()]["target"].number, 34963);
            const Json& position = doc["accessors"][attributes["POSITION"].Index()];
            EXPECT_EQ(position["componentType"].number, 5126);
            EXPECT_EQ(position["count"].Index(), source[o][i].vertices.size());
            EXPECT_EQ(doc["bufferViews"][position["bufferView"].Index()]["target"].number, 34962);
            for (std::size_t c = 0; c < 3; ++c) {
                double lo = INFINITY, hi = -INFINITY;
                for (std::size_t k = c; k < e.positions.size(); k += 3) {
                    lo = std::min(lo, e.positions[k]);
                    hi = std::max(hi, e.positions[k]);
                }
                EXPECT_EQ(position["min"][c].number, lo);
                EXPECT_EQ(position["max"][c].number, hi);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Gltf, GltfVertexTags,
                         ::testing::Values("VPA2", "VPA4", "VPA5", "VPA7", "VPA8", "VPAC"));

struct ObjFile {
    std::vector<std::array<double, 3>> positions;
    std::vector<std::array<std::size_t, 3>> faces;  // 0-based position numbers
};

ObjFile ReadObj(const fs::path& file) {
    ObjFile obj;
    std::istringstream in(test::ReadText(file));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "v") {
            std::array<double, 3> p{};
            words >> p[0] >> p[1] >> p[2];
            obj.positions.push_back(p);
        } else if (kind == "f") {
            std::array<std::size_t, 3> f{};
            for (std::size_t& corner : f) {
                std::string token;
                words >> token;
                corner = std::stoul(token.substr(0, token.find('/'))) - 1;
            }
            obj.faces.push_back(f);
        }
    }
    return obj;
}

// Whatever an OBJ reader takes for the front of a face, the glb's triangles list the same
// corners in the same order, in the same coordinates.
TEST_F(GltfTest, TrianglesFaceTheSameWayAsInTheObjOutput) {
    It3Writer sample = testdata::BuildSampleModel();
    ASSERT_EQ(Convert(sample, "sample").status, 0);
    ASSERT_EQ(Convert(sample, "sample", {}).status, 0);
    Glb glb = Read("sample.glb");
    const Json& doc = glb.json;
    const char* objects[] = {"sample_00_crate.obj", "sample_01_figure.obj"};
    ASSERT_EQ(doc["nodes"].Size(), 2u);
    for (std::size_t o = 0; o < 2; ++o) {
        ObjFile obj = ReadObj(dir / "out" / objects[o]);
        const Json& mesh = doc["meshes"][doc["nodes"][o]["mesh"].Index()];
        std::size_t face = 0;
        for (const Json& primitive : mesh["primitives"].items) {
            std::vector<double> positions =
                AccessorValues(glb, primitive["attributes"]["POSITION"].Index());
            std::vector<double> indices = AccessorValues(glb, primitive["indices"].Index());
            for (std::size_t t = 0; t < indices.size(); t += 3, ++face) {
                ASSERT_LT(face, obj.faces.size());
                for (std::size_t c = 0; c < 3; ++c) {
                    const auto& expected = obj.positions[obj.faces[face][c]];
                    const auto at = static_cast<std::size_t>(indices[t + c]) * 3;
                    for (std::size_t k = 0; k < 3; ++k) {
                        ASSERT_NEAR(positions[at + k], expected[k], 1e-6)
                            << objects[o] << " face " << face;
                    }
                }
            }
        }
        EXPECT_EQ(face, obj.faces.size()) << objects[o];
    }
}

TEST_F(GltfTest, NamesAreValidJsonWhateverTheirBytes) {
    It3Writer file;
    std::vector<Material> materials = {{"m\"1\x01", "", "", 1.0f}};
    file.Info("caf\xC3\xA9 \x82\xA0\\x:y")
        .Block("MATE", testdata::MaterialPayload("MATE", materials));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    test::RunResult r = Convert(file, "we:ird");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "-> out/we_ird.glb\n");
    Glb glb = Read("we_ird.glb");
    EXPECT_EQ(glb.json["nodes"][0]["name"].text, "caf\xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD\\x:y");
    EXPECT_EQ(glb.json["meshes"][0]["name"].text, "caf\xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD\\x:y");
    EXPECT_EQ(glb.json["materials"][0]["name"].text, "m\"1\x01");
}

TEST_F(GltfTest, SkippedAndEmptyMeshesGiveNoPrimitive) {
    It3Writer file;
    std::vector<Material> materials = {{"skin", "", "", 1.0f}, {"metal", "", "", 1.0f}};
    Mesh broken = Triangle(1);
    broken.indices = {0, 1, 7};
    Mesh noFaces = Triangle(1);
    noFaces.indices.clear();
    file.Info("Body").Block("MATE", testdata::MaterialPayload("MATE", materials));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {broken, Triangle(0), noFaces}));
    // Objects whose meshes all go, or that have none, are nodes without a mesh.
    file.Info("Ghost").Block("MATE", testdata::MaterialPayload("MATE", materials));
    file.Block("VPA4", testdata::VertexPayload("VPA4", {broken}));
    file.Info("Empty").Block("MATE", testdata::MaterialPayload("MATE", materials));
    file.Block("VPA4", testdata::VertexPayload("VPA4", {}));
    file.Info("NoMaterials").Block("VPA4", testdata::VertexPayload("VPA4", {Triangle(0)}));
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "Warning : object Body mesh 0 skipped: vertex index out of range.\n"
              "Warning : object Ghost mesh 0 skipped: vertex index out of range.\n"
              "-> out/robo.glb\n");
    Glb glb = Read();
    const Json& doc = glb.json;
    ASSERT_EQ(doc["nodes"].Size(), 3u);
    EXPECT_EQ(doc["nodes"][0]["name"].text, "Body");
    EXPECT_EQ(doc["nodes"][1]["name"].text, "Ghost");
    EXPECT_EQ(doc["nodes"][2]["name"].text, "Empty");
    EXPECT_FALSE(doc["nodes"][1].Has("mesh"));
    EXPECT_FALSE(doc["nodes"][2].Has("mesh"));
    ASSERT_EQ(doc["meshes"].Size(), 1u);
    ASSERT_EQ(doc["meshes"][0]["primitives"].Size(), 1u);
    // Only the Material of the written primitive becomes a material.
    ASSERT_EQ(doc["materials"].Size(), 1u);
    EXPECT_EQ(doc["materials"][0]["name"].text, "skin");
}

TEST_F(GltfTest, FileWithoutObjectsGivesAnEmptyScene) {
    It3Writer file;
    file.Info("Lonely");
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "-> out/robo.glb\n");
    Glb glb = Read();
    EXPECT_FALSE(glb.hasBin);
    EXPECT_EQ(glb.json["scenes"].Size(), 1u);
    EXPECT_FALSE(glb.json["scenes"][0].Has("nodes"));
    EXPECT_FALSE(glb.json.Has("nodes"));
    EXPECT_FALSE(glb.json.Has("buffers"));
}

TEST_F(GltfTest, SixteenBitIndexOf65535IsWidened) {
    Mesh mesh;
    mesh.vertices.resize(65536);
    mesh.vertices[0] = V(0, 0, 0);
    mesh.vertices[1] = V(1, 0, 0);
    mesh.vertices[65535] = V(0, 1, 0);
    mesh.indices = {0, 1, 65535, 0, 1, 2};
    It3Writer file;
    file.Info("Big").Block("MATE", testdata::MaterialPayload("MATE", {{"m", "", "", 1.0f}}));
    file.Block("VPA5", testdata::VertexPayload("VPA5", {mesh, Triangle(0)}));
    ASSERT_EQ(Convert(file).status, 0);
    Glb glb = Read();
    const Json& primitives = glb.json["meshes"][0]["primitives"];
    const Json& wide = glb.json["accessors"][primitives[0]["indices"].Index()];
    EXPECT_EQ(wide["componentType"].number, 5125);
    EXPECT_EQ(AccessorValues(glb, primitives[0]["indices"].Index()),
              (std::vector<double>{0, 65535, 1, 0, 2, 1}));
    EXPECT_EQ(glb.json["accessors"][primitives[1]["indices"].Index()]["componentType"].number,
              5123);
}

TEST_F(GltfTest, NonFiniteValuesAndZeroNormalsAreRepaired) {
    const float inf = INFINITY, nan = NAN;
    Mesh mesh;
    mesh.vertices = {V(nan, 1, 2, inf, 0.5f, {0, 0, 0}), V(1, inf, 0, 0, nan, {0, 0, 4}),
                     V(0, 0, -inf, 1, 1, {nan, 1, 0})};
    mesh.indices = {0, 1, 2};
    It3Writer file;
    file.Info("Bad").Block("MATE", testdata::MaterialPayload("MATE", {{"m", "", "", 1.0f}}));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {mesh}));
    ASSERT_EQ(Convert(file).status, 0);
    Glb glb = Read();
    const Json& attributes = glb.json["meshes"][0]["primitives"][0]["attributes"];
    EXPECT_EQ(AccessorValues(glb, attributes["POSITION"].Index()),
              (std::vector<double>{0, 2, -1, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(AccessorValues(glb, attributes["TEXCOORD_0"].Index()),
              (std::vector<double>{0, 0.5, 0, 0, 1, 1}));
    // (0, 0, 4) scaled to length 1 is (0, 1, 0) after the axis change; zero and NaN normals
    // become (0, 1, 0) too.
    EXPECT_EQ(AccessorValues(glb, attributes["NORMAL"].Index()),
              (std::vector<double>{0, 1, 0, 0, 1, 0, 0, 1, 0}));
    const Json& position = glb.json["accessors"][attributes["POSITION"].Index()];
    EXPECT_EQ(position["min"][2].number, -1);
    EXPECT_EQ(position["max"][1].number, 2);
}

TEST_F(GltfTest, DestinationThatCannotBeCreated) {
    test::WriteBytes(dir / "robo.it3", TwoObjects("VPAC").Bytes());
    test::RunResult r = test::RunMorvex({"-g", "robo.it3", "missing"}, dir.Path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Error : Can not create missing/robo.glb.\n");
    EXPECT_TRUE(test::ListTree(dir.Path() / "missing").empty());
}

TEST_F(GltfTest, TexturesBecomeEmbeddedPngImages) {
    if (!TexturesConvert()) GTEST_SKIP() << "this build does not convert textures yet";
    test::RunResult r = Convert(TexturedModel());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "Warning : can not convert texture weird.\n-> out/robo.glb\n");
    EXPECT_EQ(test::ListFiles(dir / "out"), std::vector<std::string>{"robo.glb"});
    Glb glb = Read();
    const Json& doc = glb.json;
    ASSERT_EQ(doc["materials"].Size(), 6u);
    auto textureOf = [&](std::size_t m) -> const Json* {
        const Json& pbr = doc["materials"][m]["pbrMetallicRoughness"];
        if (!pbr.Has("baseColorTexture")) return nullptr;
        return &doc["textures"][pbr["baseColorTexture"]["index"].Index()];
    };
    auto picture = [&](std::size_t m, bool& hadAlpha) {
        const Json& image = doc["images"][(*textureOf(m))["source"].Index()];
        EXPECT_EQ(image["mimeType"].text, "image/png");
        RgbaPicture p;
        EXPECT_TRUE(DecodePng(ViewBytes(glb, image["bufferView"].Index()), p, hadAlpha));
        return p;
    };
    for (std::size_t m : {0, 1, 2, 3}) {
        ASSERT_NE(textureOf(m), nullptr) << m;
        const Json& sampler = doc["samplers"][(*textureOf(m))["sampler"].Index()];
        EXPECT_EQ(sampler["wrapS"].number, 10497);
        EXPECT_EQ(sampler["wrapT"].number, 10497);
    }
    EXPECT_EQ(textureOf(4), nullptr);  // missing: no texture, no warning
    EXPECT_EQ(textureOf(5), nullptr);  // cannot be converted
    EXPECT_EQ(doc["images"].Size(), 4u);

    bool hadAlpha = true;
    RgbaPicture paint = picture(0, hadAlpha);
    EXPECT_FALSE(hadAlpha);
    EXPECT_FALSE(doc["materials"][0].Has("alphaMode"));
    ASSERT_EQ(paint.width, 3u);
    ASSERT_EQ(paint.height, 2u);
    EXPECT_EQ(paint.pixels,
              (std::vector<std::uint8_t>{255, 0, 0,   255, 0,  255, 0,  255, 0,   0, 255, 255,
                                         0,   0, 255, 255, 10, 20,  30, 255, 255, 0, 0,   255}));
    RgbaPicture tile = picture(1, hadAlpha);
    EXPECT_FALSE(hadAlpha);
    EXPECT_EQ(tile.pixels, (std::vector<std::uint8_t>{255, 255, 255, 255, 255, 0, 0, 255, 0, 255, 0,
                                                      255, 0, 0, 255, 255}));
    // The leaf: the paint texture with the black-and-white alpha map stretched over it.
    RgbaPicture leaf = picture(2, hadAlpha);
    EXPECT_TRUE(hadAlpha);
    EXPECT_EQ(doc["materials"][2]["alphaMode"].text, "MASK");
    EXPECT_EQ(doc["materials"][2]["alphaCutoff"].number, 0.5);
    // Columns 0 and 1 of 3 take alpha-map column 0 (x * 2 / 3), black; column 2 takes the white.
    std::vector<std::uint8_t> expected = paint.pixels;
    for (std::size_t alpha : {3, 7, 15, 19}) expected[alpha] = 0;
    EXPECT_EQ(leaf.pixels, expected);
    // Glass: no texture, so white with the grey alpha map's luminance: blended.
    RgbaPicture glass = picture(3, hadAlpha);
    EXPECT_TRUE(hadAlpha);
    EXPECT_EQ(doc["materials"][3]["alphaMode"].text, "BLEND");
    EXPECT_EQ(glass.pixels, (std::vector<std::uint8_t>{255, 255, 255, 128, 255, 255, 255, 255}));
    EXPECT_EQ(doc["images"][(*textureOf(3))["source"].Index()]["name"].text, "grey");
    EXPECT_EQ(doc["images"][(*textureOf(0))["source"].Index()]["name"].text, "rgb");
}

// An independent importer (assimp's command line tool, Debian package assimp-utils) reads the
// sample's glb: every triangle, and the extent after the axis change (z up becomes y up).
// Textures of a few bytes can declare large pictures (the pixels their data does not deliver
// are 0): the writer must not keep the picture of every texture alive. Six textures of 1024 by
// 1024 pixels (4 MiB each as RGBA) used by six materials: at most a texture and an alpha map's
// pictures are held at once, never all six.
TEST_F(GltfTest, PicturesOfManyTexturesAreNotHeldTogether) {
    constexpr int kTextures = 6;
    constexpr std::int64_t kPicture = std::int64_t{1024} * 1024 * 4;
    It3Writer file;
    std::vector<Material> materials;
    std::vector<Mesh> meshes;
    for (int k = 0; k < kTextures; ++k) {
        std::string name = std::to_string(k);
        name.insert(name.begin(), 't');
        materials.push_back({name, name, k == 0 ? "t1" : "", 1.0f});
        Mesh mesh;
        mesh.vertices.resize(3);
        mesh.indices = {0, 1, 2};
        mesh.materialIndex = k;
        meshes.push_back(mesh);
    }
    file.Info("Body")
        .Block("MATE", testdata::MaterialPayload("MATE", materials))
        .Block("VPAC", testdata::VertexPayload("VPAC", meshes));
    for (int k = 0; k < kTextures; ++k) {
        PayloadWriter texture;
        texture.U32(1002).I32(1024).I32(1024);
        texture.Chunk(ByteVector(8, static_cast<std::uint8_t>(40 * k)));
        texture.Chunk(ByteVector(16, 1));
        file.Block("TEXI", testdata::TexiPayload("t" + std::to_string(k), texture.bytes));
    }
    test::ConvertResult r;
    const std::int64_t peak = ConvertInProcess(file, r);
    EXPECT_EQ(r.result, 0);
    EXPECT_FALSE(r.outputFailed);
    EXPECT_EQ(Read().json["images"].Size(), static_cast<std::size_t>(kTextures));
    EXPECT_GT(peak, kPicture);
    EXPECT_LT(peak, 3 * kPicture);
}

// The document of a model of many small meshes is mostly JSON text: it is written to the file
// piece by piece, not copied into one text and then into the file image (which once held three
// copies of it), and the BIN chunk holds no allocation per view. The memory held at the peak
// (the decoded block, the document with the slack of its growing texts, the output buffer) stays
// below three times the .glb; it was three and a half times.
TEST_F(GltfTest, ManySmallMeshesNeedLittleMoreMemoryThanTheirOutput) {
    Mesh triangle;
    triangle.vertices.resize(3);
    triangle.vertices[1].position = {1, 0, 0};
    triangle.indices = {0, 1, 2};
    It3Writer file;
    file.Info("Body")
        .Block("MAT2", testdata::MaterialPayload("MAT2", {{"skin", "", "", 1.0f}}))
        .Block("VPA8", testdata::VertexPayload("VPA8", std::vector<Mesh>(20000, triangle)));
    test::ConvertResult r;
    const std::int64_t peak = ConvertInProcess(file, r);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.output, "-> " + (dir / "out").string() + "/robo.glb\n");
    const auto glb = static_cast<std::int64_t>(fs::file_size(dir / "out" / "robo.glb"));
    EXPECT_EQ(Read().json["meshes"][0]["primitives"].Size(), 20000u);
    EXPECT_LT(peak, 3 * glb);
}

TEST_F(GltfTest, AnIndependentImporterReadsTheSample) {
    if (std::system("command -v assimp > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "assimp (package assimp-utils) is not installed";
    }
    ASSERT_EQ(Convert(testdata::BuildSampleModel(), "sample").status, 0);
    std::string command =
        "cd '" + (dir / "out").string() + "' && assimp info sample.glb > info.txt 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << test::ReadText(dir / "out/info.txt");
    std::string info = test::ReadText(dir / "out/info.txt");
    EXPECT_NE(info.find("Faces:              216\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Primitive Types:    triangles\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Minimum point      (-0.500000 0.000000 -0.500000)"), std::string::npos)
        << info;
    EXPECT_NE(info.find("Maximum point      (2.550000 1.820000 0.500000)"), std::string::npos)
        << info;
}

// ---------------------------------------------------------------------------------------------
// The glTF validator.

fs::path ValidatorPackage() {
    return fs::path(MORVEX_SOURCE_DIR) / "build-tools/node_modules/gltf-validator";
}

bool HaveNode() {
    return std::system("node --version > /dev/null 2>&1") == 0;
}

// Runs the validator on `files`; returns its output, one "<errors> <warnings> <infos> <file>"
// line per file followed by the errors and warnings.
std::string Validate(const std::vector<fs::path>& files) {
    std::string command = "node '" +
                          (fs::path(MORVEX_SOURCE_DIR) / "tests/validate_gltf.js").string() +
                          "' '" + ValidatorPackage().string() + "'";
    for (const fs::path& f : files) command += " '" + f.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    if (!pipe) return output;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0) output.append(chunk, n);
    return output;
}

TEST_F(GltfTest, EveryOutputPassesTheValidator) {
    if (!HaveNode()) GTEST_SKIP() << "node not found: the glTF validator cannot run";
    if (!fs::exists(ValidatorPackage() / "package.json")) {
        GTEST_SKIP() << "gltf-validator is not installed in " << ValidatorPackage()
                     << " (run .ci/gltf-validator)";
    }
    std::vector<fs::path> files;
    auto add = [&](const It3Writer& file, const std::string& name) {
        test::RunResult r = Convert(file, name);
        EXPECT_EQ(r.status, 0) << name;
        files.push_back(dir / "out" / (name + ".glb"));
    };
    add(testdata::BuildSampleModel(), "sample");
    for (const char* tag : {"VPA2", "VPA4", "VPA5", "VPA7", "VPA8", "VPAC"})
        add(TwoObjects(tag), tag);
    add(TexturedModel(), "textured");
    It3Writer empty;
    empty.Info("Lonely");
    add(empty, "empty");
    // The conformance models: every vertex tag, material tag and texture format, broken blocks.
    fs::path conformance = fs::path(MORVEX_TEST_DATA) / "conformance";
    std::vector<std::string> models = test::ListTree(conformance);
    for (const std::string& model : models) {
        if (fs::path(model).extension() != ".it3") continue;
        std::string name = fs::path(model).stem().string();
        test::RunResult r =
            test::RunMorvex({"-g", (conformance / model).string(), "out"}, dir.Path());
        // The same exit status as the recorded OBJ conversion: glTF output fails nowhere else.
        std::string expected =
            test::ReadText(conformance / fs::path(model).parent_path() / "expected/obj/status");
        EXPECT_EQ(std::to_string(r.status), expected.substr(0, expected.find_first_of("\r\n")))
            << model;
        if (fs::exists(dir / "out" / (name + ".glb")))
            files.push_back(dir / "out" / (name + ".glb"));
    }
    ASSERT_GT(files.size(), 20u);

    std::string report = Validate(files);
    std::istringstream lines(report);
    std::string line;
    std::size_t checked = 0;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == ' ') continue;
        std::istringstream fields(line);
        long errors = -1, warnings = -1;
        fields >> errors >> warnings;
        EXPECT_EQ(errors, 0) << line;
        EXPECT_EQ(warnings, 0) << line;
        ++checked;
    }
    EXPECT_EQ(checked, files.size()) << report;
    if (HasFailure()) std::cout << report;
}

}  // namespace
}  // namespace morvex

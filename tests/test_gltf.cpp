// The binary glTF output (-g): JSON names, pictures and PNG encoding, and whole files read back
// with our own GLB reader, compared with the OBJ output, and checked by the glTF validator.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "decode/texture_block.h"
#include "decoder_test_support.h"
#include "export/bitmap.h"
#include "export/gltf/gltf_document.h"
#include "export/gltf/gltf_writer.h"
#include "export/gltf/json_writer.h"
#include "export/gltf/png_encode.h"
#include "gltf_reader.h"
#include "it3/parallel.h"
#include "platform/platform.h"
#include "test_support.h"
#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using test::AccessorValues;
using test::Glb;
using test::Json;
using test::ReadGlb;
using test::V;
using test::ViewBytes;
using testdata::ByteVector;
using testdata::It3Writer;
using testdata::Material;
using testdata::Mesh;
using testdata::PayloadWriter;

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
    return ConvertToBitmap(image, Bytes(payload).subspan(kTextureNameSize)) == Outcome::Ok;
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
    EXPECT_TRUE(test::IsUtf8(json));
    EXPECT_NO_THROW(test::ParseJson(json));
}

TEST(GltfJsonArray, ItemsOverManyBlocksComeBackInOrder) {
    // Enough items for many blocks, among them one item larger than a block; beside a BIN chunk
    // that grows at the same time.
    {
        JsonArray array;
        BinaryChunk binary;
        std::string expected;
        std::vector<std::uint8_t> expectedBinary;
        for (int k = 0; k < 300000; ++k) {
            const int index = array.Next();
            ASSERT_EQ(index, k);
            if (k > 0) expected += ',';
            std::string item = "{\"n\":" + std::to_string(k) + "}";
            if (k == 151000) item = "\"" + std::string(3 * BinaryChunk::kLargestBlock, 'x') + "\"";
            array.items += item;
            expected += item;
            const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(k),
                                           static_cast<std::uint8_t>(k >> 8), 7};
            binary.Append(bytes, 1 + k % 3);
            expectedBinary.insert(expectedBinary.end(), bytes, bytes + 1 + k % 3);
        }
        std::string joined;
        int pieces = 0;
        array.ForEachPiece([&](std::string_view piece) {
            joined += piece;
            ++pieces;
        });
        EXPECT_GT(pieces, 3);
        EXPECT_EQ(array.Size(), expected.size());
        EXPECT_TRUE(joined == expected);
        std::vector<std::uint8_t> joinedBinary;
        binary.ForEachBlock([&](Bytes block) {
            joinedBinary.insert(joinedBinary.end(), block.begin(), block.end());
        });
        EXPECT_EQ(binary.Size(), expectedBinary.size());
        EXPECT_TRUE(joinedBinary == expectedBinary);
    }
}

TEST(GltfBinChunk, BytesSetAsideAreWrittenLaterWhereTheyWereReserved) {
    BinaryChunk binary;
    std::vector<std::uint8_t> expected(BinaryChunk::kFirstBlock - 6);
    for (std::size_t k = 0; k < expected.size(); ++k) expected[k] = static_cast<std::uint8_t>(k);
    binary.Append(expected.data(), expected.size());

    std::vector<MutableBytes> head, values, tight;
    binary.Reserve(12, head);  // 6 bytes left in the first block, 6 in the next
    EXPECT_EQ(head.size(), 2u);
    binary.Reserve(2500, values);
    binary.Reserve(3, tight);
    const std::uint8_t tail[3] = {0x61, 0x62, 0x63};
    binary.Append(tail, 3);
    binary.Adopt({9, 9, 9, 9});  // a block of its own; what follows goes behind it
    binary.Append(tail, 2);
    EXPECT_EQ(binary.Size(), expected.size() + 12 + 2500 + 3 + 3 + 4 + 2);

    // Written out of order, the way threads finish them.
    {
        ViewWriter out(values);
        for (std::uint32_t k = 0; k < 1250; ++k) out.U16(k * 37);
    }
    {
        const std::vector<std::uint8_t> dirt(12, 0xFF);
        ViewWriter(head).Raw(dirt);
        ViewWriter out(head);
        out.U32(0x01020304);
        out.Float(1.0f);
        out.U16(0x0506);
    }  // the last 2 bytes are padding: zeros
    {
        ViewWriter out(tight);
        out.U32(0xAABBCCDD);  // one byte too many: dropped, the bytes after it stay
    }

    for (std::uint8_t b : {4, 3, 2, 1, 0, 0, 0x80, 0x3F, 6, 5, 0, 0}) expected.push_back(b);
    for (std::uint32_t k = 0; k < 1250; ++k) {
        expected.push_back(static_cast<std::uint8_t>(k * 37));
        expected.push_back(static_cast<std::uint8_t>((k * 37) >> 8));
    }
    for (std::uint8_t b : {0xDD, 0xCC, 0xBB, 0x61, 0x62, 0x63, 9, 9, 9, 9, 0x61, 0x62}) {
        expected.push_back(b);
    }
    std::vector<std::uint8_t> joined;
    binary.ForEachBlock(
        [&](Bytes block) { joined.insert(joined.end(), block.begin(), block.end()); });
    EXPECT_EQ(binary.Size(), expected.size());
    EXPECT_TRUE(joined == expected);
}

// Images go at the end of the BIN chunk, in the order they were added, after every view of the
// geometry, whether they are encoded at once or on other threads and in whatever order those
// finish; an encoding that fails fails the document.
TEST(GltfDocumentViews, ImagesFollowTheGeometryInTheOrderTheyWereAdded) {
    for (const bool serial : {true, false}) {
        std::unique_ptr<SerialScope> scope;
        if (serial) scope = std::make_unique<SerialScope>();
        GltfDocument document;
        const std::uint8_t five[5] = {1, 2, 3, 4, 5};
        EXPECT_EQ(document.AddView(5, 34962, [&](ViewWriter& out) { out.Raw(five); }), 0);
        // The first image takes longest: the second is done before it.
        EXPECT_EQ(document.AddImage("slow", 10,
                                    [](std::vector<std::uint8_t>& bytes) {
                                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                        bytes.assign(7, 0xEE);
                                        return Outcome::Ok;
                                    }),
                  0);
        std::vector<MutableBytes> parts;
        EXPECT_EQ(document.ReserveView(4, 34963, parts), 1);
        // More than the images may hold at once: waits for the first.
        EXPECT_EQ(document.AddImage("big", GltfDocument::kImageBytesInFlight,
                                    [](std::vector<std::uint8_t>& bytes) {
                                        bytes.assign(1, 0x77);
                                        return Outcome::Ok;
                                    }),
                  1);
        { ViewWriter(parts).U32(0x0A0B0C0D); }
        ASSERT_EQ(document.Finish(), Outcome::Ok);

        std::string views, images;
        document.bufferViews.ForEachPiece([&](std::string_view piece) { views += piece; });
        document.images.ForEachPiece([&](std::string_view piece) { images += piece; });
        EXPECT_EQ(views, R"({"buffer":0,"byteOffset":0,"byteLength":5,"target":34962},)"
                         R"({"buffer":0,"byteOffset":8,"byteLength":4,"target":34963},)"
                         R"({"buffer":0,"byteOffset":12,"byteLength":7},)"
                         R"({"buffer":0,"byteOffset":20,"byteLength":1})")
            << serial;
        EXPECT_EQ(images, R"({"name":"slow","bufferView":2,"mimeType":"image/png"},)"
                          R"({"name":"big","bufferView":3,"mimeType":"image/png"})")
            << serial;
        std::vector<std::uint8_t> bin;
        document.binary.ForEachBlock(
            [&](Bytes block) { bin.insert(bin.end(), block.begin(), block.end()); });
        const std::vector<std::uint8_t> expected = {1,    2,    3,    4,    5,    0,    0,    0,
                                                    0x0D, 0x0C, 0x0B, 0x0A, 0xEE, 0xEE, 0xEE, 0xEE,
                                                    0xEE, 0xEE, 0xEE, 0,    0x77, 0,    0,    0};
        EXPECT_TRUE(bin == expected) << serial;

        GltfDocument failing;
        failing.AddImage("a", 1, [](std::vector<std::uint8_t>& bytes) {
            bytes.assign(3, 1);
            return Outcome::Ok;
        });
        failing.AddImage("b", 1,
                         [](std::vector<std::uint8_t>&) -> Outcome { throw std::bad_alloc(); });
        failing.AddImage("c", 1, [](std::vector<std::uint8_t>&) { return Outcome::Broken; });
        EXPECT_EQ(failing.Finish(), Outcome::NoMemory) << serial;
    }
}

TEST(JsonWriter, PlacesCommasBetweenValuesAndMembersAtEveryDepth) {
    std::string text = "[";  // written after text that is already there
    JsonWriter json(text);
    json.BeginObject().Key("a").BeginArray().Int(1).Int(-2).BeginObject().Key("b").String("x");
    json.EndObject().BeginArray().EndArray().EndArray();
    json.Key("c").Number(0.5).Key("d").BeginObject().EndObject().Key("e").Number(0.1f);
    json.EndObject();
    EXPECT_EQ(text, R"([{"a":[1,-2,{"b":"x"},[]],"c":0.5,"d":{},"e":0.10000000149011612})");
    // Shortest round trip: a float widened to double keeps its exact value.
    EXPECT_EQ(test::ParseJson(text.substr(1))["e"].number, static_cast<double>(0.1f));
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
        // Text that is not UTF-8 is code page 932: kanji (a second byte 0x5C included),
        // half-width kana, and U+FFFD for each byte it cannot read.
        JsonNameCase{"\x82\xA0\x8A\xBF", "\"\xE3\x81\x82\xE6\xBC\xA2\""},  // あ漢
        JsonNameCase{"\x95\x5C\x83\x5C\\",
                     "\"\xE8\xA1\xA8\xE3\x82\xBD\\\\\""},  // 表ソ and a backslash
        JsonNameCase{"a\x80\xBF"
                     "b",
                     "\"a" FFFD "\xEF\xBD\xBF"
                     "b\""},
        JsonNameCase{"x\x95", "\"x" FFFD "\""},
        JsonNameCase{"\xFD\xFE\xFF", "\"" FFFD FFFD FFFD "\""}));
#undef FFFD

// ---------------------------------------------------------------------------------------------
// Pictures: decoded pictures in, RGBA out, PNG encoding.

TEST(GltfPicture, EightBitRowsComeOutTopFirstInPaletteColours) {
    // 3 x 2, stride 4, rows bottom first: top row indices 0 1 2, bottom row 2 3 7 (7 lies past
    // the palette). The fourth palette byte is not alpha.
    Picture picture;
    picture.width = 3;
    picture.height = 2;
    picture.palette = {255, 0, 0, 9, 0, 255, 0, 9, 0, 0, 255, 9, 10, 20, 30, 9};
    picture.pixels = {2, 3, 7, 0, 0, 1, 2, 0};
    RgbaPicture rgba;
    ToRgba(picture, rgba);
    EXPECT_EQ(rgba.width, 3u);
    EXPECT_EQ(rgba.height, 2u);
    EXPECT_EQ(rgba.pixels,
              (std::vector<std::uint8_t>{255, 0, 0,   255, 0,  255, 0,  255, 0, 0, 255, 255,
                                         0,   0, 255, 255, 10, 20,  30, 255, 0, 0, 0,   255}));
    // Only whole entries name colours: a trailing partial entry is no colour.
    picture.palette.resize(6);
    ToRgba(picture, rgba);
    EXPECT_EQ(rgba.pixels, (std::vector<std::uint8_t>{255, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255,
                                                      0,   0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
}

TEST(GltfPicture, SixteenBitPixelsAreFiveBitsPerColourWithoutAlpha) {
    // 1 x 2, stride 4 (2 bytes of padding): bottom 0x7C00 (red), top 0x83E0 (green, top bit set).
    Picture picture;
    picture.width = 1;
    picture.height = 2;
    picture.bitsPerPixel = 16;
    picture.pixels = {0x00, 0x7C, 0, 0, 0xE0, 0x83, 0, 0};
    RgbaPicture rgba;
    ToRgba(picture, rgba);
    EXPECT_EQ(rgba.pixels, (std::vector<std::uint8_t>{0, 255, 0, 255, 255, 0, 0, 255}));
    // 5-bit values widen by repeating their top bits: 0x10 -> 0x84, 0x01 -> 0x08.
    picture.height = 1;
    picture.pixels = {0x01, 0x40, 0, 0};  // red 0x10, green 0, blue 1
    ToRgba(picture, rgba);
    EXPECT_EQ(rgba.pixels, (std::vector<std::uint8_t>{0x84, 0, 0x08, 255}));
}

TEST(GltfPicture, RgbaOfADecodedTextureMatchesItsBitmapFile) {
    // The same texture through both routes: the BMP file's colours, read as any BMP reader
    // does, are the glTF picture's colours.
    const std::vector<std::array<std::uint8_t, 4>> palette = {
        {200, 10, 20, 0}, {5, 250, 6, 0}, {7, 8, 240, 0}};
    const ByteVector payload =
        Texture1002("t", 5, 3, palette, {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2});
    const Bytes header = Bytes(payload).subspan(kTextureNameSize);
    Picture picture;
    ASSERT_EQ(DecodeTexture(header, picture), Outcome::Ok);
    RgbaPicture rgba;
    ToRgba(picture, rgba);
    std::vector<std::uint8_t> bmp;
    ASSERT_EQ(ConvertToBitmap(bmp, header), Outcome::Ok);
    const std::uint32_t stride = BitmapStrideOf(8, 5);
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 5; ++x) {
            // BMP rows are bottom first; palette entries are blue, green, red.
            const std::uint8_t index = bmp[54 + 3 * 4 + (2 - y) * stride + x];
            const std::uint8_t* entry = &bmp[54 + 4 * index];
            const std::uint8_t* p = &rgba.pixels[4 * (y * 5 + x)];
            EXPECT_EQ(p[0], entry[2]);
            EXPECT_EQ(p[1], entry[1]);
            EXPECT_EQ(p[2], entry[0]);
            EXPECT_EQ(p[3], 255);
        }
    }
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
        ASSERT_EQ(EncodePng(picture, withAlpha, png), Outcome::Ok);
        ASSERT_GT(png.size(), 8u);
        EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1A\n", 8), 0);
        RgbaPicture back;
        bool hadAlpha = !withAlpha;
        ASSERT_TRUE(test::DecodePng(png, back, hadAlpha));
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
    EXPECT_EQ(EncodePng(RgbaPicture{}, false, png), Outcome::Broken);
    EXPECT_EQ(EncodePng(RgbaPicture{4, 4, std::vector<std::uint8_t>(8)}, false, png),
              Outcome::Broken);  // short
    EXPECT_TRUE(png.empty());
}

// A palette PNG shows the pixels of the RGB PNG of the same picture, at any level: indices
// past the palette are black, the rows come out top first past their padding.
TEST(GltfPicture, PalettePngShowsTheColoursOfItsRgbForm) {
    struct Case {
        const char* label;
        std::int32_t width, height;
        std::size_t paletteEntries;
        std::size_t paletteTail;  // bytes of a last, partial entry
    };
    const Case cases[] = {
        {"odd width, short palette", 5, 3, 3, 0},
        {"full palette", 16, 16, 256, 0},
        {"one pixel, partial entry", 1, 1, 1, 2},
        {"larger than the palette cap", 7, 2, 300, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Picture picture;
        picture.width = c.width;
        picture.height = c.height;
        picture.bitsPerPixel = 8;
        for (std::size_t k = 0; k < 4 * c.paletteEntries + c.paletteTail; ++k) {
            picture.palette.push_back(static_cast<std::uint8_t>(k * 37 + 11));
        }
        picture.pixels.resize(static_cast<std::size_t>(picture.Stride() * c.height));
        for (std::size_t k = 0; k < picture.pixels.size(); ++k) {
            picture.pixels[k] = static_cast<std::uint8_t>(k * 29 + 3);  // indices past it too
        }
        RgbaPicture rgba;
        ToRgba(picture, rgba);
        for (const int level : {1, kPngLevel, 12}) {
            std::vector<std::uint8_t> rgbPng, palettePng;
            ASSERT_EQ(EncodePng(rgba, false, rgbPng, level), Outcome::Ok);
            ASSERT_EQ(EncodePalettePng(picture, palettePng, level), Outcome::Ok);
            RgbaPicture fromRgb, fromPalette;
            bool alphaRgb = true, alphaPalette = true;
            ASSERT_TRUE(test::DecodePng(rgbPng, fromRgb, alphaRgb));
            ASSERT_TRUE(test::DecodePng(palettePng, fromPalette, alphaPalette));
            EXPECT_FALSE(alphaPalette);
            EXPECT_EQ(palettePng[25], 3) << "colour type";
            EXPECT_EQ(fromPalette.width, rgba.width);
            EXPECT_EQ(fromPalette.height, rgba.height);
            EXPECT_EQ(fromPalette.pixels, rgba.pixels);
            EXPECT_EQ(fromRgb.pixels, rgba.pixels);
        }
    }
    std::vector<std::uint8_t> png;
    Picture sixteen;
    sixteen.width = sixteen.height = 2;
    sixteen.bitsPerPixel = 16;
    sixteen.pixels.resize(8);
    EXPECT_EQ(EncodePalettePng(sixteen, png), Outcome::Broken);
    Picture shortRows;
    shortRows.width = shortRows.height = 4;
    shortRows.bitsPerPixel = 8;
    shortRows.pixels.resize(15);
    EXPECT_EQ(EncodePalettePng(shortRows, png), Outcome::Broken);
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
    // Not UTF-8 as a whole: code page 932, whose 0xC3 0xA9 are two half-width kana.
    const std::string name = "\xEF\xBE\x83\xEF\xBD\xA9 \xE3\x81\x82\\x:y";  // ﾃｩ あ\\x:y
    EXPECT_EQ(glb.json["nodes"][0]["name"].text, "caf" + name);
    EXPECT_EQ(glb.json["meshes"][0]["name"].text, "caf" + name);
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

TEST_F(GltfTest, RoughnessFollowsThePowerAsTheTextOutputsWriteIt) {
    // The power that the MTL writes as Ns (truncated toward zero, its absolute value, NaN as 0,
    // saturated to 32 bits) decides the roughness: power 0 is fully rough, 30 gives 0.5.
    const std::vector<float> powers = {0, 30, 30.7f, -30.9f, std::nanf(""), 1e30f, -1e30f, 5, 50};
    std::vector<Material> materials;
    std::vector<Mesh> meshes;
    for (std::size_t k = 0; k < powers.size(); ++k) {
        Material material;
        material.name = std::to_string(k);
        material.power = powers[k];
        materials.push_back(material);
        meshes.push_back(Triangle(static_cast<std::int32_t>(k)));
    }
    It3Writer file;
    file.Info("o").Block("MATE", testdata::MaterialPayload("MATE", materials));
    file.Block("VPA4", testdata::VertexPayload("VPA4", meshes));
    ASSERT_EQ(Convert(file).status, 0);
    const Glb glb = Read();
    ASSERT_EQ(glb.json["materials"].Size(), powers.size());
    auto roughness = [&glb](std::size_t k) {
        const Json& pbr = glb.json["materials"][k]["pbrMetallicRoughness"];
        EXPECT_EQ(pbr["metallicFactor"].number, 0.0);
        return pbr["roughnessFactor"].number;
    };
    EXPECT_EQ(roughness(0), 1.0);
    EXPECT_EQ(roughness(1), 0.5);
    EXPECT_EQ(roughness(2), 0.5);
    EXPECT_EQ(roughness(3), 0.5);
    EXPECT_EQ(roughness(4), 1.0);
    EXPECT_NEAR(roughness(5), roughness(6), 1e-9);  // 2^31 - 1 and 2^31
    EXPECT_GT(roughness(5), 0.0);
    EXPECT_LT(roughness(5), 0.01);
    EXPECT_GT(roughness(7), roughness(8));  // a higher power is shinier
}

TEST_F(GltfTest, FileIsNamedAfterTheInputWithSeparatorsReplaced) {
    if (platform::kWindows) {
        GTEST_SKIP() << "a file name with ':' or '\\' cannot be made on Windows (there '\\' "
                        "separates folders: BaseName covers it)";
    }
    const test::RunResult r = Convert(TwoObjects("VPA4"), "we:ird\\name");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "-> out/we_ird_name.glb\n");
    EXPECT_EQ(test::ListFiles(dir / "out"), std::vector<std::string>{"we_ird_name.glb"});
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

TEST_F(GltfTest, FileThatCannotBeCreated) {
    test::WriteBytes(dir / "robo.it3", TwoObjects("VPAC").Bytes());
    // The command line creates a missing destination first; the writer reports its file.
    const std::string missing = (dir / "missing").string() + "/";
    const test::ConvertResult r = test::ConvertInProcess(dir / "robo.it3", missing, 2);
    EXPECT_TRUE(r.outputFailed);
    EXPECT_EQ(r.output, "Error : Can not create " + missing + "robo.glb.\n");
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
        EXPECT_TRUE(test::DecodePng(ViewBytes(glb, image["bufferView"].Index()), p, hadAlpha));
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
    EXPECT_EQ(doc["images"][(*textureOf(2))["source"].Index()]["name"].text, "rgb+cut");
    EXPECT_EQ(doc["images"][(*textureOf(0))["source"].Index()]["name"].text, "rgb");
}

// An independent importer (assimp's command line tool, Debian package assimp-utils) reads the
// sample's glb: every triangle, and the extent after the axis change (z up becomes y up).
// Textures of a kilobyte can hold large pictures (a run of one colour compresses well): the
// writer must not keep the picture of every texture alive. Six textures of 1024 by 1024 pixels
// (4 MiB each as RGBA) used by six materials: the images being encoded hold at most what the
// document lets them, and the pictures beside them are not all six.
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
        texture.Chunk(ByteVector(1024 * 1024, 1));
        file.Block("TEXI", testdata::TexiPayload("t" + std::to_string(k), texture.bytes));
    }
    test::ConvertResult r;
    const std::int64_t peak = ConvertInProcess(file, r);
    EXPECT_EQ(r.result, 0);
    EXPECT_FALSE(r.outputFailed);
    EXPECT_EQ(Read().json["images"].Size(), static_cast<std::size_t>(kTextures));
    EXPECT_GT(peak, kPicture);
    EXPECT_LT(peak, static_cast<std::int64_t>(GltfDocument::kImageBytesInFlight) + kPicture);
}

// Memory that runs out while an image is being encoded beside the geometry: the glb is not
// written, and the encoding ends before the document goes.
TEST_F(GltfTest, RunningOutOfMemoryWhileAnImageIsEncodedWritesNoGlb) {
    constexpr std::int32_t kSide = 1000;
    It3Writer file;
    Mesh mesh;
    for (int k = 0; k < 3; ++k) mesh.vertices.push_back(test::V(k * 0.001f, 0, 1));
    mesh.indices = {0, 1, 2};
    file.Info("Body")
        .Block("MATE", testdata::MaterialPayload("MATE", {{"m", "t0", "", 1.0f}}))
        .Block("VPAC", testdata::VertexPayload("VPAC", {mesh}));
    PayloadWriter texture;
    texture.U32(1002).I32(kSide).I32(kSide);
    texture.Chunk(ByteVector(8, 40));
    texture.Chunk(ByteVector(kSide * kSide, 1));
    file.Block("TEXI", testdata::TexiPayload("t0", texture.bytes));
    test::ConvertResult r;
    {
        // The picture fits; the encoder's rows, each behind its filter byte, do not.
        constexpr std::size_t kRows = (kSide + 1) * std::size_t{kSide};
        test::AllocationLimit limit(kRows - 500);
        ConvertInProcess(file, r);
        EXPECT_EQ(limit.LargestRefused(), kRows);
    }
    EXPECT_TRUE(r.outputFailed);
    EXPECT_NE(r.output.find("Can not write"), std::string::npos) << r.output;
    EXPECT_TRUE(test::ListFiles(dir / "out").empty());
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

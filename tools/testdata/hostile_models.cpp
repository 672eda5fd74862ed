#include "testdata/hostile_models.h"

#include <string>
#include <vector>

#include "testdata/texture_writer.h"

namespace morvex::testdata {
namespace {

// The 1006 header: format, data size, 6 unread bytes, palette count, tile exponents, width,
// height, an unread byte and the packed flag.
PayloadWriter QuadHeader(std::uint32_t dataSize, std::uint16_t paletteCount, int tileExponent,
                         std::int16_t width, std::int16_t height, bool packed) {
    PayloadWriter w;
    w.U32(1006).U32(dataSize).Zeros(6).U16(paletteCount);
    w.U8(static_cast<std::uint8_t>(tileExponent)).U8(static_cast<std::uint8_t>(tileExponent));
    w.U16(static_cast<std::uint16_t>(width)).U16(static_cast<std::uint16_t>(height));
    w.U8(0).U8(packed ? 1 : 0);
    return w;
}

Mesh Quad() {
    Mesh m;
    for (float x : {0.0f, 1.0f}) {
        for (float y : {0.0f, 1.0f}) {
            Vertex v;
            v.position = {x, y, 0};
            v.texCoord = {x, y};
            m.vertices.push_back(v);
        }
    }
    m.indices = {0, 1, 2, 2, 1, 3};
    return m;
}

// One object named "body" with the given Materials and one quad of each.
It3Writer OneObject(const std::vector<Material>& materials) {
    std::vector<Mesh> quads;
    for (std::size_t k = 0; k < materials.size(); ++k) {
        quads.push_back(Quad());
        quads.back().materialIndex = static_cast<std::int32_t>(k);
    }
    It3Writer file;
    file.Info("body")
        .Block("MAT2", MaterialPayload("MAT2", materials))
        .Block("VPA5", VertexPayload("VPA5", quads));
    return file;
}

// "<prefix><k>" (built with +=: g++ 12 warns falsely about "text" + std::string at -O3).
std::string Numbered(const char* prefix, int k) {
    std::string name(prefix);
    name += std::to_string(k);
    return name;
}

}  // namespace

ByteVector OneTileTexture(std::int16_t width, std::int16_t height) {
    // The tile: codebook size 1, the entry, then reference 0 and a repeat to the end of the tile.
    const ByteVector palette = {200, 40, 40, 0};
    const ByteVector tile = {1, 0, 0, 0, 0, 0, 255, 0};
    PayloadWriter w = QuadHeader(static_cast<std::uint32_t>(16 + palette.size() + tile.size()), 1,
                                 14, width, height, false);
    w.Raw(palette).Raw(tile);
    return w.bytes;
}

ByteVector LargeTextureAsItsOwnAlphaMap() {
    It3Writer file = OneObject({{"skin", "big", "big", 4.0f}});
    file.Block("TEXI", TexiPayload("big", OneTileTexture(16384, 16384)));
    return file.Bytes();
}

ByteVector LargeTexturePairs(int pairs) {
    std::vector<Material> materials;
    for (int k = 0; k < pairs; ++k) {
        materials.push_back(
            {Numbered("m", k), Numbered("big", k), Numbered("big", (k + 1) % pairs), 4.0f});
    }
    It3Writer file = OneObject(materials);
    for (int k = 0; k < pairs; ++k) {
        file.Block("TEXI", TexiPayload(Numbered("big", k), OneTileTexture(16384, 16384)));
    }
    return file.Bytes();
}

ByteVector ManyLargeTextureBlocks(std::size_t bytes) {
    It3Writer file = OneObject({{"skin", "big0", "", 4.0f}});
    const ByteVector small = {0, 0, 0, 0};
    for (int k = 0; file.Bytes().size() < bytes; ++k) {
        PayloadWriter t;
        switch (k % 5) {
            case 0:  // 16-bit pixels: 16384 × 8192 is the most 256 MiB of rows hold
                t.U32(1001).I32(16384).I32(8192).Chunk(small);
                break;
            case 1:
                t.U32(1002).I32(16384).I32(16384).Chunk(small).Chunk(small);
                break;
            case 2:
                t.U32(1004).I32(16384).I32(16384).U32(0).Chunk(small).Chunk(small);
                break;
            case 3:
                t.U32(1005).I32(16384).I32(16384).U32(0).Chunk(small).U32(0).Chunk(small);
                break;
            default:
                t.Raw(OneTileTexture(16384, 16384));
                break;
        }
        file.Block("TEXI", TexiPayload(Numbered("big", k), t.bytes));
    }
    return file.Bytes();
}

ByteVector ManyEmptyObjects(int objects) {
    It3Writer file;
    for (int k = 0; k < objects; ++k) {
        file.Info(Numbered("o", k))
            .Block("MATE", MaterialPayload("MATE", {}))
            .Block("VPAC", VertexPayload("VPAC", {}));
    }
    return file.Bytes();
}

ByteVector DenseBlocks(std::string_view tag, std::size_t bytes) {
    It3Writer file;
    file.Block("INFO", {});
    while (file.Bytes().size() + 8 <= bytes) file.Block(tag, {});
    return file.Bytes();
}

ByteVector DenseQuadTexture(std::int16_t width, std::int16_t height, int tileExponent) {
    const std::int64_t stride = (width + 3) & ~3;
    const std::int64_t side = std::int64_t{1} << tileExponent;
    const std::int64_t tiles = (stride / side) * (height / side);
    const std::int64_t blocks = (side / 2) * (side / 2);
    ByteVector data = {0, 0, 0, 0, 60, 180, 90, 0};  // the palette: black, and the colour used
    for (std::int64_t t = 0; t < tiles; ++t) {
        // Codebook size 1 with an entry of colour 1, reference 0 for the first block, then
        // 255, N pairs for the rest: each repeats the entry the byte before it names N times.
        data.insert(data.end(), {1, 1, 1, 1, 1, 0});
        for (std::int64_t left = blocks - 1; left > 0; left -= 255) {
            data.push_back(255);
            data.push_back(static_cast<std::uint8_t>(left >= 255 ? 255 : left));
        }
    }
    PayloadWriter w = QuadHeader(0, 2, tileExponent, width, height, true);
    w.Chunk(data);
    return w.bytes;
}

ByteVector ZeroLookupTexture(std::int32_t width, std::int32_t height) {
    const std::int64_t stride = (width + 3) & ~3;
    const std::int64_t tiles = (stride / 16) * (height / 8);
    PayloadWriter w;
    w.U32(1005).I32(width).I32(height).U32(0);
    w.Chunk(ByteVector{70, 70, 70, 0}).U32(0);
    w.Chunk(ByteVector(static_cast<std::size_t>(tiles / 2 + 1), 0));
    return w.bytes;
}

}  // namespace morvex::testdata

#include "testdata/texture_writer.h"

#include <algorithm>
#include <array>
#include <random>

namespace morvex::testdata {
namespace {

using Block4 = std::array<std::uint8_t, 4>;  // top left, top right, bottom left, bottom right

std::uint16_t PaletteCount(const IndexedPicture& picture) {
    return static_cast<std::uint16_t>(picture.palette.size() / 4);
}

// The mirror of a block by q: 1 left-right, 2 top-bottom, 3 both.
Block4 Mirror(const Block4& b, int q) {
    switch (q) {
        case 1:
            return {b[1], b[0], b[3], b[2]};
        case 2:
            return {b[2], b[3], b[0], b[1]};
        case 3:
            return {b[3], b[2], b[1], b[0]};
        default:
            return b;
    }
}

// A small deterministic hash for the procedural pictures.
std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ seed * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

IndexedPicture Blank(std::int32_t width, std::int32_t height) {
    IndexedPicture p;
    p.width = width;
    p.height = height;
    p.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    return p;
}

void Set(IndexedPicture& p, std::int32_t x, std::int32_t y, std::uint8_t v) {
    p.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) +
             static_cast<std::size_t>(x)] = v;
}

void AddColour(IndexedPicture& p, int r, int g, int b) {
    p.palette.insert(p.palette.end(), {static_cast<std::uint8_t>(std::clamp(r, 0, 255)),
                                       static_cast<std::uint8_t>(std::clamp(g, 0, 255)),
                                       static_cast<std::uint8_t>(std::clamp(b, 0, 255)), 0});
}

}  // namespace

ByteVector TexiPayload(std::string_view name, std::span<const std::uint8_t> texture) {
    PayloadWriter w;
    w.Text(name, 36).Raw(texture);
    return w.bytes;
}

std::size_t RowStride(std::int32_t bitsPerPixel, std::int32_t width) {
    return static_cast<std::size_t>(((bitsPerPixel * width + 31) >> 3) & ~3);
}

ByteVector StrideRows(const IndexedPicture& picture) {
    return morvex::StrideRows(picture, RowStride(8, picture.width));
}

ByteVector EncodeTexture1001(const Picture16& picture) {
    const std::size_t stride = RowStride(16, picture.width);
    ByteVector rows(stride * static_cast<std::size_t>(picture.height), 0);
    for (std::int32_t y = 0; y < picture.height; ++y) {
        for (std::int32_t x = 0; x < picture.width; ++x) {
            std::uint16_t v = picture.pixels[static_cast<std::size_t>(y * picture.width + x)];
            std::size_t at = static_cast<std::size_t>(y) * stride + 2 * static_cast<std::size_t>(x);
            rows[at] = static_cast<std::uint8_t>(v);
            rows[at + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    }
    PayloadWriter w;
    w.U32(1001).I32(picture.width).I32(picture.height).Chunk(rows);
    return w.bytes;
}

ByteVector EncodeTexture1002(const IndexedPicture& picture) {
    PayloadWriter w;
    w.U32(1002).I32(picture.width).I32(picture.height);
    w.Chunk(picture.palette).Chunk(StrideRows(picture));
    return w.bytes;
}

ByteVector EncodeTexture1004(const IndexedPicture& picture) {
    PayloadWriter w;
    w.U32(1004).I32(picture.width).I32(picture.height).U32(0);
    w.Chunk(picture.palette);
    w.Chunk(SwizzleTiles(StrideRows(picture), RowStride(8, picture.width), picture.height));
    return w.bytes;
}

std::optional<ByteVector> EncodeLookupTiles(const IndexedPicture& picture) {
    IndexedPicture stored = picture;
    bool exact = true;
    ByteVector data = morvex::EncodeLookupTiles(stored, RowStride(8, picture.width), exact);
    if (!exact) return std::nullopt;
    return data;
}

std::optional<ByteVector> EncodeTexture1005(const IndexedPicture& picture) {
    std::optional<ByteVector> tiles = EncodeLookupTiles(picture);
    if (!tiles) return std::nullopt;
    PayloadWriter w;
    w.U32(1005).I32(picture.width).I32(picture.height).U32(0);
    w.Chunk(DeltaPalette(picture.palette)).U32(0).Chunk(*tiles);
    return w.bytes;
}

std::optional<ByteVector> EncodeQuadTiles(const IndexedPicture& picture, std::int32_t tileWidth,
                                          std::int32_t tileHeight) {
    IndexedPicture stored = picture;
    bool exact = true;
    ByteVector data =
        morvex::EncodeQuadTiles(stored, RowStride(8, picture.width), tileWidth, tileHeight, exact);
    if (!exact) return std::nullopt;
    return data;
}

std::optional<ByteVector> EncodeTexture1006(const IndexedPicture& picture,
                                            const QuadTileOptions& options) {
    std::optional<ByteVector> tiles =
        EncodeQuadTiles(picture, 1 << options.tileWidthExponent, 1 << options.tileHeightExponent);
    if (!tiles) return std::nullopt;
    ByteVector data(picture.palette);
    data.insert(data.end(), tiles->begin(), tiles->end());
    PayloadWriter w;
    w.U32(1006).U32(static_cast<std::uint32_t>(16 + data.size())).Zeros(6);
    w.U16(PaletteCount(picture));
    w.U8(static_cast<std::uint8_t>(options.tileWidthExponent));
    w.U8(static_cast<std::uint8_t>(options.tileHeightExponent));
    w.U16(static_cast<std::uint16_t>(picture.width))
        .U16(static_cast<std::uint16_t>(picture.height));
    w.U8(0).U8(options.packed ? 1 : 0);
    if (options.packed) {
        w.Chunk(data);
    } else {
        w.Raw(data);
    }
    return w.bytes;
}

IndexedPicture ExpectedPicture(const IndexedPicture& picture, TileCoverage coverage,
                               std::int32_t tileWidth, std::int32_t tileHeight) {
    const auto stride = static_cast<std::int32_t>(RowStride(8, picture.width));
    std::int32_t columns = picture.width, rows = picture.height;
    switch (coverage) {
        case TileCoverage::Rows:
            break;
        case TileCoverage::ByteTiles:
            columns = stride / 16 * 16;
            break;
        case TileCoverage::LookupTiles:
            columns = stride / 16 * 16;
            rows = picture.height / 8 * 8;
            break;
        case TileCoverage::QuadTiles:
            columns = tileWidth < 2 || tileHeight < 2 ? 0 : stride / tileWidth * tileWidth;
            rows = tileWidth < 2 || tileHeight < 2 ? 0 : picture.height / tileHeight * tileHeight;
            break;
    }
    IndexedPicture out = picture;
    for (std::int32_t y = 0; y < picture.height; ++y) {
        for (std::int32_t x = 0; x < picture.width; ++x) {
            if (x >= columns || y >= rows) Set(out, x, y, 0);
        }
    }
    return out;
}

IndexedPicture WoodPlanks(std::int32_t width, std::int32_t height) {
    IndexedPicture p = Blank(width, height);
    AddColour(p, 52, 30, 14);  // the seams between planks
    for (int i = 1; i < 16; ++i) AddColour(p, 112 + i * 8, 70 + i * 5, 34 + i * 3);
    for (std::int32_t y = 0; y < height; ++y) {
        const std::int32_t plank = y / 16;
        for (std::int32_t x = 0; x < width; ++x) {
            if (y % 16 == 15 || (x + plank * 23) % 48 == 0) continue;  // seam: index 0
            // Grain: a triangle wave along the plank, bent a little from row to row.
            std::int32_t t = (x * 2 + (y % 16) * (y % 16) / 6 + plank * 29) % 28;
            std::int32_t wave = t < 14 ? t : 27 - t;
            std::int32_t knot =
                Hash(static_cast<std::uint32_t>(x / 4), static_cast<std::uint32_t>(y / 4), 7) %
                            29 ==
                        0
                    ? -4
                    : 0;
            Set(p, x, y,
                static_cast<std::uint8_t>(std::clamp(1 + wave + (plank % 2) + knot, 1, 15)));
        }
    }
    return p;
}

IndexedPicture ClothPattern(std::int32_t width, std::int32_t height) {
    IndexedPicture p = Blank(width, height);
    AddColour(p, 20, 24, 60);
    for (int i = 0; i < 5; ++i) AddColour(p, 40 + i * 14, 60 + i * 16, 150 + i * 20);  // warp 1..5
    for (int i = 0; i < 5; ++i) AddColour(p, 150 + i * 20, 40 + i * 10, 40 + i * 8);   // weft 6..10
    for (int i = 0; i < 5; ++i) AddColour(p, 230, 200 + i * 10, 90 + i * 30);          // stripes
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            bool warp = ((x / 4) + (y / 4)) % 2 == 0;
            std::int32_t shade = warp ? (x % 4 == 0 || x % 4 == 3 ? 0 : 2) + (y % 4) / 2
                                      : (y % 4 == 0 || y % 4 == 3 ? 0 : 2) + (x % 4) / 2;
            std::int32_t index = (warp ? 1 : 6) + shade;
            if (x % 32 == 14 || x % 32 == 15 || y % 32 == 14) index = 11 + shade;  // plaid lines
            Set(p, x, y, static_cast<std::uint8_t>(index));
        }
    }
    return p;
}

IndexedPicture SkinTone(std::int32_t width, std::int32_t height) {
    IndexedPicture p = Blank(width, height);
    for (int i = 0; i < 16; ++i) AddColour(p, 255 - i * 4, 226 - i * 6, 198 - i * 7);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            // A soft light from the top left with a faint freckle noise.
            std::int32_t shade = (x + 2 * y) * 12 / std::max(1, width + 2 * height);
            if (Hash(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 3) % 11 == 0)
                shade += 2;
            Set(p, x, y, static_cast<std::uint8_t>(std::clamp(shade, 0, 15)));
        }
    }
    return p;
}

IndexedPicture TestPicture(std::int32_t width, std::int32_t height, std::uint32_t seed) {
    IndexedPicture p = Blank(width, height);
    std::mt19937 rng(seed);
    for (int i = 0; i < 256; ++i) {
        p.palette.insert(p.palette.end(),
                         {static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                          static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng())});
    }
    for (std::int32_t ay = 0; ay < height; ay += 8) {
        for (std::int32_t ax = 0; ax < width; ax += 16) {
            if (rng() % 8 == 0) continue;  // an all-zero area
            // 1 to 16 colours, and up to 4 motifs made of them.
            std::vector<std::uint8_t> colours(1 + rng() % 16);
            for (auto& c : colours) c = static_cast<std::uint8_t>(rng());
            auto pick = [&] { return colours[rng() % colours.size()]; };
            std::vector<Block4> motifs(1 + rng() % 4);
            for (auto& m : motifs) m = {pick(), pick(), pick(), pick()};
            Block4 previous = motifs[0];
            for (std::int32_t by = ay; by < ay + 8; by += 2) {
                for (std::int32_t bx = ax; bx < ax + 16; bx += 2) {
                    std::uint32_t choice = rng() % 10;
                    Block4 b = choice < 4   ? previous
                               : choice < 7 ? Mirror(motifs[rng() % motifs.size()],
                                                     static_cast<int>(1 + rng() % 3))
                               : choice < 9 ? motifs[rng() % motifs.size()]
                                            : Block4{pick(), pick(), pick(), pick()};
                    previous = b;
                    for (int k = 0; k < 4; ++k) {
                        std::int32_t x = bx + (k & 1), y = by + (k >> 1);
                        if (x < width && y < height) Set(p, x, y, b[static_cast<std::size_t>(k)]);
                    }
                }
            }
        }
    }
    return p;
}

Picture16 TestPicture16(std::int32_t width, std::int32_t height, std::uint32_t seed) {
    Picture16 p;
    p.width = width;
    p.height = height;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint32_t noise =
                Hash(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), seed);
            // Gradients in the three 5-bit channels, with some noise to defeat long runs.
            std::uint32_t r =
                static_cast<std::uint32_t>(x) * 31 / static_cast<std::uint32_t>(std::max(1, width));
            std::uint32_t g = static_cast<std::uint32_t>(y) * 31 /
                              static_cast<std::uint32_t>(std::max(1, height));
            std::uint32_t b = noise & 31;
            p.pixels.push_back(
                static_cast<std::uint16_t>((r << 10) | (g << 5) | b | (noise & 0x8000)));
        }
    }
    return p;
}

}  // namespace morvex::testdata

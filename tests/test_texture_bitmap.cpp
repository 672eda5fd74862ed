// ConvertToBitmap: bitmap headers, palettes, every stored format round-tripped through our
// encoders and compressor, and the refusals and clippings for data that does not fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "decode/texture_block.h"
#include "encode/compress.h"
#include "encode/palette.h"
#include "encode/texture_encoder.h"
#include "export/bitmap.h"
#include "test_texture_bmp.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

using test::ReadLe;
using testdata::ByteVector;
using testdata::IndexedPicture;
using testdata::PayloadWriter;
using testdata::TileCoverage;

struct Converted {
    Outcome result = Outcome::Broken;
    std::vector<std::uint8_t> image;
};

Converted Convert(std::span<const std::uint8_t> texture) {
    Converted c;
    c.result = ConvertToBitmap(c.image, texture);
    return c;
}

// The bitmap holds exactly `expected`: size, 8 bits, its palette in bitmap order and its indices.
::testing::AssertionResult HoldsPicture(const std::vector<std::uint8_t>& image,
                                        const IndexedPicture& expected) {
    std::string why;
    std::optional<test::BitmapFile> bmp = test::ReadBitmap(image, &why);
    if (!bmp) return ::testing::AssertionFailure() << "not a bitmap: " << why;
    if (bmp->width != expected.width || bmp->height != expected.height) {
        return ::testing::AssertionFailure() << "size " << bmp->width << "x" << bmp->height;
    }
    if (bmp->bitsPerPixel != 8)
        return ::testing::AssertionFailure() << "bits " << bmp->bitsPerPixel;
    std::vector<std::uint8_t> palette = test::BitmapPalette(expected.palette);
    if (bmp->palette != palette) return ::testing::AssertionFailure() << "palette differs";
    if (bmp->coloursUsed != palette.size() / 4) {
        return ::testing::AssertionFailure() << "colours used " << bmp->coloursUsed;
    }
    for (std::int32_t y = 0; y < expected.height; ++y) {
        for (std::int32_t x = 0; x < expected.width; ++x) {
            if (bmp->At(x, y) != expected.At(x, y)) {
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is " << bmp->At(x, y) << ", want "
                       << int{expected.At(x, y)};
            }
        }
    }
    return ::testing::AssertionSuccess();
}

IndexedPicture WithPalette(IndexedPicture p, std::vector<std::uint8_t> palette) {
    p.palette = std::move(palette);
    return p;
}

// ---------------------------------------------------------------------------------------------
// Headers and palettes

TEST(Bitmap, Format1001FourByTwoIsSeventyBytesLastRowFirst) {
    PayloadWriter rows;
    rows.U16(0x0102).U16(0x0304).U16(0x0506).U16(0x0708);  // top row
    rows.U16(0x1112).U16(0x1314).U16(0x1516).U16(0x1718);  // bottom row
    PayloadWriter texture;
    texture.U32(1001).I32(4).I32(2).Chunk(rows.bytes);

    Converted c = Convert(texture.bytes);
    ASSERT_EQ(c.result, Outcome::Ok);
    const std::vector<std::uint8_t> want = {
        'B',  'M',  70,   0,    0,    0,    0,    0,    0, 0, 54, 0, 0, 0,  // file header
        40,   0,    0,    0,    4,    0,    0,    0,    2, 0, 0,  0, 1, 0,
        16,   0,  // size, width, height, planes, bits
        0,    0,    0,    0,    16,   0,    0,    0,    0, 0, 0,  0, 0, 0,
        0,    0,                                         // compression, image size, resolutions
        0,    0,    0,    0,    0,    0,    0,    0,     // colours used, important
        0x12, 0x11, 0x14, 0x13, 0x16, 0x15, 0x18, 0x17,  // the last stored row first
        0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07};
    EXPECT_EQ(c.image, want);
}

TEST(Bitmap, Format1001RoundTripsOddWidths) {
    for (auto [w, h] : {std::pair{1, 1}, {3, 5}, {17, 9}, {64, 33}}) {
        testdata::Picture16 picture = testdata::TestPicture16(w, h, 5);
        Converted c = Convert(testdata::EncodeTexture1001(picture));
        ASSERT_EQ(c.result, Outcome::Ok);
        std::optional<test::BitmapFile> bmp = test::ReadBitmap(c.image);
        ASSERT_TRUE(bmp);
        EXPECT_EQ(bmp->bitsPerPixel, 16);
        EXPECT_EQ(bmp->pixelOffset, 54u);
        EXPECT_EQ(bmp->coloursUsed, 0u);
        EXPECT_EQ(bmp->imageSize, testdata::RowStride(16, w) * static_cast<std::size_t>(h));
        for (std::int32_t y = 0; y < h; ++y) {
            for (std::int32_t x = 0; x < w; ++x) {
                ASSERT_EQ(bmp->At(x, y), picture.pixels[static_cast<std::size_t>(y * w + x)])
                    << w << "x" << h << " at " << x << "," << y;
            }
        }
    }
}

enum class Stored { k1002, k1004, k1005, k1006Packed, k1006Raw };

struct FormatCase {
    const char* label;
    Stored format;
    int tileWidthExponent = 3;
    int tileHeightExponent = 3;
};

const FormatCase kIndexedFormats[] = {
    {"1002", Stored::k1002},        {"1004", Stored::k1004},
    {"1005", Stored::k1005},        {"1006_packed", Stored::k1006Packed},
    {"1006_raw", Stored::k1006Raw},
};

std::optional<ByteVector> Encode(const IndexedPicture& p, const FormatCase& f) {
    switch (f.format) {
        case Stored::k1002:
            return testdata::EncodeTexture1002(p);
        case Stored::k1004:
            return testdata::EncodeTexture1004(p);
        case Stored::k1005:
            return testdata::EncodeTexture1005(p);
        case Stored::k1006Packed:
        case Stored::k1006Raw:
            return testdata::EncodeTexture1006(
                p, {f.tileWidthExponent, f.tileHeightExponent, f.format == Stored::k1006Packed});
    }
    return std::nullopt;
}

IndexedPicture Expected(const IndexedPicture& p, const FormatCase& f) {
    switch (f.format) {
        case Stored::k1002:
            return testdata::ExpectedPicture(p, TileCoverage::Rows);
        case Stored::k1004:
            return testdata::ExpectedPicture(p, TileCoverage::ByteTiles);
        case Stored::k1005:
            return testdata::ExpectedPicture(p, TileCoverage::LookupTiles);
        default:
            return testdata::ExpectedPicture(p, TileCoverage::QuadTiles, 1 << f.tileWidthExponent,
                                             1 << f.tileHeightExponent);
    }
}

class IndexedFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(IndexedFormat, SixteenSquareWithFullPaletteIs1334Bytes) {
    IndexedPicture picture = testdata::TestPicture(16, 16, 11);
    ASSERT_EQ(picture.palette.size(), 1024u);
    std::optional<ByteVector> texture = Encode(picture, GetParam());
    ASSERT_TRUE(texture);
    Converted c = Convert(*texture);
    ASSERT_EQ(c.result, Outcome::Ok);
    ASSERT_EQ(c.image.size(), 1334u);
    std::optional<test::BitmapFile> bmp = test::ReadBitmap(c.image);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->fileSize, 1334u);
    EXPECT_EQ(bmp->pixelOffset, 1078u);
    EXPECT_EQ(bmp->coloursUsed, 256u);
    EXPECT_EQ(bmp->imageSize, 256u);
    EXPECT_EQ(ReadLe(c.image, 38, 4) | ReadLe(c.image, 42, 4) | ReadLe(c.image, 50, 4), 0u);
    EXPECT_TRUE(HoldsPicture(c.image, Expected(picture, GetParam())));
}

TEST_P(IndexedFormat, PaletteEntriesComeOutBlueGreenRedFourth) {
    IndexedPicture picture = WithPalette(testdata::TestPicture(16, 8, 3),
                                         {0x10, 0x20, 0x30, 0x40, 0xA1, 0xB2, 0xC3, 0xD4});
    std::fill(picture.pixels.begin(), picture.pixels.end(), 1);
    std::optional<ByteVector> texture = Encode(picture, GetParam());
    ASSERT_TRUE(texture);
    Converted c = Convert(*texture);
    ASSERT_EQ(c.result, Outcome::Ok);
    ASSERT_GE(c.image.size(), 62u);
    EXPECT_EQ(std::vector<std::uint8_t>(c.image.begin() + 54, c.image.begin() + 62),
              (std::vector<std::uint8_t>{0x30, 0x20, 0x10, 0x40, 0xC3, 0xB2, 0xA1, 0xD4}));
    EXPECT_TRUE(HoldsPicture(c.image, Expected(picture, GetParam())));
}

TEST_P(IndexedFormat, RoundTripsPicturesOfManySizes) {
    const std::pair<int, int> sizes[] = {{1, 1},   {2, 2},   {3, 5},  {16, 8},  {17, 9},
                                         {20, 12}, {33, 17}, {48, 8}, {64, 64}, {100, 37}};
    for (auto [w, h] : sizes) {
        for (std::uint32_t seed : {1u, 2u}) {
            IndexedPicture picture = testdata::TestPicture(w, h, seed);
            std::optional<ByteVector> texture = Encode(picture, GetParam());
            ASSERT_TRUE(texture) << w << "x" << h;
            Converted c = Convert(*texture);
            ASSERT_EQ(c.result, Outcome::Ok) << w << "x" << h;
            EXPECT_TRUE(HoldsPicture(c.image, Expected(picture, GetParam())))
                << w << "x" << h << " seed " << seed;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, IndexedFormat, ::testing::ValuesIn(kIndexedFormats),
                         [](const auto& info) { return std::string(info.param.label); });

class QuadTileSizes : public ::testing::TestWithParam<FormatCase> {};

TEST_P(QuadTileSizes, RoundTrip) {
    for (auto [w, h] : {std::pair{64, 64}, {70, 45}, {128, 32}}) {
        IndexedPicture picture = testdata::TestPicture(w, h, 9);
        std::optional<ByteVector> texture = Encode(picture, GetParam());
        ASSERT_TRUE(texture);
        Converted c = Convert(*texture);
        ASSERT_EQ(c.result, Outcome::Ok);
        EXPECT_TRUE(HoldsPicture(c.image, Expected(picture, GetParam()))) << w << "x" << h;
    }
}

INSTANTIATE_TEST_SUITE_P(Tiles, QuadTileSizes,
                         ::testing::Values(FormatCase{"2x2", Stored::k1006Packed, 1, 1},
                                           FormatCase{"4x8_raw", Stored::k1006Raw, 2, 3},
                                           FormatCase{"16x4", Stored::k1006Packed, 4, 2},
                                           FormatCase{"32x32", Stored::k1006Packed, 5, 5},
                                           FormatCase{"1x8_holds_no_block", Stored::k1006Raw, 0, 3},
                                           FormatCase{"8x1_holds_no_block", Stored::k1006Packed, 3,
                                                      0}),
                         [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------------------------
// Writing textures into the format of an original

// An original TEXI payload of the format, with marks in the bytes no reader uses: 1004's and
// 1005's header word, 1005's word between its chunks, 1006's header bytes 8 to 13 and 22.
ByteVector MarkedOriginal(const FormatCase& f) {
    ByteVector texture = *Encode(testdata::TestPicture(40, 24, 5), f);
    if (f.format == Stored::k1004 || f.format == Stored::k1005)
        StoreU32(texture.data() + 12, 0xA5A5A5A5u);
    if (f.format == Stored::k1005)
        StoreU32(texture.data() + 16 + 4 + ReadLe(texture, 16, 4), 0x5A5A5A5Au);
    if (f.format == Stored::k1006Packed || f.format == Stored::k1006Raw) {
        for (std::size_t k : {8u, 9u, 10u, 11u, 12u, 13u, 22u})
            texture[k] = static_cast<std::uint8_t>(0xC0 + k);
    }
    return testdata::TexiPayload("wood:planks", texture);
}

TextureImage AsIndexed(const IndexedPicture& p) {
    TextureImage image;
    image.form = TextureImage::Form::Indexed;
    image.width = p.width;
    image.height = p.height;
    image.indices = p.pixels;
    image.palette = p.palette;
    return image;
}
TextureImage AsRgba(std::int32_t width, std::int32_t height,
                    const std::vector<std::uint32_t>& colours) {
    TextureImage image;
    image.width = width;
    image.height = height;
    for (std::uint32_t c : colours) {
        image.rgba.insert(image.rgba.end(),
                          {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                           static_cast<std::uint8_t>(c >> 16), 255});
    }
    return image;
}
// The colours of an 8-bit picture, rows top first.
std::vector<std::uint32_t> ColoursOf(const IndexedPicture& p) {
    std::vector<std::uint32_t> colours;
    for (std::uint8_t i : p.pixels) colours.push_back(EntryColour(p.palette, i));
    return colours;
}
IndexedPicture Indexed(const Picture& picture) {
    TextureImage image = ImageFromPicture(picture);
    IndexedPicture p;
    p.width = image.width;
    p.height = image.height;
    p.pixels = std::move(image.indices);
    p.palette = std::move(image.palette);
    return p;
}

struct Stored8 {
    EncodeResult result;
    ByteVector payload;
    TextureEncodeStats stats;
    Picture picture;
};
Stored8 Store(const ByteVector& original, const TextureImage& image) {
    Stored8 s;
    s.result = EncodeTexture(original, image, s.payload, &s.stats);
    if (s.result.Ok()) {
        EXPECT_EQ(DecodeTexture(std::span(s.payload).subspan(36), s.picture), Outcome::Ok);
    }
    return s;
}

// The stats agree with the stored picture: the pixels whose colour changed and their error.
void ExpectStatsOfTheStoredPicture(const Stored8& s, const std::vector<std::uint32_t>& asked,
                                   const IndexedPicture& stored, const IndexedPicture& mask) {
    std::int64_t changed = 0;
    double squares = 0;
    std::int64_t counted = 0;
    const std::vector<std::uint32_t> got = ColoursOf(stored);
    for (std::size_t p = 0; p < asked.size(); ++p) {
        if (mask.pixels[p] == 0) continue;
        ++counted;
        if (asked[p] == got[p]) continue;
        ++changed;
        for (int c = 0; c < 3; ++c) {
            const int e = static_cast<int>((asked[p] >> (8 * c)) & 0xFF) -
                          static_cast<int>((got[p] >> (8 * c)) & 0xFF);
            squares += e * e;
        }
    }
    EXPECT_EQ(s.stats.changed, changed);
    EXPECT_EQ(s.stats.exact, changed == 0);
    EXPECT_EQ(s.stats.pixels - s.stats.unstored, counted);
    EXPECT_NEAR(s.stats.rootMeanSquare,
                counted ? std::sqrt(squares / (3.0 * static_cast<double>(counted))) : 0.0, 1e-9);
}

// 1 where the format stores the pixel, 0 elsewhere.
IndexedPicture StoredMask(std::int32_t w, std::int32_t h, const FormatCase& f) {
    IndexedPicture ones;
    ones.width = w;
    ones.height = h;
    ones.pixels.assign(static_cast<std::size_t>(w * h), 1);
    return Expected(ones, f);
}

TEST_P(IndexedFormat, EncoderStoresNewPicturesInTheOriginalsFormat) {
    const FormatCase& f = GetParam();
    const ByteVector original = MarkedOriginal(f);
    const std::pair<int, int> sizes[] = {{1, 1}, {16, 8}, {48, 8}, {17, 9}, {100, 37}};
    for (auto [w, h] : sizes) {
        for (std::uint32_t seed : {21u, 22u}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " seed " +
                         std::to_string(seed));
            const IndexedPicture picture = testdata::TestPicture(w, h, seed);
            const IndexedPicture mask = StoredMask(w, h, f);
            Stored8 indexed = Store(original, AsIndexed(picture));
            ASSERT_TRUE(indexed.result.Ok()) << indexed.result.message;
            Converted c = Convert(std::span(indexed.payload).subspan(36));
            EXPECT_TRUE(HoldsPicture(c.image, Expected(picture, f)));
            ExpectStatsOfTheStoredPicture(indexed, ColoursOf(picture), Indexed(indexed.picture),
                                          mask);
            EXPECT_TRUE(indexed.stats.exact);

            Stored8 rgba = Store(original, AsRgba(w, h, ColoursOf(picture)));
            ASSERT_TRUE(rgba.result.Ok()) << rgba.result.message;
            ExpectStatsOfTheStoredPicture(rgba, ColoursOf(picture), Indexed(rgba.picture), mask);
            EXPECT_TRUE(rgba.stats.exact);

            // The name field and the bytes no reader uses are the original's.
            for (const ByteVector* payload : {&indexed.payload, &rgba.payload}) {
                EXPECT_TRUE(std::equal(original.begin(), original.begin() + 36, payload->begin()));
                if (f.format == Stored::k1004 || f.format == Stored::k1005) {
                    EXPECT_EQ(ReadLe(*payload, 48, 4), 0xA5A5A5A5u);
                }
                if (f.format == Stored::k1005) {
                    EXPECT_EQ(ReadLe(*payload, 52 + 4 + ReadLe(*payload, 52, 4), 4), 0x5A5A5A5Au);
                }
                if (f.format == Stored::k1006Packed || f.format == Stored::k1006Raw) {
                    for (std::size_t k : {8u, 9u, 10u, 11u, 12u, 13u, 22u})
                        EXPECT_EQ((*payload)[36 + k], 0xC0 + k);
                }
            }
        }
    }
}

TEST_P(QuadTileSizes, EncoderKeepsTheTileSizesAndThePackedFlag) {
    const ByteVector original = MarkedOriginal(GetParam());
    const IndexedPicture picture = testdata::TestPicture(70, 45, 3);
    Stored8 s = Store(original, AsIndexed(picture));
    ASSERT_TRUE(s.result.Ok());
    for (std::size_t k : {36u + 16, 36u + 17, 36u + 23}) EXPECT_EQ(s.payload[k], original[k]) << k;
    Converted c = Convert(std::span(s.payload).subspan(36));
    EXPECT_TRUE(HoldsPicture(c.image, Expected(picture, GetParam())));
}

TEST(Bitmap, SampleTexturesRoundTrip) {
    for (const IndexedPicture& p : {testdata::WoodPlanks(64, 64), testdata::ClothPattern(64, 64),
                                    testdata::SkinTone(64, 64)}) {
        for (const FormatCase& f : kIndexedFormats) {
            std::optional<ByteVector> texture = Encode(p, f);
            ASSERT_TRUE(texture) << f.label;
            Converted c = Convert(*texture);
            ASSERT_EQ(c.result, Outcome::Ok) << f.label;
            EXPECT_TRUE(HoldsPicture(c.image, p)) << f.label;
        }
    }
}

TEST(Bitmap, Format1005PaletteDifferencesCarryIntoTheNextByte) {
    // The stored entries 255 and 1 are the values 255 and 256: FF 00 00 00 and 00 01 00 00,
    // then red and blue exchange places.
    PayloadWriter palette;
    palette.U32(255).U32(1);
    std::optional<ByteVector> tiles = testdata::EncodeLookupTiles(testdata::TestPicture(16, 8, 1));
    ASSERT_TRUE(tiles);
    PayloadWriter texture;
    texture.U32(1005).I32(16).I32(8).U32(0).Chunk(palette.bytes).U32(0).Chunk(*tiles);
    Converted c = Convert(texture.bytes);
    ASSERT_EQ(c.result, Outcome::Ok);
    EXPECT_EQ(std::vector<std::uint8_t>(c.image.begin() + 54, c.image.begin() + 62),
              (std::vector<std::uint8_t>{0x00, 0x00, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x00}));
}

TEST(Bitmap, Format1002CopiesWholeStoredRowsAtTheStride) {
    // Width 10 gives a stride of 12: each stored row is 12 bytes, copied whole.
    PayloadWriter rows;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 10; ++x) rows.U8(static_cast<std::uint8_t>(y * 10 + x + 1));
        rows.U8(0xEE).U8(0xEF);
    }
    PayloadWriter texture;
    texture.U32(1002).I32(10).I32(3).Chunk(std::vector<std::uint8_t>{1, 2, 3, 4}).Chunk(rows.bytes);
    Converted c = Convert(texture.bytes);
    ASSERT_EQ(c.result, Outcome::Ok);
    std::optional<test::BitmapFile> bmp = test::ReadBitmap(c.image);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->imageSize, 36u);
    for (int y = 0; y < 3; ++y) {
        const std::size_t row = 58 + static_cast<std::size_t>(2 - y) * 12;
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(c.image[row + static_cast<std::size_t>(x)], y * 10 + x + 1);
        EXPECT_EQ(c.image[row + 10], 0xEE);
        EXPECT_EQ(c.image[row + 11], 0xEF);
    }
}

TEST(Bitmap, RowsMissingFromShortDataStayZero) {
    // 4x4 at 8 bits: 10 of the 16 pixel bytes are stored.
    std::vector<std::uint8_t> rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    PayloadWriter texture;
    texture.U32(1002).I32(4).I32(4).Chunk(std::vector<std::uint8_t>(16, 7)).Chunk(rows);
    Converted c = Convert(texture.bytes);
    ASSERT_EQ(c.result, Outcome::Ok);
    std::optional<test::BitmapFile> bmp = test::ReadBitmap(c.image);
    ASSERT_TRUE(bmp);
    const std::vector<std::uint32_t> want = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(bmp->pixels, want);
}

TEST(Bitmap, Format1004TwelveRowsReadTwoTileRowsAndSkipTheRest) {
    IndexedPicture picture = testdata::TestPicture(32, 12, 4);
    ByteVector tiles = testdata::SwizzleTiles(testdata::StrideRows(picture), 32, 12);
    ASSERT_EQ(tiles.size(), 2u * 8 * 32);
    // Rows 12 to 15 of the second tile row lie below the picture: fill them with a marker that
    // must not show up.
    for (std::size_t tx = 0; tx < 2; ++tx) {
        for (std::size_t r = 4; r < 8; ++r) {
            std::fill_n(tiles.begin() + static_cast<std::ptrdiff_t>(8 * 32 + tx * 128 + r * 16), 16,
                        0xAB);
        }
    }
    PayloadWriter texture;
    texture.U32(1004).I32(32).I32(12).U32(0).Chunk(picture.palette).Chunk(tiles);
    Converted c = Convert(texture.bytes);
    ASSERT_EQ(c.result, Outcome::Ok);
    EXPECT_TRUE(HoldsPicture(c.image, picture));
}

TEST(Bitmap, PaletteAbove1024BytesKeepsTheFirst256Entries) {
    IndexedPicture picture = testdata::TestPicture(16, 8, 6);
    std::mt19937 rng(1);
    picture.palette.resize(300 * 4);
    for (auto& b : picture.palette) b = static_cast<std::uint8_t>(rng());
    for (const FormatCase& f : kIndexedFormats) {
        std::optional<ByteVector> texture = Encode(picture, f);
        ASSERT_TRUE(texture) << f.label;
        Converted c = Convert(*texture);
        ASSERT_EQ(c.result, Outcome::Ok) << f.label;
        std::optional<test::BitmapFile> bmp = test::ReadBitmap(c.image);
        ASSERT_TRUE(bmp) << f.label;
        EXPECT_EQ(bmp->pixelOffset, 1078u) << f.label;
        EXPECT_EQ(bmp->coloursUsed, 256u) << f.label;
        EXPECT_TRUE(HoldsPicture(c.image, Expected(picture, f))) << f.label;
    }
}

TEST(Bitmap, PaletteTailShorterThanAnEntryIsCopiedUnchanged) {
    PayloadWriter texture;
    texture.U32(1002).I32(4).I32(1);
    texture.Chunk(std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6})
        .Chunk(std::vector<std::uint8_t>{0, 0, 0, 0});
    Converted c = Convert(texture.bytes);
    ASSERT_EQ(c.result, Outcome::Ok);
    ASSERT_EQ(c.image.size(), 54u + 6 + 4);
    EXPECT_EQ(ReadLe(c.image, 10, 4), 60u);
    EXPECT_EQ(ReadLe(c.image, 46, 4), 1u);
    EXPECT_EQ(std::vector<std::uint8_t>(c.image.begin() + 54, c.image.begin() + 60),
              (std::vector<std::uint8_t>{3, 2, 1, 4, 5, 6}));
}

// ---------------------------------------------------------------------------------------------
// Refusals

ByteVector Header1006(std::uint32_t dataSize, std::int16_t count, std::uint8_t tileWidthExponent,
                      std::uint8_t tileHeightExponent, std::int16_t width, std::int16_t height,
                      bool packed) {
    PayloadWriter w;
    w.U32(1006).U32(dataSize).Zeros(6).U16(static_cast<std::uint16_t>(count));
    w.U8(tileWidthExponent).U8(tileHeightExponent);
    w.U16(static_cast<std::uint16_t>(width)).U16(static_cast<std::uint16_t>(height));
    w.U8(0).U8(packed ? 1 : 0);
    return w.bytes;
}

ByteVector Plain(std::uint32_t format, std::int32_t width, std::int32_t height) {
    PayloadWriter w;
    w.U32(format).I32(width).I32(height);
    if (format == 1004 || format == 1005) w.U32(0);
    w.Chunk(std::vector<std::uint8_t>(16, 1));
    if (format == 1005) w.U32(0);
    w.Chunk(std::vector<std::uint8_t>(64, 0));
    return w.bytes;
}

ByteVector Concat(ByteVector a, const ByteVector& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct RefusalCase {
    const char* label;
    ByteVector texture;
    Outcome result;
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, GivesItsResultAndNoImage) {
    Converted c = Convert(GetParam().texture);
    EXPECT_EQ(c.result, GetParam().result);
    EXPECT_TRUE(c.image.empty());
}

std::vector<RefusalCase> RefusalCases() {
    const ByteVector pixels6 = testdata::PackChunk(std::vector<std::uint8_t>(16, 0));
    // A chunk whose unpacked size no stream of its length could produce.
    PayloadWriter impossible;
    impossible.U32(1002).I32(4).I32(4).Chunk(std::vector<std::uint8_t>(4, 1));
    impossible.U32(20)
        .U32(0xFFFFFFFFu)
        .U32(0)
        .Raw(Compress(std::vector<std::uint8_t>(4, 0)))
        .Zeros(8);
    // A palette chunk and no pixel chunk behind it.
    PayloadWriter noPixels;
    noPixels.U32(1002).I32(4).I32(4).Chunk(std::vector<std::uint8_t>(4, 1));
    // A palette chunk whose header is cut.
    PayloadWriter cutHeader;
    cutHeader.U32(1004).I32(16).I32(8).U32(0).U32(30).U32(4);
    // A palette chunk whose size sends the pixel chunk past the payload.
    PayloadWriter farChunk;
    farChunk.U32(1002).I32(4).I32(4).U32(0x7FFFFFF0).U32(0).U32(0).Zeros(40);
    // 1006 with a packed chunk that unpacks to fewer bytes than the palette.
    ByteVector shortPacked = Concat(Header1006(0, 8, 1, 1, 4, 4, true),
                                    testdata::PackChunk(std::vector<std::uint8_t>(31, 0)));
    ByteVector headerCut = Header1006(0, 0, 1, 1, 4, 4, false);
    headerCut.pop_back();
    return {
        {"empty", {}, Outcome::Broken},
        {"format_code_only", {0xEA, 0x03, 0, 0}, Outcome::Broken},
        {"no_height", {0xEA, 0x03, 0, 0, 4, 0, 0, 0}, Outcome::Broken},
        {"format_1003", Plain(1003, 4, 4), Outcome::Unsupported},
        {"format_0", Plain(0, 4, 4), Outcome::Unsupported},
        {"format_1007", Plain(1007, 4, 4), Outcome::Unsupported},
        {"zero_width", Plain(1002, 0, 4), Outcome::Broken},
        {"zero_height", Plain(1002, 4, 0), Outcome::Broken},
        {"negative_width", Plain(1004, -16, 8), Outcome::Broken},
        {"negative_height", Plain(1005, 16, -8), Outcome::Broken},
        {"width_above_16384", Plain(1002, 16385, 1), Outcome::Broken},
        {"height_above_16384", Plain(1001, 1, 16385), Outcome::Broken},
        {"pixel_rows_above_256MiB", Plain(1001, 16384, 8193), Outcome::Broken},
        {"unpacked_size_beyond_any_stream", impossible.bytes, Outcome::Broken},
        {"no_pixel_chunk", noPixels.bytes, Outcome::Broken},
        {"chunk_header_cut", cutHeader.bytes, Outcome::Broken},
        {"pixel_chunk_past_payload", farChunk.bytes, Outcome::Broken},
        {"1006_header_cut", headerCut, Outcome::Broken},
        {"1006_negative_count", Concat(Header1006(100, -1, 1, 1, 4, 4, false), ByteVector(80, 0)),
         Outcome::Broken},
        {"1006_negative_width", Concat(Header1006(100, 0, 1, 1, -4, 4, false), ByteVector(80, 0)),
         Outcome::Broken},
        {"1006_zero_height", Concat(Header1006(100, 0, 1, 1, 4, 0, false), ByteVector(80, 0)),
         Outcome::Broken},
        {"1006_raw_data_size_below_palette",
         Concat(Header1006(16 + 31, 8, 1, 1, 4, 4, false), ByteVector(80, 0)), Outcome::Broken},
        {"1006_packed_data_below_palette", shortPacked, Outcome::Broken},
        {"1006_packed_chunk_missing", Header1006(16, 0, 1, 1, 4, 4, true), Outcome::Broken},
    };
}

INSTANTIATE_TEST_SUITE_P(Textures, Refusal, ::testing::ValuesIn(RefusalCases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(Bitmap, LargestSideIsAccepted) {
    std::vector<std::uint8_t> rows(2 * 16384, 0);
    rows[0] = 9;
    rows[1] = 8;
    rows[2] = 7;
    PayloadWriter texture;
    texture.U32(1002).I32(16384).I32(2).Chunk(std::vector<std::uint8_t>{1, 2, 3, 4});
    texture.Chunk(rows);
    Converted c = Convert(texture.bytes);
    ASSERT_EQ(c.result, Outcome::Ok);
    std::optional<test::BitmapFile> bmp = test::ReadBitmap(c.image);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->width, 16384);
    EXPECT_EQ(bmp->At(0, 0), 9u);
    EXPECT_EQ(bmp->At(2, 0), 7u);
    EXPECT_EQ(bmp->At(3, 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Pictures their data cannot have produced

// A texture of `format` whose pixel data is `pixelData` (compressed in a chunk, or stored raw for
// 1006 with `raw`), with a one-entry palette.
ByteVector WithPixelData(std::uint32_t format, std::int32_t width, std::int32_t height,
                         const ByteVector& pixelData, int tileExponent = 1, bool raw = false) {
    const ByteVector palette = {10, 20, 30, 0};
    PayloadWriter w;
    if (format == 1006) {
        w.Raw(Header1006(static_cast<std::uint32_t>(16 + palette.size() + pixelData.size()), 1,
                         static_cast<std::uint8_t>(tileExponent),
                         static_cast<std::uint8_t>(tileExponent), static_cast<std::int16_t>(width),
                         static_cast<std::int16_t>(height), !raw));
        if (raw) {
            w.Raw(palette).Raw(pixelData);
        } else {
            w.Chunk(Concat(palette, pixelData));
        }
        return w.bytes;
    }
    w.U32(format).I32(width).I32(height);
    if (format == 1004 || format == 1005) w.U32(0);
    if (format != 1001) w.Chunk(palette);
    if (format == 1005) w.U32(0);
    w.Chunk(pixelData);
    return w.bytes;
}

struct DataBoundCase {
    const char* label;
    std::uint32_t format;
    std::int32_t width, height;
    int tileExponent;
    bool raw;
    std::size_t least;  // the least pixel data the layout holds
};

// Each layout with exactly its least data converts; one byte less is refused. The data is all
// zeros, which the layouts read as codebooks of size 0, tile values 0 and index 0: pictures
// whose data is as small as the layout allows.
TEST(Bitmap, APictureLargerThan4096BytesNeedsTheLeastDataOfItsLayout) {
    const DataBoundCase cases[] = {
        // every row: 1024 pixels of 2 bytes, 8 rows
        {"1001_rows", 1001, 1024, 8, 0, false, 16384},
        {"1002_rows", 1002, 128, 64, 0, false, 8192},
        // every tile row of 8 rows at the stride: 8 tile rows of 8 × 128 bytes
        {"1004_tile_rows", 1004, 128, 64, 0, false, 8192},
        // 64 × 128 tiles of 16 × 8: the tile map (4 bits a tile) and the check byte
        {"1005_tile_map", 1005, 1024, 1024, 0, false, 64 * 128 / 2 + 1},
        // 64 × 64 tiles of 2 × 2 (one block each): count and one reference each
        {"1006_packed_small_tiles", 1006, 128, 128, 1, false, 64 * 64 * 2},
        {"1006_raw_small_tiles", 1006, 128, 128, 1, true, 64 * 64 * 2},
        // 4 × 2 tiles of 64 × 64 (1024 blocks): count and 8 bytes of references each
        {"1006_packed_large_tiles", 1006, 256, 128, 6, false, 8 * (1 + 1024 / 128)},
        {"1006_raw_large_tiles", 1006, 256, 128, 6, true, 8 * (1 + 1024 / 128)},
    };
    for (const DataBoundCase& c : cases) {
        SCOPED_TRACE(c.label);
        Converted whole = Convert(WithPixelData(c.format, c.width, c.height, ByteVector(c.least, 0),
                                                c.tileExponent, c.raw));
        ASSERT_EQ(whole.result, Outcome::Ok);
        std::optional<test::BitmapFile> bmp = test::ReadBitmap(whole.image);
        ASSERT_TRUE(bmp);
        EXPECT_EQ(bmp->width, c.width);
        EXPECT_EQ(bmp->height, c.height);
        Converted shorter = Convert(WithPixelData(
            c.format, c.width, c.height, ByteVector(c.least - 1, 0), c.tileExponent, c.raw));
        EXPECT_EQ(shorter.result, Outcome::Broken);
        EXPECT_TRUE(shorter.image.empty());
    }
}

TEST(Bitmap, LargePicturesWhoseLayoutPlacesNothingAreRefused) {
    const ByteVector plenty(20000, 0);
    // 1005 narrower than a 16-pixel tile, and lower than an 8-row one; 1006 with tiles larger
    // than the picture, and one pixel wide.
    EXPECT_EQ(Convert(WithPixelData(1005, 12, 1024, plenty)).result, Outcome::Broken);
    EXPECT_EQ(Convert(WithPixelData(1005, 1024, 7, plenty)).result, Outcome::Broken);
    EXPECT_EQ(Convert(WithPixelData(1006, 128, 128, plenty, 8)).result, Outcome::Broken);
    EXPECT_EQ(Convert(WithPixelData(1006, 128, 128, plenty, 0)).result, Outcome::Broken);
    // The same at 4096 pixel bytes and below convert, to index 0.
    EXPECT_EQ(Convert(WithPixelData(1005, 12, 341, plenty)).result, Outcome::Ok);
    EXPECT_EQ(Convert(WithPixelData(1006, 64, 64, plenty, 8)).result, Outcome::Ok);
}

// A stream that produces less than its chunk declares does not count for more than it produced:
// 8192 bytes declared, 10 produced.
TEST(Bitmap, OnlyWhatTheStreamProducesBacksAPicture) {
    PayloadWriter texture;
    texture.U32(1002).I32(128).I32(64).Chunk(ByteVector{1, 2, 3, 4});
    texture.Raw(testdata::PackStream(Compress(ByteVector(10, 7)), 8192));
    EXPECT_EQ(Convert(texture.bytes).result, Outcome::Broken);
}

// Textures our encoders make convert whatever their size and however well they compress: large
// pictures of every kind, a black one and a one-colour one in the formats that store them in a
// few bytes.
TEST(Bitmap, LargeEncodedPicturesConvert) {
    IndexedPicture test = testdata::TestPicture(512, 256, 9);
    IndexedPicture wood = testdata::WoodPlanks(1024, 512);
    IndexedPicture black = testdata::TestPicture(1024, 1024, 1);
    std::fill(black.pixels.begin(), black.pixels.end(), 0);
    IndexedPicture flat = black;
    std::fill(flat.pixels.begin(), flat.pixels.end(), 3);
    int converted = 0;
    for (const IndexedPicture* p : {&test, &wood, &black, &flat}) {
        for (const FormatCase& f : kIndexedFormats) {
            const bool quad = f.format == Stored::k1006Packed || f.format == Stored::k1006Raw;
            for (int exponent : {3, 5}) {
                if (!quad && exponent != 3) continue;
                SCOPED_TRACE(std::string(f.label) + " " + std::to_string(p->width) + "x" +
                             std::to_string(p->height) + " tiles " + std::to_string(exponent));
                FormatCase tiled = f;
                tiled.tileWidthExponent = tiled.tileHeightExponent = exponent;
                std::optional<ByteVector> texture = Encode(*p, tiled);
                if (!texture) continue;  // more colours in a tile than the format holds
                Converted c = Convert(*texture);
                ASSERT_EQ(c.result, Outcome::Ok);
                EXPECT_TRUE(HoldsPicture(c.image, Expected(*p, tiled)));
                ++converted;
            }
        }
    }
    EXPECT_GE(converted, 20);
    const testdata::Picture16 picture16 = testdata::TestPicture16(600, 300, 4);
    EXPECT_EQ(Convert(testdata::EncodeTexture1001(picture16)).result, Outcome::Ok);
}

// ---------------------------------------------------------------------------------------------
// Data that runs out, and damaged data

TEST(Bitmap, Format1006RawDataSizeEqualToThePaletteGivesIndexZero) {
    ByteVector texture =
        Concat(Header1006(16 + 8, 2, 1, 1, 4, 4, false), ByteVector{1, 2, 3, 4, 5, 6, 7, 8});
    Converted c = Convert(texture);
    ASSERT_EQ(c.result, Outcome::Ok);
    IndexedPicture zero = testdata::ExpectedPicture(
        WithPalette(testdata::TestPicture(4, 4, 1), {1, 2, 3, 4, 5, 6, 7, 8}),
        TileCoverage::QuadTiles, 0, 0);
    EXPECT_TRUE(HoldsPicture(c.image, zero));
}

TEST(Bitmap, Format1006RawDataIsReadAsFarAsThePayloadGoes) {
    // Cut a raw texture inside its tiles: the tiles that lie wholly before the cut decode as
    // before, the palette is whole, and nothing outside the payload is read.
    IndexedPicture picture = testdata::TestPicture(32, 32, 8);
    std::optional<ByteVector> texture = testdata::EncodeTexture1006(picture, {3, 3, false});
    ASSERT_TRUE(texture);
    // The first tile alone: the top-left 8 by 8 pixels as a picture of their own.
    IndexedPicture corner = picture;
    corner.width = corner.height = 8;
    corner.pixels.clear();
    for (std::int32_t y = 0; y < 8; ++y) {
        for (std::int32_t x = 0; x < 8; ++x) corner.pixels.push_back(picture.At(x, y));
    }
    std::optional<ByteVector> firstTile = testdata::EncodeQuadTiles(corner, 8, 8);
    ASSERT_TRUE(firstTile);
    const std::size_t cut = 24 + picture.palette.size() + firstTile->size();
    Converted c = Convert(std::span(*texture).first(cut));
    ASSERT_EQ(c.result, Outcome::Ok);
    std::optional<test::BitmapFile> bmp = test::ReadBitmap(c.image);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->palette, test::BitmapPalette(picture.palette));
    for (std::int32_t y = 0; y < 32; ++y) {
        for (std::int32_t x = 0; x < 32; ++x) {
            std::uint32_t want = x < 8 && y < 8 ? picture.At(x, y) : 0;
            ASSERT_EQ(bmp->At(x, y), want) << x << "," << y;
        }
    }
}

TEST(Bitmap, ShortTileDataReadsAsZeros) {
    // Each tiled format with its pixel data cut to a part: what is there decodes, the rest is 0.
    IndexedPicture picture = testdata::TestPicture(32, 16, 12);
    ByteVector rows = testdata::StrideRows(picture);

    ByteVector swizzled = testdata::SwizzleTiles(rows, 32, 16);
    swizzled.resize(128 + 5);  // the first tile and 5 bytes of the second
    PayloadWriter t1004;
    t1004.U32(1004).I32(32).I32(16).U32(0).Chunk(picture.palette).Chunk(swizzled);
    Converted c = Convert(t1004.bytes);
    ASSERT_EQ(c.result, Outcome::Ok);
    std::optional<test::BitmapFile> bmp = test::ReadBitmap(c.image);
    ASSERT_TRUE(bmp);
    for (std::int32_t y = 0; y < 16; ++y) {
        for (std::int32_t x = 0; x < 32; ++x) {
            bool stored = y < 8 && (x < 16 || (y == 0 && x < 21));
            ASSERT_EQ(bmp->At(x, y), stored ? picture.At(x, y) : 0u) << "1004 " << x << "," << y;
        }
    }

    // 1005: the last 10 code bytes of the last stored tile are cut. Its bottom row and the right
    // half of the row above read code 0, the first entry of its list; all else decodes.
    std::optional<ByteVector> lookup = testdata::EncodeLookupTiles(picture);
    ASSERT_TRUE(lookup);
    lookup->resize(lookup->size() - 10);
    PayloadWriter t1005;
    t1005.U32(1005).I32(32).I32(16).U32(0).Chunk(testdata::DeltaPalette(picture.palette));
    t1005.U32(0).Chunk(*lookup);
    c = Convert(t1005.bytes);
    ASSERT_EQ(c.result, Outcome::Ok);
    bmp = test::ReadBitmap(c.image);
    ASSERT_TRUE(bmp);
    int lastTile = -1;
    for (int t = 0; t < 4; ++t) {
        for (int k = 0; k < 128; ++k) {
            if (picture.At((t % 2) * 16 + k % 16, (t / 2) * 8 + k / 16) != 0) lastTile = t;
        }
    }
    ASSERT_GE(lastTile, 0);
    const std::int32_t x0 = (lastTile % 2) * 16, y0 = (lastTile / 2) * 8;
    auto cut = [&](std::int32_t x, std::int32_t y) {
        return x >= x0 && x < x0 + 16 && (y == y0 + 7 || (y == y0 + 6 && x >= x0 + 12));
    };
    const std::uint32_t first = picture.At(x0, y0);  // the encoder lists colours as they appear
    for (std::int32_t y = 0; y < 16; ++y) {
        for (std::int32_t x = 0; x < 32; ++x) {
            ASSERT_EQ(bmp->At(x, y), cut(x, y) ? first : picture.At(x, y))
                << "1005 " << x << "," << y;
        }
    }
}

TEST(Bitmap, EveryPrefixConvertsOrIsRefused) {
    IndexedPicture picture = testdata::TestPicture(32, 16, 21);
    picture.palette.resize(64);
    std::vector<ByteVector> textures = {
        testdata::EncodeTexture1001(testdata::TestPicture16(8, 4, 2)),
        testdata::EncodeTexture1002(picture),
        testdata::EncodeTexture1004(picture),
        *testdata::EncodeTexture1005(picture),
        *testdata::EncodeTexture1006(picture, {2, 2, true}),
        *testdata::EncodeTexture1006(picture, {2, 2, false}),
    };
    for (const ByteVector& texture : textures) {
        for (std::size_t n = 0; n <= texture.size(); ++n) {
            Converted c = Convert(std::span(texture).first(n));
            ASSERT_TRUE(c.result == Outcome::Ok || c.result == Outcome::Broken) << n;
            if (c.result == Outcome::Ok) {
                ASSERT_TRUE(test::ReadBitmap(c.image)) << n;
            }
        }
    }
}

TEST(Bitmap, DamagedTexturesNeverLeaveTheirBuffers) {
    // Random bytes changed in valid textures: any result, but a complete bitmap when it is Ok.
    // (Run under the address sanitizer this proves the bounds.)
    IndexedPicture picture = testdata::TestPicture(32, 16, 30);
    std::vector<ByteVector> textures = {
        testdata::EncodeTexture1002(picture),
        testdata::EncodeTexture1004(picture),
        *testdata::EncodeTexture1005(picture),
        *testdata::EncodeTexture1006(picture, {3, 2, true}),
        *testdata::EncodeTexture1006(picture, {2, 3, false}),
    };
    std::mt19937 rng(77);
    for (const ByteVector& original : textures) {
        for (int round = 0; round < 400; ++round) {
            ByteVector texture = original;
            int changes = 1 + static_cast<int>(rng() % 4);
            for (int k = 0; k < changes; ++k) {
                // Keep the format code, so that the tile decoders are what gets exercised.
                std::size_t at = 4 + rng() % (texture.size() - 4);
                texture[at] = static_cast<std::uint8_t>(rng());
            }
            Converted c = Convert(texture);
            if (c.result == Outcome::Ok) {
                ASSERT_TRUE(test::ReadBitmap(c.image));
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Helpers of the conversion

TEST(Bitmap, FlipRowsExchangesRowsAroundTheMiddle) {
    for (std::int64_t rows : {0, 1, 2, 3, 6}) {
        std::vector<std::uint8_t> pixels;
        for (std::int64_t r = 0; r < rows; ++r)
            pixels.insert(pixels.end(), {static_cast<std::uint8_t>(r), 0xAA, 0xBB});
        FlipRows(pixels.data(), 3, rows);
        for (std::int64_t r = 0; r < rows; ++r) {
            EXPECT_EQ(pixels[static_cast<std::size_t>(r) * 3], rows - 1 - r) << rows;
            EXPECT_EQ(pixels[static_cast<std::size_t>(r) * 3 + 2], 0xBB);
        }
    }
}

TEST(Bitmap, SwapRedBlueAndDeltaPaletteWorkOnWholeEntries) {
    std::vector<std::uint8_t> entries = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    SwapRedBlue(entries.data(), 2);
    EXPECT_EQ(entries, (std::vector<std::uint8_t>{3, 2, 1, 4, 7, 6, 5, 8, 9}));
    SwapRedBlue(entries.data(), 0);
    SwapRedBlue(entries.data(), -1);
    EXPECT_EQ(entries, (std::vector<std::uint8_t>{3, 2, 1, 4, 7, 6, 5, 8, 9}));

    std::vector<std::uint8_t> deltas = {0xFF, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 7};
    DecodeDeltaPalette(deltas.data(), 3);
    EXPECT_EQ(deltas, (std::vector<std::uint8_t>{0xFF, 0, 0, 0, 0, 1, 0, 0, 0xFF, 0, 0, 0, 7}));
}

// ---------------------------------------------------------------------------------------------
// Writing textures: what a format cannot hold

// A picture of `w` x `h` with `palette` distinct random colours and pixels from `fill`.
template <class Fill>
IndexedPicture Painted(std::int32_t w, std::int32_t h, Fill fill) {
    IndexedPicture p = testdata::TestPicture(w, h, 77);  // its 256 colours, all distinct
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x)
            p.pixels[static_cast<std::size_t>(y * w + x)] = fill(x, y);
    }
    return p;
}

TEST(TextureEncoder, TilesThatCannotHoldTheirPixelsAreReducedAndTheRestStaysExact) {
    const FormatCase lookup{"1005", Stored::k1005};
    const FormatCase quad32{"1006", Stored::k1006Packed, 5, 5};
    // Two tiles, the second empty: the first tile alone decides.
    auto seventeen = [](std::int32_t x, std::int32_t y) {
        return static_cast<std::uint8_t>(x < 16 ? 1 + (x + 16 * y) % 17 : 0);
    };
    // Three tiles: the first of 16 colours `first + k`, the second empty, the last of 3.
    auto threeTiles = [](int first) {
        return [first](std::int32_t x, std::int32_t y) {
            if (x < 16) return static_cast<std::uint8_t>(first + (x + y) % 16);
            return static_cast<std::uint8_t>(x < 32 ? 0 : 100 + x % 3);
        };
    };
    auto sixteen = [](int first) {
        return [first](std::int32_t x, std::int32_t y) {
            return static_cast<std::uint8_t>(first + (x + y) % 16);
        };
    };
    auto uniformBlocks = [](std::int32_t x, std::int32_t y) {
        return static_cast<std::uint8_t>(x / 2 + 16 * (y / 2));
    };
    struct Case {
        const char* what;
        FormatCase format;
        IndexedPicture picture;
        bool exact;
    };
    IndexedPicture twins = Painted(32, 8, seventeen), blockTwins = Painted(32, 32, uniformBlocks);
    std::copy_n(twins.palette.begin() + 4, 4, twins.palette.begin() + 68);          // 17 = 1
    std::copy_n(blockTwins.palette.begin(), 4, blockTwins.palette.begin() + 1020);  // 255 = 0
    const Case cases[] = {
        {"17 colours in a lookup tile", lookup, Painted(32, 8, seventeen), false},
        {"17 indices of 16 colours", lookup, twins, true},
        {"last value in no entry of a full first list", lookup, Painted(48, 8, threeTiles(0)),
         true},
        {"last value in an entry of the first list", lookup, Painted(48, 8, threeTiles(32)), true},
        {"last list lengthened", lookup, Painted(48, 8, threeTiles(240)), true},
        {"a full single tile", lookup, Painted(16, 8, sixteen(0)), true},
        {"a full single tile that describes itself", lookup, Painted(16, 8, sixteen(240)), true},
        {"256 distinct blocks in a quad tile", quad32, Painted(32, 32, uniformBlocks), false},
        {"256 blocks of 255 colours", quad32, blockTwins, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const IndexedPicture& p = c.picture;
        const IndexedPicture mask = StoredMask(p.width, p.height, c.format);
        for (const TextureImage& image : {AsIndexed(p), AsRgba(p.width, p.height, ColoursOf(p))}) {
            Stored8 s = Store(MarkedOriginal(c.format), image);
            ASSERT_TRUE(s.result.Ok()) << s.result.message;
            EXPECT_EQ(s.stats.exact, c.exact);
            ExpectStatsOfTheStoredPicture(s, ColoursOf(p), Indexed(s.picture), mask);
            if (!c.exact) {
                EXPECT_LE(s.stats.changed, 8);  // the least used colour of 17, or one block
            }
        }
    }
}

TEST(TextureEncoder, PicturesOfManyColoursAreQuantised) {
    // 4096 colours: red and green ramps and a blue pattern.
    std::vector<std::uint32_t> colours;
    for (std::uint32_t y = 0; y < 64; ++y) {
        for (std::uint32_t x = 0; x < 64; ++x)
            colours.push_back(4 * x | (4 * y) << 8 | (4 * (x ^ y)) << 16);
    }
    for (const FormatCase& f : kIndexedFormats) {
        SCOPED_TRACE(f.label);
        Stored8 s = Store(MarkedOriginal(f), AsRgba(64, 64, colours));
        ASSERT_TRUE(s.result.Ok());
        EXPECT_FALSE(s.stats.exact);
        EXPECT_EQ(s.stats.colours, 4096);
        EXPECT_LE(s.picture.PaletteEntries(), 256u);
        ExpectStatsOfTheStoredPicture(s, colours, Indexed(s.picture), StoredMask(64, 64, f));
        // The median cut with k-means keeps the error well below a 16-level step; 1005's tiles
        // of at most 16 colours each lose more.
        EXPECT_LT(s.stats.rootMeanSquare, f.format == Stored::k1005 ? 12.0 : 6.0);
    }
}

TEST(TextureEncoder, Format1001KeepsFiveBitColoursAndTheTopBits) {
    const testdata::Picture16 before = testdata::TestPicture16(9, 5, 5),
                              after = testdata::TestPicture16(9, 5, 6);
    ASSERT_TRUE(std::ranges::any_of(before.pixels, [](std::uint16_t v) { return v & 0x8000; }));
    const ByteVector original = testdata::TexiPayload("sky", testdata::EncodeTexture1001(before));
    auto widen = [](std::uint32_t c) { return (c << 3) | (c >> 2); };
    std::vector<std::uint32_t> colours, dull;
    for (std::uint16_t v : after.pixels) {
        colours.push_back(widen((v >> 10) & 31) | widen((v >> 5) & 31) << 8 | widen(v & 31) << 16);
        dull.push_back(colours.back() ^ 0x030103);  // off the 5-bit steps
    }
    TextureImage words;
    words.form = TextureImage::Form::Words;
    words.width = 9;
    words.height = 5;
    words.words = after.pixels;
    struct Case {
        const char* what;
        TextureImage image;
        bool topBitsKept;
        bool exact;
    };
    for (const Case& c : {Case{"widened colours", AsRgba(9, 5, colours), true, true},
                          Case{"colours between the steps", AsRgba(9, 5, dull), true, false},
                          Case{"words", words, false, true}}) {
        SCOPED_TRACE(c.what);
        Stored8 s = Store(original, c.image);
        ASSERT_TRUE(s.result.Ok());
        EXPECT_EQ(s.stats.exact, c.exact);
        EXPECT_LE(s.stats.maxError, 4);
        TextureImage back = ImageFromPicture(s.picture);
        ASSERT_EQ(back.words.size(), after.pixels.size());
        for (std::size_t p = 0; p < back.words.size(); ++p) {
            const std::uint32_t top =
                c.topBitsKept ? before.pixels[p] & 0x8000 : after.pixels[p] & 0x8000;
            ASSERT_EQ(back.words[p], (after.pixels[p] & 0x7FFF) | top) << p;
        }
    }
}

TEST(TextureEncoder, RepaintedPixelsLeaveTheOthersOnTheirIndices) {
    const FormatCase f{"1002", Stored::k1002};
    IndexedPicture before = testdata::TestPicture(32, 16, 4);
    before.palette.resize(4 * 200);  // entries 200 to 255 are free
    for (std::uint8_t& i : before.pixels) i = static_cast<std::uint8_t>(i % 200);
    const ByteVector original = testdata::TexiPayload("cloth", *Encode(before, f));
    std::vector<std::uint32_t> colours = ColoursOf(before);
    colours[3 * 32 + 3] = 0x030201;  // a colour the palette does not have
    colours[5] = colours[6];         // a colour it has
    Stored8 s = Store(original, AsRgba(32, 16, colours));
    ASSERT_TRUE(s.result.Ok());
    EXPECT_TRUE(s.stats.exact);
    const IndexedPicture after = Indexed(s.picture);
    for (std::size_t p = 0; p < colours.size(); ++p) {
        if (p == 3 * 32 + 3 || p == 5) continue;
        ASSERT_EQ(after.pixels[p], before.pixels[p]) << p;
    }
    EXPECT_EQ(after.pixels[5], before.pixels[6]);
    EXPECT_EQ(std::count(after.pixels.begin(), after.pixels.end(), after.pixels[3 * 32 + 3]), 1);
}

TEST(TextureEncoder, SizesAndDataTheHeaderCannotHoldAreRefused) {
    struct Case {
        const char* what;
        FormatCase format;
        std::int32_t width, height;
        std::size_t pixels;  // RGBA pixels given
        Outcome outcome;
        const char* message;
    };
    const FormatCase f1002{"1002", Stored::k1002}, f1006{"1006", Stored::k1006Raw};
    const Case cases[] = {
        {"as wide as a reader decodes", f1006, 16384, 1, 16384, Outcome::Ok, ""},
        {"wider than a reader decodes", f1006, 16385, 1, 16385, Outcome::TooLarge,
         "16385 x 1 pixels; format 1006 holds 1 to 16384"},
        {"1006 wider than 16 bits", f1006, 32768, 1, 32768, Outcome::TooLarge, "32768 x 1"},
        {"no pixels", f1002, 0, 4, 0, Outcome::TooLarge, "0 x 4"},
        {"beyond what a reader decodes", f1002, 16385, 1, 16385, Outcome::TooLarge, "16385 x 1"},
        {"fewer pixels than the size", f1002, 4, 4, 15, Outcome::Broken, "does not match 4 x 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TextureImage image =
            AsRgba(c.width, c.height, std::vector<std::uint32_t>(c.pixels, 0x112233));
        ByteVector payload;
        EncodeResult result = EncodeTexture(MarkedOriginal(c.format), image, payload);
        EXPECT_EQ(result.outcome, c.outcome);
        if (c.outcome == Outcome::Ok) continue;
        EXPECT_TRUE(payload.empty());
        EXPECT_EQ(result.message.rfind("texture \"wood:planks\": ", 0), 0u) << result.message;
        EXPECT_NE(result.message.find(c.message), std::string::npos) << result.message;
    }
    ByteVector payload;
    ByteVector unknown =
        testdata::TexiPayload("odd", PayloadWriter().U32(1003).I32(1).I32(1).bytes);
    EXPECT_EQ(EncodeTexture(unknown, AsRgba(1, 1, {0}), payload).outcome, Outcome::Unsupported);
    EXPECT_EQ(EncodeTexture(std::span(unknown).first(38), AsRgba(1, 1, {0}), payload).outcome,
              Outcome::Broken);
    TextureImage palette = AsIndexed(testdata::TestPicture(2, 2, 1));
    palette.palette.resize(1028);
    EXPECT_EQ(EncodeTexture(MarkedOriginal(f1002), palette, payload).outcome, Outcome::TooLarge);
}

}  // namespace
}  // namespace morvex

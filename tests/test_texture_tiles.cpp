// The tile layouts on hand-made data: byte tiles (1004), lookup tiles (1005) and quad tiles
// (1006), including the escapes, mirrors and the data that runs out.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "decode/tile_layouts.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

using Bytes8 = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------------------------
// Byte tiles

TEST(ByteTiles, PlaceRowsBottomUpAndPassOverRowsBelowThePicture) {
    // Stride 32, height 12: two tile rows of 8 × 32 source bytes. Each source byte names the
    // pixel it belongs to; rows 12 to 15 hold a marker.
    const std::int64_t stride = 32, height = 12;
    Bytes8 source(2 * 8 * 32, 0xAB);
    for (int ty = 0; ty < 2; ++ty) {
        for (int tx = 0; tx < 2; ++tx) {
            for (int r = 0; r < 8; ++r) {
                int y = ty * 8 + r;
                if (y >= height) continue;
                for (int i = 0; i < 16; ++i) {
                    source[static_cast<std::size_t>(ty * 8 * 32 + tx * 128 + r * 16 + i)] =
                        static_cast<std::uint8_t>(y * 7 + tx * 16 + i);
                }
            }
        }
    }
    Bytes8 pixels(static_cast<std::size_t>(stride * height), 0);
    UnswizzleTiles(pixels, source, height, stride);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < stride; ++x) {
            ASSERT_EQ(pixels[static_cast<std::size_t>((height - 1 - y) * stride + x)],
                      (y * 7 + x) & 255)
                << x << "," << y;
        }
    }
}

TEST(ByteTiles, ColumnsBeyondWholeTilesStayZero) {
    // Stride 20: one tile column; bytes 16 to 19 of each row are not written.
    Bytes8 source(8 * 20, 0x11);
    Bytes8 pixels(20 * 8, 0);
    UnswizzleTiles(pixels, source, 8, 20);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 20; ++x)
            EXPECT_EQ(pixels[static_cast<std::size_t>(y * 20 + x)], x < 16 ? 0x11 : 0);
    }
}

TEST(ByteTiles, ShortSourceAndShortDestinationAreSafe) {
    Bytes8 pixels(32 * 8, 0);
    UnswizzleTiles(pixels, Bytes8(100, 0x22), 8, 32);  // tile 0: rows 0 to 5 and 4 bytes of row 6
    int written = 0;
    for (std::uint8_t b : pixels) written += b == 0x22;
    EXPECT_EQ(written, 100);
    EXPECT_EQ(pixels[static_cast<std::size_t>(7 - 6) * 32 + 3], 0x22);
    EXPECT_EQ(pixels[static_cast<std::size_t>(7 - 6) * 32 + 4], 0);

    Bytes8 small(10, 0);
    UnswizzleTiles(small, Bytes8(256, 0x33), 8, 32);  // rows do not fit: nothing written
    EXPECT_EQ(small, Bytes8(10, 0));
}

// ---------------------------------------------------------------------------------------------
// Lookup tiles

Bytes8 Codes(std::uint8_t code) {
    return Bytes8(64, code);
}

Bytes8 Join(std::initializer_list<Bytes8> parts) {
    Bytes8 out;
    for (const Bytes8& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Row y, column x of a stride-wide buffer written top row first.
std::uint8_t Pixel(const Bytes8& pixels, std::int64_t stride, std::int64_t x, std::int64_t y) {
    return pixels[static_cast<std::size_t>(y * stride + x)];
}

TEST(LookupTiles, SingleTileSharesItsValueByteWithTheList) {
    // One tile (an odd count): byte 0 is both the tile's value (high nibble 1) and the first
    // list entry; the list is 12 34, the check byte follows, then the codes 0 and 1 alternating.
    Bytes8 data = Join({{0x12, 0x34, 0x00}, Codes(0x01)});
    Bytes8 pixels(16 * 8, 0xEE);
    ASSERT_TRUE(DecodeLookupTiles(pixels, data, 8, 16));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) EXPECT_EQ(Pixel(pixels, 16, x, y), x % 2 == 0 ? 0x12 : 0x34);
    }
}

TEST(LookupTiles, OddTileCountListsBeginOnTheLastValueByte) {
    // Three tiles: values 0, 0 in byte 0; the third tile's value 2 is the high nibble of byte 1,
    // which is also its first list entry (2A 05 06).
    Bytes8 data = Join({{0x00, 0x2A, 0x05, 0x06, 0x00}, Codes(0x12)});
    Bytes8 pixels(48 * 8, 0);
    ASSERT_TRUE(DecodeLookupTiles(pixels, data, 8, 48));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 48; ++x) {
            std::uint8_t want = x < 32 ? 0 : (x % 2 == 0 ? 0x05 : 0x06);
            ASSERT_EQ(Pixel(pixels, 48, x, y), want) << x << "," << y;
        }
    }
}

TEST(LookupTiles, ZeroTileUsesNoListAndNoCodes) {
    // Tile 0 has value 0, tile 1 value 1 with the list 07 09.
    Bytes8 data = Join({{0x01, 0x07, 0x09, 0x00}, Codes(0x10)});
    Bytes8 pixels(32 * 8, 0xEE);
    std::fill(pixels.begin(), pixels.end(), 0);
    ASSERT_TRUE(DecodeLookupTiles(pixels, data, 8, 32));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 32; ++x) {
            std::uint8_t want = x < 16 ? 0 : (x % 2 == 0 ? 0x09 : 0x07);
            ASSERT_EQ(Pixel(pixels, 32, x, y), want) << x << "," << y;
        }
    }
}

TEST(LookupTiles, NonZeroCheckByteWritesNothing) {
    Bytes8 data = Join({{0x01, 0x07, 0x09, 0x01}, Codes(0x10)});
    Bytes8 pixels(32 * 8, 0);
    EXPECT_FALSE(DecodeLookupTiles(pixels, data, 8, 32));
    EXPECT_EQ(pixels, Bytes8(32 * 8, 0));
}

TEST(LookupTiles, CodesReachPastTheListIntoTheDataAndBeyondItAsZero) {
    // List 12 34 at byte 0, check byte at 2, codes from 3. Code 15 reads byte 15: a code byte.
    Bytes8 data = Join({{0x12, 0x34, 0x00}, Codes(0xF0)});
    Bytes8 pixels(16 * 8, 0xEE);
    ASSERT_TRUE(DecodeLookupTiles(pixels, data, 8, 16));
    EXPECT_EQ(Pixel(pixels, 16, 0, 0), 0xF0);
    EXPECT_EQ(Pixel(pixels, 16, 1, 0), 0x12);

    // The same with the data cut after 10 code bytes: missing codes read 0 (the list's first
    // entry), and code 15 reaches past the end of the data, which reads 0.
    Bytes8 cut(data.begin(), data.begin() + 13);
    std::fill(pixels.begin(), pixels.end(), 0xEE);
    ASSERT_TRUE(DecodeLookupTiles(pixels, cut, 8, 16));
    EXPECT_EQ(Pixel(pixels, 16, 0, 0), 0);
    EXPECT_EQ(Pixel(pixels, 16, 1, 0), 0x12);
    EXPECT_EQ(Pixel(pixels, 16, 0, 7), 0x12);
    EXPECT_EQ(Pixel(pixels, 16, 1, 7), 0x12);
}

TEST(LookupTiles, RowsAndColumnsOutsideWholeTilesStayZero) {
    // Stride 20, height 12: one tile; the rest is not written.
    Bytes8 data = Join({{0x1A, 0x0B, 0x00}, Codes(0x00)});
    Bytes8 pixels(20 * 12, 0);
    ASSERT_TRUE(DecodeLookupTiles(pixels, data, 12, 20));
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(Pixel(pixels, 20, x, y), x < 16 && y < 8 ? 0x1A : 0) << x << "," << y;
        }
    }
}

TEST(LookupTiles, EncoderRoundTripsOddTileCounts) {
    for (auto [w, h] : {std::pair{48, 8}, {16, 24}, {80, 24}, {16, 8}}) {
        for (std::uint32_t seed = 1; seed <= 6; ++seed) {
            testdata::IndexedPicture p = testdata::TestPicture(w, h, seed);
            std::optional<Bytes8> data = testdata::EncodeLookupTiles(p);
            ASSERT_TRUE(data);
            Bytes8 pixels(static_cast<std::size_t>(w * h), 0);
            ASSERT_TRUE(DecodeLookupTiles(pixels, *data, h, w));
            EXPECT_EQ(pixels, testdata::StrideRows(p)) << w << "x" << h << " seed " << seed;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Quad tiles

using Block = std::array<std::uint8_t, 4>;

// The blocks of a decoded tile, row by row.
std::vector<Block> BlocksOf(const Bytes8& dest, std::int64_t pitch, int tileWidth, int tileHeight) {
    std::vector<Block> blocks;
    for (int by = 0; by < tileHeight / 2; ++by) {
        for (int bx = 0; bx < tileWidth / 2; ++bx) {
            std::size_t tl = static_cast<std::size_t>(2 * by * pitch + 2 * bx);
            std::size_t bl = tl + static_cast<std::size_t>(pitch);
            blocks.push_back({dest[tl], dest[tl + 1], dest[bl], dest[bl + 1]});
        }
    }
    return blocks;
}

// A codebook of `count` entries, entry k = 10k+1, 10k+2, 10k+3, 10k+4.
Bytes8 Codebook(int count) {
    Bytes8 out{static_cast<std::uint8_t>(count)};
    for (int k = 0; k < count; ++k) {
        for (int i = 1; i <= 4; ++i) out.push_back(static_cast<std::uint8_t>(10 * k + i));
    }
    return out;
}

Block Entry(int k) {
    return {static_cast<std::uint8_t>(10 * k + 1), static_cast<std::uint8_t>(10 * k + 2),
            static_cast<std::uint8_t>(10 * k + 3), static_cast<std::uint8_t>(10 * k + 4)};
}

struct ReferenceCase {
    int reference;
    Block block;
};

class QuadReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(QuadReference, SelectsAndMirrorsItsEntry) {
    // Codebook size 3; a 2 by 2 tile holds one block.
    Bytes8 data = Codebook(3);
    data.push_back(static_cast<std::uint8_t>(GetParam().reference));
    Bytes8 dest(4, 0xEE);
    EXPECT_EQ(DecodeQuadTile(dest, 2, data, 0, 2, 2), 14);
    EXPECT_EQ(BlocksOf(dest, 2, 2, 2), std::vector<Block>{GetParam().block});
}

INSTANTIATE_TEST_SUITE_P(
    CodebookOfThree, QuadReference,
    ::testing::Values(ReferenceCase{0, {1, 2, 3, 4}}, ReferenceCase{2, {21, 22, 23, 24}},
                      ReferenceCase{4, {12, 11, 14, 13}},   // entry 1 left-right
                      ReferenceCase{7, {13, 14, 11, 12}},   // 7 / 3 = 2: entry 1 top-bottom
                      ReferenceCase{11, {24, 23, 22, 21}},  // entry 2 both ways
                      ReferenceCase{12, {1, 2, 3, 4}},      // q = 4: not mirrored
                      ReferenceCase{254, {21, 22, 23, 24}} /* 254 / 3 = 84: not mirrored */),
    [](const auto& info) {
        std::string name = "r";
        name += std::to_string(info.param.reference);
        return name;
    });

TEST(QuadTiles, EscapeRepeatsTheReferenceBeforeIt) {
    // 5, 255, 3: four blocks of entry 5; reading goes on after the 3.
    Bytes8 data = Codebook(6);
    data.insert(data.end(), {5, 255, 3, 1, 2, 3, 4});
    Bytes8 dest(16 * 2, 0);
    EXPECT_EQ(DecodeQuadTile(dest, 16, data, 0, 16, 2), 25 + 7);
    EXPECT_EQ(BlocksOf(dest, 16, 16, 2),
              (std::vector<Block>{Entry(5), Entry(5), Entry(5), Entry(5), Entry(1), Entry(2),
                                  Entry(3), Entry(4)}));
}

TEST(QuadTiles, EscapeWithCountZeroRepeatsToTheEndAndTheTileEndsAtTheEscape) {
    Bytes8 data = Codebook(3);
    data.insert(data.end(), {1, 2, 255, 0, 0x77});
    Bytes8 dest(8 * 4, 0);
    EXPECT_EQ(DecodeQuadTile(dest, 8, data, 0, 8, 4), 13 + 2);  // the escape byte's position
    std::vector<Block> want(8, Entry(2));
    want[0] = Entry(1);
    EXPECT_EQ(BlocksOf(dest, 8, 8, 4), want);
}

TEST(QuadTiles, RepeatRunningPastTheTileEndsItAtTheReference) {
    // 1, then 2, 255, 10 with only 3 blocks left: the tile ends with the repeat counter still
    // running; its length stops at the reference byte 2.
    Bytes8 data = Codebook(3);
    data.insert(data.end(), {1, 2, 255, 10});
    Bytes8 dest(8 * 2, 0);
    EXPECT_EQ(DecodeQuadTile(dest, 8, data, 0, 8, 2), 14);
    EXPECT_EQ(BlocksOf(dest, 8, 8, 2),
              (std::vector<Block>{Entry(1), Entry(2), Entry(2), Entry(2)}));
}

TEST(QuadTiles, CodebookOfSizeZeroGivesZeroBlocksButKeepsTheTileLength) {
    // A tile with no entries: its blocks are 0 and its references still count, escapes
    // included; the following tile decodes from the right place.
    Bytes8 data = {0, 9, 255, 2, 7};  // 9 for three blocks, then 7: four blocks, length 5
    Bytes8 second = Codebook(1);
    second.insert(second.end(), {0, 0, 0, 0});
    data.insert(data.end(), second.begin(), second.end());
    Bytes8 pixels(8 * 4, 0);
    pixels[0] = 0xEE;  // a zero block writes its zeros
    DecodeQuadTiles(pixels, data, 4, 8, 4, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            std::uint8_t want = x < 4 ? 0 : Entry(0)[static_cast<std::size_t>((y % 2) * 2 + x % 2)];
            ASSERT_EQ(pixels[static_cast<std::size_t>(y * 8 + x)], want) << x << "," << y;
        }
    }
}

TEST(QuadTiles, CodebookEntriesBeyondTheDataReadAsZero) {
    // Codebook size 2, but the data ends inside entry 1 (after its first byte); the reference
    // byte lies beyond the data too, so it reads 0 (entry 0).
    Bytes8 data = {2, 1, 2, 3, 4, 5};
    Bytes8 dest(4 * 2, 0xEE);
    EXPECT_EQ(DecodeQuadTile(dest, 4, data, 0, 4, 2), 11);
    EXPECT_EQ(BlocksOf(dest, 4, 4, 2), (std::vector<Block>{{1, 2, 3, 4}, {1, 2, 3, 4}}));

    Bytes8 data2 = {2, 1, 2, 3, 4, 5, 6, 7, 8, 1, 3};
    std::fill(dest.begin(), dest.end(), 0xEE);
    // Reference 1: entry 1 whole (5 6 7 8); reference 3: entry 1 left-right.
    EXPECT_EQ(DecodeQuadTile(dest, 4, data2, 0, 4, 2), 11);
    EXPECT_EQ(BlocksOf(dest, 4, 4, 2), (std::vector<Block>{{5, 6, 7, 8}, {6, 5, 8, 7}}));
    // Cut inside entry 0: its missing bytes read 0, as do the references.
    Bytes8 cut(data2.begin(), data2.begin() + 3);
    std::fill(dest.begin(), dest.end(), 0xEE);
    EXPECT_EQ(DecodeQuadTile(dest, 4, cut, 0, 4, 2), 11);
    EXPECT_EQ(BlocksOf(dest, 4, 4, 2), (std::vector<Block>{{1, 2, 0, 0}, {1, 2, 0, 0}}));
}

TEST(QuadTiles, EscapesThatStepBackBeforeTheDataReadZeros) {
    // All bytes 255: codebook size 255, every reference an escape whose own reference is again
    // 255, so reading steps back one byte a block, past the start of the data.
    Bytes8 data(1100, 0xFF);
    Bytes8 dest(64 * 64, 0);
    EXPECT_EQ(DecodeQuadTile(dest, 64, data, 0, 64, 64), -1);
    // Two tiles: the second starts before the data.
    Bytes8 pixels(64 * 128, 0);
    DecodeQuadTiles(pixels, data, 128, 64, 64, 64);
    EXPECT_EQ(pixels[0], 0xFF);
}

TEST(QuadTiles, TileThatDoesNotFitWritesNothing) {
    Bytes8 data = Codebook(1);
    data.push_back(0);
    Bytes8 dest(7, 0);
    EXPECT_EQ(DecodeQuadTile(dest, 4, data, 0, 4, 2), 0);
    EXPECT_EQ(dest, Bytes8(7, 0));
}

TEST(QuadTiles, HugeTileSizesPlaceNoTiles) {
    Bytes8 data = Codebook(1);
    data.push_back(0);
    Bytes8 pixels(16 * 16, 0);
    DecodeQuadTiles(pixels, data, 16, 16, std::int64_t{1} << 31, 2);
    DecodeQuadTiles(pixels, data, 16, 16, 2, std::int64_t{1} << 31);
    EXPECT_EQ(pixels, Bytes8(16 * 16, 0));
}

TEST(QuadTiles, EncoderRoundTripsWithMirrorsRunsAndCountZero) {
    for (auto [tw, th] : {std::pair{2, 2}, {4, 4}, {8, 8}, {16, 8}, {8, 32}}) {
        for (std::uint32_t seed = 1; seed <= 4; ++seed) {
            testdata::IndexedPicture p = testdata::TestPicture(64, 64, seed);
            std::optional<Bytes8> data = testdata::EncodeQuadTiles(p, tw, th);
            ASSERT_TRUE(data);
            Bytes8 pixels(64 * 64, 0);
            DecodeQuadTiles(pixels, *data, 64, 64, tw, th);
            EXPECT_EQ(pixels, testdata::StrideRows(p)) << tw << "x" << th << " seed " << seed;
        }
    }
}

TEST(QuadTiles, DataLimitsCoverEverythingThePlacementsRead) {
    // Decoding into full-size data and into data cut at the limit gives the same pixels.
    testdata::IndexedPicture p = testdata::TestPicture(64, 32, 3);
    std::optional<Bytes8> quad = testdata::EncodeQuadTiles(p, 8, 8);
    ASSERT_TRUE(quad);
    EXPECT_LE(quad->size(), QuadDataLimit(32, 64, 8, 8));
    std::optional<Bytes8> lookup = testdata::EncodeLookupTiles(p);
    ASSERT_TRUE(lookup);
    EXPECT_LE(lookup->size(), LookupDataLimit(32, 64));
    EXPECT_EQ(SwizzledDataLimit(12, 32), 2u * 8 * 32);
    EXPECT_EQ(QuadDataLimit(32, 64, 1, 8), 0u);
    // The worst case of a lookup tile: every value 15, code 15 everywhere reaching 15 bytes on.
    Bytes8 worst(static_cast<std::size_t>(LookupDataLimit(8, 16)) + 100, 0xFF);
    worst[0] = 0xF0;
    worst[16] = 0;  // the check byte behind the 16-entry list
    Bytes8 a(16 * 8, 0), b(16 * 8, 0);
    DecodeLookupTiles(a, worst, 8, 16);
    DecodeLookupTiles(
        b,
        Bytes8(worst.begin(), worst.begin() + static_cast<std::ptrdiff_t>(LookupDataLimit(8, 16))),
        8, 16);
    EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace morvex

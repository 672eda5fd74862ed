#include "decode/tile_layouts.h"

#include <algorithm>
#include <cstring>

namespace morvex {
namespace {

constexpr std::int64_t kByteTileWidth = 16;
constexpr std::int64_t kByteTileHeight = 8;
constexpr std::int64_t kLookupTileWidth = 16;
constexpr std::int64_t kLookupTileHeight = 8;
constexpr std::int64_t kLookupIndexBytes = 64;  // 8 rows of 8 bytes, two codes a byte
constexpr std::int64_t kMaxLookupList = 16;     // a 4-bit code addresses 16 list bytes
constexpr std::uint32_t kQuadEscape = 255;
constexpr std::int64_t kMaxCodebookBytes = 1 + 4 * 255;
// The most blocks one byte of references stands for (an escape chain: 255 blocks a 255, N pair).
constexpr std::uint64_t kBlocksPerReferenceByte = 128;
// Where each pixel of a mirrored quad block (top left, top right, bottom left, bottom right)
// comes from in its codebook entry: 0 as stored, 1 left and right exchanged, 2 top and bottom
// exchanged, 3 both.
constexpr std::uint8_t kMirrorOrder[4][4] = {
    {0, 1, 2, 3}, {1, 0, 3, 2}, {2, 3, 0, 1}, {3, 2, 1, 0}};

// Source bytes with zero padding on both sides: positions outside the data read as 0.
class PaddedSource {
  public:
    explicit PaddedSource(Bytes data)
        : data_(data.data()), size_(static_cast<std::int64_t>(data.size())) {}
    std::int64_t Size() const { return size_; }
    std::uint32_t At(std::int64_t pos) const { return pos >= 0 && pos < size_ ? data_[pos] : 0u; }
    // True when [pos, pos + length) lies inside the data, so that Pointer(pos) may be read
    // `length` bytes far.
    bool Holds(std::int64_t pos, std::int64_t length) const {
        return pos >= 0 && pos <= size_ && length <= size_ - pos;
    }
    const std::uint8_t* Pointer(std::int64_t pos) const { return data_ + pos; }

  private:
    const std::uint8_t* data_;
    std::int64_t size_;
};

bool FitsRows(MutableBytes pixels, std::int64_t height, std::int64_t stride) {
    if (height < 0 || stride < 0) return false;
    return static_cast<std::uint64_t>(height) * static_cast<std::uint64_t>(stride) <= pixels.size();
}

// The 4-bit value of lookup tile t: the high nibble of byte t / 2 for even t, else the low one.
std::uint32_t LookupValue(const PaddedSource& src, std::int64_t t) {
    std::uint32_t b = src.At(t / 2);
    return (t & 1) == 0 ? b >> 4 : b & 15u;
}

// One lookup tile, its list at `list` and its 64 code bytes at `codes`; `row` is the tile's top
// left pixel, rows `stride` apart.
void PlaceLookupTile(std::uint8_t* row, std::int64_t stride, const PaddedSource& src,
                     std::int64_t list, std::int64_t codes) {
    if (src.Holds(list, kMaxLookupList) && src.Holds(codes, kLookupIndexBytes)) {
        // Both the list and the codes are inside the data: no check per pixel.
        const std::uint8_t* lookup = src.Pointer(list);
        const std::uint8_t* code = src.Pointer(codes);
        for (std::int64_t y = 0; y < kLookupTileHeight; ++y, row += stride) {
            for (std::int64_t x = 0; x < kLookupTileWidth / 2; ++x) {
                std::uint8_t b = *code++;
                row[2 * x] = lookup[b >> 4];
                row[2 * x + 1] = lookup[b & 15];
            }
        }
        return;
    }
    for (std::int64_t y = 0; y < kLookupTileHeight; ++y, row += stride) {
        for (std::int64_t x = 0; x < kLookupTileWidth / 2; ++x) {
            std::uint32_t b = src.At(codes + y * (kLookupTileWidth / 2) + x);
            row[2 * x] = static_cast<std::uint8_t>(src.At(list + (b >> 4)));
            row[2 * x + 1] = static_cast<std::uint8_t>(src.At(list + (b & 15u)));
        }
    }
}

}  // namespace

void UnswizzleTiles(MutableBytes pixels, Bytes source, std::int64_t height, std::int64_t stride) {
    if (!FitsRows(pixels, height, stride)) return;
    const std::int64_t size = static_cast<std::int64_t>(source.size());
    const std::int64_t tilesX = stride / kByteTileWidth;
    const std::int64_t tilesY = (height + kByteTileHeight - 1) / kByteTileHeight;
    for (std::int64_t ty = 0; ty < tilesY; ++ty) {
        for (std::int64_t r = 0; r < kByteTileHeight; ++r) {
            const std::int64_t y = ty * kByteTileHeight + r;
            if (y >= height) break;
            std::uint8_t* out = pixels.data() + (height - 1 - y) * stride;
            std::int64_t from = ty * kByteTileHeight * stride + r * kByteTileWidth;
            for (std::int64_t tx = 0; tx < tilesX; ++tx, from += kByteTileWidth * kByteTileHeight) {
                if (from >= size) break;  // the rest of this row is missing: it stays 0
                std::int64_t n = std::min(kByteTileWidth, size - from);
                std::memcpy(out + tx * kByteTileWidth, source.data() + from,
                            static_cast<std::size_t>(n));
            }
        }
    }
}

bool DecodeLookupTiles(MutableBytes pixels, Bytes source, std::int64_t height,
                       std::int64_t stride) {
    if (!FitsRows(pixels, height, stride)) return false;
    const PaddedSource src(source);
    const std::int64_t tilesX = stride / kLookupTileWidth;
    const std::int64_t tilesY = height / kLookupTileHeight;
    const std::int64_t tiles = tilesX * tilesY;

    // The lists follow the tile map; the check byte follows the last list.
    const std::int64_t lists = tiles / 2;
    std::int64_t check = lists;
    for (std::int64_t t = 0; t < tiles; ++t) {
        std::uint32_t v = LookupValue(src, t);
        if (v != 0) check += v + 1;
    }
    if (src.At(check) != 0) return false;

    std::int64_t list = lists;
    std::int64_t codes = check + 1;
    for (std::int64_t t = 0; t < tiles; ++t) {
        std::uint32_t v = LookupValue(src, t);
        if (v == 0) continue;
        const std::int64_t tx = t % tilesX;
        const std::int64_t ty = t / tilesX;
        std::uint8_t* row = pixels.data() + ty * kLookupTileHeight * stride + tx * kLookupTileWidth;
        PlaceLookupTile(row, stride, src, list, codes);
        list += v + 1;
        codes += kLookupIndexBytes;
    }
    return true;
}

std::int64_t DecodeQuadTile(MutableBytes dest, std::int64_t pitch, Bytes source, std::int64_t start,
                            std::int64_t tileWidth, std::int64_t tileHeight) {
    const std::int64_t blockColumns = tileWidth / 2;
    const std::int64_t blockRows = tileHeight / 2;
    if (blockColumns > 0 && blockRows > 0) {
        // The bottom right pixel of the last block must be inside dest.
        if (pitch < 0) return 0;
        std::uint64_t last =
            static_cast<std::uint64_t>(2 * blockRows - 1) * static_cast<std::uint64_t>(pitch) +
            static_cast<std::uint64_t>(2 * blockColumns);
        if (last > dest.size()) return 0;
    }
    const PaddedSource src(source);
    const std::uint32_t count = src.At(start);
    const std::int64_t book = start + 1;
    std::int64_t p = book + 4 * static_cast<std::int64_t>(count);
    std::uint32_t repeat = 0;
    for (std::int64_t by = 0; by < blockRows; ++by) {
        std::uint8_t* top = dest.data() + 2 * by * pitch;
        std::uint8_t* bottom = top + pitch;
        for (std::int64_t bx = 0; bx < blockColumns; ++bx) {
            std::uint32_t r = src.At(p);
            if (r == kQuadEscape) {
                --p;
                r = src.At(p);
                repeat = src.At(p + 2);
            }
            std::uint8_t e[4] = {0, 0, 0, 0};
            if (count != 0) {
                // r = q × count + entry index; q from 0 to 3 without a division.
                std::uint32_t q = (r >= count) + (r >= 2 * count) + (r >= 3 * count);
                std::uint32_t index = r - q * count;
                if (index >= count) {  // q of 4 or more: not mirrored
                    q = 0;
                    index = r % count;
                }
                const std::int64_t entry = book + 4 * static_cast<std::int64_t>(index);
                std::uint8_t stored[4];
                if (src.Holds(entry, 4)) {
                    std::memcpy(stored, src.Pointer(entry), 4);
                } else {
                    for (int i = 0; i < 4; ++i) {
                        stored[i] = static_cast<std::uint8_t>(src.At(entry + i));
                    }
                }
                const std::uint8_t* order = kMirrorOrder[q];
                for (int i = 0; i < 4; ++i) e[i] = stored[order[i]];
            }
            top[2 * bx] = e[0];
            top[2 * bx + 1] = e[1];
            bottom[2 * bx] = e[2];
            bottom[2 * bx + 1] = e[3];
            if (repeat == 0) {
                ++p;
            } else if (--repeat == 0) {
                p += 3;
            }
        }
    }
    return p - start;
}

void DecodeQuadTiles(MutableBytes pixels, Bytes source, std::int64_t height, std::int64_t stride,
                     std::int64_t tileWidth, std::int64_t tileHeight) {
    if (!FitsRows(pixels, height, stride)) return;
    // A tile narrower or lower than 2 holds no block and writes nothing.
    if (tileWidth < 2 || tileHeight < 2) return;
    const std::int64_t size = static_cast<std::int64_t>(source.size());
    const std::int64_t tilesX = stride / tileWidth;
    const std::int64_t tilesY = height / tileHeight;
    std::int64_t pos = 0;
    for (std::int64_t ty = 0; ty < tilesY; ++ty) {
        for (std::int64_t tx = 0; tx < tilesX; ++tx) {
            // From the end of the data on every byte reads 0: codebook size 0, all blocks 0,
            // which the zero-filled rows already hold.
            if (pos >= size) return;
            const std::size_t origin =
                static_cast<std::size_t>(ty * tileHeight * stride + tx * tileWidth);
            pos +=
                DecodeQuadTile(pixels.subspan(origin), stride, source, pos, tileWidth, tileHeight);
        }
    }
}

std::uint64_t LeastLookupData(std::int64_t height, std::int64_t stride) {
    if (height <= 0 || stride <= 0) return kPlacesNothing;
    const auto tiles =
        static_cast<std::uint64_t>((stride / kLookupTileWidth) * (height / kLookupTileHeight));
    if (tiles == 0) return kPlacesNothing;
    return tiles / 2 + 1;
}

std::uint64_t LeastQuadData(std::int64_t height, std::int64_t stride, std::int64_t tileWidth,
                            std::int64_t tileHeight) {
    if (height <= 0 || stride <= 0 || tileWidth < 2 || tileHeight < 2) return kPlacesNothing;
    const auto tiles = static_cast<std::uint64_t>((stride / tileWidth) * (height / tileHeight));
    if (tiles == 0) return kPlacesNothing;
    // Whole tiles lie inside the picture, so a tile holds at most 2^28 pixels: no overflow.
    const auto blocks = static_cast<std::uint64_t>((tileWidth / 2) * (tileHeight / 2));
    return tiles * (1 + (blocks + kBlocksPerReferenceByte - 1) / kBlocksPerReferenceByte);
}

std::uint64_t SwizzledDataLimit(std::int64_t height, std::int64_t stride) {
    if (height <= 0 || stride <= 0) return 0;
    const auto tileRows =
        static_cast<std::uint64_t>((height + kByteTileHeight - 1) / kByteTileHeight);
    return tileRows * kByteTileHeight * static_cast<std::uint64_t>(stride);
}

std::uint64_t LookupDataLimit(std::int64_t height, std::int64_t stride) {
    if (height <= 0 || stride <= 0) return 0;
    const auto tiles =
        static_cast<std::uint64_t>((stride / kLookupTileWidth) * (height / kLookupTileHeight));
    // Tile map (tiles / 2 + 1), lists (at most 16 a tile), check byte, 64 code bytes a tile, and
    // 15 bytes a code can reach past the last list.
    return tiles * (1 + kMaxLookupList + kLookupIndexBytes) + kMaxLookupList;
}

std::uint64_t QuadDataLimit(std::int64_t height, std::int64_t stride, std::int64_t tileWidth,
                            std::int64_t tileHeight) {
    if (height <= 0 || stride <= 0 || tileWidth < 2 || tileHeight < 2) return 0;
    const auto tiles = static_cast<std::uint64_t>((stride / tileWidth) * (height / tileHeight));
    const auto blocks = static_cast<std::uint64_t>((tileWidth / 2) * (tileHeight / 2));
    // A tile reads its codebook and at most 3 bytes a block (an escape with its count), plus the
    // two bytes an escape looks ahead.
    return tiles * (static_cast<std::uint64_t>(kMaxCodebookBytes) + 3 * blocks + 3);
}

}  // namespace morvex

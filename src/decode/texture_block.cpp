#include "decode/texture_block.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "decode/decompress.h"
#include "decode/tile_layouts.h"

namespace morvex {
namespace {

constexpr std::uint64_t kQuadHeaderSize = 24;
// The 1006 data size counts from header offset 8: the 16 header bytes from there on, the
// palette, then the pixel data.
constexpr std::int64_t kQuadDataSizeBase = 16;

struct TextureLayout {
    std::uint32_t format = 0;
    std::int64_t bitsPerPixel = 8;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t stride = 0;
    // Format 1006 only.
    std::int64_t paletteCount = 0;
    std::int64_t tileWidth = 0;
    std::int64_t tileHeight = 0;
    std::uint32_t dataSize = 0;
    bool packed = false;
};

// The palette (at most kMaxPalette bytes, as the image holds it) and the pixel data.
struct TextureData {
    std::vector<std::uint8_t> palette;
    std::vector<std::uint8_t> unpacked;  // unpacked pixel data, when compressed
    Bytes pixels;
};

bool IsConverted(std::uint32_t format) {
    return format == kFormat16Bit || format == kFormatIndexed || format == kFormatByteTiles ||
           format == kFormatLookupTiles || format == kFormatQuadTiles;
}

Outcome ReadLayout(Bytes header, const Limits& limits, TextureLayout& layout) {
    ByteReader reader(header);
    if (!reader.U32(0, layout.format)) return Outcome::Broken;
    if (!IsConverted(layout.format)) return Outcome::Unsupported;
    layout.bitsPerPixel = layout.format == kFormat16Bit ? 16 : 8;
    if (layout.format == kFormatQuadTiles) {
        std::int16_t count, width, height;
        std::uint8_t tileWidthExponent, tileHeightExponent, packed;
        if (!reader.U32(4, layout.dataSize) || !reader.I16(14, count) ||
            !reader.U8(16, tileWidthExponent) || !reader.U8(17, tileHeightExponent) ||
            !reader.I16(18, width) || !reader.I16(20, height) || !reader.U8(23, packed)) {
            return Outcome::Broken;
        }
        if (count < 0) return Outcome::Broken;
        layout.paletteCount = count;
        layout.tileWidth = std::int64_t{1} << (tileWidthExponent & 31);
        layout.tileHeight = std::int64_t{1} << (tileHeightExponent & 31);
        layout.width = width;
        layout.height = height;
        layout.packed = packed != 0;
    } else {
        std::int32_t width, height;
        if (!reader.I32(4, width) || !reader.I32(8, height)) return Outcome::Broken;
        layout.width = width;
        layout.height = height;
    }
    // A picture without pixels is refused as well: bitmap readers do not open one.
    if (layout.width <= 0 || layout.height <= 0 || layout.width > limits.pictureSide ||
        layout.height > limits.pictureSide) {
        return Outcome::Broken;
    }
    layout.stride = PictureStride(layout.bitsPerPixel, layout.width);
    // Both factors are below 2^33 (16-bit or 32-bit sides): the product cannot overflow.
    if (layout.stride * layout.height > limits.pictureBytes) return Outcome::Broken;
    return Outcome::Ok;
}

// Unpacks at most `limit` bytes of a located chunk (the rest could never be used; a shorter
// destination leaves the bytes before it unchanged); returns how many of them the stream
// produced.
std::uint64_t UnpackLimited(const PackedChunk& chunk, std::uint64_t limit,
                            std::vector<std::uint8_t>& out) {
    PackedChunk used = chunk;
    used.unpackedSize =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk.unpackedSize, limit));
    return UnpackChunk(used, out);
}

// The least pixel data a texture of this layout holds when its data gives every pixel it
// places: for 1001 and 1002 every row at the stride, for 1004 every tile row of 8 rows at the
// stride (so at least stride × height as well), for 1005 and 1006 see tile_layouts.h.
std::uint64_t LeastPixelData(const TextureLayout& t) {
    switch (t.format) {
        case kFormatLookupTiles:
            return LeastLookupData(t.height, t.stride);
        case kFormatQuadTiles:
            return LeastQuadData(t.height, t.stride, t.tileWidth, t.tileHeight);
        default:
            return static_cast<std::uint64_t>(t.stride * t.height);
    }
}

// Whether pixel data of `available` bytes can have produced the picture: a texture of at most
// kUnbackedPictureBytes pixel bytes always can (short data reads as zeros); a larger one needs
// the least data of its layout. Checked before the picture is allocated, so that the work of a
// texture follows the data it holds, not the size its header declares.
bool Backed(const TextureLayout& t, std::uint64_t available) {
    if (t.stride * t.height <= kUnbackedPictureBytes) return true;
    return LeastPixelData(t) <= available;
}

std::uint64_t PixelDataLimit(const TextureLayout& t) {
    switch (t.format) {
        case kFormatByteTiles:
            return SwizzledDataLimit(t.height, t.stride);
        case kFormatLookupTiles:
            return LookupDataLimit(t.height, t.stride);
        case kFormatQuadTiles:
            return QuadDataLimit(t.height, t.stride, t.tileWidth, t.tileHeight);
        default:
            return static_cast<std::uint64_t>(t.stride * t.height);
    }
}

// Unpacks a pixel chunk whose first `skip` bytes are not pixel data (1006's palette) when the
// picture can be backed by it: refused before anything is unpacked when no stream of its length
// could hold the least pixel data of the layout, and after, when the stream produced less.
Outcome UnpackBacked(const PackedChunk& chunk, std::uint64_t skip, const TextureLayout& t,
                     std::vector<std::uint8_t>& out) {
    auto pixelPart = [skip](std::uint64_t bytes) { return bytes > skip ? bytes - skip : 0; };
    if (!Backed(t, pixelPart(MaxExpansion(chunk.stream.size())))) return Outcome::Broken;
    const std::uint64_t produced = UnpackLimited(chunk, skip + PixelDataLimit(t), out);
    return Backed(t, pixelPart(produced)) ? Outcome::Ok : Outcome::Broken;
}

// Formats 1001 (a pixel chunk at header offset 12), 1002 (a palette chunk at 12), 1004 and 1005
// (a palette chunk at 16): the pixel chunk follows the palette chunk, for 1005 behind 4 unread
// bytes.
Outcome ReadChunkedData(Bytes header, const TextureLayout& t, TextureData& data) {
    const std::uint64_t start = t.format == kFormat16Bit || t.format == kFormatIndexed ? 12 : 16;
    PackedChunk chunk;
    std::uint64_t next = start;
    if (t.format != kFormat16Bit) {
        if (!ReadPackedChunk(header, start, kTextureSizeAdjust, chunk)) return Outcome::Broken;
        UnpackLimited(chunk, kMaxPalette, data.palette);
        next = chunk.end + (t.format == kFormatLookupTiles ? 4 : 0);
    }
    if (!ReadPackedChunk(header, next, kTextureSizeAdjust, chunk)) return Outcome::Broken;
    const Outcome result = UnpackBacked(chunk, 0, t, data.unpacked);
    data.pixels = data.unpacked;
    return result;
}

// Format 1006: the palette (entry count × 4 bytes) and the pixel data, stored raw or in one
// packed chunk together.
Outcome ReadQuadData(Bytes header, const TextureLayout& t, TextureData& data) {
    const std::int64_t paletteBytes = t.paletteCount * 4;
    const std::size_t kept = static_cast<std::size_t>(std::min(paletteBytes, kMaxPalette));
    if (t.packed) {
        PackedChunk chunk;
        if (!ReadPackedChunk(header, kQuadHeaderSize, kTextureSizeAdjust, chunk)) {
            return Outcome::Broken;
        }
        const auto palette = static_cast<std::uint64_t>(paletteBytes);
        if (chunk.unpackedSize < palette) return Outcome::Broken;
        if (UnpackBacked(chunk, palette, t, data.unpacked) != Outcome::Ok) return Outcome::Broken;
        Bytes all = data.unpacked;
        data.palette.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(kept));
        data.pixels = all.subspan(static_cast<std::size_t>(paletteBytes));
        return Outcome::Ok;
    }
    // Raw: read as far as the payload goes; what lies beyond it reads as 0.
    const std::int64_t pixelBytes =
        static_cast<std::int64_t>(t.dataSize) - paletteBytes - kQuadDataSizeBase;
    if (pixelBytes < 0) return Outcome::Broken;
    ByteReader reader(header);
    Bytes stored = reader.Tail(kQuadHeaderSize);
    data.palette.assign(kept, 0);
    std::copy_n(stored.begin(), std::min(kept, stored.size()), data.palette.begin());
    Bytes pixels = reader.Tail(kQuadHeaderSize + static_cast<std::uint64_t>(paletteBytes));
    data.pixels = pixels.first(static_cast<std::size_t>(
        std::min<std::uint64_t>(pixels.size(), static_cast<std::uint64_t>(pixelBytes))));
    return Backed(t, data.pixels.size()) ? Outcome::Ok : Outcome::Broken;
}

// Formats 1001 and 1002: the rows as stored, top row first, go to the bitmap bottom row first.
// Rows the data does not reach stay 0.
void CopyRows(std::uint8_t* rows, Bytes pixels, const TextureLayout& t) {
    const std::uint64_t available = pixels.size();
    for (std::int64_t y = 0; y < t.height; ++y) {
        const std::uint64_t from = static_cast<std::uint64_t>(y * t.stride);
        if (from >= available) break;
        const std::uint64_t n =
            std::min<std::uint64_t>(static_cast<std::uint64_t>(t.stride), available - from);
        std::memcpy(rows + (t.height - 1 - y) * t.stride, pixels.data() + from,
                    static_cast<std::size_t>(n));
    }
}

Outcome Decode(Bytes header, const Limits& limits, Picture& picture) {
    TextureLayout t;
    if (Outcome result = ReadLayout(header, limits, t); result != Outcome::Ok) return result;

    TextureData data;
    Outcome result = t.format == kFormatQuadTiles ? ReadQuadData(header, t, data)
                                                  : ReadChunkedData(header, t, data);
    if (result != Outcome::Ok) return result;

    picture.width = static_cast<std::int32_t>(t.width);
    picture.height = static_cast<std::int32_t>(t.height);
    picture.bitsPerPixel = static_cast<std::int32_t>(t.bitsPerPixel);
    picture.palette = std::move(data.palette);
    if (t.format == kFormatLookupTiles) {
        DecodeDeltaPalette(picture.palette.data(),
                           static_cast<std::int64_t>(picture.PaletteEntries()));
    }
    picture.pixels.assign(static_cast<std::size_t>(t.stride * t.height), 0);

    MutableBytes rows(picture.pixels);
    switch (t.format) {
        case kFormat16Bit:
        case kFormatIndexed:
            CopyRows(rows.data(), data.pixels, t);
            break;
        case kFormatByteTiles:
            UnswizzleTiles(rows, data.pixels, t.height, t.stride);
            break;
        case kFormatLookupTiles:
            if (DecodeLookupTiles(rows, data.pixels, t.height, t.stride)) {
                FlipRows(rows.data(), static_cast<std::size_t>(t.stride), t.height);
            }
            break;
        case kFormatQuadTiles:
            DecodeQuadTiles(rows, data.pixels, t.height, t.stride, t.tileWidth, t.tileHeight);
            FlipRows(rows.data(), static_cast<std::size_t>(t.stride), t.height);
            break;
        default:
            break;
    }
    return Outcome::Ok;
}

}  // namespace

Outcome DecodeTexture(Bytes header, Picture& picture, const Limits& limits) {
    picture = Picture{};
    Outcome result = Outcome::NoMemory;
    // The one place where a texture's allocations (unpacked data, palette, pixel rows) fail.
    try {
        result = Decode(header, limits, picture);
    } catch (const std::bad_alloc&) {
        result = Outcome::NoMemory;
    }
    if (result != Outcome::Ok) picture = Picture{};
    return result;
}

void FlipRows(std::uint8_t* pixels, std::size_t stride, std::int64_t rows) {
    if (rows < 2) return;
    for (std::int64_t i = 0; i < rows / 2; ++i) {
        std::uint8_t* a = pixels + static_cast<std::size_t>(i) * stride;
        std::uint8_t* b = pixels + static_cast<std::size_t>(rows - 1 - i) * stride;
        std::swap_ranges(a, a + stride, b);
    }
}

void SwapRedBlue(std::uint8_t* entries, std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i, entries += 4) std::swap(entries[0], entries[2]);
}

void DecodeDeltaPalette(std::uint8_t* entries, std::int64_t count) {
    std::uint32_t sum = 0;
    for (std::int64_t i = 0; i < count; ++i, entries += 4) {
        sum += LoadU32(entries);
        StoreU32(entries, sum);
    }
}

}  // namespace morvex

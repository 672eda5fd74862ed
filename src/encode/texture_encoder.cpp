#include "encode/texture_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "decode/decompress.h"
#include "encode/packed_chunk.h"
#include "encode/palette.h"
#include "encode/tile_encoder.h"
#include "it3/parallel.h"

namespace morvex {
namespace {

// Header sizes: format code, width, height (1001, 1002), an unread word behind them (1004,
// 1005); 1006's 24 bytes hold the data size at 4, the palette count at 14, the tile exponents at
// 16 and 17, width and height at 18 and 20 and the packed flag at 23.
constexpr std::size_t kRowsHeader = 12;
constexpr std::size_t kTilesHeader = 16;
constexpr std::size_t kQuadHeader = 24;
constexpr std::size_t kQuadDataSizeAt = 4, kQuadCountAt = 14, kQuadWidthAt = 18, kQuadHeightAt = 20,
                      kQuadFlagAt = 23;
// The 1006 data size counts from header offset 8: 16 header bytes, the palette, the tiles.
constexpr std::uint64_t kQuadDataSizeBase = 16;
constexpr std::int64_t kMaxQuadSide = 32767;
// 1005 keeps 4 unread bytes between its palette chunk and its pixel chunk.
constexpr std::size_t kLookupGap = 4;
constexpr std::uint32_t kTopBit = 0x8000;

std::size_t HeaderSize(std::uint32_t format) {
    switch (format) {
        case kFormat16Bit:
        case kFormatIndexed:
            return kRowsHeader;
        case kFormatByteTiles:
        case kFormatLookupTiles:
            return kTilesHeader;
        case kFormatQuadTiles:
            return kQuadHeader;
        default:
            return 0;
    }
}

std::uint32_t Widen5(std::uint32_t c) {
    return (c << 3) | (c >> 2);
}
// The 5-bit value whose widening is nearest to `c`; exact for widened values.
std::uint32_t Narrow5(std::uint32_t c) {
    return (c * 31 + 127) / 255;
}
std::uint32_t WordColour(std::uint32_t word) {
    return Widen5((word >> 10) & 31) | (Widen5((word >> 5) & 31) << 8) | (Widen5(word & 31) << 16);
}
std::uint32_t ColourWord(std::uint32_t colour) {
    return (Narrow5(colour & 0xFF) << 10) | (Narrow5((colour >> 8) & 0xFF) << 5) |
           Narrow5((colour >> 16) & 0xFF);
}

// The colour asked for at every pixel, rows top first.
std::vector<std::uint32_t> RequestedColours(const TextureImage& image) {
    const std::size_t n =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    std::vector<std::uint32_t> colours(n);
    for (std::size_t p = 0; p < n; ++p) {
        switch (image.form) {
            case TextureImage::Form::Rgba:
                colours[p] = ColourKey(image.rgba.data() + 4 * p);
                break;
            case TextureImage::Form::Indexed:
                colours[p] = EntryColour(image.palette, image.indices[p]);
                break;
            case TextureImage::Form::Words:
                colours[p] = WordColour(image.words[p]);
                break;
        }
    }
    return colours;
}

// The header fields and kept bytes of the original, and its picture when it decodes.
struct Original {
    std::string_view name;
    Bytes nameField;
    std::uint32_t format = 0;
    Bytes header;  // HeaderSize(format) bytes
    std::array<std::uint8_t, kLookupGap> lookupGap{};
    std::int64_t tileWidth = 0, tileHeight = 0;
    bool packed = false;
    bool decoded = false;
    Picture picture;
};

std::string TextureLabel(std::string_view name) {
    return "texture \"" + std::string(name) + "\"";
}

EncodeResult ReadOriginal(Bytes payload, Original& original) {
    ByteReader reader(payload);
    original.name = reader.Text(0, kTextureNameSize);
    const std::string label = TextureLabel(original.name);
    const Bytes header = reader.Tail(kTextureNameSize);
    if (!reader.Sub(0, kTextureNameSize, original.nameField) ||
        !ByteReader(header).U32(0, original.format)) {
        return EncodeResult::Fail(Outcome::Broken, label + ": the original header cannot be read");
    }
    const std::size_t size = HeaderSize(original.format);
    if (size == 0) {
        return EncodeResult::Fail(
            Outcome::Unsupported,
            label + ": format " + std::to_string(original.format) + " has no encoder");
    }
    if (!ByteReader(header).Sub(0, size, original.header)) {
        return EncodeResult::Fail(Outcome::Broken, label + ": the original header is cut short");
    }
    if (original.format == kFormatQuadTiles) {
        original.tileWidth = std::int64_t{1} << (original.header[16] & 31);
        original.tileHeight = std::int64_t{1} << (original.header[17] & 31);
        original.packed = original.header[kQuadFlagAt] != 0;
    }
    if (original.format == kFormatLookupTiles) {
        PackedChunk palette;
        Bytes gap;
        if (ReadPackedChunk(header, kTilesHeader, kTextureSizeAdjust, palette) &&
            ByteReader(header).Sub(palette.end, kLookupGap, gap)) {
            std::copy(gap.begin(), gap.end(), original.lookupGap.begin());
        }
    }
    original.decoded = DecodeTexture(header, original.picture) == Outcome::Ok;
    return {};
}

EncodeResult CheckImage(const TextureImage& image, const Original& original) {
    const std::string label = TextureLabel(original.name);
    const std::int64_t w = image.width, h = image.height;
    const Limits limits;
    const std::int64_t side = original.format == kFormatQuadTiles
                                  ? std::min(kMaxQuadSide, limits.pictureSide)
                                  : limits.pictureSide;
    const std::int64_t bits = original.format == kFormat16Bit ? 16 : 8;
    if (w <= 0 || h <= 0 || w > side || h > side ||
        PictureStride(bits, w) * h > limits.pictureBytes) {
        return EncodeResult::Fail(
            Outcome::TooLarge,
            label + ": a picture of " + std::to_string(w) + " x " + std::to_string(h) +
                " pixels; format " + std::to_string(original.format) + " holds 1 to " +
                std::to_string(side) + " pixels a side and " +
                std::to_string(limits.pictureBytes >> 20) + " MiB of pixel rows");
    }
    const auto n = static_cast<std::size_t>(w * h);
    bool whole = false;
    switch (image.form) {
        case TextureImage::Form::Rgba:
            whole = image.rgba.size() == 4 * n;
            break;
        case TextureImage::Form::Indexed:
            whole = image.indices.size() == n;
            if (image.palette.size() > static_cast<std::size_t>(kMaxPalette)) {
                return EncodeResult::Fail(Outcome::TooLarge,
                                          label + ": a palette of more than 256 entries");
            }
            break;
        case TextureImage::Form::Words:
            whole = image.words.size() == n;
            break;
    }
    if (!whole) {
        return EncodeResult::Fail(Outcome::Broken, label + ": the pixel data does not match " +
                                                       std::to_string(w) + " x " +
                                                       std::to_string(h) + " pixels");
    }
    return {};
}

// 1001: the 16-bit words of the picture; the top bit of each comes from the original's pixel at
// the same place when the size did not change.
std::vector<std::uint16_t> ToWords(const TextureImage& image,
                                   const std::vector<std::uint32_t>& colours,
                                   const Original& original) {
    if (image.form == TextureImage::Form::Words) return image.words;
    std::vector<std::uint16_t> words(colours.size());
    const bool sameSize = original.decoded && original.picture.bitsPerPixel == 16 &&
                          original.picture.width == image.width &&
                          original.picture.height == image.height;
    const auto w = static_cast<std::size_t>(image.width);
    for (std::size_t p = 0; p < words.size(); ++p) {
        std::uint32_t top = 0;
        if (sameSize) {
            top = LoadU16(original.picture.RowFromTop(static_cast<std::int64_t>(p / w)) +
                          2 * (p % w)) &
                  kTopBit;
        }
        words[p] = static_cast<std::uint16_t>(ColourWord(colours[p]) | top);
    }
    return words;
}

// The indices of an 8-bit picture, rows top first, and its palette.
IndexedImage ImageIndexed(const Picture& picture) {
    IndexedImage image;
    image.width = picture.width;
    image.height = picture.height;
    image.palette = picture.palette;
    const auto w = static_cast<std::size_t>(picture.width);
    image.pixels.resize(w * static_cast<std::size_t>(picture.height));
    for (std::int64_t y = 0; y < picture.height; ++y) {
        std::memcpy(image.pixels.data() + static_cast<std::size_t>(y) * w, picture.RowFromTop(y),
                    w);
    }
    return image;
}

// The 8-bit codes: the picture on a palette.
IndexedImage ToIndexed(const TextureImage& image, const std::vector<std::uint32_t>& colours,
                       const Original& original) {
    if (image.form == TextureImage::Form::Indexed) {
        IndexedImage indexed;
        indexed.width = image.width;
        indexed.height = image.height;
        indexed.pixels = image.indices;
        indexed.palette = image.palette;
        return indexed;
    }
    std::vector<std::uint8_t> rgba;
    std::span<const std::uint8_t> pixels = image.rgba;
    if (image.form == TextureImage::Form::Words) {
        rgba.resize(4 * colours.size());
        for (std::size_t p = 0; p < colours.size(); ++p) StoreU32(rgba.data() + 4 * p, colours[p]);
        pixels = rgba;
    }
    IndexedImage before;
    const bool haveBefore = original.decoded && original.picture.bitsPerPixel == 8;
    if (haveBefore) before = ImageIndexed(original.picture);
    return MapToPalette(image.width, image.height, pixels, haveBefore ? &before : nullptr);
}

// Whether pixel (x, y) lies in the part of the picture the format stores.
struct StoredPart {
    std::int64_t columns = 0, rows = 0;
};
StoredPart StoredPartOf(const Original& original, std::int64_t width, std::int64_t height) {
    const std::int64_t stride = PictureStride(8, width);
    switch (original.format) {
        case kFormatByteTiles:
            return {stride / 16 * 16, height};
        case kFormatLookupTiles:
            return {stride / 16 * 16, height / 8 * 8};
        case kFormatQuadTiles:
            if (original.tileWidth < 2 || original.tileHeight < 2) return {0, 0};
            return {stride / original.tileWidth * original.tileWidth,
                    height / original.tileHeight * original.tileHeight};
        default:
            return {width, height};
    }
}

void FillStats(const std::vector<std::uint32_t>& requested,
               const std::vector<std::uint32_t>& stored, std::int64_t width, StoredPart part,
               std::size_t colours, TextureEncodeStats& stats) {
    stats = TextureEncodeStats{};
    stats.pixels = static_cast<std::int64_t>(requested.size());
    stats.colours = static_cast<std::int32_t>(colours);
    double squares = 0;
    std::int64_t counted = 0;
    for (std::size_t p = 0; p < requested.size(); ++p) {
        const auto x = static_cast<std::int64_t>(p) % width,
                   y = static_cast<std::int64_t>(p) / width;
        if (x >= part.columns || y >= part.rows) {
            ++stats.unstored;
            continue;
        }
        ++counted;
        if (requested[p] == stored[p]) continue;
        ++stats.changed;
        for (int c = 0; c < 3; ++c) {
            const int e = static_cast<int>((requested[p] >> (8 * c)) & 0xFF) -
                          static_cast<int>((stored[p] >> (8 * c)) & 0xFF);
            squares += e * e;
            stats.maxError = std::max(stats.maxError, std::abs(e));
        }
    }
    stats.exact = stats.changed == 0;
    if (counted) stats.rootMeanSquare = std::sqrt(squares / (3.0 * static_cast<double>(counted)));
}

std::size_t DistinctColours(std::vector<std::uint32_t> colours) {
    std::sort(colours.begin(), colours.end());
    return static_cast<std::size_t>(std::unique(colours.begin(), colours.end()) - colours.begin());
}

// Packs `first` and `second` as texture chunks at the same time, `between` bytes between them.
bool AppendTwoChunks(std::vector<std::uint8_t>& out, Bytes first, Bytes between, Bytes second) {
    if (first.size() > kMaxChunkData || second.size() > kMaxChunkData) return false;
    std::vector<std::uint8_t> a, b;
    RunBoth([&] { (void)AppendPackedChunk(a, first, kTextureSizeAdjust); },
            [&] { (void)AppendPackedChunk(b, second, kTextureSizeAdjust); });
    out.insert(out.end(), a.begin(), a.end());
    out.insert(out.end(), between.begin(), between.end());
    out.insert(out.end(), b.begin(), b.end());
    return true;
}

}  // namespace

TextureImage ImageFromPicture(const Picture& picture) {
    TextureImage image;
    image.width = picture.width;
    image.height = picture.height;
    if (picture.bitsPerPixel == 8) {
        IndexedImage indexed = ImageIndexed(picture);
        image.form = TextureImage::Form::Indexed;
        image.indices = std::move(indexed.pixels);
        image.palette = std::move(indexed.palette);
        return image;
    }
    image.form = TextureImage::Form::Words;
    const auto w = static_cast<std::size_t>(picture.width);
    image.words.resize(w * static_cast<std::size_t>(picture.height));
    for (std::int64_t y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = picture.RowFromTop(y);
        for (std::size_t x = 0; x < w; ++x) {
            image.words[static_cast<std::size_t>(y) * w + x] = LoadU16(row + 2 * x);
        }
    }
    return image;
}

EncodeResult EncodeTexture(Bytes originalPayload, const TextureImage& image,
                           std::vector<std::uint8_t>& payload, TextureEncodeStats* stats) {
    payload.clear();
    std::string label;
    try {
        Original original;
        if (EncodeResult read = ReadOriginal(originalPayload, original); !read.Ok()) return read;
        label = TextureLabel(original.name);
        if (EncodeResult checked = CheckImage(image, original); !checked.Ok()) return checked;

        const std::int64_t width = image.width, height = image.height;
        const std::vector<std::uint32_t> requested = RequestedColours(image);
        std::vector<std::uint32_t> stored(requested.size());
        std::vector<std::uint8_t> header(original.header.begin(), original.header.end());
        std::vector<std::uint8_t> data;
        bool fits = true;

        if (original.format == kFormat16Bit) {
            const std::vector<std::uint16_t> words = ToWords(image, requested, original);
            const auto stride = static_cast<std::size_t>(PictureStride(16, width));
            const auto w = static_cast<std::size_t>(width);
            std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(height), 0);
            for (std::size_t p = 0; p < words.size(); ++p) {
                StoreU16(rows.data() + (p / w) * stride + 2 * (p % w), words[p]);
                stored[p] = WordColour(words[p]);
            }
            fits = AppendPackedChunk(data, rows, kTextureSizeAdjust);
        } else {
            // The stats compare colours below; the tile encoders' own flag is not needed.
            bool exact = true;
            IndexedImage indexed = ToIndexed(image, requested, original);
            const auto stride = static_cast<std::size_t>(PictureStride(8, width));
            std::vector<std::uint8_t> pixels;
            switch (original.format) {
                case kFormatIndexed:
                    pixels = StrideRows(indexed, stride);
                    break;
                case kFormatByteTiles:
                    pixels = SwizzleTiles(StrideRows(indexed, stride), stride, height);
                    break;
                case kFormatLookupTiles:
                    pixels = EncodeLookupTiles(indexed, stride, exact);
                    break;
                case kFormatQuadTiles: {
                    indexed.palette.resize(indexed.Entries() * 4);  // whole entries only
                    pixels = indexed.palette;
                    const std::vector<std::uint8_t> tiles = EncodeQuadTiles(
                        indexed, stride, original.tileWidth, original.tileHeight, exact);
                    pixels.insert(pixels.end(), tiles.begin(), tiles.end());
                    break;
                }
            }
            for (std::size_t p = 0; p < stored.size(); ++p) {
                stored[p] = EntryColour(indexed.palette, indexed.pixels[p]);
            }
            switch (original.format) {
                case kFormatIndexed:
                case kFormatByteTiles:
                    fits = AppendTwoChunks(data, indexed.palette, {}, pixels);
                    break;
                case kFormatLookupTiles:
                    fits = AppendTwoChunks(data, DeltaPalette(indexed.palette), original.lookupGap,
                                           pixels);
                    break;
                case kFormatQuadTiles:
                    StoreU32(header.data() + kQuadDataSizeAt,
                             static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                 kQuadDataSizeBase + pixels.size(), UINT32_MAX)));
                    StoreU16(header.data() + kQuadCountAt,
                             static_cast<std::uint32_t>(indexed.Entries()));
                    if (original.packed) {
                        fits = AppendPackedChunk(data, pixels, kTextureSizeAdjust);
                    } else {
                        data = std::move(pixels);
                    }
                    break;
            }
        }
        if (original.format == kFormatQuadTiles) {
            StoreU16(header.data() + kQuadWidthAt, static_cast<std::uint32_t>(width));
            StoreU16(header.data() + kQuadHeightAt, static_cast<std::uint32_t>(height));
        } else {
            StoreU32(header.data() + 4, static_cast<std::uint32_t>(width));
            StoreU32(header.data() + 8, static_cast<std::uint32_t>(height));
        }
        if (!fits || kTextureNameSize + header.size() + data.size() > INT32_MAX) {
            return EncodeResult::Fail(Outcome::TooLarge,
                                      label + ": the texture block passes 2 GiB");
        }
        payload.reserve(kTextureNameSize + header.size() + data.size());
        payload.assign(original.nameField.begin(), original.nameField.end());
        payload.insert(payload.end(), header.begin(), header.end());
        payload.insert(payload.end(), data.begin(), data.end());
        if (stats) {
            FillStats(requested, stored, width, StoredPartOf(original, width, height),
                      DistinctColours(requested), *stats);
        }
    } catch (const std::bad_alloc&) {
        payload.clear();
        return EncodeResult::Fail(Outcome::NoMemory, label + ": no memory for the texture");
    }
    return {};
}

}  // namespace morvex

#include "export/gltf/png_encode.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "it3/byte_buffer.h"

namespace morvex {

void ToRgba(const Picture& picture, RgbaPicture& rgba) {
    const auto w = static_cast<std::uint64_t>(picture.width);
    const auto h = static_cast<std::uint64_t>(picture.height);
    rgba = RgbaPicture{};
    rgba.pixels.resize(static_cast<std::size_t>(w * h * 4));
    rgba.width = static_cast<std::uint32_t>(w);
    rgba.height = static_cast<std::uint32_t>(h);

    // Red, green, blue of every index; entries past the palette stay black.
    std::array<std::array<std::uint8_t, 3>, 256> palette{};
    const std::size_t entries = std::min<std::size_t>(picture.PaletteEntries(), palette.size());
    for (std::size_t k = 0; k < entries; ++k) {
        const std::uint8_t* e = picture.palette.data() + 4 * k;
        palette[k] = {e[0], e[1], e[2]};
    }
    for (std::uint64_t y = 0; y < h; ++y) {
        const std::uint8_t* src = picture.RowFromTop(static_cast<std::int64_t>(y));
        std::uint8_t* dst = rgba.pixels.data() + 4 * w * y;
        for (std::uint64_t x = 0; x < w; ++x, dst += 4) {
            if (picture.bitsPerPixel == 8) {
                const std::array<std::uint8_t, 3>& c = palette[src[x]];
                dst[0] = c[0];
                dst[1] = c[1];
                dst[2] = c[2];
            } else {
                const std::uint32_t v = LoadU16(src + 2 * x);
                const std::uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                dst[0] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
                dst[1] = static_cast<std::uint8_t>((g << 3) | (g >> 2));
                dst[2] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
            }
            dst[3] = 255;
        }
    }
}

void CombineAlpha(RgbaPicture& base, const RgbaPicture& alphaMap) {
    const std::uint64_t aw = alphaMap.width, ah = alphaMap.height;
    if (aw == 0 || ah == 0 || alphaMap.pixels.size() < aw * ah * 4) return;
    const std::uint64_t w = base.width, h = base.height;
    if (base.pixels.size() < w * h * 4) return;
    for (std::uint64_t y = 0; y < h; ++y) {
        const std::uint64_t sy = y * ah / h;
        for (std::uint64_t x = 0; x < w; ++x) {
            const std::uint64_t sx = x * aw / w;
            const std::uint8_t* a = alphaMap.pixels.data() + 4 * (sy * aw + sx);
            const std::uint32_t luminance = (77u * a[0] + 150u * a[1] + 29u * a[2] + 128u) >> 8;
            base.pixels[static_cast<std::size_t>(4 * (y * w + x) + 3)] =
                static_cast<std::uint8_t>(luminance);
        }
    }
}

AlphaUse ClassifyAlpha(const RgbaPicture& picture) {
    AlphaUse use = AlphaUse::Opaque;
    for (std::size_t k = 3; k < picture.pixels.size(); k += 4) {
        const std::uint8_t a = picture.pixels[k];
        if (a == 255) continue;
        if (a != 0) return AlphaUse::Blend;
        use = AlphaUse::Mask;
    }
    return use;
}

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr int kColourRgb = 2;
constexpr int kColourPalette = 3;
constexpr int kColourRgba = 6;

struct FreeCompressor {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

void AppendU32(std::vector<std::uint8_t>& png, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        png.push_back(static_cast<std::uint8_t>(value >> shift));
}

// A chunk: its length, type and data, and the CRC of type and data.
void AppendChunk(std::vector<std::uint8_t>& png, const char (&type)[5], Bytes data) {
    AppendU32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    AppendU32(png, libdeflate_crc32(0, png.data() + start, png.size() - start));
}

// Writes a PNG of 8-bit samples: `rowBytes` bytes a row, which `row(y, out)` writes for row y
// (top first); a palette of 3-byte entries for colour type 3.
template <class Row>
Outcome WritePng(std::uint32_t width, std::uint32_t height, int colourType, std::size_t rowBytes,
                 Bytes palette, int level, std::vector<std::uint8_t>& png, Row&& row) {
    // The image data: every row behind its filter byte, 0 (none).
    const std::size_t stride = rowBytes + 1;
    ByteBuffer raw(stride * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* line = raw.data() + stride * y;
        line[0] = 0;
        row(y, line + 1);
    }
    const std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor(
        libdeflate_alloc_compressor(level));
    if (!compressor) return Outcome::NoMemory;
    ByteBuffer compressed(libdeflate_zlib_compress_bound(compressor.get(), raw.size()));
    const std::size_t length = libdeflate_zlib_compress(compressor.get(), raw.data(), raw.size(),
                                                        compressed.data(), compressed.size());
    if (length == 0) return Outcome::NoMemory;  // not for a buffer of the bound's size
    raw.Clear();

    std::uint8_t header[13];  // width and height most significant byte first
    for (int k = 0; k < 4; ++k) {
        header[k] = static_cast<std::uint8_t>(width >> (24 - 8 * k));
        header[4 + k] = static_cast<std::uint8_t>(height >> (24 - 8 * k));
    }
    header[8] = 8;  // bits per sample
    header[9] = static_cast<std::uint8_t>(colourType);
    header[10] = header[11] = header[12] = 0;  // deflate, filter method 0, no interlace
    // 3 bytes more: room for a container that pads the file to whole 4-byte words (the glb)
    // without moving it.
    png.reserve(sizeof kSignature + 25 + (palette.empty() ? 0 : 12 + palette.size()) + 12 + length +
                12 + 3);
    png.assign(kSignature, kSignature + sizeof kSignature);
    AppendChunk(png, "IHDR", header);
    if (!palette.empty()) AppendChunk(png, "PLTE", palette);
    AppendChunk(png, "IDAT", Bytes(compressed.data(), length));
    AppendChunk(png, "IEND", {});
    return Outcome::Ok;
}

}  // namespace

bool CanEncodePng(const RgbaPicture& picture) {
    const std::uint64_t pixels = std::uint64_t{picture.width} * picture.height;
    return pixels > 0 && pixels <= kMaxPngPixels && picture.pixels.size() >= pixels * 4;
}

bool CanEncodePalettePng(const Picture& picture) {
    const auto w = static_cast<std::uint64_t>(picture.width);
    const auto h = static_cast<std::uint64_t>(picture.height);
    const auto stride = static_cast<std::uint64_t>(picture.Stride());
    return picture.bitsPerPixel == 8 && w > 0 && h > 0 && w * h <= kMaxPngPixels && stride >= w &&
           stride <= INT32_MAX && picture.pixels.size() >= stride * h;
}

Outcome EncodePng(const RgbaPicture& picture, bool withAlpha, std::vector<std::uint8_t>& png,
                  int level) {
    png.clear();
    if (!CanEncodePng(picture)) return Outcome::Broken;
    const std::size_t w = picture.width;
    const Outcome written =
        WritePng(picture.width, picture.height, withAlpha ? kColourRgba : kColourRgb,
                 w * (withAlpha ? 4 : 3), {}, level, png, [&](std::uint32_t y, std::uint8_t* out) {
                     const std::uint8_t* in = picture.pixels.data() + 4 * w * y;
                     if (withAlpha) {
                         std::memcpy(out, in, 4 * w);
                         return;
                     }
                     for (std::size_t x = 0; x < w; ++x, in += 4, out += 3) {
                         out[0] = in[0];
                         out[1] = in[1];
                         out[2] = in[2];
                     }
                 });
    if (written != Outcome::Ok) png.clear();
    return written;
}

Outcome EncodePalettePng(const Picture& picture, std::vector<std::uint8_t>& png, int level) {
    png.clear();
    if (!CanEncodePalettePng(picture)) return Outcome::Broken;
    // The colours of every index, as ToRgba reads them; entries past the palette stay black.
    std::array<std::uint8_t, 3 * 256> colormap{};
    const std::size_t entries = std::min<std::size_t>(picture.PaletteEntries(), 256);
    for (std::size_t k = 0; k < entries; ++k) {
        std::copy_n(picture.palette.data() + 4 * k, 3, colormap.data() + 3 * k);
    }
    const auto w = static_cast<std::size_t>(picture.width);
    const Outcome written = WritePng(
        static_cast<std::uint32_t>(picture.width), static_cast<std::uint32_t>(picture.height),
        kColourPalette, w, colormap, level, png,
        [&](std::uint32_t y, std::uint8_t* out) { std::memcpy(out, picture.RowFromTop(y), w); });
    if (written != Outcome::Ok) png.clear();
    return written;
}

}  // namespace morvex

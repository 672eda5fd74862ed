#include "export/png_encode.h"

#include <png.h>

#include <algorithm>
#include <new>

namespace morvex {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

}  // namespace

bool DecodeBitmap(Bytes image, RgbaPicture& picture) {
    picture = RgbaPicture{};
    ByteReader in(image);
    std::uint8_t b0 = 0, b1 = 0;
    std::uint32_t dataOffset = 0, headerSize = 0, compression = 0, colorsUsed = 0;
    std::int32_t width = 0, height = 0;
    std::uint16_t bitsPerPixel = 0;
    if (!in.U8(0, b0) || !in.U8(1, b1) || b0 != 'B' || b1 != 'M') return false;
    if (!in.U32(10, dataOffset) || !in.U32(14, headerSize) || !in.I32(18, width) ||
        !in.I32(22, height) || !in.U16(28, bitsPerPixel) || !in.U32(30, compression) ||
        !in.U32(46, colorsUsed)) {
        return false;
    }
    if (headerSize != kInfoHeaderSize || compression != 0) return false;
    if (bitsPerPixel != 8 && bitsPerPixel != 16) return false;
    if (width <= 0 || height == 0 || height == INT32_MIN) return false;
    const bool topFirst = height < 0;
    const std::uint64_t w = static_cast<std::uint32_t>(width);
    const std::uint64_t h = static_cast<std::uint32_t>(topFirst ? -height : height);
    if (w * h > kMaxPicturePixels) return false;
    const std::uint64_t stride = ((bitsPerPixel * w + 31) >> 3) & ~std::uint64_t{3};
    Bytes rows;
    if (!in.Sub(dataOffset, stride * h, rows)) return false;

    // The palette lies between the headers and the pixel rows.
    const std::uint64_t paletteStart = kFileHeaderSize + kInfoHeaderSize;
    std::uint64_t paletteEntries = 0;
    if (bitsPerPixel == 8 && dataOffset > paletteStart) {
        // As in every BMP, 0 colours used means the full 256 entries.
        std::uint64_t declared = colorsUsed == 0 ? 256 : colorsUsed;
        paletteEntries = std::min<std::uint64_t>({declared, (dataOffset - paletteStart) / 4, 256});
    }
    std::uint8_t palette[256][3] = {};  // red, green, blue; entries past the palette stay black
    for (std::uint64_t k = 0; k < paletteEntries; ++k) {
        const std::uint8_t* e = image.data() + paletteStart + 4 * k;
        palette[k][0] = e[2];
        palette[k][1] = e[1];
        palette[k][2] = e[0];
    }

    try {
        picture.pixels.resize(static_cast<std::size_t>(w * h * 4));
    } catch (const std::bad_alloc&) {
        picture = RgbaPicture{};
        return false;
    }
    picture.width = static_cast<std::uint32_t>(w);
    picture.height = static_cast<std::uint32_t>(h);
    for (std::uint64_t y = 0; y < h; ++y) {
        // `rows` holds stride × h bytes: every row read below lies inside it.
        const std::uint8_t* src = rows.data() + stride * (topFirst ? y : h - 1 - y);
        std::uint8_t* dst = picture.pixels.data() + 4 * w * y;
        for (std::uint64_t x = 0; x < w; ++x, dst += 4) {
            if (bitsPerPixel == 8) {
                const std::uint8_t* c = palette[src[x]];
                dst[0] = c[0];
                dst[1] = c[1];
                dst[2] = c[2];
            } else {
                std::uint32_t v = LoadU16(src + 2 * x);
                std::uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                dst[0] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
                dst[1] = static_cast<std::uint8_t>((g << 3) | (g >> 2));
                dst[2] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
            }
            dst[3] = 255;
        }
    }
    return true;
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
            std::uint32_t luminance = (77u * a[0] + 150u * a[1] + 29u * a[2] + 128u) >> 8;
            base.pixels[static_cast<std::size_t>(4 * (y * w + x) + 3)] =
                static_cast<std::uint8_t>(luminance);
        }
    }
}

AlphaUse ClassifyAlpha(const RgbaPicture& picture) {
    AlphaUse use = AlphaUse::Opaque;
    for (std::size_t k = 3; k < picture.pixels.size(); k += 4) {
        std::uint8_t a = picture.pixels[k];
        if (a == 255) continue;
        if (a != 0) return AlphaUse::Blend;
        use = AlphaUse::Mask;
    }
    return use;
}

bool EncodePng(const RgbaPicture& picture, bool withAlpha, std::vector<std::uint8_t>& png) {
    png.clear();
    const std::uint64_t pixels = std::uint64_t{picture.width} * picture.height;
    if (pixels == 0 || pixels > kMaxPicturePixels || picture.pixels.size() < pixels * 4) {
        return false;
    }
    try {
        std::vector<std::uint8_t> rgb;
        const std::uint8_t* source = picture.pixels.data();
        if (!withAlpha) {
            rgb.resize(static_cast<std::size_t>(pixels * 3));
            for (std::uint64_t k = 0; k < pixels; ++k) {
                rgb[3 * k] = picture.pixels[4 * k];
                rgb[3 * k + 1] = picture.pixels[4 * k + 1];
                rgb[3 * k + 2] = picture.pixels[4 * k + 2];
            }
            source = rgb.data();
        }
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = picture.width;
        image.height = picture.height;
        image.format = withAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
        // The worst case of the encoder: the whole picture stored uncompressed, plus its chunks.
        png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
        png.resize(size);
        int ok = png_image_write_to_memory(&image, png.data(), &size, 0, source, 0, nullptr);
        png_image_free(&image);
        if (!ok) {
            png.clear();
            return false;
        }
        png.resize(size);
        png.shrink_to_fit();
        return true;
    } catch (const std::bad_alloc&) {
        png.clear();
        return false;
    }
}

}  // namespace morvex

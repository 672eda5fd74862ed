#include "export/gltf/png_encode.h"

#include <png.h>

#include <algorithm>
#include <array>

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

// Runs libpng's writer on `image` into `png`, from rows `rowStride` components apart (negative:
// the last row in memory is the top one).
Outcome WritePng(png_image& image, const void* rows, png_int_32 rowStride, const void* colormap,
                 PngEffort effort, std::vector<std::uint8_t>& png) {
    if (effort == PngEffort::Fast) image.flags |= PNG_IMAGE_FLAG_FAST;
    // The worst case of the encoder: the whole picture stored uncompressed, plus its chunks.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    png.resize(size);
    const int ok =
        png_image_write_to_memory(&image, png.data(), &size, 0, rows, rowStride, colormap);
    png_image_free(&image);
    if (!ok) {
        png.clear();
        return Outcome::NoMemory;
    }
    png.resize(size);
    png.shrink_to_fit();
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
                  PngEffort effort) {
    png.clear();
    if (!CanEncodePng(picture)) return Outcome::Broken;
    const std::uint64_t pixels = std::uint64_t{picture.width} * picture.height;
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
    return WritePng(image, source, 0, nullptr, effort, png);
}

Outcome EncodePalettePng(const Picture& picture, std::vector<std::uint8_t>& png, PngEffort effort) {
    png.clear();
    const auto w = static_cast<std::uint64_t>(picture.width);
    const auto h = static_cast<std::uint64_t>(picture.height);
    const auto stride = static_cast<std::uint64_t>(picture.Stride());
    if (!CanEncodePalettePng(picture)) return Outcome::Broken;
    // The colours of every index, as ToRgba reads them; entries past the palette stay black.
    std::array<std::uint8_t, 3 * 256> colormap{};
    const std::size_t entries = std::min<std::size_t>(picture.PaletteEntries(), 256);
    for (std::size_t k = 0; k < entries; ++k) {
        std::copy_n(picture.palette.data() + 4 * k, 3, colormap.data() + 3 * k);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = 256;
    // The rows are stored bottom row first: a negative stride makes libpng start at the top.
    return WritePng(image, picture.pixels.data(), -static_cast<png_int_32>(stride), colormap.data(),
                    effort, png);
}

}  // namespace morvex

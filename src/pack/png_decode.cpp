#include "pack/png_decode.h"

#include <png.h>

#include <new>

namespace morvex {

Outcome DecodePng(Bytes png, RgbaPicture& picture, std::int64_t maxSide) {
    picture = RgbaPicture{};
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    // The simplified interface keeps libpng's error handling inside libpng: a failure is a
    // result, never a jump through our frames.
    if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) {
        png_image_free(&image);
        return Outcome::Broken;
    }
    const std::uint64_t width = image.width, height = image.height;
    const std::uint64_t pixels = width * height;
    const std::uint64_t mostPixels = 8 * 1040 * static_cast<std::uint64_t>(png.size()) + 65536;
    if (width == 0 || height == 0 || width > static_cast<std::uint64_t>(maxSide) ||
        height > static_cast<std::uint64_t>(maxSide) || pixels > mostPixels) {
        png_image_free(&image);
        return Outcome::Broken;
    }
    image.format = PNG_FORMAT_RGBA;
    try {
        picture.pixels.resize(pixels * 4);
    } catch (const std::bad_alloc&) {
        png_image_free(&image);
        return Outcome::NoMemory;
    }
    if (png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        picture = RgbaPicture{};
        return Outcome::Broken;
    }
    picture.width = image.width;
    picture.height = image.height;
    return Outcome::Ok;
}

}  // namespace morvex

// PNG encoding of the glTF images: the six textures of the benchmark scene (shaded, grainy
// pictures of 512 x 512 to 1024 x 1024: five with 8-bit palettes, one of 16 bits), encoded as
// the glTF writer does for materials without alpha maps (the 8-bit pictures as palette PNGs,
// the other as RGB, rows unfiltered), by each encoder:
//
//   BM_Png/level:<n>   our encoder (src/export/gltf/png_encode.h), libdeflate at level n
//   BM_Png/level:0     libpng's writer with its fast setting (rows unfiltered, zlib level 3):
//                      the encoder before libdeflate
//
// Each iteration encodes all six, from the decoded pictures (the RGBA conversion included where
// the way needs it). Counters: `png_KiB` the six PNGs together, `ratio_to_libpng` this way's
// time over libpng's and `size_to_libpng` its bytes over libpng's, measured side by side before
// the timed loop.
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "decode/texture_block.h"
#include "export/gltf/png_encode.h"
#include "testdata/bench_models.h"

namespace {

using morvex::Picture;

const std::vector<Picture>& ScenePictures() {
    static const std::vector<Picture> pictures = [] {
        std::vector<Picture> decoded;
        for (const auto& [name, texture] : morvex::testdata::BenchmarkSceneTextures()) {
            Picture picture;
            if (morvex::DecodeTexture(texture, picture) == morvex::Outcome::Ok) {
                decoded.push_back(std::move(picture));
            }
        }
        return decoded;
    }();
    return pictures;
}

// libpng's writer, as the glTF writer used it: a palette PNG of an 8-bit picture, else RGB.
std::size_t EncodeWithLibpng(const Picture& picture, std::vector<std::uint8_t>& png) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.flags = PNG_IMAGE_FLAG_FAST;
    std::array<std::uint8_t, 3 * 256> colormap{};
    morvex::RgbaPicture rgba;
    std::vector<std::uint8_t> rgb;
    const void* rows = nullptr;
    png_int_32 stride = 0;
    if (picture.bitsPerPixel == 8) {
        const std::size_t entries = std::min<std::size_t>(picture.PaletteEntries(), 256);
        for (std::size_t k = 0; k < entries; ++k) {
            std::copy_n(picture.palette.data() + 4 * k, 3, colormap.data() + 3 * k);
        }
        image.format = PNG_FORMAT_RGB_COLORMAP;
        image.colormap_entries = 256;
        rows = picture.pixels.data();
        stride = -static_cast<png_int_32>(picture.Stride());
    } else {
        morvex::ToRgba(picture, rgba);
        rgb.resize(rgba.pixels.size() / 4 * 3);
        for (std::size_t k = 0; k < rgba.pixels.size() / 4; ++k) {
            std::copy_n(rgba.pixels.data() + 4 * k, 3, rgb.data() + 3 * k);
        }
        image.format = PNG_FORMAT_RGB;
        rows = rgb.data();
    }
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    png.resize(size);
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, rows, stride, colormap.data())) {
        size = 0;
    }
    png_image_free(&image);
    return size;
}

// Encodes every picture one way (level 0: libpng); returns the bytes of all the PNGs.
std::size_t EncodeAll(int level) {
    std::size_t bytes = 0;
    std::vector<std::uint8_t> png;
    for (const Picture& picture : ScenePictures()) {
        if (level == 0) {
            bytes += EncodeWithLibpng(picture, png);
            continue;
        }
        if (picture.bitsPerPixel == 8) {
            (void)morvex::EncodePalettePng(picture, png, level);
        } else {
            morvex::RgbaPicture rgba;
            morvex::ToRgba(picture, rgba);
            (void)morvex::EncodePng(rgba, false, png, level);
        }
        bytes += png.size();
    }
    return bytes;
}

double Seconds(int level, std::size_t& bytes) {
    const auto start = std::chrono::steady_clock::now();
    bytes = EncodeAll(level);
    benchmark::DoNotOptimize(bytes);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Png(benchmark::State& state) {
    const auto level = static_cast<int>(state.range(0));
    // Side by side, best of three rounds each: this way against libpng's.
    double self = 1e9, reference = 1e9;
    std::size_t selfBytes = 0, referenceBytes = 0;
    for (int round = 0; round < 3; ++round) {
        self = std::min(self, Seconds(level, selfBytes));
        reference = std::min(reference, Seconds(0, referenceBytes));
    }
    std::size_t bytes = 0;
    for (auto _ : state) bytes = EncodeAll(level);
    std::uint64_t pixels = 0;
    for (const Picture& p : ScenePictures()) pixels += std::uint64_t(p.width) * p.height;
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pixels));
    state.counters["png_KiB"] = static_cast<double>(bytes) / 1024.0;
    state.counters["ratio_to_libpng"] = self / reference;
    state.counters["size_to_libpng"] =
        static_cast<double>(selfBytes) / static_cast<double>(referenceBytes);
    state.counters["pictures"] = static_cast<double>(ScenePictures().size());
}

BENCHMARK(BM_Png)->ArgName("level")->DenseRange(0, 6)->Arg(9)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

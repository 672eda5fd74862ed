// PNG encoding of the glTF images: the six textures of the benchmark scene (shaded, grainy
// pictures of 512 x 512 to 1024 x 1024: five with 8-bit palettes, one of 16 bits), encoded as
// the glTF writer would for materials without alpha maps, in each way it could:
//
//   BM_Png/rgb/default      every picture as RGB (colour type 2), libpng's row filters, zlib 6
//   BM_Png/rgb/fast         RGB, rows unfiltered, zlib 3
//   BM_Png/palette/default  the 8-bit pictures as palette PNGs (colour type 3), the other as RGB
//   BM_Png/palette/fast     the same, unfiltered at zlib 3
//
// Each iteration encodes all six, from the decoded pictures (the RGBA conversion included where
// the way needs it). Counters: `png_KiB` the six PNGs together, `ratio_to_rgb_default` this
// way's time over the first way's, measured side by side before the timed loop.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "decode/texture_block.h"
#include "export/gltf/png_encode.h"
#include "testdata/bench_models.h"

namespace {

using morvex::Picture;
using morvex::PngEffort;

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

// Encodes every picture one way; returns the bytes of all the PNGs.
std::size_t EncodeAll(bool palette, PngEffort effort) {
    std::size_t bytes = 0;
    std::vector<std::uint8_t> png;
    for (const Picture& picture : ScenePictures()) {
        if (palette && picture.bitsPerPixel == 8) {
            (void)morvex::EncodePalettePng(picture, png, effort);
        } else {
            morvex::RgbaPicture rgba;
            morvex::ToRgba(picture, rgba);
            (void)morvex::EncodePng(rgba, false, png, effort);
        }
        bytes += png.size();
    }
    return bytes;
}

double Seconds(bool palette, PngEffort effort) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(EncodeAll(palette, effort));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Png(benchmark::State& state) {
    const bool palette = state.range(0) != 0;
    const auto effort = static_cast<PngEffort>(state.range(1));
    // Side by side, best of three rounds each: this way against RGB at the default effort.
    double self = 1e9, reference = 1e9;
    for (int round = 0; round < 3; ++round) {
        self = std::min(self, Seconds(palette, effort));
        reference = std::min(reference, Seconds(false, PngEffort::Default));
    }
    std::size_t bytes = 0;
    for (auto _ : state) bytes = EncodeAll(palette, effort);
    std::uint64_t pixels = 0;
    for (const Picture& p : ScenePictures()) pixels += std::uint64_t(p.width) * p.height;
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pixels));
    state.counters["png_KiB"] = static_cast<double>(bytes) / 1024.0;
    state.counters["ratio_to_rgb_default"] = self / reference;
    state.counters["pictures"] = static_cast<double>(ScenePictures().size());
}

BENCHMARK(BM_Png)
    ->ArgNames({"palette", "fast"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

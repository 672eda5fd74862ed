// Texture conversion speed: ConvertToBitmap on a 1024 x 1024 texture in each stored format, in
// pixels per second, and the share of that time spent in Decompress.
//
// BM_Convert/<format> converts the whole texture; BM_Decompress/<format> only expands its packed
// chunks (into buffers allocated once). The counter decompress_share of BM_Convert is the time of
// the second divided by the time of the first, measured side by side before the timed loop.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "decode/decompress.h"
#include "decode/texture_block.h"
#include "export/bitmap.h"
#include "testdata/texture_writer.h"

namespace {

using morvex::Bytes;
using morvex::testdata::ByteVector;

constexpr std::int32_t kSide = 1024;

enum Format { k1001, k1002, k1004, k1005, k1006Packed, k1006Raw, k1006Large };

const char* const kNames[] = {
    "1001", "1002", "1004", "1005", "1006_packed", "1006_raw", "1006_packed_32x32"};

ByteVector Texture(Format format) {
    using namespace morvex::testdata;
    IndexedPicture picture = TestPicture(kSide, kSide, 42);
    switch (format) {
        case k1001:
            return EncodeTexture1001(TestPicture16(kSide, kSide, 42));
        case k1002:
            return EncodeTexture1002(picture);
        case k1004:
            return EncodeTexture1004(picture);
        case k1005:
            return *EncodeTexture1005(picture);
        case k1006Packed:
            return *EncodeTexture1006(picture, {3, 3, true});
        case k1006Raw:
            return *EncodeTexture1006(picture, {3, 3, false});
        case k1006Large:
            return *EncodeTexture1006(picture, {5, 5, true});
    }
    return {};
}

// The packed chunks of a texture, where its format puts them.
std::vector<morvex::PackedChunk> Chunks(Format format, Bytes header) {
    std::vector<std::uint64_t> offsets;
    switch (format) {
        case k1001:
            offsets = {12};
            break;
        case k1002:
            offsets = {12, 0};
            break;
        case k1004:
            offsets = {16, 0};
            break;
        case k1005:
            offsets = {16, 4};
            break;
        case k1006Packed:
        case k1006Large:
            offsets = {24};
            break;
        case k1006Raw:
            break;
    }
    std::vector<morvex::PackedChunk> chunks;
    std::uint64_t at = 0;
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        // The first offset is absolute; later ones count from the end of the chunk before.
        at = k == 0 ? offsets[k] : at + offsets[k];
        morvex::PackedChunk chunk;
        if (!morvex::ReadPackedChunk(header, at, morvex::kTextureSizeAdjust, chunk)) break;
        chunks.push_back(chunk);
        at = chunk.end;
    }
    return chunks;
}

// Decompresses every chunk once into `buffers`.
void DecompressAll(const std::vector<morvex::PackedChunk>& chunks,
                   std::vector<std::vector<std::uint8_t>>& buffers) {
    for (std::size_t k = 0; k < chunks.size(); ++k) {
        benchmark::DoNotOptimize(
            morvex::Decompress(buffers[k], chunks[k].stream, chunks[k].sourceSize));
    }
}

std::vector<std::vector<std::uint8_t>> Buffers(const std::vector<morvex::PackedChunk>& chunks) {
    std::vector<std::vector<std::uint8_t>> buffers;
    for (const morvex::PackedChunk& c : chunks) buffers.emplace_back(c.unpackedSize);
    return buffers;
}

template <typename F>
double SecondsPerCall(F&& f, int calls) {
    auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < calls; ++k) f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / calls;
}

void BM_Convert(benchmark::State& state) {
    const auto format = static_cast<Format>(state.range(0));
    const ByteVector texture = Texture(format);
    const std::vector<morvex::PackedChunk> chunks = Chunks(format, texture);
    std::vector<std::vector<std::uint8_t>> buffers = Buffers(chunks);
    std::vector<std::uint8_t> image;

    // Side by side, best of three rounds: the share of a conversion spent in Decompress.
    double convert = 1e9, decompress = 1e9;
    for (int round = 0; round < 3; ++round) {
        convert = std::min(
            convert, SecondsPerCall([&] { (void)morvex::ConvertToBitmap(image, texture); }, 5));
        decompress =
            std::min(decompress, SecondsPerCall([&] { DecompressAll(chunks, buffers); }, 5));
    }

    for (auto _ : state) {
        const morvex::Outcome result = morvex::ConvertToBitmap(image, texture);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(image.data());
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
    state.SetLabel(kNames[format]);
    state.counters["decompress_share"] = chunks.empty() ? 0.0 : decompress / convert;
    state.counters["texture_bytes"] = static_cast<double>(texture.size());
}

void BM_Decompress(benchmark::State& state) {
    const auto format = static_cast<Format>(state.range(0));
    const ByteVector texture = Texture(format);
    const std::vector<morvex::PackedChunk> chunks = Chunks(format, texture);
    std::vector<std::vector<std::uint8_t>> buffers = Buffers(chunks);
    for (auto _ : state) DecompressAll(chunks, buffers);
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
    state.SetLabel(kNames[format]);
}

BENCHMARK(BM_Convert)->DenseRange(k1001, k1006Large)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decompress)
    ->DenseRange(k1001, k1006Packed)
    ->Arg(k1006Large)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Decompression speed on realistic payloads, in output bytes per second: our decoder on streams
// from our compressor, zlib's inflate on the same bytes compressed at level 6, and a memcpy of
// the output size as the ceiling. The counter "ratio" is uncompressed / compressed size.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "decode/decompress.h"
#include "encode/compress.h"
#include "testdata/it3_writer.h"

namespace {

using morvex::testdata::ByteVector;

// A finely tessellated sphere in the 112-byte vertex layout (position, normal, texture
// coordinates): 129 x 257 vertices, about 3.7 MB.
ByteVector SphereVertices() {
    constexpr int kRings = 128;
    constexpr int kSegments = 256;
    const double pi = std::acos(-1.0);
    std::vector<morvex::testdata::Vertex> vertices;
    for (int r = 0; r <= kRings; ++r) {
        double theta = pi * r / kRings;
        for (int s = 0; s <= kSegments; ++s) {
            double phi = 2.0 * pi * s / kSegments;
            morvex::testdata::Vertex v;
            float nx = static_cast<float>(std::sin(theta) * std::cos(phi));
            float ny = static_cast<float>(std::cos(theta));
            float nz = static_cast<float>(std::sin(theta) * std::sin(phi));
            v.normal = {nx, ny, nz};
            v.position = {nx * 25.0f, ny * 25.0f + 10.0f, nz * 25.0f};
            v.texCoord = {static_cast<float>(s) / kSegments, static_cast<float>(r) / kRings};
            vertices.push_back(v);
        }
    }
    return morvex::testdata::VertexBytes(vertices, 112);
}

// Triangle lists of grid meshes as 16-bit indices, two triangles per cell: about 3 MB.
ByteVector GridIndices() {
    std::vector<std::uint32_t> indices;
    const int grids[][2] = {{256, 256}, {128, 512}, {200, 300}, {255, 250}};
    for (const auto& grid : grids) {
        const int w = grid[0];
        const int h = grid[1];
        for (int y = 0; y + 1 < h; ++y) {
            for (int x = 0; x + 1 < w; ++x) {
                auto a = static_cast<std::uint32_t>(y * w + x);
                auto b = a + 1;
                auto c = a + static_cast<std::uint32_t>(w);
                auto d = c + 1;
                indices.insert(indices.end(), {a, c, b, b, c, d});
            }
        }
    }
    return morvex::testdata::IndexBytes(indices, 2);
}

// An 8-bit palette picture of 2048 x 1024 pixels, a smooth two-way gradient with a little
// noise, stored in tiles of 16 bytes by 8 rows: 2 MB.
ByteVector TiledTexture() {
    constexpr int kWidth = 2048;
    constexpr int kHeight = 1024;
    std::mt19937 rng(7);
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            double v = 96.0 + 60.0 * std::sin(x / 300.0) + 40.0 * std::cos(y / 170.0);
            int noise = static_cast<int>(rng() % 5) - 2;
            int index = static_cast<int>(v) / 4 * 4 + (noise > 1 ? 4 : noise < -1 ? -4 : 0);
            picture[static_cast<std::size_t>(y) * kWidth + x] =
                static_cast<std::uint8_t>(std::clamp(index, 0, 255));
        }
    }
    ByteVector tiled;
    tiled.reserve(picture.size());
    for (int ty = 0; ty < kHeight / 8; ++ty) {
        for (int tx = 0; tx < kWidth / 16; ++tx) {
            for (int r = 0; r < 8; ++r) {
                const std::uint8_t* row =
                    &picture[static_cast<std::size_t>(ty * 8 + r) * kWidth + tx * 16];
                tiled.insert(tiled.end(), row, row + 16);
            }
        }
    }
    return tiled;
}

struct Payload {
    ByteVector raw;
    ByteVector stream;  // ours
    ByteVector zlib;    // level 6
};

const Payload& GetPayload(int which) {
    static std::vector<Payload> payloads = [] {
        std::vector<Payload> all;
        for (ByteVector raw : {SphereVertices(), GridIndices(), TiledTexture()}) {
            Payload p;
            p.stream = morvex::Compress(raw);
            uLongf size = compressBound(static_cast<uLong>(raw.size()));
            p.zlib.resize(size);
            if (compress2(p.zlib.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6) !=
                Z_OK) {
                std::abort();
            }
            p.zlib.resize(size);
            p.raw = std::move(raw);
            all.push_back(std::move(p));
        }
        return all;
    }();
    return payloads[static_cast<std::size_t>(which)];
}

const char* kNames[] = {"vertices", "indices", "texture"};

// Checks the round trip and reports throughput in decoded bytes and the compression ratio.
void Report(benchmark::State& state, const Payload& p, const std::vector<std::uint8_t>& out,
            std::size_t compressedSize) {
    if (out != p.raw) state.SkipWithError("round trip failed");
    state.SetLabel(kNames[state.range(0)]);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(p.raw.size()));
    state.counters["ratio"] =
        static_cast<double>(p.raw.size()) / static_cast<double>(compressedSize);
}

void BM_Decompress(benchmark::State& state) {
    const Payload& p = GetPayload(static_cast<int>(state.range(0)));
    std::vector<std::uint8_t> out(p.raw.size());
    for (auto _ : state) {
        std::int32_t n =
            morvex::Decompress(out, p.stream, static_cast<std::int32_t>(p.stream.size()));
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    Report(state, p, out, p.stream.size());
}

void BM_ZlibInflate(benchmark::State& state) {
    const Payload& p = GetPayload(static_cast<int>(state.range(0)));
    std::vector<std::uint8_t> out(p.raw.size());
    for (auto _ : state) {
        uLongf size = static_cast<uLongf>(out.size());
        int result =
            uncompress(out.data(), &size, p.zlib.data(), static_cast<uLong>(p.zlib.size()));
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    Report(state, p, out, p.zlib.size());
}

void BM_Memcpy(benchmark::State& state) {
    const Payload& p = GetPayload(static_cast<int>(state.range(0)));
    std::vector<std::uint8_t> out(p.raw.size());
    for (auto _ : state) {
        std::memcpy(out.data(), p.raw.data(), p.raw.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(kNames[state.range(0)]);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(p.raw.size()));
}

BENCHMARK(BM_Decompress)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ZlibInflate)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// Decoding every mesh of one vertex block, in order, as the writers do.
//
// A VPA5 or VPA8 block keeps the vertices and indices of all its meshes in shared packed chunks.
// The decoder unpacks them once per bound block, so the total time for all meshes stays flat
// when the same 200000 vertices are spread over 10, 100 or 1000 meshes (BM_AllMeshesInOrder).
// BM_FromScratchPerMesh binds a fresh decoder for every mesh, which unpacks the whole block again
// for each mesh: its time grows with the mesh count, the quadratic cost that the shared decode
// avoids.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "decode/vertex_block.h"
#include "testdata/it3_writer.h"

namespace {

using morvex::testdata::ByteVector;

constexpr int kTotalVertices = 200000;

// A file of one vertex block of `tag` with kTotalVertices vertices split evenly over `meshCount`
// meshes, each a strip of triangles over its vertices.
const ByteVector& ModelFile(const std::string& tag, int meshCount) {
    static std::map<std::pair<std::string, int>, ByteVector> files;
    auto key = std::make_pair(tag, meshCount);
    auto found = files.find(key);
    if (found != files.end()) return found->second;

    std::vector<morvex::testdata::Mesh> meshes(static_cast<std::size_t>(meshCount));
    int perMesh = kTotalVertices / meshCount;
    for (int m = 0; m < meshCount; ++m) {
        morvex::testdata::Mesh& mesh = meshes[static_cast<std::size_t>(m)];
        for (int i = 0; i < perMesh; ++i) {
            auto x = static_cast<float>(i % 256);
            auto y = static_cast<float>(i / 256);
            mesh.vertices.push_back(
                {{x * 0.25f, y * 0.25f, static_cast<float>(m) + x * y / 65536.0f},
                 {0.0f, 0.0f, 1.0f},
                 {x / 255.0f, y / 1024.0f}});
        }
        for (int i = 0; i + 2 < perMesh; ++i) {
            auto k = static_cast<std::uint32_t>(i);
            mesh.indices.insert(mesh.indices.end(), {k, k + 1, k + 2});
        }
        mesh.materialIndex = m % 4;
    }
    morvex::testdata::It3Writer file;
    file.Block(tag, morvex::testdata::VertexPayload(tag, meshes));
    return files.emplace(key, file.Bytes()).first->second;
}

std::unique_ptr<morvex::VertexBlock> MakeDecoder(const std::string& tag) {
    if (tag == "VPA8") return std::make_unique<morvex::Vpa8Block>();
    return std::make_unique<morvex::Vpa5Block>();
}

// Reads the current mesh the way a writer touches it: every position and face.
double Touch(const morvex::VertexBlock& d) {
    double sum = 0.0;
    for (std::int32_t i = 0; i < d.VertexCount(); ++i) sum += d.PositionAt(i)[2];
    for (std::int32_t t = 0; t < d.FaceCount(); ++t) sum += d.FaceAt(t)[2];
    return sum;
}

void Report(benchmark::State& state, std::int64_t meshes) {
    state.SetItemsProcessed(state.iterations() * kTotalVertices);
    state.counters["meshes"] = static_cast<double>(meshes);
}

// One decoder bound once, every mesh decoded, read and released in order.
void BM_AllMeshesInOrder(benchmark::State& state, const std::string& tag) {
    const ByteVector& file = ModelFile(tag, static_cast<int>(state.range(0)));
    std::int32_t meshes = 0;
    for (auto _ : state) {
        std::unique_ptr<morvex::VertexBlock> d = MakeDecoder(tag);
        d->ReadHeader(file, 0, 0, "bench");
        meshes = d->Count();
        double sum = 0.0;
        for (std::int32_t m = 0; m < meshes; ++m) {
            std::int32_t material = 0;
            if (d->Decode(m, material) != 0) {
                state.SkipWithError("mesh failed to decode");
                return;
            }
            sum += Touch(*d);
            d->Release();
        }
        benchmark::DoNotOptimize(sum);
    }
    Report(state, meshes);
}

// A fresh decoder bound for every mesh: the whole block is unpacked once per mesh.
void BM_FromScratchPerMesh(benchmark::State& state, const std::string& tag) {
    const ByteVector& file = ModelFile(tag, static_cast<int>(state.range(0)));
    const auto meshes = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        double sum = 0.0;
        for (std::int32_t m = 0; m < meshes; ++m) {
            std::unique_ptr<morvex::VertexBlock> d = MakeDecoder(tag);
            d->ReadHeader(file, 0, 0, "bench");
            std::int32_t material = 0;
            if (d->Decode(m, material) != 0) {
                state.SkipWithError("mesh failed to decode");
                return;
            }
            sum += Touch(*d);
        }
        benchmark::DoNotOptimize(sum);
    }
    Report(state, meshes);
}

BENCHMARK_CAPTURE(BM_AllMeshesInOrder, VPA5, std::string("VPA5"))
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FromScratchPerMesh, VPA5, std::string("VPA5"))
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AllMeshesInOrder, VPA8, std::string("VPA8"))
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FromScratchPerMesh, VPA8, std::string("VPA8"))
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

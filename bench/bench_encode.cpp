// The encoders: their throughput, and a full re-encode of a model against converting it.
//
// BM_Reencode/<model> decodes every material, vertex and texture block of a generated model and
// encodes it again (tools/testdata/reencode.h: what the pack does for a block that changed); in
// the same iteration the model is converted with -g in the same process, and `ratio` is the
// re-encode's time over the conversion's. BM_Compress/<data> compresses data taken from the
// benchmark scene (vertices, indices, texture tiles) and reports its size against the input and
// its speed against decompressing the same stream. BM_EncodeVertexBlock/<tag> and
// BM_EncodeTexture/<format> run the block encoders on the scene's blocks decoded.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "decode/decompress.h"
#include "decode/texture_block.h"
#include "decode/vertex_block.h"
#include "encode/compress.h"
#include "encode/texture_encoder.h"
#include "encode/vertex_encoder.h"
#include "testdata/bench_models.h"
#include "testdata/reencode.h"
#include "testdata/sample_model.h"

namespace {

namespace fs = std::filesystem;
using namespace morvex;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct ModelFile {
    fs::path dir;
    fs::path input;
    std::vector<std::uint8_t> bytes;
};

ModelFile Save(const std::string& name, std::vector<std::uint8_t> bytes) {
    ModelFile model{
        fs::temp_directory_path() / ("morvex-bench-encode-" + name), {}, std::move(bytes)};
    fs::remove_all(model.dir);
    fs::create_directories(model.dir);
    model.input = model.dir / (name + ".it3");
    std::FILE* file = std::fopen(model.input.c_str(), "wb");
    std::fwrite(model.bytes.data(), 1, model.bytes.size(), file);
    std::fclose(file);
    return model;
}

const ModelFile& Large() {
    static const ModelFile model = Save("large", testdata::BuildLargeModel().Bytes());
    return model;
}
const ModelFile& Scene() {
    static const ModelFile model = Save("scene", testdata::BuildBenchmarkScene().file.Bytes());
    return model;
}

void BM_Reencode(benchmark::State& state, const ModelFile& (*model)()) {
    const ModelFile& m = model();
    const std::vector<testdata::FileBlock> blocks = testdata::ListBlocks(m.bytes);
    std::FILE* sink = std::fopen("/dev/null", "w");
    double reencode = 0, convert = 0;
    std::uint64_t written = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        written = 0;
        for (const testdata::FileBlock& block : blocks) {
            if (!testdata::IsReencoded(block.tag)) continue;
            std::vector<std::uint8_t> payload;
            if (!testdata::ReencodeBlock(block, payload).Ok()) state.SkipWithError("refused");
            written += payload.size();
        }
        const double seconds = Seconds(start);
        reencode += seconds;
        state.SetIterationTime(seconds);

        fs::remove_all(m.dir / "out");
        fs::create_directories(m.dir / "out");
        start = Clock::now();
        Converter converter(sink);
        converter.Convert(m.input.string(), (m.dir / "out/").string(), OutputMode::Gltf);
        convert += Seconds(start);
    }
    std::fclose(sink);
    const auto n = static_cast<double>(state.iterations());
    state.counters["ref_gltf_ms"] = 1000 * convert / n;
    state.counters["ratio"] = reencode / convert;
    state.counters["size_ratio"] =
        static_cast<double>(written) / static_cast<double>(m.bytes.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * m.bytes.size()));
}
BENCHMARK_CAPTURE(BM_Reencode, large, Large)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Reencode, scene, Scene)->UseManualTime()->Unit(benchmark::kMillisecond);

// The decoded data of the scene's blocks: each vertex tag's vertices and indices (the first
// 4 MB), each texture's picture and its original payload.
struct SceneData {
    std::map<std::string, std::vector<std::uint8_t>> streams;  // for BM_Compress
    struct Block {
        std::uint32_t tag;
        std::vector<std::vector<std::uint8_t>> vertices;
        std::vector<std::vector<std::uint32_t>> indices;
        std::vector<OriginalMesh> originals;
    };
    std::vector<Block> vertexBlocks;
    struct Texture {
        std::vector<std::uint8_t> original;
        TextureImage image;
        std::uint32_t format;
    };
    std::vector<Texture> textures;
};

const SceneData& Data() {
    static const SceneData data = [] {
        SceneData d;
        for (const testdata::FileBlock& block : testdata::ListBlocks(Scene().bytes)) {
            if (const VertexLayout* layout = FindVertexLayout(block.tag)) {
                VertexBlock decoder(*layout);
                decoder.ReadHeader(block.bytes, 0, 0, "scene");
                SceneData::Block& b = d.vertexBlocks.emplace_back();
                b.tag = block.tag;
                (void)ReadOriginalMeshes(block.tag, block.Payload(), b.originals);
                std::size_t bytes = 0;
                for (std::int32_t m = 0; m < decoder.LocatedMeshes() && bytes < (4u << 20); ++m) {
                    std::int32_t material = 0;
                    if (decoder.Decode(m, material) != 0) continue;
                    const MeshData& mesh = decoder.Current();
                    b.vertices.emplace_back(mesh.vertices.begin(), mesh.vertices.end());
                    std::vector<std::uint32_t>& indices = b.indices.emplace_back();
                    for (std::int32_t t = 0; t < mesh.faceCount; ++t) {
                        for (std::uint32_t i : mesh.FaceAt(t)) indices.push_back(i);
                    }
                    bytes += mesh.vertices.size();
                    auto& v = d.streams["vertices_" + std::to_string(layout->stride)];
                    v.insert(v.end(), mesh.vertices.begin(), mesh.vertices.end());
                    auto& i = d.streams["indices_" + std::to_string(layout->indexSize * 8)];
                    i.insert(i.end(), mesh.indices.begin(), mesh.indices.end());
                }
            } else if (block.tag == kTagTexi) {
                Picture picture;
                if (DecodeTexture(block.Payload().subspan(kTextureNameSize), picture) !=
                    Outcome::Ok) {
                    continue;
                }
                d.textures.push_back(
                    {std::vector<std::uint8_t>(block.Payload().begin(), block.Payload().end()),
                     ImageFromPicture(picture),
                     LoadU32(block.Payload().data() + kTextureNameSize)});
                if (picture.bitsPerPixel == 8) {
                    auto& t = d.streams["texture_rows"];
                    t.insert(t.end(), picture.pixels.begin(), picture.pixels.end());
                }
            }
        }
        for (auto& [name, bytes] : d.streams)
            bytes.resize(std::min<std::size_t>(bytes.size(), 8u << 20));
        return d;
    }();
    return data;
}

void BM_Compress(benchmark::State& state, const char* name) {
    const std::vector<std::uint8_t>& data = Data().streams.at(name);
    std::vector<std::uint8_t> stream;
    for (auto _ : state) {
        stream = Compress(data);
        benchmark::DoNotOptimize(stream.data());
    }
    // The decompressor on the same stream, side by side.
    std::vector<std::uint8_t> out(data.size());
    const Clock::time_point start = Clock::now();
    const int rounds = 5;
    for (int k = 0; k < rounds; ++k) {
        Decompress(out, stream, static_cast<std::int32_t>(stream.size()));
    }
    const double decompress = Seconds(start) / rounds;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
    state.counters["size_ratio"] =
        static_cast<double>(stream.size()) / static_cast<double>(data.size());
    state.counters["ref_decompress_ms"] = 1000 * decompress;
}
BENCHMARK_CAPTURE(BM_Compress, vertices_112, "vertices_112")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, vertices_40, "vertices_40")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, indices_32, "indices_32")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, indices_16, "indices_16")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, texture_rows, "texture_rows")->Unit(benchmark::kMillisecond);

void BM_EncodeVertexBlock(benchmark::State& state) {
    const SceneData::Block& block = Data().vertexBlocks[static_cast<std::size_t>(state.range(0))];
    std::vector<MeshInput> meshes(block.vertices.size());
    std::size_t bytes = 0;
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        meshes[m] = {block.originals[m].record, block.originals[m].extra, block.vertices[m],
                     block.indices[m], 0};
        bytes += block.vertices[m].size() + block.indices[m].size() * IndexWidth(block.tag);
    }
    std::vector<std::uint8_t> payload;
    for (auto _ : state) {
        if (!EncodeVertexBlock(block.tag, meshes, "scene", {}, payload).Ok())
            state.SkipWithError("refused");
    }
    state.SetLabel(std::string(reinterpret_cast<const char*>(&block.tag), 4));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_EncodeVertexBlock)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

void BM_EncodeTexture(benchmark::State& state) {
    const SceneData::Texture& texture = Data().textures[static_cast<std::size_t>(state.range(0))];
    std::vector<std::uint8_t> payload;
    for (auto _ : state) {
        if (!EncodeTexture(texture.original, texture.image, payload).Ok())
            state.SkipWithError("refused");
    }
    state.SetLabel(std::to_string(texture.format));
    state.counters["pixels_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * texture.image.width * texture.image.height,
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeTexture)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

// The error of storing pictures of more colours than a format holds: counters `rms` (root mean
// square over red, green and blue, 0 to 255), `psnr_dB` and `max` (largest error of a channel)
// from the encoder's stats.
std::vector<std::uint8_t> QuantisePicture(int which, std::int32_t side) {
    std::vector<std::uint8_t> rgba;
    std::uint32_t noise = 12345;
    auto next = [&noise] {
        noise = noise * 1103515245u + 12345u;
        return static_cast<int>((noise >> 16) % 17) - 8;
    };
    for (std::int32_t y = 0; y < side; ++y) {
        for (std::int32_t x = 0; x < side; ++x) {
            int r = 255 * x / side, g = 255 * y / side, b = 255 * (x + y) / (2 * side);
            if (which == 1) {  // soft shading with grain
                r = 128 + (r - 128) / 2 + next();
                g = 96 + (g - 128) / 3 + next();
                b = 64 + b / 4 + next();
            }
            for (int c : {r, g, b, 255})
                rgba.push_back(static_cast<std::uint8_t>(std::clamp(c, 0, 255)));
        }
    }
    return rgba;
}

void BM_Quantise(benchmark::State& state) {
    const std::int32_t side = 256;
    const int which = static_cast<int>(state.range(0));
    const auto format = static_cast<std::uint32_t>(state.range(1));
    TextureImage image;
    image.width = image.height = side;
    image.rgba = QuantisePicture(which, side);
    // An original of the format: a header of that size (1006: 8 x 8 tiles, packed) and no data.
    std::vector<std::uint8_t> original(kTextureNameSize + (format == 1006   ? 24
                                                           : format >= 1004 ? 16
                                                                            : 12),
                                       0);
    StoreU32(original.data() + kTextureNameSize, format);
    if (format == 1006) {
        original[kTextureNameSize + 16] = original[kTextureNameSize + 17] = 3;
        original[kTextureNameSize + 23] = 1;
    }
    std::vector<std::uint8_t> payload;
    TextureEncodeStats stats;
    for (auto _ : state) {
        if (!EncodeTexture(original, image, payload, &stats).Ok()) state.SkipWithError("refused");
    }
    state.SetLabel(std::string(which == 0 ? "gradient" : "grain") + " " + std::to_string(format));
    state.counters["colours"] = stats.colours;
    state.counters["rms"] = stats.rootMeanSquare;
    state.counters["psnr_dB"] =
        stats.rootMeanSquare > 0 ? 20 * std::log10(255 / stats.rootMeanSquare) : 0;
    state.counters["max"] = stats.maxError;
}
BENCHMARK(BM_Quantise)
    ->ArgsProduct({{0, 1}, {1001, 1002, 1004, 1005, 1006}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

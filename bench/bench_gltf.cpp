// End-to-end conversion of a large model (about one million vertices, two million triangles)
// into one binary glTF file (-g), next to the OBJ output of the same model: time and size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "convert/converter.h"
#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"

namespace {

namespace fs = std::filesystem;
using namespace morvex;

struct LargeModel {
    fs::path dir;
    fs::path input;

    LargeModel() {
        dir = fs::temp_directory_path() / "morvex-bench-gltf";
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        input = dir / "large.it3";
        testdata::It3Writer file;
        file.Info("field");
        file.Block("MAT2", testdata::MaterialPayload("MAT2", {{"ground", "ground", "", 10.0f}}));
        std::vector<testdata::Mesh> meshes;
        for (int k = 0; k < 16; ++k) {
            // 255 x 255 = 65025 vertices each: the most a sphere of 16-bit indices can address.
            meshes.push_back(testdata::SphereMesh(
                {static_cast<float>(k % 4) * 3.1f, static_cast<float>(k / 4) * 3.1f, 1.0f}, 1.37f,
                254, 254, 0));
        }
        file.Block("VPA5", testdata::VertexPayload("VPA5", meshes));
        file.Save(input.string());
    }
    ~LargeModel() { fs::remove_all(dir); }
};

LargeModel& Model() {
    static LargeModel model;
    return model;
}

void Convert(benchmark::State& state, OutputMode mode) {
    LargeModel& model = Model();
    std::FILE* sink = std::fopen("/dev/null", "w");
    std::uintmax_t written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(model.dir / "out");
        fs::create_directories(model.dir / "out");
        state.ResumeTiming();
        Converter converter(sink);
        converter.Convert(model.input.string(), (model.dir / "out/").string(), mode);
        written = 0;
        for (const auto& entry : fs::directory_iterator(model.dir / "out"))
            written += entry.file_size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * written));
    state.counters["output_MB"] = static_cast<double>(written) / 1e6;
    std::fclose(sink);
}

void BM_ConvertGltf(benchmark::State& state) {
    Convert(state, OutputMode::Gltf);
}
void BM_ConvertObj(benchmark::State& state) {
    Convert(state, OutputMode::Obj);
}

BENCHMARK(BM_ConvertGltf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertObj)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// End-to-end conversion of a large model (about one million vertices, two million triangles) in
// each output mode, next to copying a file of the same size as the OBJ output: the floor any
// writer can reach.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "convert/converter.h"
#include "testdata/sample_model.h"

namespace {

namespace fs = std::filesystem;
using namespace morvex;

struct LargeModel {
    fs::path dir = fs::temp_directory_path() / "morvex-bench-export";
    fs::path input = dir / "large.it3";
    std::uintmax_t objBytes = 0;

    LargeModel() {
        fs::remove_all(dir);
        fs::create_directories(dir);
        testdata::BuildLargeModel().Save(input.string());
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
    if (mode == OutputMode::Obj) model.objBytes = written;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * written));
    state.counters["output_MB"] = static_cast<double>(written) / 1e6;
    std::fclose(sink);
}

void BM_ConvertObj(benchmark::State& state) {
    Convert(state, OutputMode::Obj);
}
void BM_ConvertMqo(benchmark::State& state) {
    Convert(state, OutputMode::Mqo);
}
void BM_ConvertGltf(benchmark::State& state) {
    Convert(state, OutputMode::Gltf);
}

// Copying a file of the OBJ output's size.
void BM_CopySameSize(benchmark::State& state) {
    LargeModel& model = Model();
    std::uintmax_t size = model.objBytes ? model.objBytes : 100'000'000;
    fs::path from = model.dir / "copy-from", to = model.dir / "copy-to";
    {
        std::ofstream out(from, std::ios::binary);
        std::vector<char> block(1 << 20, 'x');
        for (std::uintmax_t done = 0; done < size; done += block.size()) {
            out.write(block.data(), static_cast<std::streamsize>(
                                        std::min<std::uintmax_t>(block.size(), size - done)));
        }
    }
    for (auto _ : state) fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    fs::remove(from);
    fs::remove(to);
}

BENCHMARK(BM_ConvertObj)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertMqo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertGltf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopySameSize)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

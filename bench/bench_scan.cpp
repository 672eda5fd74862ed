// Indexing speed: the scan of a file of many small blocks, in check mode.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "convert/converter.h"
#include "testdata/it3_writer.h"

namespace {

void BM_ScanBlocks(benchmark::State& state) {
    morvex::testdata::It3Writer file;
    std::vector<std::uint8_t> payload(16, 0);
    for (int k = 0; k < state.range(0); ++k) {
        file.Info("object");
        file.Block("BBOX", payload).Block("KAN2", payload).Block("TEXI", payload);
    }
    std::filesystem::path path = std::filesystem::temp_directory_path() / "morvex-bench-scan.it3";
    file.Save(path.string());
    std::FILE* sink = std::fopen("/dev/null", "w");
    morvex::Converter converter(sink);
    for (auto _ : state) {
        converter.Convert(path.string(), "", morvex::OutputMode::Check);
        benchmark::DoNotOptimize(converter.GetModel().blocks.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * 4);
    std::fclose(sink);
    std::filesystem::remove(path);
}
BENCHMARK(BM_ScanBlocks)->Arg(1000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();

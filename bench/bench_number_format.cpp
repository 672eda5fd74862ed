// Number formatting speed: FormatFixed against the C library's snprintf on the values the writers
// print, vertex coordinates (floats in [-100, 100]) and texture coordinates (floats in [0, 1]),
// each widened to double. Items are formatted numbers.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "export/text/number_format.h"

namespace {

enum class Values { Vertex, TexCoord };

const std::vector<float>& Inputs(Values kind) {
    static const std::vector<float> vertex = [] {
        std::mt19937 random(11);
        std::uniform_real_distribution<float> coordinate(-100.0f, 100.0f);
        std::vector<float> values(4096);
        for (float& v : values) v = coordinate(random);
        return values;
    }();
    static const std::vector<float> texCoord = [] {
        std::mt19937 random(12);
        std::uniform_real_distribution<float> coordinate(0.0f, 1.0f);
        std::vector<float> values(4096);
        for (float& v : values) v = coordinate(random);
        return values;
    }();
    return kind == Values::Vertex ? vertex : texCoord;
}

void BM_FormatFixed(benchmark::State& state, Values kind, int precision) {
    const std::vector<float>& values = Inputs(kind);
    char text[morvex::kMaxFixedLength];
    std::size_t total = 0;
    for (auto _ : state) {
        for (float v : values) {
            total += morvex::FormatFixed(text, v, precision);
            benchmark::DoNotOptimize(text);
        }
    }
    benchmark::DoNotOptimize(total);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

void BM_Snprintf(benchmark::State& state, Values kind, int precision) {
    const std::vector<float>& values = Inputs(kind);
    const char* format = precision == 6 ? "%f" : "%.4f";
    char text[512];
    std::size_t total = 0;
    for (auto _ : state) {
        for (float v : values) {
            total += static_cast<std::size_t>(
                std::snprintf(text, sizeof text, format, static_cast<double>(v)));
            benchmark::DoNotOptimize(text);
        }
    }
    benchmark::DoNotOptimize(total);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

BENCHMARK_CAPTURE(BM_FormatFixed, vertex_f, Values::Vertex, 6);
BENCHMARK_CAPTURE(BM_Snprintf, vertex_f, Values::Vertex, 6);
BENCHMARK_CAPTURE(BM_FormatFixed, vertex_4f, Values::Vertex, 4);
BENCHMARK_CAPTURE(BM_Snprintf, vertex_4f, Values::Vertex, 4);
BENCHMARK_CAPTURE(BM_FormatFixed, texcoord_f, Values::TexCoord, 6);
BENCHMARK_CAPTURE(BM_Snprintf, texcoord_f, Values::TexCoord, 6);
BENCHMARK_CAPTURE(BM_FormatFixed, texcoord_4f, Values::TexCoord, 4);
BENCHMARK_CAPTURE(BM_Snprintf, texcoord_4f, Values::TexCoord, 4);

}  // namespace

BENCHMARK_MAIN();

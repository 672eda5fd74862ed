// Re-encodes every material, vertex and texture block of it3 files with the library's encoders
// and prints, block by block, the payload size of the original against the re-encoded one, and
// whether the two decode to the same content.
//
//   reencode_sizes FILE.it3...     the given files
//   reencode_sizes --generated     the generated benchmark scene, the large model and the sample
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "it3/block.h"
#include "testdata/bench_models.h"
#include "testdata/reencode.h"
#include "testdata/sample_model.h"

namespace {

using namespace morvex;

struct Totals {
    std::uint64_t original = 0, reencoded = 0;
    int blocks = 0, refused = 0, differing = 0;
};

std::string TagText(std::uint32_t tag) {
    std::string text(4, ' ');
    for (std::size_t k = 0; k < 4; ++k) text[k] = static_cast<char>(tag >> (8 * k));
    return text;
}

void Report(const std::string& name, Bytes file, Totals& all) {
    Totals totals;
    std::printf("\n%s\n%-6s %-10s %12s %12s %8s  %s\n", name.c_str(), "block", "tag", "original",
                "re-encoded", "ratio", "content");
    const auto start = std::chrono::steady_clock::now();
    for (const testdata::FileBlock& block : testdata::ListBlocks(file)) {
        if (!testdata::IsReencoded(block.tag)) continue;
        char tag[16];
        std::snprintf(tag, sizeof tag, "%s", TagText(block.tag).c_str());
        if (block.tag == kTagTexi && block.Payload().size() >= 40) {
            std::snprintf(tag, sizeof tag, "TEXI %u", LoadU32(block.Payload().data() + 36));
        }
        std::vector<std::uint8_t> payload;
        const EncodeResult result = testdata::ReencodeBlock(block, payload);
        ++totals.blocks;
        if (!result.Ok()) {
            ++totals.refused;
            std::printf("%-6llu %-10s %12zu %12s %8s  refused: %s\n",
                        static_cast<unsigned long long>(block.offset), tag, block.Payload().size(),
                        "-", "-", result.message.c_str());
            continue;
        }
        std::string why;
        const bool same = testdata::SameContent(block.tag, block.Payload(), payload, why);
        totals.differing += same ? 0 : 1;
        totals.original += block.Payload().size();
        totals.reencoded += payload.size();
        std::printf("%-6llu %-10s %12zu %12zu %8.3f  %s\n",
                    static_cast<unsigned long long>(block.offset), tag, block.Payload().size(),
                    payload.size(),
                    static_cast<double>(payload.size()) /
                        static_cast<double>(std::max<std::size_t>(1, block.Payload().size())),
                    same ? "same" : why.c_str());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("total  %-10d %12llu %12llu %8.3f  %d refused, %d differ, %.2f s\n", totals.blocks,
                static_cast<unsigned long long>(totals.original),
                static_cast<unsigned long long>(totals.reencoded),
                static_cast<double>(totals.reencoded) /
                    static_cast<double>(std::max<std::uint64_t>(1, totals.original)),
                totals.refused, totals.differing, seconds);
    all.original += totals.original;
    all.reencoded += totals.reencoded;
    all.blocks += totals.blocks;
    all.refused += totals.refused;
    all.differing += totals.differing;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: reencode_sizes FILE.it3... | --generated\n");
        return 2;
    }
    Totals all;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--generated") {
            Report("benchmark scene", testdata::BuildBenchmarkScene().file.Bytes(), all);
            Report("large model", testdata::BuildLargeModel().Bytes(), all);
            Report("sample", testdata::BuildSampleModel().Bytes(), all);
            continue;
        }
        std::ifstream in(arg, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "reencode_sizes: can not read %s\n", arg.c_str());
            return 1;
        }
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        Report(arg, bytes, all);
    }
    std::printf("\nall    %-10d %12llu %12llu %8.3f  %d refused, %d differ\n", all.blocks,
                static_cast<unsigned long long>(all.original),
                static_cast<unsigned long long>(all.reencoded),
                static_cast<double>(all.reencoded) /
                    static_cast<double>(std::max<std::uint64_t>(1, all.original)),
                all.refused, all.differing);
    return all.differing == 0 ? 0 : 1;
}

// Vertex blocks: the first input byte picks the tag (VPA2, VPA4, VPA5, VPA7, VPA8, VPAC), the
// rest is the payload. Decodes every mesh and reads every vertex (position, normal, texture
// coordinates), every face and the raw data of each, checking that the counts match the data.
#include <cstdint>
#include <memory>

#include "decode/vertex_block.h"
#include "fuzz_support.h"

using namespace morvex;

namespace {

volatile float sink;

// Meshes beyond this are still decoded, but far fewer are needed to reach every path; without a
// cap a count of 2^31 would spin through failing decodes.
constexpr std::int32_t kMaxMeshes = 1 << 12;

std::unique_ptr<VertexBlock> MakeBlock(std::uint8_t choice, std::string_view& tag) {
    switch (choice % 6) {
        case 0:
            tag = "VPA2";
            return std::make_unique<Vpa2Block>();
        case 1:
            tag = "VPA4";
            return std::make_unique<Vpa4Block>();
        case 2:
            tag = "VPA5";
            return std::make_unique<Vpa5Block>();
        case 3:
            tag = "VPA7";
            return std::make_unique<Vpa7Block>();
        case 4:
            tag = "VPA8";
            return std::make_unique<Vpa8Block>();
        default:
            tag = "VPAC";
            return std::make_unique<VpacBlock>();
    }
}

float TouchMesh(const VertexBlock& block) {
    const std::int32_t n = block.VertexCount();
    const std::int32_t faces = block.FaceCount();
    const auto stride = block.Layout().stride;
    const auto indexSize = block.Layout().indexSize;
    fuzz::Require(n >= 0 && faces >= 0);
    fuzz::Require(static_cast<std::uint64_t>(n) == block.VertexData().size() / stride);
    fuzz::Require(static_cast<std::uint64_t>(faces) == block.IndexData().size() / (3 * indexSize));
    float total = 0;
    for (std::int32_t k = -1; k <= n; ++k) {
        for (float v : block.PositionAt(k)) total += v;
        for (float v : block.NormalAt(k)) total += v;
        for (float v : block.TexCoordAt(k)) total += v;
    }
    for (std::int32_t t = -1; t <= faces; ++t) {
        for (std::uint32_t index : block.FaceAt(t)) total += static_cast<float>(index & 0xFF);
    }
    for (std::uint8_t b : block.VertexData()) total += b;
    for (std::uint8_t b : block.IndexData()) total += b;
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::string_view tag;
    std::unique_ptr<VertexBlock> block = MakeBlock(data[0], tag);
    fuzz::ExactCopy file = fuzz::SingleBlock(tag, data + 1, size - 1);
    fuzz::Require(block->ReadHeader(file.View(), 0, 0, "fuzz") >= 0);
    const std::int32_t count = std::min(block->Count(), kMaxMeshes);
    float total = 0;
    // Twice over, the second time in reverse: the whole-block data is decoded once and sliced.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::int32_t k = -1; k <= count; ++k) {
            const std::int32_t i = pass == 0 ? k : count - 1 - k;
            std::int32_t material = -1;
            if (block->Decode(i, material) != 0) {
                fuzz::Require(block->VertexCount() == 0 && block->FaceCount() == 0);
                continue;
            }
            fuzz::Require(i >= 0 && i < block->Count());
            total += TouchMesh(*block);
            total += static_cast<float>(material & 0xFF);
        }
    }
    block->Release();
    fuzz::Require(block->VertexCount() == 0 && block->FaceCount() == 0);
    sink = total;
    return 0;
}

// Material blocks: the first input byte picks the tag (MATE, MAT2, MAT3, MAT4), the rest is the
// payload. Decodes the table and reads every field of every record, and of indices around it.
#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode/material_block.h"
#include "fuzz_support.h"

using namespace morvex;

namespace {

volatile std::size_t sink;

template <class T>
void Run(std::string_view tag, const std::uint8_t* payload, std::size_t size) {
    fuzz::ExactCopy file = fuzz::SingleBlock(tag, payload, size);
    T block;
    fuzz::Require(block.ReadHeader(file.View(), 0, 0, "fuzz") >= 0);
    const std::int32_t count = block.Count();
    if (block.Decode() != 0) {
        fuzz::Require(!block.IsDecoded() && block.TableSize() == 0);
        return;
    }
    const auto records = static_cast<std::int64_t>(block.TableSize() / kMaterialRecordSize);
    // Every record and the indices around the table, the count and the extremes; the count is
    // not walked up to (it may be 2^31 over a table of one record).
    std::vector<std::int64_t> indices = {INT32_MIN, -2,          -1,       count - 1LL,
                                         count,     count + 1LL, INT32_MAX};
    for (std::int64_t i = 0; i <= records + 1; ++i) indices.push_back(i);
    std::size_t total = 0;
    for (std::int64_t i : indices) {
        if (i < INT32_MIN || i > INT32_MAX) continue;
        const auto k = static_cast<std::int32_t>(i);
        fuzz::Require(block.HasRecord(k) == (i >= 0 && i < records));
        for (std::string_view text :
             {block.MaterialAt(k), block.TextureNameAt(k), block.AlphaMapNameAt(k)}) {
            fuzz::Require(text.size() < 64 || (text.size() == 64 && block.HasRecord(k)));
            for (char c : text) total += static_cast<unsigned char>(c);
        }
        total += block.HasTexture(k) + block.HasAlphaMap(k);
        float power = block.PowerAt(k);
        total += static_cast<std::size_t>(power == power);
    }
    sink = total;
    block.Release();
    fuzz::Require(!block.IsDecoded() && block.TableSize() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    switch (data[0] & 3) {
        case 0:
            Run<MateBlock>("MATE", data + 1, size - 1);
            break;
        case 1:
            Run<Mat2Block>("MAT2", data + 1, size - 1);
            break;
        case 2:
            Run<Mat3Block>("MAT3", data + 1, size - 1);
            break;
        default:
            Run<Mat4Block>("MAT4", data + 1, size - 1);
            break;
    }
    return 0;
}

// The decompressor on any stream: destination size, source size and source limit come from the
// first bytes of the input, the stream is the rest. AddressSanitizer checks every read and write
// against exact-size buffers; the target checks the documented results: a rejected stream leaves
// the destination untouched, bytes past the produced count are 0, a second decode gives the same
// bytes, and a longer destination (which takes the fast path further) gives the same prefix.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "decode/decompress.h"
#include "fuzz_support.h"

using namespace morvex;

namespace {

constexpr std::size_t kHeader = 8;
constexpr std::uint8_t kUntouched = 0xA5;

std::int32_t Decode(std::size_t destSize, Bytes source, std::int32_t sourceSize,
                    std::vector<std::uint8_t>& result) {
    fuzz::ExactCopy dest(std::vector<std::uint8_t>(destSize, kUntouched).data(), destSize);
    std::int32_t produced = Decompress(MutableBytes(dest.Data(), destSize), source, sourceSize);
    result.assign(dest.Data(), dest.Data() + destSize);
    return produced;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeader) return 0;
    // Bytes 0..2: destination size (16 bits shifted left by 0 to 3); 3..4: how many stream bytes
    // lie beyond the source limit; 5: how the source size is chosen; 6..7: its offset from the
    // limit.
    const std::size_t destSize = static_cast<std::size_t>(LoadU16(data)) << (data[2] & 3);
    const std::size_t stream = size - kHeader;
    const std::size_t cut = std::min<std::size_t>(LoadU16(data + 3), stream);
    const std::size_t limit = stream - cut;
    const auto offset = static_cast<std::int16_t>(LoadU16(data + 6));
    std::int32_t sourceSize;
    switch (data[5] & 3) {
        case 0:  // as a chunk would give it: the stream plus the spare bytes
            sourceSize = static_cast<std::int32_t>(limit);
            break;
        case 1:
            sourceSize = static_cast<std::int32_t>(limit) + offset;
            break;
        case 2:
            sourceSize = offset;
            break;
        default:
            sourceSize = data[5] & 4 ? INT32_MAX : -1;
            break;
    }
    fuzz::ExactCopy source(data + kHeader, limit);

    std::vector<std::uint8_t> first, second, longer;
    const std::int32_t produced = Decode(destSize, source.View(), sourceSize, first);
    fuzz::Require(produced >= -1 && produced <= static_cast<std::int64_t>(destSize));
    if (produced < 0) {
        fuzz::Require(std::all_of(first.begin(), first.end(),
                                  [](std::uint8_t b) { return b == kUntouched; }));
        return 0;
    }
    fuzz::Require(
        std::all_of(first.begin() + produced, first.end(), [](std::uint8_t b) { return b == 0; }));
    fuzz::Require(Decode(destSize, source.View(), sourceSize, second) == produced);
    fuzz::Require(first == second);

    const std::size_t longerSize = destSize + 4200 + data[5];
    const std::int32_t more = Decode(longerSize, source.View(), sourceSize, longer);
    fuzz::Require(more >= produced);
    fuzz::Require(std::equal(first.begin(), first.begin() + produced, longer.begin()));
    return 0;
}

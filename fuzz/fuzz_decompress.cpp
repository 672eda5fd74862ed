// The decompressor on any stream: destination size, source size and source limit come from the
// first bytes of the input, the stream is the rest. AddressSanitizer checks every read and write
// against exact-size buffers; the target checks the documented results: a rejected stream leaves
// the destination untouched, bytes past the produced count are 0, a second decode gives the same
// bytes, a longer destination (which takes the fast path further) gives the same prefix, and
// reading the output in pieces through a StreamReader gives the same bytes.
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

// A destination of exactly `size` bytes filled with kUntouched, decoded into.
struct Decoded {
    Decoded(std::size_t size, Bytes source, std::int32_t sourceSize)
        : dest(std::vector<std::uint8_t>(size, kUntouched).data(), size),
          produced(Decompress(MutableBytes(dest.Data(), size), source, sourceSize)) {}
    fuzz::ExactCopy dest;
    std::int32_t produced;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeader) return 0;
    // Bytes 0..2: destination size (16 bits shifted left by 0 to 3); 3..4: how many stream bytes
    // lie beyond the source limit; 5: how the source size is chosen; 6..7: its offset from the
    // limit.
    const std::size_t stream = size - kHeader;
    const std::size_t cut = std::min<std::size_t>(LoadU16(data + 3), stream);
    const std::size_t limit = stream - cut;
    // No chunk unpacks to more than its stream could produce (ReadPackedChunk refuses it), so a
    // larger destination only adds zeros to fill: it is cut to that.
    const std::size_t destSize =
        std::min<std::size_t>(static_cast<std::size_t>(LoadU16(data)) << (data[2] & 3),
                              static_cast<std::size_t>(MaxExpansion(limit)));
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

    const Decoded first(destSize, source.View(), sourceSize);
    const std::int32_t produced = first.produced;
    const std::uint8_t* bytes = first.dest.View().data();
    fuzz::Require(produced >= -1 && produced <= static_cast<std::int64_t>(destSize));

    // The same output read front to back in pieces through a StreamReader (zeros for a rejected
    // stream), with one step back now and then.
    {
        StreamReader reader(source.View(), sourceSize, destSize);
        // At most about 64 pieces: more only slow the target down.
        const std::size_t step = std::max<std::size_t>(
            1 + (static_cast<std::size_t>(data[6]) << (data[7] & 15)), destSize / 64 + 1);
        std::vector<std::uint8_t> piece;
        for (std::size_t at = 0; at < destSize;) {
            const std::size_t n = std::min(step, destSize - at);
            piece.assign(n, kUntouched);
            reader.Read(at, MutableBytes(piece.data(), n));
            for (std::size_t k = 0; k < n; ++k) {
                fuzz::Require(piece[k] == (produced < 0 ? 0 : bytes[at + k]));
            }
            at += n;
            if ((at / n) % 7 == 3 && at > 9000) {
                piece.assign(100, kUntouched);
                reader.Read(at - 9000, MutableBytes(piece.data(), 100));
                for (std::size_t k = 0; k < 100; ++k) {
                    fuzz::Require(piece[k] == (produced < 0 ? 0 : bytes[at - 9000 + k]));
                }
            }
        }
    }

    if (produced < 0) {
        fuzz::Require(
            std::all_of(bytes, bytes + destSize, [](std::uint8_t b) { return b == kUntouched; }));
        return 0;
    }
    fuzz::Require(
        std::all_of(bytes + produced, bytes + destSize, [](std::uint8_t b) { return b == 0; }));
    const Decoded second(destSize, source.View(), sourceSize);
    fuzz::Require(second.produced == produced);
    fuzz::Require(destSize == 0 || std::memcmp(second.dest.View().data(), bytes, destSize) == 0);

    const Decoded longer(destSize + 4200 + data[5], source.View(), sourceSize);
    fuzz::Require(longer.produced >= produced);
    fuzz::Require(produced == 0 || std::memcmp(longer.dest.View().data(), bytes,
                                               static_cast<std::size_t>(produced)) == 0);
    return 0;
}

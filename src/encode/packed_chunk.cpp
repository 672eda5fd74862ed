#include "encode/packed_chunk.h"

#include <algorithm>

namespace morvex {
namespace {

// The chunk header in front of the stream: packedSize, unpackedSize and the unused word.
constexpr std::uint64_t kChunkHeader = 12;
// A stream that ends in an empty segment: its header (length 4, flag 0, control byte 0) and
// terminator 0.
constexpr std::uint8_t kEmptyLastSegment[] = {4, 0, 0, 0, 0};

// The largest stream position the reader compares with the source size. Inside a token it
// compares the position behind the bytes read so far (before a match's length code), which for
// the last token of the stream can be the terminator's position; a last segment that is empty
// is compared at its start, and its tokens are those of the segment before.
std::uint64_t LastCheckedPosition(Bytes stream) {
    const std::size_t n = stream.size();
    if (n >= 5 && std::equal(stream.end() - 5, stream.end(), std::begin(kEmptyLastSegment))) {
        return n - 5;
    }
    return n >= 1 ? n - 1 : 0;
}

}  // namespace

void AppendPackedStream(std::vector<std::uint8_t>& out, Bytes stream, std::uint32_t unpackedSize,
                        std::int64_t sizeAdjust) {
    // The source size, packedSize - sizeAdjust, must reach the last checked position; packedSize
    // counts the 8 header bytes behind it, the stream and the padding.
    const auto adjust = static_cast<std::uint64_t>(sizeAdjust);
    const std::uint64_t least = LastCheckedPosition(stream) + adjust;
    const std::uint64_t packedSize =
        std::max<std::uint64_t>(kChunkHeader - 4 + stream.size(), least);
    const std::uint64_t padding = packedSize - (kChunkHeader - 4) - stream.size();
    const std::size_t start = out.size();
    out.resize(start + kChunkHeader);
    StoreU32(out.data() + start, static_cast<std::uint32_t>(packedSize));
    StoreU32(out.data() + start + 4, unpackedSize);
    StoreU32(out.data() + start + 8, 0);
    out.insert(out.end(), stream.begin(), stream.end());
    out.resize(out.size() + padding, 0);
}

bool AppendPackedChunk(std::vector<std::uint8_t>& out, Bytes raw, std::int64_t sizeAdjust,
                       const CompressOptions& options) {
    if (raw.size() > kMaxChunkData) return false;
    const std::vector<std::uint8_t> stream = Compress(raw, options);
    AppendPackedStream(out, stream, static_cast<std::uint32_t>(raw.size()), sizeAdjust);
    return true;
}

}  // namespace morvex

// The it3 dictionary decompressor and the packed chunks that carry its streams.
//
// A compressed stream is a run of segments: a 16-bit segment length, a flag byte (0), a first
// control byte and a body of literals, near matches (distance up to 255), far matches (256 to
// 8191) and runs, with 16-bit control words interleaved where the decoder needs more bits. A
// terminator byte after each segment says whether another segment follows.
//
// Safe for untrusted input: may produce garbage from garbage, never reads outside the source or
// writes outside the destination.
#pragma once

#include <cstdint>
#include <vector>

#include "it3/byte_buffer.h"
#include "it3/byte_reader.h"

namespace morvex {

// Expands the stream in `source` into `dest`. `source.size()` is the source limit: no byte at or
// beyond it is read. `sourceSize` is the size the caller derives from the chunk; tokens and
// segments only start at stream positions not above it.
//
// Returns the number of bytes produced, or -1 (dest untouched) when the flag byte of the first
// segment is not 0. Otherwise the whole of dest is zero-filled first, so bytes the stream does
// not produce stay 0. A source limit below 4 holds no segment header: 0 is returned.
std::int32_t Decompress(MutableBytes dest, Bytes source, std::int32_t sourceSize);

// The largest number of bytes any stream of `streamBytes` bytes can expand to (a run token of
// 4109 bytes costs at least 4.5 stream bytes).
std::uint64_t MaxExpansion(std::uint64_t streamBytes);

// A packed chunk: packedSize (u32), unpackedSize (u32), a word that is not read, the stream.
// The chunk occupies 4 + packedSize bytes.
struct PackedChunk {
    std::uint32_t packedSize = 0;
    std::uint32_t unpackedSize = 0;
    Bytes stream;  // from chunk offset 12 to the source limit
    std::int32_t sourceSize = 0;
    std::uint64_t end = 0;  // offset behind the chunk: start + 4 + packedSize
};

// How a caller derives the source size from packedSize: material and vertex chunks use
// packedSize - 16, texture chunks packedSize - 12.
inline constexpr std::int64_t kGeometrySizeAdjust = 16;
inline constexpr std::int64_t kTextureSizeAdjust = 12;

// Locates the packed chunk at `offset` of `payload`. Its 12 header bytes must lie inside the
// payload; the stream runs to the end of the chunk or of the payload, whichever comes first.
// Fails when the header is outside the payload or when unpackedSize exceeds what the stream
// could ever produce.
[[nodiscard]] bool ReadPackedChunk(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust,
                                   PackedChunk& chunk);

// Decodes a located chunk into `out` (resized to unpackedSize); a short or rejected stream leaves
// zeros. Returns how many bytes the stream produced (0 for a rejected one). Throws
// std::bad_alloc when memory for the result cannot be obtained: the decoders handle that in one
// place per block or texture.
std::uint64_t UnpackChunk(const PackedChunk& chunk, std::vector<std::uint8_t>& out);
// The same into a buffer whose storage is reused when it is large enough and never zero-filled
// beforehand: the decoder writes every byte (the ones the stream does not produce as 0).
void UnpackChunk(const PackedChunk& chunk, ByteBuffer& out);

// ReadPackedChunk followed by UnpackChunk; false when the chunk cannot be located.
[[nodiscard]] bool UnpackChunkAt(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust,
                                 std::vector<std::uint8_t>& out, PackedChunk* located = nullptr);
[[nodiscard]] bool UnpackChunkAt(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust,
                                 ByteBuffer& out, PackedChunk* located = nullptr);

}  // namespace morvex

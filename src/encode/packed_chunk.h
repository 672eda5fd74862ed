// Writing packed chunks: the wrapper of every compressed stream in a block payload.
//
// A packed chunk is packedSize (u32), unpackedSize (u32), a word the readers do not use (written
// as 0), the compressed stream, and zero bytes behind it. The chunk occupies 4 + packedSize
// bytes. A reader hands the decompressor the source size packedSize - 16 (material and vertex
// chunks) or packedSize - 12 (texture chunks) and starts no token or segment beyond it, so the
// chunk carries as many bytes behind the stream as that source size needs to cover the stream's
// last token start.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/decompress.h"
#include "encode/compress.h"
#include "it3/byte_reader.h"

namespace morvex {

// The most bytes a chunk's data may hold: its unpackedSize and packedSize are 32-bit, and block
// payloads stay below 2 GiB.
inline constexpr std::uint64_t kMaxChunkData = 0x7FFF0000u;

// Appends a packed chunk holding `raw` to `out`. `sizeAdjust` is how its reader derives the
// source size (kGeometrySizeAdjust or kTextureSizeAdjust of decode/decompress.h). Returns false,
// `out` unchanged, when `raw` is longer than kMaxChunkData. std::bad_alloc passes through.
[[nodiscard]] bool AppendPackedChunk(std::vector<std::uint8_t>& out, Bytes raw,
                                     std::int64_t sizeAdjust, const CompressOptions& options = {});

// The same around a stream compressed already that expands to `unpackedSize` bytes.
void AppendPackedStream(std::vector<std::uint8_t>& out, Bytes stream, std::uint32_t unpackedSize,
                        std::int64_t sizeAdjust);

}  // namespace morvex

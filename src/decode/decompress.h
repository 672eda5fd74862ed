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
#include <memory>
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
// The same into `out`, which holds unpackedSize bytes (or fewer: the stream is cut there).
void UnpackChunk(const PackedChunk& chunk, MutableBytes out);

class StreamDecoder;

// The output of one stream, read in pieces without holding all of it: what Decompress into a
// destination of `size` bytes would write (the bytes the stream does not produce, and those of a
// rejected stream, read as 0). The reader decodes into a window of about 270 KiB that keeps the
// last 8 KiB behind its position (the farthest a back reference reaches), so reading the output
// front to back costs one decoding of the stream and no more memory than the window. A read that
// starts before the bytes the window still holds decodes again from the start.
//
// The source bytes must outlive the reader.
class StreamReader {
  public:
    StreamReader();  // an empty output
    StreamReader(Bytes source, std::int32_t sourceSize, std::uint64_t size);
    explicit StreamReader(const PackedChunk& chunk);
    ~StreamReader();
    StreamReader(StreamReader&&) noexcept;
    StreamReader& operator=(StreamReader&&) noexcept;

    // Copies output bytes [offset, offset + dest.size()) into dest; positions at or beyond the
    // size read as 0. Throws std::bad_alloc when the window cannot be had.
    void Read(std::uint64_t offset, MutableBytes dest);

  private:
    void Restart();
    void GiveBackWindow() noexcept;

    Bytes source_;
    std::int32_t sourceSize_ = 0;
    std::uint64_t size_ = 0;
    ByteBuffer window_;
    std::unique_ptr<StreamDecoder> decoder_;
    std::uint64_t base_ = 0;  // the output position of the window's first byte
    bool ended_ = false;
};

// ReadPackedChunk followed by UnpackChunk; false when the chunk cannot be located.
[[nodiscard]] bool UnpackChunkAt(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust,
                                 std::vector<std::uint8_t>& out, PackedChunk* located = nullptr);
[[nodiscard]] bool UnpackChunkAt(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust,
                                 ByteBuffer& out, PackedChunk* located = nullptr);

}  // namespace morvex

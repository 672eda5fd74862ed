// The binary glTF container: a 12-byte header ("glTF", version 2, total length), a JSON chunk
// padded with blanks to a multiple of 4 bytes and, when there is binary data, one BIN chunk
// padded with zeros. Every length is 32-bit, so a file cannot exceed 4 GiB.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "it3/byte_buffer.h"
#include "it3/byte_reader.h"
#include "it3/result.h"

namespace morvex {

inline constexpr std::uint64_t kMaxGlbSize = UINT32_MAX;

// Memory handed out in order from whole huge pages (ByteBuffers of 2 MiB, one page fault each
// to fill instead of 512): the BIN chunk and the JSON arrays of a glTF document take their
// blocks from one arena, so that only its last page is left partly used.
class BlockArena {
  public:
    static constexpr std::size_t kPage = std::size_t{2} << 20;

    // The next `most` bytes of the current page, or fewer when the page has fewer left; a new
    // page when it has none. Throws std::bad_alloc when there is no memory.
    MutableBytes Take(std::size_t most);

  private:
    std::vector<ByteBuffer> pages_;
    std::size_t used_ = kPage;  // bytes of the last page handed out
};

// Bytes appended in blocks: growing never copies what is held. The first block is 64 KiB from
// the heap, so that a small chunk holds little more than its bytes; the later ones come from
// `arena` (at most `arenaBlock` bytes each), or from the heap, 64 KiB each, without one.
class BinaryChunk {
  public:
    static constexpr std::size_t kFirstBlock = std::size_t{64} << 10;
    // A block from the arena: small enough that the last one, partly used, wastes little of
    // the page it shares with the other texts, large enough to be written out in one go.
    static constexpr std::size_t kArenaBlock = std::size_t{256} << 10;

    explicit BinaryChunk(BlockArena* arena = nullptr, std::size_t arenaBlock = kArenaBlock)
        : arena_(arena), arenaBlock_(arenaBlock) {}

    void Append(const std::uint8_t* data, std::size_t length);
    void AppendZeros(std::size_t length);
    std::uint64_t Size() const { return size_; }
    // The blocks' bytes in order.
    template <class Each>
    void ForEachBlock(Each&& each) const {
        for (const Block& block : blocks_) each(Bytes(block.bytes.data(), block.used));
    }

  private:
    struct Block {
        ByteBuffer owned;  // empty for a block from the arena
        MutableBytes bytes;
        std::size_t used = 0;
    };
    std::vector<Block> blocks_;
    std::uint64_t size_ = 0;
    BlockArena* arena_;
    std::size_t arenaBlock_;
};

// Little-endian values written into a BinaryChunk a few at a time through a small staging area,
// so that no copy of a whole attribute array is held beside the chunk.
class ViewWriter {
  public:
    explicit ViewWriter(BinaryChunk& chunk) : chunk_(chunk) {}
    ~ViewWriter() { Flush(); }
    ViewWriter(const ViewWriter&) = delete;
    ViewWriter& operator=(const ViewWriter&) = delete;

    void Float(float value);
    void U16(std::uint32_t value);
    void U32(std::uint32_t value);
    void Raw(Bytes bytes);

  private:
    void Put(const std::uint8_t* bytes, std::size_t n) {
        if (used_ + n > sizeof staging_) Flush();
        std::memcpy(staging_ + used_, bytes, n);
        used_ += n;
    }
    void Flush();

    BinaryChunk& chunk_;
    std::uint8_t staging_[4096];
    std::size_t used_ = 0;
};

// What goes around a JSON text of `jsonSize` bytes and a BIN chunk of `binarySize` bytes (a
// multiple of 4): `head` is the file header and the JSON chunk header, `tail` the JSON padding
// and the BIN chunk header (no BIN chunk when binarySize is 0). TooLarge when the file would
// exceed kMaxGlbSize.
struct GlbFrame {
    std::string head;
    std::string tail;
};
[[nodiscard]] Outcome FrameGlb(std::uint64_t jsonSize, std::uint64_t binarySize, GlbFrame& frame);

}  // namespace morvex

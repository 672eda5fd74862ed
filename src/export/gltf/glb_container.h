// The binary glTF container: a 12-byte header ("glTF", version 2, total length), a JSON chunk
// padded with blanks to a multiple of 4 bytes and, when there is binary data, one BIN chunk
// padded with zeros. Every length is 32-bit, so a file cannot exceed 4 GiB.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
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
    // Sets the next `length` bytes aside without writing them and puts where they lie into
    // `parts` (one span per block they touch). Their memory stays in place while the chunk goes
    // on growing, so they may be written later, on another thread, while more is appended.
    void Reserve(std::size_t length, std::vector<MutableBytes>& parts);
    // Leaves a place after the bytes held so far for bytes that come later (Fill); what is
    // appended afterwards follows them. Size() counts them once they are filled. Returns the
    // place.
    std::size_t AppendLater();
    // Puts `bytes` and `zeros` zero bytes (at most 3) in the place AppendLater left.
    void Fill(std::size_t place, std::vector<std::uint8_t> bytes, std::size_t zeros);
    std::uint64_t Size() const { return size_; }
    // The blocks' bytes in order.
    template <class Each>
    void ForEachBlock(Each&& each) const {
        static constexpr std::uint8_t kZeros[3] = {};
        for (const Block& block : blocks_) {
            each(Bytes(block.bytes.data(), block.used));
            if (block.zeros > 0) each(Bytes(kZeros, block.zeros));
        }
    }

  private:
    struct Block {
        ByteBuffer owned;                 // empty for a block from the arena
        std::vector<std::uint8_t> later;  // the bytes of a place left for later
        MutableBytes bytes;
        std::size_t used = 0;
        std::size_t zeros = 0;  // zero bytes after the bytes of a place left for later
    };
    // The block the next bytes go into, with room in it.
    Block& Open();
    std::vector<Block> blocks_;
    std::uint64_t size_ = 0;
    BlockArena* arena_;
    std::size_t arenaBlock_;
};

// Little-endian values written into bytes a BinaryChunk set aside (Reserve): the parts, in
// order, are filled one after another. Whatever of them is left when the writer goes is set to
// zero (a view's padding). Writes beyond the parts are dropped.
class ViewWriter {
  public:
    explicit ViewWriter(std::span<const MutableBytes> parts) : parts_(parts) { NextPart(); }
    ~ViewWriter();
    ViewWriter(const ViewWriter&) = delete;
    ViewWriter& operator=(const ViewWriter&) = delete;

    void Float(float value) { U32(std::bit_cast<std::uint32_t>(value)); }
    void U16(std::uint32_t value) { Put<2>(value); }
    void U32(std::uint32_t value) { Put<4>(value); }
    void Raw(Bytes bytes);

  private:
    // A little-endian value of N bytes (2 or 4).
    template <std::size_t N>
    void Put(std::uint32_t value) {
        std::uint8_t bytes[N];
        if constexpr (N == 2) {
            StoreU16(bytes, value);
        } else {
            StoreU32(bytes, value);
        }
        if (end_ - at_ >= static_cast<std::ptrdiff_t>(N)) [[likely]] {
            std::memcpy(at_, bytes, N);
            at_ += N;
            return;
        }
        Raw(Bytes(bytes, N));
    }
    // Moves on to the next part with room; at_ == end_ when there is none.
    void NextPart();

    std::span<const MutableBytes> parts_;
    std::size_t next_ = 0;  // the part after the current one
    std::uint8_t* at_ = nullptr;
    std::uint8_t* end_ = nullptr;
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

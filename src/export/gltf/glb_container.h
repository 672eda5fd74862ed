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

// Bytes appended in blocks: growing never copies what is held. The first block is 64 KiB from
// the heap, so that a small chunk holds little more than its bytes; each next one is twice the
// one before, up to whole huge pages (2 MiB, one page fault each to fill instead of 512).
class BinaryChunk {
  public:
    static constexpr std::size_t kFirstBlock = std::size_t{64} << 10;
    static constexpr std::size_t kLargestBlock = std::size_t{2} << 20;

    void Append(const std::uint8_t* data, std::size_t length);
    void AppendZeros(std::size_t length);
    // Appends `bytes` without copying them: they become a block of their own, and what is
    // appended after them goes into a new one.
    void Adopt(std::vector<std::uint8_t> bytes);
    // Sets the next `length` bytes aside without writing them and puts where they lie into
    // `parts` (one span per block they touch). Their memory stays in place while the chunk goes
    // on growing, so they may be written later, on another thread, while more is appended.
    void Reserve(std::size_t length, std::vector<MutableBytes>& parts);
    std::uint64_t Size() const { return size_; }
    // The blocks' bytes in order.
    template <class Each>
    void ForEachBlock(Each&& each) const {
        for (const Block& block : blocks_) {
            each(Bytes(block.adopted.empty() ? block.bytes.data() : block.adopted.data(),
                       block.used));
        }
    }

  private:
    struct Block {
        ByteBuffer bytes;
        std::vector<std::uint8_t> adopted;  // the bytes of an adopted block (bytes empty)
        std::size_t used = 0;
    };
    // The block the next bytes go into, with room in it.
    Block& Open();
    std::vector<Block> blocks_;
    std::uint64_t size_ = 0;
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

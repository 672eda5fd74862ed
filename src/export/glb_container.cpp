#include "export/glb_container.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace morvex {
namespace {

constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kGlbVersion = 2;
constexpr std::uint32_t kChunkJson = 0x4E4F534A;  // "JSON"
constexpr std::uint32_t kChunkBin = 0x004E4942;   // "BIN\0"
constexpr std::uint64_t kFileHeaderSize = 12;
constexpr std::uint64_t kChunkHeaderSize = 8;

void AppendU32(std::string& out, std::uint32_t value) {
    std::uint8_t bytes[4];
    StoreU32(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

}  // namespace

MutableBytes BlockArena::Take(std::size_t most) {
    if (used_ == kPage) {
        pages_.emplace_back(kPage);
        used_ = 0;
    }
    const std::size_t n = std::min(most, kPage - used_);
    const MutableBytes taken(pages_.back().data() + used_, n);
    used_ += n;
    return taken;
}

void BinaryChunk::Append(const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        if (blocks_.empty() || blocks_.back().used == blocks_.back().bytes.size()) {
            Block block;
            if (blocks_.empty() || arena_ == nullptr) {
                block.owned = ByteBuffer(kFirstBlock);
                block.bytes = MutableBytes(block.owned);
            } else {
                block.bytes = arena_->Take(arenaBlock_);
            }
            blocks_.push_back(std::move(block));
        }
        Block& block = blocks_.back();
        const std::size_t n = std::min(length, block.bytes.size() - block.used);
        std::memcpy(block.bytes.data() + block.used, data, n);
        block.used += n;
        size_ += n;
        data += n;
        length -= n;
    }
}

void BinaryChunk::AppendZeros(std::size_t length) {
    static constexpr std::uint8_t kZeros[4] = {};
    while (length > 0) {
        const std::size_t n = std::min(length, sizeof kZeros);
        Append(kZeros, n);
        length -= n;
    }
}

void ViewWriter::Float(float value) {
    std::uint8_t bytes[4];
    StoreU32(bytes, std::bit_cast<std::uint32_t>(value));
    Put(bytes, 4);
}

void ViewWriter::U16(std::uint32_t value) {
    std::uint8_t bytes[2];
    StoreU16(bytes, value);
    Put(bytes, 2);
}

void ViewWriter::U32(std::uint32_t value) {
    std::uint8_t bytes[4];
    StoreU32(bytes, value);
    Put(bytes, 4);
}

void ViewWriter::Raw(Bytes bytes) {
    Flush();
    chunk_.Append(bytes.data(), bytes.size());
}

void ViewWriter::Flush() {
    chunk_.Append(staging_, used_);
    used_ = 0;
}

Outcome FrameGlb(std::uint64_t jsonSize, std::uint64_t binarySize, GlbFrame& frame) {
    const std::uint64_t padding = (4 - jsonSize % 4) % 4;
    const std::uint64_t paddedJson = jsonSize + padding;
    const std::uint64_t total = kFileHeaderSize + kChunkHeaderSize + paddedJson +
                                (binarySize > 0 ? kChunkHeaderSize + binarySize : 0);
    if (total > kMaxGlbSize) return Outcome::TooLarge;
    frame.head.clear();
    AppendU32(frame.head, kGlbMagic);
    AppendU32(frame.head, kGlbVersion);
    AppendU32(frame.head, static_cast<std::uint32_t>(total));
    AppendU32(frame.head, static_cast<std::uint32_t>(paddedJson));
    AppendU32(frame.head, kChunkJson);
    frame.tail.assign(padding, ' ');
    if (binarySize > 0) {
        AppendU32(frame.tail, static_cast<std::uint32_t>(binarySize));
        AppendU32(frame.tail, kChunkBin);
    }
    return Outcome::Ok;
}

}  // namespace morvex

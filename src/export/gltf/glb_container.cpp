#include "export/gltf/glb_container.h"

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

BinaryChunk::Block& BinaryChunk::Open() {
    if (blocks_.empty() || !blocks_.back().adopted.empty() ||
        blocks_.back().used == blocks_.back().bytes.size()) {
        std::size_t size = kFirstBlock;
        if (!blocks_.empty()) {
            size = std::max(kFirstBlock, 2 * blocks_.back().bytes.size());
            // A block of 1 MiB or more is a mapping of whole huge pages: it may as well be one.
            if (size >= (std::size_t{1} << 20)) size = kLargestBlock;
        }
        blocks_.emplace_back().bytes = ByteBuffer(size);
    }
    return blocks_.back();
}

void BinaryChunk::Append(const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        Block& block = Open();
        const std::size_t n = std::min(length, block.bytes.size() - block.used);
        std::memcpy(block.bytes.data() + block.used, data, n);
        block.used += n;
        size_ += n;
        data += n;
        length -= n;
    }
}

void BinaryChunk::Adopt(std::vector<std::uint8_t> bytes) {
    if (bytes.empty()) return;
    Block& block = blocks_.emplace_back();
    block.used = bytes.size();
    block.adopted = std::move(bytes);
    size_ += block.used;
}

void BinaryChunk::AppendZeros(std::size_t length) {
    static constexpr std::uint8_t kZeros[4] = {};
    while (length > 0) {
        const std::size_t n = std::min(length, sizeof kZeros);
        Append(kZeros, n);
        length -= n;
    }
}

void BinaryChunk::Reserve(std::size_t length, std::vector<MutableBytes>& parts) {
    parts.clear();
    while (length > 0) {
        Block& block = Open();
        const std::size_t n = std::min(length, block.bytes.size() - block.used);
        parts.push_back(MutableBytes(block.bytes).subspan(block.used, n));
        block.used += n;
        size_ += n;
        length -= n;
    }
}

ViewWriter::~ViewWriter() {
    for (;;) {
        std::fill(at_, end_, std::uint8_t{0});
        at_ = end_;
        if (next_ >= parts_.size()) return;
        NextPart();
    }
}

void ViewWriter::NextPart() {
    while (next_ < parts_.size()) {
        const MutableBytes part = parts_[next_++];
        if (part.empty()) continue;
        at_ = part.data();
        end_ = part.data() + part.size();
        return;
    }
    at_ = end_;
}

void ViewWriter::Raw(Bytes bytes) {
    while (!bytes.empty()) {
        if (at_ == end_) {
            if (next_ >= parts_.size()) return;  // beyond the parts
            NextPart();
            continue;
        }
        const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(end_ - at_));
        std::memcpy(at_, bytes.data(), n);
        at_ += n;
        bytes = bytes.subspan(n);
    }
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

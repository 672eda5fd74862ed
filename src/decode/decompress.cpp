#include "decode/decompress.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace morvex {
namespace {

// One decoding run. Reads are checked against the source limit; a read that would reach it
// ends decoding (the `stopped` flag), keeping what was produced.
class StreamDecoder {
public:
    StreamDecoder(MutableBytes dest, Bytes source, std::int32_t sourceSize)
        : out_(dest.data()),
          outSize_(static_cast<std::int64_t>(dest.size())),
          src_(source.data()),
          limit_(static_cast<std::int64_t>(source.size())),
          sourceSize_(sourceSize) {}

    std::int32_t Run() {
        std::int32_t segment = 0;
        std::uint32_t previous = 0;
        for (;;) {
            if (i_ >= outSize_ || j_ > sourceSize_) break;
            if (limit_ - j_ < 4) break;
            std::int64_t length = LoadU16(src_ + j_);
            std::uint8_t flag = src_[j_ + 2];
            bits_ = src_[j_ + 3];
            count_ = 8;
            j_ += 4;
            if (flag != 0) break;
            body_ = length - 4;
            used_ = 0;
            while (used_ < body_) {
                if (i_ >= outSize_ || j_ > sourceSize_) return Result();
                if (!Token()) return Result();
            }
            if (j_ >= limit_) break;
            std::uint32_t t = src_[j_++];
            if (segment >= 2 && t > previous) t = 0;
            if (segment == 0 && t == 0) t = 255;
            previous = t;
            ++segment;
            if (t == 0) break;
        }
        return Result();
    }

private:
    std::int32_t Result() const { return static_cast<std::int32_t>(i_); }

    // load(k): append the next 16-bit control word when fewer than k bits are held.
    bool Load(int k) {
        if (count_ >= k) return true;
        if (limit_ - j_ < 2) return false;
        bits_ |= static_cast<std::uint32_t>(LoadU16(src_ + j_)) << count_;
        count_ += 16;
        j_ += 2;
        used_ += 2;
        return true;
    }
    std::uint32_t Bit() {
        std::uint32_t b = bits_ & 1u;
        bits_ >>= 1;
        --count_;
        return b;
    }
    std::uint32_t Field(int k) {
        std::uint32_t v = 0;
        for (int n = 0; n < k; ++n) v = (v << 1) | Bit();
        return v;
    }
    bool Byte(std::uint32_t& v) {
        if (j_ >= limit_) return false;
        v = src_[j_++];
        ++used_;
        return true;
    }

    // The length code of a match: 1 -> 2, 01 -> 3, 001 -> 4, 0001 -> 5, 00001vvv -> 6..13,
    // 00000 + byte -> 14..269. A 0 bit read while j is beyond the source size cuts the code.
    bool Length(std::int64_t& length) {
        std::int64_t n = 2;
        for (int k = 0; k < 4; ++k) {
            if (Bit()) {
                length = n;
                return true;
            }
            if (j_ > sourceSize_) {
                length = n;
                return true;
            }
            ++n;
            if (!Load(1)) return false;
        }
        if (Bit() == 0) {
            std::uint32_t b;
            if (!Byte(b)) return false;
            length = static_cast<std::int64_t>(b) + 14;
        } else {
            if (!Load(3)) return false;
            length = static_cast<std::int64_t>(Field(3)) + 6;
        }
        return true;
    }

    // Copies `length` bytes from `distance` back, one at a time so that overlapping copies
    // repeat the pattern. Positions before the start of the destination read as 0.
    bool Copy(std::int64_t distance, std::int64_t length) {
        std::int64_t n = std::min(length, outSize_ - i_);
        std::int64_t from = i_ - distance;
        if (from >= 0 && distance >= n) {
            std::memcpy(out_ + i_, out_ + from, static_cast<std::size_t>(n));
            i_ += n;
        } else {
            for (std::int64_t k = 0; k < n; ++k, ++from) out_[i_++] = from >= 0 ? out_[from] : 0;
        }
        return n == length;
    }
    bool Fill(std::uint8_t value, std::int64_t length) {
        std::int64_t n = std::min(length, outSize_ - i_);
        std::memset(out_ + i_, value, static_cast<std::size_t>(n));
        i_ += n;
        return n == length;
    }

    // Decodes one token; false ends decoding.
    bool Token() {
        if (!Load(1)) return false;
        if (Bit() == 0) {
            std::uint32_t b;
            if (!Byte(b)) return false;
            out_[i_++] = static_cast<std::uint8_t>(b);
            return true;
        }
        if (!Load(1)) return false;
        if (Bit() == 0) {
            std::uint32_t c;
            if (!Byte(c)) return false;
            std::int64_t length = 0;
            if (j_ <= sourceSize_) {
                if (!Load(1) || !Length(length)) return false;
            }
            return Copy(c, length);
        }
        if (!Load(5)) return false;
        std::uint32_t c;
        if (!Byte(c)) return false;
        std::uint32_t h = Field(5);
        if (h != 0) {
            std::int64_t length = 0;
            if (!Load(2) || !Length(length)) return false;
            return Copy(static_cast<std::int64_t>(h) * 256 + c, length);
        }
        if (used_ >= body_) return true;  // a run marker as the last body byte ends the segment
        if (!Load(5)) return false;
        std::uint32_t t;
        if (!Byte(t)) return false;
        std::uint32_t f = Bit();
        std::uint32_t r = Field(4);
        if (f == 0) return Fill(static_cast<std::uint8_t>(t), static_cast<std::int64_t>(r) + 14);
        std::uint32_t value;
        if (!Byte(value)) return false;
        return Fill(static_cast<std::uint8_t>(value), static_cast<std::int64_t>(r) * 256 + t + 14);
    }

    std::uint8_t* out_;
    std::int64_t outSize_;
    const std::uint8_t* src_;
    std::int64_t limit_;
    std::int64_t sourceSize_;
    std::int64_t i_ = 0;
    std::int64_t j_ = 0;
    std::uint32_t bits_ = 0;
    int count_ = 0;
    std::int64_t body_ = 0;
    std::int64_t used_ = 0;
};

}  // namespace

std::int32_t Decompress(MutableBytes dest, Bytes source, std::int32_t sourceSize) {
    if (source.size() < 4) {
        std::fill(dest.begin(), dest.end(), std::uint8_t{0});
        return 0;
    }
    if (source[2] != 0) return -1;
    std::fill(dest.begin(), dest.end(), std::uint8_t{0});
    return StreamDecoder(dest, source, sourceSize).Run();
}

std::uint64_t MaxExpansion(std::uint64_t streamBytes) {
    // A run of 4109 bytes needs its three bytes (c, t, value) and 12 control bits: 4.5 bytes.
    return streamBytes * 914 + 4109;
}

bool ReadPackedChunk(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust,
                     PackedChunk& chunk) {
    ByteReader reader(payload);
    if (!reader.Has(offset, 12)) return false;
    reader.U32(offset, chunk.packedSize);
    reader.U32(offset + 4, chunk.unpackedSize);
    std::uint64_t streamStart = offset + 12;
    std::uint64_t chunkEnd = offset + 4 + static_cast<std::uint64_t>(chunk.packedSize);
    std::uint64_t streamEnd = std::min<std::uint64_t>(chunkEnd, payload.size());
    chunk.stream = streamEnd > streamStart ? payload.subspan(streamStart, streamEnd - streamStart)
                                           : Bytes{};
    std::int64_t sourceSize = static_cast<std::int64_t>(chunk.packedSize) - sizeAdjust;
    chunk.sourceSize = static_cast<std::int32_t>(std::clamp<std::int64_t>(sourceSize, -1, INT32_MAX));
    chunk.end = chunkEnd;
    return chunk.unpackedSize <= MaxExpansion(chunk.stream.size());
}

bool UnpackChunk(const PackedChunk& chunk, std::vector<std::uint8_t>& out) {
    try {
        out.assign(chunk.unpackedSize, 0);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    Decompress(out, chunk.stream, chunk.sourceSize);
    return true;
}

bool UnpackChunkAt(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust,
                   std::vector<std::uint8_t>& out, PackedChunk* located) {
    PackedChunk chunk;
    if (!ReadPackedChunk(payload, offset, sizeAdjust, chunk)) return false;
    if (located) *located = chunk;
    return UnpackChunk(chunk, out);
}

}  // namespace morvex

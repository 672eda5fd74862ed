// Bounds-checked little-endian reads over file bytes.
//
// Every read of data that comes from an input file goes through ByteReader (or, in hot loops whose
// bounds were proven once, through the unchecked Load helpers below). Offsets and lengths are
// compared as `len > size - off` after `off <= size`, so values taken from the file can never
// overflow the check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace morvex {

using Bytes = std::span<const std::uint8_t>;
using MutableBytes = std::span<std::uint8_t>;

// Unchecked loads: the caller has proven that the bytes exist.
inline std::uint16_t LoadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline float LoadF32(const std::uint8_t* p) {
    std::uint32_t bits = LoadU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
inline void StoreU16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
constexpr bool InBounds(std::uint64_t size, std::uint64_t offset, std::uint64_t length) {
    return offset <= size && length <= size - offset;
}

class ByteReader {
  public:
    constexpr ByteReader() = default;
    constexpr explicit ByteReader(Bytes data) : data_(data) {}

    constexpr std::size_t Size() const { return data_.size(); }
    constexpr Bytes Data() const { return data_; }
    constexpr bool Has(std::uint64_t offset, std::uint64_t length) const {
        return InBounds(data_.size(), offset, length);
    }

    bool U8(std::uint64_t offset, std::uint8_t& out) const {
        if (!Has(offset, 1)) return false;
        out = data_[offset];
        return true;
    }
    bool U16(std::uint64_t offset, std::uint16_t& out) const {
        if (!Has(offset, 2)) return false;
        out = LoadU16(data_.data() + offset);
        return true;
    }
    bool I16(std::uint64_t offset, std::int16_t& out) const {
        std::uint16_t v;
        if (!U16(offset, v)) return false;
        out = static_cast<std::int16_t>(v);
        return true;
    }
    bool U32(std::uint64_t offset, std::uint32_t& out) const {
        if (!Has(offset, 4)) return false;
        out = LoadU32(data_.data() + offset);
        return true;
    }
    bool I32(std::uint64_t offset, std::int32_t& out) const {
        std::uint32_t v;
        if (!U32(offset, v)) return false;
        out = static_cast<std::int32_t>(v);
        return true;
    }
    bool F32(std::uint64_t offset, float& out) const {
        if (!Has(offset, 4)) return false;
        out = LoadF32(data_.data() + offset);
        return true;
    }
    // The sub-range [offset, offset + length), or false when it leaves the buffer.
    bool Sub(std::uint64_t offset, std::uint64_t length, Bytes& out) const {
        if (!Has(offset, length)) return false;
        out = data_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
        return true;
    }
    // Everything from offset to the end (empty when offset is past the end).
    Bytes Tail(std::uint64_t offset) const {
        if (offset >= data_.size()) return {};
        return data_.subspan(static_cast<std::size_t>(offset));
    }
    // NUL-terminated text starting at offset, cut at `maxLength` bytes and at the buffer's end.
    std::string_view Text(std::uint64_t offset, std::size_t maxLength) const {
        Bytes tail = Tail(offset);
        std::size_t n = 0;
        std::size_t limit = tail.size() < maxLength ? tail.size() : maxLength;
        while (n < limit && tail[n] != 0) ++n;
        return {reinterpret_cast<const char*>(tail.data()), n};
    }

  private:
    Bytes data_;
};

}  // namespace morvex

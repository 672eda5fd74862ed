#include "it3/block.h"

#include <cstring>

namespace morvex {

std::int32_t Block::ReadHeader(Bytes file, std::int32_t headerOffset, std::int32_t blockIndex,
                               std::string_view name) {
    buffer = file;
    offset = headerOffset;
    index = blockIndex;
    baseName = name;
    ByteReader reader(file);
    std::int32_t payloadSize = 0;
    if (headerOffset < 0 || !reader.Has(static_cast<std::uint64_t>(headerOffset), 8) ||
        !reader.I32(static_cast<std::uint64_t>(headerOffset) + 4, payloadSize)) {
        std::memset(tag, 0, sizeof tag);
        size = 0;
        OnBind();
        return -1;
    }
    std::memcpy(tag, file.data() + headerOffset, 4);
    tag[4] = 0;
    // Computed in 64 bits: a payload size near INT32_MAX must not overflow.
    std::int64_t total = static_cast<std::int64_t>(payloadSize) + 8;
    size = total > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(total);
    OnBind();
    return size;
}

std::string_view Block::TagText() const {
    return std::string_view(tag, strnlen(tag, 4));
}

Bytes Block::Payload() const {
    if (offset < 0 || size < 8) return {};
    ByteReader reader(buffer);
    std::uint64_t start = static_cast<std::uint64_t>(offset) + 8;
    if (start > buffer.size()) return {};
    std::uint64_t length = static_cast<std::uint64_t>(size) - 8;
    if (length > buffer.size() - start) length = buffer.size() - start;
    Bytes payload;
    reader.Sub(start, length, payload);
    return payload;
}

std::int32_t Block::PayloadCount() const {
    std::int32_t count = 0;
    ByteReader(Payload()).I32(0, count);
    return count;
}

}  // namespace morvex

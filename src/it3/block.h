// One block of an it3 file, and the base class of every block class.
//
// An it3 file is a flat sequence of blocks laid end to end: a four-byte tag, a signed 32-bit
// payload size, then the payload. A Block record points into the whole-file buffer owned by the
// model (src/it3/model.h); it never owns file data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "it3/byte_reader.h"

namespace morvex {

// A tag compared and printed as the little-endian value of its four bytes (INFO is 0x4F464E49).
constexpr std::uint32_t TagValue(std::string_view tag) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4 && k < tag.size(); ++k) {
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(tag[k])) << (8 * k);
    }
    return v;
}

inline constexpr std::uint32_t kTagInfo = TagValue("INFO");
inline constexpr std::uint32_t kTagTexi = TagValue("TEXI");
inline constexpr std::uint32_t kNoTypeTag = 0xFFFFFFFFu;

class Block {
  public:
    Block() = default;
    Block(const Block&) = default;
    Block& operator=(const Block&) = default;
    virtual ~Block() = default;

    // Binds this object to the block whose header starts at `offset` of `buffer`: copies the tag,
    // sets size (payload size + 8), index and baseName (which must outlive this object, as the
    // buffer must). Leaves typeTag and registryIndex alone.
    // Returns size, or -1 (and an unbound object) when the 8-byte header is not inside buffer.
    std::int32_t ReadHeader(Bytes buffer, std::int32_t offset, std::int32_t index,
                            std::string_view baseName);
    // Binds this object (a decoder) to the block of a block-list record: ReadHeader with the
    // record's buffer, offset, index and baseName.
    std::int32_t BindTo(const Block& record) {
        return ReadHeader(record.buffer, record.offset, record.index, record.baseName);
    }

    // The four tag bytes as a little-endian value.
    std::uint32_t TagBits() const { return TagValue(std::string_view(tag, 4)); }
    // The tag text up to its first NUL, as printed in messages.
    std::string_view TagText() const;
    // The payload: size - 8 bytes from offset + 8, cut at the end of the buffer.
    Bytes Payload() const;
    // The signed 32-bit word at the start of the payload (0 when the payload is shorter).
    std::int32_t PayloadCount() const;

    Bytes buffer;
    char tag[5] = {0, 0, 0, 0, 0};
    std::int32_t offset = 0;
    std::int32_t size = 0;
    std::int32_t index = 0;
    // The model's baseName, not owned (like buffer): a record costs the same whatever its length.
    std::string_view baseName;
    std::uint32_t typeTag = kNoTypeTag;
    std::int32_t registryIndex = 0;

  protected:
    // Called by ReadHeader after binding, so that decoders can drop data of a previous block.
    virtual void OnBind() {}
};

}  // namespace morvex

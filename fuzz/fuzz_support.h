// Helpers shared by the fuzz targets: exact-size copies of the input (so that AddressSanitizer
// reports a read one byte past the end) and single-block buffers bound to a decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "it3/block.h"

namespace morvex::fuzz {

// A heap copy of `size` bytes in an allocation of exactly that size.
class ExactCopy {
  public:
    ExactCopy(const std::uint8_t* data, std::size_t size)
        : data_(new std::uint8_t[size == 0 ? 1 : size]), size_(size) {
        if (size > 0) std::memcpy(data_.get(), data, size);
    }
    Bytes View() const { return {data_.get(), size_}; }
    std::uint8_t* Data() { return data_.get(); }

  private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_;
};

// A file image of one block at offset 0: the tag, the payload size and the payload, in an
// allocation of exactly its size.
inline ExactCopy SingleBlock(std::string_view tag, const std::uint8_t* payload, std::size_t size) {
    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size + 8]);
    std::memcpy(bytes.get(), tag.data(), 4);
    StoreU32(bytes.get() + 4, static_cast<std::uint32_t>(size));
    if (size > 0) std::memcpy(bytes.get() + 8, payload, size);
    return ExactCopy(bytes.get(), size + 8);
}

// Stops the run when a property that must hold does not.
inline void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace morvex::fuzz

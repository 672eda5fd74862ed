// Helpers of the decoder tests: exact-size file buffers and a guard on large allocations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "it3/byte_reader.h"

namespace morvex::test {

// A heap copy of some bytes in an allocation of exactly their size, so that AddressSanitizer
// reports any read behind the last byte (a std::vector may hold spare capacity there).
class ExactBuffer {
  public:
    explicit ExactBuffer(std::span<const std::uint8_t> bytes);
    Bytes View() const { return {data_.get(), size_}; }

  private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_;
};

// An it3 file of one block at offset 0: the tag, the payload size and the payload.
ExactBuffer SingleBlockFile(std::string_view tag, std::span<const std::uint8_t> payload);

// While a guard is alive, every operator new request above `limit` bytes is refused with
// std::bad_alloc and recorded, so a test can tell "failed without allocating" from "allocated,
// ran out of memory and failed". The test binary replaces the global operator new for this.
class AllocationLimit {
  public:
    explicit AllocationLimit(std::size_t limit);
    ~AllocationLimit();
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;
    // The largest request refused while this guard was alive; 0 when none was.
    std::size_t LargestRefused() const;
};

// While a tracker is alive, the bytes held by operator new allocations are counted; Peak() is
// the most held at once above what was held when the tracker started. Allocations that were made
// before it started and are freed while it runs count negative.
class PeakLiveBytes {
  public:
    PeakLiveBytes();
    ~PeakLiveBytes();
    PeakLiveBytes(const PeakLiveBytes&) = delete;
    PeakLiveBytes& operator=(const PeakLiveBytes&) = delete;
    std::int64_t Peak() const;
};

}  // namespace morvex::test

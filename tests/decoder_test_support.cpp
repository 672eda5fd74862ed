#include "decoder_test_support.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "it3/byte_buffer.h"
#include "testdata/it3_writer.h"

namespace {

// 0: no limit.
std::atomic<std::size_t> allocationLimit{0};
std::atomic<std::size_t> largestRefused{0};
std::atomic<bool> tracking{false};
std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};

std::size_t UsableSize(void* p) {
#ifdef _WIN32
    return _msize(p);
#else
    return malloc_usable_size(p);
#endif
}

void Track(void* p, std::int64_t sign) {
    if (p == nullptr || !tracking.load(std::memory_order_relaxed)) return;
    const auto size = static_cast<std::int64_t>(UsableSize(p));
    const std::int64_t live = liveBytes.fetch_add(sign * size) + sign * size;
    std::int64_t peak = peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
}

// Large ByteBuffers are mappings: counted and limited like operator new allocations.
void ObserveBuffer(std::int64_t bytes) {
    const std::size_t limit = allocationLimit.load(std::memory_order_relaxed);
    if (bytes > 0 && limit != 0 && static_cast<std::size_t>(bytes) > limit) {
        std::size_t seen = largestRefused.load(std::memory_order_relaxed);
        while (static_cast<std::size_t>(bytes) > seen &&
               !largestRefused.compare_exchange_weak(seen, static_cast<std::size_t>(bytes))) {
        }
        throw std::bad_alloc();
    }
    if (!tracking.load(std::memory_order_relaxed)) return;
    const std::int64_t live = liveBytes.fetch_add(bytes) + bytes;
    std::int64_t peak = peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
}

// Installed before main: every test sees the mappings.
const bool observing = (morvex::SetBufferObserver(ObserveBuffer), true);

}  // namespace

// Replacements of the global allocation functions: plain malloc and free, with the limit above.
// The sanitizers still see every allocation through malloc. The other forms (nothrow, arrays,
// sized deletes) forward to these by default.
void* operator new(std::size_t size) {
    std::size_t limit = allocationLimit.load(std::memory_order_relaxed);
    if (limit != 0 && size > limit) {
        std::size_t seen = largestRefused.load(std::memory_order_relaxed);
        while (size > seen && !largestRefused.compare_exchange_weak(seen, size)) {
        }
        throw std::bad_alloc();
    }
    for (;;) {
        if (void* p = std::malloc(size == 0 ? 1 : size)) {
            Track(p, 1);
            return p;
        }
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* p) noexcept {
    Track(p, -1);
    std::free(p);
}
void operator delete[](void* p) noexcept {
    ::operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    ::operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    ::operator delete(p);
}

namespace morvex::test {

ExactBuffer::ExactBuffer(std::span<const std::uint8_t> bytes)
    : data_(new std::uint8_t[bytes.size()]), size_(bytes.size()) {
    if (!bytes.empty()) std::memcpy(data_.get(), bytes.data(), bytes.size());
}

ExactBuffer SingleBlockFile(std::string_view tag, std::span<const std::uint8_t> payload) {
    testdata::It3Writer file;
    file.Block(tag, payload);
    return ExactBuffer(file.Bytes());
}

AllocationLimit::AllocationLimit(std::size_t limit) {
    largestRefused.store(0);
    allocationLimit.store(limit);
}

AllocationLimit::~AllocationLimit() {
    allocationLimit.store(0);
}

std::size_t AllocationLimit::LargestRefused() const {
    return largestRefused.load();
}

PeakLiveBytes::PeakLiveBytes() {
    liveBytes.store(0);
    peakBytes.store(0);
    tracking.store(true);
}

PeakLiveBytes::~PeakLiveBytes() {
    tracking.store(false);
}

std::int64_t PeakLiveBytes::Peak() const {
    return peakBytes.load();
}

}  // namespace morvex::test

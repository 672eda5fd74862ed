#include "it3/byte_buffer.h"

#include <sys/mman.h>

#include <atomic>
#include <cstring>
#include <new>

namespace morvex {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kPage = 4096;
// Buffers from this size on are mappings of their own; smaller ones come from the heap, which
// reuses freed memory without new faults.
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

std::atomic<BufferObserver> observer{nullptr};

void Observe(std::int64_t bytes) {
    if (BufferObserver observe = observer.load(std::memory_order_relaxed)) observe(bytes);
}

std::size_t RoundUp(std::size_t n, std::size_t step) {
    return (n + step - 1) / step * step;
}

// A mapping of `size` bytes (a multiple of kPage) starting at a kHugePage boundary, so that the
// kernel can back every whole 2 MiB of it with a huge page; the rest takes ordinary pages.
std::uint8_t* MapAligned(std::size_t size) {
    if (size > SIZE_MAX - kHugePage) throw std::bad_alloc();
    const std::size_t span = size + kHugePage;
    void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    auto* base = static_cast<std::uint8_t*>(raw);
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    std::uint8_t* start = base + (RoundUp(address, kHugePage) - address);
    // Give back the parts before and after the aligned region.
    if (start > base) ::munmap(base, static_cast<std::size_t>(start - base));
    std::uint8_t* end = start + size;
    if (base + span > end) ::munmap(end, static_cast<std::size_t>(base + span - end));
#ifdef MADV_HUGEPAGE
    ::madvise(start, size, MADV_HUGEPAGE);  // advice only: without huge pages it still works
#endif
    return start;
}

}  // namespace

void SetBufferObserver(BufferObserver observe) {
    observer.store(observe);
}

ByteBuffer ByteBuffer::Zeroed(std::size_t size) {
    ByteBuffer buffer(size);
    if (!buffer.mapped_ && size > 0) std::memset(buffer.data_, 0, size);
    return buffer;
}

ByteBuffer ByteBuffer::CopyOf(std::span<const std::uint8_t> bytes) {
    ByteBuffer buffer(bytes.size());
    if (!bytes.empty()) std::memcpy(buffer.data_, bytes.data(), bytes.size());
    return buffer;
}

void ByteBuffer::Allocate(std::size_t size) {
    if (size == 0) return;
    if (size >= kMappedFrom) {
        const std::size_t capacity = RoundUp(size, kPage);
        Observe(static_cast<std::int64_t>(capacity));
        try {
            data_ = MapAligned(capacity);
        } catch (const std::bad_alloc&) {
            Observe(-static_cast<std::int64_t>(capacity));
            throw;
        }
        capacity_ = capacity;
        mapped_ = true;
    } else {
        data_ = new std::uint8_t[size];  // default-initialised: left as it is
        capacity_ = size;
        mapped_ = false;
    }
    size_ = size;
}

void ByteBuffer::Resize(std::size_t size) {
    if (size <= capacity_) {
        size_ = size;
        return;
    }
    Release();
    Allocate(size);
}

void ByteBuffer::Release() noexcept {
    if (data_ != nullptr) {
        if (mapped_) {
            ::munmap(data_, capacity_);
            Observe(-static_cast<std::int64_t>(capacity_));
        } else {
            delete[] data_;
        }
    }
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    mapped_ = false;
}

void ByteBuffer::Take(ByteBuffer& other) noexcept {
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    mapped_ = other.mapped_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
    other.mapped_ = false;
}

}  // namespace morvex

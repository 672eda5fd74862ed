#include "it3/byte_buffer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/platform.h"

namespace morvex {
namespace {

using platform::kHugePage;
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

}  // namespace

void SetBufferObserver(BufferObserver observe) {
    observer.store(observe);
}

ByteBuffer ByteBuffer::CopyOf(std::span<const std::uint8_t> bytes) {
    ByteBuffer buffer(bytes.size());
    if (!bytes.empty()) std::memcpy(buffer.data_, bytes.data(), bytes.size());
    return buffer;
}

void ByteBuffer::Allocate(std::size_t size, bool wholeHugePages, bool sparse) {
    if (size == 0) return;
    if (size < kMappedFrom) {
        // Default-initialised, left as it is; a sparse buffer reads as zeros like a mapping.
        data_ = sparse ? new std::uint8_t[size]() : new std::uint8_t[size];
        capacity_ = size;
        size_ = size;
        return;
    }
    // The observer is told of the bytes asked for before the mapping is made.
    const std::size_t accounted = RoundUp(size, kPage);
    Observe(static_cast<std::int64_t>(accounted));
    try {
        // A mapping of whole huge pages: one fault fills its last part too, where small pages
        // would take one fault each.
        const std::size_t whole = wholeHugePages ? RoundUp(accounted, kHugePage) : accounted;
        data_ = platform::MapMemory(whole, !sparse);
        capacity_ = whole;
    } catch (const std::bad_alloc&) {
        Observe(-static_cast<std::int64_t>(accounted));
        throw;
    }
    accounted_ = accounted;
    mapped_ = true;
    size_ = size;
}

void ByteBuffer::Grow(std::size_t size, bool wholeHugePages) {
    if (size <= capacity_) {
        size_ = size;
        return;
    }
    Release();
    Allocate(size, wholeHugePages);
}

void ByteBuffer::Release() noexcept {
    if (data_ != nullptr) {
        if (mapped_) {
            platform::UnmapMemory(data_, capacity_);
            Observe(-static_cast<std::int64_t>(accounted_));
        } else {
            delete[] data_;
        }
    }
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    accounted_ = 0;
    mapped_ = false;
}

void ByteBuffer::Take(ByteBuffer& other) noexcept {
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    accounted_ = other.accounted_;
    mapped_ = other.mapped_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
    other.accounted_ = 0;
    other.mapped_ = false;
}

ByteBufferPool::ByteBufferPool(std::size_t mostKept) : mostKept_(mostKept) {
    kept_.reserve(mostKept);
}

ByteBuffer ByteBufferPool::Take(std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto best = kept_.end();
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if (it->capacity() >= size && (best == kept_.end() || it->capacity() < best->capacity())) {
            best = it;
        }
    }
    if (best == kept_.end()) return {};
    ByteBuffer buffer = std::move(*best);
    kept_.erase(best);
    return buffer;
}

void ByteBufferPool::Put(ByteBuffer buffer) noexcept {
    if (buffer.capacity() == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (kept_.size() < mostKept_) {
        kept_.push_back(std::move(buffer));
        return;
    }
    auto smallest = std::min_element(kept_.begin(), kept_.end(), [](const auto& a, const auto& b) {
        return a.capacity() < b.capacity();
    });
    if (smallest != kept_.end() && smallest->capacity() < buffer.capacity()) {
        *smallest = std::move(buffer);
    }
}

}  // namespace morvex

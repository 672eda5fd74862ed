// Owned bytes whose allocation does not touch them.
//
// A std::vector<std::uint8_t> of n bytes writes every byte when it is made. For the buffers of
// a conversion (the whole file, decoded vertex and index data, pictures) that first write costs
// more than the work itself: every fresh 4 KiB page takes a page fault, and the data is written
// again by the read or the decoder right after. A ByteBuffer leaves its bytes as they are; large
// ones are 2 MiB-aligned mappings with transparent huge pages asked for, so that a 256 MiB buffer
// costs about 128 faults instead of 65,536. Buffers that are worth reusing (a vertex block's mesh
// stores, the stream windows) are kept by their owners in a ByteBufferPool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace morvex {

// Large buffers are mappings of their own, which the heap's accounting does not see. An observer
// set here (tests, memory limits) is told of each: with +bytes before the mapping is made (it may
// refuse it by throwing std::bad_alloc) and with -bytes after it is released. nullptr: none.
using BufferObserver = void (*)(std::int64_t bytes);
void SetBufferObserver(BufferObserver observer);

class ByteBuffer {
  public:
    ByteBuffer() = default;
    // `size` bytes whose contents are unspecified; throws std::bad_alloc when there is no memory.
    explicit ByteBuffer(std::size_t size) { Allocate(size); }
    // A copy of `bytes`.
    static ByteBuffer CopyOf(std::span<const std::uint8_t> bytes);

    ~ByteBuffer() { Release(); }
    ByteBuffer(ByteBuffer&& other) noexcept { Take(other); }
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        if (this != &other) {
            Release();
            Take(other);
        }
        return *this;
    }
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    // The bytes the storage holds: Resize up to this keeps it.
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    std::uint8_t* begin() { return data_; }
    std::uint8_t* end() { return data_ + size_; }
    const std::uint8_t* begin() const { return data_; }
    const std::uint8_t* end() const { return data_ + size_; }
    std::uint8_t& operator[](std::size_t i) { return data_[i]; }
    std::uint8_t operator[](std::size_t i) const { return data_[i]; }

    // Makes the buffer `size` bytes long, its contents unspecified: the storage is kept when it
    // is large enough, replaced otherwise.
    void Resize(std::size_t size) { Grow(size, true); }
    // The same, but a new mapping ends at the 4 KiB page that holds the last byte rather than at
    // a whole huge page: for a buffer written once and kept (the loaded file), which should hold
    // no more memory than its size. Its last part then takes small pages.
    void ResizeToFit(std::size_t size) { Grow(size, false); }
    // New storage of `size` bytes that read as zeros, for a buffer of which only scattered parts
    // will be written (the block headers of a file): a mapping of small pages only, so that the
    // parts never written hold no memory.
    void ResizeSparse(std::size_t size) {
        Release();
        Allocate(size, false, true);
    }
    // Frees the storage.
    void Clear() { Release(); }

  private:
    void Grow(std::size_t size, bool wholeHugePages);
    void Allocate(std::size_t size, bool wholeHugePages = true, bool sparse = false);
    void Release() noexcept;
    void Take(ByteBuffer& other) noexcept;

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t accounted_ = 0;  // the bytes the observer was told of
    bool mapped_ = false;        // a whole mapping of capacity_ bytes, else from operator new
};

// A few buffers kept for reuse, given back and taken on any thread: memory whose pages are in
// place already costs no page faults. Take hands out the smallest kept buffer whose storage holds
// the size asked for; Put keeps a buffer, and when the pool is full, keeps it instead of the
// smallest kept one if it is larger.
class ByteBufferPool {
  public:
    explicit ByteBufferPool(std::size_t mostKept);
    ByteBufferPool(const ByteBufferPool&) = delete;
    ByteBufferPool& operator=(const ByteBufferPool&) = delete;

    // A kept buffer with a capacity of at least `size` (its contents unspecified), or an empty
    // one when none has.
    ByteBuffer Take(std::size_t size);
    void Put(ByteBuffer buffer) noexcept;

  private:
    std::mutex mutex_;
    std::vector<ByteBuffer> kept_;  // room for mostKept_ reserved: Put never allocates
    std::size_t mostKept_;
};

}  // namespace morvex

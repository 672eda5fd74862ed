// The block list: the Block records of a file in file order, a record's position its index.
//
// It grows by chunks as the scan finds blocks, and never moves a record: the memory it holds is
// the records found so far plus at most one chunk. A list that grows by doubling would hold up to
// three times its records while it moves them, and one reserved from a count would ask for the
// records a file's size implies before any of them is read.
#pragma once

#include <cstddef>
#include <iterator>
#include <vector>

#include "it3/block.h"

namespace morvex {

class BlockList {
  public:
    // Records a chunk holds: the first chunk grows to this size by doubling, so that a small
    // model holds little; every further chunk is allocated whole.
    static constexpr std::size_t kChunk = 4096;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const Block& operator[](std::size_t k) const { return chunks_[k / kChunk][k % kChunk]; }
    Block& operator[](std::size_t k) { return chunks_[k / kChunk][k % kChunk]; }
    const Block& back() const { return (*this)[size_ - 1]; }
    Block& back() { return (*this)[size_ - 1]; }

    void push_back(const Block& block) {
        if (chunks_.empty() || chunks_.back().size() == kChunk) {
            chunks_.emplace_back();
            if (chunks_.size() > 1) chunks_.back().reserve(kChunk);
        }
        chunks_.back().push_back(block);
        ++size_;
    }
    // Removes every record and gives the memory back.
    void clear() {
        chunks_.clear();
        size_ = 0;
    }
    // The bytes the records take, with the room of the last chunk.
    std::size_t MemoryBytes() const {
        std::size_t bytes = chunks_.capacity() * sizeof(std::vector<Block>);
        for (const std::vector<Block>& chunk : chunks_) bytes += chunk.capacity() * sizeof(Block);
        return bytes;
    }

    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Block;
        using difference_type = std::ptrdiff_t;
        using pointer = const Block*;
        using reference = const Block&;

        const_iterator() = default;
        const_iterator(const BlockList* list, std::size_t at) : list_(list), at_(at) {}
        const Block& operator*() const { return (*list_)[at_]; }
        const Block* operator->() const { return &(*list_)[at_]; }
        const_iterator& operator++() {
            ++at_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++at_;
            return before;
        }
        bool operator==(const const_iterator& other) const { return at_ == other.at_; }

      private:
        const BlockList* list_ = nullptr;
        std::size_t at_ = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }

  private:
    std::vector<std::vector<Block>> chunks_;
    std::size_t size_ = 0;
};

}  // namespace morvex

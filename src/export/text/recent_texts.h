// Texts that face lines write again and again, kept by key. Triangles mostly name the vertices
// that the triangles just before them named, so the text of a corner (its index, its texture
// coordinates) is mostly copied from here instead of formatted again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace morvex {

// A table of `Entries` texts of at most `Size` bytes: the text of key k is kept in place
// `slot % Entries` (the caller's choice, mostly the vertex index) and replaces what was there.
template <std::size_t Size, std::size_t Entries>
class RecentTexts {
    static_assert((Entries & (Entries - 1)) == 0, "a power of two");

  public:
    struct Text {
        std::uint64_t key = 0;  // 0: none
        std::uint32_t length = 0;
        char bytes[Size] = {};
    };

    // The text of `key` (not 0). When it is not kept, `make(bytes)` writes it (at most Size
    // bytes) and returns its length.
    template <class Make>
    const Text& Find(std::uint64_t key, std::uint64_t slot, Make&& make) {
        Text& text = texts_[slot & (Entries - 1)];
        if (text.key != key) [[unlikely]] {
            text.length = static_cast<std::uint32_t>(make(text.bytes));
            text.key = key;
        }
        return text;
    }

    // This thread's table, made on first use.
    static RecentTexts& ForThisThread() {
        thread_local std::unique_ptr<RecentTexts> table;
        if (!table) table = std::make_unique<RecentTexts>();
        return *table;
    }

  private:
    Text texts_[Entries];
};

}  // namespace morvex

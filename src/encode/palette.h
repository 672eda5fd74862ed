// Putting pictures on palettes of at most 256 entries: the colour mapping and the quantiser that
// the 8-bit texture formats share.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace morvex {

inline constexpr std::size_t kMaxPaletteEntries = 256;

// An 8-bit picture: one palette index a pixel, rows top first, and a palette of 4-byte entries
// (red, green, blue, a fourth byte).
struct IndexedImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> palette;

    std::size_t Entries() const { return palette.size() / 4; }
    std::uint8_t At(std::int64_t x, std::int64_t y) const {
        return pixels[static_cast<std::size_t>(y * width + x)];
    }
};

// Red, green and blue as one number (red in the low byte), the key colours are compared by.
inline std::uint32_t ColourKey(const std::uint8_t* rgb) {
    return static_cast<std::uint32_t>(rgb[0]) | (static_cast<std::uint32_t>(rgb[1]) << 8) |
           (static_cast<std::uint32_t>(rgb[2]) << 16);
}
// The colour of index `i` of `palette`; black for an index past its whole entries.
std::uint32_t EntryColour(std::span<const std::uint8_t> palette, std::size_t i);
// Squared distance of two colours in red, green and blue.
std::uint32_t ColourDistance(std::uint32_t a, std::uint32_t b);

// Puts an RGBA picture (rows top first, alpha ignored) on a palette of at most 256 entries.
//
// With `original` (the texture's picture before the edit, of any size; null when there is
// none): a pixel of the same picture size whose colour is that of its original index keeps the
// index; every other colour takes an original entry of that colour, or an entry that no kept
// pixel uses any more, or a new entry behind the original ones. When the entries cannot hold
// them so, every colour gets one entry (the original's where it has one). More than 256
// colours are quantised (Quantise). New entries take the
// fourth byte most entries of the original palette have (0 without one).
IndexedImage MapToPalette(std::int32_t width, std::int32_t height,
                          std::span<const std::uint8_t> rgba, const IndexedImage* original);

// A palette of at most `entries` colours for the distinct `colours` weighted by `counts`: a
// median cut (the box with the largest weighted spread is cut at the weighted median of its
// widest channel), then rounds of k-means (every colour to its nearest entry, every entry to
// the weighted mean of its colours) while they improve the squared error.
std::vector<std::uint32_t> Quantise(std::span<const std::uint32_t> colours,
                                    std::span<const std::uint64_t> counts, std::size_t entries);

// Format 1005's palette: each entry stored as the 32-bit little-endian difference from the entry
// before (the first from 0), modulo 2^32; a tail of fewer than 4 bytes is kept as it is.
std::vector<std::uint8_t> DeltaPalette(std::span<const std::uint8_t> palette);

// The entry of `palette` (colours) nearest to `colour`.
std::size_t NearestColour(std::span<const std::uint32_t> palette, std::uint32_t colour);

}  // namespace morvex

#include "encode/tile_encoder.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <limits>
#include <numeric>
#include <unordered_map>

namespace morvex {
namespace {

constexpr std::size_t kByteTileWidth = 16, kByteTileRows = 8;
constexpr std::size_t kLookupTileWidth = 16, kLookupTileRows = 8;
constexpr std::size_t kLookupTilePixels = kLookupTileWidth * kLookupTileRows;
constexpr std::size_t kMaxList = 16;  // a 4-bit code addresses 16 list entries
constexpr std::uint8_t kQuadEscape = 255;
constexpr std::size_t kMaxReferences = 255;  // reference bytes 0 to 254
constexpr std::size_t kMaxRepeat = 256;      // r, 255, 255 stands for 256 blocks
constexpr std::size_t kLeastEscapedRun = 4;  // shorter runs are cheaper as plain references

using Block4 = std::uint32_t;  // top left, top right, bottom left, bottom right, low byte first
using IndexMap = std::array<std::uint8_t, 256>;

IndexMap Identity() {
    IndexMap map;
    std::iota(map.begin(), map.end(), 0);
    return map;
}

// The lowest index whose entry is the same as each index's: over all 4 bytes (`rgbOnly` false)
// or over red, green and blue. An index past the palette's whole entries stands alone.
IndexMap SameEntries(std::span<const std::uint8_t> palette, bool rgbOnly) {
    IndexMap map = Identity();
    std::unordered_map<std::uint32_t, std::uint8_t> first;
    const std::size_t entries = std::min<std::size_t>(palette.size() / 4, 256);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint32_t key =
            rgbOnly ? EntryColour(palette, i) : LoadU32(palette.data() + 4 * i);
        map[i] = first.emplace(key, static_cast<std::uint8_t>(i)).first->second;
    }
    return map;
}

std::uint8_t Pixel(const IndexedImage& image, std::size_t x, std::size_t y) {
    if (x >= static_cast<std::size_t>(image.width) || y >= static_cast<std::size_t>(image.height)) {
        return 0;
    }
    return image.pixels[y * static_cast<std::size_t>(image.width) + x];
}
void SetPixel(IndexedImage& image, std::size_t x, std::size_t y, std::uint8_t v) {
    if (x < static_cast<std::size_t>(image.width) && y < static_cast<std::size_t>(image.height)) {
        image.pixels[y * static_cast<std::size_t>(image.width) + x] = v;
    }
}

// Maps the indices counted in `counts` onto at most `limit` of them: first by merging indices of
// identical entries, then of identical colours, then the most used colours stay and the others
// take the nearest of them. Returns false when a colour changed.
bool ReduceIndices(const std::array<std::uint32_t, 256>& counts, const IndexedImage& image,
                   std::size_t limit, IndexMap& map) {
    map = Identity();
    for (bool rgbOnly : {false, true}) {
        const IndexMap same = SameEntries(image.palette, rgbOnly);
        std::array<bool, 256> seen{};
        std::size_t distinct = 0;
        for (std::size_t i = 0; i < 256; ++i) {
            if (counts[i] && !seen[same[i]]) {
                seen[same[i]] = true;
                ++distinct;
            }
        }
        if (distinct <= limit) {
            map = same;
            return true;
        }
    }
    // Colours by use; the `limit` most used stay.
    const IndexMap same = SameEntries(image.palette, true);
    std::array<std::uint64_t, 256> uses{};
    for (std::size_t i = 0; i < 256; ++i) uses[same[i]] += counts[i];
    std::vector<std::uint8_t> order;
    for (std::size_t i = 0; i < 256; ++i) {
        if (uses[i]) order.push_back(static_cast<std::uint8_t>(i));
    }
    // Most used first; of equal use, the lower index (a stable order, without the temporary
    // buffer of std::stable_sort).
    std::sort(order.begin(), order.end(), [&](std::uint8_t a, std::uint8_t b) {
        return uses[a] != uses[b] ? uses[a] > uses[b] : a < b;
    });
    order.resize(limit);
    std::vector<std::uint32_t> kept;
    for (std::uint8_t i : order) kept.push_back(EntryColour(image.palette, i));
    for (std::size_t i = 0; i < 256; ++i) {
        map[i] = order[NearestColour(kept, EntryColour(image.palette, same[i]))];
    }
    return false;
}

// ---- Lookup tiles ----

struct LookupTile {
    std::vector<std::uint8_t> list;  // empty: value 0, every pixel index 0
    std::array<std::uint8_t, kLookupTilePixels> pixels{};
};

std::uint8_t ListValue(const LookupTile& tile) {
    return static_cast<std::uint8_t>(tile.list.empty() ? 0 : tile.list.size() - 1);
}

// Makes the tile's list from its pixels, reducing them to `limit` colours when they have more.
void MakeList(LookupTile& tile, const IndexedImage& image, std::size_t limit, bool& exact) {
    std::array<std::uint32_t, 256> counts{};
    for (std::uint8_t v : tile.pixels) ++counts[v];
    tile.list.clear();
    if (counts[0] == kLookupTilePixels) return;
    IndexMap map = Identity();
    std::size_t distinct = 0;
    for (std::uint32_t c : counts) distinct += c != 0;
    if (distinct > limit && !ReduceIndices(counts, image, limit, map)) exact = false;
    std::array<bool, 256> inList{};
    for (std::uint8_t& v : tile.pixels) {
        v = map[v];
        inList[v] = true;
    }
    // Ascending, so that tiles of the same colours have the same list.
    for (std::size_t i = 0; i < 256; ++i) {
        if (inList[i]) tile.list.push_back(static_cast<std::uint8_t>(i));
    }
    if (tile.list.size() == 1) tile.list.push_back(tile.list[0]);  // a value v stands for v + 1
}

// With an odd number of tiles, the byte behind the tile map is both the last tile's value (high
// nibble) and the first list's first entry. Arranges the lists so that it is: an entry of the
// right high nibble moved to the front, or one put in front, or the last list lengthened to the
// value of an entry. False when the first list is full and none of its entries fits.
bool ShareLastNibble(std::vector<LookupTile>& tiles) {
    auto first = std::find_if(tiles.begin(), tiles.end(),
                              [](const LookupTile& t) { return !t.list.empty(); });
    if (first == tiles.end()) return true;  // no lists: the byte is the check byte, 0 = value 0
    std::vector<std::uint8_t>& list = first->list;
    LookupTile& last = tiles.back();
    auto moveToFront = [&](std::vector<std::uint8_t>::iterator it) {
        std::rotate(list.begin(), it, it + 1);
    };
    if (&*first == &last) {
        // The list describes itself: its first entry's high nibble is its length - 1.
        auto fit = std::find_if(list.begin(), list.end(), [&](std::uint8_t e) {
            return (e >> 4) >= 1 && (e >> 4) + 1u >= list.size();
        });
        if (fit != list.end()) {
            moveToFront(fit);
            list.resize((list[0] >> 4) + 1u, list[0]);
            return true;
        }
        if (list.size() >= kMaxList) return false;
        list.insert(list.begin(), static_cast<std::uint8_t>(list.size() << 4));
        return true;
    }
    const std::uint8_t value = ListValue(last);
    if (auto fit = std::find_if(list.begin(), list.end(),
                                [&](std::uint8_t e) { return (e >> 4) == value; });
        fit != list.end()) {
        moveToFront(fit);
        return true;
    }
    if (list.size() < kMaxList) {
        list.insert(list.begin(), static_cast<std::uint8_t>(value << 4));
        return true;
    }
    // Lengthen the last tile's list to match an entry of the first list (an all-zero tile gets a
    // list of zeros).
    const std::size_t least = std::max<std::size_t>(2, last.list.size());
    auto fit = std::find_if(list.begin(), list.end(),
                            [&](std::uint8_t e) { return (e >> 4) + 1u >= least; });
    if (fit == list.end()) return false;
    moveToFront(fit);
    const std::uint8_t fill = last.list.empty() ? 0 : last.list[0];
    last.list.resize((list[0] >> 4) + 1u, fill);
    return true;
}

// Where ShareLastNibble fails, one colour of the full first list moves to a palette index of
// the high nibble it needs, exchanging places with the entry there (the palette grows to reach
// it): the colours stay, only indices change. Index 0 takes no part, as it marks empty tiles.
void MoveColourToTheSharedNibble(IndexedImage& image, std::vector<LookupTile>& tiles) {
    auto first = std::find_if(tiles.begin(), tiles.end(),
                              [](const LookupTile& t) { return !t.list.empty(); });
    const std::vector<std::uint8_t>& list = first->list;
    const bool self = &*first == &tiles.back();
    const std::size_t nibble = self ? kMaxList - 1 : ListValue(tiles.back());
    std::size_t target = nibble << 4;
    while (target == 0 || std::find(list.begin(), list.end(), target) != list.end()) ++target;
    const auto from = static_cast<std::uint8_t>(list.back());  // the largest: not 0
    const auto to = static_cast<std::uint8_t>(target);
    if (image.palette.size() < 4 * (target + 1)) image.palette.resize(4 * (target + 1), 0);
    std::swap_ranges(image.palette.begin() + 4 * from, image.palette.begin() + 4 * from + 4,
                     image.palette.begin() + 4 * static_cast<std::ptrdiff_t>(to));
    auto exchange = [&](std::uint8_t& v) { v = v == from ? to : v == to ? from : v; };
    for (std::uint8_t& v : image.pixels) exchange(v);
    for (LookupTile& tile : tiles) {
        for (std::uint8_t& v : tile.pixels) exchange(v);
        for (std::uint8_t& v : tile.list) exchange(v);
        std::sort(tile.list.begin(), tile.list.end());
    }
}

// ---- Quad tiles ----

Block4 MakeBlock(std::uint8_t tl, std::uint8_t tr, std::uint8_t bl, std::uint8_t br) {
    return static_cast<Block4>(tl) | (static_cast<Block4>(tr) << 8) |
           (static_cast<Block4>(bl) << 16) | (static_cast<Block4>(br) << 24);
}
std::uint8_t Corner(Block4 b, int k) {
    return static_cast<std::uint8_t>(b >> (8 * k));
}
// The mirror of a block by q: 1 left-right, 2 top-bottom, 3 both. Each is its own inverse.
Block4 Mirror(Block4 b, int q) {
    switch (q) {
        case 1:
            return MakeBlock(Corner(b, 1), Corner(b, 0), Corner(b, 3), Corner(b, 2));
        case 2:
            return MakeBlock(Corner(b, 2), Corner(b, 3), Corner(b, 0), Corner(b, 1));
        case 3:
            return MakeBlock(Corner(b, 3), Corner(b, 2), Corner(b, 1), Corner(b, 0));
        default:
            return b;
    }
}

Block4 MapBlock(Block4 b, const IndexMap& map) {
    return MakeBlock(map[Corner(b, 0)], map[Corner(b, 1)], map[Corner(b, 2)], map[Corner(b, 3)]);
}

std::uint64_t BlockDistance(Block4 a, Block4 b, std::span<const std::uint8_t> palette) {
    std::uint64_t d = 0;
    for (int k = 0; k < 4; ++k) {
        d += ColourDistance(EntryColour(palette, Corner(a, k)), EntryColour(palette, Corner(b, k)));
    }
    return d;
}

std::size_t DistinctBlocks(const std::vector<Block4>& blocks) {
    std::vector<Block4> sorted = blocks;
    std::sort(sorted.begin(), sorted.end());
    return static_cast<std::size_t>(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
}

// Brings the tile's blocks to at most 255 distinct ones: by merging indices of identical
// entries, then of identical colours, then by keeping the most used blocks and giving the
// others the nearest of them. False when a colour changed.
bool ReduceBlocks(std::vector<Block4>& blocks, const IndexedImage& image) {
    if (DistinctBlocks(blocks) <= kMaxReferences) return true;
    for (bool rgbOnly : {false, true}) {
        const IndexMap same = SameEntries(image.palette, rgbOnly);
        std::vector<Block4> merged(blocks.size());
        for (std::size_t k = 0; k < blocks.size(); ++k) merged[k] = MapBlock(blocks[k], same);
        if (DistinctBlocks(merged) <= kMaxReferences) {
            blocks = std::move(merged);
            return true;
        }
        if (rgbOnly) blocks = std::move(merged);
    }
    std::unordered_map<Block4, std::uint32_t> uses;
    for (Block4 b : blocks) ++uses[b];
    std::vector<std::pair<Block4, std::uint32_t>> order(uses.begin(), uses.end());
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    order.resize(kMaxReferences);
    std::unordered_map<Block4, Block4> replacement;
    for (Block4& b : blocks) {
        auto [it, fresh] = replacement.emplace(b, b);
        if (fresh) {
            std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
            for (const auto& [kept, count] : order) {
                const std::uint64_t d = BlockDistance(b, kept, image.palette);
                if (d < best) {
                    best = d;
                    it->second = kept;
                }
            }
        }
        b = it->second;
    }
    return false;
}

struct Codebook {
    std::vector<Block4> entries;
    std::vector<std::uint8_t> references;
};

// Entries shared by mirrored blocks: each class of blocks that are mirrors of one another is one
// entry (its first block seen); a block refers to it as q × c + k. Where the order of first
// appearance would make a reference reach 255, classes whose blocks need the larger q take the
// smaller k. Fails when a reference reaches 255 even so.
bool MirroredCodebook(const std::vector<Block4>& blocks, Codebook& book) {
    std::unordered_map<Block4, std::size_t> classOf;  // canonical form -> class
    std::vector<Block4> first;
    std::vector<int> largestQ;
    std::vector<std::pair<std::size_t, int>> picks;  // class and mirror of each block
    for (Block4 b : blocks) {
        Block4 canonical = b;
        for (int q = 1; q < 4; ++q) canonical = std::min(canonical, Mirror(b, q));
        auto [it, fresh] = classOf.emplace(canonical, first.size());
        if (fresh) {
            first.push_back(b);
            largestQ.push_back(0);
        }
        int q = 0;
        while (Mirror(first[it->second], q) != b) ++q;
        largestQ[it->second] = std::max(largestQ[it->second], q);
        picks.emplace_back(it->second, q);
    }
    const std::size_t c = first.size();
    // Entries in the order their blocks first appear when all references fit so; else sorted.
    std::vector<std::size_t> order(c);
    std::iota(order.begin(), order.end(), 0);
    auto fits = [&] {
        for (std::size_t k = 0; k < c; ++k) {
            if (static_cast<std::size_t>(largestQ[order[k]]) * c + k >= kMaxReferences) {
                return false;
            }
        }
        return true;
    };
    if (!fits()) {
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return largestQ[a] != largestQ[b] ? largestQ[a] > largestQ[b] : a < b;
        });
        if (!fits()) return false;
    }
    std::vector<std::size_t> slot(c);
    for (std::size_t k = 0; k < c; ++k) slot[order[k]] = k;
    book.entries.resize(c);
    for (std::size_t k = 0; k < c; ++k) book.entries[slot[k]] = first[k];
    book.references.clear();
    for (const auto& [cls, q] : picks) {
        book.references.push_back(
            static_cast<std::uint8_t>(static_cast<std::size_t>(q) * c + slot[cls]));
    }
    return true;
}

Codebook PlainCodebook(const std::vector<Block4>& blocks) {
    Codebook book;
    std::unordered_map<Block4, std::uint8_t> entry;
    for (Block4 b : blocks) {
        auto [it, fresh] = entry.emplace(b, static_cast<std::uint8_t>(book.entries.size()));
        if (fresh) book.entries.push_back(b);
        book.references.push_back(it->second);
    }
    return book;
}

// The references as bytes, runs of kLeastEscapedRun or more as escapes of up to 256 blocks. The
// escape of count 0 (a repeat to the end of the tile) is not used: it would let a large last tile
// take fewer bytes than the least a reader expects of a texture's tiles (tile_layouts.h).
void AppendQuadTile(const std::vector<Block4>& blocks, std::vector<std::uint8_t>& out) {
    Codebook book;
    if (!MirroredCodebook(blocks, book)) book = PlainCodebook(blocks);
    out.push_back(static_cast<std::uint8_t>(book.entries.size()));
    for (Block4 e : book.entries) {
        for (int k = 0; k < 4; ++k) out.push_back(Corner(e, k));
    }
    const std::vector<std::uint8_t>& refs = book.references;
    for (std::size_t i = 0; i < refs.size();) {
        std::size_t run = 1;
        while (i + run < refs.size() && refs[i + run] == refs[i]) ++run;
        run = std::min(run, kMaxRepeat);
        if (run >= kLeastEscapedRun) {
            out.insert(out.end(), {refs[i], kQuadEscape, static_cast<std::uint8_t>(run - 1)});
        } else {
            out.insert(out.end(), run, refs[i]);
        }
        i += run;
    }
}

}  // namespace

std::vector<std::uint8_t> StrideRows(const IndexedImage& image, std::size_t stride) {
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    std::vector<std::uint8_t> rows(stride * height, 0);
    for (std::size_t y = 0; y < height; ++y) {
        std::copy_n(image.pixels.begin() + static_cast<std::ptrdiff_t>(y * width),
                    std::min(width, stride),
                    rows.begin() + static_cast<std::ptrdiff_t>(y * stride));
    }
    return rows;
}

std::vector<std::uint8_t> SwizzleTiles(Bytes rows, std::size_t stride, std::int64_t height) {
    const auto h = static_cast<std::size_t>(std::max<std::int64_t>(height, 0));
    const std::size_t tileRows = (h + kByteTileRows - 1) / kByteTileRows;
    const std::size_t tilesX = stride / kByteTileWidth;
    std::vector<std::uint8_t> out(tileRows * kByteTileRows * stride, 0);
    for (std::size_t ty = 0; ty < tileRows; ++ty) {
        for (std::size_t tx = 0; tx < tilesX; ++tx) {
            for (std::size_t r = 0; r < kByteTileRows; ++r) {
                const std::size_t y = ty * kByteTileRows + r;
                if (y >= h) break;
                std::copy_n(
                    rows.begin() + static_cast<std::ptrdiff_t>(y * stride + tx * kByteTileWidth),
                    kByteTileWidth,
                    out.begin() + static_cast<std::ptrdiff_t>(ty * kByteTileRows * stride +
                                                              tx * kByteTileWidth * kByteTileRows +
                                                              r * kByteTileWidth));
            }
        }
    }
    return out;
}

std::vector<std::uint8_t> EncodeLookupTiles(IndexedImage& image, std::size_t stride, bool& exact) {
    const std::size_t tilesX = stride / kLookupTileWidth;
    const std::size_t tilesY = static_cast<std::size_t>(image.height) / kLookupTileRows;
    std::vector<LookupTile> tiles(tilesX * tilesY);
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        const std::size_t x0 = (t % tilesX) * kLookupTileWidth, y0 = (t / tilesX) * kLookupTileRows;
        for (std::size_t k = 0; k < kLookupTilePixels; ++k) {
            tiles[t].pixels[k] = Pixel(image, x0 + k % kLookupTileWidth, y0 + k / kLookupTileWidth);
        }
        MakeList(tiles[t], image, kMaxList, exact);
    }
    if (tiles.size() % 2 == 1 && !ShareLastNibble(tiles)) {
        MoveColourToTheSharedNibble(image, tiles);
        [[maybe_unused]] const bool shared = ShareLastNibble(tiles);
        assert(shared);
    }

    std::vector<std::uint8_t> out(tiles.size() / 2, 0);
    for (std::size_t t = 0; t < out.size() * 2; ++t) {
        const std::uint8_t v = ListValue(tiles[t]);
        out[t / 2] = static_cast<std::uint8_t>(out[t / 2] | (t % 2 == 0 ? v << 4 : v));
    }
    for (const LookupTile& tile : tiles) out.insert(out.end(), tile.list.begin(), tile.list.end());
    out.push_back(0);  // the check byte
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        const LookupTile& tile = tiles[t];
        if (tile.list.empty()) continue;
        std::array<std::uint8_t, 256> code{};
        for (std::size_t k = tile.list.size(); k-- > 0;)
            code[tile.list[k]] = static_cast<std::uint8_t>(k);
        for (std::size_t k = 0; k < kLookupTilePixels; k += 2) {
            out.push_back(
                static_cast<std::uint8_t>((code[tile.pixels[k]] << 4) | code[tile.pixels[k + 1]]));
        }
        // The stored pixels, reduced or not, are what the picture now holds.
        const std::size_t x0 = (t % tilesX) * kLookupTileWidth, y0 = (t / tilesX) * kLookupTileRows;
        for (std::size_t k = 0; k < kLookupTilePixels; ++k) {
            SetPixel(image, x0 + k % kLookupTileWidth, y0 + k / kLookupTileWidth, tile.pixels[k]);
        }
    }
    return out;
}

std::vector<std::uint8_t> EncodeQuadTiles(IndexedImage& image, std::size_t stride,
                                          std::int64_t tileWidth, std::int64_t tileHeight,
                                          bool& exact) {
    std::vector<std::uint8_t> out;
    if (tileWidth <= 0 || tileHeight <= 0) return out;
    const auto tw = static_cast<std::size_t>(tileWidth), th = static_cast<std::size_t>(tileHeight);
    const std::size_t tilesX = stride / tw;
    const std::size_t tilesY = static_cast<std::size_t>(image.height) / th;
    std::vector<Block4> blocks;
    for (std::size_t ty = 0; ty < tilesY; ++ty) {
        for (std::size_t tx = 0; tx < tilesX; ++tx) {
            const std::size_t x0 = tx * tw, y0 = ty * th;
            blocks.clear();
            for (std::size_t by = 0; by < th / 2; ++by) {
                for (std::size_t bx = 0; bx < tw / 2; ++bx) {
                    const std::size_t x = x0 + 2 * bx, y = y0 + 2 * by;
                    blocks.push_back(MakeBlock(Pixel(image, x, y), Pixel(image, x + 1, y),
                                               Pixel(image, x, y + 1), Pixel(image, x + 1, y + 1)));
                }
            }
            if (!ReduceBlocks(blocks, image)) exact = false;
            for (std::size_t k = 0; k < blocks.size(); ++k) {
                const std::size_t x = x0 + 2 * (k % (tw / 2)), y = y0 + 2 * (k / (tw / 2));
                for (int c = 0; c < 4; ++c) {
                    SetPixel(image, x + (c & 1), y + (c >> 1), Corner(blocks[k], c));
                }
            }
            AppendQuadTile(blocks, out);
        }
    }
    return out;
}

}  // namespace morvex

#include "encode/palette.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "it3/byte_reader.h"

namespace morvex {
namespace {

constexpr std::size_t kNoEntry = SIZE_MAX;
// Rounds of k-means after the median cut; each costs one pass over the distinct colours for
// every entry, and the error rarely moves after a few.
constexpr int kRefineRounds = 4;

int Channel(std::uint32_t colour, int c) {
    return static_cast<int>((colour >> (8 * c)) & 0xFF);
}

void SetEntry(std::vector<std::uint8_t>& palette, std::size_t i, std::uint32_t colour,
              std::uint8_t fourth) {
    if (palette.size() < 4 * (i + 1)) palette.resize(4 * (i + 1), 0);
    palette[4 * i] = static_cast<std::uint8_t>(colour);
    palette[4 * i + 1] = static_cast<std::uint8_t>(colour >> 8);
    palette[4 * i + 2] = static_cast<std::uint8_t>(colour >> 16);
    palette[4 * i + 3] = fourth;
}

std::uint8_t CommonFourthByte(const IndexedImage* original) {
    if (!original) return 0;
    std::array<std::size_t, 256> seen{};
    for (std::size_t i = 0; i < original->Entries(); ++i) ++seen[original->palette[4 * i + 3]];
    return static_cast<std::uint8_t>(std::max_element(seen.begin(), seen.end()) - seen.begin());
}

// One box of the median cut: a range of the colour list.
struct Box {
    std::size_t begin = 0, end = 0;
    std::uint64_t weight = 0;
    double spread = 0;  // weighted variance summed over the channels
    int widest = 0;     // the channel of the largest range
};

Box MakeBox(std::span<const std::uint32_t> colours, std::span<const std::uint64_t> counts,
            std::size_t begin, std::size_t end) {
    Box box{begin, end};
    double sum[3] = {}, squares[3] = {};
    int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
    for (std::size_t k = begin; k < end; ++k) {
        const auto w = static_cast<double>(counts[k]);
        box.weight += counts[k];
        for (int c = 0; c < 3; ++c) {
            const int v = Channel(colours[k], c);
            sum[c] += w * v;
            squares[c] += w * v * v;
            low[c] = std::min(low[c], v);
            high[c] = std::max(high[c], v);
        }
    }
    int range = -1;
    for (int c = 0; c < 3; ++c) {
        if (box.weight > 0)
            box.spread += squares[c] - sum[c] * sum[c] / static_cast<double>(box.weight);
        if (high[c] - low[c] > range) {
            range = high[c] - low[c];
            box.widest = c;
        }
    }
    return box;
}

}  // namespace

std::uint32_t EntryColour(std::span<const std::uint8_t> palette, std::size_t i) {
    if (4 * i + 4 > palette.size()) return 0;
    return ColourKey(palette.data() + 4 * i);
}

std::uint32_t ColourDistance(std::uint32_t a, std::uint32_t b) {
    std::uint32_t d = 0;
    for (int c = 0; c < 3; ++c) {
        const int e = Channel(a, c) - Channel(b, c);
        d += static_cast<std::uint32_t>(e * e);
    }
    return d;
}

std::vector<std::uint8_t> DeltaPalette(std::span<const std::uint8_t> palette) {
    std::vector<std::uint8_t> out(palette.begin(), palette.end());
    std::uint32_t previous = 0;
    for (std::size_t i = 0; i + 4 <= palette.size(); i += 4) {
        const std::uint32_t v = LoadU32(palette.data() + i);
        StoreU32(out.data() + i, v - previous);
        previous = v;
    }
    return out;
}

std::size_t NearestColour(std::span<const std::uint32_t> palette, std::uint32_t colour) {
    std::size_t best = 0;
    std::uint32_t bestDistance = std::numeric_limits<std::uint32_t>::max();
    for (std::size_t i = 0; i < palette.size() && bestDistance > 0; ++i) {
        const std::uint32_t d = ColourDistance(palette[i], colour);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

std::vector<std::uint32_t> Quantise(std::span<const std::uint32_t> colours,
                                    std::span<const std::uint64_t> counts, std::size_t entries) {
    if (colours.size() <= entries) return {colours.begin(), colours.end()};
    std::vector<std::uint32_t> list(colours.begin(), colours.end());
    std::vector<std::uint64_t> weights(counts.begin(), counts.end());
    std::vector<Box> boxes{MakeBox(list, weights, 0, list.size())};
    while (boxes.size() < entries) {
        auto widest = std::max_element(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
            return (a.end - a.begin > 1 ? a.spread : -1) < (b.end - b.begin > 1 ? b.spread : -1);
        });
        if (widest->end - widest->begin < 2) break;
        const Box box = *widest;
        // Sort the box's colours along its widest channel (weights travel with them) and cut
        // at the weighted median, leaving at least one colour on each side.
        std::vector<std::size_t> order(box.end - box.begin);
        for (std::size_t k = 0; k < order.size(); ++k) order[k] = box.begin + k;
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return Channel(list[a], box.widest) < Channel(list[b], box.widest);
        });
        std::vector<std::uint32_t> sortedColours(order.size());
        std::vector<std::uint64_t> sortedWeights(order.size());
        for (std::size_t k = 0; k < order.size(); ++k) {
            sortedColours[k] = list[order[k]];
            sortedWeights[k] = weights[order[k]];
        }
        std::copy(sortedColours.begin(), sortedColours.end(),
                  list.begin() + static_cast<std::ptrdiff_t>(box.begin));
        std::copy(sortedWeights.begin(), sortedWeights.end(),
                  weights.begin() + static_cast<std::ptrdiff_t>(box.begin));
        std::uint64_t half = 0;
        std::size_t cut = box.begin + 1;
        for (std::size_t k = box.begin; k + 1 < box.end; ++k) {
            half += weights[k];
            cut = k + 1;
            if (2 * half >= box.weight) break;
        }
        *widest = MakeBox(list, weights, box.begin, cut);
        boxes.push_back(MakeBox(list, weights, cut, box.end));
    }

    // The weighted mean of each box, then k-means over the distinct colours.
    std::vector<std::uint32_t> palette;
    std::vector<std::size_t> assignment(list.size());
    for (std::size_t b = 0; b < boxes.size(); ++b) {
        double sum[3] = {};
        for (std::size_t k = boxes[b].begin; k < boxes[b].end; ++k) {
            for (int c = 0; c < 3; ++c)
                sum[c] += static_cast<double>(weights[k]) * Channel(list[k], c);
            assignment[k] = b;
        }
        std::uint32_t colour = 0;
        for (int c = 0; c < 3; ++c) {
            const double mean = boxes[b].weight ? sum[c] / static_cast<double>(boxes[b].weight) : 0;
            colour |= static_cast<std::uint32_t>(std::clamp(static_cast<int>(mean + 0.5), 0, 255))
                      << (8 * c);
        }
        palette.push_back(colour);
    }
    double previous = std::numeric_limits<double>::max();
    for (int round = 0; round < kRefineRounds; ++round) {
        double error = 0;
        for (std::size_t k = 0; k < list.size(); ++k) {
            assignment[k] = NearestColour(palette, list[k]);
            error +=
                static_cast<double>(weights[k]) * ColourDistance(palette[assignment[k]], list[k]);
        }
        if (error >= previous) break;
        previous = error;
        std::vector<std::array<double, 4>> sums(palette.size());
        for (std::size_t k = 0; k < list.size(); ++k) {
            auto& s = sums[assignment[k]];
            const auto w = static_cast<double>(weights[k]);
            for (int c = 0; c < 3; ++c) s[static_cast<std::size_t>(c)] += w * Channel(list[k], c);
            s[3] += w;
        }
        for (std::size_t i = 0; i < palette.size(); ++i) {
            if (sums[i][3] == 0) continue;
            std::uint32_t colour = 0;
            for (int c = 0; c < 3; ++c) {
                colour |=
                    static_cast<std::uint32_t>(std::clamp(
                        static_cast<int>(sums[i][static_cast<std::size_t>(c)] / sums[i][3] + 0.5),
                        0, 255))
                    << (8 * c);
            }
            palette[i] = colour;
        }
    }
    return palette;
}

IndexedImage MapToPalette(std::int32_t width, std::int32_t height,
                          std::span<const std::uint8_t> rgba, const IndexedImage* original) {
    IndexedImage out;
    out.width = width;
    out.height = height;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    out.pixels.assign(n, 0);
    const std::uint8_t fourth = CommonFourthByte(original);
    auto colourAt = [&](std::size_t p) { return ColourKey(rgba.data() + 4 * p); };

    // The original's whole entries (at most 256), and the lowest index of each of its colours.
    std::vector<std::uint8_t> originalPalette;
    std::unordered_map<std::uint32_t, std::size_t> originalIndex;
    if (original) {
        const std::size_t entries = std::min(original->Entries(), kMaxPaletteEntries);
        originalPalette.assign(
            original->palette.begin(),
            original->palette.begin() + static_cast<std::ptrdiff_t>(4 * entries));
        for (std::size_t i = entries; i-- > 0;) originalIndex[EntryColour(originalPalette, i)] = i;
    }

    // First try: pixels keep their original index where their colour did not change.
    if (original && original->width == width && original->height == height &&
        original->pixels.size() == n) {
        std::vector<std::size_t> index(n, kNoEntry);
        std::array<bool, kMaxPaletteEntries> used{};
        const std::size_t entries = originalPalette.size() / 4;
        for (std::size_t p = 0; p < n; ++p) {
            const std::size_t o = original->pixels[p];
            if (o < entries && EntryColour(originalPalette, o) == colourAt(p)) {
                index[p] = o;
                used[o] = true;
            }
        }
        // Colours an original entry has take it; the rest take entries no kept pixel uses.
        std::unordered_map<std::uint32_t, std::size_t> assigned;
        std::vector<std::uint32_t> fresh;
        for (std::size_t p = 0; p < n; ++p) {
            if (index[p] != kNoEntry) continue;
            const std::uint32_t c = colourAt(p);
            if (assigned.count(c)) continue;
            if (auto it = originalIndex.find(c); it != originalIndex.end()) {
                assigned[c] = it->second;
                used[it->second] = true;
            } else {
                assigned[c] = kNoEntry;
                fresh.push_back(c);
            }
        }
        std::vector<std::uint8_t> palette = originalPalette;
        std::size_t slot = 0;
        bool fits = true;
        for (std::uint32_t c : fresh) {
            while (slot < kMaxPaletteEntries && used[slot]) ++slot;
            if (slot == kMaxPaletteEntries) {
                fits = false;
                break;
            }
            SetEntry(palette, slot, c, fourth);
            used[slot] = true;
            assigned[c] = slot;
        }
        if (fits) {
            for (std::size_t p = 0; p < n; ++p) {
                out.pixels[p] = static_cast<std::uint8_t>(
                    index[p] != kNoEntry ? index[p] : assigned[colourAt(p)]);
            }
            out.palette = std::move(palette);
            return out;
        }
    }

    // Every colour one entry: the original's where it has one, else one whose colour the picture
    // does not use, else a new one.
    std::unordered_map<std::uint32_t, std::size_t> entryOf;
    std::vector<std::uint32_t> order;
    for (std::size_t p = 0; p < n && order.size() <= kMaxPaletteEntries; ++p) {
        if (entryOf.emplace(colourAt(p), kNoEntry).second) order.push_back(colourAt(p));
    }
    if (order.size() <= kMaxPaletteEntries) {
        std::vector<std::uint8_t> palette = originalPalette;
        std::array<bool, kMaxPaletteEntries> taken{};
        for (std::uint32_t c : order) {
            if (auto it = originalIndex.find(c); it != originalIndex.end()) {
                entryOf[c] = it->second;
                taken[it->second] = true;
            }
        }
        std::size_t slot = 0;
        for (std::uint32_t c : order) {
            if (entryOf[c] != kNoEntry) continue;
            while (taken[slot]) ++slot;
            SetEntry(palette, slot, c, fourth);
            taken[slot] = true;
            entryOf[c] = slot;
        }
        for (std::size_t p = 0; p < n; ++p) {
            out.pixels[p] = static_cast<std::uint8_t>(entryOf[colourAt(p)]);
        }
        out.palette = std::move(palette);
        return out;
    }

    // More colours than entries: quantise.
    std::vector<std::uint32_t> keys(n);
    for (std::size_t p = 0; p < n; ++p) keys[p] = colourAt(p);
    std::vector<std::uint32_t> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::uint32_t> colours;
    std::vector<std::uint64_t> counts;
    for (std::uint32_t c : sorted) {
        if (colours.empty() || colours.back() != c) {
            colours.push_back(c);
            counts.push_back(0);
        }
        ++counts.back();
    }
    const std::vector<std::uint32_t> palette = Quantise(colours, counts, kMaxPaletteEntries);
    std::vector<std::uint8_t> nearest(colours.size());
    for (std::size_t k = 0; k < colours.size(); ++k) {
        nearest[k] = static_cast<std::uint8_t>(NearestColour(palette, colours[k]));
    }
    for (std::size_t p = 0; p < n; ++p) {
        const auto k = static_cast<std::size_t>(
            std::lower_bound(colours.begin(), colours.end(), keys[p]) - colours.begin());
        out.pixels[p] = nearest[k];
    }
    for (std::size_t i = 0; i < palette.size(); ++i) SetEntry(out.palette, i, palette[i], fourth);
    return out;
}

}  // namespace morvex

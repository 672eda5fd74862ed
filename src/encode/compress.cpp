#include "encode/compress.h"

#include <algorithm>
#include <stdexcept>

namespace morvex {

// ---- StreamWriter ----

void StreamWriter::BeginSegment() {
    segmentStart_ = out_.size();
    out_.insert(out_.end(), {0, 0, 0, 0});
    words_.clear();
    bitsUsed_ = 0;
    bitsHeld_ = 8;  // the first control byte
}

void StreamWriter::EndSegment(std::uint8_t terminator) {
    std::size_t length = out_.size() - segmentStart_;
    if (length > 65535) throw std::length_error("segment body too long");
    EndSegmentWithLength(static_cast<std::uint16_t>(length), terminator);
}

void StreamWriter::EndSegmentWithLength(std::uint16_t length, std::uint8_t terminator) {
    out_[segmentStart_] = static_cast<std::uint8_t>(length);
    out_[segmentStart_ + 1] = static_cast<std::uint8_t>(length >> 8);
    out_.push_back(terminator);
}

// The decoder's load(k): with fewer than k bits held it takes the next two stream bytes as a
// control word, so the word slot goes right here in the byte stream.
void StreamWriter::Load(std::uint32_t k) {
    if (bitsHeld_ >= k) return;
    words_.push_back(out_.size());
    out_.insert(out_.end(), {0, 0});
    bitsHeld_ += 16;
}

// Control bits are used in the order: first control byte bit 0 to 7, then each word bit 0 to 15.
void StreamWriter::PutBit(std::uint32_t bit) {
    if (bitsHeld_ == 0) throw std::logic_error("control bit written without a load");
    std::size_t n = bitsUsed_++;
    --bitsHeld_;
    if (!bit) return;
    if (n < 8) {
        out_[segmentStart_ + 3] |= static_cast<std::uint8_t>(1u << n);
    } else {
        std::size_t k = (n - 8) % 16;
        out_[words_[(n - 8) / 16] + k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
    }
}

// A field is read most significant bit first.
void StreamWriter::PutField(std::uint32_t value, int width) {
    for (int b = width - 1; b >= 0; --b) PutBit((value >> b) & 1u);
}

// 1 -> 2, 01 -> 3, 001 -> 4, 0001 -> 5, 00001vvv -> 6..13, 00000 + byte -> 14..269, with a
// load(1) after each of the first four 0 bits.
void StreamWriter::PutLength(std::uint32_t length) {
    if (length < 2 || length > kMaxMatchLength) throw std::invalid_argument("match length");
    std::uint32_t zeros = std::min<std::uint32_t>(length - 2, 4);
    for (std::uint32_t k = 0; k < zeros; ++k) {
        PutBit(0);
        Load(1);
    }
    if (length <= 5) {
        PutBit(1);
    } else if (length <= 13) {
        PutBit(1);
        Load(3);
        PutField(length - 6, 3);
    } else {
        PutBit(0);
        PutByte(static_cast<std::uint8_t>(length - 14));
    }
}

void StreamWriter::Literal(std::uint8_t value) {
    Load(1);
    PutBit(0);
    PutByte(value);
}

void StreamWriter::Near(std::uint32_t distance, std::uint32_t length) {
    if (distance > kMaxNearDistance) throw std::invalid_argument("near distance");
    Load(1);
    PutBit(1);
    Load(1);
    PutBit(0);
    PutByte(static_cast<std::uint8_t>(distance));
    Load(1);
    PutLength(length);
}

void StreamWriter::Far(std::uint32_t distance, std::uint32_t length) {
    if (distance <= kMaxNearDistance || distance > kMaxFarDistance) {
        throw std::invalid_argument("far distance");
    }
    Load(1);
    PutBit(1);
    Load(1);
    PutBit(1);
    Load(5);
    PutByte(static_cast<std::uint8_t>(distance));
    PutField(distance >> 8, 5);
    Load(2);
    PutLength(length);
}

void StreamWriter::Run(std::uint8_t value, std::uint32_t count, bool longForm) {
    if (count < kMinRunLength || count > kMaxRunLength) throw std::invalid_argument("run count");
    RunMarker(0);
    Load(5);
    std::uint32_t rest = count - kMinRunLength;
    if (!longForm && count <= kMaxShortRun) {
        PutByte(value);
        PutBit(0);
        PutField(rest, 4);
    } else {
        PutByte(static_cast<std::uint8_t>(rest));
        PutBit(1);
        PutField(rest >> 8, 4);
        PutByte(value);
    }
}

void StreamWriter::RunMarker(std::uint8_t c) {
    Load(1);
    PutBit(1);
    Load(1);
    PutBit(1);
    Load(5);
    PutByte(c);
    PutField(0, 5);
}

// ---- Compress ----

namespace {

constexpr std::size_t kWindow = 8192;  // a power of two above the longest distance, 8191
constexpr int kHashBits = 16;

// Control bits of a length code.
int LengthBits(std::uint32_t length) {
    if (length <= 5) return static_cast<int>(length) - 1;
    if (length <= 13) return 8;
    return 13;
}

// Bits saved against coding the same bytes as literals (9 bits each).
int MatchSavings(std::uint32_t length, std::uint32_t distance) {
    int cost = 2 + 8 + (distance > kMaxNearDistance ? 5 : 0) + LengthBits(length);
    return 9 * static_cast<int>(length) - cost;
}
int RunSavings(std::uint32_t count) {
    return 9 * static_cast<int>(count) - (count <= kMaxShortRun ? 28 : 36);
}

struct Choice {
    enum Kind { kLiteral, kMatch, kRun } kind = kLiteral;
    std::uint32_t length = 1;
    std::uint32_t distance = 0;
    int savings = 0;
};

class Compressor {
  public:
    Compressor(std::span<const std::uint8_t> data, const CompressOptions& options)
        : data_(data),
          options_(options),
          head_(std::size_t{1} << kHashBits, -1),
          chain_(kWindow, -1),
          lastPair_(65536, -1) {
        maxBody_ = std::clamp(options.maxSegmentBody, kMaxTokenBytes, kMaxSegmentBody);
    }

    std::vector<std::uint8_t> Run() {
        const std::size_t n = data_.size();
        writer_.BeginSegment();
        std::size_t pos = 0;
        Choice current = Find(0);
        while (pos < n) {
            // One step of lazy matching: a better token one byte later wins over this one.
            if (current.kind != Choice::kLiteral && current.length < 64 && pos + 1 < n) {
                InsertUpTo(pos + 1);
                Choice next = Find(pos + 1);
                if (next.savings > current.savings) {
                    Emit(Choice{}, pos);
                    pos += 1;
                    current = next;
                    continue;
                }
            }
            Emit(current, pos);
            pos += current.length;
            InsertUpTo(pos);
            current = Find(pos);
        }
        if (segment_ == 0) {
            // The first terminator never ends the stream (0 counts as 255): an empty second
            // segment with terminator 0 does.
            writer_.EndSegment(0);
            writer_.BeginSegment();
        }
        writer_.EndSegment(0);
        return writer_.Take();
    }

  private:
    std::uint32_t Hash3(std::size_t pos) const {
        std::uint32_t v = static_cast<std::uint32_t>(data_[pos]) |
                          (static_cast<std::uint32_t>(data_[pos + 1]) << 8) |
                          (static_cast<std::uint32_t>(data_[pos + 2]) << 16);
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    std::uint32_t Pair(std::size_t pos) const {
        return static_cast<std::uint32_t>(data_[pos]) |
               (static_cast<std::uint32_t>(data_[pos + 1]) << 8);
    }

    void InsertUpTo(std::size_t end) {
        for (; inserted_ < end; ++inserted_) {
            std::size_t pos = inserted_;
            if (pos + 3 <= data_.size()) {
                std::uint32_t h = Hash3(pos);
                chain_[pos % kWindow] = head_[h];
                head_[h] = static_cast<std::int64_t>(pos);
            }
            if (pos + 2 <= data_.size()) lastPair_[Pair(pos)] = static_cast<std::int64_t>(pos);
        }
    }

    std::uint32_t MatchLength(std::size_t from, std::size_t pos, std::uint32_t maxLength) const {
        std::uint32_t k = 0;
        while (k < maxLength && data_[from + k] == data_[pos + k]) ++k;
        return k;
    }

    // The best token at `pos`, looking only at positions already inserted (all below pos).
    Choice Find(std::size_t pos) {
        Choice best;
        const std::size_t n = data_.size();
        if (pos >= n) return best;
        auto maxLength =
            static_cast<std::uint32_t>(std::min<std::size_t>(kMaxMatchLength, n - pos));
        auto consider = [&](Choice::Kind kind, std::uint32_t length, std::uint32_t distance,
                            int savings) {
            if (savings > best.savings) best = Choice{kind, length, distance, savings};
        };
        if (options_.runs && maxLength >= kMinRunLength) {
            auto count = static_cast<std::uint32_t>(std::min<std::size_t>(kMaxRunLength, n - pos));
            std::uint32_t same = 1;
            while (same < count && data_[pos + same] == data_[pos]) ++same;
            if (same >= kMinRunLength) consider(Choice::kRun, same, 0, RunSavings(same));
        }
        if (!options_.matches || maxLength < 2) return best;
        std::int64_t pair = lastPair_[Pair(pos)];
        if (pair >= 0 && pos - static_cast<std::size_t>(pair) <= kMaxNearDistance) {
            auto from = static_cast<std::size_t>(pair);
            std::uint32_t length = MatchLength(from, pos, maxLength);
            auto distance = static_cast<std::uint32_t>(pos - from);
            consider(Choice::kMatch, length, distance, MatchSavings(length, distance));
        }
        if (maxLength >= 3) {
            std::int64_t candidate = head_[Hash3(pos)];
            for (int depth = options_.chainDepth; depth > 0 && candidate >= 0; --depth) {
                auto from = static_cast<std::size_t>(candidate);
                if (pos - from > kMaxFarDistance) break;
                std::uint32_t length = MatchLength(from, pos, maxLength);
                if (length >= 2) {
                    auto distance = static_cast<std::uint32_t>(pos - from);
                    consider(Choice::kMatch, length, distance, MatchSavings(length, distance));
                    if (length == maxLength && distance <= kMaxNearDistance) break;
                }
                std::int64_t next = chain_[from % kWindow];
                if (next >= candidate) break;
                candidate = next;
            }
        }
        return best;
    }

    void Emit(const Choice& choice, std::size_t pos) {
        if (writer_.BodySize() + kMaxTokenBytes > maxBody_) {
            // Terminators while more segments follow: the first 0 (it counts as 255), then
            // 254, 253, ... down to 1, so that none exceeds the one before.
            writer_.EndSegment(
                segment_ == 0 ? 0 : static_cast<std::uint8_t>(std::max(1, 255 - segment_)));
            ++segment_;
            writer_.BeginSegment();
        }
        switch (choice.kind) {
            case Choice::kLiteral:
                writer_.Literal(data_[pos]);
                break;
            case Choice::kRun:
                writer_.Run(data_[pos], choice.length);
                break;
            case Choice::kMatch:
                if (choice.distance <= kMaxNearDistance) {
                    writer_.Near(choice.distance, choice.length);
                } else {
                    writer_.Far(choice.distance, choice.length);
                }
                break;
        }
    }

    std::span<const std::uint8_t> data_;
    CompressOptions options_;
    std::size_t maxBody_ = kMaxSegmentBody;
    std::vector<std::int64_t> head_;      // latest position of each 3-byte hash
    std::vector<std::int64_t> chain_;     // previous position with the same hash, by pos % kWindow
    std::vector<std::int64_t> lastPair_;  // latest position of each 2-byte value
    std::size_t inserted_ = 0;
    StreamWriter writer_;
    int segment_ = 0;
};

}  // namespace

std::vector<std::uint8_t> Compress(std::span<const std::uint8_t> data,
                                   const CompressOptions& options) {
    return Compressor(data, options).Run();
}

}  // namespace morvex

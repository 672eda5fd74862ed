#include "encode/compress.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "it3/parallel.h"

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
constexpr std::int32_t kNone = -1;
// How hard the match finder looks: candidates per position, the length that ends the search
// (and is not weighed against a token one byte later). Streams up to kSmallStream bytes (tables,
// most textures) take the deep search, whose cost there is small; longer ones (vertex and index
// data of megabytes) a shallow one, about 2.5 times faster for 0.5 % more bytes.
struct Effort {
    int chainDepth;
    std::uint32_t niceLength;
    std::uint32_t lazyBelow;
};
constexpr Effort kDeep{64, 96, 32};
constexpr Effort kShallow{16, 32, 16};
constexpr std::size_t kSmallStream = std::size_t{1} << 18;
constexpr std::uint8_t kEmptySegment[] = {4, 0, 0, 0};

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

// The match finder's tables, kept per thread for the next piece: positions relative to the
// piece's window start, kNone where empty.
struct MatchTables {
    std::vector<std::int32_t> head;      // latest position of each 3-byte hash
    std::vector<std::int32_t> chain;     // previous position with the same hash, by pos % kWindow
    std::vector<std::int32_t> lastPair;  // latest position of each 2-byte value

    void Reset() {
        head.assign(std::size_t{1} << kHashBits, kNone);
        chain.assign(kWindow, kNone);
        lastPair.assign(65536, kNone);
    }
};

// The segments of one piece of the stream; each segment's terminator is left to the caller.
struct Piece {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> terminators;  // positions in `bytes`
};

// Compresses data_[begin, end) into whole segments. Matches may reach back before `begin`, up
// to the window, so that cutting a stream into pieces costs only the tokens at the cuts.
class Compressor {
  public:
    Compressor(std::span<const std::uint8_t> data, std::size_t begin, std::size_t end,
               const CompressOptions& options, MatchTables& tables)
        : base_(begin >= kWindow ? begin - kWindow : 0),
          data_(data.subspan(base_, end - base_)),
          begin_(begin - base_),
          options_(options),
          effort_(options.chainDepth > 0
                      ? Effort{options.chainDepth, kDeep.niceLength, kDeep.lazyBelow}
                  : data.size() <= kSmallStream ? kDeep
                                                : kShallow),
          tables_(tables) {
        maxBody_ = std::clamp(options.maxSegmentBody, kMaxTokenBytes, kMaxSegmentBody);
        tables_.Reset();
        inserted_ = 0;
        // Literals cost 9 bits a byte: an incompressible piece grows by an eighth, plus the
        // segment headers.
        writer_.Reserve((end - begin) + (end - begin) / 8 + 64);
    }

    Piece Run() {
        const std::size_t n = data_.size();
        writer_.BeginSegment();
        std::size_t pos = begin_;
        InsertUpTo(pos);
        Choice current = Find(pos);
        while (pos < n) {
            // One step of lazy matching: a better token one byte later wins over this one.
            if (current.kind != Choice::kLiteral && current.length < effort_.lazyBelow &&
                pos + 1 < n) {
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
        EndSegment();
        return Piece{writer_.Take(), std::move(terminators_)};
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
            const std::size_t pos = inserted_;
            if (pos + 3 <= data_.size()) {
                const std::uint32_t h = Hash3(pos);
                tables_.chain[pos % kWindow] = tables_.head[h];
                tables_.head[h] = static_cast<std::int32_t>(pos);
            }
            if (pos + 2 <= data_.size()) {
                tables_.lastPair[Pair(pos)] = static_cast<std::int32_t>(pos);
            }
        }
    }

    // How many bytes from `from` equal those from `pos` (from < pos), up to maxLength: eight at
    // a time while they can.
    std::uint32_t MatchLength(std::size_t from, std::size_t pos, std::uint32_t maxLength) const {
        std::uint32_t k = 0;
        const std::uint8_t* a = data_.data() + from;
        const std::uint8_t* b = data_.data() + pos;
        while (k + 8 <= maxLength) {
            std::uint64_t x, y;
            std::memcpy(&x, a + k, 8);
            std::memcpy(&y, b + k, 8);
            if (x != y) {
                return k + static_cast<std::uint32_t>(std::countr_zero(x ^ y) / 8);
            }
            k += 8;
        }
        while (k < maxLength && a[k] == b[k]) ++k;
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
        if (options_.runs && maxLength >= kMinRunLength && data_[pos + 1] == data_[pos]) {
            auto count = static_cast<std::uint32_t>(std::min<std::size_t>(kMaxRunLength, n - pos));
            std::uint32_t same = 1;
            while (same < count && data_[pos + same] == data_[pos]) ++same;
            if (same >= kMinRunLength) {
                consider(Choice::kRun, same, 0, RunSavings(same));
                if (same >= kMaxMatchLength) return best;  // no match can say more
            }
        }
        if (!options_.matches || maxLength < 2) return best;
        std::uint32_t longest = 0;
        const std::int32_t pair = tables_.lastPair[Pair(pos)];
        if (pair != kNone && pos - static_cast<std::size_t>(pair) <= kMaxNearDistance) {
            const auto from = static_cast<std::size_t>(pair);
            longest = MatchLength(from, pos, maxLength);
            const auto distance = static_cast<std::uint32_t>(pos - from);
            consider(Choice::kMatch, longest, distance, MatchSavings(longest, distance));
        }
        if (maxLength >= 3 && longest < maxLength) {
            std::int32_t candidate = tables_.head[Hash3(pos)];
            for (int depth = effort_.chainDepth; depth > 0 && candidate != kNone; --depth) {
                const auto from = static_cast<std::size_t>(candidate);
                if (pos - from > kMaxFarDistance) break;
                // Candidates come nearest first: a farther one pays only when it is longer.
                if (data_[from + longest] == data_[pos + longest]) {
                    const std::uint32_t length = MatchLength(from, pos, maxLength);
                    if (length > longest && length >= 2) {
                        longest = length;
                        const auto distance = static_cast<std::uint32_t>(pos - from);
                        consider(Choice::kMatch, length, distance, MatchSavings(length, distance));
                        if (length >= effort_.niceLength || length == maxLength) break;
                    }
                }
                const std::int32_t next = tables_.chain[from % kWindow];
                if (next >= candidate) break;
                candidate = next;
            }
        }
        return best;
    }

    void EndSegment() {
        writer_.EndSegment(0);
        terminators_.push_back(writer_.Bytes().size() - 1);
    }

    void Emit(const Choice& choice, std::size_t pos) {
        if (writer_.BodySize() + kMaxTokenBytes > maxBody_) {
            EndSegment();
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

    std::size_t base_;  // where data_ starts in the caller's data
    std::span<const std::uint8_t> data_;
    std::size_t begin_;
    CompressOptions options_;
    Effort effort_;
    MatchTables& tables_;
    std::size_t maxBody_ = kMaxSegmentBody;
    std::size_t inserted_ = 0;
    StreamWriter writer_;
    std::vector<std::size_t> terminators_;
};

}  // namespace

std::vector<std::uint8_t> Compress(std::span<const std::uint8_t> data,
                                   const CompressOptions& options) {
    const std::size_t pieceSize = std::max<std::size_t>(options.pieceSize, 1);
    const std::size_t count = std::max<std::size_t>(1, (data.size() + pieceSize - 1) / pieceSize);
    std::vector<Piece> pieces(count);
    ForEachIndex(count, [&](std::size_t k) {
        thread_local MatchTables tables;
        const std::size_t begin = k * pieceSize;
        pieces[k] =
            Compressor(data, begin, std::min(data.size(), begin + pieceSize), options, tables)
                .Run();
    });

    // Terminators: the first segment's 0 counts as 255 and never ends the stream; 1 on the
    // segments between (none larger than the one before) and 0 on the last end it. A stream of
    // one segment gets an empty second one, so that it ends by itself whatever the destination.
    std::size_t total = 0, segments = 0;
    for (const Piece& piece : pieces) {
        total += piece.bytes.size();
        segments += piece.terminators.size();
    }
    std::vector<std::uint8_t> out;
    out.reserve(total + sizeof kEmptySegment + 1);
    std::size_t segment = 0;
    for (const Piece& piece : pieces) {
        const std::size_t start = out.size();
        out.insert(out.end(), piece.bytes.begin(), piece.bytes.end());
        for (std::size_t at : piece.terminators) {
            ++segment;
            out[start + at] = segment == 1 || segment == segments ? 0 : 1;
        }
    }
    if (segments == 1) {
        out.insert(out.end(), std::begin(kEmptySegment), std::end(kEmptySegment));
        out.push_back(0);
    }
    return out;
}

}  // namespace morvex

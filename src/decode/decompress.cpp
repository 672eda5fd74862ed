#include "decode/decompress.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>
#include <new>

namespace morvex {
namespace {

constexpr std::int64_t kLongestMatch = 269;
constexpr std::int64_t kLongestRun = 4109;

// The fast path runs a token only while these margins hold at its start. At most one control
// word falls inside a token (after a load at least 16 bits are held, more than the rest of any
// token needs), so a token takes at most 5 stream bytes: a word and c, t and the value of a long
// run. A batch of literals reads 16 bytes after a control word. Writes reach at most 32 bytes
// past the end of a token (16-byte copies, the pattern set-up of a short-distance match).
constexpr std::int64_t kFastSourceMargin = 32;
constexpr std::int64_t kFastOutputMargin = kLongestRun + 64;
static_assert(kLongestMatch + 32 < kFastOutputMargin);
// Outputs up to this size are decoded through memory of their own with room behind them.
constexpr std::size_t kSmallOutput = 32 * 1024;

// Fields are stored most significant bit first in reading order, that is bit-reversed in the
// bit buffer, which hands out its least significant bit first.
constexpr std::array<std::uint8_t, 32> MakeReversed(int width) {
    std::array<std::uint8_t, 32> table{};
    for (int v = 0; v < (1 << width); ++v) {
        int r = 0;
        for (int b = 0; b < width; ++b) r |= ((v >> b) & 1) << (width - 1 - b);
        table[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(r);
    }
    return table;
}
constexpr std::array<std::uint8_t, 32> kReversed3 = MakeReversed(3);
constexpr std::array<std::uint8_t, 32> kReversed4 = MakeReversed(4);
constexpr std::array<std::uint8_t, 32> kReversed5 = MakeReversed(5);

// Copy 8 or 16 bytes through a register: the ranges may overlap.
inline void Copy8(std::uint8_t* to, const std::uint8_t* from) {
    std::uint8_t chunk[8];
    std::memcpy(chunk, from, 8);
    std::memcpy(to, chunk, 8);
}
inline void Copy16(std::uint8_t* to, const std::uint8_t* from) {
    std::uint8_t chunk[16];
    std::memcpy(chunk, from, 16);
    std::memcpy(to, chunk, 16);
}

}  // namespace

// One decoding run.
//
// Invariant shared by both paths: the bytes of the destination at and beyond the output position
// i are unspecified while decoding (the fast path writes up to 32 bytes past its tokens) and are
// set to zero when decoding ends. Only a match of distance 0 reads at i itself, and such a match
// writes zeros, which is what it copies from a destination that was zero-filled beforehand.
//
// The careful path checks every read against the source limit; a read that would reach it ends
// decoding (the `false` results), keeping what was produced. The fast path runs whole tokens
// whose every read and write was proven in bounds once at the token start.
class StreamDecoder {
  public:
    // Decodes into `dest`, which holds the whole output. With `slack`, kFastOutputMargin more
    // bytes follow it that the decoder may overwrite: the fast path then runs to the end of the
    // output instead of stopping a margin before it.
    StreamDecoder(MutableBytes dest, Bytes source, std::int32_t sourceSize, bool slack = false)
        : StreamDecoder(dest.data(), static_cast<std::int64_t>(dest.size()), source, sourceSize,
                        slack,
                        static_cast<std::int64_t>(dest.size()) + (slack ? kFastOutputMargin : 0)) {}

    // Decodes an output of `size` bytes through `window` (`room` bytes), of which only the
    // positions below the stop of each Step are produced (see StreamReader). With `slack`, the
    // window holds kFastOutputMargin bytes beyond each stop.
    StreamDecoder(std::uint8_t* window, std::int64_t size, Bytes source, std::int32_t sourceSize,
                  bool slack, std::int64_t room)
        : out_(window),
          outSize_(size),
          room_(room),
          src_(source.data()),
          limit_(static_cast<std::int64_t>(source.size())),
          sourceSize_(sourceSize),
          stop_(size) {
        // Positions below fastSourceEnd_ leave room for a whole token before both the source
        // size (so no check of j against it can fire inside the token) and the source limit.
        std::int64_t end = std::min(limit_, sourceSize_ + 1);
        fastSourceEnd_ = end - kFastSourceMargin;
        fastOutputEnd_ = slack ? outSize_ - 1 : outSize_ - kFastOutputMargin;
    }

    std::int32_t Run() {
        DecodeSegments();
        std::fill(out_ + i_, out_ + outSize_, std::uint8_t{0});
        return static_cast<std::int32_t>(i_);
    }

    // Decodes until the output position reaches `stop` (tokens are whole: it may end up to
    // kLongestRun bytes beyond) or the stream ends; false when it has ended.
    bool Step(std::int64_t stop) {
        stop_ = stop;
        return DecodeSegments();
    }
    // The output position: the bytes below it are produced.
    std::int64_t Position() const { return i_; }
    const std::uint8_t* Output() const { return out_; }
    // Moves the last `keep` bytes below the output position to the start of the window; the
    // positions that follow move with them.
    void Shift(std::int64_t keep) {
        const std::int64_t by = i_ - keep;
        if (by <= 0) return;
        std::memmove(out_, out_ + by, static_cast<std::size_t>(keep));
        i_ -= by;
        outSize_ -= by;
        fastOutputEnd_ -= by;
    }

  private:
    // Runs segments until the stream ends (false) or the output position reaches stop_ (true).
    // Between two tokens the whole state is in members, so a later call goes on from there.
    bool DecodeSegments() {
        for (;;) {
            if (!inBody_) {
                if (i_ >= outSize_ || j_ > sourceSize_) return false;
                if (limit_ - j_ < 4) return false;
                std::int64_t length = LoadU16(src_ + j_);
                std::uint8_t flag = src_[j_ + 2];
                bits_ = src_[j_ + 3];
                count_ = 8;
                j_ += 4;
                if (flag != 0) return false;
                // Every stream byte taken after the header counts towards the body, control
                // words included, so the body is used up exactly when j reaches the segment
                // start + L.
                bodyEnd_ = j_ + length - 4;
                inBody_ = true;
            }
            while (j_ < bodyEnd_) {
                if (i_ >= stop_) return true;
                FastTokens(bodyEnd_);
                // With slack the last token may run past the end of the output; what lies
                // beyond is not output, and nothing is decoded after the end.
                i_ = std::min(i_, outSize_);
                if (j_ >= bodyEnd_) break;
                if (i_ >= stop_) return true;
                if (i_ >= outSize_ || j_ > sourceSize_) return false;
                if (!Token(bodyEnd_)) return false;
            }
            inBody_ = false;
            if (j_ >= limit_) return false;
            std::uint32_t t = src_[j_++];
            if (segment_ >= 2 && t > previous_) t = 0;
            if (segment_ == 0 && t == 0) t = 255;
            previous_ = t;
            ++segment_;
            if (t == 0) return false;
        }
    }

    // ---- Careful path: one token, every read checked. ----

    // load(k): append the next 16-bit control word when fewer than k bits are held.
    bool Load(std::uint32_t k) {
        if (count_ >= k) return true;
        if (limit_ - j_ < 2) return false;
        bits_ |= static_cast<std::uint32_t>(LoadU16(src_ + j_)) << count_;
        count_ += 16;
        j_ += 2;
        return true;
    }
    std::uint32_t Bit() {
        std::uint32_t b = bits_ & 1u;
        bits_ >>= 1;
        --count_;
        return b;
    }
    std::uint32_t Field(int k) {
        std::uint32_t v = 0;
        for (int n = 0; n < k; ++n) v = (v << 1) | Bit();
        return v;
    }
    bool Byte(std::uint32_t& v) {
        if (j_ >= limit_) return false;
        v = src_[j_++];
        return true;
    }

    // The length code of a match: 1 -> 2, 01 -> 3, 001 -> 4, 0001 -> 5, 00001vvv -> 6..13,
    // 00000 + byte -> 14..269. A 0 bit read while j is beyond the source size cuts the code.
    bool Length(std::int64_t& length) {
        std::int64_t n = 2;
        for (int k = 0; k < 4; ++k) {
            if (Bit() || j_ > sourceSize_) {
                length = n;
                return true;
            }
            ++n;
            if (!Load(1)) return false;
        }
        if (Bit() == 0) {
            std::uint32_t b;
            if (!Byte(b)) return false;
            length = static_cast<std::int64_t>(b) + 14;
        } else {
            if (!Load(3)) return false;
            length = static_cast<std::int64_t>(Field(3)) + 6;
        }
        return true;
    }

    // Copies up to `length` bytes from `distance` back, one at a time so that an overlapping copy
    // repeats the pattern. Positions before the start of the destination read as 0, and so does
    // distance 0 (the copy reads the output position itself, which is still zero).
    bool Copy(std::int64_t distance, std::int64_t length) {
        std::int64_t n = std::min(length, outSize_ - i_);
        std::int64_t from = i_ - distance;
        for (std::int64_t k = 0; k < n; ++k, ++from) {
            out_[i_++] = from >= 0 && distance != 0 ? out_[from] : 0;
        }
        return n == length;
    }
    bool Fill(std::uint8_t value, std::int64_t length) {
        std::int64_t n = std::min(length, outSize_ - i_);
        std::memset(out_ + i_, value, static_cast<std::size_t>(n));
        i_ += n;
        return n == length;
    }

    // Decodes one token; false ends decoding.
    bool Token(std::int64_t bodyEnd) {
        if (!Load(1)) return false;
        if (Bit() == 0) {
            std::uint32_t b;
            if (!Byte(b)) return false;
            out_[i_++] = static_cast<std::uint8_t>(b);
            return true;
        }
        if (!Load(1)) return false;
        if (Bit() == 0) {
            std::uint32_t c;
            if (!Byte(c)) return false;
            std::int64_t length = 0;  // a distance byte at the source size: nothing is copied
            if (j_ <= sourceSize_) {
                if (!Load(1) || !Length(length)) return false;
            }
            return Copy(c, length);
        }
        if (!Load(5)) return false;
        std::uint32_t c;
        if (!Byte(c)) return false;
        std::uint32_t h = Field(5);
        if (h != 0) {
            std::int64_t length = 0;
            if (!Load(2) || !Length(length)) return false;
            return Copy(static_cast<std::int64_t>(h) * 256 + c, length);
        }
        if (j_ >= bodyEnd) return true;  // a run marker as the last body byte ends the segment
        if (!Load(5)) return false;
        std::uint32_t t;
        if (!Byte(t)) return false;
        std::uint32_t f = Bit();
        std::uint32_t r = Field(4);
        if (f == 0) return Fill(static_cast<std::uint8_t>(t), static_cast<std::int64_t>(r) + 14);
        std::uint32_t value;
        if (!Byte(value)) return false;
        return Fill(static_cast<std::uint8_t>(value), static_cast<std::int64_t>(r) * 256 + t + 14);
    }

    // ---- Fast path. ----

    // With assertions: a token's reads end at or before the source limit, and its writes (with
    // their over-writes) at or before the end of the memory the decoder may write. The margins
    // at the token's start are what should make both hold.
    void AssertFast([[maybe_unused]] std::int64_t readEnd,
                    [[maybe_unused]] std::int64_t writeEnd) const {
        assert(readEnd <= limit_ && "fast path reads past the source");
        assert(writeEnd <= room_ && "fast path writes past the destination");
    }

    // Decodes the tokens of the current segment that start below fastSourceEnd_ and
    // fastOutputEnd_ and below bodyEnd. At such a token start every read of the token lies below
    // the source limit, no check of j against the source size can fire before the token ends,
    // and the longest token with its over-writes fits the destination. The state is kept in
    // locals: stores through the byte pointer could otherwise alias the members.
    void FastTokens(std::int64_t bodyEnd) {
        std::uint8_t* const out = out_;
        const std::uint8_t* const src = src_;
        const std::int64_t jStop = std::min(bodyEnd, fastSourceEnd_);
        const std::int64_t iStop = std::min(fastOutputEnd_, stop_ - 1);
        std::int64_t i = i_;
        std::int64_t j = j_;
        std::uint32_t bits = bits_;
        std::uint32_t count = count_;

        // load(k). Branches beat a branch-free form here: when no word is due, as is mostly the
        // case, the bit buffer does not wait for the load of the word.
        auto load = [&](std::uint32_t k) {
            if (count < k) [[unlikely]] {
                AssertFast(j + 2, i);
                bits |= static_cast<std::uint32_t>(LoadU16(src + j)) << count;
                count += 16;
                j += 2;
            }
        };
        auto take = [&](std::uint32_t k) {
            bits >>= k;
            count -= k;
        };
        auto length = [&]() -> std::int64_t {
            // The forms by the number of leading 0 bits among the bits held. The common cases
            // have no load(1) among their zeros.
            auto zeros = static_cast<std::uint32_t>(std::countr_zero(bits | (1u << count)));
            if (zeros < 4 && zeros < count) {
                take(zeros + 1);
                return zeros + 2;
            }
            if (zeros >= 5) {  // five 0 bits held: no load(1) after them
                take(5);
                AssertFast(j + 1, i);
                return static_cast<std::int64_t>(src[j++]) + 14;
            }
            if (zeros == 4 && count > 4) {  // 00001 held; load(3) takes a word (count < 8)
                take(5);
                load(3);
                std::uint32_t v = kReversed3[bits & 7u];
                take(3);
                return static_cast<std::int64_t>(v) + 6;
            }
            // The held bits end inside the zeros: a load(1) falls inside the code.
            std::int64_t n = 2;
            for (int k = 0; k < 4; ++k) {
                std::uint32_t b = bits & 1u;
                take(1);
                if (b) return n;
                ++n;
                load(1);
            }
            std::uint32_t x = bits & 1u;
            take(1);
            if (x == 0) {
                AssertFast(j + 1, i);
                return static_cast<std::int64_t>(src[j++]) + 14;
            }
            load(3);
            std::uint32_t v = kReversed3[bits & 7u];
            take(3);
            return static_cast<std::int64_t>(v) + 6;
        };

        while (j < jStop && i <= iStop) {
            // The margins: room for the longest token before the source's end and the output's.
            AssertFast(j + kFastSourceMargin, i + kFastOutputMargin);
            load(1);
            if ((bits & 1u) == 0) {
                // A batch of literals: as many as there are 0 bits held (no load falls between
                // them), at most 16, and none starting at or after the body end except the first.
                std::int64_t n = std::countr_zero(bits | (1u << count));
                n = std::min<std::int64_t>(n, 16);
                std::int64_t room = bodyEnd - j;
                if (room < n) n = std::max<std::int64_t>(room, 1);
                AssertFast(j + 16, i + 16);
                std::memcpy(out + i, src + j, 16);
                i += n;
                j += n;
                take(static_cast<std::uint32_t>(n));
                continue;
            }
            take(1);
            load(1);
            // Near and far matches share one path. At most one more control word falls inside
            // the token before its length code: for a far match before the byte c (load(5) with
            // fewer than 5 bits held) or after its 5 high distance bits (load(2)); for a near
            // match after c (load(1) with no bit held). Either way its bits go behind the bits
            // held now, so only the byte positions depend on where it lies.
            std::uint32_t far = bits & 1u;
            take(1);
            std::uint32_t c;
            std::int64_t afterC;
            if (count < 1 + 6 * far) [[unlikely]] {
                AssertFast(j + 3, i);
                std::int64_t before = far & static_cast<std::uint32_t>(count < 5);
                c = src[j + 2 * before];
                bits |= static_cast<std::uint32_t>(LoadU16(src + j + 1 - before)) << count;
                count += 16;
                afterC = j + 1 + 2 * before;
                j += 3;
            } else {
                AssertFast(j + 1, i);
                c = src[j++];
                afterC = j;
            }
            std::uint32_t h = kReversed5[bits & 31u] & (0u - far);
            take(5 & (0u - far));
            if (far && h == 0) [[unlikely]] {
                // A run (its byte c is not used). Its load(5) after the 5 zero bits takes a word
                // at the same place as a match's load(2), and with a lower threshold wherever
                // load(2) took one; but a marker at the body end ends the segment before that.
                if (afterC >= bodyEnd) {
                    j = afterC;
                    continue;  // the loop ends; the segment's bits are dropped
                }
                load(5);
                AssertFast(j + 2, i);
                std::uint32_t t = src[j++];
                std::uint32_t f = bits & 1u;
                std::uint32_t r = kReversed4[(bits >> 1) & 15u];
                take(5);
                std::uint8_t value = static_cast<std::uint8_t>(t);
                std::int64_t runLength = static_cast<std::int64_t>(r) + 14;
                if (f) {
                    value = src[j++];
                    runLength = static_cast<std::int64_t>(r) * 256 + t + 14;
                }
                AssertFast(j, i + runLength);
                std::memset(out + i, value, static_cast<std::size_t>(runLength));
                i += runLength;
                continue;
            }
            std::int64_t n = length();
            auto distance = static_cast<std::int64_t>(h * 256 + c);
            // The copies below write whole steps of up to 16 bytes, after a set-up of up to 32.
            AssertFast(j, i + n + 32);

            std::uint8_t* op = out + i;
            if (static_cast<std::uint64_t>(distance - 1) >= static_cast<std::uint64_t>(i))
                [[unlikely]] {
                // Distance 0 copies the still-zero output position; a distance reaching before
                // the start of the destination takes zeros for the missing part.
                std::int64_t from = i - distance;
                for (std::int64_t k = 0; k < n; ++k, ++from) {
                    op[k] = from >= 0 && distance != 0 ? out[from] : 0;
                }
            } else if (n <= 16 && distance >= 8) {
                // Two 8-byte steps, each from at least 8 bytes back: right for any overlap.
                Copy8(op, op - distance);
                Copy8(op + 8, op + 8 - distance);
            } else if (distance < 8 && n <= distance) {
                Copy8(op, op - distance);
            } else if (distance >= 16) {
                const std::uint8_t* ip = op - distance;
                for (std::int64_t k = 0; k < n; k += 16) std::memcpy(op + k, ip + k, 16);
            } else if (distance == 1) {
                std::memset(op, op[-1], static_cast<std::size_t>(n));
            } else if (n <= 16) {
                for (std::int64_t k = 0; k < n; ++k) op[k] = op[k - distance];
            } else {
                // A pattern of period d < 16: lay it out d bytes per step until the copied part
                // holds a whole number of periods of at least 16 bytes, then copy 16 at a time
                // from that many bytes back.
                std::int64_t step = 0;
                while (step < 16) {
                    Copy16(op + step, op + step - distance);
                    step += distance;
                }
                for (std::int64_t k = step; k < n; k += 16) Copy16(op + k, op + k - step);
            }
            i += n;
        }

        i_ = i;
        j_ = j;
        bits_ = bits;
        count_ = count;
    }

    std::uint8_t* out_;
    std::int64_t outSize_;
    [[maybe_unused]] std::int64_t room_;  // the bytes at out_ the decoder may write
    const std::uint8_t* src_;
    std::int64_t limit_;
    std::int64_t sourceSize_;
    std::int64_t stop_;
    std::int64_t fastSourceEnd_ = 0;
    std::int64_t fastOutputEnd_ = 0;
    std::int64_t i_ = 0;
    std::int64_t j_ = 0;
    std::uint32_t bits_ = 0;
    std::uint32_t count_ = 0;
    // The segment being decoded: its number, the previous terminator, where its body ends.
    bool inBody_ = false;
    std::int32_t segment_ = 0;
    std::uint32_t previous_ = 0;
    std::int64_t bodyEnd_ = 0;
};

std::int32_t Decompress(MutableBytes dest, Bytes source, std::int32_t sourceSize) {
    if (source.size() < 4) {
        std::fill(dest.begin(), dest.end(), std::uint8_t{0});
        return 0;
    }
    if (source[2] != 0) return -1;
    // The fast path needs room for a whole token behind each token start: a small output would
    // mostly take the careful path. It is decoded into memory with that room and copied.
    if (dest.size() <= kSmallOutput) {
        thread_local std::array<std::uint8_t, kSmallOutput + kFastOutputMargin> room;
        const std::int32_t produced =
            StreamDecoder(MutableBytes(room.data(), dest.size()), source, sourceSize, true).Run();
        if (!dest.empty()) std::memcpy(dest.data(), room.data(), dest.size());
        return produced;
    }
    return StreamDecoder(dest, source, sourceSize).Run();
}

namespace {

// Back references reach at most this far: the window keeps as many bytes behind its position.
constexpr std::int64_t kHistory = 8192;
// The bytes one Step produces, at least, before the reader copies them out.
constexpr std::int64_t kStep = 256 * 1024;
constexpr std::int64_t kWindow = kHistory + kStep + kFastOutputMargin;

// Windows of readers that are done, for the next ones: a fresh window costs a page fault for
// each of its 4 KiB pages, and a conversion makes two readers for every object.
ByteBufferPool& Windows() {
    static ByteBufferPool* pool = new ByteBufferPool(8);  // lives as long as the process
    return *pool;
}

}  // namespace

StreamReader::StreamReader() = default;

StreamReader::StreamReader(Bytes source, std::int32_t sourceSize, std::uint64_t size)
    : source_(source), sourceSize_(sourceSize), size_(size) {}

StreamReader::StreamReader(const PackedChunk& chunk)
    : StreamReader(chunk.stream, chunk.sourceSize, chunk.unpackedSize) {}

StreamReader::~StreamReader() {
    GiveBackWindow();
}

StreamReader::StreamReader(StreamReader&&) noexcept = default;

StreamReader& StreamReader::operator=(StreamReader&& other) noexcept {
    if (this != &other) {
        GiveBackWindow();
        source_ = other.source_;
        sourceSize_ = other.sourceSize_;
        size_ = other.size_;
        window_ = std::move(other.window_);
        decoder_ = std::move(other.decoder_);
        base_ = other.base_;
        ended_ = other.ended_;
    }
    return *this;
}

void StreamReader::GiveBackWindow() noexcept {
    decoder_.reset();
    Windows().Put(std::move(window_));
}

void StreamReader::Restart() {
    base_ = 0;
    decoder_.reset();
    // A stream without a segment header, or whose first flag byte rejects it, produces nothing:
    // its output reads as zeros.
    ended_ = source_.size() < 4 || source_[2] != 0 || size_ == 0;
    if (ended_) return;
    if (window_.capacity() < static_cast<std::size_t>(kWindow)) {
        window_ = Windows().Take(static_cast<std::size_t>(kWindow));
        window_.Resize(static_cast<std::size_t>(kWindow));
    }
    decoder_ = std::make_unique<StreamDecoder>(window_.data(), static_cast<std::int64_t>(size_),
                                               source_, sourceSize_, true, kWindow);
}

void StreamReader::Read(std::uint64_t offset, MutableBytes dest) {
    if (dest.empty()) return;
    // Neither decoding nor ended: nothing was read yet.
    if ((!decoder_ && !ended_) || offset < base_) Restart();
    std::uint8_t* to = dest.data();
    std::uint64_t at = offset;
    std::size_t left = dest.size();
    while (left > 0) {
        const std::uint64_t held =
            decoder_ ? base_ + static_cast<std::uint64_t>(decoder_->Position()) : 0;
        if (at < held) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, held - at));
            std::memcpy(to, decoder_->Output() + (at - base_), n);
            to += n;
            at += n;
            left -= n;
            continue;
        }
        if (ended_) {
            std::memset(to, 0, left);  // what the stream does not produce reads as 0
            return;
        }
        // Everything below the position is copied out or passed over: keep only what back
        // references can reach, so that the next Step has its whole room.
        const std::int64_t position = decoder_->Position();
        if (position > kHistory) {
            decoder_->Shift(kHistory);
            base_ += static_cast<std::uint64_t>(position - kHistory);
        }
        ended_ = !decoder_->Step(decoder_->Position() + kStep);
    }
}

std::uint64_t MaxExpansion(std::uint64_t streamBytes) {
    // A run of 4109 bytes needs its three bytes (c, t, value) and 12 control bits: 4.5 bytes.
    return streamBytes * 914 + 4109;
}

bool ReadPackedChunk(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust,
                     PackedChunk& chunk) {
    ByteReader reader(payload);
    if (!reader.Has(offset, 12)) return false;
    reader.U32(offset, chunk.packedSize);
    reader.U32(offset + 4, chunk.unpackedSize);
    std::uint64_t streamStart = offset + 12;
    std::uint64_t chunkEnd = offset + 4 + static_cast<std::uint64_t>(chunk.packedSize);
    std::uint64_t streamEnd = std::min<std::uint64_t>(chunkEnd, payload.size());
    chunk.stream =
        streamEnd > streamStart ? payload.subspan(streamStart, streamEnd - streamStart) : Bytes{};
    std::int64_t sourceSize = static_cast<std::int64_t>(chunk.packedSize) - sizeAdjust;
    chunk.sourceSize =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(sourceSize, -1, INT32_MAX));
    chunk.end = chunkEnd;
    return chunk.unpackedSize <= MaxExpansion(chunk.stream.size());
}

std::uint64_t UnpackChunk(const PackedChunk& chunk, std::vector<std::uint8_t>& out) {
    out.assign(chunk.unpackedSize, 0);
    return static_cast<std::uint64_t>(std::max(0, Decompress(out, chunk.stream, chunk.sourceSize)));
}

void UnpackChunk(const PackedChunk& chunk, MutableBytes out) {
    // A rejected stream writes nothing: its data reads as zeros, as from a fresh vector.
    if (Decompress(out, chunk.stream, chunk.sourceSize) < 0) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
    }
}

void UnpackChunk(const PackedChunk& chunk, ByteBuffer& out) {
    out.Resize(chunk.unpackedSize);
    UnpackChunk(chunk, MutableBytes(out));
}

namespace {

template <class Out>
bool LocateAndUnpack(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust, Out& out,
                     PackedChunk* located) {
    PackedChunk chunk;
    if (!ReadPackedChunk(payload, offset, sizeAdjust, chunk)) return false;
    if (located) *located = chunk;
    UnpackChunk(chunk, out);
    return true;
}

}  // namespace

bool UnpackChunkAt(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust,
                   std::vector<std::uint8_t>& out, PackedChunk* located) {
    return LocateAndUnpack(payload, offset, sizeAdjust, out, located);
}

bool UnpackChunkAt(Bytes payload, std::uint64_t offset, std::int64_t sizeAdjust, ByteBuffer& out,
                   PackedChunk* located) {
    return LocateAndUnpack(payload, offset, sizeAdjust, out, located);
}

}  // namespace morvex

// The compressor of the it3 stream format: what every packed chunk we write holds.
//
// A stream is a run of segments (16-bit length L counting the 4 header bytes and the body, a flag
// byte 0, a first control byte, the body, a terminator byte). The decoder takes control bits from
// a bit buffer that it refills with a 16-bit word from the byte stream at fixed points (load(k):
// when fewer than k bits are held), so StreamWriter mirrors the decoder's bit count and reserves
// a word slot exactly where the decoder will load one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace morvex {

// The longest match and run the format can express, its window and distance forms.
inline constexpr std::uint32_t kMaxMatchLength = 269;
inline constexpr std::uint32_t kMaxNearDistance = 255;
inline constexpr std::uint32_t kMaxFarDistance = 8191;
inline constexpr std::uint32_t kMinRunLength = 14;
inline constexpr std::uint32_t kMaxShortRun = 29;
inline constexpr std::uint32_t kMaxRunLength = 4109;
// The most body bytes a segment can hold (its 16-bit length counts the 4 header bytes).
inline constexpr std::size_t kMaxSegmentBody = 65535 - 4;
// The most stream bytes one token can take (two control words and three bytes).
inline constexpr std::size_t kMaxTokenBytes = 7;

// Writes a stream token by token. Tokens go into the open segment; nothing checks that the
// token makes sense for the data (a match may reach before the start, a length form may be
// forced), so tests can build any stream the decoder accepts.
class StreamWriter {
  public:
    // Makes room for a stream of `bytes` bytes, so that writing it does not move it.
    void Reserve(std::size_t bytes) { out_.reserve(bytes); }
    // Opens a segment: reserves its header (the length is filled in by EndSegment).
    void BeginSegment();
    // Closes the open segment: fills in L = 4 + body bytes and appends the terminator.
    void EndSegment(std::uint8_t terminator);
    // Closes the open segment with a length field of the caller's choice (malformed streams).
    void EndSegmentWithLength(std::uint16_t length, std::uint8_t terminator);

    // Bit 0, byte.
    void Literal(std::uint8_t value);
    // Bits 1 0, distance byte (0..255), length code (2..269).
    void Near(std::uint32_t distance, std::uint32_t length);
    // Bits 1 1, low distance byte, 5-bit high part (1..31), length code: distance 256..8191.
    void Far(std::uint32_t distance, std::uint32_t length);
    // Bits 1 1, an unused byte, 5 zero bits, then the count: short form (14..29, value in the
    // count byte) unless `longForm` or count > 29; long form 14..4109 with a value byte.
    void Run(std::uint8_t value, std::uint32_t count, bool longForm = false);
    // Bits 1 1, the byte `c`, 5 zero bits and nothing else: as the last body byte this marker
    // ends the segment (it must then be the last token of the segment).
    void RunMarker(std::uint8_t c);

    // Body bytes of the open segment so far (control words included).
    std::size_t BodySize() const { return out_.size() - segmentStart_ - 4; }
    // The stream so far (segments must be closed to be complete).
    const std::vector<std::uint8_t>& Bytes() const { return out_; }
    std::vector<std::uint8_t> Take() { return std::move(out_); }

  private:
    void Load(std::uint32_t k);
    void PutBit(std::uint32_t bit);
    void PutField(std::uint32_t value, int width);
    void PutByte(std::uint8_t value) { out_.push_back(value); }
    void PutLength(std::uint32_t length);

    std::vector<std::uint8_t> out_;
    std::size_t segmentStart_ = 0;
    std::vector<std::size_t> words_;  // stream positions of the open segment's control words
    std::size_t bitsUsed_ = 0;        // control bits written into the open segment
    std::size_t bitsHeld_ = 0;        // the decoder's bit count N at this point
};

struct CompressOptions {
    bool matches = true;                           // near and far matches
    bool runs = true;                              // run tokens where they are cheaper than a match
    std::size_t maxSegmentBody = kMaxSegmentBody;  // smaller values force more segments
    int chainDepth = 0;  // candidates looked at per position; 0: by the length of the data
    // The stream is made of pieces of this many input bytes, compressed at the same time; each
    // piece ends its last segment, and its matches reach back into the piece before it. The
    // stream does not depend on how many threads made it.
    std::size_t pieceSize = std::size_t{1} << 20;
};

// A stream that the decompressor expands back to exactly `data`. The first segment's terminator
// is 0 (which counts as 255), those of the segments between are 1 and the last one's 0; a stream
// of one segment gets an empty second segment so that it ends by itself whatever the
// destination size.
std::vector<std::uint8_t> Compress(std::span<const std::uint8_t> data,
                                   const CompressOptions& options = {});

}  // namespace morvex

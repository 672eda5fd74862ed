// The stream decompressor: known byte vectors of the stream format, round trips through our
// compressor, every stopping rule, and a differential check of the optimised decoder against a
// plain reference decoder written here straight from the format rules, on valid, cut, mutated and
// random streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "decode/decompress.h"
#include "encode/compress.h"
#include "encode/packed_chunk.h"
#include "testdata/compress.h"
#include "testdata/it3_writer.h"

namespace morvex {
namespace {

using testdata::ByteVector;

// ---- Reference decoder ----

struct TokenStats {
    int literals = 0;
    int near = 0;
    int far = 0;
    int shortRuns = 0;
    int longRuns = 0;
    std::vector<int> terminators;
};

// Length codes seen, by form: lengths 2, 3, 4, 5, then 6..13, then 14..269.
struct Forms {
    int byLength[6] = {};
};

// Decodes byte by byte following the format rules one step at a time: the destination is zeroed
// first, every read is checked against the source limit (reaching it stops), matches copy one byte
// at a time from i - distance, positions before the start read as 0.
std::int32_t ReferenceDecompress(std::vector<std::uint8_t>& dest, const ByteVector& src,
                                 std::int64_t sourceSize, TokenStats* stats = nullptr,
                                 Forms* forms = nullptr) {
    const auto limit = static_cast<std::int64_t>(src.size());
    const auto outSize = static_cast<std::int64_t>(dest.size());
    if (limit < 4) {
        std::fill(dest.begin(), dest.end(), 0);
        return 0;
    }
    if (src[2] != 0) return -1;
    std::fill(dest.begin(), dest.end(), 0);

    struct Stop {};
    std::int64_t i = 0, j = 0, used = 0;
    std::uint32_t bits = 0;
    int held = 0;
    auto byte = [&]() -> std::uint32_t {
        if (j >= limit) throw Stop{};
        ++used;
        return src[static_cast<std::size_t>(j++)];
    };
    auto load = [&](int k) {
        if (held >= k) return;
        if (j + 2 > limit) throw Stop{};
        std::uint32_t w = src[static_cast<std::size_t>(j)] |
                          (static_cast<std::uint32_t>(src[static_cast<std::size_t>(j + 1)]) << 8);
        bits |= w << held;
        held += 16;
        j += 2;
        used += 2;
    };
    auto bit = [&]() -> std::uint32_t {
        std::uint32_t b = bits & 1;
        bits >>= 1;
        --held;
        return b;
    };
    auto field = [&](int k) {
        std::uint32_t v = 0;
        for (int n = 0; n < k; ++n) v = (v << 1) | bit();
        return v;
    };
    auto put = [&](std::int64_t from, std::int32_t value) {
        if (i >= outSize) throw Stop{};
        if (value < 0) value = from >= 0 ? dest[static_cast<std::size_t>(from)] : 0;
        dest[static_cast<std::size_t>(i++)] = static_cast<std::uint8_t>(value);
    };
    auto copy = [&](std::int64_t distance, std::int64_t length) {
        for (std::int64_t k = 0; k < length; ++k) put(i - distance, -1);
    };
    auto fill = [&](std::uint32_t value, std::int64_t count) {
        for (std::int64_t k = 0; k < count; ++k) put(0, static_cast<std::int32_t>(value));
    };
    auto length = [&]() -> std::int64_t {
        std::int64_t n = 2;
        for (int k = 0; k < 4; ++k) {
            if (bit() == 1 || j > sourceSize) {
                if (forms) ++forms->byLength[n - 2];
                return n;
            }
            ++n;
            load(1);
        }
        if (bit() == 0) {
            if (forms) ++forms->byLength[5];
            return byte() + 14;
        }
        load(3);
        if (forms) ++forms->byLength[4];
        return field(3) + 6;
    };

    int segment = 0;
    std::uint32_t previous = 0;
    try {
        for (;;) {
            if (i >= outSize || j > sourceSize) break;
            std::uint32_t lo = byte(), hi = byte(), flag = byte(), control = byte();
            std::int64_t body = static_cast<std::int64_t>(lo | (hi << 8)) - 4;
            if (flag != 0) break;
            bits = control;
            held = 8;
            used = 0;
            while (used < body) {
                if (i >= outSize || j > sourceSize) throw Stop{};
                load(1);
                if (bit() == 0) {
                    if (stats) ++stats->literals;
                    fill(byte(), 1);
                    continue;
                }
                load(1);
                if (bit() == 0) {
                    std::uint32_t c = byte();
                    std::int64_t n = 0;
                    if (j <= sourceSize) {
                        load(1);
                        n = length();
                    }
                    if (stats) ++stats->near;
                    copy(c, n);
                    continue;
                }
                load(5);
                std::uint32_t c = byte();
                std::uint32_t h = field(5);
                if (h != 0) {
                    load(2);
                    std::int64_t n = length();
                    if (stats) ++stats->far;
                    copy(h * 256 + c, n);
                    continue;
                }
                if (used >= body) break;
                load(5);
                std::uint32_t t = byte();
                std::uint32_t f = bit();
                std::uint32_t r = field(4);
                if (f == 0) {
                    if (stats) ++stats->shortRuns;
                    fill(t, r + 14);
                } else {
                    if (stats) ++stats->longRuns;
                    std::uint32_t value = byte();
                    fill(value, std::int64_t{r} * 256 + t + 14);
                }
            }
            std::uint32_t t = byte();
            if (stats) stats->terminators.push_back(static_cast<int>(t));
            if (segment >= 2 && t > previous) t = 0;
            if (segment == 0 && t == 0) t = 255;
            previous = t;
            ++segment;
            if (t == 0) break;
        }
    } catch (const Stop&) {
    }
    return static_cast<std::int32_t>(i);
}

struct Decoded {
    std::int32_t result;
    ByteVector bytes;
};

// Decodes into a destination of `destSize` bytes prefilled with 0xCC.
Decoded Decode(const ByteVector& stream, std::size_t destSize, std::int64_t sourceSize) {
    Decoded d{0, ByteVector(destSize, 0xCC)};
    d.result = Decompress(d.bytes, stream, static_cast<std::int32_t>(sourceSize));
    return d;
}
// The same with the stream's own size as the source size.
Decoded Decode(const ByteVector& stream, std::size_t destSize) {
    return Decode(stream, destSize, static_cast<std::int64_t>(stream.size()));
}

ByteVector Text(const std::string& s) {
    return ByteVector(s.begin(), s.end());
}

// Reads the output of `stream` through a StreamReader front to back in pieces of random sizes
// (from a few bytes to more than the reader's window), now and then reading an earlier stretch
// again, and expects every piece to equal `expected` (the whole output of `size` bytes), with
// zeros behind it.
void ExpectReaderGives(const ByteVector& stream, std::int64_t sourceSize,
                       const ByteVector& expected, std::uint32_t seed, const std::string& what) {
    std::mt19937 rng(seed);
    const std::size_t size = expected.size();
    StreamReader reader(stream, static_cast<std::int32_t>(sourceSize), size);
    const std::size_t pieceSizes[] = {7, 300, 20000, 700000};
    std::size_t at = 0;
    while (at < size) {
        const std::size_t most = pieceSizes[rng() % 4];
        const std::size_t n = std::min(size - at, 1 + rng() % most);
        ByteVector piece(n, 0xCC);
        reader.Read(at, piece);
        ASSERT_TRUE(std::equal(piece.begin(), piece.end(), expected.begin() + at))
            << what << ": " << n << " bytes at " << at;
        at += n;
        if (rng() % 12 == 0) {
            // Back within the last few KiB (still held) or anywhere before (decoded again).
            const std::size_t back =
                rng() % 2 == 0 ? std::min<std::size_t>(at, rng() % 9000) : rng() % (at + 1);
            const std::size_t from = at - back;
            ByteVector again(std::min<std::size_t>(size - from, 1 + rng() % 5000), 0xCC);
            reader.Read(from, again);
            ASSERT_TRUE(std::equal(again.begin(), again.end(), expected.begin() + from))
                << what << ": again " << again.size() << " bytes at " << from;
        }
    }
    ByteVector behind(16, 0xCC);
    reader.Read(size, behind);
    EXPECT_EQ(behind, ByteVector(16, 0)) << what;
}

// Decodes with both decoders and expects identical results and bytes; and the same bytes read in
// pieces (a rejected stream reads as zeros there).
void ExpectSameAsReference(const ByteVector& stream, std::size_t destSize, std::int64_t sourceSize,
                           const std::string& what) {
    ByteVector expected(destSize, 0xCC);
    std::int32_t expectedResult = ReferenceDecompress(expected, stream, sourceSize);
    Decoded got = Decode(stream, destSize, sourceSize);
    ASSERT_EQ(got.result, expectedResult) << what;
    ASSERT_TRUE(got.bytes == expected) << what;
    if (expectedResult < 0) expected.assign(destSize, 0);
    ExpectReaderGives(stream, sourceSize, expected,
                      static_cast<std::uint32_t>(destSize * 31 + stream.size()), what + ", pieces");
}

// ---- Known streams ----

struct Example {
    const char* name;
    ByteVector stream;
    std::size_t destSize;
    std::int32_t result;
    ByteVector output;
};

std::vector<Example> Examples() {
    ByteVector first = Text("ABCABCABCA");
    first.insert(first.end(), 16, 'z');
    ByteVector third = Text("X");
    third.insert(third.end(), 299, 'a');
    third.push_back('b');
    third.push_back('X');
    third.push_back('a');
    return {
        {"MatchAndShortRun",
         {0x0E, 0x00, 0x00, 0x08, 0x41, 0x42, 0x43, 0x03, 0x72, 0x80, 0x00, 0x00, 0x00, 0x7A, 0x00},
         26,
         26,
         first},
        {"TwoSegments",
         {0x06, 0x00, 0x00, 0x00, 0x41, 0x42, 0x01, 0x05, 0x00, 0x00, 0x11, 0x02, 0x00},
         6,
         6,
         Text("ABABAB")},
        {"LongRunAndFarMatch",
         {0x0C, 0x00, 0x00, 0x06, 0x58, 0x00, 0xD1, 0x30, 0x1D, 0x61, 0x62, 0x2D, 0x00},
         303,
         303,
         third},
    };
}

TEST(DecompressExamples, DecodeToTheKnownBytes) {
    for (const Example& e : Examples()) {
        Decoded d = Decode(e.stream, e.destSize);
        EXPECT_EQ(d.result, e.result) << e.name;
        EXPECT_EQ(d.bytes, e.output) << e.name;
        // A larger destination: the stream ends by itself, the rest is zero.
        Decoded wide = Decode(e.stream, e.destSize + 40);
        ByteVector expected = e.output;
        expected.resize(e.destSize + 40, 0);
        EXPECT_EQ(wide.result, e.result) << e.name;
        EXPECT_EQ(wide.bytes, expected) << e.name;
    }
}

TEST(DecompressExamples, StreamWriterReproducesTheKnownStreams) {
    std::vector<Example> examples = Examples();
    StreamWriter first;
    first.BeginSegment();
    first.Literal('A');
    first.Literal('B');
    first.Literal('C');
    first.Near(3, 7);
    first.Run('z', 16);
    first.EndSegment(0);
    EXPECT_EQ(first.Bytes(), examples[0].stream);

    StreamWriter second;
    second.BeginSegment();
    second.Literal('A');
    second.Literal('B');
    second.EndSegment(1);
    second.BeginSegment();
    second.Near(2, 4);
    second.EndSegment(0);
    EXPECT_EQ(second.Bytes(), examples[1].stream);

    StreamWriter third;
    third.BeginSegment();
    third.Literal('X');
    third.Run('a', 299);
    third.Literal('b');
    third.Far(301, 2);
    third.EndSegment(0);
    EXPECT_EQ(third.Bytes(), examples[2].stream);
}

// ---- Round trips through our compressor ----

ByteVector RandomBytes(std::size_t n, std::uint32_t seed, int alphabet = 256) {
    std::mt19937 rng(seed);
    ByteVector v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng() % static_cast<std::uint32_t>(alphabet));
    return v;
}

// Runs, repeats at near and far distances, text-like and random stretches.
ByteVector MixedBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    ByteVector v;
    while (v.size() < n) {
        switch (rng() % 6) {
            case 0: {  // a run, short or long
                std::size_t most = rng() % 4 == 0 ? 6000 : 40;
                std::size_t count = 1 + rng() % most;
                v.insert(v.end(), count, static_cast<std::uint8_t>(rng()));
                break;
            }
            case 1:
            case 2: {  // a repeat from up to 9000 bytes back
                if (v.size() < 2) break;
                std::size_t back = 1 + rng() % std::min<std::size_t>(v.size(), 9000);
                std::size_t most = rng() % 3 == 0 ? 400 : 20;
                std::size_t count = 2 + rng() % most;
                std::size_t from = v.size() - back;
                for (std::size_t k = 0; k < count; ++k) v.push_back(v[from + k]);
                break;
            }
            case 3: {  // small-alphabet text
                std::size_t count = 1 + rng() % 50;
                for (std::size_t k = 0; k < count; ++k)
                    v.push_back(static_cast<std::uint8_t>('a' + rng() % 6));
                break;
            }
            default: {  // noise
                std::size_t count = 1 + rng() % 30;
                for (std::size_t k = 0; k < count; ++k)
                    v.push_back(static_cast<std::uint8_t>(rng()));
                break;
            }
        }
    }
    v.resize(n);
    return v;
}

struct RoundTripCase {
    const char* name;
    ByteVector data;
    CompressOptions options;
};

std::vector<RoundTripCase> RoundTripCases() {
    ByteVector repetitive;
    for (int k = 0; k < 50000; ++k) repetitive.push_back(static_cast<std::uint8_t>("abcab"[k % 5]));
    ByteVector longRuns;
    for (int k = 0; k < 12; ++k)
        longRuns.insert(longRuns.end(), 3000 + 997 * k, static_cast<std::uint8_t>(k * 37));
    CompressOptions tiny;
    tiny.maxSegmentBody = 40;
    CompressOptions literalsAndRuns;
    literalsAndRuns.matches = false;
    CompressOptions noRuns;
    noRuns.runs = false;
    return {
        {"Empty", {}, {}},
        {"OneByte", {0x5A}, {}},
        {"TwoBytes", {0, 0}, {}},
        {"Random", RandomBytes(5000, 1), {}},
        {"RandomSmallAlphabet", RandomBytes(20000, 2, 4), {}},
        {"HighlyRepetitive", repetitive, {}},
        {"Zeros", ByteVector(70000, 0), {}},
        {"LongRuns", longRuns, {}},
        {"Over64KiB", MixedBytes(70000, 3), {}},
        {"SeveralSegments", RandomBytes(200000, 4), {}},
        {"OneMiBMixed", MixedBytes(1 << 20, 5), {}},
        {"TinySegments", MixedBytes(5000, 6), tiny},
        {"LiteralsAndRuns", MixedBytes(30000, 7), literalsAndRuns},
        {"NoRuns", MixedBytes(30000, 8), noRuns},
    };
}

TEST(DecompressRoundTrip, CompressedDataComesBackExactly) {
    for (const RoundTripCase& c : RoundTripCases()) {
        ByteVector stream = Compress(c.data, c.options);
        Decoded exact = Decode(stream, c.data.size());
        EXPECT_EQ(exact.result, static_cast<std::int32_t>(c.data.size())) << c.name;
        EXPECT_TRUE(exact.bytes == c.data) << c.name;
        // The stream ends by its own terminators in a larger destination.
        Decoded wide = Decode(stream, c.data.size() + 5000);
        ByteVector expected = c.data;
        expected.resize(c.data.size() + 5000, 0);
        EXPECT_EQ(wide.result, static_cast<std::int32_t>(c.data.size())) << c.name;
        EXPECT_TRUE(wide.bytes == expected) << c.name;
        // And the reference decoder agrees with both.
        ExpectSameAsReference(stream, c.data.size() + 5000,
                              static_cast<std::int64_t>(stream.size()), c.name);
    }
}

TEST(DecompressRoundTrip, LiteralOnlyStreamsComeBackExactly) {
    for (std::size_t n :
         {std::size_t{0}, std::size_t{1}, std::size_t{8}, std::size_t{9}, std::size_t{24},
          std::size_t{25}, std::size_t{70000}, std::size_t{140000}}) {
        ByteVector data = RandomBytes(n, 10 + static_cast<std::uint32_t>(n));
        ByteVector stream = testdata::CompressLiterals(data);
        Decoded d = Decode(stream, n + 100);
        ByteVector expected = data;
        expected.resize(n + 100, 0);
        EXPECT_EQ(d.result, static_cast<std::int32_t>(n));
        EXPECT_TRUE(d.bytes == expected) << n;
    }
}

TEST(DecompressRoundTrip, CompressorUsesEveryTokenForm) {
    ByteVector data = MixedBytes(1 << 20, 5);
    ByteVector noise = RandomBytes(150000, 18);  // enough stream bytes for several segments
    data.insert(data.end(), noise.begin(), noise.end());
    ByteVector stream = Compress(data);
    TokenStats stats;
    Forms forms;
    ByteVector out(data.size());
    ASSERT_EQ(
        ReferenceDecompress(out, stream, static_cast<std::int64_t>(stream.size()), &stats, &forms),
        static_cast<std::int32_t>(data.size()));
    EXPECT_GT(stats.literals, 0);
    EXPECT_GT(stats.near, 0);
    EXPECT_GT(stats.far, 0);
    EXPECT_GT(stats.shortRuns, 0);
    EXPECT_GT(stats.longRuns, 0);
    for (int f = 0; f < 6; ++f) EXPECT_GT(forms.byLength[f], 0) << "length form " << f;
    // Far more than one segment: every terminator but the first and the last is non-zero, none
    // exceeds the one before from the second on, and the last is 0.
    ASSERT_GT(stats.terminators.size(), 3u);
    EXPECT_EQ(stats.terminators.back(), 0);
    for (std::size_t k = 1; k + 1 < stats.terminators.size(); ++k) {
        EXPECT_NE(stats.terminators[k], 0) << k;
        if (k >= 2) {
            EXPECT_LE(stats.terminators[k], stats.terminators[k - 1]) << k;
        }
    }
    // The compressor earns its keep on such data.
    EXPECT_LT(stream.size(), data.size() / 3);
}

TEST(DecompressRoundTrip, SegmentsStayWithinTheirBodyLimit) {
    ByteVector data = RandomBytes(300000, 11);
    ByteVector mixed = MixedBytes(100000, 19);
    data.insert(data.end(), mixed.begin(), mixed.end());
    for (std::size_t limit : {kMaxSegmentBody, std::size_t{1000}, std::size_t{7}}) {
        CompressOptions options;
        options.maxSegmentBody = limit;
        ByteVector stream = Compress(data, options);
        std::size_t j = 0;
        std::size_t segments = 0;
        while (j + 4 <= stream.size()) {
            std::size_t length = stream[j] | (stream[j + 1] << 8);
            ASSERT_GE(length, 4u);
            ASSERT_LE(length - 4, limit);
            EXPECT_EQ(stream[j + 2], 0);
            j += length + 1;
            ++segments;
        }
        EXPECT_EQ(j, stream.size()) << limit;
        EXPECT_GE(segments, stream.size() / (limit + 5)) << limit;
        EXPECT_TRUE(Decode(stream, data.size()).bytes == data) << limit;
    }
}

// A packed chunk carries its stream and as many bytes behind it as its reader's source size
// needs, for either reader (geometry: packedSize - 16, textures: packedSize - 12), whatever the
// stream's last token: a match at the very end of a stream of many segments has its length code
// read behind its last byte.
TEST(DecompressRoundTrip, PackedChunksDecodeWholeForEitherReader) {
    std::vector<ByteVector> inputs = {{}, Text("a"), Text("abcabcabcabcab"), MixedBytes(70000, 4)};
    for (std::size_t tail : {3u, 40u}) {
        ByteVector data = MixedBytes(100000, static_cast<std::uint32_t>(tail));
        data.insert(data.end(), data.end() - static_cast<std::ptrdiff_t>(tail) - 100,
                    data.end() - 100);
        inputs.push_back(data);
    }
    for (const ByteVector& data : inputs) {
        for (std::int64_t adjust : {kGeometrySizeAdjust, kTextureSizeAdjust}) {
            SCOPED_TRACE(std::to_string(data.size()) + " bytes, adjust " + std::to_string(adjust));
            ByteVector chunk;
            ASSERT_TRUE(AppendPackedChunk(chunk, data, adjust));
            PackedChunk located;
            ASSERT_TRUE(ReadPackedChunk(chunk, 0, adjust, located));
            EXPECT_EQ(located.end, chunk.size());
            EXPECT_EQ(located.unpackedSize, data.size());
            ByteVector out;
            EXPECT_EQ(UnpackChunk(located, out), data.size());
            EXPECT_TRUE(out == data);
            EXPECT_LE(chunk.size(), 12 + Compress(data).size() + 7);
        }
    }
    // The last segment ends in a near match whose distance byte lies right before the
    // terminator: its length code is read with the position on the terminator.
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.Literal('B');
    w.EndSegment(0);
    w.BeginSegment();
    w.Literal('C');
    w.Near(2, 4);
    w.EndSegment(0);
    for (std::int64_t adjust : {kGeometrySizeAdjust, kTextureSizeAdjust}) {
        ByteVector chunk;
        AppendPackedStream(chunk, w.Bytes(), 7, adjust);
        ByteVector out;
        ASSERT_TRUE(UnpackChunkAt(chunk, 0, adjust, out));
        EXPECT_EQ(out, Text("ABCBCBC")) << adjust;
    }
}

// ---- Stopping rules and edge cases ----

TEST(DecompressStops, FirstFlagByteRejectsAndLeavesTheDestination) {
    ByteVector stream = Examples()[0].stream;
    stream[2] = 1;
    Decoded d = Decode(stream, 30);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.bytes, ByteVector(30, 0xCC));
}

TEST(DecompressStops, LaterFlagByteStops) {
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.Literal('B');
    w.EndSegment(1);
    w.BeginSegment();
    w.Literal('C');
    w.EndSegment(0);
    ByteVector stream = w.Bytes();
    stream[7 + 2] = 0x80;  // the second segment's flag byte
    Decoded d = Decode(stream, 6);
    EXPECT_EQ(d.result, 2);
    EXPECT_EQ(d.bytes, Text(std::string("AB\0\0\0\0", 6)));
}

TEST(DecompressStops, SmallSourceLimitGivesZeros) {
    for (std::size_t n = 0; n < 4; ++n) {
        ByteVector stream(n, 0);
        if (n == 3) stream[2] = 7;  // no header, so no flag byte either
        Decoded d = Decode(stream, 10);
        EXPECT_EQ(d.result, 0) << n;
        EXPECT_EQ(d.bytes, ByteVector(10, 0)) << n;
    }
}

TEST(DecompressStops, DestinationSmallerThanTheDataIsFilledExactly) {
    // Sizes on both sides of the decoder's small-output limit (32 KiB, decoded through memory
    // with room behind it) and of its fast-path margin (4173 bytes).
    ByteVector data = MixedBytes(80000, 12);
    ByteVector stream = Compress(data);
    for (std::size_t size : {0, 1, 7, 100, 4097, 4172, 4173, 4174, 12345, 19999, 32767, 32768,
                             32769, 36941, 36942, 79999}) {
        Decoded d = Decode(stream, size);
        EXPECT_EQ(d.result, static_cast<std::int32_t>(size));
        EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), data.begin())) << size;
    }
    // A destination that ends inside a match, a run and a long run.
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.Near(1, 200);
    w.Run('b', 20);
    w.Run('c', 4000);
    w.EndSegment(0);
    ByteVector full(1 + 200 + 20 + 4000, 'A');
    std::fill(full.begin() + 201, full.begin() + 221, 'b');
    std::fill(full.begin() + 221, full.end(), 'c');
    for (std::size_t size : {50, 210, 3000}) {
        Decoded d = Decode(w.Bytes(), size);
        EXPECT_EQ(d.result, static_cast<std::int32_t>(size));
        EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), full.begin())) << size;
    }
}

TEST(DecompressStops, NearMatchWithItsDistanceByteAtTheSourceSizeCopiesNothing) {
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.Literal('B');
    std::size_t distanceAt = w.Bytes().size();  // no control word is due before it
    w.Near(2, 4);
    w.Literal('C');
    w.EndSegment(0);
    ASSERT_EQ(w.Bytes()[distanceAt], 2);
    auto at = static_cast<std::int64_t>(distanceAt);
    Decoded cut = Decode(w.Bytes(), 10, at);
    EXPECT_EQ(cut.result, 2);
    EXPECT_EQ(cut.bytes, Text(std::string("AB\0\0\0\0\0\0\0\0", 10)));
    Decoded whole = Decode(w.Bytes(), 10, at + 1);
    EXPECT_EQ(whole.result, 7);  // the literal after the match begins at the source size itself
    EXPECT_EQ(whole.bytes, Text(std::string("ABABABC\0\0\0", 10)));
    Decoded before = Decode(w.Bytes(), 10, at - 1);
    EXPECT_EQ(before.result, 2);  // the match begins beyond the source size
}

TEST(DecompressStops, CutLengthCodeCopiesTheLengthCountedSoFar) {
    // 300 literals, then a far match of distance 300 and length 5 (code 0001).
    StreamWriter w;
    w.BeginSegment();
    ByteVector data = RandomBytes(300, 13);
    for (std::uint8_t b : data) w.Literal(b);
    std::size_t tokenStart = w.Bytes().size();
    w.Far(300, 5);
    std::size_t tokenEnd = w.Bytes().size();
    w.EndSegment(0);
    ByteVector stream = w.Bytes();
    auto expectLength = [&](std::int64_t sourceSize, std::size_t length) {
        Decoded d = Decode(stream, 400, sourceSize);
        ByteVector expected = data;
        expected.insert(expected.end(), data.begin(),
                        data.begin() + static_cast<std::ptrdiff_t>(length));
        expected.resize(400, 0);
        EXPECT_EQ(d.result, static_cast<std::int32_t>(300 + length)) << sourceSize;
        EXPECT_EQ(d.bytes, expected) << sourceSize;
        ExpectSameAsReference(stream, 400, sourceSize, "cut far match");
    };
    // The token starts at the source size: its bytes beyond are read, its code is cut at the
    // first 0 bit (length 2) because j is then beyond the source size.
    expectLength(static_cast<std::int64_t>(tokenStart), 2);
    // A source size at the token's end: nothing is cut.
    expectLength(static_cast<std::int64_t>(tokenEnd), 5);
}

TEST(DecompressStops, SourceLimitMidTokenKeepsWhatWasProduced) {
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.Literal('B');
    std::size_t runStart = w.Bytes().size();
    w.Run('c', 500);  // long form: its value byte is last
    w.EndSegment(0);
    ByteVector stream = w.Bytes();
    // The run takes a control word, c, t and the value byte: 5 bytes.
    ASSERT_EQ(stream.size(), runStart + 5 + 1);
    for (std::size_t cut = runStart; cut < runStart + 5; ++cut) {
        ByteVector prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
        // The source size stays that of the whole stream: only the limit cuts.
        Decoded d = Decode(prefix, 600, static_cast<std::int64_t>(stream.size()));
        EXPECT_EQ(d.result, 2) << cut;
        EXPECT_EQ(d.bytes[0], 'A');
        EXPECT_EQ(d.bytes[2], 0);
    }
    Decoded whole = Decode(stream, 600);
    EXPECT_EQ(whole.result, 502);
}

struct TerminatorCase {
    const char* name;
    std::vector<std::uint8_t> terminators;  // one literal per segment: 'A', 'B', 'C', ...
    std::int32_t result;
};

TEST(DecompressStops, TerminatorRules) {
    const TerminatorCase cases[] = {
        {"ThirdLargerEnds", {3, 2, 7, 0}, 3},
        {"EqualContinues", {3, 2, 2, 0}, 4},
        {"FirstZeroCountsAs255", {0, 200, 100, 0}, 4},
        {"SecondZeroEnds", {9, 0, 1, 0}, 2},
        {"SecondNotComparedAsksForAThird", {5, 9, 0}, 3},
        {"FourthLargerThanThirdEnds", {1, 5, 4, 5, 0}, 4},
    };
    for (const TerminatorCase& c : cases) {
        StreamWriter w;
        for (std::size_t s = 0; s < c.terminators.size(); ++s) {
            w.BeginSegment();
            w.Literal(static_cast<std::uint8_t>('A' + s));
            w.EndSegment(c.terminators[s]);
        }
        Decoded d = Decode(w.Bytes(), 10);
        EXPECT_EQ(d.result, c.result) << c.name;
        for (std::int32_t k = 0; k < 10; ++k) {
            EXPECT_EQ(d.bytes[k], k < c.result ? 'A' + k : 0) << c.name << " " << k;
        }
    }
    // 5, 9 with nothing after: the third segment would begin at the source size, but no header
    // lies before the limit.
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.EndSegment(5);
    w.BeginSegment();
    w.Literal('B');
    w.EndSegment(9);
    EXPECT_EQ(Decode(w.Bytes(), 10).result, 2);
    // One segment with terminator 0 and bytes after it: they are read as the next segment.
    ByteVector stream = Examples()[0].stream;
    ByteVector more = {0x05, 0x00, 0x00, 0x00, 0x51, 0x00};
    stream.insert(stream.end(), more.begin(), more.end());
    Decoded d = Decode(stream, 30);
    EXPECT_EQ(d.result, 27);
    EXPECT_EQ(d.bytes[26], 'Q');
    // ... unless the stream so far lies beyond the source size.
    EXPECT_EQ(Decode(stream, 30, 14).result, 26);
}

TEST(DecompressEdges, DistanceZeroGivesZeros) {
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.Near(0, 5);
    w.Literal('B');
    w.EndSegment(0);
    Decoded d = Decode(w.Bytes(), 7);
    EXPECT_EQ(d.result, 7);
    EXPECT_EQ(d.bytes, Text(std::string("A\0\0\0\0\0B", 7)));
}

TEST(DecompressEdges, DistanceBeforeTheStartTakesZeros) {
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.Near(3, 5);
    w.Far(8191, 3);
    w.EndSegment(0);
    Decoded d = Decode(w.Bytes(), 9);
    EXPECT_EQ(d.result, 9);
    EXPECT_EQ(d.bytes, Text(std::string("A\0\0A\0\0\0\0\0", 9)));
}

TEST(DecompressEdges, OverlappingMatchRepeatsThePattern) {
    for (std::uint32_t distance = 1; distance <= 20; ++distance) {
        StreamWriter w;
        w.BeginSegment();
        ByteVector expected;
        for (std::uint32_t k = 0; k < distance; ++k) {
            w.Literal(static_cast<std::uint8_t>('a' + k));
            expected.push_back(static_cast<std::uint8_t>('a' + k));
        }
        w.Near(distance, 269);
        for (int k = 0; k < 269; ++k) expected.push_back(expected[expected.size() - distance]);
        w.EndSegment(0);
        Decoded d = Decode(w.Bytes(), expected.size());
        EXPECT_EQ(d.bytes, expected) << distance;
    }
}

TEST(DecompressEdges, LongestMatchAndRun) {
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.Near(1, 269);
    w.Literal('B');
    w.Run('C', 4109);
    w.EndSegment(0);
    const ByteVector& stream = w.Bytes();
    // The match's length byte is 255; the run's count byte t is 255 with r = 15.
    EXPECT_NE(std::find(stream.begin(), stream.end(), 255), stream.end());
    ByteVector expected(270, 'A');
    expected.push_back('B');
    expected.insert(expected.end(), 4109, 'C');
    Decoded d = Decode(stream, expected.size() + 10);
    EXPECT_EQ(d.result, static_cast<std::int32_t>(expected.size()));
    expected.resize(expected.size() + 10, 0);
    EXPECT_EQ(d.bytes, expected);
}

TEST(DecompressEdges, EveryLengthAndRunCountDecodes) {
    StreamWriter w;
    w.BeginSegment();
    ByteVector expected;
    for (std::uint32_t length = 2; length <= 269; ++length) {
        std::uint8_t a = static_cast<std::uint8_t>(length),
                     b = static_cast<std::uint8_t>(length * 7);
        w.Literal(a);
        w.Literal(b);
        expected.push_back(a);
        expected.push_back(b);
        w.Near(2, length);
        for (std::uint32_t k = 0; k < length; ++k)
            expected.push_back(expected[expected.size() - 2]);
    }
    for (std::uint32_t count = 14; count <= 4109; count += count < 40 ? 1 : 251) {
        for (bool longForm : {false, true}) {
            if (!longForm && count > 29) continue;
            w.Run(static_cast<std::uint8_t>(count), count, longForm);
            expected.insert(expected.end(), count, static_cast<std::uint8_t>(count));
        }
    }
    w.EndSegment(0);
    Decoded d = Decode(w.Bytes(), expected.size());
    EXPECT_EQ(d.result, static_cast<std::int32_t>(expected.size()));
    EXPECT_TRUE(d.bytes == expected);
}

TEST(DecompressEdges, SegmentOfFourOrFewerBytesHasNoTokens) {
    for (std::uint8_t length : {0, 2, 4}) {
        // The terminator is read right after the 4 header bytes; the control byte is ignored.
        ByteVector stream = {length, 0x00, 0x00, 0xFF, 0x01, 0x05, 0x00, 0x00, 0x00, 0x41, 0x00};
        Decoded d = Decode(stream, 3);
        EXPECT_EQ(d.result, 1) << int{length};
        EXPECT_EQ(d.bytes, Text(std::string("A\0\0", 3))) << int{length};
    }
}

TEST(DecompressEdges, RunMarkerAsLastBodyByteEndsTheSegment) {
    StreamWriter w;
    w.BeginSegment();
    w.Literal('A');
    w.RunMarker(0x99);
    w.EndSegment(1);
    w.BeginSegment();
    w.Literal('B');
    w.EndSegment(0);
    Decoded d = Decode(w.Bytes(), 4);
    EXPECT_EQ(d.result, 2);
    EXPECT_EQ(d.bytes, Text(std::string("AB\0\0", 4)));
    // With a body one byte longer the same marker is a run that reads its count from the
    // terminator position onwards.
    ByteVector longer = w.Bytes();
    longer[0] = static_cast<std::uint8_t>(longer[0] + 1);
    ExpectSameAsReference(longer, 64, static_cast<std::int64_t>(longer.size()),
                          "run marker inside");
    EXPECT_NE(Decode(longer, 64).result, 2);
}

TEST(DecompressEdges, EveryPrefixGivesAPrefixOfTheOutput) {
    ByteVector data = MixedBytes(12000, 14);
    ByteVector stream = Compress(data);
    ByteVector destination(data.size() + 16);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        // A fresh allocation of exactly the prefix, so that a sanitizer sees any read past it.
        auto prefix = std::make_unique<std::uint8_t[]>(cut == 0 ? 1 : cut);
        std::copy(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut), prefix.get());
        for (std::int64_t sourceSize :
             {static_cast<std::int64_t>(cut), static_cast<std::int64_t>(stream.size())}) {
            std::int32_t result = Decompress(destination, Bytes(prefix.get(), cut),
                                             static_cast<std::int32_t>(sourceSize));
            ASSERT_GE(result, 0);
            ASSERT_LE(result, static_cast<std::int32_t>(data.size()));
            ASSERT_TRUE(std::equal(destination.begin(), destination.begin() + result, data.begin()))
                << cut;
            ASSERT_TRUE(std::all_of(destination.begin() + result, destination.end(),
                                    [](std::uint8_t b) { return b == 0; }))
                << cut;
            if (cut == stream.size()) {
                EXPECT_EQ(result, static_cast<std::int32_t>(data.size()));
            }
        }
    }
}

// ---- Optimised decoder against the reference ----

// A random stream of every token kind, distances 0 to 8191 (some before the start), random
// terminators (some ending the stream early), occasionally odd segment lengths.
ByteVector RandomTokenStream(std::mt19937& rng, std::size_t tokens) {
    StreamWriter w;
    std::size_t produced = 0;
    w.BeginSegment();
    for (std::size_t k = 0; k < tokens; ++k) {
        if (w.BodySize() > 60000 || rng() % 500 == 0) {
            if (rng() % 2 == 0) w.RunMarker(static_cast<std::uint8_t>(rng()));  // ends the body
            w.EndSegment(static_cast<std::uint8_t>(rng() % 4 == 0 ? 255 : 200 - rng() % 3));
            w.BeginSegment();
        }
        switch (rng() % 10) {
            case 0:
            case 1:
            case 2:
            case 3:
                w.Literal(static_cast<std::uint8_t>(rng()));
                produced += 1;
                break;
            case 4:
            case 5: {
                std::uint32_t most = rng() % 4 == 0 ? 268 : 12;
                std::uint32_t length = 2 + rng() % most;
                w.Near(rng() % 256, length);
                produced += length;
                break;
            }
            case 6:
            case 7: {
                std::uint32_t most = rng() % 4 == 0 ? 268 : 12;
                std::uint32_t length = 2 + rng() % most;
                w.Far(256 + rng() % (8191 - 255), length);
                produced += length;
                break;
            }
            case 8: {
                std::uint32_t most = rng() % 3 == 0 ? 4096 : 16;
                std::uint32_t count = 14 + rng() % most;
                auto value = static_cast<std::uint8_t>(rng());
                w.Run(value, count, rng() % 2 == 0);
                produced += count;
                break;
            }
            default: {
                // A near match of a small distance: the pattern copies.
                std::uint32_t length = 2 + rng() % 268;
                w.Near(1 + rng() % 20, length);
                produced += length;
                break;
            }
        }
    }
    if (rng() % 8 == 0) w.RunMarker(static_cast<std::uint8_t>(rng()));
    w.EndSegment(0);
    (void)produced;
    return w.Take();
}

TEST(DecompressDifferential, TokenStreamsMatchTheReference) {
    std::mt19937 rng(20240601);
    for (int round = 0; round < 60; ++round) {
        ByteVector stream = RandomTokenStream(rng, 200 + rng() % 3000);
        auto size = static_cast<std::int64_t>(stream.size());
        std::size_t destSize = rng() % 3 == 0 ? rng() % 2000 : 20000 + rng() % 400000;
        std::int64_t sourceSize =
            rng() % 3 == 0 ? size - static_cast<std::int64_t>(rng() % 200) : size;
        ExpectSameAsReference(stream, destSize, sourceSize, "round " + std::to_string(round));
        // A cut source limit with the original source size.
        ByteVector prefix(stream.begin(),
                          stream.begin() + static_cast<std::ptrdiff_t>(rng() % stream.size()));
        ExpectSameAsReference(prefix, destSize, size, "prefix, round " + std::to_string(round));
    }
}

TEST(DecompressDifferential, SegmentLengthsThatCutTokensMatchTheReference) {
    // A segment length a few bytes off ends the body inside a token: after a control word, in
    // the middle of a match, right after a run marker.
    std::mt19937 rng(99);
    for (int round = 0; round < 80; ++round) {
        ByteVector stream = RandomTokenStream(rng, 3000);
        std::vector<std::size_t> headers;
        for (std::size_t j = 0; j + 4 <= stream.size();
             j += (stream[j] | (stream[j + 1] << 8)) + 1u) {
            headers.push_back(j);
        }
        std::size_t at = headers[rng() % headers.size()];
        int length = (stream[at] | (stream[at + 1] << 8)) + static_cast<int>(rng() % 13) - 6;
        stream[at] = static_cast<std::uint8_t>(length);
        stream[at + 1] = static_cast<std::uint8_t>(length >> 8);
        ExpectSameAsReference(stream, 1 << 20, static_cast<std::int64_t>(stream.size()),
                              "round " + std::to_string(round));
    }
}

TEST(DecompressDifferential, MutatedStreamsMatchTheReference) {
    std::mt19937 rng(77);
    ByteVector data = MixedBytes(200000, 15);
    ByteVector original = Compress(data);
    for (int round = 0; round < 60; ++round) {
        ByteVector stream = original;
        int flips = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < flips; ++k) {
            stream[rng() % stream.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        }
        stream[2] = 0;
        std::size_t destSize = data.size() + rng() % 1000;
        auto sourceSize =
            static_cast<std::int64_t>(stream.size()) - static_cast<std::int64_t>(rng() % 50);
        ExpectSameAsReference(stream, destSize, sourceSize, "round " + std::to_string(round));
    }
}

TEST(DecompressDifferential, GarbageMatchesTheReference) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 200; ++round) {
        std::size_t size = 1 + rng() % 20000;
        ByteVector stream = RandomBytes(size, static_cast<std::uint32_t>(rng()));
        if (stream.size() >= 4) {
            stream[2] = 0;
            if (rng() % 2 == 0) {
                stream[0] = 0xFF;  // a long first segment
                stream[1] = 0xFF;
            }
        }
        std::size_t destSize = rng() % 4 == 0 ? rng() % 100 : rng() % 100000;
        std::int64_t sourceSize = static_cast<std::int64_t>(rng() % (stream.size() + 40)) - 20;
        ExpectSameAsReference(stream, destSize, sourceSize, "round " + std::to_string(round));
    }
}

TEST(DecompressDifferential, LongOutputsReadInPiecesMatchTheReference) {
    // Outputs of several times the reader's window, so that far matches and long runs straddle
    // the points where it moves on; whole, cut and mutated.
    std::mt19937 rng(515);
    for (int round = 0; round < 6; ++round) {
        ByteVector data = MixedBytes(1'500'000 + rng() % 1'500'000, 900 + round);
        ByteVector stream = Compress(data);
        const auto size = static_cast<std::int64_t>(stream.size());
        const std::string what = "round " + std::to_string(round);
        ExpectReaderGives(stream, size, data, static_cast<std::uint32_t>(rng()), what);
        if (round % 2 == 0) {
            ByteVector cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size / 2));
            ExpectSameAsReference(cut, data.size(), size, what + ", cut");
        } else {
            for (int k = 0; k < 4; ++k) {
                stream[4 + rng() % (stream.size() - 4)] ^=
                    static_cast<std::uint8_t>(1 + rng() % 255);
            }
            ExpectSameAsReference(stream, data.size() + 5000, size, what + ", mutated");
        }
    }
}

TEST(DecompressDifferential, TokenStreamsReadInPiecesMatchTheReference) {
    // Long random token streams: runs, matches of every distance, segment ends at random places.
    std::mt19937 rng(616);
    for (int round = 0; round < 4; ++round) {
        ByteVector stream = RandomTokenStream(rng, 40000);
        ExpectSameAsReference(stream, 6'000'000, static_cast<std::int64_t>(stream.size()),
                              "round " + std::to_string(round));
    }
}

TEST(StreamReader, RejectedAndTooShortStreamsReadAsZeros) {
    ByteVector rejected = Compress(MixedBytes(5000, 3));
    rejected[2] = 1;
    for (const ByteVector& stream : {rejected, ByteVector{0x05, 0x00, 0x00}, ByteVector{}}) {
        StreamReader reader(stream, static_cast<std::int32_t>(stream.size()), 5000);
        ByteVector out(5000, 0xCC);
        reader.Read(0, out);
        EXPECT_EQ(out, ByteVector(5000, 0)) << stream.size() << " bytes";
    }
}

// ---- Packed chunks ----

TEST(PackedChunk, HeaderOutsideThePayloadFails) {
    ByteVector payload = testdata::PackChunk(Text("hello"));
    PackedChunk chunk;
    EXPECT_TRUE(ReadPackedChunk(payload, 0, kGeometrySizeAdjust, chunk));
    ByteVector shortPayload(payload.begin(), payload.begin() + 11);
    EXPECT_FALSE(ReadPackedChunk(shortPayload, 0, kGeometrySizeAdjust, chunk));
    EXPECT_FALSE(ReadPackedChunk(payload, payload.size() - 11, kGeometrySizeAdjust, chunk));
    EXPECT_FALSE(ReadPackedChunk(payload, ~std::uint64_t{0} - 3, kGeometrySizeAdjust, chunk));
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(UnpackChunkAt(payload, payload.size(), kGeometrySizeAdjust, out));
}

TEST(PackedChunk, ChunkRunningPastThePayloadIsReadToThePayloadEnd) {
    ByteVector data = MixedBytes(5000, 16);
    ByteVector payload = testdata::PackChunk(data);
    ByteVector stream = Compress(data);
    // Without its padding, the chunk's declared size runs 8 bytes past the payload.
    ByteVector cut(payload.begin(), payload.end() - 8);
    std::vector<std::uint8_t> out;
    PackedChunk chunk;
    ASSERT_TRUE(UnpackChunkAt(cut, 0, kTextureSizeAdjust, out, &chunk));
    EXPECT_EQ(chunk.stream.size(), stream.size());
    EXPECT_EQ(chunk.end, payload.size());
    EXPECT_TRUE(out == data);
    // Cut inside the stream: what the stream holds up to the payload end comes out.
    ByteVector half(payload.begin(),
                    payload.begin() + 12 + static_cast<std::ptrdiff_t>(stream.size() / 2));
    ASSERT_TRUE(UnpackChunkAt(half, 0, kTextureSizeAdjust, out, &chunk));
    EXPECT_EQ(chunk.stream.size(), stream.size() / 2);
    ASSERT_EQ(out.size(), data.size());
    ByteVector reference(data.size());
    std::int32_t produced = ReferenceDecompress(
        reference, ByteVector(chunk.stream.begin(), chunk.stream.end()), chunk.sourceSize);
    EXPECT_GT(produced, 0);
    EXPECT_LT(produced, static_cast<std::int32_t>(data.size()));
    EXPECT_TRUE(out == reference);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + produced, data.begin()));
}

TEST(PackedChunk, HugeUnpackedSizeIsRefusedBeforeAllocation) {
    ByteVector payload = testdata::PackStream(Compress(Text("abc")), 0xFFFFFFF0u);
    std::vector<std::uint8_t> out = {1, 2, 3};
    PackedChunk chunk;
    EXPECT_FALSE(ReadPackedChunk(payload, 0, kGeometrySizeAdjust, chunk));
    EXPECT_FALSE(UnpackChunkAt(payload, 0, kGeometrySizeAdjust, out));
    EXPECT_EQ(out, ByteVector({1, 2, 3}));
    // The largest size the stream could produce is still accepted.
    ByteVector fits = testdata::PackStream(Compress(Text("abc")), 4096);
    EXPECT_TRUE(ReadPackedChunk(fits, 0, kGeometrySizeAdjust, chunk));
    // MaxExpansion really bounds the output: a stream of longest runs.
    StreamWriter w;
    w.BeginSegment();
    for (int k = 0; k < 1000; ++k) w.Run(7, 4109);
    w.EndSegment(0);
    EXPECT_LE(4109u * 1000u, MaxExpansion(w.Bytes().size()));
}

TEST(PackedChunk, SourceSizeFollowsTheCallersAdjust) {
    ByteVector data = RandomBytes(100, 17);
    ByteVector stream = testdata::CompressLiterals(data);
    // No padding: the geometry source size ends 8 bytes before the stream's end, the texture
    // source size 4 bytes before it.
    ByteVector payload = testdata::PackStream(stream, static_cast<std::uint32_t>(data.size()), 0);
    for (std::int64_t adjust : {kGeometrySizeAdjust, kTextureSizeAdjust}) {
        PackedChunk chunk;
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(UnpackChunkAt(payload, 0, adjust, out, &chunk));
        EXPECT_EQ(chunk.packedSize, stream.size() + 8);
        EXPECT_EQ(chunk.sourceSize, static_cast<std::int64_t>(chunk.packedSize) - adjust);
        EXPECT_EQ(chunk.stream.size(), stream.size());
        ByteVector reference(data.size());
        std::int32_t produced = ReferenceDecompress(reference, stream, chunk.sourceSize);
        EXPECT_TRUE(out == reference) << adjust;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + produced, data.begin()));
        // Literal tokens stop at the first token start beyond the source size: the geometry
        // size ends before the last literals, the texture size after them.
        if (adjust == kGeometrySizeAdjust) {
            EXPECT_LT(produced, 100);
        } else {
            EXPECT_EQ(produced, 100);
        }
    }
    std::vector<std::uint8_t> geometry, texture;
    ASSERT_TRUE(UnpackChunkAt(payload, 0, kGeometrySizeAdjust, geometry));
    ASSERT_TRUE(UnpackChunkAt(payload, 0, kTextureSizeAdjust, texture));
    EXPECT_NE(geometry, texture);
}

TEST(PackedChunk, CompressedStreamsUnpackWithBothAdjusts) {
    for (const RoundTripCase& c : RoundTripCases()) {
        ByteVector payload = testdata::PackChunk(c.data);
        payload.insert(payload.begin(), {0xEE, 0xEE, 0xEE});  // a chunk at an offset
        payload.insert(payload.end(), {1, 2, 3, 4});          // and something behind it
        for (std::int64_t adjust : {kGeometrySizeAdjust, kTextureSizeAdjust}) {
            std::vector<std::uint8_t> out;
            PackedChunk chunk;
            ASSERT_TRUE(UnpackChunkAt(payload, 3, adjust, out, &chunk)) << c.name;
            EXPECT_TRUE(out == c.data) << c.name << " " << adjust;
            EXPECT_EQ(chunk.end, payload.size() - 4) << c.name;
        }
    }
}

}  // namespace
}  // namespace morvex

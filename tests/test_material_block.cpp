// Material blocks: MATE and MAT3 (the table stored as it is), MAT2 and MAT4 (the table in a
// packed chunk), decoded back to the records our writer stored, and their malformed forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "decode/material_block.h"
#include "decoder_test_support.h"
#include "encode/material_encoder.h"
#include "testdata/compress.h"
#include "testdata/it3_writer.h"

namespace morvex {
namespace {

using testdata::ByteVector;
using testdata::Material;
using testdata::PayloadWriter;

constexpr std::size_t kRecord = kMaterialRecordSize;

const std::vector<Material> kMaterials = {
    {"body", "skin", "skin_mask", 12.5f},
    {"eyes", "", "", 0.0f},
    {"metal:plate", "steel", "", -12.9f},
};

bool IsPacked(std::string_view tag) {
    return tag == "MAT2" || tag == "MAT4";
}

std::unique_ptr<MaterialBlock> MakeDecoder(std::string_view tag) {
    if (tag == "MATE") return std::make_unique<MateBlock>();
    if (tag == "MAT3") return std::make_unique<Mat3Block>();
    if (tag == "MAT2") return std::make_unique<Mat2Block>();
    return std::make_unique<Mat4Block>();
}

// A decoder of `tag` bound with ReadHeader to a file that holds one block with `payload`.
struct Bound {
    test::ExactBuffer file;
    std::unique_ptr<MaterialBlock> decoder;
};

Bound Bind(std::string_view tag, std::span<const std::uint8_t> payload) {
    Bound b{test::SingleBlockFile(tag, payload), MakeDecoder(tag)};
    b.decoder->ReadHeader(b.file.View(), 0, 0, "model");
    return b;
}

ByteVector Table(const std::vector<Material>& materials) {
    ByteVector table;
    for (const Material& m : materials) {
        ByteVector record = testdata::MaterialRecord(m);
        table.insert(table.end(), record.begin(), record.end());
    }
    return table;
}

// A payload of `tag` around a table given as bytes, with any stored count.
ByteVector PayloadOf(std::string_view tag, std::int32_t count, const ByteVector& table) {
    PayloadWriter w;
    w.I32(count);
    if (IsPacked(tag)) {
        w.Chunk(table);
    } else {
        w.Raw(table);
    }
    return w.bytes;
}

// A MAT2 payload whose chunk holds a literal-only stream: how far a cut stream decodes is then
// known exactly (one output byte per literal).
ByteVector LiteralMat2(const ByteVector& table) {
    PayloadWriter w;
    w.I32(static_cast<std::int32_t>(table.size() / kRecord));
    w.Raw(testdata::PackStream(testdata::CompressLiterals(table),
                               static_cast<std::uint32_t>(table.size())));
    return w.bytes;
}

void PutU32(ByteVector& bytes, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
        bytes[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
}

void ExpectRecord(const MaterialBlock& d, std::int32_t i, const Material& m) {
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(d.MaterialAt(i), m.name);
    EXPECT_EQ(d.TextureNameAt(i), m.texture);
    EXPECT_EQ(d.HasTexture(i), !m.texture.empty());
    EXPECT_EQ(d.AlphaMapNameAt(i), m.alphaMap);
    EXPECT_EQ(d.HasAlphaMap(i), !m.alphaMap.empty());
    EXPECT_EQ(std::bit_cast<std::uint32_t>(d.PowerAt(i)), std::bit_cast<std::uint32_t>(m.power));
}

void ExpectEmptyRecord(const MaterialBlock& d, std::int32_t i) {
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(d.MaterialAt(i), "");
    EXPECT_EQ(d.TextureNameAt(i), "");
    EXPECT_FALSE(d.HasTexture(i));
    EXPECT_EQ(d.AlphaMapNameAt(i), "");
    EXPECT_FALSE(d.HasAlphaMap(i));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(d.PowerAt(i)), 0u);
}

// A float whose stored bytes were cut: its low k bytes are those of `full`, the rest zero.
bool IsCutFloat(float actual, float full) {
    std::uint32_t a = std::bit_cast<std::uint32_t>(actual), f = std::bit_cast<std::uint32_t>(full);
    for (int k = 0; k <= 4; ++k) {
        std::uint32_t mask = k == 4 ? 0xFFFFFFFFu : (1u << (8 * k)) - 1;
        if (a == (f & mask)) return true;
    }
    return false;
}

std::string TagName(const testing::TestParamInfo<std::string>& info) {
    return info.param;
}

class MaterialTags : public testing::TestWithParam<std::string> {};
class PlainMaterialTags : public testing::TestWithParam<std::string> {};
class PackedMaterialTags : public testing::TestWithParam<std::string> {};

INSTANTIATE_TEST_SUITE_P(Tags, MaterialTags, testing::Values("MATE", "MAT2", "MAT3", "MAT4"),
                         TagName);
INSTANTIATE_TEST_SUITE_P(Tags, PlainMaterialTags, testing::Values("MATE", "MAT3"), TagName);
INSTANTIATE_TEST_SUITE_P(Tags, PackedMaterialTags, testing::Values("MAT2", "MAT4"), TagName);

TEST_P(MaterialTags, DecodesTheTableBackAndCountsWithoutIt) {
    Bound b = Bind(GetParam(), testdata::MaterialPayload(GetParam(), kMaterials));
    MaterialBlock& d = *b.decoder;
    EXPECT_EQ(d.Count(), 3);
    EXPECT_FALSE(d.IsDecoded());
    ExpectEmptyRecord(d, 0);  // nothing to read before Decode

    ASSERT_EQ(d.Decode(), 0);
    EXPECT_EQ(d.TableSize(), 3 * kRecord);
    for (std::int32_t i = 0; i < 3; ++i)
        ExpectRecord(d, i, kMaterials[static_cast<std::size_t>(i)]);
    EXPECT_EQ(d.PowerAt(2), -12.9f);

    // A second Decode replaces the table by an equal one.
    ASSERT_EQ(d.Decode(), 0);
    EXPECT_EQ(d.TableSize(), 3 * kRecord);
    for (std::int32_t i = 0; i < 3; ++i)
        ExpectRecord(d, i, kMaterials[static_cast<std::size_t>(i)]);

    EXPECT_EQ(d.Release(), 0);
    EXPECT_FALSE(d.IsDecoded());
    EXPECT_EQ(d.TableSize(), 0u);
    EXPECT_EQ(d.Count(), 3);
    for (std::int32_t i = 0; i < 3; ++i) ExpectEmptyRecord(d, i);
}

TEST_P(MaterialTags, CountIsTheStoredWordWhateverTheTableHolds) {
    for (std::int32_t stored : {0, 1, 7, -5, INT32_MAX}) {
        Bound b = Bind(GetParam(), PayloadOf(GetParam(), stored, Table(kMaterials)));
        EXPECT_EQ(b.decoder->Count(), stored);
        ASSERT_EQ(b.decoder->Decode(), 0);
        EXPECT_EQ(b.decoder->TableSize(), 3 * kRecord) << stored;
        ExpectRecord(*b.decoder, 2, kMaterials[2]);
    }
}

TEST_P(MaterialTags, IndexOutsideTheTableReadsAsAnEmptyRecord) {
    // Seven records announced, three stored, and half of a fourth.
    ByteVector table = Table(kMaterials);
    ByteVector half = testdata::MaterialRecord({"half", "half_tex", "half_alpha", 3.0f});
    table.insert(table.end(), half.begin(), half.begin() + 200);
    Bound b = Bind(GetParam(), PayloadOf(GetParam(), 7, table));
    ASSERT_EQ(b.decoder->Decode(), 0);
    ExpectRecord(*b.decoder, 2, kMaterials[2]);
    for (std::int32_t i : {3, 6, 7, -1, INT32_MAX, INT32_MIN, INT32_MAX / 384 + 1}) {
        ExpectEmptyRecord(*b.decoder, i);
    }
}

TEST_P(MaterialTags, NamesWithoutNulAreCutAtTheirField) {
    // Every text field filled to its last byte, and the unread bytes behind them non-zero.
    PayloadWriter record;
    record.Raw(ByteVector(64, 'N')).Raw(ByteVector(64, 'T')).Raw(ByteVector(64, 'A'));
    record.Raw(ByteVector(180, 'X')).F32(2.0f).Raw(ByteVector(8, 'Y'));
    ASSERT_EQ(record.Size(), kRecord);
    ByteVector table = record.bytes;
    ByteVector second = testdata::MaterialRecord({"next", "", "", 1.0f});
    table.insert(table.end(), second.begin(), second.end());
    // The last record of the table ends the buffer with an unterminated alpha-map name.
    PayloadWriter last;
    last.Text("last", 64).Text("tex", 64).Raw(ByteVector(64, 'Z')).Zeros(180).F32(4.0f).Zeros(8);
    table.insert(table.end(), last.bytes.begin(), last.bytes.end());

    Bound b = Bind(GetParam(), PayloadOf(GetParam(), 3, table));
    ASSERT_EQ(b.decoder->Decode(), 0);
    EXPECT_EQ(b.decoder->MaterialAt(0), std::string(64, 'N'));
    EXPECT_EQ(b.decoder->TextureNameAt(0), std::string(64, 'T'));
    EXPECT_EQ(b.decoder->AlphaMapNameAt(0), std::string(64, 'A'));
    EXPECT_EQ(b.decoder->PowerAt(0), 2.0f);
    EXPECT_EQ(b.decoder->MaterialAt(1), "next");
    EXPECT_EQ(b.decoder->AlphaMapNameAt(2), std::string(64, 'Z'));
    EXPECT_EQ(b.decoder->PowerAt(2), 4.0f);
}

TEST_P(MaterialTags, AFieldStartingWithNulIsEmptyWhateverFollows) {
    PayloadWriter record;
    record.Text("name", 64);
    record.U8(0).Text("hidden_texture", 63);
    record.U8(0).Text("hidden_alpha", 63);
    record.Zeros(180).F32(1.0f).Zeros(8);
    Bound b = Bind(GetParam(), PayloadOf(GetParam(), 1, record.bytes));
    ASSERT_EQ(b.decoder->Decode(), 0);
    EXPECT_EQ(b.decoder->MaterialAt(0), "name");
    EXPECT_FALSE(b.decoder->HasTexture(0));
    EXPECT_EQ(b.decoder->TextureNameAt(0), "");
    EXPECT_FALSE(b.decoder->HasAlphaMap(0));
    EXPECT_EQ(b.decoder->AlphaMapNameAt(0), "");
}

TEST_P(MaterialTags, ReboundDecoderDecodesItsNewBlock) {
    ByteVector first = testdata::MaterialPayload(GetParam(), kMaterials);
    ByteVector second = testdata::MaterialPayload(GetParam(), {{"other", "other_tex", "", 5.0f}});
    testdata::It3Writer writer;
    writer.Block(GetParam(), first).Block(GetParam(), second);
    test::ExactBuffer file(writer.Bytes());
    std::unique_ptr<MaterialBlock> d = MakeDecoder(GetParam());
    ASSERT_GT(d->ReadHeader(file.View(), 0, 0, "model"), 0);
    ASSERT_EQ(d->Decode(), 0);
    ExpectRecord(*d, 0, kMaterials[0]);
    ASSERT_GT(d->ReadHeader(file.View(), static_cast<std::int32_t>(8 + first.size()), 1, "model"),
              0);
    EXPECT_EQ(d->Count(), 1);
    ASSERT_EQ(d->Decode(), 0);
    EXPECT_EQ(d->TableSize(), kRecord);
    ExpectRecord(*d, 0, {"other", "other_tex", "", 5.0f});
    ExpectEmptyRecord(*d, 1);
}

TEST_P(PlainMaterialTags, CountOnlyPayloadDecodesToAnEmptyTable) {
    for (std::int32_t stored : {0, 2}) {
        PayloadWriter w;
        w.I32(stored);
        Bound b = Bind(GetParam(), w.bytes);
        EXPECT_EQ(b.decoder->Count(), stored);
        EXPECT_EQ(b.decoder->Decode(), 0);
        EXPECT_TRUE(b.decoder->IsDecoded());
        EXPECT_EQ(b.decoder->TableSize(), 0u);
        ExpectEmptyRecord(*b.decoder, 0);
    }
}

TEST_P(PlainMaterialTags, PayloadShorterThanTheCountHoldsNoTable) {
    for (std::size_t size = 0; size < 4; ++size) {
        SCOPED_TRACE(size);
        ByteVector payload(size, 0x01);
        Bound b = Bind(GetParam(), payload);
        EXPECT_EQ(b.decoder->Count(), 0);
        EXPECT_NE(b.decoder->Decode(), 0);
        EXPECT_FALSE(b.decoder->IsDecoded());
        EXPECT_EQ(b.decoder->TableSize(), 0u);
    }
}

TEST_P(PackedMaterialTags, UnpackedSizeZeroDecodesToAnEmptyTable) {
    Bound b = Bind(GetParam(), PayloadOf(GetParam(), 3, {}));
    EXPECT_EQ(b.decoder->Count(), 3);
    EXPECT_EQ(b.decoder->Decode(), 0);
    EXPECT_TRUE(b.decoder->IsDecoded());
    EXPECT_EQ(b.decoder->TableSize(), 0u);
    ExpectEmptyRecord(*b.decoder, 0);
}

TEST_P(PackedMaterialTags, RejectedStreamGivesATableOfZeros) {
    // A valid literal stream whose flag byte is set: a decoder that ignored the flag would
    // produce the names.
    ByteVector table = Table(kMaterials);
    ByteVector stream = testdata::CompressLiterals(table);
    stream[2] = 1;
    PayloadWriter w;
    w.I32(3).Raw(testdata::PackStream(stream, static_cast<std::uint32_t>(table.size())));
    Bound b = Bind(GetParam(), w.bytes);
    ASSERT_EQ(b.decoder->Decode(), 0);
    EXPECT_EQ(b.decoder->TableSize(), table.size());
    for (std::int32_t i = 0; i < 3; ++i) ExpectEmptyRecord(*b.decoder, i);
}

TEST_P(PackedMaterialTags, ChunkRunningPastThePayloadIsReadAsFarAsItGoes) {
    ByteVector table = Table(kMaterials);
    ByteVector payload = LiteralMat2(table);

    // The whole stream is there, only packedSize claims more: the table decodes in full.
    ByteVector longer = payload;
    PutU32(longer, 4, static_cast<std::uint32_t>(payload.size() + 100000));
    Bound whole = Bind(GetParam(), longer);
    ASSERT_EQ(whole.decoder->Decode(), 0);
    EXPECT_EQ(whole.decoder->TableSize(), table.size());
    for (std::int32_t i = 0; i < 3; ++i)
        ExpectRecord(*whole.decoder, i, kMaterials[static_cast<std::size_t>(i)]);

    // The payload ends 600 bytes into the stream: about 520 literals (the first record and the
    // second's names) come out, the rest of the table stays zero.
    ByteVector cut(payload.begin(), payload.begin() + 16 + 600);
    Bound part = Bind(GetParam(), cut);
    ASSERT_EQ(part.decoder->Decode(), 0);
    EXPECT_EQ(part.decoder->TableSize(), table.size());
    ExpectRecord(*part.decoder, 0, kMaterials[0]);
    EXPECT_EQ(part.decoder->MaterialAt(1), kMaterials[1].name);
    ExpectEmptyRecord(*part.decoder, 2);
}

TEST_P(PackedMaterialTags, ImpossibleUnpackedSizeFailsWithoutAllocating) {
    for (std::uint32_t unpacked : {0xFFFFFFF0u, 0x80000000u, 0x10000000u}) {
        SCOPED_TRACE(unpacked);
        ByteVector payload = LiteralMat2(Table(kMaterials));
        PutU32(payload, 8, unpacked);
        Bound b = Bind(GetParam(), payload);
        test::AllocationLimit limit(16 << 20);
        EXPECT_NE(b.decoder->Decode(), 0);
        EXPECT_EQ(limit.LargestRefused(), 0u);
        EXPECT_FALSE(b.decoder->IsDecoded());
        ExpectEmptyRecord(*b.decoder, 0);
    }
}

TEST_P(PackedMaterialTags, FailedDecodeDropsThePreviousTable) {
    ByteVector good = testdata::MaterialPayload(GetParam(), kMaterials);
    ByteVector bad = good;
    PutU32(bad, 8, 0xFFFFFFF0u);
    testdata::It3Writer writer;
    writer.Block(GetParam(), good).Block(GetParam(), bad);
    test::ExactBuffer file(writer.Bytes());
    std::unique_ptr<MaterialBlock> d = MakeDecoder(GetParam());
    d->ReadHeader(file.View(), 0, 0, "model");
    ASSERT_EQ(d->Decode(), 0);
    d->ReadHeader(file.View(), static_cast<std::int32_t>(8 + good.size()), 1, "model");
    EXPECT_NE(d->Decode(), 0);
    EXPECT_FALSE(d->IsDecoded());
    ExpectEmptyRecord(*d, 0);
}

TEST_P(PackedMaterialTags, ChunkHeaderOutsideThePayloadFails) {
    ByteVector payload = testdata::MaterialPayload(GetParam(), kMaterials);
    for (std::size_t size : {4u, 8u, 15u}) {
        Bound b = Bind(GetParam(), std::span(payload).first(size));
        EXPECT_EQ(b.decoder->Count(), 3);
        EXPECT_NE(b.decoder->Decode(), 0) << size;
        EXPECT_FALSE(b.decoder->IsDecoded());
    }
}

// Every prefix of a valid payload, bound as the whole payload in a buffer of exactly its size:
// Decode fails cleanly or gives records consistent with the full table, never a stray read.
TEST_P(MaterialTags, EveryPrefixFailsCleanlyOrDecodesConsistently) {
    const std::string tag = GetParam();
    ByteVector payload = testdata::MaterialPayload(tag, kMaterials);
    const std::size_t headerBytes = IsPacked(tag) ? 16 : 4;
    for (std::size_t size = 0; size <= payload.size(); ++size) {
        SCOPED_TRACE("prefix " + std::to_string(size));
        Bound b = Bind(tag, std::span(payload).first(size));
        MaterialBlock& d = *b.decoder;
        EXPECT_EQ(d.Count(), size >= 4 ? 3 : 0);
        int result = d.Decode();
        EXPECT_EQ(result == 0, size >= headerBytes);
        if (result != 0) {
            EXPECT_FALSE(d.IsDecoded());
            continue;
        }
        for (std::int32_t i = 0; i < 3; ++i) {
            const Material& full = kMaterials[static_cast<std::size_t>(i)];
            if (!IsPacked(tag)) {
                // A stored table holds a record whole or not at all.
                if (size >= 4 + kRecord * static_cast<std::size_t>(i + 1)) {
                    ExpectRecord(d, i, full);
                } else {
                    ExpectEmptyRecord(d, i);
                }
                continue;
            }
            // A cut stream yields the start of the table and zeros behind it.
            EXPECT_EQ(d.TableSize(), 3 * kRecord);
            EXPECT_TRUE(full.name.starts_with(d.MaterialAt(i))) << d.MaterialAt(i);
            EXPECT_TRUE(full.texture.starts_with(d.TextureNameAt(i))) << d.TextureNameAt(i);
            EXPECT_TRUE(full.alphaMap.starts_with(d.AlphaMapNameAt(i))) << d.AlphaMapNameAt(i);
            EXPECT_TRUE(IsCutFloat(d.PowerAt(i), full.power)) << d.PowerAt(i);
        }
        if (size == payload.size()) {
            for (std::int32_t i = 0; i < 3; ++i)
                ExpectRecord(d, i, kMaterials[static_cast<std::size_t>(i)]);
        }
    }
}

// ---- Writing material blocks ----

// `count` records with every byte set (the unread ones too), and names written over them.
std::vector<MaterialRecord> ScrambledRecords(std::size_t count) {
    std::vector<MaterialRecord> records(count);
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t k = 0; k < kRecord; ++k) {
            records[i][k] = static_cast<std::uint8_t>(1 + (i * 131 + k * 7) % 255);
        }
        const Material& m = kMaterials[i % kMaterials.size()];
        EXPECT_TRUE(SetMaterialText(records[i], MaterialField::Name, m.name, "obj", 0).Ok());
        EXPECT_TRUE(
            SetMaterialText(records[i], MaterialField::TextureName, m.texture, "obj", 0).Ok());
        EXPECT_TRUE(
            SetMaterialText(records[i], MaterialField::AlphaMapName, m.alphaMap, "obj", 0).Ok());
        SetMaterialPower(records[i], m.power);
    }
    return records;
}

TEST_P(MaterialTags, EncoderWritesEveryRecordByteBack) {
    const std::string tag = GetParam();
    for (std::size_t count : {0u, 1u, 3u, 200u}) {
        SCOPED_TRACE(std::to_string(count) + " records");
        const std::vector<MaterialRecord> records = ScrambledRecords(count);
        ByteVector payload;
        ASSERT_TRUE(EncodeMaterialBlock(TagValue(tag), records, payload).Ok());
        Bound b = Bind(tag, payload);
        EXPECT_EQ(b.decoder->Count(), static_cast<std::int32_t>(count));
        ASSERT_EQ(b.decoder->Decode(), 0);
        EXPECT_EQ(b.decoder->TableSize(), count * kRecord);
        for (std::size_t i = 0; i < count; ++i) {
            ExpectRecord(*b.decoder, static_cast<std::int32_t>(i), kMaterials[i % 3]);
        }
        std::vector<MaterialRecord> back;
        ASSERT_EQ(ReadMaterialRecords(TagValue(tag), payload, back), Outcome::Ok);
        EXPECT_TRUE(back == records);
    }
}

TEST(MaterialEncoder, NamesMustFitTheirFieldAndTagsMustBeMaterialTags) {
    struct Case {
        MaterialField field;
        std::string text;
        bool fits;
        const char* named;  // in the message
    };
    const Case cases[] = {
        {MaterialField::Name, std::string(63, 'n'), true, ""},
        {MaterialField::Name, std::string(64, 'n'), false, "name"},
        {MaterialField::TextureName, std::string(200, 't'), false, "texture name"},
        {MaterialField::AlphaMapName, std::string("a\0b", 3), false, "alpha-map name"},
        {MaterialField::AlphaMapName, "", true, ""},
    };
    for (const Case& c : cases) {
        MaterialRecord record = ScrambledRecords(1)[0];
        const MaterialRecord before = record;
        EncodeResult result = SetMaterialText(record, c.field, c.text, "crate", 2);
        EXPECT_EQ(result.Ok(), c.fits) << c.text;
        if (c.fits) continue;
        EXPECT_EQ(result.outcome, Outcome::TooLarge);
        EXPECT_TRUE(record == before);
        for (std::string part : {"object \"crate\"", "material 2", c.named}) {
            EXPECT_NE(result.message.find(part), std::string::npos) << result.message;
        }
    }
    // The same text leaves the bytes behind the NUL as they were; another one clears them.
    MaterialRecord record = ScrambledRecords(1)[0];
    const MaterialRecord before = record;
    ASSERT_TRUE(SetMaterialText(record, MaterialField::Name, "body", "obj", 0).Ok());
    EXPECT_TRUE(record == before);
    ASSERT_TRUE(SetMaterialText(record, MaterialField::Name, "bod", "obj", 0).Ok());
    EXPECT_EQ(std::count(record.begin() + 3, record.begin() + 64, 0), 61);

    ByteVector payload;
    EXPECT_EQ(EncodeMaterialBlock(TagValue("VPA2"), ScrambledRecords(1), payload).outcome,
              Outcome::Unsupported);
    EXPECT_TRUE(payload.empty());
}

}  // namespace
}  // namespace morvex

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "decode/block_types.h"
#include "decode/decoder_factory.h"
#include "decode/material_block.h"
#include "decode/vertex_block.h"
#include "test_support.h"
#include "testdata/it3_writer.h"

namespace morvex {
namespace {

using testdata::ByteVector;
using testdata::It3Writer;

// Converts `file` in check mode in-process and returns the Converter for inspection.
struct Indexed {
    std::string output;
    int result;
    std::unique_ptr<Converter> converter;
};

Indexed IndexOnce(const std::string& path, bool headersOnly) {
    Indexed r;
    r.converter = std::make_unique<Converter>(Console::Capturing());
    ConvertOptions options;
    options.checkHeadersOnly = headersOnly;
    r.result = r.converter->Convert(path, "", OutputMode::Check, options);
    r.output = r.converter->GetConsole().Captured();
    return r;
}

// Checks the file twice, reading it whole and reading only its block headers, and expects the
// same messages and block list, with every indexed header read; returns the whole reading.
Indexed Index(const It3Writer& file) {
    test::TempDir dir;
    test::WriteBytes(dir / "model.it3", file.Bytes());
    Indexed whole = IndexOnce((dir / "model.it3").string(), false);
    const Indexed headers = IndexOnce((dir / "model.it3").string(), true);
    EXPECT_EQ(headers.result, whole.result);
    EXPECT_EQ(headers.output, whole.output);
    const Model& a = whole.converter->GetModel();
    const Model& b = headers.converter->GetModel();
    EXPECT_EQ(b.buffer.size(), a.buffer.size());
    EXPECT_EQ(b.blocks.size(), a.blocks.size());
    for (std::size_t k = 0; k < std::min(a.blocks.size(), b.blocks.size()); ++k) {
        const Block &x = a.blocks[k], &y = b.blocks[k];
        EXPECT_TRUE(x.TagText() == y.TagText() && x.offset == y.offset && x.size == y.size &&
                    x.index == y.index && x.registryIndex == y.registryIndex)
            << "block " << k;
        const auto at = static_cast<std::size_t>(y.offset);
        EXPECT_TRUE(std::equal(b.buffer.begin() + at, b.buffer.begin() + at + 8,
                               file.Bytes().begin() + static_cast<std::ptrdiff_t>(at)))
            << "header of block " << k;
    }
    return whole;
}

TEST(Registry, HoldsFortyPrototypesInTagOrder) {
    std::vector<std::unique_ptr<Block>> registry;
    RegisterBlockTypes(registry);
    ASSERT_EQ(registry.size(), 40u);
    EXPECT_EQ(registry[0]->typeTag, 0xFFFFFFFFu);
    const char* expected[] = {"ALTT", "ATRE", "BBOX", "BON2", "BON3", "BONE", "CAME", "CDLO",
                              "CHID", "GLOW", "IKNG", "INFO", "INFS", "INFZ", "KAN2", "KAN3",
                              "KAN4", "KAN5", "KAN6", "KANI", "KANT", "LIG3", "MAN2", "MANI",
                              "MAT2", "MAT3", "MAT4", "MATE", "PLU2", "PLU3", "PLUG", "RTY2",
                              "TEXI", "VPA2", "VPA4", "VPA5", "VPA7", "VPA8", "VPAC"};
    for (std::size_t k = 0; k < 39; ++k) {
        EXPECT_EQ(registry[k + 1]->typeTag, TagValue(expected[k])) << expected[k];
        if (k > 0) {
            EXPECT_LT(std::string(expected[k - 1]), std::string(expected[k]));
        }
    }
    EXPECT_NE(dynamic_cast<MateBlock*>(registry[26].get()), nullptr);  // MAT3 derives from MATE
    EXPECT_NE(dynamic_cast<Mat2Block*>(registry[27].get()), nullptr);  // MAT4 derives from MAT2
    EXPECT_NE(dynamic_cast<KanBlock*>(registry[15].get()), nullptr);
    EXPECT_EQ(dynamic_cast<KanBlock*>(registry[19].get()), nullptr);  // KAN6 is on Block directly
    EXPECT_NE(dynamic_cast<ManBlock*>(registry[23].get()), nullptr);
    EXPECT_NE(dynamic_cast<VertexBlock*>(registry[39].get()), nullptr);
}

TEST(Tags, AreLittleEndianValues) {
    EXPECT_EQ(TagValue("INFO"), 0x4F464E49u);
    EXPECT_EQ(TagValue("MATE"), 0x4554414Du);
    EXPECT_EQ(TagValue("VPA2"), 0x32415056u);
    EXPECT_EQ(TagValue("TEXI"), 0x49584554u);
    EXPECT_EQ(TagValue("VPAC"), 0x43415056u);
}

TEST(Scan, IndexesEveryBlockInFileOrder) {
    It3Writer file;
    file.Block("INFO", {});
    Indexed r = Index(file);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.converter->GetModel().blocks.size(), 1u);
    const Block& b = r.converter->GetModel().blocks[0];
    EXPECT_EQ(b.TagText(), "INFO");
    EXPECT_EQ(b.size, 8);
    EXPECT_EQ(b.index, 0);
    EXPECT_EQ(b.offset, 0);
    EXPECT_EQ(b.typeTag, 0xFFFFFFFFu);  // list records are plain blocks
    EXPECT_EQ(b.registryIndex, 12);
    EXPECT_EQ(b.baseName, "model");
    EXPECT_EQ(r.output, "");
}

TEST(Scan, WarnsOncePerUnknownBlock) {
    ByteVector four = {1, 2, 3, 4};
    It3Writer file;
    file.Info("a").Block("ABCD", four).Block("KAN7", {}).Block("ABCD", {});
    file.Block(std::string_view("\xFF\xFF\xFF\xFF", 4), {});
    file.Block(std::string_view("AB\0D", 4), {});
    file.Block(std::string_view("\0\0\0\0", 4), {});
    file.Block("VPAC", {});
    Indexed r = Index(file);
    EXPECT_EQ(r.output,
              "Warning : unknown block : ABCD(0x44434241)\n"
              "Warning : unknown block : KAN7(0x374E414B)\n"
              "Warning : unknown block : ABCD(0x44434241)\n"
              "Warning : unknown block : \xFF\xFF\xFF\xFF(0xFFFFFFFF)\n"
              "Warning : unknown block : AB(0x44004241)\n"
              "Warning : unknown block : (0x00000000)\n");
    ASSERT_EQ(r.converter->GetModel().blocks.size(), 8u);
    EXPECT_EQ(r.converter->GetModel().blocks[1].registryIndex, 0);
    EXPECT_EQ(r.converter->GetModel().blocks[1].offset, 13);  // INFO "a" + NUL padding: 8 + 5
    EXPECT_EQ(r.converter->GetModel().blocks[7].registryIndex, 39);
    for (std::size_t k = 0; k < r.converter->GetModel().blocks.size(); ++k) {
        EXPECT_EQ(r.converter->GetModel().blocks[k].index, static_cast<int>(k));
    }
}

struct BrokenCase {
    const char* name;
    std::function<void(It3Writer&)> tail;
    std::string warning;
    std::size_t blocks;
};

class BrokenContainer : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenContainer, StopsTheScanWithAWarning) {
    It3Writer file;
    file.Block("INFO", ByteVector{'o', 0, 0, 0}).Block("BBOX", ByteVector(4, 0));
    GetParam().tail(file);
    Indexed r = Index(file);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.output, GetParam().warning);
    EXPECT_EQ(r.converter->GetModel().blocks.size(), GetParam().blocks);
}

INSTANTIATE_TEST_SUITE_P(
    Scan, BrokenContainer,
    ::testing::Values(BrokenCase{"cut_header",
                                 [](It3Writer& f) {
                                     f.Raw(ByteVector{'T', 'E', 'X', 'I', 9});
                                 },
                                 "Warning : broken block at offset 24.\n", 2},
                      BrokenCase{"tag_only",
                                 [](It3Writer& f) {
                                     f.Raw(ByteVector{'T', 'E', 'X'});
                                 },
                                 "Warning : broken block at offset 24.\n", 2},
                      BrokenCase{"payload_past_end",
                                 [](It3Writer& f) { f.Header("TEXI", 100).Raw(ByteVector(99, 0)); },
                                 "Warning : broken block at offset 24.\n", 2},
                      BrokenCase{"negative_size",
                                 [](It3Writer& f) { f.Header("TEXI", -8).Raw(ByteVector(8, 0)); },
                                 "Warning : broken block at offset 24.\n", 2},
                      BrokenCase{"huge_size", [](It3Writer& f) { f.Header("TEXI", 0x7FFFFFFF); },
                                 "Warning : broken block at offset 24.\n", 2},
                      BrokenCase{"exact_fit",
                                 [](It3Writer& f) { f.Header("TEXI", 3).Raw(ByteVector(3, 0)); },
                                 "", 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Scan, ReadingOnlyTheHeadersFindsEveryBlock) {
    // Payloads of every size around the 4 KiB pages the headers are read in: headers that share
    // a page, that straddle two, and that lie pages apart; the file ends with a cut header.
    It3Writer file;
    file.Info("o");
    for (std::size_t size : {0, 1, 4079, 4080, 4081, 4083, 9000, 3, 70000, 5, 8184, 4090}) {
        file.Block("BBOX", ByteVector(size, 0xAB));
    }
    for (int k = 0; k < 2000; ++k) file.Block("TEXI", ByteVector(static_cast<std::size_t>(k % 7)));
    file.Raw(ByteVector{'V', 'P', 'A'});
    Indexed r = Index(file);
    EXPECT_EQ(r.converter->GetModel().blocks.size(), 2013u);
    EXPECT_NE(r.output.find("broken block"), std::string::npos);

    // A page that holds no header is not read: its payload bytes read as zeros.
    test::TempDir dir;
    test::WriteBytes(dir / "model.it3", file.Bytes());
    const Indexed headers = IndexOnce((dir / "model.it3").string(), true);
    const Model& model = headers.converter->GetModel();
    const Block& big = model.blocks[9];  // the 70000-byte payload
    ASSERT_EQ(big.size, 70008);
    const auto middle = static_cast<std::size_t>(big.offset) + 35000;
    EXPECT_EQ(file.Bytes()[middle], 0xAB);
    EXPECT_EQ(model.buffer[middle], 0);
}

TEST(Scan, FileOfOnlyTheMagicIsABrokenBlock) {
    It3Writer file;
    file.Raw(ByteVector{'I', 'N', 'F', 'O'});
    Indexed r = Index(file);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.output, "Warning : broken block at offset 0.\n");
    EXPECT_TRUE(r.converter->GetModel().blocks.empty());
}

class ObjectSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        It3Writer file;
        file.Info("one").Block("MATE", ByteVector(4, 0)).Block("VPA2", ByteVector(4, 0));
        file.Info("two").Block("MAT2", ByteVector(4, 0)).Block("VPA4", ByteVector(4, 0));
        indexed = Index(file);
    }
    Indexed indexed;
};

TEST_F(ObjectSearch, FindsTheFirstBlockOfATagInsideTheObject) {
    const Converter& c = *indexed.converter;
    EXPECT_EQ(c.FindInObject(0, TagValue("MATE")), 1);
    EXPECT_EQ(c.FindInObject(0, TagValue("MAT2")), -1);  // stops at the INFO at position 3
    EXPECT_EQ(c.FindInObject(3, TagValue("MAT2")), 4);
    EXPECT_EQ(c.FindInObject(5, TagValue("VPA4")), -1);  // the last record
    EXPECT_EQ(c.FindInObject(0, TagValue("INFO")), -1);
    EXPECT_EQ(c.GetModel().ObjectName(0), "one");
    EXPECT_EQ(c.GetModel().ObjectName(3), "two");
}

struct FactoryCase {
    std::vector<std::string> tags;
    std::string material;  // expected winner, "" for none
    std::string vertex;
};

class DecoderSelection : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(DecoderSelection, FollowsTheSearchOrder) {
    It3Writer file;
    file.Info("obj");
    for (const std::string& tag : GetParam().tags) file.Block(tag, ByteVector(4, 0));
    file.Info("next").Block("MATE", ByteVector(4, 0)).Block("VPA2", ByteVector(4, 0));
    Indexed r = Index(file);
    const Converter& c = *r.converter;

    std::unique_ptr<MaterialBlock> material = std::make_unique<MateBlock>();
    int m = c.CreateMaterialDecoder(0, material);
    std::unique_ptr<VertexBlock> vertex = std::make_unique<VpacBlock>();
    int v = c.CreateVertexDecoder(0, vertex);
    // The one rule the walks, the reports and the counts share agrees with the factories, and
    // a tag given twice gives its first block.
    const std::vector<ObjectBlocks> objects = FindObjects(c.GetModel());
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].info, 0);
    EXPECT_EQ(objects[0].material, m);
    EXPECT_EQ(objects[0].vertex, v);
    EXPECT_EQ(objects[0].Converts(), m >= 0 && v >= 0);
    EXPECT_TRUE(objects[1].Converts());
    if (!GetParam().material.empty()) {
        EXPECT_EQ(m, c.FindInObject(0, TagValue(GetParam().material)));
    }
    if (!GetParam().vertex.empty()) {
        EXPECT_EQ(v, c.FindInObject(0, TagValue(GetParam().vertex)));
    }
    if (GetParam().material.empty()) {
        EXPECT_EQ(m, -1);
        EXPECT_EQ(material, nullptr);  // the previous decoder is gone all the same
    } else {
        ASSERT_GE(m, 0);
        EXPECT_EQ(c.GetModel().blocks[static_cast<std::size_t>(m)].TagText(), GetParam().material);
        ASSERT_NE(material, nullptr);
        EXPECT_EQ(material->typeTag, TagValue(GetParam().material));
        EXPECT_EQ(material->buffer.data(), nullptr);  // not bound yet
    }
    if (GetParam().vertex.empty()) {
        EXPECT_EQ(v, -1);
        EXPECT_EQ(vertex, nullptr);
    } else {
        ASSERT_GE(v, 0);
        EXPECT_EQ(c.GetModel().blocks[static_cast<std::size_t>(v)].TagText(), GetParam().vertex);
        ASSERT_NE(vertex, nullptr);
        EXPECT_EQ(vertex->typeTag, TagValue(GetParam().vertex));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Factories, DecoderSelection,
    ::testing::Values(FactoryCase{{"MAT3", "MAT2", "VPAC", "VPA5"}, "MAT2", "VPA5"},
                      FactoryCase{{"MAT4"}, "MAT4", ""},
                      FactoryCase{{"MAT2", "MAT3", "MATE"}, "MATE", ""},
                      FactoryCase{{"VPA8", "VPA7"}, "", "VPA7"},
                      FactoryCase{{"VPAC", "VPA4", "VPA2"}, "", "VPA2"},
                      FactoryCase{{"BBOX"}, "", ""},
                      FactoryCase{{"VPA4", "MAT3", "VPA4", "MAT3", "VPA8"}, "MAT3", "VPA4"}));

TEST(ConverterLifecycle, ConvertsTwiceInTurn) {
    test::TempDir dir;
    It3Writer first, second;
    first.Info("a").Block("BBOX", {}).Block("ZZZZ", {});
    second.Info("b");
    test::WriteBytes(dir / "first.it3", first.Bytes());
    test::WriteBytes(dir / "second.it3", second.Bytes());
    std::FILE* console = std::tmpfile();
    Converter c(console);
    EXPECT_EQ(c.Convert((dir / "first.it3").string(), "", OutputMode::Check), 0);
    EXPECT_EQ(c.GetModel().blocks.size(), 3u);
    EXPECT_EQ(c.Convert((dir / "second.it3").string(), "", OutputMode::Check), 0);
    EXPECT_EQ(c.GetModel().blocks.size(), 1u);
    EXPECT_EQ(c.GetModel().registry.size(), 40u);
    EXPECT_EQ(c.GetModel().baseName, "second");
    EXPECT_EQ(c.GetModel().buffer.size(), 13u);  // INFO header + "b" and its padding
    EXPECT_EQ(c.Convert((dir / "missing.it3").string(), "", OutputMode::Check), -1);
    EXPECT_TRUE(c.GetModel().buffer.empty());
    EXPECT_EQ(c.GetModel().registry.size(), 40u);  // filled before the file is opened
    std::fclose(console);
}

}  // namespace
}  // namespace morvex

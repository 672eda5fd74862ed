// Vertex blocks: the six tags decoded back to the meshes our writer stored, the layout details
// of each payload (VPA8's chained vertex chunks, VPA2's per-mesh chunks, mesh offsets), and the
// malformed forms: chunks and tables outside the payload, impossible sizes and counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "decode/decoder_factory.h"
#include "decode/decompress.h"
#include "decode/material_block.h"
#include "decode/vertex_block.h"
#include "decoder_test_support.h"
#include "encode/vertex_encoder.h"
#include "test_support.h"
#include "testdata/it3_writer.h"

namespace morvex {
namespace {

using testdata::ByteVector;
using testdata::Mesh;
using testdata::PayloadWriter;
using testdata::Vertex;

constexpr std::uint32_t kChainSize = 262144;
constexpr std::size_t kRecord = 116;

struct TagInfo {
    std::string tag;
    bool normals;
    std::size_t stride;
    std::size_t indexSize;
};

const TagInfo kTags[] = {
    {"VPA2", true, 112, 4}, {"VPA4", true, 112, 4}, {"VPA5", false, 40, 2},
    {"VPA7", false, 40, 2}, {"VPA8", false, 40, 2}, {"VPAC", true, 112, 4},
};

const TagInfo& Info(std::string_view tag) {
    for (const TagInfo& info : kTags) {
        if (info.tag == tag) return info;
    }
    std::abort();
}

std::unique_ptr<VertexBlock> MakeDecoder(std::string_view tag) {
    if (tag == "VPA2") return std::make_unique<Vpa2Block>();
    if (tag == "VPA4") return std::make_unique<Vpa4Block>();
    if (tag == "VPA5") return std::make_unique<Vpa5Block>();
    if (tag == "VPA7") return std::make_unique<Vpa7Block>();
    if (tag == "VPA8") return std::make_unique<Vpa8Block>();
    return std::make_unique<VpacBlock>();
}

// Vertices whose every value tells mesh and vertex apart.
Mesh MakeMesh(int seed, int vertexCount, std::vector<std::uint32_t> indices,
              std::int32_t material) {
    Mesh mesh;
    for (int i = 0; i < vertexCount; ++i) {
        auto f = static_cast<float>(i);
        auto s = static_cast<float>(seed);
        Vertex v;
        v.position = {s * 1000.0f + f, f * 0.5f, -f - 0.25f};
        v.normal = {0.125f * s, -0.5f, f / 1024.0f};
        v.texCoord = {f / 8.0f, 1.0f - s / 4.0f};
        mesh.vertices.push_back(v);
    }
    mesh.indices = std::move(indices);
    mesh.materialIndex = material;
    return mesh;
}

const std::vector<Mesh>& Model() {
    static const std::vector<Mesh> model = {
        MakeMesh(1, 4, {0, 1, 2, 2, 1, 3}, 2),
        MakeMesh(2, 3, {0, 1, 2}, 0),
        MakeMesh(3, 5, {0, 1, 2, 1, 2, 3, 4, 3, 2}, 1),
    };
    return model;
}

struct Bound {
    test::ExactBuffer file;
    std::unique_ptr<VertexBlock> decoder;
};

// A decoder of `tag` bound with ReadHeader to a file that holds one block with `payload`.
Bound Bind(std::string_view tag, std::span<const std::uint8_t> payload) {
    Bound b{test::SingleBlockFile(tag, payload), MakeDecoder(tag)};
    b.decoder->ReadHeader(b.file.View(), 0, 0, "model");
    return b;
}

std::uint32_t U32At(const ByteVector& bytes, std::size_t at) {
    return LoadU32(bytes.data() + at);
}
void PutU32(ByteVector& bytes, std::size_t at, std::uint32_t v) {
    StoreU32(bytes.data() + at, v);
}

// The offsets of the packed chunks of a writer-made payload, in payload order, found by
// following the layout of the tag (VPAC has none).
std::vector<std::size_t> ChunkOffsets(std::string_view tag, const ByteVector& p) {
    std::vector<std::size_t> chunks;
    auto n = static_cast<std::size_t>(U32At(p, 0));
    auto behind = [&p](std::size_t chunk) { return chunk + 4 + U32At(p, chunk); };
    if (tag == "VPA2") {
        std::size_t entry = 4;
        for (std::size_t k = 0; k < n; ++k) {
            std::size_t vertexChunk = entry + kRecord;
            std::size_t indexChunk = behind(vertexChunk) + 8;
            chunks.insert(chunks.end(), {vertexChunk, indexChunk});
            entry = behind(indexChunk);
        }
    } else if (tag == "VPA8") {
        std::size_t chunk = 12;
        chunks.push_back(chunk);
        chunk = behind(chunk);
        for (;;) {
            chunks.push_back(chunk);
            bool more = U32At(p, chunk + 4) == kChainSize;
            chunk = behind(chunk);
            if (!more) break;
        }
        chunks.push_back(chunk);
        chunks.push_back(behind(chunk));
    } else if (tag != "VPAC") {
        std::size_t vertexChunk = 8 + kRecord * n;
        chunks.push_back(vertexChunk);
        chunks.push_back(behind(vertexChunk) + 4 + 4 * n);
    }
    return chunks;
}

// `payload` with the packed chunk at `at` replaced by one that holds `raw`.
ByteVector ReplaceChunk(const ByteVector& payload, std::size_t at, const ByteVector& raw) {
    ByteVector out(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(at));
    ByteVector chunk = testdata::PackChunk(raw);
    out.insert(out.end(), chunk.begin(), chunk.end());
    std::size_t end = at + 4 + U32At(payload, at);
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(end), payload.end());
    return out;
}

// The payload of `tag` for `meshes` with the stored vertex count and/or index count of mesh k
// replaced, wherever the tag keeps them (VPA8 in its packed tables).
ByteVector PayloadWithCounts(std::string_view tag, const std::vector<Mesh>& meshes, std::size_t k,
                             std::optional<std::int32_t> vertexCount,
                             std::optional<std::int32_t> indexCount) {
    ByteVector p = testdata::VertexPayload(tag, meshes);
    std::size_t n = meshes.size();
    if (tag == "VPA8") {
        if (vertexCount) {
            ByteVector table;
            for (std::size_t j = 0; j < n; ++j) {
                ByteVector record = testdata::MeshRecord(tag, meshes[j]);
                if (j == k) PutU32(record, 28, static_cast<std::uint32_t>(*vertexCount));
                table.insert(table.end(), record.begin(), record.end());
            }
            p = ReplaceChunk(p, 12, table);
        }
        if (indexCount) {
            PayloadWriter counts;
            for (std::size_t j = 0; j < n; ++j) {
                auto count = static_cast<std::int32_t>(meshes[j].indices.size());
                counts.U32(0).I32(j == k ? *indexCount : count).U32(0);
            }
            std::vector<std::size_t> chunks = ChunkOffsets(tag, p);
            p = ReplaceChunk(p, chunks[chunks.size() - 2], counts.bytes);
        }
        return p;
    }
    std::size_t record = 0, counts = 0;
    if (tag == "VPAC") {
        std::size_t vertices = 0;
        for (const Mesh& m : meshes) vertices += m.vertices.size();
        record = 4 + kRecord * k;
        counts = 8 + kRecord * n + 112 * vertices + 4 * k;
    } else if (tag == "VPA2") {
        record = ChunkOffsets(tag, p)[2 * k] - kRecord;
    } else {
        record = 8 + kRecord * k;
        std::size_t vertexChunk = ChunkOffsets(tag, p)[0];
        counts = vertexChunk + 4 + U32At(p, vertexChunk) + 4 + 4 * k;
    }
    if (vertexCount) PutU32(p, record, static_cast<std::uint32_t>(*vertexCount));
    if (indexCount) PutU32(p, counts, static_cast<std::uint32_t>(*indexCount));
    return p;
}

// The first difference between the decoder's current mesh and `mesh`, or "" when they agree.
std::string Mismatch(const VertexBlock& d, const Mesh& mesh) {
    std::ostringstream out;
    if (d.VertexCount() != static_cast<std::int32_t>(mesh.vertices.size())) {
        out << "VertexCount " << d.VertexCount() << " instead of " << mesh.vertices.size();
        return out.str();
    }
    if (d.FaceCount() != static_cast<std::int32_t>(mesh.indices.size() / 3)) {
        out << "FaceCount " << d.FaceCount() << " instead of " << mesh.indices.size() / 3;
        return out.str();
    }
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        auto vi = static_cast<std::int32_t>(i);
        const Vertex& v = mesh.vertices[i];
        if (d.PositionAt(vi) != v.position) out << "position " << i;
        if (d.TexCoordAt(vi) != v.texCoord) out << "texCoord " << i;
        if (d.HasNormals() && d.NormalAt(vi) != v.normal) out << "normal " << i;
        if (!out.str().empty()) return out.str();
    }
    for (std::size_t t = 0; t < mesh.indices.size() / 3; ++t) {
        std::array<std::uint32_t, 3> expected = {mesh.indices[3 * t], mesh.indices[3 * t + 1],
                                                 mesh.indices[3 * t + 2]};
        if (d.FaceAt(static_cast<std::int32_t>(t)) != expected) {
            out << "face " << t;
            return out.str();
        }
    }
    return "";
}

// Decodes every mesh m < meshes.size() and compares it with meshes[m].
void ExpectMeshes(VertexBlock& d, const std::vector<Mesh>& meshes) {
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        std::int32_t material = -99;
        ASSERT_EQ(d.Decode(static_cast<std::int32_t>(m), material), 0) << "mesh " << m;
        EXPECT_EQ(material, meshes[m].materialIndex) << "mesh " << m;
        EXPECT_EQ(Mismatch(d, meshes[m]), "") << "mesh " << m;
    }
}

void ExpectNoCurrentMesh(const VertexBlock& d) {
    EXPECT_EQ(d.VertexCount(), 0);
    EXPECT_EQ(d.FaceCount(), 0);
    EXPECT_TRUE(d.VertexData().empty());
    EXPECT_TRUE(d.IndexData().empty());
    EXPECT_EQ(d.PositionAt(0), (std::array<float, 3>{}));
    EXPECT_EQ(d.FaceAt(0), (std::array<std::uint32_t, 3>{}));
}

// The raw bytes of the current mesh, to compare decodes with each other.
struct MeshBytes {
    std::int32_t material = 0;
    ByteVector vertices, indices;
    bool operator==(const MeshBytes&) const = default;
};

MeshBytes Current(const VertexBlock& d, std::int32_t material) {
    return {material, ByteVector(d.VertexData().begin(), d.VertexData().end()),
            ByteVector(d.IndexData().begin(), d.IndexData().end())};
}

// True when `actual` has the size of `full` and is its first bytes followed by zeros.
bool IsPrefixThenZeros(Bytes actual, const ByteVector& full) {
    if (actual.size() != full.size()) return false;
    std::size_t k = 0;
    while (k < full.size() && actual[k] == full[k]) ++k;
    for (; k < full.size(); ++k) {
        if (actual[k] != 0) return false;
    }
    return true;
}

std::string TagName(const testing::TestParamInfo<std::string>& info) {
    return info.param;
}

class VertexTags : public testing::TestWithParam<std::string> {
  protected:
    const TagInfo& tag() const { return Info(GetParam()); }
};
class PackedVertexTags : public VertexTags {};

INSTANTIATE_TEST_SUITE_P(Tags, VertexTags,
                         testing::Values("VPA2", "VPA4", "VPA5", "VPA7", "VPA8", "VPAC"), TagName);
INSTANTIATE_TEST_SUITE_P(Tags, PackedVertexTags,
                         testing::Values("VPA2", "VPA4", "VPA5", "VPA7", "VPA8"), TagName);

TEST_P(VertexTags, DecodesEveryMeshBack) {
    Bound b = Bind(GetParam(), testdata::VertexPayload(GetParam(), Model()));
    EXPECT_EQ(b.decoder->Count(), 3);
    ExpectMeshes(*b.decoder, Model());
    EXPECT_EQ(b.decoder->Release(), 0);
    ExpectNoCurrentMesh(*b.decoder);
    EXPECT_EQ(b.decoder->Count(), 3);
}

TEST_P(VertexTags, HasNormalsDependsOnTheTagAlone) {
    std::unique_ptr<VertexBlock> unbound = MakeDecoder(GetParam());
    EXPECT_EQ(unbound->HasNormals(), tag().normals);
    Bound b = Bind(GetParam(), testdata::VertexPayload(GetParam(), Model()));
    EXPECT_EQ(b.decoder->HasNormals(), tag().normals);
    std::int32_t material = 0;
    ASSERT_EQ(b.decoder->Decode(1, material), 0);
    EXPECT_EQ(b.decoder->HasNormals(), tag().normals);
    b.decoder->Release();
    EXPECT_EQ(b.decoder->HasNormals(), tag().normals);
    EXPECT_NE(b.decoder->Decode(3, material), 0);
    EXPECT_EQ(b.decoder->HasNormals(), tag().normals);
    // Without normals, NormalAt has nothing to give.
    ASSERT_EQ(b.decoder->Decode(0, material), 0);
    if (!tag().normals) {
        EXPECT_EQ(b.decoder->NormalAt(1), (std::array<float, 3>{}));
    }
}

TEST_P(VertexTags, DecodeOutsideTheMeshesFailsAndLeavesNoCurrentMesh) {
    Bound b = Bind(GetParam(), testdata::VertexPayload(GetParam(), Model()));
    for (std::int32_t m : {3, -1, INT32_MAX, INT32_MIN}) {
        std::int32_t material = 0;
        ASSERT_EQ(b.decoder->Decode(0, material), 0);
        ASSERT_GT(b.decoder->VertexCount(), 0);
        EXPECT_NE(b.decoder->Decode(m, material), 0) << m;
        ExpectNoCurrentMesh(*b.decoder);
    }
    // No mesh at all, and a negative mesh count.
    Bound empty = Bind(GetParam(), testdata::VertexPayload(GetParam(), {}));
    ByteVector negative = testdata::VertexPayload(GetParam(), Model());
    PutU32(negative, 0, static_cast<std::uint32_t>(-3));
    Bound below = Bind(GetParam(), negative);
    EXPECT_EQ(empty.decoder->Count(), 0);
    EXPECT_EQ(below.decoder->Count(), -3);
    for (VertexBlock* d : {empty.decoder.get(), below.decoder.get()}) {
        for (std::int32_t m : {0, -1, 1}) {
            std::int32_t material = 0;
            EXPECT_NE(d->Decode(m, material), 0) << m;
            ExpectNoCurrentMesh(*d);
        }
    }
}

TEST_P(VertexTags, FaceCountTruncatesAndTheLastIndicesAreNeverReturned) {
    struct Case {
        std::vector<std::uint32_t> indices;
        std::int32_t faces;
    };
    const Case cases[] = {{{0, 1, 2, 2, 1, 3}, 2},
                          {{0, 1, 2, 2, 1, 3, 0}, 2},
                          {{0, 1, 2, 2, 1, 3, 0, 1}, 2},
                          {{3, 2}, 0},
                          {{}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.indices.size());
        Mesh mesh = MakeMesh(1, 4, c.indices, 0);
        Bound b = Bind(GetParam(), testdata::VertexPayload(GetParam(), {mesh}));
        std::int32_t material = 0;
        ASSERT_EQ(b.decoder->Decode(0, material), 0);
        EXPECT_EQ(b.decoder->VertexCount(), 4);
        EXPECT_EQ(b.decoder->FaceCount(), c.faces);
        EXPECT_EQ(b.decoder->FaceAt(c.faces), (std::array<std::uint32_t, 3>{}));
        if (c.faces > 0) {
            EXPECT_EQ(b.decoder->FaceAt(1), (std::array<std::uint32_t, 3>{2, 1, 3}));
        }
    }
}

TEST_P(VertexTags, LargestIndexComesBackUnsigned) {
    std::uint32_t largest = tag().indexSize == 2 ? 65535u : 0xFFFFFFFFu;
    Mesh mesh = MakeMesh(1, 3, {largest, 0, largest - 1}, 0);
    Bound b = Bind(GetParam(), testdata::VertexPayload(GetParam(), {mesh}));
    std::int32_t material = 0;
    ASSERT_EQ(b.decoder->Decode(0, material), 0);
    EXPECT_EQ(b.decoder->FaceAt(0), (std::array<std::uint32_t, 3>{largest, 0, largest - 1}));
}

TEST_P(VertexTags, AccessorsOutsideTheMeshReturnZeros) {
    Bound b = Bind(GetParam(), testdata::VertexPayload(GetParam(), Model()));
    const std::array<float, 3> zero3{};
    const std::array<float, 2> zero2{};
    const std::array<std::uint32_t, 3> noFace{};
    ExpectNoCurrentMesh(*b.decoder);  // bound, nothing decoded yet
    std::int32_t material = 0;
    ASSERT_EQ(b.decoder->Decode(2, material), 0);
    for (std::int32_t i : {-1, 5, 6, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(b.decoder->PositionAt(i), zero3) << i;
        EXPECT_EQ(b.decoder->NormalAt(i), zero3) << i;
        EXPECT_EQ(b.decoder->TexCoordAt(i), zero2) << i;
    }
    for (std::int32_t t : {-1, 3, 4, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(b.decoder->FaceAt(t), noFace) << t;
    }
    EXPECT_EQ(b.decoder->PositionAt(4), Model()[2].vertices[4].position);
    b.decoder->Release();
    EXPECT_EQ(b.decoder->PositionAt(0), zero3);
    EXPECT_EQ(b.decoder->TexCoordAt(0), zero2);
    EXPECT_EQ(b.decoder->NormalAt(0), zero3);
}

TEST_P(VertexTags, ResultsDoNotDependOnOrderOrOnEarlierBlocks) {
    const std::vector<Mesh> other = {MakeMesh(7, 6, {5, 4, 3, 2, 1, 0}, 4),
                                     MakeMesh(8, 3, {2, 1, 0}, 5)};
    ByteVector first = testdata::VertexPayload(GetParam(), Model());
    ByteVector second = testdata::VertexPayload(GetParam(), other);
    testdata::It3Writer writer;
    writer.Block(GetParam(), first).Block(GetParam(), second);
    test::ExactBuffer file(writer.Bytes());
    const auto secondOffset = static_cast<std::int32_t>(8 + first.size());

    // Reference: every mesh from a fresh decoder, decoding the block from scratch.
    std::vector<MeshBytes> reference;
    for (std::int32_t m = 0; m < 3; ++m) {
        std::unique_ptr<VertexBlock> fresh = MakeDecoder(GetParam());
        fresh->ReadHeader(file.View(), 0, 0, "model");
        std::int32_t material = 0;
        ASSERT_EQ(fresh->Decode(m, material), 0);
        reference.push_back(Current(*fresh, material));
    }

    std::unique_ptr<VertexBlock> d = MakeDecoder(GetParam());
    d->ReadHeader(file.View(), 0, 0, "model");
    for (std::int32_t m : {2, 0, 1, 2, 2, 0}) {
        std::int32_t material = 0;
        ASSERT_EQ(d->Decode(m, material), 0);
        EXPECT_EQ(Current(*d, material), reference[static_cast<std::size_t>(m)]) << m;
    }
    // Bound to the second block, the decoder sees only that block's two meshes.
    ASSERT_GT(d->ReadHeader(file.View(), secondOffset, 1, "model"), 0);
    ExpectNoCurrentMesh(*d);
    EXPECT_EQ(d->Count(), 2);
    ExpectMeshes(*d, other);
    std::int32_t material = 0;
    EXPECT_NE(d->Decode(2, material), 0);
    // And back.
    d->ReadHeader(file.View(), 0, 0, "model");
    for (std::int32_t m : {1, 2, 0}) {
        ASSERT_EQ(d->Decode(m, material), 0);
        EXPECT_EQ(Current(*d, material), reference[static_cast<std::size_t>(m)]) << m;
    }
}

// The decoders as the writers use them: the factory picks the object's block, ReadHeader binds
// the decoder to the block list record.
TEST(VertexBlockProtocol, FactoryAndReadHeaderBindEachObjectsBlocks) {
    const std::vector<testdata::Material> materials = {{"red", "red_tex", "", 5.0f}};
    const std::vector<Mesh> second = {MakeMesh(9, 3, {0, 2, 1}, 0)};
    testdata::It3Writer writer;
    writer.Info("first")
        .Block("VPAC", testdata::VertexPayload("VPAC", second))  // loses to VPA5
        .Block("MAT2", testdata::MaterialPayload("MAT2", materials))
        .Block("VPA5", testdata::VertexPayload("VPA5", Model()));
    writer.Info("second")
        .Block("VPA8", testdata::VertexPayload("VPA8", second))
        .Block("MATE", testdata::MaterialPayload("MATE", {{"blue", "", "blue_mask", 1.0f}}));
    Console console = Console::Capturing();
    const morvex::Model model = test::IndexedModel(writer.Bytes(), "model", console);
    EXPECT_EQ(console.Captured(), "");

    auto bind = [&model](Block& decoder, int position) {
        return decoder.BindTo(model.blocks[static_cast<std::size_t>(position)]);
    };
    std::unique_ptr<MaterialBlock> materialSlot;
    std::unique_ptr<VertexBlock> vertexSlot;
    int materialAt = CreateMaterialDecoder(model, 0, materialSlot);
    int vertexAt = CreateVertexDecoder(model, 0, vertexSlot);
    ASSERT_EQ(materialAt, 2);
    ASSERT_EQ(vertexAt, 3);
    ASSERT_GT(bind(*materialSlot, materialAt), 0);
    ASSERT_GT(bind(*vertexSlot, vertexAt), 0);
    ASSERT_EQ(materialSlot->Decode(), 0);
    EXPECT_EQ(materialSlot->MaterialAt(0), "red");
    EXPECT_EQ(materialSlot->TextureNameAt(0), "red_tex");
    EXPECT_FALSE(vertexSlot->HasNormals());
    ExpectMeshes(*vertexSlot, Model());

    materialAt = CreateMaterialDecoder(model, 4, materialSlot);
    vertexAt = CreateVertexDecoder(model, 4, vertexSlot);
    ASSERT_EQ(materialAt, 6);
    ASSERT_EQ(vertexAt, 5);
    ASSERT_GT(bind(*materialSlot, materialAt), 0);
    ASSERT_GT(bind(*vertexSlot, vertexAt), 0);
    ASSERT_EQ(materialSlot->Decode(), 0);
    EXPECT_EQ(materialSlot->MaterialAt(0), "blue");
    EXPECT_TRUE(materialSlot->HasAlphaMap(0));
    EXPECT_EQ(vertexSlot->Count(), 1);
    ExpectMeshes(*vertexSlot, second);
}

TEST(Vpa8Chain, VertexDataOf600000BytesTakesThreeChunks) {
    // 15000 vertices of 40 bytes; mesh 1 straddles the first chunk boundary at 262144.
    std::vector<Mesh> meshes = {MakeMesh(1, 5000, {0, 1, 4999, 4997, 4998, 4999}, 3),
                                MakeMesh(2, 6000, {5999, 0, 3000}, 1),
                                MakeMesh(3, 4000, {1, 2, 3, 3999, 3998, 0}, 0)};
    ByteVector p = testdata::VertexPayload("VPA8", meshes);
    auto behind = [&p](std::size_t chunk) { return chunk + 4 + U32At(p, chunk); };

    std::size_t chunk = behind(12);  // the first vertex chunk, behind the mesh table
    EXPECT_EQ(U32At(p, 12 + 4), 3 * kRecord);
    std::vector<std::uint32_t> sizes;
    for (int k = 0; k < 3; ++k) {
        sizes.push_back(U32At(p, chunk + 4));
        chunk = behind(chunk);
    }
    EXPECT_EQ(sizes, (std::vector<std::uint32_t>{262144, 262144, 75712}));
    EXPECT_EQ(U32At(p, chunk + 4), 3 * 12u);  // the index-count table follows the third
    std::size_t indexChunk = behind(chunk);
    EXPECT_EQ(U32At(p, indexChunk + 4), 2 * 15u);
    EXPECT_EQ(behind(indexChunk), p.size());

    Bound b = Bind("VPA8", p);
    ExpectMeshes(*b.decoder, meshes);

    // Cut behind the second vertex chunk, the chain runs off the payload.
    std::size_t second = behind(behind(12));
    Bound cut = Bind("VPA8", std::span(p).first(second));
    for (std::int32_t m = 0; m < 3; ++m) {
        std::int32_t material = 0;
        EXPECT_NE(cut.decoder->Decode(m, material), 0) << m;
    }
}

TEST(Vpa8Chain, VertexDataOfExactlyOneChunkNeedsAnEmptyClosingChunk) {
    // 6553 vertices fill 262120 bytes; 24 spare bytes make the vertex data exactly 262144.
    Mesh mesh = MakeMesh(1, 6553, {0, 6552, 100}, 2);
    ByteVector vertexData = testdata::VertexBytes(mesh.vertices, 40);
    vertexData.insert(vertexData.end(), 24, 0xEE);
    ASSERT_EQ(vertexData.size(), kChainSize);
    auto build = [&](bool closing) {
        PayloadWriter w;
        w.I32(1).Zeros(8).Chunk(testdata::MeshRecord("VPA8", mesh)).Chunk(vertexData);
        if (closing) w.Chunk({});
        PayloadWriter counts;
        counts.U32(0).U32(3).U32(0);
        w.Chunk(counts.bytes).Chunk(testdata::IndexBytes(mesh.indices, 2));
        return w.bytes;
    };
    Bound closed = Bind("VPA8", build(true));
    ExpectMeshes(*closed.decoder, {mesh});
    // Without it, the count table is taken for a last vertex chunk and the index chunk for the
    // count table; the index chunk is then looked for behind the payload.
    Bound open = Bind("VPA8", build(false));
    std::int32_t material = 0;
    EXPECT_NE(open.decoder->Decode(0, material), 0);
}

TEST(Vpa8Chain, WriterClosesVertexDataOfWholeChunksWithAnEmptyChunk) {
    // 32768 vertices of 40 bytes are exactly five chunks of 262144 bytes.
    Mesh mesh = MakeMesh(1, 32768, {0, 32767, 16384}, 1);
    ByteVector p = testdata::VertexPayload("VPA8", {mesh});
    std::vector<std::size_t> chunks = ChunkOffsets("VPA8", p);
    ASSERT_EQ(chunks.size(), 1 + 6 + 2u);
    for (std::size_t k = 1; k <= 5; ++k) EXPECT_EQ(U32At(p, chunks[k] + 4), kChainSize) << k;
    EXPECT_EQ(U32At(p, chunks[6] + 4), 0u);
    EXPECT_EQ(U32At(p, chunks[7] + 4), 12u);
    Bound b = Bind("VPA8", p);
    ExpectMeshes(*b.decoder, {mesh});
}

// A mesh's vertex data is allocated once at its size, however many chunks it spans.
TEST(Vpa8Chain, VertexDataIsAllocatedOnceAtItsSize) {
    Mesh mesh = MakeMesh(1, 32768, {0, 32767, 16384}, 1);
    ByteVector p = testdata::VertexPayload("VPA8", {mesh});
    Bound b = Bind("VPA8", p);
    std::int64_t peak = 0;
    {
        test::PeakLiveBytes tracker;
        std::int32_t material = 0;
        ASSERT_EQ(b.decoder->Decode(0, material), 0);
        peak = tracker.Peak();
    }
    const std::int64_t vertexBytes = 5 * kChainSize;
    EXPECT_EQ(b.decoder->VertexData().size(), static_cast<std::size_t>(vertexBytes));
    EXPECT_GE(peak, vertexBytes);
    EXPECT_LT(peak, vertexBytes + vertexBytes / 4);
}

TEST(Vpa2, VertexCountFollowsTheChunkNotTheRecord) {
    Mesh mesh = MakeMesh(1, 2, {0, 1, 1}, 6);
    for (std::int32_t stored : {7, 0, -1, INT32_MAX}) {
        ByteVector p = testdata::VertexPayload("VPA2", {mesh});
        PutU32(p, 4, static_cast<std::uint32_t>(stored));  // the record's vertex count
        ASSERT_EQ(U32At(p, 4 + kRecord + 4), 224u);        // the vertex chunk's unpackedSize
        Bound b = Bind("VPA2", p);
        ExpectMeshes(*b.decoder, {mesh});
        EXPECT_EQ(b.decoder->VertexCount(), 2);
    }
}

TEST(Vpa4, MeshOneStartsBehindMeshZerosVerticesAndIndices) {
    std::vector<std::uint32_t> indices;
    for (std::uint32_t k = 0; k < 30; ++k) indices.push_back(k % 10);
    const std::vector<Mesh> meshes = {MakeMesh(1, 10, indices, 0),
                                      MakeMesh(2, 4, {0, 1, 2, 3, 2, 1}, 1)};
    ByteVector p = testdata::VertexPayload("VPA4", meshes);

    // The whole-block data, unpacked here on its own.
    std::vector<std::uint8_t> vertices, allIndices;
    PackedChunk vertexChunk;
    ASSERT_TRUE(UnpackChunkAt(p, 8 + 2 * kRecord, kGeometrySizeAdjust, vertices, &vertexChunk));
    ASSERT_TRUE(UnpackChunkAt(p, vertexChunk.end + 4 + 8, kGeometrySizeAdjust, allIndices));
    ASSERT_EQ(vertices.size(), 14 * 112u);
    ASSERT_EQ(allIndices.size(), 36 * 4u);

    Bound b = Bind("VPA4", p);
    std::int32_t material = 0;
    ASSERT_EQ(b.decoder->Decode(1, material), 0);
    EXPECT_EQ(ByteVector(b.decoder->VertexData().begin(), b.decoder->VertexData().end()),
              ByteVector(vertices.begin() + 1120, vertices.end()));
    EXPECT_EQ(ByteVector(b.decoder->IndexData().begin(), b.decoder->IndexData().end()),
              ByteVector(allIndices.begin() + 120, allIndices.end()));
    EXPECT_EQ(Mismatch(*b.decoder, meshes[1]), "");
}

// Malformed payloads.

TEST_P(PackedVertexTags, ManyLargeMeshesDecodeInAnyOrderHoldingOnlyTheCurrentOne) {
    // Twelve meshes whose data is several times what the stream reader's window holds, so that
    // meshes start and end at every point of it; VPA8's meshes straddle its chunks.
    std::vector<Mesh> meshes;
    for (int k = 0; k < 12; ++k) {
        const int vertices = 2500 + 397 * k;
        std::vector<std::uint32_t> indices;
        for (int i = 0; i < 600; ++i) {
            indices.push_back(static_cast<std::uint32_t>((i * 7919 + k) % vertices));
        }
        meshes.push_back(MakeMesh(k + 1, vertices, std::move(indices), k % 4));
    }
    Bound b = Bind(GetParam(), testdata::VertexPayload(GetParam(), meshes));
    ExpectMeshes(*b.decoder, meshes);
    for (std::int32_t m : {11, 3, 4, 0, 7, 7, 10, 1}) {
        std::int32_t material = 0;
        ASSERT_EQ(b.decoder->Decode(m, material), 0) << m;
        EXPECT_EQ(Mismatch(*b.decoder, meshes[static_cast<std::size_t>(m)]), "") << m;
    }

    // Decoding the last two meshes of a freshly bound block holds about two meshes' data (and
    // the stream reader's window), not the block's.
    std::size_t blockBytes = 0;
    for (const Mesh& mesh : meshes) blockBytes += mesh.vertices.size() * tag().stride;
    Bound fresh = Bind(GetParam(), testdata::VertexPayload(GetParam(), meshes));
    std::int64_t peak = 0;
    {
        test::PeakLiveBytes tracker;
        std::int32_t material = 0;
        ASSERT_EQ(fresh.decoder->Decode(10, material), 0);
        ASSERT_EQ(fresh.decoder->Decode(11, material), 0);
        peak = tracker.Peak();
    }
    EXPECT_EQ(Mismatch(*fresh.decoder, meshes[11]), "");
    EXPECT_LT(peak, static_cast<std::int64_t>(blockBytes / 2)) << blockBytes;
}

TEST_P(PackedVertexTags, LastChunkRunningPastThePayloadIsReadAsFarAsItGoes) {
    ByteVector p = testdata::VertexPayload(GetParam(), Model());
    std::size_t last = ChunkOffsets(GetParam(), p).back();
    ASSERT_EQ(last + 4 + U32At(p, last), p.size());

    // The whole stream is there, only packedSize claims more: not refused.
    ByteVector longer = p;
    PutU32(longer, last, U32At(p, last) + 100000);
    Bound whole = Bind(GetParam(), longer);
    ExpectMeshes(*whole.decoder, Model());

    // Only the first segment header of the index stream is there: indices decode to zeros.
    Bound cut = Bind(GetParam(), std::span(p).first(last + 12 + 4));
    for (std::size_t m = 0; m < 3; ++m) {
        bool ownChunk = GetParam() != "VPA2" || m == 2;  // VPA2: only mesh 2's chunk is cut
        std::int32_t material = 0;
        ASSERT_EQ(cut.decoder->Decode(static_cast<std::int32_t>(m), material), 0) << m;
        Mesh expected = Model()[m];
        if (ownChunk) {
            for (std::uint32_t& index : expected.indices) index = 0;
        }
        EXPECT_EQ(Mismatch(*cut.decoder, expected), "") << m;
    }
}

TEST_P(PackedVertexTags, ImpossibleUnpackedSizeFailsWithoutAllocating) {
    ByteVector p = testdata::VertexPayload(GetParam(), Model());
    std::vector<std::size_t> chunks = ChunkOffsets(GetParam(), p);
    for (std::size_t c = 0; c < chunks.size(); ++c) {
        for (std::uint32_t unpacked : {0xFFFFFFF0u, 0x7FFFFFFFu, 0x08000000u}) {
            SCOPED_TRACE("chunk " + std::to_string(c) + " unpackedSize " +
                         std::to_string(unpacked));
            ByteVector bad = p;
            PutU32(bad, chunks[c] + 4, unpacked);
            Bound b = Bind(GetParam(), bad);
            test::AllocationLimit limit(16 << 20);
            for (std::size_t m = 0; m < 3; ++m) {
                // VPA2 keeps two chunks per mesh: only the owner of the broken one fails.
                bool fails = GetParam() != "VPA2" || m == c / 2;
                std::int32_t material = 0;
                EXPECT_EQ(b.decoder->Decode(static_cast<std::int32_t>(m), material) != 0, fails)
                    << "mesh " << m;
                if (!fails) {
                    EXPECT_EQ(Mismatch(*b.decoder, Model()[m]), "") << m;
                }
            }
            EXPECT_EQ(limit.LargestRefused(), 0u);
        }
    }
}

TEST_P(VertexTags, MeshCountBeyondTheDataFailsWithoutAllocating) {
    // VPA2 reaches its entries one by one and VPA8 finds its records in a packed table, so the
    // meshes that are there still decode; the other layouts place their data behind n records.
    bool stored = GetParam() == "VPA2" || GetParam() == "VPA8";
    for (std::int32_t n : {INT32_MAX, 1000}) {
        SCOPED_TRACE(n);
        ByteVector p = testdata::VertexPayload(GetParam(), Model());
        PutU32(p, 0, static_cast<std::uint32_t>(n));
        Bound b = Bind(GetParam(), p);
        test::AllocationLimit limit(16 << 20);
        EXPECT_EQ(b.decoder->Count(), n);
        // The meshes behind the located ones can be given up without trying each.
        EXPECT_EQ(b.decoder->LocatedMeshes(), stored ? 3 : 0);
        for (std::int32_t m : {0, 1, 2, 3, n - 1}) {
            std::int32_t material = 0;
            bool ok = b.decoder->Decode(m, material) == 0;
            EXPECT_EQ(ok, stored && m < 3) << "mesh " << m;
            if (ok) {
                EXPECT_EQ(Mismatch(*b.decoder, Model()[static_cast<std::size_t>(m)]), "");
            }
        }
        EXPECT_EQ(limit.LargestRefused(), 0u);
    }
}

TEST_P(VertexTags, VertexCountsBeyondTheDataOrNegativeFail) {
    // Which of the three meshes decode when mesh 1's count is broken.
    struct Case {
        std::optional<std::int32_t> vertexCount, indexCount;
        std::array<bool, 3> vpa2, vpac, others;
    };
    const Case cases[] = {
        {1000000, {}, {true, true, true}, {false, false, false}, {true, false, false}},
        {INT32_MAX, {}, {true, true, true}, {false, false, false}, {true, false, false}},
        {-1, {}, {true, true, true}, {false, false, false}, {true, false, false}},
        {INT32_MIN, {}, {true, true, true}, {false, false, false}, {true, false, false}},
        {{}, 1000000, {true, true, true}, {true, false, false}, {true, false, false}},
        {{}, -3, {true, true, true}, {true, false, false}, {true, false, false}},
        {{}, INT32_MIN, {true, true, true}, {true, false, false}, {true, false, false}},
    };
    for (const Case& c : cases) {
        // VPA2 neither reads the record's vertex count nor has index counts.
        if (GetParam() == "VPA2" && c.indexCount) continue;
        SCOPED_TRACE("vertex count " + std::to_string(c.vertexCount.value_or(0)) +
                     ", index count " + std::to_string(c.indexCount.value_or(0)));
        Bound b = Bind(GetParam(),
                       PayloadWithCounts(GetParam(), Model(), 1, c.vertexCount, c.indexCount));
        test::AllocationLimit limit(16 << 20);
        const std::array<bool, 3>& expected = GetParam() == "VPA2"   ? c.vpa2
                                              : GetParam() == "VPAC" ? c.vpac
                                                                     : c.others;
        for (std::size_t m = 0; m < 3; ++m) {
            std::int32_t material = 0;
            bool ok = b.decoder->Decode(static_cast<std::int32_t>(m), material) == 0;
            EXPECT_EQ(ok, expected[m]) << "mesh " << m;
            if (ok) {
                EXPECT_EQ(Mismatch(*b.decoder, Model()[m]), "") << m;
            }
            if (!ok) ExpectNoCurrentMesh(*b.decoder);
        }
        EXPECT_EQ(limit.LargestRefused(), 0u);
    }
}

TEST(VpacMalformed, RecordsPastThePayloadFail) {
    ByteVector p = testdata::VertexPayload("VPAC", Model());
    for (std::size_t size : {4 + 3 * kRecord - 1, 4 + kRecord, std::size_t{5}}) {
        Bound b = Bind("VPAC", std::span(p).first(size));
        for (std::int32_t m = 0; m < 3; ++m) {
            std::int32_t material = 0;
            EXPECT_NE(b.decoder->Decode(m, material), 0) << size << " mesh " << m;
        }
    }
}

TEST(Vpa8Malformed, ChainRunningOffThePayloadFails) {
    // The only vertex chunk claims the chain size: the chain goes on through the count table
    // and the index chunk and then off the payload.
    ByteVector p = testdata::VertexPayload("VPA8", Model());
    std::vector<std::size_t> chunks = ChunkOffsets("VPA8", p);
    ASSERT_EQ(chunks.size(), 4u);
    PutU32(p, chunks[1] + 4, kChainSize);
    Bound b = Bind("VPA8", p);
    test::AllocationLimit limit(16 << 20);
    for (std::int32_t m = 0; m < 3; ++m) {
        std::int32_t material = 0;
        EXPECT_NE(b.decoder->Decode(m, material), 0) << m;
    }
    EXPECT_EQ(limit.LargestRefused(), 0u);
}

// Every prefix of a valid payload, bound as the whole payload in a buffer of exactly its size:
// each Decode fails cleanly or gives the full decode's mesh, its data possibly cut to zeros.
TEST_P(VertexTags, EveryPrefixFailsCleanlyOrDecodesConsistently) {
    ByteVector payload = testdata::VertexPayload(GetParam(), Model());
    std::vector<MeshBytes> full;
    {
        Bound b = Bind(GetParam(), payload);
        for (std::int32_t m = 0; m < 3; ++m) {
            std::int32_t material = 0;
            ASSERT_EQ(b.decoder->Decode(m, material), 0);
            full.push_back(Current(*b.decoder, material));
        }
    }
    int partialSuccesses = 0;
    for (std::size_t size = 0; size <= payload.size(); ++size) {
        SCOPED_TRACE("prefix " + std::to_string(size));
        Bound b = Bind(GetParam(), std::span(payload).first(size));
        ASSERT_EQ(b.decoder->Count(), size >= 4 ? 3 : 0);
        for (std::int32_t m = 0; m < 3; ++m) {
            std::int32_t material = -99;
            if (b.decoder->Decode(m, material) != 0) {
                ExpectNoCurrentMesh(*b.decoder);
                continue;
            }
            const MeshBytes& expected = full[static_cast<std::size_t>(m)];
            EXPECT_EQ(material, expected.material) << m;
            EXPECT_TRUE(IsPrefixThenZeros(b.decoder->VertexData(), expected.vertices)) << m;
            EXPECT_TRUE(IsPrefixThenZeros(b.decoder->IndexData(), expected.indices)) << m;
            if (size < payload.size()) ++partialSuccesses;
        }
    }
    // Cuts inside the last meshes' data leave the earlier meshes, or zeros, to decode.
    EXPECT_GT(partialSuccesses, 0);
}

// ---- Writing vertex blocks ----

// A mesh given as the encoder takes it: every vertex, record and kept byte set.
struct RawMesh {
    ByteVector vertices;
    std::vector<std::uint32_t> indices;
    std::int32_t material = 0;
    MeshRecord record{};
    MeshExtra extra{};

    MeshInput Input() const { return {record, extra, vertices, indices, material}; }
};

RawMesh MakeRawMesh(std::size_t stride, std::uint32_t vertexCount, std::size_t triangles,
                    std::uint32_t seed) {
    RawMesh mesh;
    std::uint32_t x = seed * 2654435761u + 1;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    mesh.vertices.resize(stride * vertexCount);
    for (std::uint8_t& b : mesh.vertices) b = static_cast<std::uint8_t>(next() % 7);
    for (std::size_t k = 0; vertexCount > 0 && k < 3 * triangles; ++k) {
        mesh.indices.push_back(next() % vertexCount);
    }
    mesh.material = static_cast<std::int32_t>(seed) - 2;
    for (std::uint8_t& b : mesh.record) b = static_cast<std::uint8_t>(next());
    for (std::uint8_t& b : mesh.extra) b = static_cast<std::uint8_t>(next());
    return mesh;
}

std::vector<MeshInput> Inputs(const std::vector<RawMesh>& meshes) {
    std::vector<MeshInput> inputs;
    for (const RawMesh& m : meshes) inputs.push_back(m.Input());
    return inputs;
}

TEST_P(VertexTags, EncoderWritesEveryMeshAndKeepsTheBytesNoReaderUses) {
    const std::string tag = GetParam();
    const TagInfo& info = Info(tag);
    const std::uint32_t tagValue = TagValue(tag);
    const std::vector<RawMesh> meshes = {
        MakeRawMesh(info.stride, 3, 1, 1), MakeRawMesh(info.stride, 0, 0, 2),
        MakeRawMesh(info.stride, 700, 900, 3), MakeRawMesh(info.stride, 1, 0, 4)};
    // The original's unread block words (VPA4/5/7 at 4 and behind the vertex chunk, VPA8 at 4
    // to 11, VPAC behind the vertices) come back where the new block keeps them.
    ByteVector original = testdata::VertexPayload(tag, Model());
    std::vector<std::size_t> kept;
    if (tag == "VPA4" || tag == "VPA5" || tag == "VPA7") {
        kept = {4, ChunkOffsets(tag, original)[0] + 4 +
                       U32At(original, ChunkOffsets(tag, original)[0])};
    } else if (tag == "VPA8") {
        kept = {4, 8};
    } else if (tag == "VPAC") {
        kept = {4 + 3 * kRecord + 12 * info.stride};
    }
    for (std::size_t k = 0; k < kept.size(); ++k) PutU32(original, kept[k], 0xC0DE0000u + k);

    ByteVector payload;
    ASSERT_TRUE(EncodeVertexBlock(tagValue, Inputs(meshes), "obj", original, payload).Ok());
    Bound b = Bind(tag, payload);
    ASSERT_EQ(b.decoder->Count(), 4);
    std::vector<OriginalMesh> records;
    ASSERT_EQ(ReadOriginalMeshes(tagValue, payload, records), Outcome::Ok);
    ASSERT_EQ(records.size(), 4u);
    for (std::int32_t m = 0; m < 4; ++m) {
        SCOPED_TRACE("mesh " + std::to_string(m));
        const RawMesh& want = meshes[static_cast<std::size_t>(m)];
        std::int32_t material = 0;
        ASSERT_EQ(b.decoder->Decode(m, material), 0);
        EXPECT_EQ(material, want.material);
        EXPECT_TRUE(std::ranges::equal(b.decoder->VertexData(), want.vertices));
        std::vector<std::uint32_t> indices;
        for (std::int32_t t = 0; t < b.decoder->FaceCount(); ++t) {
            for (std::uint32_t i : b.decoder->FaceAt(t)) indices.push_back(i);
        }
        EXPECT_EQ(indices, want.indices);
        // The record keeps every byte but the vertex count and the material index.
        MeshRecord record = want.record;
        const std::size_t countAt = tag == "VPA8" ? 28 : 0, materialAt = tag == "VPA8" ? 20 : 24;
        StoreU32(record.data() + countAt,
                 static_cast<std::uint32_t>(want.vertices.size() / info.stride));
        StoreU32(record.data() + materialAt, static_cast<std::uint32_t>(want.material));
        const std::size_t m2 = static_cast<std::size_t>(m);
        EXPECT_TRUE(records[m2].record == record);
        const bool hasExtra = tag == "VPA2" || tag == "VPA8";
        EXPECT_TRUE(records[m2].extra == (hasExtra ? want.extra : MeshExtra{}));
    }
    for (std::size_t k = 0; k < kept.size(); ++k) {
        std::size_t at = kept[k];
        if (tag == "VPA4" || tag == "VPA5" || tag == "VPA7") {
            at = k == 0 ? 4
                        : ChunkOffsets(tag, payload)[0] + 4 +
                              U32At(payload, ChunkOffsets(tag, payload)[0]);
        } else if (tag == "VPAC") {
            at = 4 + 4 * kRecord + (3 + 0 + 700 + 1) * info.stride;
        }
        EXPECT_EQ(U32At(payload, at), 0xC0DE0000u + k) << "kept word " << k;
    }
}

TEST_P(VertexTags, EncoderRefusesWhatTheTagCannotHold) {
    const std::string tag = GetParam();
    const TagInfo& info = Info(tag);
    const std::size_t stride = info.stride;
    const bool narrow = info.indexSize == 2;
    struct Case {
        const char* what;
        RawMesh mesh;
        Outcome outcome;
        const char* message;
    };
    RawMesh most = MakeRawMesh(stride, 65535, 1, 5), tooMany = MakeRawMesh(stride, 65536, 1, 5);
    most.indices = {0, 65534, 1};
    tooMany.indices = {0, 65535, 1};
    std::ranges::fill(most.vertices, 0);  // quick to compress
    std::ranges::fill(tooMany.vertices, 0);
    RawMesh outside = MakeRawMesh(stride, 4, 2, 6), partial = MakeRawMesh(stride, 4, 2, 7),
            cut = MakeRawMesh(stride, 4, 2, 8);
    outside.indices[4] = 4;
    partial.indices.pop_back();
    cut.vertices.pop_back();
    const Case cases[] = {
        {"65535 vertices", most, Outcome::Ok, ""},
        {"65536 vertices", tooMany, narrow ? Outcome::TooLarge : Outcome::Ok, "65536 vertices; a "},
        {"an index outside", outside, Outcome::Broken, "triangle 1 names vertex 4 of 4"},
        {"a partial triangle", partial, Outcome::Broken, "5 indices"},
        {"a partial vertex", cut, Outcome::Broken, "vertex bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<RawMesh> meshes = {MakeRawMesh(stride, 3, 1, 9), c.mesh};
        ByteVector payload;
        EncodeResult result =
            EncodeVertexBlock(TagValue(tag), Inputs(meshes), "crate", {}, payload);
        EXPECT_EQ(result.outcome, c.outcome);
        if (c.outcome == Outcome::Ok) {
            Bound b = Bind(tag, payload);
            std::int32_t material = 0;
            ASSERT_EQ(b.decoder->Decode(1, material), 0);
            EXPECT_EQ(b.decoder->VertexCount(),
                      static_cast<std::int32_t>(c.mesh.vertices.size() / stride));
            continue;
        }
        EXPECT_TRUE(payload.empty());
        EXPECT_EQ(result.message.rfind("object \"crate\", mesh 1: ", 0), 0u) << result.message;
        EXPECT_NE(result.message.find(c.message), std::string::npos) << result.message;
    }
    ByteVector payload;
    EXPECT_EQ(EncodeVertexBlock(TagValue("MATE"), {}, "crate", {}, payload).outcome,
              Outcome::Unsupported);
}

TEST(Vpa8Chain, EncoderChainsVertexDataOfEverySize) {
    // Vertex data of no bytes, of less than a chunk and of 600000 bytes (mesh 1 straddles the
    // first chunk boundary).
    struct Case {
        std::vector<std::uint32_t> vertices;
        std::vector<std::uint32_t> chunkSizes;
    };
    for (const Case& c : {Case{{0}, {0}}, Case{{6553}, {262120}},
                          Case{{5000, 6000, 4000}, {262144, 262144, 75712}}}) {
        std::vector<RawMesh> meshes;
        for (std::uint32_t n : c.vertices) meshes.push_back(MakeRawMesh(40, n, n ? 2 : 0, n));
        ByteVector payload;
        ASSERT_TRUE(EncodeVertexBlock(TagValue("VPA8"), Inputs(meshes), "obj", {}, payload).Ok());
        std::vector<std::size_t> chunks = ChunkOffsets("VPA8", payload);
        std::vector<std::uint32_t> sizes;
        for (std::size_t k = 1; k + 2 < chunks.size(); ++k) {
            sizes.push_back(U32At(payload, chunks[k] + 4));
        }
        EXPECT_EQ(sizes, c.chunkSizes);
        Bound b = Bind("VPA8", payload);
        for (std::size_t m = 0; m < meshes.size(); ++m) {
            std::int32_t material = 0;
            ASSERT_EQ(b.decoder->Decode(static_cast<std::int32_t>(m), material), 0);
            EXPECT_TRUE(std::ranges::equal(b.decoder->VertexData(), meshes[m].vertices)) << m;
        }
    }
    // 32768 vertices fill five chunks exactly: an empty sixth one closes the chain.
    RawMesh whole = MakeRawMesh(40, 32768, 1, 4);
    ByteVector payload;
    ASSERT_TRUE(EncodeVertexBlock(TagValue("VPA8"), Inputs({whole}), "obj", {}, payload).Ok());
    std::vector<std::size_t> chunks = ChunkOffsets("VPA8", payload);
    ASSERT_EQ(chunks.size(), 1 + 6 + 2u);
    EXPECT_EQ(U32At(payload, chunks[5] + 4), kChainSize);
    EXPECT_EQ(U32At(payload, chunks[6] + 4), 0u);
}

}  // namespace
}  // namespace morvex

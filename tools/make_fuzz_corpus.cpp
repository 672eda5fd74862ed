// Writes the seed corpora of the fuzz targets: one folder per target under the given folder,
// each holding small well-formed inputs made by our own writer, compressor and texture encoders
// (every vertex and material tag, every texture format, compressed streams, whole models).
//
//   make_fuzz_corpus <folder>
//
// The input layouts are those the targets in fuzz/ read: a selector byte in front of a payload
// (material, vertex, texture), a mode byte in front of a file (convert), an 8-byte header in
// front of a stream (decompress), the file alone (inspect). Seeds larger than kMaxSeed are left
// out.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "decode/block_types.h"
#include "encode/compress.h"
#include "export/gltf/gltf_writer.h"
#include "testdata/hostile_models.h"
#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"
#include "testdata/texture_writer.h"

using namespace morvex::testdata;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxSeed = 64 * 1024;

class Corpus {
  public:
    explicit Corpus(fs::path root) : root_(std::move(root)) {}

    // Writes `bytes` as seed `name` of `target`; false on a write error.
    bool Add(const std::string& target, const std::string& name, std::uint8_t selector,
             const ByteVector& bytes) {
        if (bytes.size() + 1 > kMaxSeed) {
            ++skipped_;
            return true;
        }
        const fs::path dir = root_ / target;
        fs::create_directories(dir);
        ByteVector seed;
        seed.reserve(bytes.size() + 1);
        seed.push_back(selector);
        seed.insert(seed.end(), bytes.begin(), bytes.end());
        return Write(dir / name, seed);
    }
    bool AddRaw(const std::string& target, const std::string& name, const ByteVector& bytes) {
        const fs::path dir = root_ / target;
        fs::create_directories(dir);
        return Write(dir / name, bytes);
    }
    int Written() const { return written_; }
    int Skipped() const { return skipped_; }

  private:
    bool Write(const fs::path& path, const ByteVector& bytes) {
        std::FILE* file = std::fopen(path.string().c_str(), "wb");
        if (file == nullptr) return false;
        bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        ok = std::fclose(file) == 0 && ok;
        written_ += ok;
        return ok;
    }

    fs::path root_;
    int written_ = 0;
    int skipped_ = 0;
};

const char* const kMaterialTags[] = {"MATE", "MAT2", "MAT3", "MAT4"};
const char* const kVertexTags[] = {"VPA2", "VPA4", "VPA5", "VPA7", "VPA8", "VPAC"};

std::vector<Material> SomeMaterials() {
    return {{"wood", "crate_wood", "", 12.5f},
            {"glass", "pane", "pane_alpha", 30.0f},
            {"plain", "", "", -3.5f}};
}

// Meshes of a few sizes: one triangle, a box, a small sphere, an empty mesh.
std::vector<std::vector<Mesh>> SomeMeshSets() {
    Mesh triangle;
    triangle.vertices.resize(3);
    triangle.vertices[1].position = {1, 0, 0};
    triangle.vertices[2].position = {0, 1, 0};
    triangle.indices = {0, 1, 2};
    Mesh empty;
    empty.materialIndex = 1;
    return {{triangle},
            {BoxMesh({0, 0, 0}, {1, 1, 1}, 0), SphereMesh({2, 0, 0}, 0.5f, 4, 6, 1), empty},
            {BoxMesh({0, 0, 0}, {1, 2, 3}, 2), triangle}};
}

// A mesh whose vertex data spans two 262144-byte chunks of a VPA8 chain, yet compresses to a few
// KiB: the same vertex over and over (no more than that: every run of the target decodes it).
Mesh ChainedMesh() {
    Mesh mesh;
    Vertex v;
    v.position = {1.5f, -2.0f, 0.25f};
    v.texCoord = {0.5f, 0.5f};
    mesh.vertices.assign(262144 / 40 + 7, v);
    for (std::uint32_t k = 0; k + 2 < 300; k += 3)
        mesh.indices.insert(mesh.indices.end(), {k, k + 1, k + 2});
    return mesh;
}

std::vector<std::pair<std::string, ByteVector>> SomeTextures() {
    std::vector<std::pair<std::string, ByteVector>> textures;
    textures.emplace_back("1001", EncodeTexture1001(TestPicture16(20, 9, 3)));
    textures.emplace_back("1002", EncodeTexture1002(TestPicture(17, 8, 1)));
    textures.emplace_back("1002_wood", EncodeTexture1002(WoodPlanks(64, 32)));
    textures.emplace_back("1004", EncodeTexture1004(TestPicture(32, 16, 2)));
    textures.emplace_back("1004_cloth", EncodeTexture1004(ClothPattern(48, 24)));
    if (auto t = EncodeTexture1005(TestPicture(32, 16, 4))) textures.emplace_back("1005", *t);
    if (auto t = EncodeTexture1005(SkinTone(16, 8))) textures.emplace_back("1005_skin", *t);
    for (bool packed : {true, false}) {
        const std::string form = packed ? "packed" : "raw";
        if (auto t = EncodeTexture1006(SkinTone(32, 32), {3, 3, packed})) {
            textures.emplace_back("1006_" + form, *t);
        }
        if (auto t = EncodeTexture1006(TestPicture(32, 16, 5), {4, 3, packed})) {
            textures.emplace_back("1006_" + form + "_wide", *t);
        }
        if (auto t = EncodeTexture1006(WoodPlanks(16, 16), {2, 4, packed})) {
            textures.emplace_back("1006_" + form + "_tall", *t);
        }
    }
    return textures;
}

ByteVector DecompressSeed(const ByteVector& data, const morvex::CompressOptions& options = {}) {
    ByteVector stream = morvex::Compress(data, options);
    // Destination size, no stream bytes cut off, the source size as a chunk gives it.
    PayloadWriter seed;
    seed.U16(static_cast<std::uint16_t>(data.size())).U16(0).U32(0).Raw(stream);
    return seed.bytes;
}

// A small model: one object per vertex tag, materials of each material tag, textures.
It3Writer ModelOf(const std::string& vertexTag, const std::string& materialTag,
                  const std::vector<Mesh>& meshes, bool textures) {
    It3Writer file;
    file.Info("thing");
    file.Block(materialTag, MaterialPayload(materialTag, SomeMaterials()));
    file.Block(vertexTag, VertexPayload(vertexTag, meshes));
    if (textures) {
        file.Block("TEXI", TexiPayload("crate_wood", EncodeTexture1002(WoodPlanks(16, 16))));
        file.Block("TEXI", TexiPayload("pane", EncodeTexture1004(ClothPattern(16, 8))));
        file.Block("TEXI", TexiPayload("pane_alpha", *EncodeTexture1006(SkinTone(16, 16), {})));
    }
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_corpus <folder>\n");
        return 2;
    }
    Corpus corpus{fs::path(argv[1])};
    bool ok = true;

    // Material blocks: selector 0..3 is the tag's position in kMaterialTags.
    for (std::uint8_t t = 0; t < 4; ++t) {
        const std::string tag = kMaterialTags[t];
        ok &= corpus.Add("material_block", tag + "_3", t, MaterialPayload(tag, SomeMaterials()));
        ok &= corpus.Add("material_block", tag + "_1", t,
                         MaterialPayload(tag, {{"only", "tex", "alpha", 1.0f}}));
        ok &= corpus.Add("material_block", tag + "_0", t, MaterialPayload(tag, {}));
    }

    // Vertex blocks: selector 0..5 is the tag's position in kVertexTags.
    const auto meshSets = SomeMeshSets();
    for (std::uint8_t t = 0; t < 6; ++t) {
        const std::string tag = kVertexTags[t];
        for (std::size_t s = 0; s < meshSets.size(); ++s) {
            ok &= corpus.Add("vertex_block", tag + "_" + std::to_string(s), t,
                             VertexPayload(tag, meshSets[s]));
        }
    }
    ok &= corpus.Add("vertex_block", "VPA8_chained", 4, VertexPayload("VPA8", {ChainedMesh()}));

    // Textures: selector 5 keeps the format code of the data.
    for (const auto& [name, texture] : SomeTextures()) {
        ok &= corpus.Add("texture_block", name, 5, texture);
    }

    // Streams: literals only, text, runs, matches near and far, several segments.
    {
        const auto picture = WoodPlanks(64, 64).pixels;
        ByteVector text;
        for (int k = 0; text.size() < 3000; ++k) {
            const std::string line = "line " + std::to_string(k * 7919 % 1000) + " of the text\n";
            text.insert(text.end(), line.begin(), line.end());
        }
        ByteVector zeros(20000, 0);  // destination sizes are 16 bits in the seeds
        ByteVector ramp(9000);
        for (std::size_t k = 0; k < ramp.size(); ++k)
            ramp[k] = static_cast<std::uint8_t>(k * k >> 5);
        ok &= corpus.AddRaw("decompress", "picture", DecompressSeed(picture));
        ok &= corpus.AddRaw("decompress", "text", DecompressSeed(text));
        ok &= corpus.AddRaw("decompress", "zeros", DecompressSeed(zeros));
        ok &= corpus.AddRaw("decompress", "ramp", DecompressSeed(ramp));
        ok &= corpus.AddRaw("decompress", "literals",
                            DecompressSeed(text, {false, false, morvex::kMaxSegmentBody, 64}));
        ok &=
            corpus.AddRaw("decompress", "segments", DecompressSeed(picture, {true, true, 300, 64}));
        ok &= corpus.AddRaw("decompress", "no_runs",
                            DecompressSeed(zeros, {true, false, morvex::kMaxSegmentBody, 8}));
    }

    // Encoders: byte 0 chooses the encoder, the rest are its options, shapes and data.
    {
        const ByteVector picture = WoodPlanks(32, 16).pixels;
        auto seed = [](std::initializer_list<std::uint8_t> head, const ByteVector& data) {
            PayloadWriter bytes;
            for (std::uint8_t b : head) bytes.U8(b);
            return bytes.Raw(data).bytes;
        };
        ok &= corpus.AddRaw("encode", "compress", seed({0, 0, 0}, picture));
        ok &= corpus.AddRaw("encode", "compress_pieces", seed({0, 4, 3}, picture));
        for (std::uint8_t t = 0; t < 4; ++t) {
            ok &= corpus.AddRaw("encode", std::string("material_") + kMaterialTags[t],
                                seed({1, t}, MaterialPayload(kMaterialTags[t], SomeMaterials())));
        }
        for (std::uint8_t t = 0; t < 6; ++t) {
            ok &= corpus.AddRaw("encode", std::string("meshes_") + kVertexTags[t],
                                seed({2, t, 3, 1, 40, 0, 12, 7}, picture));
        }
        for (std::uint8_t f = 0; f < 5; ++f) {
            for (std::uint8_t form = 0; form < 3; ++form) {
                ok &= corpus.AddRaw("encode",
                                    "texture_" + std::to_string(f) + "_" + std::to_string(form),
                                    seed({3, f, 31, 15, 0x1B, form, 0x0F}, picture));
            }
        }
    }

    // Whole models in every mode: selector 0 OBJ, 1 MQO, 2 glTF, 3 check.
    {
        const ByteVector sample = BuildSampleModel().Bytes();
        for (std::uint8_t mode = 0; mode < 4; ++mode) {
            ok &= corpus.Add("convert", "sample_" + std::to_string(mode), mode, sample);
        }
        for (std::uint8_t t = 0; t < 6; ++t) {
            const std::string tag = kVertexTags[t];
            const std::string materialTag = kMaterialTags[t % 4];
            const auto mode = static_cast<std::uint8_t>(t % 3);
            ok &= corpus.Add("convert", tag + "_" + materialTag, mode,
                             ModelOf(tag, materialTag, meshSets[1], true).Bytes());
            ok &= corpus.Add("convert", tag + "_small", static_cast<std::uint8_t>(2 - mode),
                             ModelOf(tag, kMaterialTags[(t + 1) % 4], meshSets[0], false).Bytes());
        }
        It3Writer textures;
        textures.Info("textures");
        for (const auto& [name, texture] : SomeTextures())
            textures.Block("TEXI", TexiPayload(name, texture));
        ok &= corpus.Add("convert", "textures", 0, textures.Bytes());
        It3Writer mixed = ModelOf("VPA5", "MAT2", meshSets[2], false);
        mixed.Block("BBOX", ByteVector(24, 0)).Block("ZZZZ", ByteVector(4, 1));
        mixed.Info("second");
        mixed.Block("MATE", MaterialPayload("MATE", {{"a:b", "c/d", "e\\f", 2.0f}}));
        mixed.Block("VPAC", VertexPayload("VPAC", meshSets[0]));
        ok &= corpus.Add("convert", "mixed", 2, mixed.Bytes());
        ok &= corpus.Add("convert", "mixed_check", 3, mixed.Bytes());

        // The inspect report reads the file alone.
        ok &= corpus.AddRaw("inspect", "sample", sample);
        ok &= corpus.AddRaw("inspect", "mixed", mixed.Bytes());
        ok &= corpus.AddRaw("inspect", "textures", textures.Bytes());
        ok &= corpus.AddRaw("inspect", "empty_objects", ManyEmptyObjects(40));
        ok &= corpus.AddRaw("inspect", "zero_blocks", DenseBlocks(std::string(4, '\0'), 512));
    }

    // Trees for the folder walk: the command-line byte, then (kind, parent, name length, name,
    // target) entries: 0 a model, 1 a folder, 2 a link, 3 a FIFO; parent 0 models, 1 out.
    {
        auto entry = [](ByteVector& tree, std::uint8_t kind, std::uint8_t parent,
                        std::string_view name, int target = -1) {
            tree.insert(tree.end(), {kind, parent, static_cast<std::uint8_t>(name.size())});
            tree.insert(tree.end(), name.begin(), name.end());
            if (target >= 0) tree.push_back(static_cast<std::uint8_t>(target));
        };
        ByteVector models = {0};
        entry(models, 0, 0, "a.it3");
        entry(models, 1, 0, "sub");
        entry(models, 0, 2, "b.it3");
        entry(models, 0, 0, "...it3");
        entry(models, 3, 0, "pipe.it3");
        ok &= corpus.AddRaw("folders", "models", models);
        ByteVector links = {8 | 2};  // -g, --follow-links
        entry(links, 0, 0, "a.it3");
        entry(links, 2, 1, "a", 0);      // out/a: a link to the folder outside
        entry(links, 2, 0, "up", 4);     // a link to the temporary folder
        entry(links, 2, 0, "proc", 5);   // into /proc
        entry(links, 2, 0, "x.it3", 7);  // to nothing
        entry(links, 2, 0, "self", 9);   // to itself
        ok &= corpus.AddRaw("folders", "links", links);
        ByteVector out = {4 | 1};  // -m --out
        entry(out, 0, 0, "models.it3");
        entry(out, 2, 1, "models", 0);
        ok &= corpus.AddRaw("folders", "out_link", out);
    }

    // Edited glb files for the pack against the sample: our own glb of it, as -g writes it.
    {
        morvex::Model sample;
        morvex::RegisterBlockTypes(sample.registry);
        sample.baseName = "sample";
        sample.buffer = morvex::ByteBuffer::CopyOf(BuildSampleModel().Bytes());
        morvex::Console console = morvex::Console::Capturing();
        morvex::ScanBlocks(sample, console);
        const fs::path dir = fs::path(argv[1]) / "pack";
        fs::create_directories(dir);
        morvex::ExportGltf(sample, console, dir.string() + "/");
        ok &= fs::is_regular_file(dir / "sample.glb");
    }

    std::printf("make_fuzz_corpus: %d seeds written, %d too large left out\n", corpus.Written(),
                corpus.Skipped());
    if (!ok) {
        std::fprintf(stderr, "make_fuzz_corpus: can not write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}

// The pack (--pack): an edited glb back into it3. Models that come back unedited give the
// original byte for byte; edits come back exactly; broken glb files are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "decode/vertex_block.h"
#include "export/gltf/gltf_writer.h"
#include "export/object_walk.h"
#include "pack/mesh_match.h"
#include "pack/pack.h"
#include "pack/png_decode.h"
#include "test_support.h"
#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using testdata::ByteVector;
using testdata::It3Writer;

// A model of every vertex tag, material tag and texture format, with alpha maps, a texture that
// is its own alpha map, an unknown block and an object without geometry: what an identity pack
// must give back byte for byte.
ByteVector EveryFormModel() {
    using namespace testdata;
    It3Writer file;
    const char* vertexTags[] = {"VPA2", "VPA4", "VPA5", "VPA7", "VPA8", "VPAC"};
    const char* materialTags[] = {"MATE", "MAT2", "MAT3", "MAT4"};
    for (int k = 0; k < 6; ++k) {
        file.Info("object" + std::to_string(k));
        file.Block(
            materialTags[k % 4],
            MaterialPayload(materialTags[k % 4], {{"plain", "", "", 3.5f},
                                                  {"painted", "t100" + std::to_string(k % 5 + 1),
                                                   k == 2   ? "alpha"
                                                   : k == 4 ? "t1005"
                                                            : "",
                                                   12.0f}}));
        std::vector<Mesh> meshes = {BoxMesh({0, 0, float(k)}, {0.5f, 0.4f, 0.3f}, 1),
                                    SphereMesh({2, 0, float(k)}, 0.5f, 6, 8, 0),
                                    BoxMesh({4, 0, float(k)}, {0.2f, 0.2f, 0.2f}, 1)};
        file.Block(vertexTags[k], VertexPayload(vertexTags[k], meshes));
        if (k == 3) file.Block("ABCD", ByteVector{1, 2, 3});
    }
    file.Info("empty");
    const IndexedPicture picture = TestPicture(32, 16, 7);
    file.Block("TEXI", TexiPayload("t1001", EncodeTexture1001(TestPicture16(20, 10, 3))));
    file.Block("TEXI", TexiPayload("t1002", EncodeTexture1002(picture)));
    file.Block("TEXI", TexiPayload("t1003", EncodeTexture1004(picture)));
    file.Block("TEXI", TexiPayload("t1004", EncodeTexture1004(picture)));
    file.Block("TEXI", TexiPayload("t1005", *EncodeTexture1005(picture)));
    file.Block("TEXI", TexiPayload("alpha", *EncodeTexture1006(TestPicture(16, 16, 9), {})));
    return file.Bytes();
}

struct IdentityCase {
    std::string name;
    std::function<ByteVector()> model;
};

void PrintTo(const IdentityCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<IdentityCase> IdentityCases() {
    std::vector<IdentityCase> cases = {
        {"sample",
         [] { return test::ReadBytes(fs::path(MORVEX_SOURCE_DIR) / "examples/sample.it3"); }},
        {"every_form", EveryFormModel},
    };
    std::vector<std::string> models;
    for (const auto& entry : fs::directory_iterator(fs::path(MORVEX_TEST_DATA) / "conformance")) {
        models.push_back(entry.path().filename().string());
    }
    std::sort(models.begin(), models.end());
    for (const std::string& m : models) {
        cases.push_back({m, [m] {
                             return test::ReadBytes(fs::path(MORVEX_TEST_DATA) / "conformance" / m /
                                                    (m + ".it3"));
                         }});
    }
    return cases;
}

class PackIdentity : public ::testing::TestWithParam<IdentityCase> {};

// -g, then --pack of the untouched glb: the original, byte for byte.
TEST_P(PackIdentity, UneditedGlbGivesTheOriginalBack) {
    test::TempDir tmp;
    const ByteVector original = GetParam().model();
    test::WriteBytes(tmp / "m.it3", original);
    ASSERT_EQ(test::RunMorvex({"-g", "m.it3", "out"}, tmp.Path()).status, 0);
    const test::RunResult run =
        test::RunMorvex({"--pack", "m.it3", "out/m.glb", "new.it3"}, tmp.Path());
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "-> new.it3\n");
    EXPECT_EQ(run.errors.find("Error"), std::string::npos) << run.errors;
    EXPECT_TRUE(test::ReadBytes(tmp / "new.it3") == original);
}

INSTANTIATE_TEST_SUITE_P(Pack, PackIdentity, ::testing::ValuesIn(IdentityCases()),
                         [](const auto& info) { return info.param.name; });

// A glb as JSON and BIN chunk, to edit and write back.
struct GlbParts {
    nlohmann::json json;
    ByteVector bin;

    // The bytes of accessor a's element k (tightly packed, as our writer stores them).
    std::uint8_t* Element(int a, std::size_t k) {
        const nlohmann::json& accessor = json["accessors"][a];
        const nlohmann::json& view = json["bufferViews"][accessor["bufferView"].get<int>()];
        const std::size_t size = accessor["type"] == "VEC3"   ? 12
                                 : accessor["type"] == "VEC2" ? 8
                                                              : 4;
        return bin.data() + view.value("byteOffset", 0) + accessor.value("byteOffset", 0) +
               k * size;
    }
    morvex::Bytes ViewBytes(int v) const {
        const nlohmann::json& view = json["bufferViews"][v];
        return morvex::Bytes(bin).subspan(view.value("byteOffset", 0),
                                          view["byteLength"].get<std::size_t>());
    }
    // Appends a bufferView holding `bytes`; its index.
    int AddView(const ByteVector& bytes) {
        bin.resize((bin.size() + 3) & ~std::size_t{3});
        json["bufferViews"].push_back(
            {{"buffer", 0}, {"byteOffset", bin.size()}, {"byteLength", bytes.size()}});
        bin.insert(bin.end(), bytes.begin(), bytes.end());
        json["buffers"][0]["byteLength"] = bin.size();
        return static_cast<int>(json["bufferViews"].size() - 1);
    }
    int Find(const char* array, const std::string& name) const {
        for (std::size_t k = 0; k < json[array].size(); ++k) {
            if (json[array][k]["name"] == name) return static_cast<int>(k);
        }
        throw std::logic_error("no " + name);
    }

    static GlbParts Of(const ByteVector& glb) {
        GlbParts parts;
        const std::uint32_t jsonLength = LoadU32(glb.data() + 12);
        parts.json = nlohmann::json::parse(glb.begin() + 20, glb.begin() + 20 + jsonLength);
        const std::size_t bin = 20 + jsonLength;
        if (bin + 8 <= glb.size())
            parts.bin.assign(glb.begin() + static_cast<std::ptrdiff_t>(bin + 8), glb.end());
        return parts;
    }
    ByteVector File() const {
        std::string text = json.dump();
        text.append((4 - text.size() % 4) % 4, ' ');
        ByteVector out(20 + text.size() + (bin.empty() ? 0 : 8 + bin.size()));
        StoreU32(out.data(), 0x46546C67);
        StoreU32(out.data() + 4, 2);
        StoreU32(out.data() + 8, static_cast<std::uint32_t>(out.size()));
        StoreU32(out.data() + 12, static_cast<std::uint32_t>(text.size()));
        StoreU32(out.data() + 16, 0x4E4F534A);
        std::memcpy(out.data() + 20, text.data(), text.size());
        if (!bin.empty()) {
            std::uint8_t* chunk = out.data() + 20 + text.size();
            StoreU32(chunk, static_cast<std::uint32_t>(bin.size()));
            StoreU32(chunk + 4, 0x004E4942);
            std::memcpy(chunk + 8, bin.data(), bin.size());
        }
        return out;
    }
};

// The sample loaded in this process, and our glb of it.
class PackInProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        model_ = test::IndexedModel(fs::path(MORVEX_SOURCE_DIR) / "examples/sample.it3", console_);
        ExportGltf(model_, console_, (tmp_.Path() / "").string());
        glb_ = test::ReadBytes(tmp_ / "sample.glb");
    }
    // Packs `glb`; the console's lines in `lines`.
    Outcome Pack(const ByteVector& glb, ByteVector& packed, std::string& lines) {
        Console console = Console::Capturing();
        const Outcome made = PackBytes(model_, glb, "edited.glb", console, packed);
        lines = console.Captured();
        return made;
    }

    test::TempDir tmp_;
    Console console_ = Console::Capturing();
    Model model_;
    ByteVector glb_;
};

struct BrokenGlb {
    const char* name;
    std::function<void(GlbParts&)> damage;
};

// Every fault of a glb is refused with an error line and no output; nothing reads outside it.
TEST_F(PackInProcess, BrokenGlbFilesAreRefused) {
    using nlohmann::json;
    const BrokenGlb cases[] = {
        {"accessor past its view",
         [](GlbParts& g) { g.json["accessors"][0]["count"] = 1000000000000; }},
        {"accessor offset past its view",
         [](GlbParts& g) { g.json["accessors"][0]["byteOffset"] = 4000000000; }},
        {"view past the BIN chunk",
         [](GlbParts& g) { g.json["bufferViews"][0]["byteLength"] = 1 << 30; }},
        {"buffer longer than the BIN chunk",
         [](GlbParts& g) { g.json["buffers"][0]["byteLength"] = 1 << 30; }},
        {"buffer given by URI", [](GlbParts& g) { g.json["buffers"][0]["uri"] = "x.bin"; }},
        {"index past the vertices",
         [](GlbParts& g) {
             const json& indices =
                 g.json["accessors"][g.json["meshes"][0]["primitives"][0]["indices"].get<int>()];
             const std::size_t at =
                 g.json["bufferViews"][indices["bufferView"].get<int>()].value("byteOffset", 0);
             g.bin[at] = 0xFF, g.bin[at + 1] = 0xFF;
         }},
        {"positions of another kind",
         [](GlbParts& g) { g.json["accessors"][0]["componentType"] = 5123; }},
        {"a cycle of nodes",
         [](GlbParts& g) {
             g.json["nodes"][0]["children"] = json::array({1});
             g.json["nodes"][1]["children"] = json::array({0});
         }},
        {"a node of two parents",
         [](GlbParts& g) {
             g.json["nodes"].push_back({{"children", json::array({1})}});
             g.json["nodes"][0]["children"] = json::array({1});
         }},
        {"lines", [](GlbParts& g) { g.json["meshes"][0]["primitives"][0]["mode"] = 1; }},
        {"an index of nothing",
         [](GlbParts& g) { g.json["meshes"][0]["primitives"][0]["material"] = 99; }},
        {"a material of no record",
         [](GlbParts& g) {
             g.json["materials"][0].erase("extras");
             g.json["materials"][0]["name"] = "stranger";
         }},
        {"a repainted image that is no PNG",
         [](GlbParts& g) {
             const json& image = g.json["images"][0];
             const std::size_t at =
                 g.json["bufferViews"][image["bufferView"].get<int>()].value("byteOffset", 0);
             g.bin[at + 1] ^= 0xFF;
         }},
        {"a deep document",
         [](GlbParts& g) {
             json deep = json::array();
             for (int k = 0; k < 200; ++k) deep = json::array({deep});
             g.json["extras"] = deep;
         }},
    };
    const GlbParts good = GlbParts::Of(glb_);
    for (const BrokenGlb& c : cases) {
        GlbParts parts = good;
        c.damage(parts);
        ByteVector packed;
        std::string lines;
        EXPECT_NE(Pack(parts.File(), packed, lines), Outcome::Ok) << c.name;
        EXPECT_EQ(lines.rfind("Error : ", 0), 0u) << c.name << ": " << lines;
        EXPECT_TRUE(packed.empty()) << c.name;
    }
    // The container itself.
    const ByteVector whole = good.File();
    for (std::size_t cut : {std::size_t{0}, std::size_t{11}, std::size_t{19}, std::size_t{40}}) {
        ByteVector packed;
        std::string lines;
        EXPECT_EQ(Pack(ByteVector(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)),
                       packed, lines),
                  Outcome::Broken)
            << cut;
    }
    ByteVector foreign = whole;
    foreign[0] = 'X';
    ByteVector packed;
    std::string lines;
    EXPECT_EQ(Pack(foreign, packed, lines), Outcome::Broken);
    EXPECT_EQ(lines,
              "Error : edited.glb is not a glTF file that can be read: not a binary glTF file.\n");
}

// The decoded meshes of an object of a model (vertex bytes, index bytes, material) and its
// material table.
struct ObjectData {
    std::vector<DecodedMesh> meshes;
    std::vector<std::string> materialNames, textureNames;
    std::vector<float> powers;
};
ObjectData DecodeObject(const Model& model, std::string_view name) {
    ObjectData data;
    Console console = Console::Capturing();
    WalkObjects(model, console, [&](ModelObject& object) {
        if (object.name != name) return true;
        for (std::int32_t r = 0; object.materials.HasRecord(r); ++r) {
            data.materialNames.emplace_back(object.materials.MaterialAt(r));
            data.textureNames.emplace_back(object.materials.TextureNameAt(r));
            data.powers.push_back(object.materials.PowerAt(r));
        }
        WalkMeshes(console, object, [&](std::int32_t, std::int32_t m) {
            DecodedMesh mesh;
            mesh.materialIndex = m;
            const Bytes v = object.vertices.VertexData(), i = object.vertices.IndexData();
            mesh.vertexBytes.assign(v.begin(), v.end());
            mesh.indexBytes.assign(i.begin(), i.end());
            data.meshes.push_back(std::move(mesh));
            return true;
        });
        return false;
    });
    return data;
}

// The colours of a texture of a model, as the glb shows them.
RgbaPicture TextureColours(const Model& model, std::string_view name) {
    RgbaPicture rgba;
    for (const Block& record : model.blocks) {
        if (record.TagBits() != kTagTexi || TextureName(record) != name) continue;
        TextureBlock texture;
        texture.BindTo(record);
        Picture picture;
        if (DecodeTexture(texture.Header(), picture) == Outcome::Ok) ToRgba(picture, rgba);
        break;
    }
    return rgba;
}

// The blocks of two files whose bytes differ, by tag, in order.
std::vector<std::string> ChangedBlocks(const Model& a, const Model& b) {
    std::vector<std::string> changed;
    EXPECT_EQ(a.blocks.size(), b.blocks.size());
    for (std::size_t k = 0; k < std::min(a.blocks.size(), b.blocks.size()); ++k) {
        const Bytes x = a.blocks[k].Payload(), y = b.blocks[k].Payload();
        if (!std::equal(x.begin(), x.end(), y.begin(), y.end())) {
            changed.emplace_back(a.blocks[k].tag, 4);
        }
    }
    return changed;
}

struct EditCase {
    const char* name;
    std::function<void(GlbParts&)> edit;
    std::vector<std::string> changedBlocks;
    std::function<void(const Model& original, const Model& packed)> check;
};

// Edits of our glb of the sample come back: only the blocks they touch change, and decoding the
// new file shows the edit.
TEST_F(PackInProcess, EditsComeBackInTheBlocksTheyTouch) {
    const EditCase cases[] = {
        {"a moved vertex of the crate",
         [](GlbParts& g) {
             const int positions = g.json["meshes"][0]["primitives"][0]["attributes"]["POSITION"];
             // glTF's y is the model's z.
             StoreU32(g.Element(positions, 5) + 4, std::bit_cast<std::uint32_t>(3.0f));
         },
         {"VPA5"},
         [](const Model& original, const Model& packed) {
             const ObjectData before = DecodeObject(original, "crate");
             const ObjectData after = DecodeObject(packed, "crate");
             ASSERT_EQ(after.meshes.size(), 1u);
             const auto& a = after.meshes[0].vertexBytes;
             const auto& b = before.meshes[0].vertexBytes;
             ASSERT_EQ(a.size(), b.size());
             for (std::size_t v = 0; v < a.size() / 40; ++v) {
                 const bool moved = v == 5;
                 EXPECT_EQ(LoadF32(a.data() + v * 40 + 8),
                           moved ? 3.0f : LoadF32(b.data() + v * 40 + 8));
                 EXPECT_TRUE(std::equal(a.begin() + v * 40 + 12, a.begin() + v * 40 + 40,
                                        b.begin() + v * 40 + 12));
             }
         }},
        {"the figure moved up by its node",
         [](GlbParts& g) {
             g.json["nodes"][1]["translation"] = {0.0, 1.5, 0.0};
         },
         {"VPAC"},
         [](const Model& original, const Model& packed) {
             const ObjectData before = DecodeObject(original, "figure");
             const ObjectData after = DecodeObject(packed, "figure");
             ASSERT_EQ(after.meshes.size(), before.meshes.size());
             // Every vertex is an original one 1.5 higher, its other bytes as they were (those
             // no triangle uses are gone).
             for (std::size_t m = 0; m < after.meshes.size(); ++m) {
                 const auto& a = after.meshes[m].vertexBytes;
                 const auto& b = before.meshes[m].vertexBytes;
                 for (std::size_t v = 0; v < a.size(); v += 112) {
                     bool found = false;
                     for (std::size_t w = 0; w < b.size() && !found; w += 112) {
                         found = LoadF32(a.data() + v) == LoadF32(b.data() + w) &&
                                 LoadF32(a.data() + v + 4) == LoadF32(b.data() + w + 4) &&
                                 LoadF32(a.data() + v + 8) == LoadF32(b.data() + w + 8) + 1.5f &&
                                 std::equal(a.begin() + v + 12, a.begin() + v + 112,
                                            b.begin() + w + 12);
                     }
                     EXPECT_TRUE(found) << m << " " << v / 112;
                 }
                 EXPECT_EQ(after.meshes[m].indexBytes.size(), before.meshes[m].indexBytes.size());
             }
         }},
        {"a repainted texture",
         [](GlbParts& g) {
             const int image = g.Find("images", "crate_wood");
             RgbaPicture colours;
             ASSERT_EQ(DecodePng(g.ViewBytes(g.json["images"][image]["bufferView"]), colours),
                       Outcome::Ok);
             for (std::size_t k = 0; k < 64 * 4; k += 4) colours.pixels[k] = 255;  // a red top row
             std::vector<std::uint8_t> png;
             ASSERT_EQ(EncodePng(colours, false, png), Outcome::Ok);
             g.json["images"][image]["bufferView"] = g.AddView(png);
         },
         {"TEXI"},
         [](const Model& original, const Model& packed) {
             RgbaPicture expected = TextureColours(original, "crate_wood");
             for (std::size_t k = 0; k < 64 * 4; k += 4) expected.pixels[k] = 255;
             EXPECT_TRUE(TextureColours(packed, "crate_wood").pixels == expected.pixels);
         }},
        {"a material renamed, made shinier and given another texture",
         [](GlbParts& g) {
             const int wood = g.Find("materials", "wood");
             g.json["materials"][wood]["name"] = "oak";
             g.json["materials"][wood]["pbrMetallicRoughness"]["roughnessFactor"] =
                 RoughnessFromPower(60.0f);
             const int skin = g.Find("materials", "skin");
             g.json["materials"][wood]["pbrMetallicRoughness"]["baseColorTexture"] =
                 g.json["materials"][skin]["pbrMetallicRoughness"]["baseColorTexture"];
         },
         {"MAT2"},
         [](const Model&, const Model& packed) {
             const ObjectData crate = DecodeObject(packed, "crate");
             EXPECT_EQ(crate.materialNames, std::vector<std::string>{"oak"});
             EXPECT_EQ(crate.textureNames, std::vector<std::string>{"figure_skin"});
             EXPECT_EQ(crate.powers, std::vector<float>{60.0f});
         }},
        {"a material known by its name, with the suffix an editor adds",
         [](GlbParts& g) {
             nlohmann::json copy = g.json["materials"][0];
             copy.erase("extras");
             copy["name"] = "wood.001";
             g.json["materials"].push_back(copy);
             g.json["meshes"][0]["primitives"][0]["material"] = g.json["materials"].size() - 1;
         },
         {},
         [](const Model&, const Model&) {}},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        GlbParts parts = GlbParts::Of(glb_);
        c.edit(parts);
        ByteVector packed;
        std::string lines;
        ASSERT_EQ(Pack(parts.File(), packed, lines), Outcome::Ok) << lines;
        EXPECT_EQ(lines, "");
        Console console = Console::Capturing();
        const Model result = test::IndexedModel(packed, "sample", console);
        EXPECT_EQ(ChangedBlocks(model_, result), c.changedBlocks);
        c.check(model_, result);
    }
}

TEST_F(PackInProcess, LimitsOfTheFormatAreErrorsAndWriteNothing) {
    GlbParts parts = GlbParts::Of(glb_);
    parts.json["materials"][0]["name"] = std::string(64, 'x');
    ByteVector packed;
    std::string lines;
    EXPECT_EQ(Pack(parts.File(), packed, lines), Outcome::Broken);
    EXPECT_TRUE(packed.empty());
    EXPECT_TRUE(lines.starts_with("Error : ")) << lines;
    EXPECT_NE(lines.find("crate"), std::string::npos) << lines;
}

// An image made of a texture and its alpha map goes back as the two: its colours into the
// texture, its alpha into the alpha map (here half the image's width: two image pixels read
// each of its pixels, and the one that changed decides).
TEST(PackTextures, AnImageOfATextureAndItsAlphaMapGoesBackAsTheTwo) {
    Console console = Console::Capturing();
    const Model model = test::IndexedModel(EveryFormModel(), "every", console);
    test::TempDir tmp;
    ExportGltf(model, console, (tmp.Path() / "").string());
    GlbParts parts = GlbParts::Of(test::ReadBytes(tmp / "every.glb"));
    const int image = parts.Find("images", "t1003+alpha");
    RgbaPicture shown;
    ASSERT_EQ(DecodePng(parts.ViewBytes(parts.json["images"][image]["bufferView"]), shown),
              Outcome::Ok);
    ASSERT_EQ(shown.width, 32u);
    shown.pixels[3] = 77;  // pixel (0, 0): alpha
    shown.pixels[4 * 33 + 0] = 0, shown.pixels[4 * 33 + 1] = 255, shown.pixels[4 * 33 + 2] = 0;
    std::vector<std::uint8_t> png;
    ASSERT_EQ(EncodePng(shown, true, png), Outcome::Ok);
    parts.json["images"][image]["bufferView"] = parts.AddView(png);

    ByteVector packed;
    Console packing = Console::Capturing();
    ASSERT_EQ(PackBytes(model, parts.File(), "every.glb", packing, packed), Outcome::Ok)
        << packing.Captured();
    const Model result = test::IndexedModel(packed, "every", console);
    EXPECT_EQ(ChangedBlocks(model, result), (std::vector<std::string>{"TEXI", "TEXI"}));
    RgbaPicture colours = TextureColours(model, "t1003");
    colours.pixels[4 * 33 + 0] = 0, colours.pixels[4 * 33 + 1] = 255,
                            colours.pixels[4 * 33 + 2] = 0;
    EXPECT_TRUE(TextureColours(result, "t1003").pixels == colours.pixels);
    RgbaPicture alpha = TextureColours(model, "alpha");
    const RgbaPicture after = TextureColours(result, "alpha");
    ASSERT_EQ(after.pixels.size(), alpha.pixels.size());
    EXPECT_EQ((77u * after.pixels[0] + 150u * after.pixels[1] + 29u * after.pixels[2] + 128u) >> 8,
              77u);
    alpha.pixels[0] = after.pixels[0], alpha.pixels[1] = after.pixels[1],
    alpha.pixels[2] = after.pixels[2];
    EXPECT_TRUE(after.pixels == alpha.pixels);
}

// ---------------------------------------------------------------------------------------------
// Putting edited triangles back into their meshes.

// An object's meshes as decoded, every byte the tool does not read set to a pattern of the
// vertex (so that what a vertex inherits shows).
std::vector<DecodedMesh> Originals(const std::vector<testdata::Mesh>& meshes, std::uint32_t stride,
                                   std::uint32_t indexSize) {
    std::vector<DecodedMesh> originals;
    for (const testdata::Mesh& mesh : meshes) {
        DecodedMesh d;
        d.decoded = true;
        d.written = true;
        d.materialIndex = mesh.materialIndex;
        d.vertexBytes = testdata::VertexBytes(mesh.vertices, stride);
        for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
            std::uint8_t* bytes = d.vertexBytes.data() + v * stride;
            const std::size_t unread = stride == 112 ? 56 : 20;
            for (std::size_t k = 0; k < unread; ++k) {
                bytes[stride - unread + k] = static_cast<std::uint8_t>(v * 7 + k + 1);
            }
        }
        d.indexBytes = testdata::IndexBytes(mesh.indices, indexSize);
        originals.push_back(std::move(d));
    }
    return originals;
}

// The object as an editor that merges the primitives of one material gives it back: one
// primitive per material, vertices in reverse order, each triangle starting at its second
// corner, the unit normals our writer writes.
EditedObject AsEdited(const std::vector<DecodedMesh>& originals, const VertexLayout& layout) {
    EditedObject edited;
    for (const DecodedMesh& original : originals) {
        const MeshData view = original.View(layout);
        const auto base = static_cast<std::uint32_t>(edited.vertices.size());
        const auto n = static_cast<std::uint32_t>(view.vertexCount);
        for (std::int32_t i = view.vertexCount - 1; i >= 0; --i) {
            EditedVertex v;
            v.position = view.PositionAt(i);
            v.texCoord = view.TexCoordAt(i);
            v.hasTexCoord = true;
            if (view.HasNormals()) {
                const auto u = UnitNormal(Upright(view.NormalAt(i)));
                v.normal = {u[0], -u[2], u[1]};
                v.hasNormal = true;
            }
            edited.vertices.push_back(v);
        }
        for (std::int32_t t = 0; t < view.faceCount; ++t) {
            const auto f = view.FaceAt(t);
            EditedTriangle triangle;
            triangle.corners = {base + n - 1 - f[1], base + n - 1 - f[2], base + n - 1 - f[0]};
            triangle.material = original.materialIndex;
            edited.triangles.push_back(triangle);
        }
    }
    return edited;
}

// Every vertex where its mesh has it: no node transform.
void Untransformed(EditedObject& edited) {
    for (EditedVertex& v : edited.vertices) {
        v.placed = v.position;
        v.placedNormal = v.normal;
    }
}

struct MatchCase {
    const char* name;
    std::function<void(EditedObject&)> edit;
    bool changed;
    // Checks of the result against the originals.
    std::function<void(const std::vector<ResultMesh>&, const std::vector<DecodedMesh>&)> check;
};

std::array<float, 3> PositionOf(const std::vector<std::uint8_t>& bytes, std::size_t stride,
                                std::size_t v) {
    const std::uint8_t* p = bytes.data() + v * stride;
    return {LoadF32(p), LoadF32(p + 4), LoadF32(p + 8)};
}

// The vertex of `mesh` at `position`, -1 when none is.
std::int64_t VertexAt(const ResultMesh& mesh, std::size_t stride, std::array<float, 3> position) {
    for (std::size_t v = 0; v < mesh.vertexBytes.size() / stride; ++v) {
        if (PositionOf(mesh.vertexBytes, stride, v) == position)
            return static_cast<std::int64_t>(v);
    }
    return -1;
}

TEST(MatchObject, TrianglesGoBackToTheirMeshesAndOnlyRealEditsCount) {
    using testdata::BoxMesh;
    const Vpa4Block vpa4;
    const VertexLayout& layout = vpa4.Layout();
    // Two boxes of material 1 (merged into one primitive by the editor) and a sphere of 0.
    const std::vector<DecodedMesh> originals =
        Originals({BoxMesh({0, 0, 0}, {1, 1, 1}, 1), testdata::SphereMesh({3, 0, 0}, 1, 4, 6, 0),
                   BoxMesh({6, 0, 0}, {1, 1, 1}, 1)},
                  112, 4);
    auto unchanged = [](const std::vector<ResultMesh>& result, const std::vector<DecodedMesh>& o) {
        ASSERT_EQ(result.size(), o.size());
        for (std::size_t m = 0; m < o.size(); ++m) {
            EXPECT_TRUE(result[m].unchanged) << m;
            EXPECT_TRUE(result[m].vertexBytes == o[m].vertexBytes) << m;
        }
    };
    // The vertex of the first box at (1, 1, 1) with its unit normal (1, 0, 0) (first face).
    auto boxCorner = [](EditedObject& e) -> EditedVertex& {
        for (EditedVertex& v : e.vertices) {
            if (v.position == std::array<float, 3>{1, 1, 1} && v.normal[0] == 1) return v;
        }
        throw std::logic_error("no corner");
    };
    const MatchCase cases[] = {
        {"merged and reordered", [](EditedObject&) {}, false, unchanged},
        {"texture coordinates one step off (1 - v twice)",
         [](EditedObject& e) {
             for (EditedVertex& v : e.vertices) {
                 v.texCoord[1] = std::nextafter(v.texCoord[1], 2.0f);
                 v.texCoord[0] = 1 - (1 - v.texCoord[0]);
             }
         },
         false, unchanged},
        {"normals re-encoded (a hundredth of a radian)",
         [](EditedObject& e) {
             for (EditedVertex& v : e.vertices) {
                 const double a = 0.01;
                 const std::array<float, 3> n = v.normal;
                 v.normal = {static_cast<float>(n[0] * std::cos(a) - n[1] * std::sin(a)),
                             static_cast<float>(n[0] * std::sin(a) + n[1] * std::cos(a)), n[2]};
             }
         },
         false, unchanged},
        {"unused vertices and a repeated triangle dropped",
         [](EditedObject& e) {
             // The sphere's poles: triangles with two corners at one place are dropped on import.
             std::erase_if(e.triangles, [&](const EditedTriangle& t) {
                 const auto& v = e.vertices;
                 return v[t.corners[0]].position == v[t.corners[1]].position ||
                        v[t.corners[1]].position == v[t.corners[2]].position ||
                        v[t.corners[0]].position == v[t.corners[2]].position;
             });
         },
         false, unchanged},
        {"a moved vertex keeps its place and every unread byte",
         [&](EditedObject& e) {
             boxCorner(e).position = {1.25f, 1, 1};
         },
         true,
         [](const std::vector<ResultMesh>& result, const std::vector<DecodedMesh>& o) {
             ASSERT_EQ(result.size(), 3u);
             EXPECT_FALSE(result[0].unchanged);
             EXPECT_TRUE(result[1].unchanged && result[2].unchanged);
             ASSERT_EQ(result[0].vertexBytes.size(), o[0].vertexBytes.size());
             for (std::size_t v = 0; v < 24; ++v) {
                 const bool moved = PositionOf(result[0].vertexBytes, 112, v) !=
                                    PositionOf(o[0].vertexBytes, 112, v);
                 // Everything but the position of the moved vertex is as stored.
                 EXPECT_TRUE(std::equal(result[0].vertexBytes.begin() + v * 112 + 12,
                                        result[0].vertexBytes.begin() + v * 112 + 112,
                                        o[0].vertexBytes.begin() + v * 112 + 12))
                     << v;
                 if (moved) {
                     EXPECT_EQ(PositionOf(result[0].vertexBytes, 112, v),
                               (std::array<float, 3>{1.25f, 1, 1}));
                 }
             }
             EXPECT_EQ(result[0].indexBytes.size(), o[0].indexBytes.size());
         }},
        {"a texture coordinate moved beyond the tolerance",
         [&](EditedObject& e) { boxCorner(e).texCoord[0] += 1e-6f; }, true,
         [](const std::vector<ResultMesh>& result, const std::vector<DecodedMesh>&) {
             EXPECT_FALSE(result[0].unchanged);
         }},
        {"a normal turned by three hundredths of a radian",
         [&](EditedObject& e) {
             EditedVertex& v = boxCorner(e);
             v.normal = {static_cast<float>(std::cos(0.03)), static_cast<float>(std::sin(0.03)), 0};
         },
         true,
         [](const std::vector<ResultMesh>& result, const std::vector<DecodedMesh>&) {
             EXPECT_FALSE(result[0].unchanged);
         }},
        {"a triangle turned over",
         [](EditedObject& e) { std::swap(e.triangles[0].corners[1], e.triangles[0].corners[2]); },
         true,
         [](const std::vector<ResultMesh>& result, const std::vector<DecodedMesh>&) {
             EXPECT_FALSE(result[0].unchanged && result[1].unchanged && result[2].unchanged);
         }},
        {"a new vertex and triangle inherit from the nearest vertex",
         [](EditedObject& e) {
             EditedVertex v = e.vertices[e.triangles[0].corners[0]];
             v.position = {6.9f, 0.9f, 1.1f};  // near the second box's corner (7, 1, 1)
             e.vertices.push_back(v);
             EditedTriangle t = e.triangles.back();  // a triangle of the second box
             t.corners[0] = static_cast<std::uint32_t>(e.vertices.size() - 1);
             e.triangles.push_back(t);
         },
         true,
         [](const std::vector<ResultMesh>& result, const std::vector<DecodedMesh>& o) {
             EXPECT_TRUE(result[0].unchanged && result[1].unchanged);
             ASSERT_FALSE(result[2].unchanged);
             const std::int64_t added = VertexAt(result[2], 112, {6.9f, 0.9f, 1.1f});
             ASSERT_EQ(added, 24);  // behind the original vertices
             EXPECT_EQ(result[2].indexBytes.size(), o[2].indexBytes.size() + 12);
             // Its unread bytes are those of the original vertex nearest to it.
             std::int64_t nearest = -1;
             for (std::size_t v = 0; v < 24; ++v) {
                 if (PositionOf(o[2].vertexBytes, 112, v) == std::array<float, 3>{7, 1, 1}) {
                     nearest = static_cast<std::int64_t>(v);
                     break;
                 }
             }
             ASSERT_GE(nearest, 0);
             EXPECT_TRUE(std::equal(result[2].vertexBytes.begin() + added * 112 + 56,
                                    result[2].vertexBytes.begin() + added * 112 + 112,
                                    o[2].vertexBytes.begin() + nearest * 112 + 56));
         }},
        {"a deleted triangle", [](EditedObject& e) { e.triangles.erase(e.triangles.begin()); },
         true,
         [](const std::vector<ResultMesh>& result, const std::vector<DecodedMesh>& o) {
             EXPECT_EQ(result[0].indexBytes.size() + 12, o[0].indexBytes.size());
         }},
        {"a mesh given another material",
         [](EditedObject& e) {
             for (EditedTriangle& t : e.triangles) {
                 if (t.material == 0) t.material = 1;
             }
         },
         true,
         [](const std::vector<ResultMesh>& result, const std::vector<DecodedMesh>& o) {
             ASSERT_EQ(result.size(), 3u);
             EXPECT_EQ(result[1].materialIndex, 1);
             // Its vertices are original ones, byte for byte (those no triangle uses dropped).
             for (std::size_t v = 0; v < result[1].vertexBytes.size(); v += 112) {
                 bool found = false;
                 for (std::size_t w = 0; w < o[1].vertexBytes.size() && !found; w += 112) {
                     found = std::equal(result[1].vertexBytes.begin() + v,
                                        result[1].vertexBytes.begin() + v + 112,
                                        o[1].vertexBytes.begin() + w);
                 }
                 EXPECT_TRUE(found) << v / 112;
             }
         }},
        {"some triangles of a mesh given another material: split off",
         [](EditedObject& e) { e.triangles[0].material = 0; }, true,
         [](const std::vector<ResultMesh>& result, const std::vector<DecodedMesh>&) {
             ASSERT_EQ(result.size(), 4u);
             EXPECT_EQ(result[3].materialIndex, 0);
             EXPECT_EQ(result[3].indexBytes.size(), 12u);
             EXPECT_EQ(result[3].vertexBytes.size(), 3u * 112);
             EXPECT_EQ(result[0].materialIndex, 1);
         }},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        EditedObject edited = AsEdited(originals, layout);
        c.edit(edited);
        Untransformed(edited);
        Console console = Console::Capturing();
        std::vector<ResultMesh> result;
        bool changed = false;
        ASSERT_EQ(MatchObject(edited, layout, originals, "o", console, result, changed),
                  Outcome::Ok)
            << console.Captured();
        EXPECT_EQ(changed, c.changed);
        c.check(result, originals);
    }
}

TEST(MatchObject, AMeshBeyondWhatItsIndicesNameIsAnErrorNamingIt) {
    const Vpa5Block vpa5;
    std::vector<DecodedMesh> originals =
        Originals({testdata::BoxMesh({0, 0, 0}, {1, 1, 1}, 0)}, 40, 2);
    EditedObject edited = AsEdited(originals, vpa5.Layout());
    // 70000 new vertices in 23334 triangles near the box.
    for (std::uint32_t k = 0; k < 70000; ++k) {
        EditedVertex v = edited.vertices[0];
        v.position = {2 + static_cast<float>(k), 0, 0};
        edited.vertices.push_back(v);
        if (k % 3 == 2) {
            const auto last = static_cast<std::uint32_t>(edited.vertices.size() - 1);
            edited.triangles.push_back({{last - 2, last - 1, last}, 0});
        }
    }
    Untransformed(edited);
    Console console = Console::Capturing();
    std::vector<ResultMesh> result;
    bool changed = false;
    EXPECT_EQ(MatchObject(edited, vpa5.Layout(), originals, "crate", console, result, changed),
              Outcome::Broken);
    EXPECT_TRUE(console.Captured().starts_with("Error : object crate mesh 0: 700"));
    EXPECT_TRUE(console.Captured().ends_with(
        " vertices, more than the 65535 its vertex block can hold.\n"));
}

TEST(PackCommandLine, NewMayBeTheOriginalOnlyWithForce) {
    test::TempDir tmp;
    const ByteVector original =
        test::ReadBytes(fs::path(MORVEX_SOURCE_DIR) / "examples/sample.it3");
    test::WriteBytes(tmp / "m.it3", original);
    ASSERT_EQ(test::RunMorvex({"-g", "m.it3", "out"}, tmp.Path()).status, 0);
    const test::RunResult refused =
        test::RunMorvex({"--pack", "m.it3", "out/m.glb", "./m.it3"}, tmp.Path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.errors, "Error : ./m.it3 is the original file; add --force to replace it.\n");
    const test::RunResult forced =
        test::RunMorvex({"--pack", "--force", "m.it3", "out/m.glb", "m.it3"}, tmp.Path());
    EXPECT_EQ(forced.status, 0);
    EXPECT_TRUE(test::ReadBytes(tmp / "m.it3") == original);
    EXPECT_EQ(test::ListFiles(tmp.Path()), std::vector<std::string>{"m.it3"});
    const test::RunResult missing =
        test::RunMorvex({"--pack", "m.it3", "none.glb", "n.it3"}, tmp.Path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.errors, "Error : Can not open none.glb.\n");
}

}  // namespace
}  // namespace morvex

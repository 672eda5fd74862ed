// The pack (--pack): an edited glb back into it3. Models that come back unedited give the
// original byte for byte; edits come back exactly; broken glb files are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "export/gltf/gltf_writer.h"
#include "pack/pack.h"
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
    // The scan's warnings about the original come first, as in every mode.
    EXPECT_TRUE(run.output.ends_with("-> new.it3\n")) << run.output;
    EXPECT_EQ(run.output.find("Error"), std::string::npos) << run.output;
    EXPECT_TRUE(test::ReadBytes(tmp / "new.it3") == original);
}

INSTANTIATE_TEST_SUITE_P(Pack, PackIdentity, ::testing::ValuesIn(IdentityCases()),
                         [](const auto& info) { return info.param.name; });

// A glb as JSON and BIN chunk, to edit and write back.
struct GlbParts {
    nlohmann::json json;
    ByteVector bin;

    static GlbParts Of(const ByteVector& glb) {
        GlbParts parts;
        const std::uint32_t jsonLength = LoadU32(glb.data() + 12);
        parts.json = nlohmann::json::parse(glb.begin() + 20, glb.begin() + 20 + jsonLength);
        const std::size_t bin = 20 + jsonLength;
        if (bin + 8 <= glb.size())
            parts.bin.assign(glb.begin() + static_cast<std::ptrdiff_t>(bin + 8), glb.end());
        return parts;
    }
    ByteVector Bytes() const {
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
        EXPECT_NE(Pack(parts.Bytes(), packed, lines), Outcome::Ok) << c.name;
        EXPECT_EQ(lines.rfind("Error : ", 0), 0u) << c.name << ": " << lines;
        EXPECT_TRUE(packed.empty()) << c.name;
    }
    // The container itself.
    const ByteVector whole = good.Bytes();
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

TEST(PackCommandLine, NewMayBeTheOriginalOnlyWithForce) {
    test::TempDir tmp;
    const ByteVector original =
        test::ReadBytes(fs::path(MORVEX_SOURCE_DIR) / "examples/sample.it3");
    test::WriteBytes(tmp / "m.it3", original);
    ASSERT_EQ(test::RunMorvex({"-g", "m.it3", "out"}, tmp.Path()).status, 0);
    const test::RunResult refused =
        test::RunMorvex({"--pack", "m.it3", "out/m.glb", "./m.it3"}, tmp.Path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.output, "Error : ./m.it3 is the original file; add --force to replace it.\n");
    const test::RunResult forced =
        test::RunMorvex({"--pack", "--force", "m.it3", "out/m.glb", "m.it3"}, tmp.Path());
    EXPECT_EQ(forced.status, 0);
    EXPECT_TRUE(test::ReadBytes(tmp / "m.it3") == original);
    EXPECT_EQ(test::ListFiles(tmp.Path()), std::vector<std::string>{"m.it3"});
    const test::RunResult missing =
        test::RunMorvex({"--pack", "m.it3", "none.glb", "n.it3"}, tmp.Path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output, "Error : Can not open none.glb.\n");
}

}  // namespace
}  // namespace morvex

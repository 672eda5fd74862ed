// The OBJ + MTL and MQO writers, in process and end to end through the built executable.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "export/gltf/gltf_writer.h"
#include "export/text/mqo_writer.h"
#include "export/text/obj_writer.h"
#include "platform/platform.h"
#include "test_support.h"
#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using test::V;
using testdata::ByteVector;
using testdata::It3Writer;
using testdata::Material;
using testdata::Mesh;

Mesh Triangle(std::int32_t material, std::vector<testdata::Vertex> vertices = {
                                         V(1, 2, 3), V(1, 0, 3, 1, 0), V(0, 0, 0, 0, 1)}) {
    Mesh mesh;
    mesh.vertices = std::move(vertices);
    mesh.indices = {0, 1, 2};
    mesh.materialIndex = material;
    return mesh;
}

const std::vector<Material> kSkinMetal = {{"skin", "skin", "", 30.0f}, {"metal", "", "", 5.0f}};

// A model in `dir`/name.it3 converted with `args` prepended; output folder `out`.
class WriterTest : public ::testing::Test {
  protected:
    test::RunResult Convert(const It3Writer& file, std::vector<std::string> options = {},
                            const std::string& name = "robo") {
        test::WriteBytes(dir / (name + ".it3"), file.Bytes());
        fs::create_directories(dir / "out");
        options.push_back(name + ".it3");
        options.push_back("out");
        return test::RunMorvex(options, dir.Path());
    }
    std::string Out(const std::string& name) { return test::ReadText(dir / "out" / name); }

    test::TempDir dir;
};

// Face lines formatted straight from the numbers, for comparison.
std::string ExpectedFaces(const std::vector<std::uint32_t>& indices, std::int64_t base,
                          bool normals) {
    std::string text;
    for (std::size_t t = 0; t + 2 < indices.size(); t += 3) {
        text += 'f';
        for (std::size_t c : {t, t + 2, t + 1}) {
            const std::string number = std::to_string(indices[c] + base + 1);
            text += ' ' + number + '/' + number;
            if (normals) text += '/' + number;
        }
        text += "\r\n";
    }
    return text;
}

TEST(ObjFaceLines, MatchTheNumbersWhateverTheIndicesBeforeThem) {
    // Corners whose text was just written, corners of the same number with and without
    // normals, indices 4096 apart (one place of the table of recent corners), numbers either
    // side of 10,000,000 and far above it.
    std::vector<std::uint32_t> indices;
    for (std::uint32_t k = 0; k < 3000; ++k) {
        indices.insert(indices.end(), {k, k + 1, k + 300, k + 4096, k, k + 8192});
    }
    struct Case {
        std::int64_t base;
        bool normals;
    };
    const Case cases[] = {{0, true},         {0, false},         {0, true},
                          {9'995'000, true}, {9'995'000, false}, {std::int64_t{1} << 40, true}};
    for (const Case& c : cases) {
        testdata::ByteVector bytes;
        for (std::uint32_t index : indices) {
            for (int b = 0; b < 4; ++b)
                bytes.push_back(static_cast<std::uint8_t>(index >> (8 * b)));
        }
        MeshData mesh;
        mesh.stride = c.normals ? 112 : 40;
        mesh.indexSize = 4;
        mesh.indices = Bytes(bytes);
        mesh.faceCount = static_cast<std::int32_t>(indices.size() / 3);
        mesh.vertexCount = 20000;
        std::string out(static_cast<std::size_t>(mesh.faceCount) * kMaxObjFaceLine, '\0');
        LineWriter writer(out.data(), out.data() + out.size());
        // In two calls, as two pieces of a mesh are written.
        WriteObjFaces(writer, mesh, c.base, 0, 1000);
        WriteObjFaces(writer, mesh, c.base, 1000, mesh.faceCount);
        out.resize(writer.Written());
        EXPECT_TRUE(out == ExpectedFaces(indices, c.base, c.normals)) << c.base << " " << c.normals;
    }
}

TEST(LineWriterBounds, AWriteBeyondTheLineBudgetOrTheEndStops) {
    if (!kCheckedLines) GTEST_SKIP() << "LineWriter checks its writes only with assertions on";
    struct Case {
        const char* label;
        std::size_t room;  // bytes of the memory given
        void (*write)(LineWriter&);
        const char* stop;  // the assertion's text, or null when the writes fit
    };
    const Case cases[] = {
        {"number within its line", 64,
         [](LineWriter& w) { w.Line(2 + kMaxIntText + 2).Str("v ").Int(7).EndLine(); }, nullptr},
        // A short value still takes a number's longest form of the budget.
        {"one byte too many", 64,
         [](LineWriter& w) { w.Line(2 + kMaxIntText + 1).Str("v ").Int(7).EndLine(); },
         "longer than its budget"},
        {"fixed over the budget", 64,
         [](LineWriter& w) { w.Line(kMaxFloatFixed + 1).Fixed(0.5, 6).EndLine(); },
         "longer than its budget"},
        {"text that fits", 4, [](LineWriter& w) { w.Str("abcd"); }, nullptr},
        {"text past the end", 4, [](LineWriter& w) { w.Str("abcde"); }, "past the end"},
        // Fixed-size copies need their whole block, however short the text they carry.
        {"digits copied near the end", kMaxIntText - 1,
         [](LineWriter& w) {
             const char digits[kMaxIntText] = {'7'};
             w.Digits(digits, 1);
         },
         "past the end"},
        {"a copy takes its room of the line", 64,
         [](LineWriter& w) {
             const char text[8] = {'a'};
             w.Line(20).Copied<8, 24>(text, 1).EndLine();
         },
         "longer than its budget"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<char> memory(c.room);
        auto run = [&] {
            LineWriter writer(memory.data(), memory.data() + memory.size());
            c.write(writer);
        };
        if (c.stop == nullptr) {
            run();
        } else {
            EXPECT_DEATH(run(), c.stop);
        }
    }
}

// A mesh of 40-byte vertices whose texture coordinates are `uv` and triangles `indices`.
struct TestMesh {
    testdata::ByteVector vertices, indices;
    MeshData mesh;

    TestMesh(const std::vector<std::array<float, 2>>& uv, const std::vector<std::uint32_t>& faces) {
        vertices.resize(uv.size() * 40);
        for (std::size_t k = 0; k < uv.size(); ++k) {
            std::memcpy(vertices.data() + 40 * k + 12, uv[k].data(), 8);
        }
        for (std::uint32_t index : faces) {
            for (int b = 0; b < 2; ++b)
                indices.push_back(static_cast<std::uint8_t>(index >> (8 * b)));
        }
        mesh.vertices = Bytes(vertices);
        mesh.indices = Bytes(indices);
        mesh.vertexCount = static_cast<std::int32_t>(uv.size());
        mesh.faceCount = static_cast<std::int32_t>(faces.size() / 3);
    }
};

std::string Fixed5(float value) {
    char text[kMaxFloatFixed] = {};
    return std::string(text, FormatFixed(text, value, 5));
}

TEST(MqoFaceLines, TexturesCoordinatesBelongToTheirOwnMesh) {
    // Two meshes with the same triangles and other texture coordinates, written one after the
    // other on one thread, each in two calls; one coordinate too large to be kept.
    std::vector<std::uint32_t> faces;
    for (std::uint32_t k = 0; k + 2 < 600; ++k) faces.insert(faces.end(), {k, k + 1, k + 2});
    for (const float scale : {1.0f, 3.0f, 1.0f}) {
        std::vector<std::array<float, 2>> uv;
        for (int k = 0; k < 600; ++k) uv.push_back({scale * k / 600.0f, -scale * k / 7.0f});
        uv[5][1] = 3e12f;
        const TestMesh test(uv, faces);
        std::string expected;
        for (std::size_t t = 0; t < faces.size(); t += 3) {
            expected += "\t\t3 V(" + std::to_string(faces[t]) + ' ' + std::to_string(faces[t + 1]) +
                        ' ' + std::to_string(faces[t + 2]) + ") M(7) UV(";
            for (std::size_t c = 0; c < 3; ++c) {
                if (c > 0) expected += ' ';
                expected += Fixed5(uv[faces[t + c]][0]) + ' ' + Fixed5(uv[faces[t + c]][1]);
            }
            expected += ")\r\n";
        }
        std::string out(static_cast<std::size_t>(test.mesh.faceCount) * kMaxMqoFaceLine, '\0');
        LineWriter writer(out.data(), out.data() + out.size());
        WriteMqoFaces(writer, test.mesh, 7, 0, 100);
        WriteMqoFaces(writer, test.mesh, 7, 100, test.mesh.faceCount);
        out.resize(writer.Written());
        EXPECT_TRUE(out == expected) << scale;
    }
}

TEST_F(WriterTest, ObjLayoutWithNormalsAndTwoMeshes) {
    It3Writer file;
    file.Info("Body").Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0), Triangle(1)}));
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "-> out/robo_00_Body.obj\n-> out/robo_00_Body.mtl\n");
    EXPECT_EQ(Out("robo_00_Body.obj"),
              test::Crlf("# exported with morvex\n\nmtllib robo_00_Body.mtl\n\no robo\n"
                         "\ng 00_skin\nusemtl 00_skin\n"
                         "v 1.000000 3.000000 -2.000000\nv 1.000000 3.000000 0.000000\nv 0.000000 "
                         "0.000000 0.000000\n"
                         "vt 0.000000 1.000000\nvt 1.000000 1.000000\nvt 0.000000 0.000000\n"
                         "vn 0.000000 0.000000 -1.000000\nvn 0.000000 0.000000 -1.000000\nvn "
                         "0.000000 0.000000 -1.000000\n"
                         "f 1/1/1 3/3/3 2/2/2\n"
                         "\ng 01_metal\nusemtl 01_metal\n"
                         "v 1.000000 3.000000 -2.000000\nv 1.000000 3.000000 0.000000\nv 0.000000 "
                         "0.000000 0.000000\n"
                         "vt 0.000000 1.000000\nvt 1.000000 1.000000\nvt 0.000000 0.000000\n"
                         "vn 0.000000 0.000000 -1.000000\nvn 0.000000 0.000000 -1.000000\nvn "
                         "0.000000 0.000000 -1.000000\n"
                         "f 4/4/4 6/6/6 5/5/5\n"));
    EXPECT_EQ(
        Out("robo_00_Body.mtl"),
        test::Crlf(
            "# exported with morvex\n"
            "\nnewmtl 00_skin\nKa 1.000000 1.000000 1.000000\nKd 1.000000 1.000000 1.000000\n"
            "Ks 0.000000 0.000000 0.000000\nd 1.000000\nNs 30.000000\nmap_Kd skin.bmp\n"
            "\nnewmtl 01_metal\nKa 1.000000 1.000000 1.000000\nKd 1.000000 1.000000 1.000000\n"
            "Ks 0.000000 0.000000 0.000000\nd 1.000000\nNs 5.000000\n"));
}

// The writers are functions over a loaded model and a console: they run on a model built in
// memory, and the lines they print are theirs to check, in order, with their warnings.
TEST(WritersInProcess, EachWriterRunsOnAModelInMemoryWithACapturingConsole) {
    It3Writer file;
    file.Info("Body").Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal));
    Mesh broken = Triangle(1);
    broken.indices = {0, 1, 9};
    file.Block("VPA4", testdata::VertexPayload("VPA4", {Triangle(0), broken}));
    file.Info("Cap").Block("MAT2", testdata::MaterialPayload("MAT2", kSkinMetal));
    file.Block("VPA5", testdata::VertexPayload("VPA5", {Triangle(1)}));
    Console scan = Console::Capturing();
    const Model model = test::IndexedModel(file.Bytes(), "mem", scan);
    EXPECT_EQ(scan.Captured(), "");

    test::TempDir dir;
    const std::string dest = dir.Path().string() + "/";
    const std::string warning =
        "Warning : object Body mesh 1 skipped: vertex index out of range.\n";
    struct Case {
        void (*write)(const Model&, Console&, std::string_view, const platform::Folder*);
        std::string lines;
    };
    // The files made relative to the open destination folder, under the names its path gives.
    std::error_code opened;
    const platform::Folder folder = platform::Folder::Open(dir.Path().string(), opened);
    ASSERT_FALSE(opened);
    const Case cases[] = {
        {[](const Model& m, Console& c, std::string_view d, const platform::Folder* f) {
             ExportObj(m, c, d, TextureFormat::Bmp, f);
         },
         "-> " + dest + "mem_00_Body.obj\n-> " + dest + "mem_00_Body.mtl\n" + warning + "-> " +
             dest + "mem_01_Cap.obj\n-> " + dest + "mem_01_Cap.mtl\n"},
        {[](const Model& m, Console& c, std::string_view d, const platform::Folder* f) {
             ExportMqo(m, c, d, TextureFormat::Bmp, f);
         },
         "-> " + dest + "mem_00_Body.mqo\n" + warning + "-> " + dest + "mem_01_Cap.mqo\n"},
        {ExportGltf, warning + "-> " + dest + "mem.glb\n"},
    };
    for (const Case& c : cases) {
        Console console = Console::Capturing();
        c.write(model, console, dest, &folder);
        EXPECT_EQ(console.Captured(), c.lines);
        EXPECT_FALSE(console.OutputFailed());
    }
    EXPECT_EQ(test::ListFiles(dir.Path()),
              (std::vector<std::string>{"mem.glb", "mem_00_Body.mqo", "mem_00_Body.mtl",
                                        "mem_00_Body.obj", "mem_01_Cap.mqo", "mem_01_Cap.mtl",
                                        "mem_01_Cap.obj"}));
    // A destination that does not exist: every file is reported and the failure recorded; an
    // object whose file cannot be created does not take a number.
    Console failing = Console::Capturing();
    ExportMqo(model, failing, dest + "missing/");
    EXPECT_TRUE(failing.OutputFailed());
    EXPECT_EQ(failing.Captured(), "Error : Can not create " + dest + "missing/mem_00_Body.mqo.\n" +
                                      "Error : Can not create " + dest +
                                      "missing/mem_00_Cap.mqo.\n");
}

TEST_F(WriterTest, ObjWithoutNormalsWritesTwoIndexFaces) {
    It3Writer file;
    file.Info("Body").Block("MAT2", testdata::MaterialPayload("MAT2", kSkinMetal));
    Mesh quad;
    quad.vertices = {V(0, 0, 0, 0.25f, 0.25f), V(1, 0, 0), V(1, 1, 0), V(0, 1, 0)};
    quad.indices = {0, 1, 2, 0, 2, 3};
    file.Block("VPA5", testdata::VertexPayload("VPA5", {quad}));
    Convert(file);
    std::string obj = Out("robo_00_Body.obj");
    EXPECT_NE(obj.find("vt 0.250000 0.750000\r\n"), std::string::npos);
    EXPECT_NE(obj.find("f 1/1 3/3 2/2\r\nf 1/1 4/4 3/3\r\n"), std::string::npos);
    EXPECT_EQ(obj.find("vn "), std::string::npos);
}

TEST_F(WriterTest, MqoLayout) {
    It3Writer file;
    file.Info("Body").Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal));
    Mesh mesh = Triangle(0, {V(1, 2, 3), V(1, 0, 3, 1, 0), V(0, 0, 0, 0.25f, 0.25f)});
    file.Block("VPA5", testdata::VertexPayload("VPA5", {mesh}));
    test::RunResult r = Convert(file, {"-m"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "-> out/robo_00_Body.mqo\n");
    EXPECT_EQ(Out("robo_00_Body.mqo"),
              test::Crlf("Metasequoia Document\nFormat Text Ver 1.0\n\nMaterial 2 {\n"
                         "\t\"skin\" col(1.000 1.000 1.000 1.000) dif(1.000) amb(1.000) emi(0.000) "
                         "spc(0.000) power(30.00) tex(\"skin.bmp\")\n"
                         "\t\"metal\" col(1.000 1.000 1.000 1.000) dif(1.000) amb(1.000) "
                         "emi(0.000) spc(0.000) power(5.00)\n"
                         "}\nObject \"00_skin\" {\n\tvisible 15\n\tshading 1\n\tcolor 1.000 1.000 "
                         "1.000\n\tcolor_type 0\n"
                         "\tvertex 3 {\n\t\t1.0000 3.0000 -2.0000\n\t\t1.0000 3.0000 "
                         "0.0000\n\t\t0.0000 0.0000 0.0000\n\t}\n"
                         "\tface 1 {\n\t\t3 V(0 1 2) M(0) UV(0.00000 0.00000 1.00000 0.00000 "
                         "0.25000 0.25000)\n\t}\n}\n"));
}

TEST_F(WriterTest, SkippedMeshLeavesAGapAndKeepsTheVertexBase) {
    It3Writer file;
    file.Info("Body").Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal));
    // Mesh 1's faces name a vertex it does not have: it is skipped with a warning.
    Mesh broken = Triangle(1);
    broken.indices = {0, 1, 7};
    file.Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0), broken, Triangle(1)}));
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "-> out/robo_00_Body.obj\n-> out/robo_00_Body.mtl\n"
              "Warning : object Body mesh 1 skipped: vertex index out of range.\n");
    std::string obj = Out("robo_00_Body.obj");
    EXPECT_NE(obj.find("g 00_skin"), std::string::npos);
    EXPECT_EQ(obj.find("g 01_"), std::string::npos);
    EXPECT_NE(obj.find("g 02_metal\r\nusemtl 02_metal"), std::string::npos);
    EXPECT_NE(obj.find("f 4/4/4 6/6/6 5/5/5"), std::string::npos);
    EXPECT_EQ(Out("robo_00_Body.mtl").find("01_"), std::string::npos);
}

TEST_F(WriterTest, BrokenBlocksAreSkippedWithAWarning) {
    It3Writer file;
    // Mesh 1 claims more vertices than the decoded data holds.
    Mesh big = Triangle(1);
    ByteVector vertices = testdata::VertexPayload("VPA4", {Triangle(0), big});
    vertices[8 + 116] = 200;  // vertex count of mesh 1 in its record
    file.Info("Body")
        .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
        .Block("VPA4", vertices);
    // A MAT2 whose chunk claims far more than its stream can produce.
    ByteVector materials = testdata::MaterialPayload("MAT2", kSkinMetal);
    materials[8] = 0xF0, materials[9] = 0xFF, materials[10] = 0xFF, materials[11] = 0xFF;
    file.Info("Head")
        .Block("MAT2", materials)
        .Block("VPA4", testdata::VertexPayload("VPA4", {Triangle(0)}));
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "-> out/robo_00_Body.obj\n-> out/robo_00_Body.mtl\n"
              "Warning : object Body mesh 1 skipped: broken vertex data.\n"
              "Warning : object Head skipped: broken material block.\n");
    EXPECT_NE(Out("robo_00_Body.obj").find("g 00_skin"), std::string::npos);
}

// A count at payload offset 0 that promises more meshes than the block describes: the meshes
// the tables hold are written, the rest is skipped with one warning for all of them, in every
// mode (a count of 2^31 - 1 once gave one warning line per mesh).
TEST_F(WriterTest, MeshesBeyondTheTablesGetOneWarning) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
        const char* written;
    };
    const Case cases[] = {
        {"obj", {}, "-> out/robo_00_Body.obj\n-> out/robo_00_Body.mtl\n"},
        {"mqo", {"-m"}, "-> out/robo_00_Body.mqo\n"},
        {"gltf", {"-g"}, "-> out/robo.glb\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "out");
        It3Writer file;
        // VPA8: two meshes in its packed tables, 2^31 - 1 counted.
        ByteVector chained = testdata::VertexPayload("VPA8", {Triangle(0), Triangle(1)});
        chained[0] = 0xFF, chained[1] = 0xFF, chained[2] = 0xFF, chained[3] = 0x7F;
        file.Info("Body")
            .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
            .Block("VPA8", chained);
        // VPA5 whose vertex chunk is cut off: every mesh of the block fails.
        ByteVector whole = testdata::VertexPayload("VPA5", {Triangle(0), Triangle(1), Triangle(0)});
        whole.resize(8 + 3 * 116 + 20);
        file.Info("Head")
            .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
            .Block("VPA5", whole);
        // VPA2 with one entry stored and 1000 counted.
        ByteVector perMesh = testdata::VertexPayload("VPA2", {Triangle(1)});
        perMesh[0] = 0xE8, perMesh[1] = 0x03;
        file.Info("Arm")
            .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
            .Block("VPA2", perMesh);
        test::RunResult r = Convert(file, c.options);
        EXPECT_EQ(r.status, 0);
        std::string expected = c.written;
        if (c.options.empty()) {
            expected +=
                "Warning : object Body meshes 2 to 2147483646 skipped: broken vertex data.\n"
                "-> out/robo_01_Head.obj\n-> out/robo_01_Head.mtl\n"
                "Warning : object Head meshes 0 to 2 skipped: broken vertex data.\n"
                "-> out/robo_02_Arm.obj\n-> out/robo_02_Arm.mtl\n"
                "Warning : object Arm meshes 1 to 999 skipped: broken vertex data.\n";
        } else if (c.options[0] == "-m") {
            expected +=
                "Warning : object Body meshes 2 to 2147483646 skipped: broken vertex data.\n"
                "-> out/robo_01_Head.mqo\n"
                "Warning : object Head meshes 0 to 2 skipped: broken vertex data.\n"
                "-> out/robo_02_Arm.mqo\n"
                "Warning : object Arm meshes 1 to 999 skipped: broken vertex data.\n";
        } else {
            expected =
                "Warning : object Body meshes 2 to 2147483646 skipped: broken vertex data.\n"
                "Warning : object Head meshes 0 to 2 skipped: broken vertex data.\n"
                "Warning : object Arm meshes 1 to 999 skipped: broken vertex data.\n" +
                expected;
        }
        EXPECT_EQ(r.output, expected);
    }
}

// A broken last mesh keeps the warning of a single mesh.
TEST_F(WriterTest, BrokenLastMeshGetsTheSingleMeshWarning) {
    It3Writer file;
    ByteVector perMesh = testdata::VertexPayload("VPA2", {Triangle(0)});
    perMesh[0] = 2;
    file.Info("Body")
        .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
        .Block("VPA2", perMesh);
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "-> out/robo_00_Body.obj\n-> out/robo_00_Body.mtl\n"
              "Warning : object Body mesh 1 skipped: broken vertex data.\n");
}

TEST_F(WriterTest, MaterialIndexOutsideTheTableReadsAsAnEmptyMaterial) {
    It3Writer file;
    file.Info("Body").Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(5), Triangle(-3)}));
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(Out("robo_00_Body.mtl").find("newmtl 00_\r\n"), std::string::npos);
    EXPECT_NE(Out("robo_00_Body.mtl").find("newmtl 01_\r\nKa"), std::string::npos);
    EXPECT_NE(Out("robo_00_Body.obj").find("g 01_\r\nusemtl 01_\r\n"), std::string::npos);
}

TEST_F(WriterTest, ObjectWithoutMeshesWritesOnlyTheHeads) {
    It3Writer file;
    file.Info("Empty").Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal));
    file.Block("VPA4", testdata::VertexPayload("VPA4", {}));
    file.Info("Next")
        .Block("MATE", testdata::MaterialPayload("MATE", {}))
        .Block("VPA4", testdata::VertexPayload("VPA4", {}));
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.output,
              "-> out/robo_00_Empty.obj\n-> out/robo_00_Empty.mtl\n"
              "-> out/robo_01_Next.obj\n-> out/robo_01_Next.mtl\n");
    EXPECT_EQ(Out("robo_00_Empty.obj"),
              test::Crlf("# exported with morvex\n\nmtllib robo_00_Empty.mtl\n\no robo\n"));
    EXPECT_EQ(Out("robo_00_Empty.mtl"), test::Crlf("# exported with morvex\n"));
    test::RunResult m = Convert(file, {"-m"});
    EXPECT_EQ(Out("robo_01_Next.mqo"),
              test::Crlf("Metasequoia Document\nFormat Text Ver 1.0\n\nMaterial 0 {\n}\n"));
}

TEST_F(WriterTest, ObjectsWithoutBothBlocksAreSkipped) {
    It3Writer file;
    file.Info("NoVertices").Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal));
    file.Info("NoMaterials").Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    file.Info("Same")
        .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
        .Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    file.Info("Same")
        .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
        .Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.output,
              "-> out/robo_00_Same.obj\n-> out/robo_00_Same.mtl\n"
              "-> out/robo_01_Same.obj\n-> out/robo_01_Same.mtl\n");
}

TEST_F(WriterTest, NamesFromTheModelCannotLeaveTheDestination) {
    It3Writer file;
    std::vector<Material> materials = {{"m:1", "a:b", "../al/pha", 1.0f}};
    file.Info("../../x:y\\z").Block("MATE", testdata::MaterialPayload("MATE", materials));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    test::RunResult r = Convert(file, {}, "we:ird");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "-> out/we_ird_00_.._.._x_y_z.obj\n-> out/we_ird_00_.._.._x_y_z.mtl\n");
    std::string obj = Out("we_ird_00_.._.._x_y_z.obj");
    EXPECT_NE(obj.find("mtllib we_ird_00_.._.._x_y_z.mtl\r\n"), std::string::npos);
    EXPECT_NE(obj.find("o we:ird\r\n"), std::string::npos);
    std::string mtl = Out("we_ird_00_.._.._x_y_z.mtl");
    EXPECT_NE(mtl.find("newmtl 00_m:1\r\n"), std::string::npos);  // names inside files as stored
    EXPECT_NE(mtl.find("map_Kd a_b.bmp\r\n"), std::string::npos);
    EXPECT_NE(mtl.find("map_d .._al_pha.bmp\r\n"), std::string::npos);
    r = Convert(file, {"-m"}, "we:ird");
    std::string mqo = Out("we_ird_00_.._.._x_y_z.mqo");
    EXPECT_NE(mqo.find("\t\"m:1\" col"), std::string::npos);
    EXPECT_NE(mqo.find(" tex(\"a_b.bmp\") aplane(\".._al_pha.bmp\")\r\n"), std::string::npos);
    EXPECT_EQ(test::ListTree(dir.Path()).size(), 4u);  // the model and the three outputs
}

TEST_F(WriterTest, PowerIsTruncatedAndMadePositive) {
    It3Writer file;
    file.Info("P").Block(
        "MATE", testdata::MaterialPayload(
                    "MATE", {{"a", "", "", 30.7f}, {"b", "", "", -12.9f}, {"c", "", "", 1e20f}}));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0), Triangle(1), Triangle(2)}));
    Convert(file);
    std::string mtl = Out("robo_00_P.mtl");
    EXPECT_NE(mtl.find("Ns 30.000000\r\n"), std::string::npos);
    EXPECT_NE(mtl.find("Ns 12.000000\r\n"), std::string::npos);
    EXPECT_NE(mtl.find("Ns 2147483647.000000\r\n"), std::string::npos);
    Convert(file, {"-m"});
    std::string mqo = Out("robo_00_P.mqo");
    EXPECT_NE(mqo.find("power(30.00)"), std::string::npos);
    EXPECT_NE(mqo.find("power(12.00)"), std::string::npos);
}

TEST_F(WriterTest, EveryFileThatCannotBeCreatedIsReported) {
    It3Writer file;
    file.Info("A")
        .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
        .Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    file.Info("B")
        .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
        .Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    test::WriteBytes(dir / "robo.it3", file.Bytes());
    // The command line creates a missing destination first; the writers themselves report
    // every file they cannot create and go on.
    const std::string dest = (dir / "missing").string() + "/";
    test::ConvertResult r = test::ConvertInProcess(dir / "robo.it3", dest, 0);
    EXPECT_TRUE(r.outputFailed);
    EXPECT_EQ(r.output, "Error : Can not create " + dest +
                            "robo_00_A.obj.\nError : Can not create " + dest + "robo_00_B.obj.\n");
    r = test::ConvertInProcess(dir / "robo.it3", dest, 1);
    EXPECT_TRUE(r.outputFailed);
    EXPECT_EQ(r.output, "Error : Can not create " + dest +
                            "robo_00_A.mqo.\nError : Can not create " + dest + "robo_00_B.mqo.\n");
    EXPECT_EQ(test::ListTree(dir.Path()), std::vector<std::string>{"robo.it3"});
}

TEST_F(WriterTest, MtlThatCannotBeCreatedRemovesItsObj) {
    It3Writer file;
    file.Info("A")
        .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
        .Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    file.Info("B")
        .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
        .Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    fs::create_directories(dir / "out" / "robo_00_A.mtl");  // a folder where the MTL should go
    test::RunResult r = Convert(file);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "Error : Can not create out/robo_00_A.mtl.\n"
              "-> out/robo_00_B.obj\n-> out/robo_00_B.mtl\n");  // B takes number 00
    EXPECT_FALSE(fs::exists(dir / "out" / "robo_00_A.obj"));
}

// A write that fails removes the object's OBJ and its MTL: both are reported, neither is left.
TEST_F(WriterTest, FailedWriteIsReportedAndTheObjectsFilesRemoved) {
    It3Writer file;
    file.Info("A")
        .Block("MATE", testdata::MaterialPayload("MATE", kSkinMetal))
        .Block("VPAC", testdata::VertexPayload("VPAC", {Triangle(0)}));
    test::WriteBytes(dir / "robo.it3", file.Bytes());
    fs::create_directories(dir / "out");
    if (platform::kWindows) GTEST_SKIP() << "Windows has no limit on the size a process writes";
    test::RunLimits limits;
    limits.fileSize = 250;  // the MTL (178 bytes) fits, the OBJ does not
    test::RunResult r = test::RunMorvex({"robo.it3", "out"}, dir.Path(), limits);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "-> out/robo_00_A.obj\n-> out/robo_00_A.mtl\nError : Can not write "
              "out/robo_00_A.obj.\nError : Can not write out/robo_00_A.mtl.\n");
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

TEST_F(WriterTest, SampleConvertsInBothModes) {
    It3Writer sample = testdata::BuildSampleModel();
    test::RunResult r = Convert(sample, {}, "sample");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("-> out/sample_00_crate.obj\n-> out/sample_00_crate.mtl\n"),
              std::string::npos);
    EXPECT_NE(r.output.find("-> out/sample_01_figure.obj\n-> out/sample_01_figure.mtl\n"),
              std::string::npos);
    r = Convert(sample, {"-m"}, "sample");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("-> out/sample_00_crate.mqo\n-> out/sample_01_figure.mqo\n"),
              std::string::npos);
    std::string mqo = Out("sample_01_figure.mqo");
    EXPECT_NE(mqo.find("Material 3 {"), std::string::npos);
    EXPECT_NE(mqo.find("Object \"03_metal\" {"), std::string::npos);
}

// An independent OBJ reader (assimp's command line tool, Debian package assimp-utils) imports the
// sample with its materials resolved through mtllib.
TEST_F(WriterTest, IndependentReaderImportsTheSample) {
    if (std::system("command -v assimp > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "assimp (package assimp-utils) is not installed";
    }
    ASSERT_EQ(Convert(testdata::BuildSampleModel(), {}, "sample").status, 0);
    std::string info = (dir / "info.txt").string();
    std::string command = "cd '" + (dir / "out").string() +
                          "' && assimp info sample_01_figure.obj > '" + info + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string report = test::ReadText(info);
    EXPECT_NE(report.find("Materials:          3"), std::string::npos) << report;
    EXPECT_NE(report.find("Meshes:             4"), std::string::npos) << report;
    EXPECT_EQ(report.find("line"), std::string::npos) << report;
    EXPECT_NE(report.find("'01_skin'"), std::string::npos) << report;
}

}  // namespace
}  // namespace morvex

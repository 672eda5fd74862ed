// The inspect report (-i): built in process from models made here, checked against what a
// conversion of the same model writes, and through the executable in text and JSON, the JSON
// validated against docs/inspect.schema.json.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "inspect/report.h"
#include "platform/platform.h"
#include "test_support.h"
#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using testdata::ByteVector;
using testdata::It3Writer;
using Json = nlohmann::json;

testdata::Mesh Triangle(std::int32_t material, float z = 0) {
    testdata::Mesh mesh;
    mesh.vertices = {test::V(-1, 0, z), test::V(2, 0, z), test::V(0, 3, z + 1)};
    mesh.indices = {0, 1, 2};
    mesh.materialIndex = material;
    return mesh;
}

// A head that names a texture the file does not hold, an object without vertex block, one with
// a broken material block, an unknown block, a texture that does not convert and a broken block
// at the end.
It3Writer ProblemModel() {
    It3Writer file;
    file.Info("head").Block(
        "MAT2", testdata::MaterialPayload(
                    "MAT2", {{"face", "Head101", "", 10.0f}, {"eyes", "eye", "eye_alpha", 2.5f}}));
    file.Block("VPA5", testdata::VertexPayload("VPA5", {Triangle(0), Triangle(1, 5)}));
    file.Block("KAN7", ByteVector(3, 0));
    file.Info("empty").Block("MATE", testdata::MaterialPayload("MATE", {}));
    ByteVector broken = testdata::MaterialPayload("MAT2", {{"m", "", "", 0}});
    broken.resize(8);  // the packed table is cut off
    file.Info("cut").Block("MAT2", broken).Block("VPAC", testdata::VertexPayload("VPAC", {}));
    file.Block("TEXI", testdata::TexiPayload(
                           "eye", testdata::EncodeTexture1002(testdata::TestPicture(8, 4, 1))));
    ByteVector unsupported = testdata::TexiPayload("eye_alpha", ByteVector(12, 0));
    unsupported[36] = 0x99;  // format code 0x99
    file.Block("TEXI", unsupported);
    file.Header("TEXI", 1000);
    return file;
}

TEST(InspectReport, DescribesObjectsMeshesMaterialsTexturesAndProblems) {
    Console scan = Console::Capturing();
    Model model = test::IndexedModel(ProblemModel().Bytes(), "robo", scan);
    const ModelReport report = BuildReport(model);
    ASSERT_EQ(report.objects.size(), 3u);
    const ObjectReport& head = report.objects[0];
    EXPECT_TRUE(head.written);
    EXPECT_EQ(head.materialTag, "MAT2");
    EXPECT_EQ(head.vertexTag, "VPA5");
    ASSERT_EQ(head.materials.size(), 2u);
    EXPECT_EQ(head.materials[0].texture, "Head101");
    EXPECT_FALSE(head.materials[0].textureFound);
    EXPECT_TRUE(head.materials[1].textureFound);
    EXPECT_TRUE(head.materials[1].alphaMapFound);
    EXPECT_EQ(head.materials[1].power, 2.5f);
    ASSERT_EQ(head.meshes.size(), 2u);
    EXPECT_EQ(head.meshes[1].vertices, 3);
    EXPECT_EQ(head.meshes[1].triangles, 1);
    EXPECT_EQ(head.meshes[1].materialName, "eyes");
    EXPECT_EQ(head.files, (std::vector<std::string>{"robo_00_head.obj", "robo_00_head.mtl"}));
    // --pack can write it back; a mesh of its 16-bit vertex block may grow to 65535 vertices.
    EXPECT_EQ(head.packProblem, "");
    EXPECT_EQ(head.packMeshVertices, 65535);

    EXPECT_FALSE(report.objects[1].written);
    EXPECT_EQ(report.objects[1].skipped, "no vertex block");
    EXPECT_FALSE(report.objects[2].written);
    EXPECT_EQ(report.objects[2].skipped, "broken material block");
    const Json json = Json::parse(ReportJson(report));
    EXPECT_EQ(json["objects"][0]["packable"], true);
    EXPECT_EQ(json["objects"][2]["packable"], false);
    EXPECT_EQ(json["objects"][2]["packProblem"], "not written");
    EXPECT_EQ(json["textures"][1]["packable"], false);
    EXPECT_EQ(report.warnings,
              std::vector<std::string>{"object cut skipped: broken material block."});

    ASSERT_EQ(report.missingTextures.size(), 1u);
    EXPECT_EQ(report.missingTextures[0].name, "Head101");
    EXPECT_EQ(report.missingTextures[0].material, "face");
    ASSERT_EQ(report.textures.size(), 2u);  // the third TEXI lies beyond the broken block
    EXPECT_EQ(report.textures[0].format, 1002);
    EXPECT_EQ(report.textures[0].width, 8);
    EXPECT_EQ(report.textures[0].height, 4);
    EXPECT_TRUE(report.textures[0].converts);
    EXPECT_FALSE(report.textures[1].converts);
    EXPECT_EQ(report.textures[1].problem, "unsupported");
    ASSERT_EQ(report.unknownBlocks.size(), 1u);
    EXPECT_EQ(report.unknownBlocks[0].tag, "KAN7");
    ASSERT_TRUE(report.brokenBlock.has_value());
    EXPECT_EQ(*report.brokenBlock, static_cast<std::int64_t>(ProblemModel().Bytes().size()) - 8);

    ASSERT_TRUE(report.boundsMin.has_value());
    EXPECT_EQ(*report.boundsMin, (std::array<float, 3>{-1, 0, 0}));
    EXPECT_EQ(*report.boundsMax, (std::array<float, 3>{2, 3, 6}));
    EXPECT_EQ(report.totals.objects, 3);
    EXPECT_EQ(report.totals.objectsWritten, 1);
    EXPECT_EQ(report.totals.vertices, 6);
    EXPECT_EQ(report.totals.triangles, 2);
    EXPECT_EQ(report.totals.missingTextures, 1);

    const std::string text = ReportText(report);
    EXPECT_NE(text.find("texture \"Head101\" (missing)"), std::string::npos) << text;
    EXPECT_NE(text.find("texture \"Head101\" of material \"face\" in object \"head\": no texture "
                        "of that name"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  1 \"empty\": not written (no vertex block)"), std::string::npos);
    EXPECT_NE(text.find("\"eye_alpha\": format 153, does not convert (unsupported)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Broken block: at offset "), std::string::npos);
    // The power as stored and, when the files write another, that one.
    EXPECT_NE(text.find("\"face\", texture \"Head101\" (missing), power 10\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find(", power 2.5 (written as 2)\n"), std::string::npos) << text;
}

// The file names of the report are those that the conversion writes, in every mode.
void ExpectOutputsOfConversion(const fs::path& input) {
    Console scan = Console::Capturing();
    const ModelReport report = BuildReport(test::IndexedModel(input, scan));
    struct Case {
        int mode;
        std::vector<std::string> files;
    };
    std::vector<std::string> obj = report.objFiles, mqo = report.mqoFiles;
    for (const Case& c : {Case{0, obj}, Case{1, mqo}, Case{2, {report.gltfFile}}}) {
        test::TempDir out;
        const test::ConvertResult r =
            test::ConvertInProcess(input, out.Path().string() + "/", c.mode);
        std::vector<std::string> want = c.files;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(test::ListFiles(out.Path()), want) << input << " mode " << c.mode;
    }
}

TEST(InspectReport, NamesTheFilesAConversionWrites) {
    test::TempDir dir;
    test::WriteBytes(dir / "problem.it3", ProblemModel().Bytes());
    testdata::BuildSampleModel().Save((dir / "sample.it3").string());
    // An object whose file name no folder holds is not created; the next takes its number.
    It3Writer longName;
    for (const std::string& name :
         {std::string("first"), std::string(300, 'n'), std::string("last")}) {
        longName.Info(name)
            .Block("MATE", testdata::MaterialPayload("MATE", {{"m", "", "", 1.0f}}))
            .Block("VPAC", testdata::VertexPayload("VPAC", {}));
    }
    test::WriteBytes(dir / "long.it3", longName.Bytes());
    ExpectOutputsOfConversion(dir / "problem.it3");
    ExpectOutputsOfConversion(dir / "sample.it3");
    ExpectOutputsOfConversion(dir / "long.it3");
    for (const auto& entry : fs::directory_iterator(fs::path(MORVEX_TEST_DATA) / "conformance")) {
        ExpectOutputsOfConversion(entry.path() / (entry.path().filename().string() + ".it3"));
    }
}

// Validates the files against the schema with tests/validate_json.py; false when python3 or
// its jsonschema module is missing.
bool Validate(const std::vector<fs::path>& documents, std::string& problems) {
    if (std::system("python3 -c 'import jsonschema' > /dev/null 2>&1") != 0) return false;
    std::string command = "python3 " MORVEX_SOURCE_DIR "/tests/validate_json.py " MORVEX_SOURCE_DIR
                          "/docs/inspect.schema.json";
    for (const fs::path& d : documents) command += " '" + d.string() + "'";
    test::TempDir log;
    command += " > '" + (log / "log").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    problems = test::ReadText(log / "log");
    return status == 0 || !problems.empty();
}

TEST(InspectReport, JsonOfTheExecutableMatchesTheSchema) {
    test::TempDir dir;
    test::WriteBytes(dir / "problem.it3", ProblemModel().Bytes());
    fs::copy_file(fs::path(MORVEX_SOURCE_DIR) / "examples" / "sample.it3", dir / "sample.it3");
    test::WriteBytes(dir / "not-it3.it3", ByteVector{'n', 'o'});
    std::vector<std::string> inputs = {"problem.it3", "sample.it3", "not-it3.it3", "missing.it3"};
    // A name that is not UTF-8: its text has U+FFFD, its bytes reopen it. (Windows names files
    // in UTF-16: no file has such a name there.)
    if (!platform::kWindows) {
        fs::copy_file(dir / "sample.it3", dir / "caf\xE9.it3");
        inputs.push_back("caf\xE9.it3");
    }
    const auto named = static_cast<std::ptrdiff_t>(inputs.size());
    for (const auto& entry : fs::directory_iterator(fs::path(MORVEX_TEST_DATA) / "conformance")) {
        inputs.push_back((entry.path() / (entry.path().filename().string() + ".it3")).string());
    }
    std::sort(inputs.begin() + named, inputs.end());

    std::vector<fs::path> documents;
    for (const std::string& input : inputs) {
        test::RunResult run = test::RunMorvex({"-i", "--json", input}, dir.Path());
        const bool loads = input != "not-it3.it3" && input != "missing.it3";
        EXPECT_EQ(run.status, loads ? 0 : 1) << input;
        const Json report = Json::parse(run.output);  // throws, failing the test, when invalid
        if (input != "caf\xE9.it3") {
            EXPECT_EQ(report["file"], input);
        }
        EXPECT_EQ(report.contains("error"), !loads) << input;
        documents.push_back(dir / ("report" + std::to_string(documents.size()) + ".json"));
        std::ofstream(documents.back()) << run.output;
    }
    EXPECT_EQ(Json::parse(test::ReadText(documents[0]))["missingTextures"][0]["name"], "Head101");
    EXPECT_EQ(Json::parse(test::ReadText(documents[2]))["error"], "This file is not it3 file.");
    EXPECT_EQ(Json::parse(test::ReadText(documents[3]))["error"], "Can not open missing.it3.");
    EXPECT_EQ(Json::parse(test::ReadText(documents[3]))["fileBytes"], "bWlzc2luZy5pdDM=");
    if (!platform::kWindows) {
        const Json cafe = Json::parse(test::ReadText(documents[4]));
        EXPECT_EQ(cafe["file"], "caf\uFFFD.it3");
        EXPECT_EQ(cafe["fileBytes"], "Y2Fm6S5pdDM=");
        EXPECT_EQ(cafe["outputs"]["gltfBytes"], "Y2Fm6S5nbGI=");
        EXPECT_EQ(cafe["outputs"]["objBytes"][0], "Y2Fm6V8wMF9jcmF0ZS5vYmo=");
        EXPECT_EQ(cafe["objects"][0]["filesBytes"][0], "Y2Fm6V8wMF9jcmF0ZS5vYmo=");
        EXPECT_EQ(cafe["objects"][0]["materials"][0]["power"], 12.5);
        EXPECT_EQ(cafe["objects"][0]["materials"][0]["powerWritten"], 12);
    }

    // Several inputs: one array in input order, the same objects.
    std::vector<std::string> args = {"-i", "--json"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    test::RunResult all = test::RunMorvex(args, dir.Path());
    EXPECT_EQ(all.status, 1);
    const Json array = Json::parse(all.output);
    ASSERT_EQ(array.size(), inputs.size());
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        EXPECT_EQ(array[k], Json::parse(test::ReadText(documents[k]))) << inputs[k];
    }
    documents.push_back(dir / "all.json");
    std::ofstream(documents.back()) << all.output;

    std::string problems;
    if (!Validate(documents, problems)) {
        GTEST_SKIP() << "python3 with the jsonschema module is not installed: the reports were "
                        "parsed but not validated against docs/inspect.schema.json";
    }
    EXPECT_EQ(problems, "");
}

TEST(InspectReport, TextOfTheExecutableWritesNothing) {
    test::TempDir dir;
    fs::copy_file(fs::path(MORVEX_SOURCE_DIR) / "examples" / "sample.it3", dir / "sample.it3");
    test::RunResult run = test::RunMorvex({"-i", "sample.it3"}, dir.Path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output.rfind("Model : sample.it3\n", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("\"figure\": written, material block MATE, vertex block VPAC\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("\"figure_skin\": format 1006, 64 x 64, converts to "
                              "figure_skin.bmp\n"),
              std::string::npos);
    EXPECT_NE(run.output.find("  -g: sample.glb\n"), std::string::npos);
    EXPECT_NE(run.output.find("\nTotals: 2 objects (2 written), 5 meshes (5 written), 213 "
                              "vertices, 216 triangles, 4 materials, 3 textures (3 convert)"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(test::ListTree(dir.Path()), std::vector<std::string>{"sample.it3"});
}

}  // namespace
}  // namespace morvex

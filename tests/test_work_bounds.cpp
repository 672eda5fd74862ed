// The work of a conversion follows the data of its file: the crafted files that once cost
// minutes and gigabytes, the densest textures the format can back with little data, glTF
// images made from the same pictures, per-object cost, and the limits of ConvertOptions. Work is
// asserted through the conversion's counters (bytes written, pictures decoded, image pixels)
// and the memory held at the peak, never through the clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "convert/converter.h"
#include "decoder_test_support.h"
#include "gltf_reader.h"
#include "inspect/report.h"
#include "platform/platform.h"
#include "test_support.h"
#include "test_texture_bmp.h"
#include "testdata/hostile_models.h"
#include "testdata/it3_writer.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using testdata::ByteVector;
using testdata::It3Writer;

struct Conversion {
    std::string output;
    WorkCounters counters;
    std::int64_t peak = 0;  // bytes held at the peak of the conversion
};

class WorkBounds : public ::testing::Test {
  protected:
    Conversion Convert(const ByteVector& file, OutputMode mode, const Limits& limits = {},
                       int jobs = 0) {
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        test::WriteBytes(dir / "model.it3", file);
        Conversion run;
        ConvertOptions options;
        options.limits = limits;
        options.jobs = jobs;
        {
            Converter converter(Console::Capturing());
            {
                test::PeakLiveBytes tracker;
                EXPECT_EQ(converter.Convert((dir / "model.it3").string(),
                                            (dir / "out").string() + "/", mode, options),
                          0);
                run.peak = tracker.Peak();
            }
            run.output = converter.GetConsole().Captured();
            run.counters = converter.GetConsole().counters;
        }
        return run;
    }
    // -i and -i --json: the check, the report and its text, as a run of the command line does.
    Conversion Inspect(const ByteVector& file, bool json) {
        test::WriteBytes(dir / "model.it3", file);
        Conversion run;
        Converter converter(Console::Capturing());
        {
            test::PeakLiveBytes tracker;
            EXPECT_EQ(converter.Convert((dir / "model.it3").string(), "", OutputMode::Check), 0);
            const ModelReport report = BuildReport(converter.GetModel());
            run.output = json ? ReportJson(report) : ReportText(report);
            run.peak = tracker.Peak();
        }
        run.counters = converter.GetConsole().counters;
        return run;
    }
    static std::size_t Count(const std::string& text, const std::string& line) {
        std::size_t n = 0;
        for (std::size_t at = text.find(line); at != std::string::npos;
             at = text.find(line, at + line.size())) {
            ++n;
        }
        return n;
    }

    test::TempDir dir;
};

constexpr OutputMode kWriters[] = {OutputMode::Obj, OutputMode::Mqo, OutputMode::Gltf};
constexpr std::int64_t kMiB = 1 << 20;

// ---------------------------------------------------------------------------------------------
// Crafted files: large pictures declared behind a few bytes

TEST_F(WorkBounds, ALargeTextureUsedAsItsOwnAlphaMapIsRefusedWithoutBeingDecoded) {
    const ByteVector file = testdata::LargeTextureAsItsOwnAlphaMap();
    ASSERT_LT(file.size(), 512u);
    for (OutputMode mode : kWriters) {
        SCOPED_TRACE(static_cast<int>(mode));
        const Conversion run = Convert(file, mode);
        EXPECT_EQ(Count(run.output, "Warning : can not convert texture big.\n"), 1u) << run.output;
        EXPECT_EQ(run.counters.texturesDecoded, 0u);
        EXPECT_EQ(run.counters.pictureBytes, 0u);
        EXPECT_EQ(run.counters.imagePixels, 0u);
        // The OBJ and MTL, the MQO or the glb of one quad.
        EXPECT_LT(run.counters.bytesWritten, 4096u);
        EXPECT_LT(run.peak, 2 * kMiB);
    }
}

TEST_F(WorkBounds, LargeTexturePairsAreRefusedWithoutBeingDecoded) {
    const ByteVector file = testdata::LargeTexturePairs(4);
    ASSERT_LT(file.size(), 2048u);
    for (OutputMode mode : kWriters) {
        SCOPED_TRACE(static_cast<int>(mode));
        const Conversion run = Convert(file, mode);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(Count(run.output, "can not convert texture big" + std::to_string(k) + ".\n"),
                      1u);
        }
        EXPECT_EQ(run.counters.pictureBytes, 0u);
        EXPECT_EQ(run.counters.imagesEncoded, 0u);
        EXPECT_LT(run.counters.bytesWritten, 8192u);
        EXPECT_LT(run.peak, 2 * kMiB);
    }
}

TEST_F(WorkBounds, OneHundredKilobytesOfLargeTextureBlocksWriteNoPicture) {
    const ByteVector file = testdata::ManyLargeTextureBlocks(100 << 10);
    for (OutputMode mode : kWriters) {
        SCOPED_TRACE(static_cast<int>(mode));
        const Conversion run = Convert(file, mode);
        EXPECT_EQ(run.counters.pictureBytes, 0u);
        EXPECT_LT(run.counters.bytesWritten, 8 << 10);
        EXPECT_LT(run.peak, 2 * kMiB);
        // OBJ and MQO try every block, glTF the one a material uses; beyond the first 20
        // warnings one line counts the rest.
        if (mode == OutputMode::Gltf) {
            EXPECT_EQ(Count(run.output, "Warning : can not convert texture big"), 1u);
            continue;
        }
        EXPECT_EQ(Count(run.output, "Warning : can not convert texture big"), kRepeatLimit);
        const std::size_t at = run.output.find(" more textures can not be converted.\n");
        ASSERT_NE(at, std::string::npos) << run.output;
        const std::size_t start = run.output.rfind("Warning : ", at) + 10;
        EXPECT_GE(std::stoul(run.output.substr(start, at - start)), file.size() / 120 - 20);
    }
}

// ---------------------------------------------------------------------------------------------
// The densest textures the data can back: outputs within the stated multiples of their data

// The unpacked size of the packed chunk at `offset` of a texture header.
std::uint64_t UnpackedSize(const ByteVector& texture, std::size_t offset) {
    return test::ReadLe(texture, offset + 4, 4);
}

TEST_F(WorkBounds, TheDensestTexturesStayWithinTheirMultipleOfTheData) {
    struct Case {
        const char* label;
        ByteVector texture;
        std::size_t chunk;    // header offset of the pixel data chunk
        std::uint64_t ratio;  // the stated multiple of the decoded data, for whole tiles
    };
    const Case cases[] = {
        {"1006_one_tile", testdata::DenseQuadTexture(2048, 2048, 11), 24, 512},
        {"1006_many_tiles", testdata::DenseQuadTexture(2048, 1024, 6), 24, 512},
        {"1005_all_zero", testdata::ZeroLookupTexture(2048, 2048), 0, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::size_t chunk = c.chunk;
        if (chunk == 0) chunk = 16 + 4 + test::ReadLe(c.texture, 16, 4) + 4;  // 1005
        const std::uint64_t decoded = UnpackedSize(c.texture, chunk);
        testdata::Mesh triangle;
        triangle.vertices = {test::V(0, 0, 0), test::V(1, 0, 0), test::V(0, 1, 0)};
        triangle.indices = {0, 1, 2};
        It3Writer file;
        file.Info("body")
            .Block("MAT2", testdata::MaterialPayload("MAT2", {{"skin", "dense", "", 1.0f}}))
            .Block("VPAC", testdata::VertexPayload("VPAC", {triangle}));
        file.Block("TEXI", testdata::TexiPayload("dense", c.texture));
        ASSERT_LT(10 * file.Bytes().size(), decoded) << "compressed to under a tenth";

        const Conversion obj = Convert(file.Bytes(), OutputMode::Obj);
        EXPECT_EQ(obj.output.find("Warning"), std::string::npos) << obj.output;
        EXPECT_EQ(obj.counters.texturesDecoded, 1u);
        EXPECT_LE(obj.counters.pictureBytes, c.ratio * decoded);
        EXPECT_LE(obj.counters.bytesWritten, c.ratio * decoded + 4096);
        std::optional<test::BitmapFile> bmp =
            test::ReadBitmap(test::ReadBytes(dir / "out/dense.bmp"));
        ASSERT_TRUE(bmp);
        EXPECT_EQ(static_cast<std::uint64_t>(bmp->width) * bmp->height, obj.counters.pictureBytes);

        // glTF: the picture, its RGBA form and the PNG encoder's buffers, once.
        const Conversion glb = Convert(file.Bytes(), OutputMode::Gltf);
        EXPECT_EQ(glb.counters.texturesDecoded, 1u);
        EXPECT_EQ(glb.counters.imagePixels, obj.counters.pictureBytes);
        EXPECT_LT(glb.peak, static_cast<std::int64_t>(14 * obj.counters.pictureBytes));
    }
}

// ---------------------------------------------------------------------------------------------
// glTF: each picture decoded once, images bounded by the pictures

// Textures t0, t1, t2 of 256 × 256 pixels with real data and one object whose Materials name
// the pairs given.
ByteVector PairModel(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::vector<testdata::Material> materials;
    std::vector<testdata::Mesh> meshes;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        // Names appended piece by piece: MinGW's g++ 12 reports a false -Wrestrict for
        // "literal" + string.
        std::string name = "m";
        name += std::to_string(k);
        materials.push_back({name, pairs[k].first, pairs[k].second, 1.0f});
        testdata::Mesh triangle;
        triangle.vertices = {test::V(0, 0, 0), test::V(1, 0, 0), test::V(0, 1, 0)};
        triangle.indices = {0, 1, 2};
        triangle.materialIndex = static_cast<std::int32_t>(k);
        meshes.push_back(triangle);
    }
    It3Writer file;
    file.Info("body")
        .Block("MAT2", testdata::MaterialPayload("MAT2", materials))
        .Block("VPA5", testdata::VertexPayload("VPA5", meshes));
    for (int k = 0; k < 3; ++k) {
        std::string name = "t";
        name += std::to_string(k);
        file.Block("TEXI",
                   testdata::TexiPayload(
                       name, testdata::EncodeTexture1002(testdata::TestPicture(256, 256, 7 + k))));
    }
    return file.Bytes();
}

TEST_F(WorkBounds, GltfDecodesEachPictureOnceWhateverThePairs) {
    const ByteVector model = PairModel({{"t0", "t1"},
                                        {"t1", "t0"},
                                        {"t0", ""},
                                        {"t1", "t1"},
                                        {"t2", "t0"},
                                        {"", "t2"},
                                        {"t0", "t1"}});
    // At most the pictures still needed, one pair's RGBA forms and the PNG buffers at a time, with
    // one thread or several: a pair's image waits for the one before it to be encoded.
    for (const int jobs : {1, 0}) {
        const Conversion run = Convert(model, OutputMode::Gltf, {}, jobs);
        EXPECT_EQ(run.counters.texturesDecoded, 3u) << jobs;
        EXPECT_EQ(run.counters.pictureBytes, 3u * 256 * 256) << jobs;
        EXPECT_EQ(run.counters.imagesEncoded, 6u) << jobs;
        EXPECT_EQ(test::ReadGlb(dir / "out/model.glb").json["images"].Size(), 6u) << jobs;
        EXPECT_LT(run.peak, 4 * kMiB) << jobs;
    }
}

TEST_F(WorkBounds, GltfImagesHoldAtMostTwiceTheirPicturesBeyondTheLimit) {
    std::vector<std::pair<std::string, std::string>> pairs;
    // Appended, not "t" + ...: g++ 12 reports a false -Wrestrict for "literal" + string.
    const auto name = [](int k) {
        std::string text = "t";
        text += std::to_string(k);
        return text;
    };
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) pairs.emplace_back(name(a), name(b));
    }
    constexpr std::uint64_t kPicture = 256 * 256;
    Limits none;
    none.imagePixels = 0;
    const Conversion bounded = Convert(PairModel(pairs), OutputMode::Gltf, none);
    EXPECT_EQ(bounded.counters.texturesDecoded, 3u);
    EXPECT_LE(bounded.counters.imagePixels, 2 * 3 * kPicture);
    EXPECT_EQ(bounded.counters.imagesEncoded, 6u);
    EXPECT_EQ(Count(bounded.output, "skipped: more image pixels than its pictures allow.\n"), 3u)
        << bounded.output;
    EXPECT_NE(bounded.output.find("Warning : image of texture t2 and alpha map t2 skipped"),
              std::string::npos)
        << bounded.output;
    // With the default allowance every pair of a model this size gets its image.
    const Conversion all = Convert(PairModel(pairs), OutputMode::Gltf);
    EXPECT_EQ(all.counters.imagesEncoded, 9u);
    EXPECT_EQ(all.output.find("Warning"), std::string::npos) << all.output;
}

// ---------------------------------------------------------------------------------------------
// Per-object cost

TEST_F(WorkBounds, EmptyObjectsCostTheirFilesAndLittleMemory) {
    const Conversion run = Convert(testdata::ManyEmptyObjects(3000), OutputMode::Obj);
    EXPECT_EQ(test::ListFiles(dir / "out").size(), 6000u);
    EXPECT_EQ(Count(run.output, "-> "), 6000u);
    EXPECT_LT(run.counters.bytesWritten, 6000u * 80);
    // The block list of 9000 blocks and two output buffers, not two fresh 1 MiB buffers.
    EXPECT_LT(run.peak, 3 * kMiB);
}

TEST_F(WorkBounds, AnObjectsTwoSmallFilesHoldLittleMemory) {
    It3Writer file;
    file.Info("o")
        .Block("MATE", testdata::MaterialPayload("MATE", {{"m", "", "", 1.0f}}))
        .Block("VPAC", testdata::VertexPayload("VPAC", {}));
    const Conversion run = Convert(file.Bytes(), OutputMode::Obj);
    EXPECT_EQ(test::ListFiles(dir / "out").size(), 2u);
    EXPECT_LT(run.peak, 256 << 10);
}

// ---------------------------------------------------------------------------------------------
// The densest block lists: a block every 8 bytes, in every mode

TEST_F(WorkBounds, EightByteBlocksCostAFixedMultipleOfTheFileInEveryMode) {
    // The multiples of the file size that fuzz/README.md states for a file of 8-byte blocks.
    // The file, a 72-byte record a block and a 12-byte one an object.
    constexpr double kConversionMemory = 11.7;
    constexpr double kReportMemory = 72, kJsonReportMemory = 170;
    constexpr double kReportText = 11, kJsonReportText = 60;
    constexpr std::size_t kSize = 1 << 20;
    constexpr std::size_t kBlocks = kSize / 8 - 1;
    for (const bool objects : {false, true}) {
        SCOPED_TRACE(objects ? "empty INFO blocks" : "zero blocks");
        const ByteVector file =
            testdata::DenseBlocks(objects ? "INFO" : std::string(4, '\0'), kSize);
        const auto size = static_cast<double>(file.size());
        for (const int mode : {0, 1, 2, 3, 4, 5}) {
            SCOPED_TRACE(mode);
            const bool inspect = mode >= 4, json = mode == 5;
            const Conversion run =
                inspect ? Inspect(file, json) : Convert(file, static_cast<OutputMode>(mode));
            const double memory = !inspect ? kConversionMemory
                                  : json   ? kJsonReportMemory
                                           : kReportMemory;
            EXPECT_LT(static_cast<double>(run.peak), memory * size + (256 << 10));
            if (inspect) {
                EXPECT_LT(static_cast<double>(run.output.size()),
                          (json ? kJsonReportText : kReportText) * size + 4096);
            }
            // Twenty warnings, and one line for the rest that names their tags.
            EXPECT_LE(run.counters.linesPrinted, kRepeatLimit + 2);
            EXPECT_LE(run.counters.bytesPrinted, 2048u);
            if (objects || inspect) continue;
            EXPECT_EQ(Count(run.output, "Warning : unknown block : (0x00000000)\n"), kRepeatLimit);
            EXPECT_EQ(Count(run.output, "Warning : " + std::to_string(kBlocks - kRepeatLimit) +
                                            " more unknown blocks (tags: (0x00000000)).\n"),
                      1u)
                << run.output;
        }
        if (objects) continue;
        // The report lists the first unknown blocks and counts them all.
        const std::string text = Inspect(file, false).output;
        EXPECT_NE(text.find("Unknown blocks: " + std::to_string(kBlocks) + "\n"),
                  std::string::npos);
        EXPECT_NE(text.find("  and " + std::to_string(kBlocks - kRepeatLimit) + " more\n"),
                  std::string::npos);
        EXPECT_EQ(Count(text, "  (0x00000000) at offset "), kRepeatLimit);
    }
}

// Memory that runs out where no part of the conversion catches it ends the model with a message,
// never the process; the other models of a folder run are converted.
TEST_F(WorkBounds, RunningOutOfMemoryEndsTheModelAndAFolderRunGoesOn) {
    // 8191 blocks: the block list asks for room for 2048 records (147 KiB) at once.
    const ByteVector zeros = testdata::DenseBlocks(std::string(4, '\0'), 64 << 10);
    constexpr std::size_t kLimit = 128 << 10;
    fs::create_directories(dir / "models" / "a");
    test::WriteBytes(dir / "models" / "a" / "zeros.it3", zeros);
    test::WriteBytes(dir / "models" / "b.it3", testdata::ManyEmptyObjects(2));
    {
        Converter converter(Console::Capturing());
        test::AllocationLimit limit(kLimit);
        const std::string input = (dir / "models" / "a" / "zeros.it3").string();
        EXPECT_EQ(converter.Convert(input, "", OutputMode::Check), -1);
        const std::string& output = converter.GetConsole().Captured();
        EXPECT_EQ(output.substr(output.rfind("Error : ")),
                  "Error : Out of memory for " + input + ".\n");
        EXPECT_GT(limit.LargestRefused(), kLimit);
    }
    BatchRequest request;
    request.inputs = {(dir / "models").string()};
    request.destPath = (dir / "out").string() + "/";
    request.options.jobs = 1;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(out != nullptr && err != nullptr);
    {
        test::AllocationLimit limit(kLimit);
        EXPECT_EQ(RunBatch(request, out, err), 1);
    }
    auto text = [](std::FILE* file) {
        std::string all(static_cast<std::size_t>(std::ftell(file)), '\0');
        std::rewind(file);
        EXPECT_EQ(std::fread(all.data(), 1, all.size(), file), all.size());
        std::fclose(file);
        return all;
    };
    const std::string printed = text(out), summary = text(err);
    // Paths as the folder walk prints them, with the system's separator.
    const std::string sep(1, platform::kSeparator);
    const std::string zerosPath = request.inputs[0] + sep + "a" + sep + "zeros.it3";
    // The warnings printed before memory ran out, the message, and the next model.
    EXPECT_NE(printed.find("Error : Out of memory for " + zerosPath +
                           ".\nModel : " + request.inputs[0] + sep + "b.it3\n"),
              std::string::npos)
        << printed;
    EXPECT_EQ(test::ListTree(dir / "out"),
              (std::vector<std::string>{"b/b_00_o0.mtl", "b/b_00_o0.obj", "b/b_01_o1.mtl",
                                        "b/b_01_o1.obj"}));
    EXPECT_NE(summary.find("1 model converted, 0 damaged, 1 failed"), std::string::npos) << summary;
}

// ---------------------------------------------------------------------------------------------
// Limits through ConvertOptions

TEST_F(WorkBounds, LimitsRefuseWhatGoesBeyondThemWithOneWarning) {
    It3Writer file;
    testdata::Mesh triangle;
    triangle.vertices = {test::V(0, 0, 0), test::V(1, 0, 0), test::V(0, 1, 0)};
    triangle.indices = {0, 1, 2};
    for (int k = 0; k < 4; ++k) {
        file.Info("o" + std::to_string(k))
            .Block("MATE", testdata::MaterialPayload("MATE", {{"m", "tex", "", 1.0f}}))
            .Block("VPAC", testdata::VertexPayload("VPAC", {triangle, triangle, triangle}));
    }
    file.Block("TEXI", testdata::TexiPayload(
                           "tex", testdata::EncodeTexture1002(testdata::TestPicture(64, 64, 3))));
    Limits limits;
    limits.objects = 2;
    limits.meshes = 1;
    const Conversion run = Convert(file.Bytes(), OutputMode::Mqo, limits);
    EXPECT_EQ(test::ListFiles(dir / "out"),
              (std::vector<std::string>{"model_00_o0.mqo", "model_01_o1.mqo", "tex.bmp"}));
    EXPECT_EQ(Count(run.output, "Warning : object o0 meshes 1 to 2 skipped: more than 1 meshes.\n"),
              1u);
    EXPECT_EQ(
        Count(run.output,
              "Warning : object o2 and the objects behind it skipped: more than 2 objects.\n"),
        1u);
    EXPECT_EQ(Count(test::ReadText(dir / "out/model_00_o0.mqo"), "Object \""), 1u);

    Limits small;
    small.pictureBytes = 64 * 64 - 1;
    EXPECT_NE(Convert(file.Bytes(), OutputMode::Obj, small)
                  .output.find("Warning : can not convert texture tex.\n"),
              std::string::npos);
    small = Limits{};
    small.pictureSide = 63;
    EXPECT_NE(Convert(file.Bytes(), OutputMode::Gltf, small)
                  .output.find("Warning : can not convert texture tex.\n"),
              std::string::npos);
    small = Limits{};
    small.meshSize = 2;  // every mesh here has 3 vertices
    const Conversion sized = Convert(file.Bytes(), OutputMode::Obj, small);
    EXPECT_EQ(Count(sized.output,
                    "Warning : object o3 mesh 2 skipped: more than 2 vertices or "
                    "triangles.\n"),
              1u);
    EXPECT_EQ(Count(sized.output, "skipped: more than 2 vertices or triangles.\n"), 12u);
    EXPECT_EQ(test::ReadText(dir / "out/model_00_o0.obj").find("\nv "), std::string::npos);
    small.meshSize = 3;
    EXPECT_EQ(Convert(file.Bytes(), OutputMode::Obj, small).output.find("Warning"),
              std::string::npos);
    EXPECT_EQ(Convert(file.Bytes(), OutputMode::Obj).output.find("Warning"), std::string::npos);
}

}  // namespace
}  // namespace morvex

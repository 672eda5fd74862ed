// The texture export: file names, console lines, refusals that leave no file, output failures,
// and the written bitmaps read back by our reader and by an independent one.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "decode/texture_block.h"
#include "export/bitmap.h"
#include "export/texture_export.h"
#include "test_support.h"
#include "test_texture_bmp.h"
#include "testdata/it3_writer.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using testdata::ByteVector;
using testdata::IndexedPicture;
using testdata::It3Writer;
using testdata::TexiPayload;

std::vector<std::uint8_t> ImageOf(const ByteVector& texture) {
    std::vector<std::uint8_t> image;
    EXPECT_EQ(ConvertToBitmap(image, texture), Outcome::Ok);
    return image;
}

ByteVector Unsupported() {
    testdata::PayloadWriter w;
    w.U32(1003).I32(4).I32(4).Chunk(std::vector<std::uint8_t>(16, 0));
    return w.bytes;
}

// A model of one object without geometry, holding the given TEXI payloads: only textures are
// written from it.
fs::path WriteModel(const fs::path& dir, const std::vector<ByteVector>& texis) {
    It3Writer file;
    file.Info("textures");
    for (const ByteVector& t : texis) file.Block("TEXI", t);
    fs::path path = dir / "model.it3";
    test::WriteBytes(path, file.Bytes());
    return path;
}

TEST(TextureExport, NamesFilesAfterTheTextureWithSafeCharacters) {
    test::TempDir dir;
    const ByteVector t1 = testdata::EncodeTexture1002(testdata::TestPicture(8, 8, 1));
    const ByteVector t2 = *testdata::EncodeTexture1006(testdata::TestPicture(8, 8, 2), {});
    const std::string longName(40, 'n');  // no NUL inside the 36-byte field
    fs::path model = WriteModel(
        dir.Path(), {TexiPayload("wall01", t1), TexiPayload("a:b", t2), TexiPayload("x/y\\z", t1),
                     TexiPayload("", t2), TexiPayload(longName, t1)});
    fs::create_directory(dir / "out");
    const std::string dest = (dir / "out").string() + "/";
    test::ConvertResult r = test::ConvertInProcess(model, dest, 0);
    EXPECT_EQ(r.result, 0);
    EXPECT_FALSE(r.outputFailed);
    const std::string name36(36, 'n');
    EXPECT_EQ(r.output, "-> " + dest + "wall01.bmp\n" + "-> " + dest + "a_b.bmp\n" + "-> " + dest +
                            "x_y_z.bmp\n" + "-> " + dest + ".bmp\n" + "-> " + dest + name36 +
                            ".bmp\n");
    EXPECT_EQ(
        test::ListFiles(dir / "out"),
        (std::vector<std::string>{".bmp", "a_b.bmp", name36 + ".bmp", "wall01.bmp", "x_y_z.bmp"}));
    EXPECT_EQ(test::ReadBytes(dir / "out" / "wall01.bmp"), ImageOf(t1));
    EXPECT_EQ(test::ReadBytes(dir / "out" / "a_b.bmp"), ImageOf(t2));
    EXPECT_EQ(test::ReadBytes(dir / "out" / ".bmp"), ImageOf(t2));
}

TEST(TextureExport, SecondTextureOfOneNameReplacesTheFirst) {
    test::TempDir dir;
    const ByteVector first = testdata::EncodeTexture1002(testdata::TestPicture(16, 16, 1));
    const ByteVector second = testdata::EncodeTexture1004(testdata::TestPicture(8, 8, 2));
    fs::path model =
        WriteModel(dir.Path(), {TexiPayload("same", first), TexiPayload("same", second)});
    const std::string dest = dir.Path().string() + "/";
    test::ConvertResult r = test::ConvertInProcess(model, dest, 1);
    EXPECT_EQ(r.output, "-> " + dest + "same.bmp\n-> " + dest + "same.bmp\n");
    EXPECT_EQ(test::ReadBytes(dir / "same.bmp"), ImageOf(second));
}

TEST(TextureExport, TextureThatCannotBeConvertedLeavesNoFileAndTruncatesNone) {
    test::TempDir dir;
    const ByteVector good = testdata::EncodeTexture1002(testdata::TestPicture(4, 4, 1));
    ByteVector cut = good;
    cut.resize(20);  // the palette chunk header is cut
    fs::path model = WriteModel(dir.Path(), {TexiPayload("keep", Unsupported()),
                                             TexiPayload("a:b", cut), TexiPayload("fine", good)});
    fs::create_directory(dir / "out");
    test::WriteBytes(dir / "out" / "keep.bmp", {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'});
    const std::string dest = (dir / "out").string() + "/";
    test::ConvertResult r = test::ConvertInProcess(model, dest, 0);
    // The warning names the texture as stored, not as its file would be named.
    EXPECT_EQ(r.output,
              "Warning : can not convert texture keep.\n"
              "Warning : can not convert texture a:b.\n"
              "-> " +
                  dest + "fine.bmp\n");
    EXPECT_FALSE(r.outputFailed);
    EXPECT_EQ(test::ReadText(dir / "out" / "keep.bmp"), "precious");
    EXPECT_EQ(test::ListFiles(dir / "out"), (std::vector<std::string>{"fine.bmp", "keep.bmp"}));
}

TEST(TextureExport, TexturesAcrossObjectsAreWrittenInFileOrder) {
    test::TempDir dir;
    const ByteVector t = testdata::EncodeTexture1002(testdata::TestPicture(4, 4, 1));
    It3Writer file;
    file.Info("one").Block("TEXI", TexiPayload("b", t)).Block("KAN2", ByteVector(8, 0));
    file.Info("two")
        .Block("TEXI", TexiPayload("a", t))
        .Block("TEXI", TexiPayload("c", Unsupported()));
    file.Block("TEXI", ByteVector(10, 'z'));  // a payload shorter than the name field
    test::WriteBytes(dir / "m.it3", file.Bytes());
    test::ConvertResult r = test::ConvertInProcess(dir / "m.it3", dir.Path().string() + "/", 0);
    const std::string d = dir.Path().string() + "/";
    EXPECT_EQ(r.output, "-> " + d + "b.bmp\n-> " + d +
                            "a.bmp\n"
                            "Warning : can not convert texture c.\n"
                            "Warning : can not convert texture zzzzzzzzzz.\n");
}

TEST(TextureExport, NoTexturesWriteNothing) {
    test::TempDir dir;
    fs::path model = WriteModel(dir.Path(), {});
    fs::create_directory(dir / "out");
    test::ConvertResult r = test::ConvertInProcess(model, (dir / "out").string() + "/", 0);
    EXPECT_EQ(r.output, "");
    EXPECT_TRUE(test::ListFiles(dir / "out").empty());
}

TEST(TextureExport, EachFileThatCannotBeCreatedIsReportedAndFailsTheRun) {
    test::TempDir dir;
    const ByteVector t = testdata::EncodeTexture1004(testdata::TestPicture(16, 8, 1));
    const fs::path model =
        WriteModel(dir.Path(),
                   {TexiPayload("t1", t), TexiPayload("bad", Unsupported()), TexiPayload("t2", t)});
    // The command line creates a missing destination first; the writer reports each file.
    const std::string missing = (dir / "missing").string() + "/";
    const test::ConvertResult converted = test::ConvertInProcess(model, missing, 0);
    EXPECT_EQ(converted.output, "Error : Can not create " + missing +
                                    "t1.bmp.\n"
                                    "Warning : can not convert texture bad.\n"
                                    "Error : Can not create " +
                                    missing + "t2.bmp.\n");
    EXPECT_TRUE(converted.outputFailed);

    fs::create_directory(dir / "present");
    test::RunResult r = test::RunMorvex({"-m", "model.it3", "present"}, dir.Path());
    EXPECT_EQ(r.output,
              "-> present/t1.bmp\n"
              "Warning : can not convert texture bad.\n"
              "-> present/t2.bmp\n");
    EXPECT_EQ(r.status, 0);  // a texture that cannot be converted is not an output failure
    EXPECT_EQ(test::ReadBytes(dir / "present" / "t2.bmp"), ImageOf(t));
}

TEST(TextureExport, BundledSampleHoldsItsThreeTextures) {
    test::TempDir dir;
    fs::path sample = fs::path(MORVEX_SOURCE_DIR) / "examples" / "sample.it3";
    Console console = Console::Capturing();
    const Model model = test::IndexedModel(sample, console);
    ExportTextures(model, console, dir.Path().string() + "/");
    EXPECT_FALSE(console.OutputFailed());
    const std::pair<const char*, IndexedPicture> textures[] = {
        {"crate_wood", testdata::WoodPlanks(64, 64)},
        {"figure_cloth", testdata::ClothPattern(64, 64)},
        {"figure_skin", testdata::SkinTone(64, 64)}};
    for (const auto& [name, picture] : textures) {
        std::optional<test::BitmapFile> bmp =
            test::ReadBitmap(test::ReadBytes(dir / (std::string(name) + ".bmp")));
        ASSERT_TRUE(bmp) << name;
        ASSERT_EQ(bmp->width, 64);
        ASSERT_EQ(bmp->height, 64);
        EXPECT_EQ(bmp->palette, test::BitmapPalette(picture.palette)) << name;
        std::vector<std::uint32_t> want(picture.pixels.begin(), picture.pixels.end());
        EXPECT_EQ(bmp->pixels, want) << name;
    }
}

// Every texture of the recorded conformance models converts to the recorded bitmap.
TEST(TextureExport, ConformanceModelsGiveTheRecordedBitmaps) {
    fs::path root = fs::path(MORVEX_TEST_DATA) / "conformance";
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
        const std::string model = entry.path().filename().string();
        const fs::path expected = entry.path() / "expected" / "obj";
        test::TempDir dir;
        // The scan's warnings are not this test's business: only the export's lines count.
        Console scan = Console::Capturing();
        const Model indexed = test::IndexedModel(entry.path() / (model + ".it3"), scan);
        Console console = Console::Capturing();
        ExportTextures(indexed, console, dir.Path().string() + "/");
        // The recorded run's texture lines, with its destination replaced by ours.
        std::string want;
        std::istringstream recorded(test::ReadText(expected / "stdout"));
        for (std::string line; std::getline(recorded, line);) {
            if (line.size() > 4 && line.compare(line.size() - 4, 4, ".bmp") == 0) {
                want += "-> " + dir.Path().string() + "/" + line.substr(7) + "\n";
            }
        }
        EXPECT_EQ(console.Captured(), want) << model;
        for (const std::string& name : test::ListFiles(expected / "out")) {
            if (name.size() < 4 || name.compare(name.size() - 4, 4, ".bmp") != 0) continue;
            EXPECT_TRUE(test::ReadBytes(dir / name) == test::ReadBytes(expected / "out" / name))
                << model << ": " << name;
            ++compared;
        }
    }
    EXPECT_GT(compared, 0);
}

// The colour of a pixel of a bitmap we wrote, as a reader shows it: red, green, blue.
std::array<std::uint8_t, 3> BitmapColour(const test::BitmapFile& bmp, std::int32_t x,
                                         std::int32_t y) {
    const std::uint32_t v = bmp.At(x, y);
    if (bmp.bitsPerPixel == 16) {
        auto widen = [](std::uint32_t c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); };
        return {widen((v >> 10) & 31), widen((v >> 5) & 31), widen(v & 31)};
    }
    if (4 * v + 3 > bmp.palette.size()) return {0, 0, 0};
    return {bmp.palette[4 * v + 2], bmp.palette[4 * v + 1], bmp.palette[4 * v]};
}

// --textures png: the PNG files show what the bitmaps show; a texture used as an alpha map also
// holds its luminance as alpha (Blender's OBJ importer reads map_d's alpha channel); the MTL and
// MQO files name the PNG files.
TEST(TextureExport, PngFilesShowWhatTheBitmapsShow) {
    test::TempDir dir;
    It3Writer file;
    testdata::Mesh mesh;
    mesh.vertices = {test::V(0, 0, 0), test::V(1, 0, 0), test::V(0, 1, 0)};
    mesh.indices = {0, 1, 2};
    file.Info("box").Block("MATE", testdata::MaterialPayload("MATE", {{"skin", "t8", "fade", 4.0f},
                                                                      {"metal", "t16", "", 9.0f}}));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {mesh}));
    file.Block("TEXI",
               TexiPayload("t8", testdata::EncodeTexture1002(testdata::TestPicture(9, 5, 1))));
    file.Block("TEXI",
               TexiPayload("t16", testdata::EncodeTexture1001(testdata::TestPicture16(6, 4, 2))));
    file.Block("TEXI",
               TexiPayload("fade", testdata::EncodeTexture1002(testdata::TestPicture(7, 3, 3))));
    test::WriteBytes(dir / "m.it3", file.Bytes());

    const test::RunResult bmp = test::RunMorvex({"m.it3", "bmp"}, dir.Path());
    const test::RunResult png = test::RunMorvex({"--textures", "png", "m.it3", "png"}, dir.Path());
    const test::RunResult mqo =
        test::RunMorvex({"-m", "--textures=png", "m.it3", "mqo"}, dir.Path());
    ASSERT_EQ(png.status, 0) << png.errors;
    EXPECT_EQ(png.output,
              "-> png/m_00_box.obj\n-> png/m_00_box.mtl\n-> png/t8.png\n"
              "-> png/t16.png\n-> png/fade.png\n");
    EXPECT_EQ(mqo.output, "-> mqo/m_00_box.mqo\n-> mqo/t8.png\n-> mqo/t16.png\n-> mqo/fade.png\n");
    const std::string mtl = test::ReadText(dir / "png" / "m_00_box.mtl");
    EXPECT_NE(mtl.find("map_Kd t8.png\r\nmap_d fade.png\r\n"), std::string::npos) << mtl;
    const std::string doc = test::ReadText(dir / "mqo" / "m_00_box.mqo");
    EXPECT_NE(doc.find(" tex(\"t8.png\") aplane(\"fade.png\")"), std::string::npos) << doc;

    for (const char* name : {"t8", "t16", "fade"}) {
        const auto bitmap =
            test::ReadBitmap(test::ReadBytes(dir / "bmp" / (std::string(name) + ".bmp")));
        ASSERT_TRUE(bitmap) << name;
        RgbaPicture picture;
        bool hadAlpha = false;
        const auto bytes = test::ReadBytes(dir / "png" / (std::string(name) + ".png"));
        EXPECT_EQ(bytes, test::ReadBytes(dir / "mqo" / (std::string(name) + ".png"))) << name;
        ASSERT_TRUE(test::DecodePng(bytes, picture, hadAlpha)) << name;
        const bool alphaMap = std::string(name) == "fade";
        EXPECT_EQ(hadAlpha, alphaMap) << name;
        ASSERT_EQ(picture.width, static_cast<std::uint32_t>(bitmap->width)) << name;
        ASSERT_EQ(picture.height, static_cast<std::uint32_t>(bitmap->height)) << name;
        for (std::int32_t y = 0; y < bitmap->height; ++y) {
            for (std::int32_t x = 0; x < bitmap->width; ++x) {
                const auto rgb = BitmapColour(*bitmap, x, y);
                const std::uint8_t* p =
                    &picture.pixels[4 * (static_cast<std::size_t>(y) * picture.width +
                                         static_cast<std::size_t>(x))];
                ASSERT_EQ((std::array<std::uint8_t, 3>{p[0], p[1], p[2]}), rgb)
                    << name << " " << x << "," << y;
                const int luminance = (77 * rgb[0] + 150 * rgb[1] + 29 * rgb[2] + 128) >> 8;
                ASSERT_EQ(p[3], alphaMap ? luminance : 255) << name << " " << x << "," << y;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// An independent reader: Python's imaging library opens every bitmap we write.

// A Python 3 interpreter that can import PIL, or empty.
std::string FindPythonWithPil() {
    for (const char* candidate : {"/usr/bin/python3", "python3"}) {
        std::string command = std::string(candidate) + " -c 'import PIL.Image' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0) return candidate;
    }
    return {};
}

TEST(TextureExport, IndependentReaderOpensEveryFormat) {
    const std::string python = FindPythonWithPil();
    if (python.empty()) {
        GTEST_SKIP() << "Python 3 with PIL is not installed (Debian package python3-pil): "
                        "the check of our bitmaps by an independent reader is skipped";
    }
    test::TempDir dir;
    struct Written {
        std::string name;
        IndexedPicture picture;  // the 8-bit picture as converted, or empty for 16 bits
        testdata::Picture16 picture16;
    };
    std::vector<Written> written;
    auto add8 = [&](const std::string& name, const ByteVector& texture,
                    const IndexedPicture& expected) {
        test::WriteBytes(dir / (name + ".bmp"), ImageOf(texture));
        written.push_back({name, expected, {}});
    };
    using testdata::ExpectedPicture;
    using testdata::TileCoverage;
    IndexedPicture p = testdata::TestPicture(37, 21, 5);
    add8("f1002", testdata::EncodeTexture1002(p), p);
    add8("f1004", testdata::EncodeTexture1004(p), ExpectedPicture(p, TileCoverage::ByteTiles));
    add8("f1005", *testdata::EncodeTexture1005(p), ExpectedPicture(p, TileCoverage::LookupTiles));
    add8("f1006_packed", *testdata::EncodeTexture1006(p, {2, 3, true}),
         ExpectedPicture(p, TileCoverage::QuadTiles, 4, 8));
    add8("f1006_raw", *testdata::EncodeTexture1006(p, {3, 2, false}),
         ExpectedPicture(p, TileCoverage::QuadTiles, 8, 4));
    IndexedPicture wood = testdata::WoodPlanks(64, 64);  // 16 colours only
    add8("wood", testdata::EncodeTexture1002(wood), wood);
    IndexedPicture tiny = testdata::TestPicture(1, 1, 6);
    add8("tiny", testdata::EncodeTexture1002(tiny), tiny);
    testdata::Picture16 p16 = testdata::TestPicture16(13, 7, 3);
    test::WriteBytes(dir / "f1001.bmp", ImageOf(testdata::EncodeTexture1001(p16)));
    written.push_back({"f1001", {}, p16});

    const fs::path script = dir / "read.py";
    {
        std::ofstream out(script);
        out << "import sys\nfrom PIL import Image\n"
               "for path in sys.argv[1:]:\n"
               "    im = Image.open(path)\n"
               "    im.load()\n"
               "    open(path + '.rgb', 'wb').write(im.convert('RGB').tobytes())\n"
               "    print(im.format, im.size[0], im.size[1], im.mode)\n";
    }
    std::string command = python + " " + script.string();
    for (const Written& w : written) command += " " + (dir / (w.name + ".bmp")).string();
    command += " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string report;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe)) report += chunk;
    ASSERT_EQ(pclose(pipe), 0) << report;

    std::istringstream lines(report);
    for (const Written& w : written) {
        std::string format, mode;
        int width = 0, height = 0;
        lines >> format >> width >> height >> mode;
        EXPECT_EQ(format, "BMP") << w.name;
        std::vector<std::uint8_t> rgb = test::ReadBytes(dir / (w.name + ".bmp.rgb"));
        if (w.picture.width > 0) {
            const IndexedPicture& e = w.picture;
            EXPECT_EQ(mode, "P") << w.name;
            ASSERT_EQ(width, e.width) << w.name;
            ASSERT_EQ(height, e.height) << w.name;
            ASSERT_EQ(rgb.size(), e.pixels.size() * 3) << w.name;
            for (std::size_t i = 0; i < e.pixels.size(); ++i) {
                for (std::size_t k = 0; k < 3; ++k) {
                    ASSERT_EQ(rgb[3 * i + k], e.palette[4 * e.pixels[i] + k])
                        << w.name << " pixel " << i;
                }
            }
        } else {
            const testdata::Picture16& e = w.picture16;
            EXPECT_EQ(mode, "RGB") << w.name;
            ASSERT_EQ(width, e.width);
            ASSERT_EQ(height, e.height);
            ASSERT_EQ(rgb.size(), e.pixels.size() * 3);
            for (std::size_t i = 0; i < e.pixels.size(); ++i) {
                for (std::size_t k = 0; k < 3; ++k) {
                    // 5 bits a channel (red highest), widened by the reader to 8 bits.
                    double channel = (e.pixels[i] >> (10 - 5 * k)) & 31;
                    EXPECT_NEAR(rgb[3 * i + k], channel * 255.0 / 31.0, 1.0)
                        << w.name << " pixel " << i;
                }
            }
        }
    }
}

}  // namespace
}  // namespace morvex

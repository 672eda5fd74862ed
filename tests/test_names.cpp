// Names from the model: decoded from UTF-8 or code page 932 where text must be Unicode, and made
// safe for file names character by character (never the second byte of a double-byte character),
// with Windows' own rules where they apply.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "it3/names.h"
#include "test_support.h"
#include "testdata/it3_writer.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

// Code page 932 bytes of a few names and their UTF-8 forms.
const std::string kHyouCp932 = "\x95\x5C";             // 表, whose second byte is 0x5C ('\')
const std::string kSoCp932 = "\x83\x5C";               // ソ
const std::string kNouCp932 = "\x94\x5C";              // 能
const std::string kKanaCp932 = "\xB6\xC5";             // half-width ｶﾅ
const std::string kHyou = "\xE8\xA1\xA8";              // 表
const std::string kSo = "\xE3\x82\xBD";                // ソ
const std::string kNou = "\xE8\x83\xBD";               // 能
const std::string kKana = "\xEF\xBD\xB6\xEF\xBE\x85";  // ｶﾅ

TEST(Names, DecodedFromUtf8OrCodePage932) {
    struct Case {
        const char* label;
        std::string name;
        std::string replaced;  // Undecodable::Replace
        std::string escaped;   // Undecodable::Escape
    };
    const std::string fffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"ascii", "body_01", "body_01", "body_01"},
        {"utf-8 stays", "caf\xC3\xA9 " + kHyou, "caf\xC3\xA9 " + kHyou, "caf\xC3\xA9 " + kHyou},
        {"kanji", kHyouCp932 + kSoCp932 + kNouCp932, kHyou + kSo + kNou, kHyou + kSo + kNou},
        {"half-width kana", "x" + kKanaCp932, "x" + kKana, "x" + kKana},
        {"with ascii", "a:" + kHyouCp932 + "\\b", "a:" + kHyou + "\\b", "a:" + kHyou + "\\b"},
        {"fullwidth tilde", "\x81\x60", "\xEF\xBD\x9E",
         "\xEF\xBD\x9E"},  // U+FF5E as Windows has it
        {"lone bytes", "a\x80\xA0\xFD\xFF", "a" + fffd + fffd + fffd + fffd, "a%80%A0%FD%FF"},
        {"lead at the end", kHyouCp932 + "\x95", kHyou + fffd, kHyou + "%95"},
        {"lead before a non-trail", "\x95\x20x", fffd + " x", "%95 x"},
        {"code without a character", "\x85\x40" + kHyouCp932, fffd + fffd + kHyou,
         "%85%40" + kHyou},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(DecodeName(c.name, Undecodable::Replace), c.replaced);
        EXPECT_EQ(DecodeName(c.name, Undecodable::Escape), c.escaped);
        EXPECT_TRUE(IsUtf8(DecodeName(c.name, Undecodable::Replace)));
    }
}

TEST(Names, Utf8IsWellFormedUtf8Only) {
    for (const char* text : {"", "abc", "\xC3\xA9", "\xE8\xA1\xA8", "\xF0\x9F\x98\x80",
                             "\xF4\x8F\xBF\xBF", "\xED\x9F\xBF"}) {
        EXPECT_TRUE(IsUtf8(text)) << text;
    }
    for (const std::string text :
         {"\x80", "\xC0\xAF", "\xC3", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
          "\xF8\x88\x80\x80\x80", "\xE8\xA1", "\xE8\xA1\x41", kHyouCp932.c_str()}) {
        EXPECT_FALSE(IsUtf8(text)) << text;
    }
}

TEST(Names, SafeNamesReplaceCharactersNeverSecondBytes) {
    struct Case {
        const char* label;
        std::string name;
        std::string bytes;    // the model's bytes (the default on POSIX systems)
        std::string decoded;  // --utf8-names
        std::string windows;  // on Windows (decoded, and Windows' own rules)
    };
    const Case cases[] = {
        {"separators", "a:b/c\\d", "a_b_c_d", "a_b_c_d", "a_b_c_d"},
        {"0x5C second bytes", kHyouCp932 + kSoCp932 + kNouCp932, kHyouCp932 + kSoCp932 + kNouCp932,
         kHyou + kSo + kNou, kHyou + kSo + kNou},
        {"0x5C after a kanji", kHyouCp932 + "\\" + kHyouCp932, kHyouCp932 + "_" + kHyouCp932,
         kHyou + "_" + kHyou, kHyou + "_" + kHyou},
        {"lone lead byte", "\x95", "\x95", "%95", "%95"},
        {"control bytes", "a\nb\x7f", "a_b_", "a_b_", "a_b_"},
        {"windows characters", "a*b?c\"d<e>f|g", "a*b?c\"d<e>f|g", "a*b?c\"d<e>f|g",
         "a_b_c_d_e_f_g"},
        {"trailing dots and blanks", "name. .", "name. .", "name. .", "name___"},
        {"device names", "nul", "nul", "nul", "_nul"},
        {"device names with a dot", "Com1.tex", "Com1.tex", "Com1.tex", "_Com1.tex"},
        {"device names in any case", "conOUT$", "conOUT$", "conOUT$", "_conOUT$"},
        {"not device names", "null", "null", "null", "null"},
        {"utf-8 kept", kHyou + ":", kHyou + "_", kHyou + "_", kHyou + "_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(SafeName(c.name, {false, false}), c.bytes);
        EXPECT_EQ(SafeName(c.name, {true, false}), c.decoded);
        EXPECT_EQ(SafeName(c.name, {true, true}), c.windows);
        EXPECT_EQ(SafeName(c.name, NameRules{}.files), platform::kWindows ? c.windows : c.bytes);
        EXPECT_EQ(SafeName(c.name, NameRules::Utf8Names().files),
                  platform::kWindows ? c.windows : c.decoded);
    }
}

// One object and one texture whose names are code page 932 bytes (表ソ, with 0x5C second bytes).
testdata::ByteVector JapaneseModel() {
    testdata::It3Writer w;
    w.Info(kHyouCp932 + kSoCp932);
    w.Block("MAT2", testdata::MaterialPayload("MAT2", {{kNouCp932, kHyouCp932, "", 30.0f}}));
    w.Block("VPA5", testdata::VertexPayload("VPA5", {testdata::UnitTriangle()}));
    w.Block("TEXI", testdata::TexiPayload(kHyouCp932,
                                          testdata::EncodeTexture1002(testdata::SkinTone(16, 8))));
    return w.Bytes();
}

// File names and the names inside the files, by default and with --utf8-names; glTF and the JSON
// report always decode.
TEST(Names, OutputsKeepTheBytesOrDecodeThemAsAsked) {
    test::TempDir dir;
    test::WriteBytes(dir / "jp.it3", JapaneseModel());
    for (const bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "--utf8-names" : "default");
        const bool decodeFiles = utf8 || platform::kWindows;
        const std::string out = utf8 ? "utf8" : "bytes";
        std::vector<std::string> args;
        if (utf8) args.push_back("--utf8-names");
        args.insert(args.end(), {"jp.it3", out});
        const test::RunResult run = test::RunMorvex(args, dir.Path());
        ASSERT_EQ(run.status, 0) << run.output;
        const std::string object = decodeFiles ? kHyou + kSo : kHyouCp932 + kSoCp932;
        const std::string texture = decodeFiles ? kHyou : kHyouCp932;
        const std::string stem = "jp_00_" + object;
        EXPECT_EQ(run.output, "-> " + out + "/" + stem + ".obj\n-> " + out + "/" + stem +
                                  ".mtl\n-> " + out + "/" + texture + ".bmp\n");
        std::vector<std::string> files = {texture + ".bmp", stem + ".mtl", stem + ".obj"};
        std::sort(files.begin(), files.end());
        EXPECT_EQ(test::ListFiles(dir / out), files);
        // Inside: the bytes by default (as on every system), UTF-8 with --utf8-names.
        const std::string textStem = "jp_00_" + (utf8 ? kHyou + kSo : kHyouCp932 + kSoCp932);
        const std::string obj = test::ReadText(platform::FilesystemPath(
            platform::PathText(dir.Path()) + "/" + out + "/" + stem + ".obj"));
        EXPECT_NE(obj.find("mtllib " + textStem + ".mtl\r\n"), std::string::npos) << obj;
        const std::string mtl = test::ReadText(platform::FilesystemPath(
            platform::PathText(dir.Path()) + "/" + out + "/" + stem + ".mtl"));
        const std::string material = utf8 ? kNou : kNouCp932;
        EXPECT_NE(mtl.find("newmtl 00_" + material + "\r\n"), std::string::npos) << mtl;
        EXPECT_NE(mtl.find("map_Kd " + (utf8 ? kHyou : kHyouCp932) + ".bmp\r\n"), std::string::npos)
            << mtl;
    }
    const test::RunResult json = test::RunMorvex({"-i", "--json", "jp.it3"}, dir.Path());
    EXPECT_NE(json.output.find("\"name\": \"" + kHyou + kSo + "\""), std::string::npos)
        << json.output;
    EXPECT_NE(json.output.find("\"name\": \"" + kNou + "\""), std::string::npos) << json.output;
    const test::RunResult glb = test::RunMorvex({"-g", "jp.it3", "glb"}, dir.Path());
    ASSERT_EQ(glb.status, 0);
    const std::string document = test::ReadText(dir / "glb" / "jp.glb");
    EXPECT_NE(document.find("\"name\":\"" + kHyou + kSo + "\""), std::string::npos);
    EXPECT_NE(document.find("\"name\":\"" + kNou + "\""), std::string::npos);
}

}  // namespace
}  // namespace morvex

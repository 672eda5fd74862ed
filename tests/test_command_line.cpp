#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "convert/converter.h"

namespace morvex {
namespace {

struct ArgumentCase {
    std::vector<std::string_view> args;
    bool usage;
    OutputMode mode;
    std::string input;
    std::string dest;
};

class ArgumentTable : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTable, Parses) {
    const ArgumentCase& c = GetParam();
    CommandLine line = ParseCommandLine(c.args);
    EXPECT_EQ(line.showUsage, c.usage);
    if (c.usage) return;
    EXPECT_EQ(static_cast<int>(line.mode), static_cast<int>(c.mode));
    EXPECT_EQ(line.inputPath, c.input);
    EXPECT_EQ(line.destPath, c.dest);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ArgumentTable,
    ::testing::Values(
        ArgumentCase{{}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-m"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-c"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"/?"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"/?", "model.it3"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-x", "model.it3"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-", "model.it3"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-?", "model.it3"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-M", "model.it3"}, false, OutputMode::Mqo, "model.it3", ""},
        ArgumentCase{{"-mqo", "model.it3"}, false, OutputMode::Mqo, "model.it3", ""},
        ArgumentCase{{"-Cfoo", "model.it3"}, false, OutputMode::Check, "model.it3", ""},
        ArgumentCase{{"-g", "model.it3"}, false, OutputMode::Gltf, "model.it3", ""},
        ArgumentCase{{"-Glb", "model.it3", "out"}, false, OutputMode::Gltf, "model.it3", "out/"},
        ArgumentCase{{"-g"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-c", "model.it3", "out"}, false, OutputMode::Check, "model.it3", "out/"},
        ArgumentCase{{"model.it3"}, false, OutputMode::Obj, "model.it3", ""},
        ArgumentCase{{"model.it3", "."}, false, OutputMode::Obj, "model.it3", ""},
        ArgumentCase{{"model.it3", ""}, false, OutputMode::Obj, "model.it3", ""},
        ArgumentCase{{"model.it3", "x"}, false, OutputMode::Obj, "model.it3", "x/"},
        ArgumentCase{{"model.it3", "out"}, false, OutputMode::Obj, "model.it3", "out/"},
        ArgumentCase{{"model.it3", "out/"}, false, OutputMode::Obj, "model.it3", "out/"},
        ArgumentCase{{"model.it3", "C:"}, false, OutputMode::Obj, "model.it3", "C:/"},
        ArgumentCase{
            {"model.it3", "out", "extra", "more"}, false, OutputMode::Obj, "model.it3", "out/"},
        // Absolute paths are paths, not options.
        ArgumentCase{{"/data/model.it3", "/tmp/out"},
                     false,
                     OutputMode::Obj,
                     "/data/model.it3",
                     "/tmp/out/"},
        ArgumentCase{{"-m", "/data/model.it3"}, false, OutputMode::Mqo, "/data/model.it3", ""},
        ArgumentCase{{""}, false, OutputMode::Obj, "", ""}));

TEST(DestPath, Normalisation) {
    EXPECT_EQ(NormaliseDestPath(""), "");
    EXPECT_EQ(NormaliseDestPath("."), "");
    EXPECT_EQ(NormaliseDestPath("./"), "./");
    EXPECT_EQ(NormaliseDestPath("a"), "a/");
    EXPECT_EQ(NormaliseDestPath("a/b"), "a/b/");
    std::string longPath(1000, 'd');
    EXPECT_EQ(NormaliseDestPath(longPath), longPath + "/");  // never truncated
}

TEST(BaseName, TakesTheFileNameWithoutItsLastExtension) {
    EXPECT_EQ(BaseNameOf("dir/model.it3"), "model");
    EXPECT_EQ(BaseNameOf("a.b.it3"), "a.b");
    EXPECT_EQ(BaseNameOf("noext"), "noext");
    EXPECT_EQ(BaseNameOf(".it3"), "");
    EXPECT_EQ(BaseNameOf("dir/"), "");
    EXPECT_EQ(BaseNameOf("dir.x/model"), "model");
    EXPECT_EQ(BaseNameOf("/abs/path/m900.it3"), "m900");
    EXPECT_EQ(BaseNameOf("back\\slash.it3"), "back\\slash");
    std::string longName(600, 'n');
    EXPECT_EQ(BaseNameOf(longName + ".it3"), longName);
}

TEST(UsageText, IsSixUtf8Lines) {
    std::string text(kUsageText);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
    EXPECT_EQ(text.rfind("Usage : morvex [-m] <file_name> [dest_path]\n", 0), 0u);
    EXPECT_NE(
        text.find("\n  -m          MQO形式で出力します.\n  -g          glTF形式で出力します.\n"),
        std::string::npos);
    // The dest_path line: an ideographic space (E3 80 80) then one blank.
    EXPECT_NE(
        text.find("  dest_path\xE3\x80\x80 "
                  "\xE5\x87\xBA\xE5\x8A\x9B\xE5\x85\x88.(\xE7\x9C\x81\xE7\x95\xA5\xE5\x8F\xAF)\n"),
        std::string::npos);
    EXPECT_NE(text.find("  /?          "), std::string::npos);
}

}  // namespace
}  // namespace morvex

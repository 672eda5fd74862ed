#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "convert/converter.h"
#include "platform/platform.h"

namespace morvex {
namespace {

// The tables write the separator a destination gets as '/': on Windows it is '\'.
std::string Slashed(std::string dest) {
    if (platform::kWindows && !dest.empty() && dest.back() == '\\') dest.back() = '/';
    return dest;
}

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
    EXPECT_EQ(Slashed(line.destPath), c.dest);
    EXPECT_FALSE(line.optionForm);
    EXPECT_EQ(line.inputs, std::vector<std::string>{c.input});
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
        ArgumentCase{{""}, false, OutputMode::Obj, "", ""},
        // Whatever follows the destination stays ignored, options too; after a mode letter only
        // an option beginning with "--" starts the option form.
        ArgumentCase{{"model.it3", "out", "--jobs=2"}, false, OutputMode::Obj, "model.it3", "out/"},
        ArgumentCase{{"model.it3", "--out", "x"}, false, OutputMode::Obj, "model.it3", "--out/"},
        ArgumentCase{{"-m", "-i", "x"}, false, OutputMode::Mqo, "-i", "x/"},
        ArgumentCase{
            {"-c", "a.it3", "b.it3", "c.it3"}, false, OutputMode::Check, "a.it3", "b.it3/"},
        ArgumentCase{{"-x", "--out", "o", "a.it3"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-H", "a.it3"}, true, OutputMode::Obj, "", ""}));

// The option form: what the one-file form answered with the usage text (an option beginning
// with "--", the letters i, h and j) or did not convert (a mode letter followed by "--...").
struct OptionCase {
    std::vector<std::string_view> args;
    bool usage;
    std::vector<std::string> inputs;
    std::string dest;
    bool out = false;
    OutputMode mode = OutputMode::Obj;
    bool inspect = false;
    bool json = false;
    int jobs = 0;
};

class OptionTable : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionTable, Parses) {
    const OptionCase& c = GetParam();
    CommandLine line = ParseCommandLine(c.args);
    ASSERT_EQ(line.showUsage, c.usage) << c.args[0];
    if (c.usage) return;
    EXPECT_TRUE(line.optionForm);
    EXPECT_EQ(line.inputs, c.inputs);
    EXPECT_EQ(line.inputPath, c.inputs.front());
    EXPECT_EQ(Slashed(line.destPath), c.dest);
    EXPECT_EQ(line.outOption, c.out);
    EXPECT_EQ(static_cast<int>(line.mode), static_cast<int>(c.mode));
    EXPECT_EQ(line.inspect, c.inspect);
    EXPECT_EQ(line.json, c.json);
    EXPECT_EQ(line.options.jobs, c.jobs);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, OptionTable,
    ::testing::Values(
        OptionCase{{"--out", "o", "a.it3", "models"}, false, {"a.it3", "models"}, "o/", true},
        OptionCase{{"--out=o/", "a.it3"}, false, {"a.it3"}, "o/", true},
        OptionCase{{"-g", "--out", "o", "a", "b", "c"},
                   false,
                   {"a", "b", "c"},
                   "o/",
                   true,
                   OutputMode::Gltf},
        OptionCase{{"-m", "--jobs=3", "models", "out"},
                   false,
                   {"models"},
                   "out/",
                   false,
                   OutputMode::Mqo,
                   false,
                   false,
                   3},
        OptionCase{
            {"--jobs", "0", "-c", "models"}, false, {"models"}, "", false, OutputMode::Check},
        OptionCase{
            {"-j", "1", "a.it3"}, false, {"a.it3"}, "", false, OutputMode::Obj, false, false, 1},
        OptionCase{{"-i", "a.it3", "b.it3", "models"},
                   false,
                   {"a.it3", "b.it3", "models"},
                   "",
                   false,
                   OutputMode::Obj,
                   true},
        OptionCase{
            {"--json", "-i", "a.it3"}, false, {"a.it3"}, "", false, OutputMode::Obj, true, true},
        // "--" ends the options: a file whose name begins with '-'.
        OptionCase{{"--out", "o", "--", "-m", "--x"}, false, {"-m", "--x"}, "o/", true},
        OptionCase{
            {"--jobs=2", "-", "o"}, false, {"-"}, "o/", false, OutputMode::Obj, false, false, 2},
        // What does not fit prints the usage text.
        OptionCase{{"--jobs=2"}, true, {}, ""}, OptionCase{{"--jobs=-1", "a.it3"}, true, {}, ""},
        OptionCase{{"--jobs=x", "a.it3"}, true, {}, ""},
        OptionCase{{"--jobs=1025", "a.it3"}, true, {}, ""},
        OptionCase{{"--jobs", "a.it3"}, true, {}, ""}, OptionCase{{"--out"}, true, {}, ""},
        OptionCase{{"--out=", "a.it3"}, true, {}, ""},
        OptionCase{{"--out", "o", "--out", "p", "a.it3"}, true, {}, ""},
        OptionCase{
            {"--jobs=1", "a.it3", "out", "extra"}, true, {}, ""},       // several inputs need --out
        OptionCase{{"-m", "--out", "o", "-g", "a.it3"}, true, {}, ""},  // two modes
        OptionCase{{"--json", "a.it3"}, true, {}, ""},                  // --json belongs to -i
        OptionCase{{"-i", "-g", "a.it3"}, true, {}, ""},                // -i writes nothing
        OptionCase{{"-i", "--out", "o", "a.it3"}, true, {}, ""},
        OptionCase{{"--bogus", "a.it3"}, true, {}, ""},
        OptionCase{
            {"-mqo", "--out", "o", "a.it3"}, true, {}, ""},  // exact letters in the option form
        OptionCase{{"-i"}, true, {}, ""}));

TEST(CommandLine, HelpAndVersion) {
    for (std::vector<std::string_view> args : {std::vector<std::string_view>{"-h"},
                                               {"--help"},
                                               {"--jobs=2", "--help"},
                                               {"-m", "--help"},
                                               {"-i", "a.it3", "-h"}}) {
        const CommandLine line = ParseCommandLine(args);
        EXPECT_TRUE(line.showHelp) << args[0];
        EXPECT_FALSE(line.showUsage) << args[0];
    }
    EXPECT_TRUE(ParseCommandLine(std::vector<std::string_view>{"--version"}).showVersion);
    EXPECT_EQ(VersionText(), "morvex " MORVEX_VERSION "\n");
    // Help is English text, one option a line, and says how the exit status is made.
    const std::string help = HelpText();
    for (const char* option :
         {"  -m ", "  -g ", "  -c ", "  -i ", "  --json ", "  --out DEST ", "  --jobs=N ",
          "  -h, --help ", "  --version ", "Exit status:", "Examples:"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(help.find("\xE3"), std::string::npos);  // no Japanese text
}

TEST(DestPath, Normalisation) {
    const std::string sep(1, platform::kSeparator);
    EXPECT_EQ(NormaliseDestPath(""), "");
    EXPECT_EQ(NormaliseDestPath("."), "");
    EXPECT_EQ(NormaliseDestPath("./"), "./");
    EXPECT_EQ(NormaliseDestPath("a"), "a" + sep);
    EXPECT_EQ(NormaliseDestPath("a/b"), "a/b" + sep);
    // On Windows a trailing '\' is a separator as well; elsewhere it is part of the name.
    EXPECT_EQ(NormaliseDestPath("C:\\out\\"), platform::kWindows ? "C:\\out\\" : "C:\\out\\/");
    std::string longPath(1000, 'd');
    EXPECT_EQ(NormaliseDestPath(longPath), longPath + sep);  // never truncated
}

TEST(BaseName, TakesTheFileNameWithoutItsLastExtension) {
    EXPECT_EQ(BaseNameOf("dir/model.it3"), "model");
    EXPECT_EQ(BaseNameOf("a.b.it3"), "a.b");
    EXPECT_EQ(BaseNameOf("noext"), "noext");
    EXPECT_EQ(BaseNameOf(".it3"), "");
    EXPECT_EQ(BaseNameOf("dir/"), "");
    EXPECT_EQ(BaseNameOf("dir.x/model"), "model");
    EXPECT_EQ(BaseNameOf("/abs/path/m900.it3"), "m900");
    EXPECT_EQ(BaseNameOf("back\\slash.it3"), platform::kWindows ? "slash" : "back\\slash");
    EXPECT_EQ(BaseNameOf("C:\\models\\car.it3"), platform::kWindows ? "car" : "C:\\models\\car");
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

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

// What exists for the tests: a.it3, b.it3 and model.it3 are files, models and existing are
// folders; "-i" is a file, so that "-m -i" names it.
PathKind FakeProbe(const std::string& path) {
    for (const char* file : {"a.it3", "b.it3", "model.it3", "-i", "notes.txt"}) {
        if (path == file) return PathKind::File;
    }
    for (const char* folder : {"models", "existing", "out.glb"}) {
        if (path == folder) return PathKind::Folder;
    }
    return PathKind::Missing;
}

CommandLine Parse(const std::vector<std::string_view>& args) {
    return ParseCommandLine(args, FakeProbe);
}

struct ArgumentCase {
    std::vector<std::string_view> args;
    bool usage;
    OutputMode mode;
    std::string input;
    std::string dest;
    std::string mistake = "";             // the line on standard error, without "morvex: "
    std::vector<std::string> notes = {};  // the lines on standard error of a run that goes on
};

class ArgumentTable : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTable, Parses) {
    const ArgumentCase& c = GetParam();
    CommandLine line = Parse(c.args);
    EXPECT_EQ(line.showUsage, c.usage);
    EXPECT_EQ(line.mistake, c.mistake);
    EXPECT_EQ(line.notes, c.notes);
    if (c.usage) return;
    EXPECT_EQ(static_cast<int>(line.mode), static_cast<int>(c.mode));
    EXPECT_EQ(line.inputPath, c.input);
    EXPECT_EQ(Slashed(line.destPath), c.dest);
    EXPECT_FALSE(line.optionForm);
    EXPECT_FALSE(line.byName);
    EXPECT_EQ(line.inputs, std::vector<std::string>{c.input});
}

// The one-file form: standard output as it always was; what may be a mistake gets a line on
// standard error.
INSTANTIATE_TEST_SUITE_P(
    CommandLine, ArgumentTable,
    ::testing::Values(
        ArgumentCase{{}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-m"}, true, OutputMode::Obj, "", "", "'-m' needs a file name after it"},
        ArgumentCase{{"-c"}, true, OutputMode::Obj, "", "", "'-c' needs a file name after it"},
        ArgumentCase{{"/?"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"/?", "model.it3"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-?", "model.it3"}, true, OutputMode::Obj, "", ""},
        ArgumentCase{{"-x", "model.it3"}, true, OutputMode::Obj, "", "", "unknown option '-x'"},
        ArgumentCase{{"-", "model.it3"}, true, OutputMode::Obj, "", "", "unknown option '-'"},
        ArgumentCase{{"-H", "a.it3"}, true, OutputMode::Obj, "", "", "unknown option '-H'"},
        ArgumentCase{{"-x\x1b", "a.it3"}, true, OutputMode::Obj, "", "", "unknown option '-x?'"},
        ArgumentCase{{"-M", "model.it3"}, false, OutputMode::Mqo, "model.it3", ""},
        ArgumentCase{{"-mqo", "model.it3"},
                     false,
                     OutputMode::Mqo,
                     "model.it3",
                     "",
                     "",
                     {"'-mqo' is read as '-m'"}},
        ArgumentCase{{"-Cfoo", "model.it3"},
                     false,
                     OutputMode::Check,
                     "model.it3",
                     "",
                     "",
                     {"'-Cfoo' is read as '-c'"}},
        ArgumentCase{{"-g", "model.it3"}, false, OutputMode::Gltf, "model.it3", ""},
        ArgumentCase{{"-gm", "model.it3", "out"},
                     false,
                     OutputMode::Gltf,
                     "model.it3",
                     "out/",
                     "",
                     {"'-gm' is read as '-g'"}},
        ArgumentCase{{"-g"}, true, OutputMode::Obj, "", "", "'-g' needs a file name after it"},
        ArgumentCase{{"-c", "model.it3", "out"}, false, OutputMode::Check, "model.it3", "out/"},
        ArgumentCase{{"model.it3"}, false, OutputMode::Obj, "model.it3", ""},
        ArgumentCase{{"model.it3", "."}, false, OutputMode::Obj, "model.it3", ""},
        ArgumentCase{{"model.it3", ""}, false, OutputMode::Obj, "model.it3", ""},
        ArgumentCase{{"model.it3", "x"}, false, OutputMode::Obj, "model.it3", "x/"},
        ArgumentCase{{"model.it3", "out"}, false, OutputMode::Obj, "model.it3", "out/"},
        ArgumentCase{{"model.it3", "out/"}, false, OutputMode::Obj, "model.it3", "out/"},
        ArgumentCase{{"model.it3", "C:"}, false, OutputMode::Obj, "model.it3", "C:/"},
        ArgumentCase{
            {"model.it3", "out", "extra", "-g"},
            false,
            OutputMode::Obj,
            "model.it3",
            "out/",
            "",
            {"'extra' after the destination is ignored", "'-g' after the destination is ignored"}},
        // A destination named like a file: converted into that folder as always, with a hint.
        ArgumentCase{{"model.it3", "out.glb"}, false, OutputMode::Obj, "model.it3", "out.glb/"},
        ArgumentCase{{"model.it3", "new.glb"},
                     false,
                     OutputMode::Obj,
                     "model.it3",
                     "new.glb/",
                     "",
                     {"the destination 'new.glb' looks like a file: use -g --out DIR, or -o "
                      "new.glb"}},
        ArgumentCase{{"-m", "model.it3", "x.MQO"},
                     false,
                     OutputMode::Mqo,
                     "model.it3",
                     "x.MQO/",
                     "",
                     {"the destination 'x.MQO' looks like a file: it is the folder the outputs "
                      "go into"}},
        ArgumentCase{{"model.it3", "notes.txt"}, false, OutputMode::Obj, "model.it3", "notes.txt/"},
        // Absolute paths are paths, not options.
        ArgumentCase{{"/data/model.it3", "/tmp/out"},
                     false,
                     OutputMode::Obj,
                     "/data/model.it3",
                     "/tmp/out/"},
        ArgumentCase{{"-m", "/data/model.it3"}, false, OutputMode::Mqo, "/data/model.it3", ""},
        ArgumentCase{{""}, false, OutputMode::Obj, "", ""},
        ArgumentCase{{"model.it3", "--out", "x"},
                     false,
                     OutputMode::Obj,
                     "model.it3",
                     "--out/",
                     "",
                     {"the destination '--out' looks like an option: in this form options come "
                      "first",
                      "'x' after the destination is ignored"}},
        ArgumentCase{{"-g", "a.it3", "-o", "r.glb"},
                     false,
                     OutputMode::Gltf,
                     "a.it3",
                     "-o/",
                     "",
                     {"the destination '-o' looks like an option: in this form options come first",
                      "'r.glb' after the destination is ignored"}},
        // After a mode letter an existing file is a file, whatever its name.
        ArgumentCase{{"-m", "-i", "x"}, false, OutputMode::Mqo, "-i", "x/"},
        ArgumentCase{{"-m", "-weird.it3", "x"}, false, OutputMode::Mqo, "-weird.it3", "x/"},
        ArgumentCase{
            {"-x", "--out", "o", "a.it3"}, true, OutputMode::Obj, "", "", "unknown option '-x'"}));

// The option form, and the one-file form's several inputs: what the one-file form answered with
// the usage text (an option beginning with "--", the letters i, h, j, o, q and v) or did not
// convert (a mode letter followed by an option, a destination that is a model file).
struct OptionCase {
    std::vector<std::string_view> args;
    std::string mistake = "";  // the line on standard error, without "morvex: "
    std::vector<std::string> inputs = {};
    std::string dest = "";
    bool byName = false;
    OutputMode mode = OutputMode::Obj;
    bool inspect = false;
    bool json = false;
    int jobs = 0;
    Verbosity verbosity = Verbosity::Normal;
    std::string outputFile = "";
    bool optionForm = true;
    bool pack = false;
    bool force = false;
};

class OptionTable : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionTable, Parses) {
    const OptionCase& c = GetParam();
    CommandLine line = Parse(c.args);
    ASSERT_EQ(line.mistake, c.mistake) << c.args[0];
    EXPECT_EQ(line.optionForm, c.optionForm);
    // The usage text belongs to the one-file form.
    EXPECT_EQ(line.showUsage, !c.mistake.empty() && !c.optionForm);
    EXPECT_TRUE(line.notes.empty());
    if (!c.mistake.empty()) return;
    EXPECT_EQ(line.inputs, c.inputs);
    EXPECT_EQ(line.inputPath, c.inputs.front());
    EXPECT_EQ(Slashed(line.destPath), c.dest);
    EXPECT_EQ(line.byName, c.byName);
    EXPECT_EQ(static_cast<int>(line.mode), static_cast<int>(c.mode));
    EXPECT_EQ(line.inspect, c.inspect);
    EXPECT_EQ(line.json, c.json);
    EXPECT_EQ(line.options.jobs, c.jobs);
    EXPECT_EQ(line.verbosity, c.verbosity);
    EXPECT_EQ(line.options.outputFile, c.outputFile);
    EXPECT_EQ(line.pack, c.pack);
    EXPECT_EQ(line.force, c.force);
}

using V = Verbosity;
using M = OutputMode;

INSTANTIATE_TEST_SUITE_P(
    CommandLine, OptionTable,
    ::testing::Values(
        OptionCase{.args = {"--out", "o", "a.it3", "models"},
                   .inputs = {"a.it3", "models"},
                   .dest = "o/",
                   .byName = true},
        OptionCase{
            .args = {"--out=o/", "a.it3"}, .inputs = {"a.it3"}, .dest = "o/", .byName = true},
        OptionCase{.args = {"-g", "--out", "o", "a", "b", "c"},
                   .inputs = {"a", "b", "c"},
                   .dest = "o/",
                   .byName = true,
                   .mode = M::Gltf},
        OptionCase{.args = {"-m", "--jobs=3", "models", "out"},
                   .inputs = {"models"},
                   .dest = "out/",
                   .mode = M::Mqo,
                   .jobs = 3},
        OptionCase{.args = {"--jobs", "0", "-c", "models"}, .inputs = {"models"}, .mode = M::Check},
        OptionCase{.args = {"-j", "1", "a.it3"}, .inputs = {"a.it3"}, .jobs = 1},
        OptionCase{
            .args = {"-j4", "a.it3", "-q"}, .inputs = {"a.it3"}, .jobs = 4, .verbosity = V::Quiet},
        OptionCase{.args = {"--verbose", "a.it3", "out"},
                   .inputs = {"a.it3"},
                   .dest = "out/",
                   .verbosity = V::Verbose},
        // Options in any order, after a mode letter too.
        OptionCase{.args = {"-g", "-j", "2", "models", "out"},
                   .inputs = {"models"},
                   .dest = "out/",
                   .mode = M::Gltf,
                   .jobs = 2},
        OptionCase{.args = {"-i", "a.it3", "b.it3", "models"},
                   .inputs = {"a.it3", "b.it3", "models"},
                   .inspect = true},
        OptionCase{
            .args = {"--json", "-i", "a.it3"}, .inputs = {"a.it3"}, .inspect = true, .json = true},
        // "--" ends the options: a file whose name begins with '-'.
        OptionCase{.args = {"--out", "o", "--", "-m", "--x"},
                   .inputs = {"-m", "--x"},
                   .dest = "o/",
                   .byName = true},
        OptionCase{.args = {"--jobs=2", "-", "o"}, .inputs = {"-"}, .dest = "o/", .jobs = 2},
        // -o: one .glb file, the format from its extension.
        OptionCase{.args = {"-o", "dir/robot.GLB", "a.it3"},
                   .inputs = {"a.it3"},
                   .dest = "dir/",
                   .mode = M::Gltf,
                   .outputFile = "dir/robot.GLB"},
        OptionCase{.args = {"-g", "-o", "r.glb", "a.it3"},
                   .inputs = {"a.it3"},
                   .mode = M::Gltf,
                   .outputFile = "r.glb"},
        // Several inputs without --out: each under its name, into the last argument when that
        // is an existing folder, else into the current folder; in the one-file form too.
        OptionCase{.args = {"-g", "a.it3", "b.it3"},
                   .inputs = {"a.it3", "b.it3"},
                   .byName = true,
                   .mode = M::Gltf,
                   .optionForm = false},
        OptionCase{.args = {"a.it3", "b.it3", "gone.it3"},
                   .inputs = {"a.it3", "b.it3", "gone.it3"},
                   .byName = true,
                   .optionForm = false},
        OptionCase{.args = {"a.it3", "b.it3", "existing"},
                   .inputs = {"a.it3", "b.it3"},
                   .dest = "existing/",
                   .byName = true,
                   .optionForm = false},
        OptionCase{.args = {"-q", "a.it3", "b.it3", "models", "existing"},
                   .inputs = {"a.it3", "b.it3", "models"},
                   .dest = "existing/",
                   .byName = true,
                   .verbosity = V::Quiet},
        OptionCase{.args = {"-j1", "a.it3", "b.it3"},
                   .inputs = {"a.it3", "b.it3"},
                   .byName = true,
                   .jobs = 1},
        // Mistakes: one line naming the argument.
        OptionCase{.args = {"--bogus", "a.it3"}, .mistake = "unknown option '--bogus'"},
        OptionCase{.args = {"--format", "glb", "a.it3"}, .mistake = "unknown option '--format'"},
        OptionCase{.args = {"-mqo", "--out", "o", "a.it3"}, .mistake = "unknown option '-mqo'"},
        OptionCase{.args = {"-q", "-x"}, .mistake = "unknown option '-x'"},
        OptionCase{.args = {"--jobs=2"}, .mistake = "no input given"},
        OptionCase{.args = {"-v"}, .mistake = "no input given"},
        OptionCase{.args = {"-i"}, .mistake = "no input given"},
        // --pack takes ORIGINAL, EDITED and NEW, nothing else; --force belongs to it.
        OptionCase{.args = {"--pack", "a.it3", "e.glb", "n.it3"},
                   .inputs = {"a.it3", "e.glb", "n.it3"},
                   .pack = true},
        OptionCase{.args = {"--force", "a.it3", "--pack", "e.glb", "a.it3"},
                   .inputs = {"a.it3", "e.glb", "a.it3"},
                   .pack = true,
                   .force = true},
        OptionCase{.args = {"--pack", "a.it3", "e.glb"},
                   .mistake = "'--pack' takes ORIGINAL, EDITED.glb and NEW, but 2 files are given"},
        OptionCase{.args = {"--force", "a.it3", "e.glb", "n.it3"},
                   .mistake = "'--force' needs --pack"},
        OptionCase{.args = {"--pack", "-g", "a.it3", "e.glb", "n.it3"},
                   .mistake = "'-g' cannot be used with --pack"},
        OptionCase{.args = {"--pack", "-i", "a.it3", "e.glb", "n.it3"},
                   .mistake = "'-i' cannot be used with --pack"},
        OptionCase{.args = {"--pack", "--out", "o", "a.it3", "e.glb", "n.it3"},
                   .mistake = "'--out' cannot be used with --pack"},
        OptionCase{.args = {"--jobs=-1", "a.it3"},
                   .mistake = "'--jobs' takes a number from 0 to 1024, not '-1'"},
        OptionCase{.args = {"--jobs=abc", "a.it3"},
                   .mistake = "'--jobs' takes a number from 0 to 1024, not 'abc'"},
        OptionCase{.args = {"-j2x", "a.it3"},
                   .mistake = "'-j' takes a number from 0 to 1024, not '2x'"},
        OptionCase{.args = {"--jobs=1025", "a.it3"},
                   .mistake = "'--jobs' takes a number from 0 to 1024, not '1025'"},
        OptionCase{.args = {"--jobs", "a.it3"},
                   .mistake = "'--jobs' takes a number from 0 to 1024, not 'a.it3'"},
        OptionCase{.args = {"-j", "1", "-j", "2", "a.it3"}, .mistake = "'-j' is given twice"},
        OptionCase{.args = {"--out"}, .mistake = "'--out' needs DEST after it"},
        OptionCase{.args = {"--out=", "a.it3"}, .mistake = "'--out' needs DEST after it"},
        OptionCase{.args = {"--json=yes", "-i", "a.it3"}, .mistake = "'--json' takes no value"},
        OptionCase{.args = {"--out", "o", "--out", "p", "a.it3"},
                   .mistake = "'--out' is given twice"},
        OptionCase{.args = {"-m", "--out", "o", "-g", "a.it3"},
                   .mistake = "'-g' conflicts with '-m': choose one output mode"},
        OptionCase{.args = {"-m", "-g", "a.it3"},
                   .mistake = "'-g' conflicts with '-m': choose one output mode"},
        OptionCase{.args = {"-q", "-v", "a.it3"}, .mistake = "'-v' conflicts with '-q'"},
        OptionCase{.args = {"--json", "a.it3"}, .mistake = "'--json' needs -i"},
        OptionCase{.args = {"--textures", "jpg", "a.it3"},
                   .mistake = "'--textures' takes bmp or png, not 'jpg'"},
        OptionCase{.args = {"-g", "--textures", "png", "a.it3"},
                   .mistake = "'--textures' is for OBJ and MQO files: -g puts PNG images inside "
                              "the .glb"},
        OptionCase{.args = {"-o", "x.glb", "--textures=bmp", "a.it3"},
                   .mistake = "'--textures' is for OBJ and MQO files: -g puts PNG images inside "
                              "the .glb"},
        OptionCase{.args = {"-c", "--textures", "png", "a.it3"},
                   .mistake = "'--textures' cannot be used with -c, which writes nothing"},
        OptionCase{.args = {"-i", "--json", "-g", "a.it3"},
                   .mistake = "'-g' cannot be used with -i, which writes nothing"},
        OptionCase{.args = {"-i", "--out", "o", "a.it3"},
                   .mistake = "'--out' cannot be used with -i, which writes nothing"},
        OptionCase{.args = {"-o", "out", "a.it3"},
                   .mistake = "'-o out': -o writes one .glb file; OBJ and MQO give a file per "
                              "object and texture: use --out DIR"},
        OptionCase{.args = {"-m", "-o", "x.glb", "a.it3"},
                   .mistake = "'-o x.glb' writes glTF: it conflicts with '-m'"},
        OptionCase{.args = {"-o", "x.glb", "--out", "o", "a.it3"},
                   .mistake = "'-o' conflicts with '--out'"},
        OptionCase{.args = {"-o", "x.glb", "a.it3", "b.it3"},
                   .mistake = "'-o' names one output file, but 2 inputs are given"},
        OptionCase{.args = {"-o", "x.glb", "models"},
                   .mistake = "'-o' names one output file, but 'models' is a folder"},
        OptionCase{.args = {"-g", "a.it3", "b.it3", "newdir"},
                   .mistake = "'newdir' does not exist: with several inputs the last one is the "
                              "destination only when it is an existing folder (or use --out "
                              "newdir)",
                   .optionForm = false},
        OptionCase{.args = {"-j1", "a.it3", "models", "b.it3"},
                   .mistake = "'models' is a folder: with several inputs, name the destination "
                              "with --out DIR or as the last argument"},
        OptionCase{.args = {"a.it3", "b.it3", "-g"},
                   .mistake = "'-g' after the inputs is not read: options come first",
                   .optionForm = false}));

TEST(CommandLine, HelpAndVersion) {
    for (std::vector<std::string_view> args : {std::vector<std::string_view>{"-h"},
                                               {"--help"},
                                               {"--jobs=2", "--help"},
                                               {"-m", "--help"},
                                               {"-i", "a.it3", "-h"}}) {
        const CommandLine line = Parse(args);
        EXPECT_TRUE(line.showHelp) << args[0];
        EXPECT_FALSE(line.showUsage) << args[0];
    }
    EXPECT_TRUE(Parse({"--version"}).showVersion);
    EXPECT_EQ(VersionText(), "morvex " MORVEX_VERSION "\n");
    // Help is English text, one option a line, and says how the exit status is made.
    const std::string help = HelpText();
    for (const char* option :
         {"  -m ", "  -g ", "  -c ", "  -i ", "  --json ", "  -o FILE ", "  --out DEST ",
          "  -j N, --jobs N ", "--jobs=N", "  -q, --quiet ", "  -v, --verbose ", "  -h, --help ",
          "  --version ", "-o FILE.glb FILE", "INPUT... [DEST]", "  --textures bmp|png ",
          "Exit status:", "Examples:"}) {
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

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "convert/converter.h"

namespace morvex {
namespace {

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
    EXPECT_EQ(line.destPath, c.dest);
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
    std::string mistake;  // the line on standard error, without "morvex: "
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
    EXPECT_EQ(line.destPath, c.dest);
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
constexpr OutputMode kObj = OutputMode::Obj, kMqo = OutputMode::Mqo, kGltf = OutputMode::Gltf,
                     kCheck = OutputMode::Check;

INSTANTIATE_TEST_SUITE_P(
    CommandLine, OptionTable,
    ::testing::Values(
        OptionCase{{"--out", "o", "a.it3", "models"}, "", {"a.it3", "models"}, "o/", true},
        OptionCase{{"--out=o/", "a.it3"}, "", {"a.it3"}, "o/", true},
        OptionCase{{"-g", "--out", "o", "a", "b", "c"}, "", {"a", "b", "c"}, "o/", true, kGltf},
        OptionCase{{"-m", "--jobs=3", "models", "out"},
                   "",
                   {"models"},
                   "out/",
                   false,
                   kMqo,
                   false,
                   false,
                   3},
        OptionCase{{"--jobs", "0", "-c", "models"}, "", {"models"}, "", false, kCheck},
        OptionCase{{"-j", "1", "a.it3"}, "", {"a.it3"}, "", false, kObj, false, false, 1},
        OptionCase{
            {"-j4", "a.it3", "-q"}, "", {"a.it3"}, "", false, kObj, false, false, 4, V::Quiet},
        OptionCase{{"--verbose", "a.it3", "out"},
                   "",
                   {"a.it3"},
                   "out/",
                   false,
                   kObj,
                   false,
                   false,
                   0,
                   V::Verbose},
        // Options in any order, after a mode letter too.
        OptionCase{{"-g", "-j", "2", "models", "out"},
                   "",
                   {"models"},
                   "out/",
                   false,
                   kGltf,
                   false,
                   false,
                   2},
        OptionCase{{"-i", "a.it3", "b.it3", "models"},
                   "",
                   {"a.it3", "b.it3", "models"},
                   "",
                   false,
                   kObj,
                   true},
        OptionCase{{"--json", "-i", "a.it3"}, "", {"a.it3"}, "", false, kObj, true, true},
        // "--" ends the options: a file whose name begins with '-'.
        OptionCase{{"--out", "o", "--", "-m", "--x"}, "", {"-m", "--x"}, "o/", true},
        OptionCase{{"--jobs=2", "-", "o"}, "", {"-"}, "o/", false, kObj, false, false, 2},
        // -o: one .glb file, the format from its extension.
        OptionCase{{"-o", "dir/robot.GLB", "a.it3"},
                   "",
                   {"a.it3"},
                   "dir/",
                   false,
                   kGltf,
                   false,
                   false,
                   0,
                   V::Normal,
                   "dir/robot.GLB"},
        OptionCase{{"-g", "-o", "r.glb", "a.it3"},
                   "",
                   {"a.it3"},
                   "",
                   false,
                   kGltf,
                   false,
                   false,
                   0,
                   V::Normal,
                   "r.glb"},
        // Several inputs without --out: each under its name, into the last argument when that
        // is an existing folder, else into the current folder; in the one-file form too.
        OptionCase{{"-g", "a.it3", "b.it3"},
                   "",
                   {"a.it3", "b.it3"},
                   "",
                   true,
                   kGltf,
                   false,
                   false,
                   0,
                   V::Normal,
                   "",
                   false},
        OptionCase{{"a.it3", "b.it3", "gone.it3"},
                   "",
                   {"a.it3", "b.it3", "gone.it3"},
                   "",
                   true,
                   kObj,
                   false,
                   false,
                   0,
                   V::Normal,
                   "",
                   false},
        OptionCase{{"a.it3", "b.it3", "existing"},
                   "",
                   {"a.it3", "b.it3"},
                   "existing/",
                   true,
                   kObj,
                   false,
                   false,
                   0,
                   V::Normal,
                   "",
                   false},
        OptionCase{{"-q", "a.it3", "b.it3", "models", "existing"},
                   "",
                   {"a.it3", "b.it3", "models"},
                   "existing/",
                   true,
                   kObj,
                   false,
                   false,
                   0,
                   V::Quiet},
        OptionCase{
            {"-j1", "a.it3", "b.it3"}, "", {"a.it3", "b.it3"}, "", true, kObj, false, false, 1},
        // Mistakes: one line naming the argument.
        OptionCase{{"--bogus", "a.it3"}, "unknown option '--bogus'"},
        OptionCase{{"--format", "glb", "a.it3"}, "unknown option '--format'"},
        OptionCase{{"-mqo", "--out", "o", "a.it3"}, "unknown option '-mqo'"},
        OptionCase{{"-q", "-x"}, "unknown option '-x'"}, OptionCase{{"--jobs=2"}, "no input given"},
        OptionCase{{"-v"}, "no input given"}, OptionCase{{"-i"}, "no input given"},
        // --pack takes ORIGINAL, EDITED and NEW, nothing else; --force belongs to it.
        OptionCase{{"--pack", "a.it3", "e.glb", "n.it3"},
                   "",
                   {"a.it3", "e.glb", "n.it3"},
                   "",
                   false,
                   kObj,
                   false,
                   false,
                   0,
                   V::Normal,
                   "",
                   true,
                   true},
        OptionCase{{"--force", "a.it3", "--pack", "e.glb", "a.it3"},
                   "",
                   {"a.it3", "e.glb", "a.it3"},
                   "",
                   false,
                   kObj,
                   false,
                   false,
                   0,
                   V::Normal,
                   "",
                   true,
                   true,
                   true},
        OptionCase{{"--pack", "a.it3", "e.glb"},
                   "'--pack' takes ORIGINAL, EDITED.glb and NEW, but 2 files are given"},
        OptionCase{{"--force", "a.it3", "e.glb", "n.it3"}, "'--force' needs --pack"},
        OptionCase{{"--pack", "-g", "a.it3", "e.glb", "n.it3"}, "'-g' cannot be used with --pack"},
        OptionCase{{"--pack", "-i", "a.it3", "e.glb", "n.it3"}, "'-i' cannot be used with --pack"},
        OptionCase{{"--pack", "--out", "o", "a.it3", "e.glb", "n.it3"},
                   "'--out' cannot be used with --pack"},
        OptionCase{{"--jobs=-1", "a.it3"}, "'--jobs' takes a number from 0 to 1024, not '-1'"},
        OptionCase{{"--jobs=abc", "a.it3"}, "'--jobs' takes a number from 0 to 1024, not 'abc'"},
        OptionCase{{"-j2x", "a.it3"}, "'-j' takes a number from 0 to 1024, not '2x'"},
        OptionCase{{"--jobs=1025", "a.it3"}, "'--jobs' takes a number from 0 to 1024, not '1025'"},
        OptionCase{{"--jobs", "a.it3"}, "'--jobs' takes a number from 0 to 1024, not 'a.it3'"},
        OptionCase{{"-j", "1", "-j", "2", "a.it3"}, "'-j' is given twice"},
        OptionCase{{"--out"}, "'--out' needs DEST after it"},
        OptionCase{{"--out=", "a.it3"}, "'--out' needs DEST after it"},
        OptionCase{{"--json=yes", "-i", "a.it3"}, "'--json' takes no value"},
        OptionCase{{"--out", "o", "--out", "p", "a.it3"}, "'--out' is given twice"},
        OptionCase{{"-m", "--out", "o", "-g", "a.it3"},
                   "'-g' conflicts with '-m': choose one output mode"},
        OptionCase{{"-m", "-g", "a.it3"}, "'-g' conflicts with '-m': choose one output mode"},
        OptionCase{{"-q", "-v", "a.it3"}, "'-v' conflicts with '-q'"},
        OptionCase{{"--json", "a.it3"}, "'--json' needs -i"},
        OptionCase{{"-i", "--json", "-g", "a.it3"},
                   "'-g' cannot be used with -i, which writes nothing"},
        OptionCase{{"-i", "--out", "o", "a.it3"},
                   "'--out' cannot be used with -i, which writes nothing"},
        OptionCase{{"-o", "out", "a.it3"},
                   "'-o out': -o writes one .glb file; OBJ and MQO give a file per object and "
                   "texture: use --out DIR"},
        OptionCase{{"-m", "-o", "x.glb", "a.it3"},
                   "'-o x.glb' writes glTF: it conflicts with '-m'"},
        OptionCase{{"-o", "x.glb", "--out", "o", "a.it3"}, "'-o' conflicts with '--out'"},
        OptionCase{{"-o", "x.glb", "a.it3", "b.it3"},
                   "'-o' names one output file, but 2 inputs are given"},
        OptionCase{{"-o", "x.glb", "models"},
                   "'-o' names one output file, but 'models' is a folder"},
        OptionCase{{"-g", "a.it3", "b.it3", "newdir"},
                   "'newdir' does not exist: with several inputs the last one is the destination "
                   "only when it is an existing folder (or use --out newdir)",
                   {},
                   "",
                   false,
                   kObj,
                   false,
                   false,
                   0,
                   V::Normal,
                   "",
                   false},
        OptionCase{{"-j1", "a.it3", "models", "b.it3"},
                   "'models' is a folder: with several inputs, name the destination with --out "
                   "DIR or as the last argument"},
        OptionCase{{"a.it3", "b.it3", "-g"},
                   "'-g' after the inputs is not read: options come first",
                   {},
                   "",
                   false,
                   kObj,
                   false,
                   false,
                   0,
                   V::Normal,
                   "",
                   false}));

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
          "  --version ", "-o FILE.glb FILE", "INPUT... [DEST]", "Exit status:", "Examples:"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(help.find("\xE3"), std::string::npos);  // no Japanese text
}

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

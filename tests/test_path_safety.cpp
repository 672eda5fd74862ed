// Hostile names: object names, texture names and the texture references of Materials that try to
// leave the destination folder, name special folders, or carry control bytes. Every mode must
// write only inside the destination, under the names the ':', '/', '\' (and control byte) → '_'
// rule gives, and keep every console line one line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"
#include "testdata/it3_writer.h"
#include "testdata/texture_writer.h"

namespace morvex::test {
namespace {

struct Hostile {
    const char* label;
    std::string name;
};

const std::vector<Hostile>& HostileNames() {
    static const std::vector<Hostile> names = {
        {"parent_parent", "../../x"},
        {"deep_parents", "../../../../../../../../../../tmp/x"},
        {"absolute", "/abs/x"},
        {"slash_alone", "/"},
        {"trailing_slash", "x/"},
        {"backslash", "a\\b"},
        {"backslash_parents", "..\\..\\x"},
        {"drive", "C:\\x"},
        {"colon", "a:b"},
        {"dot_dot", ".."},
        {"dot", "."},
        {"empty", ""},
        {"newline", "a\nb"},
        {"carriage_return", "a\rb"},
        {"newline_fake_line", "x\n-> /etc/passwd"},
        {"escape_sequence", "\x1b[31mred"},
        {"tab_and_del", "a\tb\x7f"},
        {"high_bytes", "\xff\xfe\x80"},
        {"long", std::string(300, 'n')},
    };
    return names;
}

// The rule for output names: ':', '/', '\' and control bytes become '_'. On Windows * ? " < > |
// and trailing dots and blanks become '_' too, and file names are decoded first (where the bytes
// of these names are no text: "%XX"); names inside text files are not (`decode` false).
std::string Safe(const std::string& name, bool decode = true) {
    std::string safe;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (platform::kWindows && decode && u >= 0x80) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            safe += {'%', kHex[u >> 4], kHex[u & 15]};
            continue;
        }
        const bool windows =
            platform::kWindows && std::string_view("*?\"<>|").find(c) != std::string_view::npos;
        safe += c == ':' || c == '/' || c == '\\' || u < 0x20 || u == 0x7F || windows ? '_' : c;
    }
    for (std::size_t k = safe.size();
         platform::kWindows && k > 0 && (safe[k - 1] == '.' || safe[k - 1] == ' '); --k) {
        safe[k - 1] = '_';
    }
    return safe;
}

// One object named `name` whose Material uses the texture and alpha map `name`, and a texture
// block `name` (names longer than their fields are cut by the writer to fill the field without a
// NUL: 64 bytes in a Material, 36 in a texture block).
testdata::ByteVector Model(const std::string& name) {
    testdata::Mesh quad;
    for (float x : {0.0f, 1.0f}) {
        for (float y : {0.0f, 1.0f}) quad.vertices.push_back({{x, y, 0}, {0, 0, 1}, {x, y}});
    }
    quad.indices = {0, 1, 2, 2, 1, 3};
    testdata::It3Writer w;
    w.Info(name);
    w.Block("MAT2", testdata::MaterialPayload("MAT2", {{"m", name, name, 1.0f}}));
    w.Block("VPA5", testdata::VertexPayload("VPA5", {quad}));
    w.Block("TEXI",
            testdata::TexiPayload(name, testdata::EncodeTexture1002(testdata::SkinTone(16, 8))));
    return w.Bytes();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

class HostileName : public testing::TestWithParam<Hostile> {};

TEST_P(HostileName, EveryModeWritesOnlyInsideTheDestination) {
    const std::string name = GetParam().name;
    const std::string reference = name.substr(0, 64), texture = name.substr(0, 36);
    const bool tooLong = name.size() > 200;  // the object's file name exceeds what a folder holds
    if (tooLong && platform::kWindows) {
        GTEST_SKIP() << "Wine reports a name longer than the system's limit as missing, so its "
                        "failure comes at the rename (Can not write) rather than at the create";
    }
    for (const char* mode : {"-c", "", "-m", "-g"}) {
        SCOPED_TRACE(std::string("mode ") + mode);
        TempDir root;
        const fs::path work = root.Path() / "a" / "b" / "work";
        fs::create_directories(work / "out");
        WriteBytes(work / "model.it3", Model(name));
        const auto before = SnapshotTree(root.Path());

        std::vector<std::string> args;
        if (*mode) args.push_back(mode);
        args.insert(args.end(), {"model.it3", "out"});
        const RunResult run = RunMorvex(args, work, RunLimits{120, 1 << 20});
        ASSERT_EQ(run.signal, 0);

        // Only the destination changed.
        const auto after = SnapshotTree(root.Path());
        const std::string dest = "a/b/work/out/";
        for (const auto& [path, content] : after) {
            if (!StartsWith(path, dest)) {
                EXPECT_TRUE(before.count(path) && before.at(path) == content)
                    << "created or changed: " << path;
            }
        }
        for (const auto& [path, content] : before) {
            if (!StartsWith(path, dest)) {
                EXPECT_TRUE(after.count(path)) << "removed: " << path;
            }
        }
        EXPECT_FALSE(fs::exists("/abs/x"));

        // The files, under the names the rule gives.
        std::set<std::string> expected;
        const std::string stem = "model_00_" + Safe(name);
        const std::string mode1 = mode;
        if (mode1 == "" && !tooLong) expected = {stem + ".obj", stem + ".mtl"};
        if (mode1 == "-m" && !tooLong) expected = {stem + ".mqo"};
        if (mode1 == "" || mode1 == "-m") expected.insert(Safe(texture) + ".bmp");
        if (mode1 == "-g") expected = {"model.glb"};
        const std::vector<std::string> files = ListTree(work / "out");
        EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), expected);
        EXPECT_EQ(files.size(), expected.size());

        // One line per message, and the exit status.
        std::vector<std::string> errors;
        std::size_t start = 0;
        while (start < run.output.size()) {
            const std::size_t end = run.output.find('\n', start);
            ASSERT_NE(end, std::string::npos) << "unterminated line";
            const std::string line = run.output.substr(start, end - start);
            EXPECT_TRUE(StartsWith(line, "-> out/") || StartsWith(line, "Warning : ") ||
                        StartsWith(line, "Error : "))
                << line;
            if (StartsWith(line, "-> ")) {
                EXPECT_TRUE(fs::is_regular_file(work / line.substr(3))) << line;
            }
            if (StartsWith(line, "Error : ")) errors.push_back(line);
            start = end + 1;
        }
        const bool createFails = tooLong && (mode1 == "" || mode1 == "-m");
        EXPECT_EQ(run.status, createFails ? 1 : 0) << run.output;
        if (createFails) {
            ASSERT_EQ(errors.size(), 1u) << run.output;
            EXPECT_EQ(errors[0],
                      "Error : Can not create out/" + stem + (mode1 == "" ? ".obj." : ".mqo."));
        } else {
            EXPECT_TRUE(errors.empty()) << run.output;
        }

        // The references inside the files name the texture file the export writes.
        if (mode1 == "" && !tooLong && !reference.empty()) {
            const std::string mtl = ReadText(work / "out" / (stem + ".mtl"));
            const std::string text = Safe(reference, false);
            EXPECT_NE(mtl.find("map_Kd " + text + ".bmp\r\n"), std::string::npos) << mtl;
            EXPECT_NE(mtl.find("map_d " + text + ".bmp\r\n"), std::string::npos) << mtl;
        }
        if (mode1 == "-m" && !tooLong && !reference.empty()) {
            const std::string mqo = ReadText(work / "out" / (stem + ".mqo"));
            EXPECT_NE(mqo.find("tex(\"" + Safe(reference, false) + ".bmp\")"), std::string::npos)
                << mqo;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Names, HostileName, testing::ValuesIn(HostileNames()),
                         [](const testing::TestParamInfo<Hostile>& info) {
                             return std::string(info.param.label);
                         });

// The messages that quote names from the model stay one line: control bytes show as '?'.
TEST(HostileNameMessages, ControlBytesInQuotedNamesShowAsQuestionMarks) {
    testdata::It3Writer w;
    w.Info("a\nb").Block("MAT2", testdata::ByteVector{2, 0, 0, 0});  // no chunk: broken
    w.Block("VPA5", testdata::VertexPayload("VPA5", {}));
    w.Info("c\rd").Block("MATE", testdata::MaterialPayload("MATE", {{"m", "", "", 0.0f}}));
    testdata::ByteVector vertices = testdata::VertexPayload("VPA5", {});
    vertices[0] = 0xFF, vertices[1] = 0xFF, vertices[2] = 0xFF, vertices[3] = 0xFF;  // count -1
    w.Block("VPA5", vertices);
    w.Block("TEXI", testdata::TexiPayload("t\x1b[2J", testdata::ByteVector{0xE9, 0x03, 0, 0}));
    w.Block(std::string("\n\n\n\n", 4), testdata::ByteVector{});
    TempDir dir;
    WriteBytes(dir / "model.it3", w.Bytes());
    const ConvertResult r = ConvertInProcess(dir / "model.it3", (dir.Path() / "").string(), 0);
    EXPECT_EQ(r.output.substr(0, r.output.find("-> ")),
              "Warning : unknown block : ????"
              "(0x0A0A0A0A)\n"
              "Warning : object a?b skipped: broken material block.\n");
    EXPECT_NE(r.output.find("Warning : object c?d meshes skipped: negative mesh count.\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Warning : can not convert texture t?[2J.\n"), std::string::npos)
        << r.output;
}

// Model files whose names would make a folder of their own outside the destination, or the same
// folder as another model's: each model of a folder run gets a folder of its own inside it.
TEST(HostileModelNames, EachModelWritesIntoAFolderOfItsOwnInsideTheDestination) {
    if (platform::kWindows) {
        GTEST_SKIP() << "names Windows cannot hold: '\\' in a name, trailing blanks, device names";
    }
    struct Case {
        const char* file;
        const char* folder;  // its output folder below out/ (OBJ, MQO); empty: not converted
    };
    const Case cases[] = {
        {"....it3", "___"},  {"...it3", "__"},          {"..it3", "_"},      {"_.it3", ""},
        {".it3", ".it3"},    {"a .it3", "a_"},          {"a..it3", ""},      {"a_.it3", ""},
        {"con.it3", "_con"}, {"Lpt1.x.it3", "_Lpt1.x"}, {"n\\l.it3", "n_l"},
    };
    TempDir root;
    const fs::path work = root.Path() / "a" / "work";
    fs::create_directories(work / "models");
    for (const Case& c : cases) WriteBytes(work / "models" / c.file, Model("o"));
    const auto before = SnapshotTree(root.Path());
    for (const char* mode : {"", "-m", "-g"}) {
        SCOPED_TRACE(std::string("mode ") + mode);
        fs::remove_all(work / "out");
        std::vector<std::string> args;
        if (*mode) args.push_back(mode);
        args.insert(args.end(), {"models", "out"});
        const RunResult run = RunMorvex(args, work, RunLimits{120, 1 << 20});
        // Models that would share a folder are refused after the first (in sorted order). Their
        // .glb files have names of their own.
        const bool gltf = std::string(mode) == "-g";
        EXPECT_EQ(run.status, gltf ? 0 : 1) << run.output;
        auto after = SnapshotTree(root.Path());
        std::erase_if(after,
                      [](const auto& entry) { return StartsWith(entry.first, "a/work/out/"); });
        EXPECT_EQ(after, before);
        for (const Case& c : cases) {
            const std::string model = std::string("models/") + c.file;
            const std::size_t at = run.output.find("Model : " + model + "\n");
            ASSERT_NE(at, std::string::npos) << run.output;
            const std::size_t end = run.output.find("Model : ", at + 1);
            const std::string group = run.output.substr(at, end - at);
            if (gltf) continue;
            if (*c.folder == '\0') {
                EXPECT_NE(group.find("its outputs would replace those of"), std::string::npos)
                    << group;
            } else {
                EXPECT_NE(group.find(std::string("-> out/") + c.folder + "/o.bmp\n"),
                          std::string::npos)
                    << group;
                EXPECT_TRUE(fs::is_regular_file(work / "out" / c.folder / "o.bmp")) << c.folder;
            }
        }
    }
}

// Trees with links, FIFOs and links already in the destination: a run writes only below its
// destination folder, never through a link there, follows no link below an input folder unless
// asked to, and then not out of the file system; what it passes over is a warning, and fails the
// run only for a model's name.
TEST(HostileTrees, NothingIsFollowedOutOfTheInputsOrTheDestination) {
    if (platform::kWindows) {
        GTEST_SKIP() << "FIFOs and symbolic links cannot be made here (the C++ library of MinGW "
                        "has no links, Windows no FIFOs)";
    }
    struct Entry {
        const char* path;
        const char* link;  // a link to this; nullptr: a model ("fifo": a FIFO)
    };
    struct Case {
        const char* label;
        std::vector<Entry> entries;
        std::vector<std::string> args;
        int status;
        std::vector<std::string> lines;  // lines standard output must hold
    };
    const Case cases[] = {
        {"link_in_destination",
         {{"models/ships/wing.it3", nullptr}, {"out/ships", "../victim"}},
         {"models", "out"},
         1,
         {"Error : Can not create folder out/ships/wing: out/ships is a link, not followed."}},
        {"model_folder_is_a_link",
         {{"models/wing.it3", nullptr}, {"out/wing", "../victim"}},
         {"-m", "models", "out"},
         1,
         {"Error : Can not create folder out/wing: out/wing is a link, not followed."}},
        {"links_not_followed",
         {{"models/a.it3", nullptr},
          {"models/up", ".."},
          {"models/b.it3", "../victim/v.it3"},
          {"models/gone", "nowhere"},
          {"models/gone.it3", "nowhere"}},
         {"models", "out"},
         0,
         {"Warning : models/b.it3 is a link, not followed (--follow-links follows links).",
          "Warning : models/gone.it3 is a link, not followed (--follow-links follows links).",
          "Warning : models/up is a link, not followed (--follow-links follows links).",
          "Model : models/a.it3"}},
        {"links_followed",
         {{"models/a.it3", nullptr},
          {"models/proc", "/proc/self"},
          {"models/alias", "."},
          {"models/gone", "nowhere"},
          {"models/self", "self"},
          {"models/sub/c.it3", nullptr},
          {"models/zagain", "sub"}},
         {"--follow-links", "models", "out"},
         0,
         {"Warning : models/alias leads back to a folder above it, not followed.",
          "Warning : models/zagain leads to a folder already searched, not followed.",
          "Warning : models/gone is a link that leads nowhere (No such file or directory), "
          "skipped.",
          "Warning : models/proc leads to another file system, not followed.",
          "Warning : models/self is a link that leads nowhere (Too many levels of symbolic "
          "links), skipped.",
          "Model : models/a.it3"}},
        {"fifo_below_a_folder",
         {{"models/a.it3", nullptr}, {"models/pipe.it3", "fifo"}},
         {"-g", "models", "out"},
         0,
         {"Warning : models/pipe.it3 is not a regular file, skipped."}},
        {"fifo_given",
         {{"pipe.it3", "fifo"}},
         {"pipe.it3", "out"},
         1,
         {"Warning : pipe.it3 is not a regular file, skipped."}},
        {"fifo_inspected",
         {{"pipe.it3", "fifo"}},
         {"-i", "pipe.it3"},
         1,
         {"Error : pipe.it3 is not a regular file, skipped."}},
        {"fifo_packed",
         {{"a.it3", nullptr}, {"pipe.glb", "fifo"}},
         {"--pack", "a.it3", "pipe.glb", "out/new.it3"},
         1,
         {"Error : Can not open pipe.glb."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir root;
        const fs::path work = root.Path() / "work";
        fs::create_directories(work / "victim");
        fs::create_directories(work / "out");
        WriteBytes(work / "victim" / "v.it3", Model("v"));
        for (const Entry& e : c.entries) {
            fs::create_directories((work / e.path).parent_path());
            if (e.link == nullptr) {
                WriteBytes(work / e.path, Model("o"));
            } else if (std::string(e.link) == "fifo") {
#ifndef _WIN32
                ASSERT_EQ(mkfifo((work / e.path).c_str(), 0644), 0);
#endif
            } else {
                fs::create_symlink(e.link, work / e.path);
            }
        }
        auto before = SnapshotTree(root.Path());
        const RunResult run = RunMorvex(c.args, work, RunLimits{60, 1 << 20});
        ASSERT_EQ(run.signal, 0) << "a FIFO blocked the run";
        EXPECT_EQ(run.status, c.status) << run.output;
        // The option form prints the warnings and errors on standard error.
        const std::vector<std::string> lines = SplitLines(run.output + run.errors);
        for (const std::string& line : c.lines) {
            EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line << "\n"
                                                                       << run.output << run.errors;
        }
        // Nothing changed outside out/, and out/ holds only real folders and files.
        auto after = SnapshotTree(root.Path());
        std::erase_if(after, [](const auto& e) { return StartsWith(e.first, "work/out/"); });
        std::erase_if(before, [](const auto& e) { return StartsWith(e.first, "work/out/"); });
        EXPECT_EQ(after, before);
        EXPECT_EQ(ListTree(work / "victim"), std::vector<std::string>{"v.it3"});
    }
}

// Folder names, file names and destinations with line breaks and escape sequences: every path in
// every console line shows them as '?', so no line can be made to look like another, and the
// summary counts the files written, not the lines that name them.
TEST(HostileModelNames, ConsoleLinesCannotBeForged) {
    if (platform::kWindows) {
        GTEST_SKIP() << "names Windows cannot hold: line breaks and '/' in a folder name";
    }
    TempDir root;
    const fs::path work = root.Path();
    const std::string forged = "x\n-> /etc/passwd\nModel : fake";
    fs::create_directories(work / "models" / forged);
    WriteBytes(work / "models" / forged / "a.it3", Model("o"));
    WriteBytes(work / "models" / "b\x1b[2J.it3", Model("o"));
    WriteBytes(work / "c.it3", Model("o"));
    struct Run {
        std::vector<std::string> args;
        std::vector<std::string> lines;  // every line of standard output, in order
    };
    const Run runs[] = {
        {{"models", "out"},
         {"Model : models/b?[2J.it3", "-> out/b_[2J/b_[2J_00_o.obj", "-> out/b_[2J/b_[2J_00_o.mtl",
          "-> out/b_[2J/o.bmp", "Model : models/x?-> /etc/passwd?Model : fake/a.it3",
          "-> out/x?-> /etc/passwd?Model : fake/a/a_00_o.obj",
          "-> out/x?-> /etc/passwd?Model : fake/a/a_00_o.mtl",
          "-> out/x?-> /etc/passwd?Model : fake/a/o.bmp"}},
        {{"-c", "models"},
         {"Model : models/b?[2J.it3", "Model : models/x?-> /etc/passwd?Model : fake/a.it3"}},
        {{"-g", "c.it3", "o\nut\x1b"}, {"-> o?ut?/c.glb"}},
    };
    for (const Run& r : runs) {
        SCOPED_TRACE(r.args.front());
        const RunResult run = RunMorvex(r.args, work);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(SplitLines(run.output), r.lines) << run.output;
        if (r.args.front() == "models") {
            EXPECT_NE(
                run.errors.find("2 models converted, 0 damaged, 0 failed; 0 warnings; 2 objects, "
                                "2 textures; 6 files"),
                std::string::npos)
                << run.errors;
        }
    }
}

}  // namespace
}  // namespace morvex::test

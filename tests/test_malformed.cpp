// The malformed-file corpus (tests/malformed, made by tools/make_malformed_corpus): every file is
// converted by the built morvex in every mode (a .glb file packed against pack_original.it3),
// each run in a fresh sandbox, and must end normally, print only well-formed console lines,
// write only inside its destination folder and print the warnings the manifest lists for the
// parts it skips.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "it3/byte_reader.h"
#include "platform/platform.h"
#include "test_support.h"
#include "testdata/it3_writer.h"

namespace morvex::test {
namespace {

const fs::path kCorpus = fs::path(MORVEX_SOURCE_DIR) / "tests" / "malformed";
constexpr char kModes[] = {'c', 'o', 'm', 'g'};
constexpr char kPackMode = 'p';

struct CorpusEntry {
    std::string file;
    std::map<char, std::vector<std::string>> expect;  // mode -> "Warning : " / "Error : " lines
    std::map<char, int> status;                       // mode -> exit status (0 if absent)
    bool lenient = false;
};

// Test logs name the corpus file rather than dumping the entry's bytes.
void PrintTo(const CorpusEntry& entry, std::ostream* os) {
    *os << entry.file;
}

std::vector<CorpusEntry> ReadManifest() {
    std::vector<CorpusEntry> entries;
    std::ifstream in(kCorpus / "MANIFEST", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "file") {
            entries.push_back({rest, {}, {}, false});
            continue;
        }
        if (entries.empty()) continue;
        if (word == "lenient") {
            entries.back().lenient = true;
            continue;
        }
        const std::size_t split = rest.find(' ');
        const std::string modes = rest.substr(0, split), value = rest.substr(split + 1);
        for (char mode : modes) {
            if (word == "expect") entries.back().expect[mode].push_back(value);
            if (word == "status") entries.back().status[mode] = std::stoi(value);
        }
    }
    return entries;
}

const std::vector<CorpusEntry>& Manifest() {
    static const std::vector<CorpusEntry> entries = ReadManifest();
    return entries;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> ModeArgs(char mode) {
    switch (mode) {
        case 'c':
            return {"-c"};
        case 'm':
            return {"-m"};
        case 'g':
            return {"-g"};
        default:
            return {};
    }
}

// Runs one conversion of `input` in a sandbox: <root>/a/b/work holds the input as model.it3 and
// the destination folder out; the whole root is compared before and after.
void CheckRun(const fs::path& input, char mode, const CorpusEntry& entry) {
    SCOPED_TRACE(std::string("mode ") + mode);
    TempDir root;
    const fs::path work = root.Path() / "a" / "b" / "work";
    fs::create_directories(work / "out");
    std::vector<std::string> args = ModeArgs(mode);
    if (mode == kPackMode) {
        fs::copy_file(kCorpus / "pack_original.it3", work / "original.it3");
        fs::copy_file(input, work / "model.glb");
        args = {"--pack", "original.it3", "model.glb", "out/new.it3"};
    } else {
        fs::copy_file(input, work / "model.it3");
        args.push_back("model.it3");
        args.push_back("out");
    }
    const std::map<std::string, std::string> before = SnapshotTree(root.Path());

    const RunResult run = RunMorvex(args, work, RunLimits{120, 1 << 20});

    ASSERT_EQ(run.signal, 0) << "ended by a signal (SIGALRM: it ran for minutes)";
    ASSERT_FALSE(run.outputCut) << "more than 1 MiB of console output";
    const auto status = entry.status.find(mode);
    EXPECT_EQ(run.status, status == entry.status.end() ? 0 : status->second) << run.output;

    // Console lines: one of the three kinds, every one complete.
    EXPECT_TRUE(run.output.empty() || run.output.back() == '\n') << run.output;
    std::vector<std::string> messages, written;
    // The pack, a form with options, prints its warnings and errors on standard error.
    std::vector<std::string> lines = test::SplitLines(run.output);
    if (mode == kPackMode) {
        for (std::string& line : test::SplitLines(run.errors)) lines.push_back(std::move(line));
    }
    for (const std::string& line : lines) {
        if (StartsWith(line, "-> ")) {
            written.push_back(line.substr(3));
        } else if (StartsWith(line, "Warning : ") || StartsWith(line, "Error : ")) {
            messages.push_back(line);
        } else {
            ADD_FAILURE() << "unexpected console line: " << line;
        }
    }

    // Every "-> " line names a file in the destination, and every file there was announced.
    std::vector<std::string> announced;
    for (const std::string& path : written) {
        EXPECT_TRUE(StartsWith(path, "out/")) << path;
        EXPECT_TRUE(fs::is_regular_file(work / path)) << path;
        announced.push_back(fs::path(path).filename().string());
    }
    std::sort(announced.begin(), announced.end());
    announced.erase(std::unique(announced.begin(), announced.end()), announced.end());
    EXPECT_EQ(ListTree(work / "out"), announced);
    if (mode == 'c') {
        EXPECT_TRUE(announced.empty());
    }

    // Nothing outside the destination folder was created, changed or removed.
    const std::map<std::string, std::string> after = SnapshotTree(root.Path());
    const std::string dest = "a/b/work/out/";
    for (const auto& [path, content] : before) {
        if (StartsWith(path, dest)) continue;
        auto found = after.find(path);
        EXPECT_TRUE(found != after.end() && found->second == content)
            << "changed or removed: " << path;
    }
    for (const auto& [path, content] : after) {
        if (!StartsWith(path, dest) && path != dest) {
            EXPECT_TRUE(before.count(path)) << "created outside the destination: " << path;
        }
    }

    // The warnings and errors the manifest lists; without `lenient`, exactly those.
    std::vector<std::string> expected;
    if (auto e = entry.expect.find(mode); e != entry.expect.end()) expected = e->second;
    std::sort(expected.begin(), expected.end());
    std::sort(messages.begin(), messages.end());
    if (!entry.lenient) {
        EXPECT_EQ(messages, expected) << run.output;
        return;
    }
    std::vector<std::string> missing;
    std::set_difference(expected.begin(), expected.end(), messages.begin(), messages.end(),
                        std::back_inserter(missing));
    EXPECT_TRUE(missing.empty()) << "missing: " << (missing.empty() ? "" : missing[0]) << "\n"
                                 << run.output;
    for (const std::string& m : messages) {
        EXPECT_FALSE(StartsWith(m, "Error : ")) << m;
    }
}

class MalformedCorpus : public testing::TestWithParam<CorpusEntry> {};

TEST_P(MalformedCorpus, EveryModeStaysSafeAndReportsWhatItSkips) {
    const CorpusEntry& entry = GetParam();
    const fs::path input = kCorpus / entry.file;
    ASSERT_TRUE(fs::is_regular_file(input)) << input;
    if (input.extension() == ".glb") {
        CheckRun(input, kPackMode, entry);
        return;
    }
    for (char mode : kModes) CheckRun(input, mode, entry);
}

std::string TestName(const testing::TestParamInfo<CorpusEntry>& info) {
    std::string name = info.param.file.substr(0, info.param.file.rfind('.'));
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, MalformedCorpus, testing::ValuesIn(Manifest()), TestName);

TEST(MalformedCorpusManifest, ListsEveryCorpusFileOnce) {
    std::vector<std::string> listed;
    for (const CorpusEntry& e : Manifest()) listed.push_back(e.file);
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> present = ListFiles(kCorpus);
    present.erase(std::remove(present.begin(), present.end(), "MANIFEST"), present.end());
    EXPECT_GT(listed.size(), 100u);
    EXPECT_EQ(listed, present);
}

// The committed corpus is exactly what the generator writes: it was made by the program, not
// edited by hand, and a change to the generator must come with the regenerated files.
TEST(MalformedCorpusManifest, GeneratorReproducesTheCommittedCorpus) {
    TempDir fresh;
    // Appended piece by piece: g++ 12 reports a false -Wrestrict for "literal" + string.
    // cmd.exe takes the outer quotes off a command that begins with one: Windows gets a pair more.
    std::string command = platform::kWindows ? "\"\"" : "\"";
    command += MORVEX_CORPUS_GENERATOR;
    command += "\" \"";
    command += fresh.Path().string();
    command += platform::kWindows ? "\"\"" : "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<std::string> made = ListFiles(fresh.Path());
    ASSERT_EQ(made, ListFiles(kCorpus));
    for (const std::string& name : made) {
        EXPECT_TRUE(ReadBytes(fresh / name) == ReadBytes(kCorpus / name)) << name << " differs";
    }
}

// A mesh count taken from the file costs no more than the data holds: the meshes the vertex block
// cannot locate are reported in one line, not one line each (a count of 2^31 - 1 used to print
// two billion lines).
TEST(MeshCountFromTheFile, MeshesBeyondTheDataAreReportedInOneLine) {
    struct Case {
        const char* tag;
        std::int32_t count;
        std::vector<std::string> warnings;
        int meshesWritten;
    };
    const Case cases[] = {
        {"VPAC",
         INT32_MAX,
         {"Warning : object o meshes 0 to 2147483646 skipped: broken vertex data."},
         0},
        {"VPA5", 1000, {"Warning : object o meshes 0 to 999 skipped: broken vertex data."}, 0},
        {"VPA2",
         INT32_MAX,
         {"Warning : object o meshes 2 to 2147483646 skipped: broken vertex data."},
         2},
        {"VPA8", 3, {"Warning : object o mesh 2 skipped: broken vertex data."}, 2},
        {"VPA4", -1, {"Warning : object o meshes skipped: negative mesh count."}, 0},
        {"VPA8", INT32_MIN, {"Warning : object o meshes skipped: negative mesh count."}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tag) + " " + std::to_string(c.count));
        testdata::Mesh quad;
        for (int k = 0; k < 3; ++k) quad.vertices.push_back({});
        quad.indices = {0, 1, 2};
        testdata::ByteVector vertices = testdata::VertexPayload(c.tag, {quad, quad});
        morvex::StoreU32(vertices.data(), static_cast<std::uint32_t>(c.count));
        testdata::It3Writer file;
        file.Info("o").Block("MATE", testdata::MaterialPayload("MATE", {{"m", "", "", 0.0f}}));
        file.Block(c.tag, vertices);
        TempDir dir;
        WriteBytes(dir / "model.it3", file.Bytes());
        for (int mode : {0, 1, 2}) {
            ConvertResult r = ConvertInProcess(dir / "model.it3", (dir.Path() / "").string(), mode);
            std::vector<std::string> warnings;
            for (const std::string& line : test::SplitLines(r.output)) {
                if (StartsWith(line, "Warning : ")) warnings.push_back(line);
            }
            EXPECT_EQ(warnings, c.warnings) << "mode " << mode;
            if (mode == 1) {  // one Object chunk per mesh written
                const std::string mqo = ReadText(dir / "model_00_o.mqo");
                std::size_t objects = 0;
                for (std::size_t at = mqo.find("\nObject "); at != std::string::npos;
                     at = mqo.find("\nObject ", at + 1))
                    ++objects;
                EXPECT_EQ(objects, static_cast<std::size_t>(c.meshesWritten));
            }
        }
    }
}

}  // namespace
}  // namespace morvex::test

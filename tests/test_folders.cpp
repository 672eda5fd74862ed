// Runs of many models through the built executable: folders and several inputs, the mirrored
// destinations, the console groups, the summary, the progress line and the destination folder.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "batch/progress.h"
#include "cli/command_line.h"
#include "platform/platform.h"
#include "test_support.h"
#include "testdata/it3_writer.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using testdata::ByteVector;
using testdata::It3Writer;

// One object (a triangle) whose material names `texture`, a TEXI block of that name with a
// picture of its own, and `unknown` blocks of an unknown tag (one warning line each).
ByteVector SmallModel(const std::string& object, const std::string& texture, std::uint32_t seed,
                      int unknown = 0) {
    It3Writer file;
    testdata::Mesh mesh;
    mesh.vertices = {test::V(0, 0, 0), test::V(1, 0, 0), test::V(0, 1, 0)};
    mesh.indices = {0, 1, 2};
    file.Info(object).Block("MATE",
                            testdata::MaterialPayload("MATE", {{"skin", texture, "", 4.0f}}));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {mesh}));
    for (int k = 0; k < unknown; ++k)
        file.Block(std::string("ZZZ") += static_cast<char>('0' + k % 10), ByteVector(4, 0));
    file.Block("TEXI", testdata::TexiPayload(texture, testdata::EncodeTexture1004(
                                                          testdata::TestPicture(16, 8, seed))));
    return file.Bytes();
}

void Write(const fs::path& file, const ByteVector& bytes) {
    fs::create_directories(file.parent_path());
    test::WriteBytes(file, bytes);
}

// What running each model alone in the one-file form prints, grouped as a run of many prints
// it: the folder mode must give exactly this, and the same files.
std::string OneByOne(const fs::path& work,
                     const std::vector<std::pair<std::string, std::string>>& modelsAndDests,
                     const std::vector<std::string>& mode = {}) {
    std::string expected;
    for (const auto& [model, dest] : modelsAndDests) {
        fs::create_directories(work / dest);
        std::vector<std::string> args = mode;
        args.push_back(model);
        args.push_back(dest);
        expected += "Model : " + model + "\n" + test::RunMorvex(args, work).output;
    }
    return expected;
}

TEST(Folders, ConvertTheTreeIntoMirroredFoldersLikeOneFileRuns) {
    test::TempDir dir;
    const fs::path models = dir / "models";
    Write(models / "a.it3", SmallModel("body", "wing2", 1, 1));
    Write(models / "nested" / "deeper" / "b.It3", SmallModel("cap", "cap", 2));
    Write(models / "nested" / "readme.txt", ByteVector{'h', 'i'});
    Write(models / "broken.it3", ByteVector{'N', 'O', 'P', 'E'});
    Write(models / "x" / "wing.it3", SmallModel("left", "wing2", 3));
    Write(models / "y" / "wing.it3", SmallModel("right", "wing2", 4));
    fs::create_directories(models / "empty");
    if (!test::MakeLink("..", models / "nested" / "loop", true) ||
        !test::MakeLink("deeper", models / "nested" / "zagain", true)) {  // searched already
        GTEST_SKIP() << "symbolic links cannot be made here (the C++ library of MinGW has none)";
    }

    test::RunResult run = test::RunMorvex({"models", "out"}, dir.Path());
    EXPECT_EQ(run.status, 1);  // broken.it3 failed
    const auto tree = test::SnapshotTree(dir / "out");

    // The same models one by one, into the same folders.
    fs::remove_all(dir / "out");
    const std::string expected =
        "Warning : models/nested/loop is a link, not followed (--follow-links follows links).\n"
        "Warning : models/nested/zagain is a link, not followed (--follow-links follows "
        "links).\n" +
        OneByOne(dir.Path(), {{"models/a.it3", "out/a"},
                              {"models/broken.it3", "out/broken"},
                              {"models/nested/deeper/b.It3", "out/nested/deeper/b"},
                              {"models/x/wing.it3", "out/x/wing"},
                              {"models/y/wing.it3", "out/y/wing"}});
    fs::remove(dir / "out" / "broken");  // the folder mode leaves no empty folder behind
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(tree, test::SnapshotTree(dir / "out"));
    // Two models with a texture of the same name: both files kept, each its own picture.
    EXPECT_TRUE(fs::exists(dir / "out" / "a" / "wing2.bmp"));
    EXPECT_NE(test::ReadBytes(dir / "out" / "x" / "wing" / "wing2.bmp"),
              test::ReadBytes(dir / "out" / "y" / "wing" / "wing2.bmp"));
    EXPECT_EQ(test::ReadText(dir / "out" / "x" / "wing" / "wing_00_left.mtl").find("wing2.bmp") !=
                  std::string::npos,
              true);
    EXPECT_FALSE(fs::exists(dir / "out" / "empty"));
    EXPECT_FALSE(fs::exists(dir / "out" / "nested" / "readme"));

    // The summary and the failed models on standard error.
    EXPECT_NE(run.errors.find("morvex: 4 models converted, 0 damaged, 1 failed; 1 warning; 4 "
                              "objects, 4 textures; 12 files, "),
              std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find("failed:\n  models/broken.it3: This file is not it3 file.\n"),
              std::string::npos)
        << run.errors;
    // Not a terminal: no progress line.
    EXPECT_EQ(run.errors.find('\r'), std::string::npos);
    EXPECT_EQ(run.errors.find('\033'), std::string::npos);
}

TEST(Folders, GroupsStayWholeAndInOrderWhateverTheJobs) {
    test::TempDir dir;
    std::vector<std::pair<std::string, std::string>> expectedModels;
    for (int k = 0; k < 40; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "m%02d", k);
        // Models of different sizes and warnings finish out of order under many jobs.
        const std::string stem = name;
        Write(dir / "models" / (stem + ".it3"),
              SmallModel(stem, "t", static_cast<std::uint32_t>(k), k % 7));
        expectedModels.push_back({"models/" + stem + ".it3", "out/" + stem});
    }
    const std::string oneByOne = OneByOne(dir.Path(), expectedModels);
    // With options the warnings go to standard error, each behind its model's path.
    std::string files, warnings, model;
    for (const std::string& line : test::SplitLines(oneByOne)) {
        if (line.rfind("Model : ", 0) == 0) model = line.substr(8);
        (line.rfind("Warning : ", 0) == 0 ? warnings += model + ": " : files) += line + "\n";
    }
    for (const char* jobs : {"--jobs=1", "--jobs=2", "--jobs=8", "--jobs=0"}) {
        fs::remove_all(dir / "out");
        test::RunResult run = test::RunMorvex({jobs, "models", "out"}, dir.Path());
        EXPECT_EQ(run.status, 0) << jobs;
        EXPECT_EQ(run.output, files) << jobs;
        EXPECT_EQ(run.errors.substr(0, warnings.size()), warnings) << jobs;
    }
}

TEST(Folders, GltfWritesOneGlbPerModelAtTheMirroredPath) {
    if (platform::kWindows) {
        GTEST_SKIP() << "c.IT3 and c.it3 cannot be two files on Windows, whose names ignore case";
    }
    test::TempDir dir;
    Write(dir / "models" / "a.it3", SmallModel("body", "t", 1));
    Write(dir / "models" / "sub" / "b.it3", SmallModel("cap", "t", 2));
    // Two names that differ only in the case of the extension would give the same .glb.
    Write(dir / "models" / "sub" / "c.IT3", SmallModel("c1", "t", 3));
    Write(dir / "models" / "sub" / "c.it3", SmallModel("c2", "t", 4));
    test::RunResult run = test::RunMorvex({"-g", "models", "glb"}, dir.Path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output,
              "Model : models/a.it3\n-> glb/a.glb\n"
              "Model : models/sub/b.it3\n-> glb/sub/b.glb\n"
              "Model : models/sub/c.IT3\n-> glb/sub/c.glb\n"
              "Model : models/sub/c.it3\nError : Can not convert models/sub/c.it3: its outputs "
              "would replace those of models/sub/c.IT3.\n");
    EXPECT_EQ(test::ListTree(dir / "glb"),
              (std::vector<std::string>{"a.glb", "sub/b.glb", "sub/c.glb"}));
}

TEST(Folders, OutPlacesEveryInputUnderItsName) {
    test::TempDir dir;
    Write(dir / "a.it3", SmallModel("body", "t", 1));
    Write(dir / "models" / "b.it3", SmallModel("cap", "t", 2));
    Write(dir / "other" / "a.it3", SmallModel("body", "t", 3));
    test::RunResult run = test::RunMorvex(
        {"-m", "--out", "dest/deep", "a.it3", "models/", "other/a.it3"}, dir.Path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output,
              "Model : a.it3\n-> dest/deep/a/a_00_body.mqo\n-> dest/deep/a/t.bmp\n"
              "Model : models/b.it3\n-> dest/deep/models/b/b_00_cap.mqo\n"
              "-> dest/deep/models/b/t.bmp\n");
    const std::string reason =
        "Can not convert other/a.it3: its outputs would replace those of a.it3.\n";
    EXPECT_EQ(run.errors.rfind("other/a.it3: Error : " + reason, 0), 0u) << run.errors;
    EXPECT_NE(run.errors.find("failed:\n  other/a.it3: " + reason), std::string::npos)
        << run.errors;
}

// Names that differ only in case are one file on Windows: there the second model's outputs would
// replace the first's, elsewhere both are written.
TEST(Folders, OutputsDifferingOnlyInCaseCollideWhereNamesIgnoreCase) {
    test::TempDir dir;
    Write(dir / "x" / "Car.it3", SmallModel("body", "t", 1));
    Write(dir / "y" / "car.it3", SmallModel("body", "t", 2));
    test::RunResult run =
        test::RunMorvex({"-g", "--out", "glb", "x/Car.it3", "y/car.it3"}, dir.Path());
    if (!platform::kWindows) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(test::ListTree(dir / "glb"), (std::vector<std::string>{"Car.glb", "car.glb"}));
        return;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "Model : x/Car.it3\n-> glb/Car.glb\n");
    EXPECT_NE(run.errors.find("y/car.it3: Error : Can not convert y/car.it3: its outputs would "
                              "replace those of x/Car.it3.\n"),
              std::string::npos)
        << run.errors;
    EXPECT_EQ(test::ListTree(dir / "glb"), std::vector<std::string>{"Car.glb"});
}

TEST(Folders, EmptyFolderAndCheckMode) {
    test::TempDir dir;
    fs::create_directories(dir / "models");
    // A folder without a model is an error, and nothing is created.
    test::RunResult run = test::RunMorvex({"models", "out"}, dir.Path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "Error : No .it3 file below models.\n");
    EXPECT_NE(run.errors.find("morvex: 0 models converted, 0 damaged, 1 failed"), std::string::npos)
        << run.errors;
    EXPECT_FALSE(fs::exists(dir / "out"));

    // -c lists every model with its warnings and writes nothing, not even folders.
    fs::remove_all(dir / "out");
    Write(dir / "models" / "a.it3", SmallModel("body", "t", 1, 2));
    run = test::RunMorvex({"-c", "models", "out"}, dir.Path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output,
              "Model : models/a.it3\nWarning : unknown block : ZZZ0(0x305A5A5A)\n"
              "Warning : unknown block : ZZZ1(0x315A5A5A)\n");
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(Folders, UnreadableEntriesAreReportedAndFailTheRun) {
    test::TempDir dir;
    Write(dir / "models" / "a.it3", SmallModel("body", "t", 1));
    if (!test::MakeLink("nowhere", dir / "models" / "dangling.it3")) {
        GTEST_SKIP() << "symbolic links cannot be made here (the C++ library of MinGW has none)";
    }
    test::RunResult run = test::RunMorvex({"-c", "--follow-links", "models"}, dir.Path());
    EXPECT_EQ(run.status, 1);
    // The option form: the error on standard error, and no "Model : " line for a check that
    // prints nothing.
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(run.errors.starts_with(
        "Error : Can not read models/dangling.it3: No such file or directory.\n"))
        << run.errors;
    EXPECT_NE(run.errors.find("failed:\n  models/dangling.it3: Can not read models/dangling.it3: "
                              "No such file or directory.\n"),
              std::string::npos)
        << run.errors;
}

TEST(Destination, MissingFolderIsCreatedWithItsParents) {
    test::TempDir dir;
    Write(dir / "a.it3", SmallModel("body", "t", 1));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"a.it3", "new/deeper"},
                                                 {"-g", "a.it3", "g/h/"},
                                                 {"--jobs=1", "-m", "a.it3", "m/n"}}) {
        test::RunResult run = test::RunMorvex(args, dir.Path());
        EXPECT_EQ(run.status, 0) << args[0];
        EXPECT_NE(run.output.find("-> "), std::string::npos) << run.output;
    }
    EXPECT_TRUE(fs::exists(dir / "new" / "deeper" / "a_00_body.obj"));
    EXPECT_TRUE(fs::exists(dir / "g" / "h" / "a.glb"));
    EXPECT_TRUE(fs::exists(dir / "m" / "n" / "a_00_body.mqo"));
    // Check mode writes nothing and creates nothing, as before.
    test::RunResult run = test::RunMorvex({"-c", "a.it3", "unused"}, dir.Path());
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(fs::exists(dir / "unused"));
}

TEST(Destination, FolderThatCannotBeCreatedGivesOneMessageAndNothingElse) {
    test::TempDir dir;
    Write(dir / "models" / "a.it3", SmallModel("body", "t", 1));
    Write(dir / "file.txt", ByteVector{'x'});
    const auto before = test::SnapshotTree(dir.Path());
    // A regular file where a folder should be: even root cannot create below it.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"models/a.it3", "file.txt/out"},
          {"-g", "models/a.it3", "file.txt/out"},
          {"-m", "models", "file.txt/out"},
          {"--out", "file.txt/out", "models/a.it3"}}) {
        test::RunResult run = test::RunMorvex(args, dir.Path());
        EXPECT_EQ(run.status, 1) << args[0];
        // With options, errors go to standard error.
        EXPECT_EQ(args[0] == "--out" ? run.errors : run.output,
                  "Error : Can not create folder file.txt/out: Not a directory.\n")
            << args[0];
    }
    test::RunResult run = test::RunMorvex({"models", "file.txt"}, dir.Path());
    EXPECT_EQ(run.output, "Error : Can not create folder file.txt: Not a directory.\n");
    EXPECT_EQ(test::SnapshotTree(dir.Path()), before);
}

// Whole runs of the executable: what each prints on both streams, its status, and the files it
// leaves (besides its inputs: a.it3, b.it3, trunc.it3 cut inside its texture, broken.it3 and
// empty.it3 that are no models, the folders noModels/ and existing/).
struct RunCase {
    std::vector<std::string> args;
    int status;
    std::string output;               // standard output, exactly
    std::vector<std::string> errors;  // pieces of standard error, in order
    std::vector<std::string> made;    // the files afterwards, besides the inputs
};

class RunTable : public ::testing::TestWithParam<RunCase> {};

// Every file and folder below `dir` (folders ending in '/').
std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& [name, contents] : test::SnapshotTree(dir)) names.push_back(name);
    return names;
}

TEST_P(RunTable, PrintsAndLeaves) {
    const RunCase& c = GetParam();
    test::TempDir dir;
    Write(dir / "a.it3", SmallModel("body", "t", 1));
    Write(dir / "b.it3", SmallModel("cap", "u", 2));
    ByteVector cut = SmallModel("hull", "v", 3);
    cut.resize(cut.size() - 20);
    Write(dir / "trunc.it3", cut);
    Write(dir / "broken.it3", ByteVector{'N', 'O', 'P', 'E'});
    Write(dir / "empty.it3", ByteVector{});
    Write(dir / "noModels" / "readme.txt", ByteVector{'h', 'i'});
    fs::create_directories(dir / "existing");
    const std::vector<std::string> inputs = Entries(dir.Path());

    const test::RunResult run = test::RunMorvex(c.args, dir.Path());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.output, c.output);
    std::size_t at = 0;
    for (const std::string& piece : c.errors) {
        at = run.errors.find(piece, at);
        ASSERT_NE(at, std::string::npos) << piece << "\nin:\n" << run.errors;
    }
    std::vector<std::string> made;
    for (const std::string& file : Entries(dir.Path())) {
        if (std::find(inputs.begin(), inputs.end(), file) == inputs.end()) made.push_back(file);
    }
    EXPECT_EQ(made, c.made);
}

const std::string kOptionsHint = "Run 'morvex --help' for the options.\n";

INSTANTIATE_TEST_SUITE_P(
    Runs, RunTable,
    ::testing::Values(
        // Nothing is created when nothing can be converted.
        RunCase{{"nothere.it3", "o"}, 1, "Error : Can not open nothere.it3.\n", {}, {}},
        RunCase{{"broken.it3", "o"}, 1, "Error : This file is not it3 file.\n", {}, {}},
        RunCase{{"-g", "empty.it3", "o/p"}, 1, "Error : This file is not it3 file.\n", {}, {}},
        RunCase{{"-m", "noModels", "o"},
                1,
                "Error : No .it3 file below noModels.\n",
                {"failed:\n  noModels: No .it3 file below noModels.\n"},
                {}},
        RunCase{{"--out", "o", "nothere.it3", "broken.it3"},
                1,
                "",
                {"nothere.it3: Error : Can not open nothere.it3.\n",
                 "broken.it3: Error : This file is not it3 file.\n", "0 models converted",
                 "failed:\n  nothere.it3: Can not open nothere.it3.\n"},
                {}},
        // Several inputs: each under its name, here or in the existing folder named last.
        RunCase{{"-g", "a.it3", "b.it3"},
                0,
                "Model : a.it3\n-> a.glb\nModel : b.it3\n-> b.glb\n",
                {"morvex: 2 models converted, 0 damaged, 0 failed; 0 warnings"},
                {"a.glb", "b.glb"}},
        RunCase{{"a.it3", "b.it3", "existing"},
                0,
                "Model : a.it3\n-> existing/a/a_00_body.obj\n-> existing/a/a_00_body.mtl\n"
                "-> existing/a/t.bmp\nModel : b.it3\n-> existing/b/b_00_cap.obj\n"
                "-> existing/b/b_00_cap.mtl\n-> existing/b/u.bmp\n",
                {},
                {"existing/a/", "existing/a/a_00_body.mtl", "existing/a/a_00_body.obj",
                 "existing/a/t.bmp", "existing/b/", "existing/b/b_00_cap.mtl",
                 "existing/b/b_00_cap.obj", "existing/b/u.bmp"}},
        // Quiet: errors and the summary, with the damaged and failed models and why.
        RunCase{{"-q", "-g", "a.it3", "trunc.it3", "broken.it3", "existing"},
                1,
                "",
                {"broken.it3: Error : This file is not it3 file.\n",
                 "morvex: 1 model converted, 1 damaged, 1 failed; 1 warning;",
                 "failed:\n  broken.it3: This file is not it3 file.\n"
                 "damaged:\n  trunc.it3: broken block at offset "},
                {"existing/a.glb", "existing/trunc.glb"}},
        RunCase{{"-v", "-o", "r.glb", "a.it3"},
                0,
                "-> r.glb\n",
                {"a.it3: 1 object, 1 texture, 1 file (0.0 MB), 0 warnings, "},
                {"r.glb"}},
        RunCase{{"-g", "-j", "1", "trunc.it3", "deep/er"},
                0,
                "-> deep/er/trunc.glb\n",
                {"Warning : broken block at offset "},
                {"deep/", "deep/er/", "deep/er/trunc.glb"}},
        // Mistakes: a line on standard error; the usage text in the one-file form only.
        RunCase{{"--bogus", "a.it3"},
                255,
                "",
                {"morvex: unknown option '--bogus'\n" + kOptionsHint},
                {}},
        RunCase{{"-x", "a.it3"}, 255, test::UsageOutput(), {"morvex: unknown option '-x'\n"}, {}},
        RunCase{{"a.it3", "late", "-g"},
                0,
                "-> late/a_00_body.obj\n-> late/a_00_body.mtl\n-> late/t.bmp\n",
                {"morvex: '-g' after the destination is ignored\n"},
                {"late/", "late/a_00_body.mtl", "late/a_00_body.obj", "late/t.bmp"}}));

#ifndef _WIN32
// Runs morvex with standard error on a pseudo-terminal (standard output to a file) and returns
// what the terminal received. A child of the terminal runs morvex, then writes an end mark and
// holds the terminal open until the mark has been read: a terminal whose last holder exits may
// report its end before the last output is read, which would cut the summary.
std::string RunOnTerminal(const std::vector<std::string>& args, const fs::path& workDir,
                          int& status) {
    static constexpr std::string_view kEnd = "\n#end#";
    int release[2];
    if (pipe(release) != 0) return {};
    int master = -1;
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 24;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        close(release[1]);
        if (chdir(workDir.c_str()) != 0) _exit(127);
        const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
        const pid_t run = fork();
        if (run == 0) test::ExecMorvex(args);
        int ran = 0;
        if (run < 0 || waitpid(run, &ran, 0) != run) _exit(127);
        if (write(STDERR_FILENO, kEnd.data(), kEnd.size()) < 0) _exit(127);
        char byte;
        while (read(release[0], &byte, 1) < 0 && errno == EINTR) {
        }
        _exit(WIFEXITED(ran) ? WEXITSTATUS(ran) : 126);
    }
    close(release[0]);
    std::string terminal;
    char chunk[4096];
    while (terminal.find(kEnd) == std::string::npos) {
        const ssize_t n = read(master, chunk, sizeof chunk);
        if (n > 0) {
            terminal.append(chunk, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // the child failed before its end mark
        }
    }
    // Released, the child exits; the terminal is closed after (closing it first would hang up
    // the child).
    close(release[1]);
    int wait = 0;
    waitpid(pid, &wait, 0);
    close(master);
    status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    // The terminal turned the mark's line end into CR LF.
    const std::size_t end = terminal.rfind("\r\n#end#");
    if (end != std::string::npos) terminal.resize(end);
    return terminal;
}

TEST(Progress, DrawnOnATerminalAndErasedAtTheEnd) {
    test::TempDir dir;
    for (int k = 0; k < 12; ++k) {
        const std::string number = std::to_string(k);
        Write(dir / "models" / ("m" + number + ".it3"), SmallModel("o", "t", 1));
    }
    int status = -1;
    const std::string terminal = RunOnTerminal({"--jobs=2", "models", "out"}, dir.Path(), status);
    EXPECT_EQ(status, 0);
    // The last drawing shows every model done, then the line is erased and the summary follows.
    EXPECT_NE(terminal.find("\r\033[K[12/12 100%] "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" elapsed"), std::string::npos) << terminal;
    const std::size_t summary = terminal.find("morvex: 12 models converted, 0 damaged, 0 failed");
    ASSERT_NE(summary, std::string::npos) << terminal;
    EXPECT_EQ(terminal.substr(summary - 4, 4), "\r\033[K");
    // The summary stands alone: nothing is drawn after it (the terminal ends lines in CR LF).
    EXPECT_EQ(terminal.find('\033', summary), std::string::npos);
    EXPECT_EQ(terminal.substr(terminal.size() - 2), "\r\n");
    // Standard output got the groups, free of terminal sequences.
    const std::string out = test::ReadText(dir / "stdout.txt");
    EXPECT_EQ(out.find('\033'), std::string::npos);
    EXPECT_EQ(out.rfind("Model : models/m0.it3\n", 0), 0u) << out;
}
#else
TEST(Progress, DrawnOnATerminalAndErasedAtTheEnd) {
    GTEST_SKIP() << "needs a pseudo-terminal (forkpty); a Windows console cannot be captured";
}
#endif

TEST(Progress, LineFitsTheTerminalAndShowsTheRemainingTime) {
    // Progress::Line is in the library; the executable's line is tested above.
    const std::string line = Progress::Line(5, 20, "models/a/very/long/path/to/car.it3", 10.0, 60);
    EXPECT_LE(line.size(), 60u);
    EXPECT_EQ(line.rfind("[5/20 25%] ...", 0), 0u) << line;
    EXPECT_NE(line.find("car.it3 0:10 elapsed, 0:30 left"), std::string::npos) << line;
    EXPECT_EQ(Progress::Line(0, 3, "a.it3", 0.4, 80), "[0/3 0%] a.it3 0:00 elapsed");
}

}  // namespace
}  // namespace morvex

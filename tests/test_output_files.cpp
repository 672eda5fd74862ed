// Output files are complete or absent, and are never written through a link: symbolic links at
// every output name, a failure at each write, close and rename of a conversion, files larger
// than the process may write, and a conversion killed in the middle.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "convert/converter.h"
#include "export/output_file.h"
#include "gltf_reader.h"
#include "test_support.h"
#include "test_texture_bmp.h"
#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"
#include "testdata/texture_writer.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using testdata::ByteVector;
using testdata::It3Writer;
using testdata::Mesh;

// A square grid of n × n vertices and its triangles: an OBJ of about n² × 110 bytes.
Mesh Grid(int n, std::int32_t material) {
    Mesh mesh;
    mesh.materialIndex = material;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const float u = static_cast<float>(x) / static_cast<float>(n - 1);
            const float v = static_cast<float>(y) / static_cast<float>(n - 1);
            mesh.vertices.push_back(test::V(u * 3.25f, v * 1.5f, u * v, u, v, {0, 0, 1}));
        }
    }
    for (int y = 0; y + 1 < n; ++y) {
        for (int x = 0; x + 1 < n; ++x) {
            const auto k = static_cast<std::uint32_t>(y * n + x);
            const auto row = static_cast<std::uint32_t>(n);
            mesh.indices.insert(mesh.indices.end(),
                                {k, k + 1, k + row, k + 1, k + row + 1, k + row});
        }
    }
    return mesh;
}

// Two objects (a small one whose material has a texture and an alpha map, and one whose OBJ
// takes several writes) and the two textures.
ByteVector TwoObjectModel() {
    It3Writer file;
    file.Info("A")
        .Block("MATE", testdata::MaterialPayload("MATE", {{"skin", "skin", "mask", 30.0f}}))
        .Block("VPAC", testdata::VertexPayload("VPAC", {Grid(2, 0)}));
    file.Info("B")
        .Block("MAT2", testdata::MaterialPayload("MAT2", {{"metal", "", "", 5.0f}}))
        .Block("VPA5", testdata::VertexPayload("VPA5", {Grid(45, 0)}));
    file.Block("TEXI", testdata::TexiPayload(
                           "skin", testdata::EncodeTexture1002(testdata::SkinTone(16, 8))));
    file.Block("TEXI", testdata::TexiPayload(
                           "mask", testdata::EncodeTexture1004(testdata::ClothPattern(32, 16))));
    return file.Bytes();
}

struct Mode {
    const char* label;
    std::vector<std::string> option;
    OutputMode mode;
    std::vector<std::string> outputs;
};

const std::vector<Mode>& Modes() {
    static const std::vector<Mode> modes = {
        {"obj",
         {},
         OutputMode::Obj,
         {"robo_00_A.obj", "robo_00_A.mtl", "robo_01_B.obj", "robo_01_B.mtl", "skin.bmp",
          "mask.bmp"}},
        {"mqo",
         {"-m"},
         OutputMode::Mqo,
         {"robo_00_A.mqo", "robo_01_B.mqo", "skin.bmp", "mask.bmp"}},
        {"gltf", {"-g"}, OutputMode::Gltf, {"robo.glb"}},
    };
    return modes;
}

std::map<std::string, std::vector<std::uint8_t>> ReadFolder(const fs::path& dir) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const std::string& name : test::ListFiles(dir)) files[name] = test::ReadBytes(dir / name);
    return files;
}

// Every entry of a folder, links and folders included.
std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

[[maybe_unused]] bool IsTemporary(const std::string& name) {
    const std::string_view suffix = kTemporarySuffix;
    return name.size() > suffix.size() + 1 && name[0] == '.' &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The reference conversion of each mode, made once: console output and files.
struct Reference {
    std::string output;
    std::map<std::string, std::vector<std::uint8_t>> files;
};

class OutputFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        test::WriteBytes(dir / "robo.it3", TwoObjectModel());
        for (const Mode& mode : Modes()) {
            const fs::path out = dir / (std::string("reference_") + mode.label);
            fs::create_directories(out);
            test::ConvertResult r = test::ConvertInProcess(dir / "robo.it3", out.string() + "/",
                                                           static_cast<int>(mode.mode));
            ASSERT_FALSE(r.outputFailed) << r.output;
            reference[mode.label] = {r.output, ReadFolder(out)};
            std::vector<std::string> want = mode.outputs;
            std::sort(want.begin(), want.end());
            ASSERT_EQ(test::ListFiles(out), want);
        }
    }

    test::TempDir dir;
    std::map<std::string, Reference> reference;
};

// ---------------------------------------------------------------------------------------------
// Links at the output names

TEST_F(OutputFiles, LinksAtEveryOutputNameAreReplacedNotFollowed) {
    {
        test::TempDir probe;
        if (!test::MakeLink(probe / "target", probe / "link")) {
            GTEST_SKIP() << "symbolic links cannot be made here (the C++ library of MinGW has "
                            "none): PlatformFiles covers replace-on-rename";
        }
    }
    enum class Target { Outside, Dangling, DevFull, Folder };
    const std::pair<const char*, Target> targets[] = {{"outside", Target::Outside},
                                                      {"dangling", Target::Dangling},
                                                      {"dev_full", Target::DevFull},
                                                      {"folder", Target::Folder}};
    for (const Mode& mode : Modes()) {
        const Reference& ref = reference[mode.label];
        for (const std::string& name : mode.outputs) {
            for (const auto& [label, target] : targets) {
                if (target == Target::DevFull && !fs::exists("/dev/full")) continue;
                SCOPED_TRACE(std::string(mode.label) + " " + name + " -> " + label);
                test::TempDir run;
                fs::create_directories(run / "out");
                fs::create_directories(run / "outside");
                fs::copy_file(dir / "robo.it3", run / "robo.it3");
                const fs::path victim = run / "outside" / "victim";
                if (target == Target::Outside) test::WriteBytes(victim, {'k', 'e', 'e', 'p'});
                // A folder: nothing is written into it, and the name becomes the file.
                if (target == Target::Folder) {
                    fs::create_directories(victim);
                    test::WriteBytes(victim / "inside", {'k', 'e', 'e', 'p'});
                }
                const fs::path linkTarget =
                    target == Target::DevFull ? fs::path("/dev/full") : victim;
                fs::create_symlink(linkTarget, run / "out" / name);

                std::vector<std::string> args = mode.option;
                args.insert(args.end(), {"robo.it3", "out"});
                const test::RunResult r = test::RunMorvex(args, run.Path());
                EXPECT_EQ(r.status, 0) << r.output;
                // The same lines as without the link, with the folder named as here.
                std::string want = ref.output;
                const std::string refFolder =
                    (dir / (std::string("reference_") + mode.label)).string() + "/";
                for (std::size_t at = want.find(refFolder); at != std::string::npos;
                     at = want.find(refFolder, at)) {
                    want.replace(at, refFolder.size(), "out/");
                }
                EXPECT_EQ(r.output, want);
                EXPECT_FALSE(fs::is_symlink(run / "out" / name));
                EXPECT_EQ(ReadFolder(run / "out"), ref.files);
                EXPECT_EQ(Entries(run / "out").size(), ref.files.size());
                if (target == Target::Outside) {
                    EXPECT_EQ(test::ReadText(victim), "keep");
                } else if (target == Target::Folder) {
                    EXPECT_EQ(Entries(victim), std::vector<std::string>{"inside"});
                    EXPECT_EQ(test::ReadText(victim / "inside"), "keep");
                } else {
                    EXPECT_FALSE(fs::exists(fs::symlink_status(victim)));
                }
                const bool kept = target == Target::Outside || target == Target::Folder;
                EXPECT_EQ(Entries(run / "outside"),
                          kept ? std::vector<std::string>{"victim"} : std::vector<std::string>{});
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// A failure at each write, close and rename

// An output layer that counts its calls and makes one chosen call fail. A failing write is
// sent to /dev/full where there is one, so that its error is the system's own for a full disk.
struct Faults {
    enum Call { Write, Close, Rename, kCalls };
    Call failing = Write;
    int failAt = 0;  // 1 for the first call of that kind; 0: none fails
    int count[kCalls] = {0, 0, 0};

    bool Fails(Call call) { return ++count[call] == failAt && call == failing; }
};
Faults faults;

std::int64_t FaultyWrite(platform::FileHandle file, const void* data, std::size_t length) {
    if (!faults.Fails(Faults::Write)) return platform::Write(file, data, length);
#ifdef _WIN32
    return -1;
#else
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full < 0) return -1;
    const std::int64_t n = platform::Write(full, data, length);
    ::close(full);
    return n;
#endif
}
bool FaultyClose(platform::FileHandle file) {
    const bool closed = platform::CloseHandle(file);
    const bool fails = faults.Fails(Faults::Close);
    return closed && !fails;
}
// The final names of the renames so far, in order.
std::vector<std::string> renamed;

std::error_code FaultyRename(std::string_view from, std::string_view to,
                             const platform::Folder* at) {
    renamed.push_back(fs::path(to).filename().string());
    if (!faults.Fails(Faults::Rename)) return platform::Rename(from, to, at);
    return std::make_error_code(std::errc::io_error);
}
const OutputCalls kFaultyCalls = {FaultyWrite, FaultyClose, FaultyRename};

class FaultyOutputs {
  public:
    FaultyOutputs(Faults::Call call, int at) {
        faults = Faults{call, at, {0, 0, 0}};
        previous_ = SetOutputCalls(&kFaultyCalls);
    }
    ~FaultyOutputs() { SetOutputCalls(previous_); }
    FaultyOutputs(const FaultyOutputs&) = delete;
    FaultyOutputs& operator=(const FaultyOutputs&) = delete;

  private:
    const OutputCalls* previous_;
};

TEST_F(OutputFiles, AFailureAtAnyCallLeavesTheOtherFilesWholeAndNoTraceOfTheFailedOnes) {
    const char* const callNames[] = {"write", "close", "rename"};
    for (const Mode& mode : Modes()) {
        const Reference& ref = reference[mode.label];
        const std::string refFolder =
            (dir / (std::string("reference_") + mode.label)).string() + "/";
        // How many calls of each kind the conversion makes.
        int calls[Faults::kCalls];
        {
            test::TempDir run;
            FaultyOutputs counting(Faults::Write, 0);
            renamed.clear();
            test::ConvertResult r = test::ConvertInProcess(
                dir / "robo.it3", run.Path().string() + "/", static_cast<int>(mode.mode));
            ASSERT_FALSE(r.outputFailed);
            std::copy(std::begin(faults.count), std::end(faults.count), calls);
        }
        // An object's MTL is put in place before its OBJ: a reader who sees the OBJ finds it.
        for (std::size_t k = 0; k < renamed.size(); ++k) {
            const std::string& name = renamed[k];
            if (name.size() < 4 || name.substr(name.size() - 4) != ".obj") continue;
            const std::string mtl = name.substr(0, name.size() - 4) + ".mtl";
            EXPECT_NE(
                std::find(renamed.begin(), renamed.begin() + static_cast<std::ptrdiff_t>(k), mtl),
                renamed.begin() + static_cast<std::ptrdiff_t>(k))
                << name << " before its MTL";
        }
        // Files of several writes are among them: the OBJ of B and the glb take more than one.
        EXPECT_GT(calls[Faults::Write], static_cast<int>(mode.outputs.size()));
        EXPECT_EQ(calls[Faults::Close], static_cast<int>(mode.outputs.size()));
        EXPECT_EQ(calls[Faults::Rename], static_cast<int>(mode.outputs.size()));

        for (int call = 0; call < Faults::kCalls; ++call) {
            for (int at = 1; at <= calls[call]; ++at) {
                SCOPED_TRACE(std::string(mode.label) + ": " + callNames[call] + " " +
                             std::to_string(at));
                test::TempDir run;
                const std::string folder = run.Path().string() + "/";
                test::ConvertResult r;
                {
                    FaultyOutputs failing(static_cast<Faults::Call>(call), at);
                    r = test::ConvertInProcess(dir / "robo.it3", folder,
                                               static_cast<int>(mode.mode));
                }
                EXPECT_TRUE(r.outputFailed);
                // The lines of the clean run, plus one error for each file that is missing.
                std::vector<std::string> errors, others;
                for (const std::string& line : test::SplitLines(r.output)) {
                    (line.rfind("Error : Can not write ", 0) == 0 ? errors : others)
                        .push_back(line);
                }
                std::vector<std::string> wantOthers = test::SplitLines(ref.output);
                for (std::string& line : wantOthers) {
                    if (line.rfind("-> " + refFolder, 0) == 0)
                        line = "-> " + folder + line.substr(3 + refFolder.size());
                }
                EXPECT_EQ(others, wantOthers);
                std::set<std::string> missing;
                for (const auto& [name, bytes] : ref.files) {
                    if (!fs::exists(fs::symlink_status(run / name))) missing.insert(name);
                }
                std::set<std::string> reported;
                for (const std::string& e : errors) {
                    const std::string prefix = "Error : Can not write " + folder;
                    ASSERT_EQ(e.rfind(prefix, 0), 0u) << e;
                    reported.insert(e.substr(prefix.size(), e.size() - prefix.size() - 1));
                }
                EXPECT_EQ(missing, reported);
                // One file, or an object's OBJ and MTL together.
                ASSERT_FALSE(missing.empty());
                if (missing.size() == 2) {
                    const std::string obj = *missing.rbegin();
                    EXPECT_EQ(obj.substr(obj.size() - 4), ".obj");
                    EXPECT_EQ(*missing.begin(), obj.substr(0, obj.size() - 4) + ".mtl");
                } else {
                    EXPECT_EQ(missing.size(), 1u);
                }
                // Everything else is there, whole; nothing else is (no temporary).
                std::map<std::string, std::vector<std::uint8_t>> want = ref.files;
                for (const std::string& name : missing) want.erase(name);
                EXPECT_EQ(ReadFolder(run.Path()), want);
                EXPECT_EQ(Entries(run.Path()).size(), want.size());
                // The counts a run of many models reports: the files in place and their bytes.
                std::uint64_t bytes = 0;
                for (const auto& [name, content] : want) bytes += content.size();
                EXPECT_EQ(r.counters.filesPlaced, want.size());
                EXPECT_EQ(r.counters.bytesPlaced, bytes);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The system refusing to grow a file (a full disk for large files)

TEST_F(OutputFiles, FilesBeyondTheSizeTheSystemAllowsLeaveNothingAndTheirPartnersGoToo) {
    if (platform::kWindows) GTEST_SKIP() << "Windows has no limit on the size a process writes";
    // Object B's OBJ (about 220 KB) and the glb pass 64 KiB; everything else is below it.
    constexpr std::uint64_t kLimit = 64 << 10;
    for (const Mode& mode : Modes()) {
        SCOPED_TRACE(mode.label);
        const Reference& ref = reference[mode.label];
        std::set<std::string> tooLarge;
        for (const auto& [name, bytes] : ref.files) {
            if (bytes.size() > kLimit) tooLarge.insert(name);
        }
        ASSERT_FALSE(tooLarge.empty());
        test::TempDir run;
        fs::create_directories(run / "out");
        fs::copy_file(dir / "robo.it3", run / "robo.it3");
        std::vector<std::string> args = mode.option;
        args.insert(args.end(), {"robo.it3", "out"});
        test::RunLimits limits;
        limits.fileSize = kLimit;
        const test::RunResult r = test::RunMorvex(args, run.Path(), limits);
        EXPECT_EQ(r.status, 1) << r.output;
        std::set<std::string> gone = tooLarge;
        if (gone.count("robo_01_B.obj")) gone.insert("robo_01_B.mtl");
        std::map<std::string, std::vector<std::uint8_t>> want = ref.files;
        for (const std::string& name : gone) {
            want.erase(name);
            EXPECT_NE(r.output.find("Error : Can not write out/" + name + ".\n"), std::string::npos)
                << r.output;
        }
        EXPECT_EQ(ReadFolder(run / "out"), want);
        EXPECT_EQ(Entries(run / "out").size(), want.size());
    }
}

// ---------------------------------------------------------------------------------------------
// A conversion killed in the middle

// Objects with large OBJ files and a texture: a conversion of a few seconds in OBJ mode.
[[maybe_unused]] ByteVector LargeModel(int objects, int grid) {
    It3Writer file;
    for (int k = 0; k < objects; ++k) {
        file.Info("part" + std::to_string(k))
            .Block("MAT2", testdata::MaterialPayload("MAT2", {{"m", "skin", "", 5.0f}}))
            .Block("VPA5", testdata::VertexPayload("VPA5", {Grid(grid, 0)}));
    }
    file.Block("TEXI", testdata::TexiPayload(
                           "skin", testdata::EncodeTexture1002(testdata::SkinTone(64, 64))));
    return file.Bytes();
}

#ifndef _WIN32
pid_t StartMorvex(const std::vector<std::string>& args, const fs::path& workDir) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        if (chdir(workDir.c_str()) != 0) _exit(127);
        test::ExecMorvex(args);
    }
    return pid;
}

// Runs morvex with `args` and sends it `signal` while a temporary is open in `out`, once at least
// `finalsBefore` files have been put in place there; true when the signal ended it (it did not
// finish before). The folder is watched with inotify from before the start. At each event that
// creates a temporary (with enough files in place) the process is stopped, and signalled when the
// folder, looked at while it stands still, holds a temporary: the signal lands on a state with a
// file being written however fast the run goes on (a temporary already renamed lets it go on to
// the next).
bool KillWhileWriting(const std::vector<std::string>& args, const fs::path& workDir,
                      const fs::path& out, std::size_t finalsBefore, int signal) {
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0) return false;
    if (inotify_add_watch(watch, out.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
        close(watch);
        return false;
    }
    const pid_t pid = StartMorvex(args, workDir);
    std::size_t finals = 0;
    bool killed = false, exited = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (pid > 0 && !killed && !exited && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{watch, POLLIN, 0};
        if (poll(&ready, 1, 10) > 0) {
            alignas(inotify_event) char events[64 * 1024];
            const ssize_t n = read(watch, events, sizeof events);
            bool created = false;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                const std::string name = event->len > 0 ? event->name : "";
                if (IsTemporary(name) && (event->mask & IN_CREATE)) created = true;
                if (!IsTemporary(name) && (event->mask & IN_MOVED_TO)) ++finals;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            int status = 0;
            if (created && finals >= finalsBefore && kill(pid, SIGSTOP) == 0 &&
                waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status)) {
                const std::vector<std::string> names = Entries(out);
                if (std::any_of(names.begin(), names.end(), IsTemporary)) {
                    kill(pid, signal);
                    killed = true;
                }
                kill(pid, SIGCONT);  // a signal other than SIGKILL is handled once it runs
            }
        }
        int status = 0;
        if (!killed && waitpid(pid, &status, WNOHANG) == pid) exited = true;
    }
    close(watch);
    if (pid <= 0 || exited) return false;
    if (!killed) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return killed && WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

TEST(KilledConversion, EveryFileUnderAFinalNameIsComplete) {
    test::TempDir dir;
    test::WriteBytes(dir / "big.it3", LargeModel(10, 180));
    struct Run {
        std::vector<std::string> option;
        std::size_t finalsBefore;
        int signal;
    };
    // OBJ: three objects' files are there, a fourth is being written; glTF: the one file, while
    // it is written. SIGKILL leaves the temporaries; an interrupt removes them first.
    const Run runs[] = {
        {{}, 6, SIGKILL}, {{"-g"}, 0, SIGKILL}, {{}, 6, SIGTERM}, {{"-g"}, 0, SIGINT}};
    for (const auto& [option, finalsBefore, signal] : runs) {
        const std::string label = (option.empty() ? "obj" : option[0]) + std::to_string(signal);
        SCOPED_TRACE(label);
        const fs::path ref = dir / ("reference" + label), out = dir / ("killed" + label);
        fs::create_directories(ref);
        fs::create_directories(out);
        std::vector<std::string> args = option;
        args.insert(args.end(), {"big.it3", ref.string()});
        ASSERT_EQ(test::RunMorvex(args, dir.Path()).status, 0);
        args.back() = out.string();

        EXPECT_TRUE(KillWhileWriting(args, dir.Path(), out, finalsBefore, signal))
            << "the run ended before the kill";

        std::size_t finals = 0, temporaries = 0;
        for (const std::string& name : Entries(out)) {
            if (IsTemporary(name)) {
                ++temporaries;
                continue;
            }
            ++finals;
            SCOPED_TRACE(name);
            ASSERT_TRUE(fs::is_regular_file(ref / name));
            EXPECT_TRUE(test::ReadBytes(out / name) == test::ReadBytes(ref / name));
            if (name.size() > 4 && name.substr(name.size() - 4) == ".obj") {
                EXPECT_TRUE(fs::exists(out / (name.substr(0, name.size() - 4) + ".mtl")));
            }
            if (name.size() > 4 && name.substr(name.size() - 4) == ".glb") {
                EXPECT_NO_THROW(test::ReadGlb(out / name));
            }
            if (name.size() > 4 && name.substr(name.size() - 4) == ".bmp") {
                EXPECT_TRUE(test::ReadBitmap(test::ReadBytes(out / name)));
            }
        }
        EXPECT_GE(finals, finalsBefore);
        if (signal != SIGKILL) {
            EXPECT_EQ(temporaries, 0u);
            continue;
        }
        EXPECT_GE(temporaries, 1u);
        // The next run into the folder removes what the killed one left.
        ASSERT_EQ(test::RunMorvex(args, dir.Path()).status, 0);
        for (const std::string& name : Entries(out)) EXPECT_FALSE(IsTemporary(name)) << name;
    }
}

// Every run that writes into a folder removes the temporaries there whose process has ended, and
// only those: a running process's temporaries stay.
TEST(StaleTemporaries, ARunRemovesThoseOfEndedRunsWhereItWrites) {
    test::TempDir dir;
    testdata::BuildSampleModel().Save((dir / "sample.it3").string());
    ASSERT_EQ(test::RunMorvex({"-g", "sample.it3", "glb"}, dir.Path()).status, 0);
    fs::create_directories(dir / "models");
    fs::copy_file(dir / "sample.it3", dir / "models" / "sample.it3");
    const std::string ended = ".a.obj.2147483646-0" + std::string(kTemporarySuffix);
    const std::string running =
        ".b.obj." + std::to_string(getpid()) + "-0" + std::string(kTemporarySuffix);
    struct Run {
        std::vector<std::string> args;
        std::string folder;  // where the temporaries are put
    };
    const Run runs[] = {
        {{"sample.it3", "one"}, "one"},
        {{"models", "tree"}, "tree/sample"},
        {{"--pack", "sample.it3", "glb/sample.glb", "packed/new.it3"}, "packed"},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.folder);
        fs::create_directories(dir / run.folder);
        test::WriteBytes(dir / run.folder / ended, ByteVector{1});
        test::WriteBytes(dir / run.folder / running, ByteVector{1});
        EXPECT_EQ(test::RunMorvex(run.args, dir.Path()).status, 0);
        EXPECT_FALSE(fs::exists(dir / run.folder / ended));
        EXPECT_TRUE(fs::exists(dir / run.folder / running));
    }
}

#else
TEST(KilledConversion, EveryFileUnderAFinalNameIsComplete) {
    GTEST_SKIP() << "needs fork, inotify and SIGKILL to stop a run while a temporary is open";
}
#endif

}  // namespace
}  // namespace morvex

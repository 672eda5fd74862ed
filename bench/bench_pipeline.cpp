// End-to-end speed and memory of the morvex executable, every figure next to a reference that
// runs in the same iteration, so that the ratios hold on a busy machine:
//
//   BM_Convert/obj, /mqo   the benchmark scene (tools/testdata/bench_models.h, about 48 MB)
//                          against `cp -r` of the output folder just written (page cache to
//                          page cache)
//   BM_Convert/gltf        `-g` on the scene against the OBJ conversion of the same scene
//   BM_Convert/gltf_textures  the same on a model of 24 textures (24 PNG images in the glb)
//   BM_Convert/check       `-c` on the scene against `cat` of the input to /dev/null
//   BM_MeshCount/<mode>    a model of 20,000 meshes against one of 250 meshes with the same
//                          vertex count: cost per output MiB
//   BM_TinyMeshes/<mode>   32,000 meshes of 3 to 12 vertices against 250 meshes of 6,000:
//                          cost per output MiB
//   BM_EmptyObjects/<mode> 3,000 objects without meshes (6,000 OBJ + MTL files, or 3,000 MQO
//                          documents) against a shell loop writing as many small files
//   BM_Scale/<mode>/x:<k>  the scene with k times its vertices against the scene itself: cost
//                          per vertex relative to 1x
//   BM_Pack/identity       `--pack` of the scene with its own `.glb` against `-i` (reading the
//                          file and decoding every mesh)
//   BM_Pack/moved          `--pack` with every object moved by its node (every vertex block
//                          encoded again) against `-g`
//
// Every command runs as a child process with its standard output on /dev/null. The time of a
// benchmark is the morvex run's wall time; the counters hold the reference's mean time
// (ref_ms), morvex over reference (ratio; per output MiB or per vertex where the name says so),
// morvex's peak resident set from wait4 (rss_MiB), its minor page faults (minflt), its user plus
// system time (cpu_ms) and the size of its output (out_MiB). A summary of every benchmark (the
// medians with --benchmark_repetitions) follows the usual report.
//
// Environment: MORVEX_BENCH_BINARY names the executable to measure (default: the morvex built
// with this program); MORVEX_BENCH_DIR the folder that caches the generated models (default:
// morvex-bench-models in the temporary folder). `bench_pipeline --models` generates the models
// and prints their paths, for runs under perf or /usr/bin/time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "testdata/bench_models.h"

namespace {

namespace fs = std::filesystem;
using morvex::testdata::GeneratedModel;
using morvex::testdata::ModelStats;

// ---------------------------------------------------------------------------------------------
// Child processes

// What one finished child process cost.
struct RunResult {
    int status = -1;           // exit status; -1 when it did not exit normally
    double seconds = 0.0;      // wall time from fork to reaping
    double cpuSeconds = 0.0;   // user + system time
    double maxRssKiB = 0.0;    // ru_maxrss
    double minorFaults = 0.0;  // ru_minflt
};

struct Command {
    std::vector<std::string> argv;  // argv[0] is looked up in PATH
    std::string cwd;                // empty: the benchmark's own
};

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// False at the end of the stream or on an error.
bool ReadAll(int fd, void* data, std::size_t size) {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::read(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Starts the measured commands from a small helper process forked before this program grows.
//
// Linux reports in ru_maxrss of a child the larger of the child's own peak and the resident
// set of the process it was forked from at the time of the fork (and, for vfork or
// posix_spawn, that parent's peak). This program holds models of hundreds of MB while it
// generates them, so its children would inherit that figure; the helper stays at a few MB (the
// floor shown as launcher_floor_rss in the context, the same floor /usr/bin/time has), and
// forking it is cheap.
class Launcher {
  public:
    // Forks the helper. Call first thing in main, before any thread exists.
    bool Start() {
        int requests[2], results[2];
        if (::pipe2(requests, O_CLOEXEC) != 0) return false;
        if (::pipe2(results, O_CLOEXEC) != 0) return false;
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::close(requests[1]);
            ::close(results[0]);
            Serve(requests[0], results[1]);
            ::_exit(0);
        }
        ::close(requests[0]);
        ::close(results[1]);
        requests_ = requests[1];
        results_ = results[0];
        return true;
    }

    void Stop() {
        if (pid_ <= 0) return;
        ::close(requests_);
        ::close(results_);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

    RunResult Run(const Command& command) {
        std::vector<std::string> fields{command.cwd};
        fields.insert(fields.end(), command.argv.begin(), command.argv.end());
        std::string request;
        auto putSize = [&request](std::uint32_t n) {
            request.append(reinterpret_cast<const char*>(&n), sizeof n);
        };
        putSize(static_cast<std::uint32_t>(fields.size()));
        for (const std::string& field : fields) {
            putSize(static_cast<std::uint32_t>(field.size()));
            request += field;
        }
        RunResult result;
        if (pid_ <= 0 || !WriteAll(requests_, request.data(), request.size()) ||
            !ReadAll(results_, &result, sizeof result)) {
            result.status = -1;
        }
        return result;
    }

  private:
    static bool ReadField(int fd, std::string& field) {
        std::uint32_t size = 0;
        if (!ReadAll(fd, &size, sizeof size)) return false;
        field.resize(size);
        return size == 0 || ReadAll(fd, field.data(), size);
    }

    // The helper's loop: one request, one child, one result, until the request pipe closes.
    static void Serve(int requests, int results) {
        for (;;) {
            std::uint32_t count = 0;
            if (!ReadAll(requests, &count, sizeof count) || count < 2) return;
            std::vector<std::string> fields(count);
            for (std::string& field : fields) {
                if (!ReadField(requests, field)) return;
            }
            std::vector<char*> argv;
            for (std::size_t k = 1; k < fields.size(); ++k) argv.push_back(fields[k].data());
            argv.push_back(nullptr);

            RunResult result;
            const auto start = std::chrono::steady_clock::now();
            const pid_t child = ::fork();
            if (child == 0) {
                if (!fields[0].empty() && ::chdir(fields[0].c_str()) != 0) ::_exit(126);
                int out = ::open("/dev/null", O_WRONLY);
                if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0) ::_exit(126);
                ::close(out);
                ::execvp(argv[0], argv.data());
                ::_exit(127);
            }
            if (child > 0) {
                int status = 0;
                rusage usage{};
                pid_t reaped;
                do {
                    reaped = ::wait4(child, &status, 0, &usage);
                } while (reaped < 0 && errno == EINTR);
                result.seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (reaped == child && WIFEXITED(status)) result.status = WEXITSTATUS(status);
                auto seconds = [](const timeval& t) {
                    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
                };
                result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
                result.maxRssKiB = static_cast<double>(usage.ru_maxrss);
                result.minorFaults = static_cast<double>(usage.ru_minflt);
            }
            if (!WriteAll(results, &result, sizeof result)) return;
        }
    }

    pid_t pid_ = -1;
    int requests_ = -1;
    int results_ = -1;
};

Launcher& TheLauncher() {
    static Launcher launcher;
    return launcher;
}

// ---------------------------------------------------------------------------------------------
// Models, cached on disk

// Part of every cached file name: bump it whenever a generator changes its output.
constexpr std::string_view kModelVersion = "v1";

struct ModelFile {
    fs::path path;
    ModelStats stats;
};

fs::path CacheDir() {
    if (const char* dir = std::getenv("MORVEX_BENCH_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    return fs::temp_directory_path() / "morvex-bench-models";
}

bool ReadStats(const fs::path& path, ModelStats& stats) {
    std::ifstream in(path);
    return static_cast<bool>(in >> stats.objects >> stats.meshes >> stats.vertices >>
                             stats.triangles >> stats.textures);
}

// Writes under a temporary name and renames into place, so that an interrupted run never
// leaves a torn model behind for the next one.
bool SaveAtomically(const fs::path& path, const std::function<bool(const fs::path&)>& save) {
    fs::path temporary = path;
    temporary += ".tmp";
    if (!save(temporary)) return false;
    std::error_code error;
    fs::rename(temporary, path, error);
    return !error;
}

// The model `name` from the cache, generated by `build` when it is not there yet. The path is
// empty when it cannot be written.
const ModelFile& CachedModel(const std::string& name,
                             const std::function<GeneratedModel()>& build) {
    static std::map<std::string, ModelFile> models;
    if (auto found = models.find(name); found != models.end()) return found->second;

    const fs::path dir = CacheDir();
    std::error_code error;
    fs::create_directories(dir, error);
    const std::string stem = name + "-" + std::string(kModelVersion);
    ModelFile model{dir / (stem + ".it3"), {}};
    const fs::path statsPath = dir / (stem + ".txt");
    if (!fs::exists(model.path) || !ReadStats(statsPath, model.stats)) {
        std::fprintf(stderr, "generating %s ...\n", model.path.c_str());
        GeneratedModel generated = build();
        model.stats = generated.stats;
        const bool saved =
            SaveAtomically(model.path,
                           [&](const fs::path& p) { return generated.file.Save(p.string()); }) &&
            SaveAtomically(statsPath, [&](const fs::path& p) {
                std::ofstream out(p);
                const ModelStats& s = generated.stats;
                out << s.objects << ' ' << s.meshes << ' ' << s.vertices << ' ' << s.triangles
                    << ' ' << s.textures << '\n';
                return static_cast<bool>(out.flush());
            });
        if (!saved) model.path.clear();
    }
    return models.emplace(name, model).first->second;
}

const ModelFile& Scene(int scale) {
    return CachedModel("scene-x" + std::to_string(scale),
                       [scale] { return morvex::testdata::BuildBenchmarkScene(scale); });
}

// Both mesh-count models hold 500,000 vertices in 5 objects.
constexpr int kManyMeshes = 20000;
constexpr int kFewMeshes = 250;

const ModelFile& MeshCountModel(int meshes) {
    return CachedModel("meshes-" + std::to_string(meshes), [meshes] {
        return meshes == kManyMeshes ? morvex::testdata::BuildMeshCountModel(kManyMeshes / 5, 5, 5)
                                     : morvex::testdata::BuildMeshCountModel(meshes / 5, 40, 50);
    });
}

// 32,000 meshes of 3 to 12 vertices, and 250 meshes of 6,000 vertices (1,500,000).
const ModelFile& TinyMeshModel() {
    return CachedModel("tiny-meshes", [] { return morvex::testdata::BuildTinyMeshModel(); });
}
const ModelFile& LargeMeshModel() {
    return CachedModel("meshes-250-large",
                       [] { return morvex::testdata::BuildMeshCountModel(50, 100, 60); });
}

const ModelFile& ManyTexturesModel() {
    return CachedModel("textures-24", [] { return morvex::testdata::BuildManyTexturesModel(); });
}

constexpr int kEmptyObjects = 3000;

const ModelFile& EmptyObjectsModel() {
    return CachedModel("empty-" + std::to_string(kEmptyObjects),
                       [] { return morvex::testdata::BuildEmptyObjectsModel(kEmptyObjects); });
}

// ---------------------------------------------------------------------------------------------
// Runs

std::string Binary() {
    if (const char* path = std::getenv("MORVEX_BENCH_BINARY"); path != nullptr && *path != '\0') {
        return path;
    }
    return MORVEX_BINARY;
}

enum class Mode { Obj, Mqo, Gltf, Check };

const char* Option(Mode mode) {
    switch (mode) {
        case Mode::Obj:
            return "";
        case Mode::Mqo:
            return "-m";
        case Mode::Gltf:
            return "-g";
        case Mode::Check:
            return "-c";
    }
    return "";
}

// The folder the runs write into, removed at exit.
fs::path WorkDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() /
                     ("morvex-bench-run-" + std::to_string(static_cast<long>(::getpid())));
        fs::remove_all(d);
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

void FreshDir(const fs::path& dir) {
    fs::remove_all(dir);
    fs::create_directories(dir);
}

struct Tree {
    std::uintmax_t bytes = 0;
    std::int64_t files = 0;
};

Tree Measure(const fs::path& dir) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        tree.bytes += entry.file_size();
        ++tree.files;
    }
    return tree;
}

// A morvex run of `input` into `dest` (check mode gets no destination).
Command Morvex(Mode mode, const fs::path& input, const fs::path& dest) {
    Command command{{Binary()}, ""};
    if (*Option(mode) != '\0') command.argv.emplace_back(Option(mode));
    command.argv.push_back(input.string());
    if (mode != Mode::Check) command.argv.push_back(dest.string() + "/");
    return command;
}

// Means and peaks over the runs of one command in a benchmark.
struct Series {
    int runs = 0;
    double seconds = 0.0;
    double cpuSeconds = 0.0;
    double maxRssKiB = 0.0;
    double minorFaults = 0.0;

    void Add(const RunResult& r) {
        ++runs;
        seconds += r.seconds;
        cpuSeconds += r.cpuSeconds;
        maxRssKiB = std::max(maxRssKiB, r.maxRssKiB);
        minorFaults += r.minorFaults;
    }
    double MeanSeconds() const { return runs > 0 ? seconds / runs : 0.0; }
};

// Runs `command`; on failure marks the benchmark as failed and returns false.
bool RunOrSkip(benchmark::State& state, const Command& command, Series& series,
               RunResult* last = nullptr) {
    RunResult r = TheLauncher().Run(command);
    if (r.status != 0) {
        std::string message =
            command.argv[0] + " failed (exit status " + std::to_string(r.status) + ")";
        state.SkipWithError(message.c_str());
        return false;
    }
    series.Add(r);
    if (last != nullptr) *last = r;
    return true;
}

bool CheckModel(benchmark::State& state, const ModelFile& model) {
    if (!model.path.empty()) return true;
    state.SkipWithError("the model could not be written to the cache folder");
    return false;
}

// Reads the input once, so that the first measured run finds it in the page cache.
void WarmUp(const fs::path& input) {
    TheLauncher().Run({{"cat", input.string()}, ""});
}

constexpr double kMiB = 1024.0 * 1024.0;

// The counters every benchmark reports for its morvex runs.
void ReportMorvex(benchmark::State& state, const Series& morvex, std::uintmax_t outputBytes) {
    if (morvex.runs == 0) return;
    state.counters["rss_MiB"] = morvex.maxRssKiB / 1024.0;
    state.counters["minflt"] = morvex.minorFaults / morvex.runs;
    state.counters["cpu_ms"] = morvex.cpuSeconds / morvex.runs * 1e3;
    state.counters["out_MiB"] = static_cast<double>(outputBytes) / kMiB;
}

void ReportReference(benchmark::State& state, const Series& morvex, const Series& reference) {
    if (morvex.runs == 0 || reference.runs == 0) return;
    state.counters["ref_ms"] = reference.MeanSeconds() * 1e3;
    state.counters["ratio"] = morvex.MeanSeconds() / reference.MeanSeconds();
}

// ---------------------------------------------------------------------------------------------
// The benchmark scene: each mode against its reference

// With `manyTextures`, the model of 24 textures instead of the scene.
void BM_Convert(benchmark::State& state, Mode mode, bool manyTextures = false) {
    const ModelFile& model = manyTextures ? ManyTexturesModel() : Scene(1);
    if (!CheckModel(state, model)) return;
    const fs::path out = WorkDir() / "out", ref = WorkDir() / "ref";
    WarmUp(model.path);
    Series morvex, reference;
    Tree tree;
    for (auto _ : state) {
        FreshDir(out);
        RunResult r;
        if (!RunOrSkip(state, Morvex(mode, model.path, out), morvex, &r)) break;
        state.SetIterationTime(r.seconds);
        tree = Measure(out);
        bool ok = true;
        switch (mode) {
            case Mode::Obj:
            case Mode::Mqo:
                // The output folder just written, copied page cache to page cache.
                fs::remove_all(ref);
                ok = RunOrSkip(state, {{"cp", "-r", out.string(), ref.string()}, ""}, reference);
                break;
            case Mode::Gltf:
                FreshDir(ref);
                ok = RunOrSkip(state, Morvex(Mode::Obj, model.path, ref), reference);
                break;
            case Mode::Check:
                ok = RunOrSkip(state, {{"cat", model.path.string()}, ""}, reference);
                break;
        }
        if (!ok) break;
    }
    fs::remove_all(out);
    fs::remove_all(ref);
    state.SetLabel(mode == Mode::Gltf    ? "ref: OBJ conversion"
                   : mode == Mode::Check ? "ref: cat input"
                                         : "ref: cp -r output");
    ReportMorvex(state, morvex, mode == Mode::Check ? 0 : tree.bytes);
    ReportReference(state, morvex, reference);
    state.counters["in_MB"] = static_cast<double>(fs::file_size(model.path)) / 1e6;
    state.counters["Mvert"] = static_cast<double>(model.stats.vertices) / 1e6;
}

BENCHMARK_CAPTURE(BM_Convert, obj, Mode::Obj)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, mqo, Mode::Mqo)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, gltf, Mode::Gltf)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, gltf_textures, Mode::Gltf, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Convert, check, Mode::Check)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// The way back: --pack

// `glb` with every node given a translation: every object moved, so that the pack encodes every
// vertex block again. False when the file is not a glb our writer made.
bool WriteMovedGlb(const fs::path& glb, const fs::path& moved) {
    std::ifstream in(glb, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 20) return false;
    std::uint32_t jsonLength = 0;
    std::memcpy(&jsonLength, bytes.data() + 12, 4);
    std::string json(bytes.data() + 20, jsonLength);
    const std::string key = "\"mesh\":";  // only nodes name a mesh
    for (std::size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 40)) {
        json.insert(at, "\"translation\":[0,0.5,0],");
    }
    json.append((4 - json.size() % 4) % 4, ' ');
    const auto newLength = static_cast<std::uint32_t>(json.size());
    const auto total = static_cast<std::uint32_t>(bytes.size() - jsonLength + json.size());
    std::ofstream out(moved, std::ios::binary);
    out.write(bytes.data(), 8);
    out.write(reinterpret_cast<const char*>(&total), 4);
    out.write(reinterpret_cast<const char*>(&newLength), 4);
    out.write(bytes.data() + 16, 4);
    out.write(json.data(), static_cast<std::streamsize>(json.size()));
    out.write(bytes.data() + 20 + jsonLength,
              static_cast<std::streamsize>(bytes.size() - 20 - jsonLength));
    return static_cast<bool>(out.flush());
}

void BM_Pack(benchmark::State& state, bool moved) {
    const ModelFile& model = Scene(1);
    if (!CheckModel(state, model)) return;
    const fs::path glbs = WorkDir() / "glb", out = WorkDir() / "out";
    FreshDir(glbs);
    Series unused;
    if (!RunOrSkip(state, Morvex(Mode::Gltf, model.path, glbs), unused)) return;
    fs::path glb = glbs / (model.path.stem().string() + ".glb");
    if (moved) {
        const fs::path edited = glbs / "moved.glb";
        if (!WriteMovedGlb(glb, edited)) {
            state.SkipWithError("the scene's glb could not be edited");
            return;
        }
        glb = edited;
    }
    WarmUp(model.path);
    WarmUp(glb);
    Series morvex, reference;
    for (auto _ : state) {
        FreshDir(out);
        RunResult r;
        const fs::path packed = out / "new.it3";
        if (!RunOrSkip(
                state,
                {{Binary(), "--pack", model.path.string(), glb.string(), packed.string()}, ""},
                morvex, &r)) {
            break;
        }
        state.SetIterationTime(r.seconds);
        const bool ok =
            moved ? RunOrSkip(state, Morvex(Mode::Gltf, model.path, out), reference)
                  : RunOrSkip(state, {{Binary(), "-i", model.path.string()}, ""}, reference);
        if (!ok) break;
    }
    fs::remove_all(out);
    fs::remove_all(glbs);
    state.SetLabel(moved ? "ref: -g" : "ref: -i");
    ReportMorvex(state, morvex, fs::file_size(model.path));
    ReportReference(state, morvex, reference);
}

BENCHMARK_CAPTURE(BM_Pack, identity, false)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pack, moved, true)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Linearity

// The cost per output MiB of `many` (ms_MiB) against that of `few` (ref_ms_MiB), converted in
// turn in each iteration, and the first over the second (ratio).
void PerMiB(benchmark::State& state, Mode mode, const ModelFile& many, const ModelFile& few,
            const char* label) {
    if (!CheckModel(state, many) || !CheckModel(state, few)) return;
    const fs::path out = WorkDir() / "out", ref = WorkDir() / "ref";
    WarmUp(many.path);
    WarmUp(few.path);
    Series morvex, reference;
    Tree manyTree, fewTree;
    for (auto _ : state) {
        FreshDir(ref);
        if (!RunOrSkip(state, Morvex(mode, few.path, ref), reference)) break;
        fewTree = Measure(ref);
        FreshDir(out);
        RunResult r;
        if (!RunOrSkip(state, Morvex(mode, many.path, out), morvex, &r)) break;
        state.SetIterationTime(r.seconds);
        manyTree = Measure(out);
    }
    fs::remove_all(out);
    fs::remove_all(ref);
    ReportMorvex(state, morvex, manyTree.bytes);
    if (morvex.runs == 0 || reference.runs == 0 || manyTree.bytes == 0 || fewTree.bytes == 0) {
        return;
    }
    const double manyPerMiB =
        morvex.MeanSeconds() * 1e3 / (static_cast<double>(manyTree.bytes) / kMiB);
    const double fewPerMiB =
        reference.MeanSeconds() * 1e3 / (static_cast<double>(fewTree.bytes) / kMiB);
    state.SetLabel(label);
    state.counters["ref_ms"] = reference.MeanSeconds() * 1e3;
    state.counters["ms_MiB"] = manyPerMiB;
    state.counters["ref_ms_MiB"] = fewPerMiB;
    state.counters["ratio"] = manyPerMiB / fewPerMiB;
}

// 20,000 meshes against 250 with the same vertex count.
void BM_MeshCount(benchmark::State& state, Mode mode) {
    PerMiB(state, mode, MeshCountModel(kManyMeshes), MeshCountModel(kFewMeshes),
           "20000 meshes; ref: 250 meshes, per output MiB");
}

BENCHMARK_CAPTURE(BM_MeshCount, obj, Mode::Obj)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MeshCount, mqo, Mode::Mqo)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MeshCount, gltf, Mode::Gltf)->UseManualTime()->Unit(benchmark::kMillisecond);

// 32,000 meshes of 3 to 12 vertices against 250 meshes of 6,000: the cost of each mesh.
void BM_TinyMeshes(benchmark::State& state, Mode mode) {
    PerMiB(state, mode, TinyMeshModel(), LargeMeshModel(),
           "32000 tiny meshes; ref: 250 meshes of 1.5 M vertices, per output MiB");
}

BENCHMARK_CAPTURE(BM_TinyMeshes, obj, Mode::Obj)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TinyMeshes, mqo, Mode::Mqo)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TinyMeshes, gltf, Mode::Gltf)->UseManualTime()->Unit(benchmark::kMillisecond);

// 3,000 objects without meshes against a shell loop that writes as many files as the mode
// does (6,000 for OBJ + MTL, 3,000 for MQO), each of two bytes, into an empty folder: the cost
// of creating, writing and closing small files without any conversion work. The loop runs in
// /bin/sh, where echo is built in, so it starts one process for seq and none per file.
void BM_EmptyObjects(benchmark::State& state, Mode mode) {
    const ModelFile& model = EmptyObjectsModel();
    if (!CheckModel(state, model)) return;
    const fs::path out = WorkDir() / "out", ref = WorkDir() / "ref";
    const int files = mode == Mode::Obj ? 2 * kEmptyObjects : kEmptyObjects;
    const Command loop{{"sh", "-c", "for i in $(seq \"$1\"); do echo x > \"f$i\"; done", "sh",
                        std::to_string(files)},
                       ref.string()};
    WarmUp(model.path);
    Series morvex, reference;
    Tree tree;
    for (auto _ : state) {
        FreshDir(out);
        RunResult r;
        if (!RunOrSkip(state, Morvex(mode, model.path, out), morvex, &r)) break;
        state.SetIterationTime(r.seconds);
        tree = Measure(out);
        FreshDir(ref);
        if (!RunOrSkip(state, loop, reference)) break;
        if (Measure(ref).files != files) {
            state.SkipWithError("the shell loop did not write its files");
            break;
        }
    }
    fs::remove_all(out);
    fs::remove_all(ref);
    state.SetLabel("ref: sh loop writing " + std::to_string(files) + " files");
    ReportMorvex(state, morvex, tree.bytes);
    ReportReference(state, morvex, reference);
    state.counters["files"] = static_cast<double>(tree.files);
    if (morvex.runs > 0) {
        state.counters["minflt_obj"] = morvex.minorFaults / morvex.runs / kEmptyObjects;
    }
}

BENCHMARK_CAPTURE(BM_EmptyObjects, obj, Mode::Obj)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EmptyObjects, mqo, Mode::Mqo)->UseManualTime()->Unit(benchmark::kMillisecond);

// The scene with k times its vertices (Arg k), against the scene itself in the same
// iteration: ms_per_Mvert, and ratio = time(k) / (k * time(1)), 1 for linear growth. For k = 1
// the reference is the same model and the ratio is not computed.
void BM_Scale(benchmark::State& state, Mode mode) {
    const int scale = static_cast<int>(state.range(0));
    const ModelFile& model = Scene(scale);
    const ModelFile& base = Scene(1);
    if (!CheckModel(state, model) || !CheckModel(state, base)) return;
    const fs::path out = WorkDir() / "out", ref = WorkDir() / "ref";
    WarmUp(model.path);
    Series morvex, reference;
    Tree tree;
    for (auto _ : state) {
        FreshDir(out);
        RunResult r;
        if (!RunOrSkip(state, Morvex(mode, model.path, out), morvex, &r)) break;
        state.SetIterationTime(r.seconds);
        tree = Measure(out);
        if (scale == 1) continue;
        fs::remove_all(out);  // keeps the page cache to one output at a time
        FreshDir(ref);
        if (!RunOrSkip(state, Morvex(mode, base.path, ref), reference)) break;
    }
    fs::remove_all(out);
    fs::remove_all(ref);
    ReportMorvex(state, morvex, mode == Mode::Check ? 0 : tree.bytes);
    state.counters["Mvert"] = static_cast<double>(model.stats.vertices) / 1e6;
    if (morvex.runs > 0) {
        state.counters["ms_per_Mvert"] =
            morvex.MeanSeconds() * 1e3 / (static_cast<double>(model.stats.vertices) / 1e6);
    }
    if (scale > 1 && morvex.runs > 0 && reference.runs > 0) {
        state.SetLabel("ref: the 1x scene");
        state.counters["ref_ms"] = reference.MeanSeconds() * 1e3;
        state.counters["ratio"] = morvex.MeanSeconds() / (scale * reference.MeanSeconds());
    }
}

void ScaleArgs(benchmark::internal::Benchmark* b) {
    b->ArgName("x")->Arg(1)->Arg(2)->Arg(4)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_Scale, obj, Mode::Obj)->Apply(ScaleArgs);
BENCHMARK_CAPTURE(BM_Scale, mqo, Mode::Mqo)->Apply(ScaleArgs);
BENCHMARK_CAPTURE(BM_Scale, gltf, Mode::Gltf)->Apply(ScaleArgs);
BENCHMARK_CAPTURE(BM_Scale, check, Mode::Check)->Apply(ScaleArgs);

// The file system of `dir`. `cp -r` asks for a reflink first: where the file system has them
// (btrfs, XFS) the copy shares the extents and copies nothing, so the OBJ and MQO references
// mean something only on file systems without them (ext4, tmpfs).
std::string FileSystemOf(const fs::path& dir) {
    struct statfs info {};
    if (::statfs(dir.c_str(), &info) != 0) return "unknown";
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0xEF53:
            return "ext2/3/4";
        case 0x01021994:
            return "tmpfs";
        case 0x9123683E:
            return "btrfs (reflinks: the cp -r reference copies nothing)";
        case 0x58465342:
            return "xfs (reflinks: the cp -r reference copies nothing)";
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "type 0x%lx", static_cast<unsigned long>(info.f_type));
            return text;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The summary after the report

// The console report, followed by one line per benchmark with the figures that the speed goals
// are judged by: the medians when there are repetitions (their other aggregates are left out),
// the single run otherwise.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    explicit SummaryReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (median || single) rows_.push_back(run);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        if (rows_.empty()) return;
        std::ostream& out = GetOutputStream();
        auto counter = [](const Run& run, const char* name, int decimals) {
            auto found = run.counters.find(name);
            char text[32] = "-";
            if (found != run.counters.end()) {
                std::snprintf(text, sizeof text, "%.*f", decimals,
                              static_cast<double>(found->second));
            }
            return std::string(text);
        };
        char line[512];
        std::snprintf(line, sizeof line, "%-26s %9s %9s %9s %7s %8s %8s  %s\n", "summary", "ms",
                      "cpu_ms", "ref_ms", "ratio", "rss_MiB", "out_MiB", "reference");
        out << '\n' << line;
        for (const Run& run : rows_) {
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
            std::snprintf(line, sizeof line, "%-26s %9.1f %9s %9s %7s %8s %8s  %s\n", name.c_str(),
                          run.GetAdjustedRealTime(), counter(run, "cpu_ms", 1).c_str(),
                          counter(run, "ref_ms", 1).c_str(), counter(run, "ratio", 2).c_str(),
                          counter(run, "rss_MiB", 1).c_str(), counter(run, "out_MiB", 1).c_str(),
                          run.report_label.c_str());
            out << line;
        }
    }

  private:
    std::vector<Run> rows_;
};

}  // namespace

int main(int argc, char** argv) {
    if (!TheLauncher().Start()) {
        std::perror("bench_pipeline: cannot start the launcher process");
        return 1;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--models") {
        // Generates every model (scales 1 to 8 take a few minutes once) and prints the paths.
        for (int scale : {1, 2, 4, 8}) std::printf("%s\n", Scene(scale).path.c_str());
        std::printf("%s\n", MeshCountModel(kFewMeshes).path.c_str());
        std::printf("%s\n", MeshCountModel(kManyMeshes).path.c_str());
        std::printf("%s\n", EmptyObjectsModel().path.c_str());
        std::printf("%s\n", TinyMeshModel().path.c_str());
        std::printf("%s\n", LargeMeshModel().path.c_str());
        std::printf("%s\n", ManyTexturesModel().path.c_str());
    } else {
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
        benchmark::AddCustomContext("morvex", Binary());
        benchmark::AddCustomContext("model_cache", CacheDir().string());
        benchmark::AddCustomContext("work_dir",
                                    WorkDir().string() + " on " + FileSystemOf(WorkDir()));
        const RunResult floor = TheLauncher().Run({{"true"}, ""});
        benchmark::AddCustomContext("launcher_floor_rss",
                                    std::to_string(static_cast<long>(floor.maxRssKiB)) + " KiB");
        const bool colour = ::isatty(STDOUT_FILENO) != 0;
        SummaryReporter reporter(colour ? benchmark::ConsoleReporter::OO_ColorTabular
                                        : benchmark::ConsoleReporter::OO_Tabular);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
        std::error_code error;
        fs::remove_all(WorkDir(), error);
    }
    TheLauncher().Stop();
    return 0;
}

// The folder mode against the shell recipe it replaces, side by side in one run:
//
//   BM_Folder/small   200 small models (the bundled sample: 2 objects, 3 textures of 64 x 64)
//   BM_Folder/large   20 large models (5 objects of 10 meshes, 250,000 vertices, and two
//                     textures of 512 x 512: about 36 MiB of OBJ output each)
//
// Each iteration converts the folder twice: `morvex models out` (the folder mode, one model per
// core) and, as the reference, the README's recipe, which starts one morvex per model:
//
//   find models -name '*.it3' -print0 |
//       xargs -0 -P "$(nproc)" -I{} sh -c 'd="ref/$(basename "{}" .it3)"; mkdir -p "$d" && morvex
//       "{}" "$d"'
//
// The two run in alternating order, each into an empty folder, with standard output and error
// on /dev/null. The time of a benchmark is the folder mode's wall time; `ref_ms` is the recipe's
// and `ratio` the folder mode over the recipe (below 1: the folder mode is faster). The first
// iteration also checks that both wrote the same files with the same bytes.
//
// Environment: MORVEX_BENCH_BINARY names the executable (default: the morvex built with this
// program); MORVEX_BENCH_DIR the folder that caches the generated models (default:
// morvex-bench-models in the temporary folder).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "testdata/bench_models.h"
#include "testdata/sample_model.h"
#include "testdata/texture_writer.h"

namespace {

namespace fs = std::filesystem;
using morvex::testdata::It3Writer;

// Part of the cache folder's name: bump it whenever a generator changes its output.
constexpr const char* kVersion = "v1";

struct Timed {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;
};

// Runs argv (looked up in PATH) in `cwd` with standard output and error on /dev/null.
Timed Run(const std::vector<std::string>& args, const fs::path& cwd) {
    Timed result;
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0 || ::dup2(null, STDERR_FILENO) < 0 ||
            ::chdir(cwd.c_str()) != 0) {
            ::_exit(126);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (child < 0) return result;
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return result;
}

std::string Binary() {
    if (const char* path = std::getenv("MORVEX_BENCH_BINARY"); path != nullptr && *path != '\0') {
        return fs::absolute(path).string();
    }
    return MORVEX_BINARY;
}

fs::path CacheDir() {
    if (const char* dir = std::getenv("MORVEX_BENCH_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    return fs::temp_directory_path() / "morvex-bench-models";
}

It3Writer LargeModel(int k) {
    It3Writer file = morvex::testdata::BuildMeshCountModel(10, 50, 100).file;
    for (int t = 0; t < 2; ++t) {
        const auto seed = static_cast<std::uint32_t>(k * 2 + t);
        file.Block("TEXI", morvex::testdata::TexiPayload(
                               "skin" + std::to_string(t),
                               morvex::testdata::EncodeTexture1004(
                                   morvex::testdata::TestPicture(512, 512, seed))));
    }
    return file;
}

// The folder of `count` models named m000.it3 ..., generated once into the cache. Empty when
// it cannot be written.
fs::path ModelFolder(const std::string& name, int count, bool large) {
    const fs::path dir = CacheDir() / (name + "-" + std::to_string(count) + "-" + kVersion);
    const fs::path done = dir / ".complete";
    if (fs::exists(done)) return dir;
    std::fprintf(stderr, "generating %s ...\n", dir.c_str());
    std::error_code error;
    fs::remove_all(dir, error);
    fs::create_directories(dir, error);
    It3Writer small = morvex::testdata::BuildSampleModel();
    It3Writer first = large ? LargeModel(0) : small;
    for (int k = 0; k < count; ++k) {
        char file[32];
        std::snprintf(file, sizeof file, "m%03d.it3", k);
        // The large models share their geometry; their textures differ.
        const It3Writer model = !large ? small : k == 0 ? first : LargeModel(k);
        if (!model.Save((dir / file).string())) return {};
    }
    std::ofstream(done) << "ok\n";
    return dir;
}

fs::path WorkDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() /
                     ("morvex-bench-folders-" + std::to_string(static_cast<long>(::getpid())));
        fs::remove_all(d);
        fs::create_directories(d);
        return d;
    }();
    return dir;
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

// True when both folders hold the same files with the same bytes.
bool SameTrees(const fs::path& a, const fs::path& b) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(a)) {
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), a));
    }
    if (static_cast<std::int64_t>(files.size()) != Measure(b).files) return false;
    for (const fs::path& file : files) {
        std::ifstream x(a / file, std::ios::binary), y(b / file, std::ios::binary);
        if (!y) return false;
        if (!std::equal(std::istreambuf_iterator<char>(x), {}, std::istreambuf_iterator<char>(y),
                        {})) {
            return false;
        }
    }
    return true;
}

void BM_Folder(benchmark::State& state, const char* name, int count, bool large) {
    const fs::path models = ModelFolder(name, count, large);
    if (models.empty()) {
        state.SkipWithError("the models could not be written to the cache folder");
        return;
    }
    const fs::path work = WorkDir();
    const fs::path out = work / "out", ref = work / "ref";
    const std::string binary = Binary();
    const std::vector<std::string> folderMode = {binary, models.string(), out.string()};
    const std::string recipe =
        "find \"$1\" -name '*.it3' -print0 | xargs -0 -P \"$(nproc)\" -I{} sh -c 'd=\"" +
        ref.string() +
        "/$(basename \"{}\" .it3)\"; mkdir -p \"$d\" && \"$0\" \"{}\" \"$d\"' \"$2\"";
    const std::vector<std::string> shell = {"sh", "-c", recipe, "sh", models.string(), binary};
    Run({"sh", "-c", "cat \"$1\"/*.it3 > /dev/null", "sh", models.string()}, work);

    double folderSeconds = 0, recipeSeconds = 0, cpuSeconds = 0;
    int runs = 0;
    Tree tree;
    for (auto _ : state) {
        fs::remove_all(out);
        fs::remove_all(ref);
        fs::create_directories(ref);
        Timed folder, reference;
        if (runs % 2 == 0) {
            folder = Run(folderMode, work);
            reference = Run(shell, work);
        } else {
            reference = Run(shell, work);
            folder = Run(folderMode, work);
        }
        if (folder.status != 0 || reference.status != 0) {
            state.SkipWithError("a run failed");
            break;
        }
        if (runs == 0) {
            tree = Measure(out);
            if (!SameTrees(out, ref)) {
                state.SkipWithError("the folder mode and the recipe wrote different files");
                break;
            }
        }
        state.SetIterationTime(folder.seconds);
        folderSeconds += folder.seconds;
        recipeSeconds += reference.seconds;
        cpuSeconds += folder.cpuSeconds;
        ++runs;
    }
    fs::remove_all(out);
    fs::remove_all(ref);
    if (runs == 0) return;
    state.SetLabel("ref: find | xargs -P nproc, one morvex per model");
    state.counters["ref_ms"] = recipeSeconds / runs * 1e3;
    state.counters["ratio"] = folderSeconds / recipeSeconds;
    state.counters["cpu_ms"] = cpuSeconds / runs * 1e3;
    state.counters["models"] = count;
    state.counters["files"] = static_cast<double>(tree.files);
    state.counters["out_MiB"] = static_cast<double>(tree.bytes) / (1024.0 * 1024.0);
}

BENCHMARK_CAPTURE(BM_Folder, small, "sample", 200, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Folder, large, "large", 20, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::AddCustomContext("morvex", Binary());
    benchmark::AddCustomContext("cores", std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code error;
    fs::remove_all(WorkDir(), error);
    return 0;
}

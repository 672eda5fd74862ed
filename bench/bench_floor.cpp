// The two-core floor of each mode, built from the conversion's own pieces, against the morvex
// run of the same model in the same iteration:
//
//   read     the input read whole into memory (a check with every payload, one thread)
//   decode   every mesh of every object decoded, one after another (the object and mesh walk),
//            and for OBJ and MQO every texture's picture (its BMP file is its rows as they are)
//   format   OBJ or MQO: every line of every mesh formatted into memory; -g: every view's bytes
//            made and every texture encoded as PNG as a material without an alpha map has it
//            (the decoding above taken off)
//   write    the bytes of the mode's output written with write() to as many new files
//
// floor = (read + decode + format + write) / 2, each piece the CPU time (user and system) of one
// thread: two cores that shared the work perfectly and waited for nothing. Counters: each piece
// (ms), floor_ms, morvex_ms (the executable's wall time), ratio (morvex_ms over floor_ms),
// morvex_cpu_ms (its user and system time) and cpu_ratio (morvex_cpu_ms over twice floor_ms: the
// work it does beyond the pieces, which holds on a machine too busy for wall times).
//
// The models are those of bench_pipeline, from its cache (MORVEX_BENCH_DIR, default
// morvex-bench-models in the temporary folder): run `bench_pipeline --models` first.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "decode/texture_block.h"
#include "export/gltf/png_encode.h"
#include "export/object_walk.h"
#include "export/text/mqo_writer.h"
#include "export/text/obj_writer.h"
#include "it3/parallel.h"

namespace {

namespace fs = std::filesystem;
using namespace morvex;

enum class Mode { Obj, Mqo, Gltf };

fs::path CacheDir() {
    if (const char* dir = std::getenv("MORVEX_BENCH_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    return fs::temp_directory_path() / "morvex-bench-models";
}

fs::path WorkDir() {
    return fs::temp_directory_path() / "morvex-bench-floor";
}

double CpuNow() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The CPU time of `work` (this process runs one thread while it runs).
template <class Work>
double CpuSeconds(Work&& work) {
    const double start = CpuNow();
    work();
    return CpuNow() - start;
}

// Runs the executable on the model into a fresh folder; its wall time, its CPU time in `cpu`, and
// the sizes of the files it wrote.
double RunMorvex(Mode mode, const fs::path& model, double& cpu,
                 std::vector<std::uintmax_t>& sizes) {
    const fs::path out = WorkDir() / "out";
    fs::remove_all(out);
    fs::create_directories(out);
    std::vector<std::string> args = {MORVEX_BINARY};
    if (mode == Mode::Mqo) args.push_back("-m");
    if (mode == Mode::Gltf) args.push_back("-g");
    args.push_back(model.string());
    args.push_back(out.string());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto time = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    cpu = time(usage.ru_utime) + time(usage.ru_stime);
    sizes.clear();
    for (const auto& entry : fs::directory_iterator(out)) sizes.push_back(entry.file_size());
    fs::remove_all(out);
    return seconds;
}

// Every line of every mesh into `text`; returns the bytes formatted.
std::size_t FormatText(Mode mode, const Model& model, std::vector<char>& text) {
    Console console = Console::Capturing();
    std::size_t bytes = 0;
    WalkObjects(model, console, [&](ModelObject& object) {
        WalkMeshes(console, object, [&](std::int32_t, std::int32_t material) {
            const MeshData& mesh = object.vertices.Current();
            const auto vertices = static_cast<std::size_t>(mesh.vertexCount);
            const auto faces = static_cast<std::size_t>(mesh.faceCount);
            const std::size_t room =
                mode == Mode::Obj ? 3 * vertices * kMaxObjVertexLine + faces * kMaxObjFaceLine
                                  : vertices * kMaxMqoVertexLine + faces * kMaxMqoFaceLine;
            if (text.size() < room) text.resize(room);
            LineWriter out(text.data(), text.data() + room);
            if (mode == Mode::Obj) {
                WriteObjVertices(out, mesh, ObjVertexLines::Positions, 0, mesh.vertexCount);
                WriteObjVertices(out, mesh, ObjVertexLines::TexCoords, 0, mesh.vertexCount);
                if (mesh.HasNormals()) {
                    WriteObjVertices(out, mesh, ObjVertexLines::Normals, 0, mesh.vertexCount);
                }
                WriteObjFaces(out, mesh, 0, 0, mesh.faceCount);
            } else {
                WriteMqoVertices(out, mesh, 0, mesh.vertexCount);
                WriteMqoFaces(out, mesh, material, 0, mesh.faceCount);
            }
            bytes += out.Written();
            return true;
        });
        return true;
    });
    return bytes;
}

// Every view's bytes as the glTF writer makes them, and every texture's PNG.
std::size_t EncodeGltf(const Model& model, std::vector<float>& views) {
    Console console = Console::Capturing();
    std::size_t bytes = 0;
    WalkObjects(model, console, [&](ModelObject& object) {
        WalkMeshes(console, object, [&](std::int32_t, std::int32_t) {
            const MeshData& mesh = object.vertices.Current();
            views.clear();
            for (std::int32_t k = 0; k < mesh.vertexCount; ++k) {
                for (float v : Upright(mesh.PositionAt(k))) views.push_back(v);
                if (mesh.HasNormals()) {
                    const auto n = Upright(mesh.NormalAt(k));
                    const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
                    for (float v : n) views.push_back(length > 0 ? v / length : v);
                }
                for (float v : mesh.TexCoordAt(k)) views.push_back(v);
            }
            for (std::int32_t t = 0; t < mesh.faceCount; ++t) {
                for (std::uint32_t index : mesh.FaceAt(t))
                    views.push_back(static_cast<float>(index));
            }
            bytes += views.size() * 4;
            return true;
        });
        return true;
    });
    std::vector<std::uint8_t> png;
    for (const Block& block : model.blocks) {
        if (block.TagBits() != kTagTexi) continue;
        TextureBlock texture;
        texture.BindTo(block);
        Picture picture;
        if (DecodeTexture(texture.Header(), picture) != Outcome::Ok) continue;
        if (picture.bitsPerPixel == 8) {
            (void)EncodePalettePng(picture, png);
        } else {
            RgbaPicture rgba;
            ToRgba(picture, rgba);
            (void)EncodePng(rgba, false, png);
        }
        bytes += png.size();
    }
    return bytes;
}

// Writes files of the given sizes from memory into a fresh folder.
void WriteFiles(const std::vector<std::uintmax_t>& sizes, const std::vector<char>& bytes) {
    const fs::path out = WorkDir() / "write";
    fs::remove_all(out);
    fs::create_directories(out);
    int n = 0;
    for (std::uintmax_t size : sizes) {
        const std::string path = (out / std::to_string(n++)).string();
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (std::uintmax_t done = 0; done < size;) {
            const std::size_t chunk =
                static_cast<std::size_t>(std::min<std::uintmax_t>(size - done, bytes.size()));
            const ssize_t written = write(fd, bytes.data(), chunk);
            if (written <= 0) break;
            done += static_cast<std::uintmax_t>(written);
        }
        close(fd);
    }
}

void BM_Floor(benchmark::State& state, Mode mode, const char* name) {
    const fs::path model = CacheDir() / (std::string(name) + "-v1.it3");
    if (!fs::exists(model)) {
        state.SkipWithError("the model is missing: run bench_pipeline --models first");
        return;
    }
    const std::vector<char> source(std::size_t{1} << 20, 'x');
    std::vector<char> text;
    std::vector<float> views;
    double read = 0, decode = 0, format = 0, write = 0, morvex = 0, morvexCpu = 0;
    for (auto _ : state) {
        std::vector<std::uintmax_t> sizes;
        double cpu = 0;
        morvex += RunMorvex(mode, model, cpu, sizes);
        morvexCpu += cpu;
        SerialScope serial;
        Converter converter(Console::Capturing());
        ConvertOptions options;
        options.jobs = 1;
        read +=
            CpuSeconds([&] { converter.Convert(model.string(), "", OutputMode::Check, options); });
        const Model& loaded = converter.GetModel();
        const double decoding = CpuSeconds([&] {
            Console console = Console::Capturing();
            WalkObjects(loaded, console, [&](ModelObject& object) {
                WalkMeshes(console, object, [](std::int32_t, std::int32_t) { return true; });
                return true;
            });
            if (mode == Mode::Gltf) return;
            for (const Block& block : loaded.blocks) {
                if (block.TagBits() != kTagTexi) continue;
                TextureBlock texture;
                texture.BindTo(block);
                Picture picture;
                benchmark::DoNotOptimize(DecodeTexture(texture.Header(), picture));
            }
        });
        decode += decoding;
        const double formatting = CpuSeconds([&] {
            benchmark::DoNotOptimize(mode == Mode::Gltf ? EncodeGltf(loaded, views)
                                                        : FormatText(mode, loaded, text));
        });
        format += std::max(0.0, formatting - decoding);
        write += CpuSeconds([&] { WriteFiles(sizes, source); });
    }
    fs::remove_all(WorkDir());
    const auto n = static_cast<double>(state.iterations());
    const double floor = (read + decode + format + write) / n / 2;
    state.counters["read_ms"] = read / n * 1e3;
    state.counters["decode_ms"] = decode / n * 1e3;
    state.counters["format_ms"] = format / n * 1e3;
    state.counters["write_ms"] = write / n * 1e3;
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["morvex_ms"] = morvex / n * 1e3;
    state.counters["ratio"] = morvex / n / floor;
    state.counters["morvex_cpu_ms"] = morvexCpu / n * 1e3;
    state.counters["cpu_ratio"] = morvexCpu / n / (2 * floor);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Floor, scene_obj, Mode::Obj, "scene-x1")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Floor, scene_mqo, Mode::Mqo, "scene-x1")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Floor, scene_gltf, Mode::Gltf, "scene-x1")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Floor, textures_obj, Mode::Obj, "textures-24")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Floor, textures_gltf, Mode::Gltf, "textures-24")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Floor, tiny_obj, Mode::Obj, "tiny-meshes")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Floor, tiny_mqo, Mode::Mqo, "tiny-meshes")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Floor, tiny_gltf, Mode::Gltf, "tiny-meshes")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// A whole conversion of any file: the first input byte picks the mode (OBJ, MQO, glTF, check),
// the rest is the it3 file. Each run writes the file into a fresh temporary folder, converts it
// into a folder inside that one, checks that nothing appeared beside the two, and removes
// everything. Console lines go to /dev/null. The conversion runs with smaller Limits than the
// command line (pictures of 256 KiB, 16 objects, 64 meshes an object of at most 4096 vertices
// and triangles, 256 Ki image pixels beyond the pictures'), on the calling thread alone: the
// same code paths, with the work of one run kept small and its coverage deterministic.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "convert/converter.h"
#include "fuzz_support.h"
#include "platform/platform.h"

using namespace morvex;
namespace fs = std::filesystem;

namespace {

fs::path TempRoot() {
    std::error_code error;
    if (fs::is_directory("/dev/shm", error)) return "/dev/shm";
    return fs::temp_directory_path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static std::FILE* console = std::fopen(platform::kWindows ? "NUL" : "/dev/null", "w");
    static const fs::path root = TempRoot();
    fuzz::Require(console != nullptr);

    // A folder no other run has: named after the process and a count of its runs.
    static std::atomic<std::uint64_t> runs{0};
    fs::path dir;
    do {
        dir = root / ("morvex-fuzz-" + std::to_string(platform::ProcessId()) + "-" +
                      std::to_string(runs++));
    } while (!fs::create_directory(dir));
    const fs::path input = dir / "in.it3";
    {
        std::FILE* file = std::fopen(input.string().c_str(), "wb");
        fuzz::Require(file != nullptr);
        fuzz::Require(std::fwrite(data + 1, 1, size - 1, file) == size - 1);
        fuzz::Require(std::fclose(file) == 0);
    }
    fs::create_directory(dir / "out");

    {
        Converter converter(console);
        ConvertOptions options;
        options.limits.pictureBytes = 256 << 10;
        options.limits.objects = 16;
        options.limits.meshes = 64;
        options.limits.meshSize = 4096;
        options.limits.imagePixels = 256 << 10;
        options.jobs = 1;
        const int result = converter.Convert(input.string(), (dir / "out").string() + "/",
                                             static_cast<OutputMode>(data[0] & 3), options);
        fuzz::Require(result == 0 || result == -1);
    }

    // Only the input and the output folder may be there.
    int entries = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        fuzz::Require(name == "in.it3" || name == "out");
        ++entries;
    }
    fuzz::Require(entries == 2);
    fs::remove_all(dir);
    return 0;
}

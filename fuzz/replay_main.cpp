// A main for the fuzz targets outside libFuzzer: runs LLVMFuzzerTestOneInput once on every file
// named on the command line and on every file inside the folders named there (sorted, not
// recursive), so that ctest replays the regression inputs of earlier findings with any compiler.
// A path that does not exist holds no inputs (a target without findings has no folder). A failed
// check aborts the process; a file that cannot be read is an error (exit status 2).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "can not read %s\n", file.string().c_str());
        return false;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    // An exact-size heap copy, as libFuzzer gives it, so that a read past the end is caught.
    std::vector<std::uint8_t> exact(bytes);
    exact.shrink_to_fit();
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code error;
        if (!std::filesystem::exists(arg, error)) continue;
        if (std::filesystem::is_directory(arg, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg, error)) {
                if (entry.is_regular_file()) files.push_back(entry.path());
            }
        } else {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        if (!Replay(file)) return 2;
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}

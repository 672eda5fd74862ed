// Helpers shared by the tests: temporary folders, files, and running the built morvex.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "export/gltf/png_encode.h"
#include "it3/console.h"
#include "it3/model.h"
#include "testdata/it3_writer.h"

namespace morvex::test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary directory, removed with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

struct RunResult {
    int status = -1;         // exit status, or -1 when the process did not exit normally
    int signal = 0;          // the signal that ended it, if any
    std::string output;      // everything written to standard output (up to the limit)
    bool outputCut = false;  // more than RunLimits::maxOutput bytes were written
    std::string errors;      // everything written to standard error
};

// Guards for runs on hostile input: a run still going after `seconds` is ended by SIGALRM (a
// hang shows as that signal, not as a stuck test), and output beyond `maxOutput` bytes is read
// and dropped.
struct RunLimits {
    unsigned seconds = 0;  // 0: no limit
    std::size_t maxOutput = static_cast<std::size_t>(-1);
    // When not 0: no file the run writes may grow beyond this many bytes (RLIMIT_FSIZE, with
    // SIGXFSZ ignored, so that the write fails as on a full disk).
    std::uint64_t fileSize = 0;
};

#ifndef _WIN32
// In a child process after fork: replaces it with the built morvex and `args` (exit status 127
// when that fails).
[[noreturn]] void ExecMorvex(const std::vector<std::string>& args);
#endif

// The lines of `text`, without their line ends.
std::vector<std::string> SplitLines(const std::string& text);

// Runs the built morvex with `args` in the folder `workDir`. On Windows the '\' that separates
// folders in the lines naming files and models ("-> ", "Model : ", "Error : ", and standard
// error) reads as '/', so that one expected text serves both systems; the separator itself is
// tested on its own.
RunResult RunMorvex(const std::vector<std::string>& args, const fs::path& workDir,
                    const RunLimits& limits = {});

std::vector<std::uint8_t> ReadBytes(const fs::path& file);
std::string ReadText(const fs::path& file);
void WriteBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes);
// Makes a symbolic link to `target` (a folder one when `folder`): false where links cannot be
// made (the C++ library of MinGW has none).
bool MakeLink(const fs::path& target, const fs::path& link, bool folder = false);

// A path as UTF-8 text (the bytes on POSIX systems) with '/' between its folders.
std::string Generic(const fs::path& path);
// Names of the regular files in `dir` (not recursive), sorted; empty when dir does not exist.
std::vector<std::string> ListFiles(const fs::path& dir);
// Every regular file below `dir`, as paths relative to it.
std::vector<std::string> ListTree(const fs::path& dir);

// A model vertex at (x, y, z) with texture coordinates (u, v) and normal n.
inline testdata::Vertex V(float x, float y, float z, float u = 0, float v = 0,
                          std::array<float, 3> n = {0, 1, 0}) {
    testdata::Vertex vertex;
    vertex.position = {x, y, z};
    vertex.normal = n;
    vertex.texCoord = {u, v};
    return vertex;
}

// Every file and folder below `dir` (relative paths; folders end in '/') with the contents of the
// files: compare two snapshots to see what a run created, changed or removed.
std::map<std::string, std::string> SnapshotTree(const fs::path& dir);

// The usage text and its help line as the executable writes them when its output is not a
// console: UTF-8, or on Windows the code page 932 bytes a Japanese console program has always
// written.
std::string UsageOutput();

// The text `text` with every "\n" turned into CR LF.
std::string Crlf(const std::string& text);

// Runs an in-process Converter and returns its console output.
struct ConvertResult {
    int result = 0;
    bool outputFailed = false;
    std::string output;
    WorkCounters counters;
};
ConvertResult ConvertInProcess(const fs::path& input, const std::string& destPath, int mode);

// A model loaded and indexed in this process, as a conversion has it when its writers run: the
// registry filled, the bytes scanned (warnings go to `console`).
Model IndexedModel(std::vector<std::uint8_t> bytes, std::string baseName, Console& console);
Model IndexedModel(const fs::path& file, Console& console);

// Decodes a PNG file image with libpng into RGBA; `hadAlpha` tells the stored colour type.
bool DecodePng(const std::vector<std::uint8_t>& png, RgbaPicture& picture, bool& hadAlpha);

}  // namespace morvex::test

// A run of many models over a fuzzed tree: the input bytes build, under a fresh temporary folder,
// an input folder `models` and a destination `out` holding models, folders, FIFOs and links
// (to folders inside and outside the two, to the system's own folders, to nothing, to
// themselves), then pick the command line (mode, --out, --follow-links, -i). The run goes
// through the command line's parser and the batch, as the executable does. Whatever the tree,
// nothing outside `out` may be created, changed or removed, and no run may block.
//
// Input: byte 0 the command line (bits 0-1 the mode, bit 2 --out, bit 3 --follow-links, bit 4
// -i), then entries of (kind, parent, name length, name bytes[, target]): kind 0 a model, 1 a
// folder, 2 a link, 3 a FIFO; parent picks one of the folders made so far (models, out and
// those the entries made); a link's target byte picks one of a fixed list.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "batch/batch_run.h"
#include "cli/command_line.h"
#include "fuzz_support.h"
#include "testdata/it3_writer.h"

using namespace morvex;
namespace fs = std::filesystem;

namespace {

// A small model that converts in every mode: one object with a triangle.
const testdata::ByteVector& SmallModel() {
    static const testdata::ByteVector bytes = [] {
        testdata::It3Writer file;
        file.Info("o")
            .Block("MATE", testdata::MaterialPayload("MATE", {{"m", "", "", 1.0f}}))
            .Block("VPAC", testdata::VertexPayload("VPAC", {testdata::UnitTriangle()}));
        return file.Bytes();
    }();
    return bytes;
}

// Every entry below `root`, links not followed: path -> what it is (and a file's bytes).
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string path = it->path().lexically_relative(root).string();
        const fs::file_status status = it->symlink_status(error);
        if (fs::is_symlink(status)) {
            tree[path] = "link " + fs::read_symlink(it->path(), error).string();
        } else if (fs::is_regular_file(status)) {
            std::FILE* file = std::fopen(it->path().c_str(), "rb");
            std::string bytes;
            char buffer[4096];
            for (std::size_t n;
                 file != nullptr && (n = std::fread(buffer, 1, sizeof buffer, file));)
                bytes.append(buffer, n);
            if (file != nullptr) std::fclose(file);
            tree[path] = "file " + bytes;
        } else {
            tree[path] = fs::is_directory(status) ? "folder" : "other";
        }
    }
    return tree;
}

void DropBelow(std::map<std::string, std::string>& tree, const std::string& prefix) {
    std::erase_if(tree, [&](const auto& entry) {
        return entry.first == prefix || entry.first.starts_with(prefix + "/");
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static std::FILE* null = std::fopen("/dev/null", "w");
    fuzz::Require(null != nullptr);
    std::string folder = (fs::temp_directory_path() / "morvex-fuzz-folders-XXXXXX").string();
    fuzz::Require(mkdtemp(folder.data()) != nullptr);
    const fs::path root(folder);
    fs::create_directories(root / "models");
    fs::create_directories(root / "out");
    fs::create_directories(root / "outside");
    {
        std::FILE* file = std::fopen((root / "outside" / "kept.it3").c_str(), "wb");
        fuzz::Require(file != nullptr);
        std::fwrite(SmallModel().data(), 1, SmallModel().size(), file);
        std::fclose(file);
    }

    // Link targets: inside and outside the input and the destination, the system's own
    // folders (another file system), nothing, and the link itself. Never a folder above the
    // temporary one: a followed link may lead anywhere on the same file system.
    const std::vector<std::string> targets = {
        (root / "outside").string(),
        (root / "outside" / "kept.it3").string(),
        (root / "models").string(),
        (root / "out").string(),
        root.string(),
        "/proc/self",
        "/dev",
        "nowhere",
        ".",
        "self",
    };
    std::vector<fs::path> folders = {root / "models", root / "out"};
    for (std::size_t at = 1; at + 3 <= size;) {
        const std::uint8_t kind = data[at] % 4;
        const fs::path& parent = folders[data[at + 1] % folders.size()];
        const std::size_t length = data[at + 2] % 16;
        at += 3;
        if (at + length > size) break;
        std::string name(reinterpret_cast<const char*>(data + at), length);
        at += length;
        std::erase_if(name, [](char c) { return c == '/' || c == '\0'; });
        if (name.empty() || name == "." || name == "..") continue;
        const fs::path path = parent / name;
        std::error_code error;
        if (fs::exists(fs::symlink_status(path, error))) continue;
        if (kind == 0) {
            std::FILE* file = std::fopen(path.c_str(), "wb");
            if (file == nullptr) continue;
            std::fwrite(SmallModel().data(), 1, SmallModel().size(), file);
            std::fclose(file);
        } else if (kind == 1) {
            if (fs::create_directory(path, error)) folders.push_back(path);
        } else if (kind == 2) {
            const std::string& target = at < size ? targets[data[at++] % targets.size()] : ".";
            fs::create_symlink(target == "self" ? name : target, path, error);
        } else {
            mkfifo(path.c_str(), 0644);
        }
    }
    std::map<std::string, std::string> before = Snapshot(root);
    DropBelow(before, "out");

    // The command line, as the executable reads it.
    const std::uint8_t flags = data[0];
    const std::string models = (root / "models").string(), out = (root / "out").string();
    static const char* const kModes[] = {"--jobs=1", "-m", "-g", "-c"};
    std::vector<std::string> arguments = {(flags & 16) != 0 ? "-i" : kModes[flags & 3]};
    if (flags & 8) arguments.push_back("--follow-links");
    if (flags & 16) {
        arguments.push_back(models);
    } else if (flags & 4) {
        arguments.insert(arguments.end(), {"--out", out, models});
    } else {
        arguments.insert(arguments.end(), {models, out});
    }
    const std::vector<std::string_view> views(arguments.begin(), arguments.end());
    const CommandLine line = ParseCommandLine(views, [](const std::string& path) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (error || !fs::exists(status)) return PathKind::Missing;
        return fs::is_directory(status) ? PathKind::Folder : PathKind::File;
    });
    fuzz::Require(!line.showUsage && line.mistake.empty());
    BatchRequest request = BatchRequestOf(line);
    request.options.jobs = 1;
    request.options.checkHeadersOnly = true;
    RunBatch(request, null, null);

    std::map<std::string, std::string> after = Snapshot(root);
    DropBelow(after, "out");
    fuzz::Require(after == before);
    std::error_code error;
    fs::remove_all(root, error);
    return 0;
}

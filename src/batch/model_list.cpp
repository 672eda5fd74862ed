#include "batch/model_list.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "export/gltf/gltf_writer.h"
#include "it3/model.h"
#include "platform/platform.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using FolderId = platform::FileId;

std::string Joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return platform::IsSeparator(folder.back()) ? folder + name
                                                : folder + platform::kSeparator + name;
}

// The last component of a path.
std::string NameOf(const std::string& path) {
    std::size_t start = path.size();
    while (start > 0 && !platform::IsSeparator(path[start - 1])) --start;
    return path.substr(start);
}

class Search {
  public:
    Search(std::string_view destPath, OutputMode mode, ModelList& list)
        : destPath_(destPath), mode_(mode), list_(list) {}

    // A model at `path`; `relativeFolder` is where it goes below the destination ("" or
    // ending in '/').
    void AddModel(const std::string& path, const std::string& relativeFolder) {
        PlannedModel model;
        model.path = path;
        const std::string name = NameOf(path);
        std::string stem = BaseNameOf(name);
        // A folder name must be one on the system: on Windows, no trailing dot or blank.
        if (platform::kWindows) stem = SafeName(stem, NameRules{}.files);
        if (stem.empty()) stem = name;
        std::string key;
        if (mode_ == OutputMode::Check) {
            model.destPath = destPath_ + relativeFolder;
        } else if (mode_ == OutputMode::Gltf) {
            model.destPath = destPath_ + relativeFolder;
            model.folder = model.destPath;
            key = GltfFileName(model.destPath, BaseNameOf(path), NameRules{}.files);
        } else {
            model.destPath = destPath_ + relativeFolder + stem + platform::kSeparator;
            model.folder = model.destPath;
            key = model.destPath;
        }
        if (!key.empty()) {
            auto [at, fresh] = owners_.emplace(platform::CaseFolded(key), path);
            if (!fresh) model.conflict = at->second;
        }
        list_.models.push_back(std::move(model));
    }

    // Searches the folder at `path` (already known to be one, with identity `id`); false when it
    // was searched before.
    bool Folder(const std::string& path, const std::string& relativeFolder, FolderId id) {
        if (!visited_.insert(id).second) {
            const bool loop = std::find(above_.begin(), above_.end(), id) != above_.end();
            list_.messages.push_back("Warning : " + path +
                                     (loop ? " leads back to a folder above it, not followed."
                                           : " leads to a folder already searched, not followed."));
            return false;
        }
        std::vector<std::string> names;
        if (!ReadNames(path, names)) return true;
        above_.push_back(id);
        for (const std::string& name : names) {
            const std::string entry = Joined(path, name);
            platform::FileStatus info;
            if (const std::error_code error = platform::StatusOf(entry, info)) {
                Unreadable(entry, error);
                continue;
            }
            if (info.kind == platform::FileKind::Folder) {
                Folder(entry, relativeFolder + name + platform::kSeparator, info.id);
            } else if (HasIt3Extension(name)) {
                if (info.kind == platform::FileKind::Regular) {
                    AddModel(entry, relativeFolder);
                } else {
                    list_.messages.push_back("Warning : " + entry +
                                             " is not a regular file, skipped.");
                }
            }
        }
        above_.pop_back();
        return true;
    }

    void Unreadable(const std::string& path, const std::error_code& error) {
        Failed(path, "Can not read " + path + ": " + error.message() + ".");
    }

    void Failed(const std::string& path, std::string reason) {
        list_.messages.push_back("Error : " + reason);
        list_.failed.push_back({path, std::move(reason)});
    }

  private:
    bool ReadNames(const std::string& path, std::vector<std::string>& names) {
        std::error_code error;
        const platform::Folder folder = platform::Folder::Open(path, error);
        if (!error) error = folder.ReadNames(names);
        if (error) {
            Unreadable(path, error);
            return false;
        }
        std::sort(names.begin(), names.end());
        return true;
    }

    std::string destPath_;
    OutputMode mode_;
    ModelList& list_;
    std::set<FolderId> visited_;
    std::vector<FolderId> above_;
    std::map<std::string, std::string> owners_;  // output key -> the model that has it
};

// The name a folder input is placed under with --out: its last path component, for "." and
// the like the name of the folder it is; empty for the root.
std::string FolderName(std::string input) {
    while (input.size() > 1 && platform::IsSeparator(input.back())) input.pop_back();
    fs::path path = platform::FilesystemPath(input).lexically_normal();
    std::string name = platform::PathText(path.filename());
    if (name.empty() || name == "." || name == "..") {
        std::error_code error;
        const fs::path absolute = fs::weakly_canonical(fs::absolute(path, error), error);
        name = platform::PathText(absolute.filename());
    }
    return name == "." || name == ".." ? std::string() : name;
}

}  // namespace

bool HasIt3Extension(std::string_view name) {
    if (name.size() < 4) return false;
    const std::string_view tail = name.substr(name.size() - 4);
    return tail[0] == '.' && (tail[1] | 0x20) == 'i' && (tail[2] | 0x20) == 't' && tail[3] == '3';
}

ModelList ListModels(const std::vector<std::string>& inputs, std::string_view destPath, bool byName,
                     OutputMode mode) {
    ModelList list;
    Search search(destPath, mode, list);
    for (const std::string& input : inputs) {
        platform::FileStatus info;
        if (!platform::StatusOf(input, info) && info.kind == platform::FileKind::Folder) {
            std::string relative;
            if (byName) {
                relative = FolderName(input);
                if (!relative.empty()) relative += platform::kSeparator;
            }
            const std::size_t before = list.models.size(), failed = list.failed.size();
            if (search.Folder(input, relative, info.id) && list.models.size() == before &&
                list.failed.size() == failed) {
                search.Failed(input, "No .it3 file below " + input + ".");
            }
        } else {
            // A file, or a path that does not open: the conversion reports it.
            search.AddModel(input, "");
        }
    }
    return list;
}

}  // namespace morvex

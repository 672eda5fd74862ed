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

class Search {
  public:
    Search(std::string_view destPath, OutputMode mode, bool followLinks, ModelList& list)
        : destPath_(destPath), mode_(mode), followLinks_(followLinks), list_(list) {}

    // A model at `path`; `relativeFolder` is where it goes below the destination ("" or
    // ending in '/').
    void AddModel(const std::string& path, const std::string& relativeFolder) {
        PlannedModel model;
        model.path = path;
        const std::string name = path.substr(platform::NameStart(path));
        std::string stem = BaseNameOf(name);
        // A stem of ".." or "." would name a folder above the destination, or the model's own.
        stem = SafeComponent(stem.empty() ? name : stem);
        // A folder name must be one on the system: on Windows, no trailing dot or blank.
        if (platform::kWindows) stem = SafeName(stem, NameRules{}.files);
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
            // Compared as the paths they are: "a/./b" and "a/b" are one folder (and on Windows
            // "A" and "a").
            key = platform::PathText(platform::FilesystemPath(key).lexically_normal());
            auto [at, fresh] = owners_.emplace(platform::CaseFolded(key), path);
            if (!fresh) model.conflict = at->second;
        }
        list_.models.push_back(std::move(model));
    }

    // Searches the open folder `folder` at `path`, with identity `id`; false when it was searched
    // before.
    bool Walk(const platform::Folder& folder, const std::string& path,
              const std::string& relativeFolder, FolderId id) {
        if (!visited_.insert(id).second) {
            const bool loop = std::find(above_.begin(), above_.end(), id) != above_.end();
            Warn(path, loop ? "leads back to a folder above it, not followed."
                            : "leads to a folder already searched, not followed.");
            return false;
        }
        std::vector<std::string> names;
        if (const std::error_code error = folder.ReadNames(names)) {
            Unreadable(path, error);
            return true;
        }
        std::sort(names.begin(), names.end());
        above_.push_back(id);
        for (const std::string& name : names) {
            const std::string entry = Joined(path, name);
            const bool model = HasIt3Extension(name);
            // What the entry itself is, relative to the open folder: a link is not followed here.
            platform::FileStatus info;
            if (const std::error_code error =
                    platform::StatusOf(name, info, platform::Links::Keep, &folder)) {
                if (model) Unreadable(entry, error);
                continue;
            }
            const bool link = info.kind == platform::FileKind::Link;
            if (link && !FollowLink(folder, name, entry, id, info)) continue;
            if (info.kind == platform::FileKind::Folder) {
                std::error_code error;
                const platform::Folder sub = platform::Folder::Open(
                    name, error, link ? platform::Links::Follow : platform::Links::Keep, &folder);
                if (error) {
                    Unreadable(entry, error);
                } else {
                    Walk(sub, entry, relativeFolder + name + platform::kSeparator, info.id);
                }
            } else if (model && info.kind == platform::FileKind::Regular) {
                AddModel(entry, relativeFolder);
            } else if (model) {
                Warn(entry, "is not a regular file, skipped.");
            }
        }
        above_.pop_back();
        return true;
    }

    void Unreadable(const std::string& path, const std::error_code& error) {
        Failed(path, "Can not read " + path + ": " + error.message() + ".");
    }

    // `reason` names the path as it is; the console line shows it as ConsoleName does.
    void Failed(const std::string& path, std::string reason) {
        list_.messages.push_back("Error : " + ConsoleName(reason));
        list_.failed.push_back({path, std::move(reason)});
    }

  private:
    void Warn(const std::string& path, std::string_view what) {
        list_.messages.push_back("Warning : " + ConsoleName(path) + " " + std::string(what));
    }

    // Decides whether the link `name` of `folder` (identity `folderId`) is followed; when it is,
    // `info` becomes what it leads to. Without --follow-links links are passed over (with a
    // warning for those that lead to a folder or have a model's name); with it, a link is not
    // followed into another file system or into the system's own folders. A link that leads
    // nowhere (or to itself) is a warning, and an error only for a model's name.
    bool FollowLink(const platform::Folder& folder, const std::string& name,
                    const std::string& entry, FolderId folderId, platform::FileStatus& info) {
        const bool model = HasIt3Extension(name);
        platform::FileStatus target;
        const std::error_code error =
            platform::StatusOf(name, target, platform::Links::Follow, &folder);
        if (!followLinks_) {
            if (model || (!error && target.kind == platform::FileKind::Folder)) {
                Warn(entry, "is a link, not followed (--follow-links follows links).");
            }
            return false;
        }
        if (error) {
            if (model) {
                Unreadable(entry, error);
            } else {
                Warn(entry, "is a link that leads nowhere (" + error.message() + "), skipped.");
            }
            return false;
        }
        if (target.id.volume != folderId.volume) {
            Warn(entry, "leads to another file system, not followed.");
            return false;
        }
        if (IsSystemFolder(entry)) {
            Warn(entry, "leads into the system's own folders, not followed.");
            return false;
        }
        info = target;
        return true;
    }

    // True for a path that resolves into /proc, /sys or /dev (POSIX systems).
    static bool IsSystemFolder(const std::string& path) {
        if (platform::kWindows) return false;
        std::error_code error;
        const std::string real =
            platform::PathText(fs::canonical(platform::FilesystemPath(path), error));
        if (error) return false;
        for (const std::string_view system : {"/proc", "/sys", "/dev"}) {
            if (real.starts_with(system) &&
                (real.size() == system.size() || real[system.size()] == '/')) {
                return true;
            }
        }
        return false;
    }

    std::string destPath_;
    OutputMode mode_;
    bool followLinks_;
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
                     OutputMode mode, bool followLinks) {
    ModelList list;
    Search search(destPath, mode, followLinks, list);
    for (const std::string& input : inputs) {
        platform::FileStatus info;
        if (!platform::StatusOf(input, info) && info.kind == platform::FileKind::Folder) {
            std::string relative;
            if (byName) {
                relative = FolderName(input);
                if (!relative.empty()) relative += platform::kSeparator;
            }
            std::error_code error;
            const platform::Folder folder = platform::Folder::Open(input, error);
            const std::size_t before = list.models.size(), failed = list.failed.size();
            if (error) {
                search.Unreadable(input, error);
            } else if (search.Walk(folder, input, relative, info.id) &&
                       list.models.size() == before && list.failed.size() == failed) {
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

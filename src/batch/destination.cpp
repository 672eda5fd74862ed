#include "batch/destination.h"

#include <string>
#include <system_error>

#include "export/output_file.h"
#include "platform/platform.h"

namespace morvex {
namespace {

bool IsFolder(const std::string& path) {
    platform::FileStatus status;
    return !platform::StatusOf(path, status) && status.kind == platform::FileKind::Folder;
}

// Creates `folder` and every folder above it that is missing.
std::error_code CreateFolders(const std::string& folder) {
    std::error_code error = platform::CreateFolder(folder);
    if (error == std::errc::no_such_file_or_directory) {
        std::size_t end = platform::NameStart(folder);
        while (end > 1 && platform::IsSeparator(folder[end - 1])) --end;
        const std::string parent = folder.substr(0, end);
        if (end == 0 || IsFolder(parent)) return error;
        error = CreateFolders(parent);
        if (!error) error = platform::CreateFolder(folder);
    }
    if (error == std::errc::file_exists && IsFolder(folder)) error.clear();
    return error;
}

}  // namespace

Outcome PrepareDestination(std::string_view destPath, Console& console) {
    std::string folder(destPath);
    while (folder.size() > 1 && platform::IsSeparator(folder.back())) folder.pop_back();
    if (folder.empty() || IsFolder(folder)) return Outcome::Ok;
    std::error_code error = CreateFolders(folder);
    if (!error && !IsFolder(folder)) error = std::make_error_code(std::errc::not_a_directory);
    if (!error) return Outcome::Ok;
    if (error == std::errc::file_exists) error = std::make_error_code(std::errc::not_a_directory);
    console.Error("Can not create folder %s: %s.", ConsoleName(folder).c_str(),
                  error.message().c_str());
    return Outcome::CannotCreate;
}

Outcome OpenDestination(std::string_view destPath, platform::Folder& dest, Console& console) {
    if (const Outcome prepared = PrepareDestination(destPath, console); prepared != Outcome::Ok) {
        return prepared;
    }
    std::error_code error;
    dest = platform::Folder::Open(destPath.empty() ? "." : destPath, error);
    if (error) {
        console.Error("Can not open folder %s: %s.", ConsoleName(destPath).c_str(),
                      error.message().c_str());
        return Outcome::CannotCreate;
    }
    RemoveStaleTemporaries(&dest, destPath);
    return Outcome::Ok;
}

Outcome OpenOutputFolder(const platform::Folder& dest, std::string_view destPath,
                         std::string_view relative, OutputFolder& out, Console& console) {
    out = OutputFolder{};
    std::error_code error;
    out.folder = platform::Folder::Open(".", error, platform::Links::Follow, &dest);
    std::string reached(destPath);  // the path of the last name met
    for (std::string_view rest = relative; !error && !rest.empty();) {
        std::size_t slash = 0;
        while (slash < rest.size() && !platform::IsSeparator(rest[slash])) ++slash;
        std::string name(rest.substr(0, slash));
        rest.remove_prefix(slash == rest.size() ? rest.size() : slash + 1);
        if (name.empty()) continue;
        if (!out.name.empty()) reached += platform::kSeparator;
        reached += name;
        out.parent = std::move(out.folder);
        out.name = std::move(name);
        out.created = !platform::CreateFolder(out.name, &out.parent);
        out.folder = platform::Folder::Open(out.name, error, platform::Links::Keep, &out.parent);
    }
    if (!error) return Outcome::Ok;
    std::string whole(destPath);
    whole += relative;
    while (whole.size() > 1 && platform::IsSeparator(whole.back())) whole.pop_back();
    platform::FileStatus status;
    if (!out.name.empty() &&
        !platform::StatusOf(out.name, status, platform::Links::Keep, &out.parent) &&
        status.kind == platform::FileKind::Link) {
        console.Error("Can not create folder %s: %s is a link, not followed.",
                      ConsoleName(whole).c_str(), ConsoleName(reached).c_str());
    } else {
        console.Error("Can not create folder %s: %s.", ConsoleName(whole).c_str(),
                      error.message().c_str());
    }
    return Outcome::CannotCreate;
}

}  // namespace morvex

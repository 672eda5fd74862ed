#include "batch/destination.h"

#include <string>
#include <system_error>

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
        std::size_t end = folder.size();
        while (end > 0 && !platform::IsSeparator(folder[end - 1])) --end;
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
    console.Error("Can not create folder %s: %s.", folder.c_str(), error.message().c_str());
    return Outcome::CannotCreate;
}

}  // namespace morvex

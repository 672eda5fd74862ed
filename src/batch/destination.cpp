#include "batch/destination.h"

#include <filesystem>
#include <string>
#include <system_error>

namespace morvex {

Outcome PrepareDestination(std::string_view destPath, Console& console) {
    std::string folder(destPath);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty()) return Outcome::Ok;
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return Outcome::Ok;
    std::filesystem::create_directories(folder, error);
    if (!error && std::filesystem::is_directory(folder)) return Outcome::Ok;
    if (!error) error = std::make_error_code(std::errc::not_a_directory);
    console.Error("Can not create folder %s: %s.", ConsoleName(folder).c_str(),
                  error.message().c_str());
    return Outcome::CannotCreate;
}

}  // namespace morvex

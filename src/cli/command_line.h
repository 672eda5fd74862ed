// The command line: morvex [-m | -g] <file_name> [dest_path], and the unlisted option -c.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "convert/options.h"

namespace morvex {

struct CommandLine {
    bool showUsage = false;  // the arguments do not fit: print the usage text, exit status 255
    OutputMode mode = OutputMode::Obj;
    std::string inputPath;
    std::string destPath;  // normalised: empty, or ending in '/'
};

// Parses the arguments behind the command name.
CommandLine ParseCommandLine(std::span<const std::string_view> args);

// An absent, empty or "." destination means the current directory (empty prefix); any other
// value gets a '/' appended unless it already ends in one.
std::string NormaliseDestPath(std::string_view destPath);

// The usage text, UTF-8.
extern const std::string_view kUsageText;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 255;

}  // namespace morvex

// The command line.
//
// The one-file form is the tool's original one and keeps its exact behaviour:
//
//   morvex [-m | -g | -c] <file_name> [dest_path]
//
// Only the second character of the first argument is looked at (-M and -mqo act as -m), and the
// arguments behind the destination are ignored. A folder in the place of <file_name> converts
// every model below it.
//
// Every other form starts with what the one-file form never accepted: an option beginning with
// "--" or a letter other than m, g and c (-i, -h, -j) as the first argument, or a mode letter
// followed by an option beginning with "--". Such a command line is read option by option:
//
//   morvex [OPTIONS] INPUT [DEST]          one file or folder
//   morvex [OPTIONS] --out DEST INPUT...   files and folders, each under DEST by its name
//   morvex -i [--json] [OPTIONS] INPUT...  the inspect report, nothing written
//
// with the options -m, -g, -c, -i, --json, --out DEST (or --out=DEST), --jobs=N (or --jobs N,
// -j N), --utf8-names, -h / --help and --version; "--" ends the options.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert/options.h"

namespace morvex {

struct CommandLine {
    bool showUsage = false;    // the arguments do not fit: print the usage text, exit status 255
    bool showHelp = false;     // -h, --help: the English help, exit status 0
    bool showVersion = false;  // --version: "morvex <version>", exit status 0
    OutputMode mode = OutputMode::Obj;
    bool inspect = false;             // -i: print a report of each input, write nothing
    bool json = false;                // --json (with -i): the report as JSON
    std::string inputPath;            // the first input
    std::vector<std::string> inputs;  // every input, inputPath first
    std::string destPath;             // normalised: empty, or ending in a separator
    bool outOption = false;           // --out: each input goes under destPath by its name
    bool optionForm = false;          // read option by option (not the one-file form)
    ConvertOptions options;
};

// Parses the arguments behind the command name.
CommandLine ParseCommandLine(std::span<const std::string_view> args);

// An absent, empty or "." destination means the current directory (empty prefix); any other
// value gets a separator appended unless it already ends in one: '/', or on Windows '\' (where
// a trailing '/' counts as one too).
std::string NormaliseDestPath(std::string_view destPath);

// The usage text, UTF-8: printed for a command line that does not fit, followed by
// kUsageHelpLine.
extern const std::string_view kUsageText;
extern const std::string_view kUsageHelpLine;
// The English help of -h and --help.
std::string HelpText();
// "morvex <version>\n".
std::string VersionText();

// The highest --jobs value accepted.
inline constexpr int kMaxJobs = 1024;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 255;

}  // namespace morvex

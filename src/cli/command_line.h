// The command line.
//
// The one-file form is the tool's original one and keeps its exact behaviour on standard output:
//
//   morvex [-m | -g | -c] <file_name> [dest_path]
//
// Only the second character of the first argument is looked at (-M and -mqo act as -m), and the
// arguments behind the destination are ignored. A folder in the place of <file_name> converts
// every model below it. What may not be what the user meant gets a line on standard error and
// nothing else changes: an ignored argument, an option read by its second letter only, a
// destination that looks like a file name. A destination that is an existing file cannot be a
// folder: the arguments are then several inputs (`morvex *.it3`, below).
//
// Every other form starts with what the one-file form never accepted: an option beginning with
// "--" or an option letter other than m, g and c as the first argument, or a mode letter
// followed by an option beginning with "--", or by an option of the table below that names no
// file. Such a command line is read option by option, in any order:
//
//   morvex [OPTIONS] INPUT [DEST]          one file or folder
//   morvex [OPTIONS] INPUT... [DEST]       several inputs, each under DEST (or the current
//                                          folder) by its name; DEST is the last argument when
//                                          it is an existing folder
//   morvex [OPTIONS] --out DEST INPUT...   files and folders, each under DEST by its name
//   morvex [OPTIONS] -o FILE.glb INPUT     one model into one glTF file
//   morvex -i [--json] INPUT...            the inspect report, nothing written
//   morvex --pack [--force] ORIGINAL.it3 EDITED.glb NEW.it3   an edited glb back into it3
//
// with the options of kOptions; "--" ends the options.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_run.h"
#include "convert/options.h"

namespace morvex {

struct CommandLine {
    bool showUsage = false;    // the one-file form does not fit: the usage text, exit status 255
    bool showHelp = false;     // -h, --help: the English help, exit status 0
    bool showVersion = false;  // --version: "morvex <version>", exit status 0
    // A mistake on the command line, for one line on standard error ("morvex: <mistake>"); the
    // exit status is 255 (with the usage text in the one-file form).
    std::string mistake;
    // Arguments read otherwise than the user may expect, one line each on standard error; the
    // run goes on.
    std::vector<std::string> notes;
    OutputMode mode = OutputMode::Obj;
    bool inspect = false;             // -i: print a report of each input, write nothing
    bool json = false;                // --json (with -i): the report as JSON
    bool pack = false;                // --pack: the inputs are ORIGINAL, EDITED and NEW
    bool force = false;               // --force (with --pack): NEW may be ORIGINAL
    std::string inputPath;            // the first input
    std::vector<std::string> inputs;  // every input, inputPath first
    std::string destPath;             // normalised: empty, or ending in a separator
    bool byName = false;              // --out, several inputs: each goes under destPath by name
    bool followLinks = false;         // --follow-links: links below input folders are followed
    bool optionForm = false;          // read option by option (not the one-file form)
    Verbosity verbosity = Verbosity::Normal;
    ConvertOptions options;
};

// What a path names, for the choices the command line makes from what exists: whether the
// argument after a mode letter is an option or a file, whether the last of several arguments is
// the destination.
enum class PathKind { Missing, File, Folder };
using PathProbe = std::function<PathKind(const std::string&)>;

// Parses the arguments behind the command name.
CommandLine ParseCommandLine(std::span<const std::string_view> args, const PathProbe& probe);

// The run of many models a parsed command line asks for (all but the progress line, which
// depends on the terminal).
BatchRequest BatchRequestOf(const CommandLine& line);

// An absent, empty or "." destination means the current directory (empty prefix); any other
// value gets a separator appended unless it already ends in one: '/', or on Windows '\' (where
// a trailing '/' counts as one too).
std::string NormaliseDestPath(std::string_view destPath);

// The usage text, UTF-8: printed for a command line of the one-file form that does not fit,
// followed by kUsageHelpLine.
extern const std::string_view kUsageText;
extern const std::string_view kUsageHelpLine;
// The English help of -h and --help: every form and every option.
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

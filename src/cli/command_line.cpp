#include "cli/command_line.h"

#include <charconv>

#include "platform/platform.h"

#ifndef MORVEX_VERSION
#error "MORVEX_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace morvex {

const std::string_view kUsageText =
    "Usage : morvex [-m] <file_name> [dest_path]\n"
    "  -m          MQO形式で出力します.\n"
    "  -g          glTF形式で出力します.\n"
    "  file_name   対象it3ファイル.\n"
    "  dest_path\u3000 出力先.(省略可)\n"
    "  /?          これを表示.\n";

const std::string_view kUsageHelpLine = "Run 'morvex --help' for help in English.\n";

std::string VersionText() {
    return "morvex " MORVEX_VERSION "\n";
}

std::string HelpText() {
    return "morvex " MORVEX_VERSION
           " - converts it3 model files into OBJ + MTL, Metasequoia or binary glTF files\n"
           "\n"
           "Usage:\n"
           "  morvex [-m | -g | -c] FILE [DEST]         convert one model into the folder DEST\n"
           "  morvex [OPTIONS] FOLDER [DEST]            convert every .it3 file below FOLDER\n"
           "  morvex [OPTIONS] --out DEST INPUT...      convert files and folders, each under "
           "DEST\n"
           "  morvex -i [--json] INPUT...               report what models hold, write nothing\n"
           "\n"
           "Options:\n"
           "  -m             write Metasequoia documents (.mqo) instead of OBJ + MTL\n"
           "  -g             write one binary glTF file (.glb) per model, textures inside;\n"
           "                 the best route into Blender (object names and materials kept)\n"
           "  -c             check only: read and index, report unknown blocks, write nothing\n"
           "  -i             inspect: objects, meshes, materials, textures, missing textures,\n"
           "                 bounding box and the files a conversion would write\n"
           "  --json         with -i: the report as JSON (an array for several models)\n"
           "  --out DEST     the destination of several inputs: a file FILE.it3 goes to\n"
           "                 DEST/FILE/, a folder F to DEST/F/ (its tree mirrored)\n"
           "  --jobs=N       convert N models at a time (0, the default: one per core;\n"
           "                 1: a single thread)\n"
           "  --utf8-names   write the model's names as UTF-8, in file names and inside the\n"
           "                 files (names in the Japanese code page 932 are decoded); without\n"
           "                 it they are written as the model has them (on Windows, file\n"
           "                 names are always decoded)\n"
           "  -h, --help     print this help\n"
           "  --version      print the version\n"
           "\n"
           "DEST is created when it does not exist; without DEST the outputs go into the current\n"
           "folder. Below a folder, every .it3 file (any case) is converted, in sorted order,\n"
           "into a folder of its own that mirrors the tree: models/a/car.it3 gives DEST/a/car/\n"
           "(with -g: DEST/a/car.glb). Standard output then shows \"Model : <path>\" before\n"
           "each model's lines; a summary and, on a terminal, the progress go to standard "
           "error.\n"
           "\n"
           "Exit status: 0 converted (warnings do not count), 1 an input or an output failed,\n"
           "255 the command line does not fit (the usage text is printed).\n"
           "\n"
           "Examples:\n"
           "  morvex -g robot.it3 out              writes out/robot.glb\n"
           "  morvex models converted              every model below models/, on every core\n"
           "  morvex -g --out glb a.it3 more/      glb/a.glb and the models below more/\n"
           "  morvex -i --json robot.it3           the report of robot.it3 as JSON\n";
}

std::string NormaliseDestPath(std::string_view destPath) {
    if (destPath.empty() || destPath == ".") return {};
    std::string normalised(destPath);
    if (!platform::IsSeparator(normalised.back())) normalised.push_back(platform::kSeparator);
    return normalised;
}

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsModeLetter(char letter) {
    return letter == 'm' || letter == 'M' || letter == 'g' || letter == 'G' || letter == 'c' ||
           letter == 'C';
}

// The original form: [-m | -g | -c] <file_name> [dest_path], extra arguments ignored.
CommandLine ParseOneFileForm(std::span<const std::string_view> args) {
    CommandLine line;
    std::size_t next = 0;
    if (!args[0].empty() && args[0].front() == '-') {
        if (args.size() < 2) {
            line.showUsage = true;
            return line;
        }
        switch (args[0][1]) {
            case 'm':
            case 'M':
                line.mode = OutputMode::Mqo;
                break;
            case 'g':
            case 'G':
                line.mode = OutputMode::Gltf;
                break;
            default:
                line.mode = OutputMode::Check;
                break;
        }
        next = 1;
    }
    line.inputPath.assign(args[next]);
    line.inputs.push_back(line.inputPath);
    if (args.size() > next + 1) line.destPath = NormaliseDestPath(args[next + 1]);
    return line;
}

bool ParseJobs(std::string_view text, int& jobs) {
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, jobs);
    return error == std::errc() && at == end && jobs >= 0 && jobs <= kMaxJobs;
}

// The option form: options and operands in any order.
CommandLine ParseOptionForm(std::span<const std::string_view> args) {
    CommandLine line;
    line.optionForm = true;
    std::vector<std::string> operands;
    bool modeGiven = false, bad = false, optionsEnd = false;
    std::string out;
    auto setMode = [&](OutputMode mode) {
        if (modeGiven && line.mode != mode) bad = true;
        line.mode = mode;
        modeGiven = true;
    };
    for (std::size_t k = 0; k < args.size() && !bad; ++k) {
        const std::string_view arg = args[k];
        if (optionsEnd || arg.size() < 2 || arg.front() != '-') {
            operands.emplace_back(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "-h" || arg == "--help") {
            line.showHelp = true;
        } else if (arg == "--version") {
            line.showVersion = true;
        } else if (arg == "-m") {
            setMode(OutputMode::Mqo);
        } else if (arg == "-g") {
            setMode(OutputMode::Gltf);
        } else if (arg == "-c") {
            setMode(OutputMode::Check);
        } else if (arg == "-i") {
            line.inspect = true;
        } else if (arg == "--json") {
            line.json = true;
        } else if (arg == "--utf8-names") {
            line.options.utf8Names = true;
        } else if (arg == "--out" || arg == "--jobs" || arg == "-j") {
            if (k + 1 == args.size()) {
                bad = true;
            } else if (arg == "--out") {
                out.assign(args[++k]);
                bad = line.outOption;
                line.outOption = true;
            } else {
                bad = !ParseJobs(args[++k], line.options.jobs);
            }
        } else if (StartsWith(arg, "--out=")) {
            out.assign(arg.substr(6));
            bad = line.outOption;
            line.outOption = true;
        } else if (StartsWith(arg, "--jobs=")) {
            bad = !ParseJobs(arg.substr(7), line.options.jobs);
        } else {
            bad = true;
        }
    }
    if (bad) {
        line.showUsage = true;
        return line;
    }
    if (line.showHelp || line.showVersion) return line;
    // -i writes nothing: no mode, no destination. --json belongs to -i. Without --out a
    // conversion takes one input and an optional destination.
    if (operands.empty() || (line.json && !line.inspect) ||
        (line.inspect && (modeGiven || line.outOption)) ||
        (!line.inspect && !line.outOption && operands.size() > 2)) {
        line.showUsage = true;
        return line;
    }
    if (line.outOption && (out.empty() || operands.size() == 0)) {
        line.showUsage = true;
        return line;
    }
    if (!line.inspect && !line.outOption && operands.size() == 2) {
        line.destPath = NormaliseDestPath(operands[1]);
        operands.pop_back();
    }
    if (line.outOption) line.destPath = NormaliseDestPath(out);
    line.inputs = std::move(operands);
    line.inputPath = line.inputs.front();
    return line;
}

}  // namespace

CommandLine ParseCommandLine(std::span<const std::string_view> args) {
    CommandLine line;
    if (args.empty() || args[0] == "/?") {
        line.showUsage = true;
        return line;
    }
    const std::string_view first = args[0];
    const bool option = !first.empty() && first.front() == '-';
    // Everything the one-file form accepts stays its own: a first argument that is no option,
    // or a mode letter followed by anything but an option beginning with "--".
    if (!option) return ParseOneFileForm(args);
    if (first.size() > 1 && IsModeLetter(first[1])) {
        if (args.size() < 2 || !StartsWith(args[1], "--")) return ParseOneFileForm(args);
        return ParseOptionForm(args);
    }
    // "-" alone and the other letters printed the usage text in the one-file form; of them,
    // "--..." and the new letters start the option form.
    if (StartsWith(first, "--") || first == "-i" || first == "-h" || first == "-j") {
        return ParseOptionForm(args);
    }
    line.showUsage = true;
    return line;
}

}  // namespace morvex

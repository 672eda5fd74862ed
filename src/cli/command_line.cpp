#include "cli/command_line.h"

#include <algorithm>
#include <charconv>

#include "batch/model_list.h"
#include "it3/console.h"
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

BatchRequest BatchRequestOf(const CommandLine& line) {
    BatchRequest request;
    request.inputs = line.inputs;
    request.destPath = line.destPath;
    request.byName = line.byName;
    request.followLinks = line.followLinks;
    request.mode = line.mode;
    request.inspect = line.inspect;
    request.json = line.json;
    request.options = line.options;
    request.verbosity = line.verbosity;
    request.messagesApart = line.optionForm;
    return request;
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

// An argument as a message quotes it: its control bytes as '?'.
std::string Quoted(std::string_view arg) {
    std::string quoted(1, '\'');
    quoted += ConsoleName(arg);
    quoted += '\'';
    return quoted;
}

bool HasExtension(std::string_view name, std::string_view extension) {
    if (name.size() <= extension.size()) return false;
    const std::string_view tail = name.substr(name.size() - extension.size());
    return std::equal(tail.begin(), tail.end(), extension.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a | 0x20 : a) == b; });
}

// The state of the option form while it reads the arguments.
struct Parse {
    explicit Parse(CommandLine& parsed) : line(parsed) {}
    CommandLine& line;
    std::string_view modeOption;  // the option that chose the mode, as given
    std::string_view verbosityOption;
    std::string_view outputFileOption;
    bool outGiven = false;
    bool jobsGiven = false;
    bool texturesGiven = false;
    std::string out;
};

// One option of the option form. Adding an option is adding an entry to kOptions.
struct OptionSpec {
    std::string_view shortName;  // "-g", or empty
    std::string_view longName;   // "--out", or empty
    std::string_view values;     // the values it takes, as the help names them ("DEST"), if any
    std::string_view help;       // its lines in the help ('\n' between them)
    // Takes the option (`name` as given) and its values; returns a mistake, or empty.
    std::string (*apply)(Parse& parse, std::string_view name,
                         std::span<const std::string_view> values);
};

template <OutputMode mode>
std::string SetMode(Parse& parse, std::string_view name, std::span<const std::string_view>) {
    if (!parse.modeOption.empty() && parse.line.mode != mode) {
        return Quoted(name) + " conflicts with " + Quoted(parse.modeOption) +
               ": choose one output mode";
    }
    parse.line.mode = mode;
    parse.modeOption = name;
    return {};
}

std::string Given(std::string_view name, bool& given) {
    if (given) return Quoted(name) + " is given twice";
    given = true;
    return {};
}

std::string SetJobs(Parse& parse, std::string_view name, std::span<const std::string_view> values) {
    if (std::string twice = Given(name, parse.jobsGiven); !twice.empty()) return twice;
    const std::string_view text = values[0];
    const char* end = text.data() + text.size();
    int& jobs = parse.line.options.jobs;
    auto [at, error] = std::from_chars(text.data(), end, jobs);
    if (error == std::errc() && at == end && jobs >= 0 && jobs <= kMaxJobs) return {};
    return Quoted(name) + " takes a number from 0 to " + std::to_string(kMaxJobs) + ", not " +
           Quoted(text);
}

std::string SetOut(Parse& parse, std::string_view name, std::span<const std::string_view> values) {
    if (std::string twice = Given(name, parse.outGiven); !twice.empty()) return twice;
    parse.out = values[0];
    return {};
}

std::string SetOutputFile(Parse& parse, std::string_view name,
                          std::span<const std::string_view> values) {
    if (!parse.outputFileOption.empty()) return Quoted(name) + " is given twice";
    parse.outputFileOption = name;
    parse.line.options.outputFile = values[0];
    return {};
}

std::string SetTextures(Parse& parse, std::string_view name,
                        std::span<const std::string_view> values) {
    if (std::string twice = Given(name, parse.texturesGiven); !twice.empty()) return twice;
    if (values[0] == "bmp" || values[0] == "png") {
        parse.line.options.textures = values[0] == "png" ? TextureFormat::Png : TextureFormat::Bmp;
        return {};
    }
    return Quoted(name) + " takes bmp or png, not " + Quoted(values[0]);
}

template <Verbosity verbosity>
std::string SetVerbosity(Parse& parse, std::string_view name, std::span<const std::string_view>) {
    if (!parse.verbosityOption.empty() && parse.line.verbosity != verbosity) {
        return Quoted(name) + " conflicts with " + Quoted(parse.verbosityOption);
    }
    parse.line.verbosity = verbosity;
    parse.verbosityOption = name;
    return {};
}

std::string SetUtf8Names(Parse& parse, std::string_view, std::span<const std::string_view>) {
    parse.line.options.utf8Names = true;
    return {};
}

template <bool CommandLine::*flag>
std::string SetFlag(Parse& parse, std::string_view, std::span<const std::string_view>) {
    parse.line.*flag = true;
    return {};
}

constexpr OptionSpec kOptions[] = {
    {"-m", "", "", "write Metasequoia documents (.mqo) instead of OBJ + MTL",
     SetMode<OutputMode::Mqo>},
    {"-g", "", "",
     "write one binary glTF file (.glb) per model, textures inside;\n"
     "the route into Blender: object names and materials are kept",
     SetMode<OutputMode::Gltf>},
    {"-c", "", "", "check only: read and index, report unknown and broken blocks",
     SetMode<OutputMode::Check>},
    {"-i", "", "",
     "inspect: objects, meshes, materials, textures, missing textures,\n"
     "bounding box and the files a conversion would write",
     SetFlag<&CommandLine::inspect>},
    {"", "--json", "", "with -i: the report as JSON (an array for several models)",
     SetFlag<&CommandLine::json>},
    {"", "--pack", "",
     "write NEW: ORIGINAL with the edits of EDITED.glb (a -g output of\n"
     "ORIGINAL, edited); the blocks the edit did not change are copied\n"
     "as they are",
     SetFlag<&CommandLine::pack>},
    {"", "--force", "", "with --pack: NEW may be ORIGINAL", SetFlag<&CommandLine::force>},
    {"-o", "", "FILE", "write the one input into FILE, whose extension must be .glb",
     SetOutputFile},
    {"", "--out", "DEST",
     "the destination of any number of inputs: a file F.it3 goes to\n"
     "DEST/F/ (with -g: DEST/F.glb), a folder F to DEST/F/ (its tree\n"
     "mirrored)",
     SetOut},
    {"", "--follow-links", "",
     "follow links below the folders given (not into another file system,\n"
     "nor into /proc, /sys or /dev)",
     SetFlag<&CommandLine::followLinks>},
    {"-j", "--jobs", "N",
     "convert N models at a time (0, the default: one per core;\n1: a single thread)", SetJobs},
    {"", "--textures", "bmp|png",
     "the texture files beside OBJ + MTL and MQO files: BMP (the default)\n"
     "or PNG (an alpha map also keeps its luminance in the alpha channel)",
     SetTextures},
    {"-q", "--quiet", "",
     "print only errors and the summary: no \"-> \" lines, no warnings\n"
     "(still counted), no progress line",
     SetVerbosity<Verbosity::Quiet>},
    {"-v", "--verbose", "", "also print each model's objects, textures, files and time",
     SetVerbosity<Verbosity::Verbose>},
    {"", "--utf8-names", "",
     "write the model's names as UTF-8, in file names and inside the\n"
     "files (names in the Japanese code page 932 are decoded); without\n"
     "it they are written as the model has them (on Windows, file names\n"
     "are always decoded)",
     SetUtf8Names},
    {"-h", "--help", "", "print this help", SetFlag<&CommandLine::showHelp>},
    {"", "--version", "", "print the version", SetFlag<&CommandLine::showVersion>},
};

std::size_t ValueCount(const OptionSpec& entry) {
    if (entry.values.empty()) return 0;
    return 1 + static_cast<std::size_t>(std::count(entry.values.begin(), entry.values.end(), ' '));
}

// An argument that names an option of the table: the option, and the value attached to it
// ("--out=DEST", "-j4") if any.
struct FoundOption {
    const OptionSpec* entry = nullptr;
    std::string_view name;      // the option without an attached value
    std::string_view attached;  // the attached value
    bool hasAttached = false;
};

FoundOption FindOption(std::string_view arg) {
    for (const OptionSpec& entry : kOptions) {
        const bool oneValue = ValueCount(entry) == 1;
        if (!entry.longName.empty() && StartsWith(arg, entry.longName)) {
            const std::string_view rest = arg.substr(entry.longName.size());
            if (rest.empty()) return {&entry, arg, {}, false};
            if (rest.front() == '=') return {&entry, entry.longName, rest.substr(1), true};
        }
        if (!entry.shortName.empty() && StartsWith(arg, entry.shortName)) {
            if (arg.size() == entry.shortName.size()) return {&entry, arg, {}, false};
            if (oneValue)
                return {&entry, entry.shortName, arg.substr(entry.shortName.size()), true};
        }
    }
    return {};
}

// A destination whose name ends like a file's: probably meant as the output file.
void NoteFileLikeDestination(CommandLine& line, std::string_view dest, const PathProbe& probe) {
    if (dest.empty() || probe(std::string(dest)) == PathKind::Folder) return;
    if (StartsWith(dest, "-") && FindOption(dest).entry != nullptr) {
        line.notes.push_back("the destination " + Quoted(dest) +
                             " looks like an option: in this form options come first");
        return;
    }
    for (std::string_view extension : {".gltf", ".obj", ".mtl", ".mqo", ".bmp", ".png", ".it3"}) {
        if (HasExtension(dest, extension)) {
            line.notes.push_back("the destination " + Quoted(dest) +
                                 " looks like a file: it is the folder the outputs go into");
            return;
        }
    }
    if (HasExtension(dest, ".glb")) {
        line.notes.push_back("the destination " + Quoted(dest) +
                             " looks like a file: use -g --out DIR, or -o " + ConsoleName(dest));
    }
}

// An existing file named like a model: never a destination folder.
bool IsModelFile(const std::string& path, const PathProbe& probe) {
    return HasIt3Extension(path) && probe(path) == PathKind::File;
}

// Several inputs without --out: each goes under its name into the last argument when that is an
// existing folder, else into the current folder.
void SplitSeveral(CommandLine& line, std::vector<std::string> operands, const PathProbe& probe) {
    const std::string& last = operands.back();
    const PathKind kind = probe(last);
    if (kind == PathKind::Folder) {
        line.destPath = NormaliseDestPath(last);
        operands.pop_back();
    } else if (kind == PathKind::Missing && !HasIt3Extension(last)) {
        line.mistake = Quoted(last) +
                       " does not exist: with several inputs the last one is the destination "
                       "only when it is an existing folder (or use --out " +
                       ConsoleName(last) + ")";
        return;
    } else {
        // Into the current folder: a folder given would be mirrored into itself.
        for (const std::string& operand : operands) {
            if (probe(operand) == PathKind::Folder) {
                line.mistake = Quoted(operand) +
                               " is a folder: with several inputs, name the destination with "
                               "--out DIR or as the last argument";
                return;
            }
        }
    }
    line.byName = true;
    line.inputs = std::move(operands);
}

// The original form: [-m | -g | -c] <file_name> [dest_path], extra arguments ignored.
CommandLine ParseOneFileForm(std::span<const std::string_view> args, const PathProbe& probe) {
    CommandLine line;
    std::size_t next = 0;
    if (!args[0].empty() && args[0].front() == '-') {
        const char letter = static_cast<char>(args[0][1] | 0x20);
        if (args.size() < 2) {
            line.mistake = Quoted(args[0]) + " needs a file name after it";
            line.showUsage = true;
            return line;
        }
        line.mode = letter == 'm'   ? OutputMode::Mqo
                    : letter == 'g' ? OutputMode::Gltf
                                    : OutputMode::Check;
        if (args[0].size() > 2) {
            line.notes.push_back(Quoted(args[0]) + " is read as '-" + std::string(1, letter) + "'");
        }
        next = 1;
    }
    std::vector<std::string> operands(args.begin() + static_cast<std::ptrdiff_t>(next), args.end());
    // A destination that is an existing model file cannot be a folder: `morvex *.it3`.
    if (operands.size() >= 2 && IsModelFile(operands[1], probe)) {
        for (const std::string& operand : operands) {
            if (operand.size() > 1 && operand.front() == '-' &&
                probe(operand) == PathKind::Missing) {
                line.mistake =
                    Quoted(operand) + " after the inputs is not read: options come first";
                line.showUsage = true;
                return line;
            }
        }
        SplitSeveral(line, std::move(operands), probe);
        if (!line.mistake.empty()) line.showUsage = true;
        if (!line.inputs.empty()) line.inputPath = line.inputs.front();
        return line;
    }
    line.inputPath = operands[0];
    line.inputs.push_back(line.inputPath);
    if (operands.size() > 1) {
        line.destPath = NormaliseDestPath(operands[1]);
        NoteFileLikeDestination(line, operands[1], probe);
    }
    for (std::size_t k = 2; k < operands.size(); ++k) {
        line.notes.push_back(Quoted(operands[k]) + " after the destination is ignored");
    }
    return line;
}

// Reads the options and operands of the option form, in any order.
std::string ReadOptions(Parse& parse, std::span<const std::string_view> args,
                        std::vector<std::string>& operands) {
    bool optionsEnd = false;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string_view arg = args[k];
        if (optionsEnd || arg.size() < 2 || arg.front() != '-') {
            operands.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        const FoundOption found = FindOption(arg);
        if (found.entry == nullptr) return "unknown option " + Quoted(arg);
        const std::size_t count = ValueCount(*found.entry);
        std::vector<std::string_view> values;
        if (found.hasAttached) {
            if (count != 1) return Quoted(found.name) + " takes no value";
            values.push_back(found.attached);
        } else {
            if (args.size() - k - 1 < count) {
                return Quoted(found.name) + " needs " + std::string(found.entry->values) +
                       " after it";
            }
            values.assign(args.begin() + static_cast<std::ptrdiff_t>(k + 1),
                          args.begin() + static_cast<std::ptrdiff_t>(k + 1 + count));
            k += count;
        }
        if (count > 0 && values[0].empty()) {
            return Quoted(found.name) + " needs " + std::string(found.entry->values) + " after it";
        }
        if (std::string mistake = found.entry->apply(parse, found.name, values); !mistake.empty()) {
            return mistake;
        }
    }
    return {};
}

// The option form's checks of the whole line, and where its operands go.
std::string Arrange(Parse& parse, std::vector<std::string> operands, const PathProbe& probe) {
    CommandLine& line = parse.line;
    const std::string& outputFile = line.options.outputFile;
    if (line.json && !line.inspect) return "'--json' needs -i";
    if (line.force && !line.pack) return "'--force' needs --pack";
    if (line.pack) {
        for (std::string_view used : {parse.modeOption, parse.outputFileOption}) {
            if (!used.empty()) return Quoted(used) + " cannot be used with --pack";
        }
        if (line.inspect || parse.outGiven) {
            return std::string(line.inspect ? "'-i'" : "'--out'") + " cannot be used with --pack";
        }
        if (operands.size() != 3) {
            return "'--pack' takes ORIGINAL, EDITED.glb and NEW, but " +
                   std::to_string(operands.size()) + " files are given";
        }
        line.inputs = std::move(operands);
        return {};
    }
    if (line.inspect) {
        for (std::string_view used : {parse.modeOption, parse.outputFileOption}) {
            if (!used.empty())
                return Quoted(used) + " cannot be used with -i, which writes nothing";
        }
        if (parse.outGiven) return "'--out' cannot be used with -i, which writes nothing";
    }
    if (parse.texturesGiven && (line.inspect || line.mode == OutputMode::Check)) {
        return "'--textures' cannot be used with " + std::string(line.inspect ? "-i" : "-c") +
               ", which writes nothing";
    }
    if (!outputFile.empty()) {
        if (parse.outGiven) return "'-o' conflicts with '--out'";
        if (!HasExtension(outputFile, ".glb")) {
            return "'-o " + ConsoleName(outputFile) +
                   "': -o writes one .glb file; OBJ and MQO give a file per object and texture: "
                   "use --out DIR";
        }
        if (!parse.modeOption.empty() && line.mode != OutputMode::Gltf) {
            return "'-o " + ConsoleName(outputFile) + "' writes glTF: it conflicts with " +
                   Quoted(parse.modeOption);
        }
        line.mode = OutputMode::Gltf;
    }
    if (parse.texturesGiven && line.mode == OutputMode::Gltf) {
        return "'--textures' is for OBJ and MQO files: -g puts PNG images inside the .glb";
    }
    if (operands.empty()) return "no input given";
    if (!outputFile.empty()) {
        if (operands.size() > 1) {
            return "'-o' names one output file, but " + std::to_string(operands.size()) +
                   " inputs are given";
        }
        if (probe(operands[0]) == PathKind::Folder) {
            return "'-o' names one output file, but " + Quoted(operands[0]) + " is a folder";
        }
        const std::size_t slash = outputFile.find_last_of(platform::kWindows ? "/\\" : "/");
        line.destPath = slash == std::string::npos ? "" : outputFile.substr(0, slash + 1);
        line.inputs = std::move(operands);
    } else if (parse.outGiven) {
        line.destPath = NormaliseDestPath(parse.out);
        line.byName = true;
        line.inputs = std::move(operands);
    } else if (line.inspect || operands.size() == 1) {
        line.inputs = std::move(operands);
    } else if (operands.size() == 2 && !IsModelFile(operands[1], probe)) {
        line.destPath = NormaliseDestPath(operands[1]);
        NoteFileLikeDestination(line, operands[1], probe);
        operands.pop_back();
        line.inputs = std::move(operands);
    } else {
        SplitSeveral(line, std::move(operands), probe);
        return line.mistake;
    }
    return {};
}

CommandLine ParseOptionForm(std::span<const std::string_view> args, const PathProbe& probe) {
    CommandLine line;
    line.optionForm = true;
    Parse parse(line);
    std::vector<std::string> operands;
    line.mistake = ReadOptions(parse, args, operands);
    if (!line.mistake.empty() || line.showHelp || line.showVersion) return line;
    line.mistake = Arrange(parse, std::move(operands), probe);
    if (line.mistake.empty()) line.inputPath = line.inputs.front();
    return line;
}

bool IsModeLetter(char letter) {
    letter = static_cast<char>(letter | 0x20);
    return letter == 'm' || letter == 'g' || letter == 'c';
}

// The option column of the help: "-j N, --jobs N".
std::string HelpNames(const OptionSpec& entry) {
    std::string names;
    for (std::string_view name : {entry.shortName, entry.longName}) {
        if (name.empty()) continue;
        if (!names.empty()) names += ", ";
        names += name;
        if (!entry.values.empty()) (names += ' ') += entry.values;
    }
    return names;
}

}  // namespace

std::string HelpText() {
    std::string help =
        "morvex " MORVEX_VERSION
        " - converts it3 model files into OBJ + MTL, Metasequoia or binary glTF files\n"
        "\n"
        "Usage:\n"
        "  morvex [-m | -g | -c] FILE [DEST]         convert one model into the folder DEST\n"
        "  morvex [OPTIONS] FOLDER [DEST]            convert every .it3 file below FOLDER\n"
        "  morvex [OPTIONS] INPUT... [DEST]          convert several files and folders, each\n"
        "                                            under its name into DEST (an existing\n"
        "                                            folder) or the current folder\n"
        "  morvex [OPTIONS] --out DEST INPUT...      the same into DEST, created if needed\n"
        "  morvex [OPTIONS] -o FILE.glb FILE         convert one model into one glTF file\n"
        "  morvex -i [--json] INPUT...               report what models hold, write nothing\n"
        "  morvex --pack ORIGINAL EDITED.glb NEW     put an edited glb back into it3\n"
        "  morvex -h | --help | --version\n"
        "\n"
        "Options (in any order, before or after the inputs):\n";
    std::size_t width = 0;
    for (const OptionSpec& entry : kOptions) width = std::max(width, HelpNames(entry).size());
    for (const OptionSpec& entry : kOptions) {
        std::string names = HelpNames(entry);
        names.resize(width + 2, ' ');
        std::string_view text = entry.help;
        for (bool first = true; !text.empty(); first = false) {
            const std::size_t end = std::min(text.find('\n'), text.size());
            help += "  ";
            help += first ? names : std::string(width + 2, ' ');
            help += text.substr(0, end);
            help += '\n';
            text.remove_prefix(std::min(end + 1, text.size()));
        }
    }
    help +=
        "\nA value may also follow its option joined: --out=DEST, --jobs=N, -jN. \"--\" ends the\n"
        "options, so that an input may begin with '-'.\n"
        "\n"
        "DEST is created when it does not exist, once a model can be converted; without DEST\n"
        "the outputs go into the current folder. Below a folder, every .it3 file (any case) is\n"
        "converted, in sorted order, into a folder of its own that mirrors the tree:\n"
        "models/a/car.it3 gives DEST/a/car/ (with -g: DEST/a/car.glb). Standard output then\n"
        "shows \"Model : <path>\" before each model's lines; the summary, the models that\n"
        "failed or were damaged (with the reason) and, on a terminal, the progress go to\n"
        "standard error. In the forms with options, warnings and errors go to standard error\n"
        "too.\n"
        "\n"
        "Exit status: 0 converted (warnings and damaged models do not count), 1 an input or an\n"
        "output failed, 255 the command line does not fit (a line on standard error says why).\n"
        "\n"
        "Examples:\n"
        "  morvex -g robot.it3 out              writes out/robot.glb (for Blender)\n"
        "  morvex -o robot.glb robot.it3        writes robot.glb\n"
        "  morvex -g *.it3                      one .glb per model, in the current folder\n"
        "  morvex -q models converted           every model below models/, on every core\n"
        "  morvex --textures png m.it3 out      OBJ + MTL with PNG textures\n"
        "  morvex -i --json robot.it3           the report of robot.it3 as JSON\n";
    return help;
}

CommandLine ParseCommandLine(std::span<const std::string_view> args, const PathProbe& probe) {
    CommandLine line;
    if (args.empty() || args[0] == "/?" || args[0] == "-?") {
        line.showUsage = true;
        return line;
    }
    const std::string_view first = args[0];
    const bool option = !first.empty() && first.front() == '-';
    // Everything the one-file form accepts stays its own: a first argument that is no option,
    // or a mode letter followed by a file name. An option after the mode letter that names no
    // file starts the option form: the one-file form would only fail to open it.
    if (!option) return ParseOneFileForm(args, probe);
    if (first.size() > 1 && IsModeLetter(first[1])) {
        if (args.size() >= 2) {
            const std::string second(args[1]);
            if (StartsWith(second, "--") ||
                (FindOption(second).entry != nullptr && probe(second) == PathKind::Missing)) {
                return ParseOptionForm(args, probe);
            }
        }
        return ParseOneFileForm(args, probe);
    }
    // "-" alone and the other letters printed the usage text in the one-file form; of them,
    // "--..." and the letters of the option form start the option form.
    if (StartsWith(first, "--") || FindOption(first).entry != nullptr) {
        return ParseOptionForm(args, probe);
    }
    line.mistake = "unknown option " + Quoted(first);
    line.showUsage = true;
    return line;
}

}  // namespace morvex

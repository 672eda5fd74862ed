// The morvex executable: parses the command line and runs one conversion, or a run of many
// models (src/batch) for folders, several inputs and the inspect report.
#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_run.h"
#include "batch/destination.h"
#include "cli/command_line.h"
#include "convert/converter.h"
#include "export/output_file.h"
#include "pack/pack.h"
#include "platform/platform.h"

namespace {

// Text for the user: characters on a Windows console, bytes elsewhere. `cp932`: on Windows the
// bytes are those of code page 932, as a Japanese console program has always written them.
void Print(std::string_view text, std::FILE* stream = stdout, bool cp932 = false) {
    namespace platform = morvex::platform;
    if (platform::WriteToConsole(stream, text)) return;
    std::string encoded;
    if (platform::kWindows && cp932 && platform::AppendInCp932(text, encoded)) text = encoded;
    std::fwrite(text.data(), 1, text.size(), stream);
}

morvex::PathKind ProbePath(const std::string& path) {
    morvex::platform::FileStatus status;
    if (morvex::platform::StatusOf(path, status)) return morvex::PathKind::Missing;
    return status.kind == morvex::platform::FileKind::Folder ? morvex::PathKind::Folder
                                                             : morvex::PathKind::File;
}

int Run(int argc, char** argv) {
    namespace platform = morvex::platform;
    platform::UseBinaryStandardStreams();
    const std::vector<std::string> arguments = platform::Arguments(argc, argv);
    const std::vector<std::string_view> args(arguments.begin(), arguments.end());
    morvex::CommandLine line = morvex::ParseCommandLine(args, ProbePath);
    for (const std::string& note : line.notes) Print("morvex: " + note + "\n", stderr);
    if (!line.mistake.empty()) Print("morvex: " + line.mistake + "\n", stderr);
    if (line.showUsage) {
        Print(morvex::kUsageText, stdout, true);
        Print(morvex::kUsageHelpLine);
        return morvex::kExitUsage;
    }
    if (!line.mistake.empty()) {
        Print("Run 'morvex --help' for the options.\n", stderr);
        return morvex::kExitUsage;
    }
    if (line.showHelp) {
        Print(morvex::HelpText());
        return morvex::kExitOk;
    }
    if (line.showVersion) {
        Print(morvex::VersionText());
        return morvex::kExitOk;
    }
    if (line.pack) {
        morvex::PackRequest request;
        request.originalPath = line.inputs[0];
        request.editedPath = line.inputs[1];
        request.newPath = line.inputs[2];
        request.force = line.force;
        morvex::Console console(stdout, stderr);
        console.SetQuiet(line.verbosity == morvex::Verbosity::Quiet);
        const morvex::Outcome packed = morvex::PackModel(request, console);
        console.Flush();
        return packed == morvex::Outcome::Ok ? morvex::kExitOk : morvex::kExitFailure;
    }
    // A check prints what the scan of the block headers finds: nothing else is read.
    line.options.checkHeadersOnly = true;
    if (line.inspect || line.byName || morvex::IsFolder(line.inputPath)) {
        morvex::BatchRequest request = morvex::BatchRequestOf(line);
        request.progress = platform::IsTerminal(stderr) && platform::EnableLineRedraw(stderr);
        return morvex::RunBatch(request, stdout, stderr);
    }
    // The option form keeps standard output for the "-> " lines.
    morvex::Console console =
        line.optionForm ? morvex::Console(stdout, stderr) : morvex::Console(stdout);
    console.SetQuiet(line.verbosity == morvex::Verbosity::Quiet);
    morvex::Converter converter(std::move(console));
    // The destination is made once the input has loaded: an input that cannot be converted
    // leaves nothing behind. The outputs are made relative to the open folder, whatever its
    // path names later.
    platform::Folder dest;
    line.options.outputFolder = &dest;
    line.options.prepareDestination = [&line, &dest](morvex::Console& c) {
        return morvex::OpenDestination(line.destPath, dest, c);
    };
    const auto start = std::chrono::steady_clock::now();
    const int result = converter.Convert(line.inputPath, line.destPath, line.mode, line.options);
    if (line.verbosity == morvex::Verbosity::Verbose) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Print(morvex::ConsoleName(line.inputPath) + ": " +
                  morvex::ConversionCounts(converter, result == 0, seconds) + "\n",
              stderr);
    }
    const bool ok = result == 0 && !converter.OutputFailed();
    return ok ? morvex::kExitOk : morvex::kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    // A conversion ends its own model on running out of memory; this is for what is left (the
    // command line, a folder's listing), which ends the run with a message, never an abort.
    // An interrupt removes the temporaries of the files being written before the process ends.
    morvex::platform::HandleInterrupts(morvex::RemoveTemporariesNow);
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("Error : Out of memory.\n", stdout);
        return morvex::kExitFailure;
    }
}

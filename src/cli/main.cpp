// The morvex executable: parses the command line and runs one conversion, or a run of many
// models (src/batch) for folders, several inputs and the inspect report.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_run.h"
#include "batch/destination.h"
#include "cli/command_line.h"
#include "convert/converter.h"
#include "pack/pack.h"

namespace {

void Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    morvex::CommandLine line = morvex::ParseCommandLine(args);
    if (line.showUsage) {
        Print(morvex::kUsageText);
        Print(morvex::kUsageHelpLine);
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
        morvex::Console console;
        const morvex::Outcome packed = morvex::PackModel(request, console);
        console.Flush();
        return packed == morvex::Outcome::Ok ? morvex::kExitOk : morvex::kExitFailure;
    }
    // A check prints what the scan of the block headers finds: nothing else is read.
    line.options.checkHeadersOnly = true;
    if (line.inspect || line.outOption || morvex::IsFolder(line.inputPath)) {
        morvex::BatchRequest request;
        request.inputs = line.inputs;
        request.destPath = line.destPath;
        request.byName = line.outOption;
        request.mode = line.mode;
        request.inspect = line.inspect;
        request.json = line.json;
        request.options = line.options;
        request.progress = ::isatty(STDERR_FILENO) != 0;
        return morvex::RunBatch(request, stdout, stderr);
    }
    morvex::Converter converter;
    // A destination that does not exist is created; one that cannot be gives one message.
    if (line.mode != morvex::OutputMode::Check &&
        morvex::PrepareDestination(line.destPath, converter.GetConsole()) != morvex::Outcome::Ok) {
        converter.GetConsole().Flush();
        return morvex::kExitFailure;
    }
    int result = converter.Convert(line.inputPath, line.destPath, line.mode, line.options);
    bool ok = result == 0 && !converter.OutputFailed();
    return ok ? morvex::kExitOk : morvex::kExitFailure;
}

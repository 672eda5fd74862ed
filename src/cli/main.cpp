// The morvex executable: parses the command line and runs one conversion, or a run of many
// models (src/batch) for folders, several inputs and the inspect report.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_run.h"
#include "batch/destination.h"
#include "cli/command_line.h"
#include "convert/converter.h"
#include "platform/platform.h"

namespace {

// Text for the user: characters on a Windows console, bytes elsewhere. `cp932`: on Windows the
// bytes are those of code page 932, as a Japanese console program has always written them.
void Print(std::string_view text, bool cp932 = false) {
    namespace platform = morvex::platform;
    if (platform::WriteToConsole(stdout, text)) return;
    std::string encoded;
    if (platform::kWindows && cp932 && platform::AppendInCp932(text, encoded)) text = encoded;
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    namespace platform = morvex::platform;
    platform::UseBinaryStandardStreams();
    const std::vector<std::string> arguments = platform::Arguments(argc, argv);
    const std::vector<std::string_view> args(arguments.begin(), arguments.end());
    morvex::CommandLine line = morvex::ParseCommandLine(args);
    if (line.showUsage) {
        Print(morvex::kUsageText, true);
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
        request.progress = platform::IsTerminal(stderr) && platform::EnableLineRedraw(stderr);
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

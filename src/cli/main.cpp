// The morvex executable: parses the command line and runs one conversion, or a run of many
// models (src/batch) for folders, several inputs and the inspect report.
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_run.h"
#include "batch/destination.h"
#include "cli/command_line.h"
#include "convert/converter.h"

namespace {

void Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// A conversion formats and frees buffers of similar sizes over and over (text pieces, small
// meshes, pictures). The C library hands freed memory back to the system early and serves
// buffers from 128 KiB up with mappings of their own; memory fresh from the system costs a page
// fault and a clearing for every 4 KiB touched, often more than the work done in it. Keeping up
// to 64 MiB of freed memory, and serving buffers up to 4 MiB from the heap, reuses those pages.
// (Buffers from 1 MiB up that the decoders need are mappings of their own: see ByteBuffer.)
void KeepFreedMemory() {
#if defined(__GLIBC__)
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    KeepFreedMemory();
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

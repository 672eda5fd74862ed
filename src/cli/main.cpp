// The morvex executable: parses the command line and runs one conversion.
#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "convert/converter.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    morvex::CommandLine line = morvex::ParseCommandLine(args);
    if (line.showUsage) {
        std::fwrite(morvex::kUsageText.data(), 1, morvex::kUsageText.size(), stdout);
        return morvex::kExitUsage;
    }
    morvex::Converter converter;
    int result = converter.Convert(line.inputPath, line.destPath, line.mode);
    bool ok = result == 0 && !converter.OutputFailed();
    return ok ? morvex::kExitOk : morvex::kExitFailure;
}

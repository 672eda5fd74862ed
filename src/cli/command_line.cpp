#include "cli/command_line.h"

namespace morvex {

const std::string_view kUsageText =
    "Usage : morvex [-m] <file_name> [dest_path]\n"
    "  -m          MQO形式で出力します.\n"
    "  -g          glTF形式で出力します.\n"
    "  file_name   対象it3ファイル.\n"
    "  dest_path\u3000 出力先.(省略可)\n"
    "  /?          これを表示.\n";

std::string NormaliseDestPath(std::string_view destPath) {
    if (destPath.empty() || destPath == ".") return {};
    std::string normalised(destPath);
    if (normalised.back() != '/') normalised.push_back('/');
    return normalised;
}

CommandLine ParseCommandLine(std::span<const std::string_view> args) {
    CommandLine line;
    if (args.empty() || args[0] == "/?") {
        line.showUsage = true;
        return line;
    }
    std::size_t next = 0;
    if (!args[0].empty() && args[0].front() == '-') {
        if (args.size() < 2) {
            line.showUsage = true;
            return line;
        }
        char letter = args[0].size() > 1 ? args[0][1] : '\0';
        switch (letter) {
            case 'm':
            case 'M':
                line.mode = OutputMode::Mqo;
                break;
            case 'g':
            case 'G':
                line.mode = OutputMode::Gltf;
                break;
            case 'c':
            case 'C':
                line.mode = OutputMode::Check;
                break;
            default:
                line.showUsage = true;
                return line;
        }
        next = 1;
    }
    line.inputPath.assign(args[next]);
    if (args.size() > next + 1) line.destPath = NormaliseDestPath(args[next + 1]);
    return line;
}

}  // namespace morvex

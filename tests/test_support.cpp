#include "test_support.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "convert/converter.h"
#include "decode/block_types.h"

namespace morvex::test {

TempDir::TempDir() {
    std::random_device rd;
    for (;;) {
        path_ = fs::temp_directory_path() / ("morvex-test-" + std::to_string(rd()));
        if (fs::create_directory(path_)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void ExecMorvex(const std::vector<std::string>& args) {
    std::string binary = MORVEX_BINARY;
    std::vector<std::string> copy = args;
    std::vector<char*> argv{binary.data()};
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

RunResult RunMorvex(const std::vector<std::string>& args, const fs::path& workDir,
                    const RunLimits& limits) {
    RunResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return result;
    // Standard error goes to a file (an unlinked one): reading it only after the run cannot
    // block the child the way a second pipe could.
    std::FILE* errors = std::tmpfile();
    if (errors == nullptr) return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(errors), STDERR_FILENO);
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (chdir(workDir.c_str()) != 0) _exit(127);
        if (limits.seconds > 0) alarm(limits.seconds);  // the timer survives execv
        if (limits.fileSize > 0) {
            signal(SIGXFSZ, SIG_IGN);  // an ignored signal stays ignored across execv
            const rlimit size{limits.fileSize, limits.fileSize};
            if (setrlimit(RLIMIT_FSIZE, &size) != 0) _exit(127);
        }
        // A sanitizer finding must not pass for the tool's own failure status 1.
        setenv("ASAN_OPTIONS", "exitcode=86", 0);
        setenv("UBSAN_OPTIONS", "exitcode=86", 0);
        ExecMorvex(args);
    }
    close(pipeFds[1]);
    char chunk[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], chunk, sizeof chunk)) > 0) {
        const std::size_t room =
            limits.maxOutput - std::min(limits.maxOutput, result.output.size());
        const auto got = static_cast<std::size_t>(n);
        if (got > room) result.outputCut = true;
        result.output.append(chunk, std::min(got, room));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    std::rewind(errors);
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, errors)) > 0)
        result.errors.append(buffer, got);
    std::fclose(errors);
    // A sanitizer report or a crash stays visible in the test log.
    if (result.status == 86 || result.signal != 0) std::fputs(result.errors.c_str(), stderr);
    return result;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> ListFiles(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ListTree(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), dir).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::string> SnapshotTree(const fs::path& dir) {
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string relative = fs::relative(it->path(), dir).string();
        if (it->is_directory()) {
            tree[relative + "/"] = "";
        } else {
            tree[relative] = it->is_regular_file() ? ReadText(it->path()) : "(not a regular file)";
        }
    }
    return tree;
}

std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

ConvertResult ConvertInProcess(const fs::path& input, const std::string& destPath, int mode) {
    ConvertResult r;
    Converter converter(Console::Capturing());
    r.result = converter.Convert(input.string(), destPath, static_cast<OutputMode>(mode));
    r.outputFailed = converter.OutputFailed();
    r.output = converter.GetConsole().Captured();
    r.counters = converter.GetConsole().counters;
    return r;
}

Model IndexedModel(std::vector<std::uint8_t> bytes, std::string baseName, Console& console) {
    Model model;
    RegisterBlockTypes(model.registry);
    model.baseName = std::move(baseName);
    model.buffer = ByteBuffer::CopyOf(bytes);
    ScanBlocks(model, console);
    return model;
}

Model IndexedModel(const fs::path& file, Console& console) {
    return IndexedModel(ReadBytes(file), BaseNameOf(file.string()), console);
}

}  // namespace morvex::test

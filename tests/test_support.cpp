#include "test_support.h"

#include <png.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "cli/command_line.h"
#include "convert/converter.h"
#include "decode/block_types.h"
#include "platform/platform.h"

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

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

#ifndef _WIN32
void ExecMorvex(const std::vector<std::string>& args) {
    std::string binary = MORVEX_BINARY;
    std::vector<std::string> copy = args;
    std::vector<char*> argv{binary.data()};
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
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
#else
namespace {

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(std::max(n, 0)));
    return wide;
}

// One argument quoted the way the program's CommandLineToArgvW reads it back.
std::wstring Quoted(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// A file the child writes a standard stream into, read back after it ended.
struct CapturedStream {
    fs::path path =
        fs::temp_directory_path() / ("morvex-run-" + std::to_string(GetCurrentThreadId()) + "-" +
                                     std::to_string(GetTickCount64()) + "-" +
                                     std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    HANDLE handle = INVALID_HANDLE_VALUE;

    CapturedStream() {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        handle = CreateFileW(path.wstring().c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    }
    ~CapturedStream() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    std::string Read() {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return ReadText(path);
    }
};

// The paths of the lines that name files and models, with '/' for the '\' of Windows paths.
void Slashed(std::string& text, bool everyLine) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (everyLine || line.starts_with("-> ") || line.starts_with("Model : ") ||
            line.starts_with("Error : ")) {
            std::replace(text.begin() + static_cast<std::ptrdiff_t>(start),
                         text.begin() + static_cast<std::ptrdiff_t>(end), '\\', '/');
        }
        start = end + 1;
    }
}

}  // namespace

RunResult RunMorvex(const std::vector<std::string>& args, const fs::path& workDir,
                    const RunLimits& limits) {
    RunResult result;
    std::wstring command = Quoted(Wide(MORVEX_BINARY));
    for (const std::string& arg : args) command += L" " + Quoted(Wide(arg));
    CapturedStream out, err;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.handle;
    startup.hStdError = err.handle;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        workDir.wstring().c_str(), &startup, &process)) {
        return result;
    }
    CloseHandle(process.hThread);
    const DWORD wait = limits.seconds > 0 ? limits.seconds * 1000 : INFINITE;
    if (WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT) {
        // A hang shows as the signal a POSIX run gets from its alarm (SIGALRM).
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        result.signal = 14;
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        // A Windows exit status is 32 bits; -1 (the usage text) is 255 on POSIX systems.
        result.status = static_cast<int>(code & 0xFF);
        // A crash ends with an exception code (0xC0000005 and the like), not an exit status.
        if ((code & 0xF0000000) == 0xC0000000) {
            result.status = -1;
            result.signal = 11;
        }
    }
    CloseHandle(process.hProcess);
    result.output = out.Read();
    if (result.output.size() > limits.maxOutput) {
        result.output.resize(limits.maxOutput);
        result.outputCut = true;
    }
    result.errors = err.Read();
    if (result.signal != 0) std::fputs(result.errors.c_str(), stderr);
    Slashed(result.output, false);
    Slashed(result.errors, true);
    return result;
}
#endif

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

bool MakeLink(const fs::path& target, const fs::path& link, bool folder) {
    std::error_code error;
    if (folder) {
        fs::create_directory_symlink(target, link, error);
    } else {
        fs::create_symlink(target, link, error);
    }
    return !error;
}

std::string Generic(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

std::vector<std::string> ListFiles(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file()) names.push_back(platform::PathText(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ListTree(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) names.push_back(Generic(fs::relative(entry.path(), dir)));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::string> SnapshotTree(const fs::path& dir) {
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string relative = Generic(it->path().lexically_relative(dir));
        std::error_code unusual;  // a link that leads nowhere, or to itself
        if (it->is_directory(unusual)) {
            tree[relative + "/"] = "";
        } else {
            tree[relative] =
                it->is_regular_file(unusual) ? ReadText(it->path()) : "(not a regular file)";
        }
    }
    return tree;
}

std::string UsageOutput() {
    std::string usage;
    if (!platform::kWindows || !platform::AppendInCp932(kUsageText, usage)) usage = kUsageText;
    return usage + std::string(kUsageHelpLine);
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

// Decodes a PNG file image with libpng into RGBA; `hadAlpha` tells the stored colour type.
bool DecodePng(const std::vector<std::uint8_t>& png, RgbaPicture& picture, bool& hadAlpha) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return false;
    hadAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    bool colour = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    image.format = PNG_FORMAT_RGBA;
    picture.width = image.width;
    picture.height = image.height;
    picture.pixels.resize(PNG_IMAGE_SIZE(image));
    bool ok = png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok && colour;
}

}  // namespace morvex::test

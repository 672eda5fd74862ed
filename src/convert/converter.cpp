#include "convert/converter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <new>

#include "it3/block_types.h"

namespace morvex {
namespace {

// A file descriptor closed on every path.
class InputFile {
  public:
    explicit InputFile(const std::string& name) : fd_(::open(name.c_str(), O_RDONLY)) {}
    ~InputFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    int fd() const { return fd_; }

    // Reads exactly `length` bytes at `offset`; false on error or a short file.
    bool ReadAt(std::uint8_t* out, std::size_t length, off_t offset) const {
        while (length > 0) {
            ssize_t n = ::pread(fd_, out, length, offset);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            out += n;
            length -= static_cast<std::size_t>(n);
            offset += n;
        }
        return true;
    }

  private:
    int fd_;
};

}  // namespace

std::string BaseNameOf(std::string_view inputPath) {
    std::size_t slash = inputPath.rfind('/');
    std::string_view name =
        slash == std::string_view::npos ? inputPath : inputPath.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return std::string(name);
}

std::string ConsoleName(std::string_view name) {
    std::string shown(name);
    for (char& c : shown) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    return shown;
}

Converter::Converter(std::FILE* out) : console(out) {}

Converter::~Converter() {
    Reset();
}

void Converter::Print(const char* format, ...) const {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(console, format, args);
    va_end(args);
}

int Converter::Reset() {
    buffer.clear();
    buffer.shrink_to_fit();
    fileSize = 0;
    blocks.clear();
    registry.clear();
    return 0;
}

int Converter::Convert(std::string_view inputPath, std::string_view destPath, OutputMode mode) {
    Reset();
    outputFailed = false;
    RegisterBlockTypes(registry);
    path.assign(inputPath);
    baseName = BaseNameOf(inputPath);

    if (int result = Load(); result != 0) return result;
    ScanBlocks();

    switch (static_cast<int>(mode) & 7) {
        case 0:
            ExportObj(destPath);
            ExportTextures(destPath);
            break;
        case 1:
            ExportMqo(destPath);
            ExportTextures(destPath);
            break;
        case 2:
            ExportGltf(destPath);
            break;
        default:
            break;
    }
    std::fflush(console);
    return 0;
}

int Converter::Load() {
    InputFile file(path);
    struct stat info;
    if (file.fd() < 0 || ::fstat(file.fd(), &info) != 0 || S_ISDIR(info.st_mode)) {
        Print("Error : Can not open %s.\n", path.c_str());
        return -1;
    }
    std::uint8_t head[4];
    if (info.st_size < 4 || !file.ReadAt(head, 4, 0) || std::memcmp(head, "INFO", 4) != 0) {
        Print("Error : This file is not it3 file.\n");
        return -1;
    }
    // Block offsets are signed 32-bit: a larger file cannot be indexed.
    if (info.st_size > INT32_MAX) {
        Print("Error : Can not load %s.\n", path.c_str());
        return -1;
    }
    try {
        buffer.resize(static_cast<std::size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        Print("Error : Can not load %s.\n", path.c_str());
        return -1;
    }
    if (!file.ReadAt(buffer.data(), buffer.size(), 0)) {
        buffer.clear();
        Print("Error : Can not load %s.\n", path.c_str());
        return -1;
    }
    fileSize = static_cast<std::int32_t>(info.st_size);
    return 0;
}

std::string_view Converter::ObjectName(int infoPosition) const {
    if (infoPosition < 0 || static_cast<std::size_t>(infoPosition) >= blocks.size()) return {};
    Bytes payload = blocks[static_cast<std::size_t>(infoPosition)].Payload();
    return ByteReader(payload).Text(0, payload.size());
}

}  // namespace morvex

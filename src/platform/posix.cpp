// The platform layer on POSIX systems (Linux; nothing Linux-only is needed but the huge-page
// advice, which is asked for only where the system defines it).
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <thread>

#include "platform/platform.h"

namespace morvex::platform {
namespace {

std::error_code LastError() {
    return {errno, std::generic_category()};
}

int Fd(FileHandle handle) {
    return static_cast<int>(handle);
}

int AtFd(const Folder* at) {
    return at != nullptr ? Fd(at->Handle()) : AT_FDCWD;
}

FileStatus StatusFrom(const struct stat& info) {
    FileStatus status;
    status.kind = S_ISREG(info.st_mode)   ? FileKind::Regular
                  : S_ISDIR(info.st_mode) ? FileKind::Folder
                  : S_ISLNK(info.st_mode) ? FileKind::Link
                                          : FileKind::Other;
    status.size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    status.id = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    return status;
}

// The paths are handed to the system as NUL-terminated text.
std::string Text(std::string_view path) {
    return std::string(path);
}

}  // namespace

bool File::Close() {
    if (handle_ == kNoFile) return true;
    const bool closed = CloseHandle(handle_);
    handle_ = kNoFile;
    return closed;
}

std::error_code File::Status(FileStatus& status) const {
    struct stat info;
    if (::fstat(Fd(handle_), &info) != 0) return LastError();
    status = StatusFrom(info);
    return {};
}

bool File::ReadAt(std::span<std::uint8_t> out, std::uint64_t offset) const {
    std::uint8_t* at = out.data();
    std::size_t length = out.size();
    while (length > 0) {
        const ssize_t n = ::pread(Fd(handle_), at, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

File OpenForReading(std::string_view path, std::error_code& error, ReadOpen how, const Folder* at) {
    int flags = O_RDONLY | O_CLOEXEC;
    if (how == ReadOpen::NoFollow) flags |= O_NOFOLLOW;
    if (how == ReadOpen::NoWait) flags |= O_NONBLOCK;
    const int fd = ::openat(AtFd(at), Text(path).c_str(), flags);
    error = fd < 0 ? LastError() : std::error_code();
    return File(fd);
}

File CreateNewFile(std::string_view path, std::error_code& error, const Folder* at) {
    const int fd = ::openat(AtFd(at), Text(path).c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    error = fd < 0 ? LastError() : std::error_code();
    return File(fd);
}

std::int64_t Write(FileHandle file, const void* data, std::size_t length) {
    for (;;) {
        const ssize_t n = ::write(Fd(file), data, length);
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool CloseHandle(FileHandle file) {
    return ::close(Fd(file)) == 0;
}

std::error_code Rename(std::string_view from, std::string_view to, const Folder* at) {
    if (::renameat(AtFd(at), Text(from).c_str(), AtFd(at), Text(to).c_str()) != 0) {
        return LastError();
    }
    return {};
}

std::error_code RemoveFile(std::string_view path, const Folder* at) {
    if (::unlinkat(AtFd(at), Text(path).c_str(), 0) != 0) return LastError();
    return {};
}

std::error_code RemoveFolder(std::string_view path, const Folder* at) {
    if (::unlinkat(AtFd(at), Text(path).c_str(), AT_REMOVEDIR) != 0) return LastError();
    return {};
}

std::error_code CreateFolder(std::string_view path, const Folder* at) {
    if (::mkdirat(AtFd(at), Text(path).c_str(), 0777) != 0) return LastError();
    return {};
}

std::error_code StatusOf(std::string_view path, FileStatus& status, Links links, const Folder* at) {
    struct stat info;
    if (::fstatat(AtFd(at), Text(path).c_str(), &info,
                  links == Links::Keep ? AT_SYMLINK_NOFOLLOW : 0) != 0) {
        return LastError();
    }
    status = StatusFrom(info);
    return {};
}

Folder Folder::Open(std::string_view path, std::error_code& error, Links links, const Folder* at) {
    Folder folder;
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (links == Links::Keep) flags |= O_NOFOLLOW;
    const int fd = ::openat(AtFd(at), Text(path).c_str(), flags);
    if (fd < 0) {
        error = LastError();
        return folder;
    }
    error.clear();
    folder.file_ = File(fd);
    if (at == nullptr || path.empty() || path.front() == '/') {
        folder.path_ = path;
    } else {
        folder.path_ = at->Path();
        if (!folder.path_.empty() && folder.path_.back() != '/') folder.path_ += '/';
        folder.path_ += path;
    }
    return folder;
}

std::error_code Folder::ReadNames(std::vector<std::string>& names) const {
    // The listing reads through a descriptor of its own: closedir closes it.
    const int fd = ::openat(Fd(Handle()), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastError();
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const std::error_code error = LastError();
        ::close(fd);
        return error;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
        errno = 0;
    }
    const std::error_code error = errno != 0 ? LastError() : std::error_code();
    ::closedir(dir);
    return error;
}

std::string CaseFolded(std::string_view path) {
    return std::string(path);
}

std::filesystem::path FilesystemPath(std::string_view path) {
    return std::filesystem::path(path);
}

std::string PathText(const std::filesystem::path& path) {
    return path.string();
}

std::uint8_t* MapMemory(std::size_t size, bool hugePages) {
    // A mapping a huge page larger than asked for, trimmed to start at a huge-page boundary, so
    // that the kernel can back every whole 2 MiB of it with a huge page; the rest takes ordinary
    // pages.
    if (size > SIZE_MAX - kHugePage) throw std::bad_alloc();
    const std::size_t span = size + kHugePage;
    void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    auto* base = static_cast<std::uint8_t*>(raw);
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    std::uint8_t* start = base + ((address + kHugePage - 1) / kHugePage * kHugePage - address);
    if (start > base) ::munmap(base, static_cast<std::size_t>(start - base));
    std::uint8_t* end = start + size;
    if (base + span > end) ::munmap(end, static_cast<std::size_t>(base + span - end));
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
    // Advice only: without huge pages it still works.
    ::madvise(start, size, hugePages ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
#else
    (void)hugePages;
#endif
    return start;
}

void UnmapMemory(std::uint8_t* data, std::size_t size) noexcept {
    ::munmap(data, size);
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

std::size_t TerminalColumns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

bool EnableLineRedraw(std::FILE*) {
    return true;
}

bool WriteToConsole(std::FILE*, std::string_view) {
    return false;
}

void UseBinaryStandardStreams() {}

long ProcessId() {
    return static_cast<long>(::getpid());
}

bool ProcessRunning(long id) {
    if (id <= 0 || id > std::numeric_limits<pid_t>::max()) return false;
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

void HandleInterrupts(void (*cleanup)()) {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, number);
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
    std::thread([signals, cleanup] {
        int number = 0;
        while (::sigwait(&signals, &number) != 0) {
        }
        cleanup();
        // Ended by the signal itself, so that the parent sees what ended the process.
        ::signal(number, SIG_DFL);
        sigset_t taken;
        sigemptyset(&taken);
        sigaddset(&taken, number);
        ::pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
        ::raise(number);
        ::_exit(128 + number);
    }).detach();
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

namespace {

// A converter between UTF-8 and code page 932: glibc's "CP932" is the code page as Windows has
// it ("SHIFT_JIS" maps several characters differently). One is costly to open: one per thread
// and direction, kept.
class Cp932Converter {
  public:
    Cp932Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Cp932Converter() {
        if (cd_ != kNone) ::iconv_close(cd_);
    }
    Cp932Converter(const Cp932Converter&) = delete;
    Cp932Converter& operator=(const Cp932Converter&) = delete;

    // Converts the whole of `text`, appended to `out`; false when any of it does not convert.
    bool Convert(std::string_view text, std::string& out) {
        if (cd_ == kNone) return false;
        std::string in(text);
        std::string converted(text.size() * 4 + 4, '\0');
        char* from = in.data();
        std::size_t fromLeft = in.size();
        char* to = converted.data();
        std::size_t toLeft = converted.size();
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (::iconv(cd_, &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1) ||
            fromLeft != 0) {
            return false;
        }
        out.append(converted.data(), static_cast<std::size_t>(to - converted.data()));
        return true;
    }

  private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    iconv_t cd_;
};

}  // namespace

bool AppendCp932Character(std::string_view character, std::string& out) {
    thread_local Cp932Converter decoder("UTF-8", "CP932");
    return !character.empty() && character.size() <= 2 && decoder.Convert(character, out);
}

bool AppendInCp932(std::string_view text, std::string& out) {
    thread_local Cp932Converter encoder("CP932", "UTF-8");
    return encoder.Convert(text, out);
}

}  // namespace morvex::platform

#endif  // !_WIN32

// The platform layer on Windows: the wide (UTF-16) API throughout, paths of any length.
#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <limits>
#include <new>

#include "platform/platform.h"

namespace morvex::platform {
namespace {

// The Windows errors that have a portable meaning become errno values, so that callers can
// compare them with std::errc; the others keep their Windows code and message.
std::error_code ErrorFrom(DWORD code) {
    int portable = 0;
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
            portable = ENOENT;
            break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            portable = EEXIST;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            portable = EACCES;
            break;
        case ERROR_DIRECTORY:
            portable = ENOTDIR;
            break;
        case ERROR_DIR_NOT_EMPTY:
            portable = ENOTEMPTY;
            break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            portable = ENOSPC;
            break;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            portable = ENOMEM;
            break;
        case ERROR_CANT_RESOLVE_FILENAME:
            portable = ELOOP;
            break;
        case ERROR_FILENAME_EXCED_RANGE:
            portable = ENAMETOOLONG;
            break;
        default:
            return {static_cast<int>(code), std::system_category()};
    }
    return {portable, std::generic_category()};
}

std::error_code LastError() {
    return ErrorFrom(::GetLastError());
}

HANDLE Native(FileHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

FileHandle Portable(HANDLE handle) {
    return reinterpret_cast<FileHandle>(handle);
}

std::wstring Wide(std::string_view text) {
    if (text.empty()) return {};
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

std::string Narrow(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                          length, nullptr, nullptr);
    return text;
}

bool IsRelative(std::string_view path) {
    if (path.empty()) return true;
    if (IsSeparator(path.front())) return false;
    return !(path.size() >= 2 && path[1] == ':');
}

// The path as the system takes it: UTF-16, below `at` when relative and given. From a length
// at which the old limit of 260 characters could be reached (a folder's, 248, with room for a
// file name), it is made absolute and given the prefix that lifts the limit ("\\?\", or
// "\\?\UNC\" for a share); such a path is taken as it is, so the separators and the "." and
// ".." steps are resolved first, by GetFullPathNameW.
std::wstring SystemPath(std::string_view path, const Folder* at = nullptr) {
    std::string joined;
    if (at != nullptr && IsRelative(path)) {
        joined = at->Path();
        if (!joined.empty() && !IsSeparator(joined.back())) joined += '\\';
        joined += path;
        path = joined;
    }
    std::wstring wide = Wide(path);
    constexpr std::size_t kShortPathLimit = 240;
    if (wide.size() < kShortPathLimit || wide.starts_with(L"\\\\?\\")) return wide;
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return wide;
    full.resize(length);
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

FileStatus StatusFrom(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info) {
    FileStatus status;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        status.kind = FileKind::Link;
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        status.kind = FileKind::Folder;
    } else {
        status.kind = ::GetFileType(handle) == FILE_TYPE_DISK ? FileKind::Regular : FileKind::Other;
    }
    status.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    status.id = {info.dwVolumeSerialNumber,
                 (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return status;
}

std::error_code StatusOfHandle(HANDLE handle, FileStatus& status) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) return LastError();
    status = StatusFrom(handle, info);
    return {};
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens what is at `path` for `access`, links followed or not; a reparse point met with
// `links` Keep is refused with ELOOP when `refuseLinks`.
HANDLE OpenHandle(std::string_view path, const Folder* at, DWORD access, DWORD share,
                  DWORD disposition, DWORD flags, Links links, std::error_code& error) {
    if (links == Links::Keep) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    const HANDLE handle = ::CreateFileW(SystemPath(path, at).c_str(), access, share, nullptr,
                                        disposition, flags, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? LastError() : std::error_code();
    return handle;
}

}  // namespace

bool File::Close() {
    if (handle_ == kNoFile) return true;
    const bool closed = CloseHandle(handle_);
    handle_ = kNoFile;
    return closed;
}

std::error_code File::Status(FileStatus& status) const {
    return StatusOfHandle(Native(handle_), status);
}

bool File::ReadAt(std::span<std::uint8_t> out, std::uint64_t offset) const {
    std::uint8_t* at = out.data();
    std::size_t length = out.size();
    while (length > 0) {
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(offset);
        where.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
        DWORD n = 0;
        if (!::ReadFile(Native(handle_), at, part, &n, &where) || n == 0) return false;
        at += n;
        length -= n;
        offset += n;
    }
    return true;
}

File OpenForReading(std::string_view path, std::error_code& error, ReadOpen how, const Folder* at) {
    // Nothing on a Windows file system blocks an open the way a FIFO does: NoWait is Plain.
    const Links links = how == ReadOpen::NoFollow ? Links::Keep : Links::Follow;
    HANDLE handle = OpenHandle(path, at, GENERIC_READ, kShareAll, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, links, error);
    if (handle == INVALID_HANDLE_VALUE) return File();
    File file(Portable(handle));
    FileStatus status;
    if (links == Links::Keep && !file.Status(status) && status.kind == FileKind::Link) {
        error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
        return File();
    }
    return file;
}

File CreateNewFile(std::string_view path, std::error_code& error, const Folder* at) {
    // CREATE_NEW fails on any name that exists, a link included, which is not followed.
    HANDLE handle = OpenHandle(path, at, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, Links::Keep, error);
    return handle == INVALID_HANDLE_VALUE ? File() : File(Portable(handle));
}

std::int64_t Write(FileHandle file, const void* data, std::size_t length) {
    const auto* at = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < length) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(length - done, 1u << 30));
        DWORD n = 0;
        if (!::WriteFile(Native(file), at + done, part, &n, nullptr)) {
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        if (n == 0) break;
        done += n;
    }
    return static_cast<std::int64_t>(done);
}

bool CloseHandle(FileHandle file) {
    return ::CloseHandle(Native(file)) != 0;
}

std::error_code Rename(std::string_view from, std::string_view to, const Folder* at) {
    // MOVEFILE_REPLACE_EXISTING replaces a file or a link of the new name in one step.
    if (!::MoveFileExW(SystemPath(from, at).c_str(), SystemPath(to, at).c_str(),
                       MOVEFILE_REPLACE_EXISTING)) {
        return LastError();
    }
    return {};
}

std::error_code RemoveFile(std::string_view path, const Folder* at) {
    if (!::DeleteFileW(SystemPath(path, at).c_str())) return LastError();
    return {};
}

std::error_code RemoveFolder(std::string_view path, const Folder* at) {
    if (!::RemoveDirectoryW(SystemPath(path, at).c_str())) return LastError();
    return {};
}

std::error_code CreateFolder(std::string_view path, const Folder* at) {
    if (!::CreateDirectoryW(SystemPath(path, at).c_str(), nullptr)) return LastError();
    return {};
}

std::error_code StatusOf(std::string_view path, FileStatus& status, Links links, const Folder* at) {
    std::error_code error;
    // No access asked for: the attributes and the identity can be read all the same.
    const HANDLE handle =
        OpenHandle(path, at, 0, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, links, error);
    if (handle == INVALID_HANDLE_VALUE) return error;
    error = StatusOfHandle(handle, status);
    ::CloseHandle(handle);
    return error;
}

Folder Folder::Open(std::string_view path, std::error_code& error, Links links, const Folder* at) {
    Folder folder;
    // Without FILE_SHARE_DELETE the folder cannot be renamed or removed while it is open, so
    // that the path kept for it goes on naming it.
    const HANDLE handle =
        OpenHandle(path, at, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                   FILE_FLAG_BACKUP_SEMANTICS, links, error);
    if (handle == INVALID_HANDLE_VALUE) return folder;
    File file(Portable(handle));
    FileStatus status;
    error = file.Status(status);
    if (!error && status.kind != FileKind::Folder) {
        error = std::make_error_code(status.kind == FileKind::Link
                                         ? std::errc::too_many_symbolic_link_levels
                                         : std::errc::not_a_directory);
    }
    if (error) return folder;
    folder.file_ = std::move(file);
    if (at == nullptr || !IsRelative(path)) {
        folder.path_ = path;
    } else {
        folder.path_ = at->Path();
        if (!folder.path_.empty() && !IsSeparator(folder.path_.back())) folder.path_ += '\\';
        folder.path_ += path;
    }
    return folder;
}

std::error_code Folder::ReadNames(std::vector<std::string>& names) const {
    std::string pattern = path_;
    if (!pattern.empty() && !IsSeparator(pattern.back())) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW entry;
    const HANDLE find =
        ::FindFirstFileExW(SystemPath(pattern).c_str(), FindExInfoBasic, &entry,
                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        return code == ERROR_FILE_NOT_FOUND ? std::error_code() : ErrorFrom(code);
    }
    std::error_code error;
    do {
        const std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(Narrow(name));
    } while (::FindNextFileW(find, &entry));
    if (::GetLastError() != ERROR_NO_MORE_FILES) error = LastError();
    ::FindClose(find);
    return error;
}

std::string CaseFolded(std::string_view path) {
    std::wstring wide = Wide(path);
    if (wide.empty()) return {};
    // Upper case as the file system compares names: by the invariant table, one to one.
    ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                    static_cast<int>(wide.size()), wide.data(), static_cast<int>(wide.size()),
                    nullptr, nullptr, 0);
    return Narrow(wide);
}

std::filesystem::path FilesystemPath(std::string_view path) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
}

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::uint8_t* MapMemory(std::size_t size, bool) {
    // Large pages need a privilege that users do not have: plain pages, committed as they are
    // touched.
    void* data = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (data == nullptr) throw std::bad_alloc();
    return static_cast<std::uint8_t*>(data);
}

void UnmapMemory(std::uint8_t* data, std::size_t) noexcept {
    ::VirtualFree(data, 0, MEM_RELEASE);
}

namespace {

HANDLE ConsoleOf(std::FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return nullptr;
    return handle;
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
    return ConsoleOf(stream) != nullptr;
}

std::size_t TerminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    const HANDLE console = ConsoleOf(stream);
    if (console == nullptr || !::GetConsoleScreenBufferInfo(console, &info)) return 0;
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

bool EnableLineRedraw(std::FILE* stream) {
    const HANDLE console = ConsoleOf(stream);
    DWORD mode = 0;
    if (console == nullptr || !::GetConsoleMode(console, &mode)) return false;
    return ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

bool WriteToConsole(std::FILE* stream, std::string_view text) {
    const HANDLE console = ConsoleOf(stream);
    if (console == nullptr) return false;
    std::fflush(stream);
    const std::wstring wide = Wide(text);
    std::size_t done = 0;
    while (done < wide.size()) {
        DWORD n = 0;
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
        if (!::WriteConsoleW(console, wide.data() + done, part, &n, nullptr) || n == 0) break;
        done += n;
    }
    return true;
}

void UseBinaryStandardStreams() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

long ProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

bool ProcessRunning(long id) {
    if (id <= 0 || id > static_cast<long>(std::numeric_limits<DWORD>::max())) return false;
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

namespace {

std::atomic<void (*)()> interruptCleanup{nullptr};

// Runs on a thread the system starts for the event; returning FALSE hands the event on to the
// default handler, which ends the process.
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (void (*cleanup)() = interruptCleanup.load()) cleanup();
    return FALSE;
}

}  // namespace

void HandleInterrupts(void (*cleanup)()) {
    interruptCleanup.store(cleanup);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

std::vector<std::string> Arguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return arguments;
    for (int k = 1; k < count; ++k) arguments.push_back(Narrow(wide[k]));
    ::LocalFree(wide);
    return arguments;
}

bool AppendCp932Character(std::string_view character, std::string& out) {
    if (character.empty() || character.size() > 2) return false;
    wchar_t wide[2];
    const int length = ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, character.data(),
                                             static_cast<int>(character.size()), wide, 2);
    if (length <= 0) return false;
    out += Narrow(std::wstring_view(wide, static_cast<std::size_t>(length)));
    return true;
}

bool AppendInCp932(std::string_view text, std::string& out) {
    const std::wstring wide = Wide(text);
    if (wide.empty()) return true;
    BOOL lost = FALSE;
    const int length =
        ::WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                              nullptr, 0, nullptr, &lost);
    if (length <= 0 || lost) return false;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(length));
    ::WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                          out.data() + at, length, nullptr, nullptr);
    return true;
}

}  // namespace morvex::platform

#endif  // _WIN32

// The one place where morvex calls the operating system: files, folders, memory mappings, the
// terminal, the process. posix.cpp and windows.cpp implement it side by side; nothing else in
// src/ includes a system header.
//
// Paths and names cross this layer as UTF-8 text (on POSIX systems: the bytes as given, which
// the system takes as they are). On Windows they become UTF-16 inside windows.cpp, '/' and '\'
// both separate folders, and a path too long for the old 260-character limit is made absolute
// and given the "\\?\" prefix, so that every path length works.
//
// Failures come back as std::error_code (errno values in the generic category on POSIX systems,
// Windows error codes in the system category), whose message() is the system's own text.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace morvex::platform {

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// ---------------------------------------------------------------------------------------------
// Files and folders

// An open file or folder of the system: a descriptor on POSIX systems, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

enum class FileKind : std::uint8_t { Regular, Folder, Link, Other };

// What tells two files or folders apart: device and inode, or volume serial and file index.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    friend auto operator<=>(const FileId&, const FileId&) = default;
};

struct FileStatus {
    FileKind kind = FileKind::Other;
    std::uint64_t size = 0;  // bytes, for a regular file
    FileId id;
};

// Whether a link (a symbolic link, or any reparse point on Windows) at the end of a path is
// followed or taken for what it is.
enum class Links : std::uint8_t { Follow, Keep };

// How an existing file is opened for reading.
enum class ReadOpen : std::uint8_t {
    Plain,
    // A link at the end of the path is not followed: the open fails.
    NoFollow,
    // Opening does not wait (a FIFO without a writer opens at once); reads may then say "not
    // yet". For inputs whose kind is checked before they are read.
    NoWait,
};

class Folder;

// An open file, closed when it goes.
class File {
  public:
    File() = default;
    explicit File(FileHandle handle) : handle_(handle) {}
    ~File() { Close(); }
    File(File&& other) noexcept : handle_(other.Release()) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.Release();
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return handle_ != kNoFile; }
    FileHandle Handle() const { return handle_; }
    // Hands the handle over; the File no longer closes it.
    FileHandle Release() {
        const FileHandle handle = handle_;
        handle_ = kNoFile;
        return handle;
    }
    // Closes the file: false when the system reports a failure (a write that could not be
    // completed). A closed File is closed again without effect.
    bool Close();

    // What the open file is (never a link: links are resolved or refused when opening).
    std::error_code Status(FileStatus& status) const;
    // Reads exactly out.size() bytes at `offset`: false on an error or at the end of the file.
    // Several threads may read one file at once.
    bool ReadAt(std::span<std::uint8_t> out, std::uint64_t offset) const;

  private:
    FileHandle handle_ = kNoFile;
};

// Opens an existing file for reading. A relative path is taken below `at` when given, else the
// current folder. The handle is not inherited by child processes.
File OpenForReading(std::string_view path, std::error_code& error, ReadOpen how = ReadOpen::Plain,
                    const Folder* at = nullptr);
// Creates a new file for writing (permissions 0644 on POSIX systems). Fails with
// errc::file_exists when anything has the name already: a file, a folder or a link, which is
// neither opened nor followed.
File CreateNewFile(std::string_view path, std::error_code& error, const Folder* at = nullptr);

// Writes up to `length` bytes: the number written (retrying interruptions), or -1 on failure.
std::int64_t Write(FileHandle file, const void* data, std::size_t length);
// Closes a handle: false when the system reports a failure.
bool CloseHandle(FileHandle file);

// Renames `from` onto `to`, replacing a file or link of that name at once: a reader finds the
// old file or the new one, never none. A link at `to` is replaced, not written through.
std::error_code Rename(std::string_view from, std::string_view to, const Folder* at = nullptr);
// Removes a file or a link (never what a link points to).
std::error_code RemoveFile(std::string_view path, const Folder* at = nullptr);
// Removes an empty folder (below `at`, when given).
std::error_code RemoveFolder(std::string_view path, const Folder* at = nullptr);
// Creates one folder (below `at`, when given); errc::file_exists when something has the name
// already (a link included, which is not followed).
std::error_code CreateFolder(std::string_view path, const Folder* at = nullptr);

// What is at `path`.
std::error_code StatusOf(std::string_view path, FileStatus& status, Links links = Links::Follow,
                         const Folder* at = nullptr);

// An open folder: its entries can be listed, and paths taken below it (the "at" argument above)
// refer to it even when the path that named it changes meanwhile.
class Folder {
  public:
    Folder() = default;
    ~Folder() = default;
    Folder(Folder&&) noexcept = default;
    Folder& operator=(Folder&&) noexcept = default;

    // Opens the folder at `path` (below `at`, when given).
    static Folder Open(std::string_view path, std::error_code& error, Links links = Links::Follow,
                       const Folder* at = nullptr);

    bool IsOpen() const { return file_.IsOpen(); }
    FileHandle Handle() const { return file_.Handle(); }
    // The path it was opened by (joined to its parent's, when opened below one).
    const std::string& Path() const { return path_; }
    // The names of its entries, "." and ".." left out, in no particular order.
    std::error_code ReadNames(std::vector<std::string>& names) const;

  private:
    File file_;
    std::string path_;
};

// ---------------------------------------------------------------------------------------------
// Paths

// A path for the standard library's filesystem functions, and back; on Windows those take
// narrow strings in the ANSI code page, so the UTF-8 text is handed over as such.
std::filesystem::path FilesystemPath(std::string_view path);
std::string PathText(const std::filesystem::path& path);

// True for the characters that separate folders in a path: '/', and on Windows also '\'.
constexpr bool IsSeparator(char c) {
    return c == '/' || (kWindows && c == '\\');
}
// Where the last name of `path` starts: just after its last separator, else 0.
constexpr std::size_t NameStart(std::string_view path) {
    std::size_t start = path.size();
    while (start > 0 && !IsSeparator(path[start - 1])) --start;
    return start;
}
// A path in the form in which the system compares names: upper case on Windows, whose file
// names ignore case; as it is elsewhere.
std::string CaseFolded(std::string_view path);

// The separator put between folders in the paths morvex makes: '\' on Windows, '/' elsewhere.
inline constexpr char kSeparator = kWindows ? '\\' : '/';

// ---------------------------------------------------------------------------------------------
// Memory

// Where a huge page is possible, mappings start at a multiple of this.
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// `size` bytes (a multiple of 4 KiB) of fresh memory that read as zeros and take memory only
// when touched; where the system has huge pages and `hugePages` is true, they are asked for
// (the mapping then starts at a kHugePage boundary). Throws std::bad_alloc.
std::uint8_t* MapMemory(std::size_t size, bool hugePages);
// Gives a mapping of MapMemory back, whole.
void UnmapMemory(std::uint8_t* data, std::size_t size) noexcept;

// ---------------------------------------------------------------------------------------------
// Terminal and process

// True when `stream` is a terminal (a console window on Windows).
bool IsTerminal(std::FILE* stream);
// The width of the terminal behind `stream` in columns, 0 when unknown.
std::size_t TerminalColumns(std::FILE* stream);
// Prepares a terminal for the "\r\033[K" line redraw: true when the terminal understands it.
bool EnableLineRedraw(std::FILE* stream);
// Writes UTF-8 text to `stream` as characters when it is a Windows console (which shows
// UTF-16, whatever its code page) and returns true; false, writing nothing, elsewhere.
bool WriteToConsole(std::FILE* stream, std::string_view text);
// Makes the standard streams write their bytes as they are (no CR added before LF).
void UseBinaryStandardStreams();

// The process id.
long ProcessId();
// False when no process `id` runs (it ended); true for a running one, also of another user.
bool ProcessRunning(long id);

// Interrupts: SIGINT (Ctrl+C), SIGTERM and SIGHUP; on Windows the console's Ctrl+C, Ctrl+Break
// and close events. From this call on, an interrupt runs `cleanup` on a thread of its own, then
// ends the process as the interrupt would have. Call it before any other thread starts: on POSIX
// systems the signals are blocked in every thread and taken by one that waits for them.
void HandleInterrupts(void (*cleanup)());

// The command line's arguments after the program name, as UTF-8 on Windows (read from the wide
// command line), as given elsewhere.
std::vector<std::string> Arguments(int argc, char** argv);

// ---------------------------------------------------------------------------------------------
// Text

// Converts one character of code page 932 (a single byte, or a lead and a trail byte) into
// UTF-8, appended to `out`: false when the code page has no such character.
bool AppendCp932Character(std::string_view character, std::string& out);
// Converts UTF-8 text into code page 932, appended to `out`: false (and `out` unchanged) when a
// character has no code in it.
bool AppendInCp932(std::string_view text, std::string& out);

}  // namespace morvex::platform

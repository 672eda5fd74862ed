// Output files: safe names, buffered writing with every write and the close checked, files that
// appear under their final name only when complete, and the console lines for files that cannot
// be created or written.
//
// A file is written under a temporary name in its destination folder,
// ".<final name>.<process id>-<n>.morvex-tmp" (the final name cut to 96 bytes), created with
// platform::CreateNewFile, so that nothing already there is opened or followed. Only after
// its last write and its close succeeded is it renamed onto the final name, which replaces a
// file or a symbolic link of that name (a link is never written through). A file that fails, or
// that is dropped without being put in place (a destructor during an exception included),
// removes its temporary. So after a kill at any moment every file under a final name is
// complete; what a killed run leaves besides are its temporaries, which an interrupt removes
// (RemoveTemporariesNow) and a later run into the folder removes (RemoveStaleTemporaries).
//
// A file given the open folder it goes into is created, renamed and removed relative to that
// folder, by its name alone: no link put in place of a folder of its path is ever followed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "it3/byte_reader.h"
#include "it3/console.h"
#include "it3/names.h"
#include "it3/result.h"
#include "platform/platform.h"

namespace morvex {

// The longest file name (the last component of a path, in bytes) an output may have: a longer
// one is not created, on any system, and the inspect report predicts so.
inline constexpr std::size_t kMaxFileName = 255;
// True when the last component of `path` is at most kMaxFileName bytes long.
bool FileNameFits(std::string_view path);

// The fixed end of every temporary file name.
inline constexpr std::string_view kTemporarySuffix = ".morvex-tmp";

// The system calls through which output files write, close and rename (platform::Write,
// platform::CloseHandle, platform::Rename); tests replace them to make any one of them fail (see
// SetOutputCalls).
struct OutputCalls {
    std::int64_t (*write)(platform::FileHandle file, const void* data, std::size_t length);
    bool (*close)(platform::FileHandle file);
    std::error_code (*rename)(std::string_view from, std::string_view to,
                              const platform::Folder* at);
};
// Makes every OutputFile of the process use `calls` from now on (nullptr: the system's own);
// returns the table used before. Not for use while files are being written on other threads.
const OutputCalls* SetOutputCalls(const OutputCalls* calls);

// A file written through a buffer that starts small and grows up to 1 MiB (appends of 64 KiB or
// more are written from the caller's memory, without a copy): one open, few writes, one close,
// one rename.
class OutputFile {
  public:
    // A file at `path`; with `folder`, the open folder that path names the file in (the path is
    // then only shown in messages).
    explicit OutputFile(std::string path, const platform::Folder* folder = nullptr);
    // A file not put in place has its temporary removed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary beside the final name: Ok, or CannotCreate when it cannot be created
    // or when the final name cannot be one (a folder of that name, a name too long for
    // FileNameFits).
    [[nodiscard]] Outcome Open();
    void Append(std::string_view text);
    void Append(Bytes bytes) {
        Append(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    // Room for `n` more bytes at the end of the buffer; Commit(n) keeps what was written there.
    char* Reserve(std::size_t n) {
        return capacity_ - used_ >= n ? buffer_.get() + used_ : ReserveSlow(n);
    }
    void Commit(std::size_t n) { used_ += n; }
    // Flushes and closes the temporary: Ok, or CannotWrite when any write or the close failed.
    // Nothing appears under the final name yet.
    [[nodiscard]] Outcome Close();
    // Renames the closed temporary onto the final name: Ok, or CannotWrite (temporary removed).
    [[nodiscard]] Outcome PutInPlace();
    // Deletes what the file left: its temporary, or the final file once it was put in place.
    void Remove();
    const std::string& Path() const { return path_; }
    // Bytes handed to the system since Open.
    std::uint64_t Size() const { return size_; }
    // Bytes handed to the system so far are also added to *counter (may be null).
    void CountInto(std::uint64_t* counter) { counter_ = counter; }

  private:
    void Flush();
    // Writes `length` bytes at `data` to the file unless a write failed before.
    void WriteOut(const char* data, std::size_t length);
    char* ReserveSlow(std::size_t n);
    void Allocate(std::size_t capacity);

    // The final and the temporary name as the system is given them: relative to at_, or paths.
    std::string_view Target() const;

    std::string path_;
    const platform::Folder* at_;
    std::string temporary_;         // empty when there is none
    std::uint64_t registered_ = 0;  // its entry among the temporaries of the process
    platform::FileHandle file_ = platform::kNoFile;
    bool failed_ = false;
    bool placed_ = false;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t* counter_ = nullptr;
};

// Open and close with the console lines of failures: "Error : Can not create <path>." when the
// file cannot be created, "Error : Can not write <path>." (and nothing left behind) when a write,
// the close or the rename fails. Both record the failure for the exit status and count the bytes
// written, and the files put in place with their sizes, into the console's counters; a caller that
// goes on with the next file whatever happened need not look at CloseOutput's result.
[[nodiscard]] Outcome OpenOutput(Console& console, OutputFile& file);
Outcome CloseOutput(Console& console, OutputFile& file);
// Two files that belong together (an OBJ and the MTL it names): both are put in place or
// neither. The companion is renamed first, so that a reader who sees the main file finds its
// companion; when either cannot be completed both are removed and each is reported.
Outcome CloseOutputs(Console& console, OutputFile& main, OutputFile& companion);
// A file that cannot be completed: removed, "Error : Can not write <path>." printed and the
// failure recorded.
void FailOutput(Console& console, OutputFile& file);

// Removes every temporary this process has open or is about to create, and keeps any more from
// being created: what an interrupt does before the process ends (platform::HandleInterrupts).
void RemoveTemporariesNow();
// Removes the temporaries that runs which have ended left in a folder (`folder` open, else the
// folder at `path`, empty for the current one): the names ".<name>.<process id>-<n>.morvex-tmp"
// whose process no longer runs.
void RemoveStaleTemporaries(const platform::Folder* folder, std::string_view path);

}  // namespace morvex

#include "export/output_file.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace morvex {
namespace {

// The buffer starts at a size the allocator hands out again from freed memory (an object of two
// small files costs no fresh pages) and doubles while a file keeps growing.
constexpr std::size_t kFirstBufferSize = 64 << 10;
constexpr std::size_t kLargestBufferSize = 1 << 20;
// Appends of at least this many bytes are written from the caller's memory, not copied first.
constexpr std::size_t kDirectWriteSize = 64 << 10;
// How much of the final name the temporary name repeats: enough to tell which file it is, short
// enough that the temporary name never exceeds a file-name limit the final name does not.
constexpr std::size_t kNameInTemporary = 96;
constexpr int kCreateAttempts = 64;

std::error_code SystemRename(std::string_view from, std::string_view to) {
    return platform::Rename(from, to);
}
constexpr OutputCalls kSystemCalls = {platform::Write, platform::CloseHandle, SystemRename};
std::atomic<const OutputCalls*> calls{&kSystemCalls};

const OutputCalls& Calls() {
    return *calls.load(std::memory_order_relaxed);
}

// Numbers the temporaries of this process, so that files written at the same time (by threads,
// or by several runs into one folder, which differ in their process id) never share a name.
std::atomic<std::uint64_t> temporaries{0};

std::string TemporaryName(std::string_view path) {
    std::size_t nameStart = path.size();
    while (nameStart > 0 && !platform::IsSeparator(path[nameStart - 1])) --nameStart;
    const std::string_view folder = path.substr(0, nameStart);
    const std::string_view name = path.substr(nameStart);
    char tail[64];
    std::snprintf(tail, sizeof tail, ".%ld-%llu", platform::ProcessId(),
                  static_cast<unsigned long long>(temporaries.fetch_add(1) + 1));
    std::string temporary(folder);
    temporary += '.';
    temporary += name.substr(0, kNameInTemporary);
    temporary += tail;
    temporary += kTemporarySuffix;
    return temporary;
}

// Whether a file can be put in place under `path` later: not when a folder has that name, nor
// when the name itself is refused (too long, a component that is not a folder, ...).
bool FinalNameUsable(const std::string& path) {
    platform::FileStatus status;
    const std::error_code error = platform::StatusOf(path, status, platform::Links::Keep);
    if (!error) return status.kind != platform::FileKind::Folder;
    return error == std::errc::no_such_file_or_directory;
}

}  // namespace

const OutputCalls* SetOutputCalls(const OutputCalls* replacement) {
    return calls.exchange(replacement != nullptr ? replacement : &kSystemCalls);
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {}

OutputFile::~OutputFile() {
    if (!placed_) Remove();
}

void OutputFile::Allocate(std::size_t capacity) {
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity);
    capacity_ = capacity;
}

Outcome OutputFile::Open() {
    if (!FinalNameUsable(path_)) return Outcome::CannotCreate;
    for (int attempt = 0; attempt < kCreateAttempts && file_ == platform::kNoFile; ++attempt) {
        std::string temporary = TemporaryName(path_);
        std::error_code error;
        file_ = platform::CreateNewFile(temporary, error).Release();
        if (file_ != platform::kNoFile) {
            temporary_ = std::move(temporary);
        } else if (error != std::errc::file_exists) {
            break;  // only a leftover of an earlier process of the same id is worth a new name
        }
    }
    if (file_ == platform::kNoFile) return Outcome::CannotCreate;
    if (capacity_ != kFirstBufferSize) Allocate(kFirstBufferSize);
    used_ = 0;
    size_ = 0;
    failed_ = false;
    placed_ = false;
    return Outcome::Ok;
}

void OutputFile::WriteOut(const char* data, std::size_t length) {
    std::size_t done = 0;
    const OutputCalls& system = Calls();
    while (done < length && !failed_) {
        const std::int64_t n = system.write(file_, data + done, length - done);
        if (n <= 0) {
            failed_ = true;
        } else {
            done += static_cast<std::size_t>(n);
            size_ += static_cast<std::uint64_t>(n);
            if (counter_ != nullptr) *counter_ += static_cast<std::uint64_t>(n);
        }
    }
}

void OutputFile::Flush() {
    WriteOut(buffer_.get(), used_);
    used_ = 0;
}

char* OutputFile::ReserveSlow(std::size_t n) {
    Flush();
    if (capacity_ < n || capacity_ < kLargestBufferSize) {
        Allocate(std::max(n, std::min(2 * capacity_, kLargestBufferSize)));
    }
    return buffer_.get();
}

void OutputFile::Append(std::string_view text) {
    if (file_ == platform::kNoFile || text.empty()) return;
    if (text.size() >= std::min(capacity_, kDirectWriteSize)) {  // large blocks go straight out
        Flush();
        WriteOut(text.data(), text.size());
        return;
    }
    char* at = Reserve(text.size());
    std::memcpy(at, text.data(), text.size());
    Commit(text.size());
}

Outcome OutputFile::Close() {
    if (file_ == platform::kNoFile) return Outcome::CannotWrite;
    Flush();
    // No fsync: the rename makes a file appear whole to every reader while the system runs,
    // which is what a conversion promises. Surviving a power loss as well would cost a disk
    // flush per file (thousands for a large model) for outputs that are made again from the
    // input in a moment.
    if (!Calls().close(file_)) failed_ = true;
    file_ = platform::kNoFile;
    return failed_ ? Outcome::CannotWrite : Outcome::Ok;
}

Outcome OutputFile::PutInPlace() {
    if (file_ != platform::kNoFile || failed_ || temporary_.empty()) return Outcome::CannotWrite;
    if (Calls().rename(temporary_, path_)) {
        Remove();
        return Outcome::CannotWrite;
    }
    temporary_.clear();
    placed_ = true;
    return Outcome::Ok;
}

void OutputFile::Remove() {
    if (file_ != platform::kNoFile) {
        Calls().close(file_);
        file_ = platform::kNoFile;
    }
    if (!temporary_.empty()) {
        platform::RemoveFile(temporary_);
        temporary_.clear();
    }
    if (placed_) {
        platform::RemoveFile(path_);
        placed_ = false;
    }
}

Outcome OpenOutput(Console& console, OutputFile& file) {
    const Outcome opened = file.Open();
    file.CountInto(&console.counters.bytesWritten);
    if (opened == Outcome::Ok) return opened;
    console.Error("Can not create %s.", file.Path().c_str());
    console.RecordOutputFailure();
    return opened;
}

namespace {

void CountPlaced(Console& console, const OutputFile& file) {
    ++console.counters.filesPlaced;
    console.counters.bytesPlaced += file.Size();
}

}  // namespace

Outcome CloseOutput(Console& console, OutputFile& file) {
    Outcome closed = file.Close();
    if (closed == Outcome::Ok) closed = file.PutInPlace();
    if (closed != Outcome::Ok) {
        FailOutput(console, file);
    } else {
        CountPlaced(console, file);
    }
    return closed;
}

Outcome CloseOutputs(Console& console, OutputFile& main, OutputFile& companion) {
    const Outcome mainClosed = main.Close();
    const Outcome companionClosed = companion.Close();
    if (mainClosed == Outcome::Ok && companionClosed == Outcome::Ok &&
        companion.PutInPlace() == Outcome::Ok && main.PutInPlace() == Outcome::Ok) {
        CountPlaced(console, companion);
        CountPlaced(console, main);
        return Outcome::Ok;
    }
    FailOutput(console, main);
    FailOutput(console, companion);
    return Outcome::CannotWrite;
}

void FailOutput(Console& console, OutputFile& file) {
    file.Remove();
    console.Error("Can not write %s.", file.Path().c_str());
    console.RecordOutputFailure();
}

}  // namespace morvex

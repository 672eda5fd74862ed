#include "export/output_file.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

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

std::error_code SystemRename(std::string_view from, std::string_view to,
                             const platform::Folder* at) {
    return platform::Rename(from, to, at);
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
    const std::size_t nameStart = platform::NameStart(path);
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
bool FinalNameUsable(std::string_view path, const platform::Folder* at) {
    platform::FileStatus status;
    const std::error_code error = platform::StatusOf(path, status, platform::Links::Keep, at);
    if (!error) return status.kind != platform::FileKind::Folder;
    return error == std::errc::no_such_file_or_directory;
}

// The temporaries of the process, so that an interrupt can remove them: a name is entered before
// its file is created and left after it is renamed or removed. Once the interrupt has removed
// them it holds the lock until the process ends, so that no temporary is created after it.
class Temporaries {
  public:
    std::uint64_t Enter(const platform::Folder* at, const std::string& name) {
        const std::lock_guard<std::mutex> lock(mutex_);
        live_.emplace(++last_, Entry{at, name});
        return last_;
    }
    void Leave(std::uint64_t id) {
        if (id == 0) return;
        const std::lock_guard<std::mutex> lock(mutex_);
        live_.erase(id);
    }
    void RemoveAllForever() {
        mutex_.lock();
        for (const auto& [id, entry] : live_) platform::RemoveFile(entry.name, entry.at);
        live_.clear();
    }

  private:
    struct Entry {
        const platform::Folder* at;
        std::string name;
    };
    std::mutex mutex_;
    std::map<std::uint64_t, Entry> live_;
    std::uint64_t last_ = 0;
};

// The one list of the process: an interrupt has nobody to be handed it by.
Temporaries& LiveTemporaries() {
    static Temporaries temporaries;
    return temporaries;
}

// The process id in a temporary's name ".<name>.<process id>-<n>.morvex-tmp"; 0 for other names.
long TemporaryOwner(std::string_view name) {
    if (name.size() <= kTemporarySuffix.size() || name.front() != '.' ||
        !name.ends_with(kTemporarySuffix)) {
        return 0;
    }
    name.remove_suffix(kTemporarySuffix.size());
    const std::size_t dot = name.rfind('.');
    const std::size_t dash = name.rfind('-');
    if (dot == std::string_view::npos || dash == std::string_view::npos || dash < dot) return 0;
    long owner = 0;
    const char* first = name.data() + dot + 1;
    const char* last = name.data() + dash;
    const auto [end, error] = std::from_chars(first, last, owner);
    return error == std::errc() && end == last ? owner : 0;
}

}  // namespace

const OutputCalls* SetOutputCalls(const OutputCalls* replacement) {
    return calls.exchange(replacement != nullptr ? replacement : &kSystemCalls);
}

bool FileNameFits(std::string_view path) {
    return path.size() - platform::NameStart(path) <= kMaxFileName;
}

OutputFile::OutputFile(std::string path, const platform::Folder* folder)
    : path_(std::move(path)), at_(folder) {}

std::string_view OutputFile::Target() const {
    if (at_ == nullptr) return path_;
    return std::string_view(path_).substr(platform::NameStart(path_));
}

OutputFile::~OutputFile() {
    if (!placed_) Remove();
}

void OutputFile::Allocate(std::size_t capacity) {
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity);
    capacity_ = capacity;
}

Outcome OutputFile::Open() {
    if (!FileNameFits(path_) || !FinalNameUsable(Target(), at_)) return Outcome::CannotCreate;
    for (int attempt = 0; attempt < kCreateAttempts && file_ == platform::kNoFile; ++attempt) {
        std::string temporary = TemporaryName(Target());
        const std::uint64_t entered = LiveTemporaries().Enter(at_, temporary);
        std::error_code error;
        file_ = platform::CreateNewFile(temporary, error, at_).Release();
        if (file_ != platform::kNoFile) {
            temporary_ = std::move(temporary);
            registered_ = entered;
            break;
        }
        LiveTemporaries().Leave(entered);
        if (error != std::errc::file_exists) {
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
    if (Calls().rename(temporary_, Target(), at_)) {
        Remove();
        return Outcome::CannotWrite;
    }
    temporary_.clear();
    LiveTemporaries().Leave(registered_);
    registered_ = 0;
    placed_ = true;
    return Outcome::Ok;
}

void OutputFile::Remove() {
    if (file_ != platform::kNoFile) {
        Calls().close(file_);
        file_ = platform::kNoFile;
    }
    if (!temporary_.empty()) {
        platform::RemoveFile(temporary_, at_);
        temporary_.clear();
        LiveTemporaries().Leave(registered_);
        registered_ = 0;
    }
    if (placed_) {
        platform::RemoveFile(Target(), at_);
        placed_ = false;
    }
}

Outcome OpenOutput(Console& console, OutputFile& file) {
    const Outcome opened = file.Open();
    file.CountInto(&console.counters.bytesWritten);
    if (opened == Outcome::Ok) return opened;
    if (console.Repeat(Repeated::Output))
        console.Error("Can not create %s.", ConsoleName(file.Path()).c_str());
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
    if (console.Repeat(Repeated::Output))
        console.Error("Can not write %s.", ConsoleName(file.Path()).c_str());
    console.RecordOutputFailure();
}

void RemoveTemporariesNow() {
    LiveTemporaries().RemoveAllForever();
}

void RemoveStaleTemporaries(const platform::Folder* folder, std::string_view path) {
    std::error_code error;
    platform::Folder opened;
    if (folder == nullptr) {
        opened = platform::Folder::Open(path.empty() ? "." : path, error);
        if (error) return;
        folder = &opened;
    }
    std::vector<std::string> names;
    if (folder->ReadNames(names)) return;
    const long self = platform::ProcessId();
    for (const std::string& name : names) {
        const long owner = TemporaryOwner(name);
        if (owner != 0 && owner != self && !platform::ProcessRunning(owner)) {
            platform::RemoveFile(name, folder);
        }
    }
}

}  // namespace morvex

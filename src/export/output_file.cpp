#include "export/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace morvex {
namespace {

constexpr std::size_t kBufferSize = 1 << 20;

}  // namespace

std::string SafeName(std::string_view name) {
    std::string safe(name);
    std::replace_if(
        safe.begin(), safe.end(),
        [](char c) {
            return c == ':' || c == '/' || c == '\\' ||
                   IsControlByte(static_cast<unsigned char>(c));
        },
        '_');
    return safe;
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

Outcome OutputFile::Open() {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) return Outcome::CannotCreate;
    buffer_.resize(kBufferSize);
    used_ = 0;
    failed_ = false;
    return Outcome::Ok;
}

void OutputFile::WriteOut(const char* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length && !failed_) {
        const ssize_t n = ::write(fd_, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
}

void OutputFile::Flush() {
    WriteOut(buffer_.data(), used_);
    used_ = 0;
}

char* OutputFile::ReserveSlow(std::size_t n) {
    Flush();
    if (buffer_.size() < n) buffer_.resize(n);
    return buffer_.data() + used_;
}

void OutputFile::Append(std::string_view text) {
    if (fd_ < 0 || text.empty()) return;
    if (text.size() >= buffer_.size()) {  // large blocks go straight out
        Flush();
        WriteOut(text.data(), text.size());
        return;
    }
    char* at = Reserve(text.size());
    std::memcpy(at, text.data(), text.size());
    Commit(text.size());
}

Outcome OutputFile::Close() {
    if (fd_ < 0) return Outcome::CannotWrite;
    Flush();
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    buffer_.clear();
    buffer_.shrink_to_fit();
    return failed_ ? Outcome::CannotWrite : Outcome::Ok;
}

void OutputFile::Remove() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    ::unlink(path_.c_str());
}

Outcome OpenOutput(Console& console, OutputFile& file) {
    const Outcome opened = file.Open();
    if (opened == Outcome::Ok) return opened;
    console.Error("Can not create %s.", file.Path().c_str());
    console.RecordOutputFailure();
    return opened;
}

Outcome CloseOutput(Console& console, OutputFile& file) {
    const Outcome closed = file.Close();
    if (closed != Outcome::Ok) FailOutput(console, file);
    return closed;
}

void FailOutput(Console& console, OutputFile& file) {
    file.Remove();
    console.Error("Can not write %s.", file.Path().c_str());
    console.RecordOutputFailure();
}

}  // namespace morvex

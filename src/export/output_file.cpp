#include "export/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "convert/converter.h"

namespace morvex {
namespace {

constexpr std::size_t kBufferSize = 1 << 20;

}  // namespace

std::string SafeName(std::string_view name) {
    std::string safe(name);
    std::replace_if(
        safe.begin(), safe.end(),
        [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return c == ':' || c == '/' || c == '\\' || u < 0x20 || u == 0x7F;
        },
        '_');
    return safe;
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::Open() {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) return false;
    buffer_.resize(kBufferSize);
    used_ = 0;
    failed_ = false;
    return true;
}

void OutputFile::Flush() {
    std::size_t done = 0;
    while (done < used_ && !failed_) {
        ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
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
        std::size_t done = 0;
        while (done < text.size() && !failed_) {
            ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                failed_ = true;
            else
                done += static_cast<std::size_t>(n);
        }
        return;
    }
    char* at = Reserve(text.size());
    std::memcpy(at, text.data(), text.size());
    Commit(text.size());
}

bool OutputFile::Close() {
    if (fd_ < 0) return false;
    Flush();
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    buffer_.clear();
    buffer_.shrink_to_fit();
    return !failed_;
}

void OutputFile::Remove() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    ::unlink(path_.c_str());
}

bool OpenOutput(Converter& converter, OutputFile& file) {
    if (file.Open()) return true;
    converter.Print("Error : Can not create %s.\n", file.Path().c_str());
    converter.RecordOutputFailure();
    return false;
}

bool CloseOutput(Converter& converter, OutputFile& file) {
    if (file.Close()) return true;
    file.Remove();
    converter.Print("Error : Can not write %s.\n", file.Path().c_str());
    converter.RecordOutputFailure();
    return false;
}

}  // namespace morvex

// Output files: safe names, buffered writing with every write and the close checked, and the
// console lines for files that cannot be created or written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "it3/byte_reader.h"
#include "it3/console.h"
#include "it3/result.h"

namespace morvex {

// A name taken from the model made safe for a file name: every ':', '/' and '\' becomes '_', and
// so does every control byte: a line break or an escape sequence in a file name would break the
// one-line "-> path" message and the scripts that read file lists.
std::string SafeName(std::string_view name);

// A file written through a large buffer: one open, few writes, one close.
class OutputFile {
  public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates the file: Ok or CannotCreate.
    [[nodiscard]] Outcome Open();
    void Append(std::string_view text);
    void Append(Bytes bytes) {
        Append(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    // Room for `n` more bytes at the end of the buffer; Commit(n) keeps what was written there.
    char* Reserve(std::size_t n) {
        return buffer_.size() - used_ >= n ? buffer_.data() + used_ : ReserveSlow(n);
    }
    void Commit(std::size_t n) { used_ += n; }
    // Flushes and closes: Ok, or CannotWrite when any write or the close failed.
    [[nodiscard]] Outcome Close();
    // Deletes the file (after a failure).
    void Remove();
    const std::string& Path() const { return path_; }

  private:
    void Flush();
    // Writes `length` bytes at `data` to the file unless a write failed before.
    void WriteOut(const char* data, std::size_t length);
    char* ReserveSlow(std::size_t n);

    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// Open and close with the console lines of failures: "Error : Can not create <path>." when the
// file cannot be created, "Error : Can not write <path>." (and the partial file removed) when a
// write or the close fails. Both record the failure for the exit status; a caller that goes on
// with the next file whatever happened need not look at CloseOutput's result.
[[nodiscard]] Outcome OpenOutput(Console& console, OutputFile& file);
Outcome CloseOutput(Console& console, OutputFile& file);
// A file that cannot be completed: removed, "Error : Can not write <path>." printed and the
// failure recorded.
void FailOutput(Console& console, OutputFile& file);

}  // namespace morvex

// Output files: safe names, buffered writing with every write and the close checked, and the
// console lines for files that cannot be created or written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "it3/byte_reader.h"

namespace morvex {

class Converter;

// A name taken from the model made safe for a file name: every ':', '/' and '\' becomes '_', and
// so does every control byte (0x01 to 0x1F, 0x7F): a line break or an escape sequence in a file
// name would break the one-line "-> path" message and the scripts that read file lists.
std::string SafeName(std::string_view name);

// A file written through a large buffer: one open, few writes, one close.
class OutputFile {
  public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates the file; false when it cannot be created.
    bool Open();
    void Append(std::string_view text);
    void Append(Bytes bytes) {
        Append(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    // Room for `n` more bytes at the end of the buffer; Commit(n) keeps what was written there.
    char* Reserve(std::size_t n) {
        return buffer_.size() - used_ >= n ? buffer_.data() + used_ : ReserveSlow(n);
    }
    void Commit(std::size_t n) { used_ += n; }
    // Flushes and closes; false when any write or the close failed.
    bool Close();
    // Deletes the file (after a failure).
    void Remove();
    const std::string& Path() const { return path_; }

  private:
    void Flush();
    char* ReserveSlow(std::size_t n);

    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// Open and close with the console lines of failures: "Error : Can not create %s.\n" when the
// file cannot be created, "Error : Can not write %s.\n" (and the partial file removed) when a
// write or the close fails. Both record the failure for the exit status.
bool OpenOutput(Converter& converter, OutputFile& file);
bool CloseOutput(Converter& converter, OutputFile& file);

}  // namespace morvex

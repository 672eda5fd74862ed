// The console of one conversion: the lines a user and the scripts reading our output see.
//
// Every message goes through a Console: "-> <path>" for each file written, "Warning : ..." for
// unknown or broken blocks, "Error : ..." for inputs and outputs that fail. A Console either
// writes each line to a stream as it comes (the command line) or keeps the lines in memory
// (tests, and runs whose lines are printed together later). It also records whether an output
// file failed, which decides the exit status.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// printf-style checking of format strings; on MinGW against the C99 printf the build uses
// (__USE_MINGW_ANSI_STDIO), not the system's older one.
#ifdef __MINGW_PRINTF_FORMAT
#define MORVEX_PRINTF_FORMAT(string, first) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, string, first)))
#else
#define MORVEX_PRINTF_FORMAT(string, first) __attribute__((format(printf, string, first)))
#endif

namespace morvex {

// What a conversion did, counted as it goes: tests and benchmarks assert the work and output
// bounds through these instead of the clock.
struct WorkCounters {
    std::uint64_t bytesWritten = 0;     // bytes handed to output files (kept or dropped)
    std::uint64_t texturesDecoded = 0;  // pictures decoded from TEXI blocks
    std::uint64_t pictureBytes = 0;     // pixel-row bytes of those pictures
    std::uint64_t imagesEncoded = 0;    // glTF images (PNG) encoded
    std::uint64_t imagePixels = 0;      // pixels of those images
};

class Console {
  public:
    // Lines go to `out` as they are printed.
    explicit Console(std::FILE* out = stdout) : out_(out) {}
    // Lines are kept in memory: see Captured().
    static Console Capturing() { return Console(nullptr); }

    // printf-style text, as it is; the message functions below add the line's prefix.
    void Print(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3);
    // "-> <path>\n": a file was written.
    void Written(std::string_view path);
    // "Warning : <text>\n".
    void Warning(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3);
    // "Error : <text>\n".
    void Error(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3);

    // An output file could not be created or written.
    void RecordOutputFailure() { outputFailed_ = true; }
    bool OutputFailed() const { return outputFailed_; }
    void ClearOutputFailure() { outputFailed_ = false; }

    // The work of the conversion so far; Converter::Convert starts it at zero.
    WorkCounters counters;

    // Everything printed so far by a capturing console (empty for a streaming one).
    const std::string& Captured() const { return captured_; }
    // Hands the stream what was printed (no effect on a capturing console).
    void Flush();

  private:
    void Append(const char* prefix, const char* format, std::va_list args);

    std::FILE* out_;
    std::string captured_;
    bool outputFailed_ = false;
};

// True for the control bytes (below 0x20, and 0x7F): bytes that would break a message or a file
// name into lines or steer a terminal.
constexpr bool IsControlByte(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// Writes `text` (UTF-8, or a model's bytes) to `stream`: on a Windows console as characters,
// elsewhere byte for byte.
void WriteText(std::FILE* stream, std::string_view text);

// A name taken from the model as messages show it: every control byte becomes '?', so that a
// message is always one line.
std::string ConsoleName(std::string_view name);

}  // namespace morvex

// The console of one conversion: the lines a user and the scripts reading our output see.
//
// Every message goes through a Console: "-> <path>" for each file written, "Warning : ..." for
// unknown or broken blocks, "Error : ..." for inputs and outputs that fail. A Console either
// writes each line to a stream as it comes (the command line) or keeps the lines in memory
// (tests, and runs whose lines are printed together later). The warnings and errors may go to a
// stream (or a memory) of their own, apart from the "-> " lines. It also records whether an
// output file failed, which decides the exit status, and counts the warnings, the damage (parts
// of the model left out) and the errors, keeping the first of each kind as its reason.
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
    std::uint64_t filesPlaced = 0;      // output files complete under their final names
    std::uint64_t bytesPlaced = 0;      // the bytes of those files
    std::uint64_t texturesDecoded = 0;  // pictures decoded from TEXI blocks
    std::uint64_t pictureBytes = 0;     // pixel-row bytes of those pictures
    std::uint64_t imagesEncoded = 0;    // glTF images (PNG) encoded
    std::uint64_t imagePixels = 0;      // pixels of those images
};

// What a conversion reported, by kind: a model whose parts were left out (a broken block, a
// texture that does not convert, skipped meshes) is converted with damage.
struct MessageCounts {
    std::uint64_t warnings = 0;  // every warning, damage included
    std::uint64_t damage = 0;    // the warnings that say part of the model was left out
    std::uint64_t errors = 0;
    std::string firstDamage;  // the text of the first of each, without its prefix
    std::string firstError;
};

class Console {
  public:
    // Lines go to `out` as they are printed; warnings and errors go to `messages` (null: `out`).
    explicit Console(std::FILE* out = stdout, std::FILE* messages = nullptr)
        : out_(out), messagesOut_(messages != nullptr ? messages : out) {}
    // Lines are kept in memory: see Captured(). `apart`: warnings and errors are kept apart from
    // the "-> " lines, in CapturedMessages().
    static Console Capturing(bool apart = false) {
        Console console(nullptr);
        console.apart_ = apart;
        return console;
    }
    // Quiet: "-> " lines and warnings are not printed (they are still counted); errors are.
    void SetQuiet(bool quiet) { quiet_ = quiet; }

    // "-> <path>\n": a file was written.
    void Written(std::string_view path);
    // "Warning : <text>\n".
    void Warning(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3);
    // A warning that part of the model was left out of the outputs.
    void Damage(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3);
    // "Error : <text>\n".
    void Error(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3);

    // An output file could not be created or written.
    void RecordOutputFailure() { outputFailed_ = true; }
    bool OutputFailed() const { return outputFailed_; }
    void ClearOutputFailure() { outputFailed_ = false; }

    // The work of the conversion so far; Converter::Convert starts it at zero.
    WorkCounters counters;
    // The messages of the conversion so far; Converter::Convert starts them at zero.
    MessageCounts messages;

    // Everything printed so far by a capturing console (empty for a streaming one).
    const std::string& Captured() const { return captured_; }
    // The warnings and errors of a console that keeps them apart.
    const std::string& CapturedMessages() const { return apart_ ? capturedMessages_ : captured_; }
    // Hands the stream what was printed (no effect on a capturing console).
    void Flush();

  private:
    // A message line: counted, printed unless quiet (`always`: errors), and its text kept in
    // `first` when that is still empty.
    void Message(const char* prefix, std::string* first, bool always, const char* format,
                 std::va_list args);

    std::FILE* out_;
    std::FILE* messagesOut_;
    std::string captured_;
    std::string capturedMessages_;
    bool apart_ = false;
    bool quiet_ = false;
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

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

#include <array>
#include <cstdarg>
#include <cstddef>
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
    std::uint64_t linesPrinted = 0;     // console lines printed, and their bytes
    std::uint64_t bytesPrinted = 0;
};

// What a conversion reported, by kind: a model whose parts were left out (a broken block, a
// texture that does not convert, skipped meshes) is converted with damage.
struct MessageCounts {
    std::uint64_t warnings = 0;  // every warning, damage included
    std::uint64_t damage = 0;    // the warnings that say part of the model was left out
    std::uint64_t errors = 0;
    std::string firstDamage;  // the text of the first of each, without its prefix
    std::string firstError;
    std::string firstWarning;  // damage or not

    // Why a conversion that failed failed: its first error, else its first warning (an input
    // skipped with a warning, such as one that is no regular file); empty when it said nothing.
    const std::string& Reason() const { return firstError.empty() ? firstWarning : firstError; }
};

// Messages that can come once per part of a file: an unknown block, a texture, an object, a
// mesh, a glTF image, an output file. Of each kind the first kRepeatLimit lines of a conversion
// are printed; the others are only counted, and summarised in one line at the end.
enum class Repeated : std::uint8_t { UnknownBlock, Texture, Object, Mesh, Image, Output };
inline constexpr std::size_t kRepeatedKinds = 6;
inline constexpr std::uint64_t kRepeatLimit = 20;

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

    // "-> <path>\n": a file was written. The path is shown as ConsoleName shows it.
    void Written(std::string_view path);
    // "Warning : <text>\n".
    void Warning(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3);
    // A warning that part of the model was left out of the outputs.
    void Damage(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3);
    // "Error : <text>\n".
    void Error(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3);

    // Counts one message of `kind`: true while it is among the first kRepeatLimit of its kind,
    // when the caller prints it; false for the others, which are counted in `messages` as the
    // warnings (damage but for unknown blocks) or errors they stand for, and which
    // SummariseRepeats reports.
    bool Repeat(Repeated kind);
    // The messages of `kind` counted beyond the limit.
    std::uint64_t Beyond(Repeated kind) const {
        const std::uint64_t n = repeats_[static_cast<std::size_t>(kind)];
        return n > kRepeatLimit ? n - kRepeatLimit : 0;
    }
    // One line for each kind (but unknown blocks, which the scan summarises with their tags)
    // with messages beyond the limit: "Warning : <n> more textures can not be converted." and
    // the like; the counts start again.
    void SummariseRepeats();
    // The line that summarises the messages of `kind` beyond the limit ("Error : " for output
    // files, else "Warning : "); not counted again in `messages`.
    void More(Repeated kind, const char* format, ...) MORVEX_PRINTF_FORMAT(3, 4);
    void ClearRepeats() { repeats_ = {}; }

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
    std::array<std::uint64_t, kRepeatedKinds> repeats_{};
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

// A name or a path as console lines show it: every control byte becomes '?', and so does a C1
// control in its UTF-8 form (C2 80 to C2 9F), so that a line is always one line and never steers
// a terminal. Every name and path in a console line goes through it.
std::string ConsoleName(std::string_view name);

}  // namespace morvex

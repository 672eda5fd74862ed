// Names taken from a model (objects, materials, textures) and how they are written.
//
// A name is a byte string. Most were written in code page 932 (the Japanese Windows code page),
// some in UTF-8, a few are broken. Wherever text must be Unicode (glTF documents, the JSON
// report, file names on Windows, every name with --utf8-names) a name is decoded here, and only
// here: kept when it is valid UTF-8, else read as code page 932.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace morvex {

// True when `text` is well-formed UTF-8 (shortest forms, no surrogates, nothing past U+10FFFF).
bool IsUtf8(std::string_view text);

// The number of bytes of the code page 932 character that starts `text` (not empty): 2 for a
// lead byte followed by a byte that can trail it, else 1.
std::size_t Cp932Length(std::string_view text);

// What becomes of a byte that neither UTF-8 nor code page 932 can read.
enum class Undecodable : std::uint8_t {
    Replace,  // U+FFFD, for text
    Escape,   // "%XX" (upper-case hex), for file names: visible, and the same on every system
};

// `name` as UTF-8: itself when it is valid UTF-8, else decoded from code page 932 (with the
// table Windows has: the same result on every system). A double-byte code without a character
// is undecodable as a whole (two replacements or escapes), as is a lone byte.
std::string DecodeName(std::string_view name, Undecodable undecodable);

// How names are written in one form (file names, or names inside text files).
struct NameForm {
    bool decode = false;   // UTF-8 (DecodeName), not the bytes as the model has them
    bool windows = false;  // Windows' own file name rules on top (see SafeName)
};

// The forms of a conversion. By default file names are the model's bytes on POSIX systems and
// decoded on Windows (which names files in UTF-16); names inside MTL, MQO and OBJ files are the
// bytes. --utf8-names decodes both. On Windows a name in a text file that names a file (an
// mtllib or map_Kd line, an MQO tex) follows the Windows rules too, so that it names that file.
struct NameRules {
    NameForm files{platform::kWindows, platform::kWindows};
    NameForm text{false, platform::kWindows};

    static NameRules Utf8Names() {
        return {{true, platform::kWindows}, {true, platform::kWindows}};
    }
};

// A name made safe for a file name in `form`. Every ':', '/' and '\' character and every control
// byte becomes '_' (a line break in a file name would break the one-line "-> path" message). The
// rules apply to characters: the second byte of a code page 932 character is never replaced
// (0x5C there is part of a kanji such as 表, not a backslash). With the Windows rules the
// characters * ? " < > | become '_' as well, trailing dots and blanks become '_', and a name
// that is a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case, with or without an
// extension) gets a '_' in front.
std::string SafeName(std::string_view name, NameForm form = {});

// A name made safe for a folder of its own (a model's output folder): SafeName,
// and never empty, ".", ".." or any other name a path resolves to a different folder: an empty
// name becomes "_", trailing dots and blanks (which Windows drops) each become '_' ("..." is
// "___"), and a device name of Windows (CON, NUL, COM1, ... before any dot, in any case) gets a
// '_' in front. The same on every system, so a tree converted anywhere can be copied anywhere.
std::string SafeComponent(std::string_view name);

// True when the part of a file name before its first dot, without trailing blanks, is a device
// name on Windows (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9, LPT1-9, in any case).
bool IsDeviceName(std::string_view name);

// A name for a text file: decoded when `form` says so, else as it is.
std::string TextName(std::string_view name, NameForm form);

}  // namespace morvex

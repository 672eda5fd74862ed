// The outcome of an operation that can fail, shared by every stage.
//
// Operations that can fail return an Outcome and are marked [[nodiscard]]; the caller decides
// what the user sees. The operations named by the file format's class tree keep their int
// results (0 for success), as their callers expect.
#pragma once

#include <string_view>

namespace morvex {

enum class Outcome {
    Ok,
    Unsupported,   // a stored form this tool does not convert (a texture format code)
    Broken,        // sizes or data that do not fit
    NoMemory,      // memory for the result could not be obtained
    TooLarge,      // the result cannot be represented (a glb beyond 4 GiB)
    CannotOpen,    // an input that cannot be opened
    NotIt3,        // an input that does not start with an INFO block
    CannotLoad,    // an input that cannot be read whole into memory
    CannotCreate,  // an output file that cannot be created
    CannotWrite,   // an output file whose write or close failed
};

// A short lower-case name for messages and reports ("ok", "broken", "no memory", ...).
[[nodiscard]] std::string_view OutcomeName(Outcome outcome);

}  // namespace morvex

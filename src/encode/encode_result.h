// The result of an encoder: the block payload was produced, or why it was not.
#pragma once

#include <string>
#include <utility>

#include "it3/result.h"

namespace morvex {

// Ok, or a refusal: nothing was written to the output, and `message` says why in one line
// without the "Error : " in front, naming the object, mesh, material or texture and the limit,
// for example
//   object "crate", mesh 2: 70000 vertices; a VPA5 mesh holds at most 65535
// The outcomes used: TooLarge (a limit of the format: more vertices than 16-bit indices reach,
// a name longer than its field, a picture larger than its header holds, a payload beyond 2 GiB),
// Broken (input that contradicts itself: a vertex buffer that is not whole vertices, a triangle
// that names a vertex the mesh does not have, an original payload that cannot be read),
// Unsupported (a tag or texture format code without an encoder) and NoMemory.
struct EncodeResult {
    Outcome outcome = Outcome::Ok;
    std::string message;

    bool Ok() const { return outcome == Outcome::Ok; }
    static EncodeResult Fail(Outcome outcome, std::string message) {
        return EncodeResult{outcome, std::move(message)};
    }
};

}  // namespace morvex

// What one conversion is asked to do.
#pragma once

#include "it3/limits.h"

namespace morvex {

// The output mode; the driver looks at its low three bits.
enum class OutputMode : int { Obj = 0, Mqo = 1, Gltf = 2, Check = 3 };

// Everything a conversion is given besides its input and destination.
struct ConvertOptions {
    OutputMode mode = OutputMode::Obj;
    Limits limits;  // the command line keeps the defaults
};

}  // namespace morvex

// What one conversion is asked to do.
#pragma once

namespace morvex {

// The output mode; the driver looks at its low three bits.
enum class OutputMode : int { Obj = 0, Mqo = 1, Gltf = 2, Check = 3 };

}  // namespace morvex

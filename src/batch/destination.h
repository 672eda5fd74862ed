// The destination folder of a run.
#pragma once

#include <string_view>

#include "it3/console.h"
#include "it3/result.h"

namespace morvex {

// Makes sure the folder `destPath` (empty: the current folder, which always exists) is there,
// creating it and its parents when it is missing. When it cannot be created, or something that
// is not a folder has its name, prints "Error : Can not create folder <path>: <reason>." and
// returns CannotCreate (the failure is not recorded as an output failure: nothing was written).
[[nodiscard]] Outcome PrepareDestination(std::string_view destPath, Console& console);

}  // namespace morvex

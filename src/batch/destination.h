// The destination folder of a run.
#pragma once

#include <string>
#include <string_view>

#include "it3/console.h"
#include "it3/result.h"
#include "platform/platform.h"

namespace morvex {

// Makes sure the folder `destPath` (empty: the current folder, which always exists) is there,
// creating it and its parents when it is missing. When it cannot be created, or something that
// is not a folder has its name, prints "Error : Can not create folder <path>: <reason>." and
// returns CannotCreate (the failure is not recorded as an output failure: nothing was written).
[[nodiscard]] Outcome PrepareDestination(std::string_view destPath, Console& console);

// PrepareDestination, then opens the destination into `dest` (the current folder for an empty
// path), through which the outputs are made, and removes the temporaries that ended runs left
// in it. A folder that cannot be opened prints "Error : Can not open folder <path>: <reason>."
// and gives CannotCreate.
[[nodiscard]] Outcome OpenDestination(std::string_view destPath, platform::Folder& dest,
                                      Console& console);

// A folder of the outputs below the destination, open.
struct OutputFolder {
    platform::Folder folder;
    platform::Folder parent;  // the folder that holds it (closed when it is the destination)
    std::string name;         // its name in `parent`
    bool created = false;     // it did not exist before
};

// Opens the folder `relative` (names separated by '/', on Windows '\\' too; none of them "." or
// "..") below the open destination folder `dest` whose path is `destPath` (empty or ending in a
// separator), creating what is missing. Every name is opened or created relative to the folder
// before it and never through a link: a link (or anything but a folder) in the way is not
// followed, and the model's outputs are refused with "Error : Can not create folder <path>:
// <path of the link> is a link, not followed." (or the system's reason), printed on `console`.
// An empty `relative` opens `dest` again.
[[nodiscard]] Outcome OpenOutputFolder(const platform::Folder& dest, std::string_view destPath,
                                       std::string_view relative, OutputFolder& out,
                                       Console& console);

}  // namespace morvex

// The models of a run: the files given and the .it3 files found below the folders given, each
// with the destination its outputs go to.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/options.h"

namespace morvex {

struct PlannedModel {
    std::string path;      // the input path: as given, or a folder given joined with the way down
    std::string destPath;  // the Converter's destination: empty or ending in '/'
    std::string folder;    // a folder to create before converting (empty: none)
    std::string conflict;  // set when its outputs would land on an earlier model's: that path
};

// An input, or an entry below a folder, that gives no model: its path and why.
struct FailedInput {
    std::string path;
    std::string reason;
};

struct ModelList {
    std::vector<PlannedModel> models;
    // Lines about the search, in the order found: "Error : Can not read <path>: <reason>." for
    // entries that cannot be read, "Error : No .it3 file below <folder>." for a folder given
    // that holds none, "Warning : ..." for links not followed and other files skipped.
    std::vector<std::string> messages;
    std::vector<FailedInput> failed;  // the inputs behind the Error lines
};

// True when `name` ends in ".it3" in any case.
bool HasIt3Extension(std::string_view name);

// Lists the models of `inputs`. A folder is searched recursively: its entries in byte order of
// their names, links followed, every regular file whose name ends in ".it3" (in any case) taken.
// A folder reached a second time (a link loop, or two links to one folder) is not searched
// again; a folder given that holds no model is a failed input. Any other input is a model,
// whatever its name.
//
// Destinations: with `byName` false (one input, no --out) the tree below a folder is mirrored
// into `destPath`; with `byName` true every input goes below `destPath` under its own name (a
// file, or a folder and its tree). A model's outputs go into a folder named after its file
// without the extension (OBJ, MQO) or, for -g, into the mirrored folder itself, where the .glb
// is named after the model. Check mode writes nothing and gets no folders.
ModelList ListModels(const std::vector<std::string>& inputs, std::string_view destPath, bool byName,
                     OutputMode mode);

}  // namespace morvex

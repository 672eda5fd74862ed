// What one conversion is asked to do.
#pragma once

#include <functional>
#include <string>

#include "export/texture_export.h"
#include "it3/console.h"
#include "it3/limits.h"
#include "it3/result.h"
#include "platform/platform.h"

namespace morvex {

// The output mode; the driver looks at its low three bits.
enum class OutputMode : int { Obj = 0, Mqo = 1, Gltf = 2, Check = 3 };

// Everything a conversion is given besides its input, destination and mode. A plain struct:
// each stage reads the fields it needs.
struct ConvertOptions {
    // Threads for the work of a run (--jobs): 0 uses every core, 1 runs strictly in the calling
    // thread without a scheduler. Models of a folder are converted this many at a time.
    int jobs = 0;
    Limits limits;  // the command line keeps the defaults
    // Check mode reads only the block headers of the file, whose payloads then read as zeros in
    // the converter's model: for a check whose model nobody looks at afterwards (the command
    // line's -c). Other modes read the whole file.
    bool checkHeadersOnly = false;
    // --utf8-names: every name from the model is written as UTF-8 (decoded from code page 932
    // when it is not UTF-8), in file names and inside text files alike.
    bool utf8Names = false;
    // The files of the textures beside OBJ + MTL and MQO documents (--textures).
    TextureFormat textures = TextureFormat::Bmp;
    // -g: the path of the .glb instead of the destination and the input's base name.
    std::string outputFile;
    // Called once the input is loaded and indexed, before anything is written (not in check
    // mode): makes the destination exist, and may open `outputFolder`. Not Ok: nothing is written
    // and Convert returns -1. So an input that cannot be converted leaves no destination folder
    // behind.
    std::function<Outcome(Console&)> prepareDestination;
    // The destination folder, once open (by the caller, or by prepareDestination): the outputs
    // are then created, renamed and removed relative to it, so that no link put in place of a
    // folder of the destination's path is followed (see OutputFile). Not owned; it outlives the
    // conversion. Not open when the conversion starts writing: the outputs go by their paths.
    const platform::Folder* outputFolder = nullptr;
};

}  // namespace morvex

// How much work one conversion may do: the refusal thresholds of the decoders and writers.
//
// The defaults are the format's own bounds (the largest picture a texture header can ask for)
// and no limit on object or mesh counts: what the command line uses. Callers that need cheaper
// runs (the fuzz targets, services converting untrusted files) set smaller values; every limit
// refuses the same way a broken part of the file does, with the usual console line.
#pragma once

#include <cstdint>
#include <limits>

namespace morvex {

struct Limits {
    static constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();

    // A picture wider or higher than this is refused ("can not convert texture").
    std::int64_t pictureSide = 16384;
    // A picture whose pixel rows (stride × height) exceed this many bytes is refused.
    std::int64_t pictureBytes = std::int64_t{256} << 20;
    // Objects written per conversion: the objects behind the first `objects` that would be
    // written are skipped with one warning.
    std::int64_t objects = kNone;
    // Meshes written per object: meshes from number `meshes` on are skipped with one warning.
    std::int64_t meshes = kNone;
    // A mesh of more vertices or more triangles than this is skipped with a warning.
    std::int64_t meshSize = kNone;
    // glTF: the pixels the images of one file may hold beyond twice the pixels of the pictures
    // they are made from (src/export/gltf_textures.h).
    std::int64_t imagePixels = std::int64_t{1} << 24;
};

}  // namespace morvex

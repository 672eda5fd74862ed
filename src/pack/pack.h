// The pack (--pack ORIGINAL.it3 EDITED.glb NEW.it3): an it3 file made from the original and an
// edited copy of our glTF output of it.
//
// NEW holds the original's blocks in their order. A block that the edit did not change is copied
// byte for byte (blocks this tool does not read included); an object whose triangles, vertices
// or mesh materials changed gets its vertex block encoded again in its own tag, one whose
// Material records changed its material block, and a texture whose pixels changed is encoded
// again in its own format code (pack/encoders.h). What counts as a change is decided by what the
// data means, within the tolerances of pack/mesh_match.h, not by how the glb lays it out, so a
// model that comes back unedited gives NEW equal to ORIGINAL byte for byte.
//
// Objects the glb has no node of are left as they are (an editor may export a selection).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "it3/console.h"
#include "it3/model.h"
#include "pack/glb_reader.h"
#include "pack/mesh_match.h"

namespace morvex {

struct PackRequest {
    std::string originalPath, editedPath, newPath;
    bool force = false;  // NEW may be ORIGINAL
    Limits limits;
    GlbLimits glbLimits;
};

// Reads both inputs, packs, and writes NEW atomically (complete or absent). Every problem is
// printed through `console`: "Error : Can not open <path>.", the glb's faults, the limits of the
// format naming the object and mesh or material, "Error : <NEW> is the original file; add --force
// to replace it.". Returns Ok when NEW was written.
[[nodiscard]] Outcome PackModel(const PackRequest& request, Console& console);

// The in-memory core: the bytes of NEW from a loaded and scanned original and the glb's bytes
// (a glb that does not read prints "Error : <glbName> is not a glTF file that can be read: ...").
[[nodiscard]] Outcome PackBytes(const Model& original, Bytes glb, std::string_view glbName,
                                Console& console, std::vector<std::uint8_t>& packed,
                                const GlbLimits& glbLimits = {},
                                const MatchTolerances& tolerances = {});

}  // namespace morvex

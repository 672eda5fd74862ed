// The walk that the model writers share: every object (an INFO block and the blocks behind it up
// to the next INFO) that holds a material block and a vertex block, with both decoders chosen,
// bound to their blocks, and the material table decoded.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "convert/converter.h"
#include "decode/material_block.h"
#include "decode/vertex_block.h"

namespace morvex {

struct ModelObject {
    int infoPosition;
    std::string_view name;  // the object name as stored
    MaterialBlock& materials;
    VertexBlock& vertices;
};

// Calls `write` for each object in file order. Objects without a material or a vertex block, or
// whose material table does not decode, are skipped. The material table is released after
// `write` returns.
void WalkObjects(Converter& converter, const std::function<void(ModelObject&)>& write);

// "<dest_path><baseName>_<NN>_<object name>" with the model's parts made safe for a file name.
std::string ObjectFileStem(std::string_view destPath, std::string_view baseName, int number,
                           std::string_view objectName);

// The power value of the text outputs: the float truncated toward zero to a 32-bit integer, then
// its absolute value (NaN counts as 0; values beyond the 32-bit range saturate).
double PowerValue(float power);

// The result of DecodeMesh.
enum class MeshDecode {
    Ok,          // mesh i is current
    Skipped,     // mesh i was skipped; the meshes behind it may decode
    RestSkipped  // mesh i and every mesh behind it were skipped
};

// Makes mesh i of the object current for writing and stores its Material index in
// `materialIndex`. A mesh that does not decode, or whose faces name vertices it does not have, is
// skipped with a warning naming the object and the mesh. When no mesh from i on can decode (the
// block is broken or its tables end before mesh i), one warning names them all, "meshes i to
// n - 1", and the writer stops there: a count of 2^31 meshes costs no more than one.
MeshDecode DecodeMesh(Converter& converter, ModelObject& object, std::int32_t i,
                      std::int32_t& materialIndex);

}  // namespace morvex

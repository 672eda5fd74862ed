// The walk that the model writers share: every object (an INFO block and the blocks behind it up
// to the next INFO) that holds a material block and a vertex block, with both decoders chosen,
// bound to their blocks, and the material table decoded; and the meshes of such an object.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "decode/material_block.h"
#include "decode/vertex_block.h"
#include "it3/console.h"
#include "it3/model.h"

namespace morvex {

struct ModelObject {
    int infoPosition;
    std::size_t index;      // the object's place in FindObjects' list
    std::string_view name;  // the object name as stored
    MaterialBlock& materials;
    VertexBlock& vertices;
    std::int64_t meshLimit = Limits::kNone;      // the model's Limits::meshes
    std::int64_t meshSizeLimit = Limits::kNone;  // and its Limits::meshSize
};

// Calls `write` for each object in file order, until it returns false. Objects that do not
// convert (FindObjects, src/decode/decoder_factory.h) are passed over; one whose material table
// does not decode is skipped with "Warning : object <name> skipped: broken material block.". The
// material table is released after `write` returns. Once Limits::objects objects have been written,
// the walk ends with "Warning : object <name> and the objects behind it skipped: more than <n>
// objects.".
void WalkObjects(const Model& model, Console& console,
                 const std::function<bool(ModelObject&)>& write);

// Calls `visit` with each record of the material tables of the objects that convert, in file
// order; a table that does not decode is passed over (silently: the walks above report it).
void ForEachMaterial(const Model& model,
                     const std::function<void(const MaterialBlock&, std::int32_t)>& visit);

// Makes mesh i of the object current for writing and stores its Material index in
// `materialIndex`. A mesh that does not decode, whose faces name vertices it does not have, or
// that holds more vertices or triangles than the object's mesh size limit, is skipped with a
// warning naming the object and the mesh; the result is then false.
[[nodiscard]] bool DecodeMesh(Console& console, ModelObject& object, std::int32_t i,
                              std::int32_t& materialIndex);

// The meshes of an object that decode, one after another, each made current in the object's vertex
// block. A mesh that does not decode is skipped with DecodeMesh's warning. The meshes behind the
// last one the vertex block locates are skipped with one warning for all of them ("meshes F to
// L", printed when Next reaches them), as are those beyond the object's mesh limit, and a negative
// mesh count with one warning (printed at construction), so a count taken from the file never
// costs more than the data holds.
class MeshCursor {
  public:
    MeshCursor(Console& console, ModelObject& object);
    // Makes the next mesh that decodes current and gives its number and Material index; false
    // when there is none left.
    [[nodiscard]] bool Next(std::int32_t& mesh, std::int32_t& materialIndex);

  private:
    Console& console_;
    ModelObject& object_;
    std::int32_t count_ = 0;    // the mesh count of the block
    std::int32_t located_ = 0;  // the meshes its tables locate
    std::int32_t allowed_ = 0;  // of those, the ones the mesh limit lets through
    std::int32_t next_ = 0;
    bool done_ = false;
};

// Calls `write` for each mesh of the object that decodes, in order, until it returns false, with
// the mesh current in object.vertices (released after `write` returns) and its Material index. A
// mesh that does not decode is skipped with DecodeMesh's warning. The meshes behind the last one
// the vertex block locates are skipped with one warning for all of them ("meshes F to L"), and a
// negative mesh count with one warning, so a count taken from the file never costs more than the
// data holds. Meshes from number Limits::meshes on are skipped with one warning as well ("object
// <name> meshes F to L skipped: more than <n> meshes.").
void WalkMeshes(Console& console, ModelObject& object,
                const std::function<bool(std::int32_t mesh, std::int32_t materialIndex)>& write);

// "<dest_path><baseName>_<NN>_<object name>" with the model's parts made safe for a file name
// in `form` (the model's NameRules: `files` for the file, `text` for a line that names it).
std::string ObjectFileStem(std::string_view destPath, std::string_view baseName, int number,
                           std::string_view objectName, NameForm form);

// The power value of the text outputs: the float truncated toward zero to a 32-bit integer, then
// its absolute value (NaN counts as 0; values beyond the 32-bit range saturate).
double PowerValue(float power);

// The axis change of every output: (x, y, z) becomes (x, z, -y), so that the format's z-up
// models stand upright in the y-up worlds of OBJ, MQO and glTF readers.
constexpr std::array<float, 3> Upright(const std::array<float, 3>& v) {
    return {v[0], v[2], -v[1]};
}

// A normal as glTF requires it: scaled to length 1; one of length 0 (or not finite) has no
// direction and becomes (0, 1, 0), up.
std::array<float, 3> UnitNormal(const std::array<float, 3>& v);

}  // namespace morvex

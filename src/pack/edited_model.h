// What an edited glb says about the objects of the it3 model it was made from: per object, its
// triangles with their vertices in the model's own coordinates, and the materials it uses.
//
// A glb node belongs to the object its "extras" name ({"it3": {"object": <INFO position>}} on
// the node or its mesh, as our glTF writer puts them there), else to the object of its name (a
// ".001"-style suffix, which editors add to names already taken, is allowed). A glb material
// belongs to a Material record by its extras ({"object", "material"}), else by its name among
// the object's records. Nodes of no object are left out with a warning.
//
// Geometry is brought back into the model's space: every node's transform to the scene is
// applied, then the inverse of the writers' axis change ((x, y, z) -> (x, -z, y)), and each
// triangle's corners are put back into the stored order (the writer wrote first, third,
// second). An identity transform is not multiplied, so positions come back bit for bit.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "it3/console.h"
#include "it3/model.h"
#include "pack/glb_reader.h"

namespace morvex {

struct EditedVertex {
    // As the glb's mesh holds it (in the model's axes, before its node's transform): what it is
    // matched to the original vertices by.
    std::array<float, 3> position{};
    std::array<float, 3> normal{};  // unit length; zero when the primitive has none
    std::array<float, 2> texCoord{};
    // Where its node's transform puts it: what is written.
    std::array<float, 3> placed{};
    std::array<float, 3> placedNormal{};
    bool hasNormal = false;
    bool hasTexCoord = false;
};

struct EditedTriangle {
    std::array<std::uint32_t, 3> corners{};  // into EditedObject::vertices, in stored order
    std::int32_t material = 0;               // the Material record
    std::int32_t mesh = -1;                  // the it3 mesh, when the glb says so for certain
};

// A glb material as one of the object's Material records sees it.
struct EditedMaterial {
    std::string name;
    double roughness = 1.0;
    int image = -1;  // the glb image of its base colour texture, -1 for none
};

// One glb primitive of an object: where it is in the glb, its place in the scene, its Material
// record, and where its vertices and triangles went once the geometry is loaded.
struct EditedPrimitive {
    int glbMesh = 0, glbPrimitive = 0;
    Matrix4 world = kIdentity4;
    std::int32_t record = 0;  // the Material record of its material
    std::int32_t mesh = -1;   // the it3 mesh the glb names for it, -1 for none
    std::uint32_t firstVertex = 0, vertexCount = 0;
    std::size_t firstTriangle = 0, triangleCount = 0;
    bool Transformed() const { return world != kIdentity4; }
};

struct EditedObject {
    int infoPosition = -1;
    std::vector<EditedPrimitive> primitives;
    std::map<std::int32_t, EditedMaterial> materials;  // by Material record
    // Filled by LoadGeometry:
    std::vector<EditedVertex> vertices;
    std::vector<EditedTriangle> triangles;
};

struct EditedModel {
    std::map<int, EditedObject>
        objects;  // by INFO position; objects the glb has no node of are absent
};

// Reads the glb's scene into `edited`: the objects, their primitives and materials. A primitive
// whose material is none of its object's records is an error printed through `console`
// (Broken); nodes of no object give a warning and are left out.
[[nodiscard]] Outcome ReadEditedModel(const Model& model, const GlbFile& glb, Console& console,
                                      EditedModel& edited);

// Reads the vertices and triangles of the object's primitives, in the model's space. Accessors
// that do not fit and indices past the vertices are errors naming the object (Broken).
[[nodiscard]] Outcome LoadGeometry(const GlbFile& glb, std::string_view objectName,
                                   Console& console, EditedObject& object);

// The name as our glTF writer leaves it in the JSON text: well-formed UTF-8 kept, every
// ill-formed byte sequence replaced by U+FFFD.
std::string RepairedName(std::string_view name);
// True when `edited` is `original` as written into the glb, allowing a ".NNN" suffix that
// an editor may add to a name that is taken.
bool SameName(std::string_view edited, std::string_view original);

}  // namespace morvex

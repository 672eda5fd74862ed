// Putting an object's edited triangles back into its it3 meshes, and deciding what changed.
//
// Every edited triangle goes back to the mesh it came from: the one the glb names for it (our
// own glb keeps one primitive per mesh and says which), else the mesh whose vertices its corners
// meet (positions equal, texture coordinates and normals within the tolerances), preferring
// meshes of the triangle's material, else the mesh of the nearest vertex. So an editor that
// merges the primitives of one material, drops unused vertices or reorders them still gives
// every triangle its mesh. Triangles of one mesh that now use different materials split it: the
// triangles of its own material (or the most) stay, the others go into new meshes behind the
// last, each keeping the record of the mesh it came from.
//
// Each vertex of a mesh is matched to the original vertex it is (same position, texture
// coordinates and normal within the tolerances) and then is that vertex, every byte of it. A
// vertex that matches none is new: it takes every byte from the nearest original vertex of its
// mesh (by position) and then its own position, and its own texture coordinates and normal
// where they differ from that vertex's beyond the tolerances. A new vertex whose nearest
// original vertex is no longer used takes that vertex's place in the order; the others follow
// the original vertices.
//
// A mesh is unchanged when its triangles are the original triangles (each matched corner for
// corner, starting at any corner; triangles an editor drops on import, those with two corners
// at one place and repeats of a triangle, may be missing) with the same material: it is then
// written back exactly as it was stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/vertex_block.h"
#include "it3/console.h"
#include "pack/edited_model.h"
#include "pack/glb_reader.h"

namespace morvex {

// How far a value that went through an editor may lie from the stored one and still be that
// value. Measured on trips of the conformance models and the sample through Blender 3.4 (import
// and export of our glb; README): positions come back bit for bit, texture coordinates within
// 6e-8 of their magnitude (v goes through 1 - v twice), normals within 0.014 radians (Blender
// keeps custom normals relative to each vertex's own fan of faces, in a coarser form).
struct MatchTolerances {
    // Positions: relative to the larger magnitude (at least 1e-3), a few float steps, for the
    // rounding of a transform and its inverse.
    double position = 0x1p-21;
    // Texture coordinates: relative to the larger magnitude (at least 1), four float steps at 1.
    double texCoord = 0x1p-22;
    // Normals: the cosine of the largest angle between the stored and the edited direction,
    // 0.02 radians.
    double normalCosine = 0.9998;
};

// One mesh of the original vertex block, as decoded.
struct DecodedMesh {
    bool decoded = false;
    bool written = false;  // it has vertices and triangles: the glb holds it
    std::int32_t materialIndex = 0;
    std::vector<std::uint8_t> vertexBytes, indexBytes;  // as decoded
    MeshData View(const VertexLayout& layout) const;
};

// One mesh of the vertex block to write.
struct ResultMesh {
    std::int32_t source = -1;  // the original mesh whose record it keeps
    bool unchanged = false;    // its data is the original's, byte for byte
    std::int32_t materialIndex = 0;
    std::vector<std::uint8_t> vertexBytes, indexBytes;
};

// True when primitive `placed` of the glb holds `mesh` (whose material is `materialIndex`)
// exactly as our glTF writer wrote it: untransformed, with the same values, triangles and
// material. The quick answer for a glb that was not edited, read from the glb in place;
// MatchObject finds the same by matching, at more cost.
bool PrimitiveAsWritten(const GlbFile& glb, const EditedPrimitive& placed, const MeshData& mesh,
                        std::int32_t materialIndex);

// Builds the meshes of the object's new vertex block into `result` (the original meshes in
// order, then the meshes split off) and says whether anything changed. A mesh of more vertices
// than its index width can name is an error naming the object and the mesh (Broken).
[[nodiscard]] Outcome MatchObject(const EditedObject& edited, const VertexLayout& layout,
                                  const std::vector<DecodedMesh>& originals,
                                  std::string_view objectName, Console& console,
                                  std::vector<ResultMesh>& result, bool& changed,
                                  const MatchTolerances& tolerances = {});

}  // namespace morvex

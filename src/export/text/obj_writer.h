// The OBJ + MTL writer: one OBJ geometry file and one MTL material library per object; every
// mesh becomes an OBJ group with an MTL material of its own.
//
// An object is written as "<dest_path><baseName>_<NN>_<object name>.obj" and ".mtl", NN
// counting the objects written so far. Coordinates are written as (x, z, -y), texture
// coordinates as (u, 1 - v), and the corners of every triangle in the order first, third,
// second. Every line ends with CR LF. The lines of large meshes are formatted in parallel and
// written in order: the files do not depend on the number of threads.
#pragma once

#include <cstdint>
#include <string_view>

#include "decode/vertex_block.h"
#include "export/text/text_writer.h"
#include "export/texture_export.h"
#include "it3/console.h"
#include "it3/model.h"

namespace morvex {

// Writes every object of the model that has a material and a vertex block.
// `textures`: the files the materials name (TextureFileName); the texture export writes them.
void ExportObj(const Model& model, Console& console, std::string_view destPath,
               TextureFormat textures = TextureFormat::Bmp);

// The vertex lines of an OBJ file: "v x y z", "vt u v" and "vn x y z".
enum class ObjVertexLines { Positions, TexCoords, Normals };

// The longest lines the two functions below write, CR LF included (the budgets of their line
// kinds, defined beside the code that writes them).
extern const std::size_t kMaxObjVertexLine;
extern const std::size_t kMaxObjFaceLine;

// Writes the `lines` lines of vertices [begin, end) of `mesh`; room for kMaxObjVertexLine bytes
// a line.
void WriteObjVertices(LineWriter& obj, const MeshData& mesh, ObjVertexLines lines,
                      std::int32_t begin, std::int32_t end);
// Writes the "f" lines of triangles [begin, end) of `mesh`, numbering its vertices from
// vertexBase + 1; room for kMaxObjFaceLine bytes a line.
void WriteObjFaces(LineWriter& obj, const MeshData& mesh, std::int64_t vertexBase,
                   std::int32_t begin, std::int32_t end);

}  // namespace morvex

// The OBJ + MTL writer: one OBJ geometry file and one MTL material library per object; every
// mesh becomes an OBJ group with an MTL material of its own.
//
// An object is written as "<dest_path><baseName>_<NN>_<object name>.obj" and ".mtl", NN
// counting the objects written so far. Coordinates are written as (x, z, -y), texture
// coordinates as (u, 1 - v), and the corners of every triangle in the order first, third,
// second. Every line ends with CR LF.
#pragma once

#include <cstdint>
#include <string_view>

#include "decode/vertex_block.h"
#include "export/text_writer.h"
#include "it3/console.h"
#include "it3/model.h"

namespace morvex {

// Writes every object of the model that has a material and a vertex block.
void ExportObj(const Model& model, Console& console, std::string_view destPath);

// Writes the v, vt and (with normals) vn lines of the current mesh; returns its vertex count.
int WriteObjVertices(TextWriter& obj, const VertexBlock& vertices);
// Writes the f lines of the current mesh, numbering vertices from vertexBase + 1; returns its
// face count.
int WriteObjFaces(TextWriter& obj, const VertexBlock& vertices, std::int64_t vertexBase);

}  // namespace morvex

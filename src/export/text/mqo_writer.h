// The Metasequoia writer: one text document per object,
// "<dest_path><baseName>_<NN>_<object name>.mqo", with all Materials of the object in one
// Material chunk and one Object chunk per mesh. Coordinates are written as (x, z, -y); texture
// coordinates and corner order as decoded. Every line ends with CR LF. The lines of large meshes
// are formatted in parallel and written in order: the files do not depend on the number of
// threads.
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
void ExportMqo(const Model& model, Console& console, std::string_view destPath,
               TextureFormat textures = TextureFormat::Bmp);

// The longest lines the two functions below write, CR LF included (the budgets of their line
// kinds, defined beside the code that writes them).
extern const std::size_t kMaxMqoVertexLine;
extern const std::size_t kMaxMqoFaceLine;

// Writes the lines of vertices [begin, end) of an Object chunk's vertex chunk; room for
// kMaxMqoVertexLine bytes a line.
void WriteMqoVertices(LineWriter& doc, const MeshData& mesh, std::int32_t begin, std::int32_t end);
// Writes the lines of triangles [begin, end) of its face chunk, each with `materialIndex` and
// the texture coordinates of its corners; room for kMaxMqoFaceLine bytes a line.
void WriteMqoFaces(LineWriter& doc, const MeshData& mesh, std::int32_t materialIndex,
                   std::int32_t begin, std::int32_t end);

}  // namespace morvex

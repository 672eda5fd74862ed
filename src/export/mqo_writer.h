// The Metasequoia writer: one text document per object,
// "<dest_path><baseName>_<NN>_<object name>.mqo", with all Materials of the object in one
// Material chunk and one Object chunk per mesh. Coordinates are written as (x, z, -y); texture
// coordinates and corner order as decoded. Every line ends with CR LF.
#pragma once

#include <cstdint>
#include <string_view>

#include "decode/vertex_block.h"
#include "export/text_writer.h"
#include "it3/console.h"
#include "it3/model.h"

namespace morvex {

// Writes every object of the model that has a material and a vertex block.
void ExportMqo(const Model& model, Console& console, std::string_view destPath);

// Writes the vertex chunk, the face chunk and the line closing the current mesh's Object chunk.
void WriteMqoMesh(TextWriter& doc, const VertexBlock& vertices, std::int32_t materialIndex);

}  // namespace morvex

// Which objects a conversion writes, and the choice of their material and vertex decoders.
//
// An object is an INFO block and the blocks behind it up to the next INFO block. Its material
// block is the first of MATE, MAT2, MAT3, MAT4 that it holds (searched in that order), its vertex
// block the first of VPA2, VPA4, VPA5, VPA7, VPA8, VPAC. An object with both is converted; one
// without either is passed over. Every part of the tool that walks, counts or reports objects
// asks FindObjects, so that they all agree.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "it3/model.h"

namespace morvex {

class MaterialBlock;
class VertexBlock;

// One object of a model: the positions of its blocks in the block list.
struct ObjectBlocks {
    int info = -1;
    int material = -1;  // the material block its decoder reads; -1 when it holds none
    int vertex = -1;    // the vertex block its decoder reads; -1 when it holds none

    bool Converts() const { return material >= 0 && vertex >= 0; }
};

// Every object of the model in file order (blocks before the first INFO block belong to none),
// found in one pass over the block list.
std::vector<ObjectBlocks> FindObjects(const Model& model);

// A new, unbound decoder of the class of the record's tag (a block FindObjects chose).
std::unique_ptr<MaterialBlock> NewMaterialDecoder(const Block& record);
std::unique_ptr<VertexBlock> NewVertexDecoder(const Block& record);

// Puts a new decoder of the chosen class into `slot` (unbound: BindTo the record at the returned
// position) and returns that block's position in the block list; -1 with an empty slot when the
// object whose INFO block is at `infoPosition` holds none of the tags.
int CreateMaterialDecoder(const Model& model, int infoPosition,
                          std::unique_ptr<MaterialBlock>& slot);
int CreateVertexDecoder(const Model& model, int infoPosition, std::unique_ptr<VertexBlock>& slot);

}  // namespace morvex

// The choice of an object's material and vertex decoders.
//
// An object's material block is the first of MATE, MAT2, MAT3, MAT4 that it holds (searched in
// that order), its vertex block the first of VPA2, VPA4, VPA5, VPA7, VPA8, VPAC.
#pragma once

#include <memory>

#include "it3/model.h"

namespace morvex {

class MaterialBlock;
class VertexBlock;

// Puts a new decoder of the chosen class into `slot` (unbound: BindTo the record at the returned
// position) and returns that block's position in the block list; -1 with an empty slot when the
// object whose INFO block is at `infoPosition` holds none of the tags.
int CreateMaterialDecoder(const Model& model, int infoPosition,
                          std::unique_ptr<MaterialBlock>& slot);
int CreateVertexDecoder(const Model& model, int infoPosition, std::unique_ptr<VertexBlock>& slot);

}  // namespace morvex

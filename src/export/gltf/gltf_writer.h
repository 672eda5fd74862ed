// The binary glTF 2.0 writer (option -g): one self-contained .glb file per input file, holding
// every object of the model as a node with a mesh, the materials and the textures as PNG images.
//
// Layout of the file: the 12-byte GLB header, a JSON chunk (padded with blanks) and, when there
// is any binary data, one BIN chunk (padded with zeros) that holds every bufferView, each
// starting at a multiple of 4 bytes. Positions and normals are written as (x, z, -y) and the
// corners of every triangle in the order first, third, second, as in the OBJ output; texture
// coordinates are written as decoded, since glTF's origin is the top left corner of an image,
// where the PNG rows start.
#pragma once

#include <string>
#include <string_view>

#include "it3/console.h"
#include "it3/model.h"
#include "platform/platform.h"

namespace morvex {

// Writes "<dest_path><baseName>.glb" (GltfFileName). A model without any object that can be
// written still gives a valid file: an empty scene and no BIN chunk. A model whose file would
// exceed 4 GiB, or that runs out of memory, prints "Error : Can not write <path>." and writes
// nothing. With `folder`, the open folder that destPath names: the file is made relative to it.
void ExportGltf(const Model& model, Console& console, std::string_view destPath,
                const platform::Folder* folder = nullptr);
// The same into the file at `path` (-o); with `folder`, relative to it.
void ExportGltfFile(const Model& model, Console& console, const std::string& path,
                    const platform::Folder* folder = nullptr);

// The roughnessFactor for a material's power: the Blinn-Phong exponent n = PowerValue(power)
// (the value the text outputs write) gives the microfacet roughness alpha = sqrt(2 / (n + 2)),
// and glTF's roughness is sqrt(alpha) = (2 / (n + 2))^(1/4): 1 for n = 0, 0.5 for n = 30.
double RoughnessFromPower(float power);

// dest_path + SafeName(baseName, form) + ".glb".
std::string GltfFileName(std::string_view destPath, std::string_view baseName, NameForm form);

}  // namespace morvex

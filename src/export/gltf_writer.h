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

namespace morvex {

// Appends `bytes` to `out` as a JSON string with its quotes. Names from the model may hold any
// bytes: '"', '\' and the control characters below 0x20 are escaped, well-formed UTF-8 is kept,
// and every maximal ill-formed subsequence (a stray or truncated byte run, an overlong form, a
// surrogate, a value past U+10FFFF) becomes one U+FFFD, so the result is always valid JSON.
void AppendJsonString(std::string& out, std::string_view bytes);

// The roughnessFactor for a material's power: the Blinn-Phong exponent n = PowerValue(power)
// (the value the text outputs write) gives the microfacet roughness alpha = sqrt(2 / (n + 2)),
// and glTF's roughness is sqrt(alpha) = (2 / (n + 2))^(1/4): 1 for n = 0, 0.5 for n = 30.
double RoughnessFromPower(float power);

// dest_path + SafeName(baseName) + ".glb".
std::string GltfFileName(std::string_view destPath, std::string_view baseName);

}  // namespace morvex

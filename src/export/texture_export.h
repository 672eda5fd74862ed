// Texture export: every TEXI block of the file becomes one image file beside the model's files,
// "<dest_path><texture name>.bmp" (or ".png"), the name made safe for a file name.
#pragma once

#include <string>
#include <string_view>

#include "it3/console.h"
#include "it3/model.h"
#include "platform/platform.h"

namespace morvex {

// The files textures become beside OBJ + MTL and MQO documents.
enum class TextureFormat {
    Bmp,  // the bitmap layout of the format's own tools (8-bit palette or 16-bit)
    Png,  // PNG: an 8-bit texture as a palette PNG, a 16-bit one as RGB; a texture that a
          // material uses as its alpha map as RGBA, its luminance also in the alpha channel
};

// The file name of the texture `name` as it is written and as materials name it:
// SafeName(name, form) + ".bmp" or ".png".
std::string TextureFileName(std::string_view name, TextureFormat format, NameForm form = {});

// Walks the block list in file order. Each texture is decoded (and encoded) first; only a
// complete image creates (or replaces) its file, so a texture that cannot be converted
// ("Warning : can not convert texture <name>.") leaves no file behind and never truncates an
// existing one.
//
// PNG alpha maps: an MTL reader that takes map_d's luminance (as the MTL format has it) and
// Blender's OBJ importer, which takes the alpha channel of map_d's image, read the same file.
//
// With `folder`, the open folder that destPath names: the files are made relative to it.
void ExportTextures(const Model& model, Console& console, std::string_view destPath,
                    TextureFormat format = TextureFormat::Bmp,
                    const platform::Folder* folder = nullptr);

}  // namespace morvex

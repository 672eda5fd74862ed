// Texture export: every TEXI block of the file becomes one BMP file,
// "<dest_path><texture name>.bmp", the name made safe for a file name.
#pragma once

#include <string_view>

#include "it3/console.h"
#include "it3/model.h"
#include "platform/platform.h"

namespace morvex {

// Walks the block list in file order, independent of objects and materials. Each texture is
// decoded first; only a complete picture creates (or replaces) its file, so a texture that
// cannot be decoded ("Warning : can not convert texture <name>.") leaves no file behind and
// never truncates an existing one.
// With `folder`, the open folder that destPath names: the files are made relative to it.
void ExportTextures(const Model& model, Console& console, std::string_view destPath,
                    const platform::Folder* folder = nullptr);

}  // namespace morvex

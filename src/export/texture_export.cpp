// Texture export: every TEXI block of the file becomes one BMP file named after the texture.
#include <string>
#include <vector>

#include "convert/converter.h"
#include "decode/texture_block.h"
#include "export/output_file.h"

namespace morvex {

// Walks the block list in file order, independent of objects and materials. Each texture is
// converted first; only a complete image creates (or replaces) its file, so a texture that
// cannot be converted leaves no file behind and never truncates an existing one.
int Converter::ExportTextures(std::string_view destPath) {
    TextureBlock texture;
    std::vector<std::uint8_t> image;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const Block& record = blocks[i];
        if (record.TagBits() != kTagTexi) continue;
        // Records of the block list lie inside the buffer; a failed bind cannot happen.
        if (texture.ReadHeader(record.buffer, record.offset, record.index, record.baseName) < 0) {
            continue;
        }
        const std::string_view name = texture.Name();
        if (ConvertToBitmap(image, texture.Header()) != kBitmapOk) {
            Print("Warning : can not convert texture %s.\n", ConsoleName(name).c_str());
            continue;
        }
        std::string path(destPath);
        path += SafeName(name);
        path += ".bmp";
        OutputFile file(std::move(path));
        if (!OpenOutput(*this, file)) continue;
        Print("-> %s\n", file.Path().c_str());
        file.Append(Bytes(image));
        CloseOutput(*this, file);
    }
    texture.Release();
    return 0;
}

}  // namespace morvex

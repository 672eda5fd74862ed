#include "export/texture_export.h"

#include <new>
#include <string>

#include "decode/texture_block.h"
#include "export/bitmap.h"
#include "export/output_file.h"

namespace morvex {

void ExportTextures(const Model& model, Console& console, std::string_view destPath) {
    TextureBlock texture;
    for (const Block& record : model.blocks) {
        if (record.TagBits() != kTagTexi) continue;
        // Records of the block list lie inside the buffer; a failed bind cannot happen.
        if (texture.BindTo(record) < 0) continue;
        const std::string_view name = texture.Name();
        Picture picture;
        if (DecodeTexture(texture.Header(), picture, model.limits) != Outcome::Ok) {
            console.Warning("can not convert texture %s.", ConsoleName(name).c_str());
            continue;
        }
        ++console.counters.texturesDecoded;
        console.counters.pictureBytes += picture.pixels.size();
        std::string path(destPath);
        path += SafeName(name);
        path += ".bmp";
        OutputFile file(std::move(path));
        if (OpenOutput(console, file) != Outcome::Ok) continue;
        console.Written(file.Path());
        // The one place where writing a texture runs out of memory: its file is dropped.
        try {
            WriteBitmap(file, picture);
        } catch (const std::bad_alloc&) {
            FailOutput(console, file);
            continue;
        }
        CloseOutput(console, file);
    }
    texture.Release();
}

}  // namespace morvex

#include "export/texture_export.h"

#include <new>
#include <set>
#include <string>
#include <vector>

#include "decode/texture_block.h"
#include "export/bitmap.h"
#include "export/gltf/png_encode.h"
#include "export/object_walk.h"
#include "export/output_file.h"
#include "it3/parallel.h"

namespace morvex {

namespace {

// One texture on its way to its file.
struct TexturePiece {
    const Block* record = nullptr;
    TextureBlock texture;
    Picture picture;
    Outcome decoded = Outcome::Broken;
    std::vector<std::uint8_t> png;  // PNG: the file, made beside the decoding
};

// The PNG file of a picture: RGBA with its luminance as alpha for an alpha map, else a palette
// PNG (8 bits a pixel) or RGB.
Outcome EncodeTexturePng(const Picture& picture, bool alphaMap, std::vector<std::uint8_t>& png) {
    if (!alphaMap && picture.bitsPerPixel == 8) {
        return EncodePalettePng(picture, png);
    }
    RgbaPicture rgba;
    ToRgba(picture, rgba);
    if (alphaMap) CombineAlpha(rgba, rgba);
    return EncodePng(rgba, alphaMap, png);
}

}  // namespace

std::string TextureFileName(std::string_view name, TextureFormat format, NameForm form) {
    return SafeName(name, form) + (format == TextureFormat::Png ? ".png" : ".bmp");
}

void ExportTextures(const Model& model, Console& console, std::string_view destPath,
                    TextureFormat format, const platform::Folder* folder) {
    // The files that materials name as alpha maps.
    std::set<std::string> alphaMaps;
    if (format == TextureFormat::Png) {
        ForEachMaterial(model, [&](const MaterialBlock& materials, std::int32_t j) {
            if (materials.HasAlphaMap(j)) alphaMaps.insert(SafeName(materials.AlphaMapNameAt(j)));
        });
    }
    std::size_t next = 0;
    // The TEXI blocks in file order; each is decoded on any thread, and its message and file
    // follow in file order.
    auto produce = [&](TexturePiece& piece) {
        while (next < model.blocks.size()) {
            const Block& record = model.blocks[next++];
            if (record.TagBits() != kTagTexi) continue;
            piece.record = &record;
            return true;
        }
        return false;
    };
    auto work = [&](TexturePiece& piece) {
        // Records of the block list lie inside the buffer: the bind cannot fail.
        piece.texture.BindTo(*piece.record);
        piece.decoded = DecodeTexture(piece.texture.Header(), piece.picture, model.limits);
        if (piece.decoded != Outcome::Ok || format != TextureFormat::Png) return;
        const bool alphaMap = alphaMaps.count(SafeName(piece.texture.Name())) != 0;
        // The one place where encoding a texture runs out of memory: it does not convert.
        try {
            piece.decoded = EncodeTexturePng(piece.picture, alphaMap, piece.png);
        } catch (const std::bad_alloc&) {
            piece.decoded = Outcome::NoMemory;
        }
    };
    auto consume = [&](TexturePiece& piece) {
        const std::string_view name = piece.texture.Name();
        const Picture picture = std::move(piece.picture);
        piece.picture = Picture{};
        if (piece.decoded != Outcome::Ok) {
            if (console.Repeat(Repeated::Texture))
                console.Damage("can not convert texture %s.", ConsoleName(name).c_str());
            return;
        }
        ++console.counters.texturesDecoded;
        console.counters.pictureBytes += picture.pixels.size();
        const std::vector<std::uint8_t> png = std::move(piece.png);
        piece.png = {};
        OutputFile file(std::string(destPath) + TextureFileName(name, format, model.names.files),
                        folder);
        if (OpenOutput(console, file) != Outcome::Ok) return;
        console.Written(file.Path());
        if (format == TextureFormat::Png) {
            file.Append(std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
            CloseOutput(console, file);
            return;
        }
        // The one place where writing a texture runs out of memory: its file is dropped.
        try {
            WriteBitmap(file, picture);
        } catch (const std::bad_alloc&) {
            FailOutput(console, file);
            return;
        }
        CloseOutput(console, file);
    };
    // Pictures can be large: one in flight per thread, and the one being written.
    RunInOrder<TexturePiece>(produce, work, consume, 1);
}

}  // namespace morvex

#include "export/texture_export.h"

#include <new>
#include <string>

#include "decode/texture_block.h"
#include "export/bitmap.h"
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
};

}  // namespace

void ExportTextures(const Model& model, Console& console, std::string_view destPath) {
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
    auto work = [&model](TexturePiece& piece) {
        // Records of the block list lie inside the buffer: the bind cannot fail.
        piece.texture.BindTo(*piece.record);
        piece.decoded = DecodeTexture(piece.texture.Header(), piece.picture, model.limits);
    };
    auto consume = [&](TexturePiece& piece) {
        const std::string_view name = piece.texture.Name();
        const Picture picture = std::move(piece.picture);
        piece.picture = Picture{};
        if (piece.decoded != Outcome::Ok) {
            console.Warning("can not convert texture %s.", ConsoleName(name).c_str());
            return;
        }
        ++console.counters.texturesDecoded;
        console.counters.pictureBytes += picture.pixels.size();
        std::string path(destPath);
        path += SafeName(name, model.names.files);
        path += ".bmp";
        OutputFile file(std::move(path));
        if (OpenOutput(console, file) != Outcome::Ok) return;
        console.Written(file.Path());
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

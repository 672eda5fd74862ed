// Which textures an edited glb repainted, and their new pixels.
//
// Our glTF writer makes one image per (texture, alpha map) pair that a material names: the
// texture's colours (white without one) with the alpha map's luminance as alpha, the alpha map
// stretched over the texture when their sizes differ. An edited image is taken apart the same
// way: its colours are the texture's, its alpha the alpha map's (a grey picture whose
// luminance is that alpha; where the alpha map is larger than the image, the pixels no image
// pixel stands for keep their value). A texture whose pixels all show as before is unchanged,
// whatever the image's encoding; a texture that is its own alpha map takes its colours only.
//
// A texture that two images repaint differently takes the first, with a warning.
#pragma once

#include <cstdint>
#include <map>
#include <string_view>

#include "decode/texture_block.h"
#include "export/gltf/png_encode.h"
#include "it3/console.h"
#include "it3/model.h"
#include "pack/glb_reader.h"

namespace morvex {

class TextureEdits {
  public:
    TextureEdits(const Model& model, const GlbFile& glb, Console& console);

    // The name of the image our writer makes for a pair: the texture's, "<texture>+<alpha map>"
    // or the alpha map's; empty when the pair gives no image (neither decodes).
    std::string ImageName(std::string_view texture, std::string_view alphaMap);
    // Image `image` of the glb shows the pair: takes its changes. An image that does not decode
    // is an error (Broken).
    [[nodiscard]] Outcome Take(std::string_view texture, std::string_view alphaMap, int image);
    // The block position of the texture of that name, or -1.
    std::int64_t Find(std::string_view name) const;
    // The block position of the texture an image of that name shows (allowing the ".NNN" an
    // editor adds to names already taken; of a pair's image, the texture), or -1.
    std::int64_t FindShown(std::string_view imageName) const;

    // The new colours of repainted textures (RGBA rows top first, alpha 255), by block position.
    std::map<std::size_t, RgbaPicture> repainted;

  private:
    // The decoded picture of a texture; null when it does not decode.
    const Picture* PictureOf(std::int64_t block);
    const RgbaPicture* Image(int image);
    void Repaint(std::size_t block, RgbaPicture colours);

    const Model& model_;
    const GlbFile& glb_;
    Console& console_;
    std::map<std::string_view, std::size_t> byName_;
    std::map<std::int64_t, Picture> pictures_;
    std::map<std::int64_t, bool> decodes_;
    std::map<int, RgbaPicture> images_;
};

}  // namespace morvex

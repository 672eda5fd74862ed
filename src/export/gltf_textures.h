// The textures of a glTF document: the TEXI blocks that materials name, made into embedded PNG
// images, one image and one glTF texture per distinct (texture, alpha map) pair.
//
// A material's texture is the first TEXI block whose name equals the texture name it stores. A
// texture that is missing, or cannot be decoded ("Warning : can not convert texture <name>.",
// printed once, at its first use), counts as none. With an alpha map the image is RGBA: the
// texture's colours (white without one) with the alpha map's luminance as alpha.
//
// A decoded picture takes 4 bytes a pixel here, and a texture of a few dozen bytes can declare
// 16384 by 16384 pixels: keeping the pictures of every texture would let a file of n such
// textures hold n GiB. So only whether a texture decodes is remembered; at most the two pictures
// of one pair are alive at any time.
#pragma once

#include <cstdint>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "export/gltf_document.h"
#include "export/png_encode.h"
#include "it3/console.h"
#include "it3/model.h"

namespace morvex {

class TextureLibrary {
  public:
    TextureLibrary(const Model& model, Console& console);

    struct MaterialTexture {
        int texture = -1;  // the glTF texture, -1 for none
        AlphaUse alpha = AlphaUse::Opaque;
    };

    // The texture of a material whose texture and alpha map have the given names (empty: none),
    // its image added to `document` on the first use of the pair.
    MaterialTexture ForMaterial(std::string_view textureName, std::string_view alphaName,
                                GltfDocument& document);

  private:
    // A TEXI block that a name finds, and what is known of its decoding.
    struct Texture {
        std::size_t position = 0;  // in the block list
        enum class State { Untried, Decodes, Fails } state = State::Untried;
    };
    using PairKey = std::pair<std::size_t, std::size_t>;  // block positions; kNone for none
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // The texture of that name, or null when the file holds none (or the name is empty).
    Texture* Find(std::string_view name);
    // Decodes the texture into RGBA pixels; false when it does not decode. The first failure
    // prints the warning and marks the texture as failing.
    bool Decode(Texture& texture, RgbaPicture& picture);
    // Combines, encodes and adds the pair's image and texture; none when memory runs out.
    MaterialTexture AddImage(Texture* base, Texture* alpha, RgbaPicture& picture,
                             RgbaPicture& alphaMap, GltfDocument& document);

    const Model& model_;
    Console& console_;
    std::unordered_map<std::string_view, Texture> byName_;
    std::map<PairKey, MaterialTexture> made_;
};

}  // namespace morvex

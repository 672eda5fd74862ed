// The textures of a glTF document: the TEXI blocks that materials name, made into embedded PNG
// images, one image and one glTF texture per distinct (texture, alpha map) pair.
//
// A material's texture is the first TEXI block whose name equals the texture name it stores. A
// texture that is missing, or cannot be decoded ("Warning : can not convert texture <name>.",
// printed once, at its first use), counts as none. With an alpha map the image is RGBA: the
// texture's colours (white without one) with the alpha map's luminance as alpha. Without one, an
// 8-bit texture is a palette PNG of its indices and palette, a 16-bit one RGB.
//
// Work and memory follow the data:
// - Every TEXI block is decoded at most once per document. Its picture is kept (1 or 2 bytes a
//   pixel) only while a pair that uses it is still to be made: before the walk, the material
//   tables are read once to count the pairs each texture belongs to, and a picture is dropped
//   when the last of them is made. A picture's RGBA form (4 bytes a pixel) lives only while the
//   image of its pair is encoded, on another thread; the encodings under way hold at most
//   GltfDocument::kImageBytesInFlight bytes of pixels (or one image larger than that).
// - The images together hold at most twice the pixels of the pictures decoded so far plus
//   Limits::imagePixels: a file cannot combine a few large pictures into many large images (n
//   textures and n² materials would otherwise cost n² pictures' work). A pair beyond that is
//   left out with "Warning : image of texture <t> and alpha map <a> skipped: more image pixels
//   than its pictures allow." ("(none)" for a missing one), and its material goes untextured.
#pragma once

#include <cstdint>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "decode/texture_block.h"
#include "export/gltf/gltf_document.h"
#include "export/gltf/png_encode.h"
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
        int pendingPairs = 0;  // pairs with this texture whose image is still to be made
        bool held = false;     // `picture` holds the decoded picture
        Picture picture;
    };
    using PairKey = std::pair<std::size_t, std::size_t>;  // block positions; kNone for none
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // The texture of that name, or null when the file holds none (or the name is empty).
    Texture* Find(std::string_view name);
    static PairKey KeyOf(const Texture* base, const Texture* alpha) {
        return {base != nullptr ? base->position : kNone,
                alpha != nullptr ? alpha->position : kNone};
    }
    // Reads every object's material table and counts the distinct pairs each texture is in.
    void CountPairs();
    // Makes the texture's picture available; false when it does not decode. The first failure
    // prints the warning and marks the texture as failing.
    bool Decode(Texture& texture);
    // One pair (as the material names it) has been dealt with: pictures no other pair needs
    // are dropped.
    void PairDone(Texture* base, Texture* alpha);
    // Combines, encodes and adds the pair's image and texture; none when memory runs out or the
    // image budget is spent. `counted`: the pair is one CountPairs found, not yet dealt with, so
    // a picture with no other pending pair can go once it is converted to RGBA.
    MaterialTexture AddImage(Texture* base, Texture* alpha, bool counted, GltfDocument& document);

    const Model& model_;
    Console& console_;
    std::unordered_map<std::string_view, Texture> byName_;
    std::map<PairKey, MaterialTexture> made_;
    std::map<PairKey, bool> counted_;  // the pairs CountPairs found, true once dealt with
    std::uint64_t imageBudget_ = 0;    // pixels the images may still hold
};

}  // namespace morvex

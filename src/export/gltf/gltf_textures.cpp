#include "export/gltf/gltf_textures.h"

#include <algorithm>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "decode/material_block.h"
#include "decode/texture_block.h"
#include "export/object_walk.h"

namespace morvex {

namespace {

// The encoding of one image, which owns what it encodes: a palette picture as it is, or RGBA
// pixels.
struct ImageJob {
    bool palette = false;
    bool withAlpha = false;
    Picture indexed;
    RgbaPicture rgba;

    Outcome operator()(std::vector<std::uint8_t>& png) const {
        return palette ? EncodePalettePng(indexed, png) : EncodePng(rgba, withAlpha, png);
    }
};

}  // namespace

TextureLibrary::TextureLibrary(const Model& model, Console& console)
    : model_(model),
      console_(console),
      imageBudget_(
          static_cast<std::uint64_t>(std::max<std::int64_t>(model.limits.imagePixels, 0))) {
    for (std::size_t b = 0; b < model.blocks.size(); ++b) {
        const Block& record = model.blocks[b];
        if (record.TagBits() != kTagTexi) continue;
        Texture texture;
        texture.position = b;
        byName_.emplace(TextureName(record), std::move(texture));  // the first block of a name wins
    }
    CountPairs();
}

TextureLibrary::Texture* TextureLibrary::Find(std::string_view name) {
    if (name.empty()) return nullptr;
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : &found->second;
}

void TextureLibrary::CountPairs() {
    std::set<PairKey> pairs;
    ForEachMaterial(model_, [&](const MaterialBlock& materials, std::int32_t j) {
        const PairKey key =
            KeyOf(Find(materials.TextureNameAt(j)), Find(materials.AlphaMapNameAt(j)));
        if (key != PairKey{kNone, kNone}) pairs.insert(key);
    });
    for (const PairKey& key : pairs) {
        counted_.emplace(key, false);
        const std::size_t members[] = {key.first, key.second == key.first ? kNone : key.second};
        for (std::size_t position : members) {
            if (position != kNone) ++byName_.at(TextureName(model_.blocks[position])).pendingPairs;
        }
    }
}

bool TextureLibrary::Decode(Texture& texture) {
    if (texture.held) return true;
    if (texture.state == Texture::State::Fails) return false;
    const Block& record = model_.blocks[texture.position];
    TextureBlock block;
    block.BindTo(record);
    if (DecodeTexture(block.Header(), texture.picture, model_.limits) != Outcome::Ok) {
        console_.Damage("can not convert texture %s.", ConsoleName(block.Name()).c_str());
        texture.state = Texture::State::Fails;
        return false;
    }
    texture.held = true;
    ++console_.counters.texturesDecoded;
    console_.counters.pictureBytes += texture.picture.pixels.size();
    if (texture.state == Texture::State::Untried) {
        const auto pixels = static_cast<std::uint64_t>(texture.picture.width) *
                            static_cast<std::uint64_t>(texture.picture.height);
        imageBudget_ += 2 * pixels;
    }
    texture.state = Texture::State::Decodes;
    return true;
}

void TextureLibrary::PairDone(Texture* base, Texture* alpha) {
    const auto counted = counted_.find(KeyOf(base, alpha));
    if (counted == counted_.end() || counted->second) return;
    counted->second = true;
    for (Texture* texture : {base, alpha == base ? nullptr : alpha}) {
        if (texture == nullptr || --texture->pendingPairs > 0) continue;
        texture->picture = Picture{};
        texture->held = false;
    }
}

TextureLibrary::MaterialTexture TextureLibrary::ForMaterial(std::string_view textureName,
                                                            std::string_view alphaName,
                                                            GltfDocument& document) {
    Texture* const namedBase = Find(textureName);
    Texture* const namedAlpha = Find(alphaName);
    // A texture used for the first time is decoded at once, to learn whether it converts (and
    // to warn in the order the material names them); its picture serves the image below.
    if (namedBase != nullptr && namedBase->state == Texture::State::Untried) Decode(*namedBase);
    if (namedAlpha != nullptr && namedAlpha->state == Texture::State::Untried) Decode(*namedAlpha);
    Texture* base = namedBase;
    Texture* alpha = namedAlpha;
    if (base != nullptr && base->state == Texture::State::Fails) base = nullptr;
    if (alpha != nullptr && alpha->state == Texture::State::Fails) alpha = nullptr;
    MaterialTexture result;
    if (base != nullptr || alpha != nullptr) {
        const PairKey key = KeyOf(base, alpha);
        if (const auto made = made_.find(key); made != made_.end()) {
            result = made->second;
        } else {
            const auto counted = counted_.find(KeyOf(namedBase, namedAlpha));
            const bool lastPair = counted != counted_.end() && !counted->second;
            result = AddImage(base, alpha, lastPair, document);
            made_.emplace(key, result);
        }
    }
    PairDone(namedBase, namedAlpha);
    return result;
}

TextureLibrary::MaterialTexture TextureLibrary::AddImage(Texture* base, Texture* alpha,
                                                         bool counted, GltfDocument& document) {
    MaterialTexture result;
    if ((base != nullptr && !Decode(*base)) || (alpha != nullptr && !Decode(*alpha))) return {};
    const Picture& size = base != nullptr ? base->picture : alpha->picture;
    const auto pixels =
        static_cast<std::uint64_t>(size.width) * static_cast<std::uint64_t>(size.height);
    if (pixels > imageBudget_) {
        const Block& b = model_.blocks[base != nullptr ? base->position : alpha->position];
        const std::string_view none = "(none)";
        console_.Damage(
            "image of texture %s and alpha map %s skipped: more image pixels than its pictures "
            "allow.",
            ConsoleName(base != nullptr ? TextureName(b) : none).c_str(),
            ConsoleName(alpha != nullptr ? TextureName(model_.blocks[alpha->position]) : none)
                .c_str());
        return {};
    }
    imageBudget_ -= pixels;
    ImageJob job;
    // The one place where making a pair's image runs out of memory: the material goes without.
    try {
        // A picture whose last pair this is goes as soon as its RGBA form is made.
        auto converted = [counted](Texture& texture) {
            if (!counted || texture.pendingPairs != 1) return;
            texture.picture = Picture{};
            texture.held = false;
        };
        RgbaPicture& picture = job.rgba;
        if (base != nullptr && alpha == nullptr && base->picture.bitsPerPixel == 8) {
            // Colours alone from a palette: the indices and the palette as they are.
            if (!CanEncodePalettePng(base->picture)) return {};
            job.palette = true;
            if (counted && base->pendingPairs == 1) {
                job.indexed = std::move(base->picture);
                converted(*base);
            } else {
                job.indexed = base->picture;
            }
        } else if (base != nullptr && base != alpha) {
            ToRgba(base->picture, picture);
            converted(*base);
        }
        if (alpha != nullptr) {
            if (alpha == base) {
                ToRgba(base->picture, picture);
                converted(*base);
                // Each pixel's alpha from its own colour: reading the colour bytes of the pixel
                // whose alpha byte is written is what a copy would give.
                CombineAlpha(picture, picture);
            } else {
                RgbaPicture alphaMap;
                ToRgba(alpha->picture, alphaMap);
                converted(*alpha);
                if (base == nullptr) {
                    picture.width = alphaMap.width;
                    picture.height = alphaMap.height;
                    picture.pixels.assign(alphaMap.pixels.size(), 255);
                }
                CombineAlpha(picture, alphaMap);
            }
            result.alpha = ClassifyAlpha(picture);
        }
        job.withAlpha = result.alpha != AlphaUse::Opaque;
        if (!job.palette && !CanEncodePng(picture)) return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
    ++console_.counters.imagesEncoded;
    console_.counters.imagePixels += pixels;

    // Encoded beside the rest of the document.
    // Named after its pictures: "<texture>", "<texture>+<alpha map>" or "<alpha map>", so that
    // the images of one texture with different alpha maps can be told apart.
    std::string name(
        TextureName(model_.blocks[base != nullptr ? base->position : alpha->position]));
    if (base != nullptr && alpha != nullptr) {
        name += '+';
        name += TextureName(model_.blocks[alpha->position]);
    }
    // The encoding holds its pixels, their rows and the compressed bytes: about thrice the
    // pixels.
    const std::uint64_t held =
        3 * (job.palette ? job.indexed.pixels.size() : job.rgba.pixels.size());
    const int image = document.AddImage(std::move(name), held, std::move(job));
    if (image < 0) return {};
    result.texture = document.textures.Next();
    JsonWriter(document.textures.items)
        .BeginObject()
        .Key("sampler")
        .Int(0)
        .Key("source")
        .Int(image)
        .EndObject();
    return result;
}

}  // namespace morvex

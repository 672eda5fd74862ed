#include "export/gltf_textures.h"

#include <new>
#include <vector>

#include "decode/texture_block.h"

namespace morvex {

TextureLibrary::TextureLibrary(const Model& model, Console& console)
    : model_(model), console_(console) {
    for (std::size_t b = 0; b < model.blocks.size(); ++b) {
        const Block& record = model.blocks[b];
        if (record.TagBits() != kTagTexi) continue;
        byName_.emplace(TextureName(record), Texture{b});  // the first block of a name wins
    }
}

TextureLibrary::Texture* TextureLibrary::Find(std::string_view name) {
    if (name.empty()) return nullptr;
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : &found->second;
}

bool TextureLibrary::Decode(Texture& texture, RgbaPicture& rgba) {
    const Block& record = model_.blocks[texture.position];
    TextureBlock block;
    block.BindTo(record);
    Picture picture;
    bool decoded = DecodeTexture(block.Header(), picture) == Outcome::Ok;
    if (decoded) {
        try {
            ToRgba(picture, rgba);
        } catch (const std::bad_alloc&) {
            rgba = RgbaPicture{};
            decoded = false;
        }
    }
    if (!decoded && texture.state == Texture::State::Untried) {
        console_.Warning("can not convert texture %s.", ConsoleName(block.Name()).c_str());
        texture.state = Texture::State::Fails;
    } else if (decoded) {
        texture.state = Texture::State::Decodes;
    }
    return decoded;
}

TextureLibrary::MaterialTexture TextureLibrary::ForMaterial(std::string_view textureName,
                                                            std::string_view alphaName,
                                                            GltfDocument& document) {
    Texture* base = Find(textureName);
    Texture* alpha = Find(alphaName);
    // A texture used for the first time is decoded at once, to learn whether it converts (and
    // to warn in the order the material names them); its picture serves the image below.
    RgbaPicture picture, alphaMap;
    if (base != nullptr && base->state == Texture::State::Untried) Decode(*base, picture);
    if (alpha != nullptr && alpha->state == Texture::State::Untried) Decode(*alpha, alphaMap);
    if (base != nullptr && base->state == Texture::State::Fails) base = nullptr;
    if (alpha != nullptr && alpha->state == Texture::State::Fails) alpha = nullptr;
    if (base == nullptr && alpha == nullptr) return {};

    const PairKey key{base != nullptr ? base->position : kNone,
                      alpha != nullptr ? alpha->position : kNone};
    if (const auto made = made_.find(key); made != made_.end()) return made->second;
    const MaterialTexture result = AddImage(base, alpha, picture, alphaMap, document);
    made_.emplace(key, result);
    return result;
}

TextureLibrary::MaterialTexture TextureLibrary::AddImage(Texture* base, Texture* alpha,
                                                         RgbaPicture& picture,
                                                         RgbaPicture& alphaMap,
                                                         GltfDocument& document) {
    MaterialTexture result;
    std::vector<std::uint8_t> png;
    // The one place where making a pair's image runs out of memory: the material goes without.
    try {
        if (base != nullptr && picture.pixels.empty() && !Decode(*base, picture)) return {};
        if (alpha != nullptr) {
            if (alphaMap.pixels.empty() && !Decode(*alpha, alphaMap)) return {};
            if (base == nullptr) {
                picture.width = alphaMap.width;
                picture.height = alphaMap.height;
                picture.pixels.assign(alphaMap.pixels.size(), 255);
            }
            CombineAlpha(picture, alphaMap);
            alphaMap = RgbaPicture{};
            result.alpha = ClassifyAlpha(picture);
        }
        if (EncodePng(picture, result.alpha != AlphaUse::Opaque, png) != Outcome::Ok) return {};
    } catch (const std::bad_alloc&) {
        return {};
    }
    picture = RgbaPicture{};

    const int view = document.AddView(png.size(), 0, [&png](ViewWriter& out) { out.Raw(png); });
    png = {};
    if (view < 0) return {};
    const int image = document.images.Next();
    JsonWriter(document.images.items)
        .BeginObject()
        .Key("name")
        .String(TextureName(model_.blocks[base != nullptr ? base->position : alpha->position]))
        .Key("bufferView")
        .Int(view)
        .Key("mimeType")
        .String("image/png")
        .EndObject();
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

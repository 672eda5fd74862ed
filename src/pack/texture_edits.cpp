#include "pack/texture_edits.h"

#include <algorithm>

#include "pack/edited_model.h"
#include "pack/png_decode.h"

namespace morvex {

namespace {

std::uint8_t Luminance(const std::uint8_t* rgba) {
    return static_cast<std::uint8_t>((77u * rgba[0] + 150u * rgba[1] + 29u * rgba[2] + 128u) >> 8);
}

bool SameSize(const RgbaPicture& a, std::int64_t width, std::int64_t height) {
    return a.width == width && a.height == height;
}

}  // namespace

TextureEdits::TextureEdits(const Model& model, const GlbFile& glb, Console& console)
    : model_(model), glb_(glb), console_(console) {
    for (std::size_t b = 0; b < model.blocks.size(); ++b) {
        if (model.blocks[b].TagBits() == kTagTexi) byName_.emplace(TextureName(model.blocks[b]), b);
    }
}

std::int64_t TextureEdits::Find(std::string_view name) const {
    if (name.empty()) return -1;
    const auto found = byName_.find(name);
    return found == byName_.end() ? -1 : static_cast<std::int64_t>(found->second);
}

std::int64_t TextureEdits::FindShown(std::string_view imageName) const {
    auto named = [this](std::string_view name) -> std::int64_t {
        if (const std::int64_t exact = Find(name); exact >= 0) return exact;
        for (const auto& [known, block] : byName_) {
            if (SameName(name, known)) return static_cast<std::int64_t>(block);
        }
        return -1;
    };
    if (const std::int64_t whole = named(imageName); whole >= 0) return whole;
    // The image of a texture and its alpha map, "<texture>+<alpha map>": its texture.
    for (std::size_t plus = imageName.rfind('+'); plus != std::string_view::npos && plus > 0;
         plus = imageName.rfind('+', plus - 1)) {
        if (const std::int64_t texture = named(imageName.substr(0, plus)); texture >= 0) {
            return texture;
        }
    }
    return -1;
}

const Picture* TextureEdits::PictureOf(std::int64_t block) {
    if (block < 0) return nullptr;
    if (const auto known = decodes_.find(block); known != decodes_.end()) {
        return known->second ? &pictures_[block] : nullptr;
    }
    TextureBlock texture;
    texture.BindTo(model_.blocks[static_cast<std::size_t>(block)]);
    Picture& picture = pictures_[block];
    const bool decodes = DecodeTexture(texture.Header(), picture, model_.limits) == Outcome::Ok;
    decodes_[block] = decodes;
    return decodes ? &picture : nullptr;
}

std::string TextureEdits::ImageName(std::string_view texture, std::string_view alphaMap) {
    // As -g names them: "<texture>", "<texture>+<alpha map>" or "<alpha map>".
    const std::int64_t base = Find(texture), alpha = Find(alphaMap);
    const bool hasBase = PictureOf(base) != nullptr, hasAlpha = PictureOf(alpha) != nullptr;
    std::string name;
    if (hasBase) name = TextureName(model_.blocks[static_cast<std::size_t>(base)]);
    if (hasBase && hasAlpha) name += '+';
    if (hasAlpha) name += TextureName(model_.blocks[static_cast<std::size_t>(alpha)]);
    return name;
}

const RgbaPicture* TextureEdits::Image(int image) {
    if (const auto known = images_.find(image); known != images_.end()) return &known->second;
    RgbaPicture picture;
    if (DecodePng(glb_.ImageBytes(image), picture, model_.limits.pictureSide) != Outcome::Ok) {
        return nullptr;
    }
    return &images_.emplace(image, std::move(picture)).first->second;
}

void TextureEdits::Repaint(std::size_t block, RgbaPicture colours) {
    const auto [at, inserted] = repainted.try_emplace(block);
    if (!inserted) {
        const RgbaPicture& first = at->second;
        if (first.width != colours.width || first.height != colours.height ||
            first.pixels != colours.pixels) {
            console_.Warning(
                "texture %s is repainted differently by two images; the first is "
                "kept.",
                ConsoleName(TextureName(model_.blocks[block])).c_str());
        }
        return;
    }
    at->second = std::move(colours);
}

Outcome TextureEdits::Take(std::string_view textureName, std::string_view alphaName, int image) {
    const std::int64_t base = Find(textureName), alpha = Find(alphaName);
    const Picture* basePicture = PictureOf(base);
    const Picture* alphaPicture = PictureOf(alpha);
    if (basePicture == nullptr && alphaPicture == nullptr) return Outcome::Ok;
    const RgbaPicture* shown = Image(image);
    if (shown == nullptr) {
        const std::string name = image >= 0 && static_cast<std::size_t>(image) < glb_.images.size()
                                     ? glb_.images[static_cast<std::size_t>(image)].name
                                     : std::string();
        console_.Error("image %s is not a PNG image that can be read.", ConsoleName(name).c_str());
        return Outcome::Broken;
    }
    const std::uint64_t w = shown->width, h = shown->height;

    if (basePicture != nullptr) {
        RgbaPicture expected;
        ToRgba(*basePicture, expected);
        bool same = SameSize(*shown, basePicture->width, basePicture->height);
        for (std::size_t k = 0; same && k < expected.pixels.size(); k += 4) {
            same = std::equal(expected.pixels.begin() + static_cast<std::ptrdiff_t>(k),
                              expected.pixels.begin() + static_cast<std::ptrdiff_t>(k + 3),
                              shown->pixels.begin() + static_cast<std::ptrdiff_t>(k));
        }
        if (!same) {
            RgbaPicture colours = *shown;
            for (std::size_t k = 3; k < colours.pixels.size(); k += 4) colours.pixels[k] = 255;
            Repaint(static_cast<std::size_t>(base), std::move(colours));
        }
    }
    if (alphaPicture == nullptr || alpha == base) return Outcome::Ok;

    // The alpha map as it is, and where each image pixel reads it.
    RgbaPicture map;
    ToRgba(*alphaPicture, map);
    const RgbaPicture stored = map;
    const std::uint64_t aw = map.width, ah = map.height;
    const bool asMade = basePicture != nullptr
                            ? SameSize(*shown, basePicture->width, basePicture->height)
                            : SameSize(*shown, alphaPicture->width, alphaPicture->height);
    bool changedAlpha = false;
    if (asMade) {
        // Each image pixel stands for the alpha-map pixel our writer read for it; only those
        // whose alpha differs are written, so the pixels no image pixel read keep their value.
        for (std::uint64_t y = 0; y < h; ++y) {
            for (std::uint64_t x = 0; x < w; ++x) {
                const std::size_t at = 4 * ((y * ah / h) * aw + x * aw / w);
                std::uint8_t* a = map.pixels.data() + at;
                const std::uint8_t value = shown->pixels[4 * (y * w + x) + 3];
                // Compared with the stored map: of several image pixels that read one map pixel,
                // one that changed decides it.
                if (Luminance(stored.pixels.data() + at) == value) continue;
                a[0] = a[1] = a[2] = value;
                changedAlpha = true;
            }
        }
    } else {
        // A resized image: the alpha map keeps its size and samples the image.
        for (std::uint64_t y = 0; y < ah; ++y) {
            for (std::uint64_t x = 0; x < aw; ++x) {
                std::uint8_t* a = map.pixels.data() + 4 * (y * aw + x);
                const std::uint8_t value = shown->pixels[4 * ((y * h / ah) * w + x * w / aw) + 3];
                if (Luminance(a) == value) continue;
                a[0] = a[1] = a[2] = value;
                changedAlpha = true;
            }
        }
    }
    if (changedAlpha) Repaint(static_cast<std::size_t>(alpha), std::move(map));
    return Outcome::Ok;
}

}  // namespace morvex

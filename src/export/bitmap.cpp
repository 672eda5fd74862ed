#include "export/bitmap.h"

#include <algorithm>
#include <new>

namespace morvex {

std::vector<std::uint8_t> BitmapHead(const Picture& picture) {
    const std::size_t paletteBytes = picture.palette.size();
    const auto pixelBytes =
        static_cast<std::uint64_t>(picture.Stride()) * static_cast<std::uint64_t>(picture.height);
    const std::uint64_t fileSize = kBitmapHeaderSize + paletteBytes + pixelBytes;
    std::vector<std::uint8_t> head(kBitmapHeaderSize + paletteBytes, 0);
    std::uint8_t* h = head.data();
    h[0] = 'B';
    h[1] = 'M';
    StoreU32(h + 2, static_cast<std::uint32_t>(fileSize));
    StoreU32(h + 10, static_cast<std::uint32_t>(kBitmapHeaderSize + paletteBytes));
    StoreU32(h + 14, 40);
    StoreU32(h + 18, static_cast<std::uint32_t>(picture.width));
    StoreU32(h + 22, static_cast<std::uint32_t>(picture.height));
    StoreU16(h + 26, 1);
    StoreU16(h + 28, static_cast<std::uint32_t>(picture.bitsPerPixel));
    StoreU32(h + 34, static_cast<std::uint32_t>(pixelBytes));
    StoreU32(h + 46, static_cast<std::uint32_t>(picture.PaletteEntries()));
    std::uint8_t* palette = h + kBitmapHeaderSize;
    std::copy(picture.palette.begin(), picture.palette.end(), palette);
    SwapRedBlue(palette, static_cast<std::int64_t>(picture.PaletteEntries()));
    return head;
}

void WriteBitmap(OutputFile& file, const Picture& picture) {
    file.Append(Bytes(BitmapHead(picture)));
    file.Append(Bytes(picture.pixels));
}

Outcome ConvertToBitmap(std::vector<std::uint8_t>& image, Bytes header, const Limits& limits) {
    image.clear();
    Picture picture;
    const Outcome decoded = DecodeTexture(header, picture, limits);
    if (decoded != Outcome::Ok) return decoded;
    try {
        image = BitmapHead(picture);
        image.insert(image.end(), picture.pixels.begin(), picture.pixels.end());
    } catch (const std::bad_alloc&) {
        image.clear();
        return Outcome::NoMemory;
    }
    return Outcome::Ok;
}

}  // namespace morvex

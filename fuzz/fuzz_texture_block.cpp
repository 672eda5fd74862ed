// Texture conversion: the input is a texture header and its data (a TEXI payload from offset
// 36 on). The first input byte picks the format code written over the first header word (1001,
// 1002, 1004, 1005, 1006, or as it comes), so every format is reached from any data. Checks the
// result: a complete bitmap file whose header matches its length, or nothing. Pictures are
// limited to 256 KiB of pixel rows through the library's Limits: every path of the decoders is
// reached with small pictures, and large ones would only spend the run's time on filling memory.
#include <cstdint>
#include <vector>

#include "decode/texture_block.h"
#include "export/bitmap.h"
#include "fuzz_support.h"

using namespace morvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static constexpr std::uint32_t kFormats[] = {1001, 1002, 1004, 1005, 1006};
    fuzz::ExactCopy header(data + 1, size - 1);
    const std::uint8_t choice = data[0] % 6;
    if (choice < 5 && size - 1 >= 4) StoreU32(header.Data(), kFormats[choice]);

    Limits limits;
    limits.pictureBytes = 256 << 10;
    std::vector<std::uint8_t> image;
    const Outcome result = ConvertToBitmap(image, header.View(), limits);
    if (result != Outcome::Ok) {
        fuzz::Require(image.empty());
        fuzz::Require(result == Outcome::Unsupported || result == Outcome::Broken ||
                      result == Outcome::NoMemory);
        return 0;
    }
    fuzz::Require(image.size() >= kBitmapHeaderSize);
    fuzz::Require(image[0] == 'B' && image[1] == 'M');
    fuzz::Require(LoadU32(image.data() + 2) == image.size());
    const std::uint32_t pixelOffset = LoadU32(image.data() + 10);
    const auto width = static_cast<std::int32_t>(LoadU32(image.data() + 18));
    const auto height = static_cast<std::int32_t>(LoadU32(image.data() + 22));
    const std::uint16_t bits = LoadU16(image.data() + 28);
    fuzz::Require(width > 0 && height > 0 && (bits == 8 || bits == 16));
    const std::uint64_t rows =
        static_cast<std::uint64_t>(PictureStride(bits, width)) * static_cast<std::uint64_t>(height);
    fuzz::Require(rows <= static_cast<std::uint64_t>(limits.pictureBytes));
    fuzz::Require(pixelOffset >= kBitmapHeaderSize && pixelOffset + rows == image.size());
    // Colours used: the whole 4-byte entries of the palette (a tail of 1 to 3 bytes is kept).
    fuzz::Require(LoadU32(image.data() + 46) == (pixelOffset - kBitmapHeaderSize) / 4);
    return 0;
}

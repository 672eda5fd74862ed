#include "decode/texture_block.h"

namespace morvex {

int ConvertToBitmap(std::vector<std::uint8_t>& image, Bytes header) {
    (void)header;
    image.clear();
    return kBitmapUnsupported;
}

void FlipRows(std::uint8_t*, std::size_t, std::int64_t) {}
void SwapRedBlue(std::uint8_t*, std::int64_t) {}
void DecodeDeltaPalette(std::uint8_t*, std::int64_t) {}

}  // namespace morvex

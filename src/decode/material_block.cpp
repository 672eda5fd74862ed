#include "decode/material_block.h"

#include <new>

#include "decode/decompress.h"

namespace morvex {
namespace {

constexpr std::size_t kNameOffset = 0;
constexpr std::size_t kTextureNameOffset = 64;
constexpr std::size_t kAlphaMapNameOffset = 128;
constexpr std::size_t kPowerOffset = 372;
constexpr std::size_t kNameFieldSize = 64;

}  // namespace

int MaterialBlock::Release() {
    table.clear();
    table.shrink_to_fit();
    decoded = false;
    return 0;
}

bool MaterialBlock::HasRecord(std::int32_t i) const {
    return decoded && i >= 0 &&
           InBounds(table.size(), static_cast<std::uint64_t>(i) * kMaterialRecordSize,
                    kMaterialRecordSize);
}

std::string_view MaterialBlock::Field(std::int32_t i, std::size_t fieldOffset) const {
    if (!HasRecord(i)) return {};
    return ByteReader(table).Text(static_cast<std::uint64_t>(i) * kMaterialRecordSize + fieldOffset,
                                  kNameFieldSize);
}

std::string_view MaterialBlock::MaterialAt(std::int32_t i) const {
    return Field(i, kNameOffset);
}
std::string_view MaterialBlock::TextureNameAt(std::int32_t i) const {
    return Field(i, kTextureNameOffset);
}
std::string_view MaterialBlock::AlphaMapNameAt(std::int32_t i) const {
    return Field(i, kAlphaMapNameOffset);
}

float MaterialBlock::PowerAt(std::int32_t i) const {
    float power = 0.0f;
    if (HasRecord(i)) {
        ByteReader(table).F32(static_cast<std::uint64_t>(i) * kMaterialRecordSize + kPowerOffset,
                              power);
    }
    return power;
}

int MateBlock::Decode() {
    Release();
    Bytes payload = Payload();
    // The table is everything behind the count; a payload shorter than the count holds none.
    if (payload.size() < 4) return -1;
    try {
        table.assign(payload.begin() + 4, payload.end());
    } catch (const std::bad_alloc&) {
        return -1;
    }
    decoded = true;
    return 0;
}

int Mat2Block::Decode() {
    Release();
    if (!UnpackChunkAt(Payload(), 4, kGeometrySizeAdjust, table)) return -1;
    decoded = true;
    return 0;
}

}  // namespace morvex

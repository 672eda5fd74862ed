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
    table_.clear();
    table_.shrink_to_fit();
    decoded_ = false;
    return 0;
}

bool MaterialBlock::HasRecord(std::int32_t i) const {
    return decoded_ && i >= 0 &&
           InBounds(table_.size(), static_cast<std::uint64_t>(i) * kMaterialRecordSize,
                    kMaterialRecordSize);
}

std::string_view MaterialBlock::Field(std::int32_t i, std::size_t fieldOffset) const {
    if (!HasRecord(i)) return {};
    return ByteReader(table_).Text(
        static_cast<std::uint64_t>(i) * kMaterialRecordSize + fieldOffset, kNameFieldSize);
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
        ByteReader(table_).F32(static_cast<std::uint64_t>(i) * kMaterialRecordSize + kPowerOffset,
                               power);
    }
    return power;
}

template <class Fill>
int MaterialBlock::DecodeTable(Fill&& fill) {
    Release();
    try {
        if (!fill()) return -1;
    } catch (const std::bad_alloc&) {
        Release();
        return -1;
    }
    decoded_ = true;
    return 0;
}

int MateBlock::Decode() {
    return DecodeTable([this] {
        const Bytes payload = Payload();
        // The table is everything behind the count; a payload shorter than the count holds none.
        if (payload.size() < 4) return false;
        table_.assign(payload.begin() + 4, payload.end());
        return true;
    });
}

int Mat2Block::Decode() {
    return DecodeTable([this] { return UnpackChunkAt(Payload(), 4, kGeometrySizeAdjust, table_); });
}

}  // namespace morvex
